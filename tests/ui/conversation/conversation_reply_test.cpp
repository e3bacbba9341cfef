// The reply bar of a text conversation as a user meets it: where it sits and what it offers, the
// counter in its colours while typing, Send (disabled again after a send, enabled by a picture
// alone) and the return key, the table that follows the bar's height and the keyboard, the line
// limit by orientation, the pictures from the library with the GIF limit and the strip, and the
// reply handed over by the shell or to another device.
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/animated_image.h"
#include "platform/services/photos.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/pasteboard.h"
#include "tests/ui/compose/compose_support.h"
#include "tests/ui/conversation/conversation_support.h"

namespace {

using hxtest::DeviceForm;
using toolkit::Rect;

struct ReplyBar : hxtest::ConversationFixture {
    explicit ReplyBar(DeviceForm form = DeviceForm::phone) : hxtest::ConversationFixture(form) {}
    void SetUp() override {
        hxtest::ConversationFixture::SetUp();
        services::PhotoLibrary::reset();
        services::CaptureDevice::reset();
        toolkit::Pasteboard::general().clear();
    }
    void TearDown() override {
        services::PhotoLibrary::reset();
        services::CaptureDevice::reset();
        toolkit::Pasteboard::general().clear();
        foundation::UserDefaults::standardUserDefaults()->removeObjectForKey("smsReturnKeySend");
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        hxtest::ConversationFixture::TearDown();
    }
    VC_Conversation& openText(const std::string& id = "t1") {
        auto c = storeConversation(id, 10);
        storeMessages(c, {{.id = id + "m1", .number = 1, .text = "hi"}});
        return open(id);
    }
    HXCInputToolbar& bar() { return *screen->inputToolbar(); }
    HXCExpandingTextView& field() { return *bar().textView(); }
    // The frame of a view in the screen's view.
    Rect inScreen(toolkit::View& v) { return v.superview()->convertRectTo(v.frame(), screen->view().get()); }
    void type(const std::string& text) {
        if (!field().isFirstResponder()) {
            ASSERT_TRUE(harness.tap(field()));
        }
        ASSERT_TRUE(field().isFirstResponder());
        ASSERT_TRUE(harness.typeText(text));
        harness.settle();
    }
    system_screens::ImagePickerController* picker() {
        auto* presented = nav->presentedViewController();
        return dynamic_cast<system_screens::ImagePickerController*>(presented);
    }
    size_t alertsTitled(const std::string& title) {
        size_t n = 0;
        for (const auto& a : spy->alerts) n += a.title == title;
        return n;
    }
    HXMMSImage still(uint32_t rgba) {
        return HXMMSImage{nullptr, graphics::Image::fromEncoded(hxtest::pngOf(8, 6, rgba)).value()};
    }
};

struct ReplyBarX : ReplyBar {
    ReplyBarX() : ReplyBar(DeviceForm::phoneX) {}
};

}  // namespace

