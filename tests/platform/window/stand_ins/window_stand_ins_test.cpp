// What the system does for the app in its window, on SDL's offscreen driver, as a user meets it:
// a picture file dropped on the window lands where the pointer is (the new message screen attaches
// it; a file that is no picture, or too large, is refused with a notice), a picture bubble held and
// moved is dragged into the reply's pictures, the mail composer shows what it will send, a tapped
// number in a bubble shows the call it started, a banner being typed into closes on Escape or goes
// once left alone, and a window left alone draws nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "model/phone_extensions.h"
#include "platform/clock/clock.h"
#include "platform/foundation/application.h"
#include "platform/foundation/files.h"
#include "platform/foundation/url.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/mail/mail_compose_controller.h"
#include "platform/services/location_route.h"
#include "platform/services/url_opener.h"
#include "platform/services/user_notifications.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/text_input.h"
#include "platform/window/front_end.h"
#include "tests/support/goldens.h"
#include "tests/support/service_threads.h"
#include "tests/support/test_support.h"
#include "tests/support/window_fixture.h"
#include "ui/compose/vc_new_message.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/conversation/vc_conversation.h"

namespace {

using hxtest::centre;
using toolkit::Point;

constexpr const char* kPictureThread = "t.+15550191";
constexpr const char* kNumberText = "Call me on +44 20 7946 0000 after six";

struct StandInsWindow : hxtest::WindowFixture {
    void SetUp() override {
        WindowFixture::SetUp();
        services::URLOpener::setShared(nullptr);
        // A thread whose newest text holds a number and whose message before it holds a picture.
        service->withAccount([](emulator::Account& a) {
            auto t = hxtest::textThread("+15550191", "mpic1", 1'900'000'000'000, "");
            emulator::Message& picture = t.items.front();
            picture.attachments = {{"imgpic1", "image/jpeg"}};
            a.media["imgpic1"] = {.mimeType = "image/jpeg", .width = 1024, .height = 768};
            emulator::Message text = picture;
            text.id = "mpic2";
            text.startTimeMs += 60'000;
            text.text = kNumberText;
            text.attachments.clear();
            t.items.push_back(text);
            a.threads.push_back(t);
            return 0;
        });
    }
    void TearDown() override {
        frontEnd.reset();
        services::URLOpener::setShared(nullptr);
        WindowFixture::TearDown();
    }
    void openWindow() {
        ASSERT_TRUE(launchAndLoad());
        WindowFixture::openWindow();
    }
    // The window system's drop of a file: the pointer moves over the window, then the file comes.
    void dropFile(const std::filesystem::path& path, Point where) {
        play("press " + at(where) + "\nrelease " + at(where));
        SDL_Event event{};
        event.type = SDL_DROPFILE;
        event.drop.windowID = frontEnd->windowID();
        event.drop.file = ::strdup(path.c_str());  // the window frees it, as SDL's own
        ASSERT_EQ(windowing::sdlLibrary().value()->PushEvent(&event), 1);
        frontEnd->pumpEvents();
        harness.advance(0.2);  // the dropped picture loads on the next turns
        harness.settle();
    }
    toolkit::ViewController* top() {
        toolkit::ViewController* shown = harness.topPresented();
        if (auto* nav = dynamic_cast<toolkit::NavigationController*>(shown)) return nav->topViewController();
        return shown;
    }
    // The thread's row in the SMS list (the newest), clicked.
    VC_Conversation* openPictureThread() {
        app->selectViewForIndex(1);
        harness.settle();
        EXPECT_TRUE(settleRequests());
        toolkit::View* cell = nullptr;
        for (int i = 0; i < 50 && !cell; ++i) {
            (void)harness.outline();
            for (auto* view : harness.findAll("Label"))
                if (view->outlineText().rfind("+1 555-0191", 0) == 0)
                    for (toolkit::View* up = view; up && !cell; up = up->superview())
                        if (dynamic_cast<toolkit::TableViewCell*>(up)) cell = up;
            if (!cell) harness.advance(0.1);
        }
        if (!cell) return nullptr;
        click(*cell);
        harness.advance(0.5);
        EXPECT_TRUE(settleRequests());
        harness.advance(0.5);
        EXPECT_TRUE(settleRequests());
        auto* nav = app->viewControllerForIndex(1)->navigationController();
        return nav ? dynamic_cast<VC_Conversation*>(nav->topViewController()) : nullptr;
    }
    ConversationTableViewCell* cellWhere(VC_Conversation& conversation,
                                         const std::function<bool(ConversationTableViewCell&)>& wanted) {
        for (auto* view : harness.findAll("ConversationTableViewCell"))
            if (auto* cell = dynamic_cast<ConversationTableViewCell*>(view);
                cell && cell->isDescendantOf(&conversation.tableView()) && wanted(*cell))
                return cell;
        return nullptr;
    }

