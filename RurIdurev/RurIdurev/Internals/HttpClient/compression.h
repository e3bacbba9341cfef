// Request bodies in their gzip form, as the HTTP transport sends them.
#pragma once

#include <optional>

#include "platform/foundation/value.h"

class ZIVOCompression {
public:
    // The gzip stream of the bytes, or nothing (empty input, or a zlib failure, which is logged).
    static std::optional<foundation::Data> compressData(const foundation::Data& data);
};
