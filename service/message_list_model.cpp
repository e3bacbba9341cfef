#include "service/message_list_model.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "model/account.h"
#include "model/cache.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/cookie.h"
#include "platform/net/url_session.h"
#include "platform/services/search_index.h"
#include "platform/store/predicate.h"
#include "service/application_web_client.h"
#include "service/conversation_operations.h"
#include "service/conversation_requests.h"
#include "service/conversation_store.h"
#include "service/custom_cookie_jar.h"
#include "service/list_parse_environment.h"
#include "service/media_operations.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"
#include "service/thread_list_plan.h"
#include "service/thread_list_reply.h"

using namespace hxservice;

namespace {

namespace CS = HXConversationStore;
using foundation::Value;

// A list that may also come as a single object.
foundation::Array listOf(const Value& v) {
    if (v.isArray()) return v.asArray();
    if (v.isDictionary()) return foundation::Array{v};
    return {};
}

std::string pageToken(uint64_t marker) {
    return marker >= 3 ? "\"" + std::to_string(marker * 1000) + "\"" : std::string("null");
}

bool signedIn(const HXApplicationWebClient& app) {
    auto account = app.account();
    return account && account->authV2().has_value();
}

// What a conversation's page brings: its new messages before the oldest stored one and after the
// newest (all of them after, for the newest page of a conversation with none stored yet).
HXPageAnswer pageOf(const HXPlannedConversation& c, const HXStoredConversations& stored, bool newest) {
    HXPageAnswer page;
    page.conversationID = c.thread->id;
    page.more = c.thread->paginationToken && !c.thread->paginationToken->empty();
    int64_t oldest = std::numeric_limits<int64_t>::max(), newestStored = std::numeric_limits<int64_t>::min();
    if (auto it = stored.find(c.thread->id); it != stored.end())
        for (const auto& [id, number] : it->second.messages) {
            oldest = std::min(oldest, number);
            newestStored = std::max(newestStored, number);
        }
    const bool none = oldest > newestStored;
    for (const HXPlannedMessage& m : c.messages) {
        if (!m.insert) continue;
        const int64_t t = m.item->startTime;
        if (none ? !newest : t < oldest)
            ++page.older;
        else if (none || t > newestStored)
            ++page.newer;
    }
    return page;
}

}  // namespace

// Markers of one parse, handed from the parse to the decisions after it.
struct HXMessageListModel::ParseResult {
    bool refreshNeeded = false;               // R
    bool newConversation = false;             // N
    bool newMessage = false;                  // M
    bool newVoicemail = false;                // V
    std::optional<int64_t> earliest, latest;  // E, L in seconds
    // Where the page ends in time (seconds): the earliest of its threads' newest items, those
    // that could not be stored included (an item type the app does not know, no id).
    std::optional<int64_t> pageEarliest;
    bool ownPage = false;                                            // the list's own request's reply
    foundation::Array pictures;                                      // attachments a background fetch brings along
    HXThreadListReply::More more = HXThreadListReply::More::Absent;  // what the reply says of the next page
    HXPageAnswer page;                                               // a conversation page's, when one
};

// Hands the rows' changes to the list's view while the list lives.
class HXMessageListModel::RowsObserver : public HXRowsObserver {
public:
    explicit RowsObserver(std::weak_ptr<HXMessageListModel> list) : list_(std::move(list)) {}
    void rowsDidChange(const store::RowChanges& changes) override {
        if (auto list = list_.lock())
            if (auto view = list->view()) view->rowsDidChange(changes);
    }
    void rowsDidChangeContent() override {
        if (auto list = list_.lock())
            if (auto view = list->view()) view->controllerDidChangeContent();
    }

private:
    std::weak_ptr<HXMessageListModel> list_;
};

HXMessageListModel::HXMessageListModel(std::weak_ptr<HXApplicationWebClient> app, foundation::Dictionary viewSettings,
                                       std::weak_ptr<HXMessageListView> view)
    : app_(std::move(app)), viewSettings_(std::move(viewSettings)), view_(std::move(view)) {
    // Logging out happens on the main thread, the controller's own. The observer goes with the
    // list: the destructor removes every observer of this list.
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, "kLogoutNotification", [this](const foundation::Notification&) { resetFetchedController(); });
    foundation::NotificationCenter::defaultCenter().addObserver(this, "kHistoryItemsSettingDidChangeNotification",
                                                                [this](const foundation::Notification&) {
                                                                    if (viewType() == 3) changeHistoryItems();
                                                                });
}

HXMessageListModel::~HXMessageListModel() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

namespace {

foundation::Array labels(std::initializer_list<const char*> names) {
    foundation::Array out;
    for (const char* n : names) out.emplace_back(n);
    return out;
}

// The process-wide dropdown row of all lists; none chosen yet.
std::atomic<long> gListFilterIndex{-1};

}  // namespace

foundation::Dictionary HXMessageListModel::smsViewSettings(const std::string& pageBase) {
    return {{"rowHeight", Value(0.0)},          {"viewType", Value(int64_t{1})},
            {"viewTag", Value("SMS")},          {"URL", Value(pageBase + "inbox/recent/sms/")},
            {"labels", Value(labels({"sms"}))}, {"filterKey", Value("SMS_Filter")},
            {"typeMask", Value(int64_t{3072})}};
}

foundation::Dictionary HXMessageListModel::voicemailViewSettings(const std::string& pageBase) {
    return {{"rowHeight", Value(0.0)},
            {"viewType", Value(int64_t{2})},
            {"viewTag", Value("VM")},
            {"URL", Value(pageBase + "inbox/recent/voicemail/")},
            {"labels", Value(labels({"voicemail", "recorded"}))},
            {"filterKey", Value("VM_Filter")},
            {"typeMask", Value(int64_t{20})}};
}

int64_t HXMessageListModel::historyTypeMask() {
    return foundation::UserDefaults::standardUserDefaults()->boolForKey("showFullHistory") ? CS::kHistoryListMask
                                                                                           : CS::kHistoryTypes;
}

foundation::Dictionary HXMessageListModel::viewSettingsForType(int viewType, const std::string& pageBase) {
    return viewType == 1   ? smsViewSettings(pageBase)
           : viewType == 2 ? voicemailViewSettings(pageBase)
                           : historyViewSettings(pageBase, historyTypeMask() == CS::kHistoryListMask);
}

foundation::Dictionary HXMessageListModel::historyViewSettings(const std::string& pageBase, bool showFullHistory) {
    return {{"rowHeight", Value(0.0)},
            {"viewType", Value(int64_t{3})},
            {"viewTag", Value("History")},
            {"URL", Value(pageBase + "inbox/recent/all/")},
            {"labels", Value(labels({"all"}))},
            {"filterKey", Value("History_Filter")},
            {"typeMask", Value(showFullHistory ? CS::kHistoryListMask : CS::kHistoryTypes)}};
}

foundation::Dictionary HXMessageListModel::viewSettings() const {
    std::lock_guard lock(mutex_);
    return viewSettings_;
}

void HXMessageListModel::setViewSettings(foundation::Dictionary settings) {
    std::lock_guard lock(mutex_);
    viewSettings_ = std::move(settings);
}

int64_t HXMessageListModel::viewType() const { return viewSettings().get("viewType").int64Value(); }

bool HXMessageListModel::isLoadingMessages() const {
    std::lock_guard lock(mutex_);
    return isLoadingMessages_;
}

void HXMessageListModel::setIsLoadingMessages(bool v) {
    std::lock_guard lock(mutex_);
    isLoadingMessages_ = v;
}

std::optional<double> HXMessageListModel::lastUpdate() const {
    std::lock_guard lock(mutex_);
    return lastUpdate_;
}

