#include "platform/security/digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>

namespace security {

namespace {

const EVP_MD* mdFor(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::MD5:
            return EVP_md5();
        case DigestAlgorithm::SHA1:
            return EVP_sha1();
        case DigestAlgorithm::SHA224:
            return EVP_sha224();
        case DigestAlgorithm::SHA256:
            return EVP_sha256();
        case DigestAlgorithm::SHA384:
            return EVP_sha384();
        case DigestAlgorithm::SHA512:
            return EVP_sha512();
    }
    return EVP_sha256();
}

// The digests in use are always present in the default provider; a failure here means the
// process cannot do any cryptography at all, which no caller could recover from.
[[noreturn]] void cryptoUnavailable() { std::abort(); }

}  // namespace

size_t digestLength(DigestAlgorithm algorithm) { return static_cast<size_t>(EVP_MD_get_size(mdFor(algorithm))); }

Data digest(DigestAlgorithm algorithm, std::span<const uint8_t> bytes) {
    Data out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, mdFor(algorithm), nullptr) != 1)
        cryptoUnavailable();
    out.resize(length);
    return out;
}

Data digest(DigestAlgorithm algorithm, std::string_view text) { return digest(algorithm, bytesOf(text)); }

std::string digestHex(DigestAlgorithm algorithm, std::span<const uint8_t> bytes) {
    return hexString(digest(algorithm, bytes));
}

std::string digestHex(DigestAlgorithm algorithm, std::string_view text) { return hexString(digest(algorithm, text)); }

DigestContext::DigestContext(DigestAlgorithm algorithm) : algorithm_(algorithm), ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), mdFor(algorithm_), nullptr) != 1)
        cryptoUnavailable();
}

DigestContext::~DigestContext() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void DigestContext::update(std::span<const uint8_t> bytes) {
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), bytes.data(), bytes.size()) != 1) cryptoUnavailable();
}

void DigestContext::update(std::string_view text) { update(bytesOf(text)); }

Data DigestContext::finish() {
    Data out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    auto* ctx = static_cast<EVP_MD_CTX*>(ctx_);
    if (EVP_DigestFinal_ex(ctx, out.data(), &length) != 1) cryptoUnavailable();
    if (EVP_DigestInit_ex(ctx, mdFor(algorithm_), nullptr) != 1) cryptoUnavailable();
    out.resize(length);
    return out;
}

Data hmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> bytes) {
    Data out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    // HMAC() refuses a null key pointer even for a zero length.
    static const uint8_t kEmpty = 0;
    const uint8_t* keyBytes = key.empty() ? &kEmpty : key.data();
    static const uint8_t kNoInput = 0;
    const uint8_t* input = bytes.empty() ? &kNoInput : bytes.data();
    if (!HMAC(EVP_sha256(), keyBytes, static_cast<int>(key.size()), input, bytes.size(), out.data(), &length))
        cryptoUnavailable();
    out.resize(length);
    return out;
}

std::string hexString(std::span<const uint8_t> bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0xf]);
    }
    return out;
}

std::optional<Data> dataFromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Data out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

}  // namespace security
