#!/usr/bin/python3
"""The measurements behind scripts/bench, printed as one table.

  run_bench.py --repo DIR --host-build DIR [--win64-build DIR] [--copies N] [--runs N]

1. Offline throughput on one corpus in one run (hyperfine, warm cache, median):
   pestkill-scan -r on one worker and on every core (-j N, N the number of
   processors), yara -r with the shipped rules (resources/kestrelon.yar) on as many
   threads (-p 1, -p N), the same rules in their pe module form on one thread,
   and the floor (open, read 4 KiB, close for each file, one thread); and the CPU
   time (user + system, hyperfine's mean) of -j 2 against -j 1, the cost of the
   workers, which the wall time on a busy two-core machine cannot show.
2. Cost per file: system calls (strace -c -f on one worker, minus the run over an
   empty directory), for the scanner with its read layer and for the same scanner
   reading through the runtime's calls, and instructions (callgrind, whole corpus
   minus the empty run, per file).
3. The live scan under Wine: pestkill.exe against a bare Toolhelp walk, with 100
   idle processes running in a throwaway prefix.
4. Memory: peak resident set of pestkill-scan over the corpus and over a tenth of
   it; stack used by the resource walk on the deepest trees.
Before anything is timed, YARA's verdicts on the variant images and their near
misses must equal the scanner's; any difference ends the run with status 1.
"""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

KEY = "InternalName\0".encode("utf-16-le")
DEBIAN_PE_ROOTS = [
    "/usr/i686-w64-mingw32/lib",
    "/usr/x86_64-w64-mingw32/lib",
    "/usr/lib/x86_64-linux-gnu/wine/i386-windows",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
]
IDLE_PROCESSES = 100


