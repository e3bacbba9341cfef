#include "service/vc_messages.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>
#include <unordered_set>

#include "model/account.h"
#include "model/cache.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/format.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/net/cookie.h"
#include "platform/net/url_session.h"
#include "platform/services/search_index.h"
#include "platform/store/predicate.h"
#include "service/application_web_client.h"
#include "service/conversation_store.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "service/thread_list_reply.h"

namespace {

namespace CS = HXConversationStore;
using foundation::Value;

std::mutex gOpenConversationMutex;
std::string gOpenConversationID;
std::atomic<bool> gListLoadStarted{false};

std::string localized(const char* key) { return PhoneExtensions::localizedString(key); }

void post(const std::string& name, std::shared_ptr<void> object = nullptr, foundation::Dictionary info = {}) {
    foundation::NotificationCenter::defaultCenter().post(name, std::move(object), std::move(info));
}

bool beginsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

std::string stringOf(const Value& v) { return v.isString() ? v.asString() : std::string(); }

// A list that may also come as a single object.
foundation::Array listOf(const Value& v) {
    if (v.isArray()) return v.asArray();
    if (v.isDictionary()) return foundation::Array{v};
    return {};
}

std::string trimLineBreaks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == '\n' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == '\n' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(b, e - b));
}

std::string pageToken(uint64_t marker) {
    return marker >= 3 ? "\"" + std::to_string(marker * 1000) + "\"" : std::string("null");
}

bool signedIn(const HXApplicationWebClient& app) {
    auto account = app.account();
    return account && account->authV2().has_value();
}

}  // namespace

// Markers of one parse, handed from the parse to the decisions after it.
struct VC_Messages::ParseResult {
    bool refreshNeeded = false;               // R
    bool newConversation = false;             // N
    bool newMessage = false;                  // M
    bool newVoicemail = false;                // V
    std::optional<int64_t> earliest, latest;  // E, L in seconds
    foundation::Array pictures;               // attachments a background fetch brings along
};

// Hands the results controller's changes to the list while the list lives.
class VC_Messages::FetchDelegate : public store::FetchedResultsControllerDelegate {
public:
    explicit FetchDelegate(std::weak_ptr<VC_Messages> list) : list_(std::move(list)) {}
    void controllerDidChangeContent(store::FetchedResultsController&) override {
        if (auto list = list_.lock()) list->controllerDidChangeContent();
    }

private:
    std::weak_ptr<VC_Messages> list_;
};

VC_Messages::VC_Messages(std::weak_ptr<HXApplicationWebClient> app, foundation::Dictionary viewSettings)
    : app_(std::move(app)), viewSettings_(std::move(viewSettings)) {
    // Logging out happens on the main thread, the controller's own. The observer goes with the
    // list: the destructor removes every observer of this list.
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, "kLogoutNotification", [this](const foundation::Notification&) { resetFetchedController(); });
}

VC_Messages::~VC_Messages() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

foundation::Dictionary VC_Messages::smsViewSettings(const std::string& pageBase) {
    return {{"viewType", Value(int64_t{1})},
            {"typeMask", Value(int64_t{3072})},
            {"URL", Value(pageBase + "inbox/recent/sms/")},
            {"viewTag", Value("SMS")}};
}

foundation::Dictionary VC_Messages::voicemailViewSettings(const std::string& pageBase) {
    return {{"viewType", Value(int64_t{2})},
            {"typeMask", Value(int64_t{20})},
            {"URL", Value(pageBase + "inbox/recent/voicemail/")},
            {"viewTag", Value("VM")}};
}

foundation::Dictionary VC_Messages::viewSettingsForType(int viewType, const std::string& pageBase) {
    return viewType == 1   ? smsViewSettings(pageBase)
           : viewType == 2 ? voicemailViewSettings(pageBase)
                           : historyViewSettings(pageBase);
}

foundation::Dictionary VC_Messages::historyViewSettings(const std::string& pageBase, bool showFullHistory) {
    return {{"viewType", Value(int64_t{3})},
            {"typeMask", Value(int64_t{showFullHistory ? 245143 : 242067})},
            {"URL", Value(pageBase + "inbox/recent/all/")},
            {"viewTag", Value("History")}};
}

foundation::Dictionary VC_Messages::viewSettings() const {
    std::lock_guard lock(mutex_);
    return viewSettings_;
}

void VC_Messages::setViewSettings(foundation::Dictionary settings) {
    std::lock_guard lock(mutex_);
    viewSettings_ = std::move(settings);
}

int64_t VC_Messages::viewType() const { return viewSettings().get("viewType").int64Value(); }

bool VC_Messages::isLoadingMessages() const {
    std::lock_guard lock(mutex_);
    return isLoadingMessages_;
}

void VC_Messages::setIsLoadingMessages(bool v) {
    std::lock_guard lock(mutex_);
    isLoadingMessages_ = v;
}

std::optional<double> VC_Messages::lastUpdate() const {
    std::lock_guard lock(mutex_);
    return lastUpdate_;
}

std::string VC_Messages::searchText() const {
    std::lock_guard lock(mutex_);
    return searchText_;
}

void VC_Messages::setSearchText(std::string text) {
    std::lock_guard lock(mutex_);
    searchText_ = std::move(text);
}

std::string VC_Messages::openConversationID() {
    std::lock_guard lock(gOpenConversationMutex);
    return gOpenConversationID;
}

void VC_Messages::setOpenConversationID(std::string id) {
    std::lock_guard lock(gOpenConversationMutex);
    gOpenConversationID = std::move(id);
}

bool VC_Messages::listLoadStarted() { return gListLoadStarted; }

