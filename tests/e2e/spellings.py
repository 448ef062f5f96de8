#!/usr/bin/python3
"""pestkill.exe against a Winlogon impostor whose Run value spells its path in
another way than the module list does: through a drive alias (the drive X: is the
folder C:\\evil), with forward slashes, with a detour through "..", in its short
(8.3) form, or as an expandable string with a variable. One spelling per run, in a
prefix of its own (--spelling NAME): the scan finds the impostor, ends it, removes
its file and deletes that value, while the near misses beside it stay: a longer
name, another name and another program in the aliased folder, a network path with
the same file name, and the variable in a plain string, which is not expanded."""
import argparse
import os
import sys
import unittest

import e2e_main
from console_session import scan_answering_no
from planting import pending_deletions
from wine_prefix import WinePrefix

RUN = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
USER_RUN = "HKEY_CURRENT_USER\\" + RUN
MACHINE_RUN = "HKEY_LOCAL_MACHINE\\" + RUN
REG_SZ, REG_EXPAND_SZ = 1, 2

IMPOSTOR = "C:\\evil\\winlogon.exe"
LONG_FORM = "C:\\Program Files\\Logon Tools\\winlogon.service.exe"
# Files of the aliased folder that no value may take for the impostor.
NEIGHBOURS = ["C:\\evil\\winlogon.exe.bak", "C:\\evil\\winlogon32.exe", "C:\\evil\\other.exe"]

# name: (the path the impostor is started from, its Run value's type and data). A
# data of None is worked out in the prefix (the short form of the path).
SPELLINGS = {
    "alias-in-value": (IMPOSTOR, REG_SZ, "X:\\winlogon.exe"),
    "alias-in-module": ("X:\\winlogon.exe", REG_SZ, IMPOSTOR),
    "forward-slashes": (IMPOSTOR, REG_SZ, "C:/evil/winlogon.exe"),
    "dot-dot": (IMPOSTOR, REG_SZ, "C:\\tmp\\..\\evil\\winlogon.exe"),
    "short-form": (LONG_FORM, REG_SZ, None),
    "expandable": ("%APPDATA%\\winlogon.exe", REG_EXPAND_SZ, "%APPDATA%\\winlogon.exe"),
}

# Values that stay whatever the spelling: (key, name, data), all plain strings.
NEAR_MISSES = [
    (MACHINE_RUN, "longer name", "C:\\evil\\winlogon.exe.bak"),
    (USER_RUN, "another name through the alias", "X:\\winlogon32.exe"),
    (MACHINE_RUN, "another program through the alias", "X:\\other.exe -x"),
    (USER_RUN, "network path with the same name", "\\\\pkserver\\evil\\winlogon.exe"),
    (USER_RUN, "a variable in a plain string", "%APPDATA%\\winlogon.exe"),
]
STARTING_NAME = "Logon Session"

SPELLING = None  # set from the command line


def reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def reg_data(value_type, data):
    if value_type == REG_SZ:
        return reg_string(data)
    units = (data + "\0").encode("utf-16-le")
    return "hex(2):" + ",".join("%02x" % b for b in units)


def command_output(prefix, line):
    """The first line cmd prints for line."""
    _, out, _ = prefix.wine(["cmd", "/c", line])
    return out.decode("latin-1").splitlines()[0].strip()


class Spelling(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix("spelling", lister=e2e_main.programs.lister).__enter__()
        cls.addClassCleanup(cls.prefix.__exit__, None, None, None)
        prefix = cls.prefix
        start, value_type, data = SPELLINGS[SPELLING]

        # The drive X: is the folder C:\evil.
        for path in [IMPOSTOR] + NEIGHBOURS:
            prefix.put_file(path, e2e_main.programs.sleeper)
        os.symlink("../drive_c/evil", os.path.join(prefix.path, "dosdevices", "x:"))
        if "%APPDATA%" in start:
            start = start.replace("%APPDATA%", command_output(prefix, "echo %APPDATA%"))
        if start.upper().startswith("C:"):
            prefix.put_file(start, e2e_main.programs.sleeper)
        if data is None:
            # The short form as the prefix's file system gives it, from a batch file,
            # where cmd reads the quotes itself.
            batch = "C:\\short-form.bat"
            with open(prefix.host_path(batch), "w") as out:
                out.write('@for %%%%I in ("%s") do @echo %%%%~sI\r\n' % start)
            data = command_output(prefix, batch)
            os.remove(prefix.host_path(batch))
            assert data.upper() != start.upper() and "~" in data, data
        cls.start_path, cls.value_type, cls.data = start, value_type, data
        print("\n  %s: started as %s, Run value %s" % (SPELLING, start, data))

        lines = {USER_RUN: ["%s=%s" % (reg_string(STARTING_NAME), reg_data(value_type, data))]}
        for key, name, kept in NEAR_MISSES:
            lines.setdefault(key, []).append("%s=%s" % (reg_string(name), reg_string(kept)))
        prefix.reg_import("".join("[%s]\n%s\n\n" % (key, "\n".join(block)) for key, block in lines.items()))

        cls.impostor = prefix.start(start)
        cls.listed = prefix.wait_for_process(start)[0]
        cls.exit_status, cls.output, cls.expected_output = scan_answering_no(
            prefix, e2e_main.programs.pestkill, cls.listed)

    def test_dialogue(self):
        self.assertEqual(self.output, self.expected_output)
        self.assertEqual(self.exit_status, 0)

    def test_process_ended_and_file_removed(self):
        self.prefix.wait_for_process(self.listed, present=False)
        self.assertIsNotNone(self.impostor.wait(timeout=30))
        on_disk_path = self.start_path if self.start_path.upper().startswith("C:") else IMPOSTOR
        on_disk = os.path.exists(self.prefix.host_path(on_disk_path))
        scheduled = "\\??\\" + self.listed in pending_deletions(self.prefix)
        self.assertTrue(not on_disk or scheduled, "impostor file neither deleted nor scheduled")

    def test_the_starting_value_is_deleted(self):
        self.assertNotIn(STARTING_NAME, self.prefix.reg_values(USER_RUN) or {})

    def test_near_misses_stay(self):
        for key, name, data in NEAR_MISSES:
            with self.subTest(name):
                self.assertEqual((self.prefix.reg_values(key) or {}).get(name), data)
        for path in NEIGHBOURS:
            self.assertTrue(os.path.exists(self.prefix.host_path(path)), path)


if __name__ == "__main__":
    # --spelling NAME is this script's own; the rest goes to the shared command line.
    own = argparse.ArgumentParser(add_help=False)
    own.add_argument("--spelling", required=True, choices=sorted(SPELLINGS))
    parsed, rest = own.parse_known_args()
    SPELLING = parsed.spelling
    sys.argv = [sys.argv[0]] + rest
    e2e_main.run(__doc__)
