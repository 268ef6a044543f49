"""The whole road of a request on a real desktop: Tolvane in the tray of an
Xvfb display, the real clipboard set with xclip, and a real SMTP server
(aiosmtpd) on loopback receiving what Tolvane sends. Then the command line,
with and without the tray program running."""

import os
import re
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import Desktop, SmtpServer, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()


def page_request(url):
    """The wire form of a request to the shipped pages server."""
    return ("From:      <me@home.test>\r\n"
            "To:        <pages@example.org>\r\n"
            "Subject:  Page request\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "GET " + url + "\r\n"
            "\r\n")


class RequestRoad(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(ARGS.artifacts, "request", 1024, 768)
        self.desktop.__enter__()
        self.addCleanup(self.desktop.stop)
        self.folder = self.desktop.program_folder(ARGS.bin)
        self.program = os.path.join(self.folder, "tolvane")
        self.work = os.path.join(self.desktop.tmp, "work")
        os.makedirs(self.work)
        self.smtp = SmtpServer(os.path.join(self.desktop.tmp, "mail"))
        self.addCleanup(lambda: self.smtp.stop())

    def write_settings(self, check_history, port):
        path = self.desktop.settings_file()
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(("[General]\r\nEmail=me@home.test\r\nConfirm=2\r\nEnabled=0\r\n"
                     "CheckHistory=%d\r\nTipEnabled=0\r\n[Servers]\r\nSMTP=127.0.0.1:%d\r\n"
                     % (check_history, port)).encode())

    def log(self):
        path = os.path.join(self.folder, "DebugLog.Txt")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return [line.split(": ", 1)[-1] for line in f.read().decode().split("\r\n") if line]

    def copy(self, text):
        subprocess.run(["xclip", "-selection", "clipboard", "-i"], input=text.encode(),
                       env=self.desktop.env(), check=True, timeout=10)

    def wait_messages(self, count):
        wait_until(lambda: len(self.smtp.messages()) >= count, 20, "%d messages" % count)
        time.sleep(0.5)  # nothing more arrives
        self.assertEqual(len(self.smtp.messages()), count)

    def wait_log(self, line, after):
        wait_until(lambda: line in self.log()[after:], 20, repr(line) + " in the debug log")

    def history(self):
        with open(os.path.join(self.folder, "History.Dat"), "rb") as f:
            return [h.split(" ")[0] for h in f.read().decode().split("\r\n") if h]

    def request_command(self, url):
        return subprocess.run([self.program, "--request", url], env=self.desktop.env(),
                              cwd=self.work, capture_output=True, text=True, timeout=60,
                              stdin=subprocess.DEVNULL)

    def test_copy_to_delivery_duplicates_switch_failure_and_command_line(self):
        d = self.desktop
        self.write_settings(check_history=1, port=self.smtp.port)
        tolvane = d._spawn("tolvane", [self.program], env=d.env(), cwd=self.work)
        icon = d.tray_icon("tolvane")
        wait_until(lambda: "Loaded Server File" in self.log(), 20, "start-up")
        time.sleep(0.5)

        # A copied address becomes a request to the pages server, and the
        # first change also sends the test message to the user, once.
        url = "http://host/docs/page.html#part2"
        self.copy(url)
        self.wait_messages(2)
        env, data = self.smtp.messages()[0]
        self.assertEqual(env[1:3], ["me@home.test", "pages@example.org"])
        self.assertEqual(data, page_request("http://host/docs/page.html"))
        env, data = self.smtp.messages()[1]
        self.assertEqual(env[2], "me@home.test")
        self.assertIn("Subject:  Test Message from your copy of Tolvane", data)
        self.assertTrue(os.path.exists(os.path.join(self.work, "Test Message.Flg")))

        # The same address again at once: discarded, nothing sent.
        mark = len(self.log())
        self.copy(url)
        self.wait_log("Fast Duplicate Discarded", mark)
        # Later, with "Don't repeat requests" on: the brief notice, no mail.
        time.sleep(3.2)
        mark = len(self.log())
        self.copy(url)
        time.sleep(0.8)
        d.screenshot("request_duplicate_notice")
        self.wait_log("Requesting", mark)
        self.assertEqual(len(self.smtp.messages()), 2)

        # Another address: a request, and no second test message.
        self.copy("http://host/second.htm")
        self.wait_messages(3)
        self.assertEqual(self.smtp.messages()[2][1], page_request("http://host/second.htm"))

        # A click on the tray icon switches Tolvane off: copies send nothing.
        d.click(icon, button=1)
        time.sleep(0.5)
        mark = len(self.log())
        self.copy("http://host/while-off.htm")
        self.wait_log("CB change detected", mark)
        time.sleep(1.0)
        self.assertEqual(self.log()[mark:], ["CB change detected"])
        self.assertEqual(len(self.smtp.messages()), 3)
        d.click(icon, button=1)
        time.sleep(0.5)

        # The command line hands its address to the running program.
        done = self.request_command("http://host/from-command.html")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(len(self.smtp.messages()), 4)
        self.assertEqual(self.smtp.messages()[3][1],
                         page_request("http://host/from-command.html"))

        # With the mail server gone, the failure box and no history entry.
        self.smtp.stop()
        mark = len(self.log())
        self.copy("http://host/no-server.htm")
        box = d.wait_window("^Tolvane$")
        d.screenshot("request_failure_box", box)
        wait_until(lambda: any(l.startswith("Error in Request Failed.") for l in self.log()[mark:]),
                   20, "the failure in the log")
        failure = [l for l in self.log()[mark:] if l.startswith("Error in Request Failed.")][0]
        # The error that ended the request follows on a line of its own.
        self.assertRegex(failure, r"^Error in Request Failed\.-?\d+ with The last successful "
                                  r"operation was <Openning>\n\[10061\] Connection refused$")
        d.key("Return", window=box)
        d.wait_no_window("^Tolvane$")

        # The installer's stop request ends it; the history holds what was sent.
        open(os.path.join(self.folder, "Installer.Flg"), "w").close()
        self.assertEqual(tolvane.wait(timeout=20), 0, d.log("tolvane"))
        self.assertEqual(self.history(), ["http://host/from-command.html",
                                          "http://host/second.htm",
                                          "http://host/docs/page.html#part2"])

        # Without a running program the command line sends by itself.
        self.smtp = SmtpServer(os.path.join(d.tmp, "mail2"))
        self.write_settings(check_history=1, port=self.smtp.port)
        done = self.request_command("http://host/alone.html")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Sent", done.stdout)
        self.assertEqual(self.smtp.messages()[0][1], page_request("http://host/alone.html"))
        self.assertEqual(self.history()[0], "http://host/alone.html")
        again = self.request_command("http://host/alone.html")
        self.assertEqual(again.returncode, 1)
        self.assertIn("Duplicate Request", again.stderr)

        # A login name and no password anywhere (no keyring on this desktop):
        # nothing is sent, and the error says how to store one.
        with open(d.settings_file(), "ab") as f:
            f.write(b"SMTPUser=me@home.test\r\n")
        nopass = subprocess.run(
            [self.program, "--request", "http://host/locked.html"], cwd=self.work,
            env=d.env(DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(d.tmp, "no-bus")),
            capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual(nopass.returncode, 1, nopass.stdout + nopass.stderr)
        self.assertIn("No password for me@home.test at 127.0.0.1", nopass.stderr)
        self.assertIn("secret-tool store", nopass.stderr)
        self.assertEqual(len(self.smtp.messages()), 1)


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