def fail(message):
    print("bench: FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def note(message):
    print("bench: " + message, file=sys.stderr, flush=True)


def run(args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


# -- corpus -------------------------------------------------------------------

def link_or_copy(source, target):
    os.makedirs(os.path.dirname(target), exist_ok=True)
    try:
        os.link(source, target)
    except OSError:
        shutil.copyfile(source, target)


def add_tree(root, target_dir):
    count = 0
    for directory, _, files in os.walk(root):
        for name in files:
            source = os.path.join(directory, name)
            if os.path.islink(source) or not os.path.isfile(source):
                continue
            if root.startswith("/usr/") and not name.lower().endswith(
                    (".dll", ".exe", ".sys", ".drv", ".ocx", ".cpl", ".acm", ".tlb", ".ax", ".ds", ".msstyles")):
                continue
            relative = os.path.relpath(source, root)
            link_or_copy(source, os.path.join(target_dir, relative))
            count += 1
    return count


def near_miss(letter, data):
    """The variant image with the last thing its signature tests spoiled: a digit in
    the InternalName of A, a three-digit name for B, the record window of C and the
    jump window of D cleared."""
    data = bytearray(data)
    if letter in "ab":
        at = data.find(KEY) + len(KEY)
        if letter == "a":
            data[at + 6] = ord("7")
        else:
            data[at:at + 8] = "123\0".encode("utf-16-le")
    elif letter == "c":
        data[111024:111024 + 528] = bytes(528)
    else:
        data[4096:4096 + 528] = bytes(528)
    return bytes(data)


def build_corpus(args, root):
    fetched = os.path.normpath(os.path.join(args.repo, "..", "shared", "corpus-fetched", "files"))
    counts = {}
    counts["real files (fetched corpus)"] = add_tree(fetched, os.path.join(root, "fetched"))
    debian = 0
    for number, source in enumerate(DEBIAN_PE_ROOTS):
        if os.path.isdir(source):
            debian += add_tree(source, os.path.join(root, "debian", str(number)))
    counts["Debian PE files (mingw-w64, Wine)"] = debian
    images = os.path.join(root, "images")
    os.makedirs(images)
    result = run([os.path.join(args.host_build, "tools", "make-variant-images", "make-variant-images"), images])
    if result.returncode != 0:
        fail("make-variant-images: " + result.stderr.decode())
    generated = os.path.join(root, "generated")
    expected = {}
    for letter in "abcd":
        with open(os.path.join(images, "variant-%s.exe" % letter), "rb") as source:
            image = source.read()
        miss = near_miss(letter, image)
        for copy in range(args.copies):
            directory = os.path.join(generated, "%03d" % copy)
            os.makedirs(directory, exist_ok=True)
            for name, data, verdict in (("variant-%s.exe" % letter, image, letter),
                                        ("near-%s.exe" % letter, miss, None)):
                path = os.path.join(directory, name)
                with open(path, "wb") as out:
                    out.write(data)
                expected[path] = verdict
    counts["variant images and near misses"] = len(expected)
    return counts, images, expected


def every_tenth(root, tenth):
    files = sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names)
    for number, path in enumerate(files[::10]):
        link_or_copy(path, os.path.join(tenth, "%05d" % number))
    return len(files[::10])


# -- verdicts -----------------------------------------------------------------

def scanner_verdicts(scan, target):
    result = run([scan, "-r", "--variant", target])
    found = {}
    for line in result.stdout.decode(errors="replace").splitlines():
        match = re.match(r"(.*): Trojan\.Kestrelon\.Gen FOUND \(variant (.)\)$", line)
        if match:
            found[match.group(1)] = match.group(2).lower()
    return found


def yara_verdicts(rules, target):
    result = run(["yara", "-r", "-p", "1", rules, target])
    if result.returncode != 0:
        fail("yara: " + result.stderr.decode(errors="replace"))
    found = {}
    for line in result.stdout.decode(errors="replace").splitlines():
        rule, _, path = line.partition(" ")
        if rule.startswith("Kestrelon_"):
            found.setdefault(path, []).append(rule[-1].lower())
    return found


def check_agreement(scan, rules, images, corpus, expected):
    ours = scanner_verdicts(scan, images)
    theirs = yara_verdicts(rules, images)
    for letter in "abcd":
        path = os.path.join(images, "variant-%s.exe" % letter)
        if ours.get(path) != letter or theirs.get(path) != [letter]:
            fail("%s: pestkill-scan says %s, YARA says %s" % (path, ours.get(path), theirs.get(path)))
    ours = scanner_verdicts(scan, corpus)
    theirs = {p: v[0] for p, v in yara_verdicts(rules, corpus).items()}
    wrong = [p for p, v in expected.items() if ours.get(p) != v or theirs.get(p) != v]
    if wrong:
        fail("verdicts differ from the expected ones on %d generated files, e.g. %s: ours %s, YARA %s"
             % (len(wrong), wrong[0], ours.get(wrong[0]), theirs.get(wrong[0])))
    elsewhere = sorted(set(p for p in list(ours) + list(theirs) if p not in expected and ours.get(p) != theirs.get(p)))
    if elsewhere:
        fail("pestkill-scan and YARA disagree on %d real files, e.g. %s" % (len(elsewhere), elsewhere[0]))
    return sum(1 for v in expected.values() if v)


# -- measurements -------------------------------------------------------------

def entry_code_offset(path):
    """The file offset of a PE file's entry code, or None when it is not a PE file
    or the entry lies in no section."""
    import struct
    with open(path, "rb") as f:
        head = f.read(64 * 1024)
    if head[:2] != b"MZ" or len(head) < 64:
        return None
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    if pe + 0x18 + 0x60 > len(head) or head[pe:pe + 4] != b"PE\0\0":
        return None
    entry = struct.unpack_from("<I", head, pe + 0x28)[0]
    sections, optional = struct.unpack_from("<HxxxxxxxxxxxxH", head, pe + 6)
    table = pe + 0x18 + optional
    for i in range(sections):
        at = table + 40 * i
        if at + 40 > len(head):
            break
        virtual_size, address, raw_size, raw_offset = struct.unpack_from("<IIII", head, at + 8)
        if address <= entry < address + max(virtual_size, raw_size):
            return entry - address + raw_offset
    return None


def hyperfine(commands, runs, workdir):
    out = os.path.join(workdir, "hyperfine.json")
    names = [name for name, _ in commands]
    args = ["hyperfine", "-N", "-i", "--warmup", "2", "--runs", str(runs), "--export-json", out, "--style", "none"]
    for name, command in commands:
        args += ["-n", name, command]
    result = run(args)
    if result.returncode != 0:
        fail("hyperfine: " + result.stderr.decode(errors="replace"))
    with open(out) as source:
        results = json.load(source)["results"]
    medians = {names[i]: statistics.median(r["times"]) for i, r in enumerate(results)}
    cpu = {names[i]: r["user"] + r["system"] for i, r in enumerate(results)}
    return medians, cpu


def syscalls(command, workdir):
    out = os.path.join(workdir, "strace.txt")
    run(["strace", "-f", "-c", "-o", out] + command)
    with open(out) as source:
        for line in source:
            fields = line.split()
            if fields and fields[-1] == "total":
                # "100.00 time seconds usecs/call calls [errors] total"
                numbers = [f for f in fields[:-1]]
                return int(numbers[3])
    fail("no strace total for %s" % command)


def instructions(command):
    result = run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + command)
    match = re.search(r"Collected : (\d+)", result.stderr.decode(errors="replace"))
    if not match:
        fail("no callgrind total for %s" % command)
    return int(match.group(1))


