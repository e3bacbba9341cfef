// The model of a message list: the state that the SMS, voicemail and history screens share (view
// settings, page markers, the selected list type, loading state), and the list's loader: the
// parse of the service's thread lists into the account's store, the list requests with their
// paging, the unread badge count and read marking. Its rows are apart from the loader: typed
// conversations (HX_Conversation) of an HXStoreRows over the account's main context, whose
// row-level changes the screen hears. It talks back to the screen that shows it through
// HXMessageListView; without a view it behaves as a list that is not shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/conversation.h"
#include "platform/foundation/flat_map.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/fetched_results_controller.h"
#include "service/conversation_pages.h"
#include "service/message_list_receiver.h"
#include "service/message_list_view.h"
#include "service/store_rows.h"

class HXApplicationWebClient;
struct HXThreadListReply;
struct HXThreadListPlan;
struct HXStaleSweep;
struct HXListParseEnvironment;

class HXMessageListModel : public HXMessageListReceiver, public std::enable_shared_from_this<HXMessageListModel> {
public:
    // Bits of a parse's flags.
    // OwnPage: the reply of the list's own request (not the unread list's, which the history list
    // parses).
    enum ParseFlags : int {
        SpamList = 1,
        ArchiveList = 2,
        ConversationReload = 4,
        NewestPage = 8,
        SearchResults = 16,
        OwnPage = 32
    };
    // List types: the dropdown's rows (`selectedListType` gives Starred, Spam, Normal (All),
    // Archive or 0 for any other).
    enum ListType : int {
        Starred = 1,
        Spam = 2,
        Normal = 3,
        Placed = 4,
        Received = 5,
        Recorded = 6,
        Inbox = 7,
        Archive = 8,
        Missed = 9,
        Unread = 10
    };
    // Who asks for a filter (`filterTable:`'s sender): nobody, the results controller, the
    // dropdown, the search bar, a parse that brought a new conversation or anything else. It
    // decides whether to fetch and to scroll (never for the search bar or a parse).
    enum class FilterSender { None, Controller, Dropdown, SearchBar, Parse, Other };
    // Who asked for a load (`loadMessages:`): nothing or a notification (a refresh from the first
    // page), the list itself (its next page), or the load-more row of the table.
    enum class Sender { None, ListScreen, TableCell };

    // viewSettings: "viewType" (1 SMS, 2 voicemail, 3 history), "typeMask", "URL", "viewTag",
    // "labels", "filterKey", "rowHeight".
    HXMessageListModel(std::weak_ptr<HXApplicationWebClient> app, foundation::Dictionary viewSettings,
                       std::weak_ptr<HXMessageListView> view = {});
    ~HXMessageListModel() override;
    HXMessageListModel(const HXMessageListModel&) = delete;
    HXMessageListModel& operator=(const HXMessageListModel&) = delete;

    // The settings of the SMS, voicemail and history lists (service page base W).
    static foundation::Dictionary smsViewSettings(const std::string& pageBase);
    static foundation::Dictionary voicemailViewSettings(const std::string& pageBase);
    static foundation::Dictionary historyViewSettings(const std::string& pageBase, bool showFullHistory = true);
    // The settings of a view type: 1 SMS, 2 voicemail, any other the history (with the types
    // the user default "showFullHistory" asks for).
    static foundation::Dictionary viewSettingsForType(int viewType, const std::string& pageBase);
    // The history's type mask for the user default "showFullHistory".
    static int64_t historyTypeMask();

