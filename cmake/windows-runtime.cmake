# The Windows runtime the programs need beside them: Qt's DLLs with the platform and style
# plug-ins Korvane uses, and the mingw-w64 C++ runtime. Copied into the build's bin/, so the
# programs and tests run from there under Wine exactly as from a bench PC's folder.
# Sets KORVANE_WINDOWS_RUNTIME (DLLs), KORVANE_WINDOWS_PLATFORM_PLUGIN and
# KORVANE_WINDOWS_STYLE_PLUGIN for the install rules.

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
    COMMENT "Copying the Qt and mingw-w64 runtime beside the programs"
    VERBATIM)
