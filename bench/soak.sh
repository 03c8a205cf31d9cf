#!/usr/bin/env bash
# Soak run of vexlan-cli against the demo gateway, outside CI: a host-check session with
# one-second rounds and a tunnel-plugin session, each for a number of minutes, sampling the
# resident memory, the open file descriptors and the CPU time of the process every 10 s. Then
# the same sessions, shorter, under valgrind's memcheck (leaks and invalid accesses).
# Usage: bench/soak.sh [build-dir] [minutes] [valgrind-minutes]
#   defaults: build, 10, 2; a session whose scenario the gateway does not know is skipped.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
minutes=${2:-10}
valgrind_minutes=${3:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$build/apps/vexlan-cli/vexlan-cli"
[ -x "$cli" ] || { echo "missing $cli (build the project first)" >&2; exit 1; }

exec python3 - "$root" "$build" "$cli" "$minutes" "$valgrind_minutes" <<'PY'
import os, shutil, signal, subprocess, sys, tempfile, time

root, build, cli = sys.argv[1], sys.argv[2], sys.argv[3]
minutes, valgrind_minutes = float(sys.argv[4]), float(sys.argv[5])
sys.path.insert(0, os.path.join(root, "tools", "demo-gateway"))
import harness
import scenarios
ticks = os.sysconf("SC_CLK_TCK")
page_kb = os.sysconf("SC_PAGE_SIZE") // 1024


def sample(pid):
    """Resident memory (kB), open descriptors and CPU seconds of a process."""
    with open("/proc/%d/statm" % pid) as f:
        rss_kb = int(f.read().split()[1]) * page_kb
    fds = len(os.listdir("/proc/%d/fd" % pid))
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / ticks  # utime + stime
    return rss_kb, fds, cpu


def session(scenario, gateway_args, duration, wrapper=()):
    work = tempfile.mkdtemp(prefix="vexlan-soak-")
    home = os.path.join(work, "home")
    gateway = harness.DemoGateway(build, scenario, *gateway_args, folder=work)
    client = None
    try:
        authority = gateway.authority
        harness.write_settings(home, [authority])
        # Readable /proc/PID/fd and no root-owned /proc entries: the client stays dumpable.
        env = harness.client_environment(home, VEXLAN_ALLOW_CORE_DUMPS="1")
        output = open(os.path.join(work, "client.out"), "w")
        client = subprocess.Popen(list(wrapper) + [cli, "vexlan://soak@%s/mediation" % authority],
                                  env=env, stdout=output, stderr=subprocess.STDOUT)
        # Past start-up (component fetched and loaded) before the first sample.
        time.sleep(min(10, duration / 4))
        samples = []
        end = time.time() + duration
        while time.time() < end and client.poll() is None:
            samples.append((time.time(), ) + sample(client.pid))
            time.sleep(10)
        alive = client.poll() is None
        if alive:
            client.send_signal(signal.SIGTERM)
        status = client.wait(timeout=120)
        output.close()
        return samples, alive, status, os.path.join(work, "client.out"), work
    finally:
        if client and client.poll() is None:
            client.kill()
        gateway.stop()


def report(title, samples, alive, status):
    print("== " + title)
    if len(samples) < 2:
        print("  too few samples (session ended early: %s, exit %s)" % (not alive, status))
        return
    (t0, rss0, fd0, cpu0), (t1, rss1, fd1, cpu1) = samples[0], samples[-1]
    span = t1 - t0
    peak = max(s[1] for s in samples)
    print("  %.0f s sampled, %d samples; ran to the end: %s, exit status %d"
          % (span, len(samples), alive, status))
    print("  resident memory %.1f MB -> %.1f MB (growth %+.1f kB, peak %.1f MB)"
          % (rss0 / 1024, rss1 / 1024, rss1 - rss0, peak / 1024))
    print("  open descriptors %d -> %d (max %d)" % (fd0, fd1, max(s[2] for s in samples)))
    print("  CPU time %.2f s over %.0f s: %.3f %% of a core" % (cpu1 - cpu0, span,
                                                            100 * (cpu1 - cpu0) / span))


sessions = [("host check, one-second rounds", "hostchecker",
             ["--rounds", "1000000", "--interval", "0"]),
            ("tunnel plugin", "plugin", [])]
for title, scenario, args in sessions:
    if scenario not in scenarios.names():
        print("== %s: the gateway has no scenario '%s', skipped" % (title, scenario))
        continue
    samples, alive, status, _, work = session(scenario, args, minutes * 60)
    report("%s, %g min" % (title, minutes), samples, alive, status)
    shutil.rmtree(work, ignore_errors=True)

if valgrind_minutes > 0 and shutil.which("valgrind"):
    for title, scenario, args in sessions:
        if scenario not in scenarios.names():
            continue
        wrapper = ("valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite",
                   "--error-exitcode=99", "--log-file=%s" % "/tmp/vexlan-soak-valgrind.%p")
        samples, alive, status, out, work = session(scenario, args, valgrind_minutes * 60,
                                                    wrapper)
        print("== %s under memcheck, %g min: exit status %d (99 = memcheck errors)"
              % (title, valgrind_minutes, status))
        shutil.rmtree(work, ignore_errors=True)
    for name in sorted(os.listdir("/tmp")):
        if name.startswith("vexlan-soak-valgrind."):
            path = os.path.join("/tmp", name)
            with open(path) as f:
                lines = [l for l in f if "ERROR SUMMARY" in l or "definitely lost" in l
                         or "indirectly lost" in l]
            if lines:  # the processes the client starts leave empty files
                print("  %s" % " | ".join(l.split("== ", 1)[-1].strip() for l in lines))
            os.remove(path)
PY