    // ---- state
    foundation::Dictionary viewSettings() const;
    void setViewSettings(foundation::Dictionary settings);
    int64_t viewType() const;
    uint64_t reloadPage() const { return reloadPage_; }
    void setReloadPage(uint64_t v) { reloadPage_ = v; }
    uint64_t spamPage() const { return spamPage_; }
    void setSpamPage(uint64_t v) { spamPage_ = v; }
    uint64_t archivePage() const { return archivePage_; }
    void setArchivePage(uint64_t v) { archivePage_ = v; }
    // The list type of the row stored under the list's "filterKey" (row 0 when there is none).
    int selectedListType() const;
    bool isLoadingMessages() const;
    void setIsLoadingMessages(bool v);
    std::optional<double> lastUpdate() const;
    // Forgets the date of the last load (the list went off screen, or another account came).
    void clearLastUpdate();
    // Without a date of its own yet (a relaunch), the list takes the one its account kept under
    // the list's "viewTag".
    void adoptStoredRefreshDate();
    // The search bar's text ("" when none).
    std::string searchText() const;
    void setSearchText(std::string text);
    // Stored conversations of the list's types.
    uint64_t totalMessagesInStore() const;
    bool initialLoadDone() const { return initialLoadDone_; }
    // From the first load asked for by a list without data until its page is in the store (or the
    // load ended without one): what waits for the app to be idle waits for it.
    bool loadingFirstPage() const override { return firstPageAwaited_; }
    // The list comes on screen (main thread). Shown for the first time with the service reachable
    // and its own first page not in yet, it waits for that page from now: its rows stay as shown
    // until the page is stored or its load ends without it, so what other loads stored meanwhile
    // (the unread threads) does not show piecemeal. A list this account never loaded shows none
    // of the stored rows meanwhile, as they are only what other loads put there.
    void willAppear();
    // What the replies this list read held that was not stored as it came, since it was made:
    // malformed UTF-8 bytes read as U+FFFD, and threads and items beyond a page's bounds.
    struct ReplyRepairs {
        uint64_t replacedSequences = 0;
        uint64_t threadsBeyondBound = 0;
        uint64_t itemsBeyondBound = 0;
        // Items not stored (a type outside the list or unknown to the app, no id), and threads
        // of which nothing was stored.
        uint64_t itemsSkipped = 0;
        uint64_t threadsSkipped = 0;
    };
    ReplyRepairs replyRepairs() const {
        return {replacedSequences_.load(), threadsBeyondBound_.load(), itemsBeyondBound_.load(), itemsSkipped_.load(),
                threadsSkipped_.load()};
    }
    // The list follows its rows from now on: its conversations in the account's main context,
    // newest first, made on first use with the list told of every change that touches them
    // (filterTable() gives them their predicate on the main queue right after). False while the
    // store has no main context (main thread). The screen reads the rows through the members
    // below.
    bool followRows();
    // The results controller behind the rows (followRows() made): for tests and benchmarks that
    // read or fetch it themselves; null while the store has no main context.
    store::FetchedResultsControllerPtr fetchedResultsController();
    // Drops the controller; the next use makes one for the store of that time.
    void dropFetchedController();
    // A logout: the controller goes, the load starts over (no data yet, not loading, every page
    // marker back at the first page), the voicemails asked for are forgotten and the list's
    // unread count is 0.
    void resetFetchedController();
    // No data since now, not loading, every page marker back at the first page (the background,
    // a logout).
    void resetLoadState();
    // The list's rows as fetched last (none before the first use of the controller).
    size_t numberOfConversations() const;
    std::optional<HX_Conversation> conversationAt(size_t row) const;
    // The stored conversation with an id, whether the list shows it or not.
    std::optional<HX_Conversation> conversationWithID(const std::string& conversationID) const;
    // Runs use with a throwaway conversation of the account's store, which nothing saves (the
    // screen measures a row with it); false, without running it, when there is no store.
    bool withScratchConversation(const std::function<void(const HX_Conversation&)>& use) const;
    // The predicate filterTable() sets: the list's types, narrowed by the dropdown's row and by
    // the search text in the selected scope.
    foundation::Result<store::Predicate> listPredicate() const;

    // ---- list types and the dropdown
    // The title of a list type, localised; none for any other code.
    static std::optional<std::string> listTitleForType(int type);
    // The list types of the dropdown's rows, in order, for a view type.
    static const std::vector<int>& listTypesOfRows(int64_t viewType);
    long numberOfDropdownRows() const;
    // The title of a row; "" for a row outside the table.
    std::string dropDownTitleForIndex(long row) const;
    // All, Spam, Starred or Archive for a row with their title, else 0.
    int listTypeForIndex(long row) const;
    // The selected row, one for all lists (-1: none yet).
    static long listFilterIndex();
    static void setListFilterIndex(long row);
    // The dropdown chose row: stores it under "filterKey", resets the page counter of a list type
    // newly chosen, observes the paging of Spam or Archive while one is chosen, filters.
    void dropdownDidSelectRow(long row);
    // On coming on screen: the stored row (row 0 for one outside the table) is chosen again when it
    // differs from the selected row. Returns the row chosen, if any.
    std::optional<long> selectStoredRow();
    // Takes "spamPage" and "archivePage" from a paging notification's user info; reloads.
    void spamOrArchiveReloadComplete(const foundation::Dictionary& userInfo);
    // The search bar's scope: 0 contact; 1 message (history: note); 2 note.
    int searchScope() const { return searchScope_; }
    void setSearchScope(int scope) { searchScope_ = scope; }
    // The history follows "showFullHistory": takes its mask again and filters.
    void changeHistoryItems();

