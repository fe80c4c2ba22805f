# Compiles the Windows-only code with the MinGW cross compiler and the host's Qt
# headers (-fsyntax-only: Debian has no Qt for Windows to link against). Checked are
# the *_win.cpp files and every source or header that branches on Q_OS_WIN or _WIN32.
#
# Inputs: SOURCE_DIR, WORK_DIR, FOLDERS, INCLUDE_DIRS and HOST_INCLUDE_DIRS ("|"-separated).

find_program(MINGW_CXX x86_64-w64-mingw32-g++)
find_program(MINGW_CC x86_64-w64-mingw32-gcc)
if(NOT MINGW_CXX OR NOT MINGW_CC)
    message("windows syntax check skipped: x86_64-w64-mingw32-g++ is not installed")
    return()
endif()

string(REPLACE "|" ";" folders "${FOLDERS}")
string(REPLACE "|" ";" include_dirs "${INCLUDE_DIRS}")
string(REPLACE "|" ";" host_include_dirs "${HOST_INCLUDE_DIRS}")
# The host's C library headers (which Qt's targets name too) would hide MinGW's own.
list(REMOVE_ITEM include_dirs ${host_include_dirs})
list(REMOVE_DUPLICATES include_dirs)
set(include_flags)
foreach(dir IN LISTS include_dirs)
    list(APPEND include_flags "-I${dir}")
endforeach()
# What a Windows build of the tool defines beyond the compiler's own _WIN32.
set(common_flags -fsyntax-only -Wall -Wextra -Werror=return-type -Wno-attributes -DUNICODE -D_UNICODE)

set(candidates)
foreach(folder IN LISTS folders)
    file(GLOB_RECURSE found "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.c"
         "${SOURCE_DIR}/${folder}/*.h")
    list(APPEND candidates ${found})
endforeach()

set(checked)
foreach(file IN LISTS candidates)
    get_filename_component(name "${file}" NAME)
    file(STRINGS "${file}" windows_lines REGEX "Q_OS_WIN|_WIN32")
    if(name MATCHES "_win\\.cpp$" OR windows_lines)
        list(APPEND checked "${file}")
    endif()
endforeach()
list(SORT checked)

if(NOT checked)
    message(FATAL_ERROR "no Windows-only source found under ${SOURCE_DIR}")
endif()

file(MAKE_DIRECTORY "${WORK_DIR}")
set(failures 0)
foreach(file IN LISTS checked)
    get_filename_component(extension "${file}" LAST_EXT)
    if(extension STREQUAL ".c")
        set(command "${MINGW_CC}" -std=c11 ${common_flags} ${include_flags} "${file}")
    elseif(extension STREQUAL ".h")
        # A header is checked through a unit that includes it, as its users do.
        string(MAKE_C_IDENTIFIER "${file}" unit_name)
        set(unit "${WORK_DIR}/${unit_name}.cpp")
        file(WRITE "${unit}" "#include \"${file}\"\n")
        set(command "${MINGW_CXX}" -std=c++17 ${common_flags} ${include_flags} "${unit}")
    else()
        set(command "${MINGW_CXX}" -std=c++17 ${common_flags} ${include_flags} "${file}")
    endif()
    execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(result EQUAL 0)
        message("ok      ${file}\n${output}")
    else()
        message("FAILED  ${file}\n${output}")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} Windows source(s) failed the syntax check")
endif()
