// What the conversation's tests against the loopback service share: the signed-in phone or tablet
// with the real screens, the sample account (and, when asked, the generated conversation threads,
// the long one unread under an id without dots), the conversation opened by the "reply" URL and
// found wherever the form shows it, the pickers, and what the service took.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "platform/dispatch/internal.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/url.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/net/url_session.h"
#include "platform/services/device.h"
#include "platform/services/photos.h"
#include "platform/toolkit/navigation_controller.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/ui/compose/compose_support.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/shell/ui_screens.h"

namespace hxtest {

inline const std::string kThread = "t.+15550133";

// The conversation screen on screen, wherever the form put it.
inline VC_Conversation* findConversation(toolkit::ViewController* vc) {
    if (!vc) return nullptr;
    // Only the one on screen (another view's stack may hold one too).
    if (auto* c = dynamic_cast<VC_Conversation*>(vc); c && c->viewIfLoaded() && c->viewIfLoaded()->window()) return c;
    for (const auto& child : vc->children())
        if (auto* c = findConversation(child.get())) return c;
    return findConversation(vc->presentedViewController());
}

template <typename Form>
struct ServiceConversation : ScreenFixture<RecordedApp<Form>> {
    using Base = ScreenFixture<RecordedApp<Form>>;
    explicit ServiceConversation(DeviceForm form, bool conversationThreads = false)
        : Base({.form = form,
                .screens = std::make_shared<HXUIScreens>(),
                .emulator = true,
                .signedIn = true,
                .fonts = true,
                .sharedDelegate = true}),
          conversationThreads_(conversationThreads) {}
    void SetUp() override {
        Base::SetUp();
        services::PhotoLibrary::reset();
        services::CaptureDevice::reset();
        services::CaptureDevice::setCameraAvailable(false);
        services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
        if (conversationThreads_) {
            // The generated conversation threads join the sample account's; the long one is unread.
            auto generated = emulator::generateAccount({.seed = 42, .smsThreads = 1, .conversationThreads = true});
            threadIds = emulator::conversationThreadIds(generated);
            ASSERT_EQ(threadIds.size(), 5u);
            const std::string longThread = threadIds[0];
            this->service->withAccount([&](emulator::Account& a) {
                for (const auto& id : threadIds) a.threads.push_back(*generated.thread(id));
                for (const auto& [id, media] : generated.media) a.media.emplace(id, media);
                // The long thread unread, under an id a search result's identifier (split at its
                // dots) carries whole.
                a.thread(longThread)->read = false;
                a.thread(longThread)->id = "convlong";
                return 0;
            });
            threadIds[0] = "convlong";
        }
        this->service->withAccount([&](emulator::Account& a) {
            prepareAccount(a);
            return 0;
        });
        ASSERT_TRUE(this->launch());
        ASSERT_TRUE(runUntil([&] { return this->app->account() && this->app->account()->authV2(); }));
        ASSERT_TRUE(runUntil([&] { return this->app->retrieveOAuth().has_value(); }));
        ASSERT_TRUE(runUntil([&] { return this->app->getConversationWithID(kThread) != nullptr; }));
    }
    void TearDown() override {
        services::PhotoLibrary::reset();
        services::CaptureDevice::reset();
        Base::TearDown();
    }
    // Changes to the service's account before the launch (with the conversation threads).
    virtual void prepareAccount(emulator::Account& account) { (void)account; }
    bool conversationThreads_ = false;
    std::vector<std::string> threadIds;
    bool runUntil(const std::function<bool()>& done, double seconds = 20) {
        const bool ok = this->harness.clock().runUntil(done, seconds);
        this->harness.settle();
        return ok;
    }
    VC_Conversation* openByURL(const std::string& query = "conversationID=t.%2B15550133&messageNum=0") {
        EXPECT_FALSE(this->app->applicationOpenURL("hxconnect://reply?" + query));
        this->harness.advance(0.6);
        this->harness.settle();
        return findConversation(this->app->window()->rootViewController().get());
    }
    std::vector<emulator::SentMessage> received() {
        return this->service->withAccount([](emulator::Account& a) { return a.sent; });
    }
    std::string mediaBytes(const std::string& id) {
        return this->service->withAccount([&](emulator::Account& a) {
            auto it = a.media.find(id);
            return it == a.media.end() ? std::string() : it->second.bytes;
        });
    }
    void type(VC_Conversation& s, const std::string& text) {
        auto& field = *s.inputToolbar()->textView();
        if (!field.isFirstResponder()) {
            ASSERT_TRUE(this->harness.tap(field));
        }
        ASSERT_TRUE(this->harness.typeText(text));
        this->harness.settle();
    }
    bool hasBubble(VC_Conversation& s, const std::string& text) {
        for (long section = 0; section < s.tableView().numberOfSections(); ++section)
            if (auto m = s.messageAt(section); m && m->text() == text) return true;
        return false;
    }
    std::string libraryAsset(const foundation::Data& bytes, const char* type) {
        auto url = services::PhotoLibrary::addAsset(bytes, type);
        EXPECT_TRUE(url.ok());
        return url.ok() ? url.value() : std::string();
    }
    // What the app told of a send while it ran: its end, and whether it went.
    struct SendWatch {
        std::atomic<int> ended{0}, sent{0};
        std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();
        double virtualStart = dispatch::clock().now();
        SendWatch() {
            auto& center = foundation::NotificationCenter::defaultCenter();
            center.addObserver(this, "kRemoveSMSReplySendingProgressNotification",
                               [this](const foundation::Notification&) { ++ended; });
            center.addObserver(this, "kSMSReplySentNotification", [this](const foundation::Notification&) { ++sent; });
        }
        ~SendWatch() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }
    };
    // Runs the app until done() while uploads run in real time: time stands still while replies
    // come in, and moves one millisecond at a time only after 50 ms of real time without any (so
    // timers due now and animations go on, and a time-out of tens of seconds is out of reach).
    bool runWhileUploading(const std::function<bool()>& done, double realSeconds = 180) {
        auto& clock = this->harness.clock();
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            clock.runUntilIdle();
            if (done()) return true;
            if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > realSeconds)
                return false;
            if (!dispatch::detail::runLoopPollFds(0.05)) clock.advance(0.001);
        }
    }
    // Why a send ended, as far as the outside can tell: what the service took, what the user was
    // told, and how much time passed on each clock.
    std::string howTheSendEnded(const SendWatch& watch, bool ended, size_t pictures) {
        std::string out = ended ? "the send ended" : "the send did not end";
        out += watch.sent ? ", told as sent" : ", not told as sent";
        out +=
            "; the service took " + std::to_string(received().size()) + " of " + std::to_string(pictures) + " pictures";
        size_t uploads = 0;
        for (const auto& r : this->service->requests())
            uploads += r.path.find("api2thread/sendsms") != std::string::npos;
        out += " from " + std::to_string(uploads) + " uploads it got";
        for (const auto& a : this->app->shell().alerts()) out += "; alert \"" + a.title + "\": " + a.message;
        out +=
            "; " + std::to_string(dispatch::clock().now() - watch.virtualStart) + " s on the virtual clock, " +
            std::to_string(std::chrono::duration<double>(std::chrono::steady_clock::now() - watch.realStart).count()) +
            " s of real time (a time-out is due after " +
            std::to_string(net::URLSessionConfiguration::defaultSessionConfiguration().timeoutIntervalForRequest) +
            " s without progress)";
        return out;
    }
    // Where a view is, up to the window: what a tap that did not reach it met instead.
    std::string whereIs(toolkit::View& view) {
        std::string out = "the view is at";
        for (toolkit::View* v = &view; v; v = v->superview()) {
            const auto f = v->frame();
            out += " " + v->className() + " {" + std::to_string(f.minX()) + ", " + std::to_string(f.minY()) + ", " +
                   std::to_string(f.width()) + " x " + std::to_string(f.height()) + "}";
        }
        return out;
    }
    // The picker, wherever the presentation put it.
    system_screens::ImagePickerController* picker(VC_Conversation&) {
        for (auto* vc = this->app->window()->rootViewController().get(); vc; vc = vc->presentedViewController())
            if (auto* shown = dynamic_cast<system_screens::ImagePickerController*>(vc)) return shown;
        return nullptr;
    }
    bool pick(VC_Conversation& s, const std::string& asset) {
        EXPECT_TRUE(this->harness.tap(*s.inputToolbar()->cameraButton()));
        EXPECT_TRUE(runUntil([&] { return picker(s) != nullptr; }, 2));
        if (!picker(s)) return false;
        const bool picked = picker(s)->pickAsset(asset);
        this->harness.settle();
        return picked;
    }

    // A reply typed and sent: the service takes its text into the thread, the bar moves by 15 %
    // a step, the new bubble shows once the thread is read again, and Send is disabled again.
    void replyGoesOut() {
        auto* s = openByURL();
        ASSERT_NE(s, nullptr);
        ASSERT_NE(s->inputToolbar(), nullptr);
        type(*s, "On my way");
        auto& send = *s->inputToolbar()->inputButton();
        ASSERT_TRUE(send.isEnabled());
        ASSERT_TRUE(this->harness.tap(send));
        EXPECT_FALSE(send.isEnabled());
        EXPECT_EQ(s->inputToolbar()->textView()->text(), "");
        ASSERT_TRUE(runUntil([&] { return !s->isSendingReply(); }));
        const auto got = received();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].text, "On my way");
        EXPECT_EQ(got[0].conversationId, kThread);
        EXPECT_EQ(got[0].threadId, kThread);
        EXPECT_GT(VC_Conversation::sendingProgress(), 0);
        EXPECT_EQ(VC_Conversation::sendingProgress() % 15, 0) << "15 % a step for a text";
        EXPECT_TRUE(runUntil([&] { return hasBubble(*s, "On my way"); })) << "the new bubble";
        EXPECT_FALSE(send.isEnabled());
        for (const auto& a : this->app->shell().alerts()) ADD_FAILURE() << a.title << ": " << a.message;
    }

    // Pictures from the library: a large picture goes as a JPEG within the limit, a GIF at the
    // limit as it is, one byte more is refused.
    void picturesGoOut() {
        // 4000 x 3000 of noise: no picture of that size fits the limit as it is.
        auto bitmap = graphics::Bitmap::make(4000, 3000).value();
        uint32_t state = 12345;
        for (int y = 0; y < 3000; ++y)
            for (int x = 0; x < 4000; ++x) {
                state = state * 1664525u + 1013904223u;
                bitmap->setRGBA(x, y, uint8_t(state >> 24), uint8_t(state >> 16), uint8_t((x + y) & 0xff), 255);
            }
        const auto big = libraryAsset(graphics::encodeJPEG(*bitmap, 0.95).value(), "public.jpeg");
        bitmap.reset();
        const foundation::Data gif = gifOfSize(2'000'000);
        const auto fits = libraryAsset(gif, "com.compuserve.gif");
        const auto over = libraryAsset(gifOfSize(2'000'001), "com.compuserve.gif");
        auto* s = openByURL();
        ASSERT_NE(s, nullptr);
        ASSERT_NE(s->inputToolbar()->cameraButton(), nullptr);
        ASSERT_TRUE(pick(*s, over));
        size_t refused = 0;
        for (const auto& a : this->app->shell().alerts()) refused += a.title == "Image too Large";
        EXPECT_EQ(refused, 1u);
        EXPECT_TRUE(s->images().empty());
        ASSERT_NE(picker(*s), nullptr);
        ASSERT_TRUE(picker(*s)->pickAsset(fits));
        this->harness.settle();
        ASSERT_TRUE(pick(*s, big));
        ASSERT_EQ(s->images().size(), 2u);
        type(*s, "Pictures");
        // The service takes its time over each picture, in real time, as it does on a loaded
        // machine: nothing of that time may count against the uploads' time-outs.
        this->service->script("/voice/v1/voiceclient/api2thread/sendsms", {.delay = 0.3, .passThrough = true}, 2);
        SendWatch watch;
        ASSERT_TRUE(this->harness.tap(*s->inputToolbar()->inputButton())) << whereIs(*s->inputToolbar()->inputButton());
        // The uploads run in real time: the clock is held back until they have ended, so that no
        // request's time-out can fire before its reply, however slow the machine is.
        const bool ended = runWhileUploading([&] { return watch.ended > 0; });
        ASSERT_TRUE(ended && watch.sent > 0) << howTheSendEnded(watch, ended, 2);
        ASSERT_TRUE(runUntil([&] { return !s->isSendingReply(); }, 60));
        EXPECT_TRUE(s->images().empty());
        EXPECT_EQ(VC_Conversation::sendingProgress() % 14, 0) << "two pictures: 100 / 7 a step";
        const auto got = received();
        ASSERT_EQ(got.size(), 2u);
        size_t gifs = 0, jpegs = 0;
        for (const auto& m : got) {
            const std::string bytes = mediaBytes("imgs" + std::to_string(m.randomId));
            ASSERT_FALSE(bytes.empty());
            if (m.imageType == 4) {
                ++gifs;
                EXPECT_EQ(bytes, std::string(gif.begin(), gif.end())) << "the GIF goes as it is";
                continue;
            }
            ++jpegs;
            EXPECT_LE(bytes.size(), 2'000'000u);
            const auto path = this->home.path() / "sent.jpg";
            std::ofstream(path, std::ios::binary) << bytes;
            const std::string out = (this->home.path() / "sent.txt").string();
            const std::string command = "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                        "im = Image.open(sys.argv[1]); im.load(); print(im.format, *im.size)\" '" +
                                        path.string() + "' > '" + out + "' 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0);
            std::ifstream read(out);
            std::string format;
            int width = 0, height = 0;
            read >> format >> width >> height;
            EXPECT_EQ(format, "JPEG");
            EXPECT_GT(width, 0);
            EXPECT_EQ(width * 3, height * 4) << "the picture keeps its shape";
        }
        EXPECT_EQ(gifs, 1u);
        EXPECT_EQ(jpegs, 1u);
    }
};

