#!/usr/bin/env python3
"""The 32-bit scanner (the shipped word size, run under an emulator) and the 64-bit
scanner give the same bytes of `-r --all --variant --explain` output, the same exit
status and the same summary on the mixed tree (mixed_tree.py, with the hostile
shapes and one-change variant images) and the fetched corpus, read in place.

    word_size_identity.py --scanner PATH --scanner-program PATH --reference-scanner PATH
                          --images-tool PATH --shape-writer PATH [--corpus DIR]

--scanner runs the 32-bit program (its launcher); --scanner-program is the program
file itself, which must be a 32-bit x86 ELF executable and --reference-scanner a
64-bit one, or the comparison would prove nothing.

The near misses of one variant are written, scanned and removed before the next, so
the tree never holds more than one variant's sweep.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mixed_tree import Comparison, add_tree_arguments, compare_on_mixed_tree  # noqa: E402


def elf_kind(path):
    """(ELF class, machine) of an ELF file: (1, 3) for 32-bit x86, (2, 62) for x86-64."""
    with open(path, "rb") as handle:
        head = handle.read(20)
    if head[:4] != b"\x7fELF":
        return None
    return head[4], int.from_bytes(head[18:20], "little")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True, help="the 32-bit scanner (through its launcher)")
    parser.add_argument("--scanner-program", required=True, help="the 32-bit scanner's program file")
    parser.add_argument("--reference-scanner", required=True, help="the 64-bit scanner")
    add_tree_arguments(parser, shapes_required=True)
    args = parser.parse_args()
    kinds = (elf_kind(args.scanner_program), elf_kind(args.reference_scanner))
    if kinds != ((1, 3), (2, 62)):
        sys.exit("not a 32-bit x86 and a 64-bit x86 scanner: ELF class and machine %s" % (kinds,))
    comparison = Comparison([("64-bit", [args.reference_scanner]), ("32-bit", [args.scanner])],
                            [["-r", "--all", "--variant", "--explain"]])
    return compare_on_mixed_tree(comparison, args, "pestkill-word-size.")


if __name__ == "__main__":
    sys.exit(main())
