#!/usr/bin/env python3
"""vexlan-cli.exe under Wine against the demo gateway on Linux loopback, offering the Windows
components (the "win32" record, a "win64" companion): the same lines and exit statuses as the
Linux program. Each test runs the client in its own sandbox profile, inside the Wine prefix of
the caller (WINEPREFIX), through console_launcher.exe: Wine rebuilds the profile's variables
for a program started from Linux, and makes a console (for Ctrl-C) only on a terminal.

    wine_session_test.py --cli BUILD/apps/vexlan-cli/vexlan-cli.exe --build BUILD \\
        --launcher BUILD/apps/vexlan-cli/tests/console_launcher.exe \\
        --sign-tool LINUX_BUILD/apps/vexlan-sign/vexlan-sign [unittest arguments]
"""

import os
import subprocess
import sys
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine-test"))
sys.path.insert(0, HERE)
import wine_harness  # noqa: E402  (the sandbox profile, the demo gateway, bounded waits)
from wine_harness import wait_for, SAFETY_TIMEOUT  # noqa: E402
from cli_test import Result  # noqa: E402

OPTIONS = None

HOSTCHECK_LINES = ["session: host checking", "status: 2 downloading components",
                   "status: 5 host checking", "status: 4 session over"]
CONNECTED = ["session: plugin", "status: 2 downloading components", "message: init",
             "message: authenticating", "message: getconfig", "message: connected ip=10.8.0.2"]


