"""Command line shared by the end-to-end scripts: the paths of the programs under
test come from the build (CTest passes them), then unittest runs the cases."""
import argparse
import sys
import unittest

# Filled by run() before any test starts.
programs = argparse.Namespace()


def run(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--pestkill", required=True, help="the win64 pestkill.exe")
    parser.add_argument("--sleeper", required=True, help="the harmless long-running helper")
    parser.add_argument("--lister", required=True, help="the process-snapshot lister")
    parser.add_argument("--make-images", help="the variant image writer")
    parser.add_argument("unittest_args", nargs="*", help="passed to unittest (e.g. a test name, -v)")
    parsed = parser.parse_args()
    vars(programs).update(vars(parsed))
    sys.stdout.reconfigure(line_buffering=True)
    main = unittest.main(module="__main__", argv=[sys.argv[0], "-v"] + parsed.unittest_args, exit=False)
    sys.exit(0 if main.result.wasSuccessful() else 1)
