#!/usr/bin/env python3
"""The 32-bit scanner (the shipped word size, run under an emulator) and the 64-bit
scanner give the same bytes of `-r --all --variant --explain` output, the same exit
status and the same summary on a mixed tree:

  - each variant's matching image (make-variant-images) and the hostile shapes and
    one-change variant images (the shape writer);
  - near misses: every aligned 32-bit field of the PE headers and section table, the
    entry code's pushed address, the VbHeader, the project information, the COM
    registration data and the resource root of each variant image set in turn to a
    value where 32-bit sums wrap or signed comparisons turn;
  - truncations of each variant image at the edges of its records and every 512 bytes;
  - sparse files just below and beyond 2 GiB and 4 GiB, in the tree and named as
    operands;
  - the fetched corpus, read in place.

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
import shutil
import subprocess
import sys
import tempfile

DETECTION = "Trojan.Kestrelon.Gen"
HOSTILE_VALUES = (0x7FFFFFFF, 0x80000000, 0xFFFFF000, 0xFFFFFFFF)
SPARSE_SIZES = (2**31 - 1, 2**31, 2**32 - 1, 2**32, 2**32 + 0x6000)
TIMEOUT = 600


def u16(data, at):
    return int.from_bytes(data[at:at + 2], "little")


def u32(data, at):
    return int.from_bytes(data[at:at + 4], "little") if 0 <= at <= len(data) - 4 else None


class Layout:
    """File offsets of a variant image's records, found from its raw bytes."""

    def __init__(self, data):
        self.pe = u32(data, 0x3C)
        self.optional = self.pe + 24
        self.table = self.optional + u16(data, self.pe + 20)
        self.sections = [self.table + 40 * i for i in range(u16(data, self.pe + 6))]
        self.table_end = self.table + 40 * len(self.sections)
        self.image_base = u32(data, self.optional + 28)
        self.entry = self.rva_offset(data, u32(data, self.optional + 16))
        self.vb_header = self.va_offset(data, u32(data, self.entry + 1))
        self.project_info = self.va_offset(data, u32(data, self.vb_header + 0x30))
        self.com_data = self.va_offset(data, u32(data, self.vb_header + 0x54))
        resource_rva = u32(data, self.optional + 96 + 8 * 2)
        self.resources = self.rva_offset(data, resource_rva) if resource_rva else None

    def rva_offset(self, data, rva):
        for header in self.sections:
            address, raw_size, raw_at = u32(data, header + 12), u32(data, header + 16), u32(data, header + 20)
            if address <= rva < address + raw_size:
                return raw_at + rva - address
        return None

    def va_offset(self, data, va):
        return None if va is None else self.rva_offset(data, va - self.image_base)

    def fields(self):
        """(name, offset) of every 32-bit field the sweep changes."""
        found = [("e_lfanew", 0x3C), ("entry push", self.entry + 1)]
        found += [("pe+0x%X" % (at - self.pe), at) for at in range(self.pe, self.table_end, 4)]
        regions = [("vbheader", self.vb_header, 0x68), ("projectinfo", self.project_info, 0x24),
                   ("projectinfo", self.project_info and self.project_info + 0x234, 8),
                   ("comregdata", self.com_data, 0x28), ("resources", self.resources, 0x40)]
        for name, start, size in regions:
            if start is not None:
                found += [("%s+0x%X" % (name, at - start), at) for at in range(start, start + size, 4)]
        return found

    def edges(self, size):
        """Lengths at which a truncation cuts a record: each record's start and end, +-1."""
        points = {0, 2, 0x40, self.pe, self.optional, self.optional + 96, self.table, self.table_end,
                  self.entry, self.entry + 12, self.entry + 1024, 112 + 16, 4096 + 16, 111024 + 16, size}
        for start, length in ((self.vb_header, 0x68), (self.project_info, 0x23C), (self.com_data, 0x2A),
                              (self.resources, 0x10)):
            if start is not None:
                points |= {start, start + length}
        lengths = {at + d for at in points for d in (-1, 0, 1)} | set(range(0, min(size, 0x10000), 512))
        return sorted(at for at in lengths if 0 <= at < size)


def elf_kind(path):
    """(ELF class, machine) of an ELF file: (1, 3) for 32-bit x86, (2, 62) for x86-64."""
    with open(path, "rb") as handle:
        head = handle.read(20)
    if head[:4] != b"\x7fELF":
        return None
    return head[4], int.from_bytes(head[18:20], "little")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