namespace {

// Conversations of the template with the types of mask, counted in context (on its queue).
uint64_t countConversations(const store::ContextPtr& context, const char* templateName, int64_t mask) {
    foundation::Dictionary vars;
    vars.set("TYPELIST", CS::typesForMask(mask));
    auto request = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate(templateName, vars);
    if (!request.ok()) return 0;
    auto n = context->count(request.value());
    return n.ok() ? n.value() : 0;
}

// The numbers of the attributes a parse writes, looked up by name once for the process: a parse
// writes a dozen attributes for every item of a reply.
int attributeIndex(const char* entity, std::string_view name) {
    const store::Entity* e = HXMessageStore::managedObjectModel()->entityNamed(entity);
    return e ? e->attributeIndex(name) : -1;
}

struct ConversationAttributes {
    static int of(std::string_view name) { return attributeIndex(HXMessageStore::kConversationEntity, name); }
    int conversationID = of("conversationID"), type = of("type"), paginationToken = of("paginationToken"),
        isSpam = of("isSpam"), isArchived = of("isArchived"), isRead = of("isRead"), lastdate = of("lastdate"),
        isTrash = of("isTrash"), phoneNumber = of("phoneNumber"), sender = of("sender"), ABName = of("ABName"),
        formattedNumber = of("formattedNumber"), cost = of("cost"), isSenderBlocked = of("isSenderBlocked"),
        numberOfMessages = of("numberOfMessages");
};

struct MessageAttributes {
    static int of(std::string_view name) { return attributeIndex(HXMessageStore::kMessageEntity, name); }
    int id = of("id"), message = of("message"), senderNumber = of("senderNumber"), senderName = of("senderName"),
        length = of("length"), from = of("from"), date = of("date"), number = of("number"),
        attachments = of("attachments");
};

// A message's length as the lists show it: minutes and seconds for voicemail and recordings,
// else rounded seconds or minutes. A reply's items share a few lengths (texts have none), so each
// text is made once per parse.
class LengthTexts {
public:
    const std::string& text(bool voicemail, int64_t duration) {
        auto [slot, added] = (voicemail ? voicemail_ : others_).try_emplace(duration);
        if (added) slot->second = make(voicemail, duration);
        return slot->second;
    }

private:
    std::string make(bool voicemail, int64_t duration) {
        if (voicemail) return foundation::format("%d:%02d", duration / 60, duration % 60);
        if (duration < 60) return foundation::format(secondFormat_, duration, duration == 1 ? "" : "s");
        const int64_t minutes = (duration + 30) / 60;
        return foundation::format(minuteFormat_, minutes, minutes == 1 ? "" : "s");
    }
    std::unordered_map<int64_t, std::string> voicemail_, others_;
    const std::string secondFormat_ = localized("%i second%@"), minuteFormat_ = localized("%i minute%@");
};

}  // namespace

uint64_t VC_Messages::totalMessagesInStore() const {
    auto a = app();
    if (!a) return 0;
    auto context = a->managedObjectContext();
    if (!context) return 0;
    uint64_t count = 0;
    const int64_t mask = viewSettings().get("typeMask").int64Value();
    context->performAndWait([&] { count = countConversations(context, "cv_type", mask); });
    return count;
}

// ---- the results controller

store::FetchedResultsControllerPtr VC_Messages::fetchedResultsController() {
    if (fetchedResultsController_) return fetchedResultsController_;
    auto a = app();
    auto context = a ? a->managedObjectContext() : nullptr;
    if (!context) return nullptr;
    const auto settings = viewSettings();
    store::FetchRequest request(HXMessageStore::kConversationEntity);
    request.sortDescriptors = {store::SortDescriptor{"lastdate", false}};
    const bool iPad = a->iPad();
    if (settings.get("viewType").int64Value() == 3) {
        request.fetchBatchSize = iPad ? 22 : 17;
        request.propertiesToFetch = {"sender",
                                     "ABName",
                                     "type",
                                     "isSpam",
                                     "isStarred",
                                     "isRead",
                                     "lastdate",
                                     "note",
                                     "cost",
                                     "lastMessageLength",
                                     "lastMessageText",
                                     "phoneNumber",
                                     "formattedNumber",
                                     "isSenderBlocked"};
    } else {
        request.fetchBatchSize = iPad ? 16 : 11;
        request.propertiesToFetch = {
            "sender", "ABName",          "isSpam",           "isStarred",   "isRead",          "lastdate",
            "note",   "lastMessageText", "numberOfMessages", "phoneNumber", "formattedNumber", "isSenderBlocked"};
    }
    const Value tag = settings.get("viewTag");
    fetchedResultsController_ = store::FetchedResultsController::create(
        std::move(request), context, tag.isString() ? std::optional<std::string>(tag.asString()) : std::nullopt);
    if (!fetchDelegate_) fetchDelegate_ = std::make_shared<FetchDelegate>(weak_from_this());
    fetchedResultsController_->setDelegate(fetchDelegate_);
    std::weak_ptr<VC_Messages> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->filterTable();
    });
    return fetchedResultsController_;
}

void VC_Messages::resetFetchedController() { fetchedResultsController_.reset(); }

foundation::Result<store::Predicate> VC_Messages::listPredicate() const {
    const auto settings = viewSettings();
    std::string format;
    switch (selectedListType()) {
        case Spam:
            format = "isSpam == YES AND type IN %@";
            break;
        case Archive:
            format = "isArchived == YES AND isSpam == NO AND isTrash == NO AND type IN %@";
            break;
        default:
            format = "isTrash == NO AND isSpam == NO AND type IN %@";
    }
    std::vector<Value> arguments{CS::typesForMask(settings.get("typeMask").int64Value())};
    const std::string text = searchText();
    if (!text.empty()) {
        format += " AND (sender contains[cd] %@ OR ABName contains[cd] %@)";
        arguments.emplace_back(text);
        arguments.emplace_back(text);
    }
    return store::Predicate::parse(format, arguments);
}

