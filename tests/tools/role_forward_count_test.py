#!/usr/bin/env python3
"""The roles' forward count over a small app/ written for the cases, its ratchet, and the real tree."""

import os
import sys
import unittest

SOURCE_DIR = os.environ.get("HX_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import role_forward_count  # noqa: E402
from scratch_tree import ScratchTree  # noqa: E402

INTERFACES = """\
class HXAlertsRole { public: virtual std::shared_ptr<HX_Account> account() const = 0; };
class HXDialRole { public: virtual std::shared_ptr<HX_Account> account() const = 0; virtual int a() = 0; };
class HXChoiceRole { public: virtual bool b() = 0; };
"""
HEADER = """\
class HXAppDialRole final : public HXDialRole {
    HXApplicationWebClient& client_;
    HXAppAlertsRole& alerts_;
};
// An owner named otherwise counts as a role when it implements a role interface.
class HXAppChoice final : public HXChoiceRole { HX_ConnectAppDelegate& app_; };
class HXAppModelRole final : public HXChoiceRole { HXApplicationModel& model_; };
class HXNotARole { HXApplicationWebClient& client_; };
"""
SOURCE = """\
std::shared_ptr<HX_Account> HXAppDialRole::account() const { return alerts_.account(); }
int HXAppDialRole::a() { return client_.a(1, f(2)); }
int HXAppDialRole::c() { return HXPagesOf(client_)->older(3); }
int HXAppDialRole::d() { auto x = client_.a(1, 2); return x; }
int HXAppDialRole::e() { return client_.a(1) + 1; }
int HXAppDialRole::g() { return HXApplicationWebClient::code(3); }
int HXAppDialRole::h() { return std::max(1, 2); }
bool HXAppChoice::b() { return app_.b(); }
// A guard around one call, and one object fetched and asked the same question, still forward.
bool HXAppModelRole::b() { if (model_.ready()) model_.b(); }
bool HXAppModelRole::k() const { auto calls = this->calls(); return calls && calls->k(); }
void HXAppModelRole::p(int n) { if (auto calls = model_.calls()) calls->p(n); }
// Asking the fetched object something else is work of the role's own.
bool HXAppModelRole::q() const { auto a = model_.account(); return a && a->signedIn(); }
int HXNotARole::a() { return client_.a(); }
HXShellRoleSlices HX_ConnectAppDelegate::roleSlices() {
    return HXShellRoleSlices{.one = [this] { return one(); }, .two = [this](int x) { two(x); }};
}
"""


class Tree(ScratchTree):
    def __init__(self, count):
        files = {"app/roles/screen_roles.h": INTERFACES, "app/shell_roles.h": HEADER,
                 "app/shell_roles.cpp": SOURCE}
        if count is not None:
            files["tools/role_forward_count.txt"] = count
        super().__init__(lambda argv: role_forward_count.main(argv + ["--check"]), files)


def ceilings(bodies, account=2, webclient=1, model=1, whole=1):
    return f"bodies {bodies}\naccount {account}\nwebclient {webclient}\nmodel {model}\nwhole {whole}\n"


class CountTest(unittest.TestCase):
    def test_kinds(self):
        with Tree(None) as tree:
            found = role_forward_count.count(tree.root)
        self.assertEqual(found["methods"], 12)
        self.assertEqual([line.split(": ")[0] for line in found["role"]],
                         ["HXAppDialRole::account", "HXAppModelRole::k"])
        self.assertEqual([line.split(": ")[0] for line in found["slice"]],
                         ["HXAppDialRole::a", "HXAppDialRole::c", "HXAppDialRole::g", "HXAppModelRole::b",
                          "HXAppModelRole::p"])
        self.assertEqual([line.split(": ")[0] for line in found["whole"]], ["HXAppChoice::b"])
        self.assertEqual(found["closure"], ["HXShellRoleSlices::one", "HXShellRoleSlices::two"])
        self.assertEqual(role_forward_count.bodies(found), 10)
        self.assertEqual(found["account"], ["HXAlertsRole", "HXDialRole"])
        self.assertEqual(found["webclient"], ["HXAppDialRole"])
        self.assertEqual(found["model"], ["HXAppModelRole"])
        self.assertEqual(found["holders"], ["HXAppChoice"])

    def test_a_device_form_counts_only_the_members_of_the_interfaces_it_implements(self):
        # The form's own work beside the interface (its routing's one-line accessors) is not a
        # role's body; the interface's members are, whatever they reach.
        files = {"app/roles/screen_roles.h": "class HXSplitRole { public: virtual ~HXSplitRole() = default;\n"
                 "    virtual bool shown(int type) const = 0; virtual long count() const = 0; };\n",
                 "app/connect_app_delegate_ipad.h":
                 "class HX_ConnectAppDelegate_iPad : public HX_ConnectAppDelegate, public HXSplitRole {\n"
                 "    std::shared_ptr<Split> split_; };\n",
                 "app/connect_app_delegate_ipad.cpp":
                 "bool HX_ConnectAppDelegate_iPad::collapsed() { return split_->isCollapsed(); }\n"
                 "void HX_ConnectAppDelegate_iPad::dismiss(bool a) { if (split_->presented()) split_->dismiss(a); }\n"
                 "bool HX_ConnectAppDelegate_iPad::shown(int type) const { return split_->shows(type); }\n"
                 "long HX_ConnectAppDelegate_iPad::count() const { return count_ + 1; }\n"}
        with ScratchTree(lambda argv: 0, files) as tree:
            found = role_forward_count.count(tree.root)
        self.assertEqual(found["methods"], 2)
        self.assertEqual([line.split(": ")[0] for line in found["role"]], ["HX_ConnectAppDelegate_iPad::shown"])

    def test_an_interface_declared_beside_its_owner_below_app_is_a_role_interface(self):
        # An owner in service/ or model/ declares the small interface it implements: the
        # interface's account() still counts, and a class of app/ implementing it is a role.
        files = {"model/alerts_role.h": "class HXAlertsRole { public:\n"
                 "    virtual std::shared_ptr<HX_Account> account() const = 0; };\n",
                 "service/session.h": "class HXListRole { public: virtual void logout() = 0; };\n",
                 "app/shell_roles.h": "class HXAppLogout final : public HXListRole { HXApplicationWebClient& client_; };\n",
                 "app/shell_roles.cpp": "void HXAppLogout::logout() { client_.logout(); }\n"}
        with ScratchTree(lambda argv: 0, files) as tree:
            found = role_forward_count.count(tree.root)
        self.assertEqual(found["account"], ["HXAlertsRole"])
        self.assertEqual(found["webclient"], ["HXAppLogout"])
        self.assertEqual([line.split(": ")[0] for line in found["slice"]], ["HXAppLogout::logout"])

    def test_ratchet(self):
        for count, rc, says in ((ceilings(10), 0, ""), (ceilings(9), 1, "more than the 9"),
                                (ceilings(11), 0, "lower tools/role_forward_count.txt"),
                                (ceilings(10, webclient=0), 1, "roles holding the web client"),
                                (ceilings(10, model=0), 1, "roles holding the data model"),
                                ("bodies 10\n", 2, "no 'account' count")):
            with self.subTest(count=count), Tree(count) as tree:
                got_rc, err = tree.run()
                self.assertEqual(got_rc, rc, err)
                self.assertIn(says, err)

    def test_the_tree_is_within_its_ceilings(self):
        self.assertEqual(role_forward_count.main(["--root", SOURCE_DIR, "--check"]), 0)


if __name__ == "__main__":
    unittest.main()