def scan(scanner, roots):
    done = subprocess.run([scanner, "-r", "--all", "--variant", "--explain"] + roots,
                          capture_output=True, timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    summary = [line for line in done.stderr.split(b"\n") if not line.startswith(b"Time: ")]
    return done.returncode, done.stdout, summary


def verdict_lines(out):
    """The result line of each file: judged, not checked or an error (the
    explanations below them are indented)."""
    return [line for line in out.split(b"\n") if line and not line.startswith(b" ")
            and (line.endswith(b": OK") or b" FOUND" in line or b": not checked (" in line or b": ERROR " in line)]


def first_difference(a, b):
    a_lines, b_lines = a.split(b"\n"), b.split(b"\n")
    for i, (x, y) in enumerate(zip(a_lines, b_lines)):
        if x != y:
            return "line %d:\n  32-bit: %r\n  64-bit: %r" % (i + 1, x, y)
    return "32-bit output has %d lines, 64-bit %d" % (len(a_lines), len(b_lines))


class Comparison:
    def __init__(self, args):
        self.args = args
        self.failures = []
        self.files = 0
        self.infected = 0

    def compare(self, name, roots, expected_files):
        """Both scanners over roots; expected_files regular files must each get one verdict."""
        code32, out32, summary32 = scan(self.args.scanner, roots)
        code64, out64, summary64 = scan(self.args.reference_scanner, roots)
        verdicts = verdict_lines(out64)
        self.files += len(verdicts)
        self.infected += sum(1 for line in verdicts if b" FOUND" in line)
        print("%s: %d files judged, %d bytes of output" % (name, len(verdicts), len(out64)))
        if len(verdicts) < expected_files:
            self.failures.append("%s: the 64-bit scanner judged %d of %d files" % (name, len(verdicts),
                                                                               expected_files))
        if (code32, summary32) != (code64, summary64):
            self.failures.append("%s: exit status or summary differ: 32-bit %d %r, 64-bit %d %r"
                                 % (name, code32, summary32, code64, summary64))
        if out32 != out64:
            self.failures.append("%s: output differs at %s" % (name, first_difference(out32, out64)))


def count_files(root):
    return sum(len(files) for _, _, files in os.walk(root))


def read_variants(images):
    """The images make-variant-images wrote into images, by name."""
    variants = {}
    for name in sorted(os.listdir(images)):
        with open(os.path.join(images, name), "rb") as handle:
            variants[name] = handle.read()
    if len(variants) != 4:
        sys.exit("make-variant-images wrote %s" % sorted(variants))
    return variants


def write_truncations(variants, directory):
    for name, data in variants.items():
        for length in Layout(data).edges(len(data)):
            write(os.path.join(directory, "%s.%06d" % (name, length)), data[:length])


def write_sparse_files(variants, directory):
    """The first variant image grown sparse to each of SPARSE_SIZES; their paths."""
    first = sorted(variants)[0]
    large = []
    for size in SPARSE_SIZES:
        large.append(os.path.join(directory, "%s.%d" % (first, size)))
        write(large[-1], variants[first])
        os.truncate(large[-1], size)
    return large


def near_miss_sweeps(variants, work):
    """For each variant image in turn, a directory of its near misses: yields its
    name and the directory, and removes the directory before the next is written."""
    for name, data in variants.items():
        sweep = os.path.join(work, "near-misses", name)
        for field, at in Layout(data).fields():
            for value in HOSTILE_VALUES:
                changed = bytearray(data)
                changed[at:at + 4] = value.to_bytes(4, "little")
                write(os.path.join(sweep, "%s.%08X" % (field, value)), bytes(changed))
        yield name, sweep
        shutil.rmtree(sweep)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True, help="the 32-bit scanner (through its launcher)")
    parser.add_argument("--scanner-program", required=True, help="the 32-bit scanner's program file")
    parser.add_argument("--reference-scanner", required=True, help="the 64-bit scanner")
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--shape-writer", required=True)
    parser.add_argument("--corpus", default="")
    args = parser.parse_args()
    kinds = (elf_kind(args.scanner_program), elf_kind(args.reference_scanner))
    if kinds != ((1, 3), (2, 62)):
        sys.exit("not a 32-bit x86 and a 64-bit x86 scanner: ELF class and machine %s" % (kinds,))
    comparison = Comparison(args)
    work = tempfile.mkdtemp(prefix="pestkill-word-size.")
    try:
        images, shapes, walker = (os.path.join(work, "mixed", part) for part in ("images", "shapes", "walker"))
        for directory in (images, shapes, walker):
            os.makedirs(directory)
        for command in ([args.images_tool, images], [args.shape_writer, shapes, walker]):
            subprocess.run(command, check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL)
        variants = read_variants(images)
        mixed = os.path.join(work, "mixed")
        write_truncations(variants, os.path.join(mixed, "truncated"))
        large = write_sparse_files(variants, os.path.join(mixed, "sparse"))
        # Named on the command line, a file is judged without the directory walk.
        comparison.compare("large files named as operands", large, len(large))
        roots = [mixed]
        expected = count_files(mixed)
        if args.corpus and os.path.isdir(args.corpus):
            roots.append(args.corpus)
        else:
            print("fetched corpus absent (%s): the mixed tree only" % args.corpus)
        comparison.compare("mixed tree", roots, expected)
        shutil.rmtree(mixed)

        for name, sweep in near_miss_sweeps(variants, work):
            comparison.compare("near misses of %s" % name, [sweep], count_files(sweep))
    finally:
        shutil.rmtree(work, True)

    print("%d files judged by each scanner, %d of them infected" % (comparison.files, comparison.infected))
    if comparison.infected < len(variants):
        comparison.failures.append("only %d infected files: the variant images were not detected"
                                   % comparison.infected)
    for failure in comparison.failures:
        print("FAIL " + failure)
    return 1 if comparison.failures else 0


if __name__ == "__main__":
    sys.exit(main())
