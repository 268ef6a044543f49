"""A launcher packed with wrap-pack, answered on a terminal (a pseudo-terminal
that is the launcher's controlling terminal), and with nobody to ask."""

import errno
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_args  # noqa: E402
from wrap_product import QUESTION, TITLE, PackedProduct  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()

SETUP_SCRIPT = """#!/bin/sh
d=$(dirname "$0")
{{ echo "program=$0"; echo "args=$#"; echo "cwd=$(pwd)"
  echo "folder=$(stat -c %a "$d")"; echo "self=$(stat -c %a "$0")"; ls "$d"; }} > '{record}'
cp "$d/DATA.BIN" '{record}.data'
exit 7
"""


class PackedLauncher(PackedProduct):
    bin = ARGS.bin

    def setUp(self):
        super().setUp()
        self.cwd = os.path.join(self.root, "cwd")
        os.mkdir(self.cwd)
        self.write("SETUP.EXE", SETUP_SCRIPT.format(record=self.record))
        self.data = os.urandom(200000) + b"text " * 100000
        self.write("DATA.BIN", self.data)
        self.write("README.TXT", b"Read me.\r\n")
        self.packed()

    def run_on_terminal(self, answer, then=None, env=None, when=None):
        """Runs the launcher with a pseudo-terminal as its controlling
        terminal; answers the question once it shows; then, once then[0]
        shows, writes then[1]; when(pid) is called on every pass until it
        returns True. Returns the output; the launcher ends with 0 whatever
        the answer or the failure."""
        pid, master = pty.fork()
        if pid == 0:
            os.chdir(self.cwd)
            os.execve(self.launcher, [self.launcher], env or self.quiet_env())
        output = b""
        answered = False
        deadline = time.time() + 60
        while time.time() < deadline:
            if when and answered and when(pid):
                when = None
            ready, _, _ = select.select([master], [], [], 0.01 if when else 1)
            if not ready:
                continue
            try:
                chunk = os.read(master, 4096)
            except OSError as e:
                if e.errno == errno.EIO:
                    break
                raise
            if not chunk:
                break
            output += chunk
            if not answered and b"[y/N] " in output:
                os.write(master, answer)
                answered = True
            if then and then[0] in output:
                os.write(master, then[1])
                then = None
        os.close(master)
        _, status = os.waitpid(pid, 0)
        output = output.decode().replace("\r\n", "\n")
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, output)
        return output

    def run_without_terminal(self, env=None):
        r = subprocess.run([self.launcher], stdin=subprocess.DEVNULL, capture_output=True,
                           text=True, env=env or self.quiet_env(), start_new_session=True,
                           timeout=60)
        self.assertEqual(r.returncode, 0)
        return r.stderr

    def test_yes_unpacks_runs_setup_and_cleans_up(self):
        output = self.run_on_terminal(b"y\n")
        self.assertIn(TITLE + "\n" + QUESTION + " [y/N] ", output)
        folder = os.path.join(self.temp, "_INST0")
        self.assertEqual(self.read_record(),
                         f"program={folder}/SETUP.EXE\nargs=0\ncwd={self.cwd}\nfolder=700\n"
                         "self=755\nDATA.BIN\nREADME.TXT\nSETUP.EXE\n")
        with open(self.record + ".data", "rb") as f:
            self.assertEqual(f.read(), self.data)
        self.assertEqual(os.listdir(self.temp), [])
        self.assertNotIn("Setup failed.", output)

    def test_ctrl_c_stops_the_setup_program_but_not_the_clean_up(self):
        # "waiting" comes once sleep runs in the foreground.
        self.write("SETUP.EXE", "#!/bin/sh\n(sleep 0.3; echo waiting) &\nsleep 60\n"
                                "echo not stopped > '{}'\n".format(self.record))
        self.packed()
        output = self.run_on_terminal(b"y\n", then=(b"waiting", b"\x03"))
        self.assertNothingLeft()
        self.assertNotIn("Setup failed.", output)

    def test_no_leaves_nothing(self):
        output = self.run_on_terminal(b"n\n")
        self.assertTrue(output.rstrip().endswith("[y/N] n"), output)  # the terminal echoes
        self.assertNothingLeft()

    def test_occupied_folders_are_skipped(self):
        for name in ("_INST0", "_INST1"):
            os.mkdir(os.path.join(self.temp, name))
        self.run_on_terminal(b"yes\n")
        self.assertIn("program=" + os.path.join(self.temp, "_INST2", "SETUP.EXE"),
                      self.read_record())
        self.assertEqual(sorted(os.listdir(self.temp)), ["_INST0", "_INST1"])

    def test_a_file_in_the_way_fails_with_its_text_and_exit_code_0(self):
        with open(os.path.join(self.temp, "_INST0"), "w") as f:
            f.write("in the way")
        output = self.run_on_terminal(b"y\n")
        self.assertTrue(output.endswith(f"{TITLE}\nFile exists\n{TITLE}\nSetup failed.\n"), output)
        self.assertEqual(os.listdir(self.temp), ["_INST0"])
        self.assertFalse(os.path.exists(self.record))

    def test_a_damaged_launcher_is_invalid_data(self):
        with open(self.launcher, "r+b") as f:
            f.seek(-3, os.SEEK_END)
            f.write(b"XXX")
        output = self.run_on_terminal(b"y\n")
        self.assertEqual(output, "Setup\nBad message\nno resource bundle of this launcher's "
                                 "version\nSetup\nSetup failed.\n")
        self.assertEqual(os.listdir(self.temp), [])

    def test_a_flipped_bit_in_the_payload_is_named_and_nothing_is_written(self):
        with open(self.launcher, "r+b") as f:
            f.seek(-100000, os.SEEK_END)  # inside DATA.BIN's compressed bytes
            byte = f.read(1)
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([byte[0] ^ 0x04]))
        output = self.run_on_terminal(b"y\n")
        self.assertTrue(output.endswith(f"{TITLE}\nBad message\nDamaged part: DATA.BI_\n"
                                        f"{TITLE}\nSetup failed.\n"), output)
        self.assertNothingLeft()

    def assert_cleaned_up_after(self, answer, when):
        fired = []
        output = self.run_on_terminal(answer,
                                      when=lambda pid: when(pid) and fired.append(1) is None)
        self.assertEqual(fired, [1], "the signal was never sent")
        self.assertEqual(os.listdir(self.temp), [])
        self.assertNotIn("Setup failed.", output)

    def test_signals_at_the_question_end_quietly(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                self.assert_cleaned_up_after(b"", lambda pid, s=sig: os.kill(pid, s) or True)
                self.assertFalse(os.path.exists(self.record))

    def test_signals_while_unpacking_remove_the_folder(self):
        self.write("BIG.BIN", os.urandom(24 << 20))
        self.packed()
        folder = os.path.join(self.temp, "_INST0")

        def once_unpacking(pid, sig):
            if not os.path.isdir(folder):
                return False
            os.kill(pid, sig)
            return True
        for sig in (signal.SIGTERM, signal.SIGQUIT):
            with self.subTest(signal=sig.name):
                self.assert_cleaned_up_after(b"y\n", lambda pid, s=sig: once_unpacking(pid, s))
                self.assertFalse(os.path.exists(self.record))

    def test_signals_while_setup_runs_are_passed_on_and_the_folder_goes(self):
        self.write("SETUP.EXE", "#!/bin/sh\ntrap 'echo got TERM > {0}; exit 0' TERM\n"
                                "touch {0}.started\nwhile :; do sleep 0.05; done\n"
                                .format(self.record))
        self.packed()

        def once_running(pid):
            if not os.path.exists(self.record + ".started"):
                return False
            os.kill(pid, signal.SIGTERM)
            return True
        self.assert_cleaned_up_after(b"y\n", once_running)
        self.assertEqual(self.read_record(), "got TERM\n")

    def test_a_stale_display_asks_on_the_terminal(self):
        self.assertIsNotNone(shutil.which("zenity"))
        env = self.quiet_env(DISPLAY=":93", NO_AT_BRIDGE="1")
        output = self.run_on_terminal(b"n\n", env=env)
        self.assertIn(TITLE + "\n" + QUESTION + " [y/N] ", output)
        self.assertEqual(os.listdir(self.temp), [])

        self.assertIn("Answered No: zenity cannot open display: :93; no terminal.",
                      self.run_without_terminal(env))

    def test_nobody_to_ask_means_no(self):
        said = self.run_without_terminal()
        self.assertIn(QUESTION, said)
        self.assertIn("Answered No: no display; no terminal.", said)
        self.assertNothingLeft()


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
