// Fuzzes the readers of the service's protobuf replies (the access-number reservation and the
// message send) with arbitrary bytes. A found access number or conversation id is one the bytes
// hold.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "service/calls.h"
#include "service/sms_sending.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto access = HXCalls::accessNumberFromReply(bytes))
        if (!access->empty() && bytes.find(*access) == std::string_view::npos) __builtin_trap();
    if (auto conversation = HXMessageSender::conversationIDFromReply(bytes))
        if (!conversation->empty() && bytes.find(*conversation) == std::string_view::npos) __builtin_trap();
    return 0;
}
