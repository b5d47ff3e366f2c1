# Runs one JUnit 5 test class in a JVM with the options of JVM_ARGUMENTS (-Xcheck:jni among
# them). Fails on a failed test, on no test run, and on any JNI warning in the JVM's output:
# -Xcheck:jni reports JNI misuse without failing the code that commits it.
# Variables: JAVA, JVM_ARGUMENTS (java @file), JUNIT (console launcher jar), CLASS_PATH,
# TEST_CLASS.
execute_process(
    COMMAND ${JAVA} @${JVM_ARGUMENTS} -jar ${JUNIT}
            --disable-banner --disable-ansi-colors --details=tree
            --class-path ${CLASS_PATH} --select-class ${TEST_CLASS}
    OUTPUT_VARIABLE output ERROR_VARIABLE output
    ECHO_OUTPUT_VARIABLE ECHO_ERROR_VARIABLE
    RESULT_VARIABLE result)

foreach(warning "WARNING in native method" "WARNING: JNI local refs"
                "FATAL ERROR in native method")
    string(FIND "${output}" "${warning}" at)
    if(NOT at EQUAL -1)
        message(FATAL_ERROR "${TEST_CLASS}: the JVM reported \"${warning}\"")
    endif()
endforeach()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${TEST_CLASS}: the test JVM exited with ${result}")
endif()
if(NOT output MATCHES "\\[ *([0-9]+) tests successful *\\]" OR CMAKE_MATCH_1 EQUAL 0)
    message(FATAL_ERROR "${TEST_CLASS}: no test ran")
endif()
if(NOT output MATCHES "\\[ *0 tests failed *\\]")
    message(FATAL_ERROR "${TEST_CLASS}: failed tests")
endif()
