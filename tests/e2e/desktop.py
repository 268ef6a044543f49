"""A private desktop for end-to-end tests.

Desktop starts its own X server (Xvfb on a free display, found with
-displayfd), a window manager (openbox, so windows carry the frames a user
sees), and a tray host (trayer) for programs' tray icons. It gives each test
its own XDG_CONFIG_HOME and XDG_RUNTIME_DIR under a temporary folder, can copy
a program folder with its data files there, drives the mouse and keyboard
with xdotool, takes screenshots with ImageMagick, and stops everything it
started, whether the test passed or not.

    with Desktop(artifacts, "shell") as d:
        folder = d.program_folder(bin_dir)
        p = d.launch([folder + "/tolvane"])
        icon = d.tray_icon("tolvane")
        d.click(icon, button=3)

Debian's tools only; run by /usr/bin/python3.
"""

import ctypes
import json
import grp
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

DEFAULT_TIMEOUT = 20.0


class DesktopError(AssertionError):
    pass


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, what="condition", interval=0.05):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DesktopError("timed out waiting for " + what)
        time.sleep(interval)


class _X11:
    """The few Xlib calls that no command-line tool answers."""

    def __init__(self, display):
        self.lib = ctypes.cdll.LoadLibrary("libX11.so.6")
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.lib.XInternAtom.restype = ctypes.c_ulong
        self.lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.lib.XGetSelectionOwner.restype = ctypes.c_ulong
        self.lib.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.dpy = self.lib.XOpenDisplay(display.encode())
        if not self.dpy:
            raise DesktopError("cannot open display " + display)

    def selection_owner(self, name):
        atom = self.lib.XInternAtom(self.dpy, name.encode(), 0)
        return self.lib.XGetSelectionOwner(self.dpy, atom)

    def close(self):
        if self.dpy:
            self.lib.XCloseDisplay(self.dpy)
            self.dpy = None


class _Session:
    """What a desktop and a Wayland session share: a temporary folder with the
    user's home, settings and runtime folders, and the programs started there,
    each with its log, stopped newest first whether the test passed or not."""

    def __init__(self, artifacts, name):
        self.artifacts = artifacts
        self.name = name
        self.display = None
        self.tmp = None
        self.procs = []  # (name, Popen), started in this order, stopped in reverse
        self.logs = {}

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def _make_folders(self):
        os.makedirs(self.artifacts, exist_ok=True)
        self.tmp = tempfile.mkdtemp(prefix="tolvane-%s-" % self.name)
        self.home = os.path.join(self.tmp, "home")
        self.config = os.path.join(self.tmp, "config")
        self.runtime = os.path.join(self.tmp, "runtime")
        for d in (self.home, self.config, self.runtime):
            os.makedirs(d, mode=0o700)

    def stop(self):
        for name, p in reversed(self.procs):
            self._terminate(p)
        self.procs = []
        for f in self.logs.values():
            f.close()
        self.logs = {}
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)
            self.tmp = None

    # -- processes ----------------------------------------------------------

    def _open_log(self, name):
        if name in self.logs:
            self.logs[name].close()  # a program started again
        self.logs[name] = open(os.path.join(self.tmp, name + ".log"), "w+")
        return self.logs[name]

    def _spawn(self, name, argv, env=None, **kw):
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=self._open_log(name),
                             stderr=subprocess.STDOUT,
                             env=env if env is not None else self.env(), start_new_session=True,
                             **kw)
        self.procs.append((name, p))
        return p

    def launch(self, argv, name=None, cwd=None, **env_extra):
        """Starts a program here; it is stopped with the rest."""
        name = name or "%s-%d" % (os.path.basename(argv[0]), len(self.procs))
        return self._spawn(name, argv, env=self.env(**env_extra), cwd=cwd)

    def log(self, name):
        f = self.logs.get(name)
        if not f:
            return ""
        f.flush()
        f.seek(0)
        return f.read()

    def _stop(self, name):
        for i, (n, p) in enumerate(self.procs):
            if n == name:
                self._terminate(p)
                del self.procs[i]
                return

    @staticmethod
    def _terminate(p):
        if p.poll() is not None:
            return
        try:
            os.killpg(p.pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait(timeout=5)

    # -- program folders ----------------------------------------------------

    def program_folder(self, bin_dir, programs=("tolvane",)):
        """A private copy of the built programs and the data files beside them
        (the logs, history and flag files of earlier runs left out)."""
        dest = os.path.join(self.tmp, "program")
        skip = shutil.ignore_patterns("DebugLog.Txt", "SMTP.LOG", "History.Dat", "Outbox.Dat",
                                      "*.Flg", "artifacts")
        os.makedirs(dest)
        for entry in os.listdir(bin_dir):
            src = os.path.join(bin_dir, entry)
            if skip(bin_dir, [entry]):
                continue
            if os.path.isdir(src):
                shutil.copytree(src, os.path.join(dest, entry), ignore=skip)
            elif os.access(src, os.X_OK) and entry not in programs and not entry.endswith(".so"):
                continue  # other programs of the build are not needed; the tray module is
            else:
                shutil.copy2(src, dest)
        return dest

    def settings_file(self, name="tolvane", file="TOLVANE.INI"):
        return os.path.join(self.config, name, file)

    def write_file(self, path, data):
        """Writes a file, and its folders, for the session's programs."""
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())


