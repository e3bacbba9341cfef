// The on-device search index: searchable items with a unique id, a domain id and their
// attributes. No system index exists here, so the default index is an in-memory one that the
// app's code fills and tests inspect.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/thread_annotations.h"

namespace services {

inline constexpr const char* kContentTypeMessage = "public.message";
inline constexpr const char* kContentTypeAudio = "public.audio";

struct SearchableItemAttributeSet {
    std::string contentType;
    std::string accountIdentifier;
    std::string title;
    std::string contentDescription;
    bool supportsPhoneCall = false;
};

struct SearchableItem {
    std::string uniqueIdentifier;
    std::string domainIdentifier;
    SearchableItemAttributeSet attributeSet;
};

class SearchableIndex {
public:
    static std::shared_ptr<SearchableIndex> defaultSearchableIndex();
    // Whether this device offers search indexing (yes unless a test turns it off).
    static bool isIndexingAvailable();
    static void setIndexingAvailable(bool available);

    // An item with the unique id of an indexed one replaces it.
    void indexSearchableItems(std::vector<SearchableItem> items);
    void deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers);
    // Deletes the items of each domain and of its sub-domains ("<domain>.<...>").
    void deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains);
    void deleteAllSearchableItems();

    std::vector<SearchableItem> items() const;

private:
    // Positions of every item after a deletion moved them.
    void reindexLocked() HX_REQUIRES(mutex_);

    mutable foundation::Mutex mutex_;
    std::vector<SearchableItem> items_ HX_GUARDED_BY(mutex_);  // in the order first indexed
    // Each item's position in items_, by unique id: a list's save indexes thousands at once.
    std::unordered_map<std::string, size_t> positions_ HX_GUARDED_BY(mutex_);
};

}  // namespace services
