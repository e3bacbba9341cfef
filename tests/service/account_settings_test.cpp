// The account settings: the "account/get" request and the mapping of its replies.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/connect_app_delegate.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/transport.h"
#include "platform/security/keychain.h"
#include "platform/services/url_opener.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "tests/service/web_client_fixture.h"
#include "tests/support/bytes.h"
#include "tests/support/signed_in_account.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

using hxtest::bytes;

// A reply with every mapped field; phones and greetings as the arguments give them.
std::string reply(const std::string& phones, const std::string& greetings = R"([{"greetingId":"g1",
    "customName":"Work &amp; home"},{"greetingId":"g2","predefinedName":"systemStandard"},{"greetingId":"g3"}])",
                  const std::string& active = "g2", const std::string& did = "+15550100") {
    return R"({"account":{"primaryDid":")" + did + R"(","communication":{"doNotDisturb":{"enabled":true},
        "useDidAsCallerId":true,"callScreening":"none","transcription":{"enableForVoicemail":true},
        "enableInCallCommands":false,"enableGlobalSpamFiltering":true,
        "emailForwardingModalities":{"voicemails":true,"sms":false,"missedCalls":true},
        "voicemailGreeting":{"item":)" +
           greetings + R"(,"active":{"defaultId":")" + active + R"("}}},
        "billing":{"credit":{"currencyCode":"USD","units":"2","nanos":500000000}},
        "phones":)" +
           phones + "}}";
}

const std::string kPhones = R"({"linkedPhone":[
    {"name":"Cell","phoneNumber":{"e164":"+15551110001"},"forwardingModalities":{"calls":true},
     "verificationState":{"currentlyVerified":true}},
    {"name":"Old","phoneNumber":{"e164":"+15551110002"},"verificationState":{"currentlyVerified":false}}],
  "linkedVoipDevice":[
    {"name":"Fridge","sipDeviceId":"sip:1","clientType":"toaster"},
    {"name":"Tab","sipDeviceId":"sip:2","clientType":"hxIos","forwardingModalities":{"calls":true}}]})";

struct AccountSettings : WebClientFixture {
    int updates = 0;

    void SetUp() override {
        WebClientFixture::SetUp();
        // Replies are handed over directly; only the loading test reaches the emulator.
        HXWebClientOf(*app).endpoints = HXEndpoints();
        app->setAccount(hxtest::signedInAccount("user@example.test"));
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "kSettingsUpdateNotification", [this](const foundation::Notification&) { ++updates; });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        WebClientFixture::TearDown();
    }
    HX_Account& account() { return *app->account(); }
    void map(const std::string& text) { app->getPhoneSettingsFromData(bytes(text)); }
    std::vector<std::pair<int64_t, std::string>> phoneList(const HX_Account::PhoneMap& phones) {
        std::vector<std::pair<int64_t, std::string>> out;
        for (const auto& [id, p] : phones) out.emplace_back(id, p->name() + "|" + p->number());
        return out;
    }
};

TEST_F(AccountSettings, AReplyIsMappedOntoTheAccount) {
    app->setSettingsLoading(true);
    map(reply(kPhones));
    const auto& a = account();
    EXPECT_EQ(a.HXnumber().value_or(""), "+15550100");
    EXPECT_TRUE(a.dndEnabled());
    EXPECT_TRUE(a.useHXasCID());
    EXPECT_TRUE(a.directConnect());
    EXPECT_TRUE(a.VMtranscription());
    EXPECT_FALSE(a.callOptions());
    EXPECT_TRUE(a.globalSpamFiltering());
    EXPECT_TRUE(a.emailNotificationVM());
    EXPECT_FALSE(a.emailNotificationSMS());
    EXPECT_TRUE(a.emailNotificationMissedCalls());
    // Named greetings only; entities unescaped; the standard one by its fixed name.
    EXPECT_EQ(a.vmGreetings(), (Dictionary{{"g1", "Work & home"}, {"g2", "HX Voice Default"}}));
    EXPECT_EQ(a.currentVmGreetingId(), "g2");
    // 2 units and 500000000 nanos of USD.
    EXPECT_NE(a.balance().value_or("").find("2.50"), std::string::npos) << a.balance().value_or("");
    EXPECT_NE(a.balance().value_or("").find("$"), std::string::npos) << a.balance().value_or("");
    // Ids run over both lists in reply order; the device of unknown type takes id 3 but is not kept.
    EXPECT_EQ(phoneList(a.phones()),
              (std::vector<std::pair<int64_t, std::string>>{{1, "Cell|+15551110001"}, {4, "Tab|sip:2"}}));
    EXPECT_EQ(phoneList(a.unverifiedPhones()), (std::vector<std::pair<int64_t, std::string>>{{2, "Old|+15551110002"}}));
    EXPECT_TRUE(a.phones().at(1)->forwarded());
    EXPECT_FALSE(a.phones().at(1)->isVOIP());
    EXPECT_TRUE(a.phones().at(4)->isVOIP());
    EXPECT_EQ(a.phones().at(4)->clientType(), 2);
    EXPECT_EQ(a.phones().at(4)->formattedNumber(), "VOIP");
    EXPECT_EQ(a.forwardingPhoneID(), 1);  // 0 is no choice: the first phone
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(app->settingsLoading());
    EXPECT_EQ(app->shell().count("updateAccountPrefs"), 1u);
    EXPECT_TRUE(app->shell().alerts().empty());
}

