#!/usr/bin/env python3
"""vexlanclient.exe under Wine, on the Xvfb server that run-under-xvfb.sh starts around this
script (Wine draws its own notification area there), against the demo gateway on Linux
loopback offering the Windows components: a host-check session and a tunnel session, each
ending by itself. The program runs in a sandbox profile that console_launcher.exe hands to it
(tools/wine-test/wine_harness.py); the gateway is confirmed in the sandbox's settings, so no
question is asked.

    run-under-xvfb.sh wine_program_test.py --program BUILD/apps/vexlanclient/gui/vexlanclient.exe \\
        --build BUILD --launcher BUILD/apps/vexlan-cli/tests/console_launcher.exe \\
        --sign-tool LINUX_BUILD/apps/vexlan-sign/vexlan-sign [unittest arguments]
"""

import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(HERE))))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine-test"))
import wine_harness  # noqa: E402  (the sandbox profile, the demo gateway, bounded waits)
from wine_harness import log_entries, SAFETY_TIMEOUT  # noqa: E402

OPTIONS = None
FIRST_PAINT = "DEBUG VexlanClientNotificationPanel.onPaint first shown: Loading\u2026"
# The native tray: no StatusNotifierWatcher is looked for on Windows.
NATIVE_TRAY = ("TRACE VexlanMainFrame.createTrayIcon Tray icon: an icon in the notification "
               "area")
SESSION_OVER = "TRACE VexlanClientGuiNotifyHandler.statusChanged 4"


class WineProgramTestCase(unittest.TestCase):
    def setUp(self):
        self.sandbox = wine_harness.Sandbox(prefix="vexlan-wine-program-")
        wine_harness.remove_log()

    def tearDown(self):
        self.sandbox.cleanup()

    def gateway(self, scenario, *args):
        return wine_harness.demo_gateway(OPTIONS, scenario, *args, folder=self.sandbox.folder)

    def run_program(self, *arguments, **variables):
        """Runs the program to its end; returns its exit status and its log."""
        command = self.sandbox.command(OPTIONS["--launcher"], OPTIONS["--program"], *arguments,
                                       desktop="vexlan-program-test-%d" % os.getpid(),
                                       **variables)
        try:
            result = subprocess.run(command, env=self.sandbox.environment(),
                                    cwd=wine_harness.work_folder(), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    timeout=SAFETY_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.fail("vexlanclient.exe did not end")
        return result.returncode, self.sandbox.log()

    def assert_clean_run(self, status, log):
        found = log_entries(log)
        self.assertEqual(0, status, log[-3000:])
        self.assertEqual([], [e for e in found if e.startswith(("ERROR", "ASSERT"))])
        for entry in [FIRST_PAINT, NATIVE_TRAY, SESSION_OVER]:
            self.assertIn(entry, found, log[-3000:])
        return found


class GatewaySessionTest(WineProgramTestCase):
    def test_host_check_session_runs_and_ends_by_itself(self):
        with self.gateway("hostchecker", "--rounds", "2") as gateway:
            self.sandbox.trust(gateway.authority)
            status, log = self.run_program(wine_harness.link(gateway))
            posts = gateway.posts()
            fetched = [r["path"] for r in gateway.component_gets()]
        found = self.assert_clean_run(status, log)
        for entry in ["TRACE VexlanClientHostchecker.loadDll Load 32 bits windows dll",
                      "TRACE VexlanClientHostchecker.sendResponse round 1",
                      "TRACE VexlanClientHostchecker.sendResponse round 2"]:
            self.assertIn(entry, found, log[-3000:])
        self.assertEqual(["/components/hostchecker-2.4.1.zip"], fetched)
        self.assertEqual(2, len(posts))
        for post in posts:
            self.assertIn("os%3Awindows", post["body"])
        # The checked-out components are in the sandbox's program folder, nowhere else.
        self.assertTrue(os.path.exists(os.path.join(self.sandbox.program, "hostchecker",
                                                    "2.4.1", "hostchecker.dll")))

    def test_tunnel_session_runs_until_the_plugin_closes_it(self):
        # The sample tunnel plugin connects, then asks to close a second later: the session
        # ends and the program with it.
        with self.gateway("plugin-close") as gateway:
            self.sandbox.trust(gateway.authority)
            status, log = self.run_program(wine_harness.link(gateway),
                                           VEXLAN_TUNNEL_STEP_MS="50")
            paths = [r["path"] for r in gateway.requests()]
        found = self.assert_clean_run(status, log)
        self.assertIn("TRACE VexlanClientPluginDll.loadDll Module loaded", found, log[-3000:])
        # The plugin's messages in their order (the connected one repeats at each step).
        prefix = "TRACE VexlanClientGuiNotifyHandler.message "
        messages = [e[len(prefix):] for e in found if e.startswith(prefix)]
        self.assertEqual(["init", "authenticating", "getconfig", "connected ip=10.8.0.2"],
                         [m for i, m in enumerate(messages) if i == 0 or m != messages[i - 1]],
                         log[-3000:])
        # The 32-bit plugin is loaded; its 64-bit companion is only placed beside it.
        self.assertEqual(["/components/tunnel-2.4.1.zip", "/components/tunnel64-2.4.1.zip",
                          "/pki/ca.pem", "/pki/jdoe.p12", "/files/tunnel.conf"],
                         sorted(paths[1:3]) + paths[3:])
        plugin = os.path.join(self.sandbox.program, "Plugin")
        self.assertIn("tunnel_2_4_1.dll", self.sandbox.files_below(os.path.join(plugin, "x64")))
        trace = wine_harness.read_text(self.sandbox.tunnel_trace).splitlines()
        self.assertEqual("DllCreatePluginFrontal", trace[0] if trace else None, trace)
        self.assertIn("DllStart2", trace)
        self.assertEqual("DllStop2", trace[-1])


def main():
    global OPTIONS
    OPTIONS = wine_harness.Options(["--program", "--build", "--launcher", "--sign-tool"],
                                   __doc__.split("\n\n")[1])
    unittest.main(argv=[sys.argv[0]] + OPTIONS.rest, verbosity=2)


if __name__ == "__main__":
    main()