void VC_Messages::filterTable() {
    auto controller = fetchedResultsController();
    if (!controller) return;
    auto settings = viewSettings();
    if (const Value tag = settings.get("viewTag"); tag.isString())
        store::FetchedResultsController::deleteCacheWithName(tag.asString());
    auto predicate = listPredicate();
    if (!predicate.ok()) return;
    controller->fetchRequest().predicate = predicate.value();
    if (controller->performFetch().ok()) reloadTable();
}

// ---- the screen's default operations

void VC_Messages::abortLoading() {
    std::weak_ptr<VC_Messages> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->setIsLoadingMessages(false);
        self->refreshComplete();
    });
}

void VC_Messages::refreshComplete() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kLoginNotification");
    center.removeObserver(this, "kCookiesExpiredNotification");
    gListLoadStarted = false;
    endRefreshing();
    updateLastRefreshDate();
}

void VC_Messages::abortLoadingForSpam(bool spam, bool archive) {
    if (spam)
        post("kAdditionalSpamMessagesReloadCompleteNotification", nullptr,
             {{"spamPage", Value(static_cast<int64_t>(spamPage()))}});
    if (archive)
        post("kAdditionalArchiveMessagesReloadCompleteNotification", nullptr,
             {{"archivePage", Value(static_cast<int64_t>(archivePage()))}});
    abortLoading();
}

// ---- parsing

void VC_Messages::parseMessagesFromData(std::shared_ptr<const foundation::Data> data, FetchCompletion completion) {
    parseMessagesFromData(std::move(data), 0, std::move(completion));
}

void VC_Messages::parseMessagesForConversationFromData(std::shared_ptr<const foundation::Data> data, bool isLatest) {
    parseMessagesFromData_v2(std::move(data), isLatest ? ConversationReload | NewestPage : ConversationReload, {});
}

void VC_Messages::parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                                        FetchCompletion completion) {
    auto a = app();
    if (!data) {
        abortLoading();
        if (completion) dispatch::Queue::main()->async([completion] { completion(2); });
        return;
    }
    // Signed out, a fetch's completion is not called: the background fetch ends on its own.
    if (!a || !signedIn(*a)) return;
    parseMessagesFromData_v2(std::move(data), flags, std::move(completion));
}

void VC_Messages::parseMessagesFromData_v2(std::shared_ptr<const foundation::Data> data, int flags,
                                           FetchCompletion completion) {
    const bool spam = flags & SpamList, archive = flags & ArchiveList;
    auto fail = [&] {
        abortLoadingForSpam(spam, archive);
        if (completion) dispatch::Queue::main()->async([completion] { completion(2); });
    };
    auto a = app();
    std::string_view bytes =
        data ? std::string_view(reinterpret_cast<const char*>(data->data()), data->size()) : std::string_view();
    auto read = HXReadThreadList(bytes);
    if (!a || !read.ok()) return fail();
    auto reply = std::make_shared<const HXThreadListReply>(std::move(read).value());
    if (reply->errorCode == 401) {
        abortLoadingForSpam(spam, archive);
        std::weak_ptr<HXApplicationWebClient> weakApp = a;
        dispatch::Queue::main()->async([weakApp] {
            if (auto app = weakApp.lock()) app->login();
        });
        return;
    }
    auto main = a->managedObjectContext();
    if (viewSettings().empty() || !main) return fail();
    auto child = a->newChildContext();
    if (!child) return fail();
    auto queue = a->messageParsingQueue();
    auto self = shared_from_this();
    HXMessageStore::performWithThreadContext(child, [self, a, child, queue, reply, flags, completion] {
        auto work = [&] {
            auto result = std::make_shared<ParseResult>();
            self->parse(a, child, *reply, flags, completion, *result);
            auto finish = [self, a, child, reply, flags, completion, result] {
                self->saveParse(a, child, completion, *result);
                self->afterParse(a, *reply, flags, *result);
            };
            if (!completion || result->pictures.empty()) return finish();
            // 6. A background fetch brings the new pictures along before the rows are saved.
            self->prefetchPictures(a, result->pictures,
                                   [child, finish] { HXMessageStore::performWithThreadContext(child, finish); });
        };
        // One parse at a time in the whole app.
        if (queue)
            queue->sync(work);
        else
            work();
    });
}

