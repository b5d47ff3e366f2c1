# Installs the build into a scratch prefix and uses it from there, as an application would:
# the launcher, the library found beside it, the jars and the pkg-config file.
#   cmake -DBUILD_DIR=… -DPREFIX=… -P install_test.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

function(expect_output description pattern)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE errors)
    if(NOT result EQUAL 0 OR NOT output MATCHES "${pattern}")
        message(FATAL_ERROR "${description}: exit ${result}, expected /${pattern}/ in:\n${output}\n${errors}")
    endif()
endfunction()

# Run from elsewhere, so nothing is found through the working directory.
expect_output("installed list" "\n[0-9]+ supported models\n"
              "${PREFIX}/bin/diveconnector" list WORKING_DIRECTORY /)
expect_output("installed download" "\n20 dives from Dcsim Reef Explorer, serial [0-9]+\\.\n"
              "${PREFIX}/bin/diveconnector" download WORKING_DIRECTORY /)

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
    set(ENV{PKG_CONFIG_PATH} "${PREFIX}/share/pkgconfig")
    execute_process(COMMAND ${PKG_CONFIG} --variable=jar diveconnector OUTPUT_VARIABLE jar
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT EXISTS "${jar}")
        message(FATAL_ERROR "pkg-config names no installed jar: '${jar}'")
    endif()
endif()