void HXMessageListModel::clearLastUpdate() {
    std::lock_guard lock(mutex_);
    lastUpdate_.reset();
}

void HXMessageListModel::adoptStoredRefreshDate() {
    if (lastUpdate()) return;
    auto a = app();
    auto account = a ? a->account() : nullptr;
    const Value tag = viewSettings().get("viewTag");
    if (!account || !tag.isString()) return;
    const Value kept = account->refreshDates().get(tag.asString());
    const foundation::Date* date = kept.ifDate();
    if (!date) return;
    std::lock_guard lock(mutex_);
    if (!lastUpdate_) lastUpdate_ = date->secondsSince1970;
}

std::string HXMessageListModel::searchText() const {
    std::lock_guard lock(mutex_);
    return searchText_;
}

void HXMessageListModel::setSearchText(std::string text) {
    std::lock_guard lock(mutex_);
    searchText_ = std::move(text);
}

std::shared_ptr<HXMessageListView> HXMessageListModel::view() const {
    std::lock_guard lock(mutex_);
    return view_.lock();
}

void HXMessageListModel::setView(std::weak_ptr<HXMessageListView> view) {
    std::lock_guard lock(mutex_);
    view_ = std::move(view);
}

bool HXMessageListModel::isShownScreen() const {
    auto v = view();
    return v && v->isShownScreen();
}

std::string HXMessageListModel::openConversationID() const {
    std::lock_guard lock(mutex_);
    return openConversationID_;
}

void HXMessageListModel::setOpenConversationID(std::string id) {
    std::lock_guard lock(mutex_);
    openConversationID_ = std::move(id);
}

void HXMessageListModel::onMain(std::function<void(HXMessageListModel&)> f) {
    std::weak_ptr<HXMessageListModel> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, f = std::move(f)] {
        if (auto s = weak.lock()) f(*s);
    });
}

void HXMessageListModel::onView(std::function<void(HXMessageListView&)> f) {
    onMain([f = std::move(f)](HXMessageListModel& s) {
        if (auto v = s.view()) f(*v);
    });
}

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
    // The number of the relationship to the message's conversation.
    int conversation = [] {
        const store::Entity* e = HXMessageStore::managedObjectModel()->entityNamed(HXMessageStore::kMessageEntity);
        const store::Relationship* r = e ? e->relationship("Conversation") : nullptr;
        return r ? r->index : -1;
    }();
};

// What a conversation's summary reads of a message about to be written, from its fields.
CS::NewestMessage newestOf(std::span<const std::pair<int, Value>> fields) {
    static const MessageAttributes ms;
    CS::NewestMessage m;
    for (const auto& [index, value] : fields) {
        if (index == ms.from)
            m.from = value.boolValue();
        else if (index == ms.number)
            m.number = value.int64Value();
        else if (index == ms.message)
            m.text = value.asString();
        else if (index == ms.senderName)
            m.senderName = value.asString();
        else if (index == ms.senderNumber)
            m.senderNumber = value.asString();
        else if (index == ms.attachments)
            m.attachments = value;
        else if (index == ms.length)
            m.length = value;
    }
    return m;
}

}  // namespace

uint64_t HXMessageListModel::totalMessagesInStore() const {
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

store::FetchedResultsControllerPtr HXMessageListModel::fetchedResultsController() {
    if (rows_) return rows_->controller();
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
    if (!rowsObserver_) rowsObserver_ = std::make_shared<RowsObserver>(weak_from_this());
    rows_ =
        HXStoreRows::make(std::move(request), context,
                          tag.isString() ? std::optional<std::string>(tag.asString()) : std::nullopt, rowsObserver_);
    if (firstPageAwaited_) rows_->hold(heldEmpty_);
    std::weak_ptr<HXMessageListModel> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->filterTable(FilterSender::Controller);
    });
    return rows_->controller();
}

bool HXMessageListModel::followRows() { return fetchedResultsController() != nullptr; }

void HXMessageListModel::dropFetchedController() { rows_.reset(); }

void HXMessageListModel::resetFetchedController() {
    dropFetchedController();
    appeared_ = false;
    resetLoadState();
    clearVMPrefetchList();
    if (auto a = app()) a->setUnreadCount(0, static_cast<int>(viewType()));
}

void HXMessageListModel::awaitFirstPage(bool awaited) {
    if (!dispatch::isMainThread()) {
        onMain([awaited](HXMessageListModel& s) { s.awaitFirstPage(awaited); });
        return;
    }
    firstPageAwaited_ = awaited;
    if (!awaited) heldEmpty_ = false;
    // The rows shown stay as they are until the page is in, and then change once: a page does not
    // land in pieces (the unread items it holds first, its other rows later) under a finger.
    if (!rows_) return;
    if (awaited)
        rows_->hold(heldEmpty_);
    else
        rows_->release();
}

void HXMessageListModel::willAppear() {
    if (std::exchange(appeared_, true)) return;
    auto a = app();
    if (!a || initialLoadDone_ || firstPageAwaited_ || !a->connectionAvailable() || !signedIn(*a)) return;
    // A list loaded before (an earlier launch) keeps showing what it stored then.
    const Value tag = viewSettings().get("viewTag");
    heldEmpty_ = !tag.isString() || !a->account()->refreshDates().get(tag.asString()).ifDate();
    awaitFirstPage(true);
}

void HXMessageListModel::resetLoadState() {
    initialLoadDone_ = false;
    awaitFirstPage(false);
    setIsLoadingMessages(false);
    setReloadPage(1), setSpamPage(1), setArchivePage(1);
}

size_t HXMessageListModel::numberOfConversations() const { return rows_ ? rows_->count() : 0; }

std::optional<HX_Conversation> HXMessageListModel::conversationAt(size_t row) const {
    return rows_ ? rows_->rowAt<HX_Conversation>(row) : std::nullopt;
}

std::optional<HX_Conversation> HXMessageListModel::conversationWithID(const std::string& conversationID) const {
    auto a = app();
    auto object = a ? a->getConversationWithID(conversationID) : nullptr;
    if (!object) return std::nullopt;
    return HX_Conversation(std::move(object));
}

bool HXMessageListModel::withScratchConversation(const std::function<void(const HX_Conversation&)>& use) const {
    auto a = app();
    auto main = a ? a->managedObjectContext() : nullptr;
    if (!main) return false;
    // A child of the main context that is rolled back: nothing reaches the store.
    auto scratch = store::Context::create(store::ConcurrencyType::PrivateQueue);
    scratch->setParentContext(main);
    scratch->performAndWait([&] {
        if (auto conversation = HX_Conversation::insertInto(scratch)) use(*conversation);
        scratch->rollback();
    });
    return true;
}

namespace {

// Conversations that are neither trash nor spam, of the list's types.
constexpr const char* kBase = "isTrash == NO AND isSpam == NO AND type IN %@";
constexpr const char* kSpam = "isSpam == YES AND type IN %@";
// Masks of the history's call rows.
constexpr int64_t kPlacedMask = 242048, kReceivedMask = 2, kMissedMask = 1, kRecordedMask = 16;

}  // namespace

