// What a message list's model asks of the screen that shows it. Called on the main thread, but
// isShownScreen and shownConversationIsRead, which parses ask from their own queue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/store/fetched_results_controller.h"

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
    // The table again from the list's rows (a new filter); and the rows in view again, keeping the
    // selected row (what they show changed outside the store, such as the contacts' names).
    virtual void reloadTable() = 0;
    virtual void reloadVisibleCells() = 0;
    // The rows of the list changed under a save: only those rows are shown again. A view that
    // keeps no rows of its own has nothing to do.
    virtual void rowsDidChange(const store::RowChanges&) {}
    // The list's paging changed (a load ended, the list has no further page): the row that loads
    // older pages follows it. A view that keeps no rows of its own reads the table again.
    virtual void updateMoreRow() { reloadVisibleCells(); }
    virtual void scrollToTopWithAnimation(bool animated) = 0;
    // How far the list is scrolled (negative above its top); none for a view without a table.
    virtual std::optional<double> contentOffsetY() { return std::nullopt; }
    // The store changed under the list's rows (after their row changes, if any).
    virtual void controllerDidChangeContent() = 0;
    // The read state of the conversation shown on top of the list, or none when none is shown.
    virtual std::optional<bool> shownConversationIsRead() const = 0;
    // Shows the unread count on the back button.
    virtual void showBackButtonCount(uint64_t count) = 0;
};
