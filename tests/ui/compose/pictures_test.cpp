// Pictures of a new message: the GIF limit (inclusive) from the library, the clipboard and paste,
// the thumbnails and their removal, the source sheet and the permission flows on the prepared
// answers, drops, and sending them against the emulator.
#include "platform/graphics/animated_image.h"
#include "platform/services/photos.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/outline.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/input_script.h"
#include "platform/toolkit/text_input.h"
#include "tests/support/voice_paths.h"
#include "tests/ui/compose/compose_support.h"

namespace {

using Phone = HX_ConnectAppDelegate_iPhone;
using hxtest::kSend;

// Animations take their time for the test's scope.
struct TimedAnimations {
    TimedAnimations() { toolkit::Animations::setTimed(true); }
    ~TimedAnimations() { toolkit::Animations::setTimed(false); }
};

struct Pictures : hxtest::ComposeFixture<Phone> {
    void SetUp() override {
        ComposeFixture::SetUp();
        services::PhotoLibrary::reset();
        services::CaptureDevice::reset();
        toolkit::Pasteboard::general().clear();
        ASSERT_TRUE(launch());
        ASSERT_TRUE(runUntil([&] { return app->account() && app->account()->authV2(); }));
        // Picture messages go out only with an access token at hand.
        ASSERT_TRUE(runUntil([&] { return app->retrieveOAuth().has_value(); }));
    }
    void TearDown() override {
        services::PhotoLibrary::reset();
        services::CaptureDevice::reset();
        toolkit::Pasteboard::general().clear();
        ComposeFixture::TearDown();
    }
    system_screens::ImagePickerController* picker() {
        auto* s = screen();
        if (!s) return nullptr;
        auto* host = s->navigationController() ? static_cast<toolkit::ViewController*>(s->navigationController()) : s;
        return dynamic_cast<system_screens::ImagePickerController*>(host->presentedViewController());
    }
    std::string asset(const foundation::Data& bytes, const char* type) {
        auto url = services::PhotoLibrary::addAsset(bytes, type);
        EXPECT_TRUE(url.ok());
        return url.ok() ? url.value() : std::string();
    }
    HXMMSImage still(uint32_t rgba) {
        return HXMMSImage{nullptr, graphics::Image::fromEncoded(hxtest::pngOf(8, 6, rgba)).value()};
    }
    size_t alertsTitled(const std::string& title) {
        size_t n = 0;
        for (const auto& a : app->shell().alerts()) n += a.title == title;
        return n;
    }
};

}  // namespace

TEST(PictureStandIns, AssetsComeBackByTheirReferenceURLsAndNothingElse) {
    hxtest::TempDir home;
    hxtest::useAppHome(home.path());
    const foundation::Data gif = hxtest::gifOfSize(300);
    auto url = services::PhotoLibrary::addAsset(gif, "com.compuserve.gif");
    ASSERT_TRUE(url.ok());
    auto back = services::PhotoLibrary::imageDataForAssetURL(url.value());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value().bytes, gif);
    EXPECT_EQ(back.value().typeIdentifier, "com.compuserve.gif");
    ASSERT_NE(graphics::HXCAnimatedImage::animatedImageWithGIFData(gif), nullptr) << "the padded GIF is a GIF";
    for (const std::string& bad :
         {std::string("assets-library://asset/asset.GIF?id=../../x&ext=GIF"), std::string("file:///etc/passwd"),
          std::string("assets-library://asset/asset.GIF?id=E621E1F8-C36C-495A-93FC-0C247A3E6E5F&ext=GIF"),
          std::string("assets-library://asset/asset.GIF?id=E621E1F8-C36C-495A-93FC-0C247A3E6E5F&ext=G/F")}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(services::PhotoLibrary::imageDataForAssetURL(bad).ok());
    }
}

