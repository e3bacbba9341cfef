// What the web client asks of a message list (the list screens of a later layer implement it):
// the parses of the thread lists that the web client receives, and the end-of-load steps of a
// list whose load the web client ends, aborts or refreshes.
#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/value.h"

class HXMessageListScreen {
public:
    // Bits of a thread-list parse's flags.
    enum ParseFlags : int { SpamList = 1, ArchiveList = 2 };
    // A background fetch's completion, answered with the platform's fetch result.
    using FetchCompletion = std::function<void(int result)>;

    virtual ~HXMessageListScreen() = default;

    // Parse a thread-list reply into the account's store (off the main thread); the unread
    // list's form, the spam or archive list's form (flags), and one conversation's page.
    virtual void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, FetchCompletion completion) = 0;
    virtual void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                                       FetchCompletion completion) = 0;
    virtual void parseMessagesForConversationFromData(std::shared_ptr<const foundation::Data> data, bool isLatest) = 0;

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
