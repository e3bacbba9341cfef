#include "platform/toolkit/menu_controller.h"

#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/view.h"

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
    visible_ = false;
}

void MenuController::setTargetRect(const Rect& rect, View* view) {
    rect_ = rect;
    view_ = view;
}

Responder* MenuController::start() const {
    if (Responder* r = firstResponder()) return r;
    return view_;
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
}

void MenuController::hideMenu(bool animated) {
    (void)animated;
    visible_ = false;
    shown_.clear();
}

bool MenuController::performItem(const std::string& title) {
    if (!visible_) return false;
    for (auto& item : shown_)
        if (item.title == title) {
            std::string action = item.action;
            Responder* from = start();
            hideMenu(true);
            return from && sendAction(action, nullptr, nullptr, from);
        }
    return false;
}

}  // namespace toolkit
