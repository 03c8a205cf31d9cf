#!/usr/bin/env bash
# The program's main job, on this machine: installs what is missing, builds, starts the demo
# gateway on a free loopback port, prepares a temporary home folder whose settings accept the
# gateway's self-signed certificate, and starts the window program with a start parameter for
# the gateway. Then it runs the command-line client against the same gateway.
#
#   scripts/demo.sh [--headless] [--keep] [SCENARIO]
#
# SCENARIO is a demo gateway scenario: "plugin" (the default: a tunnel session with the sample
# tunnel plugin), "hostchecker", "plugin-close", "notunnel", ... (--list shows them).
#
# With a display the user watches the notification panel and ends the session with the tray
# icon's Exit (or Ctrl-C here). Without one (no DISPLAY or WAYLAND_DISPLAY, or --headless) the
# same session runs under a private Xvfb server with a tray (trayer); the panel is saved as a
# picture each time it changes, and the session is stopped once the tunnel is connected (once
# a host check has been posted), with SIGTERM, which the program takes as the tray's Exit.
#
# Every process it starts is stopped when it ends, also on Ctrl-C; the temporary home is
# removed (--keep keeps it and prints where it is). Exit status 0 when the sessions went as
# the scenario says.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

headless=0
keep=0
scenario=
while [ $# -gt 0 ]; do
    case "$1" in
        --headless) headless=1 ;;
        --keep) keep=1 ;;
        --list)
            python3 -c 'import sys; sys.path.insert(0, "tools/demo-gateway"); import scenarios
for n in scenarios.names(): print("%-18s %s" % (n, scenarios.SCENARIOS[n].description))'
            exit 0 ;;
        -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        -*) echo "demo: unknown option $1 (see --help)" >&2; exit 64 ;;
        *) [ -z "$scenario" ] || { echo "demo: one scenario only" >&2; exit 64; }
           scenario=$1 ;;
    esac
    shift
done
scenario=${scenario:-plugin}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=1
fi

say() { printf 'demo: %s\n' "$*"; }
fail() { printf 'demo: FAILED: %s\n' "$*" >&2; exit 1; }

# --- processes and clean-up ------------------------------------------------------------------
work=
client_pid= cli_pid= gateway_pid= tray_pid= xvfb_pid= gateway_held=0

# Stops one process of ours: the signal, then up to `seconds` for it to end, then SIGKILL.
stop_process() {
    local pid=$1 signal=$2 seconds=$3 i
    [ -n "$pid" ] || return 0
    kill -"$signal" "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    for ((i = 0; i < seconds * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        say "process $pid did not end within ${seconds} s: killed"
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    stop_process "$client_pid" TERM 15
    stop_process "$cli_pid" TERM 15
    [ "$gateway_held" = 0 ] || kill -CONT "$gateway_pid" 2>/dev/null || true
    stop_process "$gateway_pid" TERM 10
    stop_process "$tray_pid" TERM 5
    stop_process "$xvfb_pid" TERM 5
    if [ -n "$work" ]; then
        if [ "$keep" = 1 ]; then
            say "kept the temporary home and the logs in $work"
        else
            rm -rf "$work"
        fi
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'say "interrupted"; exit 130' INT
trap 'say "terminated"; exit 143' TERM

# --- build -----------------------------------------------------------------------------------
./scripts/setup.sh
# --- scenario (checked before building) -----------------------------------------------------
known=$(python3 -c 'import sys; sys.path.insert(0, "tools/demo-gateway"); import scenarios
print(" ".join(scenarios.names()))')
if ! [[ " $known " == *" $scenario "* ]]; then
    if [ "$scenario" = plugin ]; then
        say "the demo gateway has no scenario \"plugin\" yet (the tunnel plugin sample is not in"
        say "this tree): showing a host-check session (\"hostchecker\") instead"
        scenario=hostchecker
    else
        fail "unknown scenario \"$scenario\"; known: $known"
    fi
fi
case "$scenario" in
    plugin*) kind=tunnel ;;
    hostchecker) kind=hostcheck ;;
    *) kind=other ;;
esac

