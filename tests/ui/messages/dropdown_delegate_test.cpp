// What the dropdown menu takes from its delegate: titles and their precedence, component views,
// enabling, text settings of the buttons, the rows' colours, accessories and highlight, and the
// timing of an animated close.
#include <gtest/gtest.h>

#include <numbers>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/testing/harness.h"
#include "ui/messages/hxc_dropdown_menu.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

struct OneSource : HXCDropdownMenuDataSource {
    std::vector<long> rows{3, 2};
    long numberOfComponentsInDropdownMenu(HXCDropdownMenu&) override { return static_cast<long>(rows.size()); }
    long numberOfRowsInComponent(HXCDropdownMenu&, long c) override { return rows[static_cast<size_t>(c)]; }
};

struct Rich : HXCDropdownMenuDelegate {
    Log log;
    bool attributed = true;
    std::optional<std::shared_ptr<View>> componentView;
    bool enableSecond = true;
    std::shared_ptr<View> accessory = std::make_shared<View>(Rect(0, 0, 24, 24));
    std::optional<std::string> titleForComponent(HXCDropdownMenu&, long c) override {
        return "plain " + std::to_string(c);
    }
    std::optional<AttributedString> attributedTitleForComponent(HXCDropdownMenu&, long c) override {
        if (!attributed) return std::nullopt;
        return AttributedString("rich " + std::to_string(c), TextAttributes{Font::boldSystem(17), Color::systemBlue()});
    }
    std::optional<AttributedString> attributedTitleForSelectedComponent(HXCDropdownMenu&, long c) override {
        if (!attributed) return std::nullopt;
        return AttributedString("rich " + std::to_string(c) + " open", TextAttributes{});
    }
    std::optional<std::shared_ptr<View>> viewForComponent(HXCDropdownMenu&, long c) override {
        return c == 0 ? componentView : std::nullopt;
    }
    bool enableComponent(HXCDropdownMenu&, long c) override { return c == 0 || enableSecond; }
    std::optional<std::string> titleForRow(HXCDropdownMenu&, long row, long) override {
        return "row " + std::to_string(row);
    }
    std::optional<AttributedString> attributedTitleForRow(HXCDropdownMenu&, long row, long) override {
        if (row != 1) return std::nullopt;
        return AttributedString("rich row", TextAttributes{});
    }
    std::shared_ptr<View> accessoryViewForRow(HXCDropdownMenu&, long row, long) override {
        return row == 2 ? accessory : nullptr;
    }
    std::optional<Color> backgroundColorForRow(HXCDropdownMenu&, long row, long) override {
        if (row == 0) return Color::systemGray6();
        return std::nullopt;
    }
    std::optional<Color> backgroundColorForHighlightedRowsInComponent(HXCDropdownMenu&, long c) override {
        if (c == 0) return Color::systemGray4();
        return std::nullopt;
    }
    void didOpenComponent(HXCDropdownMenu&, long c) override { log.push_back("open " + std::to_string(c)); }
    void didCloseComponent(HXCDropdownMenu&, long c) override { log.push_back("close " + std::to_string(c)); }
};

struct Fixture {
    Harness h{ScreenProfile::iPhone8(), 15};
    std::shared_ptr<ViewController> root = std::make_shared<ViewController>();
    std::shared_ptr<HXCDropdownMenu> menu = HXCDropdownMenu::make(Rect(0, 64, 375, 44));
    std::shared_ptr<OneSource> source = std::make_shared<OneSource>();
    std::shared_ptr<Rich> delegate = std::make_shared<Rich>();
    Fixture() {
        h.setRoot(root);
        menu->delegate = delegate;
        menu->setDataSource(source);
        root->view()->addSubview(menu);
        h.settle();
    }
    HXCDropdownMenuComponentButton& button(size_t i) { return *menu->buttons()[i]; }
    std::shared_ptr<HXCDropdownMenuTableViewCell> cell(long row) {
        return std::dynamic_pointer_cast<HXCDropdownMenuTableViewCell>(
            menu->contentViewController()->tableView()->cellForRow({0, row}));
    }
};

}  // namespace

