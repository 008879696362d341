# The build time of the module record: "UTC 2026-12-06 08:18:19 (Sunday)". string(TIMESTAMP) honours
# SOURCE_DATE_EPOCH, so a build can be reproduced.
function(mime_write_build_info target)
  string(TIMESTAMP build_time "UTC %Y-%m-%d %H:%M:%S (%A)" UTC)
  set(MIME_BUILD_TIME "${build_time}")
  set(MIME_BUILD_PLATFORM "${CMAKE_SYSTEM_PROCESSOR}-${CMAKE_SYSTEM_NAME}")
  if(CMAKE_BUILD_TYPE)
    set(MIME_BUILD_CONFIGURATION "${CMAKE_BUILD_TYPE}")
  else()
    set(MIME_BUILD_CONFIGURATION "default")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/mime_build_info.h.in ${PROJECT_BINARY_DIR}/generated/mime_build_info.h @ONLY)
  target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/generated)
endfunction()
