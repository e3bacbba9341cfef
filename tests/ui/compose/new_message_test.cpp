// The new-message screen against the emulator: how typed, picked and searched recipients are
// admitted, the segment counter, Send to the distinct numbers, what every kind of failed send
// leaves behind, and the continuation of an unsent message.
#include "model/phone_extensions.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/curl_transport.h"
#include "platform/net/event_loop.h"
#include "platform/services/contacts.h"
#include "platform/services/user_activity.h"
#include "tests/support/voice_paths.h"
#include "tests/ui/compose/compose_support.h"
#include "ui/widgets/caret_navigation.h"

namespace {

using Phone = HX_ConnectAppDelegate_iPhone;
using hxtest::kSend;

struct NewMessage : hxtest::ComposeFixture<Phone> {
    void SetUp() override {
        ComposeFixture::SetUp();
        ASSERT_TRUE(launch());
        ASSERT_TRUE(runUntil([&] { return app->account() && app->account()->authV2(); }));
        // The account's settings have arrived: nothing rewrites the own number behind a test.
        ASSERT_TRUE(runUntil([&] { return app->account()->HXnumber().has_value() && app->isIdle(); }));
        harness.advance(1);
    }
    std::string formatted(const std::string& s) { return PhoneExtensions::formattedPhoneNumberFromString(s); }
    // Types text into the recipients and ends it with a comma.
    void typeRecipient(const std::string& text) {
        ASSERT_TRUE(screen()->number().becomeFirstResponder());
        ASSERT_TRUE(harness.typeText(text + ","));
    }
    void typeMessage(const std::string& text) {
        ASSERT_TRUE(screen()->message().becomeFirstResponder());
        ASSERT_TRUE(harness.typeText(text));
    }
    bool tapSend() { return screen() && screen()->sendButton()->tap(); }
    // Send without a connection, then the answer to the question that follows.
    void sendOfflineAndAnswer(const std::string& choice) {
        auto offline = net::CurlTransport::create(net::EventLoop::main());
        offline->setNetworkAvailable([](const std::string&) { return false; });
        auto online = net::Transport::shared();
        net::Transport::setShared(offline);
        ASSERT_TRUE(tapSend());
        ASSERT_TRUE(runUntil(
            [&] { return harness.visibleAlert() && harness.visibleAlert()->alertTitle() == "No Network Connection"; }));
        EXPECT_FALSE(app->loadingOverlayShown()) << "the question is asked without the overlay";
        ASSERT_TRUE(harness.tapAlertAction(choice));
        harness.settle();
        net::Transport::setShared(online);
    }
};

}  // namespace

TEST_F(NewMessage, TheCounterCountsSegmentsOfUTF16Units) {
    auto* s = open();
    ASSERT_NE(s, nullptr);
    struct Case {
        std::string text;
        std::string shown;
        VC_NewMessage::Counter::Colour colour;
    };
    using C = VC_NewMessage::Counter::Colour;
    const std::string emoji = "\U0001F600";  // two UTF-16 units
    std::string eighty;
    for (int i = 0; i < 80; ++i) eighty += emoji;
    const Case cases[] = {
        {"", "160 characters remaining", C::Grey},
        {std::string(150, 'a'), "10 characters remaining", C::Grey},
        {std::string(151, 'a'), "9 characters remaining", C::Orange},
        {std::string(160, 'a'), "0 characters remaining", C::Red},
        {std::string(161, 'a'), "159 characters remaining (2 SMS)", C::Grey},
        {std::string(320, 'a'), "0 characters remaining (2 SMS)", C::Red},
        {eighty, "0 characters remaining", C::Red},
        {eighty + "a", "159 characters remaining (2 SMS)", C::Grey},
        {std::string(159, 'a') + emoji, "159 characters remaining (2 SMS)", C::Grey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        s->message().setText(c.text);
        s->textViewDidChange(s->message());
        EXPECT_EQ(s->charCount().text(), c.shown);
        const auto expected = c.colour == C::Grey     ? toolkit::Color::systemGray()
                              : c.colour == C::Orange ? toolkit::Color::systemOrange()
                                                      : toolkit::Color::systemRed();
        EXPECT_EQ(s->charCount().textColor(), expected);
    }
}

TEST_F(NewMessage, TypedRecipientsAreCompletedFromTheOwnNumberAndFormatted) {
    struct Case {
        const char* own;
        const char* typed;
        std::string sentTo;  // before formatting
    };
    const Case cases[] = {
        {"+12025550123", "5551234", "+12025551234"},                // a local number gets the area code
        {"+12025550123", "(303) 555-1234", "+1(303) 555-1234"},     // ten digits in brackets get +1
        {"+12025550123", "1 (303) 555-1234", "+1 (303) 555-1234"},  // eleven from "1 (" get +
        {"+12025550123", "+44 20 7946 0000", "+44 20 7946 0000"},   // already international
        {"+12025550123", "555123", "555123"},                       // six digits: as typed
        {"+4930123456", "5551234", "5551234"},                      // another country: as typed
        {"+1202", "5551234", "5551234"},                            // too short to take a prefix from
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.own) + " / " + c.typed);
        app->account()->setHXnumber(std::string(c.own));
        auto* s = open();
        ASSERT_NE(s, nullptr);
        typeRecipient(c.typed);
        ASSERT_EQ(tokenObjects(), (std::vector<std::string>{formatted(c.sentTo)}));
        EXPECT_EQ(s->number().tokens().front()->title(), formatted(c.typed)) << "no contact has the number";
        EXPECT_EQ(s->number().text(), std::string(HXCTokenField::kEmptySentinel));
        s->cancel();
        harness.settle();
        ASSERT_EQ(screen(), nullptr);
    }
    // Letters are a keypad number; the title stays as typed.
    auto* s = open();
    typeRecipient("1-800-FLOWERS");
    EXPECT_EQ(tokenObjects(), (std::vector<std::string>{PhoneExtensions::phoneNumberFromLetters("1-800-FLOWERS")}));
    EXPECT_EQ(s->number().tokens().front()->title(), "1-800-FLOWERS");
}