foundation::Result<store::Predicate> HXMessageListModel::listPredicate() const {
    const auto settings = viewSettings();
    int64_t mask = settings.get("typeMask").int64Value();
    const bool history = settings.get("viewType").int64Value() == 3;
    const long row = listFilterIndex();
    std::string format;
    if (history) {
        format = kBase;
        switch (row) {
            case 1:
                mask = kPlacedMask;
                break;
            case 2:
                mask = kReceivedMask;
                break;
            case 3:
                mask = kMissedMask;
                break;
            case 4:
                mask = kRecordedMask;
                break;
            case 5:
                format = "isStarred == YES AND isTrash == NO AND isSpam == NO AND type IN %@";
                break;
            case 6:
                format = kSpam;
                break;
            default:
                break;
        }
    } else {
        switch (row) {
            case 0:
                format = kBase;
                break;
            case 1:
                format = "isArchived == NO AND isSpam == NO AND isTrash == NO AND type IN %@";
                break;
            case 2:
                format = "isRead == NO AND isSpam == NO AND isTrash == NO AND type IN %@";
                break;
            case 3:
                format = "isStarred == YES AND isSpam == NO AND isTrash == NO AND type IN %@";
                break;
            case 4:
                format = "isArchived == YES AND isSpam == NO AND isTrash == NO AND type IN %@";
                break;
            case 5:
                format = kSpam;
                break;
            default:
                format = "type IN %@";
        }
    }
    std::vector<Value> arguments{CS::typesForMask(mask)};
    const std::string text = searchText();
    if (!text.empty()) {
        // The search text is an argument, never part of the format.
        const int scope = searchScope();
        if (scope == 2 && !history) {
            format += " AND note contains[cd] %@";
        } else if (scope == 1) {
            format += history ? " AND note contains[cd] %@" : " AND ANY Messages.message contains[cd] %@";
        } else {
            format += " AND (sender contains[cd] %@ OR ABName contains[cd] %@)";
            arguments.emplace_back(text);
        }
        arguments.emplace_back(text);
    }
    return store::Predicate::parse(format, arguments);
}

void HXMessageListModel::filterTable(FilterSender sender) {
    auto controller = fetchedResultsController();
    if (!controller) return;
    auto settings = viewSettings();
    if (const Value tag = settings.get("viewTag"); tag.isString())
        store::FetchedResultsController::deleteCacheWithName(tag.asString());
    auto predicate = listPredicate();
    if (!predicate.ok()) return;
    controller->fetchRequest().predicate = predicate.value();
    // Asked by nobody, a controller that has fetched takes the predicate at its next fetch.
    if (sender == FilterSender::None && !controller->sections().empty()) return;
    if (!rows_->performFetch().ok()) return;
    auto v = view();
    if (!v) return;
    v->reloadTable();
    if (sender != FilterSender::None && sender != FilterSender::SearchBar && sender != FilterSender::Parse)
        v->scrollToTopWithAnimation(false);
}

// ---- list types and the dropdown

std::optional<std::string> HXMessageListModel::listTitleForType(int type) {
    static const char* const kTitles[] = {nullptr,    "Starred", "Spam",    "All",    "Placed", "Received",
                                          "Recorded", "Inbox",   "Archive", "Missed", "Unread"};
    if (type < 1 || type > 10) return std::nullopt;
    return foundation::localizedString(kTitles[type]);
}

const std::vector<int>& HXMessageListModel::listTypesOfRows(int64_t viewType) {
    // Never destroyed: a parse that finishes on a worker while the process exits still reads them.
    static const auto& kMessages = *new std::vector<int>{Normal, Inbox, Unread, Starred, Archive, Spam};
    static const auto& kHistory = *new std::vector<int>{Normal, Placed, Received, Missed, Recorded, Starred, Spam};
    return viewType == 3 ? kHistory : kMessages;
}

long HXMessageListModel::numberOfDropdownRows() const { return static_cast<long>(listTypesOfRows(viewType()).size()); }

std::string HXMessageListModel::dropDownTitleForIndex(long row) const {
    const auto& types = listTypesOfRows(viewType());
    if (row < 0 || row >= static_cast<long>(types.size())) return "";
    return listTitleForType(types[static_cast<size_t>(row)]).value_or("");
}

int HXMessageListModel::listTypeForIndex(long row) const {
    const std::string title = dropDownTitleForIndex(row);
    for (int type : {Normal, Spam, Starred, Archive})
        if (title == listTitleForType(type)) return type;
    return 0;
}

long HXMessageListModel::listFilterIndex() { return gListFilterIndex; }

void HXMessageListModel::setListFilterIndex(long row) { gListFilterIndex = row; }

namespace {

// The row stored under the list's "filterKey"; 0 when the list has no key.
long storedRow(const foundation::Dictionary& settings) {
    const Value key = settings.get("filterKey");
    if (!key.isString()) return 0;
    return static_cast<long>(foundation::UserDefaults::standardUserDefaults()->integerForKey(key.asString()));
}

}  // namespace

int HXMessageListModel::selectedListType() const { return listTypeForIndex(storedRow(viewSettings())); }

void HXMessageListModel::dropdownDidSelectRow(long row) {
    const auto settings = viewSettings();
    if (const Value key = settings.get("filterKey"); key.isString())
        foundation::UserDefaults::standardUserDefaults()->setInteger(row, key.asString());
    const int type = listTypeForIndex(row);
    const long previous = listFilterIndex();
    if (row != previous) {
        auto a = app();
        if (a && signedIn(*a)) {
            if (type == Archive) setArchivePage(1);
            if (type == Normal) setReloadPage(1);
            if (type == Spam) setSpamPage(1);
        } else if (row == 0) {
            setReloadPage(1);
        }
        auto& center = foundation::NotificationCenter::defaultCenter();
        const int before = listTypeForIndex(previous);
        if (before == Archive) center.removeObserver(this, "kAdditionalArchiveMessagesReloadCompleteNotification");
        if (before == Spam) center.removeObserver(this, "kAdditionalSpamMessagesReloadCompleteNotification");
        const char* paging = type == Archive ? "kAdditionalArchiveMessagesReloadCompleteNotification"
                             : type == Spam  ? "kAdditionalSpamMessagesReloadCompleteNotification"
                                             : nullptr;
        if (paging) {
            // Once only, should the list type be chosen from another list that observes already.
            center.removeObserver(this, paging);
            center.addObserver(this, paging,
                               [this](const foundation::Notification& n) { spamOrArchiveReloadComplete(n.userInfo); });
        }
    }
    setListFilterIndex(row);
    filterTable(FilterSender::Dropdown);
}

std::optional<long> HXMessageListModel::selectStoredRow() {
    long row = storedRow(viewSettings());
    if (row == listFilterIndex()) return std::nullopt;
    if (row < 0 || row >= numberOfDropdownRows()) row = 0;
    dropdownDidSelectRow(row);
    return row;
}

void HXMessageListModel::spamOrArchiveReloadComplete(const foundation::Dictionary& userInfo) {
    auto page = [](const Value& v) { return static_cast<uint64_t>(std::max<int64_t>(v.int64Value(), 0)); };
    if (const Value spam = userInfo.get("spamPage"); spam.isNumber()) setSpamPage(page(spam));
    if (const Value archive = userInfo.get("archivePage"); archive.isNumber()) setArchivePage(page(archive));
    onView([](HXMessageListView& v) { v.reloadTable(); });
}

void HXMessageListModel::changeHistoryItems() {
    {
        std::lock_guard lock(mutex_);
        viewSettings_.set("typeMask", Value(historyTypeMask()));
    }
    filterTable(FilterSender::Other);
}

// ---- voicemail prefetch

void HXMessageListModel::prefetchVM(const std::string& conversationID) {
    if (conversationID.empty()) return;
    {
        std::lock_guard lock(prefetchMutex_);
        if (!vmPrefetchList_.insert(conversationID).second) return;
    }
    auto a = app();
    if (!a) return;
    std::error_code error;
    if (std::filesystem::exists(a->localURLForMedia(conversationID, "audio/"), error)) return;
    std::weak_ptr<HXApplicationWebClient> weakApp = a;
    dispatch::Queue::main()->async([weakApp, conversationID] {
        if (auto app = weakApp.lock()) HXMediaOperations::of(app)->downloadVMforID(conversationID);
    });
}

