"""Tolvane in the tray of a real X desktop, driven by the mouse and keyboard:
the first start, the tray icon's clicks, a second start and the installer's
stop request."""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_args  # noqa: E402
from desktop import Desktop, entered, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
SCREEN = (1024, 768)
MAIN = "^Tolvane$"
TIP = "^Tolvane - Tip of the Day$"


def read_ini(path):
    values = {}
    if os.path.exists(path):
        with open(path, "rb") as f:
            for line in f.read().decode().split("\r\n"):
                if "=" in line:
                    k, v = line.split("=", 1)
                    values[k] = v
    return values


def is_grey(rgb):
    r, g, b = rgb
    return max(r, g, b) - min(r, g, b) < 24


def is_blue(rgb):
    r, g, b = rgb
    return b > r + 40


class FirstStartAndTray(unittest.TestCase):
    def setUp(self):
        self.desktop = entered(self, Desktop(ARGS.artifacts, "shell", *SCREEN))
        self.folder = self.desktop.program_folder(ARGS.bin)
        self.program = os.path.join(self.folder, "tolvane")

    def log(self):
        with open(os.path.join(self.folder, "DebugLog.Txt"), "rb") as f:
            return f.read().decode()

    def assertCentred(self, window):
        d = self.desktop
        x, y, w, h = d.geometry(window)
        left, right, top, bottom = d.frame_extents(window)
        outer_x, outer_y = x - left, y - top
        outer_w, outer_h = w + left + right, h + top + bottom
        self.assertLessEqual(abs(outer_x - (SCREEN[0] - outer_w) / 2), 2, (x, y, w, h))
        self.assertLessEqual(abs(outer_y - (SCREEN[1] - outer_h) / 2), 2, (x, y, w, h))

    def test_first_start_tray_clicks_second_start_and_installer_stop(self):
        d = self.desktop
        tolvane = d.launch([self.program], name="tolvane")

        # No settings yet: the box for the empty address comes first.
        box = d.wait_window("^Error$")
        time.sleep(0.3)
        d.screenshot("shell_required_field_box", box)
        d.key("Return", window=box)

        # Then the tip of the day, above the window that came up.
        tip = d.wait_window(TIP)
        time.sleep(0.3)
        d.screenshot("shell_tip_window", tip)
        d.key("Return", window=tip)
        d.wait_no_window(TIP)

        main = d.wait_window(MAIN)
        # The designed 541 x 417, the mail server group, a row for keeping failed
        # requests, rows for collecting requests, the desktop's controls and
        # dial-up, and what the font needs more for its captions.
        width, height = d.geometry(main)[2:]
        self.assertEqual(height, 589)
        self.assertTrue(541 <= width <= 571, width)
        self.assertCentred(main)
        time.sleep(0.3)
        d.screenshot("shell_main_window", main)
        d.screenshot("shell_desktop")

        # The help button opens our own page for the window.
        d.key("alt+h", window=main)
        help_window = d.wait_window("^Tolvane Help$")
        time.sleep(0.3)
        d.screenshot("shell_help_window", help_window)
        d.key("Escape", window=help_window)
        d.wait_no_window("^Tolvane Help$")

        # The focus is in the address field: fill both fields and press Ok.
        d.xdotool("windowactivate", "--sync", main, check=False)
        d.type("me@example.org")
        d.key("Tab")
        d.type("mail.example.org")
        d.key("Return")
        d.wait_no_window(MAIN)
        ini = read_ini(d.settings_file())
        self.assertEqual(ini.get("Email"), "me@example.org")
        self.assertEqual(ini.get("SMTP"), "mail.example.org")
        self.assertEqual(ini.get("Enabled"), "0")
        self.assertEqual(ini.get("LocalRoot"), self.folder + "/")

        # The tray icon is there and bright; a left click dims it.
        icon = d.tray_icon("tolvane")
        wait_until(lambda: is_blue(d.pixel_colors(icon)), what="the bright icon")
        d.click(icon, button=1)
        wait_until(lambda: is_grey(d.pixel_colors(icon)), what="the dim icon")
        d.screenshot("shell_tray_dim")

        # A right click brings the window up in the middle, "No" selected:
        # Ok stores it.
        d.click(icon, button=3)
        main = d.wait_window(MAIN)
        self.assertCentred(main)
        # Minimised, it hides; the tray icon stays.
        d.xdotool("windowminimize", main)
        wait_until(lambda: d.wm_state(main) == "Withdrawn", what="the window to hide")
        time.sleep(1.0)  # past the minimised state, which comes in between
        self.assertEqual(d.wm_state(main), "Withdrawn")
        self.assertEqual(d.tray_icons("tolvane"), [icon])
        d.click(icon, button=3)
        main = d.wait_window(MAIN)
        self.assertCentred(main)
        d.key("Return", window=main)
        d.wait_no_window(MAIN)
        wait_until(lambda: read_ini(d.settings_file()).get("Enabled") == "1",
                   what="Enabled=1 after Ok")

        # A second start ends at once with 0 and brings the first one's window up.
        before = read_ini(d.settings_file())
        starts = len(re.findall(r": Started Tolvane\r\n", self.log()))
        second = d.run([self.program], timeout=20)
        self.assertEqual(second.returncode, 0, second.stderr)
        d.wait_window(MAIN)
        self.assertEqual(read_ini(d.settings_file()), before)
        self.assertEqual(len(re.findall(r": Started Tolvane\r\n", self.log())), starts + 1)
        self.assertIsNone(tolvane.poll())

        # The installer's stop request ends the first within about 6 seconds;
        # the dim state is saved.
        flag = os.path.join(self.folder, "Installer.Flg")
        open(flag, "w").close()
        started = time.monotonic()
        code = tolvane.wait(timeout=15)
        took = time.monotonic() - started
        self.assertEqual(code, 0, d.log("tolvane"))
        self.assertLess(took, 9.0)
        self.assertFalse(os.path.exists(flag))
        self.assertEqual(read_ini(d.settings_file()).get("TrayIconDim"), "1")
        self.assertEqual(d.tray_icons("tolvane"), [])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
