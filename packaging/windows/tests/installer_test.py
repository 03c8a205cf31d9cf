#!/usr/bin/env python3
"""The Windows installer under Wine, in the caller's Wine prefix (WINEPREFIX, a prefix made for
the test run): a silent installation puts the program folder, the Start-menu entry, the
vexlan:// link handler and the entry of the installed programs in place for the current user; a
link reaches the program with the link as its parameter; the silent uninstaller takes all of
that away and leaves the user's settings and components.

    installer_test.py --installer BUILD/packages/vexlanclient-VERSION-setup.exe \\
        --recorder BUILD/packaging/windows/command_recorder.exe [unittest arguments]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(ROOT, "apps", "vexlan-cli", "tests"))
from cli_test import wait_for, SAFETY_TIMEOUT  # noqa: E402

INSTALLER = None
RECORDER = None
VERSION = "8.4.0.24"

SCHEME_KEY = r"HKCU\Software\Classes\vexlan"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexlan Client"
# The files of the program folder (the window program joins them once the build has it).
PROGRAM_FILES = ["vexlan-cli.exe", "uninstall.exe"] + \
    ["img/" + name for name in ("config.png", "close.png", "log.png", "vpn.png",
                                "notification.png", "vexlan.ico")] + \
    ["lang/%s/LC_MESSAGES/vexlanclient.mo" % language for language in ("fr", "en", "de", "es")]


def wine_environment():
    """Wine in the caller's prefix, with a HOME of its own, and without the menu builder (which
    would turn the Start-menu entry and the link handler into desktop files of that HOME)."""
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    overrides = env.get("WINEDLLOVERRIDES", "")
    env["WINEDLLOVERRIDES"] = (overrides + ";" if overrides else "") + "winemenubuilder.exe=d"
    env["HOME"] = SANDBOX
    env["XDG_CONFIG_HOME"] = os.path.join(SANDBOX, ".config")
    env["XDG_DATA_HOME"] = os.path.join(SANDBOX, ".local", "share")
    return env


def wine(*args, check=True):
    result = subprocess.run(["wine"] + list(args), env=wine_environment(), cwd=SANDBOX,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=SAFETY_TIMEOUT)
    if check and result.returncode != 0:
        raise AssertionError("wine %s: status %d\n%s" % (" ".join(args), result.returncode,
                                                         result.stderr.decode(errors="replace")))
    return result


def linux_path(windows_path):
    return subprocess.run(["winepath", "-u", windows_path], env=wine_environment(),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                          timeout=SAFETY_TIMEOUT).stdout.decode().strip()


def windows_variable(name):
    """A variable of the prefix's user as Windows programs see it (not this process's)."""
    return wine("cmd", "/c", "echo", "%" + name + "%").stdout.decode().strip()


def reg_values(key):
    """The values of `key` itself as {name: (type, data)} ("" is the default value), or None
    when the key does not exist."""
    result = wine("reg", "query", key, check=False)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        line = line.rstrip("\r")
        if not line.startswith("    "):
            continue
        parts = line[4:].split("    ", 2)
        if len(parts) < 2:
            continue
        name = "" if parts[0] == "(Default)" else parts[0]
        values[name] = (parts[1], parts[2] if len(parts) > 2 else "")
    return values


class Profile:
    """Where the prefix's user keeps things, as Linux paths."""

    def __init__(self):
        self.local_app_data_windows = windows_variable("LOCALAPPDATA")
        self.install_windows = self.local_app_data_windows + r"\Programs\Vexlan Client"
        self.install = linux_path(self.install_windows)
        self.profile = linux_path(windows_variable("USERPROFILE"))
        self.shortcut = os.path.join(linux_path(windows_variable("APPDATA")), "Microsoft",
                                     "Windows", "Start Menu", "Programs", "Vexlan Client.lnk")
        self.local_app_data = linux_path(self.local_app_data_windows)
        # The user's data: settings and components in the profile's program folder, the log
        # file's fallback folder.
        self.user_files = [
            os.path.join(self.profile, "Vexlan", "vexlanclient.xml"),
            os.path.join(self.profile, "Vexlan", "Plugin", "vpn_2_4_1.dll"),
            os.path.join(self.local_app_data, "Vexlan", "vexlanclient.log"),
        ]

    def plant_user_files(self):
        for path in self.user_files:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write("kept: " + os.path.basename(path))


def install(profile):
    wine(INSTALLER, "/S")
    # The installer ends when its work is done.
    if not os.path.exists(os.path.join(profile.install, "uninstall.exe")):
        raise AssertionError("the installer wrote no uninstaller")