TEST_F(NewMessage, DuplicatesAndTheTwentyFirstRecipientAreRefused) {
    app->account()->setHXnumber(std::string("+12025550123"));
    auto* s = open();
    typeRecipient("5551234");
    typeRecipient("555-1234");
    EXPECT_EQ(s->number().tokens().size(), 1u) << "the same number typed twice";
    EXPECT_EQ(s->number().text(), std::string(HXCTokenField::kEmptySentinel)) << "the typed text is emptied";
    // A pick of a number already there (as a favourite or contact hands it over) is refused too.
    s->selectedPhone(tokenObjects().front(), "Ann");
    EXPECT_EQ(s->number().tokens().size(), 1u);
    ASSERT_TRUE(s->number().becomeFirstResponder());
    for (int i = 2; i <= 20; ++i) typeRecipient("+1303555" + std::to_string(1000 + i));
    ASSERT_EQ(s->number().tokens().size(), 20u);
    EXPECT_EQ(s->number().rightViewMode(), toolkit::ViewMode::Never) << "no contacts button at 20";
    ASSERT_TRUE(harness.typeText("+13035559999"));
    EXPECT_EQ(s->number().tokens().size(), 20u);
    ASSERT_TRUE(harness.typeText(","));
    EXPECT_EQ(s->number().tokens().size(), 20u) << "the 21st is refused";
    s->selectedPhone("+13035558888", "Bo");
    EXPECT_EQ(s->number().tokens().size(), 20u);
    // The pick moved the focus to the text; back in the field, the summary gives way to the tokens.
    ASSERT_TRUE(s->number().becomeFirstResponder());
    EXPECT_EQ(s->number().text(), std::string(HXCTokenField::kEmptySentinel));
    // One fewer: the button is back while editing.
    ASSERT_TRUE(harness.pressBackspace(2));
    EXPECT_EQ(s->number().tokens().size(), 19u);
    EXPECT_EQ(s->number().rightViewMode(), toolkit::ViewMode::Always);
}

TEST_F(NewMessage, SendIsEnabledByARecipientAndATextOrAPicture) {
    auto* s = open();
    EXPECT_FALSE(s->sendButton()->enabled);
    typeRecipient("+13035550100");
    EXPECT_FALSE(s->sendButton()->enabled) << "a recipient without a text";
    typeMessage("x");
    EXPECT_TRUE(s->sendButton()->enabled);
    ASSERT_TRUE(harness.pressBackspace());
    EXPECT_FALSE(s->sendButton()->enabled);
    ASSERT_TRUE(
        s->addPicture(HXMMSImage{nullptr, graphics::Image::fromEncoded(hxtest::pngOf(4, 4, 0xff0000ff)).value()}));
    s->updateImagePreviews();
    EXPECT_TRUE(s->sendButton()->enabled) << "a picture without a text";
}

