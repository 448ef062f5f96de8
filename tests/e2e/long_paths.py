#!/usr/bin/python3
"""pestkill.exe against variant images running from paths longer than the module
list holds: it gives the first 259 characters (...\\planted.ex), which name no
file. The process's whole image path is judged, shown in the "File:" line and
removed, and the clean-up log names that path, the file's size and SHA-256 and
what became of it. A path of 259 characters, which the module list holds whole,
still takes the road of any other path."""
import hashlib
import os

import e2e_main
from console_session import COMPLETED, ConsoleSession, console_bytes, detection_dialogue
from planted_case import PlantedCase
from planting import pending_deletions
from removal_log import clear_record, read_log

# The module list's field holds MAX_PATH (260) characters with the terminator.
MODULE_PATH_CHARACTERS = 259


def long_path(length):
    """A path of exactly length characters, in folders of at most 100 characters."""
    head, tail = "C:\\pk\\long", "\\planted.exe"
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
        asked = detection_dialogue(reported_path)
        with ConsoleSession(self.prefix, e2e_main.programs.pestkill) as session:
            session.wait_for_output(console_bytes(asked))
            session.assert_waiting()
            session.send("n\r")
            session.wait_for_output(console_bytes(asked + COMPLETED))
            session.assert_waiting()
            self.assertEqual(session.finish_with_key(), 0)
            self.assertEqual(session.output(), console_bytes(asked + COMPLETED))

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


if __name__ == "__main__":
    e2e_main.run(__doc__)