build=${VEXLAN_BUILD_DIR:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    # The same configuration as scripts/test.sh, so that both share one build tree.
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLAN_WERROR=ON
fi
build=$(cd "$build" && pwd)
targets=(vexlanclient vexlan-cli vexlan-sign hostchecker_component)
for component in tunnel launcher; do
    [ -f "components/$component/CMakeLists.txt" ] && targets+=("${component}_component")
done
cmake --build "$build" --target "${targets[@]}"
program=$build/apps/vexlanclient/gui/vexlanclient
cli=$build/apps/vexlan-cli/vexlan-cli
[ -x "$program" ] || fail "no window program in $build (configured with -DVEXLAN_BUILD_GUI=OFF?)"

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlan-demo.XXXXXX")
home=$work/home
mkdir -p "$home/Vexlan" "$home/.config"
shots=$build/demo/$scenario
rm -rf "$shots"
mkdir -p "$shots"

# --- gateway ---------------------------------------------------------------------------------
rounds=4
[ "$headless" = 1 ] || rounds=10
# The test harness runs the gateway in its own process (so that gateway_pid is the gateway's)
# and prints the gateway's authority once it is ready.
mkfifo "$work/gateway.fifo"
python3 tools/demo-gateway/harness.py serve --build "$build" --scenario "$scenario" \
    --request-log "$work/requests.jsonl" --rounds "$rounds" \
    >"$work/gateway.fifo" 2>"$work/gateway.err" &
gateway_pid=$!
exec 3<"$work/gateway.fifo"
authority=
read -r -t 120 authority <&3 || true
[ -n "$authority" ] || { cat "$work/gateway.err" >&2; fail "the demo gateway did not start"; }
parameter="vexlan://demo@$authority/mediation?lang=en"
say "demo gateway (scenario \"$scenario\") on https://$authority/"

# The gateway's certificate is self-signed: its host and port are a certificate exception,
# and the user has confirmed it as a gateway before (so the program does not ask).
python3 tools/demo-gateway/harness.py settings "$home" "$authority"
say "temporary home $home (settings: $home/Vexlan/vexlanclient.xml)"

client_env=(HOME="$home" XDG_CONFIG_HOME="$home/.config" NO_AT_BRIDGE=1)
if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-/nonexistent}/.Xauthority" ]; then
    client_env+=(XAUTHORITY="$HOME/.Xauthority")  # the display's key stays reachable
fi

# --- a private display -----------------------------------------------------------------------
if [ "$headless" = 1 ]; then
    mkfifo "$work/display.fifo"
    Xvfb -displayfd 4 -screen 0 720x400x24 -nolisten tcp -noreset \
        4>"$work/display.fifo" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    number=
    read -r -t 30 number <"$work/display.fifo" || true
    [ -n "$number" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
    export DISPLAY=":$number"
    unset WAYLAND_DISPLAY
    client_env+=(GDK_BACKEND=x11)
    # A plain desktop background and a tray at the top right; the panel opens at the bottom
    # right.
    convert -size 720x400 xc:'#5a6e82' "$work/background.png"
    display -window root "$work/background.png" 2>/dev/null || true  # sets it, exits 1
    trayer --edge top --align right --widthtype pixel --width 80 --height 24 --SetDockType true \
        --transparent false --tint 0xdddddd >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    case "$scenario" in
        notunnel) client_env+=(VEXLAN_LAUNCHER_RECORD="$work/launched.txt") ;;
    esac
    say "no display: running under Xvfb $DISPLAY with a tray (trayer)"
fi

# The screen as a picture, saved whenever it changed (capture returns 0 then).
last_hash= shot=0 saving=0
capture() {
    xwd -root -silent >"$work/screen.xwd" 2>/dev/null || return 1
    local hash
    hash=$(md5sum <"$work/screen.xwd")
    [ "$hash" != "$last_hash" ] || return 1
    last_hash=$hash
    [ "$saving" = 1 ] || return 0
    shot=$((shot + 1))
    local name state
    name=$(printf '%s/panel-%02d.png' "$shots" "$shot")
    convert "xwd:$work/screen.xwd" "png:$name"
    state=$(notifications | tail -n 1)
    if [ -n "$state" ]; then
        state="after: $(describe "$state")"
    elif [ -n "$client_pid" ]; then
        state="the program has started: Loading"
    else
        state="the desktop and the tray, before the program starts"
    fi
    say "screenshot $(basename "$name") ($state)"
}
# Captures until the screen has changed (unless `changed` is given as 1) and then stayed
# still for a moment, or for at most `seconds`.
capture_change() {
    local seconds=$1 changed=${2:-0} i still=0
    for ((i = 0; i < seconds * 10; i++)); do
        if capture; then
            changed=1
            still=0
        elif [ "$changed" = 1 ]; then
            still=$((still + 1))
            [ "$still" -lt 3 ] || return 0
        fi
        sleep 0.1
    done
    return 1
}

