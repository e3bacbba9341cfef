#!/usr/bin/env python3
"""The conversation screen's size check against small trees written for each case, and the real tree."""

import contextlib
import io
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("HX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import screen_size_check  # noqa: E402
from scratch_tree import ScratchTree  # noqa: E402

HEADER = """\
// class VC_Conversation { public: void notAMember(); };
class VC_Conversation : public Screen {
public:
    struct Roles {
        int a;
        void inRoles();
    };
    static constexpr long kTag = 3;
    VC_Conversation(Roles roles);
    int type() const { return type_; }
    void load() override;
private:
    void hidden();
    int type_ = 0;
public:
    static int rule(int n = 0);
};
"""
# Function lengths are counted from the line that names the function to its closing brace.
SOURCE = """\
#include "ui/conversation/vc_conversation.h"
namespace {
struct Local {
    int n;
};
const char* kText = "void fake() { }";
}  // namespace

VC_Conversation::VC_Conversation(Roles roles)
    : type_(roles.a),
      other_{1} {
    auto lambda = [](int x) {
        return x;
    };
    (void)lambda;
}

void VC_Conversation::load() {
    // a comment with a { brace
    if (type_) {
        hidden();
    }
}

int VC_Conversation::rule(int n) { return n; }
"""
OTHER = """\
class Helper {
public:
    int size() const {
        return 1;
    }
};
int free(int a,
         int b)
{
    return a + b;
}
"""


class Tree(ScratchTree):
    def __init__(self, count, other=OTHER):
        files = {"ui/conversation/vc_conversation.h": HEADER, "ui/conversation/vc_conversation_more.cpp": SOURCE,
                 "ui/conversation/helper.h": other, "ui/conversation/notes.txt": "void x() {\n\n\n}\n"}
        if count is not None:
            files["tools/screen_size_count.txt"] = count
        super().__init__(screen_size_check.main, files)

    def run(self):
        err, out = io.StringIO(), io.StringIO()
        with contextlib.redirect_stderr(err), contextlib.redirect_stdout(out):
            rc = self.check_main(["--root", self.root, "--check", "--list"])
        return rc, out.getvalue() + err.getvalue()


LINES = HEADER.count("\n") + SOURCE.count("\n")


class ScreenSizeCheck(unittest.TestCase):
    def test_counts_lines_public_declarations_and_the_longest_function(self):
        # Public: Roles, kTag, the constructor, type, load, rule (6); the longest is the constructor
        # with its initializer list and lambda (8 lines); the helper's free function is 5 lines.
        cases = [
            # (count file, rc, texts in the output)
            (f"lines {LINES}\npublic 6\nlongest 8\n", 0,
             ["8 lines: ui/conversation/vc_conversation_more.cpp:9 VC_Conversation::VC_Conversation",
              "6 lines: ui/conversation/vc_conversation_more.cpp:18 VC_Conversation::load",
              "5 lines: ui/conversation/helper.h:7 free", "public: static int rule(int n = 0);"]),
            (f"lines {LINES + 1}\npublic 7\nlongest 9\n", 0,
             [f"{LINES} lines in VC_Conversation's files, fewer than {LINES + 1}", "fewer than 7", "fewer than 9"]),
            (f"lines {LINES - 1}\npublic 6\nlongest 8\n", 1, [f"{LINES} lines in VC_Conversation's files, more than"]),
            (f"lines {LINES}\npublic 5\nlongest 8\n", 1, ["6 public declarations of VC_Conversation, more than the 5"]),
            (f"lines {LINES}\npublic 6\nlongest 7\n", 1,
             ["8 lines in the longest function of ui/conversation (ui/conversation/vc_conversation_more.cpp:9"]),
        ]
        for count, rc, texts in cases:
            with self.subTest(count=count), Tree(count) as tree:
                got, out = tree.run()
                self.assertEqual(got, rc, out)
                for text in texts:
                    self.assertIn(text, out)
                self.assertNotIn("notAMember", out)
                self.assertNotIn("inRoles", out)
                self.assertNotIn("hidden", out.split("lines:")[0])

    def test_a_longer_function_elsewhere_in_the_folder_counts(self):
        longer = OTHER.replace("    return a + b;\n", "    return a + b;\n" * 10)
        with Tree(f"lines {LINES}\npublic 6\nlongest 8\n", longer) as tree:
            rc, out = tree.run()
            self.assertEqual(rc, 1, out)
            self.assertIn("14 lines in the longest function of ui/conversation (ui/conversation/helper.h:7 free)", out)

    def test_a_missing_count_is_an_error_of_its_own(self):
        for count, text in ((None, "screen_size_count.txt"), ("lines 1\npublic 6\n", "no 'longest' count")):
            with self.subTest(text=text), Tree(count) as tree:
                rc, out = tree.run()
                self.assertEqual(rc, 2)
                self.assertIn(text, out)

    def test_the_tree_keeps_within_its_counts(self):
        with contextlib.redirect_stdout(io.StringIO()):
            rc = screen_size_check.main(["--root", SOURCE_DIR, "--check"])
        self.assertEqual(rc, 0)


if __name__ == "__main__":
    unittest.main()
