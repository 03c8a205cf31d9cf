#!/usr/bin/env bash
# Start-up of the window program under Xvfb (with a tray host), against an empty wxWidgets
# frame program built the same way (bench/gui_empty_frame.cpp):
# - time from starting the process to the "Loading" panel on screen: the program logs
#   "VexlanClientNotificationPanel.onPaint first shown: ..." on the panel's first paint, the
#   empty program prints "first shown" on its frame's first paint; this script stamps each
#   marker line as it arrives on the process's standard output (both flush every line);
# - proportional memory (PSS, smaps_rollup) when the marker arrives, and memory of the idle
#   program two seconds after that (the client waiting on a gateway that accepts the
#   connection and never answers): peak RSS (VmHWM) and PSS.
# The two programs run in turns, so that both meet the same load of the machine.
# Usage: bench/gui_startup.sh [build-dir] [runs]
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
runs=${2:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
program="$build/apps/vexlanclient/gui/vexlanclient"
empty="$build/bench/gui_empty_frame"
for f in "$program" "$empty"; do
    [ -x "$f" ] || { echo "missing $f (ninja -C $build vexlanclient gui_empty_frame)" >&2; exit 1; }
done

exec "$root/apps/vexlanclient/gui/tests/run-under-xvfb.sh" python3 - "$root" "$program" "$empty" \
    "$runs" <<'PY'
import os, socket, statistics, subprocess, sys, tempfile, time

root, program, empty, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
sys.path.insert(0, os.path.join(root, "tools", "demo-gateway"))
import harness

work = tempfile.mkdtemp(prefix="vexlan-guibench-")
home = os.path.join(work, "home")
os.makedirs(os.path.join(home, "Vexlan"))
# A gateway that takes the connection and never answers: the client stays in its request.
silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
silent.bind(("127.0.0.1", 0))
silent.listen(64)
port = silent.getsockname()[1]
# Confirmed, so that the program contacts it without asking first.
harness.write_settings(home, confirmed=["127.0.0.1:%d" % port])
# smaps_rollup of a non-dumpable process is root's alone: the program is left dumpable.
env = harness.client_environment(home, LANG="C.UTF-8", VEXLAN_ALLOW_CORE_DUMPS="1")

def memory(pid):
    hwm = rss = pss = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                hwm = int(line.split()[1])
            elif line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            if line.startswith("Pss:"):
                pss = int(line.split()[1])
    return hwm, rss, pss

def one_run(command, marker):
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True, env=env, cwd=work)
    shown = None
    for line in process.stdout:
        if marker in line:
            shown = time.monotonic() - start
            break
    if shown is None:
        process.kill()
        process.wait()
        sys.exit("no marker %r from %s" % (marker, command[0]))
    at_paint = memory(process.pid)[2]
    time.sleep(2.0)  # idle: the status display has ended, the client waits on its request
    mem = memory(process.pid)
    process.kill()
    process.communicate()
    return shown * 1000, at_paint, mem

def report(name, results):
    result = {"time_ms": statistics.median(r[0] for r in results),
              "paint_pss_kb": statistics.median(r[1] for r in results),
              "hwm_kb": statistics.median(r[2][0] for r in results),
              "rss_kb": statistics.median(r[2][1] for r in results),
              "pss_kb": statistics.median(r[2][2] for r in results)}
    times = [r[0] for r in results]
    print("%-14s shown after %7.1f ms (min %.1f, max %.1f)   PSS at paint %6d kB   peak RSS %6d "
          "kB   RSS %6d kB   PSS %6d kB" % (name, result["time_ms"], min(times), max(times),
                                           result["paint_pss_kb"], result["hwm_kb"],
                                           result["rss_kb"], result["pss_kb"]))
    return result

parameter = "vexlan://bench@127.0.0.1:%d/mediation?lang=en" % port
client_command = ([program, parameter], "VexlanClientNotificationPanel.onPaint first shown")
frame_command = ([empty], "first shown")
# Warm the page cache, then alternate the two programs so that both meet the same load.
one_run(*client_command)
one_run(*frame_command)
client_runs, frame_runs = [], []
for i in range(runs):
    client_runs.append(one_run(*client_command))
    frame_runs.append(one_run(*frame_command))
client = report("vexlanclient", client_runs)
frame = report("empty frame", frame_runs)
print("ratio          time %.2fx   PSS at paint %.2fx   peak RSS %.2fx   PSS %.2fx" % (
    client["time_ms"] / frame["time_ms"], client["paint_pss_kb"] / frame["paint_pss_kb"],
    client["hwm_kb"] / frame["hwm_kb"], client["pss_kb"] / frame["pss_kb"]))
PY
