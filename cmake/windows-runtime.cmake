# The Windows runtime the programs need beside them: Qt's DLLs with the platform and style
# plug-ins Korvane uses, PostgreSQL's libpq.dll, and the mingw-w64 C++ runtime. Copied into the
# build's bin/, so the programs and tests run from there under Wine exactly as from a bench
# PC's folder.
# Sets KORVANE_WINDOWS_RUNTIME (DLLs), KORVANE_WINDOWS_PLATFORM_PLUGIN and
# KORVANE_WINDOWS_STYLE_PLUGIN for the install rules, and KORVANE_LIBPQ_COPYRIGHT and
# KORVANE_LIBPQ_VERSION (PostgreSQL's licence and the build's origin) for the package.

set(KORVANE_WINDOWS_RUNTIME
    $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>)
foreach(name IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
        # The compiler knows only its own libraries; the threads library sits with the target's.
        find_file(path NAMES ${name} PATH_SUFFIXES lib bin NO_CACHE)
    endif()
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "mingw-w64 runtime ${name} not found")
    endif()
    list(APPEND KORVANE_WINDOWS_RUNTIME "${path}")
endforeach()
# libpq's headers sit in include/ of the unpacked libpq; the DLL, its licence and what it was
# built from beside.
get_filename_component(libpq_root "${PostgreSQL_INCLUDE_DIR}/.." ABSOLUTE)
set(KORVANE_LIBPQ_COPYRIGHT ${libpq_root}/COPYRIGHT)
foreach(path IN ITEMS ${libpq_root}/bin/libpq.dll ${KORVANE_LIBPQ_COPYRIGHT} ${libpq_root}/VERSION)
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "${path} not found: libpq for Windows is unpacked by scripts/build-windows.sh")
    endif()
endforeach()
list(APPEND KORVANE_WINDOWS_RUNTIME ${libpq_root}/bin/libpq.dll)
file(STRINGS ${libpq_root}/VERSION KORVANE_LIBPQ_VERSION LIMIT_COUNT 1)
set(KORVANE_WINDOWS_PLATFORM_PLUGIN $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>)
set(KORVANE_WINDOWS_STYLE_PLUGIN $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>)

set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set(copy ${CMAKE_COMMAND} -E copy_if_different)
# Tests also take Qt Test and the offscreen platform.
set(test_runtime "")
if(TARGET Qt6::Test)
    set(test_runtime $<TARGET_FILE:Qt6::Test>)
endif()
add_custom_target(korvane_windows_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}/platforms ${bin}/styles
    COMMAND ${copy} ${KORVANE_WINDOWS_RUNTIME} ${test_runtime} ${bin}
    COMMAND ${copy} ${KORVANE_WINDOWS_PLATFORM_PLUGIN} $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> ${bin}/platforms
    COMMAND ${copy} ${KORVANE_WINDOWS_STYLE_PLUGIN} ${bin}/styles
    COMMENT "Copying the Qt, libpq and mingw-w64 runtime beside the programs"
    VERBATIM)
