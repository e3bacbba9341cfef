// What a thread-list reply changes in the account's store, decided without touching it: which
// conversations and messages are made or updated with which values, which stored messages a
// conversation page withdraws, which stale conversations a list sweeps, which media are fetched,
// and the markers that the decisions after the parse read. The planner is a pure function of the
// reply, the list's settings and a snapshot of the stored rows the reply names; the list model
// writes the plan into a private context.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/value.h"
#include "service/thread_list_reply.h"

// The list that parses, and the state of the app it reads.
struct HXThreadListPlanInput {
    // Parse flags (HXMessageListModel::ParseFlags): spam list, archive list, conversation
    // reload, newest page of that conversation.
    int flags = 0;
    int64_t viewType = 0;  // 1 SMS, 2 voicemail, 3 history
    int64_t typeMask = 0;
    bool shown = false;  // the list is the controller of the current view
    bool inBackground = false;
    uint64_t reloadPage = 1, spamPage = 1, archivePage = 1;
    // No conversation of the list's types is stored (read only for the shown normal list).
    bool listIsEmpty = false;
    std::string openConversationID;
    double now = 0;  // seconds since 1970
    // A background fetch waits for this parse: pictures are fetched before the save.
    bool forBackgroundFetch = false;
    // The texts of voicemails without a transcript and of recordings, and the length formats
    // ("%i second%@", "%i minute%@"), localised.
    std::string transcriptNotAvailable = "Transcript not available", recordedCall = "Recorded call";
    std::string secondFormat = "%i second%@", minuteFormat = "%i minute%@";
};

// A stored conversation that the reply names.
struct HXStoredConversation {
    bool abNameIsNull = true;
    // Its messages: id and time ("number", milliseconds; read for a conversation reload only).
    std::vector<std::pair<std::string, int64_t>> messages;
};
using HXStoredConversations = std::unordered_map<std::string, HXStoredConversation>;

struct HXPlannedMessage {
    const HXThreadItem* item = nullptr;
    bool insert = false;
    // The text stored, when it is not the item's messageText as it stands (a text message's
    // usually is: it is then taken from the item rather than copied).
    std::optional<std::string> text;
    std::string length;
    // A group conversation's MMS: its sender's number (formatted) and name are stored with it.
    bool groupSender = false;
};

struct HXPlannedConversation {
    const HXThread* thread = nullptr;
    bool insert = false;
    int64_t type = 0;      // the type code of its last listed item
    int64_t lastdate = 0;  // seconds, of its first listed item
    std::string phoneNumber, sender;
    // The contact name is cleared (a group, an unknown number); then looked up for the number
    // when none is stored, or for the members of a group.
    bool clearABName = false;
    enum class NameLookup { None, Contact, Group } nameLookup = NameLookup::None;
    std::vector<HXPlannedMessage> messages;
    // Stored messages a conversation page no longer lists within the span it covers.
    std::vector<std::string> withdrawn;
    // The open conversation, unread in the reply, is read as it is shown.
    bool markRead = false;
};

// Conversations of the list's kind within the span of the reply that the reply does not list.
struct HXStaleSweep {
    int64_t typeMask = 0;
    int64_t first = 0, last = 0;  // seconds
    foundation::Array listedIDs;
    bool spam = false, archive = false;
};

struct HXThreadListPlan {
    std::vector<HXPlannedConversation> conversations;
    std::optional<HXStaleSweep> stale;
    std::vector<std::pair<std::string, std::string>> mediaFetches;  // id, MIME type
    std::vector<std::string> pictureFetches;
    // With a background fetch: the image attachments (those not cached yet are fetched first).
    std::vector<const foundation::Value*> pictures;
    // The markers of the decisions after the parse.
    bool refreshNeeded = false;               // R
    bool newConversation = false;             // N
    bool newMessage = false;                  // M
    bool newVoicemail = false;                // V
    std::optional<int64_t> earliest, latest;  // E, L in seconds
    // Items of a type outside the list (or unknown to the app), and threads with none listed.
    size_t skippedItems = 0;
    size_t skippedThreads = 0;
};

// The plan of reply for the list; it points into reply, which must outlive it.
HXThreadListPlan HXPlanThreadList(const HXThreadListReply& reply, const HXThreadListPlanInput& input,
                                  const HXStoredConversations& stored);
