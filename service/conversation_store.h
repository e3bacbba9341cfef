// The store side of conversations that the thread-list parse and the conversation operations
// share: type codes and masks, the lookup by id in a given context, a conversation's messages in
// time order, its list summary, and the removal of an item's local media.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/managed_object.h"

namespace HXConversationStore {

// Groups of type masks: text messages, voicemail and recordings, the three together.
inline constexpr int64_t kSMSMask = 1024 + 2048;
inline constexpr int64_t kVoicemailMask = 4 + 16;
inline constexpr int64_t kMessagesMask = kSMSMask + kVoicemailMask;
// Every type of the history list (spam and archive parses use it for their markers).
inline constexpr int64_t kHistoryListMask = 245143;
// Type classes of a conversation's type code, tested as bit (1 << type).
inline constexpr int64_t kHistoryTypes = 0x3b193;
inline constexpr int64_t kVoicemailOrTextTypes = 0xc04;

// The one-bit mask of a service item type name; 0 for unknown names.
int64_t maskForItemType(std::string_view type);
// The type codes (bit positions) of a mask, ascending.
foundation::Array typesForMask(int64_t mask);
// The type code of a one-bit mask (its lowest set bit; 0 for 0).
int64_t typeCodeForMask(int64_t mask);
bool isTextType(int64_t type);
bool isHistoryType(int64_t type);

// The conversation with this id in context, its messages fetched with it; null when none.
store::ManagedObjectPtr conversationWithID(const store::ContextPtr& context, const std::string& conversationID);
// More than one message: sorted by `number` ascending; otherwise as they are.
std::vector<store::ManagedObjectPtr> sortedMessages(const store::ManagedObjectPtr& conversation);
// The summary a list shows: prefix for groups, last date, last text or attachment kinds, count
// or length.
void updateLastMessageProperties(const store::ManagedObjectPtr& conversation, bool signedIn);
// What the summary reads of a conversation's newest message (the last of the greatest number).
struct NewestMessage {
    bool from = false;
    int64_t number = 0;
    std::string text, senderName, senderNumber;
    foundation::Value attachments, length;
};
// The same summary from the newest of the conversation's count messages, for a caller that
// wrote them and knows them without reading them back.
void setLastMessageProperties(const store::ManagedObjectPtr& conversation, const NewestMessage& newest, size_t count,
                              bool signedIn);

// The kind words of attachments in a summary ("image", "videos", "mixed attachments", ...).
std::string attachmentSummary(const foundation::Array& attachments);

}  // namespace HXConversationStore
