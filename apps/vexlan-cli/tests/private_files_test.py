#!/usr/bin/env python3
"""What another local user can learn of a vexlan-cli session: the modes of every file and
folder a host-check and a tunnel session leave behind, the narrowing of a program folder that
others may enter, the start parameter in /proc/PID/cmdline, and core files. Runs against the
demo gateway with the helpers of cli_test.py.

    private_files_test.py --cli BUILD/apps/vexlan-cli/vexlan-cli --build BUILD [unittest args]
"""

import os
import resource
import signal
import stat
import subprocess
import threading

import cli_test
from cli_test import wait_for

TICKET = "TK-7f3a9c2e51d04b8a"  # the ticket of the demo gateway's plugin scenario
LOG_FILE = "/tmp/vexlanclient.log"
NARROWED = "DEBUG VexlanClient.main Vexlan directory was open to other users (mode %s): " \
           "narrowed to 0700"


def mode_of(path):
    return stat.S_IMODE(os.lstat(path).st_mode)


class PrivateFilesTest(cli_test.CliTestCase):
    # The tunnel session's helpers.
    CONNECTED = cli_test.PluginSessionTest.CONNECTED
    tunnel_trace = cli_test.PluginSessionTest.tunnel_trace
    read_lines = cli_test.PluginSessionTest.read_lines
    plugin_folder = cli_test.PluginSessionTest.plugin_folder
    notified = cli_test.PluginSessionTest.notified
    finish_watched = cli_test.PluginSessionTest.finish_watched

    def setUp(self):
        # The umask of most desktops: without the client's own rule its files would be 0644.
        self.old_umask = os.umask(0o022)
        super().setUp()

    def tearDown(self):
        super().tearDown()
        os.umask(self.old_umask)

    def env(self, **extra):
        env = super().env()
        env.update(VEXLAN_TUNNEL_TRACE=self.tunnel_trace(), VEXLAN_TUNNEL_STEP_MS="50")
        env.pop("VEXLAN_ALLOW_CORE_DUMPS", None)
        env.update(extra)
        return env

    def start_watched(self, parameter, preexec_fn=None, **env):
        """A session whose standard error can be watched while it runs."""
        process = subprocess.Popen([cli_test.CLI, parameter], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, errors="replace",
                                   env=self.env(**env), cwd=self.tmp.name, preexec_fn=preexec_fn)
        process.watched = {"stderr": [], "stdout": []}

        def pump(stream, lines):
            for line in stream:
                lines.append(line)
        process.pumps = [threading.Thread(target=pump, args=(getattr(process, name),
                                                             process.watched[name]),
                                          daemon=True) for name in ("stderr", "stdout")]
        for thread in process.pumps:
            thread.start()
        return process

    def long_host_check(self, gateway, identifier, preexec_fn=None, **env):
        """A host check that waits five minutes between rounds, once it is checking."""
        process = self.start_watched("vexlan://%s@%s/mediation?lang=en" % (identifier,
                                                                           gateway.authority),
                                     preexec_fn, **env)
        wait_for(lambda: process.poll() is not None or
                 self.notified(process, "status: 5 host checking"), "the host check")
        self.assertIsNone(process.poll(), "".join(process.watched["stderr"]))
        return process

    def modes_under_home(self, written_by_test):
        """Mode of every file and folder below HOME (HOME itself and what the test wrote
        excluded)."""
        modes = {}
        for folder, folders, files in os.walk(self.home):
            for name in folders + files:
                path = os.path.join(folder, name)
                if path not in written_by_test:
                    modes[os.path.relpath(path, self.home)] = mode_of(path)
        return modes

    def assert_private(self, modes):
        for path, mode in sorted(modes.items()):
            full = os.path.join(self.home, path)
            expected = 0o700 if stat.S_ISDIR(os.lstat(full).st_mode) else 0o600
            self.assertEqual(oct(expected), oct(mode), path)
        # The log, when it went to its usual place (otherwise it is in the program folder).
        if os.path.exists(LOG_FILE) and os.lstat(LOG_FILE).st_uid == os.geteuid():
            self.assertEqual(oct(0o600), oct(mode_of(LOG_FILE)))

    def test_host_check_session_leaves_only_private_files_and_folders(self):
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            self.write_settings([gateway.authority])
            settings = os.path.join(self.program, "vexlanclient.xml")
            self.assert_session_over(self.session(gateway))
        modes = self.modes_under_home({settings})
        for expected in ("Vexlan", "Vexlan/hostchecker/2.4.1/hostchecker.so",
                         "Vexlan/hostchecker/2.4.1/hostchecker.so.sig"):
            self.assertIn(expected, modes)
        self.assert_private(modes)

    def test_tunnel_session_leaves_only_private_files_and_a_log_without_the_ticket(self):
        with self.gateway("plugin") as gateway:
            self.write_settings([gateway.authority])
            settings = os.path.join(self.program, "vexlanclient.xml")
            process = self.start_watched("vexlan://user42@%s/mediation?lang=en" %
                                         gateway.authority)
            wait_for(lambda: process.poll() is not None or
                     self.notified(process, self.CONNECTED[-1]), "connected")
            log = os.path.join(self.plugin_folder(), "tunnel.log")
            process.send_signal(signal.SIGUSR1)  # the logs action: the tunnel writes its log
            wait_for(lambda: process.poll() is not None or os.path.exists(log), "tunnel.log")
            process.send_signal(signal.SIGINT)
            result = self.finish_watched(process)
        self.assertEqual(130, result.status, result.stderr + result.stdout[-3000:])
        # The ticket did reach the tunnel (its trace, a test aid, shows it) but not its log.
        self.assertIn("DllSetTicket2 " + TICKET, self.read_lines(self.tunnel_trace()))
        with open(log, encoding="utf-8") as f:
            text = f.read()
        self.assertIn("DllSetTicket2 ***", text)
        self.assertNotIn(TICKET, text)
        modes = self.modes_under_home({settings})
        for expected in ("Vexlan/Plugin", "Vexlan/Plugin/tunnel_2_4_1.so",
                         "Vexlan/Plugin/PKIs/Example Org", "Vexlan/Plugin/PKIs/Example Org/jdoe.p12",
                         "Vexlan/Plugin/PKIs/Example Org/ca.pem", "Vexlan/Plugin/tunnel.conf",
                         "Vexlan/Plugin/tunnel.log"):
            self.assertIn(expected, modes)
        self.assert_private(modes)

    def test_a_program_folder_open_to_others_is_narrowed_once_with_one_log_line(self):
        with self.gateway("refuse") as gateway:
            for mode, line in ((0o755, NARROWED % "0755"), (0o750, NARROWED % "0750"),
                               (0o777, NARROWED % "0777"), (0o700, None)):
                with self.subTest(mode=oct(mode)):
                    self.new_home()
                    self.write_settings([gateway.authority])
                    os.chmod(self.program, mode)
                    first = self.run_cli("vexlan://id@%s/" % gateway.authority)
                    self.assertEqual(3, first.status, first.stderr)
                    self.assertEqual(oct(0o700), oct(mode_of(self.program)))
                    narrowed = [e for e in first.log_entries() if "narrowed" in e]
                    self.assertEqual([line] if line else [], narrowed)
                    second = self.run_cli("vexlan://id@%s/" % gateway.authority)
                    self.assertEqual([], [e for e in second.log_entries() if "narrowed" in e])

    def test_the_identifier_leaves_the_process_list(self):
        identifier = "idf-3b81c4e7aa"
        with self.gateway("hostchecker", "--interval", "300", "--rounds", "5") as gateway:
            self.write_settings([gateway.authority])
            process = self.long_host_check(gateway, identifier)
            with open("/proc/%d/cmdline" % process.pid, "rb") as f:
                cmdline = f.read()
            process.send_signal(signal.SIGTERM)
            result = self.finish_watched(process)
            cookies = [r["cookies"] for r in gateway.requests()]
        self.assertEqual(143, result.status, result.stderr)
        self.assertIn(cli_test.CLI.encode(), cmdline)
        # The whole start parameter is gone, not only its identifier.
        self.assertNotIn(identifier.encode(), cmdline)
        self.assertNotIn(gateway.authority.encode(), cmdline)
        # The client went on with its own copy.
        self.assertEqual({"Vexlan-Id": identifier}, cookies[0])

    def test_no_core_file_unless_allowed(self):
        with open("/proc/sys/kernel/core_pattern", encoding="utf-8") as f:
            pattern = f.read().strip()
        if pattern.startswith("|") or "/" in pattern:
            self.skipTest("core files of this machine do not go to the working folder")

        def allow_core_files():
            hard = resource.getrlimit(resource.RLIMIT_CORE)[1]
            resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))

        def cores():
            # The client works in its program folder.
            return [n for n in os.listdir(self.program) if n.startswith(pattern.split("%")[0])]

        with self.gateway("hostchecker", "--interval", "300", "--rounds", "5") as gateway:
            # The control case first: a machine that writes no core files proves nothing.
            for allowed in ("1", None):
                with self.subTest(VEXLAN_ALLOW_CORE_DUMPS=allowed):
                    self.new_home()
                    self.write_settings([gateway.authority])
                    extra = {"VEXLAN_ALLOW_CORE_DUMPS": allowed} if allowed else {}
                    process = self.long_host_check(gateway, "id", allow_core_files, **extra)
                    process.send_signal(signal.SIGQUIT)
                    result = self.finish_watched(process)
                    self.assertEqual(-signal.SIGQUIT, result.status)
                    if allowed:
                        if not cores():
                            self.skipTest("this process writes no core files (a sanitizer "
                                          "build, or a limit)")
                    else:
                        self.assertEqual([], cores())


if __name__ == "__main__":
    cli_test.main()
