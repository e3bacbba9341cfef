// What the user does with an attachment row against the loopback service: a picture opens full
// screen and fills when its own download comes (two of them answered in reverse order each fill
// their own), a two-second press fetches it again, the menu saves and shares it (a GIF as its bytes,
// a JPEG as a picture), a video's menu previews it at its upright size doubled and two taps open
// one player, a contact card of three opens the picker, and a tap on audio waits for the file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "emulator/media_pictures.h"
#include "model/cache.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/services/contacts.h"
#include "platform/services/photos.h"
#include "platform/system_screens/activity_view_controller.h"
#include "platform/system_screens/player_view_controller.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/presentation.h"
#include "tests/support/test_support.h"
#include "tests/ui/conversation/playback_support.h"
#include "ui/compose/vc_group_details.h"
#include "ui/compose/vc_image_preview.h"
#include "ui/compose/vc_vcard_multiple_selection.h"

namespace {

using hxtest::kTextThread;

constexpr const char* kJPEG = "pj1";
constexpr const char* kJPEG2 = "pj2";
constexpr const char* kGIF = "pg1";
constexpr const char* kCards = "vc3";
constexpr const char* kVideo = "vid1";
constexpr const char* kAudio = "au1";

template <typename Form>
struct TapsOn : hxtest::PlaybackFixture<Form> {
    explicit TapsOn(hxtest::DeviceForm form = hxtest::DeviceForm::phone, int systemVersion = 15)
        : hxtest::PlaybackFixture<Form>(form, false, systemVersion, true) {}
    void SetUp() override {
        hxtest::PlaybackFixture<Form>::SetUp();
        this->service->withAccount([](emulator::Account& a) {
            a.media[kJPEG] = {.mimeType = "image/jpeg", .width = 320, .height = 240};
            a.media[kJPEG2] = {.mimeType = "image/jpeg", .width = 200, .height = 300};
            a.media[kGIF] = {.mimeType = "image/gif", .width = 160, .height = 120};
            a.media[kCards] = {"text/x-vcard", emulator::vCardNamed("three"), {}};
            a.media[kVideo] = {"video/mp4", std::string(emulator::videoClip()), std::string(emulator::videoPreview())};
            a.media[kAudio] = {"audio/mpeg", std::string(emulator::voicemailAudio()), {}};
            return 0;
        });
        foundation::Array attachments;
        for (const auto& [id, type] : std::vector<std::pair<std::string, std::string>>{{kJPEG, "image/jpeg"},
                                                                                       {kJPEG2, "image/jpeg"},
                                                                                       {kGIF, "image/gif"},
                                                                                       {kCards, "text/x-vcard"},
                                                                                       {kVideo, "video/mp4"},
                                                                                       {kAudio, "audio/mpeg"}})
            attachments.push_back(foundation::Value(foundation::Dictionary{{"id", id}, {"mimeType", type}}));
        this->storeConversation(kTextThread, 1, "", attachments, "Look at these");
        this->open(kTextThread, 1);
        ASSERT_TRUE(this->settleRequests());
        this->harness.settle();
        // Every row shown once (a picture is as tall as it is once it is in), fetching what it shows.
        for (int attachment = 0; attachment < 6; ++attachment) {
            (void)pointOf(row(attachment));
            ASSERT_TRUE(this->settleRequests());
        }
        this->harness.settle();
    }
    // The attachment rows follow the text row.
    toolkit::IndexPath row(int attachment) const { return {0, attachment + 1}; }
    toolkit::Point pointOf(toolkit::IndexPath indexPath) {
        auto& table = this->screen->tableView();
        table.scrollToRow(indexPath, toolkit::ScrollPosition::Middle, false);
        this->harness.settle();
        const auto r = table.rectForRow(indexPath);
        return {r.midX(), r.midY()};
    }
    // A tap on the row as the user taps it (the table's tap waits out the double tap).
    void tapRow(toolkit::IndexPath indexPath) {
        const auto p = this->screen->tableView().convertPointTo(pointOf(indexPath), nullptr);
        this->harness.tap(p);
        this->harness.advance(0.5);
    }
    std::shared_ptr<HXCCache> cache() { return this->app->screenRoles().media.lock()->mediaCache(); }
    VC_ImagePreview* preview() {
        auto* shown = this->nav->presentedViewController();
        auto* wrapper = dynamic_cast<toolkit::NavigationController*>(shown);
        return wrapper ? dynamic_cast<VC_ImagePreview*>(wrapper->topViewController()) : nullptr;
    }
    std::string pathOf(const std::string& id, const std::string& type) { return this->app->localURLForMedia(id, type); }
    bool menuAction(const std::string& title) {
        const bool done = this->screen->tableView().performContextMenuAction(title);
        this->harness.settle();
        return done;
    }
    // The names of the photo library's stored files.
    static std::vector<std::string> assets() {
        std::vector<std::string> names;
        if (auto entries = foundation::files::listDirectory(services::PhotoLibrary::assetsDirectory()); entries.ok())
            for (const auto& e : entries.value()) names.push_back(e.name);
        return names;
    }
};

struct Taps : TapsOn<HX_ConnectAppDelegate_iPhone> {
    explicit Taps(int systemVersion = 15) : TapsOn(hxtest::DeviceForm::phone, systemVersion) {}
};
struct TabletTaps : TapsOn<HX_ConnectAppDelegate_iPad> {
    TabletTaps() : TapsOn(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(Taps, ATextRowDoesNothingAndAPictureOpensEmptyUntilItsOwnDownloadFillsIt) {
    tapRow({0, 0});
    EXPECT_EQ(nav->presentedViewController(), nullptr) << "the text row opens nothing";

    service->inject(emulator::Fault::Slow, "/a/i/" + std::string(kJPEG));
    tapRow(row(0));
    auto* p = preview();
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->hasPicture());
    EXPECT_EQ(p->mediaID(), kJPEG);

    // The other picture's full size, asked for meanwhile and answered first, is not this one's.
    auto other =
        std::dynamic_pointer_cast<VC_ImagePreview>(app->screens().makeImagePreview(app->screenRoles(), kJPEG2, {}));
    ASSERT_TRUE(other);
    auto otherNav = std::make_shared<toolkit::NavigationController>(other);
    (void)other->view();
    app->screenRoles().media.lock()->downloadFullSizeImageForAttachment(kJPEG2, "image/jpeg");
    ASSERT_TRUE(harness.clock().runUntil([&] { return other->hasPicture(); }, 30));
    EXPECT_FALSE(p->hasPicture());
    EXPECT_EQ(other->image()->width(), 200);

    ASSERT_TRUE(releaseWhenSeen("/a/i/" + std::string(kJPEG)));
    ASSERT_TRUE(harness.clock().runUntil([&] { return p->hasPicture(); }, 30));
    EXPECT_EQ(p->image()->width(), 320);
    EXPECT_EQ(other->image()->width(), 200);
}

// Before system 13 a press of two seconds on an attachment fetches it again.
struct TapsAt12 : Taps {
    TapsAt12() : Taps(12) {}
};

TEST_F(TapsAt12, ATwoSecondPressDropsBothCacheEntriesAndTheRowAsksAgain) {
    // The full size is in the cache once the picture was opened.
    tapRow(row(0));
    ASSERT_TRUE(harness.clock().runUntil([&] { return preview() && preview()->hasPicture(); }, 30));
    nav->dismiss(false);
    harness.settle();
    ASSERT_TRUE(cache()->objectForKey(std::string(kJPEG) + "_ORIGINAL"));
    ASSERT_TRUE(cache()->objectForKey(kJPEG));
    service->clearRequests();

    const auto p = screen->tableView().convertPointTo(pointOf(row(0)), nullptr);
    harness.longPress(p, 1.5);
    EXPECT_TRUE(cache()->objectForKey(kJPEG)) << "a shorter press keeps the picture";
    // The press acts when the finger lifts, not when it has been down long enough.
    const int finger = harness.window().touchDown(p);
    harness.advance(2.1);
    EXPECT_TRUE(cache()->objectForKey(std::string(kJPEG) + "_ORIGINAL")) << "dropped with the finger still down";
    harness.window().touchUp(finger);
    harness.settle();
    EXPECT_FALSE(cache()->objectForKey(std::string(kJPEG) + "_ORIGINAL"));
    ASSERT_TRUE(settleRequests());
    bool askedAgain = false;
    for (const auto& r : service->requests()) askedAgain = askedAgain || r.path == "/a/i/" + std::string(kJPEG);
    EXPECT_TRUE(askedAgain) << "the row fetches its picture again";
    ASSERT_TRUE(harness.clock().runUntil([&] { return cache()->objectForKey(kJPEG) != nullptr; }, 30));
}

TEST_F(Taps, SavingAndSharingKeepAGIFsBytesAndGiveAJPEGAsAPicture) {
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    struct Case {
        const char* id;
        int attachment;
        bool gif;
    };
    for (const Case c : {Case{kGIF, 2, true}, Case{kJPEG, 0, false}}) {
        SCOPED_TRACE(c.id);
        // The menu offers nothing before a picture is there; the full size is asked for.
        auto session = harness.openContextMenu(screen->tableView(), row(c.attachment));
        ASSERT_TRUE(settleRequests());
        harness.settle();
        if (!session || !session->menu) session = harness.openContextMenu(screen->tableView(), row(c.attachment));
        ASSERT_TRUE(session && session->menu);
        EXPECT_EQ(session->menu->displayTitles(),
                  (std::vector<std::string>{"Copy Image", "Save Image", "Share Image\u2026", "Reload Image"}));
        const auto before = assets();
        ASSERT_TRUE(menuAction("Share Image\u2026"));
        harness.settle();
        auto* sheet = dynamic_cast<system_screens::ActivityViewController*>(harness.topPresented());
        ASSERT_NE(sheet, nullptr);
        ASSERT_EQ(sheet->placeholders().size(), 1u);
        EXPECT_EQ(sheet->placeholders()[0].kind,
                  c.gif ? system_screens::ActivityItem::Kind::Data : system_screens::ActivityItem::Kind::Image);
        ASSERT_TRUE(sheet->linkMetadata());
        EXPECT_EQ(sheet->linkMetadata()->title, "Image Attachment");
        ASSERT_TRUE(harness.chooseShareActivity("Save"));
        harness.settle();
        const auto after = assets();
        ASSERT_EQ(after.size(), before.size() + 1);
        std::string saved;
        for (const auto& name : after)
            if (std::find(before.begin(), before.end(), name) == before.end()) saved = name;
        const auto path = services::PhotoLibrary::assetsDirectory() / saved;
        auto bytes = foundation::files::readData(path);
        ASSERT_TRUE(bytes.ok());
        if (c.gif) {
            auto original = cache()->objectForKey(std::string(c.id) + "_ORIGINAL");
            ASSERT_TRUE(original && original->value.isData());
            EXPECT_EQ(bytes.value(), original->value.asData()) << "a GIF is kept as it came";
        } else {
            // Another reader opens the saved picture at the size the service drew.
            std::string out;
            ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                         "im = Image.open(sys.argv[1]); print(im.size[0], im.size[1])\" '" +
                                             path.string() + "'",
                                         &out),
                      0);
            EXPECT_EQ(out, "320 240\n");
        }
    }
}