class Desktop(_Session):
    def __init__(self, artifacts, name, width=1024, height=768, window_manager=True, tray=True):
        super().__init__(artifacts, name)
        self.size = (width, height)
        self.want_wm = window_manager
        self.want_tray = tray

    # -- life cycle ---------------------------------------------------------

    def start(self):
        self._make_folders()
        self._start_x()
        if self.want_wm:
            self._start_wm()
        if self.want_tray:
            self.start_tray_host()

    def _start_x(self):
        read_fd, write_fd = os.pipe()
        w, h = self.size
        p = self._spawn("Xvfb", ["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                 "%dx%dx24" % (w, h), "-nolisten", "tcp", "-noreset"],
                        pass_fds=(write_fd,), env=os.environ.copy())
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + DEFAULT_TIMEOUT
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or p.poll() is not None:
                os.close(read_fd)
                raise DesktopError("Xvfb did not start: " + self.log("Xvfb"))
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        self.display = ":" + number.decode().strip()
        self.x11 = _X11(self.display)

    def _start_wm(self):
        rc = os.path.join(self.tmp, "openbox-rc.xml")
        with open(rc, "w") as f:
            # No desktop margins, windows placed where the program asks.
            f.write('<?xml version="1.0"?><openbox_config xmlns="http://openbox.org/3.4/rc">'
                    '<placement><policy>Smart</policy></placement>'
                    '<desktops><number>1</number></desktops></openbox_config>\n')
        self._spawn("openbox", ["openbox", "--sm-disable", "--config-file", rc])
        wait_until(lambda: self.x11.selection_owner("WM_S0"), what="the window manager")

    def start_tray_host(self):
        self._spawn("trayer", ["trayer", "--edge", "bottom", "--align", "right",
                               "--widthtype", "request", "--height", "28",
                               "--SetDockType", "true", "--transparent", "false",
                               "--expand", "false"])
        wait_until(self.tray_host_present, what="the tray host")

    def end_display(self):
        """Ends the X server at once, as a logout does."""
        self.x11.close()
        self._stop("Xvfb")

    def tray_host_present(self):
        return bool(self.x11.selection_owner("_NET_SYSTEM_TRAY_S0"))

    def stop(self):
        # Our own connection goes first: Xlib ends the process when its server
        # goes away under it.
        if getattr(self, "x11", None):
            self.x11.close()
        super().stop()

    # -- processes ----------------------------------------------------------

    def env(self, **extra):
        """The environment programs on this desktop run with."""
        env = dict(os.environ)
        # No session bus: Qt then docks its tray icons over XEmbed into the
        # tray host instead of looking for a status-notifier service.
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        env.pop("WAYLAND_DISPLAY", None)
        env.update({
            "DISPLAY": self.display,
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_RUNTIME_DIR": self.runtime,
            "QT_QPA_PLATFORM": "xcb",
            "LANG": "C.UTF-8",
        })
        env.pop("LC_ALL", None)
        if env.get("ASAN_OPTIONS"):
            # libxkbcommon-x11 hands strndup a length beyond its string; only
            # a real X display reaches that code, and it is not ours.
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        env.update(extra)
        return env

    def run(self, argv, timeout=DEFAULT_TIMEOUT, **env_extra):
        """Runs a program to its end on this desktop."""
        return subprocess.run(argv, env=self.env(**env_extra), timeout=timeout,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True)

    # -- program folders ----------------------------------------------------

    def hand_to(self, user="nobody", group="nogroup"):
        """Gives this desktop's home, settings and runtime folders to user
        and returns the command prefix that runs a program as that user."""
        uid, gid = pwd.getpwnam(user).pw_uid, grp.getgrnam(group).gr_gid
        os.chmod(self.tmp, 0o711)
        for top in (self.home, self.config, self.runtime):
            _chown_tree(top, uid, gid)
        return ["setpriv", "--reuid=" + user, "--regid=" + group, "--clear-groups", "--"]

    # -- windows ------------------------------------------------------------

    def _tool(self, *argv):
        return subprocess.run([str(a) for a in argv], env=self.env(), capture_output=True,
                              text=True, timeout=DEFAULT_TIMEOUT)

    def xdotool(self, *args, check=True):
        r = self._tool("xdotool", *args)
        if check and r.returncode != 0:
            raise DesktopError("xdotool %s: %s" % (" ".join(map(str, args)), r.stderr.strip()))
        return r.stdout

    def windows(self, name=None, cls=None, visible=True):
        args = ["search"]
        if visible:
            args.append("--onlyvisible")
        if name is not None:
            args += ["--name", name]
        elif cls is not None:
            args += ["--class", cls]
        else:
            args += ["--name", "."]
        out = self.xdotool(*args, check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, name, timeout=DEFAULT_TIMEOUT, visible=True):
        """The id of a window whose title matches the regular expression name."""
        found = wait_until(lambda: self.windows(name=name, visible=visible), timeout,
                           "a window named %r" % name)
        return found[0]

    def wait_no_window(self, name, timeout=DEFAULT_TIMEOUT):
        wait_until(lambda: not self.windows(name=name), timeout, "no window named %r" % name)

    def geometry(self, window):
        """(x, y, width, height) of a window's client area on the screen."""
        out = self._tool("xwininfo", "-id", window).stdout
        def field(label):
            m = re.search(label + r":\s+(-?\d+)", out)
            if not m:
                raise DesktopError("no geometry for window %s" % window)
            return int(m.group(1))
        return (field("Absolute upper-left X"), field("Absolute upper-left Y"),
                field("Width"), field("Height"))

    def wm_state(self, window):
        """"Normal", "Iconic" or "Withdrawn" (also for a window that is gone)."""
        out = self._tool("xprop", "-id", window, "WM_STATE").stdout
        m = re.search(r"window state: (\w+)", out)
        return m.group(1) if m else "Withdrawn"

    def frame_extents(self, window):
        """(left, right, top, bottom) that the window manager adds."""
        out = self._tool("xprop", "-id", window, "_NET_FRAME_EXTENTS").stdout
        m = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", out)
        return tuple(int(v) for v in m.groups()) if m else (0, 0, 0, 0)

    def _parent(self, window):
        out = self._tool("xwininfo", "-id", window, "-tree").stdout
        m = re.search(r"Parent window id: (0x[0-9a-f]+)( \(the root window\))?", out)
        if not m or m.group(2):
            return None
        return int(m.group(1), 16)

    def tray_icons(self, cls):
        """Tray icon windows of programs whose window class is cls."""
        panels = set(self.windows(cls="trayer", visible=False))
        icons = []
        for w in self.windows(cls=cls, visible=True):
            parent = self._parent(w)
            depth = 0
            while parent is not None and depth < 6:
                if parent in panels:
                    icons.append(w)
                    break
                parent = self._parent(parent)
                depth += 1
        return icons

    def tray_icon(self, cls, timeout=DEFAULT_TIMEOUT):
        """The one tray icon window of cls, once it is docked and shown."""
        return wait_until(lambda: (self.tray_icons(cls) or [None])[0], timeout,
                          "the tray icon of " + cls)

    # -- the user's hand ----------------------------------------------------

    def click(self, window, button=1, x=None, y=None):
        """Moves the pointer into window (its centre unless told) and clicks."""
        if x is None or y is None:
            _, _, w, h = self.geometry(window)
            x, y = w // 2, h // 2
        self.xdotool("mousemove", "--window", window, x, y)
        time.sleep(0.05)
        self.xdotool("click", button)

    def copy(self, text):
        """Sets the clipboard with xclip."""
        subprocess.run(["xclip", "-selection", "clipboard", "-i"], input=text.encode(),
                       env=self.env(), check=True, timeout=10)

    def key(self, *keys, window=None):
        if window is not None:
            self.xdotool("windowactivate", "--sync", window, check=False)
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "20", text)

    # -- pictures -----------------------------------------------------------

    def screenshot(self, name, window=None, frame=True):
        """Saves the screen, or a window with its frame, as artifacts/<name>.png."""
        path = os.path.join(self.artifacts, name + ".png")
        args = ["import", "-display", self.display, "-window", "root"]
        if window is not None:
            x, y, w, h = self.geometry(window)
            if frame:
                left, right, top, bottom = self.frame_extents(window)
                x, y, w, h = x - left, y - top, w + left + right, h + top + bottom
            x, y = max(x, 0), max(y, 0)
            args += ["-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage"]
        subprocess.run(args + [path], env=self.env(), check=True, timeout=DEFAULT_TIMEOUT,
                       capture_output=True)
        return path

    def pixel_colors(self, window, x=None, y=None, w=None, h=None):
        """Mean colour (r, g, b in 0..255) of a window's client area."""
        gx, gy, gw, gh = self.geometry(window)
        crop = "%dx%d+%d+%d" % (w or gw, h or gh, gx + (x or 0), gy + (y or 0))
        out = subprocess.run(["import", "-display", self.display, "-window", "root", "-crop", crop,
                              "+repage", "-resize", "1x1!", "-depth", "8", "txt:-"],
                             env=self.env(), capture_output=True, text=True, check=True,
                             timeout=DEFAULT_TIMEOUT).stdout
        m = re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1])
        return tuple(int(v) for v in m.groups())


