#!/usr/bin/env python3
"""Times the start of the window program to the first paint of its panel: vexlanclient.exe
under Wine against the Linux vexlanclient, each on a demo gateway on loopback offering its
platform's components, runs alternating, on the caller's display (run it under
apps/vexlanclient/gui/tests/run-under-xvfb.sh for a private one) and in the caller's Wine prefix
(WINEPREFIX, with a running `wineserver -p`). The moment is the panel's "first shown" log line,
seen on standard output or in the log file, whichever comes first. Prints the median of each
and the ratio.

    run-under-xvfb.sh scripts/time-wine-first-paint.py [--runs N] [--linux-build build] \\
        [--windows-build build-windows]
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
sys.path.insert(0, os.path.join(ROOT, "apps", "vexlan-cli", "tests"))
import harness  # noqa: E402
from wine_session_test import windows_path  # noqa: E402

LOG_FILE = "/tmp/vexlanclient.log"
MARK = "NotificationPanel.onPaint first shown"
BOUND = 120  # seconds: a program that never paints stops the measurement


def first_paint(command, env, cwd):
    if os.path.exists(LOG_FILE):
        os.remove(LOG_FILE)
    seen = threading.Event()
    start = time.monotonic()
    process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def read_output():
        for line in process.stdout:
            if MARK.encode() in line:
                seen.set()

    reader = threading.Thread(target=read_output, daemon=True)
    reader.start()
    elapsed = None
    while time.monotonic() - start < BOUND:
        if seen.wait(0.005):
            elapsed = time.monotonic() - start
            break
        try:
            with open(LOG_FILE, "rb") as f:
                if MARK.encode() in f.read():
                    elapsed = time.monotonic() - start
                    break
        except OSError:
            pass
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
    args = parser.parse_args()
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
                        command = [os.path.join(linux, "apps", "vexlanclient", "gui",
                                                "vexlanclient"), uri]
                    else:
                        profile = windows_path(home)
                        command = ["wine", launcher, "USERPROFILE=" + profile,
                                   "APPDATA=%s\\AppData\\Roaming" % profile,
                                   "LOCALAPPDATA=%s\\AppData\\Local" % profile, "--",
                                   windows_path(os.path.join(windows, "apps", "vexlanclient",
                                                             "gui", "vexlanclient.exe")), uri]
                        env.setdefault("WINEDEBUG", "-all")
                    times[name].append(first_paint(command, env, tmp))
        finally:
            for gateway in gateways.values():
                gateway.stop()
    linux_median = statistics.median(times["linux"])
    wine_median = statistics.median(times["wine"])
    print("start to the panel's first paint, median of %d:" % args.runs)
    print("  Linux vexlanclient     %.2f s  (%s)" % (linux_median,
                                                    " ".join("%.2f" % t for t in times["linux"])))
    print("  vexlanclient.exe, Wine %.2f s  (%s)" % (wine_median,
                                                    " ".join("%.2f" % t for t in times["wine"])))
    print("  ratio Wine / Linux     %.1f" % (wine_median / linux_median))
    return 0


if __name__ == "__main__":
    sys.exit(main())
