#!/bin/sh
# Runs a command with DISPLAY pointing at a private Xvfb server, then stops the server. The
# server picks a free display number itself (-displayfd), so several of these can start at
# the same moment without racing for a number.
# A tray host (trayer) runs inside the server so that tray icons are really embedded and
# their menus exercised; VEXLAN_TRAY_HOST=none leaves the server without one.
set -u
# Without a session bus, GTK starts one on first use (dbus-launch) that outlives the command
# and keeps its output open, so the test runner waits for it until its time-out. The whole run
# gets a bus of its own instead, which ends with it.
if [ -z "${VEXLAN_XVFB_OWN_BUS:-}" ]; then
    VEXLAN_XVFB_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/vexlan-xvfb.XXXXXX") || exit 1
server=
tray=
cleanup() {
    if [ -n "$tray" ]; then
        kill "$tray" 2>/dev/null
        wait "$tray" 2>/dev/null
    fi
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

mkfifo "$dir/display" || exit 1
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
server=$!
# Blocks until the server has written its display number (or has died: end of file).
number=
read -r number <"$dir/display"
if [ -z "$number" ]; then
    echo "run-under-xvfb: Xvfb did not start" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
fi

DISPLAY=":$number"
export DISPLAY
unset WAYLAND_DISPLAY
GDK_BACKEND=x11
export GDK_BACKEND

if [ "${VEXLAN_TRAY_HOST:-trayer}" != none ]; then
    trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel \
        --height 24 --transparent false >"$dir/trayer.log" 2>&1 &
    tray=$!
    # The panel window appears once trayer has set up its tray: wait for that window
    # (xdotool watches for it; the time-out only guards against a host that never comes).
    if ! timeout 20 xdotool search --sync --classname trayer >/dev/null; then
        echo "run-under-xvfb: the tray host did not start" >&2
        cat "$dir/trayer.log" >&2
        exit 1
    fi
fi
"$@"
