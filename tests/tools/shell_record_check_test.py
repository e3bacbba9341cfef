#!/usr/bin/env python3
"""The shell's record count check against small trees written for each case, and the real tree."""

import os
import sys
import unittest

SOURCE_DIR = os.environ.get("HX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import shell_record_check  # noqa: E402
from scratch_tree import ScratchTree  # noqa: E402


class Tree(ScratchTree):
    def __init__(self, files, count):
        if count is not None:
            files = {**files, "tools/shell_record_count.txt": count}
        super().__init__(shell_record_check.main, files)


SHELL = """\
void A::a() { record("alpha"); }
void A::b() { recordAlert(x); other.record_count(); }  // record("in a comment")
void A::c() { record("c " + n); if (x) record("d"); }
"""


class ShellRecordCheck(unittest.TestCase):
    def test_counts_calls_in_app_and_ui_but_not_comments_or_other_names(self):
        cases = [
            # (files, count, rc, text in the output)
            ({"app/shell.cpp": SHELL}, "3\n", 0, ""),
            ({"app/shell.cpp": SHELL, "ui/screen.cpp": 'void S::s() { app.record("x"); }\n'}, "3\n", 1,
             "4 record( calls"),
            ({"app/shell.cpp": SHELL, "service/other.cpp": 'record("outside");\n'}, "3\n", 0, ""),
            ({"app/shell.cpp": SHELL, "app/notes.txt": 'record("text");\n'}, "3\n", 0, ""),
            ({"app/shell.cpp": SHELL}, "# the allowed count\n5\n", 0, "fewer than 5"),
            ({"app/shell.cpp": SHELL}, "2\n", 1, "app/shell.cpp:3: record("),
        ]
        for files, count, rc, text in cases:
            with self.subTest(files=sorted(files), count=count), Tree(files, count) as tree:
                got, out = tree.run()
                self.assertEqual(got, rc, out)
                self.assertIn(text, out)

    def test_a_missing_count_is_an_error_of_its_own(self):
        with Tree({"app/shell.cpp": SHELL}, None) as tree:
            rc, out = tree.run()
            self.assertEqual(rc, 2)
            self.assertIn("shell_record_count.txt", out)

    def test_the_tree_keeps_within_its_count(self):
        rc = shell_record_check.main(["--root", SOURCE_DIR])
        self.assertEqual(rc, 0)


if __name__ == "__main__":
    unittest.main()