TEST_F(ReplyBar, OnlyATextConversationShownInFullHasTheBarAndOnlyASignedInOneTheCamera) {
    struct Case {
        int type;
        bool peeking, signedIn, bar, camera;
    } cases[] = {
        {1, false, true, true, true},   {1, false, false, true, false}, {1, true, true, false, false},
        {2, false, true, false, false}, {3, false, true, false, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        const std::string id = "c" + std::to_string(n++);
        auto stored = storeConversation(id, c.type == 1 ? 10 : 2);
        storeMessages(stored, {{.id = id + "m", .number = 1, .text = "hi"}});
        app->account()->setAuthV2(c.signedIn ? std::optional<std::string>("AuthV2") : std::nullopt);
        auto roles = app->screenRoles();
        auto made = app->screens().makeConversationScreen(
            roles, {.conversationID = id, .title = "Ann", .conversationType = c.type, .peeking = c.peeking});
        screen = std::dynamic_pointer_cast<VC_Conversation>(made);
        ASSERT_TRUE(screen);
        nav = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
        harness.setRoot(nav);
        nav->pushViewController(screen, false);
        harness.settle();
        ASSERT_EQ(screen->inputToolbar() != nullptr, c.bar);
        if (!c.bar) continue;
        EXPECT_EQ(field().placeholder(), "Tap to reply\u2026");
        EXPECT_EQ(bar().cameraButton() != nullptr, c.camera);
        EXPECT_FALSE(bar().inputButton()->isEnabled());
        // At the bottom of the view, the table ending where it begins.
        const Rect b = inScreen(bar());
        EXPECT_DOUBLE_EQ(b.maxY(), screen->view()->bounds().height());
        EXPECT_DOUBLE_EQ(screen->tableView().frame().maxY(), b.minY());
    }
}

TEST_F(ReplyBar, TheCounterFollowsTheTextInItsColours) {
    auto& s = openText();
    struct Case {
        size_t length;
        std::string label;
        VC_Conversation::Counter::Colour colour;
    } cases[] = {
        {0, "0/160\n ", VC_Conversation::Counter::Colour::Secondary},
        {150, "150/160\n ", VC_Conversation::Counter::Colour::Secondary},
        {151, "151/160\n ", VC_Conversation::Counter::Colour::Orange},
        {159, "159/160\n ", VC_Conversation::Counter::Colour::Orange},
        {160, "160/160\n ", VC_Conversation::Counter::Colour::Red},
        {161, "1/160\n(2 SMS) ", VC_Conversation::Counter::Colour::Secondary},
        {320, "160/160\n(2 SMS) ", VC_Conversation::Counter::Colour::Red},
        {480, "160/160\n(3 SMS) ", VC_Conversation::Counter::Colour::Red},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        s.setReplyText(std::string(c.length, 'w'));
        harness.settle();
        if (c.length > 0) {
            ASSERT_GE(field().numberOfLines(), 3) << "long texts take three lines or more";
        }
        EXPECT_EQ(bar().infoLabel()->text(), c.label);
        EXPECT_EQ(bar().infoLabel()->textColor(), VC_Conversation::counterColour(c.colour));
        EXPECT_EQ(bar().infoLabel()->alpha(), field().numberOfLines() > 1 ? 1 : 0);
    }
    EXPECT_NE(VC_Conversation::counterColour(VC_Conversation::Counter::Colour::Orange),
              VC_Conversation::counterColour(VC_Conversation::Counter::Colour::Red));
    // A short text on one line counts its characters (UTF-16, as the service does).
    s.setReplyText("");
    type("h\u00e9llo \U0001F600");
    EXPECT_EQ(field().numberOfLines(), 1);
    EXPECT_EQ(bar().infoLabel()->text(), "8/160\n ");
    EXPECT_EQ(bar().infoLabel()->alpha(), 0);
}

TEST_F(ReplyBar, SendGoesOutWithTheTextOrThePicturesAndIsDisabledAgain) {
    auto& s = openText();
    type("hello there");
    ASSERT_TRUE(bar().inputButton()->isEnabled());
    ASSERT_TRUE(harness.tap(*bar().inputButton()));
    ASSERT_EQ(spy->smsSent, std::vector<std::string>{"hello there"});
    EXPECT_EQ(field().text(), "");
    EXPECT_FALSE(bar().inputButton()->isEnabled()) << "an empty field cannot be sent";
    for (int i = 0; i < 8; ++i) spy->lastCompletion({.kind = HXSendAnswer::Kind::Progress});
    EXPECT_EQ(VC_Conversation::sendingProgress(), 8 * 15);
    auto* progress =
        dynamic_cast<toolkit::ProgressView*>(nav->navigationBar().viewWithTag(VC_Conversation::kProgressBarTag));
    ASSERT_NE(progress, nullptr);
    EXPECT_DOUBLE_EQ(progress->progress(), 1.0) << "the bar stops at 100 %";
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Sent, .conversationID = "t1"});

    // Two pictures and no text: Send is enabled by the pictures, the step is 100 / 7.
    ASSERT_TRUE(s.addPicture(still(0xff0000ffu)));
    ASSERT_TRUE(s.addPicture(still(0x00ff00ffu)));
    s.updateImagePreviews();
    harness.settle();
    EXPECT_TRUE(bar().inputButton()->isEnabled());
    ASSERT_NE(s.imagePreviewStrip(), nullptr);
    EXPECT_EQ(field().internalTextView()->inputAccessory, s.imagePreviewStrip());
    ASSERT_TRUE(harness.tap(*bar().inputButton()));
    ASSERT_EQ(spy->smsSent.back(), "MMS:");
    EXPECT_TRUE(s.images().empty());
    EXPECT_EQ(s.imagePreviewStrip(), nullptr);
    EXPECT_EQ(field().internalTextView()->inputAccessory, nullptr) << "the strip went with the pictures";
    EXPECT_FALSE(bar().inputButton()->isEnabled());
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Progress});
    EXPECT_EQ(VC_Conversation::sendingProgress(), 14);
    spy->lastCompletion({.kind = HXSendAnswer::Kind::Progress});
    EXPECT_EQ(VC_Conversation::sendingProgress(), 28) << "the pictures counted when the reply went";
}

