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

void HXStoreRows::controllerDidChangeRows(store::FetchedResultsController&, const store::RowChanges& changes) {
    if (changes.empty()) return;
    if (auto observer = observer_.lock()) observer->rowsDidChange(changes);
}

void HXStoreRows::controllerDidChangeContent(store::FetchedResultsController&) {
    if (auto observer = observer_.lock()) observer->rowsDidChangeContent();
}
