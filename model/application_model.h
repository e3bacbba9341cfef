// The data model's slice of the application object: the shared phone formatter, the per-account
// message store and its save chain, the contact list, and the shared fields that the data model
// owns. The application object is one chain of classes, one per layer: this slice, the web
// client's slice above it (service/application_web_client.h) and `HX_ConnectAppDelegate` (app/),
// so every operation is a member of the application object and each is defined in exactly one
// library. What this slice needs from the layers above it (the shell's alerts, the passcode
// lock's Spotlight switch and lock) it declares as pure virtual members below; the application
// object implements them. Like the platform's application object, its plain fields belong to the
// main thread; what other threads share (the access counts) is guarded by monitor().
#pragma once

#include <atomic>
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

#include "model/alert.h"
#include "model/alerts_role.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"

class HXCPhoneFormat;
class HX_Account;
namespace services {
class ContactStore;
}
namespace store {
class Context;
class Coordinator;
class Model;
class ManagedObject;
}  // namespace store

// It is also the alerts role the screens take (model/alerts_role.h).
class HXApplicationModel : public std::enable_shared_from_this<HXApplicationModel>, public HXAlertsRole {
public:
    HXApplicationModel() = default;
    virtual ~HXApplicationModel() = default;
    HXApplicationModel(const HXApplicationModel&) = delete;
    HXApplicationModel& operator=(const HXApplicationModel&) = delete;

    // The application's delegate (what the platform's shared application answers); null while
    // none is installed, in which case the string utilities format nothing.
    static std::shared_ptr<HXApplicationModel> sharedDelegate();
    static void setSharedDelegate(std::shared_ptr<HXApplicationModel> delegate);

    // ---- what the data model asks of the layers above (implemented by the application object)

    // presentAlert:fromViewController: with no presenting screen: the shell dismisses the alert
    // it showed before, if still shown, and presents this one on top of its window.
    void presentAlert(const HXAlert& alert) override = 0;
    // The other presentAlert (an alert controller from a screen) is the shell's too.
    using HXAlertsRole::presentAlert;
    // The passcode lock's Spotlight preference, and showing the lock when one is set.
    virtual bool useSpotlight() const = 0;
    virtual void showPasscodeLockIfNeeded() = 0;
    // Opens the platform's settings page of the app (the contacts-access alert's "Settings").
    void openApplicationSettings() override = 0;

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

    // ---- message store (model/application_model_store.cpp)

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
    // Indexes or withdraws the whole current store as useSpotlight() says (background queue).
    void indexMessages();

    // s escaped as the inside of a JSON string literal.
    std::string JSONStringFromString(std::string_view s) const;

    // ---- contacts (model/application_model_contacts.cpp)

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
    ContactList contactsMatchingName(std::string_view query);
    std::string recordIDForNumber(std::string_view number);
    std::string contactNameForNumber(std::string_view number);
    std::string updateGroupContactsForNumber(std::string_view numbers);
    // Resolves number once per load and hands the name to the contact-name writer.
    void lookupPhone(const std::optional<std::string>& number);
    // True (after asking the shell to tell the user) when contacts may not be read.
    bool isABAccessRestricted() override;
    // Forgets the lists and the looked-up numbers and re-arms the once-only loads.
    void resetContacts();
    // Waits for a full load in flight; true when none is left.
    bool waitForContactsLoad(double timeoutSeconds);
    void setContactStore(std::shared_ptr<services::ContactStore> store);

    // ---- shared state that the shell sets and the data model and the web client read

