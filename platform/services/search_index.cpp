#include "platform/services/search_index.h"

#include <algorithm>
#include <atomic>
#include <unordered_set>

namespace services {

namespace {
std::atomic<bool> indexingAvailable{true};
}

std::shared_ptr<SearchableIndex> SearchableIndex::defaultSearchableIndex() {
    static const auto index = std::make_shared<SearchableIndex>();
    return index;
}

bool SearchableIndex::isIndexingAvailable() { return indexingAvailable.load(); }
void SearchableIndex::setIndexingAvailable(bool available) { indexingAvailable.store(available); }

void SearchableIndex::indexSearchableItems(std::vector<SearchableItem> items) {
    std::lock_guard lock(mutex_);
    for (auto& item : items) {
        auto [at, added] = positions_.try_emplace(item.uniqueIdentifier, items_.size());
        if (added)
            items_.push_back(std::move(item));
        else
            items_[at->second] = std::move(item);
    }
}

void SearchableIndex::reindexLocked() {
    positions_.clear();
    for (size_t i = 0; i < items_.size(); ++i) positions_.emplace(items_[i].uniqueIdentifier, i);
}

void SearchableIndex::deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers) {
    std::lock_guard lock(mutex_);
    const std::unordered_set<std::string> gone(uniqueIdentifiers.begin(), uniqueIdentifiers.end());
    if (std::erase_if(items_, [&](const SearchableItem& i) { return gone.count(i.uniqueIdentifier) != 0; }) != 0)
        reindexLocked();
}

void SearchableIndex::deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains) {
    std::lock_guard lock(mutex_);
    const auto erased = std::erase_if(items_, [&](const SearchableItem& i) {
        for (const auto& d : domains) {
            const auto& id = i.domainIdentifier;
            if (id == d || (id.size() > d.size() && id.compare(0, d.size(), d) == 0 && id[d.size()] == '.'))
                return true;
        }
        return false;
    });
    if (erased != 0) reindexLocked();
}

void SearchableIndex::deleteAllSearchableItems() {
    std::lock_guard lock(mutex_);
    items_.clear();
    positions_.clear();
}

std::vector<SearchableItem> SearchableIndex::items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

}  // namespace services
