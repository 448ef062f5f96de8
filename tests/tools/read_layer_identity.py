#!/usr/bin/env python3
"""The scanner's read layer and its workers change nothing it prints: the scanner
reading through the runtime's calls alone on one worker, and the scanner reading
through its own layer on one worker and on four, give the same bytes of output,
the same exit status and the same summary, in text and in JSON, with --explain,
on the mixed tree (mixed_tree.py) and the fetched corpus, read in place.

    read_layer_identity.py --scanner PATH --runtime-scanner PATH --images-tool PATH
                           [--shape-writer PATH] [--corpus DIR]
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mixed_tree import Comparison, add_tree_arguments, compare_on_mixed_tree  # noqa: E402

FORMS = (["-r", "--all", "--variant", "--explain"], ["-r", "--json", "--explain"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True, help="the scanner with its read layer")
    parser.add_argument("--runtime-scanner", required=True, help="the same scanner reading through the runtime")
    add_tree_arguments(parser, shapes_required=False)
    args = parser.parse_args()
    comparison = Comparison([("runtime reads, -j 1", [args.runtime_scanner, "-j", "1"]),
                             ("read layer, -j 1", [args.scanner, "-j", "1"]),
                             ("read layer, -j 4", [args.scanner, "-j", "4"])], FORMS)
    return compare_on_mixed_tree(comparison, args, "pestkill-read-layer.")


if __name__ == "__main__":
    sys.exit(main())