TEST_F(Pictures, AGIFOfTwoMillionBytesIsAttachedAndOneByteMoreIsRefused) {
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    const auto fits = asset(hxtest::gifOfSize(2'000'000), "com.compuserve.gif");
    const auto over = asset(hxtest::gifOfSize(2'000'001), "com.compuserve.gif");
    auto* s = open("+15550103000");
    s->authorizeAndShowLibraryImagePicker();
    harness.settle();
    ASSERT_NE(picker(), nullptr);
    ASSERT_TRUE(picker()->pickAsset(over));
    harness.settle();
    EXPECT_EQ(alertsTitled("Image too Large"), 1u);
    EXPECT_TRUE(s->images().empty());
    ASSERT_NE(picker(), nullptr) << "the picker stays open for another choice";
    ASSERT_TRUE(picker()->pickAsset(fits));
    harness.settle();
    EXPECT_EQ(picker(), nullptr);
    ASSERT_EQ(s->images().size(), 1u);
    ASSERT_NE(s->images()[0].animated, nullptr);
    EXPECT_EQ(s->images()[0].animated->data().size(), 2'000'000u);
    // The clipboard's GIF goes by the same limit.
    toolkit::Pasteboard::general().setData(hxtest::gifOfSize(2'000'001), "com.compuserve.gif");
    s->addImageFromPasteboard();
    EXPECT_EQ(alertsTitled("Image too Large"), 2u);
    EXPECT_EQ(s->images().size(), 1u);
    toolkit::Pasteboard::general().setData(hxtest::gifOfSize(1000), "com.compuserve.gif");
    ASSERT_TRUE(s->message().becomeFirstResponder());
    EXPECT_TRUE(s->canPerformAction("paste:", nullptr));
    s->paste();
    ASSERT_EQ(s->images().size(), 2u);
    EXPECT_EQ(s->images()[1].animated->data().size(), 1000u) << "a GIF keeps its bytes";
    // Bytes that are no picture attach nothing and leave the bar as it was.
    toolkit::Pasteboard::general().setData(foundation::Data{1, 2, 3}, "public.png");
    s->addImageFromPasteboard();
    EXPECT_EQ(s->images().size(), 2u);
}

TEST_F(Pictures, ThumbnailsSayTheirPlaceAndATapRemovesThatPicture) {
    // The colour in the middle of each thumbnail on the bar, as 0xRRGGBBAA.
    const auto shown = [&](VC_NewMessage& screen) {
        std::vector<uint32_t> out;
        const auto items = screen.pictureBar()->items();
        for (size_t i = 1; i + 1 < items.size(); ++i) {
            const auto& image = items[i]->image;
            if (!image || !image->bitmap()) {
                out.push_back(0);
                continue;
            }
            const auto& b = *image->bitmap();
            out.push_back(hxtest::rgbaWord(b.rgbaAt(b.width() / 2, b.height() / 2)));
        }
        return out;
    };
    auto* s = open("+15550103000");
    ASSERT_TRUE(s->picturesOffered());
    ASSERT_TRUE(s->addPicture(still(0xff0000ffu)));
    s->updateImagePreviews();
    auto items = s->pictureBar()->items();
    ASSERT_EQ(items.size(), 3u);  // camera, the picture, a flexible space
    EXPECT_EQ(items[1]->accessibilityLabel, "Image Attachment");
    EXPECT_EQ(items[1]->accessibilityHint, "Tap to remove");
    EXPECT_EQ(s->message().inputAccessory, s->pictureBar()) << "the bar stands above the keyboard";
    ASSERT_TRUE(s->addPicture(still(0x00ff00ffu)));
    ASSERT_TRUE(s->addPicture(still(0x0000ffffu)));
    s->updateImagePreviews();
    items = s->pictureBar()->items();
    ASSERT_EQ(items.size(), 5u);
    for (size_t i = 1; i <= 3; ++i)
        EXPECT_EQ(items[i]->accessibilityLabel, "Image Attachment (" + std::to_string(i) + " of 3)");
    // Each thumbnail shows its own picture, drawn in its own colours, in the order added.
    EXPECT_EQ(shown(*s), (std::vector<uint32_t>{0xff0000ffu, 0x00ff00ffu, 0x0000ffffu}));
    const auto first = s->images()[0].still, third = s->images()[2].still;
    ASSERT_TRUE(items[2]->tap());
    ASSERT_EQ(s->images().size(), 2u);
    EXPECT_EQ(s->images()[0].still, first);
    EXPECT_EQ(s->images()[1].still, third);
    EXPECT_EQ(s->pictureBar()->items().size(), 4u);
    EXPECT_EQ(shown(*s), (std::vector<uint32_t>{0xff0000ffu, 0x0000ffffu})) << "the green one went";
}

