"""Tolvane on Wayland: sway (headless) whose data-control protocol lets it
see copies made with wl-copy while none of its windows has focus, a tray
watcher on a private session bus, and weston, which offers no data-control,
where Tolvane runs through XWayland (weston 10's own clipboard bridge to
X11 fails on a copy, so no copy is made there). Compositors and Tolvane run
as an unprivileged user: sway refuses root."""

import os
import signal
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import WaylandSession, tolvane_on, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()


def catches(pid, sig):
    with open("/proc/%d/status" % pid) as f:
        mask = [line.split()[1] for line in f if line.startswith("SigCgt:")][0]
    return bool(int(mask, 16) & (1 << (sig - 1)))


class WaylandTest(unittest.TestCase):
    kind = "sway"
    xwayland = False

    def setUp(self):
        self.session = WaylandSession(ARGS.artifacts, "wayland", self.kind, self.xwayland)
        self.t = tolvane_on(self, self.session, ARGS.bin)
        self.smtp = self.t.smtp
        self.session.write_file(os.path.join(self.t.work, "Test Message.Flg"), " ")
        self.t.write_settings(CheckHistory=0)

    def stop_tolvane(self):
        # Its stop handler comes last in start-up, after the log's last line.
        wait_until(lambda: catches(self.t.proc.pid, signal.SIGTERM), what="start-up's end")
        self.t.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.t.end(), 0, self.t.output())

    def requests(self):
        """The address of each request the server got, in order."""
        return [data.split("send ", 1)[1].split("\r\n", 1)[0]
                for _, data in self.smtp.messages() if "send " in data]


class Sway(WaylandTest):
    def test_copies_without_focus_images_bursts_and_the_tray_switch(self):
        s = self.session
        s.start_session_bus()
        s.start_tray_watcher()
        self.t.start()
        wait_until(s.tray_items, what="the tray icon's registration")
        # Only the tray icon: no window of Tolvane exists, so none has focus.
        self.assertNotIn("Tolvane", s.windows())

        s.copy("http://host/docs/page.html")
        self.t.wait_messages(1, 60)
        self.assertEqual(self.requests(), ["http://host/docs/page.html"])

        # A picture is a change without text: logged, no request.
        self.assertEqual(self.t.lines_after_copy(b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 0.5,
                                                 mime="image/png"), ["CB change detected"])

        # Fifty copies in a row: fifty dispatches, in order, none twice. The
        # compositor serves only the newest copy, so each is made once the
        # last one was seen (a user copies no faster; a slow sanitizer
        # build could otherwise be handed only the newest).
        mark = len(self.t.log())
        burst = ["http://host/burst/%02d.html" % i for i in range(50)]
        for n, url in enumerate(burst, 1):
            s.copy(url)
            wait_until(lambda: self.t.log()[mark:].count("CB change detected") >= n,
                       what="copy %d seen" % n)
        self.t.wait_messages(51, 60)
        self.assertEqual(self.requests()[1:], burst)
        self.assertEqual(self.t.log()[mark:].count("CB change detected"), 50)

        # A click on the icon (the host's Activate) switches Tolvane off.
        item = s.tray_items()[-1]
        r = s.run(["gdbus", "call", "--session", "--dest", item, "--object-path",
                   "/StatusNotifierItem", "--method", "org.kde.StatusNotifierItem.Activate",
                   "0", "0"])
        self.assertEqual(r.returncode, 0, r.stderr)
        time.sleep(0.5)
        self.assertEqual(self.t.lines_after_copy("http://host/while-off.html", 0.8),
                         ["CB change detected", "Copy not requested: Tolvane is switched off"])
        self.assertEqual(len(self.smtp.messages()), 51)
        self.stop_tolvane()

    def test_without_a_tray_watcher_the_window_shows_and_the_icon_comes_later(self):
        s = self.session
        s.start_session_bus()
        self.t.start()
        wait_until(lambda: "Tolvane" in s.windows(), what="the main window")
        self.assertIn("No StatusNotifierWatcher on the session bus: showing the main window",
                      self.t.log())
        s.start_tray_watcher()
        wait_until(s.tray_items, what="the tray icon's registration")
        self.assertEqual(len(s.tray_items()), 1)
        self.stop_tolvane()

    def test_the_confirmation_is_an_ordinary_box_of_the_window(self):
        s = self.session
        self.t.write_settings(CheckHistory=0, Confirm=0)
        self.t.start()  # no session bus: no tray, the window shows
        wait_until(lambda: "Tolvane" in s.windows(), what="the main window")
        s.copy("http://host/asked.html")
        wait_until(lambda: "Confirm" in s.windows(), what="the confirmation box")
        self.assertNotIn("Tolvane", s.windows())
        # Closing it answers No, as Escape does: nothing sent, the window back.
        s.swaymsg('[title="^Confirm$"] kill')
        wait_until(lambda: "Tolvane" in s.windows() and "Confirm" not in s.windows(),
                   what="the window back")
        time.sleep(0.5)
        self.assertEqual(self.smtp.messages(), [])
        self.assertNotIn("Requesting", self.t.log())
        self.stop_tolvane()


class Weston(WaylandTest):
    kind = "weston"
    xwayland = True

    def test_no_data_control_runs_through_xwayland_and_says_so_once(self):
        note = ("The Wayland compositor offers no clipboard watching (data-control): "
                "running through XWayland")
        self.t.start()
        self.assertIn(note, self.t.log())
        # The box is an X11 window: Tolvane runs on XWayland.
        wait_until(lambda: self.x_windows("^Tolvane$"), what="the notice box")
        with open(self.session.settings_file(), "rb") as f:
            self.assertIn(b"ClipboardNotice=1", f.read())
        self.stop_tolvane()

        # The next start logs it again, without the box.
        self.t.start()
        lines = self.t.log()
        last_start = len(lines) - 1 - lines[::-1].index("Started Tolvane")
        self.assertEqual(lines[last_start + 1], note)
        time.sleep(1.0)
        self.assertEqual(self.x_windows("^Tolvane$"), [])
        self.stop_tolvane()

    def x_windows(self, name):
        r = self.session.run(["xdotool", "search", "--onlyvisible", "--name", name])
        return r.stdout.split()


class WestonWithoutXWayland(WaylandTest):
    kind = "weston"

    def test_neither_data_control_nor_xwayland_is_said_and_tolvane_runs_on(self):
        self.t.start()
        log = self.t.log()
        self.assertIn("The Wayland compositor offers no clipboard watching (data-control) and "
                      "there is no XWayland: copies are seen only while a Tolvane window has "
                      "the focus", log)
        self.assertIn("No data-control protocol: copies are seen only while a Tolvane window "
                      "has the focus", log)
        self.stop_tolvane()


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
