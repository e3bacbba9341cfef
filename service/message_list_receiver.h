// What the web client hands a message list (the list model implements it): the thread lists the
// web client loads on its own behalf (the unread list, spam and archive pages) to parse, and the
// end of a load that failed without a connection. A list's own requests are answered to the list
// itself (HXReplyAnswer), never through here.
#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/value.h"

class HXMessageListReceiver {
public:
    // Bits of a thread-list parse's flags.
    enum ParseFlags : int { SpamList = 1, ArchiveList = 2 };
    // A background fetch's completion, answered with the platform's fetch result.
    using FetchCompletion = std::function<void(int result)>;

    virtual ~HXMessageListReceiver() = default;

    // Parse a thread-list reply into the account's store (asked on the main queue; the parse
    // runs off it); the unread list's form, and the spam or archive list's form (flags).
    virtual void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, FetchCompletion completion) = 0;
    virtual void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                                       FetchCompletion completion) = 0;

    // One conversation's page (the newest or an older one) to parse into the store, asked on the
    // main queue (the parse runs off it); a receiver without a store drops it.
    virtual void parseMessagesForConversationFromData(std::shared_ptr<const foundation::Data> data, bool isLatest) {
        (void)data, (void)isLatest;
    }
    // Asynchronously on the main queue: clears the list's loading flag under the list's own lock
    // and ends the list's refresh.
    virtual void abortLoading() = 0;
    // Whether the list waits for its first page (a list without data whose load is under way).
    virtual bool loadingFirstPage() const { return false; }
};