void VC_Messages::parse(const std::shared_ptr<HXApplicationWebClient>& app, const store::ContextPtr& context,
                        const HXThreadListReply& reply, int flags, const FetchCompletion& completion, ParseResult& r) {
    const bool spam = flags & SpamList, archive = flags & ArchiveList, reload = flags & ConversationReload;
    const bool newest = flags & NewestPage;
    const auto settings = viewSettings();
    const int64_t type = settings.get("viewType").int64Value();
    const int64_t typeMask = settings.get("typeMask").int64Value();
    const int64_t listMask = (spam || archive) ? CS::kHistoryListMask : typeMask;
    const bool shown = isShownScreen();
    const bool inBackground = app->isInBackground();
    const bool isSignedIn = signedIn(*app);
    auto& web = app->webClient();
    const std::string mediaBase = web.endpoints.mediaBase();
    const std::string openID = openConversationID();

    // 1. Whether the screen needs a refresh whatever the reply holds.
    if (!shown)
        r.refreshNeeded = true;
    else if (spam)
        r.refreshNeeded = spamPage() > 2;
    else if (archive)
        r.refreshNeeded = archivePage() > 2;
    else
        r.refreshNeeded = countConversations(context, "cv_type", typeMask) == 0 || reloadPage() > 2;

    std::unordered_set<std::string> seen;
    auto widen = [&](int64_t d) {
        r.earliest = r.earliest ? std::min(*r.earliest, d) : d;
        r.latest = r.latest ? std::max(*r.latest, d) : d;
    };
    std::vector<std::pair<std::string, std::string>> mediaFetches;  // id, MIME type
    std::vector<std::string> pictureFetches;
    std::vector<std::string> markRead;
    auto pictureCache = web.objectCache ? web.objectCache : HXCCache::sharedCache();
    static const ConversationAttributes cv;
    static const MessageAttributes ms;
    LengthTexts lengths;

    // The reply's stored conversations in one fetch: a lookup per thread would scan the
    // context's unsaved objects every time.
    std::unordered_map<std::string, store::ManagedObjectPtr> known;
    {
        foundation::Array ids;
        for (const HXThread& thread : reply.threads) ids.push_back(Value(thread.id));
        auto predicate = store::Predicate::parse("conversationID IN %@", {Value(std::move(ids))});
        if (predicate.ok() && !reply.threads.empty()) {
            store::FetchRequest request(HXMessageStore::kConversationEntity);
            request.predicate = predicate.value();
            request.relationshipKeyPathsForPrefetching = {"Messages"};
            auto rows = context->fetch(request);
            if (rows.ok())
                for (const auto& c : rows.value()) known.emplace(stringOf(c->value("conversationID")), c);
        }
    }
    for (const HXThread& thread : reply.threads) {
        const std::string& threadID = thread.id;
        store::ManagedObjectPtr conversation;
        // What the conversation holds once its first item has set it up.
        bool isGroup = false;
        int64_t lastdate = 0;
        std::unordered_map<std::string, store::ManagedObjectPtr> messagesByID;
        std::optional<int64_t> threadEarliest, threadLatest;
        for (const HXThreadItem& item : thread.items) {
            const int64_t mask = item.mask;
            // a. Items outside the list.
            if (!(mask & typeMask) && !((mask & CS::kMessagesMask) && type == 3)) continue;
            const int64_t startTime = item.startTime;
            // b. The conversation, at the thread's first item.
            if (!conversation) {
                if (auto it = known.find(threadID); it != known.end()) conversation = it->second;
                if (!conversation) {
                    auto inserted = context->insertNewObject(HXMessageStore::kConversationEntity);
                    if (!inserted.ok()) break;
                    conversation = inserted.value();
                    known.emplace(threadID, conversation);
                    conversation->setValueAt(cv.conversationID, threadID);
                    conversation->setValueAt(cv.type, CS::typeCodeForMask(mask));
                    if (mask & listMask) r.newConversation = true;
                    if (mask & CS::kSMSMask)
                        r.newMessage = true;
                    else if (mask & 4)
                        r.newVoicemail = true;
                } else {
                    if (mask & listMask) r.refreshNeeded = true;
                    const auto stored = conversation->objects("Messages");
                    messagesByID.reserve(stored.size() + thread.items.size());
                    for (const auto& m : stored) messagesByID.emplace(stringOf(m->valueAt(ms.id)), m);
                }
                const foundation::Date firstDate{static_cast<double>(startTime / 1000)};
                lastdate = static_cast<int64_t>(firstDate.secondsSince1970);
                conversation->setValueAt(cv.paginationToken,
                                         thread.paginationToken ? Value(*thread.paginationToken) : Value());
                conversation->setValueAt(cv.isSpam, thread.inSpam);
                conversation->setValueAt(cv.isArchived, thread.inArchive);
                conversation->setValueAt(cv.isRead, thread.read);
                conversation->setValueAt(cv.lastdate, firstDate);
                conversation->setValueAt(cv.isTrash, false);

                // c, d. The other party and the name shown for it.
                std::string number, sender;
                if (thread.headingNumbers.size() > 1) {
                    for (size_t i = 0; i < thread.headingNumbers.size(); ++i)
                        number += (i ? "|" : "") + thread.headingNumbers[i];
                    sender = "Group Message";
                    conversation->setValueAt(cv.phoneNumber, number);
                    conversation->setValueAt(cv.sender, sender);
                    conversation->setValueAt(cv.ABName, "");
                } else {
                    number = thread.contactPhoneNumber;
                    sender = thread.contactName;
                    conversation->setValueAt(cv.phoneNumber, number);
                    conversation->setValueAt(cv.sender, sender);
                }
                if (beginsWith(number, "Unknown")) {
                    number = "Unknown";
                    conversation->setValueAt(cv.phoneNumber, number);
                    conversation->setValueAt(cv.ABName, "");
                }
                isGroup = sender == "Group Message";
                if (conversation->valueAt(cv.ABName).isNull() && number != "Unknown" && !isGroup && !number.empty()) {
                    // The formatted number is stored with the conversation on first use.
                    auto formatted = PhoneExtensions::formattedPhoneNumberFromString(number);
                    conversation->setValueAt(cv.formattedNumber, formatted);
                    conversation->setValueAt(cv.ABName, app->contactNameForNumber(formatted));
                }
                if (isGroup) conversation->setValueAt(cv.ABName, app->updateGroupContactsForNumber(number));
            }
            // e. The conversation's type follows its items.
            conversation->setValueAt(cv.type, CS::typeCodeForMask(mask));
            // f. Seen ids and the time span of the reply.
            seen.insert(reload ? item.id : threadID);
            widen(reload ? startTime / 1000 : lastdate);
            threadEarliest = threadEarliest ? std::min(*threadEarliest, startTime) : startTime;
            threadLatest = threadLatest ? std::max(*threadLatest, startTime) : startTime;
            // g. The message.
            store::ManagedObjectPtr message;
            if (auto it = messagesByID.find(item.id); it != messagesByID.end()) message = it->second;
            if (!message) {
                auto inserted = context->insertNewObject(HXMessageStore::kMessageEntity);
                if (!inserted.ok()) continue;
                message = inserted.value();
                message->setValueAt(ms.id, item.id);
                messagesByID.emplace(item.id, message);
                r.newMessage = true;
            }
            // h. Text.
            if (!(mask & CS::kVoicemailMask)) {
                if (item.hasMMS) {
                    message->setValueAt(ms.message, trimLineBreaks(item.mmsText));
                    if (isGroup) {
                        auto formatter = app->phoneFormatter();
                        std::string senderNumber = item.mmsSenderPhoneNumber;
                        if (formatter)
                            senderNumber =
                                PhoneExtensions::formattedPhoneNumberFromStringWithFormatter(senderNumber, *formatter);
                        app->decreasePhoneFormatterAccessCount();
                        message->setValueAt(ms.senderNumber, senderNumber);
                        message->setValueAt(ms.senderName, app->contactNameForNumber(senderNumber));
                    }
                } else {
                    message->setValueAt(ms.message,
                                        item.messageText ? trimLineBreaks(*item.messageText) : std::string());
                }
            } else {
                std::string words;
                for (const auto& w : item.transcriptWords) words += (words.empty() ? "" : " ") + w;
                if (words.empty()) words = localized((mask & 4) ? "Transcript not available" : "Recorded call");
                message->setValueAt(ms.message, words);
            }
            // i.
            message->setValueAt(ms.length, lengths.text(mask & CS::kVoicemailMask, item.duration));
            // j.
            message->setValueAt(ms.from, item.type == "smsOut");
            message->setValueAt(ms.date, "");
            message->setValueAt(ms.number, startTime);
            message->setValueAt(ms.attachments, item.attachments);
            // k. Media of the attachments (started after the parse, from the main queue).
            for (const Value& attachment : item.attachments.asArray()) {
                const std::string id = stringOf(attachment["id"]);
                const std::string mime = stringOf(attachment["mimeType"]);
                if (id.empty()) continue;
                if (beginsWith(mime, "image/")) {
                    if (!completion)
                        pictureFetches.push_back(id);
                    else if (!pictureCache->objectForKey(id))
                        r.pictures.push_back(attachment);
                } else if (beginsWith(mime, "audio/") || beginsWith(mime, "video/") || mime == "text/x-vcard") {
                    if (!completion) mediaFetches.emplace_back(id, mime);
                }
            }
            // l.
            conversation->setValueAt(cv.cost, thread.displayableCost ? Value(*thread.displayableCost) : Value());
            conversation->setValueAt(cv.isSenderBlocked, thread.contactBlocked);
            (void)message->setObject("Conversation", conversation);
        }
        if (!conversation) continue;
        // m. A conversation page replaces the stored messages of the span it covers.
        if (reload && threadEarliest) {
            int64_t from = *threadEarliest, to = *threadLatest;
            if (newest) to = static_cast<int64_t>(dispatch::wallNow() * 1000);
            if (conversation->valueAt(cv.paginationToken).isNull()) from = INT64_MIN;
            const std::string user = app->currentUsername();
            const std::string encodedUser = foundation::percentEncode(user, foundation::CharacterSet::urlUserAllowed());
            std::vector<std::string> withdrawn;
            for (const auto& m : conversation->objects("Messages")) {
                const int64_t number = m->valueAt(ms.number).int64Value();
                if (number < from || number > to || seen.count(stringOf(m->valueAt(ms.id)))) continue;
                for (const Value& attachment : listOf(m->valueAt(ms.attachments)))
                    app->removeMediaForAttachment(stringOf(attachment["id"]), stringOf(attachment["mimeType"]));
                withdrawn.push_back(foundation::format("%@.%@.%@", threadID, number, encodedUser));
                (void)m->setObject("Conversation", nullptr);
                conversation->setValueAt(
                    cv.numberOfMessages,
                    std::max<int64_t>(0, conversation->valueAt(cv.numberOfMessages).int64Value() - 1));
                context->deleteObject(m);
            }
            if (!withdrawn.empty())
                services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithIdentifiers(withdrawn);
        }
        // n. The open conversation is read as it is shown.
        if (shown && threadID == openID && !conversation->valueAt(cv.isRead).boolValue()) {
            conversation->setValueAt(cv.isRead, true);
            markRead.push_back(threadID);
        }
        // o.
        CS::updateLastMessageProperties(conversation, isSignedIn);
    }
    // 5. Conversations the service no longer lists within the span of the reply.
    if (!inBackground && r.earliest && r.latest && !seen.empty() && !reload && (type == 1 || type == 2)) {
        const bool firstPage = spam ? spamPage() == 1 : archive ? archivePage() == 1 : reloadPage() == 1;
        int64_t last = *r.latest, first = *r.earliest;
        const uint64_t marker = spam ? spamPage() : archive ? archivePage() : reloadPage();
        if (firstPage)
            last = static_cast<int64_t>(dispatch::wallNow());
        else if (marker >= 3)
            // The page was asked for up to its bound: what lies between the previous page's oldest
            // and this page's newest conversation is in it too.
            last = std::max<int64_t>(last, static_cast<int64_t>(marker));
        // A list that has ended covers everything older as well.
        if (reply.more == HXThreadListReply::More::Absent) first = INT64_MIN / 2;
        foundation::Array ids;
        for (const auto& id : seen) ids.push_back(Value(id));
        foundation::Dictionary vars;
        vars.set("TYPELIST", CS::typesForMask(type == 1 ? CS::kSMSMask : CS::kVoicemailMask));
        vars.set("FIRSTMESSAGE", foundation::Date{static_cast<double>(first)});
        vars.set("LASTMESSAGE", foundation::Date{static_cast<double>(last) + 0.999});
        vars.set("IDLIST", std::move(ids));
        vars.set("ISTRASH", false);
        vars.set("ISSPAM", spam);
        auto request = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate("cv_stale", vars);
        if (request.ok()) {
            auto stale = context->fetch(request.value());
            const std::string domainUser = PhoneExtensions::extractCharactersFromStringUsingCharset(
                app->currentUsername(), foundation::CharacterSet::alphanumeric());
            std::vector<std::string> domains;
            if (stale.ok()) {
                for (const auto& c : stale.value()) {
                    if (c->value("isArchived").boolValue() != archive || c->value("isSpam").boolValue() != spam)
                        continue;
                    const int64_t code = c->value("type").int64Value();
                    const std::string id = stringOf(c->value("conversationID"));
                    if (code == 4 || code == 2) {
                        std::error_code ec;
                        std::filesystem::remove(app->localURLForMedia(id, "audio/"), ec);
                    }
                    context->deleteObject(c);
                    domains.push_back(foundation::format("%@.%@", domainUser, id));
                }
            }
            if (!domains.empty())
                services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithDomainIdentifiers(
                    domains);
        }
    }

    // k, n. Requests start on the main thread.
    std::weak_ptr<HXApplicationWebClient> weakApp = app;
    std::weak_ptr<VC_Messages> weakSelf = weak_from_this();
    if (!mediaFetches.empty() || !pictureFetches.empty() || !markRead.empty()) {
        dispatch::Queue::main()->async([weakApp, weakSelf, mediaFetches, pictureFetches, markRead, mediaBase] {
            auto a = weakApp.lock();
            if (!a) return;
            auto& w = a->webClient();
            for (const auto& [id, mime] : mediaFetches) {
                a->downloadMediaIfNeeded(id, mime);
                if (beginsWith(mime, "video/")) a->downloadMediaIfNeeded(id, mime, true);
            }
            for (const auto& id : pictureFetches) {
                const std::string tag = mediaBase + "i/" + "_" + id;
                {
                    std::lock_guard lock(w.urlDataLock);
                    if (w.urlData.count(tag)) continue;
                }
                auto cache = w.objectCache ? w.objectCache : HXCCache::sharedCache();
                if (cache->objectForKey(id)) continue;
                net::URLRequest request(foundation::format("%@%@?s=%ld", mediaBase + "i/", id, int64_t{3}));
                request.setValue(w.endpoints.webClient, "Referer");
                a->startAsyncLoadWithRequest(std::move(request), tag);
            }
            if (auto self = weakSelf.lock())
                for (const auto& id : markRead) self->markMessageRead(id);
        });
    }
}