    // The current account. The main thread replaces it (sign-in, logout, switching) while
    // background work (the store's saves, the search feed) reads it, so the hand-over is locked.
    std::shared_ptr<HX_Account> account() const override {
        std::lock_guard lock(accountMutex_);
        return account_;
    }
    void setAccount(std::shared_ptr<HX_Account> account) {
        std::lock_guard lock(accountMutex_);
        account_.swap(account);  // the old one is released after the lock, outside it
    }
    // The serial queue on which thread lists are parsed ("com.hxconnect.messageparser.queue").
    const dispatch::QueuePtr& messageParsingQueue() const { return messageParsingQueue_; }
    void setMessageParsingQueue(dispatch::QueuePtr queue) { messageParsingQueue_ = std::move(queue); }
    // A pending completion of the platform (a notification action) and the tag of the request it
    // waits for: answered exactly once, by that request's end (reply, failure or cancel). Keeping
    // a new one answers the one kept before at once. Main thread only.
    const std::function<void()>& completionHandler() const { return completionHandler_; }
    const std::string& completionHandlerTag() const { return completionHandlerTag_; }
    void setCompletionHandler(std::function<void()> handler, std::string tag);
    // The completion kept for the request tag, taken out; empty for any other request.
    std::function<void()> takeCompletionHandler(const std::string& tag);
    // Seconds since 1970 of the last new-message notification.
    double lastNotification() const { return lastNotification_; }
    void setLastNotification(double seconds) { lastNotification_ = seconds; }
    // The last reachability result of the service host.
    bool connectionAvailable() const override { return connectionAvailable_; }
    void setConnectionAvailable(bool v) { connectionAvailable_ = v; }

    bool isInBackground() const { return *isInBackground_; }
    void setIsInBackground(bool v) { *isInBackground_ = v; }
    bool autoRefresh() const { return autoRefresh_; }
    void setAutoRefresh(bool v) { autoRefresh_ = v; }
    bool newMessageAlert() const { return newMessageAlert_; }
    void setNewMessageAlert(bool v) { newMessageAlert_ = v; }
    bool isPhone() const { return isPhone_; }
    void setIsPhone(bool v) { isPhone_ = v; }
    bool iPad() const { return iPad_; }
    void setIPad(bool v) { iPad_ = v; }

    // The application object's monitor (`@synchronized(self)`): around the access counts, the
    // contacts-loading flag and the login state.
    foundation::RecursiveMutex& monitor() const HX_RETURN_CAPABILITY(monitor_) { return monitor_; }

    friend ContactList HXContactListSnapshot(const HXApplicationModel& model);
    friend void HXLoadContactsAtLaunch(HXApplicationModel& model);
    friend void HXSaveChildContext(const class HXModelReference& model, const std::shared_ptr<store::Context>& context,
                                   std::function<void()> completion, BackgroundFetchCompletion handler);

protected:
    // What the slices use among themselves; no other object calls it.
    void setMocAccessCount(uint64_t count);
    // Drops the coordinator and main context kept for username (its store file stays).
    void forgetStoreOfUser(const std::string& username);
    static std::string applicationCachesDirectory();
    // Hands text messages and voicemails of the current store to the search index.
    void addMessagesToCSIndex(const std::vector<std::shared_ptr<store::ManagedObject>>& messages);
    ContactList contactsMatchingPhone(std::string_view number);
    // Drops the list read from the cache file (a memory warning); the next use reads it again.
    void releaseCachedContacts();
    // True when the live list or the cache file's list holds entries (reads nothing, loads nothing).
    bool contactsLoaded() const;
    // The contact store (the platform's shared one unless one is set).
    std::shared_ptr<services::ContactStore> contactStore() const;
    bool graphicalEmoticons() const { return graphicalEmoticons_; }
    void setGraphicalEmoticons(bool v) { graphicalEmoticons_ = v; }
    bool showNotesInMessageLists() const { return showNotesInMessageLists_; }
    void setShowNotesInMessageLists(bool v) { showNotesInMessageLists_ = v; }
    // The account's message store could not be created or opened (logged already); called on
    // whatever thread asked for the store, each time an open fails.
    virtual void messageStoreCannotOpen(const foundation::Error& error) = 0;

private:
    mutable foundation::RecursiveMutex monitor_;
    std::shared_ptr<HXCPhoneFormat> phoneFormatter_ HX_GUARDED_BY(monitor_);
    uint64_t phoneFormatterAccessCount_ HX_GUARDED_BY(monitor_) = 0;
    uint64_t mocAccessCount_ HX_GUARDED_BY(monitor_) = 0;
    // Read by the unread-list parse off the main thread as well, and by the contacts load, which
    // shares it rather than hold this object.
    std::shared_ptr<std::atomic<bool>> isInBackground_ = std::make_shared<std::atomic<bool>>(false);
    bool graphicalEmoticons_ = true;
    std::atomic<bool> autoRefresh_{true};
    bool newMessageAlert_ = false;
    bool isPhone_ = false;
    bool iPad_ = false;
    bool showNotesInMessageLists_ = false;
    bool connectionAvailable_ = false;
    std::atomic<double> lastNotification_{0};
    mutable foundation::Mutex accountMutex_;
    std::shared_ptr<HX_Account> account_ HX_GUARDED_BY(accountMutex_);
    dispatch::QueuePtr messageParsingQueue_;
    std::function<void()> completionHandler_;
    std::string completionHandlerTag_;

