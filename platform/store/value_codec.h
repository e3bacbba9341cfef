// The byte form of a Transformable attribute: any foundation::Value (attachment lists carry
// nested dictionaries, arrays and numbers) in a compact tagged encoding. Decoding checks every
// length against the buffer, since a store file may be damaged.
#pragma once

#include <cstdint>
#include <span>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace store {

foundation::Data encodeValue(const foundation::Value& value);
foundation::Result<foundation::Value> decodeValue(std::span<const uint8_t> bytes);

}  // namespace store
