// The edit menu: the system's editing commands followed by the app's items, aimed at a rectangle
// of a view. When shown it asks the responder chain, from the first responder, whether each
// command can be performed, one after the other in menu order (a responder may retitle later
// items while it answers), and shows the ones that can.
#pragma once

#include <string>
#include <vector>

#include "platform/toolkit/geometry.h"

namespace toolkit {

class View;
class Responder;

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
    View* targetView() const { return view_; }
    // Asks the chain now and shows the answering items (none: the menu stays hidden).
    void showMenu(bool animated = true);
    void hideMenu(bool animated = true);
    bool isMenuVisible() const { return visible_; }
    // The items shown, in order, with their titles as they were once every question was asked.
    const std::vector<MenuItem>& visibleItems() const { return shown_; }
    // A tap on a shown item: sends its action along the chain and hides the menu.
    bool performItem(const std::string& title);
    // The system's commands, in the order they appear.
    static const std::vector<MenuItem>& systemItems();
    void reset();

private:
    Responder* start() const;
    std::vector<MenuItem> shown_;
    Rect rect_;
    View* view_ = nullptr;
    bool visible_ = false;
};

}  // namespace toolkit
