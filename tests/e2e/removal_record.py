#!/usr/bin/python3
"""The record of a clean-up, and the way back. pestkill.exe ends a Winlogon
impostor whose Run values are strings, an expandable string, a multi-string and
raw bytes, and clears Image File Execution Options debuggers of every type, among
them entries whose names the code page cannot spell (тест.exe) or spells
(Prüfung.exe), while the sample entry keeps its own in any case. Before each
removal it writes C:\\windows\\debug\\pestkill.log (appended: date, detection, the
file's size and SHA-256 and what became of it, each value) and the deleted values
into pestkill-undo-DATE-TIME.reg; "reg import" of that file gives back every
value, type and byte as it was. A second clean-up appends and gets an undo file of
its own; a record that cannot be written changes nothing of the clean-up or the
dialogue."""
import hashlib
import os
import unittest

import e2e_main
from console_session import scan_answering_no
from impostor import IFEO, RUN_KEYS, registry_changes, reg_string
from removal_log import clear_record, debug_folder, read_log, undo_files, windows_path
from wine_prefix import WinePrefix

# Wine reads file names in the Unix locale's character set.
os.environ["LC_ALL"] = "C.UTF-8"

IMPOSTOR = "C:\\pk\\winlogon.exe"
SAMPLE_ENTRY = "YOUR IMAGE FILE NAME HERE WITHOUT A PATH"


def utf16(text):
    return text.encode("utf-16-le")


def hex_bytes(data):
    return ",".join("%02x" % b for b in data)


# (hive, name, .reg data) of Run values that start the impostor: all deleted.
STARTING = [
    ("HKLM", "Logon Helper", reg_string(IMPOSTOR)),
    ("HKCU", "Session", reg_string('"%s" /background' % IMPOSTOR)),
    ("HKCU", "Watcher", reg_string("C:\\tools\\monitor.exe --watch %s" % IMPOSTOR)),
    ("HKCU", "Expanding", "hex(2):" + hex_bytes(utf16(IMPOSTOR + "\0"))),
    ("HKLM", "Listed", "hex(7):" + hex_bytes(utf16(IMPOSTOR + "\0second\0\0"))),
    ("HKU\\.DEFAULT", "Raw", "hex:" + hex_bytes(IMPOSTOR.encode() + b"\0")),
]
KEPT = [("HKLM", "Unrelated", reg_string("C:\\Program Files\\Tool\\tool.exe -start"))]

# Image File Execution Options entries, each with a Debugger of its own kind.
DEBUGGERS = [
    ("pkr-quotes.exe", reg_string('"C:\\Tools\\dbg.exe" -g "\\\\server\\x\\"')),
    ("pkr-expand.exe", "hex(2):" + hex_bytes(utf16("%SystemRoot%\\dbg.exe\0"))),
    ("pkr-multi.exe", "hex(7):" + hex_bytes(utf16("a\0b c\0\0"))),
    ("pkr-dword.exe", "dword:12345678"),
    ("pkr-qword.exe", "hex(b):01,02,03,04,05,06,07,08"),
    ("pkr-binary.exe", "hex:" + hex_bytes(bytes(range(40)))),
    ("pkr-none.exe", "hex(0):01,02"),
    ("pkr-odd.exe", "hex(12345):41,00"),
    ("pkr-empty.exe", "hex(1):"),
    ("pkr-unterminated.exe", "hex(1):61,00,62,00"),
    ("\u0442\u0435\u0441\u0442.exe", reg_string("C:\\dbg\\\u043e\u0442\u043b\u0430\u0434\u0447\u0438\u043a.exe")),
    ("Pr\u00fcfung.exe", reg_string("C:\\dbg.exe")),
]


def registry_setup():
    blocks = {}
    for hive, name, data in STARTING + KEPT:
        blocks.setdefault(RUN_KEYS[hive], []).append("%s=%s" % (reg_string(name), data))
    for entry, data in DEBUGGERS + [(SAMPLE_ENTRY, reg_string(IMPOSTOR))]:
        blocks[IFEO + "\\" + entry] = ['"Debugger"=%s' % data, '"GlobalFlag"=dword:00000200']
    return "".join("[%s]\n%s\n\n" % (key, "\n".join(lines)) for key, lines in blocks.items())


WATCHED_KEYS = list(RUN_KEYS.values()) + [IFEO]


