#!/usr/bin/python3
"""Compares the image readers (through the pe_dump tool) with python3-pefile on every
PE32 file at hand: the entry point's file offset, the section table offset, each
section header looked up by name, and the version resource's data RVA and size.

The readers deliberately follow the loader's address mapping where pefile uses its
own heuristics, and they validate nothing. Every disagreement is therefore checked
against a small model of the readers' mapping rules (RvaMapping below, built from
the raw bytes, independent of the C++ code): the readers must agree with the model
exactly, and where pefile differs the script names the rule that explains it, one
line per file. A disagreement no rule explains fails the test.

Usage: pefile_compare.py --dump PE_DUMP [--extra-dir DIR]... [--list]
"""

import argparse
import glob
import os
import struct
import subprocess
import sys

import pefile

# The fetched corpus lies in the shared folder beside the checkout.
CHECKOUT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CORPUS_DIRS = [
    os.path.join(os.path.dirname(CHECKOUT), "shared", "corpus-fetched", "files"),
]
PACKAGE_GLOBS = [
    "/usr/i686-w64-mingw32/lib/*.dll",
    "/usr/i686-w64-mingw32/bin/*.dll",
    "/usr/lib/gcc/i686-w64-mingw32/*/*.dll",
    "/usr/lib/wine/i386-windows/*",
    "/usr/lib/i386-linux-gnu/wine/i386-windows/*",
    "/usr/lib/mono/**/*.dll",
    "/usr/lib/mono/**/*.exe",
    "/usr/share/win32/*",
]
PE32_MAGIC = 0x10B
VERSION_TYPE = 16
NO_OFFSET = 0xFFFFFFFF
MAX_DEPTH = 50
STATS = {"versions": 0}


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def s32(value):
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


class Unmodelled(Exception):
    """The readers' seek would fail here and the read land elsewhere."""


class RvaMapping:
    """The readers' address mapping restated from the raw bytes: sections walked from
    the last header down, the last section's end inclusive, PointerToRawData rounded
    to FileAlignment capped at 512 (not for native images), RVAs below the first
    section mapped to themselves."""

    def __init__(self, data):
        self.data = data
        self.e_lfanew = s32(u32(data, 0x3C)) if len(data) >= 64 else 0
        self.file_header = self.read(self.e_lfanew + 4, 20)
        self.optional = self.read(self.e_lfanew + 24, 96)
        self.count = u16(self.file_header, 2)
        size_of_optional = u16(self.file_header, 16)
        if size_of_optional:
            self.table = (self.e_lfanew + 24 + size_of_optional) & 0xFFFFFFFF
        else:
            self.table = (self.e_lfanew + 24 + 96 + 8 * u32(self.optional, 92)) & 0xFFFFFFFF
        self.file_alignment = u32(self.optional, 36)
        self.subsystem = u16(self.optional, 68)
        self.image_base = u32(self.optional, 28)
        self.entry = u32(self.optional, 16)
        self.resource_rva = None

    def read(self, offset, count, exact=False):
        offset &= 0xFFFFFFFF
        if offset >= 0x80000000:
            raise Unmodelled()
        chunk = self.data[offset:offset + count]
        if exact:
            return chunk if len(chunk) == count else None
        return chunk + b"\0" * (count - len(chunk))

    def header(self, index):
        raw = self.read(self.table + 40 * index, 40, exact=True)
        if raw is None:
            return None
        vsize, va, raw_size, pointer = struct.unpack_from("<IIII", raw, 8)
        return {"index": index, "VirtualSize": vsize, "VirtualAddress": va,
                "SizeOfRawData": raw_size, "PointerToRawData": pointer}

    @staticmethod
    def end(h):
        return min(h["VirtualAddress"] + max(h["VirtualSize"], h["SizeOfRawData"]), 0xFFFFFFFF)

    def base(self, h):
        if self.subsystem == 1:
            return h["PointerToRawData"]
        unit = min(self.file_alignment, 512)
        return h["PointerToRawData"] & ((-unit) & 0xFFFFFFFF)

    def map(self, rva):
        """(file offset, how): how is the section index, "last-inclusive", "below",
        "none" or "unreadable"."""
        lowest = 0xFFFFFFFF
        for index in range(self.count - 1, -1, -1):
            h = self.header(index)
            if h is None:
                break
            lowest = min(lowest, h["VirtualAddress"])
            if h["SizeOfRawData"] == 0:
                continue
            if h["VirtualAddress"] <= rva < self.end(h):
                return (self.base(h) + rva - h["VirtualAddress"]) & 0xFFFFFFFF, index
        if self.count:
            h = self.header(self.count - 1)
            if h is None:
                return rva, "unreadable"
            if h["SizeOfRawData"] and h["VirtualAddress"] <= rva <= self.end(h):
                return (self.base(h) + rva - h["VirtualAddress"]) & 0xFFFFFFFF, "last-inclusive"
        return (rva, "below") if rva < lowest else (NO_OFFSET, "none")