TEST_F(Taps, AVideosMenuPreviewsItUprightAtTwiceItsSizeAndTwoTapsOpenOnePlayer) {
    // Missing: the menu is not offered and the file is fetched.
    auto session = harness.openContextMenu(screen->tableView(), row(4));
    EXPECT_FALSE(session && session->menu);
    ASSERT_TRUE(settleRequests());
    ASSERT_TRUE(foundation::files::exists(pathOf(kVideo, "video/mp4")));
    session = harness.openContextMenu(screen->tableView(), row(4));
    ASSERT_TRUE(session && session->menu && session->preview);
    EXPECT_EQ(session->menu->displayTitles(),
              (std::vector<std::string>{"Copy Video", "Share Video\u2026", "Reload Video"}));
    // The clip's upright size, as another reader gives it, shown twice as big.
    toolkit::Size upright{64, 96};
    if (hxtest::haveProgram("ffprobe")) {
        std::string out;
        ASSERT_EQ(hxtest::runCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                     "stream=width,height:stream_side_data=rotation -of default=nw=1 '" +
                                         pathOf(kVideo, "video/mp4") + "'",
                                     &out),
                  0);
        auto field = [&](const std::string& name) {
            const auto at = out.find(name + "=");
            return at == std::string::npos ? 0.0 : std::strtod(out.c_str() + at + name.size() + 1, nullptr);
        };
        const bool quarter = std::fmod(std::fabs(field("rotation")), 180.0) == 90.0;
        upright =
            quarter ? toolkit::Size{field("height"), field("width")} : toolkit::Size{field("width"), field("height")};
    }
    EXPECT_EQ(session->preview->preferredContentSize(), (toolkit::Size{upright.width * 2, upright.height * 2}));
    // The preview shows the film's still (its preview picture), not an empty box.
    auto still = [](const system_screens::PlayerViewController* p) {
        return p && p->posterImage ? p->posterImage->size() : toolkit::Size{};
    };
    EXPECT_EQ(still(dynamic_cast<system_screens::PlayerViewController*>(session->preview.get())),
              (toolkit::Size{96, 64}));
    ASSERT_TRUE(menuAction("Copy Video"));
    EXPECT_EQ(toolkit::Pasteboard::general().dataForType("public.mpeg-4").value_or(foundation::Data{}).size(),
              emulator::videoClip().size());

    system_screens::PlayerViewController::resetPresentations();
    tapRow(row(4));
    tapRow(row(4));
    ASSERT_TRUE(
        harness.clock().runUntil([&] { return !system_screens::PlayerViewController::presentations().empty(); }, 30));
    harness.advance(1);
    EXPECT_EQ(system_screens::PlayerViewController::presentations().size(), 1u);
    ASSERT_NE(system_screens::PlayerViewController::onScreen(), nullptr);
    EXPECT_EQ(system_screens::PlayerViewController::presentations()[0].url,
              foundation::URL::fileURL(pathOf(kVideo, "video/mp4")).string());
    auto* player = system_screens::PlayerViewController::onScreen();
    EXPECT_EQ(still(player), (toolkit::Size{96, 64}));
    // The three-second clip plays to its end, and the button offers to play it again.
    EXPECT_EQ(player->playPauseButton()->currentTitle().value_or(""), "Pause");
    harness.advance(4);
    EXPECT_EQ(player->player->rate(), 0.0);
    EXPECT_EQ(player->playPauseButton()->currentTitle().value_or(""), "Play");
    EXPECT_EQ(player->elapsedLabel()->text(), "0:03");
}