TEST(DropdownMenuDelegate, AttributedTitlesWinAndViewsReplaceTitles) {
    Fixture f;
    EXPECT_EQ(f.button(0).currentTitle(), "rich 0");
    EXPECT_EQ(f.button(0).attributedTitleForState(kStateNormal)->runs().front().attributes.color, Color::systemBlue());
    f.menu->openComponent(0, false);
    EXPECT_EQ(f.button(0).currentTitle(), "rich 0 open");
    f.menu->closeAllComponentsAnimated(false);
    f.delegate->attributed = false;
    f.menu->reloadAllComponents();
    EXPECT_EQ(f.button(1).currentTitle(), "plain 1");
    f.button(1).setSelected(true);
    EXPECT_EQ(f.button(1).currentTitle(), "plain 1") << "no selected title: the plain one stays";
    f.button(1).setSelected(false);

    // An implemented view for a component replaces its title; an answer of none brings the title back.
    auto badge = std::make_shared<Label>();
    badge->setText("3 unread");
    f.delegate->componentView = badge;
    f.menu->reloadComponent(0);
    EXPECT_EQ(f.button(0).currentCustomView(), badge);
    EXPECT_EQ(f.button(0).currentTitle(), std::nullopt);
    EXPECT_EQ(f.button(0).accessibility().label, "3 unread");
    // A tap on the component's view is the button's: it opens the component.
    EXPECT_FALSE(f.h.tap(*badge)) << "the button, not its view, takes the touch";
    EXPECT_EQ(f.menu->selectedComponent(), 0);
    f.menu->closeAllComponentsAnimated(false);
    f.delegate->componentView = std::shared_ptr<View>();
    f.menu->reloadComponent(0);
    EXPECT_EQ(f.button(0).currentCustomView(), nullptr) << "its answer wins, even none";
    EXPECT_EQ(f.button(0).currentTitle(), "plain 0");
    EXPECT_TRUE(f.button(0).containerView()->isHidden());
    // Not implemented: the button keeps the view it has.
    f.delegate->componentView = badge;
    f.menu->reloadComponent(0);
    f.delegate->componentView = std::nullopt;
    f.menu->reloadComponent(0);
    EXPECT_EQ(f.button(0).currentCustomView(), badge);
}

TEST(DropdownMenuDelegate, DisabledComponentsHideTheirIndicatorAndIgnoreTaps) {
    Fixture f;
    f.delegate->enableSecond = false;
    f.menu->reloadAllComponents();
    EXPECT_FALSE(f.button(1).isEnabled());
    EXPECT_TRUE(f.button(1).disclosureIndicatorView()->isHidden());
    EXPECT_FALSE(f.h.tap(f.button(1)));
    EXPECT_EQ(f.menu->selectedComponent(), kNotFoundIndex);
    EXPECT_TRUE(f.delegate->log.empty());
    f.delegate->enableSecond = true;
    f.menu->reloadComponent(1);
    EXPECT_TRUE(f.h.tap(f.button(1)));
    EXPECT_EQ(f.delegate->log, (Log{"open 1"}));
}

TEST(DropdownMenuDelegate, ButtonTextSettingsFollowTheMenu) {
    Fixture f;
    struct Case {
        LineBreakMode mode;
        int lines;
    };
    for (Case c :
         {Case{LineBreakMode::truncateMiddle, 1}, Case{LineBreakMode::clip, 1}, Case{LineBreakMode::truncateHead, 1},
          Case{LineBreakMode::wordWrap, 0}, Case{LineBreakMode::charWrap, 0}}) {
        f.menu->setComponentLineBreakMode(c.mode);
        EXPECT_EQ(f.button(0).titleLabel()->lineBreakMode(), c.mode);
        EXPECT_EQ(f.button(0).titleLabel()->numberOfLines(), c.lines) << static_cast<int>(c.mode);
    }
    struct Align {
        TextAlignment alignment;
        ContentHorizontalAlignment content;
    };
    for (Align a : {Align{TextAlignment::left, ContentHorizontalAlignment::Left},
                    Align{TextAlignment::right, ContentHorizontalAlignment::Right},
                    Align{TextAlignment::center, ContentHorizontalAlignment::Center},
                    Align{TextAlignment::natural, ContentHorizontalAlignment::Center},
                    Align{TextAlignment::justified, ContentHorizontalAlignment::Center}}) {
        f.menu->setComponentTextAlignment(a.alignment);
        EXPECT_EQ(f.button(1).contentHorizontalAlignment, a.content) << static_cast<int>(a.alignment);
    }
    // The open button turns its indicator by the menu's rotation and takes the selected colour.
    f.menu->setDisclosureIndicatorSelectionRotation(std::numbers::pi / 2);
    f.menu->setSelectedComponentBackgroundColor(Color::systemGray5());
    f.menu->openComponent(1, false);
    f.h.settle();
    EXPECT_NEAR(f.button(1).disclosureIndicatorView()->transform().b, 1, 1e-12);
    EXPECT_EQ(f.button(1).backgroundColor(), Color::systemGray5());
    EXPECT_FALSE(f.button(0).isSelected());
    EXPECT_FALSE(f.button(0).backgroundColor());
    // A custom indicator image takes the triangle's place and widens the inset.
    f.menu->setDisclosureIndicatorImage(makeImage("chevron", {10, 6}, true));
    EXPECT_EQ(f.button(0).disclosureIndicatorView()->image()->name(), "chevron");
    EXPECT_EQ(f.button(0).contentEdgeInsets().right, 8 + 10 + 4);
}