TEST_F(NewMessage, SendGoesOnceToEachDistinctNumberAndTheConfirmationCloses) {
    auto* s = open("+15550103000,+15550104000,+15550103000", "On my way");
    ASSERT_NE(s, nullptr);
    // Held past its closing, to read its state once it is gone from the window.
    const auto held = s->selfPtr();
    EXPECT_EQ(s->number().tokens().size(), 2u) << "the repeated number is one recipient";
    ASSERT_TRUE(tapSend());
    EXPECT_TRUE(s->isSending());
    EXPECT_EQ(app->shell().count("showLoadingOverlay Sending message\u2026"), 1u);
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
    const auto got = received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "On my way");
    auto targets = got[0].targets;
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, (std::vector<std::string>{"+15550103000", "+15550104000"}));
    EXPECT_FALSE(s->isSending());
    EXPECT_FALSE(app->loadingOverlayShown());
}

TEST_F(NewMessage, AFailedSendLeavesTheScreenAndTheNextSendArrivesOnce) {
    struct Case {
        const char* what;
        std::function<void(emulator::Emulator&)> fail;
    };
    const Case cases[] = {
        {"refused as an invalid argument",
         [](emulator::Emulator& e) { e.inject(emulator::Fault::InvalidArgument, kSend); }},
        {"a reply without a conversation",
         [](emulator::Emulator& e) {
             // A reply that parses but names no conversation (an unknown field only).
             e.script(kSend, emulator::ScriptedReply{.status = 200,
                                                     .body = std::string("\x78\x01", 2),
                                                     .headers = {{"Content-Type", "application/x-protobuf"}}});
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = received().size();
        auto* s = open("+15550103000", "Hello");
        ASSERT_NE(s, nullptr);
        c.fail(*service);
        ASSERT_TRUE(tapSend());
        ASSERT_TRUE(runUntil([&] { return !s->isSending(); }));
        harness.advance(0.5);
        ASSERT_EQ(screen(), s) << "the screen stays with its recipients and text";
        EXPECT_EQ(s->message().text(), "Hello");
        EXPECT_EQ(s->number().tokens().size(), 1u);
        EXPECT_FALSE(app->loadingOverlayShown());
        if (harness.visibleAlert()) {
            harness.tapAlertAction("Dismiss");
            harness.settle();
        }
        const size_t afterFailure = received().size();
        ASSERT_TRUE(tapSend());
        ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
        EXPECT_EQ(received().size(), afterFailure + 1) << "the next Send arrives exactly once";
        EXPECT_LE(afterFailure, before + 1);
        if (harness.visibleAlert()) harness.tapAlertAction("Dismiss");
        harness.settle();
    }
}

TEST_F(NewMessage, AMessageKeptAfterAServiceFailureGoesOnceAtTheNextDrain) {
    // The service fails (5xx, as a time-out would): the queue keeps the message for its next
    // drain, as "Send Later" would, and the screen closes with nothing lost; the user is told, over
    // what the screen uncovers, that the message goes later by itself.
    auto* s = open("+15550103000", "Once only");
    const auto held = s->selfPtr();
    service->inject(emulator::Fault::ServerErrorEmpty, kSend);
    ASSERT_TRUE(tapSend());
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr && harness.visibleAlert(); }));
    EXPECT_EQ(harness.visibleAlert()->alertTitle().value_or(""), "Sending Message Failed");
    EXPECT_TRUE(harness.tapAlertAction("Dismiss"));
    harness.settle();
    EXPECT_TRUE(received().empty());
    EXPECT_FALSE(s->isSending());
    // The next drain sends it; whatever drains afterwards has landed too.
    app->sendQueuedSMS();
    ASSERT_TRUE(runUntil([&] { return app->isIdle() && !received().empty(); }));
    harness.advance(5);
    ASSERT_TRUE(runUntil([&] { return app->isIdle(); }));
    const auto got = received();
    ASSERT_EQ(got.size(), 1u) << "the kept copy would arrive twice";
    EXPECT_EQ(got[0].text, "Once only");
}

