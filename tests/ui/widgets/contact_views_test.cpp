// The contact picture and add-contact button dim with the tint (and the picture that opens a
// contact drops its ring while dimmed); the shared placeholder picture is one template image per
// process until a memory warning releases it.
#include <gtest/gtest.h>

#include <thread>

#include "ui/widgets/default_contact_image.h"
#include "ui/widgets/hx_contact_image_view.h"

using namespace toolkit;

TEST(HX_ContactImageView, DimsWithAnyAncestorAndDropsItsRingOnlyWhenItTakesTouches) {
    auto sheet = std::make_shared<View>(Rect(0, 0, 100, 100));
    auto row = std::make_shared<View>(Rect(0, 0, 100, 50));
    auto picture = std::make_shared<HX_ContactImageView>();
    auto button = std::make_shared<HX_AddContactButton>();
    sheet->addSubview(row);
    row->addSubview(picture);
    row->addSubview(button);
    picture->layer().borderColor = Color::black();

    // Not taking touches: only the alpha follows the tint.
    sheet->setTintAdjustmentMode(TintAdjustmentMode::Dimmed);
    EXPECT_EQ(picture->alpha(), 0.5);
    EXPECT_EQ(button->alpha(), 0.5);
    EXPECT_EQ(picture->layer().borderColor, Color::black());
    sheet->setTintAdjustmentMode(TintAdjustmentMode::Normal);
    EXPECT_EQ(picture->alpha(), 1.0);
    EXPECT_EQ(button->alpha(), 1.0);
    EXPECT_EQ(picture->layer().borderColor, Color::black());

    // A picture that opens the contact: its ring goes clear while dimmed and blue again after.
    picture->setUserInteractionEnabled(true);
    row->setTintAdjustmentMode(TintAdjustmentMode::Dimmed);
    EXPECT_EQ(picture->alpha(), 0.5);
    EXPECT_EQ(picture->layer().borderColor, Color::clear());
    // Still dimmed while an outer view dims, even when the nearer one stops.
    sheet->setTintAdjustmentMode(TintAdjustmentMode::Dimmed);
    row->setTintAdjustmentMode(TintAdjustmentMode::Normal);
    EXPECT_EQ(picture->alpha(), 0.5);
    EXPECT_EQ(picture->layer().borderColor, Color::clear());
    sheet->setTintAdjustmentMode(TintAdjustmentMode::Normal);
    EXPECT_EQ(picture->alpha(), 1.0);
    EXPECT_EQ(picture->layer().borderColor, Color::systemBlue());
    EXPECT_EQ(button->alpha(), 1.0);
}

TEST(DefaultContactImage, OneTemplateImageForEveryCallerUntilReleased) {
    releaseDefaultContactImage();
    std::vector<graphics::ImagePtr> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = defaultContactImage(); });
    for (auto& t : threads) t.join();
    ASSERT_TRUE(seen[0]);
    for (const auto& image : seen) EXPECT_EQ(image, seen[0]) << "made once";
    EXPECT_EQ(seen[0]->renderingMode(), graphics::RenderingMode::alwaysTemplate);
    EXPECT_EQ(seen[0]->name(), "defaultContactImage");
    EXPECT_EQ(seen[0]->size(), graphics::Size(40, 40));
    releaseDefaultContactImage();
    auto again = defaultContactImage();
    ASSERT_TRUE(again);
    EXPECT_NE(again, seen[0]) << "made anew after a release";
    EXPECT_EQ(defaultContactImage(), again);
}
