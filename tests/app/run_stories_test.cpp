// What a user of `./hx run` reaches, told as stories on the phone against the run's service (the
// generated account with its playback media, and the second demo account) and on the run's device
// (app/run_device.h: its contacts, pictures, camera, location prompt, route and places): a
// voicemail heard, a favourite added from a contact, a library picture sent as a multimedia
// message, location allowed and a quick setting's place shown on its map, the second account added.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/connect_app_delegate_iphone.h"
#include "app/run_device.h"
#include "emulator/playback_media.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/audio_output.h"
#include "platform/services/audio_player.h"
#include "platform/services/device.h"
#include "platform/services/geocoder.h"
#include "platform/services/location_manager.h"
#include "platform/services/photos.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/system_screens/image_picker.h"
#include "platform/system_screens/map_view.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/input_script.h"
#include "service/request_machinery.h"
#include "tests/support/run_home.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/messages/vc_messages.h"
#include "ui/settings/quick_setting_location.h"
#include "ui/settings/vc_location_details.h"
#include "ui/settings/vc_qs_details.h"
#include "ui/shell/ui_screens.h"
#include "ui/widgets/hxc_input_toolbar.h"

namespace {

// The sound the device was asked to play, as starts and stops.
class RecordingOutput : public services::AudioOutput {
public:
    struct Start {
        const void* source;
        services::PCMSound sound;
        size_t fromFrame;
    };
    void start(const void* source, const services::PCMSound& sound, size_t fromFrame) override {
        starts.push_back({source, sound, fromFrame});
    }
    void stop(const void* source) override { stops.push_back(source); }
    std::vector<Start> starts;
    std::vector<const void*> stops;
};

class RunStories : public hxtest::RunHomeFixture {
protected:
    void SetUp() override {
        RunHomeFixture::SetUp();
        // The service as ./hx run starts it: the generated account's threads with their media.
        ASSERT_TRUE(furnishRunHome({.seed = 1, .smsThreads = 8, .voicemailThreads = 3, .callThreads = 3}));
        auto work = emulator::sampleAccount();
        work.username = kWork;
        work.serviceNumber = "+15550111";
        service->addAccount(work);
        hxrun::installLocationPrompt(harness.window());
        services::AudioOutput::setShared(sound);
        ASSERT_TRUE(launchAndLoad());
    }
    void TearDown() override {
        services::AudioOutput::setShared(nullptr);
        services::LocationFeed::setAuthorizationPrompt({});
        RunHomeFixture::TearDown();
        services::LocationFeed::reset();
        services::resetDeviceServices();
        services::CaptureDevice::reset();
    }
    // Until the condition holds (real seconds at most): the clock moves on only while no request
    // of the app waits for its reply, so that a loaded machine's slow replies time nothing out.
    template <typename F>
    bool until(F&& condition, double seconds = 30, double step = 0.05) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            if (HXWebClientOf(*app).requests.empty())
                harness.advance(step);
            else
                harness.clock().runUntilIdle();
            harness.settle();
            std::this_thread::yield();
        }
        return true;
    }
    // A tab's list, loaded, and its first row opened.
    template <typename Screen>
    Screen* openFirstRow(int tab) {
        app->selectViewForIndex(tab);
        harness.settle();
        harness.advance(1);
        EXPECT_TRUE(settleRequests());
        auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(tab));
        if (!list || list->tableView()->numberOfRows(0) == 0) return nullptr;
        EXPECT_TRUE(harness.selectRow(*list->tableView(), {0, 0}));
        harness.settle();
        auto* nav = list->navigationController();
        Screen* opened = nullptr;
        until([&] { return (opened = dynamic_cast<Screen*>(nav->topViewController())) != nullptr; }, 10);
        EXPECT_TRUE(settleRequests());
        return opened;
    }
    toolkit::View* visible(const std::string& text) { return toolkit::testing::findVisible(harness.window(), text); }

    static constexpr const char* kWork = "work@example.test";
    std::shared_ptr<RecordingOutput> sound = std::make_shared<RecordingOutput>();
};

