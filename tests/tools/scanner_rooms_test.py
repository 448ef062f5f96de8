#!/usr/bin/env python3
"""The offline scanner's rooms include only from the rooms below them: report, then
judgement, then the registry rule, then the sources (a source may use the tree
walk), then the command line on top. An include that runs back up fails here.

    scanner_rooms_test.py SOURCE_DIR
"""
import os
import re
import sys
import unittest

ROOT = None
SCANNER = "tools/pestkill-scan"
# Rank of each room: a file may include from its own room and from lower ranks.
RANKS = {"report": 0, "judgement": 1, "registry_rule": 2,
         "sources/tree": 3, "sources/mounted_volume": 4, "sources/disk_image": 4, "": 9}


def room_of(path):
    inner = os.path.relpath(path, SCANNER).split("/")
    if len(inner) == 1:
        return ""
    return "/".join(inner[:2]) if inner[0] == "sources" else inner[0]


class Rooms(unittest.TestCase):
    def test_every_include_points_down(self):
        upward = []
        files = 0
        for folder, _, names in os.walk(os.path.join(ROOT, SCANNER)):
            for name in names:
                if not name.endswith((".h", ".cpp")):
                    continue
                files += 1
                path = os.path.relpath(os.path.join(folder, name), ROOT)
                room = room_of(path)
                self.assertIn(room, RANKS, f"{path} lies in no known room")
                with open(os.path.join(ROOT, path), encoding="utf-8") as source:
                    for included in re.findall(r'#include "(%s/[^"]+)"' % SCANNER, source.read()):
                        other = room_of(included)
                        self.assertIn(other, RANKS, f"{path} includes {included} from no known room")
                        if other != room and RANKS[other] >= RANKS[room]:
                            upward.append(f"{path} -> {included}")
        self.assertGreater(files, 50)
        self.assertEqual(upward, [])

    def test_room_of(self):
        cases = [("tools/pestkill-scan/main.cpp", ""),
                 ("tools/pestkill-scan/report/scan_report.h", "report"),
                 ("tools/pestkill-scan/sources/tree/file_walk.h", "sources/tree"),
                 ("tools/pestkill-scan/sources/disk_image/volume_walk.cpp", "sources/disk_image")]
        for path, room in cases:
            self.assertEqual(room_of(path), room, path)


if __name__ == "__main__":
    ROOT = sys.argv.pop(1)
    unittest.main(verbosity=2)
