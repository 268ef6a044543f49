"""Where the tray program's resident memory goes right after start: Tolvane
on a private X display with a tray host, /proc/<pid>/smaps summed by mapping
and grouped. Usage: /usr/bin/python3 bench/memory_breakdown.py <build folder>"""

import collections
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from desktop import Desktop, Tolvane  # noqa: E402

GROUPS = [
    ("Qt libraries", ("libQt6",)),
    ("heap and anonymous", ("[",)),
    ("fonts (files, caches, freetype, harfbuzz, fontconfig)",
     ("cache-8", ".ttf", "freetype", "harfbuzz", "fontconfig", "graphite")),
    ("ICU", ("libicu",)),
    ("C and C++ runtime", ("libc.so", "libstdc++", "libm.so", "ld-linux", "libgcc")),
    ("X11 and xcb", ("libX", "libxcb", "libxkb", "libSM", "libICE")),
    ("tolvane", ("tolvane",)),
]


def rss_by_mapping(pid):
    sums = collections.Counter()
    name = None
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and "-" in parts[0] and ":" in parts[3]:
                name = os.path.basename(parts[5]) if len(parts) > 5 else "[anon]"
            elif line.startswith("Rss:"):
                sums[name] += int(parts[1])
    return sums


def group_of(name):
    for group, marks in GROUPS:
        if any(name.startswith(m) if m in ("[", "libQt6") else m in name for m in marks):
            return group
    return "other libraries"


def main(build):
    with Desktop(os.path.join(build, "artifacts"), "memory") as d:
        t = Tolvane(d, os.path.join(build, "bin"))
        try:
            t.write_settings()
            t.start()
            d.tray_icon("tolvane")
            time.sleep(2)
            sums = rss_by_mapping(t.proc.pid)
        finally:
            t.stop()
    groups = collections.Counter()
    for name, kib in sums.items():
        groups[group_of(name)] += kib
    print("resident %.1f MiB" % (sum(sums.values()) / 1024))
    for group, kib in groups.most_common():
        print("%6.1f MiB  %s" % (kib / 1024, group))
    print("largest mappings:")
    for name, kib in sums.most_common(12):
        print("%6.1f MiB  %s" % (kib / 1024, name))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build")