void VC_Messages::saveParse(const std::shared_ptr<HXApplicationWebClient>& app, const store::ContextPtr& context,
                            const FetchCompletion& completion, const ParseResult& r) {
    // 7. Save up the chain.
    const bool newMessage = r.newMessage, newVoicemail = r.newVoicemail;
    const int64_t type = viewType();
    std::weak_ptr<VC_Messages> weakSelf = weak_from_this();
    app->saveMOC2Parent(
        context,
        [weakSelf, newMessage, newVoicemail, type] {
            auto s = weakSelf.lock();
            if (!s) return;
            s->setIsLoadingMessages(false);
            s->controllerDidChangeContent();
            post("kOlderConversationMessagesLoadedNotification");
            if (newMessage && type != 1) post("kSMSNotification");
            if (newVoicemail && type != 2) post("kVMNotification");
        },
        completion);
}

void VC_Messages::prefetchPictures(const std::shared_ptr<HXApplicationWebClient>& app,
                                   const foundation::Array& pictures, std::function<void()> then) {
    auto& web = app->webClient();
    std::optional<std::string> cookie;
    if (auto jar = app->cookieJar()) {
        std::lock_guard lock(jar->lock());
        if (auto cookies = jar->cookiesForURL(web.endpoints.servicePageBase() + "inbox/recent/unread/"))
            cookie = net::Cookie::requestHeaderValue(*cookies);
    }
    net::URLSessionConfiguration configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.httpAdditionalHeaders.set("Referer", web.endpoints.webClient);
    configuration.httpAdditionalHeaders.set("Accept-Encoding", "gzip, deflate");
    if (cookie) configuration.httpAdditionalHeaders.set("Cookie", *cookie);
    auto session = net::URLSession::sessionWithConfiguration(std::move(configuration));
    auto cache = web.objectCache ? web.objectCache : HXCCache::sharedCache();
    const std::string base = web.endpoints.mediaBase() + "i/";
    dispatch::Group group;
    for (const Value& picture : pictures) {
        const std::string id = stringOf(picture["id"]);
        const Value& sizes = picture["imageMetaData"];
        auto info = app->imageInfoForSize("s512", sizes.isArray() ? sizes.asArray() : foundation::Array());
        const int64_t index = std::max<int64_t>(1, info ? info->get("index").int64Value() : 1);
        const std::string url = base + id + "?s=" + std::to_string(index);
        group.enter();
        dispatch::Queue::main()->async([session, cache, group, id, url]() mutable {
            auto task = session->dataTaskWithURL(url, [cache, group,
                                                       id](const foundation::Data& data,
                                                           const std::optional<net::HTTPURLResponse>& response,
                                                           const std::optional<foundation::Error>& error) mutable {
                // Only a picture is kept: an error page would stand for it for good.
                if (!error && response && response->statusCode >= 200 && response->statusCode < 300 && !data.empty())
                    cache->setObject(HXCCachedObject::withData(data), id);
                group.leave();
            });
            task->resume();
        });
    }
    group.notify(dispatch::Queue::global(dispatch::Priority::Background), [session, then = std::move(then)] {
        session->finishTasksAndInvalidate();
        then();
    });
}

