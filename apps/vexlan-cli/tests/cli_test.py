#!/usr/bin/env python3
"""End-to-end tests of vexlan-cli against the demo gateway on loopback, with the real signed
sample host checker component. Each test runs the client in its own sandbox HOME.

    cli_test.py --cli BUILD/apps/vexlan-cli/vexlan-cli --build BUILD [unittest arguments]
"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo-gateway"))
import harness  # noqa: E402  (the demo gateway and the settings that trust it)

CLI = None
BUILD = None
SAFETY_TIMEOUT = 120  # seconds: a hung process fails the test instead of hanging CTest


def os_pretty_name():
    with open("/etc/os-release", encoding="utf-8") as f:
        for line in f:
            if line.startswith("PRETTY_NAME="):
                return line.split("=", 1)[1].strip().strip('"')
    return ""


def wait_for(predicate, what, timeout=SAFETY_TIMEOUT):
    """Polls until `predicate` holds; the deadline only turns a hang into a failure."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


class Result:
    def __init__(self, status, stdout, stderr):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr

    def notifications(self):
        return [line for line in self.stderr.splitlines() if line]

    def log_entries(self):
        """Log lines without their time and thread: "LEVEL class.method message"."""
        entries = []
        for line in self.stdout.splitlines():
            if "] " in line:
                entries.append(line.split("] ", 1)[1])
        return entries

    def logged(self, text):
        return any(text in entry for entry in self.log_entries())


