"""What each mode of tolvane loads: the command line runs on QtCore alone,
without Qt Widgets or Gui mapped; the tray program maps them. Real processes:
a tolvane --request held waiting by a loopback server that takes the
connection and never greets, and the tray program on an Xvfb desktop."""

import os
import re
import socket
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_args  # noqa: E402
from desktop import Desktop, tolvane_on  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()


def qt_libraries(pid):
    """The Qt 6 libraries mapped into a running process, by name."""
    with open("/proc/%d/maps" % pid) as f:
        return set(re.findall(r"/(libQt6\w+)\.so", f.read()))


class Modes(unittest.TestCase):
    def silent_server(self):
        """A loopback port that accepts and then says nothing."""
        server = socket.socket()
        self.addCleanup(server.close)
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        server.settimeout(30)
        return server

    def test_a_waiting_request_maps_no_widgets_and_the_tray_does(self):
        desktop = Desktop(ARGS.artifacts, "modes", 800, 600)
        t = tolvane_on(self, desktop, ARGS.bin)
        server = self.silent_server()
        t.write_settings(port=server.getsockname()[1])
        request = subprocess.Popen([t.program, "--request", "http://host/page.html"],
                                   env=desktop.env(), cwd=t.work, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(request.wait)
        self.addCleanup(request.kill)
        connection, _ = server.accept()  # it now waits for the greeting
        self.addCleanup(connection.close)
        mapped = qt_libraries(request.pid)
        self.assertIn("libQt6Core", mapped)
        self.assertEqual(mapped & {"libQt6Widgets", "libQt6Gui"}, set())
        request.kill()

        t.start()
        self.assertLessEqual({"libQt6Core", "libQt6Widgets", "libQt6Gui"},
                             qt_libraries(t.proc.pid))
        self.assertEqual(t.stop_with_flag(), 0, t.output())

    def test_version_and_help_need_no_desktop(self):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}  # no display, no session
        program = os.path.join(ARGS.bin, "tolvane")
        version = subprocess.run([program, "--version"], env=env, capture_output=True,
                                 text=True, timeout=30)
        self.assertEqual((version.returncode, version.stdout, version.stderr),
                         (0, "tolvane %s\n" % e2e_args.project_version(), ""))
        usage = subprocess.run([program, "--help"], env=env, capture_output=True,
                               text=True, timeout=30)
        self.assertEqual(usage.returncode, 0)
        self.assertIn("tolvane --version", usage.stdout)


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
