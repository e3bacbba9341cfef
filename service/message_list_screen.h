// What the web client asks of a message list (the list screens of a later layer implement it):
// the end-of-load steps of a list whose load the web client ends, aborts or refreshes.
#pragma once

class HXMessageListScreen {
public:
    virtual ~HXMessageListScreen() = default;
    // Asynchronously on the main queue: clears the list's loading flag under the list's own lock
    // and calls refreshComplete().
    virtual void abortLoading() = 0;
    // Posts the additional-spam or -archive reload notification with the page counter to take
    // over when the flag is set, then abortLoading().
    virtual void abortLoadingForSpam(bool spam, bool orArchive) = 0;
    // The list's end-of-load step: stops observing sign-in and cookie expiry, ends the refresh
    // animation and shows the last refresh date.
    virtual void refreshComplete() = 0;
    // Reloads the table keeping the selected row (a list without a further page).
    virtual void reloadVisibleCells() = 0;
    // Rebuilds the fetch from the type mask and the search text and reloads the table.
    virtual void filterTable() = 0;
    virtual void scrollToTopWithAnimation(bool animated) = 0;
    virtual void updateLastRefreshDate() = 0;
    // The store changed under the list's results controller.
    virtual void controllerDidChangeContent() = 0;
};