void HXMessageListModel::clearVMPrefetchList() {
    std::lock_guard lock(prefetchMutex_);
    vmPrefetchList_.clear();
}

std::vector<std::string> HXMessageListModel::vmPrefetchList() const {
    std::lock_guard lock(prefetchMutex_);
    return {vmPrefetchList_.begin(), vmPrefetchList_.end()};
}

// ---- the screen's default operations

void HXMessageListModel::abortLoading() {
    std::weak_ptr<HXMessageListModel> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->setIsLoadingMessages(false);
        self->awaitFirstPage(false);
        self->refreshComplete();
    });
}

void HXMessageListModel::refreshComplete() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kLoginNotification");
    center.removeObserver(this, "kCookiesExpiredNotification");
    listLoadStarted_ = false;
    auto v = view();
    if (v) {
        v->endRefreshing();
        v->updateLastRefreshDate();
    }
    // A list pulled down (or left at its top) goes back under its search bar once nothing loads.
    if (auto y = v ? v->contentOffsetY() : std::nullopt; y && *y <= 0 && !isLoadingMessages()) {
        std::weak_ptr<HXMessageListModel> weak = weak_from_this();
        dispatch::Queue::main()->async([weak] {
            if (auto self = weak.lock())
                if (auto shown = self->view()) shown->scrollToTopWithAnimation(true);
        });
    }
    // After an older page the row that loads the next one follows (the rows themselves followed
    // their save).
    const int type = selectedListType();
    const uint64_t page = type == Spam ? spamPage() : type == Archive ? archivePage() : reloadPage();
    if (v && (type == Normal || type == Spam || type == Archive) && page >= 2) v->updateMoreRow();
    post("kMessageReloadingCompleteNotification");
}

void HXMessageListModel::abortLoadingForSpam(bool spam, bool archive) {
    if (spam)
        post("kAdditionalSpamMessagesReloadCompleteNotification", nullptr,
             {{"spamPage", Value(static_cast<int64_t>(spamPage()))}});
    if (archive)
        post("kAdditionalArchiveMessagesReloadCompleteNotification", nullptr,
             {{"archivePage", Value(static_cast<int64_t>(archivePage()))}});
    abortLoading();
}

// ---- parsing

void HXMessageListModel::parseMessagesFromData(std::shared_ptr<const foundation::Data> data,
                                               FetchCompletion completion) {
    parseMessagesFromData(std::move(data), 0, std::move(completion));
}

void HXMessageListModel::parseMessagesForConversationFromData(std::shared_ptr<const foundation::Data> data,
                                                              bool isLatest) {
    if (auto a = app()) HXConversationPagesOf(*a)->pageArrived(std::move(data), isLatest, shared_from_this());
}

void HXMessageListModel::parseConversationPage(std::shared_ptr<const foundation::Data> data, bool isLatest,
                                               HXPageCompletion done) {
    parseOffMain(std::move(data), isLatest ? ConversationReload | NewestPage : ConversationReload, {}, std::move(done));
}

void HXMessageListModel::parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                                               FetchCompletion completion) {
    if (!data) {
        abortLoading();
        if (completion) dispatch::Queue::main()->async([completion] { completion(2); });
        return;
    }
    // Signed out, a fetch's completion is not called: the background fetch ends on its own.
    auto a = app();
    if (!a || !signedIn(*a)) {
        if (flags & OwnPage) awaitFirstPage(false);
        return;
    }
    parseOffMain(std::move(data), flags, std::move(completion));
}

void HXMessageListModel::parseOffMain(std::shared_ptr<const foundation::Data> data, int flags,
                                      FetchCompletion completion, HXPageCompletion page) {
    auto a = app();
    auto env = a ? HXMakeListParseEnvironment(*a) : nullptr;
    a.reset();
    dispatch::Queue::global(dispatch::Priority::Background)
        ->async([self = shared_from_this(), env = std::move(env), data = std::move(data), flags,
                 completion = std::move(completion), page = std::move(page)]() mutable {
            self->parseWith(std::move(env), std::move(data), flags, std::move(completion), std::move(page));
        });
}

void HXMessageListModel::parseMessagesFromData_v2(std::shared_ptr<const foundation::Data> data, int flags,
                                                  FetchCompletion completion) {
    auto a = app();
    auto env = a ? HXMakeListParseEnvironment(*a) : nullptr;
    a.reset();
    parseWith(std::move(env), std::move(data), flags, std::move(completion));
}

void HXMessageListModel::parseWith(std::shared_ptr<const HXListParseEnvironment> env,
                                   std::shared_ptr<const foundation::Data> data, int flags, FetchCompletion completion,
                                   HXPageCompletion page) {
    const bool spam = flags & SpamList, archive = flags & ArchiveList;
    auto unparsed = [&] {
        if (page) dispatch::Queue::main()->async([page] { page(HXPageAnswer{}); });
    };
    auto fail = [&] {
        abortLoadingForSpam(spam, archive);
        if (completion) dispatch::Queue::main()->async([completion] { completion(2); });
        unparsed();
    };
    std::string_view bytes =
        data ? std::string_view(reinterpret_cast<const char*>(data->data()), data->size()) : std::string_view();
    // At most ten times the page asked for is read. A search names no count of items per thread,
    // so it gets the most any page asks for.
    const auto bounds = flags & ConversationReload ? HXThreadListBounds::forPage(1, kHXConversationPageItems)
                        : flags & SearchResults
                            ? HXThreadListBounds::forPage(kHXSearchPageThreads, kHXConversationPageItems)
                            : HXThreadListBounds::forPage(kHXListPageThreads, kHXListPageItems);
    auto read = HXReadThreadList(bytes, bounds);
    if (!read.ok()) return fail();
    auto reply = std::make_shared<HXThreadListReply>(std::move(read).value());
    replacedSequences_ += reply->replacedSequences;
    threadsBeyondBound_ += reply->threadsBeyondBound;
    itemsBeyondBound_ += reply->itemsBeyondBound;
    if (reply->errorCode == 401) {
        abortLoadingForSpam(spam, archive);
        unparsed();
        dispatch::Queue::main()->async([weakApp = app_] {
            if (auto app = weakApp.lock()) app->login();
        });
        return;
    }
    if (!env || viewSettings().empty()) return fail();
    auto self = shared_from_this();
    const auto& child = env->child->context();
    HXMessageStore::performWithThreadContext(child, [self, env, child, reply, flags, completion, page] {
        auto work = [&] {
            auto result = std::make_shared<ParseResult>();
            // The parse takes the reply over: it is written into the store piece by piece.
            self->parse(*env, child, std::move(*reply), flags, completion, *result);
            auto finish = [self, env, flags, completion, result, page] {
                self->saveParse(*env, completion, *result, page);
                self->afterParse(*env, flags, *result);
            };
            if (!completion || result->pictures.empty()) return finish();
            // 6. A background fetch brings the new pictures along before the rows are saved.
            self->prefetchPictures(*env, result->pictures,
                                   [child, finish] { HXMessageStore::performWithThreadContext(child, finish); });
        };
        // One parse at a time in the whole app.
        if (env->parsingQueue)
            env->parsingQueue->sync(work);
        else
            work();
    });
}