class RemovalRecord(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix("record", lister=e2e_main.programs.lister).__enter__()
        cls.addClassCleanup(cls.prefix.__exit__, None, None, None)

    def setUp(self):
        clear_record(self.prefix)
        self.prefix.reg_import(registry_setup())
        self.before = {key: self.prefix.reg_export(key) for key in WATCHED_KEYS}

    def tearDown(self):
        folder = debug_folder(self.prefix)
        if os.path.isfile(folder):
            os.remove(folder)
        if os.path.isdir(folder + ".aside"):
            os.rename(folder + ".aside", folder)
        clear_record(self.prefix)

    def clean_up_impostor(self):
        """Plants and starts the impostor, runs the scan through its dialogue and
        waits until the process has ended."""
        self.prefix.put_file(IMPOSTOR, e2e_main.programs.sleeper)
        process = self.prefix.start(IMPOSTOR)
        (listed,) = self.prefix.wait_for_process(IMPOSTOR)
        status, output, expected = scan_answering_no(self.prefix, e2e_main.programs.pestkill, listed)
        self.assertEqual(status, 0)
        self.assertEqual(output, expected)
        self.assertIsNotNone(process.wait(timeout=30))
        self.prefix.wait_for_process(IMPOSTOR, present=False)

    def assert_cleaned(self):
        for hive, name, _ in STARTING:
            self.assertNotIn(name, self.prefix.reg_values(RUN_KEYS[hive]) or {}, name)
        for hive, name, _ in KEPT:
            self.assertIn(name, self.prefix.reg_values(RUN_KEYS[hive]) or {}, name)
        for entry, _ in DEBUGGERS:
            self.assertEqual(set(self.prefix.reg_values(IFEO + "\\" + entry)), {"GlobalFlag"}, entry)
        self.assertIn("Debugger", self.prefix.reg_values(IFEO + "\\" + SAMPLE_ENTRY))

    def test_log_and_undo_give_back_every_value(self):
        with open(e2e_main.programs.sleeper, "rb") as image:
            content = image.read()
        self.clean_up_impostor()
        self.assert_cleaned()

        log = read_log(self.prefix)
        lines = log.split("\r\n")
        self.assertEqual(lines[-1], "", "the log ends with a line break")
        self.assertRegex(lines[0], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d detected: C:\\pk\\winlogon\.exe "
                                   r"\(rule: winlogon impostor\)$")
        self.assertIn("  file %s: %d bytes, SHA-256 %s" % (IMPOSTOR, len(content), hashlib.sha256(content).hexdigest()),
                      lines)
        self.assertTrue({"  file %s: removed now" % IMPOSTOR, "  file %s: removed at the restart" % IMPOSTOR}
                        & set(lines), log)
        (undo,) = undo_files(self.prefix)
        self.assertRegex(os.path.basename(undo), r"^pestkill-undo-\d{8}-\d{6}\.reg$")
        kept_in = ", kept in C:\\windows\\debug\\%s" % os.path.basename(undo)
        value_lines = [line for line in lines if line.startswith("  value ")]
        self.assertEqual(len(value_lines), len(STARTING) + len(DEBUGGERS), log)
        for line in value_lines:
            self.assertTrue(line.endswith(kept_in), line)
        self.assertIn('  value HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run "Expanding": '
                      "REG_EXPAND_SZ, %d bytes%s" % (len(utf16(IMPOSTOR + "\0")), kept_in), lines)
        self.assertIn('  value %s\\\u0442\u0435\u0441\u0442.exe "Debugger": REG_SZ' % IFEO, log)

        with open(undo, "rb") as text:
            self.assertTrue(text.read().startswith(b"\xff\xfe" + utf16("Windows Registry Editor Version 5.00\r\n")))
        self.prefix.wine(["reg", "import", windows_path(undo)])
        for key in WATCHED_KEYS:
            with self.subTest(key):
                self.assertEqual(registry_changes(self.before[key], self.prefix.reg_export(key)), (set(), set()))

    def test_second_clean_up_appends(self):
        self.clean_up_impostor()
        (first,) = undo_files(self.prefix)
        self.prefix.wine(["reg", "import", windows_path(first)])
        self.clean_up_impostor()
        self.assert_cleaned()
        log = read_log(self.prefix)
        self.assertEqual(log.count(" detected: %s (rule: winlogon impostor)\r\n" % IMPOSTOR), 2, log)
        self.assertEqual(len(undo_files(self.prefix)), 2)

    def test_record_that_cannot_be_written_changes_nothing(self):
        # A file where the folder should be: neither the log nor an undo file can be
        # made.
        folder = debug_folder(self.prefix)
        if os.path.isdir(folder):
            os.rename(folder, folder + ".aside")
        with open(folder, "wb"):
            pass
        self.clean_up_impostor()
        self.assert_cleaned()
        self.assertTrue(os.path.isfile(folder))


if __name__ == "__main__":
    e2e_main.run(__doc__)
