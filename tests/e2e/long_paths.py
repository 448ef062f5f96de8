#!/usr/bin/python3
"""pestkill.exe against variant images running from paths longer than the module
list holds: it gives the first 259 characters (...\\planted.ex), which name no
file. The process's whole image path is judged, shown in the "File:" line and
removed, and the clean-up log names that path, the file's size and SHA-256 and
what became of it. A path of 259 characters, which the module list holds whole,
still takes the road of any other path. A Winlogon impostor at 300 characters is
matched with its Run value by its whole path, ended, removed and unhooked."""
import hashlib
import os

import e2e_main
from console_session import scan_answering_no
from planted_case import PlantedCase
from impostor import RUN_KEYS, reg_string
from planting import pending_deletions
from removal_log import clear_record, read_log

# The module list's field holds MAX_PATH (260) characters with the terminator.
MODULE_PATH_CHARACTERS = 259


def long_path(length, tail="\\planted.exe"):
    """A path of exactly length characters, in folders of at most 100 characters."""
    head = "C:\\pk\\long"
    needed = length - len(head) - len(tail)
    parts = []
    while needed > 0:
        size = min(needed - 1, 100)
        if needed - (size + 1) == 1:
            size -= 1  # a lone backslash would be left over
        parts.append("\\" + "d" * size)
        needed -= size + 1
    path = head + "".join(parts) + tail
    assert len(path) == length, (length, len(path))
    return path


class LongPaths(PlantedCase):
    prefix_tag = "long"

    def plant_long(self, variant, path):
        """As planting.plant, waiting for the process by the path the module list
        gives for it."""
        self.prefix.put_file(path, e2e_main.programs.sleeper)
        self.started.append((self.prefix.start(path), path))
        (listed,) = self.prefix.wait_for_process(path[:MODULE_PATH_CHARACTERS])
        self.prefix.replace_file(path, self.images[variant])
        return listed

    def scan(self, reported_path):
        status, output, expected = scan_answering_no(self.prefix, e2e_main.programs.pestkill, reported_path)
        self.assertEqual(status, 0)
        self.assertEqual(output, expected)

    def test_long_paths_found_and_removed(self):
        for length in (MODULE_PATH_CHARACTERS, 260, 300):
            with self.subTest(length=length):
                path = long_path(length)
                try:
                    clear_record(self.prefix)
                    listed = self.plant_long("a", path)
                    self.assertEqual(listed.lower(), path[:MODULE_PATH_CHARACTERS].lower())
                    self.scan(path)
                    self.assertFalse(os.path.exists(self.prefix.host_path(path)), "file still there")
                    self.assertEqual(pending_deletions(self.prefix), [])

                    with open(self.images["a"], "rb") as image:
                        content = image.read()
                    log = read_log(self.prefix)
                    self.assertIn(" detected: %s (rule: signature)\r\n" % path, log)
                    self.assertIn("  file %s: %d bytes, SHA-256 %s\r\n"
                                  % (path, len(content), hashlib.sha256(content).hexdigest()), log)
                    self.assertIn("  file %s: removed now\r\n" % path, log)
                finally:
                    self.tearDown()

    def test_long_impostor_ended_removed_and_unhooked(self):
        path = long_path(300, tail="\\winlogon.exe")
        values = [("HKCU", "pk long logon", '"%s" /background' % path),
                  ("HKLM", "pk long logon, cut", path[:MODULE_PATH_CHARACTERS])]
        blocks = "".join("[%s]\n%s=%s\n\n" % (RUN_KEYS[hive], reg_string(name), reg_string(data))
                         for hive, name, data in values)
        try:
            clear_record(self.prefix)
            self.prefix.reg_import(blocks)
            self.prefix.put_file(path, e2e_main.programs.sleeper)
            process = self.prefix.start(path)
            self.started.append((process, path))
            self.prefix.wait_for_process(path[:MODULE_PATH_CHARACTERS])
            self.scan(path)
            self.assertIsNotNone(process.wait(timeout=30))
            on_disk = os.path.exists(self.prefix.host_path(path))
            self.assertTrue(not on_disk or pending_deletions(self.prefix), "file neither deleted nor scheduled")
            self.assertNotIn(values[0][1], self.prefix.reg_values(RUN_KEYS["HKCU"]) or {})
            # The cut path names another file: its value stays.
            self.assertEqual((self.prefix.reg_values(RUN_KEYS["HKLM"]) or {}).get(values[1][1]), values[1][2])
            self.assertIn(" detected: %s (rule: winlogon impostor)\r\n" % path, read_log(self.prefix))
        finally:
            self.prefix.reg_import("".join("[%s]\n%s=-\n\n" % (RUN_KEYS[hive], reg_string(name))
                                           for hive, name, _ in values))
            self.tearDown()


if __name__ == "__main__":
    e2e_main.run(__doc__)
