// A thread-list reply of the service ("api2thread/list", "get" and "search") read into plain
// records before anything touches the store, so that a reply is judged whole and a reader of
// outside bytes has no side effects. Missing or mistyped members read as empty values.
#pragma once

#include <cstddef>
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
    // The reply listed more items than were read: the items read do not cover the thread.
    bool itemsCut = false;
    // The newest start time of every item read, those left out for want of an id included.
    std::optional<int64_t> newestStartTime;
};

struct HXThreadListReply {
    int64_t errorCode = 0;
    // Malformed UTF-8 sequences in the reply's text, each byte of one read as U+FFFD.
    size_t replacedSequences = 0;
    // What the reply held beyond its bounds, left out.
    size_t threadsBeyondBound = 0;
    size_t itemsBeyondBound = 0;
    // Threads and items left out for want of an id.
    size_t threadsWithoutID = 0;
    size_t itemsWithoutID = 0;
    // The earliest of the threads' newest start times (milliseconds), over every thread read,
    // those left out included: where the page ends, whatever could be stored of it.
    std::optional<int64_t> earliestThreadTime;
    std::vector<HXThread> threads;
    // "response" > "conversation": absent (the list has ended), empty, or with entries.
    enum class More { Absent, Empty, Entries } more = More::Absent;
    // The reply says outright that it is the list's last page: it has a "response" object that
    // names no further conversations. A reply without "response" ends the paging too, but only
    // this one is taken as covering everything older (and not when threads were left out).
    bool saysLastPage = false;
};

// What a page asks the service for: its threads, and the items of each.
inline constexpr int kHXListPageThreads = 20;
inline constexpr int kHXListPageItems = 15;
inline constexpr int kHXSearchPageThreads = 200;
inline constexpr int kHXConversationPageItems = 100;

// How much of a reply is read: a service that answers far more than was asked for (a page of
// 100,000 items to a request for 100) gets ten times the page it was asked for stored, no more.
struct HXThreadListBounds {
    size_t threads = SIZE_MAX;
    size_t itemsPerThread = SIZE_MAX;
    // Ten times a page of these sizes.
    static HXThreadListBounds forPage(size_t threads, size_t itemsPerThread) {
        return {10 * threads, 10 * itemsPerThread};
    }
};

// Whether a thread's "read" member marks it read: the one rule for every reader of thread lists
// (a missing, null or false member is unread).
bool HXThreadIsRead(const foundation::Value& read);

// Reads a parsed JSON reply. Threads without an id and items without an id are left out: they
// could never be matched again; so are threads and items beyond the bounds (counted).
HXThreadListReply HXReadThreadList(const foundation::Value& reply, HXThreadListBounds bounds = {});
// Reads reply bytes; an error when they are not a JSON object or array with content. Text that
// is not well-formed UTF-8 does not refuse the reply: each malformed byte reads as U+FFFD.
foundation::Result<HXThreadListReply> HXReadThreadList(std::string_view bytes, HXThreadListBounds bounds = {});
