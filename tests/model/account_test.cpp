#include "model/account.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/connect_app_delegate.h"
#include "model/quick_setting.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "tests/model/raw_archive.h"
#include "tests/support/test_support.h"

namespace {

using hxtest::RawObject;

HX_PhonePtr makePhone(int64_t id, std::string name, std::string number, bool voip = false, bool forwarded = false) {
    auto p = std::make_shared<HX_Phone>();
    p->setPhoneId(id);
    p->setName(std::move(name));
    p->setNumber(std::move(number));
    p->setFormattedNumber("f" + p->number());
    p->setIsVOIP(voip);
    p->setForwarded(forwarded);
    p->setVerified(true);
    p->setClientType(voip ? 2 : 0);
    return p;
}

std::shared_ptr<HX_Account> roundTrip(const HX_Account& a) {
    auto data = a.archived();
    EXPECT_TRUE(data.ok());
    auto back = HX_Account::unarchived(*data);
    EXPECT_TRUE(back.ok()) << (back.ok() ? "" : back.error().description());
    return back.ok() ? *back : nullptr;
}

foundation::Data rawArchive(std::string name, std::function<void(foundation::Coder&)> body) {
    auto data = foundation::archivedData(RawObject(std::move(name), std::move(body)));
    EXPECT_TRUE(data.ok());
    return *data;
}

TEST(HX_AccountTest, NewAccountDefaults) {
    HX_Account a;
    EXPECT_EQ(a.forwardingPhoneID(), 0);
    EXPECT_EQ(a.thisPhoneID(), 0);
    EXPECT_FALSE(a.callOptions());
    EXPECT_FALSE(a.defaultQS());
    EXPECT_TRUE(a.refreshDates().empty());
    EXPECT_TRUE(a.quickSettings().empty());
}

TEST(HX_AccountTest, RoundTripKeepsEveryArchivedFieldButNotTheTokens) {
    HX_Account a;
    a.setAuthV2("secret");
    a.setOAuthDict(foundation::Dictionary{{"access_token", "t"}});
    a.setBalance("$1.50");
    a.setHXnumber("+15550001111");
    a.phones()[1] = makePhone(1, "Home", "+15550002222", false, true);
    a.phones()[2] = makePhone(2, "Tablet", "dev-id", true);
    a.unverifiedPhones()[3] = makePhone(3, "New", "+15550003333");
    a.vmGreetings().set("g1", foundation::Value("Greeting"));
    a.refreshDates().set("sms", foundation::Value(foundation::Date{1700000000}));
    a.quickSettings()["Work"] = foundation::Data{1, 2, 3};
    a.setUsername("ann@example.com");
    a.setCurrentVmGreetingId("g1");
    a.setForwardingPhoneID(-2);
    a.setThisPhoneID(-1);
    a.setVMtranscription(true);
    a.setDndEnabled(true);
    a.setUseHXasCID(true);
    a.setDirectConnect(true);
    a.setEmailNotificationVM(true);
    a.setEmailNotificationSMS(true);
    a.setEmailNotificationMissedCalls(true);
    a.setGlobalSpamFiltering(true);
    a.setCallOptions(false);
    a.setDefaultQS("Work");

    auto b = roundTrip(a);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->authV2());
    EXPECT_FALSE(b->oAuthDict());
    EXPECT_EQ(b->balance(), "$1.50");
    EXPECT_EQ(b->HXnumber(), "+15550001111");
    ASSERT_EQ(b->phones().size(), 2u);
    EXPECT_EQ(b->phones().at(1)->name(), "Home");
    EXPECT_TRUE(b->phones().at(1)->forwarded());
    EXPECT_TRUE(b->phones().at(2)->isVOIP());
    EXPECT_EQ(b->phones().at(2)->clientType(), 2);
    EXPECT_EQ(b->phones().at(2)->formattedNumber(), "fdev-id");
    ASSERT_EQ(b->unverifiedPhones().size(), 1u);
    EXPECT_EQ(b->unverifiedPhones().at(3)->number(), "+15550003333");
    EXPECT_EQ(b->vmGreetings(), a.vmGreetings());
    EXPECT_EQ(b->refreshDates(), a.refreshDates());
    EXPECT_EQ(b->quickSettings(), a.quickSettings());
    EXPECT_EQ(b->username(), "ann@example.com");
    EXPECT_EQ(b->currentVmGreetingId(), "g1");
    EXPECT_EQ(b->forwardingPhoneID(), -2);
    EXPECT_EQ(b->thisPhoneID(), -1);
    EXPECT_TRUE(b->VMtranscription() && b->dndEnabled() && b->useHXasCID() && b->directConnect());
    EXPECT_TRUE(b->emailNotificationVM() && b->emailNotificationSMS() && b->emailNotificationMissedCalls());
    EXPECT_TRUE(b->globalSpamFiltering());
    EXPECT_FALSE(b->callOptions());
    EXPECT_EQ(b->defaultQS(), "Work");

