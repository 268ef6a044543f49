"""What the outbox promises, tried the hard way with real processes: a
kill -9 at each write of a send, several command-line runs at once, and a
full disk (a tmpfs of our own in a private mount namespace)."""

import os
import re
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import Desktop, tolvane_on, unused_port  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
URL = "http://host/once.html"


class OutboxPromises(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(ARGS.artifacts, "outbox-promises", window_manager=False,
                               tray=False)
        self.t = tolvane_on(self, self.desktop, ARGS.bin)

    def delivered(self, url):
        return sum(1 for _, data in self.t.smtp.messages() if url in data)

    def clear_state(self):
        for name in ("Outbox.Dat", "History.Dat"):
            path = os.path.join(self.t.folder, name)
            if os.path.exists(path):
                os.remove(path)

    def strace(self, *args, trace):
        env = self.desktop.env()
        if env.get("ASAN_OPTIONS"):
            env["ASAN_OPTIONS"] += ":detect_leaks=0"  # LeakSanitizer cannot run under ptrace
        return subprocess.run(
            ["strace", "-f", "-qq", "-e", "signal=none", *trace,
             self.t.program, *args], env=env, cwd=self.t.work,
            capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)

    def test_a_kill_at_each_write_neither_loses_nor_doubles_a_request(self):
        t = self.t
        t.write_settings(KeepFailed=1)
        # Which writes a whole send makes, in order.
        log = os.path.join(self.desktop.tmp, "renames")
        done = self.strace("--request", URL, trace=("-o", log, "-e", "trace=rename,renameat,renameat2"))
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(log) as f:
            calls = [m.groups() for m in re.finditer(r'(rename\w*)\(.*"([^"\n]*)"', f.read())]
        writes = [(n, call, os.path.basename(target)) for n, (call, target) in enumerate(calls, 1)
                  if os.path.basename(target) in ("Outbox.Dat", "History.Dat")]
        self.assertGreaterEqual(len(writes), 3, calls)
        # Every write of the outbox and the history, each time the process
        # is killed just before it, then the next --flush.
        for n, call, name in writes:
            with self.subTest(write=n, file=name):
                self.clear_state()
                before = self.delivered(URL)
                killed = self.strace("--request", URL, trace=(
                    "-o", "/dev/null", "-e", "inject=%s:signal=SIGKILL:when=%d" % (call, n)))
                self.assertEqual(killed.returncode, -9, killed.stdout + killed.stderr)
                sent_then = self.delivered(URL) - before
                flush = t.command("--flush")
                sent = self.delivered(URL) - before
                history = t.history()
                outbox = t.lines("Outbox.Dat")
                self.assertLessEqual(sent, 1, "sent twice")
                self.assertLessEqual(history.count(URL), 1, history)
                if n == writes[0][0]:
                    # Killed before the request was claimed: the caller got
                    # no answer, and nothing went or waits.
                    self.assertEqual((sent, history, outbox), (0, [], []))
                elif sent_then == 0:
                    # Its message never ended: the next run sent it.
                    self.assertEqual((sent, history, outbox), (1, [URL], []), flush.stdout)
                else:
                    # The server may hold it: recorded as sent, or left to the user.
                    self.assertEqual(sent, 1)
                    recorded = history == [URL] and outbox == []
                    unconfirmed = history == [] and len(outbox) == 1 and \
                        outbox[0].endswith("\tdelivery not confirmed")
                    self.assertTrue(recorded or unconfirmed, (history, outbox))

    def test_held_requests_go_as_one_mail_and_a_kill_at_each_write_loses_or_doubles_none(self):
        t = self.t
        t.write_settings(KeepFailed=1, Collect=1)
        urls = ["http://host/held-%d.html" % i for i in range(3)]
        for url in urls:
            held = t.command("--request", url)
            self.assertEqual(held.returncode, 75, held.stdout + held.stderr)
        self.assertIn("held", held.stdout)
        self.assertEqual(t.smtp.messages(), [])
        held_outbox = open(os.path.join(t.folder, "Outbox.Dat"), "rb").read()
        carried = lambda: [data for _, data in t.smtp.messages() if urls[0] in data]

        log = os.path.join(self.desktop.tmp, "batch-renames")
        done = self.strace("--flush", trace=("-o", log, "-e", "trace=rename,renameat,renameat2"))
        self.assertEqual(done.returncode, 0, done.stderr)
        # One mail: every request's line, then the server's closing line once.
        self.assertEqual(len(carried()), 1)
        body = re.split(r"\r?\n\r?\n", carried()[0], maxsplit=1)[1].replace("\r", "")
        self.assertEqual(body.strip().split("\n"), ["send " + u for u in urls] + ["-----"])
        self.assertEqual(sorted(t.history()), urls)
        with open(log) as f:
            calls = [m.groups() for m in re.finditer(r'(rename\w*)\(.*"([^"\n]*)"', f.read())]
        writes = [(n, call) for n, (call, target) in enumerate(calls, 1)
                  if os.path.basename(target) in ("Outbox.Dat", "History.Dat")]
        for n, call in writes:
            with self.subTest(write=n):
                self.clear_state()
                with open(os.path.join(t.folder, "Outbox.Dat"), "wb") as f:
                    f.write(held_outbox)
                before = len(carried())
                killed = self.strace("--flush", trace=(
                    "-o", "/dev/null", "-e", "inject=%s:signal=SIGKILL:when=%d" % (call, n)))
                self.assertEqual(killed.returncode, -9, killed.stdout + killed.stderr)
                t.command("--flush")
                sent, history, outbox = len(carried()) - before, t.history(), t.outbox()
                # The three travel together: all recorded, all waiting for the
                # user (delivery not confirmed), or sent once by the next run.
                self.assertLessEqual(sent, 1, "sent twice")
                self.assertTrue(sorted(history) == urls and outbox == [] or
                                history == [] and sorted(outbox) == urls, (history, outbox))

    def test_runs_at_once_keep_every_request_and_send_each_once(self):
        t = self.t
        t.write_settings(unused_port(), KeepFailed=1)
        urls = ["http://host/%d.html" % i for i in range(4)]
        runs = [subprocess.Popen([t.program, "--request", u], env=self.desktop.env(),
                                 cwd=t.work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, text=True) for u in urls]
        for run in runs:
            out = run.communicate(timeout=60)[0]
            self.assertEqual(run.returncode, 75, out)
        self.assertEqual(sorted(t.outbox()), urls)

        t.write_settings(KeepFailed=1)
        flushes = [subprocess.Popen([t.program, "--flush"], env=self.desktop.env(), cwd=t.work,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL, text=True) for _ in range(3)]
        for run in flushes:
            out = run.communicate(timeout=60)[0]
            self.assertEqual(run.returncode, 0, out)
        self.assertEqual(sorted(u for u in urls for _ in range(self.delivered(u))), urls)
        self.assertEqual(t.outbox(), [])
        self.assertEqual(sorted(t.history()), urls)

    def test_a_full_disk_is_said_and_nothing_goes_unrecorded(self):
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("needs root for a tmpfs in a private mount namespace")
        t = self.t
        full = os.path.join(self.desktop.tmp, "full")
        os.makedirs(full)
        # The program folder on a tmpfs that is then filled to the last byte.
        script = ('mount -t tmpfs -o size=256m tmpfs "$1" && cp -a "$2"/. "$1"/ && '
                  '(dd if=/dev/zero of="$1/filler" bs=4k 2>/dev/null; '
                  ' dd if=/dev/zero of="$1/filler2" bs=1 2>/dev/null; true) && '
                  'shift 2 && exec "$@"')

        def on_full_disk(*args):
            return subprocess.run(
                ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh", full,
                 t.folder, os.path.join(full, "tolvane"), *args], env=self.desktop.env(),
                cwd=t.work, capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)

        for port in (unused_port(), None):
            t.write_settings(port, KeepFailed=1)
            done = on_full_disk("--request", URL)
            self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
            self.assertIn("No space left on device", done.stderr)
            self.assertNotIn("kept", done.stdout)
        # Nothing went out that could not be written down first.
        self.assertEqual(self.delivered(URL), 0)


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
