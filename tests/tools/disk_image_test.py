#!/usr/bin/env python3
"""pestkill-scan --image on disk images built here and on real images fetched
beside the checkout: the same detections as -r on the volume mounted, in every
container (raw, split raw, VHD fixed and dynamic, VMDK, EWF, a GPT disk with two
partitions), the image left as it was, the fetched images read whole with no
detection, and a format that cannot be read named in one ERROR line.

    disk_image_test.py --scanner PATH --images-tool PATH --corpus DIR [--runtime-scanner PATH]

--runtime-scanner is the scanner built to judge through the runtime's reads alone:
its verdicts and explanations on each image must be those of the read layer.

--corpus is the folder of fetched disk images. The NTFS volume is laid out through
an ntfs-3g FUSE mount, so the test needs root and /dev/fuse; without them, or
without the image tools, it is skipped (exit status 77).
"""
import argparse
import gzip
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import windows_root_test as windows_layout  # the Windows volume of the --windows-root tests

ARGS = None
TIMEOUT = 300
TOOLS = ["mkntfs", "ntfs-3g", "qemu-img", "ewfacquire", "sfdisk", "mke2fs", "setfattr"]
# What the image scan finds beyond the mounted volume's files: (inner path, stream,
# deleted, variant).
HIDDEN = [("/ProgramData/readme.txt", "svchost.exe", False, "C"), ("/Temp", "payload", False, "A"),
          ("/Temp/dropped.exe", None, True, "B")]
VOLUME_BYTES = 48 << 20
SECTOR = 512
FIRST_PARTITION = 2048  # sectors
DEEP = 130  # directories, beyond the depth the library's own recursive walk gives up at


def run(*command, **options):
    return subprocess.run(list(command), check=True, capture_output=True, timeout=TIMEOUT, **options)


def scan(*arguments):
    done = subprocess.run([ARGS.scanner] + list(arguments), capture_output=True, timeout=TIMEOUT)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


def scan_records(*arguments):
    """Every JSON line but the summary, which must come last, and the summary."""
    status, out, err = scan("--json", *arguments)
    records = [json.loads(line) for line in out.splitlines() if line.strip()]
    assert records and "summary" in records[-1], out[-500:] + err[-500:]
    return status, records[:-1], records[-1]["summary"], err


def scan_json(*arguments):
    """The entries' lines (not the volumes' or the hives'), the summary."""
    status, records, summary, err = scan_records(*arguments)
    return status, [r for r in records if "verdict" in r], summary, err


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def state_of(path):
    """Bytes, size, mode and the modification and change times of a file."""
    st = os.stat(path)
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    return digest, st.st_size, st.st_mode, st.st_mtime_ns, st.st_ctime_ns


def detections_of(records):
    """The plain files' detections, as a mount shows them."""
    return sorted((r["inner_path"], r["variant"]) for r in records
                  if r["verdict"] == "infected" and r["stream"] is None and not r["deleted"]
                  and r.get("rule") != "winlogon impostor")


def windows_detections_of(records, prefix):
    """(inner path, rule, variant) of each detection and the changes they list
    together (each is listed by the first detection that needs it, so which one
    that is follows the walk's order), every path made relative to the volume
    (prefix: where the volume's paths begin)."""
    found, changes = [], set()
    for r in records:
        if r.get("verdict") != "infected" or r.get("stream") is not None or r.get("deleted"):
            continue
        found.append((r["path"][len(prefix):], r.get("rule"), r["variant"]))
        for change in r.get("changes", []):
            changes.add(json.dumps(change, sort_keys=True).replace(json.dumps(prefix)[1:-1], ""))
    return sorted(found), sorted(changes)


def hidden_of(records):
    return sorted((r["inner_path"], r["stream"], r["deleted"], r["variant"]) for r in records
                  if r["verdict"] == "infected" and (r["stream"] is not None or r["deleted"]))


