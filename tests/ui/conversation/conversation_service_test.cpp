// The conversation screen against the loopback service, signed in with the real screens, on the
// phone and the tablet: a thread opened by the "reply" URL, a reply typed and sent (what the
// service took, the progress, the new bubble, Send disabled again), and pictures from the
// library (a large picture reaches the service as a JPEG an independent reader opens, within
// the limit; a GIF at the limit arrives byte for byte; one byte more is refused).
#include <cstdlib>
#include <fstream>

#include "platform/graphics/animated_image.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/services/photos.h"
#include "platform/toolkit/navigation_controller.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "tests/ui/compose/compose_support.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/shell/ui_screens.h"

namespace {

using hxtest::DeviceForm;

const std::string kThread = "t.+15550133";

// The shown conversation screen, wherever the form put it.
VC_Conversation* findConversation(toolkit::ViewController* vc) {
    if (!vc) return nullptr;
    if (auto* c = dynamic_cast<VC_Conversation*>(vc)) return c;
    for (const auto& child : vc->children())
        if (auto* c = findConversation(child.get())) return c;
    return findConversation(vc->presentedViewController());
}

template <typename Form>
struct ServiceConversation : hxtest::ScreenFixture<hxtest::RecordedApp<Form>> {
    using Base = hxtest::ScreenFixture<hxtest::RecordedApp<Form>>;
    explicit ServiceConversation(DeviceForm form)
        : Base({.form = form,
                .screens = std::make_shared<HXUIScreens>(),
                .emulator = true,
                .signedIn = true,
                .fonts = true,
                .sharedDelegate = true}) {}
    void SetUp() override {
        Base::SetUp();
        services::PhotoLibrary::reset();
        services::CaptureDevice::reset();
        services::CaptureDevice::setCameraAvailable(false);
        services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
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
    bool runUntil(const std::function<bool()>& done, double seconds = 20) {
        const bool ok = this->harness.clock().runUntil(done, seconds);
        this->harness.settle();
        return ok;
    }
    VC_Conversation* openByURL() {
        EXPECT_FALSE(this->app->applicationOpenURL("hxconnect://reply?conversationID=t.%2B15550133&messageNum=0"));
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
        const foundation::Data gif = hxtest::gifOfSize(2'000'000);
        const auto fits = libraryAsset(gif, "com.compuserve.gif");
        const auto over = libraryAsset(hxtest::gifOfSize(2'000'001), "com.compuserve.gif");
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
        ASSERT_TRUE(this->harness.tap(*s->inputToolbar()->inputButton()));
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

struct PhoneConversation : ServiceConversation<HX_ConnectAppDelegate_iPhone> {
    PhoneConversation() : ServiceConversation(DeviceForm::phone) {}
};
struct TabletConversation : ServiceConversation<HX_ConnectAppDelegate_iPad> {
    TabletConversation() : ServiceConversation(DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhoneConversation, AReplyReachesTheServiceAndComesBackAsABubble) { replyGoesOut(); }
TEST_F(PhoneConversation, PicturesReachTheServiceWithinTheLimit) { picturesGoOut(); }
TEST_F(TabletConversation, AReplyReachesTheServiceAndComesBackAsABubble) { replyGoesOut(); }
TEST_F(TabletConversation, PicturesReachTheServiceWithinTheLimit) { picturesGoOut(); }
