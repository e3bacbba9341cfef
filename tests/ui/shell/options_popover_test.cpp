// The conversation options through the real screens against the emulator, at 15 and at 12: the
// popover's titles, a chosen code reaching the service with its body (read back by python3's
// json), a held "Call" offering every call method with the current one destructive, and the
// store page offered through the store role; and the popover over the tablet's split view.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "app/views.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/store_review.h"
#include "platform/store/context.h"
#include "platform/system_screens/store_product_view_controller.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/testing/harness.h"
#include "service/conversation_operations.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"
#include "ui/shell/options_popover.h"
#include "ui/shell/ui_screens.h"
#include "ui/widgets/hxc_popover_view.h"

namespace {

using App = hxtest::RecordedApp<HX_ConnectAppDelegate_iPhone>;

struct OptionsOnScreen : hxtest::ScreenFixture<App> {
    explicit OptionsOnScreen(int version)
        : ScreenFixture({.screens = std::make_shared<HXUIScreens>(),
                         .emulator = true,
                         .signedIn = true,
                         .systemVersion = version}) {}
    std::string id;  // a text conversation of the service, in the store

    void start() {
        ASSERT_TRUE(launch());
        // The launch's loads have settled (the account's settings replace its phones when they come).
        ASSERT_TRUE(harness.clock().runUntil(
            [&] {
                return app->account() && app->account()->oAuthDict() && !app->settingsLoading() &&
                       HXWebClientOf(*app).requests.empty() && !service->requests().empty();
            },
            30));
        id = service->withAccount([](emulator::Account& a) {
            for (const auto& t : a.threads)
                if (t.isText()) return t.id;
            return std::string();
        });
        ASSERT_FALSE(id.empty());
        if (!app->getConversationWithID(id)) {
            // Not loaded by the launch: stored as the list would store it.
            auto context = app->managedObjectContext();
            auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
            (void)c->setValue("conversationID", id);
            (void)c->setValue("type", int64_t{10});
            (void)c->setValue("phoneNumber", "+15550188");
            (void)c->setValue("sender", "Someone");
            auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
            (void)m->setValue("id", id + "-1");
            (void)m->setObject("Conversation", c);
            ASSERT_TRUE(context->save().ok());
        }
        (void)app->getConversationWithID(id)->setValue("isRead", false);
        (void)app->getConversationWithID(id)->setValue("isArchived", false);
        harness.settle();
    }
    HXCPopoverView* popover() {
        auto found = harness.findAll("HXCPopoverView");
        return found.empty() ? nullptr : dynamic_cast<HXCPopoverView*>(found.back());
    }
    std::vector<std::string> shownTitles() {
        std::vector<std::string> titles;
        if (auto* p = popover())
            for (const auto& v : p->subviewsArray())
                titles.push_back(dynamic_cast<toolkit::Button&>(*v).titleForState(toolkit::kStateNormal).value_or(""));
        return titles;
    }
    void showOptions() {
        app->showOptionsForConversation(id, {150, 200}, *harness.window().rootViewController()->view());
        harness.advance(0.5);
    }
    toolkit::View& button(const std::string& title) {
        auto* p = popover();
        EXPECT_TRUE(p);
        for (const auto& v : p->subviewsArray())
            if (dynamic_cast<toolkit::Button&>(*v).titleForState(toolkit::kStateNormal) == title) return *v;
        ADD_FAILURE() << "no " << title;
        return *p;
    }
    toolkit::Point centre(toolkit::View& v) {
        return v.convertPointTo({v.bounds().midX(), v.bounds().midY()}, nullptr);
    }
    std::vector<emulator::RecordedRequest> updates() {
        std::vector<emulator::RecordedRequest> found;
        for (const auto& r : service->requests())
            if (r.path == "/voice/v1/voiceclient/thread/updateattributes") found.push_back(r);
        return found;
    }

