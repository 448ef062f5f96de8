#!/usr/bin/env python3
"""Where a win64 build directory holds the programs that the end-to-end tests, the
demo and the benchmark run: the one place that knows these paths outside CMake.

    helper_programs.py BUILD NAME...   prints the path of each NAME, one a line
"""
import os
import sys

# Name -> path below the build directory, as the targets of the same name lay it out.
HELPERS = {
    "pestkill": ("driver", "pestkill.exe"),
    "sleeper": ("tests", "e2e", "pestkill_e2e_sleeper.exe"),
    "lister": ("tests", "e2e", "pestkill_e2e_list_processes.exe"),
    "make_images": ("tools", "make-variant-images", "make-variant-images.exe"),
    "bare_walk": ("bench", "bench_bare_walk.exe"),
}


def helper_path(build, name):
    """The path of the helper program NAME in the build directory build."""
    return os.path.join(build, *HELPERS[name])


def main(argv):
    if len(argv) < 3 or any(name not in HELPERS for name in argv[2:]):
        sys.stderr.write("usage: helper_programs.py BUILD NAME...  (NAME: %s)\n" % ", ".join(HELPERS))
        return 2
    for name in argv[2:]:
        print(helper_path(argv[1], name))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
