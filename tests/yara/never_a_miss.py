#!/usr/bin/env python3
"""The YARA rules never miss a file the detector finds, and match no real file:

  - the variant images (make-variant-images);
  - near misses: every row of every signature table at and on both sides of its
    bounds (row_near_miss_writer), every aligned 32-bit field of the headers and
    records set to values where sums wrap or signed comparisons turn, the hostile
    shapes and one-change images (the shape writer);
  - truncations of each variant image at the edges of its records and every 512 bytes;
  - bit flips: every byte of the headers and records inverted and its low bit toggled;
  - the fetched corpus and the Debian PE files the benchmark times.

The detector's verdict is pestkill-scan's. Fails on any file the detector finds that
its variant's rule does not match, and on any rule match on a real file. Prints,
per variant, the share of the files made from its image that the detector rejects
and the rule rejects too.

    never_a_miss.py --scanner PATH --rules FILE [--measure-rules FILE]
                    --images-tool PATH --row-writer PATH [--shape-writer PATH]
                    [--corpus DIR] [--repo DIR]

--measure-rules gives a second rule file (the pe module form) whose misses and
matches are printed, not judged.
"""
import argparse
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
from mixed_tree import (TIMEOUT, Layout, near_miss_sweeps, read_variants,  # noqa: E402
                                write, write_truncations)

LETTERS = "ABCD"


def detector_verdicts(scanner, root):
    """{path bytes: variant letter or None} for every file pestkill-scan judged."""
    done = subprocess.run([scanner, "-r", "--all", "--json", root], capture_output=True, timeout=TIMEOUT,
                          stdin=subprocess.DEVNULL)
    verdicts = {}
    for line in done.stdout.split(b"\n"):
        if not line.startswith(b'{"path"'):
            continue
        entry = json.loads(line)
        path = base64.b64decode(entry["path_bytes"]) if "path_bytes" in entry else entry["path"].encode()
        if entry["verdict"] in ("infected", "clean", "not checked"):
            verdicts[path] = entry["variant"] if entry["verdict"] == "infected" else None
    return verdicts


