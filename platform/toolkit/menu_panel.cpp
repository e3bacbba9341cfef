#include "platform/toolkit/menu_panel.h"

#include <algorithm>

#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {

std::unique_ptr<MenuPanel>& current() {
    static std::unique_ptr<MenuPanel> panel;
    return panel;
}

// A preview smaller than this is left out rather than drawn as a sliver.
constexpr double kMinimumPreviewHeight = 44;

double rowHeight(const MenuPanel::Row& r) {
    return r.kind == MenuPanel::Row::separatorRow ? MenuPanel::kGroupGap
           : r.kind == MenuPanel::Row::headerRow  ? MenuPanel::kHeaderHeight
                                                  : MenuPanel::kRowHeight;
}

}  // namespace

MenuPanel::MenuPanel(const void* owner, Window& window, MenuPtr menu, Rect source, Style style,
                     std::shared_ptr<ViewController> preview, Handlers handlers)
    : owner_(owner),
      window_(&window),
      menu_(std::move(menu)),
      source_(source),
      style_(style),
      preview_(std::move(preview)),
      handlers_(std::move(handlers)) {}

void MenuPanel::show(const void* owner, Window& window, MenuPtr menu, Rect source, Style style,
                     std::shared_ptr<ViewController> preview, Handlers handlers) {
    TK_MAIN_THREAD("MenuPanel::show");
    std::unique_ptr<MenuPanel> replaced = std::move(current());
    current().reset(
        new MenuPanel(owner, window, std::move(menu), source, style, std::move(preview), std::move(handlers)));
    noteRedrawRequest();
    // Another owner's panel gave way: that owner hears its menu went.
    if (replaced && replaced->owner_ != owner && replaced->handlers_.dismissed) replaced->handlers_.dismissed();
}

void MenuPanel::close(const void* owner) {
    if (!current() || current()->owner_ != owner) return;
    current().reset();
    noteRedrawRequest();
}

MenuPanel* MenuPanel::shown(const Window* window) {
    MenuPanel* panel = current().get();
    if (!panel || (window && panel->window_ != window)) return nullptr;
    return panel;
}

void MenuPanel::windowWillClose(const Window& window) {
    if (current() && current()->window_ == &window) current().reset();
}

void MenuPanel::closeThen(const std::function<void()>& then) {
    // The handler outlives the panel it came from.
    const std::function<void()> keep = then;
    current().reset();
    noteRedrawRequest();
    if (keep) keep();
}

void MenuPanel::invalidate() {
    laidOut_ = false;
    highlighted_.reset();
    noteRedrawRequest();
}

const std::vector<MenuPanel::Row>& MenuPanel::rows() {
    if (!laidOut_ || !(laidOutFor_ == window_->bounds())) layout();
    return rows_;
}

Rect MenuPanel::panelFrame() {
    rows();
    return panel_;
}

Rect MenuPanel::previewFrame() {
    rows();
    return previewFrame_;
}

Size MenuPanel::previewSize(Size room) const {
    if (!preview_ || room.height < kMinimumPreviewHeight || room.width <= 0) return {};
    Size size = preview_->preferredContentSize();
    // A preview that names no size takes the room there is; one that names only its height is
    // as wide as the room.
    if (size.height <= 0) return room;
    if (size.width <= 0) return {room.width, std::min(size.height, room.height)};
    const double fit = std::min({1.0, room.width / size.width, room.height / size.height});
    return {size.width * fit, size.height * fit};
}

