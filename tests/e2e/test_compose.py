"""tolvane --compose run as a user runs it: from the build's program folder,
from a copy of it, and from an installed tree."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_args  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
DATA_FILES = ["uservers.dat", "nbinary.ext", "unbinary.txt", "archive.tpl", "tips.dat",
              "Test Message.Txt"]
STAMP = r"\S+ \S+: "


def run(program, url, env_home, timeout=30):
    env = dict(os.environ)
    env["XDG_CONFIG_HOME"] = env_home
    env["XDG_STATE_HOME"] = os.path.join(env_home, "state")
    env.pop("LC_ALL", None)
    return subprocess.run([program, "--compose", url], capture_output=True, text=True,
                          env=env, timeout=timeout)


class ComposeFromCopiedFolder(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tolvane-compose-")
        self.folder = os.path.join(self.tmp.name, "program")
        self.config = os.path.join(self.tmp.name, "config")
        os.mkdir(self.folder)
        shutil.copy2(os.path.join(ARGS.bin, "tolvane"), self.folder)
        for name in DATA_FILES:
            shutil.copy2(os.path.join(ARGS.bin, name), self.folder)
        self.program = os.path.join(self.folder, "tolvane")

    def tearDown(self):
        self.tmp.cleanup()

    def compose(self, url):
        return run(self.program, url, self.config)

    def settings(self, text):
        os.makedirs(os.path.join(self.config, "tolvane"), exist_ok=True)
        with open(os.path.join(self.config, "tolvane", "TOLVANE.INI"), "wb") as f:
            f.write(text.replace("\n", "\r\n").encode())

    def test_a_page_goes_to_the_first_pages_server(self):
        r = self.compose("http://www.example.org/docs/index.html#intro")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, "To: query@saildocs.com\nSubject: request\n\n"
                                   "send http://www.example.org/docs/index.html\n-----\n")
        with open(os.path.join(self.folder, "DebugLog.Txt"), "rb") as f:
            log = f.read().decode()
        expected = ["Started Tolvane", "Loaded Server File", "To: query@saildocs.com",
                    "Subject: request", "Body: send http://www.example.org/docs/index.html"]
        lines = log.split("\r\n")
        self.assertEqual(lines[-1], "")
        self.assertEqual(len(lines) - 1, len(expected), log)
        for line, message in zip(lines, expected):
            self.assertRegex(line, "^" + STAMP + re.escape(message) + "$")
        # The settings folder is only read.
        self.assertFalse(os.path.exists(self.config))

    def test_each_kind_of_address_goes_to_its_server(self):
        page = "To: query@saildocs.com\nSubject: request\n\nsend "
        end = "\n-----\n"
        ftp = "To: NWS.FTPMail.OPS@noaa.gov\nSubject: request\n\nopen\n"
        cases = {
            "HTTPS://www.example.org/docs/index.html#intro":
                page + "HTTPS://www.example.org/docs/index.html" + end,
            # The slash rule of the clipboard.
            "http://www.example.org": page + "http://www.example.org/" + end,
            "news:comp.lang.misc": page + "news:comp.lang.misc/" + end,
            "gopher://g.example.org/1/x": page + "gopher://g.example.org/1/x" + end,
            "ftp://tgftp.nws.noaa.gov/fax/PYAA10.gif":
                ftp + "cd fax\nget PYAA10.gif\nquit\n",
            "ftp://tgftp.nws.noaa.gov": ftp + "ls\nquit\n",
        }
        for url, mail in cases.items():
            with self.subTest(url=url):
                r = self.compose(url)
                self.assertEqual((r.returncode, r.stdout), (0, mail), r.stderr)
        # No service for files on web servers is shipped: nothing to send to.
        r = self.compose("HTTP://www.example.org/pub/tool.ZIP?mirror=2")
        self.assertEqual((r.returncode, r.stdout), (1, ""))
        self.assertIn("Choose a request server in Tolvane's window", r.stderr)

    def test_saved_choices_and_sender_are_used(self):
        with open(os.path.join(self.folder, "uservers.dat"), "ab") as f:
            f.write(b"[files@host.test]\r\nType=1\r\n[archive@host.test]\r\nType=3\r\n"
                    b"Subject=Archive request\r\nfileBinaryHttp=archive.tpl\r\n")
        self.settings("[General]\nEmail=me@example.net\n[Servers]\nHTTPBinary=archive@host.test\n"
                      "HTTPPages=gone@example.org\n")
        r = self.compose("http://www.example.org/a.tar.gz")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, "From: me@example.net\nTo: archive@host.test\n"
                                   "Subject: Archive request\n\nBEGIN\n"
                                   "SEND http://www.example.org/a.tar.gz\nEND\n")
        r = self.compose("http://www.example.org/")
        self.assertIn("To: query@saildocs.com\n", r.stdout)

    def test_text_that_is_no_request_exits_1(self):
        for text in ["mailto:me@example.org", "https:/www.example.org/", "http://a b/",
                     " http://www.example.org/", "http://x/\nhttp://y/", "just words", ""]:
            with self.subTest(text=text):
                r = self.compose(text)
                self.assertEqual((r.returncode, r.stdout), (1, ""))
                self.assertEqual(r.stderr.count("\n"), 1, r.stderr)
                self.assertTrue(r.stderr.startswith("tolvane: not a request"), r.stderr)

    def test_a_missing_or_unreadable_server_list_exits_2(self):
        # Without its server list the folder is no program folder: the list
        # is looked for where an installed Tolvane keeps it, and named.
        path = os.path.join(self.folder, "uservers.dat")
        os.remove(path)
        r = self.compose("http://www.example.org/")
        self.assertEqual(r.returncode, 2)
        self.assertRegex(r.stderr, r"uservers\.dat")
        self.assertEqual(r.stdout, "")
        os.mkdir(path)
        r = self.compose("http://www.example.org/")
        self.assertEqual(r.returncode, 2)
        self.assertRegex(r.stderr, r"uservers\.dat")

    def test_a_hand_edited_server_list_does_not_crash(self):
        with open(os.path.join(self.folder, "uservers.dat"), "wb") as f:
            f.write(b"\xef\xbb\xbf[me@host.test]\nType = \"0\"\nverbPagesHttp='GO'\n"
                    b"junk\x00\xff line\n[broken\nType=2\n" + b"x" * 100000)
        r = self.compose("http://www.example.org/")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, "To: me@host.test\nSubject: \n\nGO http://www.example.org/\n")


class ComposeFromTheBuild(unittest.TestCase):
    def test_data_files_lie_beside_the_program_with_crlf(self):
        for name in DATA_FILES:
            with open(os.path.join(ARGS.bin, name), "rb") as f:
                data = f.read()
            self.assertTrue(data.endswith(b"\r\n"), name)
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), name)
            self.assertEqual(data.count(b"\r"), data.count(b"\r\n"), name)

    def test_run_in_place(self):
        with tempfile.TemporaryDirectory(prefix="tolvane-compose-") as config:
            r = run(os.path.join(ARGS.bin, "tolvane"), "http://www.example.org/docs/index.html",
                    config)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.startswith("To: query@saildocs.com\n"), r.stdout)

    def test_run_installed(self):
        with tempfile.TemporaryDirectory(prefix="tolvane-install-") as prefix:
            r = subprocess.run(["cmake", "--install", ARGS.build, "--prefix", prefix],
                               capture_output=True, text=True, timeout=300)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            data = os.path.join(prefix, "share", "tolvane")
            for name in DATA_FILES:
                self.assertTrue(os.path.isfile(os.path.join(data, name)), name)
            r = run(os.path.join(prefix, "bin", "tolvane"), "ftp://tgftp.nws.noaa.gov/", prefix)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, "To: NWS.FTPMail.OPS@noaa.gov\nSubject: request\n\n"
                                       "open\nls\nquit\n")
            # What it writes goes to the user's state folder, never the prefix.
            self.assertTrue(os.path.isfile(os.path.join(prefix, "state", "tolvane",
                                                        "DebugLog.Txt")))
            self.assertFalse(os.path.exists(os.path.join(data, "DebugLog.Txt")))

if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
