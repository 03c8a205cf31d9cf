#!/usr/bin/env bash
# Host-check start-up over loopback HTTPS, component already cached: from starting vexlan-cli to
# the demo gateway receiving the first host-check post, against the curl command-line tool
# doing the same GET and POST (curl --next). The gateway stamps each request as it arrives, so
# both sides are measured the same way. Also the peak resident memory of vexlan-cli over a
# three-round host-check session.
# Usage: bench/hostcheck_startup.sh [build-dir] [runs]
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
runs=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$build/apps/vexlan-cli/vexlan-cli"
[ -x "$cli" ] || { echo "missing $cli (build vexlan-cli, vexlan-sign, hostchecker_component)" >&2; exit 1; }

exec python3 - "$root" "$build" "$cli" "$runs" <<'PY'
import os, statistics, subprocess, sys, tempfile, time

root, build, cli, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
sys.path.insert(0, os.path.join(root, "tools", "demo-gateway"))
import harness

work = tempfile.mkdtemp(prefix="vexlan-bench-")
home = os.path.join(work, "home")
request = "os:linux;file:/etc/os-release;user:notroot"
gateway = harness.DemoGateway(build, "hostchecker", "--rounds", "1", "--request", request,
                              folder=work)
try:
    base, authority = gateway.base_url, gateway.authority
    harness.write_settings(home, [authority])
    env = harness.client_environment(home)
    start_parameter = "vexlan://bench@%s/mediation?lang=en" % authority

    def first_post_delay(command):
        before = len(gateway.requests())
        started = time.time()
        subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)
        posts = [e for e in gateway.requests()[before:] if e["method"] == "POST"]
        return posts[0]["time"] - started

    cli_command = [cli, start_parameter]
    # The same exchange by curl: the bootstrap GET with the cookie, then the answer's POST.
    body = "rulesChecked=os%3Alinux%3Bfile%3A%2Fetc%2Fos-release"
    curl_command = ["curl", "-sk", "-o", "/dev/null", "-b", "Vexlan-Id=bench",
                    "-A", "VexlanClient 8.4.0.24", base + "/mediation?lang=en&clientversion=8.4.0.24",
                    "--next", "-sk", "-o", "/dev/null", "-d", body,
                    base + "/mediation/hostchecking"]
    subprocess.run(cli_command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)  # fetches and places the component once
    cli_times, curl_times = [], []
    for _ in range(runs):  # interleaved, so that both see the same machine load
        cli_times.append(first_post_delay(cli_command))
        curl_times.append(first_post_delay(curl_command))
    cli_median = statistics.median(cli_times) * 1000
    curl_median = statistics.median(curl_times) * 1000
    print("start to first host-check post, component cached (median of %d runs)" % runs)
    print("  vexlan-cli  %7.1f ms   (min %.1f, max %.1f)" % (cli_median, min(cli_times) * 1000,
                                                          max(cli_times) * 1000))
    print("  curl        %7.1f ms   (min %.1f, max %.1f)" % (curl_median, min(curl_times) * 1000,
                                                          max(curl_times) * 1000))
    print("  ratio       %7.2f x" % (cli_median / curl_median))

    # Peak memory of a three-round session (rounds one second apart).
    gateway.stop()
    gateway = harness.DemoGateway(build, "hostchecker", "--rounds", "3", "--port", gateway.port,
                                  "--request", request, folder=work)
    timed = subprocess.run(["/usr/bin/time", "-f", "peak-kb %M"] + cli_command, env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                           check=True)
    peak_kb = int(timed.stderr.rsplit("peak-kb ", 1)[1].split()[0])
    print("peak resident memory of vexlan-cli over a 3-round session: %.1f MB" % (peak_kb / 1024))
finally:
    gateway.stop()
    subprocess.run(["rm", "-rf", work])
PY
