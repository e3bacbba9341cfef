// The application object: the one hub of shared state that every part reaches. One class whose
// operations are defined by concern in the folder of the subsystem they belong to
// (model/connect_app_delegate_*.cpp for the data model's, service/ for the web client's, app/
// for the shell's), so each builds and tests without the user interface. Each subsystem adds
// the declarations of its own operations in a section of its own below. Like the platform's
// application object, its plain fields belong to the main thread; what other threads share
// (the access counts) is guarded by monitor().
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

class HXCPhoneFormat;
class HX_Account;
class CustomCookieJar;
namespace services {
class ContactStore;
}
class AsyncURLConnection;
struct HXWebClient;
struct HXRoutedReply;
namespace net {
class URLRequest;
struct HTTPURLResponse;
}  // namespace net
namespace store {
class Context;
class Coordinator;
class Model;
class ManagedObject;
}  // namespace store

class HX_ConnectAppDelegate : public std::enable_shared_from_this<HX_ConnectAppDelegate> {
public:
    HX_ConnectAppDelegate() = default;
    virtual ~HX_ConnectAppDelegate() = default;
    HX_ConnectAppDelegate(const HX_ConnectAppDelegate&) = delete;
    HX_ConnectAppDelegate& operator=(const HX_ConnectAppDelegate&) = delete;

    // The application's delegate (what the platform's shared application answers); null while
    // none is installed, in which case the string utilities format nothing.
    static std::shared_ptr<HX_ConnectAppDelegate> sharedDelegate();
    static void setSharedDelegate(std::shared_ptr<HX_ConnectAppDelegate> delegate);

    // ---- data model (model/)

    // The shared formatter (default country "us"), created on first request; each call counts
    // one use that the caller gives back with decreasePhoneFormatterAccessCount().
    std::shared_ptr<HXCPhoneFormat> phoneFormatter();
    void decreasePhoneFormatterAccessCount();
    uint64_t phoneFormatterAccessCount() const;
    // On a memory warning: drops the formatter when no use is out, so the next request builds
    // a new one. True when it was dropped.
    bool releasePhoneFormatterIfUnused();

    // Uses of private child contexts at work on the store.
    uint64_t mocAccessCount() const;
    void setMocAccessCount(uint64_t count);

    // ---- message store (model/connect_app_delegate_store.cpp)

    // The user name whose store the operations use: the current account's, empty when there is
    // no account or it has none.
    virtual std::string currentUsername() const;
    std::shared_ptr<const store::Model> managedObjectModel() const;
    // The coordinator of the current user name, made and opened on first request; a null value
    // without a user name. A store that cannot be opened (busy, permissions, disk full) is an
    // error and is not kept, so the next request tries again.
    foundation::Result<std::shared_ptr<store::Coordinator>> persistentStoreCoordinator();
    // The main-queue context of the current user name; null without a user name or when its
    // store cannot be opened (openManagedObjectContext() says why).
    std::shared_ptr<store::Context> managedObjectContext();
    foundation::Result<std::shared_ptr<store::Context>> openManagedObjectContext();
    // Empties the current user's store (file and journal companions) and opens it afresh.
    foundation::Status resetPersistentStore();
    static std::string storePathForAccount(const std::optional<std::string>& username);
    static std::string applicationDocumentsDirectory();
    static std::string applicationCachesDirectory();
    // A private-queue child of managedObjectContext() counted in mocAccessCount, or null when
    // there is no main context. Its work ends in saveMOC2Parent or in decreaseMocAccessCount().
    std::shared_ptr<store::Context> newChildContext();
    // One child's work ended without a save; never below 0.
    void decreaseMocAccessCount();
    // How long opening or saving a store waits for another connection's lock.
    void setStoreBusyTimeout(double seconds) { storeBusyTimeout_ = seconds; }

    // ---- save chain, new-message notifications and search indexing (model/save_chain.cpp)

    // Background-fetch results as the platform numbers them.
    enum BackgroundFetchResult : int {
        BackgroundFetchNewData = 0,
        BackgroundFetchNoData = 1,
        BackgroundFetchFailed = 2
    };
    using BackgroundFetchCompletion = std::function<void(int result)>;
    // Saves context and hands on to its parent (on the parent's queue, one use of mocAccessCount
    // given back), up to the main context, which is written only when no child is at work.
    // completion runs once, when the chain reaches the main context. A fetch handler is answered
    // exactly once, on the main queue: at once with "no data" when the chain saves nothing, or by
    // the main-context save that writes the items, together with their notifications.
    void saveMOC2Parent(const std::shared_ptr<store::Context>& context, std::function<void()> completion = {},
                        BackgroundFetchCompletion backgroundFetchCompletionHandler = {});
    // Hands text messages and voicemails of the current store to the search index.
    void addMessagesToCSIndex(const std::vector<std::shared_ptr<store::ManagedObject>>& messages);
    // Indexes or withdraws the whole current store as useSpotlight() says (background queue).
    void indexMessages();
    // Seams of the passcode lock: its Spotlight preference, and showing the lock when one is set.
    virtual bool useSpotlight() const { return false; }
    virtual void showPasscodeLockIfNeeded() {}