def peak_rss_kib(command):
    result = run(["/usr/bin/time", "-v"] + command)
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr.decode(errors="replace"))
    if not match:
        fail("no peak memory for %s" % command)
    return int(match.group(1))


def live_scan(args, workdir):
    """Medians (seconds) of a full pestkill.exe scan and of the bare walk, in one
    prefix with IDLE_PROCESSES idle processes besides Wine's own."""
    sys.path.insert(0, os.path.join(args.repo, "tests", "e2e"))
    from console_session import COMPLETED, ConsoleSession  # noqa: E402
    from helper_programs import helper_path  # noqa: E402
    from wine_prefix import WinePrefix  # noqa: E402
    build = args.win64_build
    pestkill, bare, sleeper, lister = (helper_path(build, name)
                                       for name in ("pestkill", "bare_walk", "sleeper", "lister"))
    for path in (pestkill, bare, sleeper, lister):
        if not os.path.exists(path):
            fail("missing %s" % path)
    completed = COMPLETED.strip().encode()
    with WinePrefix("bench", lister=lister) as prefix:
        prefix.put_file("C:\\bench\\idle.exe", sleeper)
        for _ in range(IDLE_PROCESSES):
            prefix.start("C:\\bench\\idle.exe", ["900"])
        deadline = time.monotonic() + 300
        while True:
            idle = [p for _, p in prefix.processes() if p.lower().endswith("\\bench\\idle.exe")]
            if len(idle) >= IDLE_PROCESSES:
                break
            if time.monotonic() > deadline:
                fail("only %d idle processes started" % len(idle))
            time.sleep(1)
        total = len(prefix.processes())
        note("live scan: %d processes in the prefix" % total)

        def timed(program, key):
            # Both programs run as a user runs them: standard input is a terminal,
            # so Wine gives each the same console. pestkill.exe ends in its key wait;
            # the key goes in as soon as its closing line is out.
            with ConsoleSession(prefix, program, timeout=300, poll=0.002) as session:
                if key:
                    session.wait_for_text(completed)
                    session.finish_with_key("k")
                else:
                    session.wait_for_end()
                return session.seconds(), session.output()

        timed(pestkill, True)  # warm-up: first start of each in this server session
        timed(bare, False)
        scans, walks = [], []
        for repetition in range(args.runs):
            seconds, output = timed(pestkill, True)
            if completed not in output:
                fail("pestkill.exe did not complete its scan: %r" % output)
            scans.append(seconds)
            seconds, output = timed(bare, False)
            walks.append(seconds)
        modules = int(output.strip() or 0)
    return statistics.median(scans), statistics.median(walks), total, modules


def resource_stack(args):
    result = run([os.path.join(args.host_build, "bench", "bench_resource_stack")])
    if result.returncode != 0:
        fail("bench_resource_stack failed")
    rows = [line.split("\t") for line in result.stdout.decode().splitlines()]
    return [(int(used), found == "1", what) for used, found, what in rows]


