// Fuzzes the reply scanners (the AuthV2 value of a service page and the error code of a failed
// message send) and the API reply reader with arbitrary texts. A found AuthV2 value is a
// non-empty run without quotes; an error code has no quote.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "service/request_machinery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto v = HXParseAuthV2FromString(text)) {
        if (v->empty() || v->find('"') != std::string::npos) __builtin_trap();
        if (text.find("_hx.pageProto") == std::string_view::npos) __builtin_trap();
    }
    if (auto code = HXSMSErrorCodeFromText(text)) {
        if (code->find('"') != std::string::npos) __builtin_trap();
        if (text.find(*code) == std::string_view::npos) __builtin_trap();
    }
    return 0;
}
