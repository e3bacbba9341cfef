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

HXThreadItem readItem(const Value& item) {
    HXThreadItem out;
    out.id = stringOf(item["id"]);
    out.type = stringOf(item["type"]);
    out.mask = HXConversationStore::maskForItemType(out.type);
    if (out.type == "inbound" && !stringOf(item["attachment"].at(0)["callRecording"]["attachmentId"]).empty())
        out.mask = 16;
    out.startTime = integer(item["startTime"]);
    if (item["messageText"].isString()) out.messageText = item["messageText"].asString();
    const Value& mms = item["mmsMessage"];
    if (mms.isDictionary()) {
        out.hasMMS = true;
        out.mmsText = stringOf(mms["text"]);
        out.mmsSenderPhoneNumber = stringOf(mms["senderPhoneNumber"]);
        if (mms["attachment"].isArray()) out.attachments = mms["attachment"];
    }
    forEach(item["transcript"]["wordTokens"], [&](const Value& w) {
        if (w["word"].isString()) out.transcriptWords.push_back(w["word"].asString());
    });
    out.duration = integer(item["duration"]);
    return out;
}

}  // namespace

HXThreadListReply HXReadThreadList(const Value& reply) {
    HXThreadListReply out;
    out.errorCode = integer(reply["error"]["code"]);
    const Value& more = reply["response"]["conversation"];
    if (more.isArray())
        out.more = more.asArray().empty() ? HXThreadListReply::More::Empty : HXThreadListReply::More::Entries;
    else if (!more.isNull())
        out.more = HXThreadListReply::More::Entries;
    forEach(reply["thread"], [&](const Value& thread) {
        if (!thread.isDictionary()) return;
        HXThread t;
        t.id = stringOf(thread["id"]);
        if (t.id.empty()) return;
        if (thread["paginationToken"].isString()) t.paginationToken = thread["paginationToken"].asString();
        forEach(thread["view"], [&](const Value& view) {
            t.inSpam = t.inSpam || stringOf(view) == "allSpamThreads";
            t.inArchive = t.inArchive || stringOf(view) == "allArchivedThreads";
        });
        t.read = thread["read"].boolValue();
        const Value* last = nullptr;
        forEach(thread["contact"], [&](const Value& c) { last = &c; });
        if (last) {
            t.contactPhoneNumber = stringOf((*last)["phoneNumber"]);
            t.contactName = stringOf((*last)["name"]);
            t.contactBlocked = (*last)["blocked"].boolValue();
        }
        forEach(thread["headingContactsPhoneNumberKey"],
                [&](const Value& n) { t.headingNumbers.push_back(n.stringValue()); });
        if (thread["displayableCost"].isString()) t.displayableCost = thread["displayableCost"].asString();
        forEach(thread["item"], [&](const Value& item) {
            if (!item.isDictionary()) return;
            HXThreadItem i = readItem(item);
            if (!i.id.empty()) t.items.push_back(std::move(i));
        });
        out.threads.push_back(std::move(t));
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
