#!/usr/bin/env bash
# The Windows build and its tests: installs the cross compiler, Wine and the cross-built
# libraries (scripts/setup-windows.sh, cached), cross-builds for 32-bit Windows with warnings as
# errors, then runs every test program under Wine, each once, in a private Wine prefix that is
# removed at the end. Extra arguments go to cmake. Exit status 0 only when all tests pass.
# The build trusts its own development component key, so the installer it makes is the
# development one (VEXLAN_DEV_PACKAGE=ON: vexlanclient-dev-key-VERSION-setup.exe).
#
#   scripts/test-windows.sh
#   VEXLAN_WINDOWS_BUILD_DIR=DIR   build folder (default build-windows)
#   VEXLAN_KEEP_WINEPREFIX=1       keep the Wine prefix and say where it is
#   VEXLAN_REQUIRE_WINE=1          fail, instead of stopping after the build with a warning,
#                                  on a machine whose kernel runs no 32-bit programs
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${VEXLAN_WINDOWS_BUILD_DIR:-build-windows}

say() { echo "test-windows: $*"; }
seconds_since() { echo $(($(date +%s) - $1)); }

start=$(date +%s)
prefix=$(./scripts/setup-windows.sh | tail -n 1)
setup_time=$(seconds_since "$start")
say "libraries in $prefix ($setup_time s)"

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
step=$(date +%s)
# vexlan-cli.exe's session tests run the demo gateway on Linux, which packs the Windows
# components with a Linux build's vexlan-sign (and offers the Linux host checker in one
# scenario): those of the README's build, made if missing.
linux_build=${VEXLAN_BUILD_DIR:-build}
sign_tool=$root/$linux_build/apps/vexlan-sign/vexlan-sign
if [ ! -x "$sign_tool" ] || [ ! -f "$linux_build/components/hostchecker/hostchecker.so" ]; then
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLAN_WERROR=ON \
        "${launcher[@]}"
    cmake --build "$linux_build" --target vexlan-sign hostchecker_component
fi
./scripts/configure-windows.sh "$build" "$prefix" "$sign_tool" -DVEXLAN_DEV_PACKAGE=ON "$@"
cmake --build "$build"
# The installer too (the tests below install it and follow a link to it).
cmake --build "$build" --target windows-installer command_recorder
build_time=$(seconds_since "$step")
version=$(sed -n 's/^project(VexlanClient VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
installer=$build/packages/vexlanclient-dev-key-$version-setup.exe
installer_size=$(stat -c %s "$installer")
say "installer $(basename "$installer"): $((installer_size / 1024)) KiB"

# 32-bit Wine needs a kernel that runs 32-bit programs; without one, everything has been built
# (with warnings as errors) and nothing can be run.
if ! ./scripts/runs-32-bit-programs.sh; then
    say "summary: libraries $setup_time s, cross build and installer $build_time s;" \
        "NOT RUN: the tests under Wine and the installer test (see above)"
    if [ "${VEXLAN_REQUIRE_WINE:-}" = 1 ]; then
        say "FAILED: VEXLAN_REQUIRE_WINE=1 and Wine cannot run here"
        exit 1
    fi
    exit 0
fi

# A Wine prefix of this run only, started once, with one wineserver kept for the whole run so
# that each test program starts in a fraction of a second.
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vexlan-wine-XXXXXX")
export WINEPREFIX WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from the locale: the same for every run (Western European, 1252).
export LC_ALL=C.UTF-8
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ "${VEXLAN_KEEP_WINEPREFIX:-}" = 1 ]; then
        say "Wine prefix kept in $WINEPREFIX"
    else
        rm -rf "$WINEPREFIX"
    fi
}
trap cleanup EXIT
step=$(date +%s)
# The persistent server first: wineboot then uses it (started after wineboot, it would find
# wineboot's own server still running and fail).
wineserver -p
wineboot -i >/dev/null 2>&1
prefix_time=$(seconds_since "$step")

# Each test program is one CTest test (the Windows build registers no per-case tests), run
# under Wine through the toolchain's emulator; GoogleTest writes its report beside the build.
results=$root/$build/test-results
rm -rf "$results"
mkdir -p "$results"
step=$(date +%s)
status=0
# GoogleTest under Wine takes "/work/..." as relative to the test's folder: give it the
# Windows form of the folder.
GTEST_OUTPUT="xml:$(winepath -w "$results")\\" ctest --test-dir "$build" --output-on-failure -j 2 || status=$?
test_time=$(seconds_since "$step")

# The installer, once, in the run's prefix: installed silently, a vexlan:// link to the demo
# gateway followed to the installed program (on a private Xvfb server: it shows its panel),
# uninstalled (packaging/windows/tests/installer_test.py).
step=$(date +%s)
VEXLAN_TRAY_HOST=none apps/vexlanclient/gui/tests/run-under-xvfb.sh \
    python3 packaging/windows/tests/installer_test.py --installer "$installer" \
    --recorder "$build/packaging/windows/command_recorder.exe" --build "$build" \
    --sign-tool "$sign_tool" || status=$?
installer_time=$(seconds_since "$step")

say "summary: libraries $setup_time s, cross build and installer $build_time s, Wine prefix $prefix_time s," \
    "tests under Wine $test_time s, installer test $installer_time s, total $(seconds_since "$start") s"
for report in "$results"/*.xml; do
    [ -e "$report" ] || continue
    sed -n 's/^<testsuites tests="\([0-9]*\)" failures="\([0-9]*\)" disabled="\([0-9]*\)".* time="\([0-9.]*\)".*/\1 \2 \3 \4/p' \
        "$report" | {
        read -r tests failures disabled time || exit 0
        printf 'test-windows:   %-16s %4s tests, %s failed, %s disabled, %s s\n' \
            "$(basename "$report" .xml)" "$tests" "$failures" "$disabled" "$time"
    }
done
if [ "$status" -ne 0 ]; then
    say "FAILED"
    exit "$status"
fi
say "all tests passed"
