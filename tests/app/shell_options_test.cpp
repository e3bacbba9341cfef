// The options popover's choices as the application object carries them out (the popover itself
// is the screen library's: here a scripted one that keeps the titles and the delegate), the
// callback chooser of a held "Call", the rating request's thresholds and the store page.
#include <gtest/gtest.h>

#include "app/review_request.h"
#include "model/message_store.h"
#include "platform/mail/mail_compose_controller.h"
#include "platform/services/store_review.h"
#include "platform/store/context.h"
#include "platform/toolkit/testing/harness.h"
#include "service/conversation_operations.h"
#include "tests/service/web_fixture.h"

namespace {

using foundation::Value;

// What the shell asked the screen library to show, and a way to answer as the popover would.
struct ScriptedPopover : HXOptionsPopover {
    std::vector<std::string> titles;
    std::weak_ptr<HXOptionsPopoverDelegate> delegate;
    int dismissals = 0;
    void dismiss(bool) override {
        ++dismissals;
        if (auto d = delegate.lock()) d->popoverViewDidDismiss(*this);
    }
    void choose(long index) { delegate.lock()->popoverViewDidSelectItemAtIndex(*this, index); }
    void hold(long index) { delegate.lock()->popoverViewLongPressForItemAtIndex(*this, index); }
};

struct ScriptedScreens : HXScreens {
    std::vector<std::shared_ptr<ScriptedPopover>> shown;
    std::shared_ptr<HXOptionsPopover> showPopover(graphics::Point, toolkit::View&,
                                                  const std::vector<std::string>& strings,
                                                  std::weak_ptr<HXOptionsPopoverDelegate> delegate) override {
        auto p = std::make_shared<ScriptedPopover>();
        p->titles = strings;
        p->delegate = std::move(delegate);
        shown.push_back(p);
        return p;
    }
};

struct Options : hxtest::WebFixture {
    std::shared_ptr<ScriptedScreens> screens = std::make_shared<ScriptedScreens>();
    std::shared_ptr<toolkit::View> view = toolkit::View::make(toolkit::Rect(0, 0, 320, 480));
    std::string id;
    int dismissedPosts = 0;
    void SetUp() override {
        emulator::GeneratorOptions o;
        o.seed = 7;
        o.smsThreads = 2;
        o.voicemailThreads = 0;
        startService(emulator::generateAccount(o));
        ASSERT_TRUE(app->resetPersistentStore().ok());
        app->setScreens(screens);
        service->withAccount([&](emulator::Account& a) {
            const auto& t = a.threads.front();
            id = t.id;
            auto context = app->managedObjectContext();
            auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
            (void)c->setValue("conversationID", t.id);
            (void)c->setValue("type", int64_t{10});
            (void)c->setValue("phoneNumber", t.numbers.front());
            (void)c->setValue("sender", "Someone");
            (void)c->setValue("isRead", false);
            auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
            (void)m->setValue("id", t.items.front().id);
            (void)m->setObject("Conversation", c);
            return 0;
        });
        ASSERT_TRUE(app->managedObjectContext()->save().ok());
        app->shell().changeScript([](HXShellRecorder::Script& s) { s.messageListIsShowing = true; });
        mail::MailComposeViewController::setCanSendMail(true);
        foundation::NotificationCenter::defaultCenter().addObserver(
            &dismissedPosts, "kConversationOptionsPopupDismissedNotification",
            [this](const foundation::Notification&) { ++dismissedPosts; });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(&dismissedPosts);
        WebFixture::TearDown();
    }
    ScriptedPopover& show() {
        app->showOptionsForConversation(id, {10, 10}, *view);
        EXPECT_FALSE(screens->shown.empty());
        return *screens->shown.back();
    }
    store::ManagedObjectPtr conversation() { return app->getConversationWithID(id); }
    bool settled() {
        return runUntil([&] { return inFlight() == 0 && app->mocAccessCount() == 0; }) && (clock->runUntilIdle(), true);
    }
};

const std::string kUpdate = "/voice/v1/voiceclient/thread/updateattributes";

}  // namespace

