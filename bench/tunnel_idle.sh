#!/usr/bin/env bash
# Idle cost of a connected tunnel session: vexlan-cli with the sample tunnel plugin against the
# demo gateway on loopback. Once the tunnel reports "connected", the CPU time (user + system,
# all threads, from /proc) that vexlan-cli uses over the measured period is taken, then the
# session is ended with SIGINT and the peak resident memory (VmHWM) is read just before.
# Aims: under 0.2 % of one core and under 15 MB.
# Usage: bench/tunnel_idle.sh [build-dir] [seconds]
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$build/apps/vexlan-cli/vexlan-cli"
[ -x "$cli" ] || { echo "missing $cli (build vexlan-cli, vexlan-sign, tunnel_component)" >&2; exit 1; }

exec python3 - "$root" "$build" "$cli" "$seconds" <<'PY'
import os, signal, subprocess, sys, tempfile, threading, time

root, build, cli, seconds = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
sys.path.insert(0, os.path.join(root, "tools", "demo-gateway"))
import harness

work = tempfile.mkdtemp(prefix="vexlan-bench-")
home = os.path.join(work, "home")
ticks = os.sysconf("SC_CLK_TCK")
gateway = harness.DemoGateway(build, "plugin", folder=work)
client = None
try:
    authority = gateway.authority
    harness.write_settings(home, [authority])
    # The client's /proc entries stay ours to read: it is left dumpable.
    env = harness.client_environment(home, VEXLAN_ALLOW_CORE_DUMPS="1")
    for name in ("VEXLAN_TUNNEL_STEP_MS", "VEXLAN_TUNNEL_TRACE"):
        env.pop(name, None)
    client = subprocess.Popen([cli, "vexlan://bench@%s/mediation?lang=en" % authority], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    connected = threading.Event()
    notifications = []

    def watch():
        for line in client.stderr:
            notifications.append(line.rstrip("\n"))
            if line.startswith("message: connected"):
                connected.set()
    threading.Thread(target=watch, daemon=True).start()
    if not connected.wait(120):
        sys.exit("the tunnel did not connect: %s" % notifications)

    def cpu_seconds():
        with open("/proc/%d/stat" % client.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / ticks  # utime, stime

    def status(key):
        with open("/proc/%d/status" % client.pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
        return 0

    cpu_before, wall_before = cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    cpu_after, wall_after = cpu_seconds(), time.monotonic()
    peak_kb, resident_kb, threads = status("VmHWM"), status("VmRSS"), status("Threads")
    client.send_signal(signal.SIGINT)
    code = client.wait(60)
    used = cpu_after - cpu_before
    wall = wall_after - wall_before
    print("connected tunnel session, %.0f s measured (clock tick %.0f ms)" % (wall, 1000 / ticks))
    print("  CPU time of vexlan-cli  %6.2f s  = %.3f %% of one core   (aim < 0.2 %%)"
          % (used, 100 * used / wall))
    print("  peak resident memory    %6.1f MB                     (aim < 15 MB)" % (peak_kb / 1024))
    print("  resident at the end     %6.1f MB, %d threads" % (resident_kb / 1024, threads))
    print("  exit status after SIGINT: %d" % code)
finally:
    if client is not None and client.poll() is None:
        client.kill()
    gateway.stop()
    subprocess.run(["rm", "-rf", work])
PY
