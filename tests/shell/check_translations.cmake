# Runs lupdate over the program's sources into a copy of the committed .ts and fails
# when it meets a text that the .ts does not translate: a new or changed text would
# otherwise stay English under zh_CN without anyone noticing.
# Arguments: LUPDATE, TS_FILE, SOURCES_FILE (one path a line), OPTIONS (separated by
# "|"), WORK_DIR.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
get_filename_component(ts_name "${TS_FILE}" NAME)
set(ts_copy "${WORK_DIR}/${ts_name}")
file(COPY_FILE "${TS_FILE}" "${ts_copy}")
string(REPLACE "|" ";" options "${OPTIONS}")

execute_process(
    COMMAND "${LUPDATE}" ${options} "@${SOURCES_FILE}" -ts "${ts_copy}"
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "lupdate failed (${result}):\n${output}")
endif()

file(READ "${ts_copy}" content)
string(REGEX MATCHALL "<source>[^<]*</source>[ \n]*<translation type=\"unfinished\"" untranslated "${content}")
if(untranslated)
    string(REGEX REPLACE "<source>([^<]*)</source>[^;]*" "  \\1\n" list "${untranslated}")
    string(REPLACE ";" "" list "${list}")
    message(FATAL_ERROR "Texts without a translation in ${ts_name}:\n${list}\n"
        "Build the target update_translations and translate them.")
endif()
message(STATUS "${output}")
