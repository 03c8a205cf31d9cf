#!/usr/bin/env python3
"""Test support for the Windows programs under Wine, shared by the session tests of
vexlan-cli.exe, the window program's process tests and the installer's test. They run in the
Wine prefix of the caller (WINEPREFIX: scripts/test-windows.sh makes one per run) and use:

- `Options`: the command-line options they share (--build, --launcher, --sign-tool, ...);
- `Sandbox`: a profile of a test's own (settings, components) outside the prefix, which
  console_launcher.exe hands to the program: Wine rebuilds USERPROFILE, APPDATA and
  LOCALAPPDATA from the prefix's registry for a program started from Linux;
- `PrefixUser`: the prefix's own user, for programs that Windows starts itself (a vexlan://
  link followed by the shell): the folders as Linux paths, the registry, the settings;
- `demo_gateway()`: the demo gateway on Linux loopback offering the Windows components, packed
  with a Linux build's vexlan-sign; the settings written by `trust()` confirm it in advance so
  that no question is asked;
- `work_folder()`: where the programs start, so that their log is the run's own;
- `wait_for()` and SAFETY_TIMEOUT: waits on a condition, bounded only to turn a hang into a
  failure.
"""

import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo-gateway"))
import harness  # noqa: E402  (the demo gateway and the settings that trust it)

SAFETY_TIMEOUT = 180  # seconds: a hung program fails its test instead of hanging the run


def work_folder():
    """The folder the programs are started in: C:\\tmp of the run's prefix. The log's fixed path
    "/tmp/vexlanclient.log" is taken on the current drive, so the log lands in this folder,
    private to the run, instead of the Linux /tmp that other runs on the machine write to."""
    folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "tmp")
    os.makedirs(folder, exist_ok=True)
    return folder


def log_file():
    return os.path.join(work_folder(), "vexlanclient.log")


def wait_for(predicate, what, timeout=SAFETY_TIMEOUT):
    """Polls until `predicate` returns a true value and returns it; the deadline only turns a
    hang into a failure."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def windows_path(path):
    """The Windows form of a Linux path: Wine's drive Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def launcher_command(launcher, program, home, *arguments, desktop=None, **variables):
    """`wine console_launcher.exe [--desktop NAME] NAME=VALUE... -- PROGRAM ARGUMENT...` with
    the profile folders of `home` (Wine rebuilds them from the registry for a program started
    from Linux, so the Windows parent sets them) and `variables`; a window program goes on a
    desktop of its own (see console_launcher.c)."""
    profile = windows_path(home)
    settings = {
        "USERPROFILE": profile,
        "APPDATA": profile + "\\AppData\\Roaming",
        "LOCALAPPDATA": profile + "\\AppData\\Local",
    }
    settings.update(variables)
    return ["wine", launcher] + (["--desktop", desktop] if desktop else []) + \
        ["%s=%s" % item for item in settings.items()] + \
        ["--", windows_path(program)] + list(arguments)


def log_entries(text):
    """Log lines without their time and thread: "LEVEL class.method message"."""
    return [line.split("] ", 1)[1].rstrip("\r") for line in text.splitlines() if "] " in line]


def read_text(path):
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def remove_log():
    if os.path.exists(log_file()):
        os.remove(log_file())


def wine_environment(home, **extra):
    """The environment of a Wine run for the sandbox HOME (harness.client_environment): Wine's
    own diagnostics off unless the caller asked for them, and without the menu builder, which
    would turn Start-menu entries and link handlers into desktop files of that HOME."""
    env = harness.client_environment(home, **extra)
    env["XDG_DATA_HOME"] = os.path.join(home, ".local", "share")
    env.setdefault("WINEDEBUG", "-all")
    overrides = env.get("WINEDLLOVERRIDES", "")
    env["WINEDLLOVERRIDES"] = (overrides + ";" if overrides else "") + "winemenubuilder.exe=d"
    return env


class Options:
    """The options of a Wine test script: each NAME of `names` ("--build", ...) takes a path,
    made absolute; the other arguments are left for unittest."""

    def __init__(self, names, usage, argv=None):
        args = list(sys.argv[1:] if argv is None else argv)
        self.paths = {}
        self.rest = []
        while args:
            name = args.pop(0)
            if name in names and args:
                self.paths[name] = os.path.abspath(args.pop(0))
            else:
                self.rest.append(name)
        missing = [name for name in names if name not in self.paths]
        if missing:
            sys.exit("missing %s\n%s" % (" ".join(missing), usage))
        if "--sign-tool" in self.paths and not os.access(self.paths["--sign-tool"], os.X_OK):
            sys.exit("no Linux vexlan-sign at %s (build the Linux tree first)"
                     % self.paths["--sign-tool"])
        if not os.environ.get("WINEPREFIX"):
            sys.exit("run it with the WINEPREFIX of a test run (scripts/test-windows.sh)")

    def __getitem__(self, name):
        return self.paths[name]


