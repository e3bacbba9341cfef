// Changes of the service settings: the bodies byte for byte, read again by python's own JSON
// reader, and the changes against the emulated service.
#include <gtest/gtest.h>

#include <random>

#include "model/account.h"
#include "model/phone.h"
#include "platform/foundation/files.h"
#include "service/settings_updates.h"
#include "tests/service/web_fixture.h"

namespace {

using Setting = HXServiceSetting;
using End = HXSettingsEnd;

HX_Phone phone(const std::string& name, const std::string& number, bool voip = false, int64_t clientType = 0) {
    HX_Phone p;
    p.setName(name);
    p.setNumber(number);
    p.setIsVOIP(voip);
    p.setClientType(clientType);
    return p;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// Each setter with the value the body carries for on and off, and its tag and row.
TEST(SettingsBodies, EverySetterPutsItsValueWhereItsMaskSaysTrue) {
    struct Case {
        Setting setting;
        const char* on;
        const char* off;
        const char* suffix;
        int row;
    };
    const Case cases[] = {
        {Setting::GlobalSpamFiltering, "[[null,null,null,[true]],[null,null,null,[true]],null,1]",
         "[[null,null,null,[false]],[null,null,null,[true]],null,1]", "_GLOBALSPAM", 121},
        {Setting::DND, "[[null,null,null,[null,[true]]],[null,null,null,[null,[true]]],null,1]",
         "[[null,null,null,[null,[false]]],[null,null,null,[null,[true]]],null,1]", "_DND", 100},
        {Setting::VMtranscription, "[[null,null,null,[null,null,[true]]],[null,null,null,[null,null,[true]]],null,1]",
         "[[null,null,null,[null,null,[false]]],[null,null,null,[null,null,[true]]],null,1]", "_VMTRANSCRIPTION", 104},
        {Setting::CallOptions,
         "[[null,null,null,[null,null,null,null,null,true]],[null,null,null,[null,null,null,null,null,true]],null,1]",
         "[[null,null,null,[null,null,null,null,null,false]],[null,null,null,[null,null,null,null,null,true]],null,1]",
         "_CALLOPTIONS", 122},
        {Setting::SMSEmailNotification,
         "[[null,null,null,[null,null,null,null,null,null,null,[true]]],[null,null,null,[null,null,null,null,null,null,"
         "null,[true]]],null,1]",
         "[[null,null,null,[null,null,null,null,null,null,null,[false]]],[null,null,null,[null,null,null,null,null,"
         "null,null,[true]]],null,1]",
         "_SMSNOTIFICATION", 111},
        {Setting::MissedCallsEmailNotification,
         "[[null,null,null,[null,null,null,null,null,null,null,[null,true]]],[null,null,null,[null,null,null,null,null,"
         "null,null,[null,true]]],null,1]",
         "[[null,null,null,[null,null,null,null,null,null,null,[null,false]]],[null,null,null,[null,null,null,null,"
         "null,null,null,[null,true]]],null,1]",
         "_CALLNOTIFICATION", 112},
        {Setting::VMEmailNotification,
         "[[null,null,null,[null,null,null,null,null,null,null,[null,null,true]]],[null,null,null,[null,null,null,null,"
         "null,null,null,[null,null,true]]],null,1]",
         "[[null,null,null,[null,null,null,null,null,null,null,[null,null,false]]],[null,null,null,[null,null,null,"
         "null,null,null,null,[null,null,true]]],null,1]",
         "_VMNOTIFICATION", 110},
        // directConnect is a number: 1 for on, 2 for off.
        {Setting::DirectConnect,
         "[[null,null,null,[null,null,null,null,null,null,null,null,1]],[null,null,null,[null,null,null,null,null,null,"
         "null,null,true]],null,1]",
         "[[null,null,null,[null,null,null,null,null,null,null,null,2]],[null,null,null,[null,null,null,null,null,null,"
         "null,null,true]],null,1]",
         "_DIRECTCONNECT", 101},
        {Setting::HXasCID,
         "[[null,null,null,[null,null,null,null,null,null,null,null,null,null,null,null,null,null,true]],[null,null,"
         "null,[null,null,null,null,null,null,null,null,null,null,null,null,null,null,true]],null,1]",
         "[[null,null,null,[null,null,null,null,null,null,null,null,null,null,null,null,null,null,false]],[null,null,"
         "null,[null,null,null,null,null,null,null,null,null,null,null,null,null,null,true]],null,1]",
         "_CID", 102},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HXServiceSettingBody(c.setting, true), c.on) << c.suffix;
        EXPECT_EQ(HXServiceSettingBody(c.setting, false), c.off) << c.suffix;
        const auto& info = HXServiceSettingInfoFor(c.setting);
        EXPECT_EQ(info.setting, c.setting);
        EXPECT_STREQ(info.tagSuffix, c.suffix);
        EXPECT_EQ(info.rowTag, c.row) << c.suffix;
    }
}

TEST(SettingsBodies, GreetingIdsAndPhoneNamesAreEscapedForTheirPlace) {
    struct Case {
        std::string greeting;
        std::string carried;  // between the quotes of the body
    };
    const Case greetings[] = {
        {"g1", "g1"},
        {"a/b c", "a/b c"},
        // A quote or a backslash no longer ends the string or escapes what follows.
        {"x\"],1]", "x\\\"],1]"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nl\n\x01"), "nl\\n\\u0001"},
    };
    for (const auto& c : greetings)
        EXPECT_EQ(HXGreetingBody(c.greeting),
                  "[[null,null,null,[null,null,null,null,null,null,null,null,null,null,[[],[\"" + c.carried +
                      "\"]]]],[null,null,null,[null,null,null,null,null,null,null,null,"
                      "null,null,[null,[true]]]],null,1]")
            << c.greeting;

    struct Name {
        std::string name;
        std::string escaped;
    };
    const Name names[] = {
        {"Home Phone", "Home Phone"},
        {"Tom & Jerry/2", "Tom %26 Jerry%2F2"},
        {";:@&=/+%?", "%3B%3A%40%26%3D%2F%2B%25%3F"},
        {"Caf\xC3\xA9", "Caf%C3%A9"},
        {"say \"hi\"\\", "say \"hi\"\\"},
    };
    for (const auto& n : names) EXPECT_EQ(HXEscapePhoneName(n.name), n.escaped) << n.name;
}

TEST(SettingsBodies, ForwardingBodiesOfAPhoneAndAVoIPClient) {
    const std::string phoneBody = HXForwardingBody(phone("A&B", "+15550111"), true);
    const std::string f = "[true,0," + repeat("null,", 198) + "[1,5,5]]";
    const std::string e = "[[\"phnnmbr\",\"+15550111\"],\"A%26B\",[1,101],2," + f + "]";
    const std::string r = "[null,null,null,null,[true]," + repeat("null,", 94) + "2]";
    EXPECT_EQ(phoneBody,
              "[[null,null,[[],[" + e + "],[],null,[],null,[]]],[null,null,[null," + r + ",null,null,null]],null,1]");

    const std::string voipBody = HXForwardingBody(phone("Tab", "sip:2", true, 2), false);
    const std::string vf = "[false,0,0," + repeat("null,", 197) + "[1,3,3]]";
    const std::string ve =
        "[\"sip:2\",2,\"Tab\",null," + vf + ",1,1," + repeat("null,", 193) + "[null,null,2,2,null,1,1],null,null,[2]]";
    const std::string vr = "[null,null,null,null,[true],true," + repeat("null,", 93) + "2]";
    EXPECT_EQ(voipBody,
              "[[null,null,[[],[],[],null,[" + ve + "],null,[]]],[null,null,[null,null,null,null," + vr + "]],null,1]");
}

// Every body, with names and ids of any bytes, is JSON to python's reader: four elements; a
// setting's mask is true at exactly one place that the value has; the forwarding bodies have the
// stated lengths.
TEST(SettingsBodies, PythonReadsEveryBodyWithTheStatedShape) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    std::mt19937 random(43);
    auto anyText = [&] {
        std::string s;
        const int n = static_cast<int>(random() % 12);
        for (int i = 0; i < n; ++i) s += static_cast<char>(random() % 256);
        return s;
    };
    std::string lines;
    for (int i = 0; i < 9; ++i)
        for (bool v : {true, false}) lines += "S " + HXServiceSettingBody(static_cast<Setting>(i), v) + "\n";
    for (int i = 0; i < 200; ++i) {
        lines += "G " + HXGreetingBody(anyText()) + "\n";
        lines += "P " + HXForwardingBody(phone(anyText(), anyText()), i % 2) + "\n";
        lines += "V " + HXForwardingBody(phone(anyText(), anyText(), true, i % 5), i % 2) + "\n";
    }
    hxtest::TempDir dir;
    ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "bodies.txt", lines).ok());
    const std::string script = R"(import json, sys