TEST_F(Options, ThePopoverShowsTheTitlesOfTheOfferedCodesAndAChoiceReachesTheService) {
    auto& popover = show();
    EXPECT_EQ(popover.titles, (std::vector<std::string>{"Call", "Archive", "Mark as read", "Forward as Email",
                                                        "Block Contact", "Mark as Spam", "Delete"}));
    EXPECT_EQ(app->optionsConversationID(), id);
    popover.choose(2);  // "Mark as read"
    EXPECT_EQ(dismissedPosts, 1);
    EXPECT_EQ(popover.dismissals, 1);
    EXPECT_FALSE(app->optionsConversationID());
    ASSERT_TRUE(settled());
    ASSERT_EQ(requestsTo(kUpdate).size(), 1u);
    EXPECT_NE(requestsTo(kUpdate).back().body.find(id), std::string::npos);
    EXPECT_TRUE(conversation()->value("isRead").boolValue());

    // Block, then spam, each with its own body.
    show().choose(4);  // now read: "Call", "Archive", "Mark as unread", "Forward as Email", "Block Contact", ...
    ASSERT_TRUE(settled());
    EXPECT_NE(requestsTo(kUpdate).back().body.find("[null,true]"), std::string::npos)
        << requestsTo(kUpdate).back().body;
    auto& spam = show();
    ASSERT_EQ(spam.titles[4], "Unblock Contact");
    spam.choose(5);  // "Mark as Spam"
    ASSERT_TRUE(settled());
    EXPECT_NE(requestsTo(kUpdate).back().body.find("[null,null,true],1]"), std::string::npos)
        << requestsTo(kUpdate).back().body;
    EXPECT_TRUE(service->withAccount([&](emulator::Account& a) { return a.thread(id)->spam; }));
}

TEST_F(Options, TheChosenIndexMeansTheCodeShownEvenAfterTheConversationChanged) {
    auto& popover = show();
    ASSERT_EQ(popover.titles[2], "Mark as read");
    // The user went on to the conversation screen while the popover was up: the list computed
    // now would offer "Add Note" at that index.
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.messageListIsShowing = false; });
    ASSERT_EQ(HXConversationOperations::of(app)->messageOptionsForConversationWithID(id)[2], 7);
    popover.choose(2);
    ASSERT_TRUE(settled());
    EXPECT_EQ(requestsTo(kUpdate).size(), 1u);
    EXPECT_TRUE(conversation()->value("isRead").boolValue());

    app->shell().changeScript([](HXShellRecorder::Script& s) { s.messageListIsShowing = true; });
    auto& unread = show();
    ASSERT_EQ(unread.titles[2], "Mark as unread");
    // Turned unread meanwhile (a refresh): the aim is reached and it is not flipped back to read.
    (void)conversation()->setValue("isRead", false);
    unread.choose(2);
    ASSERT_TRUE(settled());
    EXPECT_EQ(requestsTo(kUpdate).size(), 1u);
    EXPECT_FALSE(conversation()->value("isRead").boolValue());
    // An index beyond the codes shown does nothing and still clears the conversation.
    show().choose(42);
    EXPECT_FALSE(app->optionsConversationID());
    EXPECT_EQ(requestsTo(kUpdate).size(), 1u);
}

TEST_F(Options, ChoicesForAConversationDeletedMeanwhileDoNothing) {
    auto& popover = show();
    auto context = app->managedObjectContext();
    context->deleteObject(conversation());
    ASSERT_TRUE(context->save().ok());
    popover.choose(0);  // "Call"
    EXPECT_EQ(app->shell().count("placeCallTo"), 0u);
    EXPECT_FALSE(app->optionsConversationID());
    // Nothing is offered for it any more: no popover.
    const size_t before = screens->shown.size();
    app->showOptionsForConversation(id, {1, 1}, *view);
    EXPECT_EQ(screens->shown.size(), before);
    EXPECT_FALSE(app->optionsConversationID());
}

