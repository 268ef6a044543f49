"""tolvane.exe's tray program under Wine, on an X server of its own with a
window manager and a tray host (trayer): the icon docks and a click dims it,
a right click opens the window, a copied address reaches a real mail server
(aiosmtpd on loopback), a copy that a password manager marks is never read,
Installer.Flg ends the program as a normal exit does, the command line hands
its request over to it, and a second start brings the first's window up and
ends with 0. Wine runs in a prefix of this test's own, so that its desktop
process belongs to this test's display."""

import argparse
import getpass
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2e_args  # noqa: E402
import test_request as peers  # noqa: E402  (its wire form, not its tests)
from desktop import Desktop, SmtpServer, wait_until  # noqa: E402
from e2e_args import WINE, windows_path  # noqa: E402
from windows_console import Program  # noqa: E402

ARGS, REST = e2e_args.parse()
extra = argparse.ArgumentParser()
extra.add_argument("--helper", required=True)
MORE, UNITTEST_ARGS = extra.parse_known_args(REST)
PREFIX = os.path.join(ARGS.build, "wine-tray")
URL = "http://host/x"


def wine_env(display):
    return dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", DISPLAY=display)


def setUpModule():
    if not os.path.isdir(os.path.join(PREFIX, "drive_c")):
        subprocess.run(["wineboot", "-i"], env=wine_env(""), stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=120)


