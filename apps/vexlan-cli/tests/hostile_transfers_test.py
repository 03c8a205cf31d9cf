#!/usr/bin/env python3
"""vexlan-cli against the demo gateway's attacker scenarios for transfers: URLs of other
protocols, a redirect to http:, a download past the cap, files whose MD5 is not the record's;
and a gateway on an IPv6 literal. Each run is checked for its exit status and log line, for
what reached a local TCP listener (the "trap" the attacks aim at), for what it left on disk,
and for the next honest session against the same home.

    hostile_transfers_test.py --cli BUILD/apps/vexlan-cli/vexlan-cli --build BUILD [unittest arguments]
"""

import os
import select
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_test  # noqa: E402  (the shared harness: gateway, sandbox home, client runs)

HOSTCHECK_DONE = ["session: host checking", "status: 2 downloading components",
                  "status: 5 host checking", "status: 4 session over"]
HOSTCHECK_PATH = "/mediation/hostchecking"
REFUSED = "ERROR ClientConfiguration.readConf Refusing %s with the scheme \"%s\": "


class Trap:
    """A loopback TCP listener that never answers: the local service of the attacks. Once the
    client has ended, a connection it made is waiting in the listen queue."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(8)
        self.port = self.socket.getsockname()[1]

    def was_reached(self):
        readable, _, _ = select.select([self.socket], [], [], 0)
        return bool(readable)

    def close(self):
        self.socket.close()


def files_under(folder):
    """Every file below `folder`, as paths relative to it."""
    found = []
    for root, _, names in os.walk(folder):
        for name in names:
            found.append(os.path.relpath(os.path.join(root, name), folder))
    return sorted(found)


class HostileTransfersTest(cli_test.CliTestCase):
    # scenario, client options, exit status, log entry (a part of one), files the run may leave
    # in the program folder besides the settings (None: not checked), honest scenario after it
    CASES = [
        ("attack-gopher-component", [], 3, REFUSED % ("urlpath", "gopher"), [], "hostchecker"),
        ("attack-dict-component", [], 3, REFUSED % ("urlpath", "dict"), [], "hostchecker"),
        ("attack-file-component", [], 3, REFUSED % ("urlpath", "file"), [], "hostchecker"),
        ("attack-http-component", [], 3, REFUSED % ("urlpath", "http"), [], "hostchecker"),
        ("attack-http-response", [], 3, REFUSED % ("responseurl", "http"), [], "hostchecker"),
        ("attack-http-pki", [], 3, REFUSED % ("urlpath", "http"), [], "plugin-close"),
        # Not followed: the archive's transfer ends with the 302, and nothing is placed (the
        # failed download's empty file stays, as after any failed download).
        ("attack-redirect-http", [], 3,
         "ERROR DownloadManager.downloadFileTo Error while downloding '", None, "hostchecker"),
        ("attack-big-archive", ["--max-download", "262144"], 3,
         "ERROR CurlSession.requestToFile reply body larger than 262144 bytes from https://",
         [], "hostchecker"),
        ("attack-archive-md5", [], 3,
         "ERROR DownloadManager.fetchFromConfig Downloaded file '{program}/hostchecker/"
         "hostchecker-2.4.1.zip' has the MD5 ", [], "hostchecker"),
        # A PKI file that cannot be fetched does not stop a tunnel session: the session runs
        # (and here ends by itself) without it.
        ("attack-pki-md5", [], 0,
         "ERROR DownloadManager.fetchFromConfig Downloaded file '{program}/Plugin/PKIs/"
         "Example Org/ca.pem' has the MD5 ", None, "plugin-close"),
    ]

    def env(self):
        env = super().env()
        env.update(VEXLAN_TUNNEL_STEP_MS="50",
                   VEXLAN_TUNNEL_TRACE=os.path.join(self.tmp.name, "tunnel%d.txt" % self.homes),
                   VEXLAN_LAUNCHER_RECORD=os.path.join(self.tmp.name, "launch%d.txt" % self.homes))
        suppressions = "suppressions=%s:print_suppressions=0" % os.path.join(
            cli_test.HERE, "lsan.supp")
        env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), suppressions]))
        return env

    def attack(self, scenario, options):
        """One session against the attacker scenario, with a fresh trap."""
        trap = Trap()
        self.addCleanup(trap.close)
        with self.gateway(scenario, "--trap", str(trap.port)) as gateway:
            self.write_settings([gateway.authority])
            result = self.run_cli("vexlan://victim@%s/mediation?lang=en" % gateway.authority,
                                  *options)
            requests = gateway.requests()
        return result, requests, trap

    def honest_session(self, scenario):
        with self.gateway(scenario, "--rounds", "1") as gateway:
            self.write_settings([gateway.authority])
            return self.session(gateway)

    def program_files(self):
        return [f for f in files_under(self.program) if f != "vexlanclient.xml"]

    def test_each_attack_is_refused_and_leaves_the_home_usable(self):
        for scenario, options, status, line, leftovers, honest in self.CASES:
            with self.subTest(scenario=scenario):
                self.new_home()
                result, requests, trap = self.attack(scenario, options)
                self.assertEqual(status, result.status, result.stderr + result.stdout[-3000:])
                self.assertTrue(result.logged(line.format(program=self.program)),
                                line + "\n" + result.stdout[-3000:])
                if status == 3:
                    self.assertEqual("failed: ", result.notifications()[-1])
                # Nothing reached the local service, no cookie went anywhere in clear.
                self.assertFalse(trap.was_reached())
                # Every request reached the gateway over https with the identifier.
                for request in requests:
                    self.assertEqual("victim", request["cookies"].get("Vexlan-Id"), request)
                if leftovers is not None:
                    self.assertEqual(leftovers, self.program_files())
                # Nothing was placed from the attack.
                self.assertFalse(os.path.exists(os.path.join(self.program, "hostchecker",
                                                             "2.4.1")))
                self.assertFalse(any(f.endswith("passwd") for f in files_under(self.home)))

                after = self.honest_session(honest)
                self.assertEqual(0, after.status, after.stderr + after.stdout[-3000:])
                self.assertEqual("status: 4 session over", after.notifications()[-1])
                if honest == "hostchecker":
                    self.assertEqual(HOSTCHECK_DONE, after.notifications())

    def test_the_pki_file_of_another_digest_is_not_kept(self):
        self.new_home()
        result, requests, _ = self.attack("attack-pki-md5", [])
        self.assertEqual(0, result.status, result.stderr)
        self.assertIn("/pki/ca.pem", [r["path"] for r in requests])
        pki = os.path.join(self.program, "Plugin", "PKIs", "Example Org")
        self.assertEqual(["jdoe.p12"], sorted(os.listdir(pki)))

    def test_max_download_option(self):
        result = self.run_cli("--help")
        self.assertIn("--max-download BYTES", result.stdout)
        for value in ("0", "ten", "-1", "", "99999999999999999999"):
            with self.subTest(value=value):
                result = self.run_cli("vexlan://id@127.0.0.1:1/", "--max-download", value)
                self.assertEqual(64, result.status, result.stderr)
                self.assertIn("--max-download needs a number of bytes", result.stderr)


def ipv6_loopback_available():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as probe:
            probe.bind(("::1", 0))
        return True
    except OSError:
        return False


class Ipv6GatewayTest(cli_test.CliTestCase):
    def test_a_gateway_on_an_ipv6_literal_gets_the_identifier(self):
        if not ipv6_loopback_available():
            self.skipTest("::1 cannot be bound on this machine: no IPv6 loopback")
        with self.gateway("hostchecker", "--host", "::1", "--rounds", "2") as gateway:
            self.assertTrue(gateway.authority.startswith("[::1]:"), gateway.authority)
            self.write_settings([gateway.authority])
            result = self.session(gateway, identifier="v6user")
            requests = gateway.requests()
        self.assert_session_over(result)
        # The bootstrap, the archive and both posts all carried the cookie.
        self.assertEqual(["/mediation", "/components/hostchecker-2.4.1.zip",
                          HOSTCHECK_PATH, HOSTCHECK_PATH],
                         [r["path"] for r in requests])
        for request in requests:
            self.assertEqual("Vexlan-Id=v6user", request["cookie_header"], request["path"])


if __name__ == "__main__":
    cli_test.main()
