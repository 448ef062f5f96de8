#!/usr/bin/env python3
"""pestkill-scan --windows-root on a mounted-looking Windows volume built in a
temporary folder: both detection roads, what --clean would change and what it
changes (whole-hive comparison before and after), dirty hives, bad hives.

    windows_root_test.py --scanner PATH --images-tool PATH --corpus DIR

--corpus is the folder of fetched test files (the registry hives are read there in
place; the hivex project's empty "minimal" hive is copied and filled here). Needs
the python3-hivex bindings in the interpreter that runs it.
"""
import argparse
import base64
import hashlib
import json
import os
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import hivex

ARGS = None
DETECTION = "Trojan.Kestrelon.Gen"
TIMEOUT = 120

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4
MACHINE_RUN = r"Microsoft\Windows\CurrentVersion\Run"
WOW_RUN = "Wow6432Node\\" + MACHINE_RUN  # HKLM as 32-bit programs see it on 64-bit Windows
USER_RUN = r"Software\Microsoft\Windows\CurrentVersion\Run"
IFEO = r"Microsoft\Windows NT\CurrentVersion\Image File Execution Options"
WOW_IFEO = "Wow6432Node\\" + IFEO
SAMPLE_ENTRY = "Your Image File Name Here without a path"


_CORPUS_FILES = []


def corpus_file(*tail):
    """The one file of the fetched corpus whose path ends in the components tail."""
    if not _CORPUS_FILES:
        for directory, _, names in os.walk(ARGS.corpus):
            _CORPUS_FILES.extend(os.path.join(directory, n) for n in names)
    found = [p for p in _CORPUS_FILES if tuple(p.split(os.sep)[-len(tail):]) == tail]
    if len(found) != 1:
        raise AssertionError("%d corpus files end in %s" % (len(found), "/".join(tail)))
    return found[0]


def corpus_folder_of(*tail):
    return os.path.dirname(corpus_file(*tail))


def minimal_hive():
    return corpus_file("images", "minimal")


def sz(text):
    return text.encode("utf-16le") + b"\0\0"