TEST_F(Pictures, TheSourcesFollowTheDeviceAndTheUsersAnswers) {
    using services::CaptureAuthorizationStatus;
    using services::PhotoAuthorizationStatus;
    auto* s = open("+15550103000");
    // No camera and nothing on the clipboard: straight to the library.
    services::CaptureDevice::setCameraAvailable(false);
    services::PhotoLibrary::setAuthorizationStatus(PhotoAuthorizationStatus::Authorized);
    s->cameraButtonPressed();
    harness.settle();
    ASSERT_NE(picker(), nullptr);
    EXPECT_EQ(picker()->sourceType, system_screens::ImagePickerSourceType::PhotoLibrary);
    ASSERT_TRUE(picker()->cancel());
    harness.settle();
    EXPECT_EQ(picker(), nullptr);
    // Asked for the first time: a refusal (or a restricted library) opens nothing.
    for (auto answer : {PhotoAuthorizationStatus::Denied, PhotoAuthorizationStatus::Restricted}) {
        services::PhotoLibrary::reset();
        services::PhotoLibrary::setAnswerToAccessRequest(answer);
        s->authorizeAndShowLibraryImagePicker();
        ASSERT_TRUE(runUntil([&] { return services::PhotoLibrary::authorizationStatus() == answer; }));
        harness.advance(0.2);
        EXPECT_EQ(picker(), nullptr);
    }
    // Refused before: the alert, with Settings preferred.
    services::PhotoLibrary::setAuthorizationStatus(PhotoAuthorizationStatus::Denied);
    s->authorizeAndShowLibraryImagePicker();
    ASSERT_EQ(alertsTitled("Unable to access the Photo Library"), 1u);
    const auto alert = app->shell().alerts().back();
    EXPECT_EQ(alert.message,
              "To enable access, go to Settings > Privacy > Photos and allow 'Read and Write' access for HX Connect.");
    ASSERT_EQ(alert.actions.size(), 2u);
    EXPECT_EQ(alert.actions[0].title, "Cancel");
    EXPECT_EQ(alert.preferredAction, std::optional<size_t>(1));
    ASSERT_TRUE(harness.tapAlertAction("Cancel"));
    harness.settle();
    // With a camera and a clipboard picture the sheet offers all three.
    services::CaptureDevice::setCameraAvailable(true);
    toolkit::Pasteboard::general().setData(hxtest::pngOf(2, 2, 0x000000ffu), "public.png");
    s->cameraButtonPressed();
    harness.settle();
    auto* sheet = harness.visibleAlert();
    ASSERT_NE(sheet, nullptr);
    std::vector<std::string> titles;
    for (const auto& a : sheet->actions()) titles.push_back(a->title());
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Cancel", "Clipboard Image", "Take Photo\u2026", "Choose from Library\u2026"}));
    ASSERT_TRUE(harness.tapAlertAction("Clipboard Image"));
    harness.settle();
    EXPECT_EQ(s->images().size(), 1u);
    // The camera: a first grant opens it and the shot is attached; a refusal shows the alert.
    services::CaptureDevice::setAnswerToAccessRequest(true);
    s->authorizeAndShowCamera();
    ASSERT_TRUE(runUntil([&] { return picker() != nullptr; }));
    EXPECT_EQ(picker()->sourceType, system_screens::ImagePickerSourceType::Camera);
    EXPECT_FALSE(picker()->pickAsset("assets-library://x")) << "a camera takes pictures only";
    ASSERT_TRUE(picker()->takePicture(still(0x336699ffu).still));
    harness.settle();
    EXPECT_EQ(s->images().size(), 2u);
    services::CaptureDevice::setAuthorizationStatus(CaptureAuthorizationStatus::Denied);
    s->authorizeAndShowCamera();
    EXPECT_EQ(alertsTitled("Unable to access the Camera"), 1u);
}