    // ---- voicemail prefetch (any thread)
    // Asks once per id for the audio of a voicemail whose file is not there yet.
    void prefetchVM(const std::string& conversationID);
    void clearVMPrefetchList();
    std::vector<std::string> vmPrefetchList() const;

    // The screen that shows the list (none: the list is not shown).
    std::shared_ptr<HXMessageListView> view() const;
    void setView(std::weak_ptr<HXMessageListView> view);
    // Whether the list's view is the controller of the current view.
    bool isShownScreen() const;

    // The conversation the list opened ("" when the list is showing).
    std::string openConversationID() const;
    void setOpenConversationID(std::string id);
    // Set by every list request of this list; cleared when it stops observing its load.
    bool listLoadStarted() const { return listLoadStarted_; }

    // ---- parsing: asked for on the main queue, which takes what the parse needs of the
    // application object (HXListParseEnvironment); the parse itself runs on a background queue.
    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, FetchCompletion completion) override;
    // One conversation's page, the newest or an older one: handed to the web client's page loader,
    // which has this list parse it (parseConversationPage).
    void parseMessagesForConversationFromData(std::shared_ptr<const foundation::Data> data, bool isLatest) override;
    // Parses one conversation's page; done hears on the main queue what it brought once it is
    // saved (or that nothing was parsed).
    void parseConversationPage(std::shared_ptr<const foundation::Data> data, bool isLatest, HXPageCompletion done);
    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                               FetchCompletion completion) override;
    // Parses here, on the main queue, whoever is signed in.
    void parseMessagesFromData_v2(std::shared_ptr<const foundation::Data> data, int flags, FetchCompletion completion);

    // ---- list loading (main thread)
    void loadMessages(Sender sender);
    // Asks the page loader for a conversation's newest page, which this list parses when it comes.
    void loadConversation(const std::string& conversationID);
    void autoReloadMessages();
    // The answer of the list's own requests (`messagesReceived:`, main thread): the reply bytes,
    // or null when the request failed. A search reply counts only while the list is shown.
    void messagesReceived(std::shared_ptr<const foundation::Data> data, bool searchResults = false);
    void updateBadgeValue();
    // The badge's count from the store's count and the service's last count of the view.
    int64_t badgeCountWithService(int64_t stored, bool openUnread, HXApplicationWebClient& app, int viewIndex);
    void markConversationRead(const std::string& conversationID);
    void markMessageRead(const std::string& conversationID);
    // Posts the additional-spam or -archive reload notification with the page marker to take
    // over when the flag is set, then abortLoading().
    void abortLoadingForSpam(bool spam, bool archive);
    // Asynchronously on the main queue: clears the loading flag and calls refreshComplete().
    void abortLoading() override;
    // Stops observing the sign-in notifications, ends the refresh animation, shows the date.
    void refreshComplete();
    // Gives the results controller the list's predicate and fetches again (not when nobody asks
    // and it has fetched before); then the view reloads its table and, unless the search bar or
    // nobody asked, scrolls to the top.
    void filterTable(FilterSender sender = FilterSender::Other);