class Built:
    """The test volume laid out once: its files as a tree, the same as an NTFS
    volume in a raw image, and that image in each container."""
    work = None
    tree = None
    images = {}
    mounted_detections = None
    windows_detections = None
    windows_hives = None

    @classmethod
    def build(cls):
        if cls.work:
            return
        cls.work = tempfile.mkdtemp(prefix="disk-image-test.")
        variants = os.path.join(cls.work, "variants")
        os.makedirs(variants)
        run(ARGS.images_tool, variants)
        image = {}
        for v in "ABCD":
            with open(os.path.join(variants, "variant-%s.exe" % v.lower()), "rb") as f:
                image[v] = f.read()
        cls.tree = os.path.join(cls.work, "tree")
        files = {
            "Windows/System32/notepad.exe": b"MZ" + b"\0" * 4000,
            "Tools/variant-a.exe": image["A"],
            "Users/alice/AppData/Roaming/update.exe": image["B"],
            "Program Files/Common/helper.dll": image["C"],
            "ProgramData/small.txt": b"too short to judge",
            # A near miss: a variant image cut short of its entry code.
            "Temp/cut.exe": image["D"][:1100],
            "/".join("d%03d" % i for i in range(DEEP)) + "/deep.exe": image["D"],
        }
        for relative, data in files.items():
            write(os.path.join(cls.tree, relative), data)

        raw = os.path.join(cls.work, "ntfs.raw")
        with open(raw, "wb") as f:
            f.truncate(VOLUME_BYTES)
        run("mkntfs", "-F", "-f", "-q", "-L", "EVIDENCE", raw)
        mount = os.path.join(cls.work, "mnt")
        os.makedirs(mount)
        run("ntfs-3g", "-o", "streams_interface=windows", raw, mount)
        try:
            for relative in files:
                target = os.path.join(mount, relative)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(os.path.join(cls.tree, relative), target)
            # What a mount does not show: a variant image in a named stream of a
            # text file and of a directory, and a deleted one. And an 8.3 name
            # beside a long one: the file is judged once.
            write(os.path.join(mount, "ProgramData", "readme.txt"), b"nothing to see here\r\n")
            write(os.path.join(mount, "ProgramData", "readme.txt:svchost.exe"), image["C"])
            write(os.path.join(mount, "Temp:payload"), image["A"])
            long_name = os.path.join(mount, "Program Files", "Common", "Long Helper Name.exe")
            shutil.copyfile(os.path.join(cls.tree, "Tools", "variant-a.exe"), long_name)
            run("setfattr", "-n", "system.ntfs_dos_name", "-v", "LONGHE~1.EXE", long_name)
            # The Windows system volume of the --windows-root tests: hives, impostors,
            # near misses, image debuggers.
            windows_layout.ARGS = argparse.Namespace(images_tool=ARGS.images_tool, corpus=ARGS.hive_corpus,
                                                     scanner=ARGS.scanner)
            windows_layout.Volume(mount)
            # Deleted last, so that no later file takes its entry or its name's place.
            write(os.path.join(mount, "Temp", "dropped.exe"), image["B"])
            os.sync()
            os.remove(os.path.join(mount, "Temp", "dropped.exe"))
        finally:
            run("umount", mount)
        # The same volume mounted read-only: the detections the image scan must give,
        # -r's and --windows-root's.
        run("ntfs-3g", "-o", "ro", raw, mount)
        try:
            status, records, _, _ = scan_json("-r", mount)
            cls.mounted_detections = sorted(
                ("/" + os.path.relpath(r["path"], mount), r["variant"]) for r in records if r["verdict"] == "infected")
            status, records, _, _ = scan_records("--windows-root", mount)
            cls.windows_detections = windows_detections_of(records, mount)
            cls.windows_hives = sorted(r["hive"][len(mount):] for r in records if "hive" in r)
        finally:
            run("umount", mount)

        cls.images["raw"] = [raw]
        split_base = os.path.join(cls.work, "split", "ntfs.")
        os.makedirs(os.path.dirname(split_base))
        run("split", "-b", str(VOLUME_BYTES // 3), "-d", "-a", "3", "--numeric-suffixes=1", raw, split_base)
        cls.images["split raw"] = sorted(os.path.join(os.path.dirname(split_base), n)
                                         for n in os.listdir(os.path.dirname(split_base)))
        for name, options in [("vhd dynamic", ["-O", "vpc"]), ("vhd fixed", ["-O", "vpc", "-o", "subformat=fixed"]),
                              ("vmdk", ["-O", "vmdk"])]:
            target = os.path.join(cls.work, name.replace(" ", "-") + (".vhd" if "vhd" in name else ".vmdk"))
            run("qemu-img", "convert", "-f", "raw", *options, raw, target)
            cls.images[name] = [target]
        ewf = os.path.join(cls.work, "ewf", "ntfs")
        os.makedirs(os.path.dirname(ewf))
        run("ewfacquire", "-u", "-t", ewf, "-c", "fast", "-S", str(16 << 20), raw)
        cls.images["ewf split"] = sorted(os.path.join(os.path.dirname(ewf), n)
                                         for n in os.listdir(os.path.dirname(ewf)))
        cls.images["gpt"] = [cls.gpt_disk(raw, image["A"])]

    @classmethod
    def gpt_disk(cls, ntfs, ext_payload):
        """A GPT disk: the NTFS volume in partition 1, an ext2 volume holding one
        variant image in partition 2, and a swap partition without a file system."""
        ext_tree = os.path.join(cls.work, "ext-tree")
        write(os.path.join(ext_tree, "srv/share/tool.exe"), ext_payload)
        ext = os.path.join(cls.work, "ext.raw")
        run("mke2fs", "-q", "-t", "ext2", "-d", ext_tree, ext, "8M")
        disk = os.path.join(cls.work, "gpt.raw")
        ntfs_sectors = VOLUME_BYTES // SECTOR
        ext_start = FIRST_PARTITION + ntfs_sectors
        ext_sectors = (8 << 20) // SECTOR
        swap_start = ext_start + ext_sectors
        with open(disk, "wb") as f:
            f.truncate((swap_start + 2048 + 2048) * SECTOR)
        layout = ("label: gpt\n"
                  "start=%d, size=%d, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                  "start=%d, size=%d, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n"
                  "start=%d, size=2048, type=0657FD6D-A4AB-43C4-84E5-0933C84B4F4F\n"
                  % (FIRST_PARTITION, ntfs_sectors, ext_start, ext_sectors, swap_start))
        run("sfdisk", "-q", disk, input=layout.encode())
        with open(disk, "r+b") as out:
            for source, start in [(ntfs, FIRST_PARTITION), (ext, ext_start)]:
                out.seek(start * SECTOR)
                with open(source, "rb") as f:
                    out.write(f.read())
        return disk


class BuiltImages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        Built.build()

    def test_mounted_volume_finds_the_planted_files(self):
        # The reference itself: the three variant images and the deep one, not the near miss.
        # The three variant images, the long-named copy, the deep one and the Windows
        # volume's variant started as the logon program; not the near miss.
        self.assertEqual(len(Built.mounted_detections), 6, Built.mounted_detections)
        rules = [d[1] for d in Built.windows_detections[0]]
        self.assertEqual(rules.count("signature"), 6, Built.windows_detections)
        self.assertGreaterEqual(rules.count("winlogon impostor"), 4, Built.windows_detections)
        self.assertEqual(len(Built.windows_hives), 5, Built.windows_hives)

    def test_the_windows_roads_give_what_they_give_on_the_mounted_volume(self):
        for name in ["raw", "vhd dynamic", "ewf split", "gpt"]:
            with self.subTest(container=name):
                image = Built.images[name][0]
                status, records, summary, err = scan_records("--image", image)
                volume = [r["volume"] for r in records if "volume" in r and r["volume"].startswith(image + "#")]
                prefix = [v for v in volume if v.endswith("#volume") or v.endswith("@%d" % FIRST_PARTITION)][0]
                self.assertEqual(windows_detections_of([r for r in records if r.get("path", "").startswith(prefix + "/")],
                                                       prefix), Built.windows_detections)
                hives = sorted(r["hive"][len(prefix):] for r in records if "hive" in r)
                self.assertEqual(hives, Built.windows_hives)
                self.assertTrue(all(r["state"] == "read" for r in records if "hive" in r), err)
                self.assertEqual(summary["errors"], 0, err)

    def test_every_container_gives_the_mounted_detections_and_stays_unchanged(self):
        for name, files in sorted(Built.images.items()):
            with self.subTest(container=name):
                before = {f: state_of(f) for f in files}
                status, records, summary, err = scan_json("--image", files[0])
                self.assertEqual({f: state_of(f) for f in files}, before, "the image changed")
                found = detections_of(records)
                if name == "gpt":
                    ntfs = [d for d in found if d[0] != "/srv/share/tool.exe"]
                    self.assertEqual(ntfs, Built.mounted_detections)
                    self.assertIn(("/srv/share/tool.exe", "A"), found)
                else:
                    self.assertEqual(found, Built.mounted_detections, err)
                self.assertEqual(hidden_of(records), sorted(HIDDEN))
                self.assertEqual(status, 1, err)
                self.assertEqual(summary["errors"], 0, err)
                deep = [r for r in records if r.get("inner_path", "").endswith("/deep.exe")]
                self.assertEqual(len(deep), 1)
                self.assertEqual(deep[0]["inner_path"].count("/"), DEEP + 1)

    def test_paths_and_fields_name_image_partition_and_inner_path(self):
        disk = Built.images["gpt"][0]
        status, out, err = scan("--image", disk)
        self.assertEqual(status, 1, err)
        lines = [line for line in out.splitlines() if line.endswith("FOUND")]
        tool = [line for line in lines if "/Tools/variant-a.exe" in line]
        self.assertEqual(len(tool), 1, out)
        self.assertRegex(tool[0], r"^%s#p\d+@%d/Tools/variant-a\.exe: " % (disk.replace(".", r"\."), FIRST_PARTITION))
        _, records, _, _ = scan_json("--image", disk)
        record = [r for r in records if r.get("inner_path") == "/Tools/variant-a.exe"][0]
        self.assertEqual(record["image"], disk)
        self.assertEqual(record["partition"]["start_sector"], FIRST_PARTITION)
        self.assertEqual(record["path"], "%s#p%d@%d/Tools/variant-a.exe"
                         % (disk, record["partition"]["index"], FIRST_PARTITION))
        self.assertFalse(record["deleted"])
        self.assertIsNone(record["stream"])
        self.assertGreater(record["inode"], 0)
        # The swap partition is passed over with its type; a bare volume is named as one.
        swap = [r for r in records if r["verdict"] == "skipped" and "partition of type" in r["reason"]]
        self.assertEqual(len(swap), 1, [r for r in records if r["verdict"] == "skipped"])
        _, records, _, _ = scan_json("--image", Built.images["raw"][0])
        record = [r for r in records if r.get("inner_path") == "/Tools/variant-a.exe"][0]
        self.assertIsNone(record["partition"])
        self.assertEqual(record["path"], Built.images["raw"][0] + "#volume/Tools/variant-a.exe")

    def test_read_layer_over_the_library_judges_as_the_runtime_reads(self):
        if not ARGS.runtime_scanner:
            self.skipTest("no --runtime-scanner")
        for name in ["raw", "ewf split", "gpt"]:
            with self.subTest(container=name):
                arguments = ["--image", "--json", "--explain", Built.images[name][0]]
                mine = subprocess.run([ARGS.scanner] + arguments, capture_output=True, timeout=TIMEOUT)
                plain = subprocess.run([ARGS.runtime_scanner] + arguments, capture_output=True, timeout=TIMEOUT)
                strip = lambda out: [line for line in out.splitlines() if b'"summary"' not in line]
                self.assertEqual(strip(mine.stdout), strip(plain.stdout))
                self.assertEqual(mine.returncode, plain.returncode)
                self.assertIn(b'"verdict":"infected"', mine.stdout)

    def test_a_fault_or_hang_on_one_volume_ends_that_volume_alone(self):
        preload = os.environ.get("PESTKILL_FAULT_PRELOAD")
        if not preload:
            self.skipTest("no planted-fault library")
        disk = Built.images["gpt"][0]
        ntfs = "%s#p" % disk
        for kind, said in [("crash", "its scan ended on signal 11"), ("hang", "its scan took longer than 2 seconds")]:
            with self.subTest(fault=kind):
                environment = dict(os.environ, LD_PRELOAD=preload,
                                   PESTKILL_PLANTED_FAULT="%s:%d" % (kind, FIRST_PARTITION))
                done = subprocess.run([ARGS.scanner, "--image", "--volume-time-limit", "2", disk],
                                      capture_output=True, timeout=60, env=environment)
                out, err = done.stdout.decode(), done.stderr.decode()
                errors = [line for line in err.splitlines() if ": ERROR " in line]
                self.assertEqual(len(errors), 1, err)
                self.assertRegex(errors[0], r"^%s\d+@%d: ERROR %s" % (re.escape(ntfs), FIRST_PARTITION, said))
                # The next volume is scanned all the same; the exit status counts its detection.
                self.assertIn("/srv/share/tool.exe: Trojan.Kestrelon.Gen FOUND", out)
                self.assertEqual(done.returncode, 1, err)
                self.assertIn("Errors: 1\n", err)
                if kind == "crash":
                    # What the volume reported before the fault stands, line by line.
                    lines = [line for line in out.splitlines() if line.startswith(ntfs)]
                    self.assertTrue(all(line.endswith("FOUND") for line in lines), lines)
                    self.assertLess(len(lines), len(Built.windows_detections[0]))

    def test_hostile_ext_directories_are_errors_and_the_walk_goes_on(self):
        """A directory linked below itself (a loop) and one claiming 64 MiB in a 4 MiB image:
        each one ERROR line, every other file judged."""
        tree = os.path.join(Built.work, "hostile-tree")
        with open(os.path.join(Built.work, "variants", "variant-a.exe"), "rb") as f:
            write(os.path.join(tree, "a", "b", "found.exe"), f.read())
        write(os.path.join(tree, "huge", "lost.txt"), b"never read")
        cases = [("loop", ["link <2> /a/b/loop"], "/a/b/loop: ERROR a directory already walked"),
                 ("huge", ["sif /huge size 67108864"], "/huge: ERROR the directory claims 67108864 bytes,")]
        for name, commands, said in cases:
            with self.subTest(case=name):
                image = os.path.join(Built.work, "hostile-%s.raw" % name)
                run("mke2fs", "-q", "-F", "-t", "ext2", "-d", tree, image, "4M")
                for command in commands:
                    run("debugfs", "-w", "-R", command, image)
                status, out, err = scan("--image", image)
                errors = [line for line in err.splitlines() if ": ERROR " in line]
                self.assertEqual(len(errors), 1, err)
                self.assertTrue(errors[0].startswith(image + "#volume" + said), errors[0])
                self.assertIn(image + "#volume/a/b/found.exe: Trojan.Kestrelon.Gen FOUND\n", out)
                self.assertEqual(status, 1, err)

    def test_several_images_in_one_run(self):
        status, records, summary, err = scan_json("--image", Built.images["raw"][0], Built.images["vmdk"][0])
        self.assertEqual(status, 1, err)
        self.assertEqual(summary["infected"], 2 * (len(Built.windows_detections[0]) + len(HIDDEN)))

    def test_streams_and_deleted_files_are_named_so(self):
        raw = Built.images["raw"][0]
        status, out, err = scan("--image", raw)
        self.assertIn(raw + "#volume/ProgramData/readme.txt:svchost.exe: Trojan.Kestrelon.Gen FOUND\n", out)
        self.assertIn(raw + "#volume/Temp:payload: Trojan.Kestrelon.Gen FOUND\n", out)
        self.assertIn(raw + "#volume/Temp/dropped.exe (deleted): Trojan.Kestrelon.Gen FOUND\n", out)
        # One line per volume: the names walked against the entries in use.
        counts = [line for line in err.splitlines() if line.startswith(raw + "#volume: ")]
        self.assertEqual(len(counts), 1, err)
        _, records, _, _ = scan_records("--image", "-a", raw)
        volume = [r for r in records if "volume" in r]
        self.assertEqual(len(volume), 1)
        self.assertGreaterEqual(volume[0]["names"], volume[0]["directories"] + 15)
        self.assertGreater(volume[0]["metadata_in_use"], volume[0]["directories"])
        # The short name is the same file: judged once, under the long name.
        helper = [r["inner_path"] for r in records if r.get("inner_path", "").startswith("/Program Files/Common/L")]
        self.assertEqual(helper, ["/Program Files/Common/Long Helper Name.exe"])

    def test_a_truncated_image_leaves_files_not_checked_never_clean(self):
        cut = os.path.join(Built.work, "truncated.raw")
        shutil.copyfile(Built.images["raw"][0], cut)
        with open(cut, "r+b") as f:
            f.truncate(VOLUME_BYTES // 4)
        status, records, summary, err = scan_json("--image", cut)
        unread = [r for r in records if r["verdict"] == "not checked"
                  and r["reason"].startswith("the image could not be read whole")]
        self.assertTrue(unread, err)
        # Hives cut short are errors of their own; nothing else is.
        errors = [line for line in err.splitlines() if ": ERROR " in line]
        self.assertEqual(summary["errors"], len(errors))
        self.assertFalse([e for e in errors if "the hive cannot be read whole from the image" not in e], err)
        # Whatever was read is judged as before; nothing unread passes for clean.
        clean = [r for r in records if r["verdict"] == "clean"]
        self.assertFalse([r for r in clean if r["inner_path"].endswith(".exe")], clean)

    def test_unreadable_and_missing_images_are_one_error_each(self):
        qcow = os.path.join(Built.work, "volume.qcow2")
        if not os.path.exists(qcow):
            run("qemu-img", "convert", "-f", "raw", "-O", "qcow2", Built.images["raw"][0], qcow)
        cases = [(qcow, "QCOW2"), (os.path.join(Built.work, "missing.E01"), "cannot be read as a disk image"),
                 (os.path.join(Built.work, "variants", "variant-a.exe"), "neither a partition table")]
        for path, said in cases:
            with self.subTest(image=path):
                status, out, err = scan("--image", path, Built.images["raw"][0])
                errors = [line for line in err.splitlines() if ": ERROR " in line]
                self.assertEqual(len(errors), 1, err)
                self.assertTrue(errors[0].startswith(path + ": ERROR "), errors[0])
                self.assertIn(said, errors[0])
                # The scan went on to the next image.
                self.assertEqual(out.count("FOUND"), len(Built.windows_detections[0]) + len(HIDDEN), out)
                self.assertEqual(status, 1)


# Volumes the disk image library cannot open, each with the line that says so:
# NTFS with 2 MiB clusters (which Windows 10 formats) is beyond The Sleuth Kit 4.11.
# A volume that starts being read fails here: take it off the list.
KNOWN_UNREAD = {"ntfs-2m.E01": "#p2@128: ERROR its boot sector names NTFS, but the volume cannot be read"}


class FetchedImages(unittest.TestCase):
    """Real images written elsewhere: each read whole, nothing found, no error."""

    def corpus(self, *names):
        for directory, _, files in os.walk(ARGS.corpus):
            for name in files:
                if name in names:
                    yield os.path.join(directory, name)

    def test_each_is_read_whole_without_detection(self):
        work = tempfile.mkdtemp(prefix="disk-image-fetched.")
        self.addCleanup(shutil.rmtree, work, True)
        images = list(self.corpus("ext2.E01", "ext2.split.E01", "ext2.splitraw.000", "ext2.vhd", "ext2.vmdk",
                                  "image.vhd", "ntfs-2m.E01", "ntfs-lastaccess.E01", "ntfs-ptrn.E01"))
        for packed in self.corpus("ntfs-lastaccess.raw.gz"):
            unpacked = os.path.join(work, "ntfs-lastaccess.raw")
            with gzip.open(packed, "rb") as f, open(unpacked, "wb") as out:
                shutil.copyfileobj(f, out)
            images.append(unpacked)
        for qcow in self.corpus("windows_volume.qcow2"):
            unpacked = os.path.join(work, "windows_volume.raw")
            run("qemu-img", "convert", "-f", "qcow2", "-O", "raw", qcow, unpacked)
            images.append(unpacked)
        self.assertGreaterEqual(len(images), 11)
        for image in images:
            with self.subTest(image=os.path.basename(image)):
                before = state_of(image)
                status, records, summary, err = scan_json("--image", "-a", image)
                self.assertEqual(state_of(image), before)
                self.assertEqual(summary["infected"], 0)
                known = KNOWN_UNREAD.get(os.path.basename(image))
                if known:
                    self.assertEqual((status, summary["errors"]), (2, 1), err)
                    self.assertIn(image + known, err)
                    continue
                self.assertEqual((status, summary["errors"], summary["infected"]), (0, 0, 0), err)
                self.assertGreater(summary["files"], 0, err)

    def test_qcow2_is_named_not_taken_for_a_disk_without_file_system(self):
        for qcow in self.corpus("windows_volume.qcow2"):
            status, out, err = scan("--image", qcow)
            self.assertEqual(status, 2)
            self.assertEqual(err.count(": ERROR "), 1, err)
            self.assertIn("%s: ERROR a QCOW2 image" % qcow, err)


# The Run values of a small system volume that start its impostor by another name
# of the same file or by a path that reaches it otherwise, and near misses: (value,
# type, data, whether it starts the impostor). As on the volume mounted, links,
# pipes and reparse points are never followed and decide no line; the first path of
# a line that names an existing file decides it.
SZ, EXPAND_SZ = windows_layout.REG_SZ, windows_layout.REG_EXPAND_SZ
IDENTITY_CASES = [
    ("HardLink", SZ, r"C:\ProgramData\Updates\helper.exe /s", True),
    ("Detour", SZ, r"C:\Windows\..\ProgramData\WinLogon.exe", True),
    ("Doubled", SZ, "C:\\ProgramData\\\\WinLogon.exe -q", True),
    ("Dots", SZ, r'"C:\.\ProgramData\.\WinLogon.exe" /min', True),
    ("AboveRoot", SZ, r"C:\..\..\ProgramData\WinLogon.exe", True),
    ("Slashes", SZ, "C:/ProgramData/Updates/../WinLogon.exe", True),
    ("ShortName", SZ, r"C:\PROGRA~1\Updates\helper.exe", True),
    ("ShortNameDetour", SZ, r"c:\progra~1\updates\..\winlogon.exe -s", True),
    ("Expanded", EXPAND_SZ, r"%SystemRoot%\..\ProgramData\WinLogon.exe /s", True),
    ("AfterLink", SZ, r"C:\ProgramData\link.exe C:\ProgramData\.\WinLogon.exe", True),
    ("AfterPipe", SZ, r"C:\ProgramData\pipe C:\ProgramData\.\WinLogon.exe", True),
    ("AfterReparsePoint", SZ, r"C:\ProgramData\reparse.exe C:\ProgramData\.\WinLogon.exe", True),
    ("AfterOtherFile", SZ, r"C:\ProgramData\other.exe C:\ProgramData\.\WinLogon.exe", False),
    ("ViaLink", SZ, r"C:\ProgramData\link.exe", False),
    ("ViaReparsePoint", SZ, r"C:\ProgramData\reparse.exe", False),
    ("OtherFile", SZ, r"C:\ProgramData\Updates\other.exe", False),
    ("NearDetour", SZ, r"C:\Windows\..\ProgramData\WinLogon.exe.bak", False),
    ("OtherDrive", SZ, r"D:\Windows\..\ProgramData\WinLogon.exe", False),
    ("Network", SZ, r"\\server\c$\Windows\..\ProgramData\WinLogon.exe", False),
]


def symbolic_link_reparse_data(target):
    """A relative symbolic link's reparse point, as the volume stores it."""
    name = target.encode("utf-16le")
    body = struct.pack("<HHHHI", 0, len(name), len(name), len(name), 1) + name + name
    return struct.pack("<IHH", 0xA000000C, len(body), 0) + body


class RunValuesNamingTheSameFile(unittest.TestCase):
    """The same file behind a Run value however its path is spelt: --image on the
    volume finds the values --windows-root finds on it mounted."""

    @classmethod
    def setUpClass(cls):
        windows_layout.ARGS = argparse.Namespace(images_tool=ARGS.images_tool, corpus=ARGS.hive_corpus,
                                                 scanner=ARGS.scanner)
        cls.work = tempfile.mkdtemp(prefix="disk-image-identity.")
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        cls.image = os.path.join(cls.work, "identity.raw")
        with open(cls.image, "wb") as f:
            f.truncate(16 << 20)
        run("mkntfs", "-F", "-f", "-q", cls.image)
        mount = os.path.join(cls.work, "mnt")
        os.makedirs(mount)
        run("ntfs-3g", cls.image, mount)
        try:
            def host(relative):
                return os.path.join(mount, *relative.split("/"))
            for relative, data in [("Windows/System32/winlogon.exe", b"MZ the genuine logon program"),
                                   ("ProgramData/WinLogon.exe", b"MZ impostor started through other names"),
                                   ("ProgramData/other.exe", b"MZ another program"),
                                   ("ProgramData/reparse.exe", b"MZ")]:
                write(host(relative), data)
            os.makedirs(host("ProgramData/Updates"))
            os.link(host("ProgramData/WinLogon.exe"), host("ProgramData/Updates/helper.exe"))
            os.link(host("ProgramData/other.exe"), host("ProgramData/Updates/other.exe"))
            os.symlink("WinLogon.exe", host("ProgramData/link.exe"))
            os.mkfifo(host("ProgramData/pipe"))
            os.setxattr(host("ProgramData/reparse.exe"), "system.ntfs_reparse_data",
                        symbolic_link_reparse_data("WinLogon.exe"))
            run("setfattr", "-n", "system.ntfs_dos_name", "-v", "PROGRA~1", host("ProgramData"))
            windows_layout.build_hive(host("Windows/System32/config/SOFTWARE"), {
                r"Microsoft\Windows NT\CurrentVersion": [
                    ("SystemRoot", windows_layout.REG_SZ, windows_layout.sz(r"C:\Windows"))],
                windows_layout.MACHINE_RUN: [(name, kind, windows_layout.sz(data))
                                             for name, kind, data, _ in IDENTITY_CASES],
            })
            windows_layout.build_hive(host("Windows/System32/config/DEFAULT"), {})
        finally:
            run("umount", mount)
        run("ntfs-3g", "-o", "ro", cls.image, mount)
        try:
            cls.mounted = scan_records("--windows-root", mount)
        finally:
            run("umount", mount)
        cls.mount = mount
        cls.in_image = scan_records("--image", cls.image)

    @staticmethod
    def started_values(records):
        return {c["value"] for r in records if r.get("rule") == "winlogon impostor"
                for c in r.get("changes", []) if c.get("change") == "delete run value"}

    def test_each_spelling_starts_the_impostor_on_both_roads_or_on_neither(self):
        _, mounted, _, mounted_err = self.mounted
        _, in_image, summary, err = self.in_image
        for road, records in [("--windows-root", mounted), ("--image", in_image)]:
            started = self.started_values(records)
            for name, _, data, starts in IDENTITY_CASES:
                with self.subTest(road=road, value=name, data=data):
                    self.assertEqual(name in started, starts)
        # The detection and every change it lists, the same on both.
        self.assertEqual(windows_detections_of(in_image, self.image + "#volume"),
                         windows_detections_of(mounted, self.mount))
        self.assertEqual(summary["errors"], 0, err)
        self.assertNotIn(": ERROR", mounted_err)


def without_times(output):
    """The report without what the clock decides: the summary's seconds."""
    output = re.sub(r"^Time: [0-9.]+ sec$", "Time: S sec", output, flags=re.M)
    return re.sub(r'"seconds":[0-9.]+', '"seconds":S', output)


class ParallelVolumes(unittest.TestCase):
    """-j N scans up to N volumes at once, each in its process; the report is the
    one -j 1 gives, byte for byte, and so is the exit status."""
    twin = None

    @classmethod
    def setUpClass(cls):
        Built.build()
        cls.twin = cls.twin_disk(Built.images["raw"][0])

    @classmethod
    def twin_disk(cls, ntfs):
        """A GPT disk holding the NTFS volume twice: two volume processes that read
        the same image at once all the way through."""
        disk = os.path.join(Built.work, "twin.raw")
        sectors = VOLUME_BYTES // SECTOR
        second = FIRST_PARTITION + sectors
        with open(disk, "wb") as f:
            f.truncate((second + sectors + 2048) * SECTOR)
        layout = "label: gpt\n" + "".join("start=%d, size=%d, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                                          % (start, sectors) for start in [FIRST_PARTITION, second])
        run("sfdisk", "-q", disk, input=layout.encode())
        with open(ntfs, "rb") as f:
            volume = f.read()
        with open(disk, "r+b") as out:
            for start in [FIRST_PARTITION, second]:
                out.seek(start * SECTOR)
                out.write(volume)
        return disk

    def reports(self, arguments, jobs=(1, 2, 3), environment=None, stderr=subprocess.PIPE):
        """(jobs, status, stdout, stderr) of each run; stderr=subprocess.STDOUT: both
        streams in one pipe, the stdout given."""
        runs = []
        for n in jobs:
            done = subprocess.run([ARGS.scanner, "--image", "-j", str(n)] + arguments, stdout=subprocess.PIPE,
                                  stderr=stderr, timeout=TIMEOUT, env=environment)
            runs.append((n, done.returncode, without_times(done.stdout.decode("utf-8", "replace")),
                         without_times((done.stderr or b"").decode("utf-8", "replace"))))
        return runs

    def assertSameReports(self, runs):
        _, status, out, err = runs[0]
        for n, other_status, other_out, other_err in runs[1:]:
            with self.subTest(jobs=n):
                self.assertEqual(other_out, out)
                self.assertEqual(other_err, err)
                self.assertEqual(other_status, status)

    def test_the_report_is_the_one_of_a_volume_at_a_time(self):
        gpt, raw = Built.images["gpt"][0], Built.images["raw"][0]
        missing = os.path.join(Built.work, "missing.raw")
        no_captures = dict(os.environ, TMPDIR=missing)
        cases = [("a disk of three partitions", [gpt], None),
                 ("one volume twice in a disk", [self.twin], None),
                 ("two images", [raw, gpt], None),
                 # The scanner's own line about an image comes after the volumes before it.
                 ("an image that cannot be read between two", [gpt, missing, Built.images["vhd dynamic"][0]], None),
                 # Nowhere to keep a report: each volume waits until it is the oldest.
                 ("no file for a capture", [gpt, raw], no_captures)]
        for name, images, environment in cases:
            for form in [[], ["--json", "-a", "--explain"]]:
                with self.subTest(case=name, form=" ".join(form)):
                    runs = self.reports(form + images, environment=environment)
                    self.assertEqual(runs[0][1], 1, runs[0][3])
                    self.assertSameReports(runs)

    def test_lines_of_both_streams_keep_their_order_in_one_file(self):
        """Standard output and error as one pipe (2>&1): a volume reported from its
        capture keeps its ERROR and closing lines between its result lines."""
        runs = self.reports(["-a", Built.images["gpt"][0], Built.images["raw"][0]], stderr=subprocess.STDOUT)
        self.assertIn("#volume: ", runs[0][2])
        self.assertSameReports(runs)

    def test_a_closed_pipe_ends_the_scan_as_for_one_volume_at_a_time(self):
        """The reader of standard output goes away after one line, while there is more
        than a pipe holds: with SIGPIPE the scanner ends on it, with SIGPIPE ignored it
        stops with status 2, for every -j, and leaves no process behind."""
        import signal
        arguments = ["--image", "--json", "--explain", "-a", self.twin, Built.images["gpt"][0], Built.images["raw"][0]]
        for ignored, status in [(False, -signal.SIGPIPE), (True, 2)]:
            for jobs in ["1", "2"]:
                with self.subTest(sigpipe="ignored" if ignored else "default", jobs=jobs):
                    scanner = subprocess.Popen(
                        [ARGS.scanner, "-j", jobs] + arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                        start_new_session=True,
                        preexec_fn=(lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if ignored else None)
                    self.addCleanup(self.end_group, scanner)
                    scanner.stdout.readline()
                    scanner.stdout.close()
                    err = scanner.stderr.read().decode()
                    scanner.wait(timeout=TIMEOUT)
                    self.assertEqual(scanner.returncode, status, err)
                    self.assertNotIn(": ERROR ", err)
                    with self.assertRaises(ProcessLookupError):
                        os.killpg(scanner.pid, 0)

    def test_a_fault_or_hang_is_the_same_error_line_in_the_same_place(self):
        preload = os.environ.get("PESTKILL_FAULT_PRELOAD")
        if not preload:
            self.skipTest("no planted-fault library")
        for kind in ["crash", "hang"]:
            with self.subTest(fault=kind):
                environment = dict(os.environ, LD_PRELOAD=preload,
                                   PESTKILL_PLANTED_FAULT="%s:%d" % (kind, FIRST_PARTITION))
                runs = self.reports(["--volume-time-limit", "3", Built.images["gpt"][0], Built.images["raw"][0]],
                                    jobs=(1, 2), environment=environment)
                self.assertEqual(runs[0][3].count(": ERROR "), 1, runs[0][3])
                self.assertSameReports(runs)

    def test_a_stop_signal_to_the_scanner_alone_ends_every_volume_process(self):
        """SIGTERM sent to the scanner, not to its process group, while a volume is
        being scanned: its process is passed the signal and closes its report, one hung
        inside the library is ended a few seconds later, and no process is left."""
        import signal
        import time
        preload = os.environ.get("PESTKILL_FAULT_PRELOAD")
        if not preload:
            self.skipTest("no planted-fault library")
        not_stopped = r"#p\d+@%d: ERROR its scan did not stop within \d+ seconds of SIGTERM" % FIRST_PARTITION
        for fault, jobs, ended in [("slow", "1", False), ("slow", "2", False), ("hang", "2", True)]:
            with self.subTest(fault=fault, jobs=jobs):
                environment = dict(os.environ, LD_PRELOAD=preload,
                                   PESTKILL_PLANTED_FAULT="%s:%d" % (fault, FIRST_PARTITION))
                scanner = subprocess.Popen([ARGS.scanner, "--image", "-j", jobs, Built.images["gpt"][0],
                                            Built.images["raw"][0]], stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, env=environment, start_new_session=True)
                self.addCleanup(self.end_group, scanner)
                time.sleep(1.5)
                scanner.send_signal(signal.SIGTERM)
                _, err = scanner.communicate(timeout=30)
                err = err.decode()
                self.assertEqual(scanner.returncode, 143, err)
                if ended:
                    self.assertRegex(err, not_stopped)
                else:
                    self.assertNotRegex(err, not_stopped)
                self.assertIn("Errors: %d\n" % int(ended), err)
                with self.assertRaises(ProcessLookupError):
                    os.killpg(scanner.pid, 0)

    @staticmethod
    def end_group(scanner):
        """What a failed case leaves running."""
        import signal
        try:
            os.killpg(scanner.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        scanner.wait()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True)
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--runtime-scanner")
    parser.add_argument("--hive-corpus", required=True, help="the fetched files, with the empty hive")
    ARGS, rest = parser.parse_known_args()
    return run_suite(rest, TOOLS)


def run_suite(rest, tools):
    """Runs the tests of the calling module where root, /dev/fuse and tools are at
    hand (else 77, skipped), and removes the built volume after them."""
    missing = [t for t in tools if shutil.which(t) is None]
    if os.geteuid() != 0 or not os.path.exists("/dev/fuse") or missing:
        print("skipped: needs root, /dev/fuse and %s" % ", ".join(missing or tools), file=sys.stderr)
        return 77
    try:
        result = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        if Built.work:
            shutil.rmtree(Built.work, True)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
