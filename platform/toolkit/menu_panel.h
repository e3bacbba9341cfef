// The menu on screen: the panel a bar button's menu or a context menu shows, floating above the
// window's views (and its status bar). It lays its rows out from the menu (actions, submenus that
// open in place under a header that closes them, separators between inline groups), places the
// panel beside its source (below or above a button, kept inside the safe area; a context menu's
// preview over the source with the rows under or over it), and takes the window's new touches
// while it shows: lifting on a row chooses it, on the preview commits the preview, anywhere else
// dismisses. Arrow keys move a highlight over the rows, Return chooses it and Escape closes an open
// submenu, then the menu. One panel shows at a time; showing another replaces it. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/geometry.h"
#include "platform/toolkit/menu.h"

namespace toolkit {

class View;
class ViewController;
class Window;

class MenuPanel {
public:
    // What the panel's owner does on a choice, a dismissal and a tap on the preview. The panel
    // has closed before any of them runs.
    struct Handlers {
        std::function<void(const std::shared_ptr<MenuAction>&)> choose;
        std::function<void()> dismissed;
        std::function<void()> commitPreview;
    };
    enum class Style { button, context };

    struct Row {
        enum Kind { actionRow, submenuRow, headerRow, separatorRow };
        Kind kind = actionRow;
        std::string title;
        ImagePtr image;
        std::shared_ptr<MenuAction> item;  // an action row's action
        MenuPtr submenu;                   // a submenu row's menu
        bool destructive = false;
        bool disabled = false;
        Rect frame;  // in window coordinates
    };

    static constexpr double kWidth = 250, kRowHeight = 44, kHeaderHeight = 36, kGroupGap = 8;
    static constexpr double kScreenMargin = 8, kSourceGap = 8, kCornerRadius = 13;

    // Shows menu in window for owner (replacing any panel shown), pointing at source (window
    // coordinates); a context menu with a preview controller shows its view over the rows.
    static void show(const void* owner, Window& window, MenuPtr menu, Rect source, Style style,
                     std::shared_ptr<ViewController> preview, Handlers handlers);
    // Takes the owner's panel away without telling it (the owner closes it itself).
    static void close(const void* owner);
    // The panel shown, when it shows in this window (any window without one).
    static MenuPanel* shown(const Window* window = nullptr);
    // A window that goes takes its panel with it.
    static void windowWillClose(const Window& window);

    Style style() const { return style_; }
    const MenuPtr& menu() const { return menu_; }
    Window& window() const { return *window_; }
    const std::shared_ptr<ViewController>& preview() const { return preview_; }
    // Laid out for the window as it is now.
    const std::vector<Row>& rows();
    Rect panelFrame();
    // Empty without a preview.
    Rect previewFrame();
    Rect source() const { return source_; }
    // The submenus opened in place, outermost first.
    const std::vector<MenuPtr>& openSubmenus() const { return path_; }

    std::optional<size_t> highlighted() const { return highlighted_; }
    // The row at a window point that a touch can act on (actions and submenus that are enabled,
    // and an open submenu's header).
    std::optional<size_t> rowAt(Point p);
    // Acts on a row: runs an action (closing the panel first), opens a submenu or closes the
    // open one from its header. False for a row that does nothing.
    bool activate(size_t row);

    // A key of the device keyboard (kInputUpArrow, kInputDownArrow, "\r", kInputEscape); false
    // for keys the panel leaves alone.
    bool handleKey(const std::string& input);

    // Touches of the window while the panel shows (window coordinates).
    void touchBegan(Point p);
    void touchMoved(Point p);
    void touchEnded(Point p);
    void touchCancelled();

private:
    MenuPanel(const void* owner, Window& window, MenuPtr menu, Rect source, Style style,
              std::shared_ptr<ViewController> preview, Handlers handlers);
    void layout();
    void invalidate();
    void setHighlighted(std::optional<size_t> row);
    void dismiss();
    Size previewSize(Size room) const;
    // The panel closes (this object goes with it); the handler then runs.
    static void closeThen(const std::function<void()>& then);

    const void* owner_;
    Window* window_;
    MenuPtr menu_;
    Rect source_;
    Style style_;
    std::shared_ptr<ViewController> preview_;
    Handlers handlers_;
    std::vector<MenuPtr> path_;
    std::vector<Row> rows_;
    Rect panel_, previewFrame_;
    Rect laidOutFor_;
    bool laidOut_ = false;
    std::optional<size_t> highlighted_;
    std::optional<Point> pressedAt_;
};

// Draws the window's panel, if it shows one, over what the context holds (window coordinates):
// a context menu's dimmed backdrop and preview, then the rounded, shadowed panel with its rows.
void drawMenuPanel(Window& window, graphics::GraphicsContext& context);

}  // namespace toolkit