TEST_F(RunStories, AVoicemailOfTheRunsServicePlaysItsDecodedSoundToTheDevice) {
    auto* conversation = openFirstRow<VC_Conversation>(2);
    ASSERT_TRUE(conversation) << toolkit::outline(harness.window());
    ASSERT_TRUE(conversation->voicemailPlayer()->views().playButton.get());
    ASSERT_TRUE(harness.tap(*conversation->voicemailPlayer()->views().playButton.get()));
    ASSERT_TRUE(until(
        [&] { return conversation->voicemailPlayer()->isPlaying() && conversation->voicemailPlayer()->player(); }));
    const auto& player = conversation->voicemailPlayer()->player();
    EXPECT_NEAR(player->duration(), 65.16, 0.05) << "the service's real audio, not its placeholder";
    ASSERT_FALSE(sound->starts.empty());
    const auto& started = sound->starts.back();
    EXPECT_EQ(started.source, player.get());
    EXPECT_EQ(started.fromFrame, 0u);
    EXPECT_EQ(started.sound.rate, 8000);
    EXPECT_EQ(started.sound.samples, player->sound().samples);
    EXPECT_EQ(started.sound.frames(), static_cast<size_t>(std::llround(player->duration() * 8000)));
    ASSERT_TRUE(harness.tap(*conversation->voicemailPlayer()->views().playButton.get()));  // "Stop"
    EXPECT_FALSE(sound->stops.empty());
    EXPECT_EQ(sound->stops.back(), player.get());
}

TEST_F(RunStories, AFavoriteIsAddedFromOneOfTheDevicesContacts) {
    app->selectViewForIndex(0);
    harness.settle();
    auto* contacts = harness.find("Contacts & Favorites");
    ASSERT_TRUE(contacts) << toolkit::outline(harness.window());
    ASSERT_TRUE(harness.tap(*contacts));
    harness.settle();
    ASSERT_TRUE(harness.tapAlertAction("Favorites")) << toolkit::outline(harness.window());
    harness.settle();
    ASSERT_TRUE(harness.tapRowShowing("Add new favorite number\u2026")) << toolkit::outline(harness.window());
    harness.advance(0.5);
    harness.settle();
    ASSERT_TRUE(harness.pickContact("Maya Lindqvist")) << toolkit::outline(harness.window());
    harness.advance(0.5);
    harness.settle();
    const auto favorites = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("favorites");
    ASSERT_TRUE(favorites);
    const auto* lines = favorites->get(app->account()->username()).ifArray();
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 1u);
    EXPECT_NE(lines->front().stringValue().find("Maya Lindqvist,(555) 010-2233"), std::string::npos)
        << lines->front().stringValue();
    EXPECT_NE(visible("Maya Lindqvist"), nullptr) << toolkit::outline(harness.window());
}

TEST_F(RunStories, APictureFromTheLibraryIsSentAsAMultimediaMessage) {
    auto* conversation = openFirstRow<VC_Conversation>(1);
    ASSERT_TRUE(conversation) << toolkit::outline(harness.window());
    auto* bar = conversation->inputToolbar();
    ASSERT_TRUE(bar && bar->cameraButton());
    ASSERT_TRUE(harness.tap(*bar->cameraButton()));
    harness.settle();
    ASSERT_TRUE(harness.tapAlertAction("Choose from Library\u2026")) << toolkit::outline(harness.window());
    ASSERT_TRUE(until([&] { return dynamic_cast<system_screens::ImagePickerController*>(harness.topPresented()); }));
    harness.advance(1);
    auto* photo = visible("Photo 2");
    ASSERT_TRUE(photo) << toolkit::outline(harness.window());
    ASSERT_TRUE(harness.tap(*photo));
    ASSERT_TRUE(until([&] { return !dynamic_cast<system_screens::ImagePickerController*>(harness.topPresented()); }));
    ASSERT_TRUE(harness.tap(*bar->textView()));
    ASSERT_TRUE(harness.typeText("The view from here"));
    ASSERT_TRUE(bar->inputButton()->isEnabled());
    const size_t before = service->withAccount([](emulator::Account& a) { return a.sent.size(); });
    ASSERT_TRUE(harness.tap(*bar->inputButton()));
    ASSERT_TRUE(
        until([&] { return service->withAccount([](emulator::Account& a) { return a.sent.size(); }) > before; }));
    const auto sent = service->withAccount([](emulator::Account& a) { return a.sent.back(); });
    EXPECT_EQ(sent.text, "The view from here");
    EXPECT_NE(sent.imageType, 0);
    EXPECT_GT(sent.attachmentBytes, 1000u);
}

