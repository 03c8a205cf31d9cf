#!/usr/bin/env bash
# The program's main job, on this machine: installs what is missing, builds, starts the demo
# gateway on a free loopback port, prepares a temporary home folder whose settings accept the
# gateway's self-signed certificate, and starts the window program with a start parameter for
# the gateway. Then it runs the command-line client against the same gateway.
#
#   scripts/demo.sh [--headless] [--keep] [--windows] [SCENARIO]
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
# --windows runs the same scenario with the Windows programs under Wine: it cross-builds
# vexlanclient.exe, vexlan-cli.exe and the Windows components as scripts/test-windows.sh does
# (build-windows/, VEXLAN_WINDOWS_BUILD_DIR changes it; the Linux build's vexlan-sign packs the
# components), makes a private Wine prefix in the temporary home, and puts the settings into
# its user's profile. Wine draws its own notification area; the session is ended with the tray
# menu's Quit, as a user would. Without a display it also saves the tray menu, the settings
# dialog and the about box as pictures (windows-*.png beside the panel's).
#
# Every process it starts is stopped when it ends, also on Ctrl-C; the temporary home is
# removed (--keep keeps it and prints where it is). Exit status 0 when the sessions went as
# the scenario says.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

headless=0
keep=0
windows=0
scenario=
while [ $# -gt 0 ]; do
    case "$1" in
        --headless) headless=1 ;;
        --keep) keep=1 ;;
        --windows) windows=1 ;;
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
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true  # the prefix's server and what it still runs
    fi
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
if [ "$windows" = 1 ]; then
    # The Linux build gives vexlan-sign only (the gateway packs the Windows components with
    # it); the rest is cross-built, configured as scripts/test-windows.sh configures it.
    cmake --build "$build" --target vexlan-sign
    sign_tool=$build/apps/vexlan-sign/vexlan-sign
    mingw_prefix=$(./scripts/setup-windows.sh | tail -n 1)
    ./scripts/runs-32-bit-programs.sh || fail "the Windows demo needs 32-bit Wine"
    build=${VEXLAN_WINDOWS_BUILD_DIR:-build-windows}
    ./scripts/configure-windows.sh "$build" "$mingw_prefix" "$sign_tool" -DVEXLAN_DEV_PACKAGE=ON \
        >/dev/null
    build=$(cd "$build" && pwd)
    targets=("${targets[@]/vexlan-sign}")
    cmake --build "$build" --target ${targets[@]}
    program=$build/apps/vexlanclient/gui/vexlanclient.exe
    cli=$build/apps/vexlan-cli/vexlan-cli.exe
    [ -f "$program" ] || fail "no window program in $build"
else
    cmake --build "$build" --target "${targets[@]}"
    program=$build/apps/vexlanclient/gui/vexlanclient
    cli=$build/apps/vexlan-cli/vexlan-cli
    [ -x "$program" ] || fail "no window program in $build (configured with -DVEXLAN_BUILD_GUI=OFF?)"
fi

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
platform=()
[ "$windows" = 0 ] || platform=(--platform windows --sign-tool "$sign_tool")
python3 tools/demo-gateway/harness.py serve --build "$build" --scenario "$scenario" \
    --request-log "$work/requests.jsonl" --rounds "$rounds" "${platform[@]}" \
    >"$work/gateway.fifo" 2>"$work/gateway.err" &
gateway_pid=$!
exec 3<"$work/gateway.fifo"
authority=
read -r -t 120 authority <&3 || true
[ -n "$authority" ] || { cat "$work/gateway.err" >&2; fail "the demo gateway did not start"; }
parameter="vexlan://demo@$authority/mediation?lang=en"
say "demo gateway (scenario \"$scenario\") on https://$authority/"

# The gateway's certificate is self-signed: its host and port are a certificate exception,
# and the user has confirmed it as a gateway before (so the program does not ask). Under Wine
# the settings go into the prefix's profile, once the prefix is made (below).
if [ "$windows" = 0 ]; then
    python3 tools/demo-gateway/harness.py settings "$home" "$authority"
    say "temporary home $home (settings: $home/Vexlan/vexlanclient.xml)"
fi

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
    if [ "$windows" = 0 ]; then  # under Wine, Wine draws its own notification area
        trayer --edge top --align right --widthtype pixel --width 80 --height 24 \
            --SetDockType true --transparent false --tint 0xdddddd >"$work/trayer.log" 2>&1 &
        tray_pid=$!
    fi
    case "$scenario" in
        notunnel) client_env+=(VEXLAN_LAUNCHER_RECORD="$work/launched.txt") ;;
    esac
    if [ "$windows" = 0 ]; then
        say "no display: running under Xvfb $DISPLAY with a tray (trayer)"
    else
        say "no display: running under Xvfb $DISPLAY (Wine draws its own notification area)"
    fi
