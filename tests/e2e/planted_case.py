"""A test case class whose tests plant variant images behind live processes in one
prefix for the whole class, and end and remove all they planted after each test."""
import os
import unittest

import e2e_main
from planting import clear_pending, end, hold_open, plant
from wine_prefix import WinePrefix

# The second sleeper that holds a planted file open; it is left in place between
# tests, only its process is ended.
HOLDER = "C:\\pk\\holder\\holder.exe"


class PlantedCase(unittest.TestCase):
    """Subclasses name their prefix by prefix_tag."""
    prefix_tag = "planted"

    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix(cls.prefix_tag, lister=e2e_main.programs.lister).__enter__()
        cls.addClassCleanup(cls.prefix.__exit__, None, None, None)
        images = os.path.join(cls.prefix.path, "images")
        os.mkdir(images)
        cls.prefix.wine([e2e_main.programs.make_images, "Z:" + images.replace("/", "\\")])
        cls.images = {v: os.path.join(images, "variant-%s.exe" % v) for v in "abcd"}
        for path in cls.images.values():
            assert os.path.getsize(path) > 0, path

    def setUp(self):
        self.started = []

    def tearDown(self):
        # Nothing of one test may be met by the next test's scan.
        for process, path in reversed(self.started):
            if process.poll() is None:
                end(self.prefix, process, path)
            if path != HOLDER and os.path.exists(self.prefix.host_path(path)):
                os.remove(self.prefix.host_path(path))
        self.started = []
        clear_pending(self.prefix)

    def plant(self, variant, path):
        """A live process whose image file is variant's image."""
        plant(self.prefix, e2e_main.programs.sleeper, path, self.images[variant], self.started)

    def hold(self, path):
        """Another process that holds path open as the loader holds an image."""
        hold_open(self.prefix, e2e_main.programs.sleeper, HOLDER, path, self.started)
