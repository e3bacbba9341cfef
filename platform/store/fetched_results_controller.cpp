#include "platform/store/fetched_results_controller.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/store/sql_plan.h"
#include "platform/store/store_error.h"

namespace store {

namespace {

// Section information by cache name: what a controller learnt at its last fetch. A controller
// that fetches again refreshes it; deleting drops it so that nothing stale is trusted.
struct SectionCache {
    std::mutex mutex;
    std::map<std::string, std::vector<SectionInfo>> entries;
};

SectionCache& sectionCache() {
    static SectionCache cache;
    return cache;
}

}  // namespace

std::shared_ptr<FetchedResultsController> FetchedResultsController::create(FetchRequest request, ContextPtr context,
                                                                           std::optional<std::string> cacheName) {
    auto controller = std::shared_ptr<FetchedResultsController>(
        new FetchedResultsController(std::move(request), std::move(context), std::move(cacheName)));
    std::weak_ptr<FetchedResultsController> weak = controller;
    controller->listener_ = controller->context_->addChangeListener(
        [weak](Context&, Context::ChangeKind kind, const Context::Changes& changes) {
            if (auto self = weak.lock()) self->contextChanged(kind, changes);
        },
        controller->request_.entityName);
    return controller;
}

FetchedResultsController::FetchedResultsController(FetchRequest request, ContextPtr context,
                                                   std::optional<std::string> cacheName)
    : request_(std::move(request)), context_(std::move(context)), cacheName_(std::move(cacheName)) {}

FetchedResultsController::~FetchedResultsController() {
    if (context_) context_->removeChangeListener(listener_);
}

foundation::Status FetchedResultsController::performFetch() {
    auto coordinator = context_->persistentStoreCoordinator();
    if (!coordinator) return makeError(kNoStoreError, "The context has no coordinator.");
    const Entity* entity = coordinator->model().entityNamed(request_.entityName);
    if (!entity) return makeError(kInvalidRequestError, "No entity named " + request_.entityName + ".");
    bound_.reset();
    if (request_.predicate) {
        auto b = bindPredicate(*request_.predicate, *entity);
        if (!b) return b.error();
        bound_ = std::move(b.value());
    }
    auto objects = context_->fetch(request_);
    if (!objects) return objects.error();
    objects_ = std::move(objects.value());
    fetched_ = true;
    if (cacheName_) {
        std::lock_guard lock(sectionCache().mutex);
        sectionCache().entries[*cacheName_] = sections();
    }
    return {};
}

std::vector<SectionInfo> FetchedResultsController::sections() const {
    if (!fetched_) return {};
    return {SectionInfo{"", objects_.size()}};
}

foundation::Result<ManagedObjectPtr> FetchedResultsController::objectAtIndexPath(const IndexPath& indexPath) const {
    if (!fetched_ || indexPath.section != 0 || indexPath.row >= objects_.size())
        return makeError(kInvalidRequestError, "No object at section " + std::to_string(indexPath.section) + " row " +
                                                   std::to_string(indexPath.row) + ".");
    return objects_[indexPath.row];
}

std::optional<IndexPath> FetchedResultsController::indexPathForObject(const ManagedObjectPtr& object) const {
    for (size_t i = 0; i < objects_.size(); ++i)
        if (objects_[i] == object) return IndexPath{0, i};
    return std::nullopt;
}

void FetchedResultsController::deleteCacheWithName(const std::optional<std::string>& name) {
    std::lock_guard lock(sectionCache().mutex);
    if (name)
        sectionCache().entries.erase(*name);
    else
        sectionCache().entries.clear();
}

RowChanges FetchedResultsController::rowChanges(const std::vector<ManagedObjectPtr>& before,
                                                const std::vector<ManagedObjectPtr>& after,
                                                const std::unordered_set<const ManagedObject*>& changed) {
    RowChanges out;
    std::unordered_map<const ManagedObject*, size_t> oldIndex;
    oldIndex.reserve(before.size());
    for (size_t i = 0; i < before.size(); ++i) oldIndex.emplace(before[i].get(), i);
    // The old index of every new row that was there before (npos for a new one).
    constexpr size_t npos = static_cast<size_t>(-1);
    std::vector<size_t> from(after.size(), npos);
    for (size_t j = 0; j < after.size(); ++j)
        if (auto it = oldIndex.find(after[j].get()); it != oldIndex.end()) from[j] = it->second;
    // The longest increasing run of old indexes (patience sorting): those rows stay in place.
    std::vector<size_t> tails, tailAt, previous(after.size(), npos);
    for (size_t j = 0; j < after.size(); ++j) {
        if (from[j] == npos) continue;
        auto at = std::lower_bound(tails.begin(), tails.end(), from[j]);
        const size_t k = static_cast<size_t>(at - tails.begin());
        if (at == tails.end()) {
            tails.push_back(from[j]);
            tailAt.push_back(j);
        } else {
            *at = from[j];
            tailAt[k] = j;
        }
        previous[j] = k > 0 ? tailAt[k - 1] : npos;
    }
    std::vector<bool> stays(after.size(), false), oldStays(before.size(), false);
    for (size_t j = tailAt.empty() ? npos : tailAt.back(); j != npos; j = previous[j]) {
        stays[j] = true;
        oldStays[from[j]] = true;
    }
    for (size_t i = 0; i < before.size(); ++i)
        if (!oldStays[i]) out.removed.push_back(i);
    for (size_t j = 0; j < after.size(); ++j) {
        if (!stays[j])
            out.inserted.push_back(j);
        else if (changed.count(after[j].get()))
            out.updated.push_back(j);
    }
    return out;
}

void FetchedResultsController::contextChanged(Context::ChangeKind kind, const Context::Changes& changes) {
    if (!fetched_) return;
    const Entity* entity = nullptr;
    if (auto coordinator = context_->persistentStoreCoordinator())
        entity = coordinator->model().entityNamed(request_.entityName);
    if (!entity) return;
    std::unordered_set<const ManagedObject*> shown;
    for (const auto& o : objects_) shown.insert(o.get());
    // Touched: an object of our entity that is shown now, or matches now.
    auto touches = [&](const std::vector<ManagedObjectPtr>& list, bool gone) {
        for (const auto& o : list) {
            if (&o->entity() != entity) continue;
            if (shown.count(o.get())) return true;
            if (!gone && (!bound_ || bound_->evaluate(o->keyValueSource()))) return true;
        }
        return false;
    };
    // The objects whose rows change in place: a save announces again what a merge announced.
    std::unordered_set<const ManagedObject*> changed;
    for (const auto& o : changes.updated)
        if (&o->entity() == entity && shown.count(o.get()) &&
            (kind != Context::ChangeKind::DidSave || !merged_.count(o.get())))
            changed.insert(o.get());
    if (kind == Context::ChangeKind::DidSave) {
        merged_.clear();
    } else {
        for (const auto* list : {&changes.inserted, &changes.updated})
            for (const auto& o : *list)
                if (&o->entity() == entity) merged_.insert(o.get());
    }
    if (!touches(changes.inserted, false) && !touches(changes.updated, false) && !touches(changes.deleted, true))
        return;
    auto delegate = delegate_.lock();
    if (delegate) delegate->controllerWillChangeContent(*this);
    auto objects = context_->fetch(request_);
    if (objects) {
        std::vector<ManagedObjectPtr> before = std::move(objects_);
        objects_ = std::move(objects.value());
        if (delegate) delegate->controllerDidChangeRows(*this, rowChanges(before, objects_, changed));
    }
    if (delegate) delegate->controllerDidChangeContent(*this);
}

}  // namespace store