    hxtest::TempDir files;
};

std::filesystem::path writePNG(const std::filesystem::path& path) {
    auto bitmap = graphics::Bitmap::make(40, 30);
    EXPECT_TRUE(bitmap.ok());
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) (*bitmap)->row(y)[x] = 0xFF2080C0u;
    auto png = graphics::encodePNG(**bitmap);
    EXPECT_TRUE(png.ok());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
    return path;
}

}  // namespace

TEST_F(StandInsWindow, APictureFileDroppedOnTheNewMessageScreenIsAttachedAndAnotherFileIsRefused) {
    openWindow();
    (void)app->applicationOpenURL("hxconnect://sms?number=5550100");
    harness.advance(0.5);
    harness.settle();
    auto* compose = dynamic_cast<VC_NewMessage*>(top());
    ASSERT_TRUE(compose) << harness.outline();
    ASSERT_TRUE(compose->images().empty());
    const Point middle = centre(*compose->view());

    dropFile(writePNG(files / "sunset.png"), middle);
    ASSERT_EQ(compose->images().size(), 1u) << "the dropped picture is attached";
    EXPECT_EQ(frontEnd->notice().card(), nullptr);

    // A text file is no picture: nothing is attached, and the window says why.
    std::ofstream(files / "notes.txt") << "not a picture";
    dropFile(files / "notes.txt", middle);
    EXPECT_EQ(compose->images().size(), 1u);
    ASSERT_NE(frontEnd->notice().card(), nullptr);
    EXPECT_NE(frontEnd->notice().text().find("notes.txt"), std::string::npos) << frontEnd->notice().text();
    EXPECT_NE(frontEnd->notice().text().find("not a picture"), std::string::npos) << frontEnd->notice().text();
    // A damaged PNG neither.
    std::ofstream(files / "broken.png", std::ios::binary) << "\x89PNG\r\n\x1a\n-damaged-";
    dropFile(files / "broken.png", middle);
    EXPECT_EQ(compose->images().size(), 1u);
    frames(windowing::Notice::kShownFor + 0.5);
    EXPECT_EQ(frontEnd->notice().card(), nullptr) << "the notice goes by itself";

    // A picture padded past the bound (a sparse file: nothing is written) is refused unread, one
    // at the bound is attached.
    const auto padded = [&](const char* name, uintmax_t size) {
        const auto path = writePNG(files / name);
        std::filesystem::resize_file(path, size);
        return path;
    };
    dropFile(padded("huge.png", windowing::FrontEnd::kMaxDroppedFileBytes + 1), middle);
    EXPECT_EQ(compose->images().size(), 1u);
    ASSERT_NE(frontEnd->notice().card(), nullptr);
    EXPECT_NE(frontEnd->notice().text().find("\u201chuge.png\u201d is too large to drop"), std::string::npos)
        << frontEnd->notice().text();
    dropFile(padded("bound.png", windowing::FrontEnd::kMaxDroppedFileBytes), middle);
    EXPECT_EQ(compose->images().size(), 2u) << frontEnd->notice().text();
}