    // Contacts: contactsMutex_ guards the three collections and the contact store; the loading flag
    // belongs to monitor_.
    // What the loads read off the main thread waits here until a reader takes it into the live
    // list: the loads share this box, never this object, which may go while they run.
    struct LoadedContacts {
        foundation::Mutex mutex;
        std::optional<ContactList> loaded HX_GUARDED_BY(mutex);    // the full load's list
        std::optional<ContactList> fallback HX_GUARDED_BY(mutex);  // the cache file's, for an empty list
    };
    void startFullContactsLoad();
    void startContactsFallback();
    // Takes what the loads left in the box into the live list; contactsMutex_ is held.
    void adoptLoadedContacts() const HX_REQUIRES(contactsMutex_);
    mutable foundation::Mutex contactsMutex_;
    mutable std::optional<ContactList> allContacts_ HX_GUARDED_BY(contactsMutex_);
    const std::shared_ptr<LoadedContacts> loadedContacts_ = std::make_shared<LoadedContacts>();
    std::optional<ContactList> cachedContacts_ HX_GUARDED_BY(contactsMutex_);
    std::set<std::string> lookupNumbers_ HX_GUARDED_BY(contactsMutex_);
    bool contactsCacheLoading_ HX_GUARDED_BY(monitor_) = false;
    bool contactsCacheRead_ HX_GUARDED_BY(contactsMutex_) = false;
    bool contactsFullLoadStarted_ HX_GUARDED_BY(contactsMutex_) = false;
    bool contactsFallbackStarted_ HX_GUARDED_BY(contactsMutex_) = false;
    dispatch::Group contactsLoadGroup_;
    std::shared_ptr<services::ContactStore> contactStore_ HX_GUARDED_BY(contactsMutex_);
    double storeBusyTimeout_ = 5;
    // Fetch handlers whose items wait for the deferred main-context save; guarded by monitor_.
    std::vector<BackgroundFetchCompletion> deferredFetchHandlers_ HX_GUARDED_BY(monitor_);
    void postNewMessageNotification(const std::shared_ptr<store::ManagedObject>& message, int64_t types);
    // User name -> coordinator / main context; guarded by monitor_.
    std::map<std::string, std::shared_ptr<store::Coordinator>> persistentStoreCoordinators_;
    std::map<std::string, std::shared_ptr<store::Context>> managedObjectContexts_;
};

// The model's live contact list as it is, without starting a load: a copy another queue may
// search.
HXApplicationModel::ContactList HXContactListSnapshot(const HXApplicationModel& model);
// At launch: the cache file's list is what the readers see until the full load, started here,
// replaces it.
void HXLoadContactsAtLaunch(HXApplicationModel& model);

// The application object as a block for another queue names it: held weakly and locked only on
// the queue where the block acts on it, so that the block never keeps it alive and it never ends
// off the main queue. One that no shared pointer owns (a test's, on the stack) is named as it is
// and outlives its use.
class HXModelReference {
public:
    explicit HXModelReference(HXApplicationModel& model)
        : model_(&model), weak_(model.weak_from_this()), owned_(!weak_.expired()) {}
    // The object, or null when it has ended.
    std::shared_ptr<HXApplicationModel> lock() const {
        return owned_ ? weak_.lock() : std::shared_ptr<HXApplicationModel>(std::shared_ptr<void>(), model_);
    }

private:
    HXApplicationModel* model_;
    std::weak_ptr<HXApplicationModel> weak_;
    bool owned_;
};

// The step of the save chain off the main queue: saves a child context and goes on up the chain
// on its parent's queue (saveMOC2Parent there), touching the application object only there,
// locked. A fetch handler that the failed save answers is answered on the main queue.
void HXSaveChildContext(const HXModelReference& model, const std::shared_ptr<store::Context>& context,
                        std::function<void()> completion = {},
                        HXApplicationModel::BackgroundFetchCompletion handler = {});
