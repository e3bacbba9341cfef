// A thread-list reply of the service ("api2thread/list", "get" and "search") read into plain
// records before anything touches the store, so that a reply is judged whole and a reader of
// outside bytes has no side effects. Missing or mistyped members read as empty values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

struct HXThreadItem {
    std::string id;
    std::string type;       // the service's type name
    int64_t mask = 0;       // its one-bit type mask ("inbound" with a call recording counts as one)
    int64_t startTime = 0;  // milliseconds since 1970
    std::optional<std::string> messageText;
    bool hasMMS = false;
    std::string mmsText;
    std::string mmsSenderPhoneNumber;
    foundation::Value attachments;  // the MMS attachment list, unchanged (null when none)
    std::vector<std::string> transcriptWords;
    int64_t duration = 0;  // seconds
};

struct HXThread {
    std::string id;
    std::optional<std::string> paginationToken;
    bool inSpam = false;
    bool inArchive = false;
    bool read = false;
    std::string contactPhoneNumber;  // of the last contact
    std::string contactName;
    bool contactBlocked = false;
    std::vector<std::string> headingNumbers;
    std::optional<std::string> displayableCost;
    std::vector<HXThreadItem> items;
};

struct HXThreadListReply {
    int64_t errorCode = 0;
    std::vector<HXThread> threads;
    // "response" > "conversation": absent (the list has ended), empty, or with entries.
    enum class More { Absent, Empty, Entries } more = More::Absent;
    // The reply says outright that it is the list's last page: it has a "response" object that
    // names no further conversations. A reply without "response" ends the paging too, but only
    // this one is taken as covering everything older.
    bool saysLastPage = false;
};

// Whether a thread's "read" member marks it read: the one rule for every reader of thread lists
// (a missing, null or false member is unread).
bool HXThreadIsRead(const foundation::Value& read);

// Reads a parsed JSON reply. Threads without an id and items without an id are left out: they
// could never be matched again.
HXThreadListReply HXReadThreadList(const foundation::Value& reply);
// Reads reply bytes; an error when they are not a JSON object or array with content.
foundation::Result<HXThreadListReply> HXReadThreadList(std::string_view bytes);
