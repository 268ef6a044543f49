"""Requests copied while the mail server is unreachable wait in Outbox.Dat and
go out once it is back: Tolvane in the tray of an Xvfb display, the real
clipboard, aiosmtpd on loopback, and the command line's --request and
--flush."""

import os
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
import test_request as peers  # noqa: E402  (its wire form, not its tests)
from desktop import Desktop, SmtpServer, tolvane_on, unused_port  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
REFUSED = "[10061] Connection refused (127.0.0.1 port %d)"


class Outbox(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(ARGS.artifacts, "outbox", 1024, 768)
        self.t = tolvane_on(self, self.desktop, ARGS.bin)

    def write_settings(self, port, keep=1):
        self.t.write_settings(port, KeepFailed=keep)

    def start_tray(self):
        self.t.start()
        self.desktop.tray_icon("tolvane")

    def test_kept_offline_survives_a_restart_and_goes_once_when_back(self):
        d, t = self.desktop, self.t
        port = unused_port()
        self.write_settings(port)
        self.start_tray()

        url = "http://host/offline.html"
        mark = len(t.log())
        t.copy(url)
        t.wait_log("Request kept: " + REFUSED % port, mark)
        time.sleep(0.3)
        d.screenshot("outbox_kept_notice")
        # The notice instead of the failure box.
        self.assertEqual(d.windows("^Tolvane$"), [])
        self.assertFalse([l for l in t.log()[mark:] if l.startswith("Error in")])
        kept = t.lines("Outbox.Dat")
        self.assertEqual(len(kept), 1)
        self.assertTrue(kept[0].startswith(url + "\tquery@saildocs.com\t"), kept)
        self.assertTrue(kept[0].endswith("\t" + REFUSED % port), kept)

        # A restart keeps it.
        self.assertEqual(t.stop_with_flag(), 0, t.output())
        self.assertEqual(t.lines("Outbox.Dat"), kept)
        self.start_tray()

        # The command line's request joins it in the tray's outbox.
        second = "http://host/second.html"
        done = t.request(second)
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertEqual(done.stdout, "kept: %s\n" % (REFUSED % port))
        self.assertEqual(t.outbox(), [url, second])

        # The server is back: --flush hands over to the tray, which sends each
        # once, both in one mail, since the server takes several.
        smtp = SmtpServer(os.path.join(d.tmp, "mail-back"), port)
        self.addCleanup(smtp.stop)
        done = t.command("--flush")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual([peers.unstamped(m[1]) for m in smtp.messages()],
                         [peers.page_request(url, second)])
        self.assertEqual(t.outbox(), [])
        self.assertEqual(t.history(), [second, url])
        done = t.command("--flush")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        time.sleep(0.5)
        self.assertEqual(len(smtp.messages()), 1)
        self.assertEqual(t.stop_with_flag(), 0, t.output())

    def test_command_line_keeps_what_may_pass_and_flushes_it(self):
        t, smtp = self.t, self.t.smtp
        self.write_settings(smtp.port)
        smtp.reply("451 4.3.0 Try again later")
        done = t.request("http://host/busy.html")
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertIn("kept: 451 4.3.0 Try again later", done.stdout)

        # A refusal for good is no reason to wait.
        smtp.reply("550 5.7.1 Refused")
        done = t.request("http://host/refused.html")
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("550 5.7.1 Refused", done.stderr)
        self.assertEqual(t.outbox(), ["http://host/busy.html"])

        smtp.reply("451 4.3.0 Try again later")
        done = t.command("--flush")
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertEqual(len(t.outbox()), 1)

        smtp.reply(None)
        done = t.command("--flush")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual([peers.unstamped(m[1]) for m in smtp.messages()],
                         [peers.page_request("http://host/busy.html")])
        self.assertEqual(t.outbox(), [])
        self.assertEqual(t.history(), ["http://host/busy.html"])

        # With the setting off a failure is a failure, as before.
        self.write_settings(unused_port(), keep=0)
        done = t.request("http://host/off.html")
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertEqual(t.outbox(), [])

    def test_a_refused_sign_in_is_not_kept(self):
        t = self.t
        server = SmtpServer(os.path.join(self.desktop.tmp, "signin"),
                            options=("--auth", "me:right", "--plain-auth"))
        self.addCleanup(server.stop)

        def request_with(password):
            t.write_settings(server.port, KeepFailed=1, servers={
                "SMTPUser": "me", "SMTPPasswordCommand": "echo " + password})
            return t.request("http://host/%s.html" % password)

        # Waiting would not mend a wrong password: the user is told at once.
        done = request_with("wrong")
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("Authentication failed: 535", done.stderr)
        self.assertEqual(t.outbox(), [])
        done = request_with("right")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(len(server.messages()), 1)

    def test_a_kill_while_the_outbox_is_written_leaves_the_old_file_whole(self):
        t = self.t
        self.write_settings(unused_port())
        outbox = os.path.join(t.folder, "Outbox.Dat")
        old = "http://host/old.html\tpages@example.org\t2026-12-08 09:00:00\t451 Later\r\n"
        with open(outbox, "wb") as f:
            f.write(old.encode())
        # Killed once the new text is written and before it replaces the file;
        # a writer that wrote into Outbox.Dat itself would be killed there.
        done = subprocess.run(
            ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "signal=none",
             "-e", "trace=fsync,fdatasync", "-e", "inject=fsync,fdatasync:signal=SIGKILL",
             t.program, "--request", "http://host/new.html"],
            env=self.desktop.env(), cwd=t.work, capture_output=True, text=True, timeout=60,
            stdin=subprocess.DEVNULL)
        self.assertNotEqual(done.returncode, 75, done.stdout + done.stderr)
        with open(outbox, "rb") as f:
            self.assertEqual(f.read().decode(), old)
        # The half-done write is the one that was cut off.
        left = [n for n in os.listdir(t.folder) if n.startswith(".Outbox.Dat.")]
        self.assertEqual(len(left), 1, os.listdir(t.folder))
        with open(os.path.join(t.folder, left[0]), "rb") as f:
            self.assertIn(b"http://host/new.html", f.read())
        # The next run reads the old file and keeps the new request beside it.
        done = t.request("http://host/new.html")
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertEqual(t.outbox(), ["http://host/old.html", "http://host/new.html"])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
