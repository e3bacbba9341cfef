#include "platform/services/search_index.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <utility>

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

// ---- the string pool

uint32_t SearchableIndex::StringPool::intern(std::string&& text, uint32_t likely) {
    if (likely != kNone && entries_[likely].uses != 0 && entries_[likely].text == text) {
        ++entries_[likely].uses;
        return likely;
    }
    if (const uint32_t* known = numbers_.find(text)) {
        ++entries_[*known].uses;
        return *known;
    }
    uint32_t n;
    if (unused_.empty()) {
        n = static_cast<uint32_t>(entries_.size());
        entries_.push_back({std::move(text), 1});
    } else {
        n = unused_.back();
        unused_.pop_back();
        entries_[n] = {std::move(text), 1};
    }
    numbers_.emplace(entries_[n].text, n);
    return n;
}

void SearchableIndex::StringPool::release(uint32_t n) {
    Entry& e = entries_[n];
    if (--e.uses != 0) return;
    numbers_.erase(e.text);
    e.text = std::string();
    unused_.push_back(n);
}

void SearchableIndex::StringPool::clear() {
    numbers_.clear();
    entries_.clear();
    unused_.clear();
}

// ---- the text store

std::string_view SearchableIndex::TextStore::add(std::string_view text) {
    static constexpr size_t kBlock = 64 * 1024;
    if (text.empty()) return {};
    if (text.size() > capacity_ - used_) {
        capacity_ = std::max(kBlock, text.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(capacity_));
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    std::memcpy(at, text.data(), text.size());
    used_ += text.size();
    size_ += text.size();
    return {at, text.size()};
}

void SearchableIndex::TextStore::removeLast(std::string_view text) {
    if (text.empty()) return;
    used_ -= text.size();
    size_ -= text.size();
}

void SearchableIndex::TextStore::clear() {
    blocks_.clear();
    used_ = capacity_ = size_ = 0;
}

// ---- the positions by unique id

uint32_t SearchableIndex::Positions::hashOf(std::string_view id) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(id));
}

size_t SearchableIndex::Positions::probe(std::string_view id, uint32_t hash, const std::vector<Stored>& items) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.position == kAbsent) return i;
        if (slot.hash == hash && items[slot.position].uniqueIdentifier == id) return i;
    }
}

uint32_t SearchableIndex::Positions::find(std::string_view id, const std::vector<Stored>& items) const {
    if (size_ == 0) return kAbsent;
    return slots_[probe(id, hashOf(id), items)].position;
}

std::pair<uint32_t, bool> SearchableIndex::Positions::findOrAdd(std::string_view id, uint32_t hash, uint32_t position,
                                                                const std::vector<Stored>& items) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    Slot& slot = slots_[probe(id, hash, items)];
    if (slot.position != kAbsent) return {slot.position, false};
    slot = {hash, position};
    ++size_;
    return {position, true};
}

// Removes by shifting back the entries after it in its run (no tombstones, so probes stay short).
void SearchableIndex::Positions::erase(std::string_view id, const std::vector<Stored>& items) {
    if (size_ == 0) return;
    const size_t mask = slots_.size() - 1;
    size_t hole = probe(id, hashOf(id), items);
    if (slots_[hole].position == kAbsent) return;
    --size_;
    for (size_t i = (hole + 1) & mask; slots_[i].position != kAbsent; i = (i + 1) & mask) {
        // An entry may fill the hole when its home lies cyclically outside (hole, i].
        const size_t home = slots_[i].hash & mask;
        if (((i - home) & mask) >= ((i - hole) & mask)) {
            slots_[hole] = slots_[i];
            hole = i;
        }
    }
    slots_[hole] = Slot();
}

void SearchableIndex::Positions::clear() {
    std::fill(slots_.begin(), slots_.end(), Slot());
    size_ = 0;
}

void SearchableIndex::Positions::reserve(size_t n) {
    while (n * 2 > slots_.size()) grow();
}

