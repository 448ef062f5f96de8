#!/usr/bin/env python3
"""The Debian package of pestkill-scan as a responder's machine receives it: its name,
its control data (package, version, architecture, the dependencies dpkg-shlibdeps
computed), its files and their owners and modes, lintian without errors, and the
unpacked scanner itself: --version and a scan of the variant images.

    debian_package_test.py (--package DEB | --build-dir DIR) --version VERSION
                           --images-tool PATH [--depends PACKAGE]...
                           [--disk-image-program]

With --build-dir the package is made first with cpack from that build's install
rules, into a throwaway folder. --depends names a package the Depends field must
hold (libhivex0 where the build links the hive library, libtsk19 where it links the
disk image library). --disk-image-program: the build has the program that scans disk
images, which the package must hold and the scanner must find in the unpacked tree.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
PACKAGE = None  # the .deb under test
WORK = None     # a throwaway folder: the package made, the unpacked tree, the images

# Path in the package: the mode it must have.
EXPECTED_FILES = {
    "./usr/bin/pestkill-scan": "-rwxr-xr-x",
    "./usr/share/man/man1/pestkill-scan.1.gz": "-rw-r--r--",
    "./usr/share/doc/pestkill/README.md": "-rw-r--r--",
    "./usr/share/doc/pestkill-scan/copyright": "-rw-r--r--",
    "./usr/share/doc/pestkill-scan/changelog.gz": "-rw-r--r--",
}
DISK_IMAGE_PROGRAM = "./usr/libexec/pestkill/pestkill-scan-disk-image"


def run(command, **keywords):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **keywords)


def checked(command, **keywords):
    done = run(command, **keywords)
    if done.returncode != 0:
        raise AssertionError(f"{command} failed ({done.returncode}):\n{done.stdout}{done.stderr}")
    return done.stdout


def control_fields():
    fields = {}
    for line in checked(["dpkg-deb", "-f", PACKAGE]).splitlines():
        if line[:1] not in (" ", "\t") and ":" in line:
            name, value = line.split(":", 1)
            fields[name] = value.strip()
    return fields


def depends_names(depends):
    """The package names of a Depends field, without versions and alternatives."""
    return {re.split(r"[ (]", part.strip(), maxsplit=1)[0] for part in re.split(r"[,|]", depends)}


def unpacked():
    tree = os.path.join(WORK, "tree")
    if not os.path.isdir(tree):
        checked(["dpkg-deb", "-x", PACKAGE, tree])
    return tree


class ControlData(unittest.TestCase):
    def test_file_name_names_package_version_and_architecture(self):
        architecture = checked(["dpkg", "--print-architecture"]).strip()
        self.assertEqual(os.path.basename(PACKAGE), f"pestkill-scan_{ARGS.version}_{architecture}.deb")

    def test_fields(self):
        fields = control_fields()
        architecture = checked(["dpkg", "--print-architecture"]).strip()
        self.assertEqual(fields.get("Package"), "pestkill-scan")
        self.assertEqual(fields.get("Version"), ARGS.version)
        self.assertEqual(fields.get("Architecture"), architecture)
        self.assertEqual(fields.get("Section"), "utils")
        self.assertRegex(fields.get("Maintainer", ""), r"^[^<>]+ <[^<>@\s]+@[^<>@\s]+\.[a-z]+>$")
        self.assertTrue(fields.get("Description", "").strip(), "no synopsis")

    def test_depends_computed_from_the_binary(self):
        # dpkg-shlibdeps names the C and C++ runtimes the binary links, with versions.
        depends = control_fields().get("Depends", "")
        names = depends_names(depends)
        for name in ["libc6", "libstdc++6"] + ARGS.depends:
            self.assertIn(name, names, depends)
        self.assertRegex(depends, r"libc6 \(>= [0-9.]+\)")

    def test_info_names_the_control_members(self):
        info = checked(["dpkg-deb", "-I", PACKAGE])
        self.assertIn("Package: pestkill-scan", info)
        self.assertRegex(info, r"\bcontrol\b")
        self.assertRegex(info, r"\bmd5sums\b")


class Contents(unittest.TestCase):
    def test_files_owners_and_modes(self):
        listing = {}
        for line in checked(["dpkg-deb", "-c", PACKAGE]).splitlines():
            mode, owner, _size, _day, _time, path = line.split(None, 5)
            listing[path] = (mode, owner)
        expected = dict(EXPECTED_FILES)
        if ARGS.disk_image_program:
            expected[DISK_IMAGE_PROGRAM] = "-rwxr-xr-x"
        for path, mode in expected.items():
            self.assertIn(path, listing)
            self.assertEqual(listing[path][0], mode, path)
        for path, (mode, owner) in listing.items():
            self.assertEqual(owner, "root/root", path)
            self.assertTrue(path.startswith("./usr/"), path)
            if mode.startswith("d"):
                self.assertEqual(mode, "drwxr-xr-x", path)

    def test_manual_page_reads_in_the_unpacked_tree(self):
        page = os.path.join(unpacked(), "usr/share/man/man1/pestkill-scan.1.gz")
        done = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page],
                   env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80"))
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertIn("pestkill-scan - find Trojan.Kestrelon.Gen", checked(["lexgrog", page]))

    def test_lintian_finds_no_error(self):
        if shutil.which("lintian") is None:
            self.fail("lintian is not installed (scripts/install-deps installs it)")
        done = run(["lintian", "--fail-on", "error", PACKAGE])
        print(f"lintian:\n{done.stdout}{done.stderr}", file=sys.stderr)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertNotRegex(done.stdout, r"(?m)^E: ")


class UnpackedScanner(unittest.TestCase):
    def scanner(self):
        return os.path.join(unpacked(), "usr/bin/pestkill-scan")

    def test_version(self):
        done = run([self.scanner(), "--version"])
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.splitlines()[0], f"pestkill-scan {ARGS.version}")

    def test_finds_each_variant_image(self):
        images = os.path.join(WORK, "images")
        os.makedirs(images, exist_ok=True)
        checked([ARGS.images_tool, images])
        done = run([self.scanner(), "--variant", "-r", images])
        self.assertEqual(done.returncode, 1, done.stderr)
        expected = sorted(f"{images}/variant-{v.lower()}.exe: Trojan.Kestrelon.Gen FOUND (variant {v})"
                          for v in "ABCD")
        self.assertEqual(sorted(done.stdout.splitlines()), expected)

    def test_scans_a_disk_image_through_the_program_it_hands_images_to(self):
        if not ARGS.disk_image_program:
            self.skipTest("this build has no disk image program")
        if shutil.which("mkfs.fat") is None:
            self.fail("mkfs.fat is not installed (scripts/install-deps installs it)")
        image = os.path.join(WORK, "volume.img")
        with open(image, "wb") as volume:
            volume.truncate(1024 * 1024)
        checked(["mkfs.fat", "-n", "EMPTY", image])
        done = run([self.scanner(), "--image", image])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Errors: 0", done.stderr)  # the summary, on standard error


def make_package(build_dir):
    output = os.path.join(WORK, "package")
    checked(["cpack", "-G", "DEB", "-B", output, "--config", os.path.join(build_dir, "CPackConfig.cmake")])
    made = glob.glob(os.path.join(output, "*.deb"))
    if len(made) != 1:
        raise SystemExit(f"cpack made {made}, not one package")
    return made[0]


def main():
    global ARGS, PACKAGE, WORK
    parser = argparse.ArgumentParser()
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--package")
    source.add_argument("--build-dir")
    parser.add_argument("--version", required=True)
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--depends", action="append", default=[])
    parser.add_argument("--disk-image-program", action="store_true")
    ARGS, rest = parser.parse_known_args()
    for tool in ["dpkg-deb", "dpkg-shlibdeps", "cpack", "man", "lexgrog"]:
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed")
            return 77
    with tempfile.TemporaryDirectory(prefix="pestkill-package.") as work:
        WORK = work
        PACKAGE = os.path.abspath(ARGS.package) if ARGS.package else make_package(ARGS.build_dir)
        program = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False)
        return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