TEST_F(Taps, AudioTappedBeforeItsFileIsThereOpensThePlayerOnceWhenItComes) {
    system_screens::PlayerViewController::resetPresentations();
    // The row fetched it as it showed; gone again, a tap fetches it.
    ASSERT_TRUE(foundation::files::remove(pathOf(kAudio, "audio/mpeg")).ok());
    service->inject(emulator::Fault::Slow, "/a/au/");
    tapRow(row(5));
    harness.advance(1);
    tapRow(row(5));
    EXPECT_EQ(screen->attachmentRows()->awaitedMedia(), std::vector<std::string>{kAudio}) << "waited for once";
    ASSERT_TRUE(releaseWhenSeen("/a/au/"));
    ASSERT_TRUE(
        harness.clock().runUntil([&] { return !system_screens::PlayerViewController::presentations().empty(); }, 30));
    harness.settle();
    EXPECT_EQ(system_screens::PlayerViewController::presentations().size(), 1u);
    EXPECT_TRUE(screen->attachmentRows()->awaitedMedia().empty());
}

TEST_F(Taps, ATapWhileTheReplyIsTypedOnlyClosesTheKeyboard) {
    auto* bar = screen->inputToolbar();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(bar->textView()->becomeFirstResponder());
    tapRow(row(0));
    EXPECT_FALSE(bar->textView()->isFirstResponder());
    EXPECT_EQ(nav->presentedViewController(), nullptr) << "the first tap only closes the keyboard";
    tapRow(row(0));
    EXPECT_NE(preview(), nullptr) << "the next one opens the picture";
}