    a.setForwardingPhoneID(-1);
    EXPECT_EQ(roundTrip(a)->forwardingPhoneID(), -1);
}

// The archive is read with python's own property-list reader, independently of ours.
TEST(HX_AccountTest, NoUnverifiedPhonesWritesNoKey) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    hxtest::TempDir dir;
    HX_Account a;
    a.setUsername("ann");
    a.phones()[1] = makePhone(1, "Home", "+15550002222");
    auto data = a.archived();
    ASSERT_TRUE(data.ok());
    ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "a.plist", *data).ok());
    const std::string script = "import plistlib,sys\n"
                               "p=plistlib.load(open(sys.argv[1],'rb'))\n"
                               "o=p['$objects'][p['$top']['root'].data]\n"
                               "print(sorted(k for k in o if not k.startswith('$')))\n";
    ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "s.py", script).ok());
    std::string out;
    ASSERT_EQ(hxtest::runCommand(
                  "/usr/bin/python3 " + (dir.path() / "s.py").string() + " " + (dir.path() / "a.plist").string(), &out),
              0)
        << out;
    EXPECT_EQ(out.find("unverifiedPhones"), std::string::npos) << out;
    EXPECT_NE(out.find("'username'"), std::string::npos) << out;
    EXPECT_NE(out.find("'callOptions'"), std::string::npos) << out;

    auto b = roundTrip(a);
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->unverifiedPhones().empty());
}

TEST(HX_AccountTest, OldArchivesTakeTheDefaultsOfMissingKeys) {
    auto data = rawArchive("HX_Account", [](foundation::Coder& c) {
        c.encodeString("username", "old");
        c.encodeInt64("forwardingPhoneID", 4);
    });
    auto a = HX_Account::unarchived(data);
    ASSERT_TRUE(a.ok()) << a.error().description();
    auto& b = **a;
    EXPECT_EQ(b.username(), "old");
    EXPECT_EQ(b.forwardingPhoneID(), 4);
    EXPECT_FALSE(b.emailNotificationVM() || b.emailNotificationSMS() || b.emailNotificationMissedCalls());
    EXPECT_FALSE(b.globalSpamFiltering());
    EXPECT_EQ(b.thisPhoneID(), -1);
    EXPECT_TRUE(b.vmGreetings().empty());
    EXPECT_EQ(b.currentVmGreetingId(), "");
    EXPECT_TRUE(b.refreshDates().empty());
    EXPECT_TRUE(b.quickSettings().empty());
    EXPECT_TRUE(b.callOptions());
    EXPECT_FALSE(b.defaultQS());
    EXPECT_FALSE(b.balance());

    auto none = HX_Account::unarchived(rawArchive("HX_Account", [](foundation::Coder&) {}));
    ASSERT_TRUE(none.ok());
    EXPECT_EQ((*none)->username(), "");
}

TEST(HX_AccountTest, ValuesOfTheWrongKindFallBackToTheKeysDefault) {
    auto data = rawArchive("HX_Account", [](foundation::Coder& c) {
        c.encodeInt64("username", 7);
        c.encodeString("thisPhoneID", "x");
        c.encodeString("callOptions", "nope");
        c.encodeValue("vmGreetings", foundation::Value("not a dictionary"));
        c.encodeValue("refreshDates",
                      foundation::Value(foundation::Dictionary{{"sms", "yesterday"}, {"vm", foundation::Date{5}}}));
        c.encodeValue("quickSettings", foundation::Value(foundation::Array{1, 2}));
        c.encodeInt64("defaultQS", 3);
        c.encodeBool("dndEnabled", true);
    });
    auto a = HX_Account::unarchived(data);
    ASSERT_TRUE(a.ok()) << a.error().description();
    EXPECT_EQ((*a)->username(), "");
    EXPECT_EQ((*a)->thisPhoneID(), -1);
    EXPECT_TRUE((*a)->callOptions());
    EXPECT_TRUE((*a)->vmGreetings().empty());
    EXPECT_EQ((*a)->refreshDates().size(), 1u);
    EXPECT_TRUE((*a)->quickSettings().empty());
    EXPECT_FALSE((*a)->defaultQS());
    EXPECT_TRUE((*a)->dndEnabled());

    // Not an archive at all: an error, not a crash.
    EXPECT_FALSE(HX_Account::unarchived(foundation::Data{'b', 'p', 'l', 'i', 's', 't'}).ok());
}

