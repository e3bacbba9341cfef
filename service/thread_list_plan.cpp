#include "service/thread_list_plan.h"

#include <algorithm>
#include <climits>
#include <string_view>

#include "platform/foundation/flat_map.h"
#include "platform/foundation/format.h"
#include "service/conversation_store.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

namespace CS = HXConversationStore;
using foundation::Value;

enum ParseFlags : int { SpamList = 1, ArchiveList = 2, ConversationReload = 4, NewestPage = 8 };

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

std::string trimLineBreaks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isLineBreak(s[b])) ++b;
    while (e > b && isLineBreak(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

// A message's length as the lists show it: minutes and seconds for voicemail and recordings,
// else rounded seconds or minutes. A reply's items share a few lengths (texts have none), so each
// text is made once per parse.
class LengthTexts {
public:
    LengthTexts(const std::string& secondFormat, const std::string& minuteFormat)
        : secondFormat_(secondFormat), minuteFormat_(minuteFormat) {}
    const std::string& text(bool voicemail, int64_t duration) {
        auto [slot, added] = (voicemail ? voicemail_ : others_).try_emplace(duration);
        if (added) slot->second = make(voicemail, duration);
        return slot->second;
    }

private:
    std::string make(bool voicemail, int64_t duration) const {
        if (voicemail) return foundation::format("%d:%02d", duration / 60, duration % 60);
        if (duration < 60) return foundation::format(secondFormat_, duration, duration == 1 ? "" : "s");
        const int64_t minutes = (duration + 30) / 60;
        return foundation::format(minuteFormat_, minutes, minutes == 1 ? "" : "s");
    }
    std::unordered_map<int64_t, std::string> voicemail_, others_;
    const std::string& secondFormat_;
    const std::string& minuteFormat_;
};

// The ids a reply lists (threads, or a conversation page's items): one per thread of the list.
using SeenIDs = foundation::FlatMap<std::string_view, bool>;

// A conversation's message ids. A list's conversations mostly hold a few, looked through in
// place; one that holds many (a conversation page) gets a table.
class MessageIDs {
public:
    // Only on an empty set.
    void reserve(size_t n) {
        if (n > kFew) {
            many_ = true;
            table_.reserve(n);
        } else {
            few_.reserve(n);
        }
    }
    // False when id is there already.
    bool insert(std::string_view id) {
        if (many_) return table_.emplace(id, true).second;
        if (std::find(few_.begin(), few_.end(), id) != few_.end()) return false;
        if (few_.size() < kFew) {
            few_.push_back(id);
            return true;
        }
        many_ = true;
        for (std::string_view known : few_) table_.emplace(known, true);
        std::vector<std::string_view>().swap(few_);
        return table_.emplace(id, true).second;
    }
    void erase(std::string_view id) {
        if (many_) {
            table_.erase(id);
        } else if (auto it = std::find(few_.begin(), few_.end(), id); it != few_.end()) {
            few_.erase(it);
        }
    }

private:
    static constexpr size_t kFew = 16;
    bool many_ = false;
    std::vector<std::string_view> few_;
    foundation::FlatMap<std::string_view, bool> table_;
};

// What the plan knows of a conversation: as stored, then as the plan leaves it (a reply may name
// a thread twice). Ids are views of the stored conversations' and the reply's own strings, which
// outlive the plan's making: a list reply names tens of thousands.
struct KnownConversation {
    bool abNameIsNull = true;
    MessageIDs messageIDs;
    std::vector<std::pair<std::string_view, int64_t>> messages;  // id, time: for a conversation reload
};

// The other party of a thread, the name shown for it, and how its contact name is found.
void planParty(const HXThread& thread, bool abNameIsNull, HXPlannedConversation& c, bool& isGroup) {
    std::string number, sender;
    if (thread.headingNumbers.size() > 1) {
        for (size_t i = 0; i < thread.headingNumbers.size(); ++i) number += (i ? "|" : "") + thread.headingNumbers[i];
        sender = "Group Message";
        c.clearABName = true;
    } else {
        number = thread.contactPhoneNumber;
        sender = thread.contactName;
    }
    if (number.starts_with("Unknown")) {
        number = "Unknown";
        c.clearABName = true;
    }
    isGroup = sender == "Group Message";
    if (isGroup)
        c.nameLookup = HXPlannedConversation::NameLookup::Group;
    else if (abNameIsNull && !c.clearABName && number != "Unknown" && !number.empty())
        // The formatted number is stored with the conversation on first use.
        c.nameLookup = HXPlannedConversation::NameLookup::Contact;
    c.phoneNumber = std::move(number);
    c.sender = std::move(sender);
}

// The text a message stores; none when that is the item's messageText as it stands.
std::optional<std::string> messageText(const HXThreadItem& item, const HXThreadListPlanInput& in) {
    if (!(item.mask & CS::kVoicemailMask)) {
        if (item.hasMMS) return trimLineBreaks(item.mmsText);
        if (!item.messageText) return std::string();
        const std::string& text = *item.messageText;
        if (!text.empty() && (isLineBreak(text.front()) || isLineBreak(text.back()))) return trimLineBreaks(text);
        return std::nullopt;
    }
    std::string words;
    for (const auto& w : item.transcriptWords) words += (words.empty() ? "" : " ") + w;
    if (words.empty()) words = (item.mask & 4) ? in.transcriptNotAvailable : in.recordedCall;
    return words;
}

// Media of the attachments: fetched after the parse, or with a background fetch its pictures
// before the save.
void planMedia(const HXThreadItem& item, const HXThreadListPlanInput& in, HXThreadListPlan& plan) {
    if (!item.attachments.isArray()) return;
    for (const Value& attachment : item.attachments.asArray()) {
        std::string id = attachment["id"].asString();
        std::string mime = attachment["mimeType"].asString();
        if (id.empty()) continue;
        if (mime.starts_with("image/")) {
            if (!in.forBackgroundFetch)
                plan.pictureFetches.push_back(std::move(id));
            else
                plan.pictures.push_back(&attachment);
        } else if (mime.starts_with("audio/") || mime.starts_with("video/") || mime == "text/x-vcard") {
            if (!in.forBackgroundFetch) plan.mediaFetches.emplace_back(std::move(id), std::move(mime));
        }
    }
}

// The sweep of the conversations the service no longer lists within the span of the reply.
std::optional<HXStaleSweep> planStaleSweep(const HXThreadListReply& reply, const HXThreadListPlanInput& in,
                                           const HXThreadListPlan& plan, const SeenIDs& seen) {
    const bool spam = in.flags & SpamList, archive = in.flags & ArchiveList, reload = in.flags & ConversationReload;
    if (in.inBackground || !plan.earliest || !plan.latest || seen.empty() || reload ||
        (in.viewType != 1 && in.viewType != 2))
        return std::nullopt;
    const uint64_t marker = spam ? in.spamPage : archive ? in.archivePage : in.reloadPage;
    HXStaleSweep sweep;
    sweep.first = *plan.earliest;
    sweep.last = *plan.latest;
    if (marker == 1)
        sweep.last = static_cast<int64_t>(in.now);
    else if (marker >= 3)
        // The page was asked for up to its bound: what lies between the previous page's oldest
        // and this page's newest conversation is in it too.
        sweep.last = std::max<int64_t>(sweep.last, static_cast<int64_t>(marker));
    // Only a reply that says it is the last page covers everything older as well; one that merely
    // lacks the next page's marker keeps to its own span.
    if (reply.saysLastPage) sweep.first = INT64_MIN / 2;
    sweep.typeMask = in.viewType == 1 ? CS::kSMSMask : CS::kVoicemailMask;
    sweep.listedIDs.reserve(seen.size());
    seen.forEach([&](std::string_view id, bool) { sweep.listedIDs.push_back(Value(std::string(id))); });
    sweep.spam = spam;
    sweep.archive = archive;
    return sweep;
}

}  // namespace

HXThreadListPlan HXPlanThreadList(const HXThreadListReply& reply, const HXThreadListPlanInput& in,
                                  const HXStoredConversations& stored) {
    const bool spam = in.flags & SpamList, archive = in.flags & ArchiveList, reload = in.flags & ConversationReload;
    const bool newest = in.flags & NewestPage;
    const int64_t listMask = (spam || archive) ? CS::kHistoryListMask : in.typeMask;
    HXThreadListPlan plan;

    // Whether the screen needs a refresh whatever the reply holds.
    if (!in.shown)
        plan.refreshNeeded = true;
    else if (spam)
        plan.refreshNeeded = in.spamPage > 2;
    else if (archive)
        plan.refreshNeeded = in.archivePage > 2;
    else
        plan.refreshNeeded = in.listIsEmpty || in.reloadPage > 2;

    SeenIDs seen;
    if (!reload) seen.reserve(reply.threads.size());
    auto widen = [&](int64_t d) {
        plan.earliest = plan.earliest ? std::min(*plan.earliest, d) : d;
        plan.latest = plan.latest ? std::max(*plan.latest, d) : d;
    };
    LengthTexts lengths(in.secondFormat, in.minuteFormat);
    foundation::FlatMap<std::string_view, KnownConversation> known;
    known.reserve(stored.size() + reply.threads.size());
    for (const auto& [id, s] : stored) {
        KnownConversation k;
        k.abNameIsNull = s.abNameIsNull;
        k.messageIDs.reserve(s.messages.size());
        for (const auto& m : s.messages) k.messageIDs.insert(m.first);
        if (reload) k.messages.assign(s.messages.begin(), s.messages.end());
        known.emplace(id, std::move(k));
    }
    plan.conversations.reserve(reply.threads.size());

    for (const HXThread& thread : reply.threads) {
        HXPlannedConversation c;
        c.thread = &thread;
        KnownConversation* k = nullptr;
        bool isGroup = false;
        std::optional<int64_t> threadEarliest, threadLatest;
        for (const HXThreadItem& item : thread.items) {
            const int64_t mask = item.mask;
            // Items outside the list.
            if (!(mask & in.typeMask) && !((mask & CS::kMessagesMask) && in.viewType == 3)) {
                ++plan.skippedItems;
                continue;
            }
            const int64_t startTime = item.startTime;
            // The conversation, at the thread's first listed item.
            if (!k) {
                // The table is reserved for every conversation: k stays where it is.
                k = known.find(thread.id);
                if (!k) {
                    k = known.emplace(thread.id, KnownConversation{}).first;
                    c.insert = true;
                    if (mask & listMask) plan.newConversation = true;
                    if (mask & CS::kSMSMask)
                        plan.newMessage = true;
                    else if (mask & 4)
                        plan.newVoicemail = true;
                } else if (mask & listMask) {
                    plan.refreshNeeded = true;
                }
                // A new conversation's ids are all this thread's.
                if (c.insert) k->messageIDs.reserve(thread.items.size());
                // Listed by the thread's id unless a page lists its items one by one.
                if (!reload) seen.emplace(thread.id, true);
                c.lastdate = startTime / 1000;
                planParty(thread, k->abNameIsNull, c, isGroup);
                if (c.clearABName || c.nameLookup != HXPlannedConversation::NameLookup::None) k->abNameIsNull = false;
            }
            // The conversation's type follows its items.
            c.type = CS::typeCodeForMask(mask);
            // The time span of the reply, and the ids a page lists.
            if (reload) seen.emplace(item.id, true);
            widen(reload ? startTime / 1000 : c.lastdate);
            threadEarliest = threadEarliest ? std::min(*threadEarliest, startTime) : startTime;
            threadLatest = threadLatest ? std::max(*threadLatest, startTime) : startTime;
            // The message.
            HXPlannedMessage m;
            m.item = &item;
            if (k->messageIDs.insert(item.id)) {
                m.insert = true;
                plan.newMessage = true;
                if (reload) k->messages.emplace_back(item.id, startTime);
            }
            m.text = messageText(item, in);
            m.groupSender = !(mask & CS::kVoicemailMask) && item.hasMMS && isGroup;
            m.length = lengths.text(mask & CS::kVoicemailMask, item.duration);
            planMedia(item, in, plan);
            c.messages.push_back(std::move(m));
        }
        if (!k) {
            ++plan.skippedThreads;
            continue;
        }
        // A conversation page replaces the stored messages of the span it covers.
        if (reload && threadEarliest) {
            int64_t from = *threadEarliest, to = *threadLatest;
            if (newest) to = static_cast<int64_t>(in.now * 1000);
            // The last page covers everything older, unless its items were not all read.
            if (!thread.paginationToken && !thread.itemsCut) from = INT64_MIN;
            for (auto it = k->messages.begin(); it != k->messages.end();) {
                const auto& [id, number] = *it;
                if (number < from || number > to || seen.contains(id)) {
                    ++it;
                    continue;
                }
                c.withdrawn.emplace_back(id);
                k->messageIDs.erase(id);
                it = k->messages.erase(it);
            }
        }
        // The open conversation is read as it is shown.
        c.markRead = in.shown && thread.id == in.openConversationID && !thread.read;
        plan.conversations.push_back(std::move(c));
    }
    plan.stale = planStaleSweep(reply, in, plan, seen);
    return plan;
}
