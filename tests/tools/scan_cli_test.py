#!/usr/bin/env python3
"""pestkill-scan as a user runs it: exit status, output lines, --all, --variant,
-r over a tree with a symbolic-link loop, a FIFO and paths that cannot be read, and
the explanations (--explain) and JSON lines (--json).

    scan_cli_test.py --scanner PATH --images-tool PATH [--emulator PATH]

--images-tool is make-variant-images, which writes each variant's matching image.
With --emulator (the win64 build under Wine) the POSIX-only cases are left out and
paths are handed over as Z: paths.
"""
import argparse
import contextlib
import hashlib
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from wine_prefix import WinePrefix, shared_prefix_path  # noqa: E402

ARGS = None
DETECTION = "Trojan.Kestrelon.Gen"
TIMEOUT = 120  # a FIFO opened by mistake would block until then


def under_wine():
    return bool(ARGS.emulator)


def native(path):
    """The path as the scanner is given it: Z:\\... under Wine."""
    if not under_wine():
        return path
    return "Z:" + path.replace("/", "\\")


def joined(*parts):
    """A path the way the scanner joins directory entries."""
    return ("\\" if under_wine() else "/").join(parts)


def scanner_command(*arguments):
    """The command line that runs the scanner: the one place that knows how."""
    return ([ARGS.emulator] if ARGS.emulator else []) + [ARGS.scanner] + list(arguments)


def run_scanner(*arguments, cwd=None):
    done = subprocess.run(scanner_command(*arguments), capture_output=True, timeout=TIMEOUT, cwd=cwd)
    return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")