TEST_F(RunStories, LocationIsAllowedAtThePromptAndAQuickSettingsPlaceShowsOnItsMapWithItsCircle) {
    services::replayLocationRoute(hxrun::demoRoute());
    const double routeStart = harness.clock().now();
    ASSERT_TRUE(settingsWithAWorkPlace());
    auto account = app->account();
    auto* nav = app->viewControllerForIndex(4)->navigationController();
    // Each tap, until the screen it opens is on top (a reply that reloads the table may come first).
    auto open = [&](const std::string& row, const std::string& title) {
        return until(
            [&] {
                if (nav->topViewController()->title() == title) return true;
                (void)harness.tapRowShowing(row);
                harness.settle();
                return nav->topViewController()->title() == title;
            },
            10);
    };
    ASSERT_TRUE(open("Quick Settings", "Quick Settings")) << toolkit::outline(harness.window());
    ASSERT_TRUE(open("Location Awareness", "Locations")) << toolkit::outline(harness.window());
    auto switches = harness.findAll("Switch");
    ASSERT_EQ(switches.size(), 1u) << toolkit::outline(harness.window());
    ASSERT_TRUE(harness.tap(*switches.front()));
    harness.settle();
    // The device asks; the user allows always.
    ASSERT_TRUE(harness.visibleAlert()) << toolkit::outline(harness.window());
    EXPECT_EQ(harness.visibleAlert()->actions().size(), 3u);
    ASSERT_TRUE(harness.tapAlertAction(hxrun::kAlwaysAllow));
    harness.settle();
    EXPECT_EQ(services::LocationManager::authorizationStatus(), services::LocationAuthorization::Always);
    EXPECT_TRUE(foundation::UserDefaults::standardUserDefaults()->boolForKey("useQSLocation"));
    ASSERT_TRUE(harness.tapBack());
    harness.settle();
    ASSERT_TRUE(harness.tapBarButton("Edit")) << toolkit::outline(harness.window());
    harness.settle();
    ASSERT_TRUE(harness.tapRowShowing("Work")) << toolkit::outline(harness.window());
    harness.settle();
    auto* editor = dynamic_cast<VC_QSDetails*>(nav->topViewController());
    ASSERT_TRUE(editor) << toolkit::outline(harness.window());
    ASSERT_TRUE(harness.selectRow(*editor->tableView(), *editor->indexPathForTag(125)));
    harness.settle();
    auto* details = dynamic_cast<VC_LocationDetails*>(nav->topViewController());
    ASSERT_TRUE(details) << toolkit::outline(harness.window());
    ASSERT_TRUE(harness.tapRowShowing("Current Location"));
    harness.advance(services::Geocoder::kAnswerDelay);
    harness.settle();
    auto* header = details->tableView()->tableHeaderView().get();
    ASSERT_TRUE(header);
    EXPECT_EQ(header->frame().size.height, VC_LocationDetails::kMapHeight + VC_LocationDetails::kShadowHeight);
    auto maps = harness.findAll("MapView");
    ASSERT_EQ(maps.size(), 1u) << toolkit::outline(harness.window());
    auto* map = dynamic_cast<system_screens::MapView*>(maps.front());
    ASSERT_TRUE(map && details->circle());
    ASSERT_EQ(map->overlays().size(), 1u);
    EXPECT_EQ(map->overlays().front(), details->circle());
    EXPECT_EQ(storedQuickSetting(*account, "Work")->regionTitle(), "HX Office") << "the place the route begins at";
    // The route leaves the place and comes back: the region is left, then entered again.
    auto manager = app->screenRoles().quickSettings.lock()->locationManager();
    ASSERT_EQ(manager->monitoredRegions().size(), 1u);
    const auto region = std::dynamic_pointer_cast<services::CircularRegion>(manager->monitoredRegions().front());
    ASSERT_TRUE(region);
    std::vector<bool> inside;
    for (double t : {100.0, 150.0, 250.0, 390.0}) {
        ASSERT_TRUE(until([&] { return harness.clock().now() >= routeStart + t; }, 60, 0.5));
        inside.push_back(region->containsCoordinate(services::LocationFeed::lastFix()->coordinate));
    }
    EXPECT_EQ(inside, (std::vector<bool>{true, false, true, false}));
    // The answer is the device's: the next run's device gives it again.
    services::LocationServices::shared().setAuthorizationStatus(services::LocationAuthorization::NotDetermined);
    ASSERT_TRUE(hxrun::furnishHome().ok());
    EXPECT_EQ(services::LocationManager::authorizationStatus(), services::LocationAuthorization::Always);
}

