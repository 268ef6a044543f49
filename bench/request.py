"""The road of one request, timed on loopback against a discarding SMTP sink
of our own that notes when each message's final "." arrives.

(a) The tray program under Xvfb and trayer: from just before xclip sets the
    clipboard to the sink's acceptance of the request, for 20 different
    addresses, one at a time.
(b) `tolvane --request URL` (no tray program running) against msmtp sending
    the same mail to the same sink: wall time of each process, 20 runs each,
    taken in turns.
(c) The tray program in a headless sway: from just before wl-copy sets the
    clipboard to the sink's acceptance, beside (a).

Usage: /usr/bin/python3 bench/request.py <build folder> <source folder>
"""

import asyncio
import os
import signal
import statistics
import subprocess
import sys
import threading
import time

RUNS = 20
BUDGET_SECONDS = 300  # the whole run; nothing here should take a tenth of it
WAIT_SECONDS = 20  # one request
EMAIL = "me@bench.test"


class Sink:
    """SMTP on 127.0.0.1 at a free port, answering at once and keeping only
    what a benchmark needs: for each message the moment its final "." came,
    the envelope and the text (transparency undone)."""

    def __init__(self):
        self.messages = []  # dicts: t, mail_from, rcpts, data
        self.closed = 0  # connections ended
        self.cond = threading.Condition()
        self.loop = asyncio.new_event_loop()
        ready = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(ready,), daemon=True)
        self.thread.start()
        if not ready.wait(10) or not self.port:
            raise RuntimeError("the sink did not start")

    def _run(self, ready):
        asyncio.set_event_loop(self.loop)
        self.port = 0
        try:
            server = self.loop.run_until_complete(
                self.loop.create_server(lambda: _SinkProtocol(self), "127.0.0.1", 0))
            self.port = server.sockets[0].getsockname()[1]
        finally:
            ready.set()
        self.loop.run_forever()
        server.close()
        self.loop.run_until_complete(server.wait_closed())
        self.loop.close()

    def stop(self):
        if self.thread.is_alive():
            self.loop.call_soon_threadsafe(self.loop.stop)
            self.thread.join(10)

    def record(self, **message):
        with self.cond:
            self.messages.append(message)
            self.cond.notify_all()

    def connection_ended(self):
        with self.cond:
            self.closed += 1
            self.cond.notify_all()

    def wait(self, predicate, what, timeout=WAIT_SECONDS):
        with self.cond:
            if not self.cond.wait_for(predicate, timeout):
                raise RuntimeError("timed out waiting for " + what)


class _SinkProtocol(asyncio.Protocol):
    def __init__(self, sink):
        self.sink = sink
        self.buf = b""
        self.in_data = False
        self.mail_from = ""
        self.rcpts = []
        self.last_arrival = 0.0

    def connection_made(self, transport):
        self.connected = time.monotonic()
        self.transport = transport
        transport.write(b"220 sink ready\r\n")

    def connection_lost(self, exc):
        self.sink.connection_ended()

    def data_received(self, chunk):
        now = time.monotonic()
        before, self.last_arrival = self.last_arrival, now
        self.buf += chunk
        while True:
            if self.in_data:
                # The text begins after "354", so a leading "\r\n" lets an
                # empty message's "." match too.
                end = (b"\r\n" + self.buf).find(b"\r\n.\r\n")
                if end < 0:
                    return
                text = self.buf[:end]
                self.buf = self.buf[end + 3:]
                self.in_data = False
                lines = [l[1:] if l.startswith(b".") else l for l in text.split(b"\r\n")]
                data = b"\r\n".join(lines) + (b"\r\n" if text else b"")
                # held: how long the final "." came after what went before it.
                self.sink.record(t=now, connected=self.connected, held=now - before, mail_from=self.mail_from,
                                 rcpts=self.rcpts, data=data)
                self.transport.write(b"250 discarded\r\n")
                continue
            line, sep, rest = self.buf.partition(b"\n")
            if not sep:
                return
            self.buf = rest
            line = line.rstrip(b"\r").decode("latin-1")
            verb = line[:4].upper()
            if verb == "DATA":
                self.in_data = True
                self.transport.write(b"354 go ahead\r\n")
            elif verb == "QUIT":
                self.transport.write(b"221 bye\r\n")
                self.transport.close()
                return
            elif verb == "MAIL":
                self.mail_from = line.split(":", 1)[1].strip().strip("<>")
                self.rcpts = []
                self.transport.write(b"250 ok\r\n")
            elif verb == "RCPT":
                self.rcpts.append(line.split(":", 1)[1].strip().strip("<>"))
                self.transport.write(b"250 ok\r\n")
            elif verb == "EHLO":
                self.transport.write(b"250-sink\r\n250 8BITMIME\r\n")
            else:
                self.transport.write(b"250 ok\r\n")


def ms(seconds):
    return seconds * 1000.0


