"""Starting Tolvane more than once, with the duplicate flag, silently, and on a
desktop without a tray host."""

import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_args  # noqa: E402
from desktop import Desktop, entered, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
SETTINGS = ("[General]\r\nEmail=me@example.org\r\nTipEnabled=1\r\n"
            "[Servers]\r\nSMTP=mail.example.org\r\n")


class Instances(unittest.TestCase):
    def start_desktop(self, tray=True):
        d = entered(self, Desktop(ARGS.artifacts, "shell-instances", tray=tray))
        self.folder = d.program_folder(ARGS.bin)
        self.program = os.path.join(self.folder, "tolvane")
        d.write_file(d.settings_file(), SETTINGS)
        return d

    def stop_by_flag(self, d, proc):
        open(os.path.join(self.folder, "Installer.Flg"), "w").close()
        self.assertEqual(proc.wait(timeout=15), 0, d.log(proc.args[0]))

    def test_silent_start_without_tray_host_runs_on(self):
        d = self.start_desktop(tray=False)
        # "/s" counts anywhere in the parameters, even inside a longer one.
        first = d.launch([self.program, "x/silent"], name="first")
        time.sleep(3)
        self.assertIsNone(first.poll(), d.log("first"))
        # Silent: no tip; settings complete: no window.
        self.assertEqual(d.windows(name="^Tolvane"), [])
        # The end of the session ends it the normal way: the state is saved.
        first.send_signal(signal.SIGTERM)
        self.assertEqual(first.wait(timeout=15), 0, d.log("first"))
        with open(d.settings_file(), "rb") as f:
            self.assertIn(b"TrayIconDim=0\r\n", f.read())

    def test_tip_at_a_normal_start_and_not_with_capital_s(self):
        d = self.start_desktop()
        first = d.launch([self.program, "/S"], name="first")
        tip = d.wait_window("^Tolvane - Tip of the Day$")
        # While the tip shows, the tray icon is away.
        self.assertEqual(d.tray_icons("tolvane"), [])
        d.key("Return", window=tip)
        d.tray_icon("tolvane")
        self.stop_by_flag(d, first)

    def test_a_start_that_cannot_take_the_lock_refuses_and_says_why(self):
        d = self.start_desktop()
        # No runtime folder, and the state folder cannot be made.
        state = os.path.join(d.tmp, "state-is-a-file")
        open(state, "w").close()
        proc = d.launch([self.program, "/s"], name="refused", XDG_RUNTIME_DIR="",
                        XDG_STATE_HOME=state)
        box = d.wait_window("^Tolvane$")
        self.assertEqual(d.tray_icons("tolvane"), [])
        d.key("Return", window=box)
        self.assertEqual(proc.wait(timeout=15), 1, d.log("refused"))
        self.assertIn("does not start a second time", d.log("refused"))
        self.assertIn(state + "/tolvane/", d.log("refused"))

    def test_duplicate_flag_lets_one_more_start_run(self):
        d = self.start_desktop()
        first = d.launch([self.program, "/s"], name="first")
        d.tray_icon("tolvane")
        flag = os.path.join(self.folder, "AllowDuplicateInstance.Flg")
        open(flag, "w").close()
        second = d.launch([self.program, "/s"], name="second")
        wait_until(lambda: not os.path.exists(flag), what="the flag to be taken")
        time.sleep(2)
        self.assertIsNone(second.poll(), d.log("second"))
        third = d.run([self.program, "/s"])
        self.assertEqual(third.returncode, 0)
        self.assertIsNone(first.poll())
        self.assertIsNone(second.poll())
        # A stop request ends at least one of the two (both, when their
        # timers tick together); asked again, the other one ends too.
        flag = os.path.join(self.folder, "Installer.Flg")
        for _ in range(2):
            if first.poll() is not None and second.poll() is not None:
                break
            open(flag, "w").close()
            wait_until(lambda: not os.path.exists(flag), 15, "a stop request to be taken")
            wait_until(lambda: first.poll() is not None or second.poll() is not None,
                       15, "an instance to end")
        self.assertEqual(first.wait(timeout=15), 0)
        self.assertEqual(second.wait(timeout=15), 0)


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
