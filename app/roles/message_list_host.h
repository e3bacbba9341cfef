// A screen that holds a message list (the root screens of the views 1 to 3): the shell finds a
// view's list through it, whichever screen stands there.
#pragma once

#include <memory>

class HXMessageListModel;

class HXMessageListHost {
public:
    virtual ~HXMessageListHost() = default;
    // The screen's list, made on first use by the lists' role the screen was given (none when
    // the screen has no such role, or its role is gone).
    virtual std::shared_ptr<HXMessageListModel> messageList() = 0;
    // Puts the list's search bar in focus; false for a screen without one.
    virtual bool enterSearch() = 0;
};