# -- table --------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--host-build", required=True)
    parser.add_argument("--win64-build")
    parser.add_argument("--copies", type=int, default=250)
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    args.repo = os.path.abspath(args.repo)
    scan = os.path.join(args.host_build, "tools", "pestkill-scan", "pestkill-scan")
    runtime_scan = os.path.join(args.host_build, "tools", "pestkill-scan", "pestkill-scan-runtime-reads")
    cores = os.cpu_count() or 1
    floor = os.path.join(args.host_build, "bench", "bench_first_page_floor")
    rules = os.path.join(args.repo, "resources", "kestrelon.yar")
    rules_tool = os.path.join(args.host_build, "tools", "yara-rules", "yara-rules")

    workdir = tempfile.mkdtemp(prefix="pestkill-bench.", dir="/tmp")
    try:
        corpus = os.path.join(workdir, "corpus")
        note("building the corpus in %s" % corpus)
        counts, images, expected = build_corpus(args, corpus)
        files = int(run([floor, corpus]).stdout)
        tenth = os.path.join(workdir, "tenth")
        tenth_files = every_tenth(corpus, tenth)
        empty = os.path.join(workdir, "empty")
        os.makedirs(empty)

        note("checking that YARA and pestkill-scan agree")
        detections = check_agreement(scan, rules, images, corpus, expected)
        pe_rules = os.path.join(workdir, "kestrelon-pe-module.yar")
        if run([rules_tool, "--pe-module", pe_rules]).returncode != 0:
            fail("yara-rules --pe-module failed")
        check_agreement(scan, pe_rules, images, corpus, expected)

        load_before = os.getloadavg()
        note("timing the offline scan (%d files, %d runs each, %d cores, load %.2f)"
             % (files, args.runs, cores, load_before[0]))
        timed = [("pestkill-scan -j 1", "%s -r -j 1 %s" % (scan, corpus)),
                 ("pestkill-scan -j N", "%s -r -j %d %s" % (scan, cores, corpus)),
                 ("yara -p 1", "yara -r -p 1 %s %s" % (rules, corpus)),
                 ("yara -p N", "yara -r -p %d %s %s" % (cores, rules, corpus)),
                 ("yara pe module -p 1", "yara -r -p 1 %s %s" % (pe_rules, corpus)),
                 ("floor", "%s %s" % (floor, corpus))]
        # The same against the floor on each kind of file alone: real PE files that
        # are clean, and the generated variant images and near misses, every one
        # judged to its last step.
        for kind in ("debian", "generated"):
            timed += [("pestkill-scan -j 1 %s" % kind, "%s -r -j 1 %s" % (scan, os.path.join(corpus, kind))),
                      ("floor %s" % kind, "%s %s" % (floor, os.path.join(corpus, kind)))]
        timed += [("pestkill-scan -j 1 start", "%s -r -j 1 %s" % (scan, empty)),
                  ("floor start", "%s %s" % (floor, empty))]
        two = "pestkill-scan -j N"
        if cores != 2:
            two = "pestkill-scan -j 2"
            timed.append((two, "%s -r -j 2 %s" % (scan, corpus)))
        median, cpu = hyperfine(timed, args.runs, workdir)
        load_after = os.getloadavg()

        note("counting system calls and instructions")
        clean_file = os.path.join(corpus, "debian", "3", "kernel32.dll")
        if not os.path.exists(clean_file):
            clean_file = sorted(os.path.join(d, n) for d, _, ns in os.walk(os.path.join(corpus, "fetched")) for n in ns)[0]
        # Each file alone in a directory, against the empty directory: what judging
        # one file adds to a tree walk (the walk's look at the entry included).
        alone_dirs = {}

        def alone(path):
            if path not in alone_dirs:
                alone_dirs[path] = os.path.join(workdir, "alone-%d" % len(alone_dirs))
                link_or_copy(path, os.path.join(alone_dirs[path], os.path.basename(path)))
            return alone_dirs[path]

        def per_file(command, path):
            return syscalls(command + [alone(path)], workdir) - syscalls(command + [empty], workdir)

        one = [scan, "-j", "1", "-r"]
        runtime_one = [runtime_scan, "-j", "1", "-r"]
        variant_paths = {l: os.path.join(images, "variant-%s.exe" % l) for l in "abcd"}
        calls_clean = per_file(one, clean_file)
        # The bytes a clean file's checks need are its headers and its entry code:
        # one read where the entry code lies in the first block, two where beyond.
        clean_near = next((os.path.join(d, n) for d, _, ns in sorted(os.walk(os.path.join(corpus, "debian")))
                           for n in sorted(ns)
                           if (entry_code_offset(os.path.join(d, n)) or 1 << 30) + 16 <= 16 * 1024), None)
        clean_not_pe = next((os.path.join(d, n) for d, _, ns in sorted(os.walk(os.path.join(corpus, "fetched")))
                             for n in sorted(ns) if not open(os.path.join(d, n), "rb").read(2) == b"MZ"), None)
        calls_one_read = {name: per_file(one, path) for name, path in
                      (("entry code in the first 16 KiB", clean_near), ("not a PE file", clean_not_pe)) if path}
        clean_entry = entry_code_offset(clean_file)
        calls_variant = {l: per_file(one, variant_paths[l]) for l in "abcd"}
        calls_near = per_file(one, os.path.join(corpus, "generated", "000", "near-c.exe"))
        runtime_clean = per_file(runtime_one, clean_file)
        runtime_variant = {l: per_file(runtime_one, variant_paths[l]) for l in "abcd"}
        calls_floor = per_file([floor], clean_file)
        calls_whole = (syscalls([scan, "-r", "-j", str(cores), corpus], workdir)
                       - syscalls([scan, "-r", "-j", str(cores), empty], workdir)) / files
        one = [scan, "-j", "1"]
        ir_scan = (instructions(one + ["-r", corpus]) - instructions(one + ["-r", empty])) / files
        ir_floor = (instructions([floor, corpus]) - instructions([floor, empty])) / files

        note("measuring memory and stack")
        rss_whole = peak_rss_kib([scan, "-r", corpus])
        rss_tenth = peak_rss_kib([scan, "-r", tenth])
        rss_empty = peak_rss_kib([scan, "-r", empty])
        stacks = resource_stack(args)

        live = None
        if args.win64_build:
            note("live scan under Wine with %d idle processes (takes a few minutes)" % IDLE_PROCESSES)
            live = live_scan(args, workdir)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    rate = {name: files / seconds for name, seconds in median.items()}
    rows = []
    rows.append(("corpus", "%d files: %s; %d detections (YARA agrees on every file)"
                 % (files, ", ".join("%d %s" % (n, what) for what, n in counts.items()), detections), ""))
    rows.append(("machine", "%d cores; load average %.2f before the timed runs, %.2f after"
                 % (cores, load_before[0], load_after[0]), "shared: other work runs beside"))
    for name in ("pestkill-scan -j 1", "pestkill-scan -j N", "yara -p 1", "yara -p N"):
        shown = name.replace(" N", " %d" % cores)
        rows.append(("offline: %s" % shown, "%.3f s median, %.0f files/s" % (median[name], rate[name]), ""))
    ratio = median["yara -p 1"] / median["yara pe module -p 1"]
    rows.append(("YARA rules: integer reads vs pe module", "%.3f s vs %.3f s median, %.2fx"
                 % (median["yara -p 1"], median["yara pe module -p 1"], ratio),
                 "the shipped form, one thread; target <= 1x: %s" % ("met" if ratio <= 1 else "MISSED")))
    rows.append(("offline: floor (open, 4 KiB, close)", "%.3f s median, %.0f files/s" % (median["floor"], rate["floor"]), "one thread"))

    def target(ratio, limit, at_most=True):
        met = ratio <= limit if at_most else ratio >= limit
        return "target %s %gx: %s" % ("<=" if at_most else ">=", limit, "met" if met else "MISSED")

    ratio = median["pestkill-scan -j 1"] / median["floor"]
    rows.append(("one thread vs floor", "%.2fx" % ratio, target(ratio, 2)))
    for kind, what in (("debian", "clean real PE files"), ("generated", "variant images and near misses")):
        whole = median["pestkill-scan -j 1 %s" % kind] / median["floor %s" % kind]
        each = ((median["pestkill-scan -j 1 %s" % kind] - median["pestkill-scan -j 1 start"])
                / (median["floor %s" % kind] - median["floor start"]))
        rows.append(("one thread vs floor, %s" % what, "%.2fx (%.2fx per file, the start of each taken off)"
                     % (whole, each), target(whole, 2)))
    ratio = median["pestkill-scan -j N"] / median["floor"]
    rows.append(("all cores (-j %d) vs one-thread floor" % cores, "%.2fx" % ratio, target(ratio, 1.2)))
    ratio = cpu[two] / cpu["pestkill-scan -j 1"]
    rows.append(("CPU time (user + system), -j 2 vs -j 1", "%.2fx (%.3f s against %.3f s)"
                 % (ratio, cpu[two], cpu["pestkill-scan -j 1"]), target(ratio, 1.1)))
    ratio = median["yara -p 1"] / median["pestkill-scan -j 1"]
    rows.append(("throughput vs YARA, 1 thread", "%.1fx" % ratio, target(ratio, 20, False)))
    ratio = median["yara -p N"] / median["pestkill-scan -j N"]
    rows.append(("throughput vs YARA, %d threads" % cores, "%.1fx" % ratio, target(ratio, 20, False)))
    rows.append(("syscalls per clean file", "%d (floor: %d; runtime reads: %d)" % (calls_clean, calls_floor, runtime_clean),
                 "strace -c -f, -j 1, alone in a directory minus the empty one; %s, entry code at %s: "
                 "open, fstat, the first 16 KiB, the entry code's block, close"
                 % (os.path.basename(clean_file), "offset %d" % clean_entry if clean_entry is not None else "no offset")))
    for what, calls in calls_one_read.items():
        rows.append(("syscalls per clean file, %s" % what, "%d" % calls,
                     "the checks' bytes in one read; target <= 4: %s" % ("met" if calls <= 4 else "MISSED")))
    rows.append(("syscalls per variant image", " ".join("%s:%d" % (l.upper(), calls_variant[l]) for l in "abcd")
                 + " near-miss C:%d" % calls_near, "runtime reads: " + " ".join(
                     "%s:%d" % (l.upper(), runtime_variant[l]) for l in "abcd")))
    rows.append(("syscalls per file, whole corpus", "%.1f (-j %d)" % (calls_whole, cores), "threads' own calls included"))
    rows.append(("instructions per file", "%.0f (floor: %.0f)" % (ir_scan, ir_floor), "callgrind, whole corpus"))
    if live:
        scan_s, walk_s, total, modules = live
        ratio = scan_s / walk_s
        rows.append(("live: pestkill.exe full scan", "%.3f s median (%d processes, %d first modules)" % (scan_s, total, modules), ""))
        rows.append(("live: bare Toolhelp walk", "%.3f s median" % walk_s, ""))
        rows.append(("live scan vs bare walk", "%.2fx" % ratio, "target <= 1.2x: %s" % ("met" if ratio <= 1.2 else "MISSED")))
    else:
        rows.append(("live scan", "not measured (no win64 build)", ""))
    growth = rss_whole / rss_tenth
    rows.append(("peak RSS pestkill-scan -j %d" % cores, "%d KiB whole (%d files), %d KiB tenth (%d files), %d KiB empty"
                 % (rss_whole, files, rss_tenth, tenth_files, rss_empty),
                 "flat: %s (%.2fx)" % ("met" if rss_whole <= rss_tenth * 1.1 + 64 else "MISSED", growth)))
    for used, found, what in stacks:
        rows.append(("resource walk stack", "%d bytes: %s%s" % (used, what, "" if found else " (nothing found)"), ""))

    width = max(len(r[0]) for r in rows)
    vwidth = max(len(r[1]) for r in rows[1:])
    print()
    for name, value, remark in rows:
        print("%-*s  %-*s  %s" % (width, name, vwidth, value, remark))


if __name__ == "__main__":
    main()
