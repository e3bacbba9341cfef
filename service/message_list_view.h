// What a message list's model asks of the screen that shows it. Called on the main thread, but
// isShownScreen and shownConversationIsRead, which parses ask from their own queue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class HXMessageListView {
public:
    virtual ~HXMessageListView() = default;

    // Whether this screen is the controller of the current view.
    virtual bool isShownScreen() const = 0;
    // The pull-to-refresh animation, with its title, and its end.
    virtual void beginRefreshing(const std::string& title) = 0;
    virtual void endRefreshing() = 0;
    // Shows the date of the last refresh.
    virtual void updateLastRefreshDate() = 0;
    // The table again from the results controller; and again keeping the selected row (a list
    // without a further page).
    virtual void reloadTable() = 0;
    virtual void reloadVisibleCells() = 0;
    virtual void scrollToTopWithAnimation(bool animated) = 0;
    // The store changed under the list's results controller.
    virtual void controllerDidChangeContent() = 0;
    // The read state of the conversation shown on top of the list, or none when none is shown.
    virtual std::optional<bool> shownConversationIsRead() const = 0;
    // Shows the unread count on the back button.
    virtual void showBackButtonCount(uint64_t count) = 0;
};
