#include "platform/store/store_error.h"

namespace store {

foundation::Error makeError(int64_t code, std::string description) {
    return foundation::Error::withDescription(foundation::kCocoaErrorDomain, code, std::move(description));
}

}  // namespace store
