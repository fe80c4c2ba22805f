# Fails unless LIBRARY exports exactly the names in EXPECTED: the dynamic symbol table of
# an ELF library (TOOL is nm), or the export name table of a DLL (TOOL is objdump).
# cmake -DTOOL=<nm|objdump> -DLIBRARY=<path> -DEXPECTED=<name;name;...> -P checkexports.cmake
if(LIBRARY MATCHES "\\.dll$")
    set(arguments -p)
    # "\t[   0] name" in the "[Ordinal/Name Pointer] Table" section.
    set(name_line "^\t\\[ *[0-9]+\\] ([^ ]+)$")
else()
    set(arguments -D --defined-only)
    # "<address> <type> <name>"; the name is the last field.
    set(name_line "^[0-9A-Fa-f]* *[A-Za-z] +([^ ]+)$")
endif()
execute_process(COMMAND ${TOOL} ${arguments} ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}: ${errors}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(defined "")
foreach(line IN LISTS lines)
    if(line MATCHES "${name_line}")
        list(APPEND defined "${CMAKE_MATCH_1}")
    endif()
endforeach()

list(SORT defined)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT defined STREQUAL expected)
    set(extra ${defined})
    list(REMOVE_ITEM extra ${expected})
    set(missing ${expected})
    list(REMOVE_ITEM missing ${defined})
    message(FATAL_ERROR "${LIBRARY} exports differ.\n  not expected: ${extra}\n  missing: ${missing}")
endif()
list(LENGTH expected count)
message(STATUS "${LIBRARY}: exactly the ${count} expected exports")
