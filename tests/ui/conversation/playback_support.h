// What the playback tests share: a signed-in phone (or tablet) against the loopback service, whose
// account gains a voicemail thread and a recorded-call thread with 65-second MP3s (kept by item
// id, as the service keeps them, and asked for by the conversation's id, as the app asks), and a
// text thread whose message carries the test's attachments; the conversation stored as a list's
// parse leaves it and its screen pushed as a list pushes it.
#pragma once

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "emulator/emulator.h"
#include "emulator/playback_media.h"
#include "model/message_store.h"
#include "platform/toolkit/navigation_controller.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/shell/ui_screens.h"

namespace hxtest {

inline constexpr const char* kVoicemailThread = "t.+15550161";
inline constexpr const char* kVoicemailItem = "vm161";
inline constexpr const char* kRecordingThread = "t.+15550162";
inline constexpr const char* kRecordingItem = "cr162";
inline constexpr const char* kTextThread = "t.+15550163";
// What the service's transcription made of the voicemail, as the emulator's voicemails carry one.
inline constexpr const char* kVoicemailTranscript = "Hi, it's Ann. Call me back when you get this, I'm home after six.";

// The views of the player under a voicemail or a recorded call.
inline const HXVoicemailPlayer::Views& playerViews(const VC_Conversation& screen) {
    return screen.voicemailPlayer()->views();
}

template <typename Form = HX_ConnectAppDelegate_iPhone>
struct PlaybackFixture : ScreenFixture<Form> {
    // sharedDelegate: numbers are formatted with the application object's phone formatter.
    explicit PlaybackFixture(DeviceForm form = DeviceForm::phone, bool fonts = false, int systemVersion = 15,
                             bool sharedDelegate = false)
        : ScreenFixture<Form>({.form = form,
                               .screens = std::make_shared<HXUIScreens>(),
                               .emulator = true,
                               .signedIn = true,
                               .fonts = fonts,
                               .sharedDelegate = sharedDelegate,
                               .systemVersion = systemVersion}) {}
    std::shared_ptr<VC_Conversation> screen;
    std::shared_ptr<toolkit::NavigationController> nav;

    void SetUp() override {
        ScreenFixture<Form>::SetUp();
        this->service->withAccount([](emulator::Account& a) {
            emulator::Thread vm;
            vm.id = kVoicemailThread;
            vm.numbers = {"+15550161"};
            emulator::Message item;
            item.id = kVoicemailItem;
            item.type = "voicemail";
            item.fromNumber = "+15550161";
            item.durationSeconds = 65;
            item.startTimeMs = 1'700'000'000'000;
            item.text = kVoicemailTranscript;
            vm.items.push_back(item);
            a.threads.push_back(vm);
            a.media[kVoicemailItem] = {"audio/mpeg", std::string(emulator::voicemailAudio()), {}};
            emulator::Thread recorded;
            recorded.id = kRecordingThread;
            recorded.numbers = {"+15550162"};
            item.id = kRecordingItem;
            item.type = "recording";
            item.text.clear();
            item.fromNumber = "+15550162";
            item.attachments = {{"rec" + std::string(kRecordingItem), "audio/mpeg"}};
            recorded.items.push_back(item);
            a.threads.push_back(recorded);
            a.media["rec" + std::string(kRecordingItem)] = {"audio/mpeg", std::string(emulator::recordingAudio()), {}};
            return 0;
        });
        ASSERT_TRUE(this->launch());
        this->harness.settle();
        this->settleRequests();
    }
    void TearDown() override {
        screen.reset();
        nav.reset();
        ScreenFixture<Form>::TearDown();
    }
    // The conversation in the store (type 2 voicemail, 4 a recorded call, 1 text) with one message.
    void storeConversation(const std::string& id, int64_t type, const std::string& length = "1:05",
                           std::optional<foundation::Array> attachments = std::nullopt, const std::string& text = "") {
        auto context = this->app->managedObjectContext();
        auto c = this->app->getConversationWithID(id);
        if (!c) {
            c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
            (void)c->setValue("conversationID", id);
        }
        (void)c->setValue("type", type);
        (void)c->setValue("phoneNumber", "+15550161");
        (void)c->setValue("sender", "+15550161");
        (void)c->setValue("isRead", true);
        for (const auto& old : c->objects("Messages")) context->deleteObject(old);
        auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
        (void)m->setValue("id", id + ".m");
        (void)m->setValue("number", int64_t{1'700'000'000'000});
        (void)m->setValue("message", text);
        (void)m->setValue("length", length);
        if (attachments) (void)m->setValue("attachments", foundation::Value(*attachments));
        (void)m->setObject("Conversation", c);
        EXPECT_TRUE(context->save().ok());
        this->harness.settle();
    }
    // Pushed as a list pushes it.
    VC_Conversation& open(const std::string& id, int viewType) {
        auto made = this->app->screens().makeConversationScreen(
            this->app->screenRoles(), {.conversationID = id, .title = "Ann", .conversationType = viewType});
        screen = std::dynamic_pointer_cast<VC_Conversation>(made);
        EXPECT_TRUE(screen);
        nav = std::make_shared<toolkit::NavigationController>(std::make_shared<toolkit::ViewController>());
        this->harness.setRoot(nav);
        nav->pushViewController(screen, false);
        this->harness.settle();
        return *screen;
    }
    // Lets a held reply go once its request has reached the service.
    bool releaseWhenSeen(const std::string& prefix) {
        // Seen once the request a hold was scripted for has come: an earlier request of the same
        // prefix (a thumbnail of the picture whose full size is held, say) does not count. A
        // download made on a session of its own is in no list of the app's, so only the service
        // can tell that it came.
        auto came = [&] {
            if (this->service->scriptedRequestsAwaited(prefix) > 0) return false;
            for (const auto& r : this->service->requests())
                if (r.path.rfind(prefix, 0) == 0) return true;
            return false;
        };
        bool seen = this->harness.clock().runUntil(came, 30);
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             !seen && std::chrono::steady_clock::now() < until; seen = came()) {
            this->harness.clock().runUntilIdle();
            std::this_thread::yield();
        }
        // Without a script the request seen may be an earlier one of the same prefix, and one the
        // app still has in flight may reach the service only after a single release had come (a
        // release frees what is held when it comes). So release until the app has no request of
        // that prefix in flight, for up to 30 s of real time.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        auto inFlight = [&] {
            for (const auto& tag : HXWebClientOf(*this->app).requests.tags())
                if (tag.find(prefix) != std::string::npos) return true;
            return false;
        };
        do {
            this->service->releaseHeld(prefix);
            this->harness.clock().runUntilIdle();
            if (!inFlight()) break;
            std::this_thread::yield();
        } while (std::chrono::steady_clock::now() < until);
        return seen;
    }
    std::string text(toolkit::Label* label) const {
        if (!label) return "<none>";
        return label->attributedText() ? label->attributedText()->string() : label->text();
    }
    std::string audioPath(const std::string& id) { return this->app->localURLForMedia(id, "audio/"); }
};

}  // namespace hxtest