private:
    uint64_t badgeAnswers_ = 0;
    int64_t badgeShown_ = 0, badgeStored_ = 0;
    std::shared_ptr<HXApplicationWebClient> app() const { return app_.lock(); }
    struct ParseResult;
    // Takes the environment here (main queue) and parses on a background queue.
    void parseOffMain(std::shared_ptr<const foundation::Data> data, int flags, FetchCompletion completion,
                      HXPageCompletion page = {});
    // Reads the reply and writes it into env's child context (null env: nothing to parse into).
    void parseWith(std::shared_ptr<const HXListParseEnvironment> env, std::shared_ptr<const foundation::Data> data,
                   int flags, FetchCompletion completion, HXPageCompletion page = {});
    void parse(const HXListParseEnvironment& env, const store::ContextPtr& context, HXThreadListReply reply, int flags,
               const FetchCompletion& completion, ParseResult& result);
    // The conversations of a parse by id: views of the stored ones' ids (kept by the plan's input)
    // and of the reply's (kept by the reply), hundreds of thousands in a large list.
    using KnownConversations = foundation::FlatMap<std::string_view, store::ManagedObjectPtr>;
    // Writes the plan of reply into context: the conversations and messages, the withdrawn
    // messages and the stale conversations; markRead gets the conversations read as they are
    // shown. The plan and the reply are consumed: what they hold moves into the objects.
    void writePlan(const HXListParseEnvironment& env, const store::ContextPtr& context, HXThreadListReply& reply,
                   HXThreadListPlan& plan, KnownConversations& known, std::vector<std::string>& markRead);
    void sweepStale(const HXListParseEnvironment& env, const store::ContextPtr& context, HXStaleSweep& sweep);
    void saveParse(const HXListParseEnvironment& env, const FetchCompletion& completion, const ParseResult& result,
                   HXPageCompletion page);
    // Fetches the pictures into the shared object cache, then runs then (off the main thread).
    void prefetchPictures(const HXListParseEnvironment& env, const foundation::Array& pictures,
                          std::function<void()> then);
    // The decisions after a parse, in their order.
    void afterParse(const HXListParseEnvironment& env, int flags, const ParseResult& result);
    // True when the shown list is to ask for its next page (after the marker has moved).
    bool decideNextPage(int flags, const ParseResult& result);
    void noteLoadEnded(const std::weak_ptr<HXApplicationWebClient>& app);
    // Whether the list waits for its first page; its rows are held meanwhile (main thread).
    void awaitFirstPage(bool awaited);
    void refilterIfMarked(const ParseResult& result);
    void announceLoadEnd(int flags);
    void advancePageMarker(int flags, const ParseResult& result);
    static uint64_t nextPageBound(const ParseResult& result);
    uint64_t markerFor(int listType, bool signedIn) const;
    // Runs f with this list on the main queue while the list lives.
    void onMain(std::function<void(HXMessageListModel&)> f);
    // Runs f with the view on the main queue while list and view live.
    void onView(std::function<void(HXMessageListView&)> f);

    class RowsObserver;
    std::weak_ptr<HXApplicationWebClient> app_;
    // Main-thread state: the rows and their observer, which tells the view.
    std::shared_ptr<HXStoreRows> rows_;
    std::shared_ptr<RowsObserver> rowsObserver_;
    // The list's monitor: loading flag, settings, search text, date, view, open conversation.
    mutable foundation::Mutex mutex_;
    foundation::Dictionary viewSettings_ HX_GUARDED_BY(mutex_);
    bool isLoadingMessages_ HX_GUARDED_BY(mutex_) = false;
    std::optional<double> lastUpdate_ HX_GUARDED_BY(mutex_);
    std::string searchText_ HX_GUARDED_BY(mutex_);
    std::weak_ptr<HXMessageListView> view_ HX_GUARDED_BY(mutex_);
    std::string openConversationID_ HX_GUARDED_BY(mutex_);
    std::atomic<uint64_t> reloadPage_{1}, spamPage_{1}, archivePage_{1};
    std::atomic<int> searchScope_{0};
    // Ids of the voicemails asked for since the list was last cleared.
    mutable foundation::Mutex prefetchMutex_;
    std::set<std::string> vmPrefetchList_ HX_GUARDED_BY(prefetchMutex_);
    std::atomic<bool> initialLoadDone_{false};
    std::atomic<bool> firstPageAwaited_{false};
    // Main thread: whether the rows are held empty while the first page is awaited, and whether
    // the list has come on screen since the launch (or the last logout).
    bool heldEmpty_ = false;
    bool appeared_ = false;
    std::atomic<uint64_t> replacedSequences_{0}, threadsBeyondBound_{0}, itemsBeyondBound_{0};
    std::atomic<uint64_t> itemsSkipped_{0}, threadsSkipped_{0};
    std::atomic<bool> refilter_{false};
    std::atomic<bool> listLoadStarted_{false};
    // The kinds of sender (a bit each) whose load waits for the unread refresh to end, and the
    // first-page requests sent so far (main thread).
    unsigned retriesPending_ = 0;
    uint64_t firstPagesSent_ = 0;
};