TEST(DropdownMenuDelegate, RowsTakeTitlesColoursAccessoriesAndHighlight) {
    Fixture f;
    f.menu->setRowTextAlignment(TextAlignment::center);
    f.menu->openComponent(0, false);
    f.h.settle();
    ASSERT_NE(f.cell(0), nullptr);
    EXPECT_EQ(f.cell(0)->textLabel().text(), "row 0");
    EXPECT_EQ(f.cell(1)->textLabel().text(), "rich row") << "an attributed title wins";
    EXPECT_EQ(f.cell(0)->backgroundColor(), Color::systemGray6());
    EXPECT_EQ(f.cell(1)->backgroundColor(), Color::clear()) << "no colour: clear";
    EXPECT_EQ(f.cell(2)->accessoryView(), f.delegate->accessory);
    EXPECT_EQ(f.cell(0)->accessoryView(), nullptr);
    EXPECT_EQ(f.cell(0)->textLabel().textAlignment(), TextAlignment::center);
    ASSERT_NE(f.cell(0)->selectedBackgroundView(), nullptr);
    EXPECT_EQ(f.cell(0)->selectedBackgroundView()->backgroundColor(), Color::systemGray4());
    EXPECT_EQ(f.cell(0)->layoutMargins(), EdgeInsets{});
    // The second component has no highlight colour: no selected background.
    f.menu->openComponent(1, false);
    f.h.settle();
    EXPECT_EQ(f.cell(0)->selectedBackgroundView(), nullptr);
    EXPECT_EQ(f.menu->contentViewController()->rowsCount(), 2);
    EXPECT_EQ(f.delegate->log, (Log{"open 0", "close 0", "open 1"}));
    // The dropdown can be brought back in front of views added above it.
    auto cover = std::make_shared<View>(Rect(0, 0, 375, 667));
    f.h.window().addSubview(cover);
    EXPECT_NE(f.h.window().subviews().back(), f.menu->contentViewController()->view());
    f.menu->bringDropdownViewToFront();
    EXPECT_EQ(f.h.window().subviews().back(), f.menu->contentViewController()->view())
        << "the menu's window is the presenting view by default";
}

TEST(DropdownMenuDelegate, AnimatedCloseRemovesTheListOnlyWhenItEnds) {
    Fixture f;
    f.menu->openComponent(0, false);
    f.h.settle();
    auto& content = *f.menu->contentViewController();
    Animations::setTimed(true);
    f.menu->closeAllComponentsAnimated(true);
    EXPECT_EQ(f.delegate->log, (Log{"open 0", "close 0"})) << "reported as the close starts";
    EXPECT_TRUE(f.menu->transition()->isAnimating());
    EXPECT_EQ(f.menu->transition()->containerView(), nullptr) << "forgotten as the animation starts";
    EXPECT_NE(content.view()->superview(), nullptr);
    EXPECT_EQ(content.view()->alpha(), 0);
    // Squeezed to half height and lifted by twice the list's height.
    const AffineTransform t = content.containerView()->transform();
    double h = content.containerView()->bounds().height();
    EXPECT_EQ(t.d, 0.5);
    EXPECT_EQ(t.ty, -h);
    EXPECT_TRUE(f.h.tap(f.button(1)) || true);
    EXPECT_EQ(f.menu->selectedComponent(), kNotFoundIndex) << "taps wait for the close";
    f.h.advance(0.3);
    EXPECT_FALSE(f.menu->transition()->isAnimating());
    EXPECT_EQ(content.view()->superview(), nullptr);
    EXPECT_EQ(content.view()->alpha(), 1);
    EXPECT_TRUE(content.containerView()->transform().isIdentity());
    EXPECT_EQ(content.appearanceState(), AppearanceState::Disappeared);
    Animations::setTimed(false);
}
