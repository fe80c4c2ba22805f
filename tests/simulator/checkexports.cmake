# Compares the dynamic symbols that LIBRARY defines with the device calls.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${symbols}")
list(TRANSFORM names STRIP)
list(SORT names)
set(expected ZV_InitializeW ZV_ReadOtpData ZV_ScanDeviceW ZV_Uninitialize
    ZV_WriteProofData ZV_WriteProofKey ZV_WriteVendorRpmbData)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "exports of ${LIBRARY}:\n  ${names}\nexpected:\n  ${expected}")
endif()
message(STATUS "exports: ${names}")