# What the window program was told, from its log lines on standard output.
notifications() {
    sed -n 's/^[0-9]* \[[^]]*\] TRACE VexlanClientGuiNotifyHandler\.\([A-Za-z]*\) \{0,1\}\(.*\)$/\1 \2/p' \
        "$work/client.out" 2>/dev/null
}
describe() {
    case "$1" in
        "statusChanged 1") echo "status 1: idle" ;;
        "statusChanged 2") echo "status 2: downloading components" ;;
        "statusChanged 3") echo "status 3: connected" ;;
        "statusChanged 4") echo "status 4: session over" ;;
        "statusChanged 5") echo "status 5: host checking" ;;
        "sessionType 2") echo "session: tunnel plugin" ;;
        "sessionType 3") echo "session: host checking" ;;
        "sessionType 4") echo "session: plugin without tunnel" ;;
        "message ") echo "tunnel: (stopped)" ;;
        "mediationFailed ") echo "failed (the error box)" ;;
        connectionFailed*) echo "connection failed: ${1#connectionFailed } (the connection-error dialog)" ;;
        message*) echo "tunnel: ${1#message }" ;;
        *) echo "$1" ;;
    esac
}
posts() { grep -c '"method": "POST"' "$work/requests.jsonl" 2>/dev/null || true; }

if [ "$headless" = 1 ]; then
    capture || true
    capture_change 10 1 || true   # the background and the tray, drawn
    saving=1
    last_hash=
    capture || true
    # The gateway is held while the program starts, so that the panel's first state
    # ("Loading", with the tray icon) can be seen before the session moves on.
    kill -STOP "$gateway_pid"
    gateway_held=1
fi

# --- the window program ----------------------------------------------------------------------
say "starting: vexlanclient \"$parameter\""
env "${client_env[@]}" "$program" "$parameter" >"$work/client.out" 2>"$work/client.err" &
client_pid=$!
started=$(date +%s)


if [ "$headless" = 0 ]; then
    say "watch the notification panel in the bottom-right corner of the screen"
    if [ "$kind" = hostcheck ]; then
        say "(a host check hides the tray icon): the session ends by itself after $rounds"
        say "rounds a second apart; Ctrl-C here ends it earlier."
    else
        say "and the tray icon: its menu has Settings, Logs, About and Exit. Exit (or Ctrl-C"
        say "here) ends the session."
    fi
    wait "$client_pid" && client_status=0 || client_status=$?
    client_pid=
else
    # Headless: capture the screen whenever it changes; stop once the session is under way.
    capture_change 15 || true
    kill -CONT "$gateway_pid"
    gateway_held=0
    deadline=$((started + 120))
    stop_at= stopped=0 client_status=
    while :; do
        capture || true
        if ! kill -0 "$client_pid" 2>/dev/null; then
            wait "$client_pid" && client_status=0 || client_status=$?
            client_pid=
            break
        fi
        now=$(date +%s)
        if [ -z "$stop_at" ]; then
            case "$kind" in
                tunnel) notifications | grep -q '^message connected' && stop_at=$((now + 2)) ;;
                hostcheck) [ "$(posts)" -ge 1 ] && stop_at=$((now + 1)) ;;
                *) notifications | grep -q '^\(mediationFailed\|connectionFailed\)' &&
                       stop_at=$((now + 2)) ;;  # the error box has been shown
            esac
        fi
        if [ -n "$stop_at" ] && [ "$stopped" = 0 ] && [ "$now" -ge "$stop_at" ]; then
            if [ "$kind" = other ]; then
                # The error box waits for the user: Return on it, as the user would press OK.
                say "closing the error box (Return on it, as the user's OK)"
                for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
                    xdotool windowfocus "$window" key Return 2>/dev/null || true
                done
                stopped=2
                stop_at=$((now + 5))
            else
                say "stopping the session: SIGTERM to vexlanclient (as the tray's Exit)"
                kill -TERM "$client_pid" 2>/dev/null || true
                stopped=1
            fi
            deadline=$((now + 20))
        elif [ "$stopped" = 2 ] && [ "$now" -ge "$stop_at" ]; then
            say "stopping the program: SIGTERM to vexlanclient"
            kill -TERM "$client_pid" 2>/dev/null || true
            stopped=1
        fi
        if [ "$now" -ge "$deadline" ]; then
            say "the session did not end in time"
            stop_process "$client_pid" KILL 5
            client_pid=
            client_status=timeout
            break
        fi
        sleep 0.2
    done
