// A dictionary that remembers the order in which keys were first inserted (JSON key order of the
// common-schema logs). Not thread-safe: its owner serialises access.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/value.h"

class ZIVOOrderedDictionary {
public:
    ZIVOOrderedDictionary() = default;
    explicit ZIVOOrderedDictionary(size_t capacity) { order_.reserve(capacity); }

    // A new key goes to the end; an existing key keeps its place and takes the value.
    void setObject(foundation::Value object, const foundation::Key& key);
    const foundation::Value* objectForKey(const foundation::Key& key) const { return dictionary_.find(key); }
    size_t count() const { return dictionary_.size(); }
    // The keys in first-insertion order.
    const std::vector<foundation::Key>& keyEnumerator() const { return order_; }
    void removeAllObjects();
    ZIVOOrderedDictionary mutableCopy() const { return *this; }
    // Equal contents in the same key order.
    bool isEqualToDictionary(const ZIVOOrderedDictionary& other) const;
    // The entries as a dictionary value in this order.
    foundation::Dictionary dictionary() const;

private:
    std::vector<foundation::Key> order_;
    foundation::Dictionary dictionary_;
};