def uninstall(profile):
    """The quiet uninstaller, as the installed programs' entry gives it. It copies itself to
    the temporary folder and runs from there (so it can remove itself): the first process ends
    before the work is done, so the test waits for the entry of the installed programs to go."""
    values = reg_values(UNINSTALL_KEY)
    if values is None:
        raise AssertionError("no entry in the installed programs")
    command = re.fullmatch(r'"([^"]+)" (.*)', values["QuietUninstallString"][1])
    if not command:
        raise AssertionError("QuietUninstallString: " + values["QuietUninstallString"][1])
    wine(command.group(1), *command.group(2).split())
    wait_for(lambda: reg_values(UNINSTALL_KEY) is None and not os.path.exists(profile.install),
             "the uninstaller to finish")


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
        with open(os.path.join(self.profile.install, "vexlan-cli.exe"), "rb") as f:
            self.assertEqual(f.read(2), b"MZ")
        self.assertTrue(os.path.isfile(self.profile.shortcut), self.profile.shortcut)

    def test_installer_asks_for_no_administrator(self):
        # Wine has no elevation prompt to observe: the installer's manifest is what Windows
        # reads to decide whether to ask for one.
        with open(INSTALLER, "rb") as f:
            data = f.read()
        levels = re.findall(rb'requestedExecutionLevel level="(\w+)"', data)
        self.assertEqual(levels, [b"asInvoker"])

    def test_registry_entries_of_the_current_user(self):
        folder = self.profile.install_windows
        program = '"%s\\vexlanclient.exe"' % folder
        uninstaller = '"%s\\uninstall.exe"' % folder
        cases = [
            (SCHEME_KEY, "", "REG_SZ", "URL:Vexlan Protocol"),
            (SCHEME_KEY, "URL Protocol", "REG_SZ", ""),
            (SCHEME_KEY + r"\DefaultIcon", "", "REG_SZ", program + ",0"),
            (SCHEME_KEY + r"\shell\open\command", "", "REG_SZ", program + ' "%1"'),
            (UNINSTALL_KEY, "DisplayName", "REG_SZ", "Vexlan Client"),
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
                values = reg_values(key)
                self.assertIsNotNone(values, key)
                self.assertEqual(values.get(name), (kind, data))
        # The size in KiB, about that of the folder.
        kind, data = reg_values(UNINSTALL_KEY)["EstimatedSize"]
        self.assertEqual(kind, "REG_DWORD")
        size = sum(os.path.getsize(os.path.join(parent, name))
                   for parent, _, names in os.walk(self.profile.install) for name in names)
        self.assertGreater(int(data, 16) * 1024, size // 2)
        self.assertLess(int(data, 16) * 1024, size * 2)
        # Nothing for the whole machine.
        self.assertIsNone(reg_values(r"HKLM\Software\Classes\vexlan"))
        self.assertIsNone(reg_values(UNINSTALL_KEY.replace("HKCU", "HKLM")))

    def test_link_starts_the_registered_program_with_the_link(self):
        # Windows looks a scheme up in HKEY_CLASSES_ROOT, the user's classes over the
        # machine's; Wine 8 reads the machine's only. The user's registration is copied there
        # for the shell to find, then taken away again.
        program = os.path.join(self.profile.install, "vexlanclient.exe")
        record = program + ".cmdline"
        kept = program + ".kept"
        if os.path.exists(program):
            os.rename(program, kept)
        shutil.copyfile(RECORDER, program)
        machine_key = r"HKLM\Software\Classes\vexlan"
        try:
            wine("reg", "copy", SCHEME_KEY, machine_key, "/s", "/f")
            for link in ["vexlan://user42@127.0.0.1:4443/mediation?lang=en",
                         "vexlan://user42@127.0.0.1:4443/mediation?lang=fr&mode=a b"]:
                with self.subTest(link=link):
                    if os.path.exists(record):
                        os.remove(record)
                    wine("start", link)
                    wait_for(lambda: os.path.exists(record), "the program to be started")
                    with open(record, encoding="utf-8") as f:
                        self.assertEqual(f.read(), '"%s\\vexlanclient.exe" "%s"'
                                         % (self.profile.install_windows, link))
        finally:
            wine("reg", "delete", machine_key, "/f", check=False)
            for path in (program, record):
                if os.path.exists(path):
                    os.remove(path)
            if os.path.exists(kept):
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
                self.assertIsNone(reg_values(key))
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
            wine("reg", "add", command_key, "/ve", "/d", other, "/f")
            uninstall(profile)
            self.assertEqual(reg_values(command_key), {"": ("REG_SZ", other)})
            self.assertIsNone(reg_values(UNINSTALL_KEY))
        finally:
            wine("reg", "delete", SCHEME_KEY, "/f", check=False)


SANDBOX = None


def main():
    global INSTALLER, RECORDER, SANDBOX
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--recorder", required=True)
    args, rest = parser.parse_known_args()
    INSTALLER = os.path.abspath(args.installer)
    RECORDER = os.path.abspath(args.recorder)
    if not os.environ.get("WINEPREFIX"):
        sys.exit("installer_test.py: run it with the WINEPREFIX of a test run")
    with tempfile.TemporaryDirectory(prefix="vexlan-installer-test-") as sandbox:
        SANDBOX = sandbox
        program = unittest.main(argv=[sys.argv[0]] + rest, exit=False)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
