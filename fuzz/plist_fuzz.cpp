// Property-list bytes from files: reading must fail cleanly or give a value that, when it can be
// written, reads back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto value = foundation::readPropertyList(bytes);
    if (!value.ok()) return 0;
    auto written = foundation::writeBinaryPropertyList(*value);
    if (!written.ok()) return 0;  // e.g. a NUL inside a string or a date the writer cannot hold
    if (!foundation::readPropertyList(*written).ok()) std::abort();
    return 0;
}