def shown(path):
    """A name at the start of a text line as the scanner writes it: as it is, or, when
    it holds a backslash or a control byte, after a backslash and with those escaped."""
    special = {"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}
    if not any(c == "\\" or ord(c) < 0x20 or ord(c) == 0x7F for c in path):
        return path
    return "\\" + "".join(special.get(c, "\\x%02x" % ord(c) if ord(c) < 0x20 or ord(c) == 0x7F else c)
                          for c in path)


def lines(text):
    return sorted(line.rstrip("\r") for line in text.splitlines() if line.strip())


def summary_count(stderr, label):
    match = re.search(r"^%s: (\d+)\s*$" % re.escape(label), stderr, re.MULTILINE)
    return int(match.group(1)) if match else None


def error_lines(stderr):
    return sorted(line.rstrip("\r") for line in stderr.splitlines() if ": ERROR " in line)


def fingerprint(root):
    """Content hash, size and mtime of every regular file below root."""
    seen = {}
    for directory, names, files in os.walk(root):
        for name in files:
            path = os.path.join(directory, name)
            st = os.lstat(path)
            if not stat.S_ISREG(st.st_mode):
                continue
            try:
                with open(path, "rb") as handle:
                    digest = hashlib.sha256(handle.read()).hexdigest()
            except OSError:
                digest = None
            seen[path] = (digest, st.st_size, st.st_mtime_ns)
    return seen


def pe_image(data):
    """The headers and section table of an image as pefile reads them."""
    return pefile.PE(data=bytes(data), fast_load=True)


def field_offset(data, header, field):
    """File offset of one field of a header, e.g. ("FILE_HEADER", "NumberOfSections")."""
    return getattr(pe_image(data), header).get_field_absolute_offset(field)


def entry_file_offset(data):
    """File offset of AddressOfEntryPoint through the section table."""
    image = pe_image(data)
    return image.get_offset_from_rva(image.OPTIONAL_HEADER.AddressOfEntryPoint)


def va_file_offset(data, va):
    """File offset of a virtual address through the section table."""
    image = pe_image(data)
    return image.get_offset_from_rva(va - image.OPTIONAL_HEADER.ImageBase)


def vb_header_offset(data):
    """The VbHeader that the entry code's push names."""
    entry = entry_file_offset(data)
    assert data[entry] == 0x68, "the entry code does not start with a push"
    return va_file_offset(data, int.from_bytes(data[entry + 1:entry + 5], "little"))


def put_u(data, at, width, value):
    data[at:at + width] = value.to_bytes(width, "little")


def json_all(out):
    """Every line of standard output as a JSON object (each line must be one)."""
    return [json.loads(line) for line in out.splitlines() if line.strip()]


def json_lines(out):
    """The objects of the files: every line but the summary, which must be last."""
    records = json_all(out)
    assert records and list(records[-1]) == ["summary"], "the last line is not the summary: %r" % out[-300:]
    assert all("summary" not in record for record in records[:-1])
    return records[:-1]


def json_summary(out):
    return json_all(out)[-1]["summary"]


class Images:
    """Each variant's matching image, written once by make-variant-images."""
    directory = None
    by_variant = {}

    @classmethod
    def load(cls):
        if cls.directory:
            return
        cls.directory = tempfile.mkdtemp(prefix="h6-variant-images.")
        command = ([ARGS.emulator] if ARGS.emulator else []) + [ARGS.images_tool, native(cls.directory)]
        subprocess.run(command, check=True, capture_output=True, timeout=TIMEOUT)
        for name in sorted(os.listdir(cls.directory)):
            match = re.search(r"variant[-_]?([a-d])", name, re.IGNORECASE)
            if match:
                cls.by_variant[match.group(1).upper()] = os.path.join(cls.directory, name)
        if sorted(cls.by_variant) != ["A", "B", "C", "D"]:
            raise RuntimeError("make-variant-images wrote %s" % os.listdir(cls.directory))


class ScanTestCase(unittest.TestCase):
    def setUp(self):
        Images.load()
        self.work = tempfile.mkdtemp(prefix="h6-scan-cli.")
        self.addCleanup(shutil.rmtree, self.work, True)

    def put(self, relative, data):
        path = os.path.join(self.work, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
        return path

    def put_variant(self, relative, variant):
        with open(Images.by_variant[variant], "rb") as handle:
            return self.put(relative, handle.read())

    def variant_bytes(self, variant):
        with open(Images.by_variant[variant], "rb") as handle:
            return bytearray(handle.read())

    def clean_image(self):
        """A variant image with its first entry-code byte changed: every signature
        tests that byte, so the file is a near miss of all four."""
        with open(Images.by_variant["A"], "rb") as handle:
            data = bytearray(handle.read())
        position = entry_file_offset(data)
        self.assertEqual(data[position], 0x68, "the entry code does not start with a push")
        data[position] = 0x90
        return bytes(data)


class CommandLine(ScanTestCase):
    def test_help_prints_usage_and_exit_codes(self):
        code, out, err = run_scanner("--help")
        self.assertEqual(code, 0)
        self.assertIn("Usage: pestkill-scan", out)
        for status in ("0    nothing found", "1    something found", "2    errors occurred",
                       "130  interrupted", "standard output could not be written"):
            self.assertIn(status, out)
        for documented in ("\\xHH", "path_bytes", "--exclude GLOB", "--file-list FILE", "-0, --null",
                           "-x, --one-file-system", "-j, --jobs N", "--version", "not checked", "summary"):
            self.assertIn(documented, out)
        self.assertEqual(err, "")

    def test_usage_errors_exit_2_with_usage_on_stderr(self):
        cases = [
            ("unknown long option", ["--recursve", native(self.work)]),
            ("unknown short option", ["-q", native(self.work)]),
            ("--exclude without its GLOB", ["-r", native(self.work), "--exclude"]),
            ("--file-list without its FILE", ["--file-list"]),
            ("two file lists", ["--file-list", "a", "--file-list", "b"]),
            ("-0 with text explanations", ["-0", "--explain", native(self.work)]),
            ("unknown letter in a group", ["-rq", native(self.work)]),
            ("-j without its N", [native(self.work), "-j"]),
            ("-j 0", ["-j", "0", native(self.work)]),
            ("-j that is not a number", ["-jx", native(self.work)]),
            ("--jobs beyond 256", ["--jobs=257", native(self.work)]),
            ("-j with a sign", ["-j", "+2", native(self.work)]),
            ("no path", ["-r"]),
            ("nothing at all", []),
        ]
        for name, arguments in cases:
            with self.subTest(name):
                code, out, err = run_scanner(*arguments)
                self.assertEqual(code, 2)
                self.assertEqual(out, "")
                self.assertIn("Usage: pestkill-scan", err)
                self.assertNotIn("SCAN SUMMARY", err)

    def test_options_before_or_after_paths_and_double_dash(self):
        self.put_variant("-a", "C")
        self.put("clean.bin", self.clean_image())
        cases = [
            ("after --, -a is a file", ["--", "-a"], ["-a: %s FOUND" % DETECTION]),
            ("options after the path", ["clean.bin", "--all", "--variant"], ["clean.bin: OK"]),
            ("options on both sides, paths in order", ["--variant", "clean.bin", "-a", "--", "-a"],
             ["clean.bin: OK", "-a: %s FOUND (variant C)" % DETECTION]),
        ]
        for name, arguments, expected in cases:
            with self.subTest(name):
                code, out, _ = run_scanner(*arguments, cwd=self.work)
                self.assertEqual(code, 1 if any("FOUND" in line for line in expected) else 0)
                self.assertEqual([line.rstrip("\r") for line in out.splitlines()], expected)


class SingleFiles(ScanTestCase):
    def test_each_variant_is_reported_and_named(self):
        for variant in "ABCD":
            with self.subTest(variant=variant):
                path = native(self.put_variant("image_%s.exe" % variant, variant))
                code, out, err = run_scanner(path)
                self.assertEqual(code, 1)
                self.assertEqual(lines(out), ["%s: %s FOUND" % (shown(path), DETECTION)])
                self.assertEqual(summary_count(err, "Infected files"), 1)
                code, out, _ = run_scanner("--variant", path)
                self.assertEqual(code, 1)
                self.assertEqual(lines(out), ["%s: %s FOUND (variant %s)" % (shown(path), DETECTION, variant)])

    def test_clean_files_are_silent_unless_all(self):
        path = native(self.put("clean.bin", self.clean_image()))
        code, out, err = run_scanner(path)
        self.assertEqual((code, out), (0, ""))
        self.assertEqual(summary_count(err, "Scanned files"), 1)
        self.assertEqual(summary_count(err, "Not checked"), 0)
        code, out, _ = run_scanner("-a", path)
        self.assertEqual((code, lines(out)), (0, ["%s: OK" % shown(path)]))

    def test_files_the_signatures_cannot_be_tested_on_are_never_called_ok(self):
        short = "shorter than the 1024 bytes of entry code the checks need; not read"
        cases = [
            ("empty file", b"", "the file is 0 bytes, " + short),
            ("shorter than the entry code", b"MZ" + b"\0" * 1000, "the file is 1002 bytes, " + short),
            ("text", b"hello\n" * 400, "the last section header cannot be read"),
        ]
        for name, data, reason in cases:
            with self.subTest(name):
                path = native(self.put("unread.bin", data))
                code, out, err = run_scanner(path)
                self.assertEqual((code, out), (0, ""))
                self.assertEqual([summary_count(err, label) for label in ("Scanned files", "Not checked")], [1, 1])
                code, out, _ = run_scanner("-a", path)
                self.assertEqual((code, lines(out)), (0, ["%s: not checked (%s)" % (shown(path), reason)]))
                code, out, _ = run_scanner("--json", path)
                [record] = json_lines(out)
                self.assertEqual((record["verdict"], record["reason"]), ("not checked", reason))
                self.assertEqual(json_summary(out)["not_checked"], 1)

    def test_errors_do_not_stop_the_scan_and_set_the_exit_status(self):
        infected = native(self.put_variant("infected.exe", "D"))
        clean = native(self.put("clean.bin", self.clean_image()))
        missing = native(os.path.join(self.work, "missing.exe"))
        cases = [
            ("error only", [missing], 2, [], 1),
            ("error then clean", [missing, clean], 2, ["%s: OK" % shown(clean)], 1),
            ("error then infected", [missing, infected], 1,
             ["%s: %s FOUND" % (shown(infected), DETECTION)], 1),
            ("infected then error", [infected, missing], 1,
             ["%s: %s FOUND" % (shown(infected), DETECTION)], 1),
            ("directory without -r", [native(self.work)], 2, [], 1),
        ]
        for name, paths, status, expected_out, errors in cases:
            with self.subTest(name):
                code, out, err = run_scanner("--all", *paths)
                self.assertEqual(code, status)
                self.assertEqual(lines(out), [line for line in sorted(expected_out)])
                self.assertEqual(len(error_lines(err)), errors, err)
                self.assertEqual(summary_count(err, "Errors"), errors)
        _, _, err = run_scanner(missing)
        self.assertTrue(error_lines(err)[0].startswith("%s: ERROR " % shown(missing)), err)

    def test_summary_counts(self):
        paths = [native(self.put_variant("a.exe", "A")), native(self.put_variant("b.exe", "B")),
                 native(self.put("c.bin", b"\0" * 2048)), native(os.path.join(self.work, "none"))]
        code, _, err = run_scanner(*paths)
        self.assertEqual(code, 1)
        self.assertEqual([summary_count(err, label) for label in
                          ("Scanned files", "Infected files", "Not checked", "Errors", "Skipped")], [3, 2, 1, 1, 0])
        self.assertRegex(err, r"Time: \d+\.\d+ sec")
        self.assertNotIn("\r", err.replace("\r\n", "\n"), "progress shown although stderr is no terminal")


class Trees(ScanTestCase):
    def build_tree(self):
        self.put_variant("top/a.exe", "A")
        self.put_variant("top/deep/er/c.exe", "C")
        self.put("top/deep/clean.dll", self.clean_image())
        self.put("top/empty", b"")
        self.put_variant("top/sub/d.exe", "D")
        return os.path.join(self.work, "top")

    def expected_found(self, top, variant_suffix=False):
        found = [(("a.exe",), "A"), (("deep", "er", "c.exe"), "C"), (("sub", "d.exe"), "D")]
        return sorted("%s: %s FOUND%s" % (shown(joined(native(top), *parts)), DETECTION,
                                          " (variant %s)" % v if variant_suffix else "")
                      for parts, v in found)

    def test_recursive_scan_reports_every_infected_file(self):
        top = self.build_tree()
        code, out, err = run_scanner("-r", "--variant", native(top))
        self.assertEqual(code, 1)
        self.assertEqual(lines(out), self.expected_found(top, True))
        self.assertEqual([summary_count(err, label) for label in
                          ("Scanned files", "Infected files", "Not checked", "Errors")], [5, 3, 1, 0])

    def test_all_lists_clean_files_too(self):
        top = self.build_tree()
        code, out, _ = run_scanner("-ra", native(top))
        self.assertEqual(code, 1)
        clean = ["%s: OK" % shown(joined(native(top), "deep", "clean.dll")),
                 "%s: not checked (the file is 0 bytes, shorter than the 1024 bytes of entry code the checks "
                 "need; not read)" % shown(joined(native(top), "empty"))]
        self.assertEqual(lines(out), sorted(self.expected_found(top) + clean))

    def test_trailing_separator_is_not_doubled(self):
        top = self.build_tree()
        code, out, _ = run_scanner("-r", native(top) + ("\\" if under_wine() else "/"))
        self.assertEqual(code, 1)
        self.assertEqual(lines(out), self.expected_found(top))

    def test_scanning_changes_no_file(self):
        top = self.build_tree()
        before = fingerprint(self.work)
        run_scanner("-ra", "--variant", native(top))
        self.assertEqual(fingerprint(self.work), before)


@unittest.skipIf(os.name != "posix", "POSIX file types")
class PosixTrees(ScanTestCase):
    def setUp(self):
        super().setUp()
        if under_wine():
            self.skipTest("links, FIFOs and permissions are tested on the native build")

    def test_links_fifos_and_unreadable_entries(self):
        top = os.path.join(self.work, "top")
        self.put_variant("top/a.exe", "A")
        self.put_variant("outside/b.exe", "B")
        os.symlink("..", os.path.join(top, "loop"))                        # back to an ancestor
        os.symlink(os.path.join(self.work, "outside"), os.path.join(top, "out"))  # out of the tree
        os.symlink("a.exe", os.path.join(top, "again.exe"))                # a second name for a.exe
        os.symlink("nowhere", os.path.join(top, "dangling"))
        os.mkfifo(os.path.join(top, "fifo"))                                # no writer: open would block
        expected_errors = []
        if os.geteuid() != 0:
            locked = self.put_variant("top/locked/x.exe", "C")
            os.chmod(locked, 0)
            os.chmod(os.path.dirname(locked), 0)
            self.addCleanup(os.chmod, os.path.dirname(locked), 0o755)
            expected_errors.append(os.path.join(top, "locked"))
        # A path longer than the system's 4,096-byte limit is still reached and named.
        fd = os.open(top, os.O_RDONLY)
        for _ in range(18):
            os.mkdir("d" * 250, dir_fd=fd)
            inner = os.open("d" * 250, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        with open(os.open("deep.exe", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as handle:
            with open(Images.by_variant["D"], "rb") as image:
                handle.write(image.read())
        os.close(fd)
        deep = os.path.join(top, *["d" * 250] * 18, "deep.exe")
        self.assertGreater(len(deep), 4096)

        code, out, err = run_scanner("-r", top)
        self.assertEqual(code, 1)
        self.assertEqual(lines(out), sorted("%s: %s FOUND" % (p, DETECTION) for p in (top + "/a.exe", deep)))
        errors = error_lines(err)
        self.assertEqual(len(errors), len(expected_errors), err)
        for path in expected_errors:
            self.assertTrue(any(line.startswith(path + ": ERROR ") for line in errors), err)
        self.assertEqual(summary_count(err, "Skipped"), 5)

        # Passed over, and listed with the reason.
        _, out, _ = run_scanner("-ra", top)
        passed = {line for line in lines(out) if ": skipped (" in line}
        self.assertEqual(passed, {"%s/%s: skipped (%s)" % (top, name, reason) for name, reason in
                                  (("loop", "symbolic link"), ("out", "symbolic link"), ("again.exe", "symbolic link"),
                                   ("dangling", "symbolic link"), ("fifo", "pipe"))})
        _, out, _ = run_scanner("-r", "--json", top)
        skipped = {(r["path"], r["reason"]) for r in json_lines(out) if r["verdict"] == "skipped"}
        self.assertEqual(skipped, {(top + "/" + name, reason) for name, reason in
                                   (("loop", "symbolic link"), ("out", "symbolic link"),
                                    ("again.exe", "symbolic link"), ("dangling", "symbolic link"), ("fifo", "pipe"))})

    def test_every_number_of_workers_reports_the_same_lines_in_the_same_order(self):
        top = os.path.join(self.work, "top")
        for index in range(40):
            self.put_variant("top/d%d/%02d.exe" % (index % 5, index), "ABCD"[index % 4])
            self.put("top/d%d/clean%02d.bin" % (index % 5, index), self.clean_image())
        self.put("top/d2/short.bin", b"MZ")
        os.symlink("..", os.path.join(top, "d1", "loop"))
        os.mkfifo(os.path.join(top, "d3", "fifo"))
        os.link(os.path.join(top, "d0", "00.exe"), os.path.join(top, "d4", "again.exe"))  # judged once
        operands = ["--exclude", "clean1*", top, os.path.join(self.work, "missing"), os.path.join(top, "d0", "05.exe")]

        def without_time(text):
            return [re.sub(r',"seconds":[0-9.]+', "", line) for line in text.splitlines() if not line.startswith("Time: ")]

        for form in (["-ra"], ["-r", "--json", "--explain"]):
            with self.subTest(form=form):
                first = None
                for jobs in ("1", "2", "4", "7"):
                    code, out, err = run_scanner(*form, "-j", jobs, *operands)
                    result = (code, without_time(out), without_time(err))
                    if first is None:
                        first = result
                        self.assertEqual(code, 1, err)
                        self.assertGreater(len(result[1]), 80)
                    self.assertEqual(result, first, "-j %s differs from -j 1" % jobs)

    def test_pipe_device_and_broken_operands_are_errors_without_blocking(self):
        fifo = os.path.join(self.work, "fifo")
        os.mkfifo(fifo)
        looping = os.path.join(self.work, "loop1")
        os.symlink("loop2", looping)
        os.symlink("loop1", os.path.join(self.work, "loop2"))
        os.symlink("nowhere", os.path.join(self.work, "dangling"))
        through_file = os.path.join(self.put("plain", b"x"), "below")
        cases = [
            ("FIFO", fifo, "not a regular file"),
            ("character device", "/dev/null", "not a regular file"),
            ("symbolic link loop", looping, os.strerror(40)),
            ("dangling symbolic link", os.path.join(self.work, "dangling"), os.strerror(2)),
            ("path through a file", through_file, os.strerror(20)),
        ]
        if os.geteuid() != 0:
            unreadable = self.put_variant("unreadable.exe", "A")
            os.chmod(unreadable, 0)
            cases.append(("unreadable file", unreadable, os.strerror(13)))
        for name, path, reason in cases:
            with self.subTest(name):
                code, out, err = run_scanner(path)
                self.assertEqual((code, out), (2, ""))
                errors = error_lines(err)
                self.assertEqual(len(errors), 1, err)
                self.assertTrue(errors[0].startswith("%s: ERROR " % path), err)
                self.assertIn(reason, errors[0])

    def test_progress_only_on_a_terminal(self):
        import pty
        path = self.put_variant("a.exe", "A")
        copy = self.put_variant("b.exe", "A")
        leader, follower = pty.openpty()
        try:
            done = subprocess.run(scanner_command("--all", path, copy), stdout=subprocess.PIPE,
                                  stderr=follower, timeout=TIMEOUT)
            os.close(follower)
            follower = None
            shown = read_pty(leader)
        finally:
            if follower is not None:
                os.close(follower)
            os.close(leader)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"\rScanned 1 files, 1 infected, 0 errors", shown)
        self.assertIn(b"Infected files: 2", shown)
        self.assertNotIn(b"\r", done.stdout)
        self.assertEqual(lines(done.stdout.decode()), sorted("%s: %s FOUND" % (p, DETECTION) for p in (path, copy)))

    def test_symbolic_link_given_by_name_is_followed(self):
        target = self.put_variant("real.exe", "B")
        link = os.path.join(self.work, "link.exe")
        os.symlink(target, link)
        code, out, _ = run_scanner("--variant", link)
        self.assertEqual((code, lines(out)), (1, ["%s: %s FOUND (variant B)" % (link, DETECTION)]))


def explanation_lines(out):
    return [line.rstrip("\r") for line in out.splitlines() if line.strip()]


def near_miss_cases():
    """(name, variant, change, test label, value found or None, value required): one
    change to a variant's matching image that makes that variant fail at a known
    test, and no other variant match."""
    def vb_header(at, width, value):
        return lambda data: put_u(data, vb_header_offset(data) + at, width, value)

    def optional(field, width, value):
        return lambda data: put_u(data, field_offset(data, "OPTIONAL_HEADER", field), width, value)

    def length(size):
        return lambda data: data.extend(b"\0" * (size - len(data)))

    def zeros(at, count):
        def change(data):
            data[at:at + count] = b"\0" * count
        return change

    return [
        ("a VbHeader value", "A", vb_header(0x04, 2, 0x2635), "VbHeader +0x04 (u16)", "0x2635", "0x2636"),
        ("a VbHeader range", "A", vb_header(0x44, 2, 5), "VbHeader +0x44 (u16)", "0x5", "0x3-0x4"),
        ("the file size", "B", length(0x60001), "file size", "0x60001", "0x20000-0x60000"),
        ("an optional header field", "C", optional("SizeOfCode", 4, 0x1A000), "optional header SizeOfCode",
         "0x1A000", "0x1B000"),
        ("a pattern search", "C", zeros(0x70, 16), "stub pattern", None, "found"),
        ("a count", "D", zeros(0x1040 + 20 * 6, 24), "jump count", "0x14", "at least 21"),
    ]


def stop_cases():
    """(name, bytes, stop key, reason): files whose judgement ends before the checks."""
    def changed(variant, change):
        with open(Images.by_variant[variant], "rb") as handle:
            data = bytearray(handle.read())
        change(data)
        return bytes(data)

    def entry_outside(data):
        put_u(data, field_offset(data, "OPTIONAL_HEADER", "AddressOfEntryPoint"), 4, 0x900000)

    def cut_entry_code(data):
        del data[entry_file_offset(data) + 1023:]

    def no_sections(data):
        put_u(data, field_offset(data, "FILE_HEADER", "NumberOfSections"), 2, 0)

    short = b"MZ" + b"\0" * 1000
    return [
        ("shorter than the entry code", short, "short file",
         "the file is 1002 bytes, shorter than the 1024 bytes of entry code the checks need; not read"),
        ("entry point in no section", changed("D", entry_outside), "no entry offset",
         "the entry point has no file offset"),
        ("1023 bytes of entry code", changed("D", cut_entry_code), "short entry code",
         "fewer than 1024 bytes of entry code at the entry point's file offset"),
        ("no section headers", changed("D", no_sections), "no last section",
         "the last section header cannot be read"),
    ]


class Explanations(ScanTestCase):
    def test_a_matching_image_names_the_match_and_what_was_not_run(self):
        for variant in "ABCD":
            with self.subTest(variant=variant):
                path = native(self.put_variant("image_%s.exe" % variant, variant))
                code, out, _ = run_scanner("--explain", path)
                self.assertEqual(code, 1)
                found = explanation_lines(out)
                self.assertEqual(found[0], "%s: %s FOUND (variant %s)" % (shown(path), DETECTION, variant))
                self.assertEqual(len(found), 5, out)
                for letter, line in zip("ABCD", found[1:]):
                    if letter < variant:
                        self.assertRegex(line, r"^  variant %s: no match at .+: (found 0x[0-9A-F]+, )?required .+$"
                                         % letter)
                    elif letter == variant:
                        self.assertEqual(line, "  variant %s: matches" % letter)
                    else:
                        self.assertEqual(line, "  variant %s: not run (variant %s matched)" % (letter, variant))

                code, out, _ = run_scanner("--json", "--explain", path)
                self.assertEqual(code, 1)
                [record] = json_lines(out)
                self.assertEqual((record["path"], record["verdict"], record["variant"]), (path, "infected", variant))
                explanation = record["explanation"]
                self.assertEqual((explanation["checked"], explanation["stop"]), (True, "checked"))
                results = {letter: v["result"] for letter, v in explanation["variants"].items()}
                self.assertEqual(results, {letter: "no match" if letter < variant else
                                           "matches" if letter == variant else "not run" for letter in "ABCD"})

    def test_a_near_miss_names_the_failing_field_and_values(self):
        for name, variant, change, label, found, required in near_miss_cases():
            with self.subTest(name, variant=variant):
                data = self.variant_bytes(variant)
                change(data)
                path = native(self.put("near_%s.exe" % variant, bytes(data)))
                self.assertEqual(run_scanner(path)[:2], (0, ""), "the near miss is no longer clean")

                code, out, _ = run_scanner("--explain", path)
                self.assertEqual(code, 0)
                shown_lines = explanation_lines(out)
                self.assertEqual(shown_lines[0], "%s: OK" % shown(path))
                expected = "  variant %s: no match at %s: %s" % (
                    variant, label, "required " + required if found is None else
                    "found %s, required %s" % (found, required))
                self.assertIn(expected, shown_lines)
                self.assertEqual(len(shown_lines), 5, out)

                code, out, _ = run_scanner("--json", "--explain", path)
                self.assertEqual(code, 0)
                [record] = json_lines(out)
                self.assertEqual((record["verdict"], record["variant"]), ("clean", None))
                self.assertEqual(record["explanation"]["variants"][variant],
                                 {"result": "no match", "test": label, "found": found, "required": required})

    def test_a_judgement_that_stops_before_the_checks_says_why(self):
        for name, data, stop, reason in stop_cases():
            with self.subTest(name):
                path = native(self.put("stopped.exe", data))
                self.assertEqual(run_scanner(path)[:2], (0, ""))
                code, out, _ = run_scanner("--explain", path)
                self.assertEqual(code, 0)
                self.assertEqual(explanation_lines(out), ["%s: not checked (%s)" % (shown(path), reason)])
                code, out, _ = run_scanner("-a", path)
                self.assertEqual(explanation_lines(out), ["%s: not checked (%s)" % (shown(path), reason)])
                code, out, _ = run_scanner("--explain", "--json", path)
                self.assertEqual(code, 0)
                [record] = json_lines(out)
                self.assertEqual((record["verdict"], record["reason"]), ("not checked", reason))
                explanation = record["explanation"]
                self.assertEqual((explanation["checked"], explanation["stop"], explanation["reason"]),
                                 (False, stop, reason))
                self.assertEqual({v["result"] for v in explanation["variants"].values()}, {"not run"})

    def test_explaining_changes_no_verdict(self):
        self.put_variant("top/a.exe", "A")
        self.put_variant("top/b.exe", "B")
        self.put_variant("top/sub/c.exe", "C")
        self.put_variant("top/sub/d.exe", "D")
        self.put("top/clean.dll", self.clean_image())
        for name, variant, change, *_ in near_miss_cases():
            data = self.variant_bytes(variant)
            change(data)
            self.put("top/near/%s.exe" % name.replace(" ", "_"), bytes(data))
        for name, data, *_ in stop_cases():
            self.put("top/stop/%s.exe" % name.replace(" ", "_"), data)
        top = native(os.path.join(self.work, "top"))
        plain_code, plain_out, _ = run_scanner("-r", "--json", top)
        code, out, _ = run_scanner("-r", "--json", "--explain", top)
        self.assertEqual((code, plain_code), (1, 1))
        verdicts = lambda text: sorted((r["path"], r["verdict"], r["variant"]) for r in json_lines(text))
        self.assertEqual(verdicts(out), verdicts(plain_out))
        self.assertEqual(sum(1 for _, verdict, _ in verdicts(out) if verdict == "infected"), 4)
        self.assertEqual(len(verdicts(out)), 5 + len(near_miss_cases()) + len(stop_cases()))
        text_code, text_out, _ = run_scanner("-r", "--variant", top)
        self.assertEqual(text_code, 1)
        self.assertEqual(lines(text_out), sorted("%s: %s FOUND (variant %s)" % (shown(path), DETECTION, variant)
                                                 for path, verdict, variant in verdicts(out)
                                                 if verdict == "infected"))


class JsonLines(ScanTestCase):
    def test_every_file_gets_one_object_and_errors_too(self):
        infected = native(self.put_variant("infected.exe", "B"))
        clean = native(self.put("clean.bin", self.clean_image()))
        missing = native(os.path.join(self.work, "missing.exe"))
        code, out, err = run_scanner("--json", infected, clean, missing)
        self.assertEqual(code, 1)
        records = json_lines(out)
        self.assertEqual([(r["path"], r["verdict"], r["variant"]) for r in records],
                         [(infected, "infected", "B"), (clean, "clean", None), (missing, "error", None)])
        self.assertNotIn("explanation", records[0])
        self.assertEqual(sorted(records[2]), ["error", "path", "variant", "verdict"])
        self.assertTrue(records[2]["error"])
        self.assertEqual(error_lines(err), ["%s: ERROR %s" % (shown(missing), records[2]["error"])])
        self.assertEqual(summary_count(err, "Errors"), 1)
        summary = json_summary(out)
        self.assertEqual({key: summary[key] for key in ("files", "infected", "not_checked", "errors", "skipped",
                                                         "interrupted", "exit_status")},
                         {"files": 2, "infected": 1, "not_checked": 0, "errors": 1, "skipped": 0,
                          "interrupted": False, "exit_status": 1})

    def test_paths_that_are_not_text_stay_valid_json(self):
        if under_wine():
            self.skipTest("arbitrary name bytes are tested on the native build")
        names = [
            (b"quote\"back\\slash.exe", 'quote"back\\slash.exe'),
            (b"control\x01\x1b.exe", "control\x01\x1b.exe"),
            (b"latin1 caf\xe9.exe", "latin1 caf\u00e9.exe"),
            (b"utf8 caf\xc3\xa9 \xe2\x82\xac.exe", "utf8 caf\u00e9 \u20ac.exe"),
            (b"overlong \xc0\xaf.exe", "overlong \u00c0\u00af.exe"),
        ]
        directory = os.path.join(self.work, "names").encode()
        os.makedirs(directory)
        with open(Images.by_variant["A"], "rb") as handle:
            image = handle.read()
        for raw, _ in names:
            with open(os.path.join(directory, raw), "wb") as handle:
                handle.write(image)
        done = subprocess.run(scanner_command("-r", "--json", "--explain", directory), capture_output=True,
                              timeout=TIMEOUT)
        self.assertEqual(done.returncode, 1)
        text = done.stdout.decode("utf-8")  # strict: the output is valid UTF-8
        records = json_lines(text)
        prefix = directory.decode() + "/"
        self.assertEqual(sorted(r["path"] for r in records), sorted(prefix + shown for _, shown in names))
        self.assertEqual({r["verdict"] for r in records}, {"infected"})

def read_pty(leader):
    shown = b""
    while True:
        try:
            chunk = os.read(leader, 65536)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
    return shown


def split_nul(data):
    return [record for record in data.split(b"\0") if record]


@unittest.skipIf(os.name != "posix", "POSIX names, descriptors and signals")
class HostileEvidence(ScanTestCase):
    """The scanner pointed at a tree an attacker prepared, as a responder runs it."""

    def setUp(self):
        super().setUp()
        if under_wine():
            self.skipTest("the native build")

    def raw(self, *arguments, **options):
        done = subprocess.run(scanner_command(*arguments), capture_output=True, timeout=TIMEOUT, **options)
        return done.returncode, done.stdout, done.stderr

    def on_terminal(self, *arguments):
        """Standard output and standard error on one pseudo-terminal: what the responder sees."""
        import pty
        leader, follower = pty.openpty()
        try:
            process = subprocess.Popen(scanner_command(*arguments), stdin=subprocess.DEVNULL, stdout=follower,
                                       stderr=follower)
            os.close(follower)
            follower = None
            shown = read_pty(leader)
            code = process.wait(timeout=TIMEOUT)
        finally:
            if follower is not None:
                os.close(follower)
            os.close(leader)
        return code, shown

    def test_a_name_cannot_forge_a_detection_line(self):
        forged = "/mnt/evidence/Windows/System32/svchost.exe"
        evil = self.put_variant("evil\n" + forged, "A")
        code, out, err = run_scanner("-r", self.work)
        self.assertEqual(code, 1)
        self.assertEqual(out.splitlines(), ["\\%s/evil\\n%s: %s FOUND" % (self.work, forged, DETECTION)])
        self.assertFalse(any(line.startswith(forged) for line in out.splitlines() + err.splitlines()))
        # -0: the raw name, each line ended by NUL.
        code, out, _ = self.raw("-r", "-0", self.work)
        self.assertEqual(split_nul(out), [("%s: %s FOUND" % (evil, DETECTION)).encode()])
        self.assertNotIn(b"\n", out.replace(evil.encode(), b""))
        # Error lines follow the same rule.
        code, _, err = run_scanner(os.path.join(self.work, "missing\n" + forged))
        self.assertEqual(code, 2)
        self.assertEqual(error_lines(err), ["\\%s/missing\\n%s: ERROR %s" % (self.work, forged, os.strerror(2))])
        code, _, err = run_scanner("--bad\n" + forged)
        self.assertEqual(code, 2)
        self.assertIn("unknown option '--bad\\n%s'" % forged, err)
        self.assertFalse(any(line.startswith(forged) for line in err.splitlines()))

    def test_names_print_as_they_are_unless_a_backslash_or_control_byte_needs_escapes(self):
        # The checksum tools' convention: such a line starts with a backslash, and
        # sha256sum -c reads the name back from it.
        cases = (("back\\slash.exe", "\\%s/back\\\\slash.exe"), ("tab\tname.exe", "\\%s/tab\\tname.exe"),
                 ("plain 'quoted' caf\u00e9.exe", "%s/plain 'quoted' caf\u00e9.exe"))
        for name, line in cases:
            with self.subTest(name=name):
                path = self.put_variant(name, "A")
                code, out, _ = run_scanner(path)
                self.assertEqual((code, out.encode("latin-1").decode("utf-8").splitlines()),
                                 (1, [(line % self.work) + ": %s FOUND" % DETECTION]))
                os.unlink(path)
        for name in ("back\\slash", "new\nline", "plain"):
            path = self.put(name, b"x")
            digest = subprocess.run(["sha256sum", path], capture_output=True, text=True).stdout.rstrip("\n")
            code, out, _ = run_scanner("-a", path)
            self.assertEqual(out.split(": not checked (")[0],
                             ("\\" if digest.startswith("\\") else "") + digest.split("  ", 1)[1], name)

    def test_escape_and_carriage_return_do_not_reach_the_terminal(self):
        name = "x\x1b[2K\rclean.exe"
        self.put_variant(name, "B")
        self.put("ok\x1b]0;title\x07.bin", self.clean_image())
        missing = os.path.join(self.work, "gone\x1b[1A\r.exe")
        code, shown = self.on_terminal("-ra", self.work, missing)
        self.assertEqual(code, 1)
        self.assertNotIn(b"\x1b", shown)
        self.assertNotIn(b"\x07", shown)
        self.assertIn(("%s/x\\x1b[2K\\rclean.exe: %s FOUND" % (self.work, DETECTION)).encode(), shown)
        self.assertIn(("%s/ok\\x1b]0;title\\x07.bin: OK" % self.work).encode(), shown)
        self.assertIn(("%s/gone\\x1b[1A\\r.exe: ERROR " % self.work).encode(), shown)
        # The only carriage returns are the terminal's own line ends and the progress line's.
        progress = re.compile(rb"\r(Scanned [^\r\n]*| *\r)")
        self.assertNotIn(b"\r", progress.sub(b"", shown.replace(b"\r\n", b"\n")))

    def test_json_keeps_latin1_and_utf8_names_apart_and_gives_the_bytes_back(self):
        import base64
        directory = os.path.join(self.work, "names").encode()
        os.makedirs(directory)
        latin1, utf8 = os.path.join(directory, b"caf\xe9.exe"), os.path.join(directory, b"caf\xc3\xa9.exe")
        with open(Images.by_variant["A"], "rb") as handle:
            image = handle.read()
        for path in (latin1, utf8):
            with open(path, "wb") as handle:
                handle.write(image)
        code, out, _ = self.raw("-r", "--json", directory)
        self.assertEqual(code, 1)
        records = json_lines(out.decode("utf-8"))
        self.assertEqual(len(records), 2)
        self.assertNotEqual(records[0], records[1])
        by_bytes = {}
        for record in records:
            if "path_bytes" in record:
                by_bytes[base64.b64decode(record["path_bytes"], validate=True)] = record
            else:
                by_bytes[record["path"].encode("utf-8")] = record
        self.assertEqual(sorted(by_bytes), sorted([latin1, utf8]))
        self.assertNotIn("path_bytes", by_bytes[utf8])
        for path in by_bytes:
            self.assertTrue(os.path.isfile(path), "the file is found again from its object")

    def test_a_padded_image_of_2_2_gb_is_judged(self):
        # Sparse: the file takes no space beyond the image; removed with the work tree.
        for variant in "AB":
            with self.subTest(variant=variant):
                path = self.put_variant("padded_%s.exe" % variant, variant)
                subprocess.run(["truncate", "-s", "2200000000", path], check=True, timeout=TIMEOUT)
                self.addCleanup(os.remove, path)
                code, out, err = run_scanner("-a", path)
                found = "%s: Trojan.Kestrelon.Gen FOUND" % path
                self.assertEqual(lines(out), [found if variant == "A" else "%s: OK" % path])
                code, out, _ = run_scanner("--json", "--explain", path)
                [record] = json_lines(out)
                # A has no size row and is found; B's size row names a range and fails.
                if variant == "A":
                    self.assertEqual((code, record["verdict"], record["variant"]), (1, "infected", "A"))
                else:
                    self.assertEqual((code, record["verdict"]), (0, "clean"))
                    self.assertEqual(record["explanation"]["variants"]["B"]["test"], "file size")
                    # The size rows see the length held at the largest 32-bit value.
                    self.assertEqual(record["explanation"]["variants"]["C"],
                                     {"result": "no match", "test": "file size", "found": "0x7FFFFFFF",
                                      "required": "0x1C000-0x1E000"})

    def test_output_that_cannot_be_written_stops_the_scan(self):
        for index in range(5):
            self.put_variant("tree/%d.exe" % index, "D")
        tree = os.path.join(self.work, "tree")
        for arguments in (["-r"], ["-ra"], ["-r", "--json"], ["-r", "-j", "1"], ["-r", "-j", "4"],
                          ["-ra", "--jobs=3"]):
            with self.subTest("/dev/full", arguments=arguments):
                with open("/dev/full", "wb") as full:
                    done = subprocess.run(scanner_command(*arguments, tree), stdout=full, stderr=subprocess.PIPE,
                                          timeout=TIMEOUT)
                err = done.stderr.decode()
                self.assertEqual(done.returncode, 2, err)
                self.assertIn("pestkill-scan: cannot write to standard output: %s" % os.strerror(28), err)
                self.assertIn("Stopped: standard output could not be written", err)
                self.assertEqual(summary_count(err, "Scanned files"), 1, "the scan went on")
        with self.subTest("closed pipe, SIGPIPE ignored"):
            import signal
            reader, writer = os.pipe()
            os.close(reader)
            try:
                done = subprocess.run(scanner_command("-r", tree), stdout=writer, stderr=subprocess.PIPE,
                                      timeout=TIMEOUT, preexec_fn=lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN))
            finally:
                os.close(writer)
            err = done.stderr.decode()
            self.assertEqual(done.returncode, 2, err)
            self.assertIn("cannot write to standard output: %s" % os.strerror(32), err)
            self.assertEqual(summary_count(err, "Scanned files"), 1, "the scan went on")
        with self.subTest("--help"):
            with open("/dev/full", "wb") as full:
                done = subprocess.run(scanner_command("--help"), stdout=full, stderr=subprocess.PIPE, timeout=TIMEOUT)
            self.assertEqual(done.returncode, 2)

    def start_listed_scan(self, *arguments):
        process = subprocess.Popen(scanner_command(*arguments, "--file-list", "-"), stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def next_line(self, process):
        import select
        ready, _, _ = select.select([process.stdout], [], [], 60)
        self.assertTrue(ready, "no line arrived while the scanner waits for more of its list")
        return process.stdout.readline().decode()

    def test_lines_reach_a_pipe_as_they_come(self):
        infected, clean = self.put_variant("a.exe", "A"), self.put("clean.bin", self.clean_image())
        for arguments, expected in ((["--json"], lambda p, v: json.loads(v)["path"] == p),
                                    (["-a"], lambda p, v: v.startswith(p + ": ")),
                                    (["-a", "-j", "4"], lambda p, v: v.startswith(p + ": "))):
            with self.subTest(arguments=arguments):
                process = self.start_listed_scan(*arguments)
                for path in (infected, clean):
                    process.stdin.write(path.encode() + b"\n")
                    process.stdin.flush()
                    line = self.next_line(process)
                    self.assertTrue(expected(path, line), line)
                process.stdin.close()
                self.assertEqual(process.wait(timeout=TIMEOUT), 1)

    def test_sigint_and_sigterm_finish_the_line_and_print_the_summary(self):
        infected = self.put_variant("a.exe", "C")
        cases = [("INT", "SIGINT", 130, ["--json"]), ("TERM", "SIGTERM", 143, ["--json"]), ("INT", "SIGINT", 130, ["-a"]),
                 ("INT", "SIGINT", 130, ["-a", "-j", "1"]), ("TERM", "SIGTERM", 143, ["--json", "-j", "4"])]
        for signal_name, shown_name, status, arguments in cases:
            with self.subTest(signal_name, arguments=arguments):
                # The list stays open: the scanner waits for more when the signal comes.
                reader, writer = os.pipe()
                os.write(writer, infected.encode() + b"\n")
                try:
                    done = subprocess.run(["timeout", "--preserve-status", "-s", signal_name, "1"] +
                                          scanner_command(*arguments, "--file-list", "-"), stdin=reader,
                                          capture_output=True, timeout=TIMEOUT)
                finally:
                    os.close(reader)
                    os.close(writer)
                out, err = done.stdout.decode(), done.stderr.decode()
                self.assertEqual(done.returncode, status, err)
                self.assertIn("Interrupted by %s" % shown_name, err)
                self.assertEqual(summary_count(err, "Infected files"), 1)
                if "--json" in arguments:
                    [record] = json_lines(out)  # every line whole, the summary last
                    self.assertEqual(record["path"], infected)
                    summary = json_summary(out)
                    self.assertEqual((summary["interrupted"], summary["signal"], summary["exit_status"]),
                                     (True, shown_name, status))
                else:
                    self.assertEqual(out, "%s: %s FOUND\n" % (infected, DETECTION))

    def test_a_tree_1500_levels_deep_under_64_descriptors(self):
        top = os.path.join(self.work, "top")
        self.addCleanup(subprocess.run, ["rm", "-rf", top], timeout=TIMEOUT)
        self.put_variant("top/a.exe", "A")
        fd = os.open(top, os.O_RDONLY)
        for level in range(1500):
            os.mkdir("level", dir_fd=fd)
            if level == 700:
                os.mkdir("side", dir_fd=fd)  # a branch the walk comes back up for
                with open(os.open("side/b.exe", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as handle:
                    handle.write(self.variant_bytes("B"))
            inner = os.open("level", os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        with open(os.open("deep.exe", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as handle:
            handle.write(self.variant_bytes("D"))
        os.close(fd)
        deep = os.path.join(top, *["level"] * 1500, "deep.exe")
        side = os.path.join(top, *["level"] * 700, "side", "b.exe")
        self.assertGreater(len(deep), 4096)
        done = subprocess.run(["sh", "-c", 'ulimit -n 64 && exec "$@"', "sh"] + scanner_command("-r", top),
                              capture_output=True, timeout=TIMEOUT)
        out, err = done.stdout.decode(), done.stderr.decode()
        self.assertEqual(done.returncode, 1, err)
        self.assertEqual(lines(out), sorted("%s: %s FOUND" % (p, DETECTION) for p in (top + "/a.exe", side, deep)))
        self.assertEqual((summary_count(err, "Errors"), error_lines(err)), (0, []))

    def test_an_unreadable_directory_is_reported(self):
        prefix = []
        if os.geteuid() == 0:
            if not shutil.which("setpriv"):
                self.skipTest("root reads every directory, and setpriv is missing")
            prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            # The scanner must start as that user: a launcher script below a folder
            # only root may enter (a clone in a private temporary folder) cannot,
            # since the shell opens it by its path.
            started = subprocess.run(prefix + scanner_command("--version"), capture_output=True, timeout=TIMEOUT)
            if started.returncode != 0:
                self.skipTest("the scanner cannot be started as an unprivileged user here: %s"
                              % started.stderr.decode(errors="replace").strip())
            os.chmod(self.work, 0o755)
        self.put_variant("top/a.exe", "A")
        locked = os.path.join(self.work, "top", "locked")
        self.put_variant("top/locked/x.exe", "C")
        os.chmod(locked, 0)
        self.addCleanup(os.chmod, locked, 0o755)
        done = subprocess.run(prefix + scanner_command("-r", os.path.join(self.work, "top")), capture_output=True,
                              timeout=TIMEOUT)
        out, err = done.stdout.decode(), done.stderr.decode()
        self.assertEqual(done.returncode, 1, err)
        self.assertEqual(lines(out), ["%s/top/a.exe: %s FOUND" % (self.work, DETECTION)])
        self.assertEqual(error_lines(err), ["%s: ERROR %s" % (locked, os.strerror(13))])

    def test_each_file_is_judged_once(self):
        infected = self.put_variant("dir/a.exe", "A")
        os.link(infected, os.path.join(self.work, "dir", "hard-link.exe"))
        directory = os.path.join(self.work, "dir")
        repeated = "already judged under another name (a hard link, or named twice)"
        code, out, err = run_scanner(infected, "-r", directory)
        self.assertEqual((code, lines(out)), (1, ["%s: %s FOUND" % (infected, DETECTION)]))
        self.assertEqual([summary_count(err, label) for label in ("Scanned files", "Infected files", "Skipped")],
                         [1, 1, 2])
        code, out, err = run_scanner("-ra", infected, directory, directory)
        self.assertEqual(lines(out), sorted(["%s: %s FOUND" % (infected, DETECTION),
                                             "%s: skipped (%s)" % (infected, repeated),
                                             "%s/hard-link.exe: skipped (%s)" % (directory, repeated),
                                             "%s: skipped (directory already scanned under another name)" % directory]))

    def test_exclude_passes_over_names_and_paths(self):
        for relative in ("a.exe", "sub/b.exe", "cache/c.exe", "sub/cache/d.exe"):
            self.put_variant("top/" + relative, "A")
        top = os.path.join(self.work, "top")
        cases = [
            (["--exclude", "b.exe"], ["a.exe", "cache/c.exe", "sub/cache/d.exe"]),
            (["--exclude=cache"], ["a.exe", "sub/b.exe"]),
            (["--exclude", "*/sub/*"], ["a.exe", "cache/c.exe"]),
            (["--exclude", "[ab].exe", "--exclude", "sub"], ["cache/c.exe"]),
            (["--exclude", "top"], []),
        ]
        for arguments, found in cases:
            with self.subTest(arguments=arguments):
                code, out, err = run_scanner("-r", top, *arguments)
                self.assertEqual((code, lines(out)), (1 if found else 0, sorted(
                    "%s/%s: %s FOUND" % (top, relative, DETECTION) for relative in found)))
        _, out, _ = run_scanner("-ra", top, "--exclude", "cache")
        self.assertIn("%s/cache: skipped (excluded by cache)" % top, lines(out))

    def test_one_file_system_stays_on_the_operands_file_system(self):
        if not os.path.isdir("/dev/shm") or os.stat("/dev").st_dev == os.stat("/dev/shm").st_dev:
            self.skipTest("/dev/shm is no file system of its own here")
        mounted = tempfile.mkdtemp(prefix="h6-scan-cli-x.", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, mounted, True)
        infected = os.path.join(mounted, "a.exe")
        with open(infected, "wb") as handle:
            handle.write(self.variant_bytes("A"))
        _, out, _ = run_scanner("-r", "/dev")
        self.assertIn("%s: %s FOUND" % (infected, DETECTION), lines(out))
        code, out, _ = run_scanner("-rxa", "/dev")
        self.assertNotIn("%s: %s FOUND" % (infected, DETECTION), lines(out))
        self.assertIn("/dev/shm: skipped (on another file system)", lines(out))

    def test_file_list_newline_and_nul_separated(self):
        a, b = self.put_variant("a.exe", "A"), self.put_variant("line\nbreak.exe", "B")
        clean = self.put("clean.bin", self.clean_image())
        listed = os.path.join(self.work, "list.txt")
        with open(listed, "wb") as handle:
            handle.write(b"\n".join([a.encode(), b"", clean.encode(), b"with\0nul"]) + b"\n")
        code, out, err = self.raw("--file-list", listed, "-a")
        self.assertEqual((code, summary_count(err.decode(), "Errors")), (1, 1), err)  # the entry with a NUL byte
        self.assertEqual(sorted(out.decode().splitlines()), sorted(["%s: %s FOUND" % (a, DETECTION),
                                                                    "%s: OK" % clean]))
        self.assertIn(b"a NUL byte in the file list entry 'with'", err)
        nul_list = b"\0".join([a.encode(), b.encode(), b""])
        code, out, err = self.raw("-0", "--file-list", "-", input=nul_list)
        self.assertEqual(code, 1, err)
        self.assertEqual(split_nul(out), [("%s: %s FOUND" % (p, DETECTION)).encode() for p in (a, b)])
        code, _, err = self.raw("--file-list", os.path.join(self.work, "no-list"))
        self.assertEqual(code, 2)
        self.assertIn(b"cannot read the file list", err)

    def test_version_names_the_signatures(self):
        code, out, err = run_scanner("--version")
        self.assertEqual((code, err), (0, ""))
        self.assertRegex(out.splitlines()[0], r"^pestkill-scan \d+\.\d+")
        self.assertIn("Trojan.Kestrelon.Gen, the structural variants A, B, C and D", out)
        # The signature set it names is the one the shipped YARA rules were written from.
        rules = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "kestrelon.yar")
        with open(rules) as handle:
            versions = set(re.findall(r'version = "([0-9a-f]{16})"', handle.read()))
        self.assertEqual(len(versions), 1, versions)
        self.assertIn("Signature set %s; the same signatures as YARA rules: kestrelon.yar" % versions.pop(), out)


@contextlib.contextmanager
def wine_for_the_run():
    """Under Wine: one prefix for the whole run (the one the test run shares, else
    a throwaway one), booted with its wineserver running before the first scanner
    call."""
    if not ARGS.emulator:
        yield
        return
    with WinePrefix("scan-cli", path=shared_prefix_path()) as prefix:
        os.environ.clear()
        os.environ.update(prefix.env)
        os.environ["PESTKILL_WINEPREFIX"] = prefix.path
        subprocess.run(scanner_command("--help"), timeout=TIMEOUT, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        yield


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True)
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--emulator", default="")
    ARGS, rest = parser.parse_known_args()
    ARGS.scanner = os.path.abspath(ARGS.scanner)
    ARGS.images_tool = os.path.abspath(ARGS.images_tool)
    try:
        with wine_for_the_run():
            unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
    finally:
        if Images.directory:
            shutil.rmtree(Images.directory, True)


if __name__ == "__main__":
    main()