TEST_F(ReplyBar, TheReturnKeySendsOnlyWhenTheSettingSaysSo) {
    struct Case {
        bool sends;
        std::string typed;
        std::vector<std::string> sent;
        std::string left;
    } cases[] = {
        {true, "hi", {"hi"}, ""},
        {true, "", {}, ""},
        {false, "hi", {}, "hi\n"},
        {false, "", {}, "\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        foundation::UserDefaults::standardUserDefaults()->setBool(c.sends, "smsReturnKeySend");
        spy->smsSent.clear();
        openText("r" + std::to_string(n++));
        EXPECT_EQ(field().returnKeyType(), c.sends ? toolkit::ReturnKeyType::Send : toolkit::ReturnKeyType::Default);
        if (!c.typed.empty()) type(c.typed);
        if (!field().isFirstResponder()) {
            ASSERT_TRUE(harness.tap(field()));
        }
        ASSERT_TRUE(harness.pressReturn());
        harness.settle();
        EXPECT_EQ(spy->smsSent, c.sent);
        EXPECT_EQ(field().text(), c.left);
    }
}

// The screen asks its alerts role, whatever is stored: the role's answer wins both ways.
TEST_F(ReplyBar, TheReturnKeyFollowsTheAlertsRolesPreferenceNotTheStoredValue) {
    int n = 0;
    for (const bool sends : {true, false}) {
        SCOPED_TRACE(sends);
        foundation::UserDefaults::standardUserDefaults()->setBool(!sends, "smsReturnKeySend");
        spy->preferences[HXPreference::SMSReturnKeySend] = sends;
        spy->smsSent.clear();
        openText("p" + std::to_string(n++));
        EXPECT_EQ(field().returnKeyType(), sends ? toolkit::ReturnKeyType::Send : toolkit::ReturnKeyType::Default);
        type("hi");
        ASSERT_TRUE(harness.pressReturn());
        harness.settle();
        EXPECT_EQ(spy->smsSent, sends ? std::vector<std::string>{"hi"} : std::vector<std::string>{});
        EXPECT_EQ(field().text(), sends ? "" : "hi\n");
    }
    spy->preferences.clear();
}

TEST_F(ReplyBarX, TheBarAndTheTableFollowTheKeyboardAndTheGrowingField) {
    openText();
    const double height = screen->view()->bounds().height();
    const double home = nav->view()->safeAreaInsets().bottom;
    ASSERT_GT(home, 0) << "a phone with a home indicator";
    EXPECT_DOUBLE_EQ(bar().bottomPadding(), home);
    EXPECT_DOUBLE_EQ(inScreen(bar()).maxY(), height);

    type("one");
    const auto& keyboard = toolkit::Keyboard::shared();
    ASSERT_TRUE(keyboard.isVisible());
    const Rect kb = screen->view()->convertRectFrom(keyboard.frame(), nullptr);
    EXPECT_DOUBLE_EQ(bar().bottomPadding(), 0) << "the keyboard covers the home indicator";
    EXPECT_NEAR(inScreen(bar()).maxY(), kb.minY(), 0.5);
    EXPECT_NEAR(screen->tableView().frame().maxY(), inScreen(bar()).minY(), 0.5);

    // Each new line raises the bar's top and the table's end with it, the bottom staying.
    const double oneLine = bar().frame().height();
    type("\ntwo\nthree");
    EXPECT_EQ(field().numberOfLines(), 3);
    EXPECT_GT(bar().frame().height(), oneLine);
    EXPECT_NEAR(inScreen(bar()).maxY(), kb.minY(), 0.5);
    EXPECT_NEAR(screen->tableView().frame().maxY(), inScreen(bar()).minY(), 0.5);

    ASSERT_TRUE(field().resignFirstResponder());
    harness.settle();
    EXPECT_FALSE(keyboard.isVisible());
    EXPECT_DOUBLE_EQ(bar().bottomPadding(), home);
    EXPECT_NEAR(inScreen(bar()).maxY(), height, 0.5);
    EXPECT_NEAR(screen->tableView().frame().maxY(), inScreen(bar()).minY(), 0.5);
}

// With the keyboard up, a message that arrives at the end (the reply just sent, read back) is
// brought into view above the bar, its last line included; an older page that arrives at the top
// leaves the bubbles in view where they were.
TEST_F(ReplyBarX, ANewBubbleComesIntoViewAboveTheBarAndAnOlderPageMovesNothing) {
    auto c = storeConversation("t1", 10);
    (void)c->setValue("paginationToken", "page2");
    storeMessages(c, hxtest::dailyTexts("n", 30, 1'700'000'000'000, "message"));
    auto& s = open("t1");
    type("one");
    ASSERT_TRUE(toolkit::Keyboard::shared().isVisible());
    auto& table = s.tableView();
    // A row's place in the screen's view, and the part of the table that shows rows.
    auto shown = [&](toolkit::IndexPath ip) { return table.convertRectTo(table.rectForRow(ip), s.view().get()); };
    auto inView = [&](toolkit::IndexPath ip) {
        const Rect r = shown(ip);
        const double top = table.frame().minY() + table.contentInset().top;
        return r.minY() >= top - 0.5 && r.maxY() <= inScreen(bar()).minY() + 0.5;
    };
    ASSERT_TRUE(inView({29, 0})) << "the newest at the bottom to begin with";

    storeMessages(c, {{.id = "sent",
                       .number = 1'700'000'000'000 + int64_t{31} * 86'400'000,
                       .text = "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight",
                       .outgoing = true}});
    harness.advance(1);
    harness.settle();
    ASSERT_EQ(table.numberOfSections(), 31);
    EXPECT_EQ(s.messageAt(30)->messageID(), "sent");
    EXPECT_TRUE(inView({30, 0})) << "the new bubble " << shown({30, 0}).minY() << "-" << shown({30, 0}).maxY()
                                 << " above the bar at " << inScreen(bar()).minY();
    EXPECT_TRUE(toolkit::Keyboard::shared().isVisible());

    // An older page, pulled for at the top: the bubble at the top of the view stays where it is.
    table.setContentOffset({0, -table.contentInset().top}, false);
    harness.settle();
    const auto visible = table.indexPathsForVisibleRows();
    ASSERT_FALSE(visible.empty());
    const toolkit::IndexPath top = visible.front();
    const double yBefore = shown(top).minY();
    const std::string topID = s.messageAt(top.section)->messageID();
    s.getOlderMessages();
    storeMessages(c, hxtest::dailyTexts("o", 10, 1'600'000'000'000, "older"));
    s.olderMessageReceived();
    harness.advance(1);
    harness.settle();
    ASSERT_EQ(table.numberOfSections(), 41);
    EXPECT_EQ(s.messageAt(top.section + 10)->messageID(), topID);
    EXPECT_NEAR(shown({top.section + 10, top.row}).minY(), yBefore, 0.5);
}

TEST_F(ReplyBar, TheFieldGrowsToFiveLinesStandingAndThreeLyingAndKeepsItsTextOnRotation) {
    openText();
    EXPECT_EQ(field().maximumNumberOfLines(), 5);
    type("a\nb\nc\nd\ne\nf\ng");
    EXPECT_LE(field().frame().height(), field().maximumHeight() + 6);
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    harness.settle();
    EXPECT_EQ(field().text(), "a\nb\nc\nd\ne\nf\ng") << "measured again, not lost";
    EXPECT_GE(field().maximumNumberOfLines(), 1);
    EXPECT_LE(field().maximumNumberOfLines(), 3);
    ASSERT_TRUE(field().resignFirstResponder());
    harness.settle();
    EXPECT_EQ(field().maximumNumberOfLines(), 3) << "without the keyboard the limit itself";
    harness.rotate(toolkit::Orientation::Portrait);
    harness.settle();
    EXPECT_EQ(field().maximumNumberOfLines(), 5);
    EXPECT_NEAR(inScreen(bar()).maxY(), screen->view()->bounds().height(), 0.5);
}

// A text that scrolled standing and fits lying down shows from its first line: the field does
// not keep the scroll of its taller self, cutting the first lines off over an empty foot.
TEST_F(ReplyBar, ATextThatFitsAfterARotationShowsFromItsFirstLine) {
    openText();
    std::string words;
    for (int i = 1; i <= 28; ++i) words += (i > 1 ? " word" : "word") + std::to_string(i);
    type(words);
    auto& inner = *field().internalTextView();
    ASSERT_GT(inner.contentOffset().y, -inner.contentInset().top) << "scrolled standing";
    harness.rotate(toolkit::Orientation::LandscapeLeft);
    harness.settle();
    ASSERT_LE(field().numberOfLines(), field().maximumNumberOfLines()) << "it fits lying down";
    EXPECT_NEAR(inner.contentOffset().y, -inner.contentInset().top, 0.5);
    harness.rotate(toolkit::Orientation::Portrait);
    harness.settle();
}

TEST_F(ReplyBar, LibraryPicturesGoByTheGIFLimitAndTheStripRemovesThem) {
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    services::CaptureDevice::setCameraAvailable(false);
    auto url = [](const foundation::Data& bytes, const char* type) {
        auto added = services::PhotoLibrary::addAsset(bytes, type);
        EXPECT_TRUE(added.ok());
        return added.ok() ? added.value() : std::string();
    };
    const auto over = url(hxtest::gifOfSize(2'000'001), "com.compuserve.gif");
    const auto fits = url(hxtest::gifOfSize(2'000'000), "com.compuserve.gif");
    const auto png = url(hxtest::pngOf(30, 20, 0x0000ffffu), "public.png");
    auto& s = openText();
    // No camera and nothing on the clipboard: the library at once, without a sheet.
    ASSERT_NE(bar().cameraButton(), nullptr);
    ASSERT_TRUE(harness.tap(*bar().cameraButton()));
    harness.settle();
    ASSERT_NE(picker(), nullptr);
    EXPECT_EQ(picker()->sourceType, system_screens::ImagePickerSourceType::PhotoLibrary);
    ASSERT_TRUE(picker()->pickAsset(over));
    harness.settle();
    EXPECT_EQ(alertsTitled("Image too Large"), 1u);
    EXPECT_TRUE(s.images().empty());
    ASSERT_NE(picker(), nullptr) << "the picker stays open for another choice";
    ASSERT_TRUE(picker()->pickAsset(fits));
    harness.settle();
    EXPECT_EQ(picker(), nullptr);
    ASSERT_EQ(s.images().size(), 1u);
    EXPECT_EQ(s.images()[0].animated->data().size(), 2'000'000u);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(harness.tap(*bar().cameraButton()));
        harness.settle();
        ASSERT_NE(picker(), nullptr);
        ASSERT_TRUE(picker()->pickAsset(png));
        harness.settle();
    }
    ASSERT_EQ(s.images().size(), 3u);
    ASSERT_NE(s.imagePreviewStrip(), nullptr);
    auto items = s.imagePreviewStrip()->items();
    ASSERT_EQ(items.size(), 4u);  // three pictures and a flexible space
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(items[i]->accessibilityLabel, "Image Attachment (" + std::to_string(i + 1) + " of 3)");
    EXPECT_TRUE(field().isFirstResponder());
    EXPECT_TRUE(bar().inputButton()->isEnabled());
    // Removing the middle one renumbers the others.
    const auto first = s.images()[0].animated;
    const auto third = s.images()[2].still;
    ASSERT_TRUE(items[1]->tap());
    ASSERT_EQ(s.images().size(), 2u);
    EXPECT_EQ(s.images()[0].animated, first);
    EXPECT_EQ(s.images()[1].still, third);
    items = s.imagePreviewStrip()->items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->accessibilityLabel, "Image Attachment (1 of 2)");
    EXPECT_EQ(items[1]->accessibilityLabel, "Image Attachment (2 of 2)");
    ASSERT_TRUE(items[0]->tap());
    ASSERT_TRUE(s.imagePreviewStrip()->items()[0]->tap());
    EXPECT_TRUE(s.images().empty());
    EXPECT_EQ(s.imagePreviewStrip(), nullptr);
    EXPECT_FALSE(bar().inputButton()->isEnabled()) << "nothing left to send";

    // With a clipboard picture the sheet offers it; a cancelled picker leaves the bar as it was.
    toolkit::Pasteboard::general().setData(hxtest::pngOf(2, 2, 0x000000ffu), "public.png");
    ASSERT_TRUE(harness.tap(*bar().cameraButton()));
    harness.settle();
    auto* sheet = harness.visibleAlert();
    ASSERT_NE(sheet, nullptr);
    std::vector<std::string> titles;
    for (const auto& a : sheet->actions()) titles.push_back(a->title());
    EXPECT_EQ(titles, (std::vector<std::string>{"Cancel", "Clipboard Image", "Choose from Library\u2026"}));
    ASSERT_TRUE(harness.tapAlertAction("Clipboard Image"));
    harness.settle();
    EXPECT_EQ(s.images().size(), 1u);
    EXPECT_TRUE(s.canPerformAction("paste:", nullptr)) << "the field has the focus and the clipboard a picture";
}

