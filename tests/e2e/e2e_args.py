"""What CTest hands every end-to-end test (the folder of the built programs,
the build folder, the artifacts folder), and the runner each one ends with."""

import argparse
import sys
import unittest


def parse():
    """(arguments, what is left for unittest)."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--artifacts", required=True)
    return parser.parse_known_args()


def run(rest):
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