    void choosingArchiveReachesTheService() {
        start();
        showOptions();
        const std::vector<std::string> expected = {"Call",          "Archive",      "Mark as read", "Forward as Email",
                                                   "Block Contact", "Mark as Spam", "Delete"};
        // The test form's current view shows no list: the conversation screen's codes.
        auto titles = shownTitles();
        ASSERT_FALSE(titles.empty());
        EXPECT_EQ(titles[0], "Call");
        EXPECT_EQ(titles[1], "Archive");
        EXPECT_EQ(titles.back(), "Delete");
        EXPECT_EQ(titles.size(), HXConversationOperations::of(app)->messageOptionsForConversationWithID(id).size());
        const size_t before = updates().size();
        ASSERT_TRUE(harness.tap(button("Archive")));
        ASSERT_TRUE(harness.clock().runUntil([&] { return updates().size() > before; }, 10));
        harness.advance(0.5);
        EXPECT_FALSE(popover()) << "a choice closes it";
        // The body is the archive change of this conversation, as python3 reads it.
        if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
        hxtest::TempDir dir;
        const auto file = dir.path() / "body.json";
        std::ofstream(file) << updates().back().body;
        std::string out;
        ASSERT_EQ(hxtest::runCommand("python3 -c \"import json,sys; b=json.load(open(sys.argv[1])); "
                                     "print(b[0][0], b[0][5], b[1][2], b[2])\" " +
                                         file.string(),
                                     &out),
                  0);
        EXPECT_EQ(out, id + " True True 1\n");
        EXPECT_TRUE(service->withAccount([&](emulator::Account& a) { return a.thread(id)->archived; }));
    }

    void holdingCallOffersTheCallMethods() {
        start();
        auto account = app->account();
        for (int64_t phone = 21; account->callMethods().size() < 3; ++phone) {
            auto p = std::make_shared<HX_Phone>();
            p->setPhoneId(phone);
            p->setNumber("+1555010" + std::to_string(phone));
            p->setFormattedNumber(p->number());
            p->setName("Phone " + std::to_string(phone));
            p->setVerified(true);
            account->phones()[phone] = p;
        }
        const auto methods = account->callMethods();
        ASSERT_EQ(methods.size(), 3u);
        account->setForwardingPhoneID(methods[1]->phoneId());
        showOptions();
        harness.longPress(centre(button("Call")), 0.8);
        harness.advance(0.5);
        auto* sheet = harness.visibleAlert();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->preferredStyle(), toolkit::AlertControllerStyle::ActionSheet);
        ASSERT_EQ(sheet->actions().size(), 3u)
            << sheet->message().value_or("") << " | " << sheet->actions()[0]->title();
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(sheet->actions()[i]->title(), methods[i]->name());
            EXPECT_EQ(sheet->actions()[i]->style(),
                      i == 1 ? toolkit::AlertActionStyle::Destructive : toolkit::AlertActionStyle::Default);
        }
        EXPECT_FALSE(popover()) << "the popover closed for the sheet";
        EXPECT_EQ(app->shell().count("placeCallTo"), 0u) << "holding placed no call by itself";
        EXPECT_TRUE(updates().empty());
    }
};

struct OptionsAt15 : OptionsOnScreen {
    OptionsAt15() : OptionsOnScreen(15) {}
};
struct OptionsAt12 : OptionsOnScreen {
    OptionsAt12() : OptionsOnScreen(12) {}
};

}  // namespace

TEST_F(OptionsAt15, ChoosingArchiveReachesTheService) { choosingArchiveReachesTheService(); }
TEST_F(OptionsAt12, ChoosingArchiveReachesTheService) { choosingArchiveReachesTheService(); }
TEST_F(OptionsAt15, HoldingCallOffersTheCallMethods) { holdingCallOffersTheCallMethods(); }
TEST_F(OptionsAt12, HoldingCallOffersTheCallMethods) { holdingCallOffersTheCallMethods(); }

TEST_F(OptionsAt15, TheStorePageLoadsBehindTheOverlayAndDoneClosesIt) {
    start();
    auto& catalog = system_screens::StoreCatalog::shared();
    catalog.reset();
    catalog.setProduct(1234, {"HX Fax", "HX Voice"});
    std::shared_ptr<HXStoreRole> store = app->screenRoles().store.lock();
    ASSERT_TRUE(store);
    store->openAppWithID(1234, "settings");
    harness.settle();
    EXPECT_NE(harness.find("Connecting to the AppStore\u2026"), nullptr);
    EXPECT_FALSE(dynamic_cast<system_screens::StoreProductViewController*>(harness.topPresented()));
    harness.advance(catalog.delay() + 0.5);
    EXPECT_EQ(harness.find("Connecting to the AppStore\u2026"), nullptr);
    auto* page = dynamic_cast<system_screens::StoreProductViewController*>(harness.topPresented());
    ASSERT_TRUE(page);
    ASSERT_EQ(catalog.requests().size(), 1u);
    EXPECT_EQ(catalog.requests()[0],
              (system_screens::StoreCatalog::Request{1234, HX_ConnectAppDelegate::kStoreAffiliateToken}));
    page->done();
    harness.advance(0.5);
    EXPECT_FALSE(dynamic_cast<system_screens::StoreProductViewController*>(harness.topPresented()));

    // An unknown item: the overlay goes and no page shows.
    store->openAppWithID(99, "");
    harness.advance(catalog.delay() + 0.5);
    EXPECT_EQ(harness.find("Connecting to the AppStore\u2026"), nullptr);
    EXPECT_FALSE(dynamic_cast<system_screens::StoreProductViewController*>(harness.topPresented()));
    catalog.reset();
}

