#!/usr/bin/env python3
"""The application object's size check against small slices written for each case, and the real tree."""

import os
import sys
import unittest

SOURCE_DIR = os.environ.get("HX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import app_object_check  # noqa: E402
from scratch_tree import ScratchTree  # noqa: E402

MODEL = """\
// A comment with class HXApplicationModel { void notAMember(); }
class HXApplicationModel : public std::enable_shared_from_this<HXApplicationModel> {
public:
    HXApplicationModel() = default;
    HXApplicationModel(const HXApplicationModel&) = delete;
    HXApplicationModel& operator=(const HXApplicationModel&) = delete;
    virtual void presentAlert(const HXAlert& alert) = 0;
    bool flag() const { return flag_; }
    enum Result : int { A = 0, B = 1 };
    using Completion = std::function<void(int result)>;
    std::function<std::string(const std::string&)> lookup();
private:
    bool flag_ = false;
    void hidden();
};
"""
WEB = """\
class HXApplicationWebClient : public HXApplicationModel {
public:
    void send(const std::string& text = "(", int n = 0);
    struct Row { int a; };
protected:
    void shielded();
public:
    static int code(int c);
    std::shared_ptr<int> value_ = std::make_shared<int>(0);
};
"""
TOP = """\
class HX_ConnectAppDelegate : public HXApplicationWebClient,
                              public foundation::ApplicationDelegate,
                              public Role<int, std::function<void(int)>> {
public:
    void presentAlert(const HXAlert& alert) override;
    bool operator()(int) const;
private:
    void inner();
};
"""


class Tree(ScratchTree):
    def __init__(self, top, count):
        files = {"model/application_model.h": MODEL, "service/application_web_client.h": WEB,
                 "app/connect_app_delegate.h": top}
        if count is not None:
            files["tools/app_object_count.txt"] = count
        super().__init__(app_object_check.main, files)


class AppObjectCheck(unittest.TestCase):
    def test_counts_bases_and_public_functions_of_the_three_slices(self):
        # Model: constructor, presentAlert, flag, lookup (4); web client: send, code (2); top: 2.
        cases = [
            # (top slice, count file, rc, text in the output)
            (TOP, "bases 3\npublic 8\n", 0, ""),
            (TOP, "# sizes\nbases 4\npublic 9\n", 0, "fewer than 4"),
            (TOP, "bases 4\npublic 9\n", 0, "8 public member functions of the application object, fewer than 9"),
            (TOP, "bases 2\npublic 8\n", 1, "3 base classes of HX_ConnectAppDelegate, more than the 2"),
            (TOP, "bases 3\npublic 7\n", 1, "8 public member functions of the application object, more than the 7"),
            (TOP.replace("private:\n    void inner();", "    void inner();"), "bases 3\npublic 8\n", 1, "9 public"),
            (TOP.replace(",\n                              public foundation::ApplicationDelegate", ""),
             "bases 3\npublic 8\n", 0, "2 base classes"),
        ]
        for top, count, rc, text in cases:
            with self.subTest(count=count, top=top), Tree(top, count) as tree:
                got, out = tree.run()
                self.assertEqual(got, rc, out)
                self.assertIn(text, out)

    def test_a_missing_count_or_class_is_an_error_of_its_own(self):
        for top, count, text in ((TOP, None, "app_object_count.txt"), (TOP, "bases 3\n", "no 'public' count"),
                                 ("class Other {};\n", "bases 3\npublic 8\n", "class HX_ConnectAppDelegate not found")):
            with self.subTest(text=text), Tree(top, count) as tree:
                rc, out = tree.run()
                self.assertEqual(rc, 2)
                self.assertIn(text, out)

    def test_the_tree_keeps_within_its_counts(self):
        rc = app_object_check.main(["--root", SOURCE_DIR])
        self.assertEqual(rc, 0)


if __name__ == "__main__":
    unittest.main()
