// Menus: titled actions with images and attributes, nested in menus that show inline or as
// submenus, and the configuration of a context menu (a preview controller and the menu).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class View;
class ViewController;

enum MenuElementAttributes : unsigned {
    kMenuElementNone = 0,
    kMenuElementDisabled = 1,
    kMenuElementDestructive = 2,
    kMenuElementHidden = 4,
};

enum MenuOptions : unsigned {
    kMenuOptionsNone = 0,
    kMenuDisplayInline = 1,
    kMenuDestructive = 2,
};

class MenuElement {
public:
    virtual ~MenuElement() = default;
    std::string title;
    ImagePtr image;
};
using MenuElementPtr = std::shared_ptr<MenuElement>;

class MenuAction : public MenuElement {
public:
    using Handler = std::function<void(MenuAction&)>;
    static std::shared_ptr<MenuAction> make(std::string title, ImagePtr image, Handler handler,
                                            unsigned attributes = kMenuElementNone);
    std::string identifier;
    unsigned attributes = kMenuElementNone;
    bool on = false;
    Handler handler;
    // Runs the handler unless the action is disabled or hidden; answers whether it ran.
    bool perform();
};

class Menu;

// One line of a menu as shown: an action, a submenu that opens from it, or the separator between
// inline groups.
struct MenuEntry {
    std::shared_ptr<MenuAction> action;
    std::shared_ptr<Menu> submenu;
    bool isSeparator() const { return !action && !submenu; }
};

class Menu : public MenuElement {
public:
    static std::shared_ptr<Menu> make(std::string title, std::vector<MenuElementPtr> children,
                                      unsigned options = kMenuOptionsNone, ImagePtr image = nullptr);
    std::string identifier;
    unsigned options = kMenuOptionsNone;
    std::vector<MenuElementPtr> children;
    // The first action with this title, depth first (inline and nested menus alike).
    std::shared_ptr<MenuAction> findAction(const std::string& title) const;
    // The same, when that action can be chosen (neither disabled nor hidden).
    std::shared_ptr<MenuAction> findChoosableAction(const std::string& title) const;
    // The titles as shown: actions by title, submenus as "title >", inline menus flattened
    // with "-" between groups; hidden actions left out.
    std::vector<std::string> displayTitles() const;
    // The same lines with what they show.
    std::vector<MenuEntry> displayEntries() const;
};
using MenuPtr = std::shared_ptr<Menu>;

// The one menu shown from a button (a bar button item's menu): what is showing, where, and the
// choice of one of its actions, which closes the menu before the action runs. Showing another
// menu replaces it.
class PresentedMenu {
public:
    static PresentedMenu& shared();
    void show(MenuPtr menu, const std::shared_ptr<View>& anchor);
    void dismiss();
    const MenuPtr& menu() const { return menu_; }
    bool isVisible() const { return menu_ != nullptr; }
    // The view the menu points at; none once that view has gone.
    std::shared_ptr<View> anchor() const { return anchor_.lock(); }
    // Chooses the enabled, visible action with this title (nested menus included); false when
    // there is none, and the menu then stays.
    bool perform(const std::string& title);
    // Chooses this action of the menu (as a click on its row does).
    bool perform(const std::shared_ptr<MenuAction>& action);

private:
    MenuPtr menu_;
    std::weak_ptr<View> anchor_;
};

// What a long press on a row or view shows: an optional preview controller and a menu built
// from the system's suggested elements.
class ContextMenuConfiguration {
public:
    using PreviewProvider = std::function<std::shared_ptr<ViewController>()>;
    using ActionProvider = std::function<MenuPtr(const std::vector<MenuElementPtr>& suggested)>;
    static std::shared_ptr<ContextMenuConfiguration> make(std::string identifier, PreviewProvider preview,
                                                          ActionProvider actions);
    std::string identifier;
    PreviewProvider previewProvider;
    ActionProvider actionProvider;
};
using ContextMenuConfigurationPtr = std::shared_ptr<ContextMenuConfiguration>;

enum class PreviewCommitStyle { Dismiss, Pop };

// Handed to the delegate when the user taps the preview: the delegate sets the style and adds
// completions, which run once the menu has gone.
class ContextMenuCommitAnimator {
public:
    PreviewCommitStyle preferredCommitStyle = PreviewCommitStyle::Pop;
    std::shared_ptr<ViewController> previewViewController() const { return preview_; }
    void addCompletion(std::function<void()> completion) { completions_.push_back(std::move(completion)); }
    void addAnimations(const std::function<void()>& animations) {
        if (animations) animations();
    }

    explicit ContextMenuCommitAnimator(std::shared_ptr<ViewController> preview) : preview_(std::move(preview)) {}
    void finish();

private:
    std::shared_ptr<ViewController> preview_;
    std::vector<std::function<void()>> completions_;
};

}  // namespace toolkit
