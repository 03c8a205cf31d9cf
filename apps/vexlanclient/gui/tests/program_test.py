#!/usr/bin/env python3
"""The window program as a process, under the Xvfb server (with its tray host) that
run-under-xvfb.sh starts around this script: start-up without argument, the single-instance
rule, the language of "lang", a run with no tray host, and a whole host-check session against
the demo gateway. Each test runs the program in its own sandbox HOME.

    run-under-xvfb.sh program_test.py --program BUILD/apps/vexlanclient/gui/vexlanclient \
        --build BUILD [unittest arguments]

Windows are found with xdotool, which waits for them itself (--sync); every wait is bounded
by SAFETY_TIMEOUT so that a fault fails the test instead of hanging it.
"""

import base64
import hashlib
import json
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "..", "tools", "demo-gateway"))
import harness  # noqa: E402  (the demo gateway and the settings that trust it)

PROGRAM = None
BUILD = None
SAFETY_TIMEOUT = 60
LOG_FILE = "/tmp/vexlanclient.log"
# Debian's Python, which has python3-dbus and python3-gi, runs the test's watcher and probe.
SYSTEM_PYTHON = "/usr/bin/python3"
SNI_TOOL = os.path.join(HERE, "sni_tool.py")
SCREEN_TOOL = os.path.join(HERE, "screen_tool.py")
EXIT_ID = 5006  # the stock exit entry's id, kept in the item's menu


def instance_name(parameter):
    digest = hashlib.sha1(parameter.encode("utf-8")).digest()
    return "vexlanclient:" + base64.b64encode(digest).decode("ascii").replace("/", "_")


