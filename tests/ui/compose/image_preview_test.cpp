// The full-screen picture on the virtual clock: the spinner until its own download announces the
// picture (another attachment's does not fill it), the flick that closes it only past 200 points at
// zoom 1, the double tap between 1 and 5, a GIF's single tap that pauses and resumes it (but not
// as the first of a double tap), centring, and what its share sheet shares.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/notification_center.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "ui/compose/image_preview_animation_controller.h"
#include "ui/compose/vc_image_preview.h"
#include "ui/widgets/hxc_animated_image_view.h"

namespace {

using toolkit::Point;

std::shared_ptr<graphics::Bitmap> filled(int w, int h, uint32_t rgba) {
    auto bitmap = graphics::Bitmap::make(w, h).value();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bitmap->setRGBA(x, y, static_cast<uint8_t>(rgba >> 24), static_cast<uint8_t>(rgba >> 16),
                            static_cast<uint8_t>(rgba >> 8), static_cast<uint8_t>(rgba));
    return bitmap;
}

foundation::Data jpeg(int w = 120, int h = 80) { return graphics::encodeJPEG(*filled(w, h, 0x3366ccff), 0.9).value(); }

foundation::Data gif() {
    return graphics::encodeGIF({filled(40, 30, 0xff0000ff), filled(40, 30, 0x00ff00ff)}, 0.1).value();
}

struct ImagePreview : ::testing::Test {
    toolkit::testing::Harness harness;
    std::shared_ptr<toolkit::ViewController> root = std::make_shared<toolkit::ViewController>();
    std::shared_ptr<VC_ImagePreview> preview;

    void SetUp() override { harness.setRoot(root); }
    void TearDown() override { foundation::NotificationCenter::defaultCenter().removeObserver(this); }
    VC_ImagePreview& show(const std::string& mediaID, const foundation::Data& picture = {}) {
        preview = std::make_shared<VC_ImagePreview>(VC_ImagePreview::Roles{}, mediaID);
        if (!picture.empty()) preview->setPictureData(picture);
        auto nav = std::make_shared<toolkit::NavigationController>(preview);
        nav->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
        root->present(nav, false);
        harness.settle();
        return *preview;
    }
    void announce(const std::string& id, const foundation::Data& picture) {
        foundation::Dictionary info{{"id", id}};
        if (!picture.empty()) info.set("image", foundation::Value(picture));
        foundation::NotificationCenter::defaultCenter().post(VC_ImagePreview::kDownloadComplete, nullptr, info);
        harness.settle();
    }
    Point centre() const {
        const auto frame = preview->view()->convertRectTo(preview->view()->bounds(), nullptr);
        return {frame.midX(), frame.midY()};
    }
    bool shown() const { return root->presentedViewController() != nullptr; }
};

}  // namespace

TEST_F(ImagePreview, OpenedWithoutAPictureWaitsForItsOwnDownload) {
    auto& p = show("img-a");
    EXPECT_FALSE(p.hasPicture());
    auto* spinner = p.view()->viewWithTag(VC_ImagePreview::kLoadingTag);
    ASSERT_NE(spinner, nullptr);
    EXPECT_FALSE(p.hasGestures());
    EXPECT_TRUE(p.navigationItem().leftBarButtonItem()) << "the close button from the start";
    EXPECT_FALSE(p.navigationItem().rightBarButtonItem()) << "nothing to share yet";

    // Another attachment's picture, finished first, is not this preview's.
    announce("img-b", jpeg(60, 40));
    EXPECT_FALSE(p.hasPicture());
    EXPECT_NE(p.view()->viewWithTag(VC_ImagePreview::kLoadingTag), nullptr);

    announce("img-a", jpeg());
    ASSERT_TRUE(p.image());
    EXPECT_EQ(p.image()->width(), 120);
    EXPECT_EQ(p.view()->viewWithTag(VC_ImagePreview::kLoadingTag), nullptr);
    EXPECT_TRUE(p.hasGestures());
    EXPECT_TRUE(p.navigationItem().rightBarButtonItem());

    // The observation ended with the picture: a later one changes nothing.
    announce("img-a", jpeg(10, 10));
    EXPECT_EQ(p.image()->width(), 120);
}

TEST_F(ImagePreview, ItsOwnAnnouncementWithoutAPictureOnlyEndsTheWait) {
    auto& p = show("img-a");
    announce("img-a", {});
    EXPECT_FALSE(p.hasPicture());
    EXPECT_NE(p.view()->viewWithTag(VC_ImagePreview::kLoadingTag), nullptr);
    announce("img-a", jpeg());
    EXPECT_FALSE(p.hasPicture()) << "no longer listening";
}

TEST_F(ImagePreview, AFlickClosesOnlyPastTwoHundredPointsAtZoomOne) {
    struct Case {
        double dx, dy, zoom;
        bool closes;
    };
    const Case cases[] = {{200, 0, 1, false},  {201, 0, 1, true},  {0, -201, 1, true},    {120, 160, 1, false},
                          {120, 161, 1, true}, {300, 0, 2, false}, {300, 0, 0.999, false}};
    for (const auto& c : cases)
        EXPECT_EQ(VC_ImagePreview::flickDismisses(c.dx, c.dy, c.zoom), c.closes)
            << c.dx << "," << c.dy << "@" << c.zoom;

    // The same with the finger, on the clock.
    for (const auto& [distance, closes] : {std::pair{200.0, false}, std::pair{201.0, true}}) {
        SCOPED_TRACE(distance);
        show("img-a", jpeg());
        const Point from{60, 200};
        harness.swipe(from, {from.x + distance, from.y}, 1, 8);
        harness.settle();
        harness.advance(1);
        EXPECT_EQ(shown(), !closes);
        if (shown()) {
            root->dismiss(false);
            harness.settle();
        }
    }
}

