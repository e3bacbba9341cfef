// Stored transformable values: any bytes decode to a value or an error, and a decoded value
// survives another round unchanged (compared as bytes, since NaN never equals itself).
#include <cstdint>
#include <cstdlib>

#include "platform/store/value_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto decoded = store::decodeValue({data, size});
    if (!decoded) return 0;
    auto bytes = store::encodeValue(decoded.value());
    auto again = store::decodeValue(bytes);
    if (!again || store::encodeValue(again.value()) != bytes) std::abort();
    return 0;
}