TEST(HX_AccountTest, PhoneArchivedBeforeVerificationDecodesAsVerified) {
    HX_Phone::registerClass();
    auto data = rawArchive("HX_Phone", [](foundation::Coder& c) {
        c.encodeString("name", "Old");
        c.encodeInt64("phoneId", -2);
    });
    auto p = foundation::unarchivedObject<HX_Phone>(data);
    ASSERT_TRUE(p.ok());
    EXPECT_TRUE((*p)->verified());
    EXPECT_FALSE((*p)->isVOIP());
    EXPECT_EQ((*p)->clientType(), 0);
    EXPECT_EQ((*p)->phoneId(), -2);
    EXPECT_EQ((*p)->number(), "");
}

TEST(HX_AccountTest, UserNameAsPathComponentStaysInItsFolder) {
    HX_Account a;
    a.setUsername("../../etc");
    EXPECT_EQ(a.usernamePathComponent().find('/'), std::string::npos);
    EXPECT_NE(a.usernamePathComponent().front(), '.');
    a.setUsername("ann@example.com");
    EXPECT_EQ(a.usernamePathComponent(), "ann@example.com");
}

TEST(HX_AccountTest, SortedRealPhonesAndCallMethods) {
    HX_Account a;
    a.phones()[5] = makePhone(5, "Solo", "1");
    EXPECT_EQ(a.sortedPhones().size(), 1u);

    a.phones()[1] = makePhone(1, "Work", "+2");
    a.phones()[2] = makePhone(2, "Work", "+1");
    a.phones()[3] = makePhone(3, "Alpha", "x", true);
    a.phones()[4] = makePhone(4, "Zed", "+9");
    std::vector<int64_t> ids;
    for (auto& p : a.sortedPhones()) ids.push_back(p->phoneId());
    EXPECT_EQ(ids, (std::vector<int64_t>{5, 2, 1, 4, 3}));
    EXPECT_EQ(a.realPhones().size(), 4u);

    EXPECT_EQ(a.callMethods(false).size(), 4u);
    auto methods = a.callMethods(true);
    ASSERT_EQ(methods.size(), 6u);
    EXPECT_EQ(methods[4]->phoneId(), -1);
    EXPECT_EQ(methods[4]->name(), "Direct Call");
    EXPECT_EQ(methods[5]->phoneId(), -2);
    EXPECT_EQ(methods[5]->name(), "iPhone Dialer");
    EXPECT_EQ(methods[5]->number(), "");
}

TEST(HX_AccountTest, SnapshotTakesTheAccountAndAppSettings) {
    hxtest::TempDir dir;
    foundation::UserDefaults defaults(dir.path() / "prefs.plist");
    defaults.setBool(true, "VMprefetch");
    HX_ConnectAppDelegate app;
    app.setAutoRefresh(false);
    app.setNewMessageAlert(true);

    HX_Account a;
    a.phones()[1] = makePhone(1, "Home", "+1", false, true);
    a.setForwardingPhoneID(1);
    a.setCurrentVmGreetingId("g");
    a.setCallOptions(true);
    auto qs = a.quickSetting(app, defaults);
    EXPECT_EQ(qs->autoRefresh(), 1);
    EXPECT_EQ(qs->messageSounds(), 2);
    EXPECT_EQ(qs->prefetchVM(), 2);
    EXPECT_EQ(qs->forwardingPhoneID(), 1);
    EXPECT_EQ(qs->currentVmGreetingId(), "g");
    EXPECT_TRUE(qs->callOptions());
    EXPECT_EQ(qs->phones().at(1), a.phones().at(1)) << "the snapshot holds the account's own phones";
    EXPECT_FALSE(qs->region());

    // The copy is the snapshot's own: a phone added later to the account is not in it.
    a.phones()[2] = makePhone(2, "Cell", "+2");
    EXPECT_EQ(qs->phones().size(), 1u);
}

}  // namespace
