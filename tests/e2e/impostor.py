#!/usr/bin/python3
"""pestkill.exe against a Winlogon impostor: a harmless program copied outside the
system directory as winlogon.exe, running, and started by Run values of three
hives. After the scan the process has ended, its file is gone, the Run values that
start it and every image debugger are deleted, and nothing else in the registry
has changed: not an unrelated Run value, not Run values that only nearly name the
file, not the sample debugger entry."""
import os
import re
import unittest

import e2e_main
from console_session import scan_answering_no
from planting import pending_deletions
from wine_prefix import WinePrefix

IMPOSTOR = "C:\\pk\\winlogon.exe"
# A second program that keeps running throughout; it is no threat and must survive.
BYSTANDER = "C:\\pk\\bystander.exe"

RUN = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
RUN_KEYS = {
    "HKLM": "HKEY_LOCAL_MACHINE\\" + RUN,
    "HKCU": "HKEY_CURRENT_USER\\" + RUN,
    "HKU\\.DEFAULT": "HKEY_USERS\\.DEFAULT\\" + RUN,
}
IFEO = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options"
SAMPLE_ENTRY = "Your Image File Name Here without a path"

# Run values that start the impostor: each is deleted.
STARTING_VALUES = [
    ("HKLM", "Logon Helper", "C:\\pk\\winlogon.exe"),
    ("HKCU", "Session", '"C:\\pk\\winlogon.exe" /background'),
    ("HKU\\.DEFAULT", "Logon Helper", "c:\\PK\\WINLOGON.EXE"),
]

# Run values that stay: an unrelated program, and values that come close to the
# impostor's path without starting it.
KEPT_VALUES = [
    ("HKLM", "Unrelated", "C:\\Program Files\\Tool\\tool.exe -start"),
    ("HKLM", "target followed by a letter", "C:\\pk\\winlogon.exec"),
    ("HKLM", "target followed by a dot", "C:\\pk\\winlogon.exe.bak"),
    ("HKCU", "target followed by a dot, quoted", '"C:\\pk\\winlogon.exe.old" /s'),
    ("HKLM", "longer name starting with the target", "C:\\pk\\winlogon.exe_backup.exe /quiet"),
    ("HKCU", "existing longer name starting with the target", "C:\\pk\\winlogon.exeshim.exe"),
    ("HKLM", "the target's directory", "C:\\pk"),
    ("HKCU", "the target's directory with a backslash", "C:\\pk\\"),
    ("HKU\\.DEFAULT", "the target's directory, quoted", '"C:\\pk\\"'),
    ("HKLM", "a file named after the target in a subdirectory", "C:\\pk\\winlogon.exe\\run.exe"),
    ("HKCU", "the target only as a later word", "C:\\pk\\winlogon.exe.bak C:\\pk\\winlogon.exe"),
]
# Files behind some near-miss values exist, so that their short (8.3) form is
# searched rather than the value itself.
EXISTING_NEAR_MISSES = ["C:\\pk\\winlogon.exeshim.exe", "C:\\pk\\winlogon.exe.bak"]

# Image File Execution Options entries: (entry, values before, values after).
DEBUGGER_ENTRIES = [
    ("notepad.exe", {"Debugger": IMPOSTOR, "GlobalFlag": "keep"}, {"GlobalFlag": "keep"}),
    ("sample-tool.exe", {"Debugger": "C:\\Tools\\dbg.exe -g"}, {}),
    (SAMPLE_ENTRY, {"Debugger": IMPOSTOR}, {"Debugger": IMPOSTOR}),
]


def reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def registry_setup():
    blocks = {}
    for hive, name, data in STARTING_VALUES + KEPT_VALUES:
        blocks.setdefault(RUN_KEYS[hive], []).append("%s=%s" % (reg_string(name), reg_string(data)))
    for entry, values, _ in DEBUGGER_ENTRIES:
        key = IFEO + "\\" + entry
        blocks[key] = ["%s=%s" % (reg_string(n), reg_string(d)) for n, d in values.items()]
    return "".join("[%s]\n%s\n\n" % (key, "\n".join(lines)) for key, lines in blocks.items())


