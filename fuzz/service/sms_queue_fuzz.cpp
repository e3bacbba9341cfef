// The queue of unsent messages as the preferences hold it ("smsQueue", a property list of any
// shape), drained as at a launch: nothing crashes, and the account's queue afterwards holds
// exactly its entries (every dictionary, also one marked as under way when the app was killed),
// with their texts and ids, under new keys above every old one, none still marked as deferred or
// under way; other accounts' queues are left as they were.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/service/app_fuzz_support.h"
#include "platform/foundation/property_list.h"
#include "service/sms_sending.h"

namespace {

uint64_t keyNumber(const std::string& key) {
    uint64_t n = 0;
    auto [p, ec] = std::from_chars(key.data(), key.data() + key.size(), n);
    return ec == std::errc() && p == key.data() + key.size() ? n : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::AppUnderFuzz fuzz;
    auto stored = foundation::readPropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!stored.ok()) return 0;
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    (void)defaults->setObject(stored.value(), "smsQueue");
    const std::string user = fuzz.app->account()->username();
    const foundation::Value before = defaults->objectForKey("smsQueue");

    // What the drain must keep: the texts and ids of the waiting entries, and the largest key.
    std::vector<std::string> waitingTexts;
    std::vector<int64_t> keptIds;
    uint64_t largest = 0;
    const foundation::Value& mine = before.isDictionary() ? before.asDictionary().get(user) : foundation::Value();
    if (mine.isDictionary()) {
        for (const auto& [key, entry] : mine.asDictionary()) {
            largest = std::max(largest, keyNumber(key.string()));
            if (!entry.isDictionary()) continue;
            waitingTexts.push_back(entry["message"].stringValue());
            if (entry["randomID"].isInt()) keptIds.push_back(entry["randomID"].int64Value());
        }
    }

    auto sender = HXMessageSender::of(fuzz.app);
    sender->sendQueuedSMS();
    const foundation::Value after = defaults->objectForKey("smsQueue");
    const foundation::Dictionary queue = sender->accountQueue();
    if (queue.size() != waitingTexts.size()) std::abort();
    std::vector<std::string> texts;
    std::vector<int64_t> ids;
    for (const auto& [key, entry] : queue) {
        if (keyNumber(key.string()) <= largest && largest > 0) std::abort();
        if (!entry.isDictionary() || entry.asDictionary().contains("queued") ||
            entry.asDictionary().contains("backgroundTaskID"))
            std::abort();
        if (!entry["randomID"].isInt()) std::abort();
        texts.push_back(entry["message"].stringValue());
        ids.push_back(entry["randomID"].int64Value());
    }
    std::sort(texts.begin(), texts.end());
    std::sort(waitingTexts.begin(), waitingTexts.end());
    if (texts != waitingTexts) std::abort();
    for (int64_t id : keptIds)
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) std::abort();
    // Other accounts' queues are theirs.
    if (before.isDictionary())
        for (const auto& [name, theirs] : before.asDictionary()) {
            if (name.string() == user) continue;
            if (!after.isDictionary() || after.asDictionary().get(name) != theirs) std::abort();
        }
    fuzz.settle();
    defaults->removeObjectForKey("smsQueue");
    return 0;
}