def places(v, m, path=()):
    # The places where the mask is true, and whether the value has a place there.
    if m is True:
        yield path
        return
    if isinstance(m, list):
        assert isinstance(v, list) and len(v) >= len(m), (path, v, m)
        for i, x in enumerate(m):
            yield from places(v[i], x, path + (i,))
    else:
        assert m is None, (path, m)
n = 0
for line in open(sys.argv[1], 'rb'):
    kind, body = line.rstrip(b'\n').split(b' ', 1)
    b = json.loads(body.decode('utf-8', 'surrogateescape'))
    assert len(b) == 4 and b[2] is None and b[3] == 1, b
    v, m = b[0], b[1]
    if kind == b'P':
        e = v[2][1][0]
        assert len(v[2]) == 7 and len(e) == 5 and len(e[4]) == 201 and e[0][0] == 'phnnmbr', e[:4]
        r = m[2][1]
        assert len(m[2]) == 5 and len(r) == 100 and r[4] == [True] and r[99] == 2
    elif kind == b'V':
        e = v[2][4][0]
        assert len(e) == 204 and isinstance(e[1], int) and len(e[4]) == 201 and e[203] == [2], e[:4]
        r = m[2][4]
        assert len(r) == 100 and r[4] == [True] and r[5] is True and r[99] == 2
    else:
        found = list(places(v, m))
        assert len(found) == 1, found
    n += 1