TEST_F(NewMessage, OfflineAndCancelKeepsTheScreenAndSendWorksAgain) {
    auto* s = open("+15550103000", "Later");
    sendOfflineAndAnswer("Cancel");
    ASSERT_EQ(screen(), s);
    EXPECT_FALSE(s->isSending());
    EXPECT_FALSE(app->loadingOverlayShown());
    EXPECT_TRUE(received().empty());
    ASSERT_TRUE(tapSend());
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(NewMessage, OfflineAndSendLaterClosesTheScreenWithTheMessageKept) {
    ASSERT_NE(open("+15550103000", "Keep"), nullptr);
    sendOfflineAndAnswer("Send Later");
    EXPECT_EQ(screen(), nullptr);
    EXPECT_TRUE(received().empty());
    const auto queue = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("smsQueue");
    ASSERT_TRUE(queue.has_value());
    const auto* mine = queue->get(app->account()->username()).ifDictionary();
    ASSERT_NE(mine, nullptr);
    ASSERT_EQ(mine->size(), 1u);
    const auto& entry = mine->get(mine->keys().front());
    EXPECT_EQ(entry["message"].stringValue(), "Keep");
    EXPECT_TRUE(entry["queued"].boolValue());
}

TEST_F(NewMessage, OnlyItsOwnSendEndsTheScreensSend) {
    // Another send's confirmation or failure, and a conversation page's end, are heard by
    // everyone; the screen waits for the answer to its own send.
    auto* s = open("+15550103000", "Mine");
    ASSERT_NE(s, nullptr);
    service->inject(emulator::Fault::Slow, kSend);
    ASSERT_TRUE(tapSend());
    ASSERT_TRUE(runUntil([&] {
        const auto requests = service->requests();
        return std::any_of(requests.begin(), requests.end(), [](const auto& r) { return r.path == kSend; });
    }));
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.post("kSMSReplySentNotification", std::make_shared<std::string>("t.+15550199"));
    center.post("kSMSSendingFailureNotification");
    center.post("kRemoveSMSReplySendingProgressNotification");
    harness.settle();
    ASSERT_EQ(screen(), s);
    EXPECT_TRUE(s->isSending());
    EXPECT_TRUE(app->loadingOverlayShown());
    ASSERT_TRUE(tapSend());
    service->releaseHeld();
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
    EXPECT_EQ(received().size(), 1u) << "Send did nothing while its send was under way";
}

TEST_F(NewMessage, AConversationIsUsedOnlyFromTheTextView) {
    struct Case {
        int view;
        bool intoConversation;
    };
    for (const Case c : {Case{1, true}, Case{0, false}, Case{3, false}}) {
        SCOPED_TRACE(c.view);
        app->selectViewForIndex(c.view);
        harness.settle();
        const size_t before = received().size();
        const std::string thread = service->withAccount([](emulator::Account& a) { return a.threads.at(0).id; });
        auto* s = open("+15550103000", "Re", thread);
        ASSERT_NE(s, nullptr);
        EXPECT_FALSE(s->number().isEnabled()) << "an existing conversation's recipients are fixed";
        ASSERT_TRUE(tapSend());
        ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
        const auto got = received();
        ASSERT_EQ(got.size(), before + 1);
        EXPECT_EQ(got.back().conversationId.empty(), !c.intoConversation);
        EXPECT_EQ(got.back().targets.empty(), c.intoConversation);
    }
}

TEST_F(NewMessage, SearchHitsBecomeTokensWithTheirNumbers) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    services::Contact zoe;
    zoe.givenName = "Zoë";
    zoe.familyName = "Quinn";
    zoe.phoneNumbers.push_back({"mobile", "+1 303 555 0177"});
    services::ContactStore::shared()->addContact(zoe);
    app->resetContacts();
    (void)app->allContacts();
    ASSERT_TRUE(runUntil([&] { return !app->contactsMatchingName("Zo").empty(); }));
    auto* s = open();
    ASSERT_TRUE(s->number().becomeFirstResponder());
    ASSERT_TRUE(harness.typeText("Zo"));
    ASSERT_TRUE(runUntil([&] { return !s->searchResults().empty(); }));
    EXPECT_FALSE(s->searchContainer().isHidden());
    ASSERT_EQ(s->searchResultsTable().numberOfRows(0), 1);
    ASSERT_TRUE(harness.selectRow(s->searchResultsTable(), {0, 0}));
    harness.advance(0.2);
    ASSERT_EQ(s->number().tokens().size(), 1u);
    const auto& token = *s->number().tokens().front();
    EXPECT_NE(token.title().find("Zoë Quinn"), std::string::npos) << token.title();
    // The hit's number, as the contacts list holds it, is what is sent.
    EXPECT_EQ(token.representedObject().stringValue(),
              app->contactsMatchingName("Zo").at(0)->get("number").stringValue());
    EXPECT_TRUE(s->searchContainer().isHidden());
    // Digits never search.
    ASSERT_TRUE(harness.typeText("303"));
    harness.advance(0.2);
    EXPECT_TRUE(s->searchContainer().isHidden());
}

