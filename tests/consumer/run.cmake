# Installs the build tree into a private prefix, moves that prefix elsewhere (nothing may remember where it
# was installed), then builds and runs C and C++ consumers against it: through find_package(mime), and
# through pkg-config with nothing but the compiler.
file(REMOVE_RECURSE ${WORK_DIR})

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_consumer_output program)
  run_step("running ${program}" ${program})
  if(NOT step_output STREQUAL "consumer\n" AND NOT step_output MATCHES "^Y29uc3VtZXI=\n$")
    message(FATAL_ERROR "${program} printed: ${step_output}")
  endif()
endfunction()

run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/installed)
file(RENAME ${WORK_DIR}/installed ${WORK_DIR}/moved)
set(prefix ${WORK_DIR}/moved)

# --- find_package: a C-only project, then one with C++ at the compiler's default standard ---
foreach(with_cxx OFF ON)
  set(build ${WORK_DIR}/build-cxx-${with_cxx})
  run_step("configure (C++ ${with_cxx})" ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -G ${GENERATOR}
           -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${C} -DWITH_CXX=${with_cxx}
           "-DCMAKE_C_FLAGS=${FLAGS}" "-DCMAKE_CXX_FLAGS=${FLAGS}")
  run_step("build (C++ ${with_cxx})" ${CMAKE_COMMAND} --build ${build})
  expect_consumer_output(${build}/c_consumer)
endforeach()
expect_consumer_output(${WORK_DIR}/build-cxx-ON/cpp_consumer)

# --- pkg-config: the paths are the moved prefix's own ---
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run_step("pkg-config" ${PKG_CONFIG} --cflags --libs mime)
string(STRIP "${step_output}" pc_flags)
string(REGEX MATCH "-I([^ ]+)" include_flag "${pc_flags}")
file(REAL_PATH "${CMAKE_MATCH_1}" include_dir)
file(REAL_PATH ${prefix}/include expected_include_dir)
if(NOT include_dir STREQUAL expected_include_dir)
  message(FATAL_ERROR "pkg-config --cflags does not point into ${prefix}: ${pc_flags}")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(flags UNIX_COMMAND "${FLAGS}")
set(rpath -Wl,-rpath,${prefix}/lib)
run_step("C build through pkg-config" ${C} ${flags} -std=c99 -pedantic -Wall -Wextra -Werror
         ${SOURCE_DIR}/main.c -o ${WORK_DIR}/pc_c_consumer ${pc_flags} ${rpath})
expect_consumer_output(${WORK_DIR}/pc_c_consumer)
run_step("C++ build through pkg-config" ${CXX} ${flags} -std=c++20 -Wall -Wextra -Wpedantic -Wold-style-cast
         -Werror ${SOURCE_DIR}/main.cpp -o ${WORK_DIR}/pc_cpp_consumer ${pc_flags} ${rpath})
expect_consumer_output(${WORK_DIR}/pc_cpp_consumer)

# An older standard is refused with a message that names the cure, not with a parse error in the middle.
execute_process(COMMAND ${CXX} -std=c++17 -fsyntax-only ${SOURCE_DIR}/main.cpp ${pc_flags}
                RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc OR NOT err MATCHES "needs C\\+\\+20 or later")
  message(FATAL_ERROR "C++17 was not refused clearly (${rc}):\n${err}")
endif()

# The manual page is installed with the tool, and man finds and renders it there.
if(NOT EXISTS ${prefix}/share/man/man1/mimetool.1)
  message(FATAL_ERROR "no manual page under ${prefix}/share/man/man1")
endif()
find_program(MAN man)
if(MAN)
  run_step("man mimetool" ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} -M ${prefix}/share/man mimetool)
  if(NOT step_output MATCHES "NAME\n +mimetool +- +pack +files" OR NOT step_output MATCHES "EXIT STATUS")
    message(FATAL_ERROR "man mimetool rendered:\n${step_output}")
  endif()
endif()
