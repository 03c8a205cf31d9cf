#!/usr/bin/env bash
# The demo command as a test, without a display: scripts/demo.sh [SCENARIO] must exit 0, leave
# no process of its own behind (gateway, Xvfb, tray, window program, vexlan-cli) and write at
# least three panel pictures that differ in their pixels.
#
#   scripts/test-demo.sh [SCENARIO]      (default: the demo's default scenario)
set -uo pipefail
cd "$(dirname "$0")/.."

# Every process the demo starts inherits this mark: whatever still carries it afterwards was
# left behind.
mark="vexlan-test-demo-$$-$(date +%s%N)"
output=$(mktemp "${TMPDIR:-/tmp}/vexlan-test-demo.XXXXXX")
trap 'rm -f "$output"' EXIT
started=$(date +%s)

# The programs stay dumpable so that their /proc/PID/environ, where the mark is looked for,
# stays readable without root.
env -u DISPLAY -u WAYLAND_DISPLAY VEXLAN_TEST_DEMO_MARK="$mark" VEXLAN_ALLOW_CORE_DUMPS=1 \
    ./scripts/demo.sh "$@" 2>&1 |
    tee "$output"
status=${PIPESTATUS[0]}
elapsed=$(($(date +%s) - started))

failures=()
[ "$status" = 0 ] || failures+=("scripts/demo.sh exited with $status")

leftovers=()
for dir in /proc/[0-9]*; do
    if { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF "VEXLAN_TEST_DEMO_MARK=$mark"; then
        leftovers+=("${dir#/proc/} $({ tr '\0' ' ' <"$dir/cmdline"; } 2>/dev/null)")
    fi
done
if [ ${#leftovers[@]} -gt 0 ]; then
    failures+=("processes left behind: ${leftovers[*]}")
    for entry in "${leftovers[@]}"; do kill -KILL "${entry%% *}" 2>/dev/null; done
fi

shots=$(sed -n 's/^demo: [0-9]* screenshots of the panel in \(.*\)\/$/\1/p' "$output" | tail -n 1)
distinct=0
if [ -n "$shots" ] && [ -d "$shots" ]; then
    distinct=$(identify -format '%#\n' "$shots"/*.png 2>/dev/null | sort -u | wc -l)
fi
[ "$distinct" -ge 3 ] ||
    failures+=("$distinct distinct panel screenshots (at least 3 expected) in '${shots:-?}'")
grep -q '^demo: done: scenario' "$output" || failures+=("the demo did not report its end")

echo "test-demo: ${elapsed} s, exit status $status, $distinct distinct screenshots in $shots"
if [ ${#failures[@]} -gt 0 ]; then
    for f in "${failures[@]}"; do echo "test-demo: FAILED: $f" >&2; done
    exit 1
fi
echo "test-demo: passed"