TEST_F(NewMessage, KeyCommandsSendAndClose) {
    const auto commands = open("+15550103000", "k")->keyCommands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].action, "sendMessage");
    EXPECT_EQ(commands[0].modifiers, toolkit::kModifierCommand | toolkit::kModifierShift);
    EXPECT_EQ(commands[1].input, toolkit::kInputEscape);
    EXPECT_EQ(commands[2].input, ".");
    ASSERT_TRUE(harness.pressKey(toolkit::kInputEscape));
    harness.settle();
    EXPECT_EQ(screen(), nullptr);
    EXPECT_TRUE(received().empty());
}

TEST_F(NewMessage, AnUnsentMessageContinuesUnchangedOnASecondApplicationObject) {
    services::UserActivity::reset();
    const std::string thread = service->withAccount([](emulator::Account& a) { return a.threads.at(0).id; });
    auto* s = open("+15550103000,+15550104000", "Draft \u00e9t\u00e9 \U0001F600", thread);
    ASSERT_NE(s, nullptr);
    // A recipient picked from the contacts keeps the number as the card holds it.
    s->number().setEnabled(true);
    s->selectedPhone("+1 303 555 0177", "Zo\u00eb Quinn (mobile)");
    const auto activity = s->userActivity();
    ASSERT_NE(activity, nullptr);
    EXPECT_TRUE(activity->isCurrent());
    EXPECT_EQ(activity->activityType(), VC_NewMessage::kActivityType);
    EXPECT_TRUE(activity->eligibleForHandoff);
    // The system saves it: the screen fills in the unsent message and keeps it out of the index.
    const auto saved = services::UserActivity::saveCurrent();
    ASSERT_TRUE(saved);
    const auto& info = saved->userInfo;
    EXPECT_EQ(info.get("messageText").stringValue(), "Draft \u00e9t\u00e9 \U0001F600");
    EXPECT_EQ(info.get("account").stringValue(), app->account()->username());
    EXPECT_EQ(info.get("conversationID").stringValue(), thread);
    EXPECT_EQ(foundation::split(info.get("number").stringValue(), ",").size(), 3u);
    EXPECT_FALSE(saved->eligibleForSearch);
    EXPECT_FALSE(saved->eligibleForPublicIndexing);
    std::vector<std::string> dialable;
    for (const auto& n : tokenObjects()) dialable.push_back(VC_NewMessage::sameNumberKey(n));
    std::sort(dialable.begin(), dialable.end());

    // The other device takes it over: this one closes its screen and drops the activity.
    activity->continued();
    harness.settle();
    ASSERT_EQ(screen(), nullptr);
    EXPECT_FALSE(activity->isValid());

    // A second application object, started on the same account, opens the same message.
    auto firstRoot = app->window()->rootViewController();
    auto other = std::make_shared<Phone>();
    HXWebClientOf(*other).endpoints = HXEndpoints::allAt(service->origin());
    other->setWindow(&harness.window());
    other->setScreens(std::make_shared<HXUIScreens>());
    ASSERT_TRUE(other->applicationDidFinishLaunchingWithOptions());
    other->reachabilityChanged(1);
    ASSERT_TRUE(runUntil([&] { return other->account() && other->account()->authV2(); }));
    ASSERT_TRUE(other->continueUserActivity(saved->activityType, saved->userInfo));
    harness.settle();
    auto* root = other->window()->rootViewController().get();
    ASSERT_NE(root, firstRoot.get());
    auto* nav = dynamic_cast<toolkit::NavigationController*>(root->presentedViewController());
    ASSERT_NE(nav, nullptr);
    auto* continued = dynamic_cast<VC_NewMessage*>(nav->viewControllers().front().get());
    ASSERT_NE(continued, nullptr);
    EXPECT_EQ(continued->message().text(), "Draft \u00e9t\u00e9 \U0001F600");
    EXPECT_EQ(continued->conversationID(), thread);
    std::vector<std::string> after;
    for (const auto& v : continued->number().tokenObjects())
        after.push_back(VC_NewMessage::sameNumberKey(v.stringValue()));
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, dialable) << "the same recipients";
    EXPECT_EQ(continued->number().tokens().size(), 3u);
    continued->cancel();
    harness.settle();
    other->cancelRequests([](const std::string&) { return true; });
    harness.clock().runUntilIdle();
    harness.window().setRootViewController(firstRoot);
    other.reset();
}

