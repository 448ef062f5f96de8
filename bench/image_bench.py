#!/usr/bin/env python3
"""The disk image scan against its two roads without it, on the same NTFS volume.

    image_bench.py --scanner PATH --images-tool PATH --repo DIR [--runs N]

Lays the bench corpus (the fetched files, Debian's PE files, variant images and
near misses) into an NTFS volume through an ntfs-3g mount (root, /dev/fuse), then
times `pestkill-scan --image` on the raw image against mounting it with
`ntfs-3g -o ro` and `pestkill-scan -r` on the mount, and against listing and
extracting each file with fls/icat and scanning the extracted tree. Also: bytes
read per clean file (reads the scanner's processes did, less those of the same
volume empty), peak memory on the volume and on one holding the corpus twice, and
-j 2 against -j 1 on the one volume, on a disk holding it in two partitions and on
two images (the volume given twice). Prints one row per measure, tab-separated.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

DEBIAN_PE_ROOTS = ["/usr/lib/gcc/x86_64-w64-mingw32", "/usr/x86_64-w64-mingw32/lib", "/usr/lib/x86_64-linux-gnu/wine"]


def run(args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, **kwargs)


def corpus_files(args):
    fetched = os.path.normpath(os.path.join(args.repo, "..", "shared", "corpus-fetched", "files"))
    files = []
    for root in [fetched] + DEBIAN_PE_ROOTS:
        for directory, _, names in os.walk(root):
            files += [os.path.join(directory, n) for n in names if os.path.isfile(os.path.join(directory, n))
                      and not os.path.islink(os.path.join(directory, n))]
    return sorted(files)[:args.files]


def volume_with(work, name, files, copies, variants):
    """A raw NTFS volume holding files (copies times) and the variant images."""
    size = sum(os.path.getsize(f) for f in files) * copies
    raw = os.path.join(work, name)
    with open(raw, "wb") as f:
        f.truncate(max(64 << 20, int(size * 1.4) + (64 << 20)))
    run(["mkntfs", "-F", "-f", "-q", raw])
    mount = os.path.join(work, "mnt")
    os.makedirs(mount, exist_ok=True)
    run(["ntfs-3g", raw, mount])
    try:
        for copy in range(copies):
            for number, source in enumerate(files):
                target = os.path.join(mount, "c%d" % copy, "%03d" % (number // 100), os.path.basename(source))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(source, target)
            for variant in variants:
                shutil.copyfile(variant, os.path.join(mount, "c%d" % copy, os.path.basename(variant)))
    finally:
        run(["umount", mount])
    return raw


def disk_of(work, name, volume, partitions):
    """A GPT disk holding the raw volume in each of its partitions."""
    sectors = os.path.getsize(volume) // 512
    starts = [2048 + i * (sectors + 2048) for i in range(partitions)]
    disk = os.path.join(work, name)
    with open(disk, "wb") as f:
        f.truncate((starts[-1] + sectors + 2048) * 512)
    layout = "label: gpt\n" + "".join("start=%d, size=%d, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                                      % (start, sectors) for start in starts)
    run(["sfdisk", "-q", disk], input=layout.encode())
    with open(disk, "r+b") as out, open(volume, "rb") as f:
        for start in starts:
            out.seek(start * 512)
            f.seek(0)
            shutil.copyfileobj(f, out, 1 << 20)
    return disk


def timed_in_rounds(cases, runs):
    """The median time of each case, a list of commands run at once; every round runs
    each case once, so that a load changing meanwhile weighs on all alike."""
    times = {name: [] for name in cases}
    for _ in range(runs):
        for name, commands in cases.items():
            start = time.perf_counter()
            for process in [subprocess.Popen(c, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                            for c in commands]:
                process.wait()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def timed(command, runs, before=None, after=None):
    times = []
    for _ in range(runs):
        if before:
            before()
        start = time.perf_counter()
        subprocess.run(command, capture_output=True, shell=isinstance(command, str))
        times.append(time.perf_counter() - start)
        if after:
            after()
    return statistics.median(times)


def bytes_read(command, work):
    """Bytes the command's processes read through read and pread64."""
    log = os.path.join(work, "reads.log")
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=read,pread64", "-e", "signal=none", "-o", log] + command,
                   capture_output=True)
    total = 0
    with open(log, errors="replace") as f:
        for line in f:
            value = line.rsplit("=", 1)[-1].strip().split(" ")[0]
            if value.isdigit():
                total += int(value)
    return total


class Rows(list):
    """Rows printed as they are measured, so that a long run shows its progress."""

    def append(self, row):
        super().append(row)
        print("%s\t%s" % row, flush=True)