def check_request(message, url):
    if ("GET " + url).encode() not in message["data"]:
        raise RuntimeError("the sink got a message without %s:\n%r" % (url, message["data"]))


def started(log):
    try:
        with open(log, "rb") as f:
            return b"Loaded Server File" in f.read()
    except OSError:
        return False


def bench_clipboard(d, sink, program, work, clip_groups):
    """(a) latencies in seconds, how long xclip itself took, and when the
    sink saw the connection."""
    tolvane = d._spawn("tolvane", [program], env=d.env(), cwd=work)
    d.tray_icon("tolvane")
    log = os.path.join(os.path.dirname(program), "DebugLog.Txt")

    wait_until(lambda: started(log), WAIT_SECONDS, "start-up")
    time.sleep(1.0)  # the tray program settles

    latencies, xclip_times, connected = [], [], []
    # One unmeasured copy first: the first request pays for loading what it
    # needs once.
    for i in range(RUNS + 1):
        url = "http://bench.test/clip/page-%02d.html" % i
        with sink.cond:
            count, closed = len(sink.messages), sink.closed
        t0 = time.monotonic()
        xclip = subprocess.Popen(["xclip", "-selection", "clipboard", "-i"],
                                 stdin=subprocess.PIPE, env=d.env(), start_new_session=True)
        clip_groups.append(xclip.pid)
        xclip.communicate(url.encode(), timeout=WAIT_SECONDS)
        t_xclip = time.monotonic()
        sink.wait(lambda: len(sink.messages) > count, "the request for " + url)
        message = sink.messages[count]
        check_request(message, url)
        # The client says goodbye before the next copy, so no copy waits on
        # the one before it.
        sink.wait(lambda: sink.closed > closed, "the end of the connection for " + url)
        if tolvane.poll() is not None:
            raise RuntimeError("the tray program ended: " + d.log("tolvane"))
        if i > 0:
            latencies.append(message["t"] - t0)
            xclip_times.append(t_xclip - t0)
            connected.append(message["connected"] - t0)
        time.sleep(0.3)
    with sink.cond:
        extra = len(sink.messages) - (RUNS + 1)
    if extra:
        raise RuntimeError("the sink got %d messages too many (a test message?)" % extra)
    d._stop("tolvane")
    if "Sanitizer" in d.log("tolvane"):  # a sanitizer build reports at exit
        sys.stderr.write(d.log("tolvane"))
    return latencies, xclip_times, connected


def bench_command_line(d, sink, program, work):
    """(b) wall times in seconds of ours and of msmtp, and ours up to the
    sink's acceptance."""
    ours, peer, ours_accepted, ours_held, peer_held = [], [], [], [], []
    env = d.env()
    for i in range(RUNS + 1):
        url = "http://bench.test/command/page-%02d.html" % i
        with sink.cond:
            count = len(sink.messages)
        t0 = time.monotonic()
        done = subprocess.run([program, "--request", url], env=env, cwd=work,
                              stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=WAIT_SECONDS)
        t1 = time.monotonic()
        if done.returncode != 0:
            raise RuntimeError("tolvane --request failed (%d): %s%s"
                               % (done.returncode, done.stdout.decode(), done.stderr.decode()))
        sink.wait(lambda: len(sink.messages) > count, "the request for " + url)
        message = sink.messages[count]
        check_request(message, url)

        # msmtp sends the very text the sink took from ours.
        with sink.cond:
            count = len(sink.messages)
        argv = ["msmtp", "-C", "/dev/null", "--host=127.0.0.1", "--port=%d" % sink.port,
                "--auth=off", "--tls=off", "--domain=localhost",
                "--from=" + message["mail_from"], "--"] + message["rcpts"]
        p0 = time.monotonic()
        sent = subprocess.run(argv, input=message["data"], env=env, capture_output=True,
                              timeout=WAIT_SECONDS)
        p1 = time.monotonic()
        if sent.returncode != 0:
            raise RuntimeError("msmtp failed (%d): %s" % (sent.returncode, sent.stderr.decode()))
        sink.wait(lambda: len(sink.messages) > count, "msmtp's copy of " + url)
        if i > 0:  # the first pair warms the page cache
            ours.append(t1 - t0)
            peer.append(p1 - p0)
            ours_accepted.append(message["t"] - t0)
            ours_held.append(message["held"])
            peer_held.append(sink.messages[count]["held"])
    return ours, peer, ours_accepted, ours_held, peer_held


def settings(port):
    return ("[General]\r\nEmail=%s\r\nConfirm=2\r\nEnabled=0\r\nCheckHistory=0\r\n"
            "TipEnabled=0\r\n[Servers]\r\nSMTP=127.0.0.1:%d\r\n" % (EMAIL, port)).encode()


def write_settings(d, port):
    path = d.settings_file()
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(settings(port))


