"""The road of a request on a real desktop: Tolvane in the tray of an Xvfb
display, the real clipboard set with xclip, and a real SMTP server (aiosmtpd)
on loopback receiving what Tolvane sends; then the command line, with and
without the tray program running."""

import os
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import Desktop, tolvane_on, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()


def unstamped(data):
    """A received mail without its Date: and Message-ID: lines, which every
    mail must carry and which differ from one mail to the next."""
    head, _, body = data.partition("\r\n\r\n")
    lines = head.split("\r\n")
    stamps = [l for l in lines if l.startswith(("Date: ", "Message-ID: <"))]
    assert len(stamps) == 2, head
    return "\r\n".join(l for l in lines if l not in stamps) + "\r\n\r\n" + body


def page_request(*urls):
    """The wire form of a mail to the shipped pages server carrying urls, unstamped."""
    return ("From:      <me@home.test>\r\n"
            "To:        <query@saildocs.com>\r\n"
            "Subject:  request\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n" + "".join("send " + url + "\r\n" for url in urls) +
            "-----\r\n"
            "\r\n")


class RequestRoad(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(ARGS.artifacts, "request", 1024, 768)
        self.t = tolvane_on(self, self.desktop, ARGS.bin)

    def assertCopyOnlyLogged(self, url):
        self.assertEqual(self.t.lines_after_copy(url),
                         ["CB change detected", "Copy not requested: Tolvane is switched off"])
        self.assertEqual(self.t.smtp.messages(), [])

    def test_a_copy_sends_the_request_and_the_test_message_once(self):
        t = self.t
        t.write_settings()
        t.start()
        t.copy("http://host/docs/page.html#part2")
        t.wait_messages(2)
        env, data = t.smtp.messages()[0]
        self.assertEqual(env[1:3], ["me@home.test", "query@saildocs.com"])
        self.assertEqual(unstamped(data), page_request("http://host/docs/page.html"))
        # The test message's content is the dispatch test's; its flag lies where Tolvane started.
        self.assertTrue(os.path.exists(os.path.join(t.work, "Test Message.Flg")))
        t.copy("http://host/second.htm")
        t.wait_messages(3)
        self.assertEqual(unstamped(t.smtp.messages()[2][1]), page_request("http://host/second.htm"))
        self.assertEqual(t.stop_with_flag(), 0, t.output())
        self.assertEqual(t.history(), ["http://host/second.htm",
                                       "http://host/docs/page.html#part2"])

    def test_the_test_message_goes_once_from_a_folder_that_cannot_be_written(self):
        t = self.t
        t.write_settings()
        t.start(cwd="/proc")  # not writable, not even by root
        t.copy("http://host/one.htm")
        t.wait_messages(2)
        t.copy("http://host/two.htm")
        t.wait_messages(3)
        self.assertNotIn("Test Message", t.smtp.messages()[2][1])
        self.assertFalse(self.desktop.windows(name="^Tolvane$"), "an error box")
        flag = os.path.join(os.path.dirname(self.desktop.settings_file()), "Test Message.Flg")
        self.assertTrue(os.path.exists(flag))

    def test_repeats_are_discarded_or_refused(self):
        t = self.t
        t.write_settings(CheckHistory=1)
        t.start()
        url = "http://host/docs/page.html"
        t.copy(url)
        t.wait_messages(2)
        mark = len(t.log())
        t.copy(url)
        t.wait_log("Fast Duplicate Discarded", mark)
        # Later, with "Don't repeat requests" on: the brief notice, no mail.
        time.sleep(3.2)
        mark = len(t.log())
        t.copy(url)
        time.sleep(0.8)
        self.desktop.screenshot("request_duplicate_notice")
        t.wait_log("Requesting", mark)
        self.assertEqual(len(t.smtp.messages()), 2)

    def test_a_tray_click_switches_requests_off(self):
        t, d = self.t, self.desktop
        t.write_settings()
        t.start()
        icon = d.tray_icon("tolvane")
        d.click(icon, button=1)
        time.sleep(0.5)
        self.assertCopyOnlyLogged("http://host/while-off.htm")

    def test_a_dim_icon_stored_at_the_last_end_means_disabled(self):
        self.t.write_settings(Enabled=0, TrayIconDim=1)
        self.t.start()
        self.assertCopyOnlyLogged("http://host/behind-a-dim-icon.htm")

    def test_a_failed_send_shows_the_box_and_records_nothing(self):
        t, d = self.t, self.desktop
        t.write_settings()
        open(os.path.join(t.work, "Test Message.Flg"), "w").close()
        t.start()
        t.smtp.stop()
        mark = len(t.log())
        t.copy("http://host/no-server.htm")
        box = d.wait_window("^Tolvane$")
        d.screenshot("request_failure_box", box)
        failures = lambda: [l for l in t.log()[mark:] if l.startswith("Error in Request Failed.")]
        wait_until(failures, 20, "the failure in the log")
        refused = "\n[10061] Connection refused (127.0.0.1 port %d)" % t.smtp.port
        self.assertTrue(failures()[0].endswith(refused), failures())
        d.key("Return", window=box)
        d.wait_no_window("^Tolvane$")
        self.assertEqual(t.stop_with_flag(), 0, t.output())
        self.assertEqual(t.history(), [])

    def test_the_command_line_hands_over_or_sends_alone(self):
        t = self.t
        t.write_settings()
        t.start()
        done = t.request("http://host/from-command.html")
        self.assertEqual((done.returncode, done.stdout), (0, "Sent\n"), done.stderr)
        self.assertEqual(unstamped(t.smtp.messages()[0][1]),
                         page_request("http://host/from-command.html"))
        self.assertEqual(t.stop_with_flag(), 0, t.output())

        done = t.request("http://host/alone.html")
        self.assertEqual((done.returncode, done.stdout), (0, "Sent\n"), done.stderr)
        self.assertEqual(unstamped(t.smtp.messages()[1][1]), page_request("http://host/alone.html"))
        self.assertEqual(t.history()[:2], ["http://host/alone.html",
                                           "http://host/from-command.html"])
        again = t.request("http://host/alone.html")
        self.assertEqual(again.returncode, 1)
        self.assertIn("Duplicate Request", again.stderr)

    def test_the_command_line_keeps_one_rule_with_or_without_the_tray(self):
        t = self.t
        t.write_settings(CheckHistory=0)
        long_tail = "q" * (70 * 1024)
        # A blank at the end of a long address is still seen; no address is cut.
        cases = ["http://host/a\nb", "http://host/blank ", "http://host/cr\r", "mailto:x@y",
                 "http://host/long?" + long_tail + " ", "mailto:" + long_tail,
                 "https://host/secure.html"]

        def answers():
            return [(r.returncode, r.stdout, r.stderr) for r in map(t.request, cases)]

        alone = answers()
        t.start()
        with_tray = answers()
        self.assertTrue(with_tray == alone, "the answers differ with the tray program")
        self.assertEqual([a[0] for a in alone], [1, 1, 1, 1, 1, 1, 0])
        self.assertIn("blank, a line break or a control character", alone[0][2])
        self.assertIn("blank, a line break or a control character", alone[4][2])
        self.assertTrue(alone[5][2].startswith("tolvane: not a request: mailto:" + long_tail + "/ "))
        sent = [m[1] for m in t.smtp.messages()]
        self.assertEqual(sum("send https://host/secure.html" in m for m in sent), 2)

    def test_a_login_without_a_stored_password_sends_nothing_and_says_how(self):
        t = self.t
        t.write_settings()
        with open(self.desktop.settings_file(), "ab") as f:
            f.write(b"SMTPUser=me@home.test\r\n")
        # No keyring on this desktop: the error says how to store a password.
        nopass = t.request("http://host/locked.html",
                           DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(t.work, "no-bus"))
        self.assertEqual(nopass.returncode, 1, nopass.stdout + nopass.stderr)
        self.assertIn("No password for me@home.test at 127.0.0.1", nopass.stderr)
        self.assertIn("secret-tool store", nopass.stderr)
        self.assertEqual(t.smtp.messages(), [])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
