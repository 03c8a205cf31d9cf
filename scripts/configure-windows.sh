#!/usr/bin/env bash
# Configures the 32-bit Windows build (the cross toolchain, the cross-built libraries of
# scripts/setup-windows.sh, warnings as errors, ccache when there is one). A build folder
# configured for another library prefix (an older setup-windows.sh) starts afresh: its cache
# still names the old prefix's libraries and headers.
#
#   scripts/configure-windows.sh BUILD_DIR LIBRARY_PREFIX LINUX_SIGN_TOOL [CMAKE_ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 prefix=$2 sign_tool=$3
shift 3

cache=$build/CMakeCache.txt
# Any library prefix named in the cache (the found libraries and headers too) but this one.
prefix_name=$(basename "$prefix")
if [ -f "$cache" ] && grep -o 'mingw-i686-[0-9a-f]\{12\}' "$cache" | grep -qvxF "$prefix_name"; then
    echo "configure-windows: $build was configured for other libraries: configured afresh"
    rm -rf "$cache" "$build/CMakeFiles"
fi
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLAN_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-i686.cmake" \
    -DVEXLAN_MINGW_PREFIX="$prefix" -DVEXLAN_LINUX_SIGN_TOOL="$sign_tool" "${launcher[@]}" "$@"