TEST_F(OptionsAt15, AddNoteOverTheConversationScreenOpensTheNoteEditorFromItsBarButton) {
    start();
    app->selectViewForIndex(1);
    harness.settle();
    auto* nav = app->viewControllerForIndex(1)->navigationController();
    ASSERT_TRUE(nav);
    auto conversation = std::make_shared<HXPlaceholderScreen>("VC_Conversation");
    auto options = toolkit::BarButtonItem::withTitle("Options");
    conversation->navigationItem().setRightBarButtonItem(options);
    nav->pushViewController(conversation, false);
    harness.settle();
    showOptions();
    const auto titles = shownTitles();
    ASSERT_NE(std::find(titles.begin(), titles.end(), "Add Note"), titles.end());
    ASSERT_EQ(app->currentViewIndex(), 1);
    ASSERT_TRUE(harness.tap(button("Add Note")));
    harness.advance(0.5);
    EXPECT_EQ(app->shell().count("dismissPopoverAnimated 0"), 1u);
    auto* editor = dynamic_cast<toolkit::NavigationController*>(harness.topPresented());
    ASSERT_TRUE(editor) << (harness.topPresented() ? harness.topPresented()->className() : "none");
    EXPECT_EQ(editor->presentingViewController(), conversation->tabBarController());
    EXPECT_EQ(editor->viewControllers().front()->className(), "VC_NoteEdit");
    // Asked for as a popover (the phone shows it full screen).
    EXPECT_EQ(editor->modalPresentationStyle, toolkit::ModalPresentationStyle::Popover);
    ASSERT_TRUE(editor->popoverPresentationController());
    EXPECT_EQ(editor->popoverPresentationController()->barButtonItem.lock(), options);
    EXPECT_FALSE(app->optionsConversationID());
}

// "Add Note" acts only over the conversation screen and only for a conversation still stored:
// over another screen, or for a conversation deleted while the popover was up, nothing opens.
TEST_F(OptionsAt15, AddNoteOpensNothingOverAnotherScreenOrForAConversationDeletedMeanwhile) {
    start();
    app->selectViewForIndex(1);
    harness.settle();
    auto* nav = app->viewControllerForIndex(1)->navigationController();
    ASSERT_TRUE(nav);
    struct Case {
        const char* top;
        bool deletedMeanwhile;
    };
    const Case cases[] = {{"VC_Favorites", false}, {"VC_NoteEdit", false}, {"VC_Conversation", true}};
    for (const Case& c : cases) {
        auto top = std::make_shared<HXPlaceholderScreen>(c.top);
        top->navigationItem().setRightBarButtonItem(toolkit::BarButtonItem::withTitle("Options"));
        nav->pushViewController(top, false);
        harness.settle();
        showOptions();
        const auto titles = shownTitles();
        ASSERT_NE(std::find(titles.begin(), titles.end(), "Add Note"), titles.end()) << c.top;
        if (c.deletedMeanwhile) {
            // Deleted on the service as well (from another device), once every load still out has
            // landed: no list reload, whenever the clock starts one, brings it back.
            ASSERT_TRUE(settleRequests());
            service->withAccount([&](emulator::Account& a) {
                return std::erase_if(a.threads, [&](const emulator::Thread& t) { return t.id == id; });
            });
            auto context = app->managedObjectContext();
            context->deleteObject(app->getConversationWithID(id));
            ASSERT_TRUE(context->save().ok());
        }
        ASSERT_TRUE(harness.tap(button("Add Note"))) << c.top;
        harness.advance(0.5);
        EXPECT_FALSE(dynamic_cast<toolkit::NavigationController*>(harness.topPresented())) << c.top;
        EXPECT_EQ(app->shell().count("dismissPopoverAnimated 0"), 0u) << c.top;
        EXPECT_FALSE(app->optionsConversationID()) << c.top;
        nav->popViewController(false);
        harness.settle();
    }
}