class WindowsTray(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="tolvane-win-tray-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.smtp = SmtpServer(os.path.join(self.tmp, "mail"))
        self.addCleanup(self.smtp.stop)
        self.desk = Desktop(ARGS.artifacts, "win-tray", width=1024, height=768)
        self.desk.start()
        self.addCleanup(self.desk.stop)
        # Wine's desktop process lives on the display it was started on.
        self.addCleanup(self.wineserver, "-k")
        self.wineserver("-k")
        self.env = wine_env(self.desk.display)
        self.win = Program(self.tmp, os.path.join(ARGS.bin, "tolvane.exe"), True)
        # Started straight from Wine, as from the Start menu, not through cmd:
        # the settings go where the prefix's profile keeps them.
        self.win.env = self.env
        self.win.prefix = [WINE]
        self.win.settings = os.path.join(PREFIX, "drive_c", "users", getpass.getuser(), "AppData",
                                         "Roaming", "Tolvane", "TOLVANE.INI")
        self.win.write_settings(self.smtp.port)
        # The first copy after installation would also mail the user a test
        # message; these tests look at the requests alone.
        open(os.path.join(self.win.folder, "Test Message.Flg"), "w").close()
        self.log = os.path.join(self.win.folder, "DebugLog.Txt")
        self.procs = []
        self.addCleanup(self.end_programs)

    def wineserver(self, *args):
        subprocess.run(["wineserver", *args], env=wine_env(""), capture_output=True, timeout=60)

    def end_programs(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait(10)

    def start(self, *args):
        """The tray program, started as the Start menu would (no console)."""
        p = subprocess.Popen(self.win.prefix + [windows_path(self.win.program), *args],
                             env=self.env, cwd=self.win.folder, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def log_text(self):
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_log(self, text, timeout=20):
        wait_until(lambda: text in self.log_text(), timeout, "%r in the debug log" % text)

    def running_tray(self):
        """Starts the program; its icon, once docked in the tray host."""
        self.start("/s")
        icon = self.desk.tray_icon("explorer.exe", timeout=30)
        self.wait_log("Watching the clipboard")  # a copy before it would go unseen
        return icon

    def last_tip(self):
        tips = [line for line in self.log_text().splitlines() if ": Tray tip: " in line]
        return tips[-1].split(": Tray tip: ", 1)[1] if tips else "Tolvane"

    def click_until(self, icon, button, done, what):
        """Clicks the icon until done() holds. Wine's X tray (XEmbed into
        trayer) drops every click in some sessions, before they reach the
        program: then the click comes as the notification area reports it,
        the icon's callback message, from the helper. A lost click changes
        nothing, so trying again is safe."""
        _, _, w, h = self.desk.geometry(icon)
        for attempt in range(4):
            if attempt < 3:
                self.desk.xdotool("mousemove", 300, 300)
                time.sleep(0.3)
                self.desk.xdotool("mousemove", "--window", icon, w // 2, h // 2)
                time.sleep(0.1)
                self.desk.xdotool("click", button)
            else:
                print("Wine's tray dropped the clicks: the callback is posted", file=sys.stderr)
                self.helper("click" if button == 1 else "rightclick")
            try:
                wait_until(done, 4, what)
                return
            except AssertionError:
                continue
        self.fail("no click brought " + what)

    def click_to(self, icon, tip):
        """Clicks the icon until its tip is `tip`."""
        self.click_until(icon, 1, lambda: self.last_tip() == tip, "the tip %r" % tip)

    def main_windows(self):
        """The main window when shown: the icon's tool tip, also named
        "Tolvane", is a small window."""
        return [w for w in self.desk.windows(name="^Tolvane$") if self.desk.geometry(w)[2] > 400]

    def helper(self, *args):
        r = subprocess.run([WINE, windows_path(MORE.helper), *args], env=self.env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r)

    def test_icon_docks_and_a_click_dims_it(self):
        icon = self.running_tray()
        self.desk.screenshot("win-tray-bright")
        self.click_to(icon, "(Tolvane)")
        self.desk.screenshot("win-tray-dim")
        self.click_to(icon, "Tolvane")

    def test_right_click_opens_the_window(self):
        icon = self.running_tray()
        self.assertEqual(self.main_windows(), [])
        self.click_until(icon, 3, self.main_windows, "the main window")
        time.sleep(0.5)  # its first paint
        self.desk.screenshot("win-tray-right-click", self.main_windows()[0])

    def test_copied_address_is_requested(self):
        self.running_tray()
        self.desk.copy(URL)
        wait_until(lambda: self.smtp.messages(), 30, "the request mail")
        (_, data), = self.smtp.messages()
        self.assertEqual(peers.unstamped(data), peers.page_request(URL))

    def test_confirmation_box_asks_before_the_request(self):
        self.win.write_settings(self.smtp.port, Confirm=0)
        self.running_tray()
        url = "http://host/a?b=1&c=2"
        self.desk.copy(url)
        box = self.desk.wait_window("^Confirm$", timeout=30)
        self.desk.screenshot("win-tray-confirm", box)
        self.assertEqual(self.smtp.messages(), [])  # nothing goes before the answer
        self.desk.key("Return", window=box)  # Yes is the default button
        wait_until(lambda: self.smtp.messages(), 30, "the confirmed request")
        (_, data), = self.smtp.messages()
        self.assertEqual(peers.unstamped(data), peers.page_request(url))

    def test_password_manager_copy_is_never_read(self):
        self.running_tray()
        for mode in ("exclude", "history0"):
            self.helper(mode, "http://host/secret-" + mode)
        wait_until(lambda: self.log_text().count("Secret clipboard offer not read") == 2, 20,
                   "both marked copies passed over")
        # The same helper's unmarked copy, and one the history may keep, go out.
        self.helper("history1", "http://host/kept")
        self.helper("plain", URL)
        wait_until(lambda: len(self.smtp.messages()) == 2, 30, "the unmarked requests")
        bodies = [peers.unstamped(data) for _, data in self.smtp.messages()]
        self.assertEqual(bodies, [peers.page_request("http://host/kept"),
                                  peers.page_request(URL)])
        self.assertNotIn("secret", self.log_text())

    def test_command_line_hands_its_request_to_the_tray(self):
        self.running_tray()
        # Settings of its own hold no mail server: only the tray could send.
        empty = os.path.join(self.tmp, "no-settings")
        os.makedirs(empty)
        r = subprocess.run([WINE, "cmd", "/d", "/c", "set", "APPDATA=%s&&" % windows_path(empty),
                            windows_path(self.win.program), "--request", URL],
                           env=self.env, cwd=self.win.folder, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=90)
        self.assertEqual(r.returncode, 0, r)
        (_, data), = self.smtp.messages()
        self.assertEqual(peers.unstamped(data), peers.page_request(URL))
        self.assertEqual(os.listdir(empty), [])

    def test_installer_flag_ends_it_as_a_normal_exit(self):
        icon = self.running_tray()
        tray = self.procs[0]
        self.click_to(icon, "(Tolvane)")
        flag = os.path.join(self.win.folder, "Installer.Flg")
        open(flag, "w").close()
        began = time.monotonic()
        self.assertEqual(tray.wait(15), 0)
        self.assertLess(time.monotonic() - began, 8)
        self.assertFalse(os.path.exists(flag))
        self.assertTrue(os.path.exists(os.path.join(self.win.folder, "History.Dat")))
        with open(self.win.settings, encoding="utf-8") as f:
            self.assertIn("TrayIconDim=1", f.read())

    def test_second_start_brings_the_first_up_and_ends(self):
        self.running_tray()
        self.assertEqual(self.main_windows(), [])
        second = self.start()
        self.assertEqual(second.wait(30), 0)
        wait_until(self.main_windows, 30, "the first's window")
        window = self.main_windows()[0]
        self.desk.screenshot("win-tray-second-start", window)
        self.assertEqual(len(self.desk.tray_icons("explorer.exe")), 1)
        self.assertEqual(self.log_text().count("Cmd:"), 1)  # no start-up steps in the second
        # With AllowDuplicateInstance.Flg a start runs beside the first.
        flag = os.path.join(self.win.folder, "AllowDuplicateInstance.Flg")
        open(flag, "w").close()
        self.start("/s")
        wait_until(lambda: len(self.desk.tray_icons("explorer.exe")) == 2, 30, "a second icon")
        self.assertFalse(os.path.exists(flag))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + UNITTEST_ARGS, verbosity=2)
