#include "emulator/incoming_texts.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace emulator {

namespace {

constexpr const char* kTexts[] = {
    "Are you free for a call later?",           "Running ten minutes late, sorry",
    "Did you see the photos I sent?",           "The meeting moved to 3 pm",
    "Can you pick up some bread on the way?",   "Thanks again for yesterday!",
    "Your table for two is confirmed for 7:30", "Call me when you land",
};

Thread* newestSingleNumberTextThread(Account& a) {
    Thread* newest = nullptr;
    for (auto& t : a.threads) {
        if (!t.isText() || t.numbers.size() != 1 || t.spam || t.archived || t.blocked) continue;
        if (!newest || t.lastTimeMs() > newest->lastTimeMs()) newest = &t;
    }
    return newest;
}

// "+1555014NNNN": the first such number no thread of the account holds.
std::string unusedNumber(Account& a) {
    for (int n = 0;; ++n) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "+1555014%04d", n % 10000);
        const std::string number = buf;
        const bool used = std::any_of(a.threads.begin(), a.threads.end(), [&](const Thread& t) {
            return std::find(t.numbers.begin(), t.numbers.end(), number) != t.numbers.end();
        });
        if (!used || n >= 10000) return number;
    }
}

}  // namespace

DeliveredText deliverText(Account& a, bool fromNewNumber, int64_t nowMs) {
    Thread* thread = fromNewNumber ? nullptr : newestSingleNumberTextThread(a);
    if (!thread) {
        Thread fresh;
        fresh.numbers = {unusedNumber(a)};
        fresh.id = "t." + fresh.numbers.front();
        a.threads.push_back(std::move(fresh));
        thread = &a.threads.back();
    }
    const uint64_t number = a.nextItemNumber++;
    Message m;
    char id[32];
    std::snprintf(id, sizeof id, "r%010llx", static_cast<unsigned long long>(number));
    m.id = id;
    m.type = "smsIn";
    m.fromNumber = thread->numbers.front();
    m.text = kTexts[number % std::size(kTexts)];
    // Newer than anything the account holds, whatever the generated times were.
    int64_t newest = 0;
    for (const auto& t : a.threads) newest = std::max(newest, t.lastTimeMs());
    m.startTimeMs = std::max(nowMs, newest + 1000);
    thread->items.push_back(m);
    thread->read = false;
    return {thread->id, m.fromNumber, m.text};
}

}  // namespace emulator