def peak_kib(command):
    """The largest resident set of the command or any process it waited for (GNU time)."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, capture_output=True)
    return int(done.stderr.decode().strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True)
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--repo", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--no-extract", action="store_true", help="leave out the slow fls/icat row")
    args = parser.parse_args()
    if os.geteuid() != 0 or not os.path.exists("/dev/fuse"):
        sys.exit("image_bench: needs root and /dev/fuse for the ntfs-3g mount")
    work = tempfile.mkdtemp(prefix="image-bench.")
    try:
        variants_dir = os.path.join(work, "variants")
        os.makedirs(variants_dir)
        run([args.images_tool, variants_dir])
        variants = [os.path.join(variants_dir, n) for n in sorted(os.listdir(variants_dir))]
        files = corpus_files(args)
        raw = volume_with(work, "corpus.raw", files, 1, variants)
        count = len(files) + len(variants)
        scan = [args.scanner, "--image", "-j", "1", raw]
        rows = Rows()
        rows.append(("image: volume", "%d files (%.0f MiB) in NTFS, %d variant images" %
                     (count, sum(os.path.getsize(f) for f in files) / 2**20, len(variants))))
        image_s = timed(scan, args.runs)
        rows.append(("image: --image", "%.3f s median" % image_s))
        mount = os.path.join(work, "mnt")
        mounted = "ntfs-3g -o ro %s %s && %s -r -j 1 %s; umount %s" % (raw, mount, args.scanner, mount, mount)
        mount_s = timed(mounted, args.runs)
        rows.append(("image: ntfs-3g -o ro + -r", "%.3f s median; --image is %.2fx as fast (goal >= 1: %s)"
                     % (mount_s, mount_s / image_s, "met" if mount_s >= image_s else "MISSED")))
        if args.no_extract:
            rows.append(("image: fls/icat + -r", "not measured (--no-extract)"))
        elif shutil.which("fls") and shutil.which("icat"):
            out = os.path.join(work, "extracted")
            extract = ("rm -rf {o} && mkdir {o} && fls -r -F -u {r} | sed -n 's/^r\\/r \\([0-9-]*\\):\\t.*/\\1/p' | "
                       "while read i; do icat {r} $i > {o}/$i; done && {s} -r -j 1 {o}").format(o=out, r=raw, s=args.scanner)
            extract_s = timed(extract, 1)
            rows.append(("image: fls/icat + -r", "%.3f s; --image is %.1fx as fast (goal >= 10: %s)"
                         % (extract_s, extract_s / image_s, "met" if extract_s >= 10 * image_s else "MISSED")))
        else:
            rows.append(("image: fls/icat + -r", "not measured (fls, icat not installed: package sleuthkit)"))
        empty = volume_with(work, "empty.raw", [], 1, [])
        if shutil.which("strace"):
            per_file = (bytes_read(scan, work) - bytes_read([args.scanner, "--image", "-j", "1", empty], work)) / count
            rows.append(("image: bytes read per file", "%.0f (the image's reads, less an empty volume's)" % per_file))
        twice = volume_with(work, "twice.raw", files, 2, variants)
        rows.append(("image: peak RSS", "%d KiB on the volume, %d KiB on one holding it twice"
                     % (peak_kib(scan), peak_kib([args.scanner, "--image", "-j", "1", twice]))))
        os.remove(twice)
        # Volumes in processes of their own, up to -j at once: the library serialises
        # the reads of one handle, so one volume gains nothing; several do, as far as
        # free processors go. The ceiling: two scanners, one per image, at once.
        two_partitions = disk_of(work, "two-partitions.raw", raw, 2)
        for label, images in [("one volume", [raw]), ("two partitions of one disk", [two_partitions]),
                              ("two images", [raw, raw])]:
            cases = {"1": [[args.scanner, "--image", "-j", "1"] + images],
                     "2": [[args.scanner, "--image", "-j", "2"] + images]}
            if len(images) > 1:
                cases["apart"] = [[args.scanner, "--image", "-j", "1", image] for image in images]
            medians = timed_in_rounds(cases, args.runs)
            text = "%.3f s at -j 1, %.3f s at -j 2 (medians): %.2fx as fast" % (
                medians["1"], medians["2"], medians["1"] / medians["2"])
            if "apart" in medians:
                text += "; two scanners at once: %.3f s, %.2fx" % (medians["apart"], medians["1"] / medians["apart"])
            rows.append(("image: -j 2, %s" % label, text + " (load average %.1f on %d processors)"
                         % (os.getloadavg()[0], os.cpu_count())))
    finally:
        subprocess.run(["umount", os.path.join(work, "mnt")], capture_output=True)
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()
