// JSON text from the network: parsing must fail cleanly or give a value that writes back and
// re-reads to the same value.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = foundation::parseJSON(text);
    if (!parsed.ok()) return 0;
    for (bool pretty : {false, true}) {
        auto written = foundation::toJSON(*parsed, {.pretty = pretty});
        if (!written.ok()) std::abort();  // everything the parser makes is writable
        auto again = foundation::parseJSON(*written);
        if (!again.ok() || !(*again == *parsed)) std::abort();
    }
    return 0;
}