print(n)
)";
    ASSERT_TRUE(foundation::files::writeAtomically(dir.path() / "check.py", script).ok());
    std::string out;
    ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 " + (dir.path() / "check.py").string() + " " +
                                     (dir.path() / "bodies.txt").string() + " 2>&1",
                                 &out),
              0)
        << out;
    EXPECT_EQ(out, "618\n");
}

struct SettingsChanges : hxtest::WebFixture {
    std::vector<End> ends;
    HXSettingsCompletion note() {
        return [this](End end) { ends.push_back(end); };
    }
    std::vector<emulator::RecordedRequest> updates() { return requestsTo("/voice/v1/voiceclient/account/update"); }
};

TEST_F(SettingsChanges, AChangeEndsAtTheServicesValueAndTellsWhoAsked) {
    startService();
    app->account()->setDndEnabled(false);
    HXSettingsUpdates::of(app)->changeServiceSetting(Setting::DND, true, note());
    ASSERT_TRUE(runUntil([&] { return !ends.empty(); }));
    EXPECT_EQ(ends, std::vector<End>{End::Applied});
    ASSERT_EQ(updates().size(), 1u);
    EXPECT_EQ(updates()[0].body, HXServiceSettingBody(Setting::DND, true));
    EXPECT_EQ(updates()[0].header("Content-Type").value_or(""), "application/json+protobuf");
    EXPECT_TRUE(app->account()->dndEnabled());
    EXPECT_EQ(posted["kSettingsUpdateNotification"], 1);
}

