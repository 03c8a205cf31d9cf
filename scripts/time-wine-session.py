#!/usr/bin/env python3
"""Times Windows programs under Wine against the Linux ones, each against a demo gateway on
loopback offering its platform's components, runs alternating, in the caller's Wine prefix
(WINEPREFIX, with a running `wineserver -p` so that Wine's start is what a user meets on a
second run). Prints the median of each and the ratio.

    scripts/time-wine-session.py [--runs N] [--linux-build build] [--windows-build build-windows]
        [--first-paint]

By default: whole host-check sessions, start to end, of vexlan-cli.exe and vexlan-cli. With
--first-paint: the start of the window program to the first paint of its panel, vexlanclient.exe
against vexlanclient, on the caller's display (run it under
apps/vexlanclient/gui/tests/run-under-xvfb.sh for a private one); the moment is the panel's
"first shown" log line on standard output (both programs write their log lines there; the
shared log file "/tmp/vexlanclient.log" is left alone, other runs on the machine may use it).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo-gateway"))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine-test"))
import harness  # noqa: E402
from wine_harness import launcher_command  # noqa: E402


def timed(command, env, cwd):
    start = time.monotonic()
    result = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=300)
    elapsed = time.monotonic() - start
    if result.returncode != 0:
        sys.exit("%s ended with %d:\n%s" % (command[0], result.returncode,
                                            result.stderr.decode(errors="replace")[-2000:]))
    return elapsed


MARK = b"NotificationPanel.onPaint first shown"
BOUND = 120  # seconds: a program that never paints stops the measurement


def first_paint(command, env, cwd):
    """Seconds from the start of `command` to its panel's first paint; the program then runs
    its session to the end (the host check ends by itself)."""
    seen = threading.Event()
    start = time.monotonic()
    process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def read_output():
        for line in process.stdout:
            if MARK in line:
                seen.set()

    reader = threading.Thread(target=read_output, daemon=True)
    reader.start()
    elapsed = None
    if seen.wait(BOUND):
        elapsed = time.monotonic() - start
    try:
        process.wait(timeout=BOUND)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    reader.join()
    if elapsed is None:
        sys.exit("%s never painted its panel" % command[-2])
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--linux-build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build-windows"))
    parser.add_argument("--first-paint", action="store_true",
                        help="time the window program's start to its panel's first paint")
    args = parser.parse_args()
    if args.first_paint:
        linux_program = os.path.join("apps", "vexlanclient", "gui", "vexlanclient")
        measure = first_paint
    else:
        linux_program = os.path.join("apps", "vexlan-cli", "vexlan-cli")
        measure = timed
    linux, windows = os.path.abspath(args.linux_build), os.path.abspath(args.windows_build)
    sign_tool = os.path.join(linux, "apps", "vexlan-sign", "vexlan-sign")
    launcher = os.path.join(windows, "apps", "vexlan-cli", "tests", "console_launcher.exe")
    times = {"linux": [], "wine": []}
    with tempfile.TemporaryDirectory(prefix="vexlan-timing-") as tmp:
        gateways = {
            "linux": harness.DemoGateway(linux, "hostchecker", "--rounds", "1", folder=tmp),
            "wine": harness.DemoGateway(windows, "hostchecker", "--rounds", "1", "--platform",
                                        "windows", "--sign-tool", sign_tool, folder=tmp),
        }
        try:
            for run in range(args.runs):
                for name, gateway in gateways.items():
                    home = os.path.join(tmp, "%s-%d" % (name, run))
                    harness.write_settings(home, [gateway.authority])
                    uri = "vexlan://user42@%s/mediation?lang=en" % gateway.authority
                    env = harness.client_environment(
                        home, VEXLAN_GATEWAYS_FILE=os.path.join(tmp, "gateways"))
                    if name == "linux":
                        command = [os.path.join(linux, linux_program), uri]
                    else:
                        # A window program on a desktop of its own: the prefix's default
                        # one may have been started without a display.
                        command = launcher_command(
                            launcher, os.path.join(windows, linux_program + ".exe"), home, uri,
                            desktop="vexlan-timing" if args.first_paint else None)
                        env.setdefault("WINEDEBUG", "-all")
                    times[name].append(measure(command, env, tmp))
        finally:
            for gateway in gateways.values():
                gateway.stop()
    linux_median = statistics.median(times["linux"])
    wine_median = statistics.median(times["wine"])
    if args.first_paint:
        print("start to the panel's first paint, median of %d:" % args.runs)
    else:
        print("host-check session, first run in a fresh profile (download, verify, load, one "
              "round), median of %d:" % args.runs)
    program = os.path.basename(linux_program)
    print("  %-24s %.2f s  (%s)" % ("Linux " + program, linux_median,
                                           " ".join("%.2f" % t for t in times["linux"])))
    print("  %-24s %.2f s  (%s)" % (program + ".exe, Wine", wine_median,
                                          " ".join("%.2f" % t for t in times["wine"])))
    print("  %-24s %.1f" % ("ratio Wine / Linux", wine_median / linux_median))
    return 0


if __name__ == "__main__":
    sys.exit(main())
