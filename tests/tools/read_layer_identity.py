#!/usr/bin/env python3
"""The scanner's read layer and its workers change nothing it prints: the scanner
reading through the runtime's calls alone on one worker, and the scanner reading
through its own layer on one worker and on four, give the same bytes of output,
the same exit status and the same summary, in text and in JSON, with
--explain, on a mixed tree:

  - each variant's matching image (make-variant-images), and the hostile shapes and
    one-change variant images when a shape writer is given;
  - truncations of each variant image at the edges of its records and every 512 bytes;
  - sparse files just below and beyond 2 GiB and 4 GiB, named as operands;
  - near misses: fields of the headers and records of each variant image set to
    values where 32-bit sums wrap or signed comparisons turn;
  - the fetched corpus, read in place.

    read_layer_identity.py --scanner PATH --runtime-scanner PATH --images-tool PATH
                           [--shape-writer PATH] [--corpus DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from word_size_identity import (TIMEOUT, count_files, near_miss_sweeps, read_variants,  # noqa: E402
                                verdict_lines, write_sparse_files, write_truncations)

FORMS = (["-r", "--all", "--variant", "--explain"], ["-r", "--json", "--explain"])


def scan(command, form, roots):
    done = subprocess.run(command + form + roots, capture_output=True, timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    summary = [line for line in done.stderr.split(b"\n")
               if not line.startswith(b"Time: ")]
    out = b"\n".join(line for line in done.stdout.split(b"\n")
                     if not line.startswith(b'{"summary":'))  # holds the seconds taken
    seconds_free = [line.split(b',"seconds":')[0] for line in done.stdout.split(b"\n")
                    if line.startswith(b'{"summary":')]
    return done.returncode, out, summary, seconds_free


def first_difference(names, a, b):
    a_lines, b_lines = a.split(b"\n"), b.split(b"\n")
    for i, (x, y) in enumerate(zip(a_lines, b_lines)):
        if x != y:
            return "line %d:\n  %s: %r\n  %s: %r" % (i + 1, names[0], x, names[1], y)
    return "%s has %d lines, %s %d" % (names[0], len(a_lines), names[1], len(b_lines))


class Comparison:
    def __init__(self, runs):
        self.runs = runs  # (name, command); the first is the reference
        self.failures = []
        self.files = 0
        self.infected = 0

    def compare(self, name, roots, expected_files):
        for form in FORMS:
            results = [(run_name, scan(command, form, roots)) for run_name, command in self.runs]
            reference_name, reference = results[0]
            if form is FORMS[0]:
                verdicts = verdict_lines(reference[1])
                self.files += len(verdicts)
                self.infected += sum(1 for line in verdicts if b" FOUND" in line)
                print("%s: %d files judged, %d bytes of output" % (name, len(verdicts), len(reference[1])))
                if len(verdicts) < expected_files:
                    self.failures.append("%s: %d of %d files judged" % (name, len(verdicts), expected_files))
            for run_name, result in results[1:]:
                what = "%s, %s against %s" % (name, " ".join(form), reference_name)
                if (result[0], result[2], result[3]) != (reference[0], reference[2], reference[3]):
                    self.failures.append("%s: exit status or summary differ: %r against %r"
                                         % (what, (result[0], result[2], result[3]),
                                            (reference[0], reference[2], reference[3])))
                if result[1] != reference[1]:
                    self.failures.append("%s: output differs at %s"
                                         % (what, first_difference((run_name, reference_name), result[1],
                                                                   reference[1])))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True, help="the scanner with its read layer")
    parser.add_argument("--runtime-scanner", required=True, help="the same scanner reading through the runtime")
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--shape-writer", default="")
    parser.add_argument("--corpus", default="")
    args = parser.parse_args()
    comparison = Comparison([("runtime reads, -j 1", [args.runtime_scanner, "-j", "1"]),
                             ("read layer, -j 1", [args.scanner, "-j", "1"]),
                             ("read layer, -j 4", [args.scanner, "-j", "4"])])
    work = tempfile.mkdtemp(prefix="pestkill-read-layer.")
    try:
        mixed = os.path.join(work, "mixed")
        images = os.path.join(mixed, "images")
        os.makedirs(images)
        subprocess.run([args.images_tool, images], check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL)
        if args.shape_writer:
            shapes, walker = os.path.join(mixed, "shapes"), os.path.join(mixed, "walker")
            os.makedirs(shapes)
            os.makedirs(walker)
            subprocess.run([args.shape_writer, shapes, walker], check=True, timeout=TIMEOUT,
                           stdout=subprocess.DEVNULL)
        variants = read_variants(images)
        write_truncations(variants, os.path.join(mixed, "truncated"))
        large = write_sparse_files(variants, os.path.join(work, "sparse"))
        comparison.compare("large files named as operands", large, len(large))
        roots = [mixed]
        expected = count_files(mixed)
        if args.corpus and os.path.isdir(args.corpus):
            roots.append(args.corpus)
        else:
            print("fetched corpus absent (%s): the mixed tree only" % args.corpus)
        comparison.compare("mixed tree", roots, expected)
        shutil.rmtree(mixed)
        shutil.rmtree(os.path.join(work, "sparse"))

        for name, sweep in near_miss_sweeps(variants, work):
            comparison.compare("near misses of %s" % name, [sweep], count_files(sweep))
    finally:
        shutil.rmtree(work, True)

    print("%d files judged in each run, %d of them infected" % (comparison.files, comparison.infected))
    if comparison.infected < 4:
        comparison.failures.append("only %d infected files: the variant images were not detected"
                                   % comparison.infected)
    for failure in comparison.failures:
        print("FAIL " + failure)
    return 1 if comparison.failures else 0


if __name__ == "__main__":
    sys.exit(main())