TEST_F(ReplyBar, TheShellsReplyFillsTheFieldAndAnotherDeviceTakesItAway) {
    auto& s = openText();
    foundation::NotificationCenter::defaultCenter().post("kFocusSMSReplyFieldNotification", nullptr,
                                                         foundation::Dictionary{{"messageText", "see you"}});
    harness.settle();
    EXPECT_TRUE(field().isFirstResponder());
    EXPECT_EQ(field().text(), "see you");
    EXPECT_EQ(bar().infoLabel()->text(), "7/160\n ");
    ASSERT_TRUE(s.replyActivity());
    EXPECT_TRUE(s.replyActivity()->needsSave()) << "the activity carries the text as typed";
    s.userActivityWillSave(*s.replyActivity());
    harness.settle();
    EXPECT_EQ(s.replyActivity()->userInfo.get("messageText").stringValue(), "see you");
    EXPECT_EQ(s.replyActivity()->userInfo.get("conversationID").stringValue(), "t1");
    // The key command sends and keeps the text; handing over clears it.
    s.sendMessageKeystroke();
    EXPECT_EQ(spy->smsSent, std::vector<std::string>{"see you"});
    EXPECT_EQ(field().text(), "see you");
    s.userActivityWasContinued(*s.replyActivity());
    harness.settle();
    EXPECT_EQ(field().text(), "");
    EXPECT_FALSE(field().isFirstResponder());
}