uint64_t VC_Messages::markerFor(int listType, bool isSignedIn) const {
    if (listType == Spam && isSignedIn) return spamPage();
    if (listType == Archive && isSignedIn) return archivePage();
    return reloadPage();
}

void VC_Messages::afterParse(const std::shared_ptr<HXApplicationWebClient>& app, const HXThreadListReply& reply,
                             int flags, const ParseResult& r) {
    const bool spam = flags & SpamList, archive = flags & ArchiveList, reload = flags & ConversationReload;
    const int listType = selectedListType();
    std::weak_ptr<VC_Messages> weakSelf = weak_from_this();
    auto onMain = [weakSelf](std::function<void(VC_Messages&)> f) {
        dispatch::Queue::main()->async([weakSelf, f = std::move(f)] {
            if (auto s = weakSelf.lock()) f(*s);
        });
    };

    auto endOfList = [&] {
        if (spam) {
            setSpamPage(0);
            post("kAdditionalSpamMessagesReloadCompleteNotification", nullptr, {{"spamPage", Value(int64_t{0})}});
        } else if (archive) {
            setArchivePage(0);
            post("kAdditionalArchiveMessagesReloadCompleteNotification", nullptr, {{"archivePage", Value(int64_t{0})}});
        }
    };
    // 1, 2.
    if (isShownScreen()) {
        uint64_t marker = spam && listType == Spam         ? spamPage()
                          : archive && listType == Archive ? archivePage()
                          : listType == Normal             ? reloadPage()
                                                           : 0;
        if (!r.refreshNeeded || (!r.newConversation && marker >= 3)) {
            if (reply.more == HXThreadListReply::More::Absent) {
                endOfList();
                if (!spam && !archive) setReloadPage(0);
                onMain([](VC_Messages& s) { s.reloadVisibleCells(); });
            } else if (reply.more == HXThreadListReply::More::Entries) {
                if (!reload)
                    onMain([](VC_Messages& s) { s.loadMessages(Sender::ListScreen); });
                else if (r.newConversation)
                    refilter_ = true;
            }
        }
    } else if ((spam || archive) && reply.more == HXThreadListReply::More::Absent) {
        endOfList();
    }
    // 3.
    setIsLoadingMessages(false);
    std::weak_ptr<HXApplicationWebClient> weakApp = app;
    onMain([weakApp](VC_Messages& s) {
        double now = dispatch::wallNow();
        {
            std::lock_guard lock(s.mutex_);
            s.lastUpdate_ = now;
        }
        auto tag = s.viewSettings().get("viewTag");
        if (auto a = weakApp.lock())
            if (auto account = a->account(); account && tag.isString())
                account->refreshDates().set(tag.asString(), foundation::Date{now});
        s.updateLastRefreshDate();
    });
    // 4.
    if (refilter_.exchange(false)) {
        const bool scroll = r.newConversation && listType == Normal && reloadPage() == 1;
        onMain([scroll](VC_Messages& s) {
            s.filterTable();
            if (scroll) s.scrollToTopWithAnimation(true);
        });
    }
    // 5.
    if (spam)
        post("kAdditionalSpamMessagesReloadCompleteNotification", nullptr,
             {{"spamPage", Value(static_cast<int64_t>(spamPage()))}});
    else if (archive)
        post("kAdditionalArchiveMessagesReloadCompleteNotification", nullptr,
             {{"archivePage", Value(static_cast<int64_t>(archivePage()))}});
    else
        onMain([](VC_Messages& s) { s.refreshComplete(); });
    // 6.
    if (reload) {
        post("kRemoveSMSReplySendingProgressNotification");
        return;
    }
    // 7.
    if ((listType == Archive && archivePage() == 0) || (listType == Normal && reloadPage() == 0) ||
        (listType == Spam && spamPage() == 0)) {
        onMain([](VC_Messages& s) { s.reloadVisibleCells(); });
        return;
    }
    // 8. The next page ends a second before the oldest conversation of this one.
    const int64_t bound = (r.earliest ? *r.earliest : static_cast<int64_t>(dispatch::wallNow())) - 1;
    const uint64_t next = bound > 0 ? static_cast<uint64_t>(bound) : 0;
    if (spam)
        setSpamPage(next);
    else if (archive)
        setArchivePage(next);
    else
        setReloadPage(next);
}

