#!/usr/bin/env python3
"""pestkill-scan --image on images that are damaged, hostile or in one more
container, built from the volume of disk_image_test.py: an AFF image read as its
raw form; an EWF image with a segment missing or cut; an NTFS volume whose $MFT
record or file records are damaged; a deleted ext name whose entry another file
now holds; files Windows stores compressed (WOF) or encrypted (EFS); and files
whose metadata claims terabytes. Nothing damaged may pass for clean, and every
damage ends at what it damaged.

    disk_image_hostile_test.py --scanner PATH --images-tool PATH --corpus DIR --hive-corpus DIR

--corpus is the folder of fetched disk images (its split EWF image is read in
place, through links). Like disk_image_test.py the test needs root and /dev/fuse
for its ntfs-3g mounts, and the image tools; without them it is skipped (exit
status 77).
"""
import argparse
import contextlib
import json
import os
import re
import shutil
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import disk_image_test as fixture  # the built volume, its containers and the scan helpers
from disk_image_test import Built, run, scan, scan_json, write

ARGS = None
TOOLS = fixture.TOOLS + ["affconvert", "debugfs", "fls", "ifind"]
TERABYTES = 4 << 40  # what the hostile sizes claim: far beyond any image here
FOUND = ": Trojan.Kestrelon.Gen FOUND"


def errors_of(err):
    return [line for line in err.splitlines() if ": ERROR " in line]


def judged(records):
    """What each entry's line says, without the names of the image it lies in."""
    return sorted(json.dumps([r["inner_path"], r["stream"], r["deleted"], r.get("realloc"), r["verdict"], r["variant"],
                              r.get("reason")]) for r in records)


def by_inner_path(records):
    return {(r["inner_path"], r["stream"]): r for r in records}


def variant_image(letter):
    with open(os.path.join(Built.work, "variants", "variant-%s.exe" % letter.lower()), "rb") as f:
        return f.read()


def scratch(name):
    """A fresh folder below the built volume's, removed with it."""
    return tempfile.mkdtemp(prefix=name + ".", dir=Built.work)


def copy_of_volume(folder, name="ntfs.raw"):
    target = os.path.join(folder, name)
    shutil.copyfile(Built.images["raw"][0], target)
    return target


@contextlib.contextmanager
def mounted(raw):
    """The NTFS volume in raw, mounted writable with its named streams as PATH:NAME."""
    mount = tempfile.mkdtemp(prefix="mnt.", dir=os.path.dirname(raw))
    run("ntfs-3g", "-o", "streams_interface=windows", raw, mount)
    try:
        yield mount
    finally:
        run("umount", mount)
        os.rmdir(mount)


def record_number(raw, inner, start_sector=0):
    """The MFT record of the file or directory at inner, as the library finds it."""
    found = run("ifind", "-o", str(start_sector), "-n", inner, raw).stdout.decode().strip()
    return int(found.split("-")[0])


