// The rows of one fetch over a context, for a table (main thread): typed rows by index, and the
// row-level changes of every save or merge that touches them, told to one observer as a table
// model's observer gets them (removed, inserted and changed rows). A conversation list shows
// HX_Conversation rows newest first; a conversation's messages fit the same way, oldest first,
// where a newer message is a row appended at the end and an older page rows inserted at the top.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/store/context.h"
#include "platform/store/fetched_results_controller.h"

class HXRowsObserver {
public:
    virtual ~HXRowsObserver() = default;
    // The rows now fetched differ from those before by changes (never empty).
    virtual void rowsDidChange(const store::RowChanges& changes) = 0;
    // A save or merge touched the rows, after their changes (if any) were told.
    virtual void rowsDidChangeContent() = 0;
};

class HXStoreRows : public store::FetchedResultsControllerDelegate, public std::enable_shared_from_this<HXStoreRows> {
public:
    // Rows of request over context; the cache name is the controller's section cache.
    static std::shared_ptr<HXStoreRows> make(store::FetchRequest request, store::ContextPtr context,
                                             std::optional<std::string> cacheName,
                                             std::weak_ptr<HXRowsObserver> observer);

    const store::FetchedResultsControllerPtr& controller() const { return controller_; }
    size_t count() const { return rows().size(); }
    // The row at index as a Row (HX_Conversation, HX_Message), none outside the rows.
    template <typename Row>
    std::optional<Row> rowAt(size_t index) const {
        const auto& objects = rows();
        if (index >= objects.size() || !objects[index]) return std::nullopt;
        return Row(objects[index]);
    }
    // While held, the rows handed out stay those of the moment hold() was called and the observer
    // hears nothing; release() tells everything that changed meanwhile as one change. So rows that
    // come in several saves (a list's first page after the unread items it holds) land at once.
    // Held empty, none of the rows are handed out until the release, whatever is fetched meanwhile
    // (a list shown before its first page, whose store holds only what other loads put there).
    void hold(bool empty = false);
    void release();
    bool held() const { return held_; }
    // Fetches again (a new predicate): held rows become the fetched ones, as the table reads them
    // all again.
    foundation::Status performFetch();
    void controllerDidChangeRows(store::FetchedResultsController&, const store::RowChanges& changes) override;
    void controllerDidChangeContent(store::FetchedResultsController&) override;

private:
    HXStoreRows() = default;
    const std::vector<store::ManagedObjectPtr>& rows() const {
        return held_ ? heldRows_ : controller_->fetchedObjects();
    }
    bool held_ = false;
    bool heldEmpty_ = false;
    std::vector<store::ManagedObjectPtr> heldRows_;
    // Objects changed in place while held (their rows are reloaded at the release).
    std::unordered_set<const store::ManagedObject*> changedWhileHeld_;
    store::FetchedResultsControllerPtr controller_;
    std::weak_ptr<HXRowsObserver> observer_;
};
