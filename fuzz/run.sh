#!/usr/bin/env bash
# The fuzzing stage of CI: configures a clang build with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in its own folder, builds the fuzz targets, replays every input
# of the committed corpus, then runs each target a fixed number of times with a fixed seed.
# Exits non-zero on any finding (a crash, a sanitizer report, a failed check, a time-out).
#
#   fuzz/run.sh                    from the top of the tree
#   VEXLAN_FUZZ_BUILD_DIR=dir      build folder (default build-fuzz)
#   VEXLAN_FUZZ_JOBS=n             build and test parallelism (default 2)
#   VEXLAN_FUZZ_RUNS=n             fuzzing runs of targets without a count of their own
#
# A finding leaves its input in <build>/fuzz/corpus-<target>.artifacts/ (fuzzing runs) or
# <build>/fuzz/replay-* (replay); run the target on that file to reproduce it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VEXLAN_FUZZ_BUILD_DIR:-build-fuzz}
[[ $build = /* ]] || build=$root/$build
jobs=${VEXLAN_FUZZ_JOBS:-2}

for tool in clang clang++ cmake ninja ctest; do
    command -v "$tool" >/dev/null || { echo "fuzz/run.sh: $tool is missing" >&2; exit 2; }
done

start=$SECONDS
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVEXLAN_BUILD_FUZZ=ON -DVEXLAN_SANITIZE= -DVEXLAN_BUILD_TESTS=OFF -DVEXLAN_BUILD_BENCH=OFF \
    -DVEXLAN_BUILD_GUI=OFF -DVEXLAN_FUZZ_RUNS="${VEXLAN_FUZZ_RUNS:-}" >/dev/null
ninja -C "$build" -j"$jobs" vexlan_fuzz
echo "fuzz/run.sh: built in $((SECONDS - start)) s"

start=$SECONDS
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
ctest --test-dir "$build/fuzz" -L fuzz -j"$jobs" --output-on-failure || status=$?
echo "fuzz/run.sh: fuzzed in $((SECONDS - start)) s"
exit $status
