#!/bin/sh
# Runs a command with DISPLAY pointing at a private Xvfb server and with a private session bus,
# then stops both and whatever else the run started. The server picks a free display number
# itself (-displayfd), so several of these can start at the same moment without racing for a
# number.
# A tray host (trayer) runs inside the server so that tray icons are really embedded and
# their menus exercised; VEXLAN_TRAY_HOST=none leaves the server without one.
#
# The test runner waits until every process holding the command's output has ended, so nothing
# started here may outlive the command:
# - GTK's accessibility bridge stays off (NO_AT_BRIDGE=1). Through the session bus it would
#   start an accessibility bus launcher, a second bus daemon and a registry, re-parented to
#   init and holding the output. Under load the registry can outlive both buses, and the
#   runner then waited for it until its time-out; besides, all runs share that bus's socket
#   path under $HOME, so one run's programs end up on another run's bus.
# - The session bus starts no services at all, and its output goes to a log file.
# - Every process started here carries VEXLAN_XVFB_RUN; whatever still carries it once the
#   command has ended is killed, wherever in the process tree it has gone.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/vexlan-xvfb.XXXXXX") || exit 1
VEXLAN_XVFB_RUN=$dir
export VEXLAN_XVFB_RUN
server=
bus=
tray=
stop() {
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
cleanup() {
    for pid in $tray $bus $server; do
        stop "$pid"
    done
    left=
    for entry in $(grep -lzxF "VEXLAN_XVFB_RUN=$dir" /proc/[0-9]*/environ 2>/dev/null); do
        entry=${entry%/environ}
        pid=${entry#/proc/}
        [ "$pid" != $$ ] || continue
        # Gone already (such as the subshell that ran grep): nothing to end.
        { read -r name <"$entry/comm"; } 2>/dev/null || continue
        kill -KILL "$pid" 2>/dev/null && left="$left $pid ($name)"
    done
    [ -z "$left" ] || echo "run-under-xvfb: killed what the run left behind:$left" >&2
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

mkfifo "$dir/display" "$dir/bus" || exit 1
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
NO_AT_BRIDGE=1
export GDK_BACKEND NO_AT_BRIDGE

# Without a session bus GTK would start one on first use (dbus-launch) that outlives the
# command. This one has no service directories, so it starts nothing on anyone's behalf.
cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$dir</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$dir/bus.conf" --nofork --print-address=3 \
    3>"$dir/bus" </dev/null >"$dir/bus.log" 2>&1 &
bus=$!
address=
read -r address <"$dir/bus"
if [ -z "$address" ]; then
    echo "run-under-xvfb: the session bus did not start" >&2
    cat "$dir/bus.log" >&2
    exit 1
fi
DBUS_SESSION_BUS_ADDRESS=$address
export DBUS_SESSION_BUS_ADDRESS

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
