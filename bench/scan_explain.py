#!/usr/bin/env python3
"""Cost of asking pestkill-scan why: wall time of a recursive scan of one tree,
plain, with --explain, with --json and with both; median of N runs each after
one warm-up run, the forms interleaved so that a change in machine load touches
all of them alike. Run by hand:

    bench/scan_explain.py SCANNER DIRECTORY [RUNS]
"""
import statistics
import subprocess
import sys
import time

FORMS = [("plain", []), ("--explain", ["--explain"]), ("--json", ["--json"]),
         ("--json --explain", ["--json", "--explain"])]


def timed(command):
    started = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - started
    if done.returncode not in (0, 1):
        raise SystemExit("%s exited with %d" % (" ".join(command), done.returncode))
    return elapsed


def main():
    if len(sys.argv) not in (3, 4):
        raise SystemExit(__doc__)
    scanner, directory = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) == 4 else 5
    files = subprocess.run([scanner, "-r", "--json", directory], capture_output=True, text=True,
                           errors="replace").stdout.count("\n")
    times = {name: [] for name, _ in FORMS}
    for name, options in FORMS:
        timed([scanner, "-r"] + options + [directory])
    for _ in range(runs):
        for name, options in FORMS:
            times[name].append(timed([scanner, "-r"] + options + [directory]))
    plain = statistics.median(times["plain"])
    print("%d files in %s, median of %d runs" % (files, directory, runs))
    print("%-18s %10s %10s %8s" % ("form", "ms", "us/file", "vs plain"))
    for name, _ in FORMS:
        median = statistics.median(times[name])
        print("%-18s %10.1f %10.1f %7.1f%%" % (name, median * 1e3, median * 1e6 / max(files, 1),
                                               (median / plain - 1) * 100))


if __name__ == "__main__":
    main()