TEST_F(Taps, LeavingTheScreenStopsWaitingForAFile) {
    system_screens::PlayerViewController::resetPresentations();
    ASSERT_TRUE(foundation::files::remove(pathOf(kAudio, "audio/mpeg")).ok());
    service->inject(emulator::Fault::Slow, "/a/au/");
    tapRow(row(5));
    EXPECT_EQ(screen->attachmentRows()->awaitedMedia().size(), 1u);
    nav->popViewController(false);
    harness.settle();
    EXPECT_TRUE(screen->attachmentRows()->awaitedMedia().empty());
    ASSERT_TRUE(releaseWhenSeen("/a/au/"));
    ASSERT_TRUE(settleRequests()) << foundation::join(HXWebClientOf(*app).requests.tags(), ", ");
    harness.settle();
    EXPECT_TRUE(system_screens::PlayerViewController::presentations().empty())
        << "a file that comes later opens nothing over another screen";
}

TEST_F(Taps, ACardOfThreeOpensThePickerWhoseAddAllStoresThem) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    ASSERT_TRUE(foundation::files::exists(pathOf(kCards, "text/x-vcard")));
    tapRow(row(3));
    harness.settle();
    auto* picker = dynamic_cast<VC_VCardMultipleSelection*>(nav->topViewController());
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->title(), "Contact Card Details");
    EXPECT_NE(harness.find("Add All 3 Contacts"), nullptr);
    const size_t before = services::ContactStore::shared()->count();
    ASSERT_TRUE(harness.tapRowShowing("Add All 3 Contacts"));
    harness.settle();
    EXPECT_EQ(services::ContactStore::shared()->count(), before + 3);
    EXPECT_EQ(nav->topViewController(), screen.get()) << "the picker closes after the save";
}