def closed_port():
    """A loopback port with nobody listening: a connection to it is refused at once."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def xdotool(*args):
    result = subprocess.run(["xdotool"] + list(args), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, timeout=SAFETY_TIMEOUT)
    return result.returncode, result.stdout.split()


def wait_for_window(pid, name):
    """The visible window of process `pid` whose title is exactly `name`."""
    try:
        status, windows = xdotool("search", "--sync", "--all", "--onlyvisible", "--pid", str(pid),
                                  "--name", "^%s$" % name)
    except subprocess.TimeoutExpired:
        return None
    return windows[0] if status == 0 and windows else None


def visible_windows(pid):
    status, windows = xdotool("search", "--all", "--onlyvisible", "--pid", str(pid), "--name", "")
    return windows if status == 0 else []


def window_name(window):
    _, words = xdotool("getwindowname", window)
    return " ".join(words)


class ProgramTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vexlan-program-")
        self.home = os.path.join(self.tmp.name, "home")
        self.program_folder = os.path.join(self.home, "Vexlan")
        os.makedirs(self.program_folder)
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.communicate()
        self.tmp.cleanup()

    def env(self, **extra):
        env = harness.client_environment(self.home,
                                         VEXLAN_GATEWAYS_FILE=self.administrator_file())
        for name in ("LC_ALL", "LC_MESSAGES", "LANGUAGE"):
            env.pop(name, None)
        env.update(extra)
        return env

    def administrator_file(self):
        return os.path.join(self.tmp.name, "gateways")

    def start(self, *arguments, **env):
        process = subprocess.Popen([PROGRAM] + list(arguments), stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, errors="replace",
                                   env=self.env(**env), cwd=self.tmp.name)
        self.processes.append(process)
        return process

    def finish(self, process):
        try:
            stdout, stderr = process.communicate(timeout=SAFETY_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            stdout, stderr = process.communicate()
            self.fail("the program did not end:\n" + stdout[-3000:] + stderr[-3000:])
        return process.returncode, stdout, stderr

    def stop(self, process):
        process.terminate()
        return self.finish(process)

    def write_settings(self, exceptions=(), confirmed=None):
        """Certificate exceptions, each also a confirmed gateway unless `confirmed` says
        otherwise."""
        harness.write_settings(self.home, exceptions, confirmed)

    def settings_file(self):
        return harness.settings_path(self.home)

    def gateway(self, scenario, *args):
        return harness.DemoGateway(BUILD, scenario, *args, folder=self.tmp.name)

    def confirmed_port(self):
        """A closed loopback port whose gateway the user has confirmed already."""
        port = closed_port()
        self.write_settings(confirmed=["127.0.0.1:%d" % port])
        return port

    @staticmethod
    def entries(stdout):
        """Log lines without their time and thread: "LEVEL class.method message"."""
        return [line.split("] ", 1)[1] for line in stdout.splitlines() if "] " in line]


class StartUpTest(ProgramTestCase):
    def test_without_argument_only_the_about_box(self):
        os.rmdir(self.program_folder)
        process = self.start(LANG="C.UTF-8")
        about = wait_for_window(process.pid, "VexlanClient")
        self.assertIsNotNone(about, "no about box")
        self.assertEqual([about], visible_windows(process.pid), "more than the about box")
        # Close is the default button.
        xdotool("windowfocus", "--sync", about, "key", "Return")
        status, stdout, _ = self.finish(process)
        self.assertNotEqual(0, status)  # OnInit said no: no main loop ran
        self.assertEqual([], self.entries(stdout))
        # The client, which creates the program folder first thing, was never built.
        self.assertFalse(os.path.exists(self.program_folder), "the client was built")
        self.assertEqual([], [n for n in os.listdir(self.home) if n.startswith(".vexlanclient")
                              or n.startswith("vexlanclient:")], "an instance name was taken")

    def test_same_parameter_twice_the_second_process_quits(self):
        parameter = "vexlan://user42@127.0.0.1:%d/?lang=en" % self.confirmed_port()
        first = self.start(parameter, LANG="C.UTF-8")
        self.assertIsNotNone(wait_for_window(first.pid, "Error"), "the first run did not fail")
        # The lock lives where wxWidgets puts it on Unix: in the home folder, under the name.
        self.assertTrue(os.path.exists(os.path.join(self.home, instance_name(parameter))))

        status, stdout, _ = self.finish(self.start(parameter, "ignored", LANG="C.UTF-8"))
        self.assertNotEqual(0, status)
        # One line (before the client exists, the log's standard output carries each line
        # twice: as its output stream and as the console copy).
        self.assertEqual({"TRACE VexlanClientGui.OnInit Another instance is already launched "
                          "with this parameter, quitting."}, set(self.entries(stdout)))

        # One byte more is another instance.
        other = self.start(parameter + "&x=1", LANG="C.UTF-8")
        self.assertIsNotNone(wait_for_window(other.pid, "Error"), "the second parameter quit")
        self.stop(other)
        self.stop(first)

    def test_lang_selects_the_catalog_by_exact_value(self):
        # The system's language is French, whose locale is not even generated here: the texts
        # are translated all the same and no warning box stops the start-up.
        cases = [("de", "Fehler"), ("DE", "Erreur"), ("fr_FR", "Erreur"), ("es", "Error"),
                 ("", "Erreur")]
        for lang, title in cases:
            with self.subTest(lang=lang):
                parameter = "vexlan://user42@127.0.0.1:%d/?lang=%s" % (self.confirmed_port(),
                                                                       lang)
                process = self.start(parameter, LANG="fr_FR.UTF-8")
                window = wait_for_window(process.pid, title)
                if window is None:
                    names = [window_name(w) for w in visible_windows(process.pid)]
                    self.stop(process)
                    self.fail("no window %r; windows: %r" % (title, names))
                self.stop(process)

    def test_enter_in_the_connection_error_dialog_retries(self):
        parameter = "vexlan://user42@127.0.0.1:%d/?lang=en" % self.confirmed_port()
        process = self.start(parameter, LANG="C.UTF-8")
        first = wait_for_window(process.pid, "Error")
        if first is None:
            self.stop(process)
            self.fail("the run did not fail")
        xdotool("windowfocus", "--sync", first, "key", "Return")
        # The new run fails the same way: a new dialog, not Settings over the first one.

        def new_error_dialogs():
            status, windows = xdotool("search", "--all", "--onlyvisible", "--pid",
                                      str(process.pid), "--name", "^Error$")
            return [w for w in windows if w != first] if status == 0 else []

        wait_until(new_error_dialogs, "the connection-error dialog of the second run")
        _, stdout, _ = self.stop(process)
        self.assertEqual(2, sum("connectionFailed" in e for e in self.entries(stdout)), stdout)

    def test_start_parameter_leaves_the_process_list(self):
        identifier = "idf-5c2e90d1"
        parameter = "vexlan://%s@127.0.0.1:%d/?lang=en" % (identifier, self.confirmed_port())
        process = self.start(parameter, LANG="C.UTF-8")
        # The error box comes after OnInit, which overwrites the parameter once copied.
        self.assertIsNotNone(wait_for_window(process.pid, "Error"), "the run did not fail")
        with open("/proc/%d/cmdline" % process.pid, "rb") as f:
            cmdline = f.read()
        self.stop(process)
        self.assertIn(os.path.basename(PROGRAM).encode(), cmdline)
        self.assertNotIn(identifier.encode(), cmdline)
        self.assertNotIn(b"vexlan://", cmdline)


class NoTrayHostTest(ProgramTestCase):
    """Run by CTest with VEXLAN_TRAY_HOST=none: a display without notification area."""

    def test_runs_and_says_so_once(self):
        if os.environ.get("VEXLAN_TRAY_HOST") != "none":
            self.skipTest("needs a display without tray host")
        parameter = "vexlan://user42@127.0.0.1:%d/?lang=en" % self.confirmed_port()
        process = self.start(parameter, LANG="C.UTF-8")
        self.assertIsNotNone(wait_for_window(process.pid, "Error"), "the run did not fail")
        _, stdout, _ = self.stop(process)
        lines = [e for e in self.entries(stdout) if "No system tray" in e]
        self.assertEqual({"TRACE VexlanMainFrame.createTrayIcon No system tray on this display: "
                          "the tray icon is not shown"}, set(lines))
        with open(LOG_FILE, encoding="utf-8", errors="replace") as f:
            self.assertEqual(1, f.read().count("No system tray on this display"))


def wait_until(condition, what):
    """Polls `condition` until it gives a true value, for at most SAFETY_TIMEOUT."""
    deadline = time.monotonic() + SAFETY_TIMEOUT
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def log_has(text):
    try:
        with open(LOG_FILE, encoding="utf-8", errors="replace") as f:
            return text in f.read()
    except FileNotFoundError:
        return False


class WatcherTestCase(ProgramTestCase):
    """A StatusNotifierWatcher of the test's own on the private session bus, and a probe of
    the items registered with it."""

    def setUp(self):
        super().setUp()
        self.watcher = subprocess.Popen([SYSTEM_PYTHON, SNI_TOOL, "watch"],
                                        stdout=subprocess.PIPE, text=True)
        self.processes.append(self.watcher)
        self.assertEqual("ready", self.watcher_line())

    def watcher_line(self):
        ready, _, _ = select.select([self.watcher.stdout], [], [], SAFETY_TIMEOUT)
        self.assertTrue(ready, "the watcher said nothing")
        return self.watcher.stdout.readline().strip()

    def registered_service(self, process):
        registration = json.loads(self.watcher_line())
        # The item's name is the program's, and the program registered it itself.
        self.assertEqual("org.kde.StatusNotifierItem-%d-1" % process.pid,
                         registration["service"])
        return registration["service"]

    @staticmethod
    def probe(*arguments):
        result = subprocess.run([SYSTEM_PYTHON, SNI_TOOL] + list(arguments),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                timeout=SAFETY_TIMEOUT)
        if result.returncode != 0:
            raise AssertionError("sni_tool %r failed: %s" % (arguments, result.stderr))
        return json.loads(result.stdout) if result.stdout.strip() else None


class StatusNotifierTest(WatcherTestCase):
    """The program registers a StatusNotifierItem instead of its XEmbed icon, even with an
    X11 tray there."""

    def test_item_properties_and_menu_in_two_languages(self):
        labels = {
            "en": ["Settings\u2026", "Show logs", None, "_About", "_Quit"],
            "de": ["Einstellungen\u2026", "Protokolle anzeigen", None, "\u00dcbe_r", "_Beenden"],
        }
        for lang, expected in labels.items():
            with self.subTest(lang=lang):
                parameter = "vexlan://user42@127.0.0.1:%d/?lang=%s" % (self.confirmed_port(),
                                                                       lang)
                process = self.start(parameter, LANG="C.UTF-8")
                service = self.registered_service(process)
                item = self.probe("item", service)
                self.assertEqual("vexlanclient", item["Id"])
                self.assertEqual("Vexlan Client", item["Title"])
                self.assertEqual("Active", item["Status"])
                self.assertEqual("ApplicationStatus", item["Category"])
                self.assertEqual(["", [], "Vexlan Client", ""], item["ToolTip"])
                self.assertEqual("/MenuBar", item["Menu"])
                self.assertTrue(item["ItemIsMenu"])
                self.assertEqual(3, item["menuVersion"])
                # Every picture of the logo, square, with four bytes a pixel.
                self.assertIn([16, 16, 16 * 16 * 4], item["IconPixmap"])
                for width, height, size in item["IconPixmap"]:
                    self.assertEqual((width, width * height * 4), (height, size))
                menu = item["menu"]
                self.assertEqual([10002, 10001, 1, 5014, 5006], [e["id"] for e in menu])
                self.assertEqual("separator", menu[2]["properties"].get("type"))
                self.assertEqual(expected, [e["properties"].get("label") for e in menu])
                for entry in menu[:2] + menu[4:]:
                    self.assertGreater(entry["properties"].get("icon-data", 0), 0, entry)
                self.assertIsNotNone(wait_for_window(process.pid, "Fehler" if lang == "de"
                                                     else "Error"), "the run did not fail")
                _, stdout, _ = self.stop(process)
                choice = [e for e in self.entries(stdout) if "Tray icon" in e or "No system"
                          in e]
                self.assertEqual({"TRACE VexlanMainFrame.createTrayIcon Tray icon: a "
                                  "StatusNotifierItem registered as " + service}, set(choice))
                self.assertFalse(visible_windows(process.pid))

    def test_exit_from_the_item_ends_a_tunnel_session(self):
        with self.gateway("plugin") as gateway:
            self.write_settings(exceptions=[gateway.authority])
            parameter = "vexlan://user42@%s/mediation?lang=en" % gateway.authority
            process = self.start(parameter, LANG="C.UTF-8", VEXLAN_TUNNEL_STEP_MS="200")
            service = self.registered_service(process)
            wait_until(lambda: log_has("connected ip="), "the tunnel to connect")
            self.probe("click", service, str(EXIT_ID))
            status, stdout, stderr = self.finish(process)
        self.assertEqual(0, status, stderr + stdout[-3000:])
        entries = self.entries(stdout)
        self.assertIn("TRACE VexlanClientGuiNotifyHandler.statusChanged 4", entries)

    def test_host_check_makes_the_item_passive(self):
        with self.gateway("hostchecker", "--rounds", "4") as gateway:
            self.write_settings(exceptions=[gateway.authority])
            parameter = "vexlan://user42@%s/mediation?lang=en" % gateway.authority
            process = self.start(parameter, LANG="C.UTF-8")
            service = self.registered_service(process)
            wait_until(lambda: self.probe("item", service)["Status"] == "Passive",
                       "the item to become passive")
            status, stdout, stderr = self.finish(process)
            self.assertEqual(4, len(gateway.posts()))
        self.assertEqual(0, status, stderr + stdout[-3000:])


class CloseDuringDialogTest(WatcherTestCase):
    """SIGTERM (the desktop session ending) or SIGINT while modal dialogs are open over the
    frame: the dialogs end, innermost first, and the program ends normally once they have
    returned, instead of destroying the frame, with its child dialogs, under their loops."""

    ABOUT_ID = 5014
    SETTINGS_ID = 10002

    def open_settings_from_the_error_dialog(self, process, service, error):
        # Retry, the default button, has the focus when the dialog opens; Settings is the
        # button before it.
        xdotool("windowfocus", "--sync", error, "key", "shift+Tab", "space")
        return "Settings"

    def open_about_from_the_item(self, process, service, error):
        self.probe("click", service, str(self.ABOUT_ID))
        return "Vexlan Client"  # the about box's title in English

    def open_settings_from_the_item(self, process, service, error):
        self.probe("click", service, str(self.SETTINGS_ID))
        return "Settings"

    def test_a_signal_ends_the_open_dialogs_then_the_program(self):
        # (what is opened over the connection-error dialog, signal, open dialogs)
        cases = [
            (None, signal.SIGTERM, 1),
            (self.open_settings_from_the_error_dialog, signal.SIGTERM, 2),
            (self.open_settings_from_the_error_dialog, signal.SIGINT, 2),
            (self.open_about_from_the_item, signal.SIGTERM, 2),
            (self.open_settings_from_the_item, signal.SIGTERM, 2),
        ]
        for opener, signal_number, dialogs in cases:
            name = opener.__name__ if opener else "nothing"
            with self.subTest(opened=name, signal=signal_number.name):
                parameter = "vexlan://user42@127.0.0.1:%d/?lang=en" % self.confirmed_port()
                process = self.start(parameter, LANG="C.UTF-8")
                service = self.registered_service(process)
                error = wait_for_window(process.pid, "Error")
                if error is None:
                    self.stop(process)
                    self.fail("no connection-error dialog")
                if opener:
                    title = opener(process, service, error)
                    if wait_for_window(process.pid, title) is None:
                        names = [window_name(w) for w in visible_windows(process.pid)]
                        self.stop(process)
                        self.fail("no %r window over the error dialog; windows: %r"
                                  % (title, names))
                process.send_signal(signal_number)
                status, stdout, stderr = self.finish(process)
                self.assertEqual(0, status, stderr[-3000:] + stdout[-3000:])
                self.assertNotIn("AddressSanitizer", stderr)
                entries = self.entries(stdout)
                self.assertIn("TRACE VexlanMainFrame.onClose Close requested with %d open "
                              "dialogs: they end first" % dialogs, entries)
                self.assertEqual([], [e for e in entries if e.startswith("ASSERT")])


class NoTrayMenuTest(ProgramTestCase):
    """Run by CTest with VEXLAN_TRAY_HOST=none and no watcher: the panel carries the menu."""

    def test_panel_menu_ends_a_tunnel_session(self):
        if os.environ.get("VEXLAN_TRAY_HOST") != "none":
            self.skipTest("needs a display without tray host")
        with self.gateway("plugin") as gateway:
            self.write_settings(exceptions=[gateway.authority])
            parameter = "vexlan://user42@%s/mediation?lang=en" % gateway.authority
            process = self.start(parameter, LANG="C.UTF-8", VEXLAN_TUNNEL_STEP_MS="200")
            wait_until(lambda: log_has("connected ip="), "the tunnel to connect")
            # The panel is the program's only window, and it stays on screen.
            panels = wait_until(lambda: visible_windows(process.pid), "the panel")
            self.assertEqual(1, len(panels), panels)
            # Its context menu, a window of its own once it is up (GTK maps a tiny helper
            # window off screen too); Exit is its last entry, chosen with the mouse at the
            # bottom of the menu.
            xdotool("mousemove", "--window", panels[0], "30", "30", "click", "3")

            def menu_box():
                for window in visible_windows(process.pid):
                    _, geometry = xdotool("getwindowgeometry", "--shell", window)
                    box = dict(item.split("=") for item in geometry)
                    if window not in panels and int(box.get("HEIGHT", 0)) > 50:
                        return box
                return None

            box = wait_until(menu_box, "the context menu")
            x = int(box["X"]) + int(box["WIDTH"]) // 2
            y = int(box["Y"]) + int(box["HEIGHT"]) - 12
            xdotool("mousemove", str(x), str(y))
            xdotool("mousemove", str(x), str(y + 1), "click", "1")
            status, stdout, stderr = self.finish(process)
        self.assertEqual(0, status, stderr + stdout[-3000:])
        self.assertIn("TRACE VexlanClientGuiNotifyHandler.statusChanged 4", self.entries(stdout))


class WaylandSessionTest(WatcherTestCase):
    """Run by CTest under run-under-weston.py: a Wayland session of Weston's headless backend
    without X display, the program on GTK's Wayland backend. What reaches the screen is read
    from the compositor's own screenshots (weston-screenshooter) of a desktop in one plain
    colour. With VEXLAN_SCREENSHOT set, the panel with some desktop around it is saved
    there as a PNG file (how docs/screenshots/panel-wayland.png is made)."""

    def setUp(self):
        if not os.environ.get("WAYLAND_DISPLAY") or os.environ.get("DISPLAY"):
            self.skipTest("needs a Wayland session without X display")
        super().setUp()
        self.shots = 0

    def screenshot(self):
        """The screen now, as a PNG file written by the compositor."""
        self.shots += 1
        folder = os.path.join(self.tmp.name, "shot%d" % self.shots)
        os.mkdir(folder)
        subprocess.run(["weston-screenshooter"], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, timeout=SAFETY_TIMEOUT)
        names = os.listdir(folder)
        self.assertEqual(1, len(names), names)
        return os.path.join(folder, names[0])

    @staticmethod
    def screen(path):
        result = subprocess.run([SYSTEM_PYTHON, SCREEN_TOOL, "box", path,
                                 os.environ["WESTON_BACKGROUND"]], stdout=subprocess.PIPE,
                                check=True, text=True, timeout=SAFETY_TIMEOUT)
        return json.loads(result.stdout)

    def test_panel_and_item_in_a_tunnel_session(self):
        # The desktop alone first: nothing but its colour once its shell has drawn it.
        wait_until(lambda: self.screen(self.screenshot())["desktop"], "the desktop")
        self.assertIsNone(self.screen(self.screenshot())["box"])
        with self.gateway("plugin") as gateway:
            self.write_settings(exceptions=[gateway.authority])
            parameter = "vexlan://user42@%s/mediation?lang=en" % gateway.authority
            process = self.start(parameter, LANG="C.UTF-8", VEXLAN_TUNNEL_STEP_MS="200")
            service = self.registered_service(process)
            wait_until(lambda: log_has("connected ip="), "the tunnel to connect")

            # The panel on the screen: one window of about its size (341 x 93) somewhere on
            # the desktop; where is the compositor's choice. A screenshot may come before the
            # panel's first frame, or between frames of its size.
            boxes = []

            def shot_with_panel():
                path = self.screenshot()
                box = self.screen(path)["box"]
                boxes.append(box)
                if box and 300 <= box[2] <= 500 and 80 <= box[3] <= 250:
                    return path, box
                return None

            try:
                shot, box = wait_until(shot_with_panel, "the panel on the screen")
            except AssertionError:
                self.fail("no panel on the screen; boxes seen: %r" % boxes[-5:])
            if os.environ.get("VEXLAN_SCREENSHOT"):
                subprocess.run([SYSTEM_PYTHON, SCREEN_TOOL, "crop", shot] +
                               [str(n) for n in box] + [os.environ["VEXLAN_SCREENSHOT"]],
                               check=True, timeout=SAFETY_TIMEOUT)

            item = self.probe("item", service)
            self.assertEqual(("vexlanclient", "Active"), (item["Id"], item["Status"]))
            self.assertEqual([10002, 10001, 1, 5014, 5006], [e["id"] for e in item["menu"]])
            self.probe("click", service, str(EXIT_ID))
            status, stdout, stderr = self.finish(process)
        self.assertEqual(0, status, stderr + stdout[-3000:])
        entries = self.entries(stdout)
        self.assertIn("TRACE VexlanClientGuiNotifyHandler.statusChanged 4", entries)
        self.assertIn("TRACE VexlanMainFrame.createTrayIcon Tray icon: a StatusNotifierItem "
                      "registered as " + service, entries)
        # The panel drew itself (on standard output: it may paint before the log file opens).
        self.assertTrue([e for e in entries if "NotificationPanel.onPaint first shown" in e])
        # The program's windows are gone with it.
        wait_until(lambda: self.screen(self.screenshot())["box"] is None, "an empty desktop")


class GatewaySessionTest(ProgramTestCase):
    def test_host_check_session_runs_and_ends_cleanly(self):
        with self.gateway("hostchecker", "--rounds", "2") as gateway:
            self.write_settings(exceptions=[gateway.authority])
            parameter = "vexlan://user42@%s/mediation?lang=en" % gateway.authority
            status, stdout, stderr = self.finish(self.start(parameter, LANG="C.UTF-8"))
            requests = gateway.requests()
        entries = self.entries(stdout)
        self.assertEqual(0, status, stderr + stdout[-3000:])
        self.assertEqual([], [e for e in entries if e.startswith(("ERROR", "ASSERT"))])
        expected = [
            "DEBUG VexlanClientNotificationPanel.onPaint first shown: Loading\u2026",
            "TRACE VexlanClientHostchecker.loadDll Load 64 bits linux library",
            "TRACE VexlanClientHostchecker.sendResponse round 1",
            "TRACE VexlanClientHostchecker.sendResponse round 2",
        ]
        for entry in expected:
            self.assertIn(entry, entries)
        self.assertTrue(any(e.startswith("TRACE VexlanClient.main Vexlan directory is : ")
                            for e in entries))
        # Bootstrap, component downloads and two posts.
        self.assertEqual(2, sum(r["method"] == "POST" for r in requests), requests)
        # The log file holds the same run.
        with open(LOG_FILE, encoding="utf-8", errors="replace") as f:
            self.assertIn("Load 64 bits linux library", f.read())


class GatewayConfirmationTest(ProgramTestCase):
    """A link names its gateway: a new one is contacted only after the user chose Connect,
    unless the administrator's file lists it; "only-listed" there refuses every other one."""

    TITLE = "Connect to a new gateway\\?"  # a pattern: "?" escaped

    def session_parameter(self, gateway):
        return "vexlan://user42@%s/mediation?lang=en" % gateway.authority

    def write_administrator_file(self, text):
        with open(self.administrator_file(), "w", encoding="utf-8") as f:
            f.write(text)

    def answer(self, process, *keys):
        dialog = wait_for_window(process.pid, self.TITLE)
        if dialog is None:
            names = [window_name(w) for w in visible_windows(process.pid)]
            self.stop(process)
            self.fail("no confirmation dialog; windows: %r" % names)
        if keys:
            xdotool("windowfocus", "--sync", dialog, "key", *keys)

    def settings_text(self):
        with open(self.settings_file(), encoding="utf-8") as f:
            return f.read()

    def test_cancel_sends_nothing(self):
        # Enter answers Cancel, the default; Escape is Cancel too, and so is SIGTERM (the
        # desktop session ending) while the question is open.
        for keys in ("Return", "Escape", None):
            with self.subTest(keys=keys):
                with self.gateway("hostchecker", "--rounds", "1") as gateway:
                    self.write_settings(exceptions=[gateway.authority], confirmed=())
                    process = self.start(self.session_parameter(gateway), LANG="C.UTF-8")
                    if keys:
                        self.answer(process, keys)
                    else:
                        self.answer(process)
                        process.terminate()
                    status, stdout, stderr = self.finish(process)
                    self.assertEqual([], gateway.requests())
                self.assertEqual(0, status, stderr + stdout[-3000:])
                self.assertIn("TRACE VexlanMainFrame.startClient The gateway %s was not "
                              "confirmed: nothing was sent" % gateway.authority,
                              self.entries(stdout))
                self.assertNotIn("<gateway>", self.settings_text())

    def test_connect_proceeds_and_is_remembered(self):
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            self.write_settings(exceptions=[gateway.authority], confirmed=())
            process = self.start(self.session_parameter(gateway), LANG="C.UTF-8")
            # Cancel has the focus; Connect is the button before it.
            self.answer(process, "shift+Tab", "space")
            status, stdout, stderr = self.finish(process)
            self.assertEqual(0, status, stderr + stdout[-3000:])
            self.assertIn("TRACE VexlanMainFrame.startClient The user confirmed the gateway "
                          + gateway.authority, self.entries(stdout))
            self.assertIn("<gateway>%s</gateway>" % gateway.authority, self.settings_text())
            self.assertEqual(1, len(gateway.posts()))

            # The second start does not ask: the session runs to its end on its own.
            status, stdout, stderr = self.finish(
                self.start(self.session_parameter(gateway), LANG="C.UTF-8"))
            self.assertEqual(0, status, stderr + stdout[-3000:])
            self.assertEqual([], [e for e in self.entries(stdout) if "confirm" in e])
            self.assertEqual(2, len(gateway.posts()))

    def test_the_administrators_list_confirms_in_advance(self):
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            self.write_settings(exceptions=[gateway.authority], confirmed=())
            self.write_administrator_file("# gateways of this computer\n%s\n"
                                          % gateway.authority.upper())
            status, stdout, stderr = self.finish(
                self.start(self.session_parameter(gateway), LANG="C.UTF-8"))
            self.assertEqual(1, len(gateway.posts()))
        self.assertEqual(0, status, stderr + stdout[-3000:])
        self.assertEqual([], [e for e in self.entries(stdout) if "confirm" in e])
        self.assertNotIn("<gateway>", self.settings_text())

    def test_only_listed_refuses_every_other_gateway(self):
        with self.gateway("hostchecker", "--rounds", "1") as gateway:
            # Even a gateway the user confirmed before.
            self.write_settings(exceptions=[gateway.authority])
            self.write_administrator_file("only-listed\ngw.example.com\n")
            process = self.start(self.session_parameter(gateway), LANG="C.UTF-8")
            box = wait_for_window(process.pid, "Error")
            if box is None:
                names = [window_name(w) for w in visible_windows(process.pid)]
                self.stop(process)
                self.fail("no refusal; windows: %r" % names)
            xdotool("windowfocus", "--sync", box, "key", "Return")
            status, stdout, stderr = self.finish(process)
            self.assertEqual([], gateway.requests())
        self.assertEqual(0, status, stderr + stdout[-3000:])
        self.assertIn("ERROR VexlanMainFrame.startClient the gateway %s is not allowed on this "
                      "computer" % gateway.authority, self.entries(stdout))


def main():
    global PROGRAM, BUILD
    args = sys.argv[1:]
    rest = []
    while args:
        name = args.pop(0)
        if name == "--program":
            PROGRAM = args.pop(0)
        elif name == "--build":
            BUILD = args.pop(0)
        else:
            rest.append(name)
    if not PROGRAM or not BUILD:
        sys.exit("usage: program_test.py --program VEXLANCLIENT --build BUILD_DIR [unittest args]")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
