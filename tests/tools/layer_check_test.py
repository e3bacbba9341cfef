#!/usr/bin/env python3
"""The layer check against small trees written for each case, and against the real tree."""

import os
import subprocess
import sys
import textwrap
import unittest

SOURCE_DIR = os.environ.get("HX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import layer_check  # noqa: E402
from scratch_tree import ScratchTree  # noqa: E402

TABLE = textwrap.dedent("""\
    # Architecture

    <!-- layers:begin -->
    | folder | may include |
    |---|---|
    | platform/base | |
    | platform/store | platform/base |
    | platform/net | platform/base |
    | model | platform |
    | app | platform model |
    | app/main.cpp | platform model app ui |
    | ui | platform model app !app/private.h |
    <!-- layers:end -->
    """)


class Tree(ScratchTree):
    def __init__(self, files, table=TABLE, allow=None):
        files = {"docs/architecture.md": table, **files}
        if allow is not None:
            files["tools/layer_check_allow.txt"] = allow
        super().__init__(layer_check.main, files)


def inc(*paths):
    return "".join(f'#include "{p}"\n' for p in paths)


CLEAN = {
    "platform/base/value.h": "#pragma once\n",
    "platform/store/store.h": inc("platform/base/value.h"),
    "platform/store/store.cpp": inc("platform/store/store.h", "platform/base/value.h") + "#include <vector>\n",
    "platform/net/net.cpp": inc("platform/base/value.h"),
    "model/account.cpp": inc("model/account.h", "platform/store/store.h", "platform/net/net.h"),
    "app/delegate.cpp": inc("model/account.h", "app/delegate.h"),
    "app/main.cpp": inc("ui/screen.h", "app/delegate.h"),
    "ui/screen.cpp": inc("app/delegate.h", "ui/screen.h"),
    "tests/model/account_test.cpp": inc("ui/screen.h", "app/delegate.h"),
    "bench/anything.cpp": inc("ui/screen.h"),
    "fuzz/anything.cpp": inc("app/delegate.h"),
    "README.md": '#include "ui/screen.h"\n',
}


class LayerCheckTest(unittest.TestCase):
    def check(self, files, allow=None, table=TABLE):
        tree = Tree(files, table=table, allow=allow)
        self.addCleanup(tree.close)
        return tree.run()

    def expect_each_reported_once(self, tree, cases, table=TABLE):
        """Each case (name, file, text, the line that must be reported) added to tree fails alone."""
        for name, path, text, expected in cases:
            with self.subTest(name):
                rc, err = self.check({**tree, path: text}, table=table)
                self.assertEqual(rc, 1, err)
                self.assertIn(expected, err)
                self.assertEqual(err.count("reaches outside"), 1, err)

    def test_clean_tree_passes(self):
        rc, err = self.check(CLEAN)
        self.assertEqual((rc, err), (0, ""))

    def test_forbidden_includes_are_reported_with_file_line_and_include(self):
        cases = [
            # (name, file, text, the line that must be reported)
            ("upward", "model/cache.cpp", inc("platform/base/value.h", "app/delegate.h"),
             'model/cache.cpp:2: #include "app/delegate.h"'),
            ("sideways", "platform/store/fetch.cpp", inc("platform/net/net.h"),
             'platform/store/fetch.cpp:1: #include "platform/net/net.h"'),
            ("platform reaching model", "platform/base/x.h", "#pragma once\n\n" + inc("model/account.h"),
             'platform/base/x.h:3: #include "model/account.h"'),
            ("prefix is a path, not a string", "model/x.cpp", inc("platformx/y.h"),
             'model/x.cpp:1: #include "platformx/y.h"'),
            ("own folder's name as a string prefix", "app/x.cpp", inc("apps/y.h"),
             'app/x.cpp:1: #include "apps/y.h"'),
            ("the file row does not widen its folder", "app/delegate.cpp", inc("ui/screen.h"),
             'app/delegate.cpp:1: #include "ui/screen.h"'),
            ("dot segments are resolved first", "model/x.cpp", inc("platform/../app/delegate.h"),
             'model/x.cpp:1: #include "app/delegate.h"'),
            ("spaced directive", "model/y.cpp", '  #  include "ui/screen.h"\n',
             'model/y.cpp:1: #include "ui/screen.h"'),
            ("header file", "model/z.hpp", inc("ui/screen.h"), 'model/z.hpp:1: #include "ui/screen.h"'),
            ("a withheld file inside an admitted folder", "ui/y.cpp", inc("app/delegate.h", "app/private.h"),
             'ui/y.cpp:2: #include "app/private.h"'),
        ]
        self.expect_each_reported_once(CLEAN, cases)

    def test_file_without_a_row_fails(self):
        rc, err = self.check({**CLEAN, "service/client.cpp": inc("model/account.h")})
        self.assertEqual(rc, 1)
        self.assertIn("service/client.cpp:1: no row of the layer table covers this file", err)

    def test_every_violation_of_a_file_is_reported(self):
        rc, err = self.check({**CLEAN, "platform/net/a.cpp": inc("model/a.h", "platform/base/b.h", "ui/c.h")})
        self.assertEqual(rc, 1)
        self.assertIn("platform/net/a.cpp:1:", err)
        self.assertIn("platform/net/a.cpp:3:", err)
        self.assertNotIn("platform/net/a.cpp:2:", err)

    def test_allow_list_accepts_exactly_its_entries(self):
        files = {**CLEAN, "model/cache.cpp": inc("app/delegate.h"), "model/other.cpp": inc("app/delegate.h")}
        listed = "# known\nmodel/cache.cpp: app/delegate.h\n\nmodel/other.cpp: app/delegate.h  # going\n"
        self.assertEqual(self.check(files, allow=listed), (0, ""))

        # A new violation beside the listed ones fails.
        rc, err = self.check({**files, "model/new.cpp": inc("app/delegate.h")}, allow=listed)
        self.assertEqual(rc, 1)
        self.assertIn("model/new.cpp:1:", err)
        self.assertNotIn("model/cache.cpp", err)

        # The same include from a different file is not covered by another file's entry.
        rc, err = self.check({**CLEAN, "model/cache.cpp": inc("app/delegate.h"),
                              "model/other.cpp": inc("ui/screen.h")}, allow=listed)
        self.assertEqual(rc, 1)
        self.assertIn('model/other.cpp:1: #include "ui/screen.h"', err)

    def test_stale_allow_list_entry_fails(self):
        rc, err = self.check(CLEAN, allow="model/account.cpp: app/delegate.h\n")
        self.assertEqual(rc, 1)
        self.assertIn("tools/layer_check_allow.txt:1: 'model/account.cpp: app/delegate.h' is no longer", err)

    def test_malformed_inputs_are_errors_not_passes(self):
        cases = [
            ("no markers", TABLE.replace("<!-- layers:end -->", ""), None),
            ("one cell", TABLE.replace("| model | platform |", "| model platform |"), None),
            ("duplicate row", TABLE.replace("| ui |", "| model |"), None),
            ("a withholding mark without a path", TABLE.replace("!app/private.h", "!"), None),
            ("empty table", "<!-- layers:begin -->\n<!-- layers:end -->\n", None),
            ("allow-list line without a colon", TABLE, "model/cache.cpp app/delegate.h\n"),
        ]
        for name, table, allow in cases:
            with self.subTest(name):
                rc, err = self.check(CLEAN, table=table, allow=allow)
                self.assertEqual(rc, 2, err)
                self.assertIn("layer_check:", err)

    def test_a_star_row_makes_each_folder_under_it_a_layer_of_its_own(self):
        table = TABLE.replace("| ui | platform model app !app/private.h |",
                              "| ui/* | platform app ui/widgets !app/private.h |\n"
                              "| ui/widgets | platform |\n"
                              "| ui/shell | platform app ui |")
        screens = {
            "ui/compose/compose.cpp": inc("ui/compose/compose.h", "ui/widgets/field.h", "app/delegate.h"),
            "ui/widgets/field.cpp": inc("ui/widgets/field.h", "platform/base/value.h"),
            "ui/shell/makers.cpp": inc("ui/compose/compose.h", "ui/chat/chat.h", "ui/widgets/field.h"),
            "app/main.cpp": inc("ui/shell/makers.h", "app/delegate.h"),
        }
        files = {k: v for k, v in CLEAN.items() if not k.startswith("ui/")}
        self.assertEqual(self.check({**files, **screens}, table=table), (0, ""))
        cases = [
            ("a screen folder reaching another", "ui/chat/chat.cpp", inc("ui/chat/chat.h", "ui/compose/compose.h"),
             'ui/chat/chat.cpp:2: #include "ui/compose/compose.h" reaches outside the layer of ui/chat '
             "(may include: ui/chat platform app ui/widgets !app/private.h)"),
            ("a new folder is held to the same row", "ui/later/later.cpp", inc("ui/shell/makers.h"),
             'ui/later/later.cpp:1: #include "ui/shell/makers.h" reaches outside the layer of ui/later'),
            ("the star row's withholding holds", "ui/chat/chat.cpp", inc("app/private.h"),
             'ui/chat/chat.cpp:1: #include "app/private.h"'),
            ("a named folder keeps its own row", "ui/widgets/field.cpp", inc("app/delegate.h"),
             'ui/widgets/field.cpp:1: #include "app/delegate.h" reaches outside the layer of ui/widgets'),
        ]
        self.expect_each_reported_once({**files, **screens}, cases, table=table)
        # A file directly in the folder is in none of its folders.
        rc, err = self.check({**files, **screens, "ui/loose.cpp": inc("app/delegate.h")}, table=table)
        self.assertEqual(rc, 1)
        self.assertIn("ui/loose.cpp:1: no row of the layer table covers this file", err)

    def test_only_tracked_files_count_in_a_git_tree(self):
        tree = Tree({**CLEAN, "model/untracked.cpp": inc("ui/screen.h")})
        self.addCleanup(tree.close)
        git = ["git", "-c", "init.defaultBranch=main"]
        subprocess.run(git + ["init", "-q"], cwd=tree.root, check=True)
        subprocess.run(["git", "add", "--", *CLEAN.keys(), "docs"], cwd=tree.root, check=True)
        self.assertEqual(tree.run(), (0, ""))
        subprocess.run(["git", "add", "model/untracked.cpp"], cwd=tree.root, check=True)
        rc, err = tree.run()
        self.assertEqual(rc, 1)
        self.assertIn('model/untracked.cpp:1: #include "ui/screen.h"', err)

    def test_the_repository_passes(self):
        rc = subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "tools", "layer_check.py"),
                             "--root", SOURCE_DIR], capture_output=True, text=True)
        self.assertEqual(rc.returncode, 0, rc.stderr)


if __name__ == "__main__":
    unittest.main()
