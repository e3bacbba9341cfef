// Exception requests as the server reads them: whatever the bytes announce, the codes handed on
// lie inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crashreporter/mach_exception_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buffer(data, data + size);
    zvcrash_exception_request request{};
    if (zvcrash_exception_request_parse(buffer.data(), buffer.size(), &request) !=
        zvcrash_exception_request_result::Request)
        return 0;
    uint64_t sum = 0;
    for (uint32_t i = 0; i < request.code_count; ++i) {
        uint64_t code;
        std::memcpy(&code, request.codes + i * 8, 8);
        sum += code;
    }
    zvcrash_mapped_signal mapped{};
    if (request.code_count > 0) {
        std::vector<int64_t> codes(request.code_count);
        std::memcpy(codes.data(), request.codes, request.code_count * 8);
        zvcrash_exception_to_signal(request.exception, codes.data(), request.code_count, kernel::kHostCpuType, &mapped);
    }
    uint8_t reply[kZVCrashExceptionReplySize];
    zvcrash_exception_reply_build(request.header, static_cast<int>(sum & 0xFF), reply);
    return 0;
}