// ---- list loading

void VC_Messages::loadMessages(Sender sender) {
    auto a = app();
    if (!a) return;
    auto account = a->account();
    if (!account || account->username().empty() || !isShownScreen()) return;
    auto& web = a->webClient();
    const std::string page = web.endpoints.servicePageBase();
    {
        std::lock_guard lock(web.urlDataLock);
        if (web.urlData.count(page + "inbox/recent/unread/")) {
            std::weak_ptr<VC_Messages> weak = weak_from_this();
            dispatch::Queue::main()->after(0.5, [weak, sender] {
                if (auto s = weak.lock()) s->loadMessages(sender);
            });
            return;
        }
    }
    const bool isSignedIn = account->authV2().has_value();
    const std::string text = searchText();
    std::string url = text.empty() ? viewSettings().get("URL").stringValue() : page + "inbox/search/?q=";
    if (sender == Sender::TableCell) {
        if (selectedListType() == Spam) url = page + "inbox/recent/spam/";
        if (selectedListType() == Archive && isSignedIn) url = page + "inbox/recent/archive/";
    }
    if (url.empty()) return;
    std::string tag;
    if (sender == Sender::None) {
        setReloadPage(1);
        tag = url;
    } else if (!text.empty()) {
        tag = page + "inbox/search/?q=" + foundation::percentEncode(text, foundation::CharacterSet::urlQueryAllowed());
    } else {
        tag = url + foundation::format("?page=p%lu", markerFor(selectedListType(), isSignedIn));
    }
    {
        std::lock_guard lock(web.urlDataLock);
        if (web.urlData.count(tag)) return;
    }
    {
        std::lock_guard lock(mutex_);
        if (isLoadingMessages_) return;
        isLoadingMessages_ = true;
    }
    gListLoadStarted = true;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kLoginNotification");
    center.removeObserver(this, "kCookiesExpiredNotification");
    std::weak_ptr<VC_Messages> weak = weak_from_this();
    center.addObserver(this, "kLoginNotification", [weak](const foundation::Notification&) {
        if (auto s = weak.lock()) s->loadMessages(Sender::None);
    });
    center.addObserver(this, "kCookiesExpiredNotification", [weak](const foundation::Notification&) {
        if (auto s = weak.lock()) s->abortLoading();
    });
    beginRefreshing(localized("Refreshing data…"));
    if (!isSignedIn) {
        setIsLoadingMessages(false);
        return;
    }
    foundation::Dictionary description;
    description.set("contentType", "application/json+protobuf");
    const std::string api(kHXApiPath);
    if (beginsWith(tag, page + "inbox/search/?q=")) {
        description.set("url", api + "api2thread/search?alt=json");
        // The text goes into the body as a JSON string, escaped: quotes and backslashes typed
        // by the user must not end the string.
        description.set(
            "body", foundation::format("[\"%@\",200,null,null,null,[null,true,true]]", a->JSONStringFromString(text)));
    } else if (beginsWith(tag, page + "inbox/recent/archive/") || beginsWith(tag, page + "inbox/recent/spam/")) {
        setIsLoadingMessages(false);
        const bool isArchive = beginsWith(tag, page + "inbox/recent/archive/");
        description.set("url", api + "api2thread/list?alt=json");
        description.set("body", foundation::format("[%d,20,15,%@,null,[null,true,true]]", isArchive ? 6 : 5,
                                                   pageToken(isArchive ? archivePage() : spamPage())));
    } else {
        const int64_t t = viewType();
        description.set("url", api + "api2thread/list?alt=json");
        description.set("body", foundation::format("[%d,20,15,%@,null,[null,true,true]]",
                                                   t == 1   ? 2
                                                   : t == 2 ? 4
                                                            : 3,
                                                   pageToken(reloadPage())));
    }
    auto request = a->apiRequestWithDict(description);
    if (!request) {
        setIsLoadingMessages(false);
        return;
    }
    a->startAsyncLoadWithRequest(std::move(*request), tag);
}