// The window's y of a message's first row.
inline double windowY(VC_Conversation& s, long section) {
    auto& table = s.tableView();
    return table.convertRectTo(table.rectForRow({section, 0}), nullptr).minY();
}

// The section showing the message of this id.
inline long sectionOf(VC_Conversation& s, const std::string& id) {
    for (long section = 0; section < s.tableView().numberOfSections(); ++section)
        if (auto m = s.messageAt(section); m && m->messageID() == id) return section;
    return -1;
}

template <typename Form>
struct ServiceThreads : ServiceConversation<Form> {
    explicit ServiceThreads(DeviceForm form) : ServiceConversation<Form>(form, true) {}

    // The long thread opened by the reply URL: its date lines, one report while it is unread,
    // and a search result that scrolls to its message.
    void longThreadOpens() {
        int reported = 0;
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "kSMSActiveConversationMessageReceived", [&](const foundation::Notification&) { ++reported; });
        const std::string id = this->threadIds[0];
        ASSERT_TRUE(this->runUntil([&] { return this->app->getConversationWithID(id) != nullptr; }));
        auto* s = this->openByURL("conversationID=" + foundation::queryItemEncoded(id));
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->setup().conversationID, id);
        const long sections = s->tableView().numberOfSections();
        ASSERT_GT(sections, 1);
        // One date line for each run of equal dates.
        long runs = 0, lines = 0;
        for (long section = 0; section < sections; ++section) {
            runs += section == 0 || s->dateLabelForRow({section, 0}) != s->dateLabelForRow({section - 1, 0});
            lines += !s->dateLineForRow({section, 0}).empty();
        }
        EXPECT_EQ(lines, runs);
        EXPECT_GT(runs, 1);
        this->harness.advance(1);
        this->harness.settle();
        EXPECT_EQ(reported, 1) << "the unread thread is reported once";
        EXPECT_TRUE(s->inputToolbar()->textView()->isFirstResponder()) << "the reply URL focuses the field";
        foundation::NotificationCenter::defaultCenter().removeObserver(this);

        // A search result scrolls to its message, the first stored one here, and the conversation
        // asks the service for its newest page; the page's answer (held until the screen has
        // scrolled, then waited for with every other request) leaves the searched message in view.
        auto& table = s->tableView();
        table.setContentOffset({0, table.contentSize().height - table.bounds().height()}, false);
        this->harness.settle();
        ASSERT_FALSE(table.indexPathsForVisibleRows().empty());
        ASSERT_GT(table.indexPathsForVisibleRows().front().section, 0) << "the first message is out of view";
        const std::string page = "/voice/v1/voiceclient/api2thread/get";
        const auto asked = [&] {
            size_t n = 0;
            for (const auto& r : this->service->requests()) n += r.target.rfind(page, 0) == 0;
            return n;
        };
        const size_t askedBefore = asked();
        const int64_t searched = s->messageAt(0)->object()->value("number").int64Value();
        this->service->script(page, {.hold = true, .passThrough = true});
        ASSERT_TRUE(this->app->continueUserActivity(
            services::kSearchableItemActionType,
            foundation::Dictionary{{services::kSearchableItemActivityIdentifier,
                                    id + ".0." + foundation::queryItemEncoded(this->serviceUser())}}));
        ASSERT_TRUE(this->runUntil([&] { return asked() > askedBefore; })) << "the hit's conversation asks";
        this->harness.advance(1);
        this->harness.settle();
        auto inView = [&] {
            auto* shown = findConversation(this->app->window()->rootViewController().get());
            if (!shown) return false;
            for (const auto& p : shown->tableView().indexPathsForVisibleRows())
                if (auto m = shown->messageAt(p.section); m && m->object()->value("number").int64Value() == searched)
                    return true;
            return false;
        };
        EXPECT_TRUE(inView()) << "the first stored message is in view";
        this->service->releaseHeld();
        ASSERT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
        this->harness.advance(1);
        this->harness.settle();
        EXPECT_TRUE(inView()) << "the first stored message is still in view once the newest page is in";
        this->service->clearScripts();
    }

    // Pulling for older pages of the 350-message thread: the bubble at the top when the page was
    // asked for keeps its place on the screen; at the end the control goes and every message is
    // there.
    void olderPagesKeepTheBubbles() {
        const std::string id = this->threadIds[1];
        this->app->selectViewForIndex(1);
        ASSERT_TRUE(this->runUntil([&] { return this->app->getConversationWithID(id) != nullptr; }));
        auto* s = this->openByURL("conversationID=" + foundation::queryItemEncoded(id) + "&messageNum=0");
        ASSERT_NE(s, nullptr);
        auto& table = s->tableView();
        // Pages, thumbnails and deletions change rows, never the whole table.
        ASSERT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
        const size_t wholeBefore = table.wholeReloads();
        int pulls = 0;
        for (int pull = 0; pull < 20 && s->refreshControl(); ++pull) {
            ++pulls;
            SCOPED_TRACE(pull);
            // The last page's store changes have all landed (each restores the offset) before
            // the table is put back at its top for the next pull.
            ASSERT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
            this->harness.advance(1.0);
            this->harness.settle();
            table.setContentOffset({0, -table.contentInset().top}, false);
            this->harness.settle();
            ASSERT_DOUBLE_EQ(table.contentOffset().y, -table.contentInset().top);
            const long before = table.numberOfSections();
            const std::string top = s->messageAt(0)->messageID();
            // The page is held until the bubble's place under the spinning control is known.
            const std::string page = "/voice/v1/voiceclient/api2thread/get";
            this->service->inject(emulator::Fault::Slow, page);
            const auto asked = [&] {
                size_t n = 0;
                for (const auto& r : this->service->requests()) n += r.target.rfind(page, 0) == 0;
                return n;
            };
            const size_t askedBefore = asked();
            this->harness.pullToRefresh(table);
            ASSERT_TRUE(s->refreshControl()->isRefreshing());
            ASSERT_TRUE(this->runUntil([&] { return asked() > askedBefore; }));
            const double y = windowY(*s, 0);
            ASSERT_EQ(table.numberOfSections(), before) << "the page is still held";
            this->service->releaseHeld();
            ASSERT_TRUE(this->runUntil([&] {
                return table.numberOfSections() > before &&
                       !(s->refreshControl() && s->refreshControl()->isRefreshing());
            }));
            const long now = sectionOf(*s, top);
            ASSERT_GT(now, 0) << "older messages lie above";
            EXPECT_NEAR(windowY(*s, now), y, 0.5);
        }
        EXPECT_EQ(s->refreshControl(), nullptr) << "no control once the thread is whole";
        EXPECT_EQ(table.numberOfSections(), 350);
        ASSERT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
        EXPECT_GE(pulls, 3);
        EXPECT_EQ(table.wholeReloads(), wholeBefore) << "the table was read whole again";
    }
};

}  // namespace hxtest
