# Compares the dynamic symbols a shared library defines with a list of expected names.
# Variables: NM (the nm tool), LIBRARY, EXPECTED (one name a line, # starts a comment).
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" symbols "${symbols}")
set(actual)
foreach(line IN LISTS symbols)
    # "address type name", or "type name" for an absolute symbol without address
    if(line MATCHES "([^ ]+)$")
        list(APPEND actual ${CMAKE_MATCH_1})
    endif()
endforeach()

file(STRINGS ${EXPECTED} lines)
set(expected)
foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line AND NOT line MATCHES "^#")
        list(APPEND expected ${line})
    endif()
endforeach()

list(SORT actual)
list(SORT expected)
if(NOT actual STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${actual})
    set(extra ${actual})
    list(REMOVE_ITEM extra ${expected})
    message(FATAL_ERROR "${LIBRARY} exports the wrong set of symbols\n"
                        "  missing: ${missing}\n  unexpected: ${extra}")
endif()
list(LENGTH actual count)
message(STATUS "${count} exported symbols, as expected: ${actual}")
