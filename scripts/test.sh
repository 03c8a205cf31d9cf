#!/usr/bin/env bash
# Installs what is missing, builds everything (warnings are errors) and runs the whole test
# suite. Extra arguments go to cmake (for example -DVEXLAN_COMPONENT_KEY=/path/key.pem).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
build=${VEXLAN_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLAN_WERROR=ON "$@"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