TEST_F(AccountSettings, GreetingFallbacks) {
    // (greetings, active id, expected current id)
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {R"([{"greetingId":"g1","customName":"A"}])", "gone", "g1"},  // a named one instead
        {"[]", "gone", "gone"},                                       // none named: kept
        {R"([{"greetingId":"g9"}])", "g9", "g9"},                     // unnamed only: kept
    };
    for (const auto& [greetings, active, expected] : cases) {
        map(reply(kPhones, greetings, active));
        EXPECT_EQ(account().currentVmGreetingId(), expected) << greetings;
    }
}

TEST_F(AccountSettings, TheCallbackChoiceIsRepairedAndFollowsItsPhoneWhenTheReplyIsReordered) {
    // (device places calls, choice before, expected choice)
    const std::tuple<bool, int64_t, int64_t> cases[] = {
        {true, -1, -1}, {true, -2, -2}, {false, -1, 1}, {false, 4, 4}, {false, 9, 1}, {false, 0, 1},
    };
    for (const auto& [isPhone, before, expected] : cases) {
        app->setIsPhone(isPhone);
        account().setForwardingPhoneID(before);
        map(reply(kPhones));
        EXPECT_EQ(account().forwardingPhoneID(), expected) << isPhone << " " << before;
    }
    // The service lists the phones the other way round: the choice keeps naming "Tab".
    account().setForwardingPhoneID(4);
    account().setThisPhoneID(1);
    const std::string reordered = R"({"linkedPhone":[],"linkedVoipDevice":[
        {"name":"Tab","sipDeviceId":"sip:2","clientType":"hxIos"},
        {"name":"Cell2","sipDeviceId":"sip:3","clientType":"hxWeb"}]})";
    map(reply(R"({"linkedPhone":[{"name":"Cell","phoneNumber":{"e164":"+15551110001"},
        "verificationState":{"currentlyVerified":true}}],"linkedVoipDevice":[
        {"name":"Cell2","sipDeviceId":"sip:3","clientType":"hxWeb"},
        {"name":"Tab","sipDeviceId":"sip:2","clientType":"hxIos"}]})"));
    EXPECT_EQ(account().phones().at(account().forwardingPhoneID())->name(), "Tab");
    EXPECT_EQ(account().phones().at(account().thisPhoneID())->name(), "Cell");
    map(reply(reordered));
    EXPECT_EQ(account().phones().at(account().forwardingPhoneID())->name(), "Tab");
    // An empty phone list leaves the choice alone.
    account().setForwardingPhoneID(7);
    map(reply(R"({"linkedPhone":[],"linkedVoipDevice":[]})"));
    EXPECT_EQ(account().forwardingPhoneID(), 7);
}

TEST_F(AccountSettings, SetupWarningsOnceForMissingPhonesAndAlwaysForAChatOnlyAccount) {
    auto prefs = foundation::UserDefaults::standardUserDefaults();
    ASSERT_TRUE(prefs->setObject(Value(Dictionary{{"FavoritesHelp", true}}), "displayedWarnings").ok());
    const std::string unverifiedOnly = R"({"linkedPhone":[{"name":"Old","phoneNumber":{"e164":"+1555"},
        "verificationState":{"currentlyVerified":false}}]})";
    map(reply(unverifiedOnly));
    map(reply(unverifiedOnly));
    auto alerts = app->shell().alerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Incomplete Account Setup");
    EXPECT_EQ(alerts[0].message.rfind("You need to have at least one verified phone number", 0), 0u);
    ASSERT_EQ(alerts[0].actions.size(), 2u);
    EXPECT_EQ(alerts[0].actions[0].title, "Dismiss");
    EXPECT_EQ(alerts[0].actions[0].style, HXAlertAction::Style::Cancel);
    EXPECT_EQ(prefs->dictionaryForKey("displayedWarnings").value_or(Dictionary{}),
              (Dictionary{{"MissingForwardingPhone", true}, {"FavoritesHelp", true}}));
    services::URLOpener::setShared(nullptr);
    ASSERT_TRUE(app->shell().tap("HX Website"));
    EXPECT_EQ(app->shell().count("openURL https://voice.hx.example/voice/"), 1u);
    EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"https://voice.hx.example/voice/"});
    for (int i = 0; i < 2; ++i) map(reply(kPhones, "[]", "", "CLIENT_ONLY"));
    alerts = app->shell().alerts();
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[2].message.rfind("You currently use a 'HX Chat' only HX Voice account.", 0), 0u);
}

