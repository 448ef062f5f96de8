#!/usr/bin/python3
"""pestkill.exe against live processes whose image file is one of the variant
images: the exact detection dialogue, the restart question, the closing line and
the key wait, exit status 0; the file deleted at once, or scheduled for deletion
at the next start when another process holds it; the process left running; only
the first of two infected processes reported."""
import os
import time

import e2e_main
from console_session import COMPLETED, ConsoleSession, console_bytes, detection_dialogue
from planted_case import PlantedCase
from planting import pending_deletions

# Each variant at least once; paths in mixed case and with blanks, since the report
# names the path exactly as the module list gives it.
VARIANT_CASES = [
    # (case, variant, image path, another process holds the file open)
    ("variant A, file free", "a", "C:\\pk\\a\\Planted.exe", False),
    ("variant B, file held", "b", "C:\\Program Files\\Planted Tool\\tool b.exe", True),
    ("variant C, file free", "c", "C:\\users\\Public\\PLANTED-C.EXE", False),
    ("variant D, file held", "d", "C:\\pk\\d\\Deep\\x.exe", True),
]

class Detection(PlantedCase):
    prefix_tag = "detect"

    def listed_path(self, path):
        """The planted process's image path as the module list gives it."""
        (listed,) = self.prefix.wait_for_process(path)
        return listed

    def scan(self, reported_path, answer):
        """Runs the scan through the whole detection dialogue and returns the
        console output."""
        asked = detection_dialogue(reported_path)
        with ConsoleSession(self.prefix, e2e_main.programs.pestkill) as session:
            session.wait_for_output(console_bytes(asked))
            session.assert_waiting()
            session.send(answer + "\r")
            # Exactly this, so never "No malware found.\n".
            session.wait_for_output(console_bytes(asked + COMPLETED))
            session.assert_waiting()
            self.assertEqual(session.finish_with_key(), 0)
            self.assertEqual(session.output(), console_bytes(asked + COMPLETED))

    def assert_still_running(self, path):
        self.prefix.wait_for_process(path)
        process = next(p for p, started_path in self.started if started_path == path)
        self.assertIsNone(process.poll(), "%s ended" % path)

    def assert_removed_or_scheduled(self, path, held):
        nt_path = "\\??\\" + path
        on_disk = os.path.exists(self.prefix.host_path(path))
        scheduled = nt_path in pending_deletions(self.prefix)
        if held:
            # Deleting fails while the file is held, so the deletion waits for
            # the next start.
            self.assertTrue(on_disk, "held file was deleted")
            self.assertTrue(scheduled, "deletion of %s not scheduled: %r"
                            % (path, pending_deletions(self.prefix)))
        else:
            self.assertFalse(on_disk, "file still there")
            self.assertFalse(scheduled, "deleted file also scheduled")

    def test_each_variant_reported_and_removed(self):
        for case, variant, path, held in VARIANT_CASES:
            with self.subTest(case):
                try:
                    self.plant(variant, path)
                    if held:
                        self.hold(path)
                    self.scan(self.listed_path(path), "n")
                    self.assert_removed_or_scheduled(path, held)
                    self.assert_still_running(path)
                finally:
                    self.tearDown()
                    self.started = []

    def test_only_first_of_two_infected_processes(self):
        paths = {"c": "C:\\pk\\pair\\alpha.exe", "d": "C:\\pk\\pair\\beta.exe"}
        for variant, path in paths.items():
            self.plant(variant, path)
        order = [p.lower() for _, p in self.prefix.processes()]
        first, second = sorted(paths.items(), key=lambda item: order.index(item[1].lower()))
        self.scan(self.listed_path(first[1]), "n")
        self.assert_removed_or_scheduled(first[1], held=False)
        # The second is not examined: its file is there, unchanged, not scheduled.
        with open(self.prefix.host_path(second[1]), "rb") as planted, open(self.images[second[0]], "rb") as image:
            self.assertEqual(planted.read(), image.read())
        self.assertNotIn("\\??\\" + second[1], pending_deletions(self.prefix))
        for _, path in paths.items():
            self.assert_still_running(path)

    def test_yes_requests_restart_and_still_completes(self):
        path = "C:\\pk\\yes\\planted.exe"
        self.plant("b", path)
        self.hold(path)
        self.scan(self.listed_path(path), "y")
        # Wine carries out a restart request (ExitWindowsEx with EWX_REBOOT) by
        # running its restart tasks without ending console programs; one of those
        # tasks works off PendingFileRenameOperations. The held file's scheduled
        # deletion is therefore consumed (and fails, since the file is still
        # held), which shows that the request reached the system.
        deadline = time.monotonic() + 60
        while pending_deletions(self.prefix):
            self.assertLess(time.monotonic(), deadline, "the restart never processed the pending deletions")
            time.sleep(0.5)
        print("\n  after the restart request: processes %r, file there: %s"
              % ([p for _, p in self.prefix.processes()], os.path.exists(self.prefix.host_path(path))))

if __name__ == "__main__":
    e2e_main.run(__doc__)
