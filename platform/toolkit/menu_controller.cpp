#include "platform/toolkit/menu_controller.h"

#include <algorithm>

#include "platform/graphics/path.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/window.h"

namespace toolkit {

MenuController& MenuController::shared() {
    static MenuController controller;
    return controller;
}

const std::vector<MenuItem>& MenuController::systemItems() {
    static const std::vector<MenuItem> items{{"Cut", "cut:"},       {"Copy", "copy:"},
                                             {"Paste", "paste:"},   {"Delete", "delete:"},
                                             {"Select", "select:"}, {"Select All", "selectAll:"}};
    return items;
}

void MenuController::reset() {
    menuItems.clear();
    shown_.clear();
    rect_ = {};
    view_ = nullptr;
    viewAlive_.reset();
    visible_ = false;
    laidOut_ = false;
    page_ = 0;
    highlighted_.reset();
}

void MenuController::setTargetRect(const Rect& rect, View* view) {
    rect_ = rect;
    view_ = view;
    viewAlive_ = view ? view->weak_from_this() : std::weak_ptr<Responder>();
    laidOut_ = false;
}

Responder* MenuController::start() const {
    if (Responder* r = firstResponder()) return r;
    return targetView();
}

void MenuController::showMenu(bool animated) {
    TK_MAIN_THREAD("MenuController::showMenu");
    (void)animated;
    Responder* from = start();
    // Each question in order; the custom items are read afresh after each answer, since an
    // answer may change the titles of the items still to come.
    const auto& system = systemItems();
    size_t total = system.size() + menuItems.size();
    std::vector<bool> can(total, false);
    for (size_t i = 0; i < total; ++i) {
        const std::string action = i < system.size() ? system[i].action : menuItems[i - system.size()].action;
        can[i] = from && from->targetForAction(action, nullptr) != nullptr;
        total = system.size() + menuItems.size();
        if (can.size() < total) can.resize(total, false);
    }
    shown_.clear();
    for (size_t i = 0; i < total; ++i)
        if (can[i]) shown_.push_back(i < system.size() ? system[i] : menuItems[i - system.size()]);
    visible_ = !shown_.empty();
    // Every showing starts on the first page, nothing highlighted.
    laidOut_ = false;
    page_ = 0;
    highlighted_.reset();
    noteRedrawRequest();
}

void MenuController::hideMenu(bool animated) {
    (void)animated;
    const bool wasVisible = visible_;
    close();
    if (!wasVisible) return;
    if (View* target = targetView()) target->editMenuDidCloseWithoutChoice();
}

void MenuController::close() {
    if (visible_) noteRedrawRequest();
    visible_ = false;
    shown_.clear();
    entries_.clear();
    laidOut_ = false;
    highlighted_.reset();
}

bool MenuController::performItem(const std::string& title) {
    if (!visible_) return false;
    for (auto& item : shown_)
        if (item.title == title) {
            std::string action = item.action;
            Responder* from = start();
            close();
            if (!from) return false;
            performing_ = true;
            const bool performed = sendAction(action, nullptr, nullptr, from);
            performing_ = false;
            return performed;
        }
    return false;
}

// ---- The bar on screen

namespace {

Font barFont() { return Font::system(MenuController::kFontSize); }

double entryWidth(const std::string& title) {
    return std::ceil(textMeasurer().lineWidth(title, barFont())) + 2 * MenuController::kItemPadding;
}

}  // namespace

Window* MenuController::window() const {
    if (!visible_) return nullptr;
    View* view = targetView();
    return view ? view->window() : nullptr;
}

size_t MenuController::pageCount() {
    layout();
    return pageStarts_.size();
}

Rect MenuController::barFrame() {
    layout();
    return bar_;
}

const std::vector<MenuController::Entry>& MenuController::entries() {
    layout();
    return entries_;
}

void MenuController::layout() {
    Window* w = window();
    if (!w) {
        entries_.clear();
        bar_ = {};
        laidOut_ = false;
        return;
    }
    View* view = targetView();
    const Rect screen = w->bounds();
    const Rect target = view->convertRectTo(rect_, nullptr);
    if (laidOut_ && laidOutFor_ == screen && laidOutTarget_ == target) return;
    laidOut_ = true;
    laidOutFor_ = screen;
    laidOutTarget_ = target;

    // Pages: as many items as fit the screen's width beside the entries that page on and back.
    const double room = std::max(0.0, screen.width() - 2 * kScreenMargin);
    const double nextWidth = entryWidth(kNextPageTitle), previousWidth = entryWidth(kPreviousPageTitle);
    pageStarts_.clear();
    for (size_t start = 0; start < shown_.size();) {
        pageStarts_.push_back(start);
        double used = start > 0 ? previousWidth : 0;
        size_t end = start;
        while (end < shown_.size()) {
            const double width = entryWidth(shown_[end].title);
            const bool last = end + 1 == shown_.size();
            if (end > start && used + width + (last ? 0 : nextWidth) > room) break;
            used += width;
            ++end;
        }
        start = end;
    }
    page_ = std::min(page_, pageStarts_.empty() ? 0 : pageStarts_.size() - 1);

    entries_.clear();
    if (pageStarts_.empty()) {
        bar_ = {};
        return;
    }
    const size_t first = pageStarts_[page_];
    const size_t end = page_ + 1 < pageStarts_.size() ? pageStarts_[page_ + 1] : shown_.size();
    if (page_ > 0) entries_.push_back({Entry::previousPage, kPreviousPageTitle, 0, {}});
    for (size_t i = first; i < end; ++i) entries_.push_back({Entry::item, shown_[i].title, i, {}});
    if (end < shown_.size()) entries_.push_back({Entry::nextPage, kNextPageTitle, 0, {}});
    double width = 0;
    for (auto& e : entries_) {
        // A single item wider than the screen is cut to it.
        e.frame.size = {std::min(entryWidth(e.title), room), kBarHeight};
        width += e.frame.width();
    }
    width = std::min(width, room);

    // Above the target, else below it, within the safe area.
    const EdgeInsets safe = w->safeAreaInsets();
    const double top = screen.minY() + safe.top + kScreenMargin;
    const double bottom = screen.maxY() - safe.bottom - kScreenMargin - kBarHeight;
    double y = target.minY() - kTargetGap - kBarHeight;
    if (y < top) y = target.maxY() + kTargetGap;
    y = std::clamp(y, top, std::max(top, bottom));
    const double x = std::clamp(target.midX() - width / 2, screen.minX() + kScreenMargin,
                                std::max(screen.minX() + kScreenMargin, screen.maxX() - kScreenMargin - width));
    bar_ = Rect(x, y, width, kBarHeight);
    double at = x;
    for (auto& e : entries_) {
        e.frame.origin = {at, y};
        at += e.frame.width();
    }
    if (highlighted_ && *highlighted_ >= entries_.size()) highlighted_.reset();
}

bool MenuController::activate(size_t entry) {
    layout();
    if (entry >= entries_.size()) return false;
    const Entry chosen = entries_[entry];
    if (chosen.kind == Entry::item) return performItem(shown_[chosen.index].title);
    page_ = chosen.kind == Entry::nextPage ? page_ + 1 : page_ - 1;
    laidOut_ = false;
    layout();
    // The highlight moves to the first item of the new page.
    highlighted_.reset();
    for (size_t i = 0; i < entries_.size() && !highlighted_; ++i)
        if (entries_[i].kind == Entry::item) highlighted_ = i;
    noteRedrawRequest();
    return true;
}

std::optional<Point> MenuController::pointOfEntry(const std::string& title) {
    for (const auto& e : entries())
        if (e.title == title) return Point{e.frame.midX(), e.frame.midY()};
    return std::nullopt;
}

bool MenuController::handleKey(const std::string& input) {
    if (!window()) return false;
    layout();
    if (input == kInputEscape) {
        hideMenu(true);
        return true;
    }
    if (entries_.empty()) return false;
    if (input == kInputLeftArrow || input == kInputRightArrow) {
        const size_t last = entries_.size() - 1;
        if (!highlighted_)
            highlighted_ = input == kInputLeftArrow ? last : 0;
        else if (input == kInputLeftArrow)
            highlighted_ = *highlighted_ == 0 ? last : *highlighted_ - 1;
        else
            highlighted_ = *highlighted_ == last ? 0 : *highlighted_ + 1;
        noteRedrawRequest();
        return true;
    }
    if (input == "\r") {
        if (!highlighted_) return false;
        return activate(*highlighted_);
    }
    return false;
}

bool MenuController::touchBegan(const Window& window, Point p) {
    if (this->window() != &window) return false;
    if (barFrame().contains(p)) return true;
    hideMenu(true);
    return false;
}

void MenuController::touchEnded(Point p) {
    if (!window()) return;
    const auto& shownEntries = entries();
    for (size_t i = 0; i < shownEntries.size(); ++i)
        if (shownEntries[i].frame.contains(p)) {
            activate(i);
            return;
        }
}

std::string MenuController::editActionForKey(const std::string& input, unsigned modifiers) {
    if ((modifiers & ~kModifierShift) != kModifierCommand || (modifiers & kModifierShift)) return {};
    if (input == "c") return "copy:";
    if (input == "v") return "paste:";
    if (input == "x") return "cut:";
    if (input == "a") return "selectAll:";
    return {};
}

bool MenuController::performEditKey(const std::string& input, unsigned modifiers) {
    const std::string action = editActionForKey(input, modifiers);
    // With nothing focused, the screen on top answers (the dial pad pastes a number).
    Responder* from = firstResponder();
    if (!from)
        if (Window* key = Window::keyWindow()) from = visibleKeyResponder(*key);
    if (action.empty() || !from || !from->targetForAction(action, nullptr)) return false;
    return sendAction(action, nullptr, nullptr, from);
}

// ---- Drawing

void drawEditMenu(Window& window, graphics::GraphicsContext& c) {
    auto& menu = MenuController::shared();
    if (menu.window() != &window) return;
    const Rect bar = menu.barFrame();
    const auto& entries = menu.entries();
    if (bar.isEmpty() || entries.empty()) return;
    c.save();
    // Dark in both appearances, a little lifted off a dark screen.
    c.setFillColor(Color::dynamic(Color::rgb(0.11, 0.11, 0.12, 0.94), Color::rgb(0.27, 0.27, 0.29, 0.96)));
    c.addPath(graphics::Path::roundedRect(bar, MenuController::kCornerRadius));
    c.fillPath();
    c.addPath(graphics::Path::roundedRect(bar, MenuController::kCornerRadius));
    c.clip();
    const double hairline = 1 / std::max(1.0, c.scale());
    TextAttributes attributes;
    attributes.font = barFont();
    attributes.color = Color::white(1);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Rect f = entries[i].frame;
        if (menu.highlighted() == i) {
            c.setFillColor(Color::white(1, 0.22));
            c.fillRect(f);
        }
        if (i > 0) {
            c.setFillColor(Color::white(1, 0.3));
            c.fillRect(Rect(f.minX(), f.minY(), hairline, f.height()));
        }
        TextLayoutOptions options;
        options.width = std::max(1.0, f.width() - 2 * MenuController::kItemPadding);
        options.maximumLines = 1;
        options.lineBreakMode = LineBreakMode::truncateTail;
        const TextBox box = textMeasurer().layout(AttributedString(entries[i].title, attributes), options);
        graphics::drawTextLines(c, box.lines, {f.midX() - box.size.width / 2, f.midY() - box.size.height / 2});
    }
    c.restore();
}

}  // namespace toolkit