class Impostor(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix("impostor", lister=e2e_main.programs.lister).__enter__()
        cls.addClassCleanup(cls.prefix.__exit__, None, None, None)
        prefix = cls.prefix
        for path in (IMPOSTOR, BYSTANDER):
            prefix.put_file(path, e2e_main.programs.sleeper)
        for path in EXISTING_NEAR_MISSES:
            prefix.put_file(path, e2e_main.programs.sleeper)
        prefix.reg_import(registry_setup())
        cls.bystander = prefix.start(BYSTANDER)
        cls.impostor = prefix.start(IMPOSTOR)
        cls.listed = prefix.wait_for_process(IMPOSTOR)[0]
        prefix.wait_for_process(BYSTANDER)

        cls.registry_before = prefix.settled_registry()
        cls.exit_status, cls.output, cls.expected_output = scan_answering_no(
            prefix, e2e_main.programs.pestkill, cls.listed)
        cls.registry_after = prefix.reg_export()

    def test_dialogue(self):
        self.assertEqual(self.output, self.expected_output)
        self.assertEqual(self.exit_status, 0)

    def test_process_ended_and_file_removed(self):
        self.prefix.wait_for_process(IMPOSTOR, present=False)
        self.assertIsNotNone(self.impostor.wait(timeout=30))
        on_disk = os.path.exists(self.prefix.host_path(IMPOSTOR))
        scheduled = "\\??\\" + self.listed in pending_deletions(self.prefix)
        # The process is ended before the file is removed, but ending is not
        # waited for: a file still in use is scheduled for deletion instead.
        self.assertTrue(not on_disk or scheduled, "impostor file neither deleted nor scheduled")
        print("\n  impostor file %s" % ("scheduled for deletion" if on_disk else "deleted at once"))

    def test_bystander_untouched(self):
        self.prefix.wait_for_process(BYSTANDER)
        self.assertIsNone(self.bystander.poll())
        for path in [BYSTANDER] + EXISTING_NEAR_MISSES:
            self.assertTrue(os.path.exists(self.prefix.host_path(path)), path)

    def test_run_values(self):
        for hive, key in RUN_KEYS.items():
            values = self.prefix.reg_values(key) or {}
            for value_hive, name, data in STARTING_VALUES:
                if value_hive == hive:
                    with self.subTest("%s: %s deleted" % (hive, name)):
                        self.assertNotIn(name, values)
            for value_hive, name, data in KEPT_VALUES:
                if value_hive == hive:
                    with self.subTest("%s: %s kept" % (hive, name)):
                        self.assertEqual(values.get(name), data)

    def test_image_debuggers(self):
        for entry, _, after in DEBUGGER_ENTRIES:
            with self.subTest(entry):
                # The entry itself stays, with everything but its debugger.
                self.assertEqual(self.prefix.reg_values(IFEO + "\\" + entry), after)

    def test_nothing_else_changed_in_the_registry(self):
        removed, added = registry_changes(self.registry_before, self.registry_after)
        # A whole export names the current user's hive by its SID under HKEY_USERS.
        user = current_user_key(self.registry_before)
        def header(key):
            return "[%s]" % key.replace("HKEY_CURRENT_USER", user).lower()
        expected_removed = {(header(RUN_KEYS[hive]), "%s=%s" % (reg_string(name), reg_string(data)))
                            for hive, name, data in STARTING_VALUES}
        expected_removed |= {(header(IFEO + "\\" + entry), "%s=%s" % (reg_string("Debugger"), reg_string(values["Debugger"])))
                             for entry, values, after in DEBUGGER_ENTRIES if "Debugger" not in after}
        self.assertEqual(removed, expected_removed)
        # The only addition allowed is a scheduled deletion of the impostor file.
        for key, line in added:
            self.assertEqual((key, line.split("=")[0]),
                             (header("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager"),
                              '"PendingFileRenameOperations"'))

def registry_changes(before, after):
    """(removed, added) value lines of two exports, as sets of (key header, line).
    Lines continued with a backslash are joined first, so a multi-line value is
    one line. A key that the 32-bit and 64-bit registry views share is exported
    under both names; its changes are named once, under the 64-bit name. Key
    names are compared ignoring case, as the registry does."""
    old, new = _registry_blocks(before), _registry_blocks(after)
    removed, added = set(), set()
    for key in set(old) | set(new):
        old_lines, new_lines = old.get(key), new.get(key)
        name = key.lower().replace("\\wow6432node\\", "\\")
        if new_lines is None:
            removed.add((name, key))
        if old_lines is None:
            added.add((name, key))
        removed |= {(name, line) for line in old_lines or [] if line not in (new_lines or [])}
        added |= {(name, line) for line in new_lines or [] if line not in (old_lines or [])}
    return removed, added


def current_user_key(export):
    """HKEY_USERS\\<SID> of the current user in a whole-registry export."""
    users = set(re.findall(r"^\[(HKEY_USERS\\S-1-5-21-[0-9-]+)[\\\]]", export, re.MULTILINE))
    assert len(users) == 1, users
    return users.pop()


def _registry_blocks(text):
    blocks = {}
    key = None
    pending = ""
    for line in text.splitlines():
        line = pending + (line.strip() if pending else line)
        pending = ""
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("["):
            key = line
            blocks[key] = []
        elif key is not None and line:
            blocks[key].append(line)
    return blocks


if __name__ == "__main__":
    e2e_main.run(__doc__)
