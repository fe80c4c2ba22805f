# Fails unless LIBRARY's dynamic symbol table defines exactly the names in EXPECTED.
# cmake -DNM=<nm> -DLIBRARY=<path> -DEXPECTED=<name;name;...> -P checkexports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${errors}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(defined "")
foreach(line IN LISTS lines)
    # "<address> <type> <name>"; the name is the last field.
    if(line MATCHES "^[0-9A-Fa-f]* *[A-Za-z] +([^ ]+)$")
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
