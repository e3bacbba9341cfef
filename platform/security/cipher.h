// AES-256 in CBC mode with PKCS#7 padding over the system's crypto library.
#pragma once

#include <cstdint>
#include <span>

#include "platform/foundation/error.h"

namespace security {

using foundation::Data;

inline constexpr const char* kCryptoErrorDomain = "HXSecurityCryptoErrorDomain";

enum class CryptoErrorCode : int64_t {
    // The key is not 32 bytes or the initialisation vector not 16.
    InvalidParameter = 1,
    // The cipher text is not a whole number of blocks or its padding does not check.
    DecryptionFailed = 2,
    // The crypto library could not run the operation at all.
    BackendFailure = 3,
};

enum class CryptOperation { Encrypt = 0, Decrypt = 1 };

inline constexpr size_t kAes256KeySize = 32;
inline constexpr size_t kAesBlockSize = 16;

// AES-256-CBC with PKCS#7 padding. The key must be 32 bytes and the vector 16.
foundation::Result<Data> aes256Cbc(CryptOperation operation, std::span<const uint8_t> input,
                                   std::span<const uint8_t> key, std::span<const uint8_t> iv);

inline foundation::Result<Data> aes256CbcEncrypt(std::span<const uint8_t> plain, std::span<const uint8_t> key,
                                                 std::span<const uint8_t> iv) {
    return aes256Cbc(CryptOperation::Encrypt, plain, key, iv);
}
inline foundation::Result<Data> aes256CbcDecrypt(std::span<const uint8_t> cipher, std::span<const uint8_t> key,
                                                 std::span<const uint8_t> iv) {
    return aes256Cbc(CryptOperation::Decrypt, cipher, key, iv);
}

// Equality of two byte strings in time that depends only on their lengths (for MAC checks).
bool constantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace security
