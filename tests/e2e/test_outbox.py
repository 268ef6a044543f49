"""Requests copied while the mail server is unreachable wait in Outbox.Dat and
go out once it is back: Tolvane in the tray of an Xvfb display, the real
clipboard, aiosmtpd on loopback, and the command line's --request and
--flush."""

import os
import socket
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
import test_request as peers  # noqa: E402  (its wire form, not its tests)
from desktop import Desktop, SmtpServer, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
KEPT = "Request kept: [10061] Connection refused"


def unused_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Outbox(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(ARGS.artifacts, "outbox", 1024, 768)
        self.desktop.__enter__()
        self.addCleanup(self.desktop.stop)
        self.folder = self.desktop.program_folder(ARGS.bin)
        self.program = os.path.join(self.folder, "tolvane")
        self.work = os.path.join(self.desktop.tmp, "work")
        os.makedirs(self.work)
        self.outbox_file = os.path.join(self.folder, "Outbox.Dat")

    def write_settings(self, port, keep=1):
        path = self.desktop.settings_file()
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(("[General]\r\nEmail=me@home.test\r\nConfirm=2\r\nEnabled=0\r\n"
                     "TipEnabled=0\r\nKeepFailed=%d\r\n[Servers]\r\nSMTP=127.0.0.1:%d\r\n"
                     % (keep, port)).encode())

    def server(self, port=None):
        smtp = SmtpServer(os.path.join(self.desktop.tmp, "mail-%s" % port), port)
        self.addCleanup(smtp.stop)
        return smtp

    def lines(self, name):
        """The lines of a file in the program folder (none when it is missing)."""
        path = os.path.join(self.folder, name)
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return [line for line in f.read().decode().split("\r\n") if line]

    def log(self):
        return [line.split(": ", 1)[-1] for line in self.lines("DebugLog.Txt")]

    def urls(self, name):
        return [line.split("\t")[0].split(" ")[0] for line in self.lines(name)]

    def command(self, *args):
        return subprocess.run([self.program] + list(args), env=self.desktop.env(), cwd=self.work,
                              capture_output=True, text=True, timeout=60,
                              stdin=subprocess.DEVNULL)

    def start_tray(self):
        d = self.desktop
        tolvane = d._spawn("tolvane", [self.program], env=d.env(), cwd=self.work)
        d.tray_icon("tolvane")
        wait_until(lambda: "Loaded Server File" in self.log(), 20, "start-up")
        time.sleep(0.5)
        return tolvane

    def stop_tray(self, tolvane):
        flag = os.path.join(self.folder, "Installer.Flg")
        open(flag, "w").close()
        self.assertEqual(tolvane.wait(timeout=20), 0, self.desktop.log("tolvane"))
        if os.path.exists(flag):
            os.remove(flag)

    def test_kept_offline_survives_a_restart_and_goes_once_when_back(self):
        d = self.desktop
        port = unused_port()
        self.write_settings(port)
        tolvane = self.start_tray()

        url = "http://host/offline.html"
        mark = len(self.log())
        subprocess.run(["xclip", "-selection", "clipboard", "-i"], input=url.encode(),
                       env=d.env(), check=True, timeout=10)
        wait_until(lambda: KEPT in self.log()[mark:], 20, "the request kept")
        time.sleep(0.3)
        d.screenshot("outbox_kept_notice")
        # The notice instead of the failure box.
        self.assertEqual(d.windows("^Tolvane$"), [])
        self.assertFalse([l for l in self.log()[mark:] if l.startswith("Error in")])
        kept = self.lines("Outbox.Dat")
        self.assertEqual(len(kept), 1)
        self.assertTrue(kept[0].startswith(url + "\tpages@example.org\t"), kept)
        self.assertTrue(kept[0].endswith("\t[10061] Connection refused"), kept)

        # A restart keeps it.
        self.stop_tray(tolvane)
        self.assertEqual(self.lines("Outbox.Dat"), kept)
        tolvane = self.start_tray()

        # The command line's request joins it in the tray's outbox.
        second = "http://host/second.html"
        done = self.command("--request", second)
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertEqual(done.stdout, "kept: [10061] Connection refused\n")
        self.assertEqual(len(self.lines("Outbox.Dat")), 2)

        # The server is back: --flush hands over to the tray, which sends each once.
        smtp = self.server(port)
        done = self.command("--flush")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual([peers.unstamped(m[1]) for m in smtp.messages()],
                         [peers.page_request(url), peers.page_request(second)])
        self.assertEqual(self.lines("Outbox.Dat"), [])
        self.assertEqual(self.urls("History.Dat"), [second, url])
        done = self.command("--flush")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        time.sleep(0.5)
        self.assertEqual(len(smtp.messages()), 2)
        self.stop_tray(tolvane)

    def test_command_line_keeps_what_may_pass_and_flushes_it(self):
        smtp = self.server()
        self.write_settings(smtp.port)
        smtp.reply("451 4.3.0 Try again later")
        done = self.command("--request", "http://host/busy.html")
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertIn("kept: 451 4.3.0 Try again later", done.stdout)

        # A refusal for good is no reason to wait.
        smtp.reply("550 5.7.1 Refused")
        done = self.command("--request", "http://host/refused.html")
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("550 5.7.1 Refused", done.stderr)
        self.assertEqual(self.urls("Outbox.Dat"), ["http://host/busy.html"])

        smtp.reply("451 4.3.0 Try again later")
        done = self.command("--flush")
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertEqual(len(self.lines("Outbox.Dat")), 1)

        smtp.reply(None)
        done = self.command("--flush")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual([peers.unstamped(m[1]) for m in smtp.messages()],
                         [peers.page_request("http://host/busy.html")])
        self.assertEqual(self.lines("Outbox.Dat"), [])
        self.assertEqual(self.urls("History.Dat"), ["http://host/busy.html"])

        # With the setting off a failure is a failure, as before.
        self.write_settings(unused_port(), keep=0)
        done = self.command("--request", "http://host/off.html")
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertEqual(self.lines("Outbox.Dat"), [])

    def test_a_kill_while_the_outbox_is_written_leaves_the_old_file_whole(self):
        self.write_settings(unused_port())
        old = "http://host/old.html\tpages@example.org\t2026-12-08 09:00:00\t451 Later\r\n"
        with open(self.outbox_file, "wb") as f:
            f.write(old.encode())
        # Killed once the new text is written and before it replaces the file;
        # a writer that wrote into Outbox.Dat itself would be killed there.
        done = subprocess.run(
            ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "signal=none",
             "-e", "trace=fsync,fdatasync", "-e", "inject=fsync,fdatasync:signal=SIGKILL",
             self.program, "--request", "http://host/new.html"],
            env=self.desktop.env(), cwd=self.work, capture_output=True, text=True, timeout=60,
            stdin=subprocess.DEVNULL)
        self.assertNotEqual(done.returncode, 75, done.stdout + done.stderr)
        with open(self.outbox_file, "rb") as f:
            self.assertEqual(f.read().decode(), old)
        # The half-done write is the one that was cut off.
        left = [n for n in os.listdir(self.folder) if n.startswith(".Outbox.Dat.")]
        self.assertEqual(len(left), 1, os.listdir(self.folder))
        with open(os.path.join(self.folder, left[0]), "rb") as f:
            self.assertIn(b"http://host/new.html", f.read())
        # The next run reads the old file and keeps the new request beside it.
        done = self.command("--request", "http://host/new.html")
        self.assertEqual(done.returncode, 75, done.stdout + done.stderr)
        self.assertEqual(self.urls("Outbox.Dat"), ["http://host/old.html", "http://host/new.html"])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
