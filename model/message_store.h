// The per-account message store: the model of conversations and their items with the list
// templates, the store file of a user name and its opening rules. The application object holds
// one coordinator and one main-queue context per user name (application_model_store.cpp);
// everything here is free of that state so it can be used and tested on its own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/store/coordinator.h"
#include "platform/store/model.h"

namespace HXMessageStore {

inline constexpr const char* kConversationEntity = "HX_Conversation";
inline constexpr const char* kMessageEntity = "HX_Message";
// The key under which work on a child context finds its context while it runs.
inline constexpr const char* kThreadContextKey = "managedObjectContext";

// The model (two entities, eight templates), built once and shared.
store::ModelPtr managedObjectModel();

// Auto-migration, inferred mapping, {"journal_mode": "DELETE"}; busyTimeoutSeconds as given.
store::StoreOptions storeOptions(double busyTimeoutSeconds = 5);

// "MessageData-<user>.sqlite", or "MessageData.sqlite" without a user name. The user name goes
// through the safe-path helper, so no name can leave the folder.
std::string storeFileName(const std::optional<std::string>& username);

// The search index's domain of a user's items: the letters and digits of the user name. A
// conversation's items are in "<domain>.<conversationID>"; deleting the domain deletes them all.
std::string searchDomainOfUser(std::string_view username);

// Adds the SQLite store at path to coordinator. A file of an incompatible model is deleted with
// its journal companions and created afresh, once: the store mirrors the service, which refills
// it. What the store cannot read as its own (damaged bytes, a file that is not a database, another
// program's tables or metadata, a folder) is set aside, never deleted, with one line on standard
// error, and a store created afresh. Any other failure (busy, permissions, disk full) leaves the
// file alone and is returned.
foundation::Result<store::PersistentStorePtr> openStore(const store::CoordinatorPtr& coordinator,
                                                        const std::string& path, const store::StoreOptions& options);

// Renames what is at path (a file or a folder) and its journal companions beside it, to
// "<path>.unreadable" (or "-2", "-3", ... when taken: nothing set aside before is replaced);
// answers where it went.
foundation::Result<std::string> setAsideStore(const std::string& path);

// Empties the store at path: removes it from coordinator, deletes the file and its companions and
// adds a fresh store.
foundation::Result<store::PersistentStorePtr> resetStore(const store::CoordinatorPtr& coordinator,
                                                         const std::string& path, const store::StoreOptions& options);

// The context of the child-context work running on this thread (null outside such work).
store::ContextPtr currentThreadContext();
// Runs block on context's queue with the context published as the thread's current one.
void performWithThreadContext(const store::ContextPtr& context, std::function<void()> block);

}  // namespace HXMessageStore
