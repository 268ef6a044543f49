"""The Windows installer under Wine, in a fresh prefix of the test's own on a
private X desktop (Xvfb, openbox, trayer): the silent install puts the
program, its data, the Start-menu shortcut and the uninstall entry in place;
the installed program reads its data from there and writes only in the
user's folders; the tray program docks, sends a copied address to aiosmtpd
on loopback and keeps its history across a restart; Installer.Flg ends it;
the silent uninstall removes all the installer wrote and leaves the user's
settings and history. Run from the Windows build (the installer is built
here through its CMake target)."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_args  # noqa: E402
from desktop import Desktop, SmtpServer, entered, wait_until  # noqa: E402
from e2e_args import SOURCE, WINE, project_version, windows_path  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
URL = "http://host/installed.htm"
# NSIS ends the title with a blank.
UNINSTALL_WINDOW = "^Tolvane [0-9.]+ Uninstall"
WINE_PROGRAMS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"


def build_installers():
    """(setup.exe, wrapped.exe), built by the build's own targets."""
    p = subprocess.run(["cmake", "--build", ARGS.build, "--target", "tolvane_setup",
                        "tolvane_wrapped"], timeout=300, capture_output=True, text=True)
    if p.returncode != 0:
        raise AssertionError("the installers did not build:\n" + p.stdout + p.stderr)
    dist = os.path.join(ARGS.build, "dist", "tolvane-%s-" % project_version())
    return dist + "setup.exe", dist + "wrapped.exe"


def shipped_data():
    """{path below share/tolvane: bytes} of every data file the program reads."""
    data = os.path.join(SOURCE, "data")
    files = {}
    for folder, dirs, names in os.walk(data):
        rel = os.path.relpath(folder, data)
        if rel.split(os.sep)[0] in ("desktop", "man"):
            continue
        for name in names:
            if rel == "." and name == "CMakeLists.txt":
                continue
            with open(os.path.join(folder, name), "rb") as f:
                files[os.path.normpath(os.path.join("share/tolvane", rel, name))] = f.read()
    return files


def tree(folder):
    """The relative paths of the files below folder."""
    if not os.path.isdir(folder):
        return set()
    return {os.path.relpath(os.path.join(d, n), folder)
            for d, _, names in os.walk(folder) for n in names}


