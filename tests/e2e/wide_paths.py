#!/usr/bin/python3
"""pestkill.exe against programs running from folders whose names the ANSI code
page cannot spell (Cyrillic, Japanese), where the module list gives the path with
question marks, and from a Latin-1 folder that the code page spells. Variant
images are reported with the path as the module list gives it and their file is
deleted or scheduled for deletion; a Winlogon impostor started from the machine's
or the user's Run key is ended, removed and unhooked, while the Run value of a
same-length foreign folder, of a Latin-1 twin and of the literal question-mark
spelling stay; a Winlogon in such a folder that only another folder's Run value
names is no impostor. A Polish folder, which the module list spells with look-alike
letters instead of question marks, takes the same road."""
import os
import unittest

import e2e_main
from console_session import (COMPLETED, ConsoleSession, clean_dialogue, console_bytes,
                             detection_dialogue)
from impostor import IFEO, RUN_KEYS, reg_string
from planting import clear_pending, end, hold_open, pending_deletions, plant
from wine_prefix import WinePrefix

# Wine reads program arguments and file names in the Unix locale's character set,
# and takes its ANSI code page (1252) from it.
os.environ["LC_ALL"] = "C.UTF-8"

VARIANT_CASES = [
    # (case, variant, image path, another process holds the file open, the code
    # page spells the path)
    ("Cyrillic folder, file free", "a", "C:\\Прога\\Tool.exe", False, False),
    ("Cyrillic folder, file held", "b", "C:\\Прога\\Held\\Tool.exe", True, False),
    ("Japanese folder, file free", "c", "C:\\データ\\Tool.exe", False, False),
    ("Japanese folder, file held", "d", "C:\\データ\\Held\\Tool.exe", True, False),
    # No barred L nor z with acute in the code page: the module list puts the
    # look-alikes L and z, which spell another folder.
    ("Polish folder, file free", "b", "C:\\Łódź\\Tool.exe", False, False),
    ("Latin-1 folder, file free", "a", "C:\\Café\\Tool.exe", False, True),
]

HOLDER = "C:\\pk\\holder\\holder.exe"

IMPOSTOR = "C:\\Прога\\WinLogon.exe"
# Values that start the impostor, by the hive that makes it one; the default
# user's value is cleaned with them.
STARTING = {
    "HKLM": [("HKLM", "Logon Helper", "C:\\Прога\\WinLogon.exe"),
             ("HKU\\.DEFAULT", "Logon Helper", "c:\\Прога\\WINLOGON.EXE")],
    "HKCU": [("HKCU", "Session", '"C:\\Прога\\winlogon.exe" /background'),
             ("HKU\\.DEFAULT", "Session", "C:\\Прога\\WinLogon.exe")],
}
# Values of other files that read the same in the code page, or nearly.
KEPT = [
    ("HKLM", "same-length foreign folder", "C:\\Драма\\WinLogon.exe"),
    ("HKCU", "same-length foreign folder, quoted", '"C:\\Драма\\WinLogon.exe" /s'),
    ("HKLM", "Latin-1 twin", "C:\\Prága\\WinLogon.exe"),
    ("HKCU", "question marks as written", "C:\\?????\\WinLogon.exe"),
    ("HKU\\.DEFAULT", "same-length foreign folder", "C:\\Драма\\WinLogon.exe"),
]
DEBUGGER_ENTRIES = [
    ("notepad.exe", {"Debugger": IMPOSTOR, "GlobalFlag": "keep"}, {"GlobalFlag": "keep"}),
    ("sample-tool.exe", {"Debugger": "C:\\Tools\\dbg.exe -g"}, {}),
]


def registry_text(values, debuggers=()):
    blocks = {}
    for hive, name, data in values:
        blocks.setdefault(RUN_KEYS[hive], []).append("%s=%s" % (reg_string(name), reg_string(data)))
    for entry, entry_values, _ in debuggers:
        blocks[IFEO + "\\" + entry] = ["%s=%s" % (reg_string(n), reg_string(d)) for n, d in entry_values.items()]
    return "".join("[%s]\n%s\n\n" % (key, "\n".join(lines)) for key, lines in blocks.items())


def registry_removal(values):
    blocks = {}
    for hive, name, _ in values:
        blocks.setdefault(RUN_KEYS[hive], []).append("%s=-" % reg_string(name))
    return "".join("[%s]\n%s\n\n" % (key, "\n".join(lines)) for key, lines in blocks.items())


