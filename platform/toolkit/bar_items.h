// Bar items: the buttons of navigation bars and toolbars, the navigation item a controller shows
// in its navigation bar, and the tab bar item of a tab.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class View;
class Menu;

enum class SystemItem {
    None,
    Done,
    Cancel,
    Edit,
    Save,
    Add,
    FlexibleSpace,
    FixedSpace,
    Compose,
    Reply,
    Action,
    Organize,
    Bookmarks,
    Search,
    Refresh,
    Stop,
    Camera,
    Trash,
    Play,
    Pause,
};
// The title the bar shows for a system item ("Done", "Cancel", ...), empty for icons and spaces.
std::string systemItemTitle(SystemItem item);
// What the system's icon items say to accessibility ("Compose", "Add", ...); the title for the
// items that show one; empty for spaces.
std::string systemItemAccessibilityLabel(SystemItem item);

enum class BarButtonStyle { Plain, Done };

class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
public:
    using Action = std::function<void(BarButtonItem&)>;

    static std::shared_ptr<BarButtonItem> withTitle(std::string title, BarButtonStyle style = BarButtonStyle::Plain,
                                                    Action action = {});
    static std::shared_ptr<BarButtonItem> withImage(ImagePtr image, BarButtonStyle style = BarButtonStyle::Plain,
                                                    Action action = {});
    static std::shared_ptr<BarButtonItem> withSystemItem(SystemItem item, Action action = {});
    static std::shared_ptr<BarButtonItem> withCustomView(std::shared_ptr<View> view);

    std::string title;
    ImagePtr image;
    ImagePtr landscapeImage;
    BarButtonStyle style = BarButtonStyle::Plain;
    SystemItem systemItem = SystemItem::None;
    std::shared_ptr<View> customView;
    std::shared_ptr<Menu> menu;
    double width = 0;
    bool enabled = true;
    std::optional<Color> tintColor;
    // The title's own text attributes: its font (else the bar's) and its baseline moved up by
    // this many points (down when negative).
    std::optional<Font> titleFont;
    double titleBaselineOffset = 0;
    // Where the title of the back button that this item is moves, in a bar of the default height
    // and in a compact (landscape phone) bar.
    Point backButtonTitleAdjustment;
    Point compactBackButtonTitleAdjustment;
    std::string accessibilityLabel;
    std::string accessibilityHint;
    long tag = 0;
    Action action;

    // What the item shows: its title, else the system item's title.
    std::string displayTitle() const;
    // Taps on the item's button (the harness and the bars call it); nothing while disabled.
    // An item with a menu and no action shows the menu; with both, the action runs.
    bool tap();
    // A long press on the item's button shows its menu, if it has one and is enabled.
    bool longPress();
    // The view the bar placed for the item (its frame anchors popovers).
    std::shared_ptr<View> view() const { return view_.lock(); }
    void setView(const std::shared_ptr<View>& v) { view_ = v; }

private:
    std::weak_ptr<View> view_;
};
using BarButtonItemPtr = std::shared_ptr<BarButtonItem>;

enum class BackButtonDisplayMode { Default, Generic, Minimal };

class NavigationItem {
public:
    std::string title;
    std::shared_ptr<View> titleView;
    std::string prompt;
    std::optional<std::string> backButtonTitle;
    BarButtonItemPtr backBarButtonItem;
    BackButtonDisplayMode backButtonDisplayMode = BackButtonDisplayMode::Default;
    bool hidesBackButton = false;
    std::vector<BarButtonItemPtr> leftBarButtonItems;
    std::vector<BarButtonItemPtr> rightBarButtonItems;

    BarButtonItemPtr leftBarButtonItem() const { return leftBarButtonItems.empty() ? nullptr : leftBarButtonItems[0]; }
    BarButtonItemPtr rightBarButtonItem() const {
        return rightBarButtonItems.empty() ? nullptr : rightBarButtonItems[0];
    }
    void setLeftBarButtonItem(BarButtonItemPtr item, bool animated = false);
    void setRightBarButtonItem(BarButtonItemPtr item, bool animated = false);
    void setLeftBarButtonItems(std::vector<BarButtonItemPtr> items, bool animated = false);
    void setRightBarButtonItems(std::vector<BarButtonItemPtr> items, bool animated = false);
    // What the back button shows while this item is the one below the top: the bar showing it
    // follows at once.
    void setBackBarButtonItem(BarButtonItemPtr item);
    void setBackButtonTitle(std::optional<std::string> title);
    // A view in the title's place (none: the title's text); the bar showing the item follows at once.
    void setTitleView(std::shared_ptr<View> view) {
        titleView = std::move(view);
        changed();
    }

    // Called by the bar showing the item when anything it draws changes.
    std::function<void()> onChange;

private:
    void changed() const {
        if (onChange) onChange();
    }
};

class TabBarItem {
public:
    std::string title;
    ImagePtr image;
    ImagePtr selectedImage;
    // None hides the badge.
    std::optional<std::string> badgeValue;
    long tag = 0;
    bool enabled = true;
};

}  // namespace toolkit
