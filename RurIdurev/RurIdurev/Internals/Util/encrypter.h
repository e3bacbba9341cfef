// Encrypts the short strings the SDK keeps on disk with AES-256-CBC and an HMAC-SHA256 tag, under
// one of two device-local keys that alternate once a year. The keys live in the keychain.
//
// Layout written: "<tag>/AES/HmacSHA256/CBC/PKCS7/32" ":" IV(16) MAC(32) cipher. Older layouts are
// still read: "<tag>/AES/CBC/PKCS7/32" ":" IV(16) cipher under the key itself, and bare cipher bytes
// (no ":" anywhere) under the first tag's key with a zero IV.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/security/cipher.h"

inline constexpr const char* kZIVOEncryptionKeyTag = "kZVEncryptionKeyTag";
inline constexpr const char* kZIVOEncryptionKeyTagAlternate = "kZVEncryptionKeyTagAlternate";
inline constexpr const char* kZIVOEncryptionKeyMetadataKey = "EncryptionKeyMetadata";
inline constexpr double kZIVOEncryptionKeyLifetime = 31536000;  // 365 days

class ZIVOEncrypter {
public:
    static constexpr size_t kKeySize = 32;
    static constexpr size_t kIVSize = 16;
    static constexpr size_t kMacSize = 32;
    static constexpr size_t kEncryptionSubkeySize = 32;
    static constexpr size_t kAuthenticationSubkeySize = 16;

    ZIVOEncrypter() = default;

    // Base-64 text (no line breaks) of the encrypted UTF-8 bytes, and back; nothing on failure.
    std::optional<std::string> encryptString(const std::string& string);
    std::optional<std::string> decryptString(const std::string& string);
    std::optional<foundation::Data> encryptData(const foundation::Data& data);
    // Nothing when the layout is cut short, the MAC does not match or the padding does not check.
    std::optional<foundation::Data> decryptData(const foundation::Data& data);

    // The tag to encrypt with now, switching to the other tag when the current one expired.
    static std::string getCurrentKeyTag();
    static void rotateToNewKeyTag(const std::string& tag);

    // The key of a tag: held, else from the keychain, else made and stored. Nothing when a new
    // key was needed and the random source failed.
    std::optional<foundation::Data> getKeyWithKeyTag(const std::string& tag);
    static std::optional<foundation::Data> generateAndSaveKeyWithTag(const std::string& tag);
    static std::optional<foundation::Data> generateInitializationVector();

    static foundation::Result<foundation::Data> performCryptoOperation(security::CryptOperation operation,
                                                                       const foundation::Data& input,
                                                                       const foundation::Data& initializationVector,
                                                                       const foundation::Data& key);
    static foundation::Data getMetadataStringWithKeyTag(const std::string& tag, const std::string& algorithmName);
    static foundation::Data getMetadataStringWithKeyTag(const std::string& tag);
    static foundation::Data getMacBytes(const foundation::Data& cipherBytes, const foundation::Data& subkey);
    // The first outputSize bytes of T(1) T(2) ..., T(i+1) = HMAC-SHA256(key, T(i) || i) with T(0)
    // empty and i from 0. Nothing for a size below 1.
    static std::optional<foundation::Data> getSubkey(const foundation::Data& key, size_t outputSize);

private:
    std::mutex keysMutex_;
    std::optional<foundation::Data> originalKeyData_;
    std::optional<foundation::Data> alternateKeyData_;
};