TEST_F(Pictures, DroppedPicturesAreAttachedWithoutASizeTest) {
    auto* s = open("+15550103000");
    toolkit::DragSession session;
    session.items.push_back(std::make_shared<toolkit::DragItem>(
        toolkit::ItemProvider::withData(hxtest::pngOf(3, 3, 0x00ff00ffu), "public.png")));
    session.items.push_back(std::make_shared<toolkit::DragItem>(
        toolkit::ItemProvider::withData(hxtest::pngOf(5, 5, 0x0000ffffu), "public.png")));
    auto centre = s->view()->convertPointTo({160, 300}, nullptr);
    EXPECT_EQ(harness.drop(session, centre), toolkit::DropOperation::Copy);
    harness.advance(0.1);
    EXPECT_EQ(s->images().size(), 2u);
}

TEST_F(Pictures, ASignedOutAccountOffersNoPictures) {
    app->account()->setAuthV2(std::nullopt);
    auto* s = open("+15550103000");
    EXPECT_FALSE(s->picturesOffered());
    EXPECT_EQ(s->message().inputAccessory, nullptr);
    EXPECT_FALSE(s->addPicture(still(0xff0000ffu)));
}

TEST_F(Pictures, ThreePicturesAreThreeUploadsWithTheTextInTheFirst) {
    const foundation::Data gif = hxtest::gifOfSize(5000);
    auto* s = open("+15550103000", "Look");
    ASSERT_TRUE(s->addPicture(still(0xff0000ffu)));
    ASSERT_TRUE(s->addPicture(HXMMSImage{graphics::HXCAnimatedImage::animatedImageWithGIFData(gif), nullptr}));
    ASSERT_TRUE(s->addPicture(still(0x0000ffffu)));
    s->updateImagePreviews();
    ASSERT_TRUE(s->sendButton()->tap());
    const bool closed = runUntil([&] { return screen() == nullptr; });
    const auto got = received();
    for (const auto& a : app->shell().alerts()) ADD_FAILURE() << a.title << ": " << a.message;
    ASSERT_TRUE(closed);
    ASSERT_EQ(got.size(), 3u);
    size_t withText = 0, gifs = 0;
    for (const auto& m : got) {
        withText += !m.text.empty();
        if (!m.text.empty()) {
            // The uploads arrive in any order: the text's picture, as the service keeps it, is
            // the first one attached (the red one; the third is blue).
            EXPECT_EQ(m.text, "Look");
            const std::string bytes = service->withAccount([&](emulator::Account& a) {
                auto it = a.media.find("imgs" + std::to_string(m.randomId));
                return it == a.media.end() ? std::string() : it->second.bytes;
            });
            auto image = graphics::Image::fromEncoded(foundation::Data(bytes.begin(), bytes.end()));
            ASSERT_TRUE(image.ok());
            ASSERT_TRUE(image.value()->bitmap());
            const auto& b = *image.value()->bitmap();
            const auto centre = b.rgbaAt(b.width() / 2, b.height() / 2);
            EXPECT_GT(centre[0], 200) << "red";
            EXPECT_LT(centre[2], 60) << "not blue";
        }
        if (m.imageType == 4) {
            ++gifs;
            EXPECT_EQ(m.attachmentBytes, gif.size()) << "the GIF goes as it is";
        } else {
            EXPECT_EQ(m.imageType, 1);
        }
        EXPECT_EQ(m.targets, (std::vector<std::string>{"+15550103000"}));
    }
    EXPECT_EQ(withText, 1u);
    EXPECT_EQ(gifs, 1u);
    // What the service keeps of the GIF is byte for byte the file attached.
    const auto kept = service->withAccount([](emulator::Account& a) {
        std::vector<std::string> gifsKept;
        for (const auto& [id, media] : a.media)
            if (media.mimeType == "image/gif" && id.rfind("imgs", 0) == 0) gifsKept.push_back(media.bytes);
        return gifsKept;
    });
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], std::string(gif.begin(), gif.end()));
}

TEST_F(Pictures, ADroppedUploadFreesSendAndKeepsThePictures) {
    auto* s = open("+15550103000", "Two");
    ASSERT_TRUE(s->addPicture(still(0xff0000ffu)));
    ASSERT_TRUE(s->addPicture(still(0x00ff00ffu)));
    s->updateImagePreviews();
    service->inject(emulator::Fault::Drop, kSend);
    ASSERT_TRUE(s->sendButton()->tap());
    ASSERT_TRUE(runUntil([&] { return !s->isSending(); }));
    harness.settle();
    ASSERT_EQ(screen(), s);
    EXPECT_EQ(s->images().size(), 2u) << "a failed send keeps its pictures";
    EXPECT_FALSE(app->loadingOverlayShown());
    if (harness.visibleAlert()) harness.tapAlertAction("Dismiss");
    const size_t before = received().size();
    ASSERT_TRUE(s->sendButton()->tap());
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
    EXPECT_EQ(received().size(), before + 2);
}