TEST_F(StandInsWindow, APictureBubbleHeldAndMovedIsDraggedIntoTheRepliesPicturesAndAFileDropJoinsIt) {
    openWindow();
    auto* conversation = openPictureThread();
    ASSERT_TRUE(conversation) << harness.outline();
    auto* bubble = cellWhere(*conversation, [](ConversationTableViewCell& c) { return c.isImage(); });
    ASSERT_TRUE(bubble) << harness.outline();
    ASSERT_TRUE(conversation->images().empty());
    const Point from = centre(*bubble);
    const Point to{from.x, from.y + 150};  // over the text bubble below it

    // A quick press and move scrolls or taps: no drag.
    play("press " + at(from));
    play("release " + at(to));
    EXPECT_FALSE(frontEnd->isDragging());
    harness.advance(1);
    EXPECT_TRUE(conversation->images().empty());

    // Held, then moved: the picture lifts and follows the pointer; let go over the conversation,
    // it joins the reply's pictures.
    play("press " + at(from));
    harness.advance(windowing::FrontEnd::kDragLiftDelay + 0.05);
    play("release " + at(to));  // the motion lifts it; the release drops it
    EXPECT_FALSE(frontEnd->isDragging());
    harness.advance(0.2);
    harness.settle();
    ASSERT_EQ(conversation->images().size(), 1u) << harness.outline();

    // A file dropped on the conversation joins them too.
    dropFile(writePNG(files / "plan.png"), to);
    EXPECT_EQ(conversation->images().size(), 2u);
}

// A number the app calls shows in the notice as the app writes numbers (the program hands the
// stand-in its way of writing them), not as the digits dialled; without one, the digits.
TEST_F(StandInsWindow, ACalledNumberShowsInTheNoticeAsTheAppWritesNumbers) {
    openWindow();
    services::URLOpener::shared()->openURL("tel:5551234567");
    frontEnd->frame();
    EXPECT_EQ(frontEnd->notice().text(), "Calling 5551234567");
    frames(windowing::Notice::kShownFor + 0.5);
    services::URLOpener::setNumberFormat(
        [](const std::string& number) { return PhoneExtensions::formattedPhoneNumberFromString(number); });
    services::URLOpener::shared()->openURL("tel:5551234567");
    frontEnd->frame();
    EXPECT_EQ(frontEnd->notice().text(), "Calling (555) 123-4567");
    ASSERT_TRUE(frontEnd->drawFrame().ok());
    auto shown = frontEnd->readRenderTarget();
    ASSERT_TRUE(shown.ok());
    hxtest::expectSnapshot(**shown, "notice_calling");
    services::URLOpener::setNumberFormat({});
}