void HXMessageListModel::parse(const HXListParseEnvironment& env, const store::ContextPtr& context,
                               HXThreadListReply reply, int flags, const FetchCompletion& completion, ParseResult& r) {
    static const ConversationAttributes cv;
    static const MessageAttributes ms;
    const bool spam = flags & SpamList, archive = flags & ArchiveList, reload = flags & ConversationReload;
    const auto settings = viewSettings();
    HXThreadListPlanInput in;
    in.flags = flags;
    in.viewType = settings.get("viewType").int64Value();
    in.typeMask = settings.get("typeMask").int64Value();
    in.shown = isShownScreen();
    in.inBackground = env.inBackground;
    in.reloadPage = reloadPage();
    in.spamPage = spamPage();
    in.archivePage = archivePage();
    if (in.shown && !spam && !archive) in.listIsEmpty = countConversations(context, "cv_type", in.typeMask) == 0;
    in.openConversationID = openConversationID();
    in.now = dispatch::wallNow();
    in.forBackgroundFetch = static_cast<bool>(completion);
    static const HXThreadListPlanInput texts = [] {
        HXThreadListPlanInput t;
        t.transcriptNotAvailable = localized("Transcript not available");
        t.recordedCall = localized("Recorded call");
        t.secondFormat = localized("%i second%@");
        t.minuteFormat = localized("%i minute%@");
        return t;
    }();
    in.transcriptNotAvailable = texts.transcriptNotAvailable;
    in.recordedCall = texts.recordedCall;
    in.secondFormat = texts.secondFormat;
    in.minuteFormat = texts.minuteFormat;

    // The reply's stored conversations in one fetch: a lookup per thread would scan the
    // context's unsaved objects every time.
    KnownConversations known;
    HXStoredConversations stored;
    foundation::Array ids;
    for (const HXThread& thread : reply.threads) ids.push_back(Value(thread.id));
    known.reserve(reply.threads.size());
    auto predicate = store::Predicate::parse("conversationID IN %@", {Value(std::move(ids))});
    if (predicate.ok() && !reply.threads.empty()) {
        store::FetchRequest request(HXMessageStore::kConversationEntity);
        request.predicate = predicate.value();
        request.relationshipKeyPathsForPrefetching = {"Messages"};
        auto rows = context->fetch(request);
        if (rows.ok()) {
            for (const auto& c : rows.value()) {
                auto [entry, added] = stored.try_emplace(c->valueAt(cv.conversationID).asString());
                if (!added) continue;
                known.emplace(entry->first, c);
                HXStoredConversation& s = entry->second;
                s.abNameIsNull = c->valueAt(cv.ABName).isNull();
                for (const auto& m : c->objects("Messages"))
                    s.messages.emplace_back(m->valueAt(ms.id).asString(),
                                            reload ? m->valueAt(ms.number).int64Value() : 0);
            }
        }
    }

    HXThreadListPlan plan = HXPlanThreadList(reply, in, stored);
    if (reload && !plan.conversations.empty()) r.page = pageOf(plan.conversations.front(), stored, flags & NewestPage);
    r.refreshNeeded = plan.refreshNeeded;
    r.newConversation = plan.newConversation;
    r.newMessage = plan.newMessage;
    r.newVoicemail = plan.newVoicemail;
    r.earliest = plan.earliest;
    r.latest = plan.latest;
    r.pageEarliest = plan.earliest;
    if (reply.earliestThreadTime) {
        const int64_t t = *reply.earliestThreadTime / 1000;
        r.pageEarliest = r.pageEarliest ? std::min(*r.pageEarliest, t) : t;
    }
    itemsSkipped_ += plan.skippedItems + reply.itemsWithoutID;
    threadsSkipped_ += plan.skippedThreads + reply.threadsWithoutID;
    r.more = reply.more;
    r.ownPage = flags & OwnPage;
    // Read before the write, which moves the attachments out of the reply.
    for (const Value* picture : plan.pictures)
        if (!env.media.cache->objectForKey(((*picture)["id"]).asString())) r.pictures.push_back(*picture);
    std::vector<std::string> markRead;
    writePlan(env, context, reply, plan, known, markRead);

    // Requests start on the main thread.
    if (plan.mediaFetches.empty() && plan.pictureFetches.empty() && markRead.empty()) return;
    std::weak_ptr<HXMessageListModel> weakSelf = weak_from_this();
    dispatch::Queue::main()->async([weakApp = env.app, weakSelf, mediaFetches = std::move(plan.mediaFetches),
                                    pictureFetches = std::move(plan.pictureFetches), markRead = std::move(markRead)] {
        auto a = weakApp.lock();
        if (!a) return;
        auto media = HXMediaOperations::of(a);
        for (const auto& [id, mime] : mediaFetches) {
            media->downloadMediaIfNeeded(id, mime, false);
            if (mime.starts_with("video/")) media->downloadMediaIfNeeded(id, mime, true);
        }
        for (const auto& id : pictureFetches)
            if (!media->mediaCache()->objectForKey(id)) media->requestThumbnail(id);
        if (auto self = weakSelf.lock())
            for (const auto& id : markRead) self->markMessageRead(id);
    });
}