def demo_gateway(options, scenario, *args, folder):
    """The demo gateway for the Windows programs: the "win32" and "win64" records, packed with
    the Linux vexlan-sign of `options`."""
    return harness.DemoGateway(options["--build"], scenario, "--platform", "windows",
                               "--sign-tool", options["--sign-tool"], *args, folder=folder)


def link(gateway, query="lang=en"):
    return "vexlan://user42@%s/mediation?%s" % (gateway.authority, query)


class Sandbox:
    """A test's own folder with a profile ("home": the program folder home/Vexlan, AppData) and
    the trace files of the sample components; removed by cleanup()."""

    def __init__(self, prefix="vexlan-wine-test-"):
        self.tmp = tempfile.TemporaryDirectory(prefix=prefix)
        self.folder = self.tmp.name
        self.home = os.path.join(self.folder, "home")
        self.program = os.path.join(self.home, "Vexlan")
        os.makedirs(self.program)
        self.hostchecker_trace = os.path.join(self.folder, "hostchecker-trace.txt")
        self.tunnel_trace = os.path.join(self.folder, "tunnel-trace.txt")

    def cleanup(self):
        self.tmp.cleanup()

    def trust(self, authority):
        """Settings that accept the gateway's certificate and confirm the gateway."""
        return harness.write_settings(self.home, [authority])

    def variables(self, **extra):
        """The variables console_launcher.exe sets for the program besides the profile's: an
        administrators' list of gateways of its own (absent: none), the components' traces."""
        variables = {
            "VEXLAN_GATEWAYS_FILE": windows_path(os.path.join(self.folder, "gateways")),
            "VEXLAN_HOSTCHECKER_TRACE": windows_path(self.hostchecker_trace),
            "VEXLAN_TUNNEL_TRACE": windows_path(self.tunnel_trace),
        }
        variables.update(extra)
        return variables

    def command(self, launcher, program, *arguments, desktop=None, **variables):
        """The program started in the sandbox's profile (see launcher_command)."""
        return launcher_command(launcher, program, self.home, *arguments, desktop=desktop,
                                **self.variables(**variables))

    def environment(self, **extra):
        return wine_environment(self.home, **extra)

    @staticmethod
    def log():
        """The program's log file (in work_folder())."""
        return read_text(log_file())

    def files_below(self, folder):
        found = []
        for parent, _, names in os.walk(folder):
            found += [os.path.relpath(os.path.join(parent, n), folder) for n in names]
        return sorted(found)


class PrefixUser:
    """The Wine prefix's own user, whose folders and registry a program started by Windows
    itself uses. `home` is the Linux folder for a HOME of the Wine runs (Wine keeps the
    prefix's user folders in the prefix, not in HOME)."""

    def __init__(self, home):
        self.home = home
        self.local_app_data_windows = self.variable("LOCALAPPDATA")
        self.local_app_data = self.linux_path(self.local_app_data_windows)
        self.app_data = self.linux_path(self.variable("APPDATA"))
        self.profile = self.linux_path(self.variable("USERPROFILE"))
        self.program = os.path.join(self.profile, "Vexlan")

    def environment(self, **extra):
        return wine_environment(self.home, **extra)

    def wine(self, *args, check=True, env=None):
        result = subprocess.run(["wine"] + list(args), env=env or self.environment(),
                                cwd=work_folder(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=SAFETY_TIMEOUT)
        if check and result.returncode != 0:
            raise AssertionError("wine %s: status %d\n%s" % (
                " ".join(args), result.returncode, result.stderr.decode(errors="replace")))
        return result

    def linux_path(self, windows):
        return subprocess.run(["winepath", "-u", windows], env=self.environment(),
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                              timeout=SAFETY_TIMEOUT).stdout.decode().strip()

    def variable(self, name):
        """A variable of the prefix's user as Windows programs see it (not this process's)."""
        return self.wine("cmd", "/c", "echo", "%" + name + "%").stdout.decode().strip()

    def reg_values(self, key):
        """The values of `key` itself as {name: (type, data)} ("" is the default value), or
        None when the key does not exist."""
        result = self.wine("reg", "query", key, check=False)
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

    def trust(self, authority):
        """The user's settings (USERPROFILE\\Vexlan\\vexlanclient.xml) accept the gateway's
        certificate and confirm the gateway."""
        return harness.write_settings(self.profile, [authority])

    def log(self):
        return read_text(log_file())
