#include "platform/security/cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

namespace security {

namespace {

foundation::Error cryptoError(CryptoErrorCode code, const char* text) {
    return foundation::Error::withDescription(kCryptoErrorDomain, static_cast<int64_t>(code), text);
}

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

}  // namespace

foundation::Result<Data> aes256Cbc(CryptOperation operation, std::span<const uint8_t> input,
                                   std::span<const uint8_t> key, std::span<const uint8_t> iv) {
    if (key.size() != kAes256KeySize)
        return cryptoError(CryptoErrorCode::InvalidParameter, "AES-256 needs a 32-byte key");
    if (iv.size() != kAesBlockSize)
        return cryptoError(CryptoErrorCode::InvalidParameter, "AES-CBC needs a 16-byte initialisation vector");
    const bool encrypt = operation == CryptOperation::Encrypt;
    if (!encrypt && (input.empty() || input.size() % kAesBlockSize != 0))
        return cryptoError(CryptoErrorCode::DecryptionFailed, "cipher text is not a whole number of blocks");

    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1)
        return cryptoError(CryptoErrorCode::BackendFailure, "cipher set-up failed");

    Data out(input.size() + kAesBlockSize);
    int written = 0;
    if (!input.empty() &&
        EVP_CipherUpdate(ctx.get(), out.data(), &written, input.data(), static_cast<int>(input.size())) != 1)
        return cryptoError(CryptoErrorCode::BackendFailure, "cipher update failed");
    int tail = 0;
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + written, &tail) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        return cryptoError(encrypt ? CryptoErrorCode::BackendFailure : CryptoErrorCode::DecryptionFailed,
                           encrypt ? "cipher finalisation failed" : "bad padding in cipher text");
    }
    out.resize(static_cast<size_t>(written + tail));
    return out;
}

bool constantTimeEquals(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace security
