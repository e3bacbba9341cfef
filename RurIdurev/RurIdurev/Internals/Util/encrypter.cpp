#include "RurIdurev/RurIdurev/Internals/Util/encrypter.h"

#include <algorithm>

#include "RurIdurev/RurIdurev/Internals/Util/keychain_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/strings.h"
#include "platform/security/digest.h"
#include "platform/security/random.h"

using foundation::Data;

namespace {

// Tag rotation and key generation are read-check-write cycles over the preference store and the
// keychain; two threads doing them at once would make two keys and lose what the first encrypted.
std::recursive_mutex& keyMutex() {
    static auto* m = new std::recursive_mutex;
    return *m;
}

constexpr const char* kAlgorithmWithMac = "AES/HmacSHA256";
constexpr const char* kAlgorithmLegacy = "AES";

bool isKnownTag(const std::string& tag) {
    return tag == kZIVOEncryptionKeyTag || tag == kZIVOEncryptionKeyTagAlternate;
}

void logCryptoFailure() { ZIVOLogError(kZIVOLogTag, std::string("Error performing encryption or decryption.")); }

}  // namespace

std::optional<std::string> ZIVOEncrypter::encryptString(const std::string& string) {
    auto cipher = encryptData(Data(string.begin(), string.end()));
    if (!cipher) return std::nullopt;
    return zivo_platform::base64Encode(*cipher);
}

std::optional<std::string> ZIVOEncrypter::decryptString(const std::string& string) {
    auto data = zivo_platform::base64Decode(string);
    if (!data) {
        ZIVOLogWarning(kZIVOLogTag, std::string("Conversion of encrypted string to NSData failed."));
        return std::nullopt;
    }
    auto plain = decryptData(*data);
    if (!plain) return std::nullopt;
    auto text = foundation::stringFromUtf8(*plain);
    if (!text) {
        ZIVOLogWarning(kZIVOLogTag, std::string("Converting decrypted NSData to NSString failed."));
        return std::nullopt;
    }
    return text;
}

std::optional<Data> ZIVOEncrypter::encryptData(const Data& data) {
    const std::string tag = getCurrentKeyTag();
    auto key = getKeyWithKeyTag(tag);
    if (!key) return std::nullopt;
    auto encryptionSubkey = getSubkey(*key, kEncryptionSubkeySize);
    auto authenticationSubkey = getSubkey(*key, kAuthenticationSubkeySize);
    auto iv = generateInitializationVector();
    if (!encryptionSubkey || !authenticationSubkey || !iv) return std::nullopt;
    auto cipher = performCryptoOperation(security::CryptOperation::Encrypt, data, *iv, *encryptionSubkey);
    if (!cipher.ok()) return std::nullopt;
    const Data mac = getMacBytes(*cipher, *authenticationSubkey);
    Data out = getMetadataStringWithKeyTag(tag, kAlgorithmWithMac);
    out.push_back(':');
    out.insert(out.end(), iv->begin(), iv->end());
    out.insert(out.end(), mac.begin(), mac.end());
    out.insert(out.end(), cipher->begin(), cipher->end());
    return out;
}

std::optional<Data> ZIVOEncrypter::decryptData(const Data& data) {
    const auto colon = std::find(data.begin(), data.end(), static_cast<uint8_t>(':'));
    if (colon == data.end()) {
        // The oldest layout: bare cipher bytes under the first tag's key with a zero vector.
        auto key = getKeyWithKeyTag(kZIVOEncryptionKeyTag);
        if (!key) return std::nullopt;
        auto plain = performCryptoOperation(security::CryptOperation::Decrypt, data, Data(kIVSize, 0), *key);
        if (!plain.ok()) return std::nullopt;
        return std::move(plain).value();
    }
    const std::string metadata(data.begin(), colon);
    const std::string tag = metadata.substr(0, metadata.find('/'));
    // A tag this SDK never wrote cannot be decrypted; asking for its key would make and store one.
    if (!isKnownTag(tag)) {
        logCryptoFailure();
        return std::nullopt;
    }
    const size_t bodyStart = static_cast<size_t>(colon - data.begin()) + 1;
    const size_t bodySize = data.size() - bodyStart;
    const bool legacy = Data(data.begin(), colon) == getMetadataStringWithKeyTag(tag, kAlgorithmLegacy);
    const size_t headerSize = legacy ? kIVSize : kIVSize + kMacSize;
    if (bodySize < headerSize) {
        logCryptoFailure();
        return std::nullopt;
    }
    auto key = getKeyWithKeyTag(tag);
    if (!key) return std::nullopt;
    const auto body = data.begin() + static_cast<std::ptrdiff_t>(bodyStart);
    const Data iv(body, body + kIVSize);
    if (legacy) {
        const Data cipher(body + kIVSize, data.end());
        auto plain = performCryptoOperation(security::CryptOperation::Decrypt, cipher, iv, *key);
        if (!plain.ok()) return std::nullopt;
        return std::move(plain).value();
    }
    const Data mac(body + kIVSize, body + kIVSize + kMacSize);
    const Data cipher(body + kIVSize + kMacSize, data.end());
    auto encryptionSubkey = getSubkey(*key, kEncryptionSubkeySize);
    auto authenticationSubkey = getSubkey(*key, kAuthenticationSubkeySize);
    if (!encryptionSubkey || !authenticationSubkey) return std::nullopt;
    // Tampered or corrupt bytes are refused rather than decrypted.
    if (!security::constantTimeEquals(getMacBytes(cipher, *authenticationSubkey), mac)) {
        ZIVOLogError(kZIVOLogTag, std::string("Could not authenticate MAC value."));
        return std::nullopt;
    }
    auto plain = performCryptoOperation(security::CryptOperation::Decrypt, cipher, iv, *encryptionSubkey);
    if (!plain.ok()) return std::nullopt;
    return std::move(plain).value();
}