TEST_F(OptionsAt15, EveryCodeThatAsksTheServiceSendsItsBody) {
    start();
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.messageListIsShowing = true; });
    const std::string update = "/voice/v1/voiceclient/thread/updateattributes";
    struct Step {
        const char* title;
        std::string path;
        std::string body;  // JSON, with ID for the conversation's id
    };
    const Step steps[] = {
        {"Mark as read", update, R"([["ID",null,null,true,[]],[null,null,null,true],1])"},
        {"Mark as unread", update, R"([["ID",null,null,false,[]],[null,null,null,true],1])"},
        {"Archive", update, R"([["ID",null,false,null,[],true],[null,null,true,null,null,true],1])"},
        {"Move to Inbox", update, R"([["ID",null,null,null,[],false],[null,null,null,null,null,true],1])"},
        {"Block Contact", update, R"([["ID",true,null,null,[]],[null,true],1])"},
        {"Unblock Contact", update, R"([["ID",false,null,null,[]],[null,true],1])"},
        {"Mark as Spam", update, R"([["ID",null,true,null,[]],[null,null,true],1])"},
        {"Remove from Spam", update, R"([["ID",null,false,null,[]],[null,null,true],1])"},
        {"Delete", "/voice/v1/voiceclient/thread/delete", R"(["ID"])"},
    };
    auto count = [&](const std::string& path) {
        size_t n = 0;
        for (const auto& r : service->requests()) n += r.path == path;
        return n;
    };
    hxtest::TempDir dir;
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto& step = steps[i];
        SCOPED_TRACE(step.title);
        showOptions();
        const auto titles = shownTitles();
        ASSERT_NE(std::find(titles.begin(), titles.end(), step.title), titles.end());
        const size_t before = count(step.path);
        ASSERT_TRUE(harness.tap(button(step.title)));
        ASSERT_TRUE(harness.clock().runUntil(
            [&] { return count(step.path) > before && HXWebClientOf(*app).requests.empty(); }, 10));
        harness.advance(0.5);
        std::string body;
        for (const auto& r : service->requests())
            if (r.path == step.path) body = r.body;
        std::ofstream(dir / ("got" + std::to_string(i) + ".json")) << body;
        std::string want = step.body;
        want.replace(want.find("ID"), 2, id);
        std::ofstream(dir / ("want" + std::to_string(i) + ".json")) << want;
    }
    // Each body, read by python3's json, is the structure the service expects.
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
    std::string out;
    ASSERT_EQ(hxtest::runCommand("python3 -c \"import json,sys,os; d=sys.argv[1]; n=int(sys.argv[2]); "
                                 "print([i for i in range(n) if json.load(open(os.path.join(d,'got%d.json'%i))) != "
                                 "json.load(open(os.path.join(d,'want%d.json'%i)))])\" " +
                                     dir.path().string() + " " + std::to_string(std::size(steps)),
                                 &out),
              0);
    EXPECT_EQ(out, "[]\n") << "steps whose bodies differ";
}

TEST_F(OptionsAt15, TheTwelfthActivationMoreThanFiveDaysOnAsksForOneRating) {
    auto requests = std::make_shared<services::RecordedStoreReviewRequests>();
    services::StoreReviewController::setRequester(requests);
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    struct Case {
        double age;
        size_t asked;
    };
    // The first is stored before the launch, which keeps it.
    for (const Case& c : {Case{432'001, 1}, Case{432'000, 0}}) {
        SCOPED_TRACE(c.age);
        const size_t before = requests->requests().size();
        defaults->setInteger(10, "launchCount");
        defaults->setDouble(dispatch::wallNow() - c.age, "firstLaunchDate");
        if (!app->account()) start();
        app->resumeActive();  // the eleventh activation
        EXPECT_EQ(defaults->integerForKey("launchCount"), 11);
        // A screen's completed action asks through the store role.
        app->screenRoles().store.lock()->requestReview();
        EXPECT_EQ(requests->requests().size() - before, c.asked);
    }
    services::StoreReviewController::setRequester(nullptr);
}

namespace {

struct OptionsOnTablet : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>> {
    OptionsOnTablet()
        : ScreenFixture(
              {.form = hxtest::DeviceForm::tablet, .screens = std::make_shared<HXUIScreens>(), .signedIn = true}) {}
};

}  // namespace