void VC_Messages::autoReloadMessages() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "UIApplicationWillEnterForegroundNotification");
    center.removeObserver(this, "kPasscodeLockDismissedNotification");
    auto a = app();
    if (!a || !a->connectionAvailable()) return;
    auto account = a->account();
    if (!account || account->username().empty() || !account->authV2() || account->authV2()->empty()) return;
    loadMessages(Sender::None);
}

void VC_Messages::messagesReceived(const std::shared_ptr<void>& object, bool searchResults) {
    if (searchResults && !isShownScreen()) return;
    auto data = std::static_pointer_cast<foundation::Data>(object);
    if (!data) {
        controllerDidChangeContent();
        // The request failed: the list stops loading, or it would refuse every later load.
        abortLoading();
        return;
    }
    std::string text(data->begin(), data->end());
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (text.find("<title>unauthorized</title>") != std::string::npos) {
        if (auto a = app()) a->login();
        return;
    }
    auto self = shared_from_this();
    std::shared_ptr<const foundation::Data> bytes = data;
    dispatch::Queue::global(dispatch::Priority::Background)->async([self, bytes] {
        self->parseMessagesFromData(bytes, {});
    });
    initialLoadDone_ = true;
}

void VC_Messages::startObservingReplies() {
    static const char* names[] = {"", "kSMSNotification", "kVMNotification", "kHistoryNotification"};
    const int64_t t = viewType();
    if (t < 1 || t > 3) return;
    std::weak_ptr<VC_Messages> weak = weak_from_this();
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, names[t], [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->messagesReceived(n.object);
    });
    center.addObserver(this, "kSearchResultsNotification", [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->messagesReceived(n.object, true);
    });
}

void VC_Messages::stopObservingReplies() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const char* name :
         {"kSMSNotification", "kVMNotification", "kHistoryNotification", "kSearchResultsNotification"})
        center.removeObserver(this, name);
}

void VC_Messages::updateBadgeValue() {
    auto settings = viewSettings();
    if (!settings.contains("typeMask")) return;
    auto a = app();
    if (!a) return;
    auto context = a->managedObjectContext();
    if (!context) return;
    uint64_t count = 0;
    const int64_t mask = settings.get("typeMask").int64Value();
    context->performAndWait([&] { count = countConversations(context, "cv_unread", mask); });
    if (count != 0 && isShownScreen() && shownConversationIsRead() == false) --count;
    a->setUnreadCount(static_cast<int64_t>(count), static_cast<int>(settings.get("viewType").int64Value()));
    std::weak_ptr<VC_Messages> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, count] {
        if (auto s = weak.lock()) s->showBackButtonCount(count);
    });
}

void VC_Messages::markConversationRead(const std::string& conversationID) {
    std::weak_ptr<VC_Messages> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, conversationID] {
        if (auto s = weak.lock()) s->markMessageRead(conversationID);
    });
}

void VC_Messages::markMessageRead(const std::string& conversationID) {
    if (auto a = app()) a->markMessageAsRead(conversationID, true);
}
