// How the player and the viewers look, phone and tablet, light and dark: the voicemail's player
// ready, downloading and playing; the image preview loading and shown; the contact-card picker;
// group details.
#include "emulator/media_pictures.h"
#include "platform/services/contacts.h"
#include "tests/ui/conversation/playback_support.h"
#include "ui/compose/image_preview_animation_controller.h"
#include "ui/compose/vc_image_preview.h"

namespace {

using hxtest::kVoicemailThread;
using hxtest::playerViews;

template <typename Form>
struct PlaybackLooks : hxtest::PlaybackFixture<Form> {
    explicit PlaybackLooks(hxtest::DeviceForm form, int systemVersion = 15)
        : hxtest::PlaybackFixture<Form>(form, true, systemVersion, true) {}

    void snap(const std::string& name) {
        this->harness.settle();
        this->expectOutline(name);
        this->expectSnapshot(name, {.lightAndDark = true});
    }

    // The voicemail's sound, once it plays, ten seconds in; then stopped, and the screen opened
    // again with its player ready.
    void playingThenReady(VC_Conversation& s, const std::string& suffix) {
        ASSERT_TRUE(this->harness.clock().runUntil([&] { return s.voicemailPlayer()->isPlaying(); }, 30));
        this->harness.advance(10);
        // The app's own requests of those seconds are over (the bar shows no activity); the sound
        // is put back at ten seconds for the picture.
        ASSERT_TRUE(this->settleRequests());
        s.voicemailPlayer()->player()->setCurrentTime(10);
        s.voicemailPlayer()->updatePlayPosition();
        snap("player_playing_" + suffix);
        ASSERT_TRUE(this->harness.tap(*playerViews(s).playButton));
        auto& ready = this->open(kVoicemailThread, 2);
        ASSERT_TRUE(ready.voicemailPlayer()->player());
        snap("player_ready_" + suffix);
    }

    void allLooks(const std::string& form) {
        this->storeConversation(kVoicemailThread, 2, "1:05", std::nullopt, hxtest::kVoicemailTranscript);
        auto& s = this->open(kVoicemailThread, 2);
        this->service->inject(emulator::Fault::Slow, "/a/v/");
        ASSERT_TRUE(this->harness.tap(*playerViews(s).playButton));
        ASSERT_TRUE(s.voicemailPlayer()->downloadProgress()->isAnimating());
        snap("player_downloading_" + form);
        ASSERT_TRUE(this->releaseWhenSeen("/a/v/"));
        ASSERT_NO_FATAL_FAILURE(playingThenReady(s, form));

        // The image preview over the conversation, before and after its picture.
        auto preview = std::dynamic_pointer_cast<VC_ImagePreview>(
            this->app->screens().makeImagePreview(this->app->screenRoles(), "pj1", {}));
        ASSERT_TRUE(preview);
        auto transitions = std::make_shared<ImagePreview_Transitions>([] { return toolkit::Point{60, 300}; });
        this->nav->present(hxImagePreviewNavigation(preview, transitions), true);
        this->harness.advance(1);
        snap("image_preview_loading_" + form);
        const std::string picture = emulator::drawPicture("pj1", "image/jpeg", 640, 480);
        foundation::NotificationCenter::defaultCenter().post(
            VC_ImagePreview::kDownloadComplete, nullptr,
            foundation::Dictionary{{"id", "pj1"},
                                   {"image", foundation::Value(foundation::Data(picture.begin(), picture.end()))}});
        snap("image_preview_shown_" + form);
        this->nav->dismiss(true);
        this->harness.advance(1);

        // The contact-card picker, with contacts access.
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        const std::string cards = emulator::vCardNamed("three");
        auto picker = this->app->screens().makeVCardPicker(this->app->screenRoles(),
                                                           foundation::Data(cards.begin(), cards.end()), {});
        ASSERT_TRUE(picker);
        this->nav->pushViewController(picker, false);
        snap("vcard_picker_" + form);
        this->nav->popViewController(false);
        this->harness.settle();

        // Group details: a contact, an unknown number and an address.
        services::Contact ann;
        ann.givenName = "Ann", ann.familyName = "Lee";
        ann.phoneNumbers.push_back({services::kLabelPhoneNumberMobile, "+1 202 555 0111", ""});
        services::ContactStore::shared()->removeAllContacts();
        services::ContactStore::shared()->addContact(ann);
        this->app->resetContacts();
        (void)this->app->allContacts();
        ASSERT_TRUE(this->harness.clock().runUntil([&] { return this->app->allContacts().size() == 1; }, 10));
        auto details = this->app->screens().makeGroupDetails(this->app->screenRoles(),
                                                             "+12025550111|+12025550199|bo@example.test");
        ASSERT_TRUE(details);
        this->nav->present(details, false);
        snap("group_details_" + form);
    }
};

struct PlaybackPhoneLooks : PlaybackLooks<HX_ConnectAppDelegate_iPhone> {
    PlaybackPhoneLooks() : PlaybackLooks(hxtest::DeviceForm::phone) {}
};
// Before system 13 the player's buttons are the app's drawings, not symbols.
struct PlaybackPhoneLooksAt12 : PlaybackLooks<HX_ConnectAppDelegate_iPhone> {
    PlaybackPhoneLooksAt12() : PlaybackLooks(hxtest::DeviceForm::phone, 12) {}
};
struct PlaybackTabletLooks : PlaybackLooks<HX_ConnectAppDelegate_iPad> {
    PlaybackTabletLooks() : PlaybackLooks(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PlaybackPhoneLooks, PlayerImagePreviewCardPickerAndGroupDetails) { allLooks("phone"); }
TEST_F(PlaybackTabletLooks, PlayerImagePreviewCardPickerAndGroupDetails) { allLooks("tablet"); }

TEST_F(PlaybackPhoneLooksAt12, ThePlayersButtonsAreTheAppsDrawings) {
    storeConversation(kVoicemailThread, 2, "1:05", std::nullopt, hxtest::kVoicemailTranscript);
    auto& s = open(kVoicemailThread, 2);
    ASSERT_TRUE(harness.tap(*playerViews(s).playButton));
    playingThenReady(s, "phone_12");
}
