#!/usr/bin/env python3
"""Zero detections and zero crashes on real PE files nobody here wrote.

    false_positives.py SCANNER [REPO_ROOT]

Runs `SCANNER -r --all` over the fetched corpus (../shared/corpus-fetched/files/
from the repository root: real Visual Basic 5/6 programs and malformed
proof-of-concept images) and over the PE files that installed Debian packages ship
(mingw-w64 runtime, wine's Windows-side libraries, mono assemblies and EFI images
where present). Fails on any detection, any error line, a scanner that dies or
exits with anything but 0. Prints how many files and how many PE images were judged.
"""
import os
import subprocess
import sys

PACKAGE_ROOTS = [
    "/usr/i686-w64-mingw32",
    "/usr/x86_64-w64-mingw32",
    "/usr/lib/gcc/i686-w64-mingw32",
    "/usr/lib/gcc/x86_64-w64-mingw32",
    "/usr/lib/x86_64-linux-gnu/wine/i386-windows",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
    "/usr/lib/i386-linux-gnu/wine/i386-windows",
    "/usr/lib/wine",
    "/usr/lib/mono",
    "/usr/lib/grub",
    "/usr/lib/shim",
    "/usr/lib/efi",
    "/usr/lib/ipxe",
    "/boot/efi",
]


SKIPPED = 77  # CTest's SKIP_RETURN_CODE for this test


def pe_kind(path):
    """'PE32', 'PE32+', or None for a file that is no PE image."""
    try:
        with open(path, "rb") as handle:
            head = handle.read(4096)
    except OSError:
        return None
    if len(head) < 64 or head[:2] != b"MZ":
        return None
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if pe > len(head) - 26 or head[pe:pe + 4] != b"PE\0\0":
        return None
    magic = int.from_bytes(head[pe + 24:pe + 26], "little")
    return {0x10B: "PE32", 0x20B: "PE32+"}.get(magic, "PE (other optional header)")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    scanner = sys.argv[1]
    repo = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..", "..")
    corpus = os.path.normpath(os.path.join(repo, "..", "shared", "corpus-fetched", "files"))
    roots = []
    if os.path.isdir(corpus):
        roots.append(corpus)
    else:
        print("fetched corpus absent (%s): scanning package files only" % corpus)
    roots += [root for root in PACKAGE_ROOTS if os.path.isdir(root)]
    if not roots:
        print("SKIP: no corpus and no package PE files on this machine")
        return SKIPPED

    done = subprocess.run([scanner, "-r", "--all", "--variant"] + roots, capture_output=True, timeout=1800)
    out = done.stdout.decode("utf-8", "replace").splitlines()
    err = done.stderr.decode("utf-8", "replace").splitlines()
    found = [line for line in out if ": Trojan.Kestrelon.Gen FOUND" in line]
    clean = [line[:-len(": OK")] for line in out if line.endswith(": OK")]
    errors = [line for line in err if ": ERROR " in line]
    kinds = {}
    for path in clean:
        kind = pe_kind(path)
        if kind:
            kinds[kind] = kinds.get(kind, 0) + 1

    print("roots: %s" % ", ".join(roots))
    print("files judged: %d, PE images among them: %d (%s)" % (
        len(clean) + len(found), sum(kinds.values()),
        ", ".join("%s %d" % item for item in sorted(kinds.items()))))
    print("detections: %d, errors: %d, exit status: %d" % (len(found), len(errors), done.returncode))
    for line in found + errors:
        print("  " + line)
    failed = done.returncode != 0 or found or errors or not kinds
    if done.returncode < 0:
        print("scanner killed by signal %d" % -done.returncode)
    if done.returncode not in (0, 1, 2):
        print("\n".join(err[-20:]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
