// What the web client asks of a message list (the list model implements it): the parses of the
// thread lists that the web client receives, the list's own replies, and the end of a load that
// failed.
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
    // The reply of the list's own request (on the main thread), or null when that request failed:
    // the list parses it, or ends its load. A search reply reaches only the shown list.
    virtual void messagesReceived(std::shared_ptr<const foundation::Data> data, bool searchResults) = 0;

    // Asynchronously on the main queue: clears the list's loading flag under the list's own lock
    // and ends the list's refresh.
    virtual void abortLoading() = 0;
};