def pefile_offset(pe, rva):
    try:
        return pe.get_offset_from_rva(rva) & 0xFFFFFFFF
    except Exception:  # pefile raises when it cannot place the RVA
        return None


def explain_mapping(pe, model, rva, how):
    """Why pefile maps rva elsewhere than the readers, or None."""
    theirs = pe.get_section_by_rva(rva)
    theirs_index = pe.sections.index(theirs) if theirs is not None else None
    if how == "last-inclusive":
        return "RVA at the end of the last section: inclusive end here"
    if how == "unreadable":
        return "last section header cut off: the RVA maps to itself here"
    if how in ("below", "none"):
        if theirs is None:
            return "RVA outside every section: pefile maps it when below the file size, " \
                   "this reader only below the first section"
        if theirs.SizeOfRawData == 0:
            return "section without raw data: pefile maps into it, this reader never does"
        if theirs.get_VirtualAddress_adj() != theirs.VirtualAddress:
            return "pefile rounds VirtualAddress to SectionAlignment"
        if theirs_index >= model.count:
            return "pefile reads a section beyond NumberOfSections"
        return None
    h = model.header(how)
    if theirs is None:
        if pe.sections and how < len(pe.sections):
            s = pe.sections[how]
            if s.get_VirtualAddress_adj() != s.VirtualAddress:
                return "pefile rounds VirtualAddress to SectionAlignment"
        return "pefile shortens the section (next section's start, or raw size past the " \
               "end of the file)"
    if theirs_index != how:
        return "overlapping sections: the later header wins here, the first in pefile"
    if model.subsystem == 1:
        return "native subsystem: PointerToRawData used unrounded here"
    if model.base(h) != theirs.get_PointerToRawData_adj():
        return "FileAlignment %#x: PointerToRawData rounded differently from pefile" % \
            model.file_alignment
    if theirs.get_VirtualAddress_adj() != theirs.VirtualAddress:
        return "pefile rounds VirtualAddress to SectionAlignment"
    return None


