// The deterministic account of the emulated service. Every draw comes from one SplitMix64
// stream seeded by the options, so the same seed yields the same account everywhere.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "emulator/emulator.h"
#include "emulator/media_pictures.h"
#include "platform/foundation/strings.h"

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

// The original size of generated pictures (the lists announce their "s512" copy, 512 x 384).
constexpr int kPictureWidth = 1024;
constexpr int kPictureHeight = 768;

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
                    // Drawn when first asked for, at the original size the lists announce.
                    a.media[p.id] = {.mimeType = "image/jpeg", .width = kPictureWidth, .height = kPictureHeight};
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

constexpr const char* kRightToLeft[] = {
    "\u0645\u0631\u062D\u0628\u0627 \u0643\u064A\u0641 \u062D\u0627\u0644\u0643\u061F",
    "\u0633\u0623\u0635\u0644 \u0627\u0644\u0633\u0627\u0639\u0629 3 \u0645\u0633\u0627\u0621\u064B",
    "\u05E9\u05DC\u05D5\u05DD, \u05DE\u05D4 \u05E9\u05DC\u05D5\u05DE\u05DA?",
    "\u05E0\u05E4\u05D2\u05E9 \u05D1-10 \u05DC\u05D9\u05D3 \u05D4\u05EA\u05D7\u05E0\u05D4",
    "\u0627\u062A\u0635\u0644 \u0628\u064A \u0639\u0644\u0649 +44 20 7946 0958",
};

constexpr const char* kConversationIdTag = "conv";

// A text thread of the conversation set: numbers past every other thread's, its own id tag.
Thread conversationThread(Account& a, Stream& s, uint64_t index, int64_t lastTimeMs, int items, const char* tag) {
    Thread t = makeThread(a, s, Kind::Text, index, lastTimeMs, items);
    t.id += std::string(".") + kConversationIdTag + "." + tag;
    return t;
}

void addConversationThreads(Account& a, uint64_t seed, int firstIndex, int64_t newestTimeMs) {
    Stream s{seed ^ 0xC0417E55ull};
    uint64_t index = static_cast<uint64_t>(firstIndex) + 100;
    int64_t when = newestTimeMs + 60000;
    a.threads.push_back(conversationThread(a, s, index++, when, 1000, "long"));
    a.threads.push_back(conversationThread(a, s, index++, when += 5000, 350, "350"));

    Thread rtl = conversationThread(a, s, index++, when += 5000, 12, "rtl");
    for (size_t i = 0; i < rtl.items.size(); ++i)
        if (i % 3 != 2)
            rtl.items[i].text = kRightToLeft[(i + s.below(std::size(kRightToLeft))) % std::size(kRightToLeft)];
    a.threads.push_back(std::move(rtl));

    // One message per kind of attachment, oldest first.
    Thread media = conversationThread(a, s, index++, when += 5000, 9, "media");
    struct AttachmentKind {
        const char* mimeType;
        const char* vcard;  // the card's name for "text/x-vcard"
    };
    const AttachmentKind kinds[] = {
        {"image/jpeg", nullptr},          {"image/gif", nullptr},       {"text/x-vcard", "person"},
        {"text/x-vcard", "organisation"}, {"text/x-vcard", "three"},    {"video/mp4", nullptr},
        {"audio/amr", nullptr},           {"application/pdf", nullptr}, {"image/jpeg", nullptr}};
    for (size_t i = 0; i < media.items.size() && i < std::size(kinds); ++i) {
        Message& m = media.items[i];
        m.attachments.clear();
        Attachment p{"att" + m.id, kinds[i].mimeType};
        if (foundation::hasPrefix(p.mimeType, "image/"))
            a.media[p.id] = {.mimeType = p.mimeType,
                             .width = p.mimeType == "image/gif" ? 480 : kPictureWidth,
                             .height = p.mimeType == "image/gif" ? 360 : kPictureHeight};
        else if (kinds[i].vcard)
            a.media[p.id] = {.mimeType = p.mimeType, .bytes = vCardNamed(kinds[i].vcard)};
        else
            a.media[p.id] = {.mimeType = p.mimeType, .bytes = std::string(kinds[i].mimeType) + " bytes of " + p.id};
        m.attachments.push_back(std::move(p));
    }
    a.threads.push_back(std::move(media));

    // A call history with one item of every call type.
    Thread calls = makeThread(a, s, Kind::Call, index++, when += 5000, static_cast<int>(callItemTypes().size()));
    calls.id += std::string(".") + kConversationIdTag + ".calls";
    for (size_t i = 0; i < calls.items.size(); ++i) {
        Message& m = calls.items[i];
        m.type = callItemTypes()[i];
        m.fromNumber = m.type == "missed" || m.type == "inbound" ? calls.numbers.front() : "";
        m.durationSeconds = m.type == "missed" ? 0 : 30 + static_cast<int>(i) * 7;
    }
    a.threads.push_back(std::move(calls));
}

}  // namespace

const std::vector<std::string>& callItemTypes() {
    static const std::vector<std::string> types = {"missed",
                                                   "inbound",
                                                   "callReturn",
                                                   "click2call",
                                                   "chatCall",
                                                   "managedCall",
                                                   "mobileDialerCallThrough",
                                                   "shadowNumberCall",
                                                   "webCall",
                                                   "partnerOutboundCallCarrier",
                                                   "sip"};
    return types;
}

std::vector<std::string> conversationThreadIds(const Account& account) {
    std::vector<std::string> ids;
    for (const char* tag : {"long", "350", "rtl", "media", "calls"}) {
        const std::string suffix = std::string(".") + kConversationIdTag + "." + tag;
        for (const Thread& t : account.threads)
            if (foundation::hasSuffix(t.id, suffix)) ids.push_back(t.id);
    }
    return ids;
}

void addConversationThreadsOnce(Account& a, uint64_t seed) {
    if (!conversationThreadIds(a).empty()) return;
    int64_t newest = 0;
    for (const auto& t : a.threads) newest = std::max(newest, t.lastTimeMs());
    addConversationThreads(a, seed, static_cast<int>(a.threads.size()), newest);
}

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
    if (o.conversationThreads)
        addConversationThreads(a, o.seed, total + o.spamThreads + o.archivedThreads, o.newestTimeMs);
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
