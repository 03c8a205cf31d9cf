#!/usr/bin/env python3
"""vexlanclient.exe under Wine, on the Xvfb server that run-under-xvfb.sh starts around this
script (Wine draws its own notification area there), against the demo gateway on Linux
loopback offering the Windows components. The program is started through console_launcher.exe,
which sets the sandbox profile's folders (Wine rebuilds them for a program started from Linux).
The gateway is confirmed in the sandbox's settings, so no question is asked.

    run-under-xvfb.sh wine_program_test.py --program BUILD/apps/vexlanclient/gui/vexlanclient.exe \\
        --build BUILD --launcher BUILD/apps/vexlan-cli/tests/console_launcher.exe \\
        --sign-tool LINUX_BUILD/apps/vexlan-sign/vexlan-sign [unittest arguments]
"""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(HERE))))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo-gateway"))
import harness  # noqa: E402  (the demo gateway and the settings that trust it)

PROGRAM = None
BUILD = None
LAUNCHER = None
SIGN_TOOL = None
SAFETY_TIMEOUT = 180  # seconds: a hung program fails the test instead of hanging CTest
# The working folder is on Wine's drive Z: (the Linux root): the log's fixed path lands here.
LOG_FILE = "/tmp/vexlanclient.log"


def windows_path(path):
    """The Windows form of a Linux path: Wine's drive Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def entries(text):
    """Log lines without their time and thread: "LEVEL class.method message"."""
    return [line.split("] ", 1)[1].rstrip("\r") for line in text.splitlines() if "] " in line]


class WineProgramTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vexlan-wine-program-")
        self.home = os.path.join(self.tmp.name, "home")
        self.program_folder = os.path.join(self.home, "Vexlan")
        os.makedirs(self.program_folder)
        self.trace = os.path.join(self.tmp.name, "hostchecker-trace.txt")
        if os.path.exists(LOG_FILE):
            os.remove(LOG_FILE)

    def tearDown(self):
        self.tmp.cleanup()

    def gateway(self, scenario, *args):
        return harness.DemoGateway(BUILD, scenario, "--platform", "windows", "--sign-tool",
                                   SIGN_TOOL, *args, folder=self.tmp.name)

    def run_program(self, *arguments):
        """Runs the program to its end; returns its exit status and its log."""
        profile = windows_path(self.home)
        variables = {
            "USERPROFILE": profile,
            "APPDATA": profile + "\\AppData\\Roaming",
            "LOCALAPPDATA": profile + "\\AppData\\Local",
            "VEXLAN_GATEWAYS_FILE": windows_path(os.path.join(self.tmp.name, "gateways")),
            "VEXLAN_HOSTCHECKER_TRACE": windows_path(self.trace),
        }
        command = ["wine", LAUNCHER] + ["%s=%s" % item for item in variables.items()] + \
            ["--", windows_path(PROGRAM)] + list(arguments)
        env = harness.client_environment(self.home)
        env.setdefault("WINEDEBUG", "-all")
        try:
            result = subprocess.run(command, env=env, cwd=self.tmp.name, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    timeout=SAFETY_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.fail("vexlanclient.exe did not end")
        log = ""
        if os.path.exists(LOG_FILE):
            with open(LOG_FILE, encoding="utf-8", errors="replace") as f:
                log = f.read()
        return result.returncode, log


class GatewaySessionTest(WineProgramTestCase):
    def test_host_check_session_runs_and_ends_by_itself(self):
        with self.gateway("hostchecker", "--rounds", "2") as gateway:
            harness.write_settings(self.home, [gateway.authority])
            status, log = self.run_program("vexlan://user42@%s/mediation?lang=en"
                                           % gateway.authority)
            posts = gateway.posts()
            fetched = [r["path"] for r in gateway.component_gets()]
        found = entries(log)
        self.assertEqual(0, status, log[-3000:])
        self.assertEqual([], [e for e in found if e.startswith(("ERROR", "ASSERT"))])
        for entry in ["DEBUG VexlanClientNotificationPanel.onPaint first shown: Loading\u2026",
                      "TRACE VexlanClientHostchecker.loadDll Load 32 bits windows dll",
                      "TRACE VexlanClientHostchecker.sendResponse round 1",
                      "TRACE VexlanClientHostchecker.sendResponse round 2",
                      "TRACE VexlanClientGuiNotifyHandler.statusChanged 4"]:
            self.assertIn(entry, found, log[-3000:])
        # The native tray: no StatusNotifierWatcher is looked for on Windows.
        self.assertIn("TRACE VexlanMainFrame.createTrayIcon Tray icon: an icon in the "
                      "notification area", found)
        self.assertEqual(["/components/hostchecker-2.4.1.zip"], fetched)
        self.assertEqual(2, len(posts))
        for post in posts:
            self.assertIn("os%3Awindows", post["body"])
        # The checked-out components are in the sandbox's program folder, nowhere else.
        self.assertTrue(os.path.exists(os.path.join(self.program_folder, "hostchecker", "2.4.1",
                                                    "hostchecker.dll")))


def main():
    global PROGRAM, BUILD, LAUNCHER, SIGN_TOOL
    args = sys.argv[1:]
    options = {}
    while args and args[0] in ("--program", "--build", "--launcher", "--sign-tool"):
        options[args[0]] = args[1]
        args = args[2:]
    PROGRAM = options["--program"]
    BUILD = options["--build"]
    LAUNCHER = options["--launcher"]
    SIGN_TOOL = options["--sign-tool"]
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