# -- Tolvane and its mail server ---------------------------------------------

SMTP_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "net",
                           "smtp_server.py")


def unused_port():
    """A loopback port where nothing listens (a mail server that is down)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SmtpServer:
    """aiosmtpd on 127.0.0.1 at a free port, recording each message."""

    def __init__(self, folder, port=None, options=()):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.proc = subprocess.Popen(["/usr/bin/python3", SMTP_SERVER, folder, *options]
                                     + ([str(port)] if port else []),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline())

    def reply(self, line):
        """Answers the end of each message with `line` (None: accept again)."""
        path = os.path.join(self.folder, "reply")
        if line is None:
            os.remove(path)
        else:
            with open(path + ".new", "w") as f:
                f.write(line + "\n")
            os.replace(path + ".new", path)

    def messages(self):
        """(envelope lines, data) of each message received, in order."""
        out = []
        n = 1
        while os.path.exists(os.path.join(self.folder, "msg-%d.done" % n)):
            with open(os.path.join(self.folder, "msg-%d.done" % n)) as f:
                env = f.read().split("\n")
            with open(os.path.join(self.folder, "msg-%d.data" % n), "rb") as f:
                data = f.read().decode("latin-1")
            out.append((env, data))
            n += 1
        return out

    def stop(self):
        if self.proc.stdout.closed:
            return
        self.proc.stdout.close()
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


# -- Wayland ------------------------------------------------------------------

def as_unprivileged():
    """The command prefix that drops root (sway refuses to run as root; CI
    runs as root), empty when we are not root."""
    if os.geteuid() != 0:
        return []
    return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def _chown_tree(top, uid, gid):
    for folder, dirs, files in os.walk(top):
        for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
            os.chown(name, uid, gid)


def give_away(path):
    """Makes a folder tree the unprivileged user's, when we are root."""
    if os.geteuid() == 0:
        user = pwd.getpwnam("nobody")
        _chown_tree(path, user.pw_uid, user.pw_gid)


