"""tolvane.exe under Wine beside the Linux program, both with the same
settings and a real mail server (aiosmtpd on loopback): the command-line
modes answer alike, with the same exit codes, and the mail that --request
sends from Windows is the Linux program's byte for byte, Date and
Message-ID aside. Run from the Windows build; the Linux program comes from
$TOLVANE_LINUX_BIN."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2e_args  # noqa: E402
import test_request as peers  # noqa: E402  (its wire form, not its tests)
from desktop import SmtpServer, unused_port  # noqa: E402
from e2e_args import WINE, windows_path  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
LINUX_BIN = os.environ.get("TOLVANE_LINUX_BIN", "")
DATA = os.path.join(HERE, "..", "..", "data")
URL = "http://host/x"


class Program:
    """One build of tolvane in a program folder of its own (the shipped data
    beside it), with a settings folder that no other run shares."""

    def __init__(self, root, executable, windows):
        self.windows = windows
        self.folder = os.path.join(root, "program")
        shutil.copytree(DATA, self.folder, ignore=shutil.ignore_patterns(
            "CMakeLists.txt", "desktop", "man"))
        shutil.copy2(executable, self.folder)
        self.program = os.path.join(self.folder, os.path.basename(executable))
        config = os.path.join(root, "config")
        if windows:
            self.settings = os.path.join(config, "Tolvane", "TOLVANE.INI")
            self.env = dict(os.environ, WINEPREFIX=os.path.join(ARGS.build, "wine"),
                            WINEDEBUG="-all")
            # Wine sets APPDATA from the prefix over the caller's value: cmd
            # sets the folders for the one program it starts. Our arguments
            # hold nothing that cmd would read as its own (& | < > ^ %).
            self.prefix = [WINE, "cmd", "/d", "/c",
                           "set", "APPDATA=%s&&" % windows_path(config),
                           "set", "LOCALAPPDATA=%s&&" % windows_path(os.path.join(root, "state"))]
        else:
            self.settings = os.path.join(config, "tolvane", "TOLVANE.INI")
            runtime = os.path.join(root, "runtime")  # no tray program listens there
            os.makedirs(runtime, mode=0o700)
            self.env = dict(os.environ, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
                            XDG_STATE_HOME=os.path.join(root, "state"))
            self.prefix = []

    def path(self, unix_path):
        """A path as this program reads it."""
        return windows_path(unix_path) if self.windows else unix_path

    def write_settings(self, port, servers=None, **general):
        """TOLVANE.INI for this mail server; keys of [General] given here are
        added or replace the defaults, and servers adds keys to [Servers]."""
        keys = {"Email": "me@home.test", "Confirm": 2, "Enabled": 0, "CheckHistory": 1}
        keys.update(general)
        lines = ["[General]"] + ["%s=%s" % kv for kv in keys.items()]
        lines += ["[Servers]", "SMTP=127.0.0.1:%d" % port]
        lines += ["%s=%s" % kv for kv in (servers or {}).items()]
        os.makedirs(os.path.dirname(self.settings), exist_ok=True)
        with open(self.settings, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode())

    def run(self, *args):
        """(exit code, stdout, stderr); the console's CRLF line ends read as LF."""
        argv = self.prefix + [windows_path(self.program) if self.windows else self.program, *args]
        p = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True,
                           env=self.env, cwd=self.folder, timeout=60)
        out, err = p.stdout.decode(), p.stderr.decode()
        if self.windows:
            # Every line end on the console is CRLF: none is a bare LF.
            for text in (out, err):
                self.assertNoBareLf(text)
            out, err = out.replace("\r\n", "\n"), err.replace("\r\n", "\n")
        return p.returncode, out, err

    @staticmethod
    def assertNoBareLf(text):
        if text.replace("\r\n", "").count("\n"):
            raise AssertionError("a bare LF on the Windows console: %r" % text)


