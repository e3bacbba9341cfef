#!/usr/bin/env python3
"""The shell's record count check against small trees written for each case, and the real tree."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("HX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import shell_record_check  # noqa: E402


class Tree:
    def __init__(self, files, count):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        for path, text in files.items():
            self.write(path, text)
        if count is not None:
            self.write("tools/shell_record_count.txt", count)

    def write(self, path, text):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)

    def run(self):
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            rc = shell_record_check.main(["--root", self.root])
        return rc, err.getvalue()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.dir.cleanup()


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