fi

# --- a private Wine prefix -------------------------------------------------------------------
if [ "$windows" = 1 ]; then
    WINEPREFIX=$work/wine
    mkdir -p "$WINEPREFIX"
    export WINEPREFIX WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
    # The same ANSI code page on every run (Western European, 1252).
    export LC_ALL=C.UTF-8
    say "making a Wine prefix in $WINEPREFIX"
    # One server for the whole run, started before wineboot so that wineboot uses it.
    wineserver -p
    wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; fail "wineboot failed"; }
    home=$WINEPREFIX/drive_c/users/$(id -un)
    [ -d "$home" ] || fail "the Wine prefix has no profile folder $home"
    python3 tools/demo-gateway/harness.py settings "$home" "$authority"
    say "settings: $home/Vexlan/vexlanclient.xml (C:\\users\\$(id -un)\\Vexlan)"
    # The programs run in C:\ of the prefix: their log file ("\tmp\vexlanclient.log" on the
    # current drive) stays in the prefix, away from other runs on this machine.
    run_folder=$WINEPREFIX/drive_c
    mkdir -p "$run_folder/tmp"
    client_env=(NO_AT_BRIDGE=1)
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
    # (Under Wine the lines end in "\r\n".)
    { tr -d '\r' <"$work/client.out"; } 2>/dev/null |
        sed -n 's/^[0-9]* \[[^]]*\] TRACE VexlanClientGuiNotifyHandler\.\([A-Za-z]*\) \{0,1\}\(.*\)$/\1 \2/p'
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
# --- under Wine: the tray menu and pictures of single windows ---------------------------------
# Visible windows of the Windows program (Wine names their class after the executable).
program_windows() { xdotool search --onlyvisible --classname 'vexlanclient\.exe' 2>/dev/null | sort; }
# Saves `window` as docs-style picture `name` once it is painted: two equal captures in a row
# with more than a few colours (a window mapped but not yet drawn is one flat fill).
save_window() {
    local window=$1 name=$2 i previous= current colours X Y WIDTH HEIGHT WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)" || return 1
    for ((i = 0; i < 100; i++)); do
        xwd -root -silent >"$work/window.xwd" 2>/dev/null || return 1
        convert "xwd:$work/window.xwd" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
            "png:$work/window.png"
        current=$(identify -format '%#' "$work/window.png")
        colours=$(identify -format '%k' "$work/window.png")
        if [ "$current" = "$previous" ] && [ "$colours" -gt 8 ]; then
            cp "$work/window.png" "$shots/$name.png"
            say "screenshot $name.png"
            return 0
        fi
        previous=$current
        sleep 0.1
    done
    return 1
}
# The program's window that is not among `before` (waits up to 20 s for it).
new_window() {
    local before=$1 i window
    for ((i = 0; i < 200; i++)); do
        window=$(comm -13 <(printf '%s\n' $before | sort) <(program_windows) | tail -n 1)
        [ -z "$window" ] || { echo "$window"; return 0; }
        sleep 0.1
    done
    return 1
}
# The tray menu, opened as a user opens it: a right click on the icon in Wine's notification
# area. The menu opens at the pointer; its entries (Settings, Logs, About, Quit) lie at fixed
# offsets below it. `entry` moves the pointer onto one of them.
tray_menu() {
    local tray
    tray=$(timeout 20 xdotool search --sync --onlyvisible --name 'Wine System Tray' | head -n 1)
    [ -n "$tray" ] || return 1
    xdotool mousemove --window "$tray" 10 10 click 3
    capture_change 5 || true
}
entry() {
    case "$1" in
        settings) xdotool mousemove --sync --window "$tray_window" 50 23 ;;
        about) xdotool mousemove --sync --window "$tray_window" 50 67 ;;
        quit) xdotool mousemove --sync --window "$tray_window" 50 84 ;;
    esac
}
# Closes the dialog `window` with Escape (Cancel), or else Return (the about box's Close), and
# waits for it to go.
close_dialog() {
    local i key
    for key in Escape Return; do
        xdotool windowfocus "$1" key "$key" 2>/dev/null || true
        for ((i = 0; i < 50; i++)); do
            program_windows | grep -qx "$1" || return 0
            sleep 0.1
        done
    done
    return 1
}
# The windows a user meets, saved one by one: the panel, the tray menu, the settings dialog
# and the about box (each dialog closed again with Escape).
window_tour() {
    local window before
    for window in $(program_windows); do
        eval "$(xdotool getwindowgeometry --shell "$window")"
        [ $((X + WIDTH)) -lt 700 ] || [ $((Y + HEIGHT)) -lt 380 ] || save_window "$window" windows-panel
    done
    tray_window=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -n 1)
    for dialog in settings about; do
        tray_menu || return 1
        entry "$dialog"
        if [ "$dialog" = settings ]; then
            capture_change 3 || true
            xwd -root -silent >"$work/window.xwd"
            convert "xwd:$work/window.xwd" -crop 170x125+0+10 +repage "$shots/windows-tray-menu.png"
            say "screenshot windows-tray-menu.png"
        fi
        before=$(program_windows)
        xdotool click 1
        window=$(new_window "$before") || { say "no $dialog dialog appeared"; return 1; }
        save_window "$window" "windows-$dialog" || say "the $dialog dialog was never painted"
        close_dialog "$window" || { say "the $dialog dialog did not close"; return 1; }
    done
}
# Ends the Windows program as a user does: Quit in the tray menu.
tray_quit() {
    tray_window=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -n 1)
    tray_menu && entry quit && xdotool click 1
}