class CliTestCase(unittest.TestCase):
    """A sandbox HOME per test, with helpers to write the settings and run the client."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vexlan-cli-test-")
        self.homes = 0
        self.new_home()

    def new_home(self):
        """A fresh HOME (and component trace) inside the test's folder, for each case of a
        table."""
        self.homes += 1
        self.home = os.path.join(self.tmp.name, "home%d" % self.homes)
        self.program = os.path.join(self.home, "Vexlan")
        os.makedirs(self.program)
        self.trace = os.path.join(self.tmp.name, "hostchecker-trace%d.txt" % self.homes)

    def tearDown(self):
        self.tmp.cleanup()

    def gateway(self, scenario, *args):
        return harness.DemoGateway(BUILD, scenario, *args, folder=self.tmp.name)

    def write_settings(self, exceptions=(), hostchecker_download=True, confirmed=None):
        """Certificate exceptions, each also a confirmed gateway unless `confirmed` says
        otherwise."""
        harness.write_settings(self.home, exceptions, confirmed, hostchecker_download)

    def env(self):
        return harness.client_environment(
            self.home, VEXLAN_HOSTCHECKER_TRACE=self.trace,
            VEXLAN_GATEWAYS_FILE=os.path.join(self.tmp.name, "gateways"))

    def start(self, parameter, *options):
        return subprocess.Popen([CLI] + list(options) + [parameter], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, errors="replace",
                                env=self.env(), cwd=self.tmp.name)

    def finish(self, process):
        try:
            stdout, stderr = process.communicate(timeout=SAFETY_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            stdout, stderr = process.communicate()
            self.fail("vexlan-cli did not end:\n" + stderr)
        return Result(process.returncode, stdout, stderr)

    def run_cli(self, parameter, *options):
        return self.finish(self.start(parameter, *options))

    def session(self, gateway, identifier="user42", path="/mediation", query="lang=en"):
        return self.run_cli("vexlan://%s@%s%s?%s" % (identifier, gateway.authority, path, query))

    def trace_lines(self):
        if not os.path.exists(self.trace):
            return []
        with open(self.trace, encoding="utf-8") as f:
            return f.read().splitlines()

    def assert_session_over(self, result):
        lines = result.notifications()
        self.assertEqual(0, result.status, result.stderr + result.stdout[-3000:])
        self.assertEqual(["session: host checking", "status: 2 downloading components",
                          "status: 5 host checking", "status: 4 session over"], lines)

    def session_with_dll_field(self, scenario, field, value):
        """A session in a fresh home against a gateway whose component record has `field` set
        to `value`; no component may be fetched."""
        self.new_home()
        with self.gateway(scenario, "--dll-field", "%s=%s" % (field, value)) as gw:
            self.write_settings([gw.authority])
            result = self.session(gw)
            self.assertEqual([], gw.component_gets())
        return result


class CommandLineTest(CliTestCase):
    def test_version_help_and_usage_errors(self):
        result = self.run_cli("--version")
        self.assertEqual((0, "8.4.0.24\n"), (result.status, result.stdout))
        result = self.run_cli("--help")
        self.assertEqual(0, result.status)
        self.assertIn("--connect-timeout", result.stdout)
        for arguments in (["--bogus", "x"], ["--connect-timeout"], ["--stall-timeout", "ten", "x"],
                          ["a", "b"], []):
            process = subprocess.run([CLI] + arguments, capture_output=True, text=True,
                                     env=self.env(), timeout=SAFETY_TIMEOUT)
            self.assertEqual(64, process.returncode, arguments)
            self.assertIn("usage: vexlan-cli", process.stderr)

    def test_unreachable_gateway_is_a_connection_failure(self):
        # A port nobody listens on: the gateway is started and stopped to find a free one.
        with self.gateway("refuse") as gateway:
            authority = gateway.authority
        result = self.run_cli("vexlan://id@%s/" % authority)
        self.assertEqual(2, result.status, result.stderr)
        self.assertEqual(1, len(result.notifications()))
        self.assertTrue(result.notifications()[0].startswith("connection-failed: Code: 7"),
                        result.stderr)


class GatewayRequestTest(CliTestCase):
    def test_request_as_the_gateway_sees_it(self):
        with self.gateway("refuse") as gateway:
            self.write_settings([gateway.authority])
            result = self.run_cli("http://alice@%s/base/a%%20b/med?lang=fr&x=a%%2Fb"
                                  "&clientversion=1.0&z=" % gateway.authority)
            request = gateway.requests()[0]
        self.assertEqual(3, result.status, result.stderr)
        # https was used (the gateway speaks nothing else), path and query kept as written,
        # "clientversion" replaced in its place.
        self.assertEqual("/base/a%20b/med?lang=fr&x=a%2Fb&clientversion=8.4.0.24&z",
                         request["raw_path"])
        self.assertEqual("Vexlan-Id=alice", request["cookie_header"])
        self.assertEqual("VexlanClient 8.4.0.24 " + os_pretty_name(), request["user_agent"])
        self.assertEqual(gateway.authority, request["host"])

    def test_gateway_refuses_a_bootstrap_without_clientversion_or_cookie(self):
        import ssl
        import urllib.request
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        with self.gateway("hostchecker") as gateway:
            for query, cookie, refusal in (("", "Vexlan-Id=a", "missing clientversion"),
                                           ("?clientversion=8.4.0.24", None,
                                            "missing Vexlan-Id cookie")):
                with self.subTest(refusal=refusal):
                    request = urllib.request.Request(gateway.base_url + "/mediation" + query)
                    if cookie:
                        request.add_header("Cookie", cookie)
                    with urllib.request.urlopen(request, context=context, timeout=30) as reply:
                        envelope = json.loads(reply.read())
                    self.assertEqual((False, refusal),
                                     (envelope["success"], envelope.get("exception")))

    def test_clientversion_added_and_empty_identifier_without_at_sign(self):
        with self.gateway("refuse") as gateway:
            self.write_settings([gateway.authority])
            result = self.run_cli("https://%s/m?lang=de" % gateway.authority)
            request = gateway.requests()[0]
        self.assertEqual(3, result.status, result.stderr)
        self.assertEqual(["lang", "clientversion"], request["query_order"])
        self.assertEqual("8.4.0.24", request["query"]["clientversion"])
        # The cookie reaches a gateway with a port: its domain is the host alone.
        self.assertEqual({"Vexlan-Id": ""}, request["cookies"])


class CertificateExceptionTest(CliTestCase):
    CASES = [
        # (settings entry, host used in the start parameter, accepted)
        ("{authority}", "127.0.0.1", True),
        ("localhost:{port}", "localhost", True),
        ("127.0.0.1:{other}", "127.0.0.1", False),
        ("127.0.0.1", "127.0.0.1", False),
        ("LOCALHOST:{port}", "localhost", False),
    ]

    def test_exceptions_are_compared_byte_for_byte_with_the_authority(self):
        with self.gateway("refuse") as gateway:
            for entry, host, accepted in self.CASES:
                with self.subTest(entry=entry, host=host):
                    self.new_home()
                    self.write_settings([entry.format(authority=gateway.authority,
                                                      port=gateway.port,
                                                      other=gateway.port + 1)])
                    before = len(gateway.requests())
                    result = self.run_cli("vexlan://id@%s:%d/" % (host, gateway.port))
                    if accepted:
                        self.assertEqual(3, result.status, result.stderr)
                        self.assertEqual(before + 1, len(gateway.requests()))
                    else:
                        self.assertEqual(2, result.status, result.stderr)
                        self.assertTrue(result.stderr.startswith("connection-failed: "))
                        self.assertEqual(before, len(gateway.requests()))


class HostCheckSessionTest(CliTestCase):
    def test_session_end_to_end_with_encoded_rules(self):
        special = os.path.join(self.tmp.name, "a&b=c d")
        open(special, "w").close()
        request = "file:%s;os:linux;missing:rule;file:/etc/os-release" % special
        with self.gateway("hostchecker", "--request", request, "--rounds", "3") as gateway:
            self.write_settings([gateway.authority])
            result = self.session(gateway)
            posts = gateway.posts()
        self.assert_session_over(result)
        answer = "file:%s;os:linux;file:/etc/os-release" % special
        expected = "rulesChecked=" + urllib.parse.quote(answer, safe="-._~")
        self.assertIn("%3B", expected)
        self.assertEqual([expected] * 3, [post["body"] for post in posts])
        self.assertTrue(all(post["path"] == "/mediation/hostchecking" for post in posts))
        # hostcheckingtimer 0: checks one second apart.
        for first, second in zip(posts, posts[1:]):
            self.assertGreaterEqual(second["time"] - first["time"], 0.9)
        trace = self.trace_lines()
        folder = os.path.join(self.program, "hostchecker") + "/"
        self.assertEqual("init|||%s|127.0.0.1|en" % folder, trace[0])
        self.assertEqual(["check|%s|%s" % (request, answer)] * 3, trace[1:4])
        # Closed when the loop ended and again when the component was released.
        self.assertEqual(["close", "close"], trace[4:])
        self.assertTrue(result.logged("TRACE VexlanClientHostchecker.sendResponse round 3"))
        self.assertTrue(result.logged("TRACE VexlanClientHostchecker.loadDll "
                                      "Load 64 bits linux library"))
        library = os.path.join(folder, "2.4.1", "hostchecker.so")
        self.assertTrue(os.path.isfile(library) and os.path.isfile(library + ".sig"))

    def test_reply_variants_end_the_loop_after_one_round(self):
        cases = [
            ("nocontinue", None),
            ("notjson", "ERROR VexlanClientHostchecker.run Bad response from mediation"),
            ("refused", "ERROR VexlanClientHostchecker.main host check refused"),
            ("reset", "ERROR VexlanClientHostchecker.run Error while sending response"),
        ]
        for reply, line in cases:
            with self.subTest(reply=reply):
                self.new_home()
                with self.gateway("hostchecker", "--post-reply", reply, "--rounds", "5") as gw:
                    self.write_settings([gw.authority])
                    result = self.session(gw)
                    self.assertEqual(1, len(gw.posts()))
                self.assert_session_over(result)
                if line:
                    self.assertTrue(result.logged(line), result.stdout)
                self.assertEqual(["close", "close"], self.trace_lines()[-2:])

    def test_second_run_fetches_nothing(self):
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            self.write_settings([gateway.authority])
            self.assert_session_over(self.session(gateway))
            self.assertEqual(1, len(gateway.component_gets()))
            result = self.session(gateway)
            self.assert_session_over(result)
            self.assertEqual(1, len(gateway.component_gets()))
        self.assertTrue(result.logged("are already present."))

    def test_damaged_cached_component_is_placed_again(self):
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            self.write_settings([gateway.authority])
            self.assert_session_over(self.session(gateway))
            library = os.path.join(self.program, "hostchecker", "2.4.1", "hostchecker.so")
            with open(library, "r+b") as f:
                f.seek(100)
                byte = f.read(1)
                f.seek(100)
                f.write(bytes([byte[0] ^ 0xFF]))
            result = self.session(gateway)
            # The archive kept beside it still has the expected MD5: no second transfer.
            self.assertEqual(1, len(gateway.component_gets()))
        self.assert_session_over(result)
        self.assertTrue(result.logged("ERROR FileSignature.verify bad hash "))
        self.assertTrue(result.logged("failed its check: fetching it again"))

    def test_downloads_forbidden_uses_what_is_there(self):
        with self.gateway("hostchecker") as gateway:
            self.write_settings([gateway.authority], hostchecker_download=False)
            result = self.session(gateway)
            self.assertEqual([], gateway.component_gets())
        self.assertEqual(3, result.status)
        self.assertTrue(result.logged("TRACE VexlanClientHostchecker.downloadDll "
                                      "Not downloading dll according to configuration"))
        self.assertTrue(result.logged("ERROR SignedDll.loadFromFile Missing signature file: " +
                                      self.program + "/hostchecker/2.4.1/hostchecker.so.sig"))
        self.assertEqual(["session: host checking", "status: 2 downloading components",
                          "failed: "], result.notifications())

    def test_sigterm_during_a_long_wait_ends_the_session(self):
        with self.gateway("hostchecker", "--interval", "300", "--rounds", "5") as gateway:
            self.write_settings([gateway.authority])
            process = self.start("vexlan://id@%s/" % gateway.authority)
            wait_for(lambda: len(gateway.posts()) == 1, "the first post")
            wait_for(lambda: len(self.trace_lines()) >= 2, "the first check")
            # SIGUSR1 (the logs action) does nothing to a host check, and does not kill.
            process.send_signal(signal.SIGUSR1)
            process.send_signal(signal.SIGTERM)
            result = self.finish(process)
            self.assertEqual(1, len(gateway.posts()))
        self.assertEqual(143, result.status, result.stderr)
        self.assertEqual("status: 4 session over", result.notifications()[-1])
        self.assertEqual(["close", "close"], self.trace_lines()[-2:])

    def test_signal_before_a_session_exists_ends_at_once(self):
        for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            with self.subTest(signal=sig):
                self.new_home()
                with self.gateway("stall") as gateway:
                    self.write_settings([gateway.authority])
                    process = self.start("vexlan://id@%s/" % gateway.authority,
                                         "--stall-timeout", "600")
                    wait_for(lambda: len(gateway.requests()) == 1, "the bootstrap request")
                    process.send_signal(sig)
                    result = self.finish(process)
                self.assertEqual(status, result.status, result.stderr)
                self.assertEqual([], result.notifications())


class FailureScenarioTest(CliTestCase):
    CASES = [
        # scenario, extra gateway arguments, exit status, expected log entry, session started
        ("refuse", [], 3, "ERROR VexlanClient.main", False),
        ("badjson", [], 3, "-> client:155", False),
        ("http404", [], 3, "ERROR VexlanClient.main mediation response is HTTP.404", False),
        ("http500", ["--rounds", "1"], 0, "ERROR VexlanClient.main mediation response is HTTP.500",
         True),
        ("unknown-type", [], 3, "-> client:155", False),
        ("badsig", [], 3, "ERROR FileSignature.verify bad hash ", True),
        ("otherkey", [], 3, "ERROR FileSignature.verify bad signature", True),
        ("truncated", [], 3, "ERROR Zip.unzip Cannot open zip file: ", True),
        ("nosig", [], 3, "ERROR SignedDll.loadFromFile Missing signature file: ", True),
        ("nolinux64", [], 3, "ERROR VexlanClientHostchecker.downloadDll "
         "No linux64 component in the configuration", True),
        ("badutf8", [], 3, "ERROR VexlanClient.main bad ", False),
        ("deepjson", [], 3, "-> client:155", False),
        ("reset", [], 2, None, False),
        ("bigbody", [], 2, None, False),
    ]

    def test_each_failure_maps_to_its_log_line_and_exit_status(self):
        for scenario, args, status, line, started in self.CASES:
            with self.subTest(scenario=scenario):
                self.new_home()
                with self.gateway(scenario, *args) as gateway:
                    self.write_settings([gateway.authority])
                    result = self.session(gateway)
                self.assertEqual(status, result.status, result.stderr + result.stdout[-2000:])
                if line:
                    self.assertTrue(result.logged(line), result.stdout[-3000:])
                lines = result.notifications()
                self.assertEqual(started, "session: host checking" in lines, lines)
                if status == 3:
                    self.assertEqual("failed: ", lines[-1])
                    self.assertTrue(result.logged("Bad component signature") ==
                                    (scenario in ("badsig", "otherkey", "nosig")))
                if status == 2:
                    self.assertEqual(1, len(lines))
                    self.assertTrue(lines[0].startswith("connection-failed: "), lines)

    def test_stalled_reply_gives_up_after_the_stall_timeout(self):
        with self.gateway("stall") as gateway:
            self.write_settings([gateway.authority])
            result = self.run_cli("vexlan://id@%s/" % gateway.authority, "--stall-timeout", "1")
        self.assertEqual(2, result.status, result.stderr)

    def test_partial_archive_leaves_no_half_component(self):
        with self.gateway("nosig") as gateway:
            self.write_settings([gateway.authority])
            result = self.session(gateway)
        self.assertEqual(3, result.status)
        folder = os.path.join(self.program, "hostchecker")
        # Neither the library alone nor the staging folder is left behind.
        self.assertEqual(["hostchecker-2.4.1.zip"], sorted(os.listdir(folder)))


class GatewayTextsAsPathsTest(CliTestCase):
    CASES = [
        ("version", "../../escaped", "version"),
        ("version", "..", "version"),
        ("pattern", "../hostchecker.so", "pattern"),
        ("pattern", "sub/hostchecker.so", "pattern"),
        ("pattern", "a\\b.so", "pattern"),
        ("filename", "../../escaped.zip", "file name"),
        ("filename", ".hidden.zip", "file name"),
    ]

    def test_texts_that_would_leave_the_component_folder_are_refused(self):
        for field, value, what in self.CASES:
            with self.subTest(field=field, value=value):
                result = self.session_with_dll_field("hostchecker", field, value)
                self.assertEqual(3, result.status, result.stderr)
                self.assertTrue(result.logged(
                    "ERROR VexlanClientHostchecker.downloadDll Refusing %s outside the "
                    "component folder: \"%s\"" % (what, value)), result.stdout[-2000:])
                self.assertFalse(os.path.exists(os.path.join(self.home, "escaped")))
                self.assertFalse(os.path.exists(os.path.join(self.program, "hostchecker")))


class PluginSessionTest(CliTestCase):
    """Plugin sessions with the sample tunnel and launcher components. The tunnel's steps are
    shortened (VEXLAN_TUNNEL_STEP_MS) and it traces every export call but the polls; the
    launcher records what it would open instead of starting a browser."""

    CONNECTED = ["session: plugin", "status: 2 downloading components", "message: init",
                 "message: authenticating", "message: getconfig",
                 "message: connected ip=10.8.0.2"]

    def env(self):
        env = super().env()
        env.update(VEXLAN_TUNNEL_TRACE=self.tunnel_trace(), VEXLAN_TUNNEL_STEP_MS="50",
                   VEXLAN_LAUNCHER_RECORD=self.launcher_record())
        suppressions = "suppressions=%s:print_suppressions=0" % os.path.join(HERE, "lsan.supp")
        env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), suppressions]))
        return env

    def tunnel_trace(self):
        return os.path.join(self.tmp.name, "tunnel-trace%d.txt" % self.homes)

    def launcher_record(self):
        return os.path.join(self.tmp.name, "launcher-record%d.txt" % self.homes)

    def read_lines(self, path):
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def plugin_folder(self):
        return os.path.join(self.program, "Plugin")

    def start_watched(self, gateway):
        """Starts a session whose notifications can be watched while it runs."""
        process = self.start("vexlan://user42@%s/mediation?lang=en" % gateway.authority)
        watched = {"stderr": [], "stdout": []}

        def pump(stream, lines):
            for line in stream:
                lines.append(line)
        threads = [threading.Thread(target=pump, args=(process.stderr, watched["stderr"]),
                                    daemon=True),
                   threading.Thread(target=pump, args=(process.stdout, watched["stdout"]),
                                    daemon=True)]
        for thread in threads:
            thread.start()
        process.watched = watched
        process.pumps = threads
        return process

    def notified(self, process, line):
        return line + "\n" in process.watched["stderr"]

    def finish_watched(self, process):
        try:
            process.wait(timeout=SAFETY_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            self.fail("vexlan-cli did not end")
        for thread in process.pumps:
            thread.join()
        process.stdout.close()
        process.stderr.close()
        return Result(process.returncode, "".join(process.watched["stdout"]),
                      "".join(process.watched["stderr"]))

    def expected_trace(self, gateway):
        folder = self.plugin_folder() + "/"
        return [
            "DllCreatePluginFrontal",
            "DllSetDllVersion2 2.4.1",
            "DllSetPluginDir2 " + folder,
            "DllSetProxy2 1|no|||***||save:no",
            "DllSetLogin2 jdoe",
            "DllSetOrganization2 Example Org",
            "DllSetHostname2 " + gateway.authority,
            "DllSetServer2 " + gateway.authority,
            "DllSetSuffix2 CL-9c41e2",
            "DllSetTicket2 TK-7f3a9c2e51d04b8a",
            "DllSetSessionId2 SID-000042-1a2b",
            "DllSetCertDirectory2 " + folder + "PKIs/Example Org/",
            "DllSetCertFileName2 jdoe.p12",
            "DllSetCaFileName2 ca.pem",
            "DllSetCertPassword2 ***",
            "DllSetDownloadDelegate2 set",
            "DllAddSslServerCertificateName 127.0.0.1",
            "DllAddSslServerCertificateName vpn.example.test",
            "DllStart2",
        ]

    def test_tunnel_session_ends_on_a_signal_with_dllstop2(self):
        for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            with self.subTest(signal=sig):
                self.new_home()
                with self.gateway("plugin") as gateway:
                    self.write_settings([gateway.authority])
                    process = self.start_watched(gateway)
                    wait_for(lambda: self.notified(process, self.CONNECTED[-1]), "connected")
                    # The logs action: the tunnel's commands write its log into its folder.
                    log = os.path.join(self.plugin_folder(), "tunnel.log")
                    process.send_signal(signal.SIGUSR1)
                    wait_for(lambda: os.path.exists(log), "the tunnel's log")
                    process.send_signal(sig)
                    result = self.finish_watched(process)
                    paths = [r["path"] for r in gateway.requests()]
                self.assertEqual(status, result.status, result.stderr + result.stdout[-3000:])
                self.assertEqual(self.CONNECTED + ["status: 4 session over"],
                                 result.notifications())
                trace = self.read_lines(self.tunnel_trace())
                self.assertEqual(self.expected_trace(gateway), trace[:19])
                self.assertEqual(["DllGetLogs2", "DllExecute2 stats||",
                                  "DllExecute2 writelog tunnel.log||", "DllStop2"], trace[19:])
                self.assertIn("state connected ip=10.8.0.2", "\n".join(self.read_lines(log)))
                # The component, the PKI files (CA before certificate), then the tunnel's own
                # fetch through the download delegate.
                self.assertEqual(["/components/tunnel-2.4.1.zip", "/pki/ca.pem", "/pki/jdoe.p12",
                                  "/files/tunnel.conf"], paths[1:])
                pki = os.path.join(self.plugin_folder(), "PKIs", "Example Org")
                self.assertEqual(["ca.pem", "jdoe.p12"], sorted(os.listdir(pki)))
                self.assertTrue(result.logged("TRACE VexlanClientPluginDll.loadDll Module loaded"))

    def test_signal_while_the_session_starts_still_stops_the_plugin(self):
        # The signal lands just before the sub-client exists (the program then ends at once,
        # nothing loaded), during placement (the run stops before loading: nothing started),
        # or during loading (the plugin is started, polled once and stopped): a plugin that
        # was started is always stopped.
        with self.gateway("plugin") as gateway:
            self.write_settings([gateway.authority])
            process = self.start_watched(gateway)
            wait_for(lambda: self.notified(process, "session: plugin"), "the plugin session")
            process.send_signal(signal.SIGINT)
            result = self.finish_watched(process)
        self.assertEqual(130, result.status, result.stderr + result.stdout[-3000:])
        trace = self.read_lines(self.tunnel_trace())
        if trace:
            self.assertEqual("status: 4 session over", result.notifications()[-1])
            self.assertEqual(["DllStart2", "DllStop2"], trace[-2:])
        else:
            self.assertIn(result.notifications()[-1],
                          ("session: plugin", "status: 2 downloading components"))

    def test_plugin_asking_to_close_ends_the_session(self):
        for scenario in ("plugin-close", "plugin-close-slow"):
            with self.subTest(scenario=scenario):
                self.new_home()
                with self.gateway(scenario) as gateway:
                    self.write_settings([gateway.authority])
                    result = self.session(gateway)
                self.assertEqual(0, result.status, result.stderr + result.stdout[-3000:])
                self.assertEqual(self.CONNECTED + ["status: 4 session over"],
                                 result.notifications())
                self.assertEqual("DllStop2", self.read_lines(self.tunnel_trace())[-1])
                self.assertFalse(result.logged("closeRequest canceled"))

    def test_session_without_tunnel_returns_at_once(self):
        with self.gateway("notunnel") as gateway:
            self.write_settings([gateway.authority])
            result = self.session(gateway)
        self.assertEqual(0, result.status, result.stderr + result.stdout[-3000:])
        self.assertEqual(["session: plugin without tunnel", "status: 4 session over"],
                         result.notifications())
        self.assertEqual(["1 rdp://desktop.example.test:3389"],
                         self.read_lines(self.launcher_record()))
        self.assertTrue(result.logged("TRACE VexlanClientPluginDllNoTunnel.loadDll "
                                      "Load 64 bits linux library"))
        library = os.path.join(self.plugin_folder(), "launcher_2_4_1.so")
        self.assertTrue(os.path.isfile(library) and os.path.isfile(library + ".sig"))

    def test_library_is_named_after_pattern_and_version_and_replaced_on_a_new_version(self):
        folder = self.plugin_folder()
        with self.gateway("plugin-close") as gateway:
            self.write_settings([gateway.authority])
            self.assertEqual(0, self.session(gateway).status)
            self.assertEqual(1, len(gateway.component_gets()))
            second = self.session(gateway)
            self.assertEqual(0, second.status)
            self.assertEqual(1, len(gateway.component_gets()))
        self.assertTrue(second.logged("tunnel_2_4_1.so.sig are already present."))
        with self.gateway("plugin-close", "--dll-field", "version=2.5") as gateway:
            self.write_settings([gateway.authority])
            third = self.session(gateway)
        self.assertEqual(0, third.status, third.stdout[-3000:])
        self.assertTrue(third.logged("TRACE VexlanClientPluginDll.downloadDllWindows "
                                     "Downloading dll."))
        versions = [line for line in self.read_lines(self.tunnel_trace())
                    if line.startswith("DllSetDllVersion2")]
        self.assertEqual(["DllSetDllVersion2 2.4.1"] * 2 + ["DllSetDllVersion2 2.5"], versions)
        names = sorted(n for n in os.listdir(folder) if n.startswith("tunnel_"))
        self.assertEqual(["tunnel_2_4_1.so", "tunnel_2_4_1.so.sig", "tunnel_2_5.so",
                          "tunnel_2_5.so.sig"], names)

    def test_damaged_cached_plugin_is_placed_again(self):
        with self.gateway("plugin-close") as gateway:
            self.write_settings([gateway.authority])
            self.assertEqual(0, self.session(gateway).status)
            library = os.path.join(self.plugin_folder(), "tunnel_2_4_1.so")
            with open(library, "r+b") as f:
                f.seek(100)
                byte = f.read(1)
                f.seek(100)
                f.write(bytes([byte[0] ^ 0xFF]))
            result = self.session(gateway)
            # The archive kept beside it still has the expected MD5: no second transfer.
            self.assertEqual(1, len(gateway.component_gets()))
        self.assertEqual(0, result.status, result.stderr + result.stdout[-3000:])
        self.assertTrue(result.logged("ERROR FileSignature.verify bad hash "))
        self.assertTrue(result.logged("failed its check: fetching it again"))
        self.assertEqual("DllStop2", self.read_lines(self.tunnel_trace())[-1])

    def test_gateway_texts_that_would_leave_the_plugin_folder_are_refused(self):
        for field, value, what in (("pattern", "../tunnel", "pattern"),
                                   ("version", "../../escaped", "version")):
            with self.subTest(field=field, value=value):
                result = self.session_with_dll_field("plugin", field, value)
                self.assertEqual(3, result.status, result.stderr)
                self.assertTrue(result.logged(
                    "ERROR VexlanClientPluginDll.downloadDllWindows Refusing %s outside the "
                    "component folder: \"%s\"" % (what, value)), result.stdout[-2000:])
                self.assertEqual([], self.read_lines(self.tunnel_trace()))


class GatewayPolicyTest(CliTestCase):
    """vexlan-cli is typed by a person: it asks for no confirmation, and honours only the
    administrator's "only-listed"."""

    def write_administrator_file(self, text):
        with open(os.path.join(self.tmp.name, "gateways"), "w", encoding="utf-8") as f:
            f.write(text)

    def test_only_listed_refuses_other_gateways_before_anything_is_sent(self):
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            self.write_settings([gateway.authority])
            self.write_administrator_file("# this computer\nonly-listed\ngw.example.com\n")
            result = self.session(gateway)
            self.assertEqual([], gateway.requests())
        refusal = "the gateway %s is not allowed on this computer" % gateway.authority
        self.assertEqual(3, result.status, result.stderr)
        self.assertEqual(["failed: " + refusal], result.notifications())
        self.assertIn("ERROR VexlanClient.main " + refusal, result.log_entries())
        self.assertEqual(["Vexlan"], os.listdir(self.home))

    def test_a_listed_gateway_or_no_only_listed_runs_without_confirmation(self):
        for administrator in ("only-listed\n127.0.0.1:{port}  # the demo gateway\n",
                              "other.example\n", None):
            with self.subTest(administrator=administrator):
                self.new_home()
                path = os.path.join(self.tmp.name, "gateways")
                if administrator is None:
                    if os.path.exists(path):
                        os.remove(path)
                with self.gateway("hostchecker", "--rounds", "1") as gateway:
                    if administrator is not None:
                        self.write_administrator_file(administrator.format(port=gateway.port))
                    self.write_settings([gateway.authority], confirmed=())
                    result = self.session(gateway)
                self.assert_session_over(result)


def main():
    """Runs the calling script's tests: --cli and --build, then unittest's own arguments."""
    global CLI, BUILD
    args = sys.argv[1:]
    rest = []
    while args:
        name = args.pop(0)
        if name == "--cli":
            CLI = os.path.abspath(args.pop(0))
        elif name == "--build":
            BUILD = os.path.abspath(args.pop(0))
        else:
            rest.append(name)
    if not CLI or not BUILD:
        sys.exit("usage: %s --cli VEXLAN_CLI --build BUILD_DIR [unittest arguments]"
                 % os.path.basename(sys.argv[0]))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
