// The message lists without their views: the state that the SMS, voicemail and history screens
// share (view settings, page markers, the selected list type, loading state), the parse of the
// service's thread lists into the account's store, the list requests with their paging, the
// unread badge count and read marking. The list screens derive from this class; the steps that
// touch views are virtual hooks with neutral defaults, so tests (and the screens) see every call.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/fetched_results_controller.h"
#include "service/message_list_screen.h"

class HXApplicationWebClient;
struct HXThreadListReply;

class VC_Messages : public HXMessageListScreen, public std::enable_shared_from_this<VC_Messages> {
public:
    // Bits of a parse's flags.
    enum ParseFlags : int { SpamList = 1, ArchiveList = 2, ConversationReload = 4, NewestPage = 8 };
    // `selectedListType`: the list-type menu's choice.
    enum ListType : int { Spam = 2, Normal = 3, Archive = 8 };
    // Who asked for a load (`loadMessages:`): nothing or a notification (a refresh from the first
    // page), the list itself (its next page), or the load-more row of the table.
    enum class Sender { None, ListScreen, TableCell };

    // viewSettings: "viewType" (1 SMS, 2 voicemail, 3 history), "typeMask", "URL", "viewTag".
    VC_Messages(std::weak_ptr<HXApplicationWebClient> app, foundation::Dictionary viewSettings);
    virtual ~VC_Messages();
    VC_Messages(const VC_Messages&) = delete;
    VC_Messages& operator=(const VC_Messages&) = delete;

    // The settings of the SMS, voicemail and history lists (service page base W).
    static foundation::Dictionary smsViewSettings(const std::string& pageBase);
    static foundation::Dictionary voicemailViewSettings(const std::string& pageBase);
    static foundation::Dictionary historyViewSettings(const std::string& pageBase, bool showFullHistory = true);
    // The settings of a view type: 1 SMS, 2 voicemail, any other the history.
    static foundation::Dictionary viewSettingsForType(int viewType, const std::string& pageBase);

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
    int selectedListType() const { return selectedListType_; }
    void setSelectedListType(int v) { selectedListType_ = v; }
    bool isLoadingMessages() const;
    void setIsLoadingMessages(bool v);
    std::optional<double> lastUpdate() const;
    // The search bar's text ("" when none).
    std::string searchText() const;
    void setSearchText(std::string text);
    // Stored conversations of the list's types.
    uint64_t totalMessagesInStore() const;
    bool initialLoadDone() const { return initialLoadDone_; }
    // The list's conversations in the account's main context, newest first (main thread). Made on
    // first use when the store has a main context (null otherwise), with the list told of every
    // change that touches it; filterTable() gives it its predicate on the main queue right after.
    store::FetchedResultsControllerPtr fetchedResultsController();
    // Drops the controller (at logout); the next use makes one for the store of that time.
    void resetFetchedController();
    // The predicate filterTable() sets: the list's types, narrowed by the selected list type, and
    // by the search text in the conversation's sender or contact name.
    foundation::Result<store::Predicate> listPredicate() const;

    // The conversation the list opened (class-wide; "" when the list is showing).
    static std::string openConversationID();
    static void setOpenConversationID(std::string id);
    // Set by every list request; cleared when a list stops observing its load.
    static bool listLoadStarted();

    // ---- parsing (off the main thread)
    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, FetchCompletion completion) override;
    void parseMessagesForConversationFromData(std::shared_ptr<const foundation::Data> data, bool isLatest) override;
    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                               FetchCompletion completion) override;
    void parseMessagesFromData_v2(std::shared_ptr<const foundation::Data> data, int flags, FetchCompletion completion);

    // ---- list loading (main thread)
    void loadMessages(Sender sender);
    void autoReloadMessages();
    // The reply notifications of the list (`messagesReceived:`): object = the reply bytes or null.
    void messagesReceived(const std::shared_ptr<void>& object, bool searchResults = false);
    // Observes the list's reply notification (and the search results while it is shown).
    void startObservingReplies();
    void stopObservingReplies();
    void updateBadgeValue();
    void markConversationRead(const std::string& conversationID);
    void markMessageRead(const std::string& conversationID);
    void abortLoadingForSpam(bool spam, bool archive) override;

    // ---- the screen's operations (overridable; the defaults are those of a list without views)
    // Whether this list is the controller of the current view.
    virtual bool isShownScreen() const { return shown_; }
    void setShownScreen(bool shown) { shown_ = shown; }
    // Asynchronously on the main queue: clears the loading flag and calls refreshComplete().
    void abortLoading() override;
    // Stops observing the sign-in notifications, ends the refresh animation, shows the date.
    void refreshComplete() override;
    void reloadVisibleCells() override {}
    // Gives the results controller the list's predicate and fetches again; then reloadTable().
    void filterTable() override;
    virtual void reloadTable() {}
    void scrollToTopWithAnimation(bool /*animated*/) override {}
    void updateLastRefreshDate() override {}
    void controllerDidChangeContent() override {}
    virtual void beginRefreshing(const std::string& /*title*/) {}
    virtual void endRefreshing() {}
    // The shown conversation screen's conversation: read state, or none when none is shown.
    virtual std::optional<bool> shownConversationIsRead() const { return std::nullopt; }
    // Shows the unread count on the back button.
    virtual void showBackButtonCount(uint64_t /*count*/) {}

protected:
    std::shared_ptr<HXApplicationWebClient> app() const { return app_.lock(); }

private:
    struct Markers;
    struct ParseResult;
    void parse(const std::shared_ptr<HXApplicationWebClient>& app, const store::ContextPtr& context,
               const HXThreadListReply& reply, int flags, const FetchCompletion& completion, ParseResult& result);
    void saveParse(const std::shared_ptr<HXApplicationWebClient>& app, const store::ContextPtr& context,
                   const FetchCompletion& completion, const ParseResult& result);
    // Fetches the pictures into the shared object cache, then runs then (off the main thread).
    void prefetchPictures(const std::shared_ptr<HXApplicationWebClient>& app, const foundation::Array& pictures,
                          std::function<void()> then);
    void afterParse(const std::shared_ptr<HXApplicationWebClient>& app, const HXThreadListReply& reply, int flags,
                    const ParseResult& result);
    uint64_t markerFor(int listType, bool signedIn) const;

    class FetchDelegate;
    std::weak_ptr<HXApplicationWebClient> app_;
    // Main-thread state: the results controller and its delegate.
    store::FetchedResultsControllerPtr fetchedResultsController_;
    std::shared_ptr<FetchDelegate> fetchDelegate_;
    mutable std::mutex mutex_;  // the screen's monitor: loading flag, settings, search text, date
    foundation::Dictionary viewSettings_;
    bool isLoadingMessages_ = false;
    std::optional<double> lastUpdate_;
    std::string searchText_;
    std::atomic<uint64_t> reloadPage_{1}, spamPage_{1}, archivePage_{1};
    std::atomic<int> selectedListType_{Normal};
    std::atomic<bool> shown_{false};
    std::atomic<bool> initialLoadDone_{false};
    std::atomic<bool> refilter_{false};
};
