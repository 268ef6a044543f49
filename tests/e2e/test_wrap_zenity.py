"""A launcher packed with wrap-pack on a desktop: its question and boxes are
zenity dialogs on a private Xvfb display, answered with xdotool."""

import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_args  # noqa: E402
from desktop import Desktop  # noqa: E402
from wrap_product import QUESTION, TITLE, PackedProduct  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()

SETUP_SCRIPT = """#!/bin/sh
d=$(dirname "$0")
{{ echo "program=$0"; echo "args=$#"; echo "folder=$(stat -c %a "$d")"; ls "$d"; }} > '{record}'
"""

# Real zenity behind a wrapper that notes each call's arguments, so the test
# can read what the boxes said.
ZENITY_WRAPPER = """#!/bin/sh
{{ for a in "$@"; do printf '%s\\n' "$a"; done; echo '--'; }} >> '{log}'
exec '{zenity}' "$@"
"""


class LauncherOnADesktop(PackedProduct):
    bin = ARGS.bin

    @classmethod
    def setUpClass(cls):
        cls.desktop = Desktop(ARGS.artifacts, "wrap-zenity", window_manager=False, tray=False)
        cls.desktop.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()

    def setUp(self):
        super().setUp()
        self.log = os.path.join(self.root, "zenity.log")
        tools = os.path.join(self.root, "tools")
        os.mkdir(tools)
        zenity = shutil.which("zenity")
        self.assertIsNotNone(zenity)
        with open(os.path.join(tools, "zenity"), "w") as f:
            f.write(ZENITY_WRAPPER.format(log=self.log, zenity=zenity))
        os.chmod(os.path.join(tools, "zenity"), 0o755)
        self.write("SETUP.EXE", SETUP_SCRIPT.format(record=self.record))
        self.write("MANUAL.TXT", b"All about Ravelin.\r\n" * 500)
        self.packed()
        # No session bus or accessibility bus for zenity to start and leave.
        self.env = self.quiet_env(
            DISPLAY=self.desktop.display, NO_AT_BRIDGE="1",
            PATH=tools + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
            DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.root, "no-bus"))
        self.process = None

    def tearDown(self):
        if self.process:
            # The launcher leads its own group; a box it left open goes too.
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait()
        super().tearDown()

    def start(self):
        # No controlling terminal: only the display can ask.
        self.process = subprocess.Popen([self.launcher], env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=30)

    def visible_boxes(self):
        return self.xdotool("search", "--onlyvisible", "--name", "^" + TITLE + "$").stdout.split()

    def exists(self, window):
        return self.xdotool("getwindowname", window).returncode == 0

    def answer(self, key, number):
        """Waits for the number-th box (counting from 1) and presses key on
        it until it takes effect: the box goes, the next one starts, or the
        launcher ends. Window ids can come back for the next box, so the
        count of zenity calls tells the boxes apart."""
        deadline = time.time() + 60
        window = None
        while time.time() < deadline:
            if len(self.boxes()) >= number:
                found = self.visible_boxes()
                if found:
                    window = found[0]
                    break
            self.assertIsNone(self.process.poll(), "the launcher ended without asking")
            time.sleep(0.1)
        self.assertIsNotNone(window, "no box titled " + TITLE)
        self.assertEqual(self.xdotool("getwindowname", window).stdout.strip(), TITLE)
        # A freshly mapped GTK window may miss a key that comes before it has
        # the focus; press again until it takes.
        while time.time() < deadline:
            self.xdotool("windowfocus", "--sync", window)
            time.sleep(0.3)
            self.xdotool("key", key)
            settle = time.time() + 3
            while time.time() < settle:
                if (self.process.poll() is not None or len(self.boxes()) > number
                        or not self.exists(window)):
                    return
                time.sleep(0.1)
        self.fail("the box did not close on " + key)

    def boxes(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            calls = f.read().split("--\n")[:-1]
        return [c.splitlines() for c in calls]

    def finish(self):
        self.assertEqual(self.process.wait(timeout=60), 0)

    def test_yes_runs_setup_and_cleans_up(self):
        self.start()
        self.answer("Return", 1)
        self.finish()
        box = self.boxes()
        self.assertEqual(len(box), 1)
        self.assertIn("--question", box[0])
        self.assertIn("--icon-name=dialog-warning", box[0])
        self.assertIn("--title=" + TITLE, box[0])
        self.assertIn("--text=" + QUESTION, box[0])
        folder = os.path.join(self.temp, "_INST0")
        with open(self.record) as f:
            self.assertEqual(f.read(), f"program={folder}/SETUP.EXE\nargs=0\nfolder=700\n"
                                       "MANUAL.TXT\nSETUP.EXE\n")
        self.assertEqual(os.listdir(self.temp), [])

    def test_closing_the_question_leaves_nothing(self):
        self.start()
        self.answer("Escape", 1)
        self.finish()
        self.assertEqual(len(self.boxes()), 1)
        self.assertEqual(os.listdir(self.temp), [])
        self.assertFalse(os.path.exists(self.record))

    def test_failure_shows_the_error_then_setup_failed(self):
        with open(os.path.join(self.temp, "_INST0"), "w") as f:
            f.write("in the way")
        self.start()
        self.answer("Return", 1)
        self.answer("Return", 2)
        self.answer("Return", 3)
        self.finish()
        box = self.boxes()
        self.assertEqual(len(box), 3)
        for b in box[1:]:
            self.assertIn("--warning", b)
            self.assertIn("--title=" + TITLE, b)
        self.assertIn("--text=File exists", box[1])
        self.assertIn("--text=Setup failed.", box[2])
        self.assertEqual(os.listdir(self.temp), ["_INST0"])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
