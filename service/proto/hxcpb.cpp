#include "service/proto/hxcpb.h"

#include <cstdio>
#include <random>

namespace hxcpb {

std::optional<std::string> serialize(const google::protobuf::MessageLite& message) {
    std::string bytes;
    if (!message.SerializePartialToString(&bytes)) return std::nullopt;
    return bytes;
}

}  // namespace hxcpb

uint64_t getRandomSMS_ID() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    // The digits round trip is kept because the id is defined by it: each byte becomes "%02X".
    char hex[13] = {0};
    for (int i = 0; i < 6; ++i) std::snprintf(hex + 2 * i, 3, "%02X", static_cast<unsigned>(generator() & 0xFF));
    return std::strtoull(hex, nullptr, 16);
}
