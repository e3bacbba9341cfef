// A screen that holds a message list (the root screens of the views 1 to 3): the shell finds a
// view's list through it, whichever screen stands there.
#pragma once

#include <memory>

class HXApplicationWebClient;
class HXMessageListModel;

class HXMessageListHost {
public:
    virtual ~HXMessageListHost() = default;
    // The screen's list; a screen that makes its list on first use makes it for app.
    virtual std::shared_ptr<HXMessageListModel> messageList(HXApplicationWebClient& app) = 0;
    // Puts the list's search bar in focus; false for a screen without one.
    virtual bool enterSearch() = 0;
};
