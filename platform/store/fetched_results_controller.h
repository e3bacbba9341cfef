// A fetched-results controller: the rows of one fetch request on one context, in one section,
// refetched and announced to its delegate when a save of the context, or a child's save merged
// into it, touches objects that match (or matched) the request.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/store/model.h"

namespace store {

class FetchedResultsController;

// What one change did to the rows, as a table shows it: the rows removed (by their index before
// the change), inserted (by their index after it) and changed in place (by their index after it),
// each in ascending order. A row that moved is removed and inserted; a removed or inserted row is
// never also changed.
struct RowChanges {
    std::vector<size_t> removed, inserted, updated;
    bool empty() const { return removed.empty() && inserted.empty() && updated.empty(); }
};

class FetchedResultsControllerDelegate {
public:
    virtual ~FetchedResultsControllerDelegate() = default;
    virtual void controllerWillChangeContent(FetchedResultsController&) {}
    // Between the two calls around it, once the rows are fetched again.
    virtual void controllerDidChangeRows(FetchedResultsController&, const RowChanges&) {}
    virtual void controllerDidChangeContent(FetchedResultsController&) {}
};

struct SectionInfo {
    std::string name;
    size_t numberOfObjects = 0;
};

struct IndexPath {
    size_t section = 0;
    size_t row = 0;
};

class FetchedResultsController : public std::enable_shared_from_this<FetchedResultsController> {
public:
    // sectionNameKeyPath is not supported: everything is one section.
    static std::shared_ptr<FetchedResultsController> create(FetchRequest request, ContextPtr context,
                                                            std::optional<std::string> cacheName = {});
    ~FetchedResultsController();

    // The request; changing its predicate or sort takes effect at the next performFetch.
    FetchRequest& fetchRequest() { return request_; }
    const ContextPtr& managedObjectContext() const { return context_; }
    const std::optional<std::string>& cacheName() const { return cacheName_; }

    foundation::Status performFetch();
    const std::vector<ManagedObjectPtr>& fetchedObjects() const { return objects_; }
    // Empty before the first fetch, then exactly one section.
    std::vector<SectionInfo> sections() const;
    // The object at indexPath, or an error when the path is outside the results.
    foundation::Result<ManagedObjectPtr> objectAtIndexPath(const IndexPath& indexPath) const;
    std::optional<IndexPath> indexPathForObject(const ManagedObjectPtr& object) const;

    void setDelegate(std::weak_ptr<FetchedResultsControllerDelegate> delegate) { delegate_ = std::move(delegate); }

    // Forgets the section information kept under name (all names when empty).
    static void deleteCacheWithName(const std::optional<std::string>& name);

    // The rows between two fetches: removed, inserted and, of those kept in their order, the
    // ones whose objects are in changed. The rows kept are the longest run of rows both fetches
    // hold in the same order; any other row held by both moved.
    static RowChanges rowChanges(const std::vector<ManagedObjectPtr>& before,
                                 const std::vector<ManagedObjectPtr>& after,
                                 const std::unordered_set<const ManagedObject*>& changed);

private:
    FetchedResultsController(FetchRequest request, ContextPtr context, std::optional<std::string> cacheName);
    void contextChanged(Context::ChangeKind kind, const Context::Changes& changes);

    FetchRequest request_;
    ContextPtr context_;
    std::optional<std::string> cacheName_;
    std::weak_ptr<FetchedResultsControllerDelegate> delegate_;
    std::vector<ManagedObjectPtr> objects_;
    bool fetched_ = false;
    uint64_t listener_ = 0;
    std::optional<Predicate> bound_;
    // Objects a merge announced changed since the context last saved: its save announces them
    // again, and their rows have been told already.
    std::unordered_set<const ManagedObject*> merged_;
};

using FetchedResultsControllerPtr = std::shared_ptr<FetchedResultsController>;

}  // namespace store