// The recipients' contact button shows while the field is edited and goes when the message is;
// swipes over the message move its caret a letter back or forward.
TEST_F(NewMessage, TheContactButtonShowsWhileAddingRecipientsAndSwipesMoveTheCaret) {
    auto* s = open();
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->number().becomeFirstResponder());
    harness.settle();
    auto* button = harness.find("Add number from contacts");
    ASSERT_NE(button, nullptr) << "no contact button while editing the recipients";
    const auto frame = button->convertRectTo(button->bounds(), nullptr);
    EXPECT_GE(frame.width(), 22);
    EXPECT_GE(frame.height(), 22);
    const auto field = s->number().convertRectTo(s->number().bounds(), nullptr);
    EXPECT_TRUE(field.contains(frame)) << "the button lies in the field it belongs to";
    EXPECT_TRUE(harness.tap(*button)) << "a tap reaches the button";
    harness.advance(1);
    if (harness.topPresented() != harness.window().rootViewController()->presentedViewController())
        harness.topPresented()->dismiss(false);
    harness.settle();

    typeMessage("hello world");
    EXPECT_EQ(harness.find("Add number from contacts"), nullptr) << "the message has the keyboard";
    const auto range = [&] { return hxcSelectedRange(s->message()); };
    ASSERT_EQ(range().location, 11u);
    const auto m = s->message().convertRectTo(s->message().bounds(), nullptr);
    const double y = m.midY();
    harness.swipe({m.maxX() - 20, y}, {m.minX() + 20, y}, 1);
    EXPECT_EQ(range().location, 10u) << "one finger to the left: a letter back";
    harness.swipe({m.maxX() - 20, y}, {m.minX() + 20, y}, 2);
    EXPECT_EQ(range().location, 6u) << "two fingers: to the word's start";
    harness.swipe({m.minX() + 20, y}, {m.maxX() - 20, y}, 1);
    EXPECT_EQ(range().location, 7u);
}

namespace {

// A device with a contact, launched and signed in, where nothing has asked for the contacts yet.
struct NewMessageAfterLaunch : hxtest::ComposeFixture<Phone> {
    void SetUp() override {
        ComposeFixture::SetUp();
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        services::Contact rosa;
        rosa.givenName = "Rosa";
        rosa.familyName = "Delgado";
        rosa.phoneNumbers.push_back({services::kLabelPhoneNumberiPhone, "+1 555 010 7788"});
        services::ContactStore::shared()->addContact(rosa);
        ASSERT_TRUE(launch());
        ASSERT_TRUE(runUntil([&] { return app->account() && app->account()->authV2(); }));
        ASSERT_TRUE(runUntil([&] { return app->account()->HXnumber().has_value() && app->isIdle(); }));
        harness.advance(1);
        app->account()->setHXnumber(std::string("+12025550123"));
    }
};

}  // namespace

// After a plain launch the user finds a contact on New Message as they type: a typed number of
// theirs becomes the contact's name, and part of the name lists them (the screen used to find
// nobody, as nothing had read the contacts).
TEST_F(NewMessageAfterLaunch, AFreshLaunchFindsAContactByNameAndByNumber) {
    auto* s = open();
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->number().becomeFirstResponder());
    ASSERT_TRUE(harness.typeText("(555) 010-7788,"));
    ASSERT_EQ(s->number().tokens().size(), 1u);
    EXPECT_EQ(s->number().tokens().front()->title().rfind("Rosa Delgado", 0), 0u)
        << s->number().tokens().front()->title();
    s->cancel();
    harness.settle();

    s = open();
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->number().becomeFirstResponder());
    ASSERT_TRUE(harness.typeText("Ros"));
    ASSERT_TRUE(runUntil([&] { return !s->searchResults().empty(); }));
    ASSERT_EQ(s->searchResultsTable().numberOfRows(0), 1);
    EXPECT_EQ(s->searchResults().front()->get("name").stringValue(), "Rosa Delgado");
    EXPECT_FALSE(s->searchContainer().isHidden());
}