TEST_F(Taps, APathWithSpacesAndAHashStillPlays) {
    // The app's folders may hold any character: the player gets a file URL of the path, encoded.
    hxtest::TempDir dir;
    const auto folder = dir.path() / "clips #1 100%";
    std::filesystem::create_directories(folder);
    const auto path = folder / "my video.mov";
    std::ofstream(path, std::ios::binary) << emulator::movieClip();
    system_screens::PlayerViewController::resetPresentations();
    screen->attachmentRows()->showAVPlayerForLocalMediaAtPath(path.string());
    ASSERT_TRUE(
        harness.clock().runUntil([&] { return !system_screens::PlayerViewController::presentations().empty(); }, 10));
    auto* player = system_screens::PlayerViewController::onScreen();
    ASSERT_NE(player, nullptr);
    ASSERT_TRUE(player->player);
    EXPECT_EQ(player->player->status(), system_screens::Player::Status::ReadyToPlay);
    EXPECT_TRUE(player->player->hasVideo());
}

TEST_F(Taps, SaveImageAsksOnceThenSavesAndARefusalPointsToTheSettings) {
    using services::PhotoAuthorizationStatus;
    struct Case {
        PhotoAuthorizationStatus status, answer;
        bool saved, alert;
    };
    const Case cases[] = {
        {PhotoAuthorizationStatus::NotDetermined, PhotoAuthorizationStatus::Authorized, true, false},
        {PhotoAuthorizationStatus::Authorized, PhotoAuthorizationStatus::Authorized, true, false},
        {PhotoAuthorizationStatus::NotDetermined, PhotoAuthorizationStatus::Denied, false, false},
        {PhotoAuthorizationStatus::Denied, PhotoAuthorizationStatus::Denied, false, true},
    };
    // The full size arrives first (the menu asks for it).
    (void)harness.openContextMenu(screen->tableView(), row(0));
    screen->tableView().dismissContextMenu();
    ASSERT_TRUE(settleRequests());
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        services::PhotoLibrary::setAuthorizationStatus(c.status);
        services::PhotoLibrary::setAnswerToAccessRequest(c.answer);
        const size_t before = assets().size();
        auto session = harness.openContextMenu(screen->tableView(), row(0));
        ASSERT_TRUE(session && session->menu);
        ASSERT_TRUE(menuAction("Save Image"));
        ASSERT_TRUE(harness.clock().runUntil([&] { return assets().size() > before || !c.saved; }, 5));
        harness.settle();
        EXPECT_EQ(assets().size(), before + (c.saved ? 1 : 0));
        auto* alert = harness.visibleAlert();
        EXPECT_EQ(alert != nullptr, c.alert);
        if (alert) {
            EXPECT_EQ(alert->alertTitle(), "Unable to access the Photo Library");
            ASSERT_TRUE(harness.tapAlertAction("Cancel"));
        }
    }
}

