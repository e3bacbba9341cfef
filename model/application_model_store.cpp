// The data model slice of the application object: the per-account message store.
#include "model/account.h"
#include "model/application_model.h"
#include "model/message_store.h"
#include "platform/foundation/files.h"
#include "platform/foundation/log.h"
#include "platform/store/context.h"
#include "platform/store/coordinator.h"

std::string HXApplicationModel::currentUsername() const {
    if (auto a = account()) return a->username();
    return {};
}

std::shared_ptr<const store::Model> HXApplicationModel::managedObjectModel() const {
    return HXMessageStore::managedObjectModel();
}

std::string HXApplicationModel::applicationDocumentsDirectory() { return foundation::documentsDirectory().string(); }

std::string HXApplicationModel::applicationCachesDirectory() { return foundation::cachesDirectory().string(); }

std::string HXApplicationModel::storePathForAccount(const std::optional<std::string>& username) {
    return (foundation::documentsDirectory() / HXMessageStore::storeFileName(username)).string();
}

foundation::Result<std::shared_ptr<store::Coordinator>> HXApplicationModel::persistentStoreCoordinator() {
    std::string username = currentUsername();
    if (username.empty()) return std::shared_ptr<store::Coordinator>();
    std::lock_guard lock(monitor_);
    if (auto it = persistentStoreCoordinators_.find(username); it != persistentStoreCoordinators_.end())
        return it->second;
    auto model = managedObjectModel();
    if (!model) return foundation::Error::withDescription("HXMessageStore", 1, "the message model is invalid");
    std::error_code ignored;  // a missing folder shows up as the open error below
    std::filesystem::create_directories(foundation::documentsDirectory(), ignored);
    auto coordinator = store::Coordinator::create(model);
    const std::string path = storePathForAccount(username);
    auto opened = HXMessageStore::openStore(coordinator, path, HXMessageStore::storeOptions(storeBusyTimeout_));
    if (!opened.ok()) {
        // Without its store the account shows and keeps no messages: said once (every later
        // request of the store fails alike) until a store opens again.
        foundation::logFaultOnce("store-open", "cannot open the message store " + path + ": " +
                                                   opened.error().localizedDescription());
        messageStoreCannotOpen(opened.error());
        return opened.error();
    }
    foundation::faultCleared("store-open");
    persistentStoreCoordinators_[username] = coordinator;
    return coordinator;
}

foundation::Result<std::shared_ptr<store::Context>> HXApplicationModel::openManagedObjectContext() {
    std::string username = currentUsername();
    if (username.empty()) return std::shared_ptr<store::Context>();
    std::lock_guard lock(monitor_);
    if (auto it = managedObjectContexts_.find(username); it != managedObjectContexts_.end()) return it->second;
    auto coordinator = persistentStoreCoordinator();
    if (!coordinator.ok()) return coordinator.error();
    auto context = store::Context::create(store::ConcurrencyType::MainQueue);
    context->setPersistentStoreCoordinator(coordinator.value());
    managedObjectContexts_[username] = context;
    return context;
}

std::shared_ptr<store::Context> HXApplicationModel::managedObjectContext() {
    auto context = openManagedObjectContext();
    return context.ok() ? context.value() : nullptr;
}

void HXApplicationModel::forgetStoreOfUser(const std::string& username) {
    std::lock_guard lock(monitor_);
    managedObjectContexts_.erase(username);
    persistentStoreCoordinators_.erase(username);
}

foundation::Status HXApplicationModel::resetPersistentStore() {
    std::string username = currentUsername();
    if (username.empty()) return foundation::Status::success();
    std::lock_guard lock(monitor_);
    auto it = persistentStoreCoordinators_.find(username);
    if (it == persistentStoreCoordinators_.end()) {
        // Nothing open yet: opening makes the store; then empty it.
        auto coordinator = persistentStoreCoordinator();
        if (!coordinator.ok()) return coordinator.error();
        it = persistentStoreCoordinators_.find(username);
    }
    auto reset = HXMessageStore::resetStore(it->second, storePathForAccount(username),
                                            HXMessageStore::storeOptions(storeBusyTimeout_));
    if (!reset.ok()) return reset.error();
    // The main context must not serve rows of the old file.
    if (auto ctx = managedObjectContexts_.find(username); ctx != managedObjectContexts_.end()) ctx->second->rollback();
    return foundation::Status::success();
}

std::shared_ptr<store::Context> HXApplicationModel::newChildContext() {
    auto parent = managedObjectContext();
    if (!parent) return nullptr;
    auto child = store::Context::create(store::ConcurrencyType::PrivateQueue);
    child->setParentContext(parent);
    std::lock_guard lock(monitor_);
    ++mocAccessCount_;
    return child;
}

void HXApplicationModel::decreaseMocAccessCount() {
    bool pending = false;
    {
        std::lock_guard lock(monitor_);
        if (mocAccessCount_ > 0) --mocAccessCount_;
        pending = mocAccessCount_ == 0 && !deferredFetchHandlers_.empty();
    }
    // The last child ended without a save: the main-context save it held back runs now, so the
    // fetch handlers waiting for it are answered.
    if (pending)
        dispatch::Queue::main()->async([this] {
            if (auto main = managedObjectContext()) saveMOC2Parent(main);
        });
}