def probe_addresses(pe):
    """Start, last byte, end and one past the end of every section, the middle of the
    gap before it, and the address of every data directory."""
    rvas = set([0, 0x200, 0xFFF])
    for s in pe.sections:
        start = s.VirtualAddress
        end = start + max(s.Misc_VirtualSize, s.SizeOfRawData)
        for r in (start, start + 1, end - 1, end, end + 1, start // 2):
            rvas.add(r & 0xFFFFFFFF)
    for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY:
        if d.VirtualAddress:
            rvas.add(d.VirtualAddress)
    return sorted(rvas)[:400]  # sorted: the low probes (headers, first sections) first


def name_text(raw_name):
    return raw_name.split(b"\0", 1)[0]


def pefile_version(pe):
    """First data entry, depth-first in table order, below the root entries whose
    identifier is 16 (named root entries are passed over)."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return None

    def first_data(directory, depth):
        if depth > MAX_DEPTH:
            return None
        for entry in directory.entries:
            if hasattr(entry, "data"):
                return entry.data.struct.OffsetToData, entry.data.struct.Size
            if hasattr(entry, "directory"):
                found = first_data(entry.directory, depth + 1)
                if found:
                    return found
        return None

    for entry in root.entries:
        if entry.struct.Name != VERSION_TYPE:
            continue
        if hasattr(entry, "data"):
            return entry.data.struct.OffsetToData, entry.data.struct.Size
        if hasattr(entry, "directory"):
            found = first_data(entry.directory, 1)
            if found:
                return found
    return None


def run_dump(dump, path, names, rvas, vas):
    args = [dump, path] + ["x" + n.hex() for n in names] + ["r%x" % r for r in rvas] + \
        ["v%x" % v for v in vas]
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    result = {"sections": {}, "rva": {}, "va": {}}
    for line in out.splitlines():
        fields = line.split()
        if fields[0] == "table":
            result["table"] = int(fields[1])
        elif fields[0] == "entry":
            result["entry"] = int(fields[1])
        elif fields[0] == "section":
            result["sections"][fields[1]] = [int(f) for f in fields[2:]]
        elif fields[0] in ("rva", "va"):
            result[fields[0]][int(fields[1])] = int(fields[2])
        elif fields[0] == "resource":
            result["resource"] = [int(f) for f in fields[1:]] if fields[1] != "unreadable" else None
        elif fields[0] == "version":
            result["version"] = None if fields[1] == "0" else (int(fields[2]), int(fields[3]))
    return result


def compare(dump, path):
    """Returns (compared, [explained differences], [failures])."""
    explained, failures = [], []
    with open(path, "rb") as f:
        data = f.read()
    try:
        pe = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError as error:
        return False, ["pefile rejects the file: %s" % error], []
    if pe.OPTIONAL_HEADER.Magic != PE32_MAGIC:
        return False, [], []
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])

    names = []
    for s in pe.sections:
        text = name_text(s.Name)
        if text.lower() not in [n.lower() for n in names]:
            names.append(text)
    try:
        model = RvaMapping(data)
    except Unmodelled:
        return True, ["headers past 2 GiB: the readers' seeks fail, pefile rejects"], []
    # Each mapping walks the whole section table: keep files with thousands of
    # sections to a few probes.
    rvas = probe_addresses(pe)[:max(16, 400000 // max(model.count, 1))]
    base = pe.OPTIONAL_HEADER.ImageBase
    vas = [(base + r) & 0xFFFFFFFF for r in rvas[:8]] + [(base - 1) & 0xFFFFFFFF]
    ours = run_dump(dump, path, names, rvas, vas)

    # Section table offset.
    theirs_table = pe.sections[0].get_file_offset() if pe.sections else \
        pe.DOS_HEADER.e_lfanew + 24 + pe.FILE_HEADER.SizeOfOptionalHeader
    if ours["table"] != s32(model.table):
        failures.append("table %d, model %d" % (ours["table"], s32(model.table)))
    elif ours["table"] != theirs_table:
        if pe.FILE_HEADER.SizeOfOptionalHeader == 0:
            explained.append("SizeOfOptionalHeader 0: the table follows the declared "
                             "directories here, the 24-byte headers in pefile")
        else:
            failures.append("table %d, pefile %d" % (ours["table"], theirs_table))

    # Sections by name: the first header whose name matches, ignoring case.
    for text in names:
        first = next(s for s in pe.sections if name_text(s.Name).lower() == text.lower())
        want = [first.get_file_offset(), first.Misc_VirtualSize, first.VirtualAddress,
                first.SizeOfRawData, first.PointerToRawData, first.Characteristics]
        got = ours["sections"].get("x" + text.hex())
        if got != want:
            if ours["table"] != theirs_table:
                continue  # explained with the table offset
            failures.append("section %r: ours %s, pefile %s" % (text, got, want))

    # Addresses around every section and every data directory: the readers must
    # agree with the model; pefile's other answers are explained or fail.
    mapping_reasons = set()
    for rva in rvas:
        want, how = model.map(rva)
        got = ours["rva"].get(rva)
        if got != want:
            failures.append("rva %#x -> %s, model %#x (%s)" % (rva, got, want, how))
            continue
        theirs = pefile_offset(pe, rva)
        if theirs is not None and theirs != got:
            reason = explain_mapping(pe, model, rva, how)
            if reason:
                mapping_reasons.add(reason)
            else:
                failures.append("rva %#x -> %#x (%s), pefile %#x" % (rva, got, how, theirs))
    for reason in sorted(mapping_reasons):
        explained.append("some RVAs: " + reason)
    for va in vas:
        want = NO_OFFSET if va < model.image_base else model.map(va - model.image_base)[0]
        if ours["va"].get(va) != want:
            failures.append("va %#x -> %s, model %#x" % (va, ours["va"].get(va), want))

    # Entry point.
    want_entry, how = model.map(model.entry)
    if ours["entry"] != want_entry:
        failures.append("entry %#x, model %#x" % (ours["entry"], want_entry))
    else:
        theirs = pefile_offset(pe, model.entry)
        if theirs != ours["entry"]:
            reason = explain_mapping(pe, model, model.entry, how)
            if reason:
                explained.append("entry point: " + reason)
            else:
                failures.append("entry %#x (%s), pefile %s" % (ours["entry"], how, theirs))

    # Version resource.
    theirs_version = pefile_version(pe)
    if theirs_version is not None and ours["version"] == theirs_version:
        STATS["versions"] += 1
    if ours["version"] != theirs_version:
        reason = explain_version(pe, model, ours, theirs_version)
        if reason:
            explained.append("version resource: " + reason)
        else:
            failures.append("version ours %s, pefile %s" % (ours["version"], theirs_version))
    return True, explained, failures


def explain_version(pe, model, ours, theirs):
    if ours.get("resource") is None:
        return "the data directories lie past the end of the file"
    rva, root = ours["resource"]
    want_root, how = model.map(rva)
    if root != want_root:
        return None
    if rva == 0:
        return "no resource directory here; pefile reads one at RVA 0" if theirs else None
    theirs_root = pefile_offset(pe, rva)
    if theirs_root != root:
        reason = explain_mapping(pe, model, rva, how)
        return ("the tree's root maps elsewhere: " + reason) if reason else None
    if s32(root) <= 0:
        return "the root maps to no file offset"
    warnings = " ".join(pe.get_warnings()).lower()
    if "resource" in warnings or "invalid" in warnings:
        return "pefile drops resource entries it finds invalid"
    return None


def gather(extra_dirs):
    paths = []
    for d in CORPUS_DIRS:
        # Without the corpus the comparison would quietly shrink to the packages' files.
        if not os.path.isdir(d):
            sys.exit("pefile_compare: the fetched corpus is missing: %s" % d)
        for root, _, files in os.walk(d):
            paths += [os.path.join(root, f) for f in files]
    for pattern in PACKAGE_GLOBS:
        paths += glob.glob(pattern, recursive=True)
    for d in extra_dirs:
        for root, dirs, files in os.walk(d):
            dirs[:] = [x for x in dirs if x not in ("CMakeFiles", "googletest")]
            paths += [os.path.join(root, f) for f in files if f.lower().endswith(".exe")]
    seen, unique = set(), []
    for p in paths:
        real = os.path.realpath(p)
        if os.path.isfile(real) and real not in seen:
            seen.add(real)
            unique.append(p)
    return sorted(unique)


def looks_like_pe(path):
    try:
        with open(path, "rb") as f:
            return f.read(2) == b"MZ"
    except OSError:
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    parser.add_argument("--extra-dir", action="append", default=[])
    parser.add_argument("--list", action="store_true", help="list every file compared")
    args = parser.parse_args()

    compared, explained_files, failed = 0, 0, 0
    for path in gather(args.extra_dir):
        if not looks_like_pe(path):
            continue
        counted, explained, failures = compare(args.dump, path)
        compared += counted
        if args.list and counted:
            print("compared  %s" % path)
        for reason in explained:
            print("differs   %s: %s" % (path, reason))
        explained_files += bool(explained)
        for failure in failures:
            print("FAIL      %s: %s" % (path, failure))
        failed += bool(failures)
    print("%d PE32 files compared (%d version resources found by both), %d with explained "
          "differences, %d unexplained" % (compared, STATS["versions"], explained_files, failed))
    return 1 if failed or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
