include(CMakePackageConfigHelpers)
install(EXPORT mimeTargets NAMESPACE mime:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mime)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mimeConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/mimeConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mime)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mimeConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mimeConfig.cmake ${PROJECT_BINARY_DIR}/mimeConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mime)
configure_file(${PROJECT_SOURCE_DIR}/cmake/mime.pc.in ${PROJECT_BINARY_DIR}/mime.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mime.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