class WinePrefix:
    """A new Wine prefix on a desktop, with one persistent wineserver while
    it lives. Every Wine call runs under `timeout`."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.path = os.path.join(desktop.tmp, "wine")
        started = time.monotonic()
        subprocess.run(["timeout", "120", "wineboot", "-i"], env=self.env(), check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.boot_seconds = time.monotonic() - started
        # One persistent wineserver in place of the one wineboot left.
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env(), timeout=30)
        subprocess.run(["wineserver", "-p"], env=self.env(), check=True, timeout=30)
        # Wine's own services start now, holding none of the tests' pipes.
        subprocess.run(["timeout", "60", WINE, "cmd", "/c", "exit"], env=self.env(),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=70)
        users = [u for u in os.listdir(os.path.join(self.path, "drive_c", "users"))
                 if u != "Public"]
        self.user = os.path.join(self.path, "drive_c", "users", users[0])
        self.local = os.path.join(self.user, "AppData", "Local")
        self.roaming = os.path.join(self.user, "AppData", "Roaming")
        self.install = os.path.join(self.local, "Programs", "Tolvane")
        self.shortcut = os.path.join(self.roaming, "Microsoft", "Windows", "Start Menu",
                                     "Programs", "Tolvane.lnk")
        self.settings = os.path.join(self.roaming, "Tolvane", "TOLVANE.INI")
        self.state = os.path.join(self.local, "Tolvane")

    def env(self):
        return self.desktop.env(WINEPREFIX=self.path, WINEDEBUG="-all")

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), timeout=30, capture_output=True)

    def windows_path(self, path):
        """C:\\... for a path inside the prefix's drive C."""
        rel = os.path.relpath(path, os.path.join(self.path, "drive_c"))
        return "C:\\" + rel.replace("/", "\\")

    def run(self, *args, timeout=60):
        """A Windows program run to its end: (exit code, stdout, stderr).
        Its output goes through files: programs Wine starts on the way (the
        desktop's explorer.exe) inherit it and outlive the call."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(["timeout", str(timeout), WINE, *args], env=self.env(),
                                  cwd=self.desktop.home, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err,
                                  timeout=timeout + 10).returncode
            out.seek(0)
            err.seek(0)
            return (code, out.read().decode(errors="replace"),
                    err.read().decode(errors="replace"))

    def launch(self, *args, name="tolvane"):
        """A Windows program left running on the desktop."""
        return self.desktop._spawn(name, ["timeout", "300", WINE, *args], env=self.env(),
                                   cwd=self.desktop.home)

    def reg_values(self, key):
        """{name: data} of a registry key; None when the key is missing."""
        code, out, _ = self.run("reg", "query", key)
        if code != 0:
            return None
        values = {}
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2]
        return values

    def program(self):
        return self.windows_path(os.path.join(self.install, "bin", "tolvane.exe"))

    def uninstall(self):
        """The silent uninstall, to its end: the uninstaller runs on from a
        copy of itself, so its end is the install folder and the key gone."""
        code, _, err = self.run(self.windows_path(os.path.join(self.install, "uninstall.exe")),
                                "/S")
        if code != 0:
            raise AssertionError("uninstall.exe /S: exit %d %s" % (code, err))
        wait_until(lambda: not os.path.exists(self.install)
                   and self.reg_values(UNINSTALL_KEY) is None, 30, "the uninstall")

    def write_settings(self, port):
        lines = ["[General]", "Email=me@home.test", "Confirm=2", "Enabled=0", "CheckHistory=1",
                 "TipEnabled=0", "[Servers]", "SMTP=127.0.0.1:%d" % port]
        os.makedirs(os.path.dirname(self.settings), exist_ok=True)
        with open(self.settings, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode())

    def wait_watching(self, starts):
        """Until the program's `starts`-th start watches the clipboard: a copy
        made before that would go unseen."""
        def watching():
            try:
                with open(os.path.join(self.state, "DebugLog.Txt"), "rb") as f:
                    return f.read().count(b"Watching the clipboard") >= starts
            except FileNotFoundError:
                return False
        wait_until(watching, 30, "the clipboard watched")

    def history(self):
        path = os.path.join(self.state, "History.Dat")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return [line.split(" ")[0] for line in f.read().decode().split("\r\n") if line]


class WindowsInstall(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        started = time.monotonic()
        cls.setup_exe, cls.wrapped_exe = build_installers()
        print("installers built in %.1f s: setup %d bytes, wrapped %d bytes" % (
            time.monotonic() - started, os.path.getsize(cls.setup_exe),
            os.path.getsize(cls.wrapped_exe)), file=sys.stderr)

    def setUp(self):
        self.desktop = entered(self, Desktop(ARGS.artifacts, "windows-install"))
        self.wine = WinePrefix(self.desktop)
        self.addCleanup(self.wine.stop)
        print("new Wine prefix: %.1f s" % self.wine.boot_seconds, file=sys.stderr)
        self.smtp = SmtpServer(os.path.join(self.desktop.tmp, "mail"))
        self.addCleanup(self.smtp.stop)

    def install(self, *argv):
        started = time.monotonic()
        code, out, err = self.wine.run(*argv, timeout=120)
        self.assertEqual(code, 0, out + err)
        print("%s: %.1f s" % (argv[0].split("\\")[-1], time.monotonic() - started),
              file=sys.stderr)

    def assertInstalled(self):
        w = self.wine
        expected = shipped_data()
        self.assertEqual(tree(w.install),
                         set(expected) | {os.path.join("bin", "tolvane.exe"), "uninstall.exe"})
        for rel, data in expected.items():
            with open(os.path.join(w.install, rel), "rb") as f:
                self.assertEqual(f.read(), data, rel)
        # The shortcut starts the installed program in the settings folder.
        with open(w.shortcut, "rb") as f:
            link = f.read()
        self.assertIn(w.program().encode() + b"\0", link)
        self.assertIn(w.windows_path(os.path.dirname(w.settings)).encode("utf-16-le"), link)
        key = w.reg_values(UNINSTALL_KEY)
        program = w.windows_path(w.install)
        self.assertEqual((key["DisplayName"], key["DisplayVersion"], key["InstallLocation"],
                          key["QuietUninstallString"]),
                         ("Tolvane", project_version(), program,
                          '"%s\\uninstall.exe" /S' % program))

    def assertUninstalled(self):
        w = self.wine
        self.assertFalse(os.path.exists(w.install))
        self.assertFalse(os.path.exists(w.shortcut))
        self.assertIsNone(w.reg_values(UNINSTALL_KEY))
        self.assertNotIn("Tolvane", w.reg_values(RUN_KEY) or {})

    def test_silent_install_request_and_uninstall(self):
        w = self.wine
        self.install(windows_path(self.setup_exe), "/S")
        self.assertInstalled()

        # The installed program reads its data from share\tolvane and writes
        # in the user's own folders only.
        w.write_settings(self.smtp.port)
        code, out, err = w.run(w.program(), "--request", URL)
        self.assertEqual((code, out, err), (0, "Sent\r\n", ""))
        self.assertTrue(any("send " + URL in data for _, data in self.smtp.messages()))
        self.assertEqual(w.history(), [URL])
        self.assertInstalled()

        # "Start at login" was ticked: its Run value goes with the program.
        w.run("reg", "add", RUN_KEY, "/v", "Tolvane", "/d", '"%s" /s' % w.program(), "/f")
        w.uninstall()
        self.assertUninstalled()
        self.assertTrue(os.path.exists(w.settings))
        self.assertEqual(w.history(), [URL])

        # The setup launcher carrying the installer installs the same.
        self.install(windows_path(self.wrapped_exe), "--accept", "--", "/S")
        self.assertInstalled()

        # Asked on its page, the uninstaller takes the settings and history too.
        d = self.desktop
        w.launch(w.windows_path(os.path.join(w.install, "uninstall.exe")), name="uninstall")
        window = d.wait_window(UNINSTALL_WINDOW, timeout=30)
        d.key("Return", window=window)  # the confirmation page
        time.sleep(1)
        d.key("Down", "space", window=window)  # the second box of the list
        time.sleep(0.3)
        d.screenshot("windows_uninstall_options", window)
        d.key("Return", window=window)
        wait_until(lambda: not os.path.exists(w.install), 30, "the uninstall")

        def closed():
            # Close takes the key once the last step is done.
            d.key("Return", window=window)
            time.sleep(0.5)
            return not d.windows(name=UNINSTALL_WINDOW)
        wait_until(closed, 20, "the uninstaller to close", interval=0.5)
        self.assertUninstalled()
        self.assertFalse(os.path.exists(os.path.dirname(w.settings)))
        self.assertFalse(os.path.exists(w.state))

    def test_a_tolvane_that_does_not_end_stops_the_silent_install(self):
        w = self.wine
        # A program of that name that never looks at Installer.Flg: Wine's
        # cmd waiting for a line on its input.
        hung = os.path.join(self.desktop.tmp, "hung")
        os.makedirs(hung)
        shutil.copy(os.path.join(WINE_PROGRAMS, "cmd.exe"), os.path.join(hung, "tolvane.exe"))
        prompt = os.path.join(hung, "prompt.txt")
        with open(prompt, "wb") as out:
            stand_in = subprocess.Popen(["timeout", "60", WINE, windows_path(hung + "/tolvane.exe"),
                                         "/k"], env=w.env(), stdin=subprocess.PIPE, stdout=out,
                                        stderr=subprocess.STDOUT)
        self.addCleanup(stand_in.wait, 10)
        self.addCleanup(stand_in.stdin.close)
        wait_until(lambda: os.path.getsize(prompt) > 0, 20, "the stand-in's prompt")
        started = time.monotonic()
        setup = w.launch(windows_path(self.setup_exe), "/S", name="setup")
        flag = os.path.join(w.state, "Installer.Flg")
        wait_until(lambda: os.path.exists(flag), 10, "Installer.Flg")
        self.assertEqual(setup.wait(timeout=30), 2)  # aborted
        self.assertGreaterEqual(time.monotonic() - started, 7.5)
        self.assertFalse(os.path.exists(flag))
        self.assertFalse(os.path.exists(w.install))
        self.assertIsNone(stand_in.poll())

    def test_tray_program_installed(self):
        w = self.wine
        d = self.desktop
        self.install(windows_path(self.setup_exe), "/S")
        w.write_settings(self.smtp.port)
        tolvane = w.launch(w.program())

        # Docked in the tray host; a copied address goes out.
        d.tray_icon("explorer.exe", timeout=30)
        w.wait_watching(1)
        d.copy(URL)
        wait_until(lambda: any("send " + URL in m for _, m in self.smtp.messages()), 30,
                   "the request mail")
        wait_until(lambda: w.history() == [URL], 10, "the history line")

        # Installer.Flg, where the program watches, ends it.
        flag = os.path.join(w.state, "Installer.Flg")
        open(flag, "w").close()
        self.assertEqual(tolvane.wait(timeout=15), 0)
        self.assertFalse(os.path.exists(flag))

        # Started again, it keeps the history it had and adds to it.
        tolvane = w.launch(w.program())
        d.tray_icon("explorer.exe", timeout=30)
        w.wait_watching(2)
        second = "http://host/second.htm"
        d.copy(second)
        wait_until(lambda: w.history() == [second, URL], 30, "both history lines")

        # The uninstaller ends the running program before it removes it.
        w.uninstall()
        self.assertEqual(tolvane.wait(timeout=15), 0)
        self.assertUninstalled()
        self.assertEqual(w.history(), [second, URL])


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
