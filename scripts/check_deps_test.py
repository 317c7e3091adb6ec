#!/usr/bin/env python3
"""The rules of scripts/check-deps.py on hand-made cases: which folder a target is in, which edges
came through internetsetup_uses_built, which #include lines climb out of their folder."""
import pathlib
import runpy
import sys
import types
import unittest

check_deps = types.SimpleNamespace(**runpy.run_path(str(pathlib.Path(__file__).with_name("check-deps.py"))))


class CheckDeps(unittest.TestCase):
    def test_folder_of(self):
        for source, folder in [("base", "base"), ("tools/installer_tags", "tools"), ("tests/support", "tests/support"),
                               ("tests/e2e", "tests/e2e"), ("tests", None), ("basement", None), (".", None),
                               ("run", "run"), ("app/sub", "app")]:
            self.assertEqual(check_deps.folder_of(source), folder, source)

    def test_tiers_run_bottom_to_top(self):
        order = ["tests/support", "base", "payload", "run", "update", "ui", "monitor", "resources", "app", "tools",
                 "endpoint", "tests/e2e"]
        self.assertEqual([check_deps.tier_of(f) for f in order], sorted(check_deps.tier_of(f) for f in order))
        self.assertEqual(check_deps.tier_of("tests/e2e"), check_deps.tier_of("bench"))

    def test_made_by_uses_built(self):
        graph = {"commands": ["add_dependencies", "target_link_libraries"],
                 "files": [check_deps.BUILT_MODULE, "payload/CMakeLists.txt"],
                 "nodes": [{"file": 0, "command": 0}, {"file": 1, "command": 0}, {"file": 0, "command": 1},
                           {"file": 1}]}
        for node, expected in [(0, True), (1, False), (2, False), (3, False), (None, False)]:
            self.assertEqual(check_deps.made_by_uses_built(graph, node), expected, node)

    def test_climbs_out(self):
        for line, expected in [('#include "../app/x.h"', True), ('  #  include "../../base/y.h"', True),
                               ('#include "app/x.h"', False), ('#include <../x.h>', False),
                               ('// #include "../x.h"', False)]:
            self.assertEqual(check_deps.climbs_out(line), expected, line)


if __name__ == "__main__":
    sys.exit(unittest.main())
