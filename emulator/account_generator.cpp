// The deterministic account of the emulated service. Every draw comes from one SplitMix64
// stream seeded by the options, so the same seed yields the same account everywhere.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "emulator/emulator.h"

namespace emulator {

namespace {

struct Stream {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (n > 0); the tiny modulo bias does not matter to a test account.
    uint64_t below(uint64_t n) { return next() % n; }
    bool chance(int percent) { return below(100) < static_cast<uint64_t>(percent); }
};

constexpr const char* kWords[] = {"hello", "there", "see",   "you",     "at",   "the",     "station", "tomorrow",
                                  "call",  "me",    "back",  "when",    "free", "thanks",  "for",     "lunch",
                                  "ok",    "sure",  "on",    "my",      "way",  "running", "late",    "meeting",
                                  "moved", "to",    "three", "o'clock", "café", "über",    "great",   "news"};
constexpr const char* kNames[] = {"Ada Lovelace",   "Grace Hopper", "Alan Turing",   "Edsger Dijkstra",
                                  "Barbara Liskov", "Donald Knuth", "Frances Allen", "Ken Thompson"};

std::string sentence(Stream& s, int minWords, int maxWords) {
    int n = minWords + static_cast<int>(s.below(static_cast<uint64_t>(maxWords - minWords + 1)));
    std::string out;
    for (int i = 0; i < n; ++i) {
        if (i) out += ' ';
        out += kWords[s.below(std::size(kWords))];
    }
    // Texts that must survive every escaping on their way through the client.
    if (s.chance(3)) out += " \"quoted\" \\ back\nslash";
    return out;
}

// Unique per index: 7919 is prime to 9000000.
std::string numberFor(uint64_t index) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "+1555%07llu", static_cast<unsigned long long>(1000000 + (index * 7919) % 9000000));
    return buf;
}

std::string itemId(Account& a, char kind) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%c%010llx", kind, static_cast<unsigned long long>(a.nextItemNumber++));
    return buf;
}

enum class Kind { Text, Voicemail, Call };

Thread makeThread(Account& a, Stream& s, Kind kind, uint64_t index, int64_t lastTimeMs, int items) {
    Thread t;
    const bool group = kind == Kind::Text && index % 25 == 7;
    t.numbers.push_back(numberFor(index));
    if (group) t.numbers.push_back(numberFor(index + 5000000));
    t.id = "t.";
    for (size_t i = 0; i < t.numbers.size(); ++i) t.id += (i ? "," : "") + t.numbers[i];
    if (kind != Kind::Text) t.id += kind == Kind::Voicemail ? ".vm" : ".call";
    t.read = !s.chance(30);
    if (s.chance(50)) t.contactName = kNames[s.below(std::size(kNames))];
    std::vector<int64_t> times(static_cast<size_t>(std::max(items, 1)));
    times.back() = lastTimeMs;
    for (size_t i = times.size() - 1; i > 0; --i)
        times[i - 1] = times[i] - 1000 - static_cast<int64_t>(s.below(600000));
    for (int64_t when : times) {
        Message m;
        m.startTimeMs = when;
        switch (kind) {
            case Kind::Text: {
                bool out = s.chance(40);
                m.type = out ? "smsOut" : "smsIn";
                m.id = itemId(a, 'm');
                m.text = sentence(s, 1, 12);
                if (!out) m.fromNumber = t.numbers[s.below(t.numbers.size())];
                if (s.chance(4)) {
                    Attachment p{"img" + m.id, "image/jpeg"};
                    a.media[p.id] = {"image/jpeg", "\xFF\xD8\xFF\xE0" + p.id};
                    m.attachments.push_back(p);
                }
                break;
            }
            case Kind::Voicemail:
                m.type = s.chance(80) ? "voicemail" : "recording";
                m.id = itemId(a, 'v');
                m.fromNumber = t.numbers.front();
                m.durationSeconds = 3 + static_cast<int>(s.below(180));
                m.text = s.chance(85) ? sentence(s, 3, 20) : "";
                if (m.type == "recording") m.attachments.push_back({"rec" + m.id, "audio/mpeg"});
                a.media[m.id] = {"audio/mpeg", "ID3\x03" + m.id};
                break;
            case Kind::Call: {
                static constexpr const char* kCalls[] = {"missed", "inbound", "callReturn"};
                m.type = kCalls[s.below(3)];
                m.id = itemId(a, 'c');
                if (m.type != "callReturn") m.fromNumber = t.numbers.front();
                m.durationSeconds = m.type == "missed" ? 0 : static_cast<int>(s.below(3600));
                break;
            }
        }
        t.items.push_back(std::move(m));
    }
    return t;
}

}  // namespace

Account generateAccount(const GeneratorOptions& o) {
    Account a;
    Stream s{o.seed};
    a.phones = {{"Mobile", "+15550111", true, true},
                {"Office", "+15550122", false, true},
                {"Old phone", "+15550123", false, false}};
    a.voipDevices = {{"Tablet", "sip:tablet-1", "hxIos", true}};
    const int total = o.smsThreads + o.voicemailThreads + o.callThreads;
    std::vector<Kind> kinds;
    kinds.insert(kinds.end(), static_cast<size_t>(o.smsThreads), Kind::Text);
    kinds.insert(kinds.end(), static_cast<size_t>(o.voicemailThreads), Kind::Voicemail);
    kinds.insert(kinds.end(), static_cast<size_t>(o.callThreads), Kind::Call);
    // Mixed in time: a shuffle by the stream (Fisher-Yates).
    for (size_t i = kinds.size(); i > 1; --i) std::swap(kinds[i - 1], kinds[s.below(i)]);
    int64_t when = o.newestTimeMs;
    a.threads.reserve(static_cast<size_t>(total));
    for (int i = 0; i < total; ++i) {
        a.threads.push_back(makeThread(a, s, kinds[static_cast<size_t>(i)], static_cast<uint64_t>(i), when,
                                       kinds[static_cast<size_t>(i)] == Kind::Text ? o.itemsPerThread : 1));
        // At least a whole second apart, so that a page bound in seconds never splits two threads.
        when -= 2000 + static_cast<int64_t>(s.below(90000));
    }
    // Spam and archived threads: numbers past the others', times anywhere in the span (odd
    // milliseconds, so no time equals one of the others', which are whole seconds apart).
    Stream filed{o.seed ^ 0x5A5A17C3ull};
    const int64_t span = std::max<int64_t>(o.newestTimeMs - when, 2000);
    for (int i = 0; i < o.spamThreads + o.archivedThreads; ++i) {
        const int64_t last = (o.newestTimeMs - static_cast<int64_t>(filed.below(static_cast<uint64_t>(span)))) | 1;
        Thread t = makeThread(a, filed, Kind::Text, static_cast<uint64_t>(total + i), last, o.itemsPerThread);
        (i < o.spamThreads ? t.spam : t.archived) = true;
        a.threads.push_back(std::move(t));
    }
    return a;
}

void addGeneratedTextThreads(Account& a, uint64_t seed, int count, int itemsPerThread) {
    Stream s{seed ^ 0xA5A5A5A5ull};
    int64_t newest = 0;
    for (const auto& t : a.threads) newest = std::max(newest, t.lastTimeMs());
    // Indexes past any the generator used keep the numbers (and so the ids) new.
    uint64_t index = 1000000 + a.nextItemNumber;
    for (int i = 0; i < count; ++i) {
        newest += 2000 + static_cast<int64_t>(s.below(60000));
        a.threads.push_back(makeThread(a, s, Kind::Text, index + static_cast<uint64_t>(i), newest, itemsPerThread));
    }
}

}  // namespace emulator
