"""The packed launcher's command line, its checksums seen from outside, and
what the launcher file itself needs from the system it starts on."""

import os
import random
import re
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_args  # noqa: E402
from wrap_product import PackedProduct  # noqa: E402

ARGS, UNITTEST_ARGS = e2e_args.parse()
# Debian 11 and Ubuntu 20.04.
OLDEST_GLIBC = (2, 31)
FILE_TIME = ("--file-time", "1998-03-07T00:31:00Z")


def sanitizer_build():
    """A sanitizer build links the launcher with its runtime, as a program
    for testing rather than for shipping."""
    try:
        with open(os.path.join(ARGS.build, "CMakeCache.txt")) as f:
            return "TOLVANE_SANITIZE:BOOL=ON" in f.read()
    except OSError:
        return False


class LauncherOptions(PackedProduct):
    bin = ARGS.bin

    def setUp(self):
        super().setUp()
        self.write("SETUP.EXE", '#!/bin/sh\nprintf "%s|" "$@" > \'{}\'\n'.format(self.record))
        self.write("HELPER.SH", "#!/bin/sh\n", 0o750)
        self.data = random.Random(5).randbytes(300000) + b"Ravelin " * 40000
        self.write("DATA.BIN", self.data)
        self.packed(*FILE_TIME, question="Install?")

    def run_launcher(self, *args):
        return subprocess.run([self.launcher, *args], capture_output=True, text=True,
                              env=self.quiet_env(), stdin=subprocess.DEVNULL,
                              start_new_session=True, timeout=60)

    def test_help_list_and_check_unpack_nothing(self):
        r = self.run_launcher("--help")
        self.assertEqual(r.returncode, 0)
        for option in ("--list", "--check", "--target DIR", "--noexec", "--accept", "--"):
            self.assertIn(option, r.stdout)
        r = self.run_launcher("--list")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("File time: 1998-03-07 00:31:00 UTC", r.stdout)
        self.assertRegex(r.stdout, rf"\n +{len(self.data)} +\d+  -    DATA.BIN\n")
        self.assertRegex(r.stdout, r"\n +10 +\d+  x    HELPER.SH\n")
        r = self.run_launcher("--check")
        self.assertEqual((r.returncode, r.stdout), (0, "All 8 parts are sound (3 files).\n"))
        self.assertEqual(os.listdir(self.temp), [])
        r = self.run_launcher("--lsit")
        self.assertEqual(r.returncode, 2)
        self.assertIn("unknown argument --lsit", r.stderr)

    def test_check_finds_flipped_bits_anywhere_in_the_payload(self):
        with open(self.launcher, "rb") as f:
            image = f.read()
        # The bundle starts where the plain launcher ends.
        plain = os.path.getsize(os.path.join(ARGS.bin, "wrap"))
        rng = random.Random(17)
        for _ in range(40):
            at = rng.randrange(plain, len(image))
            damaged = bytearray(image)
            damaged[at] ^= 1 << rng.randrange(8)
            with open(self.launcher, "wb") as f:
                f.write(damaged)
            r = self.run_launcher("--check")
            self.assertEqual(r.returncode, 1, f"flip at {at}: {r.stdout}")
            self.assertIn("Bad message", r.stderr)
            r = self.run_launcher("--accept")
            self.assertEqual(r.returncode, 1)
            self.assertEqual(os.listdir(self.temp), [])
            self.assertFalse(os.path.exists(self.record))

    def test_target_noexec_accept_and_arguments(self):
        target = os.path.join(self.root, "target")
        r = self.run_launcher("--target", target)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(target)), ["DATA.BIN", "HELPER.SH", "SETUP.EXE"])
        modes = {n: stat.S_IMODE(os.stat(os.path.join(target, n)).st_mode) & 0o111
                 for n in os.listdir(target)}
        self.assertEqual(modes, {"DATA.BIN": 0, "HELPER.SH": 0o110, "SETUP.EXE": 0o111})
        with open(os.path.join(target, "DATA.BIN"), "rb") as f:
            self.assertEqual(f.read(), self.data)
        self.assertFalse(os.path.exists(self.record))

        r = self.run_launcher("--noexec")
        self.assertEqual((r.returncode, r.stdout), (0, os.path.join(self.temp, "_INST0") + "\n"))
        self.assertEqual(len(os.listdir(os.path.join(self.temp, "_INST0"))), 3)
        self.assertFalse(os.path.exists(self.record))

        r = self.run_launcher("--accept", "--", "/S", "two words")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.record) as f:
            self.assertEqual(f.read(), "/S|two words|")
        self.assertEqual(os.listdir(self.temp), ["_INST0"])  # only --noexec's

    def test_the_packer_refuses_what_the_launcher_would(self):
        r = subprocess.run([os.path.join(ARGS.bin, "wrap-pack"), "--help"], capture_output=True,
                           text=True, timeout=60)
        self.assertEqual(r.returncode, 0)
        self.assertIn("--file-time", r.stdout)
        os.remove(self.launcher)
        for name in ("NOTE.TX_", "LONGNAME.TEXT"):
            with self.subTest(name=name):
                self.write(name, "x")
                r = self.pack(*FILE_TIME)
                self.assertEqual(r.returncode, 1)
                self.assertIn(name, r.stderr)
                self.assertFalse(os.path.exists(self.launcher))
                os.remove(os.path.join(self.product, name))

    @unittest.skipIf(sanitizer_build(), "the sanitizer build's launcher is not the shipped one")
    def test_the_launcher_is_stripped_and_needs_no_newer_glibc_than_2_31(self):
        wrap = os.path.join(ARGS.bin, "wrap")
        headers = subprocess.run(["objdump", "-h", wrap], capture_output=True, text=True,
                                 check=True).stdout
        self.assertNotIn(".debug_info", headers)
        self.assertNotIn(".symtab", headers)
        r = subprocess.run(["objdump", "-T", wrap], capture_output=True, text=True)
        if r.returncode != 0:
            # Fully static: no dynamic symbols at all.
            self.assertIn("not a dynamic object", r.stderr)
            return
        versions = set(re.findall(r"\bGLIBC_(\d+)\.(\d+)", r.stdout))
        self.assertTrue(versions)
        newest = max((int(a), int(b)) for a, b in versions)
        self.assertLessEqual(newest, OLDEST_GLIBC, r.stdout)
        self.assertNotRegex(r.stdout, r"GLIBCXX|CXXABI|GCC_")


if __name__ == "__main__":
    e2e_args.run(UNITTEST_ARGS)
