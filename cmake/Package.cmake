include(CMakePackageConfigHelpers)
install(EXPORT mimeTargets NAMESPACE mime:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mime)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mimeConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/mimeConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mime)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mimeConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mimeConfig.cmake ${PROJECT_BINARY_DIR}/mimeConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mime)
# mime.pc finds its prefix from its own place (${pcfiledir}), so an installation made with
# `cmake --install --prefix P`, or moved later, reports its own paths. An absolute library directory ties it
# to the configured prefix instead.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(MIME_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  set(MIME_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(MIME_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(MIME_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/mime.pc.in ${PROJECT_BINARY_DIR}/mime.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mime.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
