// Where each row a context holds sits in its list of held rows, by the row's identity.
//
// A large import holds hundreds of thousands of new rows, whose identities were made one after
// another, so their temporary numbers follow each other with few gaps. Those numbers index a plain
// array from the first one held: a row is found at one known place, and an import that walks its
// rows in the order it made them walks the array in order too. A hash table of that size is read
// at random places, each a cache miss once it outgrows the caches, so its cost per row grows with
// the import. Identities outside the run (read from the store, made far apart or before the first
// one held, or from another coordinator with the same number) go to a small hash map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/flat_map.h"
#include "platform/store/managed_object.h"

namespace store {

class HeldIndex {
public:
    size_t size() const { return inRun_ + others_.size(); }
    bool empty() const { return size() == 0; }

    // Room for n more identities that follow the run.
    void reserve(size_t n) { run_.reserve(run_.size() + n); }

    // The place of id, if it is held.
    std::optional<size_t> find(const ObjectIdentity* id) const {
        if (const Entry* e = inRun(id)) return e->place;
        if (others_.empty()) return std::nullopt;
        if (const size_t* place = others_.find(id)) return *place;
        return std::nullopt;
    }
    bool contains(const ObjectIdentity* id) const { return find(id).has_value(); }

    // Notes id at place; false (and nothing changes) when id is held already.
    bool emplace(const ObjectIdentity* id, size_t place) {
        if (!id || contains(id)) return false;
        if (Entry* e = runSlotFor(id)) {
            *e = {id, place};
            ++inRun_;
            return true;
        }
        others_.emplace(id, place);
        return true;
    }

    // Forgets id; false when it was not held.
    bool erase(const ObjectIdentity* id) {
        if (Entry* e = const_cast<Entry*>(inRun(id))) {
            *e = Entry{};
            if (--inRun_ == 0) std::vector<Entry>().swap(run_);
            return true;
        }
        return !others_.empty() && others_.erase(id);
    }

    // Bytes the index holds.
    size_t bytes() const { return run_.capacity() * sizeof(Entry) + others_.bytes(); }

    // Forgets every identity and gives the memory back.
    void clear() {
        std::vector<Entry>().swap(run_);
        inRun_ = 0;
        others_.clear();
    }

private:
    struct Entry {
        const ObjectIdentity* id = nullptr;
        size_t place = 0;
    };
    // How far past the run's end a new number may lie and still extend it: gaps cost an entry
    // each, so the run at most doubles, with some room for a small one.
    static constexpr size_t kSmallRun = 4096;

    const Entry* inRun(const ObjectIdentity* id) const {
        if (!id || run_.empty()) return nullptr;
        const uint64_t n = id->temporaryNumber();
        if (n < base_ || n - base_ >= run_.size()) return nullptr;
        const Entry& e = run_[n - base_];
        return e.id == id ? &e : nullptr;
    }

    // The free entry of the run where id goes, growing the run up to it; null when id belongs
    // in the hash map.
    Entry* runSlotFor(const ObjectIdentity* id) {
        const uint64_t n = id->temporaryNumber();
        if (n == 0) return nullptr;  // made by reading the store: it has no number
        if (inRun_ == 0) {
            run_.clear();
            base_ = n;
        }
        if (n < base_) return nullptr;
        const uint64_t offset = n - base_;
        if (offset >= run_.size()) {
            if (offset - run_.size() > std::max(run_.size(), kSmallRun)) return nullptr;
            run_.resize(offset + 1);
        }
        Entry& e = run_[offset];
        return e.id ? nullptr : &e;  // taken by another coordinator's identity of the same number
    }

    uint64_t base_ = 0;  // the temporary number of run_[0]
    std::vector<Entry> run_;
    size_t inRun_ = 0;
    foundation::FlatMap<const ObjectIdentity*, size_t> others_;
};

}  // namespace store