void SearchableIndex::Positions::prefetch(uint32_t hash, int stage, const std::vector<Stored>& items) const {
    if (slots_.empty()) return;
    const Slot& slot = slots_[hash & (slots_.size() - 1)];
    if (stage == 0) {
        __builtin_prefetch(&slot);
        return;
    }
    // Only the item of a slot whose hash is this one is read by the lookup.
    if (slot.position == kAbsent || slot.hash != hash || slot.position >= items.size()) return;
    const Stored& item = items[slot.position];
    if (stage == 1)
        __builtin_prefetch(&item);
    else
        __builtin_prefetch(item.uniqueIdentifier.data());
}

void SearchableIndex::Positions::grow() {
    const size_t larger = std::max<size_t>(64, slots_.size() * 2);
    const std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(larger));
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.position == kAbsent) continue;
        size_t i = slot.hash & mask;
        while (slots_[i].position != kAbsent) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

// ---- the index

void SearchableIndex::indexSearchableItems(std::vector<SearchableItem> items) {
    std::lock_guard lock(mutex_);
    std::string line = keptPath_.empty() ? std::string() : journalLine("index", items);
    indexLocked(std::move(items));
    if (!line.empty()) journalLocked(line);
}

void SearchableIndex::indexLocked(std::vector<SearchableItem> items) {
    // The numbers of the previous item's strings, tried first for a new item (the items of one
    // conversation come together); a replaced item's own are tried first for its replacement.
    Stored previous;
    // A list's save brings a hundred thousand items, whose slots and stored items lie at random
    // places of tables too large for the caches: each id's hash is worked out first, and what the
    // lookup of the item a few places on reads is brought in while this one is handled.
    positions_.reserve(items_.size() - deleted_ + items.size());
    std::vector<uint32_t> hashes(items.size());
    for (size_t i = 0; i < items.size(); ++i) hashes[i] = Positions::hashOf(items[i].uniqueIdentifier);
    constexpr size_t kAhead = 8;
    for (size_t i = 0; i < items.size(); ++i) {
        for (int stage = 0; stage < 3; ++stage)
            if (const size_t ahead = i + kAhead * (3 - stage); ahead < items.size())
                positions_.prefetch(hashes[ahead], stage, items_);
        auto& item = items[i];
        // The id is stored before it is looked up, so that one hash both finds and adds it.
        const std::string_view id = texts_.add(item.uniqueIdentifier);
        const auto [position, added] =
            positions_.findOrAdd(id, hashes[i], static_cast<uint32_t>(items_.size()), items_);
        if (added) {
            items_.emplace_back().uniqueIdentifier = id;
        } else {
            texts_.removeLast(id);
        }
        Stored& stored = items_[position];
        const Stored& likely = added ? previous : stored;
        auto& set = item.attributeSet;
        const uint32_t domain = strings_.intern(std::move(item.domainIdentifier), likely.domain);
        const uint32_t contentType = strings_.intern(std::move(set.contentType), likely.contentType);
        const uint32_t account = strings_.intern(std::move(set.accountIdentifier), likely.accountIdentifier);
        const uint32_t title = strings_.intern(std::move(set.title), likely.title);
        // The replaced item's strings are given up after the new ones are taken: mostly they are
        // the same ones, which then stay in the pool.
        if (!added) releaseLocked(stored);
        stored.domain = previous.domain = domain;
        stored.contentType = previous.contentType = contentType;
        stored.accountIdentifier = previous.accountIdentifier = account;
        stored.title = previous.title = title;
        if (added || stored.contentDescription != set.contentDescription) {
            unusedText_ += stored.contentDescription.size();
            stored.contentDescription = texts_.add(set.contentDescription);
        }
        stored.supportsPhoneCall = set.supportsPhoneCall;
    }
    compactLocked();
}

void SearchableIndex::releaseLocked(const Stored& stored) {
    strings_.release(stored.domain);
    strings_.release(stored.contentType);
    strings_.release(stored.accountIdentifier);
    strings_.release(stored.title);
}

