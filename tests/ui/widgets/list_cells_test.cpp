#include <gtest/gtest.h>

#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"
#include "tests/support/goldens.h"
#include "tests/support/system_version.h"
#include "tests/support/test_support.h"
#include "ui/widgets/master_table_view_cell.h"
#include "ui/widgets/toggle_cell.h"

using toolkit::Color;
using toolkit::Rect;

namespace {
using hxtest::SystemVersion;
}  // namespace

TEST(MasterTableViewCell, BadgeShowsPositiveCountsAtTheRightEdge) {
    SystemVersion version(15);
    auto cell = makeMasterTableCell();
    EXPECT_EQ(cell->reuseIdentifier(), "MasterTableCell");
    auto badge = cell->badgeView.lock();
    ASSERT_TRUE(badge);
    for (long value : {0L, -3L}) {
        cell->badgeValue = value;
        cell->setNeedsLayout();
        cell->layoutIfNeeded();
        EXPECT_TRUE(badge->isHidden()) << value;
    }
    const double y = badge->frame().minY();
    cell->badgeValue = 42;
    cell->setNeedsLayout();
    cell->layoutIfNeeded();
    EXPECT_FALSE(badge->isHidden());
    EXPECT_EQ(badge->text(), "42");
    EXPECT_EQ(badge->frame().size, badge->sizeThatFits({}));
    EXPECT_DOUBLE_EQ(badge->frame().maxX(), cell->contentView().bounds().maxX() - 4);
    EXPECT_DOUBLE_EQ(badge->frame().minY(), y) << "moved sideways only";
    EXPECT_EQ(cell->backgroundColor(), Color::groupTableViewBackground());
    EXPECT_EQ(cell->cellLabel.lock()->textColor(), Color::label());
    EXPECT_EQ(cell->cellImage.lock()->tintColor(), Color::systemBlue());
    // Reuse clears the count and restores the badge's colours.
    badge->setTintColor(Color::blue());
    badge->setTextColor(Color::black());
    cell->prepareForReuse();
    EXPECT_EQ(cell->badgeValue, 0);
    EXPECT_EQ(badge->tintColor(), Color::red());
    EXPECT_EQ(badge->textColor(), Color::whiteColor());
}

TEST(MasterTableViewCell, BeforeVersion13TheColoursAreLeftAlone) {
    SystemVersion version(12);
    auto cell = makeMasterTableCell();
    cell->layoutIfNeeded();
    EXPECT_FALSE(cell->backgroundColor());
    EXPECT_EQ(cell->cellLabel.lock()->textColor(), toolkit::Label().textColor()) << "a label's own default";
}

TEST(MasterTableViewCell, LooksInLightAndDark) {
    SystemVersion version(15);
    hxtest::UsingFonts fonts;
    std::unique_ptr<toolkit::Window> window;
    std::shared_ptr<MasterTableViewCell> cell;
    hxtest::expectSnapshotInLightAndDark(
        "master_cell",
        [&](toolkit::InterfaceStyle style) {
            cell.reset();
            window = std::make_unique<toolkit::Window>(toolkit::ScreenProfile::iPad());
            window->setInterfaceStyle(style);
            cell = makeMasterTableCell();
            cell->cellLabel.lock()->setText("Messages");
            cell->badgeValue = 7;
            window->addSubview(cell);
            cell->setNeedsLayout();
            return cell.get();
        },
        2);
}

TEST(ToggleCell, SwitchAccessoryAndSpokenState) {
    ToggleCell cell;
    ASSERT_TRUE(cell.onOff);
    EXPECT_EQ(cell.accessoryView(), cell.onOff);
    EXPECT_EQ(cell.selectionStyle(), toolkit::CellSelectionStyle::None);
    EXPECT_EQ(cell.accessoryType(), toolkit::CellAccessoryType::None);
    cell.textLabel().setText("Automatic Refresh");
    cell.onOff->setOn(true);
    EXPECT_EQ(cell.accessibilityLabel(), "Automatic Refresh, On");
    cell.onOff->setOn(false);
    EXPECT_EQ(cell.accessibilityLabel(), "Automatic Refresh, Off");
}
