#include "service/thread_list_reply.h"

#include <charconv>

#include "platform/foundation/json.h"
#include "service/conversation_store.h"

namespace {

using foundation::Value;

std::string stringOf(const Value& v) { return v.isString() ? v.asString() : std::string(); }

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

// A list that may also come as a single object.
template <typename F>
void forEach(const Value& v, F&& f) {
    if (const auto* a = v.ifArray()) {
        for (const auto& e : *a) f(e);
    } else if (v.isDictionary()) {
        f(v);
    }
}

HXThreadItem readItem(const foundation::Dictionary& item) {
    HXThreadItem out;
    bool callRecording = false;
    // One pass over the members an item has, rather than a search for each member an item may
    // have: a list reply holds thousands of items.
    for (const auto& [key, value] : item) {
        const std::string& name = key.string();
        if (name == "id") {
            out.id = stringOf(value);
        } else if (name == "type") {
            out.type = stringOf(value);
        } else if (name == "startTime") {
            out.startTime = integer(value);
        } else if (name == "messageText") {
            if (value.isString()) out.messageText = value.asString();
        } else if (name == "mmsMessage" && value.isDictionary()) {
            out.hasMMS = true;
            out.mmsText = stringOf(value["text"]);
            out.mmsSenderPhoneNumber = stringOf(value["senderPhoneNumber"]);
            if (value["attachment"].isArray()) out.attachments = value["attachment"];
        } else if (name == "transcript") {
            forEach(value["wordTokens"], [&](const Value& w) {
                if (w["word"].isString()) out.transcriptWords.push_back(w["word"].asString());
            });
        } else if (name == "duration") {
            out.duration = integer(value);
        } else if (name == "attachment") {
            callRecording = !stringOf(value.at(0)["callRecording"]["attachmentId"]).empty();
        }
    }
    out.mask = out.type == "inbound" && callRecording ? 16 : HXConversationStore::maskForItemType(out.type);
    return out;
}

// Like an item, a thread is read in one pass over its members.
HXThread readThread(const foundation::Dictionary& thread) {
    HXThread out;
    for (const auto& [key, value] : thread) {
        const std::string& name = key.string();
        if (name == "id") {
            out.id = stringOf(value);
        } else if (name == "paginationToken") {
            if (value.isString()) out.paginationToken = value.asString();
        } else if (name == "view") {
            forEach(value, [&](const Value& view) {
                out.inSpam = out.inSpam || stringOf(view) == "allSpamThreads";
                out.inArchive = out.inArchive || stringOf(view) == "allArchivedThreads";
            });
        } else if (name == "read") {
            out.read = HXThreadIsRead(value);
        } else if (name == "contact") {
            const Value* last = nullptr;
            forEach(value, [&](const Value& c) { last = &c; });
            if (last) {
                out.contactPhoneNumber = stringOf((*last)["phoneNumber"]);
                out.contactName = stringOf((*last)["name"]);
                out.contactBlocked = (*last)["blocked"].boolValue();
            }
        } else if (name == "headingContactsPhoneNumberKey") {
            forEach(value, [&](const Value& n) { out.headingNumbers.push_back(n.stringValue()); });
        } else if (name == "displayableCost") {
            if (value.isString()) out.displayableCost = value.asString();
        } else if (name == "item") {
            out.items.reserve(value.asArray().size());
            forEach(value, [&](const Value& item) {
                if (!item.isDictionary()) return;
                HXThreadItem i = readItem(item.asDictionary());
                if (!i.id.empty()) out.items.push_back(std::move(i));
            });
        }
    }
    return out;
}

}  // namespace

bool HXThreadIsRead(const Value& read) { return read.boolValue(); }

HXThreadListReply HXReadThreadList(const Value& reply) {
    HXThreadListReply out;
    out.errorCode = integer(reply["error"]["code"]);
    const Value& more = reply["response"]["conversation"];
    if (more.isArray())
        out.more = more.asArray().empty() ? HXThreadListReply::More::Empty : HXThreadListReply::More::Entries;
    else if (!more.isNull())
        out.more = HXThreadListReply::More::Entries;
    out.saysLastPage = reply["response"].isDictionary() && more.isNull();
    out.threads.reserve(reply["thread"].asArray().size());
    forEach(reply["thread"], [&](const Value& thread) {
        if (!thread.isDictionary()) return;
        HXThread t = readThread(thread.asDictionary());
        if (!t.id.empty()) out.threads.push_back(std::move(t));
    });
    return out;
}

foundation::Result<HXThreadListReply> HXReadThreadList(std::string_view bytes) {
    auto parsed = foundation::parseJSON(bytes);
    if (!parsed.ok()) return parsed.error();
    const Value& v = parsed.value();
    if (!(v.isDictionary() || v.isArray()) || v.size() == 0)
        return foundation::Error::withDescription("HXThreadList", 1, "the reply holds no thread list");
    return HXReadThreadList(v);
}