// The picker cancelled with pictures attached gives the reply field the keyboard back and draws
// the bar again, as a pick does.
TEST_F(ReplyBar, ACancelledPickerWithPicturesGivesTheFieldTheKeyboardBack) {
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    services::CaptureDevice::setCameraAvailable(false);
    auto added = services::PhotoLibrary::addAsset(hxtest::pngOf(30, 20, 0x0000ffffu), "public.png");
    ASSERT_TRUE(added.ok());
    auto& s = openText();
    ASSERT_TRUE(harness.tap(*bar().cameraButton()));
    harness.settle();
    ASSERT_NE(picker(), nullptr);
    ASSERT_TRUE(picker()->pickAsset(added.value()));
    harness.settle();
    ASSERT_EQ(s.images().size(), 1u);
    ASSERT_TRUE(harness.tap(*bar().cameraButton()));
    harness.settle();
    ASSERT_NE(picker(), nullptr);
    ASSERT_FALSE(field().isFirstResponder()) << "the picker has the keyboard's place";
    const auto drawn = bar().displayGeneration();
    ASSERT_TRUE(picker()->cancel());
    harness.settle();
    EXPECT_EQ(picker(), nullptr);
    EXPECT_EQ(s.images().size(), 1u);
    EXPECT_TRUE(field().isFirstResponder());
    EXPECT_TRUE(toolkit::Keyboard::shared().isVisible());
    EXPECT_GT(bar().displayGeneration(), drawn);
}
