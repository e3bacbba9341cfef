// What the object caches hold: an archivable object (an image value, ...) or a plain value
// (data and the other property-list values). Shared and immutable once made.
#pragma once

#include <memory>

#include "platform/foundation/value.h"

namespace foundation {
class Archivable;
}

struct HXCCachedObject {
    std::shared_ptr<const foundation::Archivable> archivable;
    foundation::Value value;

    static std::shared_ptr<const HXCCachedObject> withData(foundation::Data data) {
        return std::make_shared<const HXCCachedObject>(HXCCachedObject{nullptr, foundation::Value(std::move(data))});
    }
    static std::shared_ptr<const HXCCachedObject> withValue(foundation::Value value) {
        return std::make_shared<const HXCCachedObject>(HXCCachedObject{nullptr, std::move(value)});
    }
    static std::shared_ptr<const HXCCachedObject> withArchivable(std::shared_ptr<const foundation::Archivable> object) {
        return std::make_shared<const HXCCachedObject>(HXCCachedObject{std::move(object), {}});
    }
};

using HXCCacheObject = std::shared_ptr<const HXCCachedObject>;
