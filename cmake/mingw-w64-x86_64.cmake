# Cross build for the Windows bench PCs (x86_64) with Debian's mingw-w64 compilers and the
# Qt + OpenSSL toolchain for Windows unpacked by scripts/build-windows.sh.
# The unpacked toolchain (folders qt/, openssl/ and libpq/) is KORVANE_CROSS_DIR, by default
# .cache/cross-toolchain in the source tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: Qt for Windows was built with it.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT KORVANE_CROSS_DIR)
    if(DEFINED ENV{KORVANE_CROSS_DIR})
        set(KORVANE_CROSS_DIR "$ENV{KORVANE_CROSS_DIR}")
    else()
        get_filename_component(KORVANE_CROSS_DIR "${CMAKE_CURRENT_LIST_DIR}/../.cache/cross-toolchain" ABSOLUTE)
    endif()
endif()
set(KORVANE_CROSS_DIR "${KORVANE_CROSS_DIR}" CACHE PATH "Unpacked Qt, OpenSSL and libpq for Windows (qt/, openssl/, libpq/)")
# try_compile projects see the toolchain file again; hand the folder on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVANE_CROSS_DIR)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${KORVANE_CROSS_DIR}/qt" "${KORVANE_CROSS_DIR}/openssl"
    "${KORVANE_CROSS_DIR}/libpq")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_PREFIX_PATH "${KORVANE_CROSS_DIR}/qt")

# moc, rcc, uic and the linguist tools are Debian's own, of the same Qt version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# The reference plug-in links libcrypto statically, so it is one self-contained DLL.
set(OPENSSL_ROOT_DIR "${KORVANE_CROSS_DIR}/openssl")
set(OPENSSL_USE_STATIC_LIBS TRUE)

# Tests and tools built here run under Wine (scripts/test-windows.sh sets its prefix).
# wine64 itself: Debian's wine wrapper complains on every run when the 32-bit half is missing.
find_program(KORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(KORVANE_WINE NAMES wine64 wine)
if(KORVANE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${KORVANE_WINE}")
endif()