say "starting: vexlanclient \"$parameter\""
if [ "$windows" = 1 ]; then
    say "(under Wine: wine $program)"
    (cd "$run_folder" && exec env "${client_env[@]}" wine "$program" "$parameter") \
        >"$work/client.out" 2>"$work/client.err" &
else
    env "${client_env[@]}" "$program" "$parameter" >"$work/client.out" 2>"$work/client.err" &
fi
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
            elif [ "$windows" = 1 ] && [ "$kind" = hostcheck ]; then
                # A host check hides the tray icon: the session ends by itself after its rounds.
                say "waiting for the host check to end by itself after $rounds rounds"
                stopped=1
            elif [ "$windows" = 1 ]; then
                if [ "$kind" = tunnel ]; then
                    window_tour || say "the tour of the windows stopped early"
                fi
                say "stopping the session: Quit in the tray menu"
                tray_quit || say "the tray menu did not open"
                now=$(date +%s)
                stopped=1
            else
                say "stopping the session: SIGTERM to vexlanclient (as the tray's Exit)"
                kill -TERM "$client_pid" 2>/dev/null || true
                stopped=1
            fi
            deadline=$((now + 20))
        elif [ "$stopped" = 2 ] && [ "$now" -ge "$stop_at" ]; then
            if [ "$windows" = 1 ]; then
                say "stopping the program: Quit in the tray menu"
                tray_quit || true
            else
                say "stopping the program: SIGTERM to vexlanclient"
                kill -TERM "$client_pid" 2>/dev/null || true
            fi
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
if [ "$windows" = 1 ]; then
    (cd "$run_folder" && exec env "${client_env[@]}" wine "$cli" "$parameter") \
        >"$work/cli.out" 2>"$work/cli.err" &
else
    env "${client_env[@]}" "$cli" "$parameter" >"$work/cli.out" 2>"$work/cli.err" &
fi
cli_pid=$!
cli_started=$(date +%s)
cli_status= interrupted=0
while kill -0 "$cli_pid" 2>/dev/null; do
    if [ "$kind" = tunnel ] && [ "$interrupted" = 0 ] && grep -q '^message: connected' "$work/cli.err"; then
        if [ "$windows" = 1 ]; then
            # Wine makes it a Ctrl-C (exit 130): wait for the plugin to stop.
            kill -INT "$cli_pid" 2>/dev/null || true
            interrupted=1
            cli_started=$(($(date +%s) - 100))  # at most 20 s more
            continue
        else
            kill -TERM "$cli_pid" 2>/dev/null || true  # its Ctrl-C/SIGTERM: stop the plugin, exit 143
        fi
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
tr -d '\r' <"$work/cli.err" | sed 's/^/    vexlan-cli | /'
say "vexlan-cli ended with exit status $cli_status; $(($(posts) - before)) host-check posts"

# --- verdict ---------------------------------------------------------------------------------
problems=()
case "$kind" in
    tunnel)
        notifications | grep -q '^message connected' || problems+=("the window program never saw the tunnel connected")
        [ "$cli_status" = 143 ] || [ "$cli_status" = 130 ] || [ "$cli_status" = 0 ] ||
            problems+=("vexlan-cli exit status $cli_status") ;;
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
