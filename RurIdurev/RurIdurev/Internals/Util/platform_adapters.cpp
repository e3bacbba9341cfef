#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"

#include "platform/foundation/base64.h"

namespace zivo_platform {

std::string base64Encode(const foundation::Data& data) { return foundation::base64Encode(data); }

std::optional<foundation::Data> base64Decode(std::string_view text) {
    return foundation::base64Decode(text, foundation::Base64Decoding::Strict);
}

}  // namespace zivo_platform
