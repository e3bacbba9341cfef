// Fuzzes the reader of the service's thread lists with arbitrary bytes. What it keeps must be
// usable as it stands: ids never empty, type masks of one bit (or none), a recording only where
// the item said so.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "service/thread_list_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto read = HXReadThreadList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read.ok()) return 0;
    for (const auto& thread : read.value().threads) {
        if (thread.id.empty()) __builtin_trap();
        for (const auto& item : thread.items) {
            if (item.id.empty()) __builtin_trap();
            if (item.mask & (item.mask - 1)) __builtin_trap();
            if (item.mask == 16 && item.type != "recording" && item.type != "inbound") __builtin_trap();
            if (!item.attachments.isNull() && !item.attachments.isArray()) __builtin_trap();
        }
    }
    return 0;
}
