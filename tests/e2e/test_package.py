"""The Debian package as a user meets it: built once with scripts/package,
unpacked with dpkg-deb -x into a private root that is then made read-only,
and run as nobody, with a home and XDG folders of its own, on an Xvfb
desktop with a tray host and a real SMTP server. The package is never
installed onto this machine."""

import hashlib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import Desktop, SmtpServer, entered, wait_until  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
APP_ID = "org.tolvane.Tolvane"
MY_SERVERS = ("[pages@mine.test]\r\nType=0\r\nSubject=Mine\r\nverbPagesHttp=SEND\r\n"
              "[files@mine.test]\r\nType=1\r\nverbBinaryHttp=GET\r\n"
              "[ftp@mine.test]\r\nType=2\r\n")


def tree_state(root):
    """Every entry under root with its kind, mode and content digest."""
    state = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            digest = ""
            if stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            state[os.path.relpath(path, root)] = (st.st_mode, st.st_mtime_ns, digest)
    return state


def read_lines(path):
    with open(path, "rb") as f:
        return [line for line in f.read().decode().split("\r\n") if line]


class InstalledPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not shutil.which("dpkg-buildpackage"):
            raise unittest.SkipTest("dpkg-buildpackage is missing (scripts/setup installs it)")
        built = subprocess.run([os.path.join(SOURCE, "scripts", "package")], cwd=SOURCE,
                               capture_output=True, text=True, timeout=3000)
        if built.returncode != 0:
            raise AssertionError("scripts/package failed:\n" + built.stdout[-4000:]
                                 + built.stderr[-4000:])
        cls.deb = built.stdout.strip().splitlines()[-1]
        cls.root = tempfile.mkdtemp(prefix="tolvane-deb-")
        os.chmod(cls.root, 0o755)
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True, timeout=120)
        for folder, dirs, files in os.walk(cls.root):
            for name in [folder] + [os.path.join(folder, n) for n in files]:
                os.chmod(name, os.lstat(name).st_mode & ~0o222)
        cls.before = tree_state(cls.root)

    @classmethod
    def tearDownClass(cls):
        for folder, dirs, files in os.walk(cls.root):
            os.chmod(folder, 0o755)
        shutil.rmtree(cls.root, ignore_errors=True)

    def usr(self, *parts):
        return os.path.join(self.root, "usr", *parts)

    def test_installed_files_follow_the_desktop_rules(self):
        for program in ("tolvane", "wrap", "wrap-pack"):
            self.assertTrue(os.access(self.usr("bin", program), os.X_OK), program)
        self.assertTrue(os.path.exists(self.usr("share", "tolvane", "uservers.dat")))
        self.assertFalse(os.path.exists(self.usr("lib", "tolvane")))
        desktop = self.usr("share", "applications", APP_ID + ".desktop")
        r = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))
        metainfo = self.usr("share", "metainfo", APP_ID + ".metainfo.xml")
        r = subprocess.run(["appstreamcli", "validate", "--no-net", metainfo],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        icons = self.usr("share", "icons", "hicolor")
        self.assertTrue(os.path.exists(os.path.join(icons, "scalable", "apps", APP_ID + ".svg")))
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            png = os.path.join(icons, "%dx%d" % (size, size), "apps", APP_ID + ".png")
            out = subprocess.run(["identify", "-format", "%w %h", png], capture_output=True,
                                 text=True, check=True).stdout
            self.assertEqual(out, "%d %d" % (size, size))
        for page in ("tolvane", "wrap", "wrap-pack"):
            man = self.usr("share", "man", "man1", page + ".1.gz")
            r = subprocess.run(["man", "--warnings", "-l", man], capture_output=True, text=True,
                               env=dict(os.environ, MANWIDTH="80", MAN_KEEP_STDERR="1"))
            self.assertEqual((r.returncode, r.stderr), (0, ""), page)

    def test_a_user_runs_it_read_only_with_state_and_servers_of_their_own(self):
        d = entered(self, Desktop(ARGS.artifacts, "package"))
        smtp = SmtpServer(os.path.join(d.tmp, "mail"))
        self.addCleanup(smtp.stop)
        as_nobody = d.hand_to("nobody", "nogroup")
        program = as_nobody + [self.usr("bin", "tolvane")]
        state = os.path.join(d.home, ".local", "state", "tolvane")
        mine = os.path.join(d.config, "tolvane")

        def start(name):
            return d._spawn(name, program, env=d.env(), cwd=d.home)

        def log():
            path = os.path.join(state, "DebugLog.Txt")
            return read_lines(path) if os.path.exists(path) else []

        def stop(p):
            # The installer's stop request, dropped where Tolvane looks for it.
            flag = os.path.join(state, "Installer.Flg")
            open(flag, "w").close()
            self.assertEqual(p.wait(timeout=20), 0, d.log(p.args[-1]))
            self.assertFalse(os.path.exists(flag))

        # A first start: the one box asks for the address; nothing fails.
        first = start("first")
        box = d.wait_window("^Error$")
        d.key("Return", window=box)
        tip = d.wait_window("^Tolvane - Tip of the Day$")
        d.key("Return", window=tip)
        d.wait_no_window("^Tolvane - Tip of the Day$")
        main = d.wait_window("^Tolvane$")
        d.tray_icon("tolvane")
        time.sleep(0.5)
        d.screenshot("package_main_window", main)
        self.assertEqual(stat.S_IMODE(os.stat(state).st_mode), 0o700)
        self.assertEqual([l for l in log() if ": Error in " in l], [])
        stop(first)
        with open(d.settings_file(), "rb") as f:
            self.assertIn(("LocalRoot=" + state + "/\r\n").encode(), f.read())

        # The user's own server list wins over the shipped one.
        d.write_file(os.path.join(mine, "uservers.dat"), MY_SERVERS)
        d.write_file(d.settings_file(), "[General]\r\nEmail=me@home.test\r\nConfirm=2\r\n"
                     "Enabled=0\r\nCheckHistory=1\r\nTipEnabled=0\r\n[Servers]\r\n"
                     "SMTP=127.0.0.1:%d\r\n" % smtp.port)
        d.hand_to("nobody", "nogroup")

        def copy_and_wait(url, count):
            d.copy(url)
            wait_until(lambda: len(smtp.messages()) >= count, 20, "%d messages" % count)
            time.sleep(0.5)  # the history entry follows the server's answer

        second = start("second")
        wait_until(lambda: any(l.endswith(": Loaded Server File") for l in log()), 20, "start-up")
        time.sleep(0.5)
        copy_and_wait("http://host/first.html", 2)
        env, data = smtp.messages()[0]
        self.assertEqual(env[2], "pages@mine.test")
        self.assertIn("\r\n\r\nSEND http://host/first.html\r\n", data)
        stop(second)
        history = os.path.join(state, "History.Dat")
        self.assertEqual([h.split(" ")[0] for h in read_lines(history)],
                         ["http://host/first.html"])

        # The history survives a restart: the next run adds to it.
        third = start("third")
        wait_until(lambda: any(l.endswith(": Loaded Server File") for l in log()[-8:]), 20,
                   "the second start-up")
        time.sleep(0.5)
        copy_and_wait("http://host/second.html", 3)
        stop(third)
        self.assertEqual([h.split(" ")[0] for h in read_lines(history)],
                         ["http://host/second.html", "http://host/first.html"])

        # Everything written went to the user's folders; the tree is as unpacked.
        self.assertEqual(tree_state(self.root), self.before)
        self.assertEqual(sorted(os.listdir(mine)), ["TOLVANE.INI", "uservers.dat"])
        self.assertIn("DebugLog.Txt", os.listdir(state))
        self.assertEqual([n for n in os.listdir(state) if n.endswith(".tmp")], [])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