void HXMessageListModel::writePlan(const HXListParseEnvironment& env, const store::ContextPtr& context,
                                   HXThreadListReply& reply, HXThreadListPlan& plan, KnownConversations& known,
                                   std::vector<std::string>& markRead) {
    static const ConversationAttributes cv;
    static const MessageAttributes ms;
    const bool isSignedIn = env.signedIn;
    std::string encodedUser;
    size_t written = 0;
    for (HXPlannedConversation& c : plan.conversations) {
        // The plan reads the reply; the write owns it, moves what it stores out of each thread
        // and frees the thread once it is written, so that a large list is never held twice.
        HXThread& thread = reply.threads[static_cast<size_t>(c.thread - reply.threads.data())];
        store::ManagedObjectPtr& conversation = known[thread.id];
        if (c.insert) {
            auto inserted = context->insertNewObject(HXMessageStore::kConversationEntity);
            if (!inserted.ok()) continue;
            conversation = inserted.value();
            conversation->setValueAt(cv.conversationID, thread.id);
        }
        if (!conversation) continue;
        conversation->setValueAt(cv.paginationToken,
                                 thread.paginationToken ? Value(std::move(*thread.paginationToken)) : Value());
        conversation->setValueAt(cv.isSpam, thread.inSpam);
        conversation->setValueAt(cv.isArchived, thread.inArchive);
        conversation->setValueAt(cv.isRead, thread.read || c.markRead);
        conversation->setValueAt(cv.lastdate, foundation::Date{static_cast<double>(c.lastdate)});
        conversation->setValueAt(cv.isTrash, false);
        conversation->setValueAt(cv.phoneNumber, c.phoneNumber);
        conversation->setValueAt(cv.sender, c.sender);
        // The name is set once: a name cleared and found again is no change of the row.
        std::optional<std::string> abName;
        if (c.clearABName) abName = "";
        if (c.nameLookup == HXPlannedConversation::NameLookup::Contact) {
            auto formatted =
                env.numberFormatter
                    ? PhoneExtensions::formattedPhoneNumberFromStringWithFormatter(c.phoneNumber, *env.numberFormatter)
                    : c.phoneNumber;
            abName = env.names.nameForNumber(formatted);
            conversation->setValueAt(cv.formattedNumber, std::move(formatted));
        } else if (c.nameLookup == HXPlannedConversation::NameLookup::Group) {
            abName = env.names.groupName(c.phoneNumber);
        }
        if (abName) conversation->setValueAt(cv.ABName, std::move(*abName));
        conversation->setValueAt(cv.type, c.type);
        conversation->setValueAt(cv.cost, thread.displayableCost ? Value(std::move(*thread.displayableCost)) : Value());
        conversation->setValueAt(cv.isSenderBlocked, thread.contactBlocked);

        // The stored messages by id, when the plan updates or withdraws any.
        std::unordered_map<std::string, store::ManagedObjectPtr> messagesByID;
        const bool updates = !c.withdrawn.empty() ||
                             std::any_of(c.messages.begin(), c.messages.end(), [](const auto& m) { return !m.insert; });
        if (updates)
            for (const auto& m : conversation->objects("Messages"))
                messagesByID.emplace(m->valueAt(ms.id).asString(), m);
        // A new conversation's messages are all new: each goes to the store as a row, never read
        // back, and the summary is taken from the newest (the last of the greatest number) as it
        // is written.
        const bool asRows = c.insert && !updates;
        size_t newestIndex = 0, rows = 0;
        CS::NewestMessage newest;
        if (asRows)
            for (size_t i = 1; i < c.messages.size(); ++i)
                if (c.messages[i].item->startTime >= c.messages[newestIndex].item->startTime) newestIndex = i;
        for (size_t index = 0; index < c.messages.size(); ++index) {
            HXPlannedMessage& planned = c.messages[index];
            HXThreadItem& item = thread.items[static_cast<size_t>(planned.item - thread.items.data())];
            store::ManagedObjectPtr message;
            // Set together, under one hold of the context's lock: a list brings thousands.
            std::pair<int, Value> fields[9];
            size_t n = 0;
            if (asRows) {
                fields[n++] = {ms.id, std::move(item.id)};
            } else if (planned.insert) {
                auto inserted = context->insertNewObject(HXMessageStore::kMessageEntity);
                if (!inserted.ok()) continue;
                message = inserted.value();
                // The thread may name the same item again.
                if (updates) messagesByID.emplace(item.id, message);
                fields[n++] = {ms.id, std::move(item.id)};
            } else if (auto it = messagesByID.find(item.id); it != messagesByID.end()) {
                message = it->second;
            } else {
                continue;
            }
            fields[n++] = {ms.message, planned.text ? std::move(*planned.text) : std::move(*item.messageText)};
            if (planned.groupSender) {
                std::string senderNumber = env.names.formatted(item.mmsSenderPhoneNumber);
                std::string senderName = env.names.nameForNumber(senderNumber);
                fields[n++] = {ms.senderNumber, std::move(senderNumber)};
                fields[n++] = {ms.senderName, std::move(senderName)};
            }
            fields[n++] = {ms.length, std::move(planned.length)};
            fields[n++] = {ms.from, item.type == "smsOut"};
            fields[n++] = {ms.date, ""};
            fields[n++] = {ms.number, item.startTime};
            fields[n++] = {ms.attachments, std::move(item.attachments)};
            if (asRows) {
                if (index == newestIndex) newest = newestOf(std::span(fields, n));
                const std::pair<int, store::ManagedObjectPtr> owner[] = {{ms.conversation, conversation}};
                if (context->insertNewRow(HXMessageStore::kMessageEntity, std::span(fields, n), owner).ok()) ++rows;
                continue;
            }
            message->setValuesAt(std::span(fields, n));
            (void)message->setObject("Conversation", conversation);
        }
        // A conversation page's withdrawn messages go with their media and search items.
        if (!c.withdrawn.empty()) {
            if (encodedUser.empty())
                encodedUser = foundation::percentEncode(env.username, foundation::CharacterSet::urlUserAllowed());
            std::vector<std::string> searchItems;
            for (const std::string& id : c.withdrawn) {
                auto it = messagesByID.find(id);
                if (it == messagesByID.end()) continue;
                const store::ManagedObjectPtr& m = it->second;
                for (const Value& attachment : listOf(m->valueAt(ms.attachments)))
                    env.media.remove(attachment["id"].asString(), attachment["mimeType"].asString());
                searchItems.push_back(
                    foundation::format("%@.%@.%@", thread.id, m->valueAt(ms.number).int64Value(), encodedUser));
                (void)m->setObject("Conversation", nullptr);
                conversation->setValueAt(
                    cv.numberOfMessages,
                    std::max<int64_t>(0, conversation->valueAt(cv.numberOfMessages).int64Value() - 1));
                context->deleteObject(m);
            }
            if (!searchItems.empty())
                services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithIdentifiers(searchItems);
        }
        if (c.markRead) markRead.push_back(thread.id);
        if (asRows)
            CS::setLastMessageProperties(conversation, newest, rows, isSignedIn);
        else
            CS::updateLastMessageProperties(conversation, isSignedIn);
        std::vector<HXPlannedMessage>().swap(c.messages);
        std::vector<HXThreadItem>().swap(thread.items);
        // The messages written so far wait for the save as rows rather than objects.
        if (++written % 1024 == 0) context->holdUnreferencedInserted(HXMessageStore::kMessageEntity);
    }
    context->holdUnreferencedInserted(HXMessageStore::kMessageEntity);
    if (plan.stale) sweepStale(env, context, *plan.stale);
}

void HXMessageListModel::sweepStale(const HXListParseEnvironment& env, const store::ContextPtr& context,
                                    HXStaleSweep& sweep) {
    foundation::Dictionary vars;
    vars.set("TYPELIST", CS::typesForMask(sweep.typeMask));
    vars.set("FIRSTMESSAGE", foundation::Date{static_cast<double>(sweep.first)});
    vars.set("LASTMESSAGE", foundation::Date{static_cast<double>(sweep.last) + 0.999});
    vars.set("IDLIST", std::move(sweep.listedIDs));
    vars.set("ISTRASH", false);
    vars.set("ISSPAM", sweep.spam);
    auto request = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate("cv_stale", vars);
    if (!request.ok()) return;
    auto stale = context->fetch(request.value());
    if (!stale.ok()) return;
    const std::string domainUser = HXMessageStore::searchDomainOfUser(env.username);
    std::vector<std::string> domains;
    for (const auto& c : stale.value()) {
        if (c->value("isArchived").boolValue() != sweep.archive || c->value("isSpam").boolValue() != sweep.spam)
            continue;
        const int64_t code = c->value("type").int64Value();
        const std::string id = c->value("conversationID").asString();
        if (code == 4 || code == 2) {
            std::error_code ec;
            std::filesystem::remove(env.media.localURL(id, "audio/"), ec);
        }
        context->deleteObject(c);
        domains.push_back(foundation::format("%@.%@", domainUser, id));
    }
    if (!domains.empty())
        services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithDomainIdentifiers(domains);
}

void HXMessageListModel::saveParse(const HXListParseEnvironment& env, const FetchCompletion& completion,
                                   const ParseResult& r, HXPageCompletion page) {
    // 7. Save up the chain.
    const bool newMessage = r.newMessage, newVoicemail = r.newVoicemail, ownPage = r.ownPage;
    const int64_t type = viewType();
    std::weak_ptr<HXMessageListModel> weakSelf = weak_from_this();
    HXPageAnswer answer = r.page;
    answer.parsed = true;
    env.child->save(
        [weakSelf, newMessage, newVoicemail, ownPage, type, page = std::move(page), answer] {
            // The page's caller hears of it once its rows are in the main context.
            if (page) page(answer);
            auto s = weakSelf.lock();
            if (!s) return;
            s->setIsLoadingMessages(false);
            if (ownPage) s->awaitFirstPage(false);
            if (auto v = s->view()) v->controllerDidChangeContent();
            post("kOlderConversationMessagesLoadedNotification");
            if (newMessage && type != 1) post("kSMSNotification");
            if (newVoicemail && type != 2) post("kVMNotification");
        },
        completion);
}