TEST_F(SettingsChanges, NothingGoesOutWhenThereIsNothingToChangeOrNoWayToSend) {
    struct Case {
        const char* what;
        std::function<void(SettingsChanges&)> arrange;
        std::function<void(SettingsChanges&)> change;
        End end;
    };
    const Case cases[] = {
        {"the value the account has", [](SettingsChanges&) {},
         [](SettingsChanges& t) {
             HXSettingsUpdates::of(t.app)->changeServiceSetting(Setting::CallOptions, false, t.note());
         },
         End::Unchanged},
        {"the current greeting", [](SettingsChanges& t) { t.app->account()->setCurrentVmGreetingId("g1"); },
         [](SettingsChanges& t) { HXSettingsUpdates::of(t.app)->changeVMGreeting("g1", t.note()); }, End::Unchanged},
        {"signed out", [](SettingsChanges& t) { t.app->account()->setAuthV2(std::nullopt); },
         [](SettingsChanges& t) { HXSettingsUpdates::of(t.app)->changeForwarding(0, true, t.note()); }, End::NotSent},
        {"no token", [](SettingsChanges& t) { t.setTokenAvailable(false); },
         [](SettingsChanges& t) { HXSettingsUpdates::of(t.app)->changeServiceSetting(Setting::DND, true, t.note()); },
         End::NotSent},
        {"offline",
         [](SettingsChanges& t) {
             HXWebClientOf(*t.app).firstReachabilityHandled = true;
             t.app->setConnectionAvailable(false);
         },
         [](SettingsChanges& t) { HXSettingsUpdates::of(t.app)->changeVMGreeting("g2", t.note()); }, End::NotSent},
        // A phone list that changed since the row was drawn.
        {"a position past the phones", [](SettingsChanges& t) { t.addPhone(1, "+15550111"); },
         [](SettingsChanges& t) { HXSettingsUpdates::of(t.app)->changeForwarding(1, true, t.note()); }, End::NotSent},
        {"a negative position", [](SettingsChanges& t) { t.addPhone(1, "+15550111"); },
         [](SettingsChanges& t) { HXSettingsUpdates::of(t.app)->changeForwarding(-1, true, t.note()); }, End::NotSent},
    };
    for (const auto& c : cases) {
        startService();
        ends.clear();
        c.arrange(*this);
        c.change(*this);
        ASSERT_TRUE(runUntil([&] { return !ends.empty(); })) << c.what;
        EXPECT_EQ(ends, std::vector<End>{c.end}) << c.what;
        EXPECT_TRUE(updates().empty()) << c.what;
        clock->runUntilIdle();
        EXPECT_EQ(ends.size(), 1u) << c.what;
    }
}

TEST_F(SettingsChanges, AFailedOrRefusedReplyEndsTheChange) {
    struct Case {
        const char* what;
        emulator::Fault fault;
    };
    for (const auto& c :
         {Case{"error status", emulator::Fault::ServerErrorEmpty}, Case{"dropped", emulator::Fault::Drop}}) {
        startService();
        ends.clear();
        service->inject(c.fault, "/voice/v1/voiceclient/account/update", 1);
        HXSettingsUpdates::of(app)->changeServiceSetting(Setting::VMtranscription, true, note());
        ASSERT_TRUE(runUntil([&] { return !ends.empty(); }, 400)) << c.what;
        EXPECT_EQ(ends, std::vector<End>{End::Failed}) << c.what;
        EXPECT_FALSE(app->account()->VMtranscription()) << c.what;
    }
}

TEST_F(SettingsChanges, ASecondChangeOfTheSameSettingReplacesTheFirst) {
    startService();
    addPhone(1, "+15550111");
    addPhone(2, "+15550122");
    service->inject(emulator::Fault::Slow, "/voice/v1/voiceclient/account/update", 1);
    HXSettingsUpdates::of(app)->changeForwarding(1, true, note());
    ASSERT_TRUE(runUntil([&] { return updates().size() == 1; }));
    HXSettingsUpdates::of(app)->changeForwarding(1, false, note());
    ASSERT_TRUE(runUntil([&] { return ends.size() == 2; }));
    // The first hears it was replaced; the second goes to the service under the same tag.
    EXPECT_EQ(ends[0], End::Failed);
    EXPECT_EQ(ends[1], End::Applied);
    EXPECT_TRUE(inTable(std::string(kHXSettingsUpdatePath) + "1") == false);
    service->releaseHeld();
    clock->runUntilIdle();
    EXPECT_EQ(ends.size(), 2u);
}

}  // namespace