def bench_wayland(sink, build):
    """(c) Latencies in seconds from just before wl-copy is called to the
    sink's acceptance, and how long wl-copy itself took, with the tray program in a headless sway (both as an
    unprivileged user when we are root: sway refuses root)."""
    with WaylandSession(os.path.join(build, "artifacts"), "bench-wayland") as w:
        folder = w.program_folder(os.path.join(build, "bin"))
        work = os.path.join(w.tmp, "work")
        w.write_file(os.path.join(work, "Test Message.Flg"), " ")
        w.write_file(w.settings_file(), settings(sink.port))
        tolvane = w.launch([os.path.join(folder, "tolvane")], name="tolvane", cwd=work)
        wait_until(lambda: started(os.path.join(folder, "DebugLog.Txt")), WAIT_SECONDS,
                   "start-up")
        time.sleep(1.0)
        latencies, copy_times = [], []
        with sink.cond:
            first = len(sink.messages)
        for i in range(RUNS + 1):  # the first copy unmeasured, as above
            url = "http://bench.test/wayland/page-%02d.html" % i
            with sink.cond:
                count, closed = len(sink.messages), sink.closed
            t0 = time.monotonic()
            w.copy(url)
            copy_times.append(time.monotonic() - t0)
            sink.wait(lambda: len(sink.messages) > count, "the request for " + url)
            check_request(sink.messages[count], url)
            sink.wait(lambda: sink.closed > closed, "the end of the connection for " + url)
            if tolvane.poll() is not None:
                raise RuntimeError("the tray program ended: " + w.log("tolvane"))
            if i > 0:
                latencies.append(sink.messages[count]["t"] - t0)
            time.sleep(0.3)
        with sink.cond:
            if len(sink.messages) - first != RUNS + 1:
                raise RuntimeError("the sink got %d messages for %d copies"
                                   % (len(sink.messages) - first, RUNS + 1))
    return latencies, copy_times[1:]


def stop_groups(groups):
    """Ends the xclip processes still serving a copy (each forks one that
    waits until the clipboard changes hands), and nothing else."""
    groups = set(groups)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                head, tail = f.read().rsplit(")", 1)
            if head.split("(", 1)[1] == "xclip" and int(tail.split()[2]) in groups:
                os.kill(int(entry), signal.SIGTERM)
        except (OSError, IndexError, ValueError):
            pass


class OutOfTime(Exception):
    pass


def main():
    global Desktop, WaylandSession, wait_until
    build, source = sys.argv[1], sys.argv[2]
    sys.path.insert(0, os.path.join(source, "tests", "e2e"))
    from desktop import Desktop, WaylandSession, wait_until

    def out_of_time(*_):
        raise OutOfTime("the benchmark ran out of time")

    # A stop from outside (timeout, Ctrl+C) still runs the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(BUDGET_SECONDS)

    clip_groups = []
    sink = Sink()
    try:
        with Desktop(os.path.join(build, "artifacts"), "bench-request") as d:
            folder = d.program_folder(os.path.join(build, "bin"))
            program = os.path.join(folder, "tolvane")
            work = os.path.join(d.tmp, "work")
            os.makedirs(work)
            # The test message counts as sent already.
            with open(os.path.join(work, "Test Message.Flg"), "wb") as f:
                f.write(b" ")
            write_settings(d, sink.port)
            try:
                clip, xclip, connected = bench_clipboard(d, sink, program, work, clip_groups)
            finally:
                stop_groups(clip_groups)
            ours, peer, accepted, ours_held, peer_held = bench_command_line(d, sink, program,
                                                                            work)
        wayland, wl_copy = bench_wayland(sink, build)
    finally:
        signal.alarm(0)
        stop_groups(clip_groups)
        sink.stop()

    med = statistics.median
    print("clipboard to accepted (median of %d): ours %.1f ms (min %.1f, max %.1f)"
          % (RUNS, ms(med(clip)), ms(min(clip)), ms(max(clip))))
    print("  from the xclip call: xclip returns after %.1f ms, the connection opens after %.1f ms"
          " (medians)" % (ms(med(xclip)), ms(med(connected))))
    print("Wayland copy to accepted (median of %d, sway, wl-copy): ours %.1f ms (min %.1f, max %.1f),"
          " %.2f times the X11 row" % (RUNS, ms(med(wayland)), ms(min(wayland)), ms(max(wayland)),
                                      med(wayland) / med(clip)))
    print("  from the wl-copy call: wl-copy returns after %.1f ms (median)" % ms(med(wl_copy)))
    print("command line request (median of %d): ours %.1f ms, msmtp %.1f ms, ratio %.2f"
          % (RUNS, ms(med(ours)), ms(med(peer)), med(ours) / med(peer)))
    print("  ours from start to the sink's acceptance: median %.1f ms" % ms(med(accepted)))
    # msmtp writes each line with its own send() and leaves Nagle's algorithm
    # on, so its last small write waits for the ACK the server delays.
    print("  final \".\" held back after the text before it: median ours %.1f ms, msmtp %.1f ms"
          % (ms(med(ours_held)), ms(med(peer_held))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