class WaylandSession(_Session):
    """A headless Wayland compositor of our own, run as an unprivileged user
    in a temporary folder that user owns, with programs started in it as the
    same user. kind is "sway" (offers wlr data-control) or "weston" (none;
    with xwayland=True it runs an XWayland server).

        with WaylandSession(artifacts, "wayland") as w:
            folder = w.program_folder(bin_dir)
            p = w.launch([folder + "/tolvane"])
            w.run(["wl-copy", "http://host/"])
    """

    def __init__(self, artifacts, name, kind="sway", xwayland=False):
        super().__init__(artifacts, name)  # its display is XWayland's, if any
        self.kind = kind
        self.xwayland = xwayland
        self.extra_env = {}

    def start(self):
        self._make_folders()
        give_away(self.tmp)
        self.socket = os.path.join(self.runtime, "wayland-tolvane")
        self._open_log("wl-copy")
        if self.kind == "sway":
            conf = os.path.join(self.tmp, "sway.conf")
            with open(conf, "w") as f:
                f.write("output HEADLESS-1 resolution 1024x768\n")
            argv = ["sway", "-c", conf]
            env = {"WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
                   "WLR_RENDERER": "pixman"}
            p = self._spawn("sway", argv, env=self.env(**env))
            # sway names its socket itself: take the one that appears.
            found = wait_until(lambda: p.poll() is not None or self._sockets(), what="sway")
            if p.poll() is not None:
                raise DesktopError("sway did not start: " + self.log("sway"))
            self.socket = os.path.join(self.runtime, found[0])
        else:
            argv = ["weston", "--backend=headless-backend.so", "--socket=wayland-tolvane",
                    "--idle-time=0"]
            if self.xwayland:
                argv.append("--xwayland")
            p = self._spawn("weston", argv)
            wait_until(lambda: p.poll() is not None or os.path.exists(self.socket), what="weston")
            if p.poll() is not None:
                raise DesktopError("weston did not start: " + self.log("weston"))
            if self.xwayland:
                m = wait_until(lambda: re.search(r"xserver listening on display (:\d+)",
                                                 self.log("weston")), what="XWayland")
                self.display = m.group(1)

    def _sockets(self):
        return [n for n in os.listdir(self.runtime)
                if n.startswith("wayland-") and not n.endswith(".lock")]

    def env(self, **extra):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_RUNTIME_DIR": self.runtime,
            "WAYLAND_DISPLAY": self.socket,
            "LANG": "C.UTF-8",
        }
        if self.display:
            env["DISPLAY"] = self.display
        for key in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if os.environ.get(key):
                env[key] = os.environ[key]
        if env.get("ASAN_OPTIONS"):
            # Whole stacks through Debian's libraries (no frame pointers), so
            # that leaks of Qt's Wayland and D-Bus plugins match suppressions;
            # XWayland is a real X display (see Desktop.env).
            env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0:strict_string_checks=0"
        env.update(self.extra_env)
        env.update(extra)
        return {k: v for k, v in env.items() if v is not None}

    def _spawn(self, name, argv, env=None, cwd=None):
        return super()._spawn(name, as_unprivileged() + argv, env=env, cwd=cwd or self.tmp)

    def run(self, argv, input=None, timeout=DEFAULT_TIMEOUT, **env_extra):
        """Runs a program of this session to its end."""
        return subprocess.run(as_unprivileged() + argv, env=self.env(**env_extra),
                              input=input, timeout=timeout, capture_output=True, cwd=self.tmp)

    def copy(self, data, mime=None):
        """Sets the clipboard with wl-copy (which serves it in the background
        until the next copy), returning once the compositor has it."""
        argv = ["wl-copy"] + (["--type", mime] if mime else [])
        # Its server stays behind holding what it inherits: no pipes for it.
        r = subprocess.run(as_unprivileged() + argv, env=self.env(), cwd=self.tmp,
                           input=data if isinstance(data, bytes) else data.encode(),
                           stdout=subprocess.DEVNULL, stderr=self.logs["wl-copy"],
                           timeout=DEFAULT_TIMEOUT)
        if r.returncode != 0:
            raise DesktopError("wl-copy failed: " + self.log("wl-copy"))

    # -- a private session bus and a tray watcher on it ----------------------

    def start_session_bus(self):
        """A session bus of the session's user; programs started later use it."""
        self._spawn("dbus", ["dbus-daemon", "--session", "--nofork", "--print-address=1"])
        address = wait_until(lambda: self.log("dbus").strip(), what="the session bus")
        self.extra_env["DBUS_SESSION_BUS_ADDRESS"] = address.splitlines()[0]

    def bus_has(self, name):
        r = self.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                      "--object-path", "/org/freedesktop/DBus",
                      "--method", "org.freedesktop.DBus.NameHasOwner", name])
        return b"true" in r.stdout

    def start_tray_watcher(self):
        """A StatusNotifierWatcher (dbusmock); registered items are listed by
        tray_items()."""
        here = os.path.dirname(os.path.abspath(__file__))
        self.watcher_log = os.path.join(self.tmp, "watcher-calls.log")
        self._spawn("watcher", ["/usr/bin/python3", "-m", "dbusmock", "-t",
                                os.path.join(here, "sni_watcher.py"), "-l", self.watcher_log])
        wait_until(lambda: self.bus_has("org.kde.StatusNotifierWatcher"), what="the watcher")

    def tray_items(self):
        """Service names that registered a StatusNotifierItem, in order."""
        try:
            with open(self.watcher_log) as f:
                return re.findall(r'RegisterStatusNotifierItem "([^"]+)"', f.read())
        except OSError:
            return []

    def swaymsg(self, *args):
        socks = [n for n in os.listdir(self.runtime) if n.startswith("sway-ipc.")]
        r = self.run(["swaymsg"] + list(args), SWAYSOCK=os.path.join(self.runtime, socks[0]))
        if r.returncode != 0:
            raise DesktopError("swaymsg %s: %s" % (" ".join(args), r.stdout.decode()))
        return r.stdout

    def windows(self):
        """Titles of the windows the compositor maps (sway only)."""
        titles = []

        def walk(node):
            if node.get("type") in ("con", "floating_con") and node.get("name"):
                titles.append(node["name"])
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(json.loads(self.swaymsg("-r", "-t", "get_tree")))
        return titles

    def program_folder(self, bin_dir, programs=("tolvane",)):
        folder = super().program_folder(bin_dir, programs)
        give_away(self.tmp)
        return folder

    def write_file(self, path, data):
        """Writes a file (and its folders) that the session's user owns."""
        super().write_file(path, data)
        give_away(self.tmp)


