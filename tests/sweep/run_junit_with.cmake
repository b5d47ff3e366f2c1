# Runs one JUnit 5 test class through tests/jvm/run_junit.cmake (same JVM options, same checks),
# with more JVM options: those of EXTRA_ARGUMENTS (a java @argument file) and the stress counts
# of the environment, DIVECONNECTOR_STRESS_<NAME>=N becoming -Dstress.<name>=N.
# Variables: those of run_junit.cmake, EXTRA_ARGUMENTS, RUN_JUNIT (its path), ARGUMENTS_OUTPUT
# (the combined argument file to write).
file(READ ${JVM_ARGUMENTS} arguments)
file(READ ${EXTRA_ARGUMENTS} extra)
string(APPEND arguments "${extra}")
foreach(count DOWNLOADS CANCELLATIONS ROUNDS)
    if(DEFINED ENV{DIVECONNECTOR_STRESS_${count}})
        string(TOLOWER ${count} property)
        string(APPEND arguments "-Dstress.${property}=$ENV{DIVECONNECTOR_STRESS_${count}}\n")
    endif()
endforeach()
file(WRITE ${ARGUMENTS_OUTPUT} "${arguments}")
set(JVM_ARGUMENTS ${ARGUMENTS_OUTPUT})
include(${RUN_JUNIT})
