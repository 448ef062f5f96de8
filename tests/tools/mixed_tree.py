"""The mixed tree of the output identity tests, and their comparison of scanner runs.

The tree holds:
  - each variant's matching image (make-variant-images), and the hostile shapes and
    one-change variant images when a shape writer is given;
  - truncations of each variant image at the edges of its records and every 512 bytes;
  - sparse files just below and beyond 2 GiB and 4 GiB, in the tree and named as
    operands;
and, written one variant at a time by near_miss_sweeps, the near misses: every
aligned 32-bit field of the PE headers and section table, the entry code's pushed
address, the VbHeader, the project information, the COM registration data and the
resource root of each variant image set in turn to a value where 32-bit sums wrap
or signed comparisons turn.
"""
import os
import shutil
import subprocess
import sys
import tempfile

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


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


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


def build_mixed_tree(work, images_tool, shape_writer=""):
    """Writes the mixed tree into work/mixed; returns its path, the variant images by
    name and the paths of the sparse files in it."""
    mixed = os.path.join(work, "mixed")
    images = os.path.join(mixed, "images")
    os.makedirs(images)
    subprocess.run([images_tool, images], check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL)
    if shape_writer:
        shapes, walker = os.path.join(mixed, "shapes"), os.path.join(mixed, "walker")
        os.makedirs(shapes)
        os.makedirs(walker)
        subprocess.run([shape_writer, shapes, walker], check=True, timeout=TIMEOUT, stdout=subprocess.DEVNULL)
    variants = read_variants(images)
    write_truncations(variants, os.path.join(mixed, "truncated"))
    large = write_sparse_files(variants, os.path.join(mixed, "sparse"))
    return mixed, variants, large


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


# -- comparing runs ------------------------------------------------------------

def verdict_lines(out):
    """The result line of each file: judged, not checked or an error (the
    explanations below them are indented)."""
    return [line for line in out.split(b"\n") if line and not line.startswith(b" ")
            and (line.endswith(b": OK") or b" FOUND" in line or b": not checked (" in line or b": ERROR " in line)]


def scan(command, form, roots):
    """Exit status, standard output, summary lines and the JSON summary, both
    without the time taken."""
    done = subprocess.run(command + form + roots, capture_output=True, timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    summary = [line for line in done.stderr.split(b"\n") if not line.startswith(b"Time: ")]
    out = b"\n".join(line for line in done.stdout.split(b"\n") if not line.startswith(b'{"summary":'))
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
    """Runs each scanner command in each form over the same roots and collects every
    difference from the first command's run."""

    def __init__(self, runs, forms):
        self.runs = runs  # (name, command); the first is the reference
        self.forms = forms  # the first one is a text form with --all
        self.failures = []
        self.files = 0
        self.infected = 0

    def compare(self, name, roots, expected_files):
        """Every run over roots; expected_files regular files must each get one verdict."""
        for form in self.forms:
            results = [(run_name, scan(command, form, roots)) for run_name, command in self.runs]
            reference_name, reference = results[0]
            if form is self.forms[0]:
                verdicts = verdict_lines(reference[1])
                self.files += len(verdicts)
                self.infected += sum(1 for line in verdicts if b" FOUND" in line)
                print("%s: %d files judged, %d bytes of output" % (name, len(verdicts), len(reference[1])))
                if len(verdicts) < expected_files:
                    self.failures.append("%s: %s judged %d of %d files"
                                         % (name, reference_name, len(verdicts), expected_files))
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

    def run_all(self, work, images_tool, shape_writer, corpus):
        """The sparse files as operands, the mixed tree with the corpus, then each
        variant's near misses, in work; the test's exit status, the failures printed."""
        mixed, variants, large = build_mixed_tree(work, images_tool, shape_writer)
        # Named on the command line, a file is judged without the directory walk.
        self.compare("large files named as operands", large, len(large))
        roots = [mixed]
        expected = count_files(mixed)
        if corpus and os.path.isdir(corpus):
            roots.append(corpus)
        else:
            print("fetched corpus absent (%s): the mixed tree only" % corpus)
        self.compare("mixed tree", roots, expected)
        shutil.rmtree(mixed)
        for name, sweep in near_miss_sweeps(variants, work):
            self.compare("near misses of %s" % name, [sweep], count_files(sweep))
        print("%d files judged in each run, %d of them infected" % (self.files, self.infected))
        if self.infected < len(variants):
            self.failures.append("only %d infected files: the variant images were not detected" % self.infected)
        for failure in self.failures:
            print("FAIL " + failure)
        return 1 if self.failures else 0


def add_tree_arguments(parser, shapes_required):
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--shape-writer", required=shapes_required, default="")
    parser.add_argument("--corpus", default="")


def compare_on_mixed_tree(comparison, args, prefix):
    """comparison.run_all in a new temporary directory, removed afterwards."""
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        return comparison.run_all(work, args.images_tool, args.shape_writer, args.corpus)
    finally:
        shutil.rmtree(work, True)