void HXMessageListModel::prefetchPictures(const HXListParseEnvironment& env, const foundation::Array& pictures,
                                          std::function<void()> then) {
    auto session = net::URLSession::sessionWithConfiguration(HXMediaSessionConfiguration(env.endpoints, env.cookieJar));
    auto cache = env.media.cache;
    const std::string base = env.endpoints.mediaBase() + "i/";
    dispatch::Group group;
    for (const Value& picture : pictures) {
        const std::string id = picture["id"].asString();
        const Value& sizes = picture["imageMetaData"];
        auto info =
            HXApplicationWebClient::imageInfoForSize("s512", sizes.isArray() ? sizes.asArray() : foundation::Array());
        const int64_t index = std::max<int64_t>(1, info ? info->get("index").int64Value() : 1);
        const std::string url = base + HXApplicationWebClient::mediaPathSegment(id) + "?s=" + std::to_string(index);
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

uint64_t HXMessageListModel::markerFor(int listType, bool isSignedIn) const {
    if (listType == Spam && isSignedIn) return spamPage();
    if (listType == Archive && isSignedIn) return archivePage();
    return reloadPage();
}

void HXMessageListModel::afterParse(const HXListParseEnvironment& env, int flags, const ParseResult& r) {
    const bool askNext = decideNextPage(flags, r);
    setIsLoadingMessages(false);
    noteLoadEnded(env.app);
    refilterIfMarked(r);
    announceLoadEnd(flags);
    // A conversation page ends here; a list moves on to its next page unless it has ended.
    if (flags & ConversationReload) {
        post("kRemoveSMSReplySendingProgressNotification");
        return;
    }
    const int listType = selectedListType();
    if ((listType == Archive && archivePage() == 0) || (listType == Normal && reloadPage() == 0) ||
        (listType == Spam && spamPage() == 0))
        onView([](HXMessageListView& v) { v.updateMoreRow(); });
    else
        advancePageMarker(flags, r);
    // Asked for once the marker names the next page and the list is no longer loading: a request
    // sent before would ask for this page again.
    if (askNext) onMain([](HXMessageListModel& s) { s.loadMessages(Sender::ListScreen); });
}

// The shown list asks for its next page, or learns that its list has ended; a spam or archive
// list not on screen learns of its end too.
bool HXMessageListModel::decideNextPage(int flags, const ParseResult& r) {
    const bool spam = flags & SpamList, archive = flags & ArchiveList, reload = flags & ConversationReload;
    const int listType = selectedListType();
    auto endOfList = [&] {
        if (spam) {
            setSpamPage(0);
            post("kAdditionalSpamMessagesReloadCompleteNotification", nullptr, {{"spamPage", Value(int64_t{0})}});
        } else if (archive) {
            setArchivePage(0);
            post("kAdditionalArchiveMessagesReloadCompleteNotification", nullptr, {{"archivePage", Value(int64_t{0})}});
        }
    };
    if (!isShownScreen()) {
        if ((spam || archive) && r.more == HXThreadListReply::More::Absent) endOfList();
        return false;
    }
    const uint64_t marker = spam && listType == Spam         ? spamPage()
                            : archive && listType == Archive ? archivePage()
                            : listType == Normal             ? reloadPage()
                                                             : 0;
    if (r.refreshNeeded && (r.newConversation || marker < 3)) return false;
    // A page that would not move the marker back would be asked for again and again: the list
    // ends there.
    const bool stalled =
        !reload && r.more == HXThreadListReply::More::Entries && marker >= 3 && nextPageBound(r) >= marker;
    if (r.more == HXThreadListReply::More::Absent || stalled) {
        endOfList();
        if (!spam && !archive) setReloadPage(0);
        onView([](HXMessageListView& v) { v.updateMoreRow(); });
    } else if (r.more == HXThreadListReply::More::Entries) {
        if (!reload) return true;
        if (r.newConversation) refilter_ = true;
    }
    return false;
}

// The time of this load, kept with the account under the list's tag, and shown.
void HXMessageListModel::noteLoadEnded(const std::weak_ptr<HXApplicationWebClient>& weakApp) {
    onMain([weakApp](HXMessageListModel& s) {
        double now = dispatch::wallNow();
        {
            std::lock_guard lock(s.mutex_);
            s.lastUpdate_ = now;
        }
        auto tag = s.viewSettings().get("viewTag");
        if (auto a = weakApp.lock())
            if (auto account = a->account(); account && tag.isString())
                account->refreshDates().set(tag.asString(), foundation::Date{now});
        if (auto v = s.view()) v->updateLastRefreshDate();
    });
}

// A conversation page that brought a new conversation filters the table again; a refresh of the
// normal list from its first page scrolls to the top.
void HXMessageListModel::refilterIfMarked(const ParseResult& r) {
    if (!refilter_.exchange(false)) return;
    const bool scroll = r.newConversation && selectedListType() == Normal && reloadPage() == 1;
    onMain([scroll](HXMessageListModel& s) {
        s.filterTable(FilterSender::Parse);
        if (auto v = s.view(); v && scroll) v->scrollToTopWithAnimation(true);
    });
}

// The spam and archive lists announce their page marker; any other list ends its refresh.
void HXMessageListModel::announceLoadEnd(int flags) {
    if (flags & SpamList)
        post("kAdditionalSpamMessagesReloadCompleteNotification", nullptr,
             {{"spamPage", Value(static_cast<int64_t>(spamPage()))}});
    else if (flags & ArchiveList)
        post("kAdditionalArchiveMessagesReloadCompleteNotification", nullptr,
             {{"archivePage", Value(static_cast<int64_t>(archivePage()))}});
    else
        onMain([](HXMessageListModel& s) { s.refreshComplete(); });
}

// The next page ends a second before the oldest conversation of this one, counting those that
// could not be stored: a page of them still moves the list back.
uint64_t HXMessageListModel::nextPageBound(const ParseResult& r) {
    const int64_t bound = (r.pageEarliest ? *r.pageEarliest : static_cast<int64_t>(dispatch::wallNow())) - 1;
    return bound > 0 ? static_cast<uint64_t>(bound) : 0;
}

// A marker that does not move back ends the list: the next page would be this one again.
void HXMessageListModel::advancePageMarker(int flags, const ParseResult& r) {
    const uint64_t current = (flags & SpamList) ? spamPage() : (flags & ArchiveList) ? archivePage() : reloadPage();
    uint64_t next = nextPageBound(r);
    if (current >= 3 && next >= current) next = 0;
    if (flags & SpamList)
        setSpamPage(next);
    else if (flags & ArchiveList)
        setArchivePage(next);
    else
        setReloadPage(next);
}

// ---- list loading

void HXMessageListModel::loadMessages(Sender sender) {
    auto a = app();
    if (!a) return;
    auto account = a->account();
    if (!account || account->username().empty() || !isShownScreen()) return;
    // A list without data waits for its first page from here (also while the load waits for the
    // unread refresh or for a token) until the page is stored or the load ends without one.
    if (sender == Sender::None && !initialLoadDone_ && a->connectionAvailable()) awaitFirstPage(true);
    auto& web = HXWebClientOf(*a);
    const std::string page = web.endpoints.servicePageBase();
    {
        if (web.requests.contains(page + "inbox/recent/unread/")) {
            // Every load asked for meanwhile (coming back from the background wakes the list several
            // ways at once) waits for it together: one retry for each kind of sender, not one each.
            // A first page that went out meanwhile is the load the retry waited to send.
            const unsigned bit = 1u << static_cast<unsigned>(sender);
            if (retriesPending_ & bit) return;
            retriesPending_ |= bit;
            std::weak_ptr<HXMessageListModel> weak = weak_from_this();
            dispatch::Queue::main()->after(0.5, [weak, sender, bit, sent = firstPagesSent_] {
                auto s = weak.lock();
                if (!s) return;
                s->retriesPending_ &= ~bit;
                if (sender == Sender::None && s->firstPagesSent_ != sent) return;
                s->loadMessages(sender);
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
    if (web.requests.contains(tag)) return;
    {
        std::lock_guard lock(mutex_);
        if (isLoadingMessages_) return;
        isLoadingMessages_ = true;
    }
    listLoadStarted_ = true;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "kLoginNotification");
    center.removeObserver(this, "kCookiesExpiredNotification");
    std::weak_ptr<HXMessageListModel> weak = weak_from_this();
    center.addObserver(this, "kLoginNotification", [weak](const foundation::Notification&) {
        if (auto s = weak.lock()) s->loadMessages(Sender::None);
    });
    center.addObserver(this, "kCookiesExpiredNotification", [weak](const foundation::Notification&) {
        if (auto s = weak.lock()) s->abortLoading();
    });
    if (auto v = view()) v->beginRefreshing(localized("Refreshing data…"));
    // A load that sends nothing ends its spinner at once; the sign-in observers stay, so the
    // load runs when a sign-in completes.
    auto sendNothing = [this] {
        setIsLoadingMessages(false);
        if (auto v = view()) v->endRefreshing();
    };
    if (!isSignedIn) {
        awaitFirstPage(false);
        return sendNothing();
    }
    foundation::Dictionary description;
    description.set("contentType", "application/json+protobuf");
    const std::string api(kHXApiPath);
    if (tag.starts_with(page + "inbox/search/?q=")) {
        description.set("url", api + "api2thread/search?alt=json");
        // The text goes into the body as a JSON string, escaped: quotes and backslashes typed
        // by the user must not end the string.
        description.set("body", foundation::format("[\"%@\",%d,null,null,null,[null,true,true]]",
                                                   a->JSONStringFromString(text), kHXSearchPageThreads));
    } else if (tag.starts_with(page + "inbox/recent/archive/") || tag.starts_with(page + "inbox/recent/spam/")) {
        setIsLoadingMessages(false);
        const bool isArchive = tag.starts_with(page + "inbox/recent/archive/");
        description.set("url", api + "api2thread/list?alt=json");
        description.set("body",
                        foundation::format("[%d,%d,%d,%@,null,[null,true,true]]", isArchive ? 6 : 5, kHXListPageThreads,
                                           kHXListPageItems, pageToken(isArchive ? archivePage() : spamPage())));
    } else {
        const int64_t t = viewType();
        description.set("url", api + "api2thread/list?alt=json");
        description.set("body", foundation::format("[%d,%d,%d,%@,null,[null,true,true]]",
                                                   t == 1   ? 2
                                                   : t == 2 ? 4
                                                            : 3,
                                                   kHXListPageThreads, kHXListPageItems, pageToken(reloadPage())));
    }
    // Without a token nothing goes out now: one is on its way, and the list loads when it comes
    // (still waiting for its first page, unless the token's request fails and aborts the load).
    auto request = a->apiRequestWithDict(description);
    if (!request) return sendNothing();
    HXReplyAnswer answer;
    if (tag.starts_with(page + "inbox/recent/archive/") || tag.starts_with(page + "inbox/recent/spam/")) {
        answer = HXHistoryListParses(a, tag.starts_with(page + "inbox/recent/archive/") ? ArchiveList : SpamList);
    } else {
        const bool search = tag.starts_with(page + "inbox/search/?q=");
        answer = [weak, search](std::shared_ptr<foundation::Data> data) {
            if (auto s = weak.lock()) s->messagesReceived(std::move(data), search);
        };
    }
    if (sender == Sender::None && tag == url) ++firstPagesSent_;
    a->startAsyncLoadWithRequest(std::move(*request), tag, std::move(answer));
}

void HXMessageListModel::loadConversation(const std::string& conversationID) {
    if (auto a = app()) HXConversationPagesOf(*a)->loadNewest(conversationID, {}, weak_from_this());
}

void HXMessageListModel::autoReloadMessages() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, "UIApplicationWillEnterForegroundNotification");
    center.removeObserver(this, "kPasscodeLockDismissedNotification");
    auto a = app();
    if (!a || !a->connectionAvailable()) return;
    auto account = a->account();
    if (!account || account->username().empty() || !account->authV2() || account->authV2()->empty()) return;
    loadMessages(Sender::None);
}

void HXMessageListModel::messagesReceived(std::shared_ptr<const foundation::Data> data, bool searchResults) {
    if (searchResults && !isShownScreen()) return;
    if (!data) {
        if (auto v = view()) v->controllerDidChangeContent();
        // The request failed: the list stops loading, or it would refuse every later load.
        abortLoading();
        return;
    }
    const std::string text =
        foundation::asciiLowercase(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
    if (text.find("<title>unauthorized</title>") != std::string::npos) {
        if (auto a = app()) a->login();
        return;
    }
    parseMessagesFromData(std::move(data), OwnPage | (searchResults ? SearchResults : 0), {});
    initialLoadDone_ = true;
}

void HXMessageListModel::updateBadgeValue() {
    auto settings = viewSettings();
    if (!settings.contains("typeMask")) return;
    auto a = app();
    if (!a) return;
    auto context = a->managedObjectContext();
    if (!context) return;
    uint64_t count = 0;
    const int64_t mask = settings.get("typeMask").int64Value();
    context->performAndWait([&] { count = countConversations(context, "cv_unread", mask); });
    auto v = view();
    const bool openUnread = count != 0 && v && v->isShownScreen() && v->shownConversationIsRead() == false;
    if (openUnread) --count;
    const int viewIndex = static_cast<int>(settings.get("viewType").int64Value());
    // Before the service has counted, the store's count (which may hold only the first pages) is
    // not shown where the service's is on its way: the badge changes once, to the service's.
    if (HXAwaitsServiceUnreadCount(*a, viewIndex)) return;
    count = static_cast<uint64_t>(badgeCountWithService(static_cast<int64_t>(count), openUnread, *a, viewIndex));
    a->setUnreadCount(static_cast<int64_t>(count), viewIndex);
    onView([count](HXMessageListView& v) { v.showBackButtonCount(count); });
}

// The store may hold only the first pages of a list, so its count of unread conversations can be
// below the service's. Once the service has given its count, that count is the badge; what the
// store then loses (conversations read or deleted here) lowers it, what the store only learns of
// (older pages of threads the service counted) does not raise it past it, and the store's count is
// never undercut.
int64_t HXMessageListModel::badgeCountWithService(int64_t stored, bool openUnread, HXApplicationWebClient& app,
                                                  int viewIndex) {
    const auto service = HXWebClientOf(app).serviceUnreadCount(viewIndex);
    if (service.count < 0) return stored;
    if (service.answers != badgeAnswers_) {
        badgeAnswers_ = service.answers;
        badgeShown_ = std::max<int64_t>(0, service.count - (openUnread ? 1 : 0));
        badgeStored_ = stored;
    }
    const int64_t shown = std::max(stored, std::min(badgeShown_, badgeShown_ + (stored - badgeStored_)));
    badgeShown_ = shown;
    badgeStored_ = stored;
    return shown;
}

void HXMessageListModel::markConversationRead(const std::string& conversationID) {
    std::weak_ptr<HXMessageListModel> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, conversationID] {
        if (auto s = weak.lock()) s->markMessageRead(conversationID);
    });
}

void HXMessageListModel::markMessageRead(const std::string& conversationID) {
    if (auto a = app()) (void)HXConversationOperations::of(a)->markConversation(conversationID, true);
}