TEST_F(OptionsOnTablet, ThePopoverStandsOverTheSplitViewWithTheTabletsItems) {
    ASSERT_TRUE(launch());
    harness.settle();
    auto context = app->managedObjectContext();
    auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
    (void)c->setValue("conversationID", "tablet-1");
    (void)c->setValue("type", int64_t{10});
    (void)c->setValue("phoneNumber", "+15550177");
    (void)c->setValue("sender", "Someone");
    ASSERT_TRUE(context->save().ok());
    auto& root = *harness.window().rootViewController()->view();
    app->showOptionsForConversation("tablet-1", {400, 300}, root);
    harness.advance(0.5);
    auto found = harness.findAll("HXCPopoverView");
    ASSERT_EQ(found.size(), 1u);
    auto& popover = dynamic_cast<HXCPopoverView&>(*found[0]);
    EXPECT_EQ(popover.superview(), harness.window().subviews().back().get());
    ASSERT_FALSE(popover.subviewsArray().empty());
    auto& first = dynamic_cast<toolkit::Button&>(*popover.subviewsArray()[0]);
    EXPECT_EQ(first.titleForState(toolkit::kStateNormal), "Call");
    EXPECT_EQ(first.titleLabel()->font().pointSize(), 18);
    EXPECT_EQ(app->optionsConversationID(), "tablet-1");
    popover.dismiss(false);
}

namespace {

struct Events : HXOptionsPopoverDelegate {
    std::vector<std::string> seen;
    void popoverViewDidSelectItemAtIndex(HXOptionsPopover&, long index) override {
        seen.push_back("select " + std::to_string(index));
    }
    void popoverViewLongPressForItemAtIndex(HXOptionsPopover&, long index) override {
        seen.push_back("hold " + std::to_string(index));
    }
    void popoverViewDidDismiss(HXOptionsPopover&) override { seen.push_back("dismissed"); }
};

struct OptionsOnTabletPicture : hxtest::ScreenFixture<hxtest::RecordedApp<HX_ConnectAppDelegate_iPad>> {
    OptionsOnTabletPicture()
        : ScreenFixture({.form = hxtest::DeviceForm::tablet,
                         .screens = std::make_shared<HXUIScreens>(),
                         .emulator = true,
                         .signedIn = true,
                         .fonts = true}) {}
};

}  // namespace

// The handle lives as long as its popover, whether or not the shell keeps it: it answers choices
// while the popover is up and goes when the popover closes, or when the popover's window goes
// without a dismissal (a handle that kept itself outlived both, and with it what it pointed at).
TEST(ShellPopoverHandle, LivesExactlyAsLongAsItsPopover) {
    auto events = std::make_shared<Events>();
    for (const bool dismissed : {true, false}) {
        SCOPED_TRACE(dismissed ? "dismissed" : "window gone");
        events->seen.clear();
        std::weak_ptr<HXOptionsPopover> handle;
        {
            toolkit::testing::Harness harness(toolkit::ScreenProfile::iPhone8(), 12);
            auto root = std::make_shared<toolkit::ViewController>();
            harness.setRoot(root);
            harness.settle();
            handle = showOptionsPopover({120, 150}, *root->view(), {"Archive", "Delete"}, events);
            ASSERT_FALSE(handle.expired());
            harness.advance(0.5);
            auto found = harness.findAll("HXCPopoverView");
            ASSERT_EQ(found.size(), 1u);
            auto* popover = dynamic_cast<HXCPopoverView*>(found[0]);
            ASSERT_TRUE(harness.tap(*popover->subviewsArray().at(1)));
            harness.advance(0.5);
            EXPECT_FALSE(handle.expired()) << "nobody else holds the handle, yet it answers";
            if (dismissed) {
                handle.lock()->dismiss(false);
                harness.settle();
                EXPECT_TRUE(handle.expired());
            }
        }
        EXPECT_TRUE(handle.expired());
        EXPECT_EQ(events->seen, dismissed ? (std::vector<std::string>{"select 1", "dismissed"})
                                          : (std::vector<std::string>{"select 1"}));
    }
}

// Over the SMS list's rows (read and unread ones) the popover's body, edge and shadow stand out
// from what is behind it in either appearance.
TEST_F(OptionsOnTabletPicture, ThePopoverStandsOutFromTheListInLightAndDark) {
    ASSERT_TRUE(launch());
    app->selectViewForIndex(1);
    ASSERT_TRUE(harness.clock().runUntil(
        [&] { return HXWebClientOf(*app).requests.empty() && !harness.findAll("MessageListTableViewCell").empty(); },
        30));
    harness.settle();
    const std::string id = service->withAccount([](emulator::Account& a) { return a.threads.at(0).id; });
    ASSERT_TRUE(app->getConversationWithID(id));
    auto& root = *harness.window().rootViewController()->view();
    app->showOptionsForConversation(id, {500, 200}, root);
    harness.advance(0.5);
    ASSERT_EQ(harness.findAll("HXCPopoverView").size(), 1u);
    expectSnapshot("options_popover_tablet", {.scale = 1, .lightAndDark = true});
}