class MftRecords:
    """The MFT records of an NTFS volume in an image file, read and written in place.
    read() gives a record with its update sequence undone (the sector ends put
    back), write() applies it again; raw_read()/raw_write() leave the bytes as
    they lie, for damage the fixups must not repair."""

    def __init__(self, path, start_sector=0):
        self.path, self.start = path, start_sector * fixture.SECTOR
        with open(path, "rb") as f:
            f.seek(self.start)
            boot = f.read(512)
        assert boot[3:11] == b"NTFS    ", "not an NTFS boot sector"
        self.sector = struct.unpack_from("<H", boot, 0x0B)[0]
        self.cluster = self.sector * boot[0x0D]
        per_record = struct.unpack_from("<b", boot, 0x40)[0]
        self.record_bytes = per_record * self.cluster if per_record > 0 else 1 << -per_record
        mft = self.start + struct.unpack_from("<Q", boot, 0x30)[0] * self.cluster
        self.runs = [(mft, 16 * self.record_bytes)]  # enough to read $MFT's own record
        self.runs = self.data_runs(self.read(0))

    def offset(self, number):
        at = number * self.record_bytes
        for start, length in self.runs:
            if at < length:
                return start + at
            at -= length
        raise ValueError("record %d lies beyond the MFT" % number)

    def raw_read(self, number):
        with open(self.path, "rb") as f:
            f.seek(self.offset(number))
            return bytearray(f.read(self.record_bytes))

    def raw_write(self, number, record):
        with open(self.path, "r+b") as f:
            f.seek(self.offset(number))
            f.write(record)

    def sector_ends(self, record):
        usa, count = struct.unpack_from("<HH", record, 4)
        return [(usa + 2 * i, i * self.sector - 2) for i in range(1, count)]

    def read(self, number):
        record = self.raw_read(number)
        for saved, end in self.sector_ends(record):
            record[end:end + 2] = record[saved:saved + 2]
        return record

    def write(self, number, record):
        record = bytearray(record)
        usa = struct.unpack_from("<H", record, 4)[0]
        for saved, end in self.sector_ends(record):
            record[saved:saved + 2] = record[end:end + 2]
            record[end:end + 2] = record[usa:usa + 2]
        self.raw_write(number, record)

    @staticmethod
    def attributes(record):
        """(type, offset) of each attribute in a record read with read()."""
        at = struct.unpack_from("<H", record, 0x14)[0]
        while at + 8 <= len(record):
            kind, length = struct.unpack_from("<II", record, at)
            if kind == 0xFFFFFFFF or length == 0:
                return
            yield kind, at
            at += length

    @classmethod
    def unnamed_data(cls, record):
        """The offset of the record's unnamed $DATA attribute."""
        return [at for kind, at in cls.attributes(record) if kind == 0x80 and record[at + 9] == 0][0]

    def data_runs(self, record):
        """(image offset, bytes) of each run of the record's unnamed data."""
        at = self.unnamed_data(record)
        position = at + struct.unpack_from("<H", record, at + 0x20)[0]
        runs, cluster = [], 0
        while record[position]:
            length_bytes, offset_bytes = record[position] & 15, record[position] >> 4
            length = int.from_bytes(record[position + 1:position + 1 + length_bytes], "little")
            cluster += int.from_bytes(record[position + 1 + length_bytes:position + 1 + length_bytes + offset_bytes],
                                      "little", signed=True)
            runs.append((self.start + cluster * self.cluster, length * self.cluster))
            position += 1 + length_bytes + offset_bytes
        return runs

    def change_data(self, number, flags=0, sizes=None):
        """Sets flags in the header of the record's unnamed data attribute and, for
        non-resident data, its (allocated, real, initialised) sizes (None keeps one)."""
        record = self.read(number)
        at = self.unnamed_data(record)
        struct.pack_into("<H", record, at + 12, struct.unpack_from("<H", record, at + 12)[0] | flags)
        if sizes is not None:
            assert record[at + 8] == 1, "resident data has no run sizes"
            now = struct.unpack_from("<QQQ", record, at + 0x28)
            struct.pack_into("<QQQ", record, at + 0x28, *[n if s is None else s for n, s in zip(now, sizes)])
        self.write(number, record)


