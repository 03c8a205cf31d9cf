#!/usr/bin/env python3
"""The Windows installer under Wine, in the caller's Wine prefix (WINEPREFIX, a prefix made for
the test run), on the Xvfb server that run-under-xvfb.sh starts around this script: a silent
installation puts the program folder, the Start-menu entry, the vexlan:// link handler and the
entry of the installed programs in place for the current user; a link to the demo gateway
starts the installed program with the link as its parameter, which runs a host-check session
and ends by itself; the silent uninstaller takes all of that away and leaves the user's
settings and components.

    run-under-xvfb.sh installer_test.py \
        --installer BUILD/packages/vexlanclient[-dev-key]-VERSION-setup.exe \
        --recorder BUILD/packaging/windows/command_recorder.exe --build BUILD \
        --sign-tool LINUX_BUILD/apps/vexlan-sign/vexlan-sign [unittest arguments]
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine-test"))
import wine_harness  # noqa: E402  (the prefix's user, the demo gateway, bounded waits)
from wine_harness import log_entries, wait_for, SAFETY_TIMEOUT  # noqa: E402

OPTIONS = None
VERSION = "8.4.0.24"

SCHEME_KEY = r"HKCU\Software\Classes\vexlan"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexlan Client"
MACHINE_SCHEME_KEY = r"HKLM\Software\Classes\vexlan"
# The files of the program folder.
PROGRAM_FILES = ["vexlanclient.exe", "vexlan-cli.exe", "uninstall.exe"] + \
    ["img/" + name for name in ("config.png", "close.png", "log.png", "vpn.png",
                                "notification.png", "vexlan.ico")] + \
    ["lang/%s/LC_MESSAGES/vexlanclient.mo" % language for language in ("fr", "en", "de", "es")]


def launcher():
    """console_launcher.exe of the build (see wine_harness.Sandbox.command)."""
    return os.path.join(OPTIONS["--build"], "apps", "vexlan-cli", "tests", "console_launcher.exe")


def development_installer():
    """An installer of a build that trusts a development component key says so in its name
    and in the installed programs."""
    return "-dev-key-" in os.path.basename(OPTIONS["--installer"])


class Profile(wine_harness.PrefixUser):
    """Where the prefix's user keeps things, as Linux paths, and the user's data."""

    def __init__(self):
        super().__init__(SANDBOX)
        self.install_windows = self.local_app_data_windows + r"\Programs\Vexlan Client"
        self.install = self.linux_path(self.install_windows)
        self.shortcut = os.path.join(self.app_data, "Microsoft", "Windows", "Start Menu",
                                     "Programs", "Vexlan Client.lnk")
        # The user's data: settings and components in the profile's program folder, the log
        # file's fallback folder.
        self.user_files = [
            os.path.join(self.program, "vexlanclient.xml"),
            os.path.join(self.program, "Plugin", "vpn_2_4_1.dll"),
            os.path.join(self.local_app_data, "Vexlan", "vexlanclient.log"),
        ]

    def plant_user_files(self):
        for path in self.user_files:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write("kept: " + os.path.basename(path))


def install(profile):
    profile.wine(OPTIONS["--installer"], "/S")
    # The installer ends when its work is done.
    if not os.path.exists(os.path.join(profile.install, "uninstall.exe")):
        raise AssertionError("the installer wrote no uninstaller")


def uninstall(profile):
    """The quiet uninstaller, as the installed programs' entry gives it. It copies itself to
    the temporary folder and runs from there (so it can remove itself): the first process ends
    before the work is done, so the test waits for the entry of the installed programs to go."""
    values = profile.reg_values(UNINSTALL_KEY)
    if values is None:
        raise AssertionError("no entry in the installed programs")
    command = re.fullmatch(r'"([^"]+)" (.*)', values["QuietUninstallString"][1])
    if not command:
        raise AssertionError("QuietUninstallString: " + values["QuietUninstallString"][1])
    profile.wine(command.group(1), *command.group(2).split())
    wait_for(lambda: (profile.reg_values(UNINSTALL_KEY) is None
                      and not os.path.exists(profile.install)), "the uninstaller to finish")


class InstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.profile = Profile()
        cls.profile.plant_user_files()
        install(cls.profile)

    def test_program_folder_holds_the_programs_images_and_catalogs(self):
        for name in PROGRAM_FILES:
            with self.subTest(name=name):
                path = os.path.join(self.profile.install, name)
                self.assertTrue(os.path.isfile(path), path)
                self.assertGreater(os.path.getsize(path), 0, path)
        for program in ("vexlanclient.exe", "vexlan-cli.exe"):
            with open(os.path.join(self.profile.install, program), "rb") as f:
                self.assertEqual(f.read(2), b"MZ")
        self.assertTrue(os.path.isfile(self.profile.shortcut), self.profile.shortcut)

    def test_installer_asks_for_no_administrator(self):
        # Wine has no elevation prompt to observe: the installer's manifest is what Windows
        # reads to decide whether to ask for one.
        with open(OPTIONS["--installer"], "rb") as f:
            data = f.read()
        levels = re.findall(rb'requestedExecutionLevel level="(\w+)"', data)
        self.assertEqual(levels, [b"asInvoker"])

    def test_registry_entries_of_the_current_user(self):
        folder = self.profile.install_windows
        program = '"%s\\vexlanclient.exe"' % folder
        uninstaller = '"%s\\uninstall.exe"' % folder
        shown = "Vexlan Client (development key)" if development_installer() else "Vexlan Client"
        cases = [
            (SCHEME_KEY, "", "REG_SZ", "URL:Vexlan Protocol"),
            (SCHEME_KEY, "URL Protocol", "REG_SZ", ""),
            (SCHEME_KEY + r"\DefaultIcon", "", "REG_SZ", program + ",0"),
            (SCHEME_KEY + r"\shell\open\command", "", "REG_SZ", program + ' "%1"'),
            (UNINSTALL_KEY, "DisplayName", "REG_SZ", shown),
            (UNINSTALL_KEY, "DisplayVersion", "REG_SZ", VERSION),
            (UNINSTALL_KEY, "Publisher", "REG_SZ", "Vexlan"),
            (UNINSTALL_KEY, "InstallLocation", "REG_SZ", folder),
            (UNINSTALL_KEY, "UninstallString", "REG_SZ", uninstaller),
            (UNINSTALL_KEY, "QuietUninstallString", "REG_SZ", uninstaller + " /S"),
            (UNINSTALL_KEY, "NoModify", "REG_DWORD", "0x1"),
            (UNINSTALL_KEY, "NoRepair", "REG_DWORD", "0x1"),
        ]
        for key, name, kind, data in cases:
            with self.subTest(key=key, name=name):
                values = self.profile.reg_values(key)
                self.assertIsNotNone(values, key)
                self.assertEqual(values.get(name), (kind, data))
        # The size in KiB, about that of the folder.
        kind, data = self.profile.reg_values(UNINSTALL_KEY)["EstimatedSize"]
        self.assertEqual(kind, "REG_DWORD")
        size = sum(os.path.getsize(os.path.join(parent, name))
                   for parent, _, names in os.walk(self.profile.install) for name in names)
        self.assertGreater(int(data, 16) * 1024, size // 2)
        self.assertLess(int(data, 16) * 1024, size * 2)
        # Nothing for the whole machine.
        self.assertIsNone(self.profile.reg_values(MACHINE_SCHEME_KEY))
        self.assertIsNone(self.profile.reg_values(UNINSTALL_KEY.replace("HKCU", "HKLM")))

    def scheme_for_the_shell(self):
        """Windows looks a scheme up in HKEY_CLASSES_ROOT, the user's classes over the
        machine's; Wine 8 reads the machine's only. The user's registration is copied there
        for the shell to find while the block runs."""
        profile = self.profile

        class Copied:
            def __enter__(self):
                profile.wine("reg", "copy", SCHEME_KEY, MACHINE_SCHEME_KEY, "/s", "/f")

            def __exit__(self, *exc):
                profile.wine("reg", "delete", MACHINE_SCHEME_KEY, "/f", check=False)

        return Copied()

    def test_link_runs_a_session_with_the_installed_program(self):
        # The link's parameters reach the gateway as they stand in the link ("&" and an
        # encoded space included: a bare space is no URL, and the program says so in its
        # connection-error dialog); the French catalog is the one installed beside the
        # program; the session ends by itself and the shell's start, waiting for the program,
        # gives its status.
        trace = os.path.join(SANDBOX, "hostchecker-trace.txt")
        env = self.profile.environment(
            VEXLAN_GATEWAYS_FILE=wine_harness.windows_path(os.path.join(SANDBOX, "gateways")),
            VEXLAN_HOSTCHECKER_TRACE=wine_harness.windows_path(trace),
            VEXLAN_TRAY_HOST="none")
        try:
            with wine_harness.demo_gateway(OPTIONS, "hostchecker", "--rounds", "1",
                                           folder=SANDBOX) as gateway, \
                    self.scheme_for_the_shell():
                self.profile.trust(gateway.authority)
                wine_harness.remove_log()
                # The shell's start runs on a desktop of its own, which the program inherits:
                # the prefix's default desktop may have been started without a display.
                result = self.profile.wine(launcher(), "--desktop", "vexlan-installer-test",
                                           "--", "start.exe", "/wait",
                                           wine_harness.link(gateway, "lang=fr&mode=a%20b"),
                                           env=env, check=False)
                requests = gateway.requests()
            log = self.profile.log()
            found = log_entries(log)
            self.assertEqual(0, result.returncode, log[-3000:])
            self.assertEqual({"lang": "fr", "mode": "a b", "clientversion": VERSION},
                             requests[0]["query"])
            self.assertEqual(["lang", "mode", "clientversion"], requests[0]["query_order"])
            self.assertEqual(["/components/hostchecker-2.4.1.zip"],
                             [r["path"] for r in requests if r["path"].startswith("/components/")])
            self.assertEqual(1, len([r for r in requests if r["method"] == "POST"]))
            self.assertEqual([], [e for e in found if e.startswith(("ERROR", "ASSERT"))])
            for entry in ["DEBUG VexlanClientNotificationPanel.onPaint first shown: "
                          "Chargement\u2026",
                          "TRACE VexlanClientHostchecker.loadDll Load 32 bits windows dll",
                          "TRACE VexlanClientGuiNotifyHandler.statusChanged 4"]:
                self.assertIn(entry, found, log[-3000:])
            # The components went to the user's program folder.
            self.assertTrue(os.path.isfile(os.path.join(self.profile.program, "hostchecker",
                                                        "2.4.1", "hostchecker.dll")))
            self.assertEqual("close", wine_harness.read_text(trace).splitlines()[-1])
        finally:
            shutil.rmtree(os.path.join(self.profile.program, "hostchecker"), ignore_errors=True)
            self.profile.plant_user_files()

    def test_link_reaches_the_program_as_one_exact_parameter(self):
        # A stand-in that records its command line shows the exact bytes the program is given
        # (the real one hides its parameter from the process list and logs none of it).
        program = os.path.join(self.profile.install, "vexlanclient.exe")
        record = program + ".cmdline"
        kept = program + ".kept"
        os.rename(program, kept)
        shutil.copyfile(OPTIONS["--recorder"], program)
        try:
            with self.scheme_for_the_shell():
                for link in ["vexlan://user42@127.0.0.1:4443/mediation?lang=en",
                             "vexlan://user42@127.0.0.1:4443/mediation?lang=fr&mode=a b"]:
                    with self.subTest(link=link):
                        if os.path.exists(record):
                            os.remove(record)
                        self.profile.wine("start", link)
                        wait_for(lambda: os.path.exists(record), "the program to be started")
                        with open(record, encoding="utf-8") as f:
                            self.assertEqual(f.read(), '"%s\\vexlanclient.exe" "%s"'
                                             % (self.profile.install_windows, link))
        finally:
            for path in (program, record):
                if os.path.exists(path):
                    os.remove(path)
            os.rename(kept, program)


class UninstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.profile = Profile()
        cls.profile.plant_user_files()
        install(cls.profile)
        uninstall(cls.profile)

    def test_leaves_nothing_but_the_users_data(self):
        self.assertFalse(os.path.exists(self.profile.install))
        self.assertFalse(os.path.exists(self.profile.shortcut))
        # Programs\ itself stays: other programs install there too.
        self.assertTrue(os.path.isdir(os.path.dirname(self.profile.install)))
        for key in (SCHEME_KEY, UNINSTALL_KEY):
            with self.subTest(key=key):
                self.assertIsNone(self.profile.reg_values(key))
        for path in self.profile.user_files:
            with self.subTest(path=path):
                with open(path, encoding="utf-8") as f:
                    self.assertEqual(f.read(), "kept: " + os.path.basename(path))


class SchemeTakenOverTest(unittest.TestCase):
    """Another program that took the vexlan scheme over since keeps it."""

    def test_uninstaller_keeps_another_programs_link_handler(self):
        profile = Profile()
        install(profile)
        other = r'"C:\Other\other.exe" "%1"'
        command_key = SCHEME_KEY + r"\shell\open\command"
        try:
            profile.wine("reg", "add", command_key, "/ve", "/d", other, "/f")
            uninstall(profile)
            self.assertEqual(profile.reg_values(command_key), {"": ("REG_SZ", other)})
            self.assertIsNone(profile.reg_values(UNINSTALL_KEY))
        finally:
            profile.wine("reg", "delete", SCHEME_KEY, "/f", check=False)


class ComponentKeyTest(unittest.TestCase):
    """An installer is made only for a build that trusts a component key of the builder's: a
    fresh tree configured like the test build but without VEXLAN_DEV_PACKAGE and without a
    key refuses, with the reason; given a key, it would make the real installer."""

    def cache_value(self, name):
        with open(os.path.join(OPTIONS["--build"], "CMakeCache.txt"), encoding="utf-8") as f:
            for line in f:
                if line.startswith(name + ":"):
                    return line.rstrip("\n").split("=", 1)[1]
        self.fail("no %s in the test build's cache" % name)

    def cmake(self, *args):
        return subprocess.run(["cmake"] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=SAFETY_TIMEOUT * 2)

    def test_installer_refused_without_a_component_key(self):
        tree = os.path.join(SANDBOX, "build-no-key")
        configure = ["-S", ROOT, "-B", tree, "-G", "Ninja", "-DVEXLAN_BUILD_TESTS=OFF",
                     "-DCMAKE_TOOLCHAIN_FILE=" + self.cache_value("CMAKE_TOOLCHAIN_FILE"),
                     "-DVEXLAN_MINGW_PREFIX=" + self.cache_value("VEXLAN_MINGW_PREFIX")]
        try:
            result = self.cmake(*configure)
            self.assertEqual(0, result.returncode, result.stdout[-3000:])
            self.assertIn("the windows-installer target refuses to run", result.stdout)
            result = self.cmake("--build", tree, "--target", "windows-installer")
            self.assertNotEqual(0, result.returncode, result.stdout[-3000:])
            self.assertIn("No installer: this build trusts the development component key",
                          result.stdout)
            self.assertIn("-DVEXLAN_DEV_PACKAGE=ON", result.stdout)
            self.assertEqual([], os.listdir(os.path.join(tree, "packages"))
                             if os.path.isdir(os.path.join(tree, "packages")) else [])
            # The builder's own key (here: the public key the first run made) lifts the
            # refusal, for the installer of the real name.
            key = os.path.join(tree, "keys", "component-signing-public.pem")
            result = self.cmake(tree, "-DVEXLAN_COMPONENT_KEY=" + key)
            self.assertEqual(0, result.returncode, result.stdout[-3000:])
            self.assertIn("Windows installer: vexlanclient-%s-setup.exe, component key %s"
                          % (VERSION, key), result.stdout)
        finally:
            shutil.rmtree(tree, ignore_errors=True)


SANDBOX = None


def main():
    global OPTIONS, SANDBOX
    OPTIONS = wine_harness.Options(["--installer", "--recorder", "--build", "--sign-tool"],
                                   __doc__.split("\n\n")[1])
    with tempfile.TemporaryDirectory(prefix="vexlan-installer-test-") as sandbox:
        SANDBOX = sandbox
        program = unittest.main(argv=[sys.argv[0]] + OPTIONS.rest, exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