def rule_matches(rules, root):
    """{path bytes: set of variant letters whose rule matched}."""
    done = subprocess.run(["yara", "-r", "-p", "1", rules, root], capture_output=True, timeout=TIMEOUT,
                          stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        sys.exit("yara %s: %s" % (rules, done.stderr.decode(errors="replace")))
    found = {}
    for line in done.stdout.split(b"\n"):
        rule, _, path = line.partition(b" ")
        if rule.startswith(b"Kestrelon_"):
            found.setdefault(path, set()).add(rule[-1:].decode())
    return found


class Tally:
    """Misses, matches on real files and near-miss rejections of one rule file."""

    def __init__(self, name, rules):
        self.name, self.rules = name, rules
        self.misses = []
        self.real_matches = []
        self.rejected = {letter: 0 for letter in LETTERS}
        self.near = {letter: 0 for letter in LETTERS}
        self.accepted = {letter: [] for letter in LETTERS}  # near misses the rule still matches
        self.found = 0

    def judge(self, verdicts, root, origin=None, real=False):
        """origin: the variant letter every file under root was made from, or a
        function of the path giving it."""
        matches = rule_matches(self.rules, root)
        for path, variant in verdicts.items():
            matched = matches.get(path, set())
            if variant is not None:
                self.found += 1
                if variant not in matched:
                    self.misses.append("%s: variant %s, rules %s" % (path.decode(errors="replace"), variant,
                                                                     "".join(sorted(matched)) or "none"))
                continue
            if real and matched:
                self.real_matches.append("%s: %s" % (path.decode(errors="replace"), "".join(sorted(matched))))
            letter = origin(path) if callable(origin) else origin
            if letter:
                self.near[letter] += 1
                if letter not in matched:
                    self.rejected[letter] += 1
                else:
                    self.accepted[letter].append(path.decode(errors="replace"))


def variant_of_name(path):
    """The variant a generated file was made from, by its name: variant-x..."""
    name = os.path.basename(path).decode(errors="replace")
    parent = os.path.basename(os.path.dirname(path)).decode(errors="replace")
    for part in (parent, name):
        if part.startswith("variant-") and len(part) > 8:
            return part[8].upper()
        if part.startswith("variant_") and len(part) > 8:  # the shape writer's one-change images
            return part[8].upper()
    return None


def write_bit_flips(variants, directory):
    """Each byte of the headers and records of each image, XOR 0xFF and XOR 0x01."""
    for name, data in variants.items():
        layout = Layout(data)
        offsets = sorted({at + i for _, at in layout.fields() for i in range(4) if at + i < len(data)})
        for at in offsets:
            for mask in (0xFF, 0x01):
                changed = bytearray(data)
                changed[at] ^= mask
                write(os.path.join(directory, name, "%06X.%02X" % (at, mask)), bytes(changed))


def debian_pe_roots(repo):
    sys.path.insert(0, os.path.join(repo, "bench"))
    from run_bench import DEBIAN_PE_ROOTS  # the benchmark's list: the same files
    return [root for root in DEBIAN_PE_ROOTS if os.path.isdir(root)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True)
    parser.add_argument("--rules", required=True)
    parser.add_argument("--measure-rules", default="")
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--row-writer", required=True)
    parser.add_argument("--shape-writer", default="")
    parser.add_argument("--corpus", default="")
    parser.add_argument("--repo", default=os.path.join(HERE, "..", ".."))
    args = parser.parse_args()
    if shutil.which("yara") is None:
        print("SKIP: yara is not installed (scripts/install-deps installs it)")
        return 77
    tallies = [Tally("shipped rules", args.rules)]
    if args.measure_rules:
        tallies.append(Tally("measured rules", args.measure_rules))

    def judge(root, origin=None, real=False):
        verdicts = detector_verdicts(args.scanner, root)
        for tally in tallies:
            tally.judge(verdicts, root, origin, real)
        return len(verdicts)

    work = tempfile.mkdtemp(prefix="pestkill-yara.")
    counts = []
    try:
        images = os.path.join(work, "images")
        os.makedirs(images)
        subprocess.run([args.images_tool, images], check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL)
        variants = read_variants(images)
        counts.append(("variant images", judge(images, variant_of_name)))

        rows = os.path.join(work, "rows")
        for letter in LETTERS:
            os.makedirs(os.path.join(rows, "variant-" + letter.lower()))
        subprocess.run([args.row_writer, rows], check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL)
        counts.append(("rows at and beyond their bounds", judge(rows, variant_of_name)))
        shutil.rmtree(rows)

        if args.shape_writer:
            shapes, walker = os.path.join(work, "shapes"), os.path.join(work, "walker")
            os.makedirs(shapes)
            os.makedirs(walker)
            subprocess.run([args.shape_writer, shapes, walker], check=True, timeout=TIMEOUT,
                           stdout=subprocess.DEVNULL)
            counts.append(("hostile shapes and one-change images", judge(shapes, variant_of_name)))
            shutil.rmtree(shapes)
            shutil.rmtree(walker)

        for name, sweep in near_miss_sweeps(variants, work):
            counts.append(("hostile values in %s" % name, judge(sweep, name[8].upper())))

        truncated = os.path.join(work, "truncated")
        write_truncations(variants, truncated)
        counts.append(("truncations", judge(truncated)))
        shutil.rmtree(truncated)

        for name in sorted(variants):
            flips = os.path.join(work, "flips")
            write_bit_flips({name: variants[name]}, flips)
            counts.append(("bit flips of %s" % name, judge(flips, name[8].upper())))
            shutil.rmtree(flips)
    finally:
        shutil.rmtree(work, True)

    real_roots = []
    if args.corpus and os.path.isdir(args.corpus):
        real_roots.append(args.corpus)
    else:
        print("fetched corpus absent (%s)" % args.corpus)
    real_roots += debian_pe_roots(os.path.abspath(args.repo))
    for root in real_roots:
        counts.append((root, judge(root, real=True)))

    for what, files in counts:
        print("%6d files: %s" % (files, what))
    failed = False
    for tally in tallies:
        print("%s (%s): %d files the detector finds, %d missed, %d matches on real files"
              % (tally.name, os.path.basename(tally.rules), tally.found, len(tally.misses), len(tally.real_matches)))
        for letter in LETTERS:
            near = tally.near[letter]
            share = 100.0 * tally.rejected[letter] / near if near else 0.0
            print("  Kestrelon_%s rejects %d of %d near misses the detector rejects (%.1f%%)"
                  % (letter, tally.rejected[letter], near, share))
            for path in tally.accepted[letter][:int(os.environ.get("PESTKILL_YARA_SHOW_ACCEPTED", "3"))]:
                print("    still matched: " + path)
        for line in tally.misses[:20] + tally.real_matches[:20]:
            print("  " + ("MISS " if line in tally.misses else "REAL MATCH ") + line)
        if tally is tallies[0]:
            failed = bool(tally.misses or tally.real_matches or tally.found < len(LETTERS))
    if failed:
        print("FAIL: the shipped rules miss a file the detector finds, or match a real file")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