TEST_F(RunStories, TheSecondDemoAccountIsAddedThroughTheSignInPage) {
    app->selectViewForIndex(4);
    harness.settle();
    ASSERT_TRUE(harness.tapBarButton("Accounts"));
    harness.settle();
    ASSERT_TRUE(harness.tapBarButton("Edit")) << toolkit::outline(harness.window());
    harness.settle();
    ASSERT_TRUE(harness.tapRowShowing("Add Account\u2026")) << toolkit::outline(harness.window());
    harness.settle();
    auto play = [&](const std::string& steps) {
        auto script = toolkit::testing::parseInputScript(steps);
        if (!script.ok()) return false;
        auto played = toolkit::testing::playInputScript(harness, *script, nullptr, 30);
        EXPECT_TRUE(played) << (played ? "" : played.error().localizedDescription());
        return static_cast<bool>(played);
    };
    ASSERT_TRUE(play("wait-for Email\n"));
    EXPECT_NE(visible("Accounts here: user@example.test, work@example.test"), nullptr)
        << toolkit::outline(harness.window());
    ASSERT_TRUE(play(std::string("click-on Email\ntype ") + kWork + "\nclick-on Next\n"));
    ASSERT_TRUE(until([&] {
        auto account = app->account();
        return account && account->username() == kWork && account->authV2() && account->HXnumber();
    })) << toolkit::outline(harness.window());
    EXPECT_EQ(app->account()->HXnumber().value_or(""), "+15550111") << "the second account's own data";
    const auto infos = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("accountInfo");
    ASSERT_TRUE(infos);
    EXPECT_TRUE(infos->contains(kWork));
    EXPECT_TRUE(infos->contains(serviceUser()));
    // Back on the settings, the new account's name and number head the table, below the bars.
    ASSERT_TRUE(until([&] { return app->isIdle(); }));
    harness.advance(1);
    harness.settle();
    auto* settings = dynamic_cast<toolkit::TableViewController*>(app->viewControllerForIndex(4).get());
    auto* nav = settings ? settings->navigationController() : nullptr;
    ASSERT_TRUE(settings && nav) << toolkit::outline(harness.window());
    ASSERT_EQ(nav->topViewController(), settings) << toolkit::outline(harness.window());
    auto& table = *settings->tableView();
    const double barBottom = nav->navigationBar().convertRectTo(nav->navigationBar().bounds(), nullptr).maxY();
    EXPECT_NEAR(table.contentOffset().y, -table.adjustedContentInset().top, 0.5) << toolkit::outline(harness.window());
    // The content's top (the header's) in the window.
    const double contentTop =
        table.superview()->convertPointTo(table.frame().origin, nullptr).y - table.contentOffset().y;
    EXPECT_GE(contentTop, barBottom - 0.5);
}