TEST_F(ImagePreview, ADoubleTapZoomsToFiveAndBack) {
    auto& p = show("img-a", jpeg());
    EXPECT_EQ(p.scrollView().zoomScale(), 1);
    harness.tap(centre(), 2);
    harness.advance(1);
    EXPECT_EQ(p.scrollView().zoomScale(), VC_ImagePreview::kMaximumZoom);
    harness.tap(centre(), 2);
    harness.advance(1);
    EXPECT_EQ(p.scrollView().zoomScale(), 1);
    // Zoomed in, no flick closes.
    harness.tap(centre(), 2);
    harness.advance(1);
    harness.swipe({60, 200}, {360, 200}, 1, 8);
    harness.advance(1);
    EXPECT_TRUE(shown());
}

TEST_F(ImagePreview, AGIFsSingleTapPausesAndResumesButADoubleTapDoesNot) {
    auto& still = show("img-a", jpeg());
    EXPECT_EQ(still.singleTapRecognizer(), nullptr) << "a still picture has nothing to pause";
    root->dismiss(false);
    harness.settle();

    auto& p = show("img-g", gif());
    ASSERT_TRUE(p.animatedImage());
    ASSERT_NE(p.singleTapRecognizer(), nullptr);
    EXPECT_TRUE(p.imageView().isAnimating()) << "plays once the preview has appeared";
    harness.tap(centre());
    harness.advance(0.5);
    EXPECT_FALSE(p.imageView().isAnimating());
    harness.tap(centre());
    harness.advance(0.5);
    EXPECT_TRUE(p.imageView().isAnimating());
    harness.tap(centre(), 2);
    harness.advance(0.5);
    EXPECT_TRUE(p.imageView().isAnimating()) << "the double tap zooms and leaves the animation alone";
    EXPECT_EQ(p.scrollView().zoomScale(), VC_ImagePreview::kMaximumZoom);
}

TEST_F(ImagePreview, APictureSmallerThanTheScreenStaysCentred) {
    auto& p = show("img-a", jpeg());
    auto& scroll = p.scrollView();
    struct Case {
        toolkit::Size picture;
        toolkit::EdgeInsets inset;
    };
    const toolkit::Size bounds = scroll.bounds().size;
    const Case cases[] = {
        {{bounds.width - 100, bounds.height - 60}, {30, 50, 30, 50}},
        {{bounds.width + 100, bounds.height - 60}, {30, 0, 30, 0}},
        {{bounds.width - 100, bounds.height + 60}, {0, 50, 0, 50}},
    };
    for (const auto& c : cases) {
        scroll.setContentInset({});
        p.imageView().setFrame({0, 0, c.picture.width, c.picture.height});
        p.scrollViewDidZoom(scroll);
        EXPECT_EQ(scroll.contentInset(), c.inset) << c.picture.width << "x" << c.picture.height;
    }
    // Smaller both ways: the offset follows the insets.
    p.imageView().setFrame({0, 0, bounds.width - 100, bounds.height - 60});
    p.scrollViewDidZoom(scroll);
    EXPECT_EQ(scroll.contentOffset(), (Point{-50, -30}));
}

TEST_F(ImagePreview, AGIFIsSharedAsItsBytesAndAStillPictureAsAPicture) {
    system_screens::ActivityViewController sheet({});
    auto& g = show("img-g", gif());
    const auto shared =
        g.activityViewControllerItemForActivityType(sheet, system_screens::kActivityTypeCopyToPasteboard);
    EXPECT_EQ(shared.kind, system_screens::ActivityItem::Kind::Data);
    EXPECT_EQ(shared.data, gif());
    auto metadata = g.activityViewControllerLinkMetadata(sheet);
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->title, "Image Attachment");
    ASSERT_TRUE(metadata->imageProvider());
    EXPECT_EQ(metadata->imageProvider()->width(), 40);
    root->dismiss(false);
    harness.settle();

    auto& j = show("img-j", jpeg());
    const auto picture = j.activityViewControllerPlaceholderItem(sheet);
    EXPECT_EQ(picture.kind, system_screens::ActivityItem::Kind::Image);
    ASSERT_TRUE(picture.image);
    EXPECT_EQ(picture.image->width(), 120);
}

TEST_F(ImagePreview, TheSpringGrowsFromTheTappedPointAndHidesTheStatusBar) {
    VC_ImagePreview::setStatusBarHidden(false);
    auto transitions = std::make_shared<ImagePreview_Transitions>([] { return Point{40, 300}; });
    preview = std::make_shared<VC_ImagePreview>(VC_ImagePreview::Roles{}, "img-a");
    preview->setPictureData(jpeg());
    auto nav = hxImagePreviewNavigation(preview, transitions);
    EXPECT_EQ(nav->modalPresentationStyle, toolkit::ModalPresentationStyle::OverFullScreen);
    EXPECT_TRUE(nav->navigationBar().isTranslucent());
    root->present(nav, true);
    harness.advance(ImagePreview_AnimationController::kDuration + 0.1);
    EXPECT_TRUE(VC_ImagePreview::statusBarHidden());
    EXPECT_TRUE(preview->prefersStatusBarHidden());
    EXPECT_FALSE(nav->view()->isHidden()) << "the real view is back once the spring has ended";
    root->dismiss(true);
    harness.advance(ImagePreview_AnimationController::kDuration + 0.1);
    EXPECT_FALSE(VC_ImagePreview::statusBarHidden());
    EXPECT_FALSE(shown());
}
