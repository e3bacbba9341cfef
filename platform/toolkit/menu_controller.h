// The edit menu: the system's editing commands followed by the app's items, aimed at a rectangle
// of a view. When shown it asks the responder chain, from the first responder, whether each
// command can be performed, one after the other in menu order (a responder may retitle later
// items while it answers), and shows the ones that can.
//
// On screen it is one dark rounded bar of the shown items' titles over the target rectangle (under
// it when there is no room above), kept inside the screen. Items that do not fit the screen's
// width wait behind a "▸" entry, which pages on; a "◂" entry pages back. While it shows, a touch
// that begins on the bar is the bar's (lifting on an item chooses it), a touch that begins
// elsewhere hides it and goes on to the views; Escape hides it, Left and Right move a highlight
// along its entries and Return chooses the highlighted one. Closed without a choice (a touch
// elsewhere, Escape, hideMenu), it tells its target view, which may give up what it selected for
// the menu (a text view that cannot be edited does). Main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/geometry.h"

namespace toolkit {

class View;
class Responder;
class Window;

struct MenuItem {
    std::string title;
    std::string action;
};

class MenuController {
public:
    static MenuController& shared();

    std::vector<MenuItem> menuItems;
    void setTargetRect(const Rect& rect, View* view);
    Rect targetRect() const { return rect_; }
    // None once the view has gone.
    View* targetView() const { return viewAlive_.expired() ? nullptr : view_; }
    // Asks the chain now and shows the answering items (none: the menu stays hidden).
    void showMenu(bool animated = true);
    // Closes the menu without a choice: its target view, when it showed, is told.
    void hideMenu(bool animated = true);
    bool isMenuVisible() const { return visible_; }
    // The items shown, in order, with their titles as they were once every question was asked.
    const std::vector<MenuItem>& visibleItems() const { return shown_; }
    // A tap on a shown item: sends its action along the chain and hides the menu.
    bool performItem(const std::string& title);
    // Whether a chosen item's action is running now.
    bool isPerformingItem() const { return performing_; }
    // The system's commands, in the order they appear.
    static const std::vector<MenuItem>& systemItems();
    void reset();

    // ---- The bar on screen

    static constexpr double kBarHeight = 36, kItemPadding = 12, kScreenMargin = 8, kTargetGap = 8;
    static constexpr double kCornerRadius = 8, kFontSize = 14;
    static constexpr const char* kNextPageTitle = "\u25B8";
    static constexpr const char* kPreviousPageTitle = "\u25C2";

    // One entry of the bar: a shown item, or the entry that pages on or back.
    struct Entry {
        enum Kind { item, nextPage, previousPage };
        Kind kind = item;
        std::string title;
        size_t index = 0;  // an item's place among visibleItems()
        Rect frame;        // window coordinates
    };
    // The window the bar shows in (the target view's), when the menu is visible.
    Window* window() const;
    // Laid out for its window as it is now: the bar and the entries of the page shown.
    Rect barFrame();
    const std::vector<Entry>& entries();
    size_t page() const { return page_; }
    size_t pageCount();
    std::optional<size_t> highlighted() const { return highlighted_; }
    // Acts on an entry of the page shown: an item's action (the bar hides first), or a page turn.
    bool activate(size_t entry);
    // The window point at the middle of the entry of that title on the page shown.
    std::optional<Point> pointOfEntry(const std::string& title);
    // A key of the device keyboard (kInputLeftArrow, kInputRightArrow, "\r", kInputEscape); false
    // for keys the bar leaves alone or when it does not show.
    bool handleKey(const std::string& input);
    // A new touch of window while the bar shows: true when it began on the bar (its touch from
    // now on), false otherwise (the bar has hidden, the touch goes on to the views).
    bool touchBegan(const Window& window, Point p);
    // The bar's touch lifted there: chooses the entry under it.
    void touchEnded(Point p);

    // The standard edit command a key chord of the device keyboard stands for: Command-C copy:,
    // Command-V paste:, Command-X cut:, Command-A selectAll:; empty for others.
    static std::string editActionForKey(const std::string& input, unsigned modifiers);
    // Sends that command along the chain from the first responder when something there can
    // perform it; false when none can or the chord is not one.
    static bool performEditKey(const std::string& input, unsigned modifiers);

private:
    Responder* start() const;
    void layout();
    // Hides the bar (no target is told: an item was chosen, or nothing showed).
    void close();
    std::vector<MenuItem> shown_;
    Rect rect_;
    View* view_ = nullptr;
    std::weak_ptr<Responder> viewAlive_;
    bool visible_ = false;
    bool performing_ = false;
    // The bar as laid out: the first item of each page, the entries of the page shown.
    std::vector<size_t> pageStarts_;
    std::vector<Entry> entries_;
    Rect bar_;
    Rect laidOutFor_;
    Rect laidOutTarget_;
    bool laidOut_ = false;
    size_t page_ = 0;
    std::optional<size_t> highlighted_;
};

// Draws the window's edit menu bar, if it shows one there, over what the context holds (window
// coordinates).
void drawEditMenu(Window& window, graphics::GraphicsContext& context);

}  // namespace toolkit
