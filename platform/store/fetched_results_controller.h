// A fetched-results controller: the rows of one fetch request on one context, in one section,
// refetched and announced to its delegate when a save of the context, or a child's save merged
// into it, touches objects that match (or matched) the request.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/store/model.h"

namespace store {

class FetchedResultsController;

class FetchedResultsControllerDelegate {
public:
    virtual ~FetchedResultsControllerDelegate() = default;
    virtual void controllerWillChangeContent(FetchedResultsController&) {}
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

private:
    FetchedResultsController(FetchRequest request, ContextPtr context, std::optional<std::string> cacheName);
    void contextChanged(const Context::Changes& changes);

    FetchRequest request_;
    ContextPtr context_;
    std::optional<std::string> cacheName_;
    std::weak_ptr<FetchedResultsControllerDelegate> delegate_;
    std::vector<ManagedObjectPtr> objects_;
    bool fetched_ = false;
    uint64_t listener_ = 0;
    std::optional<Predicate> bound_;
};

using FetchedResultsControllerPtr = std::shared_ptr<FetchedResultsController>;

}  // namespace store
