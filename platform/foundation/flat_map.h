// A hash map kept in one array, for the large maps of a save or a list's parse (hundreds of
// thousands of pointers, views or numbers): open addressing with linear probing, at most three
// quarters full, backward-shift deletion. A lookup reads one slot or a few neighbouring ones, where a
// node-based map reads a bucket, then a node elsewhere in memory; once a map outgrows the caches
// that is the difference between one miss and two or three per lookup, and a node-based map's
// cost per entry grows with its size. Keys and values are moved when the table grows, so both
// should be cheap to move; references into the map stay valid only until the next insertion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace foundation {

template <typename Key, typename Value, typename Hash = std::hash<Key>, typename Equal = std::equal_to<Key>>
class FlatMap {
public:
    FlatMap() = default;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Bytes the table's array holds.
    size_t bytes() const { return slots_.capacity() * sizeof(Slot); }

    // Room for n entries without growing.
    void reserve(size_t n) {
        size_t capacity = kMinCapacity;
        while (!fits(n, capacity)) capacity *= 2;
        if (capacity > slots_.size()) rehash(capacity);
    }

    // Forgets every entry and gives the table's memory back.
    void clear() {
        std::vector<Slot>().swap(slots_);
        size_ = 0;
    }

    Value* find(const Key& key) {
        if (slots_.empty()) return nullptr;
        const uint64_t h = mix(key);
        const uint32_t tag = tagOf(h);
        for (size_t i = home(h);; i = next(i)) {
            Slot& s = slots_[i];
            if (s.tag == 0) return nullptr;
            if (s.tag == tag && equal_(s.key, key)) return &s.value;
        }
    }
    const Value* find(const Key& key) const { return const_cast<FlatMap*>(this)->find(key); }
    bool contains(const Key& key) const { return find(key) != nullptr; }

    // Adds key with value unless the key is there already; the entry and whether it was added.
    std::pair<Value*, bool> emplace(const Key& key, Value value) {
        if (!fits(size_ + 1, slots_.size())) rehash(slots_.empty() ? kMinCapacity : slots_.size() * 2);
        const uint64_t h = mix(key);
        const uint32_t tag = tagOf(h);
        for (size_t i = home(h);; i = next(i)) {
            Slot& s = slots_[i];
            if (s.tag == 0) {
                s.tag = tag;
                s.key = key;
                s.value = std::move(value);
                ++size_;
                return {&s.value, true};
            }
            if (s.tag == tag && equal_(s.key, key)) return {&s.value, false};
        }
    }
    Value& operator[](const Key& key) { return *emplace(key, Value{}).first; }

    // Removes key; false if it was not there. The entries after it in its run move back, so that
    // no lookup stops early at the hole.
    bool erase(const Key& key) {
        if (slots_.empty()) return false;
        const uint64_t h = mix(key);
        const uint32_t tag = tagOf(h);
        size_t i = home(h);
        for (;; i = next(i)) {
            const Slot& s = slots_[i];
            if (s.tag == 0) return false;
            if (s.tag == tag && equal_(s.key, key)) break;
        }
        for (size_t j = next(i);; j = next(j)) {
            Slot& s = slots_[j];
            if (s.tag == 0) break;
            // s may fill the hole at i only if its home is not within (i, j]: it would then be
            // found before reaching i.
            const size_t k = home(mix(s.key));
            const bool homeBetween = i <= j ? (i < k && k <= j) : (i < k || k <= j);
            if (homeBetween) continue;
            slots_[i] = std::move(s);
            i = j;
        }
        slots_[i] = Slot{};
        --size_;
        return true;
    }

    // Calls f(key, value) for every entry, in no particular order.
    template <typename F>
    void forEach(F&& f) const {
        for (const Slot& s : slots_)
            if (s.tag != 0) f(s.key, s.value);
    }

private:
    struct Slot {
        Key key{};
        Value value{};
        uint32_t tag = 0;  // 0: empty; else the low bits of the mixed hash, never 0
    };
    static constexpr size_t kMinCapacity = 16;
    // At most three quarters full: runs stay short for lookups that find their key, which is
    // what these maps mostly do, and a table of pointers to small numbers takes no more memory
    // than a node-based map's nodes and buckets.
    static bool fits(size_t n, size_t capacity) { return 4 * n <= 3 * capacity; }

    // The caller's hash spread over all 64 bits (a pointer's hash is the pointer itself, whose low
    // bits are always zero).
    uint64_t mix(const Key& key) const { return static_cast<uint64_t>(hash_(key)) * 0x9E3779B97F4A7C15ull; }
    static uint32_t tagOf(uint64_t h) { return static_cast<uint32_t>(h) | 1u; }
    size_t home(uint64_t h) const { return static_cast<size_t>(h >> 32) & (slots_.size() - 1); }
    size_t next(size_t i) const { return (i + 1) & (slots_.size() - 1); }

    void rehash(size_t capacity) {
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        for (Slot& s : old) {
            if (s.tag == 0) continue;
            size_t i = home(mix(s.key));
            while (slots_[i].tag != 0) i = next(i);
            slots_[i] = std::move(s);
        }
    }

    std::vector<Slot> slots_;
    size_t size_ = 0;
    [[no_unique_address]] Hash hash_;
    [[no_unique_address]] Equal equal_;
};

}  // namespace foundation
