"""What ends or leaves Tolvane while it works: a command line that goes away,
a stop while a box is open, the display ending under it, a tray host that
comes late, no display at all. Real desktop (Xvfb, openbox, trayer) and a
real SMTP server."""

import os
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import Desktop, tolvane_on  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
CONFIRM = "^Confirm$"
STOP_WITHIN = 6 + 3  # the timer's 6 seconds, and time to end


class Stops(unittest.TestCase):
    def open_desktop(self, **kw):
        d = Desktop(ARGS.artifacts, "stops", 1024, 768, **kw)
        return d, tolvane_on(self, d, ARGS.bin)

    def assertEndedCleanly(self, code, t):
        self.assertEqual(code, 0, t.output())
        for fault in ("malloc", "AddressSanitizer", "Segmentation"):
            self.assertNotIn(fault, t.output())

    def test_a_command_line_that_leaves_does_not_take_the_program_with_it(self):
        d, t = self.open_desktop()
        t.write_settings(Confirm=0)
        open(os.path.join(t.work, "Test Message.Flg"), "w").close()
        t.start()
        client = subprocess.Popen(["timeout", "3", t.program, "--request",
                                   "http://host/asked.html"], env=d.env(), cwd=t.work,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        box = d.wait_window(CONFIRM)
        self.assertEqual(client.wait(timeout=10), 124)  # the client went away
        client.stdout.close()
        client.stderr.close()
        d.key("Return", window=box)  # Yes
        t.wait_messages(1)
        time.sleep(1.0)
        self.assertIsNone(t.proc.poll(), t.output())
        self.assertEndedCleanly(t.stop_with_flag(), t)
        self.assertEqual(t.history(), ["http://host/asked.html"])

    def test_a_stop_while_the_question_is_open_is_a_no(self):
        d, t = self.open_desktop()
        t.write_settings(Confirm=0)
        t.start()
        t.copy("http://host/asked.html")
        d.wait_window(CONFIRM)
        mark = len(t.log())
        t.copy("http://host/queued.html")
        t.wait_log("CB change detected", mark)
        t.proc.send_signal(signal.SIGTERM)
        self.assertEndedCleanly(t.end(), t)
        time.sleep(0.5)
        self.assertEqual(t.smtp.messages(), [])  # no request, no test message
        dropped = [l for l in t.log() if l.startswith("Request dropped at stop: ")]
        self.assertEqual(dropped, ["Request dropped at stop: http://host/asked.html",
                                   "Request dropped at stop: http://host/queued.html"])
        self.assertEqual(t.history(), [])

    def test_a_stop_during_the_first_start_box_is_not_lost(self):
        d, t = self.open_desktop()
        # No settings: the required-field box comes up at start.
        t.start(wait=False)
        d.wait_window("^Error$")
        started = time.monotonic()
        open(os.path.join(t.folder, "Installer.Flg"), "w").close()
        self.assertEndedCleanly(t.end(STOP_WITHIN), t)
        self.assertLess(time.monotonic() - started, STOP_WITHIN)
        self.assertFalse(os.path.exists(os.path.join(t.folder, "Installer.Flg")))

        t.start(wait=False)
        d.wait_window("^Error$")
        t.proc.send_signal(signal.SIGTERM)
        self.assertEndedCleanly(t.end(STOP_WITHIN), t)

    def test_the_display_ending_under_the_program_touches_no_freed_memory(self):
        d, t = self.open_desktop()
        t.write_settings()
        t.start()
        d.tray_icon("tolvane")
        d.end_display()
        code = t.end()
        self.assertNotIn(code, (-signal.SIGABRT, -signal.SIGSEGV, 134, 139), t.output())
        for fault in ("malloc", "AddressSanitizer", "double free"):
            self.assertNotIn(fault, t.output())

    def test_the_icon_comes_when_the_tray_host_starts_later(self):
        d, t = self.open_desktop(tray=False)
        t.write_settings()
        t.start()
        time.sleep(1.0)
        d.start_tray_host()
        d.tray_icon("tolvane", timeout=10)

    def test_without_a_display_one_line_and_exit_2(self):
        d, t = self.open_desktop(window_manager=False, tray=False)
        env = d.env()
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        done = subprocess.run([t.program], env=env, cwd=t.work, capture_output=True, text=True,
                              timeout=20, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertEqual(done.stdout, "")
        lines = done.stderr.splitlines()
        self.assertEqual(len(lines), 1, done.stderr)
        self.assertIn("desktop session", lines[0])
        self.assertIn("--compose", lines[0])
        self.assertIn("--request", lines[0])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