TEST_F(StandInsWindow, TheMailComposerShowsWhatItSendsAndATappedNumberShowsTheCallItStarted) {
    openWindow();
    auto* conversation = openPictureThread();
    ASSERT_TRUE(conversation) << harness.outline();

    // The number in the bubble, tapped: the phone calls it, and the window says so.
    auto* bubble = cellWhere(*conversation, [](ConversationTableViewCell& c) {
        return c.messageView().text().find("+44") != std::string::npos;
    });
    ASSERT_TRUE(bubble) << harness.outline();
    auto& text = bubble->messageView();
    ASSERT_FALSE(text.detectedLinks().empty()) << "the number is detected";
    const auto caret = text.caretRectForPosition({text.detectedLinks().front().range.location + 3});
    const Point onNumber = text.convertPointTo({caret.midX(), caret.midY()}, nullptr);
    play("click " + at(onNumber));
    ASSERT_EQ(services::URLOpener::shared()->dialer()->dialedNumbers().size(), 1u);
    frontEnd->frame();
    ASSERT_NE(frontEnd->notice().card(), nullptr) << harness.outline();
    EXPECT_EQ(frontEnd->notice().text().rfind("Calling +44", 0), 0u) << frontEnd->notice().text();
    EXPECT_NE(frontEnd->findVisible(frontEnd->notice().text()), nullptr) << "the notice is on screen";
    frames(windowing::Notice::kShownFor + 0.5);
    EXPECT_EQ(frontEnd->notice().card(), nullptr);

    // "Forward as Email" from the conversation's actions: the composer shows its fields.
    auto* actions = frontEnd->findVisible("Conversation actions");
    ASSERT_TRUE(actions) << harness.outline();
    click(*actions);
    auto* menu = toolkit::MenuPanel::shown(&harness.window());
    ASSERT_TRUE(menu) << harness.outline();
    std::optional<toolkit::Rect> row;
    for (const auto& r : menu->rows())
        if (r.title == "Forward as Email") row = r.frame;
    ASSERT_TRUE(row) << "the menu offers the e-mail";
    play("click " + at({row->midX(), row->midY()}));
    harness.advance(1);
    harness.settle();
    auto* composer = dynamic_cast<mail::MailComposeViewController*>(harness.topPresented());
    ASSERT_TRUE(composer) << harness.outline();
    const std::string subject = composer->message().subject;
    ASSERT_NE(subject.find("SMS Conversation"), std::string::npos) << subject;
    EXPECT_NE(frontEnd->findVisible(subject), nullptr) << harness.outline();
    EXPECT_NE(frontEnd->findVisible("To: "), nullptr) << "no recipients yet: the line says so";
    // The body reads as the text of the conversation, not as its markup.
    auto* body = dynamic_cast<toolkit::TextView*>(
        harness.findAll("TextView").empty() ? nullptr : harness.findAll("TextView").back());
    ASSERT_TRUE(body) << harness.outline();
    EXPECT_NE(body->text().find(kNumberText), std::string::npos) << body->text();
    EXPECT_EQ(body->text().find("<div"), std::string::npos) << body->text();
    EXPECT_NE(body->text().find("[picture]"), std::string::npos) << "the picture's place: " << body->text();
    EXPECT_FALSE(body->isEditable());
    // The sheet is opaque: nothing of the conversation shows through it.
    auto* sheet = composer->sheet();
    ASSERT_TRUE(sheet && sheet->view()->backgroundColor());
    EXPECT_EQ(sheet->view()->backgroundColor()->alpha(), 1.0);
    // Send (the composer's, not the reply bar's under it) writes what was shown.
    toolkit::View* send = nullptr;
    for (auto* view : harness.findAll("BarButton"))
        if (view->isDescendantOf(composer->view().get()) && view->outlineText() == "Send") send = view;
    ASSERT_TRUE(send) << harness.outline();
    click(*send);  // the composer closes and goes
    harness.advance(1);
    EXPECT_EQ(dynamic_cast<mail::MailComposeViewController*>(harness.topPresented()), nullptr);
    std::vector<std::filesystem::path> sent;
    for (const auto& entry : std::filesystem::directory_iterator(mail::MailComposeViewController::outboxDirectory()))
        sent.push_back(entry.path());
    ASSERT_EQ(sent.size(), 1u);
    auto written = foundation::files::readString(sent.front());
    ASSERT_TRUE(written.ok());
    EXPECT_NE(written->find("Subject: " + subject), std::string::npos);
}

