#!/usr/bin/python3
"""pestkill.exe on a system without the trojan: the exact clean dialogue, the wait
for one key, exit status 0, whatever the command line holds; and the run leaves
the registry and the files of drive C: as they were."""
import difflib
import unittest

import e2e_main
from console_session import ConsoleSession, clean_dialogue, console_bytes
from wine_prefix import WinePrefix

# Arguments are not read: none of these may change what the program does.
ARGUMENT_CASES = [
    ("no arguments", []),
    ("help switch", ["/?"]),
    ("several words", ["-y", "--remove", "C:\\pk\\app.exe"]),
    ("empty argument", [""]),
]


def changed_lines(before, after, limit=40):
    """The first lines of a diff between two texts; empty when they are equal."""
    diff = difflib.unified_diff(before.splitlines(), after.splitlines(), lineterm="", n=0)
    return [line for _, line in zip(range(limit), diff)]


def _tree_text(tree):
    return "\n".join("%s %r" % (path, tree[path]) for path in sorted(tree))


class CleanSystem(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix("clean", lister=e2e_main.programs.lister).__enter__()
        cls.addClassCleanup(cls.prefix.__exit__, None, None, None)
        # A user program running beside the system's own, so the walk meets a
        # process that is not the trojan and not part of Wine.
        cls.prefix.put_file("C:\\pk\\app.exe", e2e_main.programs.sleeper)
        cls.prefix.start("C:\\pk\\app.exe")
        cls.prefix.wait_for_process("C:\\pk\\app.exe")

    def run_clean(self, args):
        with ConsoleSession(self.prefix, e2e_main.programs.pestkill, args) as session:
            session.wait_for_output(console_bytes(clean_dialogue()))
            session.assert_waiting()
            self.assertEqual(session.finish_with_key(), 0)
            # The key ends the program and prints nothing more.
            self.assertEqual(session.output(), console_bytes(clean_dialogue()))

    def test_dialogue_whatever_the_arguments(self):
        for name, args in ARGUMENT_CASES:
            with self.subTest(name):
                self.run_clean(args)

    def test_registry_and_files_unchanged(self):
        registry_before = self.prefix.settled_registry()
        files_before = self.prefix.file_tree()
        self.run_clean([])
        registry_after = self.prefix.reg_export()
        files_after = self.prefix.file_tree()
        self.assertEqual(changed_lines(registry_before, registry_after), [])
        self.assertEqual(changed_lines(_tree_text(files_before), _tree_text(files_after)), [])
        # The planted program is untouched and still running.
        self.prefix.wait_for_process("C:\\pk\\app.exe")


if __name__ == "__main__":
    e2e_main.run(__doc__)