void SearchableIndex::deleteLocked(Stored& stored) {
    releaseLocked(stored);
    positions_.erase(stored.uniqueIdentifier, items_);
    unusedText_ += stored.uniqueIdentifier.size() + stored.contentDescription.size();
    stored = Stored();
    stored.deleted = true;
    ++deleted_;
}

void SearchableIndex::compactLocked() {
    if (!(deleted_ > 0 && deleted_ * 2 >= items_.size()) && !(unusedText_ > 0 && unusedText_ * 2 >= texts_.size()))
        return;
    std::erase_if(items_, [](const Stored& s) { return s.deleted; });
    TextStore texts;
    positions_.clear();
    for (size_t i = 0; i < items_.size(); ++i) {
        Stored& s = items_[i];
        s.uniqueIdentifier = texts.add(s.uniqueIdentifier);
        s.contentDescription = texts.add(s.contentDescription);
        positions_.findOrAdd(s.uniqueIdentifier, static_cast<uint32_t>(i), items_);
    }
    texts_ = std::move(texts);
    deleted_ = unusedText_ = 0;
}

void SearchableIndex::deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers) {
    std::lock_guard lock(mutex_);
    deleteIdentifiersLocked(uniqueIdentifiers);
    if (!keptPath_.empty()) journalLocked(journalLine("delete", uniqueIdentifiers));
}

void SearchableIndex::deleteIdentifiersLocked(const std::vector<std::string>& uniqueIdentifiers) {
    for (const auto& id : uniqueIdentifiers)
        if (const uint32_t at = positions_.find(id, items_); at != Positions::kAbsent) deleteLocked(items_[at]);
    compactLocked();
}

void SearchableIndex::deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains) {
    std::lock_guard lock(mutex_);
    deleteDomainsLocked(domains);
    if (!keptPath_.empty()) journalLocked(journalLine("deleteDomains", domains));
}

void SearchableIndex::deleteDomainsLocked(const std::vector<std::string>& domains) {
    // Whether each pooled string is a domain to delete, worked out once: many items share one.
    enum : char { kUnknown, kKept, kDeleted };
    std::vector<char> verdicts(strings_.size(), kUnknown);
    auto isDeleted = [&](uint32_t n) HX_REQUIRES(mutex_) {
        if (verdicts[n] == kUnknown) {
            const std::string& id = strings_[n];
            verdicts[n] = kKept;
            for (const auto& d : domains)
                if (id == d || (id.size() > d.size() && id.compare(0, d.size(), d) == 0 && id[d.size()] == '.'))
                    verdicts[n] = kDeleted;
        }
        return verdicts[n] == kDeleted;
    };
    for (auto& stored : items_)
        if (!stored.deleted && isDeleted(stored.domain)) deleteLocked(stored);
    compactLocked();
}

void SearchableIndex::deleteAllSearchableItems() {
    std::lock_guard lock(mutex_);
    deleteAllLocked();
    if (!keptPath_.empty()) journalLocked(journalLine("deleteAll", std::vector<std::string>{}));
}

void SearchableIndex::deleteAllLocked() {
    items_.clear();
    positions_.clear();
    texts_.clear();
    strings_.clear();
    deleted_ = unusedText_ = 0;
}

std::vector<SearchableItem> SearchableIndex::items() const {
    std::lock_guard lock(mutex_);
    return itemsLocked();
}

std::vector<SearchableItem> SearchableIndex::itemsLocked() const {
    std::vector<SearchableItem> out;
    out.reserve(items_.size() - deleted_);
    for (const auto& s : items_) {
        if (s.deleted) continue;
        out.push_back({std::string(s.uniqueIdentifier),
                       strings_[s.domain],
                       {strings_[s.contentType], strings_[s.accountIdentifier], strings_[s.title],
                        std::string(s.contentDescription), s.supportsPhoneCall}});
    }
    return out;
}

}  // namespace services
