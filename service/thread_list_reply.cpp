#include "service/thread_list_reply.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
#include "service/conversation_store.h"

namespace {

using foundation::Value;

// The readers below serve a tree the caller shares (const Value: strings and lists are copied
// out) and one this file parsed and owns (Value: they are moved out, which leaves the tree with
// empty strings and nulls where they were). A list reply holds tens of thousands of strings.

// The string, or "" for anything else.
std::string text(const Value& v) {
    const auto* s = v.ifString();
    return s ? *s : std::string();
}
std::string text(Value& v) {
    auto* s = v.ifString();
    return s ? std::move(*s) : std::string();
}

// The value itself.
Value take(const Value& v) { return v; }
Value take(Value& v) { return std::move(v); }

// The member of a dictionary, or nullptr.
template <typename V>
V* member(V& v, std::string_view name) {
    auto* d = v.ifDictionary();
    return d ? d->find(foundation::Key(name)) : nullptr;
}

// Milliseconds or seconds from a number or a decimal string (the JSON API writes 64-bit values
// as text); 0 for anything else.
int64_t integer(const Value& v) {
    if (const auto* s = v.ifString()) {
        int64_t out = 0;
        auto [p, ec] = std::from_chars(s->data(), s->data() + s->size(), out);
        return ec == std::errc() && p == s->data() + s->size() ? out : 0;
    }
    if (v.isInt() || v.isDouble()) return v.int64Value();
    return 0;
}

bool isString(const Value& v, std::string_view s) {
    const auto* own = v.ifString();
    return own && *own == s;
}

// A list that may also come as a single object.
template <typename V, typename F>
void forEach(V* v, F&& f) {
    if (!v) return;
    if (auto* a = v->ifArray()) {
        for (auto& e : *a) f(e);
    } else if (v->isDictionary()) {
        f(*v);
    }
}

template <typename V>
void readItem(V& item, HXThreadItem& out) {
    bool callRecording = false;
    // One pass over the members an item has, rather than a search for each member an item may
    // have: a list reply holds thousands of items.
    for (auto& [key, value] : *item.ifDictionary()) {
        const std::string_view name = key.string();
        if (name == "id") {
            out.id = text(value);
        } else if (name == "type") {
            out.type = text(value);
        } else if (name == "startTime") {
            out.startTime = integer(value);
        } else if (name == "messageText") {
            if (value.isString()) out.messageText = text(value);
        } else if (name == "mmsMessage" && value.isDictionary()) {
            out.hasMMS = true;
            if (auto* t = member(value, "text")) out.mmsText = text(*t);
            if (auto* n = member(value, "senderPhoneNumber")) out.mmsSenderPhoneNumber = text(*n);
            if (auto* a = member(value, "attachment"); a && a->isArray()) out.attachments = take(*a);
        } else if (name == "transcript") {
            forEach(member(value, "wordTokens"), [&](auto& w) {
                auto* word = member(w, "word");
                if (word && word->isString()) out.transcriptWords.push_back(text(*word));
            });
        } else if (name == "duration") {
            out.duration = integer(value);
        } else if (name == "attachment") {
            callRecording = !value.at(0)["callRecording"]["attachmentId"].asString().empty();
        }
    }
    out.mask = out.type == "inbound" && callRecording ? 16 : HXConversationStore::maskForItemType(out.type);
}

// What a reading keeps to and counts.
struct Limits {
    HXThreadListBounds bounds;
    HXThreadListReply& reply;
};

// Like an item, a thread is read in one pass over its members.
template <typename V>
void readThread(V& thread, HXThread& out, Limits& limits) {
    for (auto& [key, value] : *thread.ifDictionary()) {
        const std::string_view name = key.string();
        if (name == "id") {
            out.id = text(value);
        } else if (name == "paginationToken") {
            if (value.isString()) out.paginationToken = text(value);
        } else if (name == "view") {
            forEach(&value, [&](const Value& view) {
                out.inSpam = out.inSpam || isString(view, "allSpamThreads");
                out.inArchive = out.inArchive || isString(view, "allArchivedThreads");
            });
        } else if (name == "read") {
            out.read = HXThreadIsRead(value);
        } else if (name == "contact") {
            V* last = nullptr;
            forEach(&value, [&](auto& c) { last = &c; });
            if (last) {
                if (auto* n = member(*last, "phoneNumber")) out.contactPhoneNumber = text(*n);
                if (auto* n = member(*last, "name")) out.contactName = text(*n);
                out.contactBlocked = (*last)["blocked"].boolValue();
            }
        } else if (name == "headingContactsPhoneNumberKey") {
            forEach(&value, [&](auto& n) { out.headingNumbers.push_back(n.isString() ? text(n) : n.stringValue()); });
        } else if (name == "displayableCost") {
            if (value.isString()) out.displayableCost = text(value);
        } else if (name == "item") {
            out.items.reserve(std::min(value.asArray().size(), limits.bounds.itemsPerThread));
            forEach(&value, [&](auto& item) {
                if (!item.isDictionary()) return;
                if (out.items.size() >= limits.bounds.itemsPerThread) {
                    ++limits.reply.itemsBeyondBound;
                    out.itemsCut = true;
                    return;
                }
                // Read in place: an item record is large, and most items are kept.
                readItem(item, out.items.emplace_back());
                const int64_t start = out.items.back().startTime;
                if (start > 0) out.newestStartTime = std::max(out.newestStartTime.value_or(start), start);
                if (out.items.back().id.empty()) {
                    ++limits.reply.itemsWithoutID;
                    out.items.pop_back();
                }
            });
        }
    }
}

// The reply's members other than its threads.
template <typename V>
void readReplyFacts(V& reply, HXThreadListReply& out) {
    out.errorCode = integer(reply["error"]["code"]);
    const Value& more = reply["response"]["conversation"];
    if (more.isArray())
        out.more = more.asArray().empty() ? HXThreadListReply::More::Empty : HXThreadListReply::More::Entries;
    else if (!more.isNull())
        out.more = HXThreadListReply::More::Entries;
    out.saysLastPage = reply["response"].isDictionary() && more.isNull();
}

template <typename V>
void readThreadInto(V& thread, Limits& limits) {
    if (!thread.isDictionary()) return;
    auto& threads = limits.reply.threads;
    if (threads.size() >= limits.bounds.threads) {
        ++limits.reply.threadsBeyondBound;
        return;
    }
    readThread(thread, threads.emplace_back(), limits);
    auto& reply = limits.reply;
    if (auto t = threads.back().newestStartTime)
        reply.earliestThreadTime = std::min(reply.earliestThreadTime.value_or(*t), *t);
    if (threads.back().id.empty()) {
        ++reply.threadsWithoutID;
        threads.pop_back();
    }
}

// A list (again: a repeated member, of which the last counts) starts afresh.
void restartThreads(Limits& limits) {
    limits.reply.threads.clear();
    limits.reply.threadsBeyondBound = 0;
    limits.reply.itemsBeyondBound = 0;
    limits.reply.threadsWithoutID = 0;
    limits.reply.itemsWithoutID = 0;
    limits.reply.earliestThreadTime.reset();
}

// The reply's facts and the threads its tree holds. A "thread" member that is not a list (a single
// thread object, as some replies send one) stands for any threads read before: the last counts.
template <typename V>
void readReply(V& reply, Limits& limits) {
    auto& out = limits.reply;
    readReplyFacts(reply, out);
    V* threads = member(reply, "thread");
    if (!threads) return;
    if (!threads->isArray()) restartThreads(limits);
    out.threads.reserve(out.threads.size() +
                        std::min(threads->isArray() ? threads->asArray().size() : 1, limits.bounds.threads));
    forEach(threads, [&](V& thread) { readThreadInto(thread, limits); });
}

foundation::Result<HXThreadListReply> readBytes(std::string_view bytes, HXThreadListBounds bounds) {
    // Each thread is read as soon as it is parsed, its strings and lists moved into its record,
    // and its tree freed: a list of ten thousand threads is never held twice.
    HXThreadListReply out;
    Limits limits{bounds, out};
    foundation::JSONArraySink threads{[&] { restartThreads(limits); },
                                      [&](Value& thread) { readThreadInto(thread, limits); }};
    auto parsed = foundation::parseJSON(bytes, "thread", threads);
    if (!parsed.ok()) return parsed.error();
    Value& v = parsed.value();
    if (!(v.isDictionary() || v.isArray()) || v.size() == 0)
        return foundation::Error::withDescription("HXThreadList", 1, "the reply holds no thread list");
    // A streamed list is left empty in the tree; a single thread object is still there.
    readReply(v, limits);
    if (out.threadsBeyondBound) out.saysLastPage = false;
    return out;
}

}  // namespace

bool HXThreadIsRead(const Value& read) { return read.boolValue(); }

HXThreadListReply HXReadThreadList(const Value& reply, HXThreadListBounds bounds) {
    HXThreadListReply out;
    Limits limits{bounds, out};
    readReply(reply, limits);
    if (out.threadsBeyondBound) out.saysLastPage = false;
    return out;
}

foundation::Result<HXThreadListReply> HXReadThreadList(std::string_view bytes, HXThreadListBounds bounds) {
    auto read = readBytes(bytes, bounds);
    if (read.ok() || foundation::isValidUtf8(bytes)) return read;
    // One bad byte in one message's text must not cost the page: a reply that is not well-formed
    // UTF-8 is read again with each malformed byte as U+FFFD (a well-formed reply, the usual one,
    // is read once and never copied).
    size_t replaced = 0;
    const std::string repaired = foundation::utf8Repaired(bytes, &replaced);
    read = readBytes(repaired, bounds);
    if (read.ok()) read.value().replacedSequences = replaced;
    return read;
}