def build_hive(path, keys):
    """A copy of the minimal hive with keys {r"A\\B": [(name, type, data), ...]}."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(minimal_hive(), path)
    os.chmod(path, 0o644)
    h = hivex.Hivex(path, write=True)
    for key_path, values in keys.items():
        node = h.root()
        for part in key_path.split("\\"):
            node = h.node_get_child(node, part) or h.node_add_child(node, part)
        if values:
            h.node_set_values(node, [{"key": n, "t": t, "value": v} for n, t, v in values])
    h.commit(path)


def dump_hive(path):
    """{key path: {value name: (type, data)}} of every key of the hive."""
    h = hivex.Hivex(path)
    seen = {}
    stack = [(h.root(), "")]
    while stack:
        node, name = stack.pop()
        seen[name] = {h.value_key(v): h.value_value(v) for v in h.node_values(node)}
        for child in h.node_children(node):
            stack.append((child, (name + "\\" if name else "") + h.node_name(child)))
    return seen


def make_dirty(path, sequence1, sequence2):
    """Base block sequence numbers that differ, with the header checksum mended."""
    with open(path, "r+b") as f:
        head = bytearray(f.read(512))
        struct.pack_into("<II", head, 4, sequence1, sequence2)
        checksum = 0
        for i in range(0, 508, 4):
            checksum ^= struct.unpack_from("<I", head, i)[0]
        struct.pack_into("<I", head, 508, checksum)
        f.seek(0)
        f.write(head)


def fingerprint(root):
    """Content hash, size and mtime of every entry below root (links by target)."""
    seen = {}
    for directory, names, files in os.walk(root):
        for name in names + files:
            path = os.path.join(directory, name)
            st = os.lstat(path)
            if stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    seen[path] = ("file", hashlib.sha256(f.read()).hexdigest(), st.st_size, st.st_mtime_ns)
            elif stat.S_ISLNK(st.st_mode):
                seen[path] = ("link", os.readlink(path))
            else:
                seen[path] = ("dir", st.st_mtime_ns)
    return seen


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def copy_file(source, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(source, path)


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def run_scanner(*arguments):
    done = subprocess.run([ARGS.scanner] + list(arguments), capture_output=True, timeout=TIMEOUT)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


def text_name(name):
    """A name in an escaped text line (one that starts with a backslash): backslash,
    tab, newline and carriage return as two-character escapes, every other control
    byte as \\xhh."""
    named = {"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}
    return "".join(named.get(c, "\\x%02x" % ord(c) if ord(c) < 0x20 or ord(c) == 0x7F else c) for c in name)


def json_lines(stdout):
    return [json.loads(line) for line in stdout.splitlines() if line.strip()]


def variant_image(letter):
    folder = tempfile.mkdtemp(prefix="variants-")
    try:
        subprocess.run([ARGS.images_tool, folder], check=True, capture_output=True, timeout=TIMEOUT)
        with open(os.path.join(folder, "variant-%s.exe" % letter.lower()), "rb") as f:
            return f.read()
    finally:
        shutil.rmtree(folder)


class Volume:
    """The test volume: system and user hives, the genuine logon program, impostors,
    a variant image, near-miss Run values, image debuggers and the sample entry."""

    IMPOSTOR = r"C:\ProgramData\WinLogon.exe"
    USER_IMPOSTOR = r"C:\Users\alice\AppData\Roaming\winlogon.tmp.exe"
    SUBDIR_IMPOSTOR = r"C:\Windows\System32\drivers\winlogon.exe"
    VARIANT_AS_LOGON = r"C:\Tools\winlogon.exe"
    WOW_IMPOSTOR = r"C:\Program Files (x86)\Common\WINLOGON"  # no extension at all

    def __init__(self, root):
        self.root = root
        self.write("Windows/System32/winlogon.exe", b"MZ the genuine logon program")
        self.write("ProgramData/WinLogon.exe", b"MZ impostor started from HKLM")
        self.write("Users/alice/AppData/Roaming/winlogon.tmp.exe", b"MZ impostor started from HKCU")
        self.write("Windows/System32/drivers/winlogon.exe", b"MZ in a subdirectory of the system directory")
        self.write("Temp/winlogon32.exe", b"MZ not the logon program's name")
        self.write("Program Files (x86)/Common/WINLOGON", b"MZ started from the 32-bit view of HKLM")
        self.write("Tools/winlogon.exe", variant_image("B"))
        # An existing directory whose name is the impostor's path and a comma: a Run
        # value naming it is a path, so only its short form is searched, where a comma
        # does not end the target.
        os.makedirs(self.host(r"ProgramData\WinLogon.exe,x"))
        os.makedirs(self.host("Users/Public"))
        # Vista and later keep this name as a junction to Users; the mount shows a link.
        os.symlink("Users", self.host("Documents and Settings"))

        self.software = self.host("Windows/System32/config/SOFTWARE")
        build_hive(self.software, {
            r"Microsoft\Windows NT\CurrentVersion": [("SystemRoot", REG_SZ, sz(r"C:\WINDOWS"))],
            MACHINE_RUN: [
                ("Updater", REG_SZ, sz('"%s" -s' % self.IMPOSTOR)),
                ("Rundll", REG_SZ, sz(r"rundll32.exe C:\ProgramData\WinLogon.exe,Start")),
                ("Drivers", REG_EXPAND_SZ, sz(self.SUBDIR_IMPOSTOR)),
                ("Genuine", REG_SZ, sz(r"C:\Windows\System32\winlogon.exe")),
                ("W32", REG_SZ, sz(r"C:\Temp\winlogon32.exe")),
                ("VariantStart", REG_SZ, sz(self.VARIANT_AS_LOGON)),
                ("NearLetter", REG_SZ, sz(self.IMPOSTOR + "X")),
                ("NearDot", REG_SZ, sz(self.IMPOSTOR + ".bak /s")),
                ("Longer", REG_SZ, sz(r"C:\ProgramData\WinLogon.exe2 /s")),
                ("DirOnly", REG_SZ, sz("C:\\ProgramData\\")),
                ("CommaDir", REG_SZ, sz(self.IMPOSTOR + ",x")),
                ("Tool", REG_SZ, sz(r'"C:\Program Files\Tool\tool.exe" /start')),
                ("Count", REG_DWORD, struct.pack("<I", 5)),
            ],
            WOW_RUN: [("Wow", REG_SZ, sz(self.WOW_IMPOSTOR + " /min"))],
            WOW_IFEO + r"\sethc.exe": [("Debugger", REG_SZ, sz(r"C:\Windows\System32\cmd.exe"))],
            IFEO + r"\taskmgr.exe": [("Debugger", REG_SZ, sz(self.IMPOSTOR)),
                                     ("GlobalFlag", REG_DWORD, struct.pack("<I", 2))],
            IFEO + r"\regedit.exe": [("debugger", REG_DWORD, struct.pack("<I", 1))],
            IFEO + r"\notepad.exe": [("UseFilter", REG_DWORD, struct.pack("<I", 1))],
            IFEO + "\\" + SAMPLE_ENTRY: [("Debugger", REG_SZ, sz("ntsd -d"))],
        })
        self.default = self.host("Windows/System32/config/DEFAULT")
        build_hive(self.default, {USER_RUN: [
            ("DefaultStart", REG_SZ, sz(self.IMPOSTOR.lower())),
            ("Keep", REG_SZ, sz(r"C:\Windows\explorer.exe")),
        ]})
        self.alice = self.host("Users/alice/NTUSER.DAT")
        build_hive(self.alice, {USER_RUN: [
            ("Helper", REG_SZ, sz('"%s"' % self.USER_IMPOSTOR)),
            ("NearDot", REG_SZ, sz(self.IMPOSTOR + ".bak")),
        ]})
        # Real user hives: their Run values start nothing of the volume.
        self.bob = self.host("Users/bob/NTUSER.DAT")
        copy_file(corpus_file("data", "NTUSER.DAT"), self.bob)
        self.carol = self.host("Users/carol/ntuser.dat")
        copy_file(corpus_file("data", "NTUSER_modified.DAT"), self.carol)

    def host(self, relative):
        return os.path.join(self.root, *relative.replace("\\", "/").split("/"))

    def write(self, relative, data):
        write_file(self.host(relative), data)

    def windows_to_host(self, windows_path):
        return self.host(windows_path[3:])

    # What the clean-up must delete, hive by hive: (key, value name).
    def expected_deletions(self):
        return {
            self.software: {(MACHINE_RUN, "Updater"), (MACHINE_RUN, "Rundll"), (MACHINE_RUN, "Drivers"),
                            (IFEO + r"\taskmgr.exe", "Debugger"), (IFEO + r"\regedit.exe", "debugger"),
                            (WOW_RUN, "Wow"), (WOW_IFEO + r"\sethc.exe", "Debugger")},
            self.default: {(USER_RUN, "DefaultStart")},
            self.alice: {(USER_RUN, "Helper")},
            self.bob: set(),
            self.carol: set(),
        }

    def impostors(self):
        return {self.windows_to_host(p)
                for p in (self.IMPOSTOR, self.USER_IMPOSTOR, self.SUBDIR_IMPOSTOR, self.WOW_IMPOSTOR)}


def minus(dump, deletions):
    """dump with the given (key, value) pairs removed; keys compared ignoring case."""
    out = {}
    for key, values in dump.items():
        gone = {name for k, name in deletions if k.lower() == key.lower()}
        out[key] = {name: value for name, value in values.items() if name not in gone}
    return out


class VolumeCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="pestkill-volume-")
        self.volume = Volume(os.path.join(self.work, "volume"))
        self.quarantine = os.path.join(self.work, "quarantine")

    def tearDown(self):
        shutil.rmtree(self.work)


class ReportOnly(VolumeCase):
    def test_both_roads_are_detected_and_the_clean_up_is_listed(self):
        v = self.volume
        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        self.assertEqual(rc, 1, err)
        lines = json_lines(out)
        found = {d["path"]: d for d in lines if d.get("verdict") == "infected"}
        impostors = v.impostors()
        variant = v.windows_to_host(v.VARIANT_AS_LOGON)
        self.assertEqual(set(found), impostors | {variant})
        for path in impostors:
            self.assertEqual(found[path]["rule"], "winlogon impostor", path)
            self.assertIsNone(found[path]["variant"])
        self.assertEqual((found[variant]["rule"], found[variant]["variant"]), ("signature", "B"))
        # A signature match takes only the file, though a Run value starts it too.
        self.assertEqual(found[variant]["changes"], [{"change": "quarantine file", "path": variant}])

        # Every change is listed once, by the detection that needs it.
        changes = [c for d in found.values() for c in d["changes"]]
        roots = ("HKLM\\SOFTWARE\\", "HKU\\.DEFAULT\\", "HKCU\\")
        listed = [(c["hive"], next(c["key"][len(r):] for r in roots if c["key"].startswith(r)), c["value"])
                  for c in changes if "hive" in c]
        self.assertEqual(len(set(listed)), len(listed))
        expected = {(hive, key, name) for hive, pairs in v.expected_deletions().items() for key, name in pairs}
        self.assertEqual(set(listed), expected)
        for path in impostors:
            self.assertIn({"change": "quarantine file", "path": path}, found[path]["changes"])
        # The HKCU value belongs to the impostor it starts.
        user = v.windows_to_host(v.USER_IMPOSTOR)
        self.assertIn((v.alice, "Helper"), {(c.get("hive"), c.get("value")) for c in found[user]["changes"]})
        wow = v.windows_to_host(v.WOW_IMPOSTOR)
        self.assertIn((v.software, "HKLM\\SOFTWARE\\" + WOW_RUN, "Wow"),
                      {(c.get("hive"), c.get("key"), c.get("value")) for c in found[wow]["changes"]})

        hives = {d["hive"]: d for d in lines if "hive" in d}
        self.assertEqual(set(hives), {v.software, v.default, v.alice, v.bob, v.carol})
        self.assertTrue(all(h["state"] == "read" and not h["dirty"] for h in hives.values()), hives)
        self.assertEqual(err.count(": ERROR"), 0, err)

    def test_the_text_report_names_each_change(self):
        v = self.volume
        rc, out, err = run_scanner("--windows-root", v.root + "/")
        self.assertEqual(rc, 1, err)
        impostor = v.windows_to_host(v.IMPOSTOR)
        self.assertIn("%s: %s FOUND\n" % (impostor, DETECTION), out)
        # Key paths read as a registry editor spells them.
        self.assertIn('  --clean would delete value "Updater" of %s in %s\n'
                      % ("HKLM\\SOFTWARE\\" + MACHINE_RUN, v.software), out)
        self.assertIn('  --clean would delete value "DefaultStart" of %s in %s\n'
                      % ("HKU\\.DEFAULT\\" + USER_RUN, v.default), out)
        self.assertIn("  --clean would move the file %s into the quarantine\n" % impostor, out)
        self.assertNotIn(SAMPLE_ENTRY, out)
        self.assertNotIn("notepad.exe", out)
        rc, out, _ = run_scanner("--variant", "--windows-root", v.root)
        self.assertIn("%s: %s FOUND (winlogon impostor)\n" % (impostor, DETECTION), out)
        self.assertIn("%s: %s FOUND (variant B)\n" % (v.windows_to_host(v.VARIANT_AS_LOGON), DETECTION), out)

    def test_without_clean_every_byte_of_the_volume_stays(self):
        before = fingerprint(self.volume.root)
        for arguments in (["--windows-root", self.volume.root], ["--json", "-a", "--windows-root", self.volume.root]):
            rc, _, err = run_scanner(*arguments)
            self.assertEqual(rc, 1, err)
            self.assertEqual(fingerprint(self.volume.root), before)

    def test_no_impostor_without_a_run_value_or_inside_the_system_directory(self):
        v = self.volume
        # Only the DEFAULT user's Run key starts this one: the detection does not ask it.
        v.write("Other/winlogon.exe", b"MZ")
        build_hive(v.default, {USER_RUN: [("Start", REG_SZ, sz(r"C:\Other\winlogon.exe"))]})
        # SystemRoot names D:, so C:\Windows\System32 is no system directory here.
        build_hive(v.software, {r"Microsoft\Windows NT\CurrentVersion": [("SystemRoot", REG_SZ, sz(r"D:\WINNT"))],
                                MACHINE_RUN: [("Genuine", REG_SZ, sz(r"C:\Windows\System32\winlogon.exe"))]})
        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        found = {d["path"] for d in json_lines(out) if d.get("verdict") == "infected"}
        self.assertEqual(found, {v.windows_to_host(v.VARIANT_AS_LOGON), v.windows_to_host(v.USER_IMPOSTOR),
                                 v.host("Windows/System32/winlogon.exe")}, err)

    def test_the_system_root_defaults_to_c_windows(self):
        v = self.volume
        build_hive(v.software, {MACHINE_RUN: [("Genuine", REG_SZ, sz(r"C:\Windows\System32\winlogon.exe"))]})
        rc, out, err = run_scanner("--windows-root", v.root)
        self.assertNotIn(v.host("Windows/System32/winlogon.exe") + ":", out)
        self.assertIn("C:\\Windows is assumed", err)

    def test_names_on_the_mount_are_matched_ignoring_case(self):
        v = self.volume
        os.rename(v.host("Windows"), v.host("WINDOWS"))
        os.rename(v.host("WINDOWS/System32/config"), v.host("WINDOWS/System32/CONFIG"))
        os.rename(v.host("WINDOWS/System32/CONFIG/SOFTWARE"), v.host("WINDOWS/System32/CONFIG/software"))
        os.rename(v.host("Users"), v.host("users"))
        os.remove(v.host("Documents and Settings"))
        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        hives = {d["hive"] for d in json_lines(out) if "hive" in d}
        self.assertIn(v.host("WINDOWS/System32/CONFIG/software"), hives)
        self.assertIn(v.host("users/alice/NTUSER.DAT"), hives)
        found = {d["path"] for d in json_lines(out) if d.get("verdict") == "infected"}
        self.assertIn(v.host("users/alice/AppData/Roaming/winlogon.tmp.exe"), found)
        self.assertIn(v.host("ProgramData/WinLogon.exe"), found)
        self.assertNotIn(v.host("WINDOWS/System32/winlogon.exe"), found)


    def test_the_same_file_however_a_run_value_spells_it(self):
        v = self.volume
        build_hive(v.software, {
            r"Microsoft\Windows NT\CurrentVersion": [("SystemRoot", REG_SZ, sz(r"C:\WINDOWS"))],
            MACHINE_RUN: [
                ("Detour", REG_SZ, sz(r"C:\Windows\..\ProgramData\.\WinLogon.exe")),
                ("SystemRoot", REG_EXPAND_SZ, sz(r"%SystemRoot%\..\ProgramData\winlogon.exe /s")),
                # The machine's values are nobody's: %APPDATA% stays as written.
                ("NobodysAppData", REG_EXPAND_SZ, sz(r"%APPDATA%\winlogon.tmp.exe")),
                ("NearDetour", REG_SZ, sz(r"C:\Windows\..\ProgramData\WinLogon.exe.bak")),
            ]})
        build_hive(v.alice, {USER_RUN: [
            ("Slashes", REG_SZ, sz("C:/Users/alice/AppData/Roaming/winlogon.tmp.exe")),
            ("Expanded", REG_EXPAND_SZ, sz(r"%APPDATA%\winlogon.tmp.exe -q")),
            ("Literal", REG_SZ, sz(r"%APPDATA%\winlogon.tmp.exe")),
            ("OtherDrive", REG_SZ, sz(r"D:\Users\alice\AppData\Roaming\winlogon.tmp.exe")),
            ("Network", REG_SZ, sz(r"\\server\c$\Users\alice\AppData\Roaming\winlogon.tmp.exe")),
        ]})
        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        self.assertEqual(rc, 1, err)
        found = {d["path"]: d for d in json_lines(out) if d.get("verdict") == "infected"}
        changes = {(c.get("hive"), c.get("value")) for d in found.values() for c in d["changes"] if "hive" in c}
        self.assertEqual(changes, {(v.software, "Detour"), (v.software, "SystemRoot"),
                                   (v.alice, "Slashes"), (v.alice, "Expanded"), (v.default, "DefaultStart")})
        for path in (v.IMPOSTOR, v.USER_IMPOSTOR):
            self.assertEqual(found[v.windows_to_host(path)]["rule"], "winlogon impostor", path)

    def test_profiles_of_the_older_layout_are_read_too(self):
        v = self.volume
        os.remove(v.host("Documents and Settings"))
        impostor = r"C:\Documents and Settings\dave\Local Settings\Temp\Winlogon.EXE"
        v.write(impostor[3:], b"MZ")
        dave = v.host("Documents and Settings/dave/NTUSER.DAT")
        build_hive(dave, {USER_RUN: [("Start", REG_SZ, sz('"%s"  /quiet' % impostor.lower()))]})
        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        lines = json_lines(out)
        self.assertIn(dave, {d["hive"] for d in lines if "hive" in d})
        found = {d["path"]: d for d in lines if d.get("verdict") == "infected"}
        self.assertIn(v.windows_to_host(impostor), found, err)
        self.assertIn((dave, "Start"), {(c.get("hive"), c.get("value")) for c in found[v.windows_to_host(impostor)]["changes"]})


class Clean(VolumeCase):
    def test_clean_does_the_clean_up_and_a_second_run_finds_nothing(self):
        v = self.volume
        deletions = v.expected_deletions()
        dumps = {hive: dump_hive(hive) for hive in deletions}
        contents = {hive: read_bytes(hive) for hive in deletions}
        moved = v.impostors() | {v.windows_to_host(v.VARIANT_AS_LOGON)}
        moved_bytes = {path: read_bytes(path) for path in moved}

        # Whatever lies beside a hive under the name of its new version stays as it is.
        write_file(v.software + ".pestkill-new", b"not ours")
        rc, out, err = run_scanner("--json", "--windows-root", v.root, "--clean", "--quarantine", self.quarantine)
        self.assertEqual(rc, 1, err)
        self.assertNotIn(": ERROR", err)
        self.assertEqual(read_bytes(v.software + ".pestkill-new"), b"not ours")
        os.remove(v.software + ".pestkill-new")
        results = [d for d in json_lines(out) if "cleaned" in d]
        self.assertTrue(results and all(d["result"] == "done" for d in results), results)

        for hive, gone in deletions.items():
            after = dump_hive(hive)
            self.assertEqual(after, minus(dumps[hive], gone), hive)
            if not gone:  # a hive with nothing to delete is never written
                self.assertEqual(read_bytes(hive), contents[hive], hive)
        self.assertFalse(any(".pestkill-new" in name for _, _, names in os.walk(v.root) for name in names))

        # Each file and each changed hive's former self is in the quarantine, in the manifest.
        with open(os.path.join(self.quarantine, "manifest.jsonl")) as f:
            manifest = [json.loads(line) for line in f]
        files = {m["original"]: m for m in manifest if m["kind"] == "file"}
        self.assertEqual(set(files), moved)
        for path, entry in files.items():
            self.assertFalse(os.path.exists(path), path)
            self.assertEqual(entry["size"], len(moved_bytes[path]))
            self.assertEqual(entry["sha256"], hashlib.sha256(moved_bytes[path]).hexdigest())
            self.assertEqual(read_bytes(entry["quarantined"]), moved_bytes[path])
            self.assertRegex(entry["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertEqual(files[v.windows_to_host(v.VARIANT_AS_LOGON)]["rule"], "signature")
        self.assertEqual(files[v.windows_to_host(v.IMPOSTOR)]["rule"], "winlogon impostor")
        backups = {m["original"]: m for m in manifest if m["kind"] == "hive backup"}
        self.assertEqual(set(backups), {h for h, gone in deletions.items() if gone})
        for hive, entry in backups.items():
            self.assertEqual(read_bytes(entry["quarantined"]), contents[hive])
            self.assertEqual(entry["sha256"], hashlib.sha256(contents[hive]).hexdigest())

        # The genuine logon program and the files that are not the trojan stay.
        for kept in ("Windows/System32/winlogon.exe", "Temp/winlogon32.exe"):
            self.assertTrue(os.path.exists(v.host(kept)), kept)

        before = fingerprint(v.root)
        rc, out, err = run_scanner("--windows-root", v.root, "--clean", "--quarantine", self.quarantine)
        self.assertEqual((rc, out), (0, ""), err)
        self.assertEqual(fingerprint(v.root), before)

    def test_clean_needs_a_quarantine_off_the_volume(self):
        v = self.volume
        before = fingerprint(v.root)
        cases = [
            ["--windows-root", v.root, "--clean"],
            ["--windows-root", v.root, "--quarantine", self.quarantine],
            ["--clean", "--quarantine", self.quarantine, v.root],
            ["--windows-root", v.root, "--clean", "--quarantine", v.host("Temp/q")],
            ["--windows-root", v.root, "--clean", "--quarantine", v.root],
            ["--windows-root", v.root, "--clean", "--quarantine", self.quarantine, v.root],
            ["--windows-root"],
            ["--windows-root", v.host("Temp/winlogon32.exe")],
            ["--windows-root", v.root, "--clean", "--quarantine", self.quarantine, "--file-list", "-"],
            ["--windows-root", v.root, "--explain"],
            ["--windows-root", v.root, "--", "--clean"],
        ]
        for arguments in cases:
            rc, out, err = run_scanner(*arguments)
            self.assertEqual(rc, 2, (arguments, out, err))
            self.assertIn("pestkill-scan: ", err)
        self.assertEqual(fingerprint(v.root), before)


class DirtyHives(VolumeCase):
    def test_dirty_hives_are_named_and_never_written(self):
        v = self.volume
        user_hives = corpus_folder_of("transactions_NTUSER.DAT")
        # alice's hive holds the trojan's Run value but was not closed cleanly.
        make_dirty(v.alice, 9, 8)
        for ending in ("LOG1", "LOG2"):
            shutil.copyfile(os.path.join(user_hives, "transactions_ntuser.dat.log%s" % ending[-1]),
                            v.alice + "." + ending)
        # bob's is a real dirty hive with its logs; DEFAULT another, with nothing to delete.
        shutil.copyfile(os.path.join(user_hives, "transactions_NTUSER.DAT"), v.bob)
        dirty_default = corpus_file("NewDirtyHive1", "NewDirtyHive")
        shutil.copyfile(dirty_default, v.default)
        for ending in ("LOG1", "LOG2"):
            shutil.copyfile(dirty_default + "." + ending, v.default + "." + ending)
        dirty = {v.alice: (9, 8), v.bob: (567, 566), v.default: (3, 2)}

        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        hives = {d["hive"]: d for d in json_lines(out) if "hive" in d}
        for hive, numbers in dirty.items():
            self.assertTrue(hives[hive]["dirty"], hive)
            self.assertEqual(tuple(hives[hive]["sequence"]), numbers)
            self.assertIn("%s: WARNING" % hive, err)
        self.assertFalse(hives[v.software]["dirty"])
        rc, _, err = run_scanner("--windows-root", v.root)
        self.assertIn("%s: WARNING HKCU of alice hive was not closed cleanly (base block sequence numbers 9 and 8)"
                      % v.alice, err)

        untouched = {h: read_bytes(h) for h in list(dirty) + [v.carol]}
        software = dump_hive(v.software)
        rc, out, err = run_scanner("--json", "--windows-root", v.root, "--clean", "--quarantine", self.quarantine)
        self.assertEqual(rc, 1, err)
        for hive, data in untouched.items():
            self.assertEqual(read_bytes(hive), data, hive)
        refused = [d for d in json_lines(out) if "cleaned" in d and d["cleaned"].get("hive") == v.alice]
        self.assertEqual([d["cleaned"]["value"] for d in refused], ["Helper"])
        self.assertEqual(refused[0]["result"], "failed")
        self.assertIn("not closed cleanly", refused[0]["detail"])
        self.assertIn("%s: ERROR --clean did not delete value \"Helper\"" % v.alice, err)
        # The clean hives and the files are cleaned all the same.
        self.assertEqual(dump_hive(v.software), minus(software, v.expected_deletions()[v.software]))
        self.assertFalse(os.path.exists(v.windows_to_host(v.USER_IMPOSTOR)))
        with open(os.path.join(self.quarantine, "manifest.jsonl")) as f:
            backups = {json.loads(line)["original"] for line in f if '"hive backup"' in line}
        self.assertEqual(backups, {v.software})


class BadHives(VolumeCase):
    def test_each_bad_hive_gets_an_error_line_and_the_scan_goes_on(self):
        v = self.volume
        test_hives = corpus_folder_of("GarbageHive")
        os.remove(v.default)
        shutil.copyfile(os.path.join(test_hives, "GarbageHive"), v.software)
        bad = {
            "truncated": os.path.join(test_hives, "TruncatedHiveBin"),
            "badbase": os.path.join(test_hives, "BadBaseBlockHive", "BadBaseBlockHive"),
            "effective": os.path.join(test_hives, "EffectiveSizeHive"),
            "corrupt": corpus_file("corrupted_system_hive"),
        }
        for user, source in bad.items():
            write_file(v.host("Users/%s/NTUSER.DAT" % user), read_bytes(source))
        write_file(v.host("Users/empty/NTUSER.DAT"), b"")
        write_file(v.host("Users/short/NTUSER.DAT"), b"regf\1\0\0\0")
        # Thousands of values, the one that starts the impostor last.
        many = [("v%d" % i, REG_SZ, sz(r"C:\Apps\app%d.exe /x" % i)) for i in range(5000)]
        many.append(("Last", REG_SZ, sz(v.IMPOSTOR)))
        build_hive(v.host("Users/many/NTUSER.DAT"), {USER_RUN: many})

        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        self.assertEqual(rc, 1, err)
        hives = {d["hive"]: d for d in json_lines(out) if "hive" in d}
        failing = [v.software, v.default] + [v.host("Users/%s/NTUSER.DAT" % u) for u in list(bad) + ["empty", "short"]]
        for hive in failing:
            self.assertIn(hives[hive]["state"], ("missing", "unreadable"), hive)
            self.assertTrue(hives[hive]["error"], hive)
            self.assertEqual(sum(1 for line in err.splitlines() if line.startswith(hive + ": ERROR")), 1, hive)
        self.assertEqual(hives[v.default]["state"], "missing")
        self.assertEqual(hives[v.host("Users/many/NTUSER.DAT")]["state"], "read")
        found = {d["path"]: d for d in json_lines(out) if d.get("verdict") == "infected"}
        impostor = v.windows_to_host(v.IMPOSTOR)
        self.assertIn(impostor, found)
        self.assertIn("Last", {c.get("value") for c in found[impostor]["changes"]})
        notes = [d["note"] for d in json_lines(out) if "note" in d]
        self.assertEqual(notes, ["SOFTWARE does not name the system root; C:\\Windows is assumed"])

    def test_every_hostile_hive_is_read_or_refused(self):
        v = self.volume
        hostile = []
        for folder in (corpus_folder_of("GarbageHive"), corpus_folder_of("transactions_NTUSER.DAT"),
                       corpus_folder_of("images", "minimal")):
            for directory, _, names in os.walk(folder):
                hostile += [os.path.join(directory, n) for n in names if not n.lower().endswith((".log1", ".log2"))]
        self.assertGreater(len(hostile), 50)
        for number, source in enumerate(sorted(hostile)):
            write_file(v.host("Users/u%03d/NTUSER.DAT" % number), read_bytes(source))
        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        self.assertEqual(rc, 1, err)  # the impostors of the built hives are still found
        hives = {d["hive"]: d for d in json_lines(out) if "hive" in d}
        for number, source in enumerate(sorted(hostile)):
            entry = hives[v.host("Users/u%03d/NTUSER.DAT" % number)]
            self.assertIn(entry["state"], ("read", "unreadable"), source)
        found = {d["path"] for d in json_lines(out) if d.get("verdict") == "infected"}
        self.assertIn(v.windows_to_host(v.IMPOSTOR), found)


class OnTheScansRoads(VolumeCase):
    """The volume goes through the walk, the escaping and the exit rules of a scan of
    PATH operands."""

    def test_hostile_names_of_the_volume_and_its_hives(self):
        v = self.volume
        # A value name that would forge a detection line starts the impostor, from a
        # profile whose folder name holds a newline; another profile's folder name and
        # a variant image's name are not UTF-8, the latter with a terminal escape.
        forged = "Up\nX: %s FOUND" % DETECTION
        evil = v.host("Users/ev\nil/NTUSER.DAT")
        build_hive(evil, {USER_RUN: [(forged, REG_SZ, sz(v.IMPOSTOR))]})
        latin = os.path.join(os.fsencode(v.root), b"Users", b"caf\xe9", b"NTUSER.DAT")
        build_hive(os.path.join(self.work, "latin.dat"), {USER_RUN: [("Plain", REG_SZ, sz(r"C:\Windows\explorer.exe"))]})
        os.makedirs(os.path.dirname(latin))
        os.rename(os.path.join(self.work, "latin.dat"), latin)
        variant = os.path.join(os.fsencode(v.root), b"Tools", b"v\xe9\x1b[2J.exe")
        with open(variant, "wb") as f:
            f.write(variant_image("C"))

        rc, out, err = run_scanner("--windows-root", v.root)
        self.assertEqual(rc, 1, err)
        for line in out.splitlines():
            self.assertTrue(line.lstrip("\\").startswith((v.root + "/", "  --clean would ")), line)
        # The names from the hive and the volume make the line escaped, the key's
        # separators too.
        self.assertIn('\\  --clean would delete value "%s" of %s in %s\n'
                      % (text_name(forged), text_name("HKCU\\" + USER_RUN), text_name(evil)), out)
        self.assertNotIn("\x1b", out + err)
        self.assertIn("/Tools/v\ufffd\\x1b[2J.exe: %s FOUND\n" % DETECTION, out)

        rc, out, _ = run_scanner("-0", "--windows-root", v.root)
        self.assertEqual(rc, 1)
        self.assertIn('\0  --clean would delete value "%s" of ' % forged, out)
        records = [r for r in out.split("\0") if r]
        self.assertTrue(all(r.startswith(v.root + "/") or r.startswith("  --clean would ") for r in records), records)

        rc, out, err = run_scanner("--json", "--windows-root", v.root)
        self.assertEqual(rc, 1, err)
        lines = json_lines(out)
        def exact(d, member):
            if member + "_bytes" in d:
                return base64.b64decode(d[member + "_bytes"])
            return os.fsencode(d[member])
        hives = {exact(d, "hive") for d in lines if "hive" in d}
        self.assertTrue({latin, os.fsencode(evil)} <= hives, hives)
        found = {exact(d, "path"): d for d in lines if d.get("verdict") == "infected"}
        self.assertEqual((found[variant]["rule"], found[variant]["variant"]), ("signature", "C"))
        self.assertEqual([exact(c, "path") for c in found[variant]["changes"]], [variant])
        impostor = found[os.fsencode(v.windows_to_host(v.IMPOSTOR))]
        self.assertIn((evil, forged), {(c.get("hive"), c.get("value")) for c in impostor["changes"]})
        summary = lines[-1]["summary"]
        self.assertEqual((summary["infected"], summary["exit_status"], summary["interrupted"]),
                         (len(found), 1, False))

    def test_the_walk_passes_over_what_a_tree_scan_passes_over(self):
        v = self.volume
        v.write("Tools/plain.exe", variant_image("A"))
        os.link(v.host("Tools/plain.exe"), v.host("Tools/second.exe"))  # a variant image, twice
        os.link(v.host("ProgramData/WinLogon.exe"), v.host("ProgramData/copy.exe"))  # the impostor, twice
        rc, out, err = run_scanner("--json", "--exclude", "Temp", "--exclude", "*/alice/AppData",
                                   "--windows-root", v.root)
        self.assertEqual(rc, 1, err)
        lines = json_lines(out)
        by_path = {d["path"]: d for d in lines if "verdict" in d}
        # One content is judged once by the signatures...
        self.assertEqual(sorted(by_path[v.host(n)]["verdict"] for n in ("Tools/plain.exe", "Tools/second.exe")),
                         ["infected", "skipped"])
        # ...but the impostor rule asks about every name, whichever came first.
        self.assertEqual(by_path[v.host("ProgramData/WinLogon.exe")]["rule"], "winlogon impostor")
        self.assertIn(by_path[v.host("ProgramData/copy.exe")]["verdict"], ("not checked", "skipped"))
        self.assertEqual(by_path[v.host("Temp")], {"path": v.host("Temp"), "verdict": "skipped", "variant": None,
                                                   "reason": "excluded by Temp"})
        self.assertEqual(by_path[v.host("Users/alice/AppData")]["verdict"], "skipped")
        self.assertNotIn(v.windows_to_host(v.USER_IMPOSTOR), by_path)
        self.assertEqual(by_path[v.host("Documents and Settings")]["verdict"], "skipped")  # a link
        self.assertEqual(lines[-1]["summary"]["skipped"], sum(1 for d in lines if d.get("verdict") == "skipped"))

    def test_a_deep_volume_under_few_descriptors(self):
        v = self.volume
        deep = os.path.join(v.root, *["level"] * 600, "deep.exe")
        fd = os.open(v.root, os.O_RDONLY)
        for _ in range(600):
            os.mkdir("level", dir_fd=fd)
            inner = os.open("level", os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        with open(os.open("deep.exe", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as handle:
            handle.write(variant_image("D"))
        os.close(fd)
        self.addCleanup(subprocess.run, ["rm", "-rf", os.path.join(v.root, "level")], timeout=TIMEOUT)
        done = subprocess.run(["sh", "-c", 'ulimit -n 64 && exec "$@"', "sh", ARGS.scanner, "--windows-root", v.root],
                              capture_output=True, timeout=TIMEOUT)
        out, err = done.stdout.decode(), done.stderr.decode()
        self.assertEqual(done.returncode, 1, err)
        self.assertIn("%s: %s FOUND\n" % (deep, DETECTION), out)
        self.assertIn("%s: %s FOUND\n" % (v.windows_to_host(v.IMPOSTOR), DETECTION), out)
        self.assertNotIn("ERROR", err)

    def test_a_stop_signal_ends_the_scan_with_its_summary_and_no_clean_up(self):
        v = self.volume
        for number in range(3000):  # more lines than a pipe holds: the scanner waits for the reader
            write_file(v.host("Bulk/%04d.txt" % number), b"")
        before = fingerprint(v.root)
        scanner = subprocess.Popen([ARGS.scanner, "--json", "--clean", "--quarantine", self.quarantine,
                                    "--windows-root", v.root], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            time.sleep(1)
            scanner.send_signal(signal.SIGTERM)
            out, err = scanner.communicate(timeout=TIMEOUT)
        finally:
            if scanner.poll() is None:
                scanner.kill()
        err = err.decode()
        self.assertEqual(scanner.returncode, 143, err)
        summary = json_lines(out.decode())[-1]["summary"]
        self.assertEqual((summary["interrupted"], summary["signal"], summary["exit_status"]), (True, "SIGTERM", 143))
        self.assertLess(summary["files"], 3000)
        self.assertIn("--clean changed nothing", err)
        self.assertEqual(fingerprint(v.root), before)
        self.assertEqual(os.listdir(self.quarantine), [])

    def test_output_that_cannot_be_written_stops_the_scan_before_any_clean_up(self):
        v = self.volume
        before = fingerprint(v.root)
        for form in ([], ["--json"]):
            with self.subTest(form=form), open("/dev/full", "wb") as full:
                done = subprocess.run([ARGS.scanner] + form + ["--clean", "--quarantine", self.quarantine,
                                                               "--windows-root", v.root],
                                      stdout=full, stderr=subprocess.PIPE, timeout=TIMEOUT)
                err = done.stderr.decode()
                self.assertEqual(done.returncode, 2, err)
                self.assertIn("pestkill-scan: cannot write to standard output: %s" % os.strerror(28), err)
                self.assertIn("--clean changed nothing", err)
                self.assertEqual(fingerprint(v.root), before)
                self.assertEqual(os.listdir(self.quarantine), [])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--scanner", required=True)
    parser.add_argument("--images-tool", required=True)
    parser.add_argument("--corpus", required=True)
    ARGS, rest = parser.parse_known_args()
    if not os.path.exists(minimal_hive()):
        print("skipped: no hive corpus at %s" % ARGS.corpus)
        return 77
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
