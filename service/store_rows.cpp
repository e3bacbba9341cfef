#include "service/store_rows.h"

std::shared_ptr<HXStoreRows> HXStoreRows::make(store::FetchRequest request, store::ContextPtr context,
                                               std::optional<std::string> cacheName,
                                               std::weak_ptr<HXRowsObserver> observer) {
    std::shared_ptr<HXStoreRows> rows(new HXStoreRows());
    rows->controller_ =
        store::FetchedResultsController::create(std::move(request), std::move(context), std::move(cacheName));
    rows->observer_ = std::move(observer);
    rows->controller_->setDelegate(rows);
    return rows;
}

void HXStoreRows::hold(bool empty) {
    if (held_) return;
    heldEmpty_ = empty;
    if (!empty) heldRows_ = controller_->fetchedObjects();
    held_ = true;
}

void HXStoreRows::release() {
    if (!held_) return;
    held_ = false;
    heldEmpty_ = false;
    const auto changes =
        store::FetchedResultsController::rowChanges(heldRows_, controller_->fetchedObjects(), changedWhileHeld_);
    heldRows_.clear();
    changedWhileHeld_.clear();
    auto observer = observer_.lock();
    if (!observer) return;
    if (!changes.empty()) observer->rowsDidChange(changes);
    observer->rowsDidChangeContent();
}

foundation::Status HXStoreRows::performFetch() {
    auto fetched = controller_->performFetch();
    if (held_ && !heldEmpty_) {
        heldRows_ = controller_->fetchedObjects();
        changedWhileHeld_.clear();
    }
    return fetched;
}

void HXStoreRows::controllerDidChangeRows(store::FetchedResultsController&, const store::RowChanges& changes) {
    if (changes.empty()) return;
    if (held_) {
        const auto& objects = controller_->fetchedObjects();
        for (size_t row : changes.updated)
            if (row < objects.size()) changedWhileHeld_.insert(objects[row].get());
        return;
    }
    if (auto observer = observer_.lock()) observer->rowsDidChange(changes);
}

void HXStoreRows::controllerDidChangeContent(store::FetchedResultsController&) {
    if (held_) return;
    if (auto observer = observer_.lock()) observer->rowsDidChangeContent();
}
