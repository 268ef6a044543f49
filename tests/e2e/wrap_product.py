"""A product folder packed with wrap-pack into a launcher, in a private
temporary tree: what every launcher test starts from."""

import os
import subprocess
import tempfile
import unittest

TITLE = "Setup - Ravelin v1.31"
QUESTION = "This program will install Ravelin v1.31 (English). Do you want to continue?"


class PackedProduct(unittest.TestCase):
    """root/product is packed into root/ravelin-setup; the launcher unpacks
    into root/temp; a SETUP.EXE script may note what it saw in root/record."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="wrap-")
        self.root = self.tmp.name
        self.temp = os.path.join(self.root, "temp")
        self.product = os.path.join(self.root, "product")
        self.record = os.path.join(self.root, "record")
        self.launcher = os.path.join(self.root, "ravelin-setup")
        os.mkdir(self.temp)
        os.mkdir(self.product)

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, content, mode=0o644):
        path = os.path.join(self.product, name)
        with open(path, "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)
        os.chmod(path, mode)

    def pack(self, *options, question=QUESTION):
        return subprocess.run([os.path.join(self.bin, "wrap-pack"), "--title", TITLE,
                               "--question", question, *options, self.product, self.launcher],
                              capture_output=True, text=True, timeout=60)

    def packed(self, *options, question=QUESTION):
        r = self.pack(*options, question=question)
        self.assertEqual(r.returncode, 0, r.stderr)

    def quiet_env(self, **extra):
        """The launcher's environment: its temporary folder, and no display
        to ask on unless one is given."""
        env = dict(os.environ, TMPDIR=self.temp)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        env.update(extra)
        return env

    def read_record(self):
        with open(self.record) as f:
            return f.read()

    def assertNothingLeft(self):
        """No unpacked folder, and the setup program never ran."""
        self.assertEqual(os.listdir(self.temp), [])
        self.assertFalse(os.path.exists(self.record))
