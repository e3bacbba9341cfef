// The picture tray in both of the shapes the screens give it (its strip led by a camera button, or
// pictures only): an animated GIF over the limit refused with the system's alert from the clipboard
// and from the picker (which stays open), paste and drop adding to the one list in order, the
// strip's thumbnails numbered and a tap removing exactly that picture, and the strip with nothing
// but its leading item once the last picture goes.
#include <gtest/gtest.h>

#include "platform/foundation/files.h"
#include "platform/graphics/animated_image.h"
#include "platform/services/photos.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include "ui/widgets/picture_tray.h"

namespace {

struct Shape {
    const char* name;
    bool camera;  // the strip starts with a camera button
    toolkit::ModalPresentationStyle pickerStyle;
};

struct Tray {
    toolkit::testing::Harness harness{toolkit::ScreenProfile::iPhone8()};
    std::shared_ptr<toolkit::ViewController> screen = std::make_shared<toolkit::ViewController>();
    std::vector<HXAlert> alerts;
    int changes = 0;
    std::shared_ptr<HXPictureTray> tray;

    explicit Tray(const Shape& shape) {
        harness.setRoot(screen);
        HXPictureTray::Setup setup;
        setup.screen = screen;
        setup.presentAlert = [this](const HXAlert& alert) { alerts.push_back(alert); };
        // As a screen does: a change rebuilds the strip.
        setup.changed = [this] {
            ++changes;
            tray->rebuildStrip();
        };
        if (shape.camera)
            setup.leadingItem = [] {
                return toolkit::BarButtonItem::withCustomView(
                    std::make_shared<toolkit::Button>(toolkit::ButtonType::System));
            };
        setup.pickerStyle = shape.pickerStyle;
        tray = HXPictureTray::make(std::move(setup));
        screen->view()->addInteraction(std::make_shared<toolkit::DropInteraction>(tray));
        harness.settle();
    }
    system_screens::ImagePickerController* picker() {
        return dynamic_cast<system_screens::ImagePickerController*>(screen->presentedViewController());
    }
    // The accessibility labels of the strip's thumbnails (the leading item and the space left out).
    std::vector<std::string> thumbnails(bool camera) const {
        std::vector<std::string> out;
        if (!tray->strip()) return out;
        const auto& items = tray->strip()->items();
        for (size_t i = camera ? 1 : 0; i + 1 < items.size(); ++i) out.push_back(items[i]->accessibilityLabel);
        return out;
    }
};

}  // namespace

TEST(PictureTray, TheGIFLimitPasteDropAndRemovalKeepOneListInBothShapes) {
    hxtest::TempDir home;
    foundation::setHomeDirectory(home.path());
    for (const Shape& shape : {Shape{"led by a camera button", true, toolkit::ModalPresentationStyle::CurrentContext},
                               Shape{"pictures only", false, toolkit::ModalPresentationStyle::FormSheet}}) {
        SCOPED_TRACE(shape.name);
        services::PhotoLibrary::reset();
        services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
        auto& pasteboard = toolkit::Pasteboard::general();
        pasteboard.clear();
        Tray t(shape);

        // The clipboard's GIF one byte over the limit: the system's alert, nothing added.
        pasteboard.setData(hxtest::gifOfSize(2'000'001), "com.compuserve.gif");
        EXPECT_FALSE(HXPictureTray::canPaste(false)) << "only while the field has the focus";
        ASSERT_TRUE(HXPictureTray::canPaste(true));
        t.tray->paste();
        ASSERT_EQ(t.alerts.size(), 1u);
        EXPECT_EQ(t.alerts[0].title, "Image too Large");
        EXPECT_EQ(t.alerts[0].message, "The selected animated GIF is larger than the maximum size allowed by HX Voice");
        ASSERT_EQ(t.alerts[0].actions.size(), 1u);
        EXPECT_EQ(t.alerts[0].actions[0].title, "Dismiss");
        EXPECT_TRUE(t.tray->pictures().empty());
        EXPECT_EQ(t.changes, 1) << "the strip is rebuilt either way";

        // From the library: over the limit the picker stays open; at the limit it closes.
        auto over = services::PhotoLibrary::addAsset(hxtest::gifOfSize(2'000'001), "com.compuserve.gif");
        auto fits = services::PhotoLibrary::addAsset(hxtest::gifOfSize(2'000'000), "com.compuserve.gif");
        ASSERT_TRUE(over.ok() && fits.ok());
        t.tray->authorizeLibrary();
        t.harness.settle();
        ASSERT_NE(t.picker(), nullptr);
        EXPECT_EQ(t.picker()->modalPresentationStyle, shape.pickerStyle);
        ASSERT_TRUE(t.picker()->pickAsset(over.value()));
        t.harness.settle();
        EXPECT_EQ(t.alerts.size(), 2u);
        ASSERT_NE(t.picker(), nullptr) << "the picker stays open for another choice";
        ASSERT_TRUE(t.picker()->pickAsset(fits.value()));
        t.harness.settle();
        EXPECT_EQ(t.picker(), nullptr);
        ASSERT_EQ(t.tray->pictures().size(), 1u);
        ASSERT_NE(t.tray->pictures()[0].animated, nullptr);

        // A still from the clipboard, then two dropped ones: all in the one list, in order.
        pasteboard.setData(hxtest::pngOf(4, 4, 0xff0000ffu), "public.png");
        t.tray->paste();
        toolkit::DragSession session;
        for (uint32_t colour : {0x00ff00ffu, 0x0000ffffu})
            session.items.push_back(std::make_shared<toolkit::DragItem>(
                toolkit::ItemProvider::withData(hxtest::pngOf(3, 3, colour), "public.png")));
        EXPECT_EQ(t.harness.drop(session, t.screen->view()->convertPointTo({160, 300}, nullptr)),
                  toolkit::DropOperation::Copy);
        t.harness.advance(0.1);
        ASSERT_EQ(t.tray->pictures().size(), 4u);
        EXPECT_EQ(t.alerts.size(), 2u);
        EXPECT_EQ(t.thumbnails(shape.camera),
                  (std::vector<std::string>{"Image Attachment (1 of 4)", "Image Attachment (2 of 4)",
                                            "Image Attachment (3 of 4)", "Image Attachment (4 of 4)"}));

        // A tap on the third thumbnail removes the first dropped picture, nothing else.
        const auto pasted = t.tray->pictures()[1].still, lastDropped = t.tray->pictures()[3].still;
        const auto& items = t.tray->strip()->items();
        ASSERT_TRUE(items[(shape.camera ? 1 : 0) + 2]->tap());
        ASSERT_EQ(t.tray->pictures().size(), 3u);
        EXPECT_NE(t.tray->pictures()[0].animated, nullptr);
        EXPECT_EQ(t.tray->pictures()[1].still, pasted);
        EXPECT_EQ(t.tray->pictures()[2].still, lastDropped);
        EXPECT_EQ(t.thumbnails(shape.camera).size(), 3u);

        // The last pictures go: a camera button's strip stays with it alone, else no strip.
        for (size_t left = 3; left > 0; --left) {
            ASSERT_TRUE(t.tray->strip()->items()[shape.camera ? 1 : 0]->tap());
            ASSERT_EQ(t.tray->pictures().size(), left - 1);
        }
        if (shape.camera) {
            ASSERT_NE(t.tray->strip(), nullptr);
            EXPECT_EQ(t.tray->strip()->items().size(), 2u);  // the camera button and the space
        } else {
            EXPECT_EQ(t.tray->strip(), nullptr);
        }
        pasteboard.clear();
    }
    services::PhotoLibrary::reset();
}
