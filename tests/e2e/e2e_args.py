"""What CTest hands every end-to-end test (the folder of the built programs,
the build folder, the artifacts folder), the runner each one ends with, and
what the tests share about the tree and Wine."""

import argparse
import os
import re
import sys
import unittest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# Debian puts no wine64 on PATH.
WINE = "/usr/lib/wine/wine64"


def parse():
    """(arguments, what is left for unittest)."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--artifacts", required=True)
    return parser.parse_known_args()


def run(rest):
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"project\(Tolvane VERSION ([0-9.]+)", f.read()).group(1)


def windows_path(path):
    """A Unix path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")