fi

say "vexlanclient ended with exit status $client_status after $(($(date +%s) - started)) s"
say "what the window program was told:"
notifications | while IFS= read -r n; do printf '    %s\n' "$(describe "$n")"; done
say "what the gateway received:"
python3 - "$work/requests.jsonl" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    extra = ""
    if r["method"] == "GET" and r["query"].get("clientversion"):
        extra = " (Vexlan-Id %r, clientversion %s)" % (r["cookies"].get("Vexlan-Id", ""),
                                                       r["query"]["clientversion"])
    if r["method"] == "POST":
        extra = " " + r["body"]
    print("    %s %s%s" % (r["method"], r["path"], extra))
PY
if [ -f "$work/launched.txt" ]; then
    say "the launcher would have opened: $(cat "$work/launched.txt")"
fi
if [ "$headless" = 1 ]; then
    say "$shot screenshots of the panel in $shots/"
fi
errors=$(grep -E '^[0-9]+ \[[^]]*\] (ERROR|ASSERT) ' "$work/client.out" || true)
if [ -n "$errors" ]; then
    say "the window program's log has these ERROR lines:"
    printf '%s\n' "$errors" | sed 's/^[0-9]* /    /'
fi

# --- the command-line client against the same gateway ----------------------------------------
say "now the same with the command-line client: vexlan-cli \"$parameter\""
before=$(posts)
env "${client_env[@]}" "$cli" "$parameter" >"$work/cli.out" 2>"$work/cli.err" &
cli_pid=$!
cli_started=$(date +%s)
cli_status=
while kill -0 "$cli_pid" 2>/dev/null; do
    if [ "$kind" = tunnel ] && grep -q '^message: connected' "$work/cli.err"; then
        kill -TERM "$cli_pid" 2>/dev/null || true  # its Ctrl-C/SIGTERM: stop the plugin, exit 143
        break
    fi
    if [ $(($(date +%s) - cli_started)) -ge 120 ]; then
        say "vexlan-cli did not end in time"
        break
    fi
    sleep 0.2
done
stop_process "$cli_pid" TERM 20
wait "$cli_pid" 2>/dev/null && cli_status=0 || cli_status=$?
cli_pid=
sed 's/^/    vexlan-cli | /' "$work/cli.err"
say "vexlan-cli ended with exit status $cli_status; $(($(posts) - before)) host-check posts"

# --- verdict ---------------------------------------------------------------------------------
problems=()
case "$kind" in
    tunnel)
        notifications | grep -q '^message connected' || problems+=("the window program never saw the tunnel connected")
        [ "$cli_status" = 143 ] || [ "$cli_status" = 0 ] || problems+=("vexlan-cli exit status $cli_status") ;;
    hostcheck)
        [ "$(posts)" -ge 1 ] || problems+=("no host check was posted")
        [ "$cli_status" = 0 ] || problems+=("vexlan-cli exit status $cli_status") ;;
esac
if [ "$kind" != other ]; then
    [ "$client_status" = 0 ] || problems+=("vexlanclient exit status $client_status")
fi
[ "$client_status" != timeout ] || problems+=("the window program did not end")
if [ "$headless" = 1 ] && [ "$kind" != other ]; then
    notifications | grep -q '^statusChanged 4' || problems+=("the window program's session did not end with status 4")
fi
if [ ${#problems[@]} -gt 0 ]; then
    for p in "${problems[@]}"; do say "problem: $p"; done
    keep=1
    fail "the demo did not go as the scenario says (logs kept)"
fi
say "done: scenario \"$scenario\" went as expected"