class WidePaths(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix("wide", lister=e2e_main.programs.lister).__enter__()
        cls.addClassCleanup(cls.prefix.__exit__, None, None, None)
        images = os.path.join(cls.prefix.path, "images")
        os.mkdir(images)
        cls.prefix.wine([e2e_main.programs.make_images, "Z:" + images.replace("/", "\\")])
        cls.images = {v: os.path.join(images, "variant-%s.exe" % v) for v in "abcd"}

    def setUp(self):
        self.started = []

    def tearDown(self):
        for process, path in reversed(self.started):
            if process.poll() is None:
                end(self.prefix, process, path)
            if path != HOLDER and os.path.exists(self.prefix.host_path(path)):
                os.remove(self.prefix.host_path(path))
        self.started = []
        clear_pending(self.prefix)

    def listed_path(self, path, spelt):
        """The path as the module list gives it in the code page; for a folder
        it cannot spell, question marks or look-alike letters stand in it."""
        (listed,) = self.prefix.wait_for_process(path)
        if spelt:
            self.assertEqual(listed.lower(), path.lower())
        else:
            self.assertNotEqual(listed.lower(), path.lower())
        return listed

    def run_scan(self, listed, detected):
        asked = detection_dialogue(listed) if detected else None
        with ConsoleSession(self.prefix, e2e_main.programs.pestkill) as session:
            if detected:
                session.wait_for_output(console_bytes(asked))
                session.assert_waiting()
                session.send("n\r")
                expected = asked + COMPLETED
            else:
                expected = clean_dialogue()
            session.wait_for_output(console_bytes(expected))
            session.assert_waiting()
            self.assertEqual(session.finish_with_key(), 0)
            self.assertEqual(session.output(), console_bytes(expected))

    def assert_removed_or_scheduled(self, path, held=None):
        on_disk = os.path.exists(self.prefix.host_path(path))
        scheduled = [p.lower() for p in pending_deletions(self.prefix)]
        is_scheduled = ("\\??\\" + path).lower() in scheduled
        if held is None:
            self.assertTrue(not on_disk or is_scheduled, "file neither deleted nor scheduled")
        elif held:
            self.assertTrue(on_disk, "held file was deleted")
            self.assertTrue(is_scheduled, "deletion of %s not scheduled: %r" % (path, scheduled))
        else:
            self.assertFalse(on_disk, "file still there")
            self.assertFalse(is_scheduled, "deleted file also scheduled")

    def test_variants_reported_and_removed(self):
        for case, variant, path, held, spelt in VARIANT_CASES:
            with self.subTest(case):
                try:
                    plant(self.prefix, e2e_main.programs.sleeper, path, self.images[variant], self.started)
                    if held:
                        hold_open(self.prefix, e2e_main.programs.sleeper, HOLDER, path, self.started)
                    self.run_scan(self.listed_path(path, spelt), detected=True)
                    self.assert_removed_or_scheduled(path, held)
                    # A signature match leaves the process running.
                    self.prefix.wait_for_process(path)
                finally:
                    self.tearDown()

    def test_impostor_started_from_each_hive(self):
        for hive in ("HKLM", "HKCU"):
            with self.subTest(hive):
                values = STARTING[hive] + KEPT
                try:
                    self.prefix.reg_import(registry_text(values, DEBUGGER_ENTRIES))
                    self.prefix.put_file(IMPOSTOR, e2e_main.programs.sleeper)
                    process = self.prefix.start(IMPOSTOR)
                    self.started.append((process, IMPOSTOR))
                    listed = self.listed_path(IMPOSTOR, spelt=False)

                    self.run_scan(listed, detected=True)

                    self.prefix.wait_for_process(IMPOSTOR, present=False)
                    self.assertIsNotNone(process.wait(timeout=30))
                    self.assert_removed_or_scheduled(IMPOSTOR)
                    for value_hive, name, data in values:
                        kept = self.prefix.reg_values(RUN_KEYS[value_hive]) or {}
                        if (value_hive, name, data) in KEPT:
                            self.assertEqual(kept.get(name), data, "%s: %s" % (value_hive, name))
                        else:
                            self.assertNotIn(name, kept, "%s: %s" % (value_hive, name))
                    for entry, _, after in DEBUGGER_ENTRIES:
                        self.assertEqual(self.prefix.reg_values(IFEO + "\\" + entry), after, entry)
                finally:
                    self.prefix.reg_import(registry_removal(values))
                    self.tearDown()

    def test_winlogon_named_only_by_another_folder_is_no_impostor(self):
        for case, impostor, other in [
                # Both folders read C:\?????\ in the code page.
                ("Cyrillic", IMPOSTOR, "C:\\Драма\\WinLogon.exe"),
                # C:\Łódź\ reads C:\Lódz\, an existing folder of another program.
                ("Polish", "C:\\Łódź\\WinLogon.exe", "C:\\Lódz\\WinLogon.exe")]:
            with self.subTest(case):
                values = [("HKLM", "other folder", other), ("HKCU", "other folder, quoted", '"%s" /s' % other)]
                try:
                    self.prefix.reg_import(registry_text(values))
                    self.prefix.put_file(other, e2e_main.programs.sleeper)
                    self.prefix.put_file(impostor, e2e_main.programs.sleeper)
                    process = self.prefix.start(impostor)
                    self.started.append((process, impostor))
                    self.listed_path(impostor, spelt=False)

                    self.run_scan(None, detected=False)

                    self.assertIsNone(process.poll(), "the program was ended")
                    for path in (impostor, other):
                        self.assertTrue(os.path.exists(self.prefix.host_path(path)), path)
                    self.assertEqual(pending_deletions(self.prefix), [])
                    for hive, name, data in values:
                        self.assertEqual((self.prefix.reg_values(RUN_KEYS[hive]) or {}).get(name), data, name)
                finally:
                    self.prefix.reg_import(registry_removal(values))
                    self.tearDown()
                    os.remove(self.prefix.host_path(other))

if __name__ == "__main__":
    e2e_main.run(__doc__)