// The threads ./hx run's service adds with --conversations: the long one pages back on a pull, and
// the contact card sent in the attachments' thread opens on a tap of its bubble.
TEST_F(RunStories, ALongThreadPagesBackOnAPullAndASentContactCardOpensOnATap) {
    const auto ids = service->withAccount([](emulator::Account& a) {
        emulator::addConversationThreadsOnce(a, 1);
        return emulator::conversationThreadIds(a);
    });
    ASSERT_EQ(ids.size(), 5u);
    app->selectViewForIndex(1);
    harness.settle();
    harness.advance(1);
    ASSERT_TRUE(settleRequests());
    auto list = std::dynamic_pointer_cast<VC_Messages>(app->viewControllerForIndex(1));
    ASSERT_TRUE(list);
    auto* nav = list->navigationController();
    // A thread's row, tapped as a user taps it, and its conversation once loaded.
    auto open = [&](const std::string& id) -> VC_Conversation* {
        while (nav->topViewController() != list.get()) {
            if (!harness.tapBack()) return nullptr;
            harness.settle();
        }
        auto& table = *list->tableView();
        for (long row = 0; row < table.numberOfRows(0); ++row) {
            const auto conversation = list->rowAt({0, row});
            if (!conversation || conversation->conversationID() != id) continue;
            if (!harness.selectRow(table, {0, row})) return nullptr;
            VC_Conversation* opened = nullptr;
            until([&] { return (opened = dynamic_cast<VC_Conversation*>(nav->topViewController())) != nullptr; }, 10);
            if (opened) until([&] { return app->isIdle() && HXWebClientOf(*app).requests.empty(); }, 10);
            return opened;
        }
        return nullptr;
    };
    auto* longThread = open(ids[0]);
    ASSERT_TRUE(longThread) << toolkit::outline(harness.window());
    auto& table = longThread->tableView();
    const long first = table.numberOfSections();
    ASSERT_GT(first, 0);
    ASSERT_LT(first, 1000);
    ASSERT_TRUE(longThread->refreshControl()) << "older messages remain";
    // The user scrolls up to the oldest message shown and pulls on.
    table.setContentOffset(table.minimumContentOffset());
    harness.settle();
    harness.pullToRefresh(table);
    ASSERT_TRUE(until([&] { return table.numberOfSections() > first; })) << "an older page came on the pull";

    auto* media = open(ids[3]);
    ASSERT_TRUE(media) << toolkit::outline(harness.window());
    // The user taps the attachments' bubbles, oldest first, until one opens a contact card.
    bool carded = false;
    auto& mediaTable = media->tableView();
    for (long section = 0; section < mediaTable.numberOfSections() && !carded; ++section)
        for (long row = 0; row < mediaTable.numberOfRows(section) && !carded; ++row) {
            mediaTable.scrollToRow({section, row}, toolkit::ScrollPosition::Middle, false);
            harness.settle();
            auto cell = mediaTable.cellForRow({section, row});
            // A message's attachments come in the rows after its text.
            if (!cell || row == 0) continue;
            toolkit::View* bubble = nullptr;
            std::function<void(toolkit::View&)> find = [&](toolkit::View& v) {
                if (dynamic_cast<toolkit::TextView*>(&v)) bubble = &v;
                for (const auto& sub : v.subviews()) find(*sub);
            };
            find(*cell);
            if (!bubble) continue;
            (void)harness.tap(*bubble);
            harness.settle();
            until([&] { return app->isIdle() && HXWebClientOf(*app).requests.empty(); }, 10);
            harness.advance(0.5);
            harness.settle();
            carded = dynamic_cast<system_screens::ContactViewController*>(nav->topViewController()) != nullptr;
            // Whatever else opened (a picture's preview, a player) is closed again.
            while (auto* shown = harness.topPresented()) {
                if (!shown->presentingViewController()) break;
                shown->presentingViewController()->dismiss(false);
                harness.settle();
            }
            if (!carded && nav->topViewController() != media) (void)harness.tapBack();
            harness.settle();
        }
    EXPECT_TRUE(carded) << toolkit::outline(harness.window());
}

}  // namespace