class WindowsConsole(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="tolvane-win-console-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.smtp = SmtpServer(os.path.join(self.tmp, "mail"))
        self.addCleanup(self.smtp.stop)
        self.linux = Program(os.path.join(self.tmp, "linux"), LINUX_BIN + "/tolvane", False)
        self.win = Program(os.path.join(self.tmp, "win"),
                           os.path.join(ARGS.bin, "tolvane.exe"), True)
        for p in (self.linux, self.win):
            p.write_settings(self.smtp.port)

    def both(self, *args):
        return self.linux.run(*args), self.win.run(*args)

    def test_compose_version_and_help_print_alike(self):
        for args in (["--compose", URL], ["--compose", "http://host/docs/page.html#part2"],
                     ["--compose", "no address"], ["--version"], ["--help"], ["--flush", "x"]):
            linux, win = self.both(*args)
            self.assertEqual(win, linux, args)
        code, out, _ = linux
        self.assertEqual(code, 1)  # a usage error, not a pass by accident
        self.assertEqual(self.linux.run("--compose", URL)[1].split("\n")[:3],
                         ["From: me@home.test", "To: query@saildocs.com", "Subject: request"])

    def test_refused_kept_and_flushed_requests_answer_alike(self):
        down = unused_port()
        for p in (self.linux, self.win):
            p.write_settings(down)
        linux, win = self.both("--request", URL)
        self.assertEqual(linux[0], 1, linux)
        self.assertIn("Connection refused", linux[2])
        self.assertEqual(win, linux)
        # Kept in the outbox when asked to be, then sent by --flush.
        for p in (self.linux, self.win):
            p.write_settings(down, KeepFailed=1)
        linux, win = self.both("--request", URL)
        self.assertEqual((linux[0], linux[1][:6]), (75, "kept: "), linux)
        self.assertEqual(win, linux)
        for p in (self.linux, self.win):
            p.write_settings(self.smtp.port, KeepFailed=1)
        linux, win = self.both("--flush")
        self.assertEqual(linux, (0, "nothing waits\n", ""))
        self.assertEqual(win, linux)
        (_, data_l), (_, data_w) = self.smtp.messages()
        self.assertEqual(peers.unstamped(data_w), peers.unstamped(data_l))
        self.assertEqual(peers.unstamped(data_w), peers.page_request(URL))

    def tls_server(self, mode):
        """aiosmtpd with `mode` (--starttls or --tls) and AUTH for me:s3cret,
        and the folder of the CA that signed its certificate."""
        certs = os.path.join(self.tmp, "certs")
        os.makedirs(certs)
        subprocess.run(["sh", os.path.join(HERE, "..", "net", "make_certs.sh"), certs], check=True)
        smtp = SmtpServer(os.path.join(self.tmp, "tls-mail"), options=(
            mode, "--cert", os.path.join(certs, "server.pem"),
            "--key", os.path.join(certs, "server.key"), "--auth", "me:s3cret"))
        self.addCleanup(smtp.stop)
        return smtp, certs

    def sign_in_both(self, smtp, certs, security, password):
        for p in (self.linux, self.win):
            # "echo" reads the same to sh and to cmd.
            p.write_settings(smtp.port, servers={
                "SMTPSecurity": security, "SMTPUser": "me",
                "SMTPCAFile": p.path(os.path.join(certs, "ca.pem")),
                "SMTPPasswordCommand": "echo " + password})

    # Both send and say "Sent"; the two mails are one, stamps aside.
    def both_send_one_mail(self, smtp):
        linux, win = self.both("--request", URL)
        self.assertEqual(linux, (0, "Sent\n", ""))
        self.assertEqual(win, linux)
        (env_l, data_l), (env_w, data_w) = smtp.messages()
        self.assertEqual(env_w[1:], env_l[1:])
        self.assertEqual(peers.unstamped(data_w), peers.unstamped(data_l))
        return peers.unstamped(data_w)

    def test_starttls_with_auth_sends_the_linux_mail(self):
        smtp, certs = self.tls_server("--starttls")
        self.sign_in_both(smtp, certs, "starttls", "s3cret")
        self.both_send_one_mail(smtp)
        # A wrong password is refused alike.
        self.sign_in_both(smtp, certs, "starttls", "wrong")
        linux, win = self.both("--request", "http://host/y")
        self.assertEqual(linux[0], 1, linux)
        self.assertEqual(win, linux)

    def test_request_sends_the_linux_mail(self):
        self.assertEqual(self.both_send_one_mail(self.smtp), peers.page_request(URL))

    def test_implicit_tls_with_auth_sends_the_linux_mail(self):
        smtp, certs = self.tls_server("--tls")
        self.sign_in_both(smtp, certs, "tls", "s3cret")
        self.assertEqual(self.both_send_one_mail(smtp), peers.page_request(URL))

    def test_a_dial_up_entry_missing_from_the_phone_book_stops_the_send(self):
        # Wine's phone book is empty: the entry is refused by name rather
        # than the mail going out over whatever network is up.
        self.win.write_settings(self.smtp.port, DialEntry="Provider")
        code, out, err = self.win.run("--request", URL)
        self.assertEqual((code, out), (1, ""))
        self.assertIn('tolvane: Dial-up: no phone-book entry "Provider"\n', err)
        self.assertEqual(self.smtp.messages(), [])


if __name__ == "__main__":
    if not os.access(LINUX_BIN + "/tolvane", os.X_OK):
        print("SKIP: no Linux tolvane at $TOLVANE_LINUX_BIN (%r) to compare with" % LINUX_BIN)
        sys.exit(77)
    e2e_args.run(UNITTEST_ARGS)
