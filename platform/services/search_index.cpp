#include "platform/services/search_index.h"

#include <algorithm>
#include <atomic>

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
        auto it = std::find_if(items_.begin(), items_.end(),
                               [&](const SearchableItem& i) { return i.uniqueIdentifier == item.uniqueIdentifier; });
        if (it != items_.end())
            *it = std::move(item);
        else
            items_.push_back(std::move(item));
    }
}

void SearchableIndex::deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers) {
    std::lock_guard lock(mutex_);
    std::erase_if(items_, [&](const SearchableItem& i) {
        return std::find(uniqueIdentifiers.begin(), uniqueIdentifiers.end(), i.uniqueIdentifier) !=
               uniqueIdentifiers.end();
    });
}

void SearchableIndex::deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains) {
    std::lock_guard lock(mutex_);
    std::erase_if(items_, [&](const SearchableItem& i) {
        for (const auto& d : domains) {
            const auto& id = i.domainIdentifier;
            if (id == d || (id.size() > d.size() && id.compare(0, d.size(), d) == 0 && id[d.size()] == '.'))
                return true;
        }
        return false;
    });
}

void SearchableIndex::deleteAllSearchableItems() {
    std::lock_guard lock(mutex_);
    items_.clear();
}

std::vector<SearchableItem> SearchableIndex::items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

}  // namespace services
