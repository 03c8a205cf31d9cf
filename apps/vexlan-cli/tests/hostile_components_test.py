#!/usr/bin/env python3
"""vexlan-cli against a hostile gateway that serves components: genuinely signed libraries
placed for a record they were not signed for, and archives that unpack to more than the
client allows. Each attempt runs in its own sandbox HOME, followed by an honest session
against the same HOME. The harness (gateway, sandbox, results) is cli_test.py's.

    hostile_components_test.py --cli BUILD/apps/vexlan-cli/vexlan-cli --build BUILD
                               [unittest arguments]
"""

import glob
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_test  # noqa: E402

HOSTCHECKER = os.path.join("hostchecker", "2.4.1", "hostchecker.so")
TUNNEL = os.path.join("Plugin", "tunnel_2_4_1.so")
MISMATCH = ("ERROR VexlanClient.verifyDllSignature Signed component does not match its record "
            "for {program}/%s: %s")
TOO_LARGE = "ERROR Zip.unzip Archive {program}/%s unpacks to more than %d bytes: extraction stopped"
TOO_MANY = "ERROR Zip.unzip Archive {program}/%s holds more than %d entries: extraction stopped"


class HostileComponentTest(cli_test.CliTestCase):
    """Each case: the attacker's scenario, the options of the attacked run, the component's
    library (relative to the program folder), the log line of the refusal, whether the
    refused library stays placed (so that the honest session must place it again), and the
    honest scenario that follows in the same HOME."""

    CASES = [
        ("attack-old-version", [], HOSTCHECKER,
         MISMATCH % (HOSTCHECKER, 'version "1.0.0" instead of "2.4.1"'), True, "hostchecker"),
        ("attack-launcher-as-tunnel", [], TUNNEL,
         MISMATCH % (TUNNEL, 'name "launcher" instead of "tunnel"'), True, "plugin-close"),
        ("attack-tunnel-as-hostchecker", [], HOSTCHECKER,
         MISMATCH % (HOSTCHECKER, 'name "tunnel" instead of "hostchecker.so"'), True,
         "hostchecker"),
        ("attack-bomb-hostchecker", ["--max-unpacked", "16384"], HOSTCHECKER,
         TOO_LARGE % ("hostchecker/hostchecker-2.4.1.zip", 16384), False, "hostchecker"),
        ("attack-bomb-plugin", ["--max-unpacked=16384"], TUNNEL,
         TOO_LARGE % ("Plugin/tunnel-2.4.1.zip", 16384), False, "plugin-close"),
        ("attack-many-entries", ["--max-entries", "50"], HOSTCHECKER,
         TOO_MANY % ("hostchecker/hostchecker-2.4.1.zip", 50), False, "hostchecker"),
    ]

    def env(self):
        env = super().env()
        # The sample tunnel with short steps; the launcher records instead of opening; and the
        # dynamic loader reports every library whose constructors it runs.
        env.update(VEXLAN_TUNNEL_TRACE=self.component_file("tunnel-trace"),
                   VEXLAN_TUNNEL_STEP_MS="50",
                   VEXLAN_LAUNCHER_RECORD=self.component_file("launcher-record"),
                   LD_DEBUG="files", LD_DEBUG_OUTPUT=self.component_file("ld"))
        suppressions = "suppressions=%s:print_suppressions=0" % os.path.join(cli_test.HERE,
                                                                             "lsan.supp")
        env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), suppressions]))
        return env

    def component_file(self, name):
        return os.path.join(self.tmp.name, "%s%d" % (name, self.homes))

    def initialised(self):
        """The libraries below the program folder whose constructors ran, per the loader."""
        paths = set()
        for path in glob.glob(self.component_file("ld") + ".*"):
            with open(path, encoding="utf-8", errors="replace") as f:
                for line in f:
                    if "calling init: " in line:
                        library = line.split("calling init: ", 1)[1].strip()
                        if library.startswith(self.program + "/"):
                            paths.add(os.path.relpath(library, self.program))
            os.remove(path)
        return paths

    def leftovers(self):
        """Staging folders and unpacked files that only a half-done placement leaves."""
        found = []
        for folder, dirs, files in os.walk(self.program):
            for name in dirs + files:
                relative = os.path.relpath(os.path.join(folder, name), self.program)
                if name.startswith(".unpack-") or relative in (
                        os.path.join("Plugin", "tunnel"), os.path.join("Plugin", "tunnel.sig")):
                    found.append(relative)
        return found

    def attack_and_recover(self, scenario, options, library, line, stays, honest):
        with self.gateway(scenario) as gateway:
            self.write_settings([gateway.authority])
            result = self.run_cli("vexlan://user42@%s/mediation?lang=en" % gateway.authority,
                                  *options)
            paths = [r["path"] for r in gateway.requests()]
        context = result.stderr + result.stdout[-3000:]
        self.assertEqual(3, result.status, context)
        self.assertEqual("failed: ", result.notifications()[-1], context)
        self.assertTrue(result.logged(line.format(program=self.program)), context)
        # A library signed as something else is refused as a bad signature is.
        self.assertEqual("verifyDllSignature" in line,
                         result.logged("ERROR VexlanClient.main Bad component signature"), context)
        # Nothing of the served library ran, and nothing went out that a running component
        # would have sent (host-check posts, the tunnel's own fetch).
        self.assertEqual(set(), self.initialised())
        for trace in (self.trace, self.component_file("tunnel-trace"),
                      self.component_file("launcher-record")):
            self.assertFalse(os.path.exists(trace), trace)
        self.assertEqual([], [p for p in paths if p.startswith(("/mediation/", "/files/"))])
        # Nothing half-placed; a refused library only where it was completely placed.
        self.assertEqual([], self.leftovers())
        placed = os.path.join(self.program, library)
        self.assertEqual(stays, os.path.isfile(placed) and os.path.isfile(placed + ".sig"))
        if library == HOSTCHECKER:
            self.assertEqual(stays, os.path.exists(os.path.dirname(placed)))

        # The organisation's own gateway, same HOME, default limits: the component is placed
        # again (never reused) and the session runs to its end.
        with self.gateway(honest, "--rounds", "1") as gateway:
            self.write_settings([gateway.authority])
            second = self.session(gateway)
            self.assertEqual(1, len(gateway.component_gets()))
        context = second.stderr + second.stdout[-3000:]
        self.assertEqual(0, second.status, context)
        self.assertEqual("status: 4 session over", second.notifications()[-1], context)
        self.assertEqual(stays, second.logged("failed its check: fetching it again"), context)
        self.assertEqual(stays, second.logged("are already present."), context)
        # The loader's report does see a component that is really loaded.
        self.assertEqual({library}, self.initialised())
        self.assertEqual([], self.leftovers())

    def test_each_attempt_is_refused_and_the_next_honest_session_is_unaffected(self):
        for scenario, options, library, line, stays, honest in self.CASES:
            with self.subTest(scenario=scenario):
                self.new_home()
                self.attack_and_recover(scenario, options, library, line, stays, honest)

    def test_unpack_limit_options(self):
        result = self.run_cli("--help")
        self.assertEqual(0, result.status)
        self.assertIn("--max-unpacked BYTES", result.stdout)
        self.assertIn("--max-entries N", result.stdout)
        for arguments in (["--max-unpacked", "0", "x"], ["--max-unpacked", "1k", "x"],
                          ["--max-entries", "-1", "x"], ["--max-entries", "4294967296", "x"],
                          ["--max-unpacked=", "x"], ["x", "--max-entries"]):
            with self.subTest(arguments=arguments):
                process = subprocess.run([cli_test.CLI] + arguments, capture_output=True,
                                         text=True, env=self.env(),
                                         timeout=cli_test.SAFETY_TIMEOUT)
                self.assertEqual(64, process.returncode, process.stderr)
                self.assertIn("usage: vexlan-cli", process.stderr)

    def test_limits_that_fit_let_the_session_run(self):
        # The honest archive holds two entries: a limit of exactly two is enough.
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            self.write_settings([gateway.authority])
            result = self.run_cli("vexlan://user42@%s/mediation?lang=en" % gateway.authority,
                                  "--max-entries", "2", "--max-unpacked", "1073741824")
        self.assert_session_over(result)


if __name__ == "__main__":
    cli_test.main()
