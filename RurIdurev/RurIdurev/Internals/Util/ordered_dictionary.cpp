#include "RurIdurev/RurIdurev/Internals/Util/ordered_dictionary.h"

void ZIVOOrderedDictionary::setObject(foundation::Value object, const foundation::Key& key) {
    if (!dictionary_.contains(key)) order_.push_back(key);
    dictionary_.set(key, std::move(object));
}

void ZIVOOrderedDictionary::removeAllObjects() {
    order_.clear();
    dictionary_.clear();
}

bool ZIVOOrderedDictionary::isEqualToDictionary(const ZIVOOrderedDictionary& other) const {
    return order_ == other.order_ && dictionary_ == other.dictionary_;
}

foundation::Dictionary ZIVOOrderedDictionary::dictionary() const {
    foundation::Dictionary out;
    for (const auto& key : order_) out.set(key, dictionary_.get(key));
    return out;
}
