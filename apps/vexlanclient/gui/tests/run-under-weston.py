#!/usr/bin/python3
"""Runs a command inside a private Wayland session: Weston's headless backend with the pixman
renderer (so that screenshots hold real pixels), its runtime folder and socket of its own, a
private session bus, GDK_BACKEND=wayland and no X display. Stops all of it afterwards and
exits with the command's status.

    run-under-weston.py COMMAND [ARGUMENTS]

Weston is ready when it says so on its notification socket (its systemd-notify module sends
READY=1 once its Wayland socket listens); every wait is bounded. The screenshot protocol is
on (--debug) for weston-screenshooter. The desktop is one plain colour (WESTON_BACKGROUND,
"RRGGBB" in the environment of the command) without the shell's panel, so that a test can
find the windows on it.

As in run-under-xvfb.sh, every process started here carries VEXLAN_WESTON_RUN, and whatever
still carries it once the command has ended is killed: the test runner waits for every
process that holds the command's output.
"""

import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

READY_TIMEOUT = 60
BACKGROUND = "2e4a62"
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""
WESTON_CONFIG = """[core]
idle-time=0

[shell]
background-color=0xff%s
panel-position=none
locking=false
animation=none
startup-animation=none
"""


class RunError(Exception):
    pass


def wait_readable(stream, process, what):
    """Waits until `stream` can be read or `process` has ended, at most READY_TIMEOUT."""
    pidfd = os.pidfd_open(process.pid)
    try:
        ready, _, _ = select.select([stream, pidfd], [], [], READY_TIMEOUT)
    finally:
        os.close(pidfd)
    if stream not in ready:
        raise RunError(what + (" ended" if ready else " did not answer in time"))


def start_bus(folder, env):
    config = os.path.join(folder, "bus.conf")
    with open(config, "w", encoding="utf-8") as f:
        f.write(BUS_CONFIG % folder)
    read_end, write_end = os.pipe()
    with open(os.path.join(folder, "bus.log"), "w") as log:
        bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                "--print-address=%d" % write_end], pass_fds=[write_end],
                               stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env)
    os.close(write_end)
    with os.fdopen(read_end) as addresses:
        try:
            wait_readable(addresses, bus, "the session bus")
        except RunError:
            bus.kill()
            raise
        address = addresses.readline().strip()
    if not address:
        raise RunError("the session bus gave no address")
    return bus, address


def start_weston(folder, runtime, display, env):
    config = os.path.join(folder, "weston.ini")
    with open(config, "w", encoding="utf-8") as f:
        f.write(WESTON_CONFIG % BACKGROUND)
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    notify_path = os.path.join(folder, "notify")
    notify.bind(notify_path)
    weston_env = dict(env, XDG_RUNTIME_DIR=runtime, NOTIFY_SOCKET=notify_path)
    with open(os.path.join(folder, "weston.out"), "w") as out:
        weston = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--use-pixman", "--width=1024",
             "--height=640", "--socket=" + display, "--idle-time=0", "--debug",
             "--config=" + config, "--modules=systemd-notify.so",
             "--log=" + os.path.join(folder, "weston.log")],
            stdin=subprocess.DEVNULL, stdout=out, stderr=out, env=weston_env)
    try:
        with notify:
            while True:
                wait_readable(notify, weston, "weston")
                if b"READY=1" in notify.recv(4096).split(b"\n"):
                    break
        if not os.path.exists(os.path.join(runtime, display)):
            raise RunError("weston is ready but its socket is missing")
    except RunError:
        weston.kill()
        raise
    return weston


def stop(process):
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=READY_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def kill_leftovers(marker):
    left = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if marker.encode() not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/comm" % entry) as f:
                name = f.read().strip()
            os.kill(int(entry), signal.SIGKILL)
            left.append("%s (%s)" % (entry, name))
        except (OSError, ValueError):
            continue  # gone already, or not ours to read
    if left:
        print("run-under-weston: killed what the run left behind: " + " ".join(left),
              file=sys.stderr)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    # The runner's end (CTest's time-out) still stops the compositor and the bus.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    folder = tempfile.mkdtemp(prefix="vexlan-weston.")  # 0700, like the runtime folder
    runtime = os.path.join(folder, "runtime")
    os.mkdir(runtime, 0o700)
    display = "wayland-vexlan-%d" % os.getpid()
    marker = "VEXLAN_WESTON_RUN=" + folder
    env = dict(os.environ, VEXLAN_WESTON_RUN=folder, NO_AT_BRIDGE="1")
    env.pop("DISPLAY", None)
    bus = weston = None
    status = 1
    try:
        bus, address = start_bus(folder, env)
        weston = start_weston(folder, runtime, display, env)
        env.update(DBUS_SESSION_BUS_ADDRESS=address, XDG_RUNTIME_DIR=runtime,
                   WAYLAND_DISPLAY=display, GDK_BACKEND="wayland", WESTON_BACKGROUND=BACKGROUND)
        status = subprocess.call(sys.argv[1:], env=env)
    except RunError as e:
        print("run-under-weston: %s" % e, file=sys.stderr)
        for name in ("weston.log", "weston.out", "bus.log"):
            try:
                with open(os.path.join(folder, name), errors="replace") as f:
                    sys.stderr.write(f.read()[-4000:])
            except OSError:
                pass
    finally:
        stop(weston)
        stop(bus)
        kill_leftovers(marker)
        shutil.rmtree(folder, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
