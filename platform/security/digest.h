// Message digests and HMAC over the system's crypto library: raw bytes or lower-case hex.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace security {

using foundation::Data;

enum class DigestAlgorithm { MD5, SHA1, SHA224, SHA256, SHA384, SHA512 };

// Length in bytes of a digest of the algorithm (16, 20, 28, 32, 48, 64).
size_t digestLength(DigestAlgorithm algorithm);

Data digest(DigestAlgorithm algorithm, std::span<const uint8_t> bytes);
Data digest(DigestAlgorithm algorithm, std::string_view text);
std::string digestHex(DigestAlgorithm algorithm, std::span<const uint8_t> bytes);
std::string digestHex(DigestAlgorithm algorithm, std::string_view text);

inline Data md5(std::string_view text) { return digest(DigestAlgorithm::MD5, text); }
inline Data sha1(std::string_view text) { return digest(DigestAlgorithm::SHA1, text); }
inline Data sha256(std::string_view text) { return digest(DigestAlgorithm::SHA256, text); }

// Incremental digest for inputs that arrive in pieces (files, streams).
class DigestContext {
public:
    explicit DigestContext(DigestAlgorithm algorithm);
    ~DigestContext();
    DigestContext(const DigestContext&) = delete;
    DigestContext& operator=(const DigestContext&) = delete;

    void update(std::span<const uint8_t> bytes);
    void update(std::string_view text);
    // The digest of everything given so far; the context starts over afterwards.
    Data finish();

private:
    DigestAlgorithm algorithm_;
    void* ctx_;
};

// HMAC with SHA-256 (32 bytes) under a key of any length.
Data hmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> bytes);

// Lower-case hex of the bytes, two characters per byte.
std::string hexString(std::span<const uint8_t> bytes);
// The bytes of a hex text (either case, even length); empty optional for anything else.
std::optional<Data> dataFromHex(std::string_view hex);

inline std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace security