class BuiltVolume(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        Built.build()


class OtherContainers(BuiltVolume):
    def test_aff_reads_whole_as_its_raw_form(self):
        folder = scratch("aff")
        aff = os.path.join(folder, "ntfs.aff")
        run("affconvert", "-o", aff, Built.images["raw"][0])
        before = fixture.state_of(aff)
        status, records, summary, err = scan_json("--image", "-a", aff)
        self.assertEqual(fixture.state_of(aff), before, "the image changed")
        self.assertEqual((status, summary["errors"]), (1, 0), err)
        _, raw_records, raw_summary, _ = scan_json("--image", "-a", Built.images["raw"][0])
        self.assertEqual(judged(records), judged(raw_records))
        self.assertEqual(dict(summary, seconds=None), dict(raw_summary, seconds=None))
        self.assertEqual(fixture.detections_of(records), Built.mounted_detections)
        self.assertTrue(all(r["image"] == aff for r in records))


class MissingEwfSegments(BuiltVolume):
    """A split EWF image whose segments are not all there: one ERROR line for the
    image, nothing of it judged, the next image of the run scanned all the same."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.segments = os.path.join(Built.work, "ewf-segments")
        if not os.path.isdir(cls.segments):
            os.makedirs(cls.segments)
            # Stored uncompressed, the volume fills four segments.
            run("ewfacquire", "-u", "-t", os.path.join(cls.segments, "ntfs"), "-c", "none", "-S", str(16 << 20),
                Built.images["raw"][0])
        cls.built = sorted(os.path.join(cls.segments, n) for n in os.listdir(cls.segments))
        corpus = [os.path.join(d, n) for d, _, names in os.walk(ARGS.corpus) for n in names]
        cls.fetched = sorted(p for p in corpus if re.search(r"/ext2\.split\.E\d\d$", p))
        cls.good = [p for p in corpus if p.endswith("/ext2.E01")][0]

    def test_the_built_segments_are_many_and_read_whole(self):
        self.assertEqual(len(self.built), 4, self.built)
        status, records, summary, err = scan_json("--image", self.built[0])
        self.assertEqual((status, summary["errors"]), (1, 0), err)
        self.assertEqual(fixture.detections_of(records), Built.mounted_detections)

    def test_a_segment_missing_or_cut_is_one_error_for_its_image(self):
        self.assertEqual(len(self.fetched), 2, "the fetched two-segment EWF image")
        built_last = os.path.basename(self.built[-1])
        cases = [
            ("fetched, last missing", self.fetched, 1, None,
             "segment 2 of the EWF image (ext2.split.E02) is missing: ext2.split.E01 (1 segment found) "
             "says more follow"),
            ("built, middle missing", self.built, 1, None,
             "segment 2 of the EWF image (ntfs.E02) is missing: ntfs.E01 (1 segment found) says more follow"),
            ("built, last missing", self.built, 3, None,
             "segment 4 of the EWF image (ntfs.E04) is missing: ntfs.E03 (3 segments found) says more follow"),
            ("built, last cut", self.built, 3, 50000,
             "the EWF segment %s is cut short or damaged: its sections stop before its last one" % built_last),
            ("built, middle cut", self.built, 1, 8 << 20,
             "the EWF segment ntfs.E02 is cut short or damaged: its sections stop before its last one"),
        ]
        for name, segments, changed, cut_to, said in cases:
            with self.subTest(case=name):
                folder = scratch("ewf-" + name.replace(" ", "").replace(",", "-"))
                for index, segment in enumerate(segments):
                    target = os.path.join(folder, os.path.basename(segment))
                    if index != changed:
                        os.symlink(os.path.abspath(segment), target)
                    elif cut_to is not None:
                        with open(segment, "rb") as f, open(target, "wb") as out:
                            out.write(f.read(cut_to))
                first = os.path.join(folder, os.path.basename(segments[0]))
                status, out, err = scan("--image", "-a", first, self.good)
                self.assertEqual(errors_of(err), [first + ": ERROR " + said], err)
                self.assertNotIn(first + "#", out + err)
                self.assertEqual(status, 2, err)
                # The next image is scanned: its files listed, its volume closed.
                self.assertIn(self.good + "#volume/a_directory/a_file: not checked", out)
                self.assertRegex(err, re.escape(self.good + "#volume: ") + r"6 names in use")


class DamagedMft(BuiltVolume):
    def test_a_damaged_mft_record_of_its_own_loses_that_volume_alone(self):
        """$MFT's own record spoilt three ways: the volume is one ERROR line in the
        library's words, the disk's ext partition is scanned all the same."""

        def bad_fixup(mft):
            record = mft.raw_read(0)
            record[fixture.SECTOR - 1] ^= 0xFF
            mft.raw_write(0, record)

        def zeroed(mft):
            mft.raw_write(0, bytes(mft.record_bytes))

        def no_data(mft):
            record = mft.read(0)
            struct.pack_into("<I", record, mft.unnamed_data(record), 0x1234)
            mft.write(0, record)

        cases = [(bad_fixup, "Incorrect update sequence value in MFT entry; "), (zeroed, "Invalid update count value"),
                 (no_data, "$Data not found while loading the MFT")]
        folder = scratch("mft-own")
        for damage, said in cases:
            with self.subTest(damage=damage.__name__):
                disk = os.path.join(folder, "gpt.raw")
                shutil.copyfile(Built.images["gpt"][0], disk)
                damage(MftRecords(disk, fixture.FIRST_PARTITION))
                status, out, err = scan("--image", disk)
                errors = errors_of(err)
                self.assertEqual(len(errors), 1, err)
                self.assertRegex(errors[0], r"^%s#p\d+@%d: ERROR its boot sector names NTFS, but the volume cannot be "
                                 r"read: .*%s" % (re.escape(disk), fixture.FIRST_PARTITION, re.escape(said)))
                self.assertNotIn("@%d/" % fixture.FIRST_PARTITION, out)
                self.assertRegex(out, r"#p\d+@\d+/srv/share/tool\.exe" + FOUND)
                self.assertEqual(status, 1, err)

    def test_damaged_file_records_are_errors_and_the_rest_is_found(self):
        folder = scratch("mft-files")
        raw = copy_of_volume(folder)
        mft = MftRecords(raw)
        number = {inner: record_number(raw, inner) for inner in
                  ["/Tools/variant-a.exe", "/Users/alice/AppData/Roaming/update.exe", "/d000/d001",
                   "/Program Files/Common/helper.dll"]}

        def bad_fixup(inner, sector):
            record = mft.raw_read(number[inner])
            record[sector * mft.sector - 1] ^= 0xFF
            mft.raw_write(number[inner], record)

        bad_fixup("/Tools/variant-a.exe", 1)
        mft.raw_write(number["/Users/alice/AppData/Roaming/update.exe"], bytes(mft.record_bytes))
        bad_fixup("/d000/d001", 2)  # a directory: what lies below it is out of reach
        # The signature alone: the library, as Windows does, goes by the fixups and
        # the attributes, which are whole, so the file is read and judged.
        record = mft.raw_read(number["/Program Files/Common/helper.dll"])
        record[0:4] = b"BAAD"
        mft.raw_write(number["/Program Files/Common/helper.dll"], record)

        status, out, err = scan("--image", raw)
        volume = raw + "#volume"
        self.assertEqual(sorted(errors_of(err)), sorted(
            volume + inner + ": ERROR its metadata cannot be read"
            for inner in ["/Tools/variant-a.exe", "/Users/alice/AppData/Roaming/update.exe", "/d000/d001"]), err)
        self.assertEqual(status, 1, err)
        for inner in ["/Program Files/Common/helper.dll", "/Program Files/Common/Long Helper Name.exe",
                      "/Temp:payload", "/Temp/dropped.exe (deleted)", "/ProgramData/readme.txt:svchost.exe"]:
            self.assertIn(volume + inner + FOUND + "\n", out)
        self.assertNotIn("/deep.exe", out)
        # Nothing of the damaged entries is called clean.
        _, records, _, _ = fixture.scan_records("--image", "-a", raw)
        damaged = [(r["inner_path"], r["verdict"]) for r in records if "verdict" in r and
                   (r["inner_path"] in number or r["inner_path"].startswith("/d000/d001/"))]
        self.assertEqual(sorted(damaged), [("/Program Files/Common/helper.dll", "infected"),
                                           ("/Tools/variant-a.exe", "error"),
                                           ("/Users/alice/AppData/Roaming/update.exe", "error"),
                                           ("/d000/d001", "error")])
        # The closing line shows what the walk missed: the names below the lost
        # directory (its directories d002 to the last and deep.exe), while the
        # entries in use lack only the three damaged records.
        _, intact, _, _ = fixture.scan_records("--image", Built.images["raw"][0])
        volume, intact = [[r for r in rs if "volume" in r][0] for rs in (records, intact)]
        self.assertEqual(intact["names"] - volume["names"], fixture.DEEP - 1)
        self.assertEqual(intact["metadata_in_use"] - volume["metadata_in_use"], 3)


class ReallocatedEntries(BuiltVolume):
    def test_a_deleted_name_is_judged_by_the_file_now_holding_its_entry(self):
        """ext2: a, written after first.txt and before last.txt, is removed, and b.exe
        takes its inode; the name a keeps the number. Its content is b's."""
        text = b"nothing to see here, " * 200
        cases = [("variant under the old name", text, variant_image("B"), "infected", "B"),
                 ("text under the old name", variant_image("A"), text[:500], "not checked", None)]
        folder = scratch("realloc")
        for name, old, new, verdict, variant in cases:
            with self.subTest(case=name):
                tree = os.path.join(folder, name.replace(" ", "-"))
                write(os.path.join(tree, "volume", "first.txt"), b"the first file\n")
                write(os.path.join(tree, "a"), old)
                write(os.path.join(tree, "b.exe"), new)
                image = os.path.join(tree, "ext2.raw")
                run("mke2fs", "-q", "-F", "-t", "ext2", "-d", os.path.join(tree, "volume"), image, "4M")
                a, b = os.path.join(tree, "a"), os.path.join(tree, "b.exe")
                for command in ["write %s a" % a, "write %s last.txt" % a, "rm a", "write %s b.exe" % b]:
                    run("debugfs", "-w", "-R", command, image)
                listing = run("fls", "-r", image).stdout.decode()
                held = re.search(r"^r/r (\d+):\tb\.exe$", listing, re.M)
                self.assertRegex(listing, r"(?m)^r/r \* %s\(realloc\):\ta$" % held.group(1))

                status, out, err = scan("--image", "-a", image)
                line = [l for l in out.splitlines() if l.startswith(image + "#volume/a ")]
                self.assertEqual(len(line), 1, out)
                self.assertTrue(line[0].startswith(image + "#volume/a (deleted, realloc): "), line[0])
                self.assertEqual(line[0].endswith(FOUND), verdict == "infected", line[0])
                _, records, _, _ = scan_json("--image", "-a", image)
                record = by_inner_path(records)[("/a", None)]
                self.assertEqual((record["deleted"], record["realloc"], record["inode"]),
                                 (True, True, int(held.group(1))))
                self.assertEqual((record["verdict"], record["variant"]), (verdict, variant), record)
                self.assertEqual(by_inner_path(records)[("/b.exe", None)]["verdict"], verdict)


class WindowsStoredContent(BuiltVolume):
    """Content the scan cannot read as it is: compressed by WOF (its data in the
    stream WofCompressedData) or encrypted by EFS. Never clean; a detection in what
    can be read stands."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        folder = scratch("stored")
        cls.raw = copy_of_volume(folder)
        compressed = b"\x00" * 64 + b"chunk table and compressed chunks" * 40
        with mounted(cls.raw) as mount:
            # Compressed as Windows leaves it: the unnamed data empty, the content in the stream.
            write(os.path.join(mount, "Windows", "System32", "compact.exe"), b"")
            write(os.path.join(mount, "Windows", "System32", "compact.exe:WofCompressedData"), compressed)
            # A variant image beside such a stream, as the file's data and as another stream.
            write(os.path.join(mount, "Tools", "beside.exe"), variant_image("C"))
            write(os.path.join(mount, "Tools", "beside.exe:WofCompressedData"), compressed)
            write(os.path.join(mount, "ProgramData", "notes.txt"), b"")
            write(os.path.join(mount, "ProgramData", "notes.txt:WofCompressedData"), compressed)
            write(os.path.join(mount, "ProgramData", "notes.txt:run.exe"), variant_image("D"))
            write(os.path.join(mount, "Tools", "sealed.exe"), variant_image("A"))
        MftRecords(cls.raw).change_data(record_number(cls.raw, "/Tools/sealed.exe"), flags=0x4000)
        _, records, cls.summary, cls.err = scan_json("--image", "-a", cls.raw)
        cls.records = by_inner_path(records)

    def test_each_is_not_checked_with_its_reason_or_found(self):
        wof = "compressed by Windows (WOF/CompactOS), which is not read"
        efs = "encrypted by the file system (EFS), which is not read"
        cases = [("/Windows/System32/compact.exe", None, "not checked", wof),
                 ("/ProgramData/notes.txt", None, "not checked", wof),
                 ("/ProgramData/notes.txt", "run.exe", "infected", None),
                 ("/Tools/beside.exe", None, "infected", None),
                 ("/Tools/sealed.exe", None, "not checked", efs)]
        for inner, stream, verdict, reason in cases:
            with self.subTest(entry=inner, stream=stream):
                record = self.records[(inner, stream)]
                self.assertEqual((record["verdict"], record.get("reason")), (verdict, reason), record)
        # The compressed stream is the file's content, not a stream of its own to judge.
        self.assertFalse([key for key in self.records if key[1] == "WofCompressedData"])
        self.assertEqual(self.summary["errors"], 0, self.err)


class ClaimedSizes(BuiltVolume):
    """Files whose metadata claims terabytes: what the image holds of them is
    judged, and the rest, which it does not hold, never passes for clean. (A
    directory that claims more than the image holds, and one met again below
    itself, are the walk's own checks, the same on every file system; the ext
    cases of disk_image_test.py show them.)"""

    def test_a_file_claiming_terabytes(self):
        folder = scratch("claimed")
        raw = copy_of_volume(folder)
        head = variant_image("C")[:100 << 10]
        with mounted(raw) as mount:
            # Cut short of the file size variant C wants: clean as it is, 100 KiB.
            write(os.path.join(mount, "Tools", "cut-c.exe"), head)
            write(os.path.join(mount, "Tools", "grown-c.exe"), head)
            write(os.path.join(mount, "Tools", "grown-a.exe"), variant_image("A"))
            write(os.path.join(mount, "Tools", "real-only.exe"), variant_image("B"))
        mft = MftRecords(raw)
        everything = (TERABYTES, TERABYTES, TERABYTES)
        mft.change_data(record_number(raw, "/Tools/grown-c.exe"), sizes=everything)
        mft.change_data(record_number(raw, "/Tools/grown-a.exe"), sizes=everything)
        mft.change_data(record_number(raw, "/Tools/real-only.exe"), sizes=(None, TERABYTES, None))
        status, records, summary, err = scan_json("--image", "-a", raw)
        records = by_inner_path(records)
        held = len(head) + (-len(head)) % mft.cluster  # the clusters the file's runs hold
        cases = [("/Tools/cut-c.exe", "clean", ""),
                 ("/Tools/grown-c.exe", "not checked", "its metadata claims %d bytes, but its data runs hold %d: "
                  "the rest is not in the image" % (TERABYTES, held)),
                 ("/Tools/grown-a.exe", "infected", ""),
                 # A size beyond the space allocated: the library itself refuses the data.
                 ("/Tools/real-only.exe", "not checked", "its data cannot be found: ")]
        for inner, verdict, reason in cases:
            with self.subTest(entry=inner):
                record = records[(inner, None)]
                self.assertEqual(record["verdict"], verdict, record)
                self.assertTrue(record.get("reason", "").startswith(reason), record)
        self.assertEqual((status, summary["errors"]), (1, 0), err)

    def test_a_sparse_file_is_judged_as_it_is(self):
        """Holes are part of a file, not missing from the image: ext keeps a file
        grown past its data as one, and it is judged by its size, read whole."""
        folder = scratch("sparse")
        tree = os.path.join(folder, "tree")
        write(os.path.join(tree, "grown-b.exe"), variant_image("B"))
        write(os.path.join(tree, "b.exe"), variant_image("B"))
        with open(os.path.join(tree, "grown-b.exe"), "r+b") as f:
            f.truncate(3 << 20)  # beyond the sizes variant B has
        image = os.path.join(folder, "ext2.raw")
        run("mke2fs", "-q", "-F", "-t", "ext2", "-d", tree, image, "8M")
        status, records, summary, err = scan_json("--image", "-a", image)
        records = by_inner_path(records)
        self.assertEqual(records[("/grown-b.exe", None)]["verdict"], "clean", records)
        self.assertEqual(records[("/b.exe", None)]["verdict"], "infected", records)
        self.assertEqual((status, summary["errors"]), (1, 0), err)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True)
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--hive-corpus", required=True, help="the fetched files, with the empty hive")
    ARGS, rest = parser.parse_known_args()
    fixture.ARGS = argparse.Namespace(runtime_scanner=None, **vars(ARGS))
    return fixture.run_suite(rest, TOOLS)


if __name__ == "__main__":
    sys.exit(main())
