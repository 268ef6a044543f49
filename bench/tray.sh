#!/usr/bin/env bash
# Tolvane against CopyQ, a resident Qt tray program of the same kind, on one
# private X display with one tray host: time until the tray icon is present,
# resident memory with the window hidden, and CPU seconds over 60 idle
# seconds. Usage: bench/tray.sh <build folder>
set -euo pipefail
build=${1:?usage: bench/tray.sh <build folder>}
here=$(cd "$(dirname "$0")/.." && pwd)
idle=${TRAY_IDLE_SECONDS:-60}
exec /usr/bin/python3 - "$build" "$here" "$idle" <<'PY'
import os, subprocess, sys, time
build, source, idle = sys.argv[1], sys.argv[2], float(sys.argv[3])
sys.path.insert(0, os.path.join(source, "tests", "e2e"))
from desktop import Desktop, wait_until

TICK = os.sysconf("SC_CLK_TCK")

def session_pids(sid):
    pids = []
    for p in os.listdir("/proc"):
        if p.isdigit():
            try:
                with open("/proc/%s/stat" % p) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                if int(fields[3]) == sid:
                    pids.append(int(p))
            except OSError:
                pass
    return pids

def cpu_seconds(sid):
    total = 0
    for p in session_pids(sid):
        try:
            with open("/proc/%d/stat" % p) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total / TICK

def rss_mib(sid):
    total = 0
    for p in session_pids(sid):
        try:
            with open("/proc/%d/status" % p) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024.0

def start(d, name, argv, cls, bus):
    t0 = time.monotonic()
    p = d.launch(argv, name=name, DBUS_SESSION_BUS_ADDRESS=bus)
    wait_until(lambda: d.tray_icons(cls), timeout=60, what=name + "'s tray icon", interval=0.01)
    return p, (time.monotonic() - t0) * 1000.0

with Desktop(os.path.join(build, "artifacts"), "bench-tray") as d:
    # A session bus as a desktop has, so that neither program autolaunches
    # one inside its own session (which would count as its memory).
    bus_daemon = subprocess.Popen(
        ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=d.env(), text=True)
    bus = bus_daemon.stdout.readline().strip()
    folder = d.program_folder(os.path.join(build, "bin"))
    os.makedirs(os.path.dirname(d.settings_file()))
    with open(d.settings_file(), "w", newline="") as f:
        f.write("[General]\r\nEmail=me@example.org\r\nTipEnabled=0\r\n"
                "[Servers]\r\nSMTP=mail.example.org\r\n")
    ours, ours_ms = start(d, "tolvane", [os.path.join(folder, "tolvane"), "/s"], "tolvane", bus)
    peer, peer_ms = start(d, "copyq", ["copyq"], "copyq", bus)
    time.sleep(3)  # both settle, windows hidden
    ours_rss, peer_rss = rss_mib(ours.pid), rss_mib(peer.pid)
    c0, p0 = cpu_seconds(ours.pid), cpu_seconds(peer.pid)
    time.sleep(idle)
    ours_cpu = (cpu_seconds(ours.pid) - c0) * 60.0 / idle
    peer_cpu = (cpu_seconds(peer.pid) - p0) * 60.0 / idle
    bus_daemon.terminate()
    bus_daemon.wait()

def row(name, a, b, unit, fmt="%.1f"):
    ratio = a / b if b else float("inf") if a else 0.0
    print(("%s: ours " + fmt + " %s, copyq " + fmt + " %s, ratio %.2f") % (name, a, unit, b, unit, ratio))

row("time until the tray icon is present", ours_ms, peer_ms, "ms", "%.0f")
row("resident memory after start, window hidden", ours_rss, peer_rss, "MiB")
row("CPU seconds per idle minute", ours_cpu, peer_cpu, "s", "%.3f")
PY