std::string ZIVOEncrypter::getCurrentKeyTag() {
    std::lock_guard lock(keyMutex());
    auto metadata = ZIVORurIdurevUserDefaults::shared()->objectForKey(kZIVOEncryptionKeyMetadataKey);
    if (!metadata.isString()) {
        rotateToNewKeyTag(kZIVOEncryptionKeyTagAlternate);
        return kZIVOEncryptionKeyTagAlternate;
    }
    const std::string& text = metadata.asString();
    const auto slash = text.find('/');
    const std::string tag = text.substr(0, slash);
    const auto expiry = slash == std::string::npos
                            ? std::nullopt
                            : ZIVOUtility::dateFromISO8601(std::string_view(text).substr(slash + 1));
    if (expiry && expiry->secondsSince1970 > dispatch::wallNow() && isKnownTag(tag)) return tag;
    const std::string next = tag == kZIVOEncryptionKeyTag ? kZIVOEncryptionKeyTagAlternate : kZIVOEncryptionKeyTag;
    rotateToNewKeyTag(next);
    return next;
}

void ZIVOEncrypter::rotateToNewKeyTag(const std::string& tag) {
    std::lock_guard lock(keyMutex());
    const std::string expiry =
        ZIVOUtility::dateToISO8601(foundation::Date{dispatch::wallNow() + kZIVOEncryptionKeyLifetime});
    ZIVORurIdurevUserDefaults::shared()->setObject(tag + "/" + expiry, kZIVOEncryptionKeyMetadataKey);
}

std::optional<Data> ZIVOEncrypter::getKeyWithKeyTag(const std::string& tag) {
    const bool original = tag == kZIVOEncryptionKeyTag;
    {
        std::lock_guard lock(keysMutex_);
        const auto& held = original ? originalKeyData_ : alternateKeyData_;
        if (held) return held;
    }
    std::lock_guard keyLock(keyMutex());
    auto stored = ZIVOKeychainUtil::stringForKey(tag, nullptr);
    if (stored) {
        if (auto key = zivo_platform::base64Decode(*stored)) return key;
    }
    auto key = generateAndSaveKeyWithTag(tag);
    if (!key) return std::nullopt;
    std::lock_guard lock(keysMutex_);
    (original ? originalKeyData_ : alternateKeyData_) = key;
    return key;
}

std::optional<Data> ZIVOEncrypter::generateAndSaveKeyWithTag(const std::string& tag) {
    Data key(kKeySize);
    const int32_t status = security::randomBytes(key.data(), key.size());
    if (status != security::kRandomSuccess) {
        // A key that is not random would protect nothing; never store one.
        ZIVOLogError(kZIVOLogTag, "Error generating encryption key. Error code: " + std::to_string(status));
        return std::nullopt;
    }
    if (!ZIVOKeychainUtil::storeString(zivo_platform::base64Encode(key), tag)) return std::nullopt;
    return key;
}

std::optional<Data> ZIVOEncrypter::generateInitializationVector() {
    Data iv(kIVSize);
    const int32_t status = security::randomBytes(iv.data(), iv.size());
    if (status != security::kRandomSuccess) {
        ZIVOLogError(kZIVOLogTag, "Error generating initialization vector. Error code: " + std::to_string(status));
        return std::nullopt;
    }
    return iv;
}

foundation::Result<Data> ZIVOEncrypter::performCryptoOperation(security::CryptOperation operation, const Data& input,
                                                               const Data& initializationVector, const Data& key) {
    auto result = security::aes256Cbc(operation, input, key, initializationVector);
    if (!result.ok()) logCryptoFailure();
    return result;
}

Data ZIVOEncrypter::getMetadataStringWithKeyTag(const std::string& tag, const std::string& algorithmName) {
    const std::string text = tag + "/" + algorithmName + "/CBC/PKCS7/" + std::to_string(kKeySize);
    return Data(text.begin(), text.end());
}

Data ZIVOEncrypter::getMetadataStringWithKeyTag(const std::string& tag) {
    return getMetadataStringWithKeyTag(tag, kAlgorithmLegacy);
}

Data ZIVOEncrypter::getMacBytes(const Data& cipherBytes, const Data& subkey) {
    return security::hmacSha256(subkey, cipherBytes);
}

std::optional<Data> ZIVOEncrypter::getSubkey(const Data& key, size_t outputSize) {
    if (outputSize < 1) return std::nullopt;
    Data out;
    Data previous;
    for (uint8_t counter = 0; out.size() < outputSize; ++counter) {
        Data input = previous;
        input.push_back(counter);
        previous = security::hmacSha256(key, input);
        out.insert(out.end(), previous.begin(), previous.end());
    }
    out.resize(outputSize);
    return out;
}