    // s escaped as the inside of a JSON string literal.
    std::string JSONStringFromString(std::string_view s) const;

    // ---- contacts (model/connect_app_delegate_contacts.cpp)

    // One contact phone number: "number", "name", "recordID", "label", "nickname", "company",
    // "lastSelection". Entries are immutable and shared; an entry's identity is its pointer.
    using ContactEntry = std::shared_ptr<const foundation::Dictionary>;
    using ContactList = std::vector<ContactEntry>;

    // Stable across runs: the keys of "lastContactSelection" are persisted.
    std::string hashForContact(const foundation::Dictionary& entry) const;
    // Records a pick: the entry is replaced by a copy with the new time, moved to the front.
    void updateLastSelectionForContact(const ContactEntry& entry);
    // The list of the cache file (read once); never fails, empty when there is none.
    ContactList cachedContacts();
    // The live list; starts the full load (or the fallback to the cache file) once.
    ContactList allContacts();
    ContactList contactsMatchingPhone(std::string_view number);
    ContactList contactsMatchingName(std::string_view query);
    std::string recordIDForNumber(std::string_view number);
    std::string contactNameForNumber(std::string_view number);
    std::string updateGroupContactsForNumber(std::string_view numbers);
    // Resolves number once per load and hands the name to the contact-name writer.
    void lookupPhone(const std::optional<std::string>& number);
    // True (after asking the alert presenter to tell the user) when contacts may not be read.
    bool isABAccessRestricted();
    // Forgets the lists and the looked-up numbers and re-arms the once-only loads.
    void resetContacts();
    // Waits for a full load in flight; true when none is left.
    bool waitForContactsLoad(double timeoutSeconds);
    // The contact store (the platform's shared one unless one is set).
    std::shared_ptr<services::ContactStore> contactStore() const;
    void setContactStore(std::shared_ptr<services::ContactStore> store);
    // A seam to the shell, which shows the contacts-access alert.
    void setContactsAccessAlertPresenter(
        std::function<void(const std::string& title, const std::string& message)> presenter);

    // ---- shared state that the shell sets and the data model and web client read

    // The current account and the cookie jar of that account.
    std::shared_ptr<HX_Account> account() const { return account_; }
    void setAccount(std::shared_ptr<HX_Account> account) { account_ = std::move(account); }
    std::shared_ptr<CustomCookieJar> cookieJar() const { return cookieJar_; }
    void setCookieJar(std::shared_ptr<CustomCookieJar> jar) { cookieJar_ = std::move(jar); }
    // The serial queue on which thread lists are parsed ("com.hxconnect.messageparser.queue").
    const dispatch::QueuePtr& messageParsingQueue() const { return messageParsingQueue_; }
    void setMessageParsingQueue(dispatch::QueuePtr queue) { messageParsingQueue_ = std::move(queue); }
    // A pending completion of the platform (background fetch or notification action), run and
    // cleared by the web client when its request finishes.
    const std::function<void()>& completionHandler() const { return completionHandler_; }
    void setCompletionHandler(std::function<void()> handler) { completionHandler_ = std::move(handler); }
    // Seconds since 1970 of the last new-message notification.
    double lastNotification() const { return lastNotification_; }
    void setLastNotification(double seconds) { lastNotification_ = seconds; }
    // The last reachability result of the service host.
    bool connectionAvailable() const { return connectionAvailable_; }
    void setConnectionAvailable(bool v) { connectionAvailable_ = v; }

    bool isInBackground() const { return isInBackground_; }
    void setIsInBackground(bool v) { isInBackground_ = v; }
    bool graphicalEmoticons() const { return graphicalEmoticons_; }
    void setGraphicalEmoticons(bool v) { graphicalEmoticons_ = v; }
    bool autoRefresh() const { return autoRefresh_; }
    void setAutoRefresh(bool v) { autoRefresh_ = v; }
    bool newMessageAlert() const { return newMessageAlert_; }
    void setNewMessageAlert(bool v) { newMessageAlert_ = v; }
    bool isPhone() const { return isPhone_; }
    void setIsPhone(bool v) { isPhone_ = v; }
    bool iPad() const { return iPad_; }
    void setIPad(bool v) { iPad_ = v; }
    bool useSpeaker() const { return useSpeaker_; }
    void setUseSpeaker(bool v) { useSpeaker_ = v; }
    bool showNotesInMessageLists() const { return showNotesInMessageLists_; }
    void setShowNotesInMessageLists(bool v) { showNotesInMessageLists_ = v; }

    // ---- web client (service/)