class WineSession:
    """One vexlan-cli.exe run: its output read while it runs, Ctrl-C on request."""

    def __init__(self, command, env, cwd):
        master, slave = os.openpty()
        self.terminal = master
        self.process = subprocess.Popen(command, stdin=slave, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env, cwd=cwd)
        os.close(slave)
        self.lines = {"stdout": [], "stderr": []}
        self.pumps = [threading.Thread(target=self.pump, args=(self.process.stdout, "stdout"),
                                       daemon=True),
                      threading.Thread(target=self.pump, args=(self.process.stderr, "stderr"),
                                       daemon=True)]
        for pump in self.pumps:
            pump.start()

    def pump(self, stream, name):
        for raw in stream:
            self.lines[name].append(raw.decode("utf-8", "replace").rstrip("\r\n"))

    def notified(self, line):
        return line in self.lines["stderr"]

    def ctrl_c(self):
        os.write(self.terminal, b"ctrl-c\r")

    def finish(self, test):
        try:
            self.process.wait(timeout=SAFETY_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            test.fail("vexlan-cli.exe did not end")
        finally:
            for pump in self.pumps:
                pump.join()
            os.close(self.terminal)
            self.process.stdout.close()
            self.process.stderr.close()
        # Wine's own diagnostics (no display, no tray) are not the program's notifications.
        stderr = [line for line in self.lines["stderr"] if ":err:" not in line]
        return Result(self.process.returncode, "\n".join(self.lines["stdout"]) + "\n",
                      "".join(line + "\n" for line in stderr))


class WineSessionTestCase(unittest.TestCase):
    def setUp(self):
        self.sandbox = wine_harness.Sandbox()
        self.program = self.sandbox.program
        self.hostchecker_trace = self.sandbox.hostchecker_trace
        self.tunnel_trace = self.sandbox.tunnel_trace

    def tearDown(self):
        self.sandbox.cleanup()

    def gateway(self, scenario, *args):
        return wine_harness.demo_gateway(OPTIONS, scenario, *args, folder=self.sandbox.folder)

    def start(self, gateway):
        self.sandbox.trust(gateway.authority)
        command = self.sandbox.command(
            OPTIONS["--launcher"], OPTIONS["--cli"], wine_harness.link(gateway),
            VEXLAN_TUNNEL_STEP_MS="50",
            VEXLAN_LAUNCHER_RECORD=wine_harness.windows_path(
                os.path.join(self.sandbox.folder, "launcher.txt")))
        return WineSession(command, self.sandbox.environment(), wine_harness.work_folder())

    def session(self, gateway):
        return self.start(gateway).finish(self)

    def read_lines(self, path):
        return wine_harness.read_text(path).splitlines()

    def files_below(self, folder):
        return self.sandbox.files_below(folder)


class HostCheckSessionTest(WineSessionTestCase):
    def test_session_with_the_windows_host_checker(self):
        with self.gateway("hostchecker", "--rounds", "2") as gateway:
            result = self.session(gateway)
            posts = gateway.posts()
            fetched = [r["path"] for r in gateway.component_gets()]
            agent = gateway.requests()[0]["user_agent"]
        self.assertEqual(0, result.status, result.stderr + result.stdout[-3000:])
        self.assertEqual(HOSTCHECK_LINES, result.notifications())
        self.assertEqual(["/components/hostchecker-2.4.1.zip"], fetched)
        # The system's name as Windows reports its version (Wine: the prefix's version).
        self.assertRegex(agent, r"^VexlanClient 8\.4\.0\.24 Microsoft Windows \S")
        self.assertTrue(result.logged("TRACE VexlanClientHostchecker.loadDll "
                                      "Load 32 bits windows dll"), result.stdout[-3000:])
        self.assertTrue(result.logged("TRACE VexlanClientHostchecker.sendResponse round 2"))
        # The Windows rules the sample checker satisfies under Wine: the system, a folder, and
        # this very program in the process snapshot.
        self.assertEqual(2, len(posts))
        for post in posts:
            self.assertIn("os%3Awindows", post["body"])
            self.assertIn("file%3AC%3A%5Cwindows", post["body"])
            self.assertIn("proc%3Avexlan-cli.exe", post["body"])
        trace = self.read_lines(self.hostchecker_trace)
        self.assertTrue(trace and trace[0].startswith("init|"), trace)
        self.assertEqual(["close", "close"], trace[-2:])
        self.assertEqual(sorted(["hostchecker-2.4.1.zip", os.path.join("2.4.1", "hostchecker.dll"),
                                 os.path.join("2.4.1", "hostchecker.dll.sig")]),
                         self.files_below(os.path.join(self.program, "hostchecker")))

    def test_a_linux_library_in_the_win32_record_is_refused_by_the_loader(self):
        with self.gateway("linuxlibrary") as gateway:
            result = self.session(gateway)
        self.assertEqual(3, result.status, result.stderr + result.stdout[-3000:])
        self.assertEqual(["session: host checking", "status: 2 downloading components",
                          "failed: "], result.notifications())
        library = os.path.join(self.program, "hostchecker", "2.4.1", "hostchecker.dll")
        # The signature matched: the system's loader is what refuses it, with its number.
        self.assertFalse(result.logged("Bad component signature"))
        refusals = [e for e in result.log_entries()
                    if e.startswith("ERROR ModuleLoader.ModuleLoader Unable to load ")]
        self.assertEqual(1, len(refusals), result.stdout[-3000:])
        self.assertTrue(refusals[0].endswith("hostchecker.dll\": #193"), refusals[0])
        with open(library, "rb") as f:
            self.assertEqual(b"\x7fELF", f.read(4))


class FailureScenarioTest(WineSessionTestCase):
    """The failures of a component on its way to the loader, and of the gateway's reply: the
    exit statuses and lines of the Linux program, the Windows texts in the log."""

    CASES = [
        # scenario, exit status, expected log entry, session started
        ("refuse", 3, "ERROR VexlanClient.main", False),
        ("http404", 3, "ERROR VexlanClient.main mediation response is HTTP.404", False),
        ("badsig", 3, "ERROR FileSignature.verify bad hash ", True),
        ("otherkey", 3, "ERROR FileSignature.verify bad signature", True),
        ("truncated", 3, "ERROR Zip.unzip Cannot open zip file: ", True),
        ("nosig", 3, "ERROR SignedDll.loadFromFile Missing signature file: ", True),
        ("nolinux64", 3, "ERROR VexlanClientHostchecker.downloadDll "
         "No win32 component in the configuration", True),
    ]

    def test_each_failure_maps_to_its_log_line_and_exit_status(self):
        for scenario, status, line, started in self.CASES:
            with self.subTest(scenario=scenario):
                self.tearDown()
                self.setUp()
                with self.gateway(scenario) as gateway:
                    result = self.session(gateway)
                self.assertEqual(status, result.status, result.stderr + result.stdout[-2000:])
                self.assertTrue(result.logged(line), result.stdout[-3000:])
                lines = result.notifications()
                self.assertEqual(started, "session: host checking" in lines, lines)
                self.assertEqual("failed: ", lines[-1])
                self.assertEqual(scenario in ("badsig", "otherkey", "nosig"),
                                 result.logged("Bad component signature"))
                # Each failure comes before the loader runs.
                self.assertFalse(result.logged("ERROR ModuleLoader.ModuleLoader Unable to load"))


class PluginSessionTest(WineSessionTestCase):
    def assert_x64_placed_not_loaded(self, result):
        plugin = os.path.join(self.program, "Plugin")
        placed = self.files_below(os.path.join(plugin, "x64"))
        self.assertIn("tunnel_2_4_1.dll", placed)
        self.assertIn("tunnel_2_4_1.dll.sig", placed)
        with open(os.path.join(plugin, "x64", "tunnel_2_4_1.dll"), "rb") as f:
            self.assertTrue(f.read().startswith(b"x64 companion"))
        loads = [e for e in result.log_entries() if "Unable to load" in e]
        self.assertEqual([], loads)

    def test_tunnel_session_ends_on_ctrl_c_with_dllstop2(self):
        with self.gateway("plugin") as gateway:
            run = self.start(gateway)
            wait_for(lambda: run.notified(CONNECTED[-1]) or run.process.poll() is not None,
                     "connected")
            run.ctrl_c()
            result = run.finish(self)
            paths = [r["path"] for r in gateway.requests()]
        self.assertEqual(130, result.status, result.stderr + result.stdout[-3000:])
        self.assertEqual(CONNECTED + ["status: 4 session over"], result.notifications())
        trace = self.read_lines(self.tunnel_trace)
        self.assertEqual("DllCreatePluginFrontal", trace[0])
        self.assertIn("DllStart2", trace)
        self.assertEqual("DllStop2", trace[-1])
        self.assertEqual(["/components/tunnel-2.4.1.zip", "/components/tunnel64-2.4.1.zip",
                          "/pki/ca.pem", "/pki/jdoe.p12", "/files/tunnel.conf"],
                         sorted(paths[1:3]) + paths[3:])
        self.assertTrue(result.logged("TRACE VexlanClientPluginDll.loadDll Module loaded"))
        self.assert_x64_placed_not_loaded(result)

    def test_plugin_asking_to_close_ends_the_session(self):
        with self.gateway("plugin-close") as gateway:
            result = self.session(gateway)
        self.assertEqual(0, result.status, result.stderr + result.stdout[-3000:])
        self.assertEqual(CONNECTED + ["status: 4 session over"], result.notifications())
        self.assertEqual("DllStop2", self.read_lines(self.tunnel_trace)[-1])
        self.assert_x64_placed_not_loaded(result)


def main():
    global OPTIONS
    OPTIONS = wine_harness.Options(["--cli", "--build", "--launcher", "--sign-tool"],
                                   __doc__.split("\n\n")[1])
    unittest.main(argv=[sys.argv[0]] + OPTIONS.rest, verbosity=2)


if __name__ == "__main__":
    main()
