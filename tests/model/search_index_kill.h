// What the search index's kill test and its child process share: the account, where the index is
// kept, and the batches of messages the child saves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "model/message_store.h"
#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/predicate.h"

namespace hxkill {

inline constexpr const char* kUser = "kill@example.test";

inline std::filesystem::path indexFile(const std::filesystem::path& home) {
    return home / "Library" / "SearchIndex" / "index.db";
}

// Batch b into context (on its queue): a new conversation "c<b>" of a few dozen to a few hundred
// messages (every fifth a voicemail, every fourth without a contact name, so that its number is
// formatted), and from the third batch on, every third also brings new messages to the
// conversation of the batch before, which the store already holds.
inline void fillBatch(store::Context& context, int b) {
    constexpr int64_t kEpoch = 1'700'000'000'000;
    auto add = [&](const store::ManagedObjectPtr& conversation, int64_t number, const std::string& text) {
        auto m = context.insertNewObject(HXMessageStore::kMessageEntity).value();
        (void)m->setValue("id", "m" + std::to_string(number));
        (void)m->setValue("number", number);
        (void)m->setValue("from", number % 3 == 0);
        (void)m->setValue("message", text);
        (void)m->setObject("Conversation", conversation);
    };
    auto c = context.insertNewObject(HXMessageStore::kConversationEntity).value();
    (void)c->setValue("conversationID", "c" + std::to_string(b));
    (void)c->setValue("type", int64_t{b % 5 == 4 ? 2 : 10 + b % 2});
    (void)c->setValue("isRead", true);
    (void)c->setValue("phoneNumber", "+1202555" + std::to_string(1000 + b % 9000));
    if (b % 4 != 3) (void)c->setValue("ABName", "Kim " + std::to_string(b));
    const int messages = 40 + (b * 37) % 320;
    for (int i = 0; i < messages; ++i)
        add(c, kEpoch + int64_t{b} * 1000 + i, "batch " + std::to_string(b) + " text " + std::to_string(i));
    if (b < 2 || b % 3 != 2) return;
    store::FetchRequest request(HXMessageStore::kConversationEntity);
    request.predicate =
        store::Predicate::parse("conversationID==%@", {foundation::Value("c" + std::to_string(b - 1))}).value();
    auto before = context.fetch(request);
    if (!before.ok() || before->empty()) return;
    for (int i = 0; i < 25; ++i)
        add(before->front(), kEpoch + int64_t{b - 1} * 1000 + 500 + i,
            "later " + std::to_string(b - 1) + " text " + std::to_string(i));
}

}  // namespace hxkill