TEST_F(AccountSettings, AReplyWithoutAnAccountChangesNothingAndAsksForASignIn) {
    map(reply(kPhones));
    const auto before = phoneList(account().phones());
    // (reply, app in background, sign-in running, sign-ins asked for)
    const std::tuple<std::string, bool, bool, size_t> cases[] = {
        {"not json", false, false, 1},
        {R"({"error":{"code":401}})", false, false, 1},
        {R"({"account":"text"})", false, false, 1},
        {"{}", true, false, 0},
        {"[]", false, true, 0},
    };
    for (const auto& [text, background, signingIn, signIns] : cases) {
        app->shell().clear();
        app->setIsInBackground(background);
        if (signingIn) {
            HXWebClientOf(*app).requests.put("ClientAuth", HXRequestEntry{});
        }
        app->setSettingsLoading(true);
        map(text);
        EXPECT_FALSE(app->settingsLoading()) << text;
        EXPECT_EQ(app->shell().count("showLoadingOverlay"), signIns) << text;
        EXPECT_EQ(phoneList(account().phones()), before) << text;
        app->cancelRequests([](const std::string&) { return true; });
    }
    EXPECT_EQ(updates, 1);
}

TEST_F(AccountSettings, LoadingSendsOneRequestAndWaitsForATokenWhenThereIsNone) {
    HXWebClientOf(*app).endpoints = HXEndpoints::allAt(service.origin());
    service.script("/voice/v1/voiceclient/account/get", {.body = reply(kPhones)});
    // No token yet: nothing is sent, and the load waits for the token.
    app->account()->setOAuthDict(Dictionary{{"login_hint", "h"}});
    service.script("/o/oauth2/tokenrpc", {.hold = true});
    app->loadPhoneSettings();
    clock->runUntilIdle();
    EXPECT_TRUE(app->settingsLoadPending());
    EXPECT_FALSE(app->settingsLoading());
    ASSERT_TRUE(clock->runUntil([&] { return service.requestCount() == 1; }, 20));
    service.releaseHeld();
    ASSERT_TRUE(clock->runUntil([&] { return app->isIdle(); }, 20)) << [&] {
        std::string tags;
        for (const auto& tag : HXWebClientOf(*app).requests.tags()) tags += tag + " ";
        return tags;
    }();
    // With a token: one request while one is running.
    app->setSettingsLoadPending(false);
    app->account()->setOAuthDict(hxtest::bearerToken("T", clock->wallNow() + 60));
    service.clearRequests();
    app->loadPhoneSettings();
    app->loadPhoneSettings();
    ASSERT_TRUE(clock->runUntil([&] { return updates == 1; }, 20));
    ASSERT_EQ(service.requestCount(), 1u);
    EXPECT_EQ(service.requests()[0].body, "[null,1]");
    EXPECT_EQ(service.requests()[0].header("Content-Type").value_or(""), "application/json+protobuf");
    EXPECT_EQ(account().phones().size(), 2u);
}

}  // namespace

// A phone name the user set with a byte that is not UTF-8 reads as U+FFFD: the account is kept
// and no sign-in is asked for (the panel used to come up again after every sign-in). A reply
// that is not the account even when repaired (a cut body, a sign-in page) still asks for one.
TEST_F(AccountSettings, AnInvalidByteInTheAccountKeepsTheAccount) {
    std::string phones = kPhones;
    phones.replace(phones.find("\"Cell\""), 6, "\"Ce\xffll\"");
    const std::string bad = reply(phones);
    app->shell().clear();
    app->setSettingsLoading(true);
    EXPECT_TRUE(app->getPhoneSettingsFromData(bytes(bad)));
    EXPECT_EQ(app->shell().count("showLoadingOverlay"), 0u);
    EXPECT_EQ(account().HXnumber(), "+15550100");
    const auto phonesRead = phoneList(account().phones());
    ASSERT_EQ(phonesRead.size(), 2u);
    EXPECT_TRUE(std::any_of(phonesRead.begin(), phonesRead.end(),
                            [](const auto& p) { return p.second == "Ce\xef\xbf\xbdll|+15551110001"; }));
    EXPECT_EQ(updates, 1);

    for (const std::string& notAccount :
         {bad.substr(0, bad.size() / 2), std::string("<html><body>Sign in \xff</body></html>")}) {
        app->shell().clear();
        EXPECT_FALSE(app->getPhoneSettingsFromData(bytes(notAccount)));
        EXPECT_EQ(app->shell().count("showLoadingOverlay"), 1u);
        EXPECT_EQ(phoneList(account().phones()), phonesRead);
        app->cancelRequests([](const std::string&) { return true; });
    }
}
