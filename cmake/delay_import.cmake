# Delayed imports for the Windows build. A JVM loads diveconnector.dll by its absolute path, and
# Windows then looks for the DLLs it imports everywhere but in its folder; a delayed import is
# resolved at the first call instead, after JNI_OnLoad has loaded the DLL from that folder
# (bridge/libdivecomputer_loading_windows.cpp).
#
#   delay_import_library(TARGET DLL_FILE DLL_NAME [DEPENDS TARGET...])
#
# makes TARGET an interface library that links the delay-import library of DLL_FILE, loaded as
# DLL_NAME (both may be generator expressions; DEPENDS names the target that builds the DLL). In script mode (-P) with DLL, DEF and
# OBJDUMP it writes the module-definition file of the DLL's exports that dlltool needs.
if(CMAKE_SCRIPT_MODE_FILE)
    execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${OBJDUMP} cannot read ${DLL}")
    endif()
    set(definitions "EXPORTS\n")
    string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n[^\n]*(\n[^\n]+)*" table "${dump}")
    string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
    foreach(entry IN LISTS entries)
        string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" symbol "${entry}")
        string(APPEND definitions "    ${symbol}\n")
    endforeach()
    if(NOT entries)
        message(FATAL_ERROR "${DLL} exports nothing")
    endif()
    file(WRITE ${DEF} "${definitions}")
    return()
endif()

find_program(DIVECONNECTOR_DLLTOOL NAMES ${CMAKE_DLLTOOL} x86_64-w64-mingw32-dlltool REQUIRED)

function(delay_import_library target dll name)
    cmake_parse_arguments(PARSE_ARGV 3 arg "" "" DEPENDS)
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    set(library ${CMAKE_CURRENT_BINARY_DIR}/lib${target}.a)
    add_custom_command(OUTPUT ${library}
        COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=${dll} -DDEF=${def}
                -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        COMMAND ${DIVECONNECTOR_DLLTOOL} --input-def ${def} --dllname ${name}
                --output-delaylib ${library}
        DEPENDS ${dll} ${arg_DEPENDS} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        COMMENT "Delayed imports of ${target}"
        VERBATIM)
    add_custom_target(${target}_file DEPENDS ${library})
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${library})
    add_dependencies(${target} ${target}_file)
endfunction()