TEST_F(Pictures, WithoutAnAccessTokenTheSendEndsAndTheNextOneGoesOut) {
    auto* s = open("+15550103000", "Token");
    ASSERT_TRUE(s->addPicture(still(0xff0000ffu)));
    s->updateImagePreviews();
    app->account()->setOAuthDict(std::nullopt);
    ASSERT_TRUE(s->sendButton()->tap());
    harness.settle();
    EXPECT_FALSE(s->isSending()) << "no upload could start: Send works again";
    EXPECT_FALSE(app->loadingOverlayShown());
    ASSERT_EQ(screen(), s);
    EXPECT_EQ(s->images().size(), 1u);
    // The token the send asked for arrives; the next Send goes out once.
    ASSERT_TRUE(runUntil([&] { return app->retrieveOAuth().has_value(); }));
    ASSERT_TRUE(s->sendButton()->tap());
    ASSERT_TRUE(runUntil([&] { return screen() == nullptr; }));
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(Pictures, TheLibraryTakesTheCardsPlaceAndAPickReturnsToTheMessage) {
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    services::CaptureDevice::setCameraAvailable(false);
    (void)asset(hxtest::pngOf(40, 30, 0x00c000ffu), "public.png");
    TimedAnimations timed;  // presentations take their time, as on the device
    auto* s = open("+15550103000");
    harness.advance(1);
    ASSERT_NE(s, nullptr);
    auto& window = harness.window();
    toolkit::View& card = *s->navigationController()->view();
    const toolkit::Rect cardFrame = card.frame();
    ASSERT_GT(cardFrame.minY(), 0) << "a card below the status bar";
    // A point in the card's rounded top corner, where the screen behind shows.
    const int cornerX = static_cast<int>(cardFrame.minX()) + 1, cornerY = static_cast<int>(cardFrame.minY()) + 1;
    const auto behindCorner = toolkit::snapshot(window, 1)->rgbaAt(cornerX, cornerY);

    // Shown in the card: the same frame and outline, its pictures reached by touches inside it.
    s->cameraButtonPressed();
    harness.advance(1);
    ASSERT_NE(picker(), nullptr);
    EXPECT_EQ(picker()->view()->convertRectTo(picker()->view()->bounds(), nullptr), cardFrame);
    EXPECT_EQ(toolkit::snapshot(window, 1)->rgbaAt(cornerX, cornerY), behindCorner);
    auto* photo = toolkit::testing::findVisible(window, "Photo 1");
    ASSERT_NE(photo, nullptr) << toolkit::outline(window);
    EXPECT_TRUE(cardFrame.contains(photo->convertPointTo({photo->bounds().midX(), photo->bounds().midY()}, nullptr)));
    ASSERT_TRUE(picker()->cancel());
    harness.advance(1);
    EXPECT_EQ(picker(), nullptr);
    EXPECT_EQ(card.window(), &window);
    EXPECT_EQ(card.frame(), cardFrame) << "the card comes back where it was";

    // A picture tapped while the picker still rises: the message stays, the picture in its strip.
    s->cameraButtonPressed();
    harness.settle();
    ASSERT_NE(picker(), nullptr);
    ASSERT_TRUE(picker()->isBeingPresented());
    photo = toolkit::testing::findVisible(window, "Photo 1");
    ASSERT_NE(photo, nullptr) << toolkit::outline(window);
    ASSERT_TRUE(harness.tap(*photo));
    harness.advance(1);
    EXPECT_EQ(picker(), nullptr);
    ASSERT_EQ(screen(), s) << "the new message is still presented";
    EXPECT_EQ(card.window(), &window) << toolkit::outline(window);
    EXPECT_EQ(card.frame(), cardFrame);
    ASSERT_EQ(s->images().size(), 1u);
    ASSERT_TRUE(s->pictureBar());
    EXPECT_EQ(s->pictureBar()->items().size(), 3u) << "camera, the picture, a flexible space";
    EXPECT_EQ(s->message().inputAccessory, s->pictureBar());
}

// Frame by frame, from a pick in the library to the picker's last frame: wherever the leaving
// picker and the keyboard (with the picture strip on it) meet, the window shows the picker, as it
// did while the picker rose; and it leaves the way it came, sliding down.
TEST_F(Pictures, ThePickerLeavesAboveTheKeyboardAndTheStripAsItCame) {
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    services::CaptureDevice::setCameraAvailable(false);
    (void)asset(hxtest::pngOf(40, 30, 0x00c000ffu), "public.png");
    TimedAnimations timed;
    auto* s = open("+15550103000");
    harness.advance(1);
    ASSERT_NE(s, nullptr);
    auto& window = harness.window();
    ASSERT_TRUE(toolkit::Keyboard::shared().isVisible()) << "the message has the keyboard";

    // Where picker and keyboard overlap on screen, the window's pixels are the picker's own.
    struct Frame {
        int overlapping = 0, overdrawn = 0;
        std::vector<double> tops;
    };
    auto look = [&](system_screens::ImagePickerController& p, Frame& f) {
        auto* pv = p.view().get();
        auto keys = toolkit::Keyboard::shared().view();
        if (!pv->window()) return;
        // Where it shows now: its place in the window moved as its presentation moves it.
        const toolkit::Point shown = toolkit::presentedCenter(*pv), model = pv->center();
        const toolkit::Rect on =
            pv->convertRectTo(pv->bounds(), nullptr).offsetBy(shown.x - model.x, shown.y - model.y);
        f.tops.push_back(on.minY());
        if (!keys || !keys->window()) return;
        const toolkit::Rect meet = on.intersection(keys->frame());
        if (meet.width() < 4 || meet.height() < 4) return;
        ++f.overlapping;
        const auto whole = toolkit::snapshot(window, 1);
        const auto alone = toolkit::snapshot(*pv, 1);
        int differ = 0, seen = 0;
        for (int y = static_cast<int>(meet.minY()) + 1; y < static_cast<int>(meet.maxY()) - 1; y += 3)
            for (int x = static_cast<int>(meet.minX()) + 1; x < static_cast<int>(meet.maxX()) - 1; x += 3) {
                const auto a = whole->rgbaAt(x, y);
                const auto b = alone->rgbaAt(x - static_cast<int>(on.minX()), y - static_cast<int>(on.minY()));
                bool same = true;
                for (int i = 0; i < 3; ++i) same = same && std::abs(int(a[i]) - int(b[i])) <= 8;
                differ += !same;
                ++seen;
            }
        f.overdrawn += differ * 50 > seen;  // more than 2 % of the shared part
    };

    s->cameraButtonPressed();
    harness.settle();
    ASSERT_NE(picker(), nullptr);
    auto coming = picker()->selfPtr();
    auto* came = dynamic_cast<system_screens::ImagePickerController*>(coming.get());
    Frame rising;
    for (int i = 0; i < 60 && came->isBeingPresented(); ++i) {
        look(*came, rising);
        harness.advance(1.0 / 60);
    }
    EXPECT_EQ(rising.overdrawn, 0) << "the picker rises above the keyboard";

    auto* photo = toolkit::testing::findVisible(window, "Photo 1");
    ASSERT_NE(photo, nullptr) << toolkit::outline(window);
    ASSERT_TRUE(harness.tap(*photo));
    Frame leaving;
    for (int i = 0; i < 60 && came->view()->window(); ++i) {
        look(*came, leaving);
        harness.advance(1.0 / 60);
    }
    EXPECT_EQ(came->view()->window(), nullptr) << "the picker is gone";
    EXPECT_EQ(leaving.overdrawn, 0) << leaving.overlapping << " frames overlap the keyboard";
    ASSERT_GE(leaving.tops.size(), 3u);
    EXPECT_GT(leaving.tops[leaving.tops.size() - 2], leaving.tops.front() + 100) << "it slides down";
    ASSERT_EQ(s->images().size(), 1u);
    EXPECT_EQ(s->message().inputAccessory, s->pictureBar());
    EXPECT_TRUE(s->message().isFirstResponder());
    EXPECT_TRUE(toolkit::Keyboard::shared().isVisible());
}
