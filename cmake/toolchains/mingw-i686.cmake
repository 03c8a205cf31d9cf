# Cross build for 32-bit Windows with Debian's MinGW-w64 (the posix thread model, so that the
# C++ standard library's threads and locks work), a static runtime, and Wine to run what the
# build produces (tests, try-runs).
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake [-DVEXLAN_MINGW_PREFIX=DIR]
#
# VEXLAN_MINGW_PREFIX is the folder where scripts/setup-windows.sh installs the libraries that
# Debian does not ship for MinGW (OpenSSL, libcurl, jsoncpp, minizip, GoogleTest); without it,
# the prefix that script reports (--print-prefix) is used.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_vexlan_triple i686-w64-mingw32)
set(CMAKE_C_COMPILER ${_vexlan_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_vexlan_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_vexlan_triple}-windres)
set(CMAKE_AR ${_vexlan_triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_vexlan_triple}-gcc-ranlib-posix CACHE FILEPATH "")

# The toolchain file is read again by try_compile: hand the prefix over to it.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEXLAN_MINGW_PREFIX)
if(NOT VEXLAN_MINGW_PREFIX)
    get_filename_component(_vexlan_root ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
    if(EXISTS ${_vexlan_root}/scripts/setup-windows.sh)
        execute_process(COMMAND bash ${_vexlan_root}/scripts/setup-windows.sh --print-prefix
                        OUTPUT_VARIABLE _vexlan_prefix OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE _vexlan_rc ERROR_QUIET)
        if(_vexlan_rc EQUAL 0 AND _vexlan_prefix)
            set(VEXLAN_MINGW_PREFIX ${_vexlan_prefix})
        endif()
    endif()
endif()
set(VEXLAN_MINGW_PREFIX "${VEXLAN_MINGW_PREFIX}" CACHE PATH
    "Prefix of the libraries cross-built by scripts/setup-windows.sh")

# Libraries and headers come from the dependency prefix and the MinGW sysroot (zlib from
# libz-mingw-w64-dev) only; programs (wine, openssl, python) from the build machine.
set(CMAKE_FIND_ROOT_PATH ${VEXLAN_MINGW_PREFIX} /usr/${_vexlan_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config files of the prefix, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${VEXLAN_MINGW_PREFIX}/lib/pkgconfig:/usr/${_vexlan_triple}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# Static libraries first: the programs must run in a prefix that has no MinGW DLLs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .lib .dll.a)
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(ZLIB_USE_STATIC_LIBS ON)

# One static program: no libgcc, libstdc++ or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

find_program(VEXLAN_WINE NAMES wine)
if(VEXLAN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VEXLAN_WINE})
endif()