TEST_F(Options, AddNoteActsOnlyOverTheConversationScreen) {
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.messageListIsShowing = false; });
    auto& popover = show();
    ASSERT_EQ(popover.titles[2], "Add Note");
    popover.choose(2);  // the current view shows no conversation screen: nothing is presented
    EXPECT_EQ(app->shell().count("dismissPopoverAnimated"), 0u);
    EXPECT_FALSE(app->optionsConversationID());
}

TEST_F(Options, HoldingCallOffersEveryCallMethodWithTheCurrentOneDestructive) {
    addPhone(11, "+15550101");
    addPhone(12, "+15550102");
    addPhone(13, "+15550103");
    app->account()->setForwardingPhoneID(12);
    auto& popover = show();
    popover.hold(0);
    EXPECT_EQ(dismissedPosts, 1);
    EXPECT_EQ(app->optionsConversationID(), id) << "kept for the call placed after the choice";
    ASSERT_EQ(alerts().size(), 1u);
    const HXAlert sheet = alerts().back();
    std::vector<std::string> titles;
    std::vector<HXAlertAction::Style> styles;
    for (const auto& a : sheet.actions) titles.push_back(a.title), styles.push_back(a.style);
    // This application object is not the phone form, so only the linked phones are call methods.
    EXPECT_EQ(titles, (std::vector<std::string>{"Phone 11", "Phone 12", "Phone 13"}));
    using S = HXAlertAction::Style;
    EXPECT_EQ(styles, (std::vector<S>{S::Default, S::Destructive, S::Default}));
    ASSERT_TRUE(app->shell().tap("Phone 13"));
    EXPECT_EQ(app->account()->forwardingPhoneID(), 13);
    ASSERT_TRUE(settled());
    EXPECT_FALSE(requestsTo("/voice/v1/voiceclient/communication/startclicktocall").empty());

    // Holding anything else is a plain choice.
    auto& again = show();
    again.hold(1);  // "Archive"
    EXPECT_FALSE(app->optionsConversationID());
    ASSERT_TRUE(settled());
    EXPECT_TRUE(conversation()->value("isArchived").boolValue());
}

TEST_F(Options, ANewPopoverClosesTheEarlierOneWhoseChoicesNoLongerCount) {
    auto& first = show();
    auto& second = show();
    EXPECT_EQ(first.dismissals, 1);
    first.choose(1);  // "Archive" of the closed one
    ASSERT_TRUE(settled());
    EXPECT_FALSE(conversation()->value("isArchived").boolValue());
    EXPECT_EQ(app->optionsConversationID(), id);
    second.choose(1);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(conversation()->value("isArchived").boolValue());
}

TEST(ReviewRequest, AsksTheStoreFromTheTwelfthLaunchAfterMoreThanFiveDays) {
    dispatch::ScopedVirtualClock clock(1'700'000'000.0);
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    auto requests = std::make_shared<services::RecordedStoreReviewRequests>();
    services::StoreReviewController::setRequester(requests);
    const double now = dispatch::wallNow();
    struct Case {
        int64_t launches;
        double age;
        bool asks;
    };
    for (const Case& c :
         {Case{10, 432'001, false}, Case{11, 432'000, false}, Case{11, 432'001, true}, Case{40, 10 * 86'400.0, true}}) {
        defaults->setInteger(c.launches, "launchCount");
        ASSERT_TRUE(defaults->setObject(Value(foundation::Date{now - c.age}), "firstLaunchDate").ok());
        const size_t before = requests->requests().size();
        auto app = std::make_shared<hxtest::RecordedApp<>>();
        app->screenRoles().store.lock()->requestReview();
        EXPECT_EQ(requests->requests().size() - before, c.asks ? 1u : 0u) << c.launches << " " << c.age;
    }
    defaults->removeObjectForKey("launchCount");
    defaults->removeObjectForKey("firstLaunchDate");
    services::StoreReviewController::setRequester(nullptr);
}