TEST_F(StandInsWindow, ABannerBeingTypedIntoClosesOnEscapeAndGoesWhenLeftAlone) {
    openWindow();
    auto center = services::UserNotificationCenter::currentNotificationCenter();
    auto deliver = [&](const std::string& id, const std::string& body) {
        services::NotificationRequest request;
        request.identifier = id;
        request.content.title = "+1 555-0191";
        request.content.body = body;
        request.content.categoryIdentifier = "com.hxconnect.composeReply";
        request.content.userInfo = foundation::Dictionary{{"id", std::string(kPictureThread)}};
        center->addNotificationRequest(request);
    };
    deliver("n1", "First");
    deliver("n2", "Second");
    deliver("n3", "Third");
    frames(0.5);
    ASSERT_TRUE(frontEnd->banners().shown()) << harness.outline();
    auto button = [&](const std::string& title) -> toolkit::View* {
        auto* banner = frontEnd->banners().banner();
        for (const auto& view : banner ? banner->subviews() : std::vector<std::shared_ptr<toolkit::View>>{})
            if (auto* b = dynamic_cast<toolkit::Button*>(view.get()); b && b->currentTitle() == title) return b;
        return nullptr;
    };
    const std::string first = frontEnd->banners().shown()->request.content.body;
    ASSERT_TRUE(button("Reply")) << harness.outline();
    click(*button("Reply"));
    ASSERT_TRUE(frontEnd->banners().isTyping());
    play("type On my");
    // Typing keeps it: each change starts its time again.
    frames(windowing::NotificationBanners::kShownFor - 1);
    play("type  way");
    frames(windowing::NotificationBanners::kShownFor - 1);
    ASSERT_TRUE(frontEnd->banners().shown());
    EXPECT_EQ(frontEnd->banners().shown()->request.content.body, first);
    // Escape closes it, sending nothing; the next banner comes.
    play("press-key Escape");
    EXPECT_FALSE(frontEnd->banners().isTyping());
    frames(0.5);
    ASSERT_TRUE(frontEnd->banners().shown());
    const std::string second = frontEnd->banners().shown()->request.content.body;
    EXPECT_NE(second, first);
    // A field opened and left alone goes as the others do; the one behind it comes.
    ASSERT_TRUE(button("Reply"));
    click(*button("Reply"));
    ASSERT_TRUE(frontEnd->banners().isTyping());
    frames(windowing::NotificationBanners::kShownFor + 0.5);
    ASSERT_TRUE(frontEnd->banners().shown()) << "the third banner";
    EXPECT_NE(frontEnd->banners().shown()->request.content.body, second);
    EXPECT_FALSE(frontEnd->banners().isTyping());
}

// Left alone, the signed-in window draws only its status bar's new minute and asks the service only
// for the unread refresh the app runs every minute; the device's default walk (as the program replays it) gives a fix
// only where the device moves, and that move redraws nothing either.
TEST_F(StandInsWindow, AnIdleWindowDrawsOnlyItsClockAndAsksTheServiceOnlyForTheMinutesRefresh) {
    const auto route = hxrun::demoRoute();
    for (size_t i = 1; i < route.size(); ++i)
        EXPECT_NE(route[i].location.coordinate.longitude, route[i - 1].location.coordinate.longitude)
            << "a fix at " << route[i].seconds << " s where the device stood still";
    openWindow();
    services::replayLocationRoute(route);
    ASSERT_TRUE(settleQuietly());
    // Display frames over `seconds`, the replies of what goes out answered as they come.
    auto idle = [&](double seconds) {
        for (double t = 0; t < seconds; t += 0.25) {
            harness.advance(0.25);
            ASSERT_TRUE(settleRequests());
            frontEnd->frame();
        }
    };
    // The first refresh after the launch's load ends the SMS list's loading look once.
    idle(65);
    const uint64_t drawn = frontEnd->framesDrawn();
    const size_t before = service->requestCount();
    auto minute = [] { return static_cast<uint64_t>(std::floor(clocks::wallNow() / 60)); };
    const uint64_t firstMinute = minute();
    idle(125);  // two more refreshes, and the device's move at 120 s
    EXPECT_EQ(frontEnd->framesDrawn() - drawn, minute() - firstMinute)
        << "an idle window draws once a minute, for its status bar's clock, and for nothing else";
    const auto requests = service->requests();
    int refreshes = 0;
    for (size_t i = before; i < requests.size(); ++i) {
        const std::string& path = requests[i].path;
        if (path.find("/api2thread/list") != std::string::npos)
            ++refreshes;
        else
            EXPECT_NE(path.find("/threadinginfo/get"), std::string::npos) << path << " asked of an idle app";
    }
    EXPECT_EQ(refreshes, 2) << "the unread list is refreshed every minute";
}