    // Endpoints, shell hooks, the request table (`urlData`) and its lock.
    HXWebClient& webClient();

    // Sends request under tag (on the main thread).
    void startAsyncLoadWithRequest(net::URLRequest request, const std::string& tag);
    // The reply buffer of the connection while the table names it for its tag; null otherwise.
    std::shared_ptr<foundation::Data> dataForConnection(const AsyncURLConnection& connection);
    net::URLRequest postRequestForURL(const std::string& url, const foundation::Data& data);
    net::URLRequest postRequestForURLWithDict(const std::string& url, const foundation::Dictionary& dict);
    // Null when there is no valid token (one is being fetched): nothing is to be sent.
    std::optional<net::URLRequest> apiRequestWithDict(const foundation::Dictionary& description);
    std::optional<foundation::Value> parseObjectFromApiResponse(std::string_view text) const;
    std::optional<foundation::Dictionary> imageInfoForSize(const std::string& size,
                                                           const foundation::Array& infoArray) const;
    void showSMSErrorFromData(const foundation::Data& data);
    std::optional<std::string> parseAuthV2FromString(std::string_view text) const;

    std::optional<net::URLRequest> connectionWillSendRequest(AsyncURLConnection& connection, net::URLRequest request,
                                                             const net::HTTPURLResponse* redirectResponse);
    void connectionDidReceiveResponse(AsyncURLConnection& connection, const net::HTTPURLResponse& response);
    void connectionDidReceiveData(AsyncURLConnection& connection, const uint8_t* data, size_t size);
    void connectionDidFinishLoading(AsyncURLConnection& connection);
    void connectionDidFailWithError(AsyncURLConnection& connection, const foundation::Error& error);

    // Media: local files below the caches folder, downloads and their removal.
    std::string localURLForMedia(const std::string& mediaID, const std::string& mimeType);
    void downloadMediaIfNeeded(const std::string& mediaID, const std::string& mimeType, bool forPreview = false);
    void downloadVMforID(const std::string& mediaID);
    void downloadRecordedCallForID(const std::string& mediaID);
    void downloadAudioForID(const std::string& mediaID, bool usingNewCRAUrl);
    void removeMediaForAttachment(const std::string& mediaID, const std::string& mimeType);
    // The media branches of the reply router.
    void storeMediaReply(const HXRoutedReply& reply);

    // The application object's monitor (`@synchronized(self)`): around the access counts, the
    // contacts-loading flag and the login state.
    std::recursive_mutex& monitor() const { return monitor_; }

private:
    mutable std::recursive_mutex monitor_;
    std::shared_ptr<HXCPhoneFormat> phoneFormatter_;
    uint64_t phoneFormatterAccessCount_ = 0;
    uint64_t mocAccessCount_ = 0;
    bool isInBackground_ = false;
    bool graphicalEmoticons_ = true;
    bool autoRefresh_ = true;
    bool newMessageAlert_ = false;
    bool isPhone_ = false;
    bool iPad_ = false;
    bool useSpeaker_ = false;
    bool showNotesInMessageLists_ = false;
    bool connectionAvailable_ = false;
    double lastNotification_ = 0;
    std::shared_ptr<HX_Account> account_;
    std::shared_ptr<CustomCookieJar> cookieJar_;
    dispatch::QueuePtr messageParsingQueue_;
    std::function<void()> completionHandler_;

    // Contacts: contactsMutex_ guards the three collections and the seams; the loading flag
    // belongs to monitor_.
    void loadAllContacts();
    void setAllContactsList(ContactList list);
    mutable std::mutex contactsMutex_;
    std::optional<ContactList> allContacts_;
    std::optional<ContactList> cachedContacts_;
    std::set<std::string> lookupNumbers_;
    bool contactsCacheLoading_ = false;
    bool contactsCacheRead_ = false;
    bool contactsFullLoadStarted_ = false;
    bool contactsFallbackStarted_ = false;
    dispatch::Group contactsLoadGroup_;
    std::shared_ptr<services::ContactStore> contactStore_;
    std::function<void(const std::string&, const std::string&)> contactsAccessAlertPresenter_;
    std::shared_ptr<HXWebClient> webClient_;
    double storeBusyTimeout_ = 5;
    // Fetch handlers whose items wait for the deferred main-context save; guarded by monitor_.
    std::vector<BackgroundFetchCompletion> deferredFetchHandlers_;
    void answerFetchHandlers(std::vector<BackgroundFetchCompletion> handlers, int result);
    void postNewMessageNotification(const std::shared_ptr<store::ManagedObject>& message, int64_t types);
    // User name -> coordinator / main context; guarded by monitor_.
    std::map<std::string, std::shared_ptr<store::Coordinator>> persistentStoreCoordinators_;
    std::map<std::string, std::shared_ptr<store::Context>> managedObjectContexts_;
};
