// The navigation controller (a stack of controllers under a navigation bar) and the tab bar
// controller (one child per tab under a tab bar).
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/toolkit/bar_item_view.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/view_controller.h"

namespace toolkit {

class NavigationController;
class TabBarController;

enum class BarStyle { Default, Black };

// The bar shows the top controller's navigation item: its title (or title view), its bar button
// items and, below the root, a back button titled after the previous item.
class NavigationBar : public View {
public:
    explicit NavigationBar(NavigationController* owner) : owner_(owner) {}
    std::string className() const override { return "NavigationBar"; }
    static constexpr double kHeight = 44;
    static constexpr double kCompactHeight = 32;

    // The black style draws a dark bar with a white title.
    BarStyle barStyle() const { return barStyle_; }
    void setBarStyle(BarStyle style) { setProperty(barStyle_, style); }
    const std::optional<Color>& barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> color) { setProperty(barTint_, std::move(color)); }
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) { setProperty(translucent_, translucent); }
    // Takes the class-level barTintColor, barStyle (Black when true: "blackStyle") and tintColor.
    void applyAppearance() override;

    // Rebuilds the bar from the stack's items.
    void update();
    NavigationItem* topItem() const;
    NavigationItem* backItem() const;
    // The back button's title ("Back" when the previous item has no title), or none at the root.
    std::optional<std::string> backButtonTitle() const;
    // What the back button shows: its title, or the previous item's back item's image.
    BarItemLook backButtonLook() const;
    std::string outlineText() const override;
    // The item views and the back button, for hit-testing and taps.
    const std::vector<ViewPtr>& itemViews() const { return itemViews_; }
    // The part of the bar between its left and right items, where the title (or title view) goes.
    Rect titleArea() const;
    void layoutSubviews() override;

private:
    NavigationController* owner_;
    std::vector<ViewPtr> itemViews_;
    ViewPtr titleView_;
    BarStyle barStyle_ = BarStyle::Default;
    std::optional<Color> barTint_;
    bool translucent_ = true;
};

class NavigationController : public ViewController {
public:
    explicit NavigationController(ViewControllerPtr root = nullptr);
    std::string className() const override { return "NavigationController"; }

    const std::vector<ViewControllerPtr>& viewControllers() const { return stack_; }
    void setViewControllers(std::vector<ViewControllerPtr> controllers, bool animated);
    ViewController* topViewController() const { return stack_.empty() ? nullptr : stack_.back().get(); }
    // The top controller, or what it presents modally.
    ViewController* visibleViewController() const;

    void pushViewController(const ViewControllerPtr& controller, bool animated);
    ViewControllerPtr popViewController(bool animated);
    std::vector<ViewControllerPtr> popToRootViewController(bool animated);
    std::vector<ViewControllerPtr> popToViewController(const ViewController* controller, bool animated);

    NavigationBar& navigationBar();
    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated);
    bool isTransitioning() const { return transitioning_; }

    void loadView() override;
    void viewDidLayoutSubviews() override;

    static constexpr double kPushDuration = 0.35;

protected:
    std::vector<ViewController*> appearanceChildren() const override;

private:
    void transition(ViewControllerPtr from, ViewControllerPtr to, bool animated,
                    std::vector<ViewControllerPtr> removed);
    void placeChild(ViewController* child);
    void showSlide(ViewController* from, ViewController* to, bool popping);

    std::vector<ViewControllerPtr> stack_;
    std::shared_ptr<NavigationBar> bar_;
    bool barHidden_ = false;
    bool transitioning_ = false;
};

class TabBarControllerDelegate {
public:
    virtual ~TabBarControllerDelegate() = default;
    virtual bool shouldSelectViewController(TabBarController&, ViewController&) { return true; }
    virtual void didSelectViewController(TabBarController&, ViewController&) {}
};

class TabBar : public View {
public:
    explicit TabBar(TabBarController* owner) : owner_(owner) {}
    std::string className() const override { return "TabBar"; }
    static constexpr double kHeight = 49;
    const std::optional<Color>& barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> color) { setProperty(barTint_, std::move(color)); }
    std::string outlineText() const override;
    void layoutSubviews() override;
    void update();
    const std::vector<ViewPtr>& buttons() const { return buttons_; }

private:
    TabBarController* owner_;
    std::vector<ViewPtr> buttons_;
    std::optional<Color> barTint_;
};

class TabBarController : public ViewController {
public:
    TabBarController();
    std::string className() const override { return "TabBarController"; }

    const std::vector<ViewControllerPtr>& viewControllers() const { return tabs_; }
    void setViewControllers(std::vector<ViewControllerPtr> controllers);
    size_t selectedIndex() const { return selected_; }
    // Selecting in code does not ask or tell the delegate.
    void setSelectedIndex(size_t index);
    ViewController* selectedViewController() const {
        return selected_ < tabs_.size() ? tabs_[selected_].get() : nullptr;
    }
    // A tap on a tab: asks the delegate, selects, tells the delegate.
    void userSelect(size_t index);
    TabBar& tabBar();
    std::weak_ptr<TabBarControllerDelegate> delegate;

    void loadView() override;
    void viewDidLayoutSubviews() override;

protected:
    std::vector<ViewController*> appearanceChildren() const override;

private:
    void show(size_t index);
    std::vector<ViewControllerPtr> tabs_;
    size_t selected_ = 0;
    std::shared_ptr<TabBar> bar_;
};

// Where keys start while nothing has the focus: the controller on top of what the window shows
// (the last presented one; inside a tab bar its selected tab; inside a navigation controller its
// top), so its key commands and those of the containers around it answer. The window itself
// without a root.
Responder* visibleKeyResponder(Window& window);

}  // namespace toolkit