def entered(test, session):
    """session started for a unittest test and stopped at its clean-up."""
    session.__enter__()
    test.addCleanup(session.stop)
    return session


def tolvane_on(test, session, bin_dir):
    """Tolvane on session, which is started for test; both go at its clean-up."""
    t = Tolvane(entered(test, session), bin_dir)
    test.addCleanup(t.stop)
    return t


class Tolvane:
    """Tolvane's own program folder on a desktop or Wayland session, with a
    mail server: its settings, debug log, history and the ways a user
    reaches it."""

    def __init__(self, desktop, bin_dir):
        self.desktop = desktop
        # Made first: a Wayland session gives it to its user with the program.
        self.work = os.path.join(desktop.tmp, "work")
        os.makedirs(self.work)
        self.folder = desktop.program_folder(bin_dir)
        self.program = os.path.join(self.folder, "tolvane")
        self.smtp = SmtpServer(os.path.join(desktop.tmp, "mail"))
        self.proc = None

    def stop(self):
        self.smtp.stop()

    def write_settings(self, port=None, servers=None, **general):
        """TOLVANE.INI with the user's address and this mail server (or one at
        port); keys of [General] given here are added or replace the
        defaults, and servers adds keys to [Servers]."""
        keys = {"Email": "me@home.test", "Confirm": 2, "Enabled": 0, "CheckHistory": 1,
                "TipEnabled": 0}
        keys.update(general)
        lines = ["[General]"] + ["%s=%s" % kv for kv in keys.items()]
        lines += ["[Servers]", "SMTP=127.0.0.1:%d" % (port or self.smtp.port)]
        lines += ["%s=%s" % kv for kv in (servers or {}).items()]
        self.desktop.write_file(self.desktop.settings_file(), "\r\n".join(lines) + "\r\n")

    def start(self, cwd=None, wait=True, **env):
        """Starts the tray program; with wait, until it has loaded its servers."""
        mark = len(self.log())
        self.proc = self.desktop._spawn("tolvane", [self.program],
                                        env=self.desktop.env(**env), cwd=cwd or self.work)
        if wait:
            wait_until(lambda: "Loaded Server File" in self.log()[mark:]
                       or self.proc.poll() is not None, what="start-up")
            if self.proc.poll() is not None:
                raise DesktopError("Tolvane ended at start-up: " + self.output())
            time.sleep(0.5)  # the clipboard watch is joined just after
        return self.proc

    def output(self):
        return self.desktop.log("tolvane")

    def lines(self, name):
        """The lines of a file in the program folder (none when it is missing)."""
        path = os.path.join(self.folder, name)
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return [line for line in f.read().decode().split("\r\n") if line]

    def log(self):
        """The debug log's lines without their date and time."""
        return [line.split(": ", 1)[-1] for line in self.lines("DebugLog.Txt")]

    def wait_log(self, line, after=0, timeout=DEFAULT_TIMEOUT):
        wait_until(lambda: line in self.log()[after:], timeout, repr(line) + " in the debug log")

    def history(self):
        """The addresses in History.Dat, newest first."""
        return [h.split(" ")[0] for h in self.lines("History.Dat")]

    def outbox(self):
        """The addresses waiting in Outbox.Dat, in their order."""
        return [line.split("\t")[0] for line in self.lines("Outbox.Dat")]

    def copy(self, data, **kw):
        self.desktop.copy(data, **kw)

    def lines_after_copy(self, data, settle=1.0, **kw):
        """What the debug log says after a copy of data, once the change is seen."""
        mark = len(self.log())
        self.copy(data, **kw)
        self.wait_log("CB change detected", mark)
        time.sleep(settle)
        return self.log()[mark:]

    def wait_messages(self, count, timeout=DEFAULT_TIMEOUT):
        wait_until(lambda: len(self.smtp.messages()) >= count, timeout, "%d messages" % count)
        time.sleep(0.5)  # nothing more arrives
        if len(self.smtp.messages()) != count:
            raise DesktopError("%d messages, not %d" % (len(self.smtp.messages()), count))

    def command(self, *args, timeout=60, **env):
        """The program run to its end with args."""
        return subprocess.run([self.program, *args], env=self.desktop.env(**env), cwd=self.work,
                              capture_output=True, text=True, timeout=timeout,
                              stdin=subprocess.DEVNULL)

    def request(self, url, **kw):
        """tolvane --request URL run to its end."""
        return self.command("--request", url, **kw)

    def end(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the tray program to end; its exit code."""
        return self.proc.wait(timeout=timeout)

    def stop_with_flag(self, timeout=DEFAULT_TIMEOUT):
        open(os.path.join(self.folder, "Installer.Flg"), "w").close()
        return self.end(timeout)


if __name__ == "__main__":
    # For tests in other languages: `desktop.py sway|weston ARTIFACTS` starts a
    # session, prints its WAYLAND_DISPLAY and XDG_RUNTIME_DIR, and stops it
    # when its standard input closes.
    import sys
    with WaylandSession(sys.argv[2], "wayland-" + sys.argv[1], kind=sys.argv[1]) as w:
        print(w.socket, flush=True)
        print(w.runtime, flush=True)
        sys.stdin.read()