void MenuPanel::layout() {
    laidOut_ = true;
    laidOutFor_ = window_->bounds();
    rows_.clear();
    const MenuPtr& shownMenu = path_.empty() ? menu_ : path_.back();
    // An open submenu is headed by its title, which closes it; a titled menu shows its title.
    if (!path_.empty() || (menu_ && !menu_->title.empty()))
        rows_.push_back({Row::headerRow, shownMenu->title, shownMenu->image, nullptr, nullptr, false, false, {}});
    if (shownMenu) {
        for (const MenuEntry& e : shownMenu->displayEntries()) {
            if (e.action) {
                const unsigned a = e.action->attributes;
                rows_.push_back({Row::actionRow,
                                 e.action->title,
                                 e.action->image,
                                 e.action,
                                 nullptr,
                                 (a & kMenuElementDestructive) != 0,
                                 (a & kMenuElementDisabled) != 0,
                                 {}});
            } else if (e.submenu) {
                rows_.push_back({Row::submenuRow,
                                 e.submenu->title,
                                 e.submenu->image,
                                 nullptr,
                                 e.submenu,
                                 (e.submenu->options & kMenuDestructive) != 0,
                                 false,
                                 {}});
            } else {
                rows_.push_back({Row::separatorRow, {}, nullptr, nullptr, nullptr, false, false, {}});
            }
        }
    }
    double height = 0;
    for (const Row& r : rows_) height += rowHeight(r);

    const Rect window = window_->bounds();
    const Rect safe = window_->safeAreaLayoutFrame();
    const Rect area(safe.minX() + kScreenMargin, safe.minY() + kScreenMargin,
                    std::max(0.0, safe.width() - 2 * kScreenMargin), std::max(0.0, safe.height() - 2 * kScreenMargin));
    const double width = std::min(kWidth, area.width());
    height = std::min(height, area.height());
    // The panel leans the way its source does: from a source on the right it grows leftwards.
    const bool fromRight = source_.midX() >= window.midX();
    auto alignedX = [&](double minX, double maxX) {
        return std::clamp(fromRight ? maxX - width : minX, area.minX(), std::max(area.minX(), area.maxX() - width));
    };
    const Size preview = style_ == Style::context
                             ? previewSize({area.width(), std::max(0.0, area.height() - height - kSourceGap)})
                             : Size{};
    double top = 0, left = 0;
    previewFrame_ = {};
    if (preview.height > 0) {
        // The preview lifts out where its source was, the rows beneath it, all kept on screen.
        const double total = preview.height + kSourceGap + height;
        const double y = std::clamp(source_.minY(), area.minY(), std::max(area.minY(), area.maxY() - total));
        const double x = std::clamp(source_.midX() - preview.width / 2, area.minX(),
                                    std::max(area.minX(), area.maxX() - preview.width));
        previewFrame_ = Rect(x, y, preview.width, preview.height);
        top = previewFrame_.maxY() + kSourceGap;
        left = alignedX(previewFrame_.minX(), previewFrame_.maxX());
    } else {
        // Below the source when it fits, else above it, else as low as the screen allows.
        const double below = source_.maxY() + kSourceGap, above = source_.minY() - kSourceGap - height;
        top = below + height <= area.maxY() ? below
              : above >= area.minY()        ? above
                                            : std::max(area.minY(), area.maxY() - height);
        left = alignedX(source_.minX(), source_.maxX());
    }
    panel_ = Rect(left, top, width, height);
    double y = top;
    std::vector<Row> fitting;
    for (Row& r : rows_) {
        const double h = rowHeight(r);
        // Rows that do not fit on the screen are left out.
        if (y + h > panel_.maxY() + 1e-9) break;
        r.frame = Rect(left, y, width, h);
        y += h;
        fitting.push_back(std::move(r));
    }
    rows_ = std::move(fitting);
}

std::optional<size_t> MenuPanel::rowAt(Point p) {
    const auto& all = rows();
    for (size_t i = 0; i < all.size(); ++i) {
        const Row& r = all[i];
        if (!r.frame.contains(p)) continue;
        const bool acts = (r.kind == Row::actionRow && !r.disabled) || r.kind == Row::submenuRow ||
                          (r.kind == Row::headerRow && !path_.empty());
        return acts ? std::optional<size_t>(i) : std::nullopt;
    }
    return std::nullopt;
}

void MenuPanel::setHighlighted(std::optional<size_t> row) {
    if (highlighted_ == row) return;
    highlighted_ = row;
    noteRedrawRequest();
}

void MenuPanel::dismiss() {
    Handlers handlers = handlers_;
    closeThen(handlers.dismissed);
}

bool MenuPanel::activate(size_t index) {
    const auto& all = rows();
    if (index >= all.size()) return false;
    const Row row = all[index];
    switch (row.kind) {
        case Row::actionRow: {
            if (row.disabled) return false;
            auto choose = handlers_.choose;
            auto action = row.item;
            closeThen([choose, action] {
                if (choose) choose(action);
            });
            return true;
        }
        case Row::submenuRow:
            path_.push_back(row.submenu);
            invalidate();
            return true;
        case Row::headerRow:
            if (path_.empty()) return false;
            path_.pop_back();
            invalidate();
            return true;
        case Row::separatorRow:
            return false;
    }
    return false;
}

bool MenuPanel::handleKey(const std::string& input) {
    if (input == kInputEscape) {
        if (!path_.empty()) {
            path_.pop_back();
            invalidate();
        } else {
            dismiss();
        }
        return true;
    }
    if (input == "\r") {
        if (highlighted_) activate(*highlighted_);
        return true;
    }
    const int step = input == kInputDownArrow ? 1 : input == kInputUpArrow ? -1 : 0;
    if (step == 0) return false;
    // The next row a touch could act on, round the end to the other side.
    const auto& all = rows();
    const long n = static_cast<long>(all.size());
    long at = highlighted_ ? static_cast<long>(*highlighted_) : (step > 0 ? -1 : n);
    for (long tried = 0; tried < n; ++tried) {
        at = ((at + step) % n + n) % n;
        if (rowAt({all[static_cast<size_t>(at)].frame.midX(), all[static_cast<size_t>(at)].frame.midY()})) {
            setHighlighted(static_cast<size_t>(at));
            break;
        }
    }
    return true;
}

void MenuPanel::touchBegan(Point p) {
    pressedAt_ = p;
    setHighlighted(rowAt(p));
}

void MenuPanel::touchMoved(Point p) { setHighlighted(rowAt(p)); }

void MenuPanel::touchEnded(Point p) {
    pressedAt_.reset();
    if (auto row = rowAt(p)) {
        activate(*row);
        return;
    }
    setHighlighted(std::nullopt);
    // Inside the panel (a separator, a disabled row) nothing happens.
    if (panelFrame().contains(p)) return;
    if (previewFrame().contains(p) && handlers_.commitPreview) {
        Handlers handlers = handlers_;
        closeThen(handlers.commitPreview);
        return;
    }
    dismiss();
}

void MenuPanel::touchCancelled() {
    pressedAt_.reset();
    setHighlighted(std::nullopt);
}

}  // namespace toolkit