TEST_F(TabletTaps, APictureFillsFromItsOwnDownloadAndAGIFIsSharedAsItsBytes) {
    service->inject(emulator::Fault::Slow, "/a/i/" + std::string(kJPEG));
    tapRow(row(0));
    auto* p = preview();
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->hasPicture());
    app->screenRoles().media.lock()->downloadFullSizeImageForAttachment(kJPEG2, "image/jpeg");
    ASSERT_TRUE(harness.clock().runUntil(
        [&] { return cache()->objectForKey(std::string(kJPEG2) + "_ORIGINAL") != nullptr; }, 30));
    harness.settle();
    EXPECT_FALSE(p->hasPicture()) << "another picture's download is not this one's";
    ASSERT_TRUE(releaseWhenSeen("/a/i/" + std::string(kJPEG)));
    ASSERT_TRUE(harness.clock().runUntil([&] { return p->hasPicture(); }, 30));
    EXPECT_EQ(p->image()->width(), 320);
    nav->dismiss(false);
    harness.settle();

    (void)harness.openContextMenu(screen->tableView(), row(2));
    ASSERT_TRUE(settleRequests());
    screen->tableView().dismissContextMenu();  // a menu on screen takes every touch until it goes
    harness.settle();
    auto session = harness.openContextMenu(screen->tableView(), row(2));
    ASSERT_TRUE(session && session->menu);
    ASSERT_TRUE(menuAction("Share Image\u2026"));
    auto* sheet = dynamic_cast<system_screens::ActivityViewController*>(harness.topPresented());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->placeholders().at(0).kind, system_screens::ActivityItem::Kind::Data);
    EXPECT_EQ(sheet->modalPresentationStyle, toolkit::ModalPresentationStyle::Popover);
}

TEST_F(TabletTaps, GroupDetailsInAPopoverCallWithTheConversationsURLRules) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    auto details = app->screens().makeGroupDetails(app->screenRoles(), "+12025550199|bo@example.test");
    ASSERT_TRUE(details);
    EXPECT_EQ(details->modalPresentationStyle, toolkit::ModalPresentationStyle::Popover);
    screen->present(details, false);
    harness.settle();
    auto* list = dynamic_cast<VC_GroupDetails*>(
        dynamic_cast<toolkit::NavigationController*>(details.get())->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->contactList().size(), 2u);
    ASSERT_TRUE(harness.selectRow(*list->tableView(), {0, 0}));
    auto* card = dynamic_cast<system_screens::ContactViewController*>(
        dynamic_cast<toolkit::NavigationController*>(details.get())->topViewController());
    ASSERT_NE(card, nullptr);
    card->tapProperty(0);
    harness.settle();
    auto* sheet = dynamic_cast<toolkit::AlertController*>(harness.topPresented());
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(sheet->actions().size(), 3u);
    EXPECT_EQ(sheet->popoverPresentationController()->permittedArrowDirections, toolkit::kArrowUp);
    service->clearRequests();
    ASSERT_TRUE(harness.tapAlertAction(sheet->actions()[1]->title()));
    harness.settle();
    EXPECT_EQ(screen->presentedViewController(), nullptr) << "the details closed for the call";
}
