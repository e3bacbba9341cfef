#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <thread>

#include "RurIdurev/RurIdurev/Internals/Util/encrypter.h"
#include "RurIdurev/RurIdurev/Internals/Util/keychain_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/dispatch/dispatch.h"
#include "platform/security/digest.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/support/bytes.h"

using foundation::Data;

namespace {

using hxtest::bytes;

Data concat(std::initializer_list<Data> parts) {
    Data out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

void storeKey(const std::string& tag, const Data& key) {
    ASSERT_TRUE(ZIVOKeychainUtil::storeString(zivo_platform::base64Encode(key), tag));
}

void setMetadata(const std::string& tag, double expiry) {
    ZIVORurIdurevUserDefaults::shared()->setObject(tag + "/" + ZIVOUtility::dateToISO8601({expiry}),
                                                   kZIVOEncryptionKeyMetadataKey);
}

Data fixedKey(uint8_t seed) {
    Data key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed + i * 7);
    return key;
}

}  // namespace

using Encrypter = TelemetryTest;

TEST_F(Encrypter, FirstUseMakesTheAlternateTagCurrentAndStoresItsKey) {
    const double now = dispatch::wallNow();
    ZIVOEncrypter encrypter;
    auto cipher = encrypter.encryptString("target-token-1");
    ASSERT_TRUE(cipher.has_value());
    EXPECT_EQ(cipher->find('\n'), std::string::npos);

    auto metadata = ZIVORurIdurevUserDefaults::shared()->objectForKey("EncryptionKeyMetadata").asString();
    ASSERT_EQ(metadata.rfind("kZVEncryptionKeyTagAlternate/", 0), 0u) << metadata;
    auto expiry = ZIVOUtility::dateFromISO8601(metadata.substr(metadata.find('/') + 1));
    ASSERT_TRUE(expiry.has_value());
    EXPECT_NEAR(expiry->secondsSince1970, now + 31536000, 5);

    security::OSStatus status = 1;
    auto storedKey = ZIVOKeychainUtil::stringForKey("kZVEncryptionKeyTagAlternate", &status);
    EXPECT_EQ(status, security::errSecSuccess);
    ASSERT_TRUE(storedKey.has_value());
    EXPECT_EQ(zivo_platform::base64Decode(*storedKey)->size(), 32u);
    EXPECT_EQ(ZIVOKeychainUtil::defaultServiceName(), zivo_platform::bundleIdentifier() + ".RurIdurev");

    EXPECT_EQ(encrypter.decryptString(*cipher), "target-token-1");
    // A new object (a new launch) reads the key back from the keychain.
    ZIVOEncrypter other;
    EXPECT_EQ(other.decryptString(*cipher), "target-token-1");
    // Two encryptions of one text differ (fresh vector each time).
    EXPECT_NE(encrypter.encryptString("target-token-1"), cipher);
}

TEST_F(Encrypter, TextFromTheOldTagStillDecryptsAfterRotation) {
    ZIVOEncrypter first;
    auto cipher = first.encryptString("kept across rotation");
    ASSERT_TRUE(cipher.has_value());
    // The year is over.
    setMetadata(kZIVOEncryptionKeyTagAlternate, dispatch::wallNow() - 1);
    EXPECT_EQ(ZIVOEncrypter::getCurrentKeyTag(), kZIVOEncryptionKeyTag);
    ZIVOEncrypter second;
    auto newer = second.encryptString("under the other key");
    ASSERT_TRUE(newer.has_value());
    EXPECT_EQ(zivo_platform::base64Decode(*newer)->at(0), 'k');
    EXPECT_EQ(second.decryptString(*cipher), "kept across rotation");
    EXPECT_EQ(second.decryptString(*newer), "under the other key");
    // And back again a year later: the first key of the alternate tag is reused, not replaced.
    setMetadata(kZIVOEncryptionKeyTag, dispatch::wallNow() - 1);
    EXPECT_EQ(ZIVOEncrypter::getCurrentKeyTag(), kZIVOEncryptionKeyTagAlternate);
    ZIVOEncrypter third;
    EXPECT_EQ(third.decryptString(*cipher), "kept across rotation");
    EXPECT_EQ(third.decryptString(*newer), "under the other key");
    // Metadata that makes no sense starts the first tag afresh.
    ZIVORurIdurevUserDefaults::shared()->setObject("garbage", kZIVOEncryptionKeyMetadataKey);
    EXPECT_EQ(ZIVOEncrypter::getCurrentKeyTag(), kZIVOEncryptionKeyTag);
}

TEST_F(Encrypter, OlderLayoutsDecrypt) {
    const Data key = fixedKey(3);
    storeKey(kZIVOEncryptionKeyTag, key);
    const Data iv(16, 0x5a);
    auto cipher = security::aes256CbcEncrypt(bytes("legacy text"), key, iv);
    ASSERT_TRUE(cipher.ok());
    ZIVOEncrypter encrypter;
    const Data legacy = concat({bytes("kZVEncryptionKeyTag/AES/CBC/PKCS7/32:"), iv, *cipher});
    EXPECT_EQ(encrypter.decryptData(legacy), bytes("legacy text"));

    // No metadata at all: the first tag's key and a zero vector. Try texts until the cipher
    // happens to hold no ":" byte (the layout cannot tell otherwise).
    for (int i = 0;; ++i) {
        ASSERT_LT(i, 100);
        const Data plain = bytes("bare " + std::to_string(i));
        auto bare = security::aes256CbcEncrypt(plain, key, Data(16, 0));
        ASSERT_TRUE(bare.ok());
        if (std::find(bare->begin(), bare->end(), ':') != bare->end()) continue;
        EXPECT_EQ(encrypter.decryptData(*bare), plain);
        break;
    }
}

TEST_F(Encrypter, WrongMacIsRefused) {
    LogCapture capture;
    ZIVOEncrypter encrypter;
    auto cipher = encrypter.encryptData(bytes("secret"));
    ASSERT_TRUE(cipher.has_value());
    const size_t macStart = std::string("kZVEncryptionKeyTagAlternate/AES/HmacSHA256/CBC/PKCS7/32:").size() + 16;
    Data tampered = *cipher;
    tampered[macStart] ^= 1;
    EXPECT_FALSE(encrypter.decryptData(tampered).has_value());
    EXPECT_TRUE(capture.contains("Could not authenticate MAC value."));
    // A flipped cipher byte is caught by the MAC too, before any padding check.
    tampered = *cipher;
    tampered.back() ^= 0x80;
    EXPECT_FALSE(encrypter.decryptData(tampered).has_value());
    EXPECT_EQ(encrypter.decryptData(*cipher), bytes("secret"));
}

TEST_F(Encrypter, InputShorterThanTheLayoutIsRefused) {
    ZIVOEncrypter encrypter;
    ASSERT_TRUE(encrypter.encryptData(bytes("make keys")).has_value());
    const Data current = bytes("kZVEncryptionKeyTagAlternate/AES/HmacSHA256/CBC/PKCS7/32:");
    const Data legacy = bytes("kZVEncryptionKeyTagAlternate/AES/CBC/PKCS7/32:");
    EXPECT_FALSE(encrypter.decryptData(concat({current, Data(47, 1)})).has_value());
    EXPECT_FALSE(encrypter.decryptData(concat({current, Data(48, 1)})).has_value());  // no cipher bytes
    EXPECT_FALSE(encrypter.decryptData(concat({legacy, Data(15, 1)})).has_value());
    EXPECT_FALSE(encrypter.decryptData(concat({legacy, Data(16, 1)})).has_value());
    EXPECT_FALSE(encrypter.decryptData(bytes(":")).has_value());
    EXPECT_FALSE(encrypter.decryptData(Data{}).has_value());
    EXPECT_FALSE(encrypter.decryptData(concat({bytes("unknownTag/AES:"), Data(64, 1)})).has_value());
    EXPECT_FALSE(encrypter.decryptString("not base64 at all!").has_value());
    // No key was made for a tag this SDK never wrote.
    EXPECT_FALSE(ZIVOKeychainUtil::stringForKey("unknownTag", nullptr).has_value());
}

TEST_F(Encrypter, NonUtf8PlainTextIsNotAString) {
    LogCapture capture;
    ZIVOEncrypter encrypter;
    auto cipher = encrypter.encryptData(Data{0xff, 0xfe});
    ASSERT_TRUE(cipher.has_value());
    EXPECT_FALSE(encrypter.decryptString(zivo_platform::base64Encode(*cipher)).has_value());
    EXPECT_TRUE(capture.contains("Converting decrypted NSData to NSString failed."));
}

TEST_F(Encrypter, StopsWhenTheRandomSourceFails) {
    LogCapture capture;
    security::setRandomSourceForTesting([](uint8_t*, size_t) { return -9; });
    ZIVOEncrypter encrypter;
    EXPECT_FALSE(encrypter.encryptString("x").has_value());
    EXPECT_TRUE(capture.contains("Error generating encryption key. Error code: -9"));
    // No key that is not random was stored.
    EXPECT_FALSE(ZIVOKeychainUtil::stringForKey(kZIVOEncryptionKeyTagAlternate, nullptr).has_value());

    // With a key in place, a failing source still stops the encryption (no fixed vector).
    security::setRandomSourceForTesting(nullptr);
    ASSERT_TRUE(encrypter.encryptString("y").has_value());
    security::setRandomSourceForTesting([](uint8_t*, size_t) { return -7; });
    EXPECT_FALSE(encrypter.encryptString("z").has_value());
    EXPECT_TRUE(capture.contains("Error generating initialization vector. Error code: -7"));
}

TEST_F(Encrypter, ConcurrentFirstUseMakesOneKey) {
    constexpr int kThreads = 8;
    std::vector<std::optional<std::string>> ciphers(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ZIVOEncrypter own;
            ciphers[t] = own.encryptString("text " + std::to_string(t));
        });
    for (auto& th : threads) th.join();
    ZIVOEncrypter reader;
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_TRUE(ciphers[t].has_value());
        EXPECT_EQ(reader.decryptString(*ciphers[t]), "text " + std::to_string(t));
    }
}

TEST_F(Encrypter, SubkeysFollowTheCounterExpansion) {
    const Data key = fixedKey(9);
    auto t1 = security::hmacSha256(key, Data{0});
    auto sub32 = ZIVOEncrypter::getSubkey(key, 32);
    auto sub16 = ZIVOEncrypter::getSubkey(key, 16);
    auto sub64 = ZIVOEncrypter::getSubkey(key, 64);
    EXPECT_EQ(sub32, t1);
    EXPECT_EQ(sub16, Data(t1.begin(), t1.begin() + 16));
    Data t2input = t1;
    t2input.push_back(1);
    EXPECT_EQ(sub64, concat({t1, security::hmacSha256(key, t2input)}));
    EXPECT_FALSE(ZIVOEncrypter::getSubkey(key, 0).has_value());
}

// The byte layout, rebuilt with the openssl command from the same key and vector.
TEST_F(Encrypter, LayoutMatchesTheOpensslCommand) {
    if (!hxtest::haveProgram("openssl")) GTEST_SKIP() << "openssl missing";
    const Data key = fixedKey(42);
    Data iv(16);
    for (size_t i = 0; i < iv.size(); ++i) iv[i] = static_cast<uint8_t>(0xA0 + i);
    storeKey(kZIVOEncryptionKeyTagAlternate, key);
    setMetadata(kZIVOEncryptionKeyTagAlternate, dispatch::wallNow() + 1000);
    security::setRandomSourceForTesting([iv](uint8_t* out, size_t count) {
        std::copy_n(iv.begin(), std::min(count, iv.size()), out);
        return 0;
    });
    ZIVOEncrypter encrypter;
    const std::string plain = "token-with/slashes and more than one block of text";
    auto out = encrypter.encryptData(bytes(plain));
    ASSERT_TRUE(out.has_value());

    auto file = [&](const std::string& name, const Data& data) {
        std::ofstream f(dir / name, std::ios::binary);
        f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return (dir / name).string();
    };
    auto hmacHex = [&](const Data& macKey, const std::string& path) {
        std::string output;
        EXPECT_EQ(hxtest::runCommand("openssl dgst -sha256 -mac HMAC -macopt hexkey:" + security::hexString(macKey) +
                                         " -r '" + path + "'",
                                     &output),
                  0);
        return output.substr(0, 64);
    };
    const std::string subkeyHex = hmacHex(key, file("zero.bin", Data{0}));
    const Data subkey = *security::dataFromHex(subkeyHex);
    ASSERT_EQ(hxtest::runCommand("openssl enc -aes-256-cbc -K " + subkeyHex + " -iv " + security::hexString(iv) +
                                 " -in '" + file("plain.bin", bytes(plain)) + "' -out '" + (dir / "c.bin").string() +
                                 "'"),
              0);
    std::ifstream in(dir / "c.bin", std::ios::binary);
    const Data cipher((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Data mac =
        *security::dataFromHex(hmacHex(Data(subkey.begin(), subkey.begin() + 16), (dir / "c.bin").string()));

    const Data expected = concat({bytes("kZVEncryptionKeyTagAlternate/AES/HmacSHA256/CBC/PKCS7/32:"), iv, mac, cipher});
    EXPECT_EQ(security::hexString(*out), security::hexString(expected));
    security::setRandomSourceForTesting(nullptr);
    EXPECT_EQ(encrypter.decryptData(*out), bytes(plain));
}

using KeychainUtil = TelemetryTest;

TEST_F(KeychainUtil, StoreReplacesReadAndDelete) {
    LogCapture capture;
    EXPECT_TRUE(ZIVOKeychainUtil::storeString("one", "k"));
    EXPECT_TRUE(ZIVOKeychainUtil::storeString("two", "k"));
    security::OSStatus status = 1;
    EXPECT_EQ(ZIVOKeychainUtil::stringForKey("k", &status), "two");
    EXPECT_EQ(status, security::errSecSuccess);
    EXPECT_EQ(ZIVOKeychainUtil::deleteStringForKey("k"), "two");
    EXPECT_EQ(ZIVOKeychainUtil::stringForKey("k", &status), std::nullopt);
    EXPECT_EQ(status, security::errSecItemNotFound);
    EXPECT_EQ(ZIVOKeychainUtil::deleteStringForKey("k"), std::nullopt);

    // Other services are separate.
    EXPECT_TRUE(ZIVOKeychainUtil::storeString("x", "k", "other.service"));
    EXPECT_EQ(ZIVOKeychainUtil::stringForKey("k", &status), std::nullopt);
    EXPECT_EQ(ZIVOKeychainUtil::deleteStringForKey("k", "other.service"), "x");

    EXPECT_TRUE(ZIVOKeychainUtil::storeString("a", "k1"));
    EXPECT_TRUE(ZIVOKeychainUtil::storeString("b", "k2"));
    EXPECT_TRUE(ZIVOKeychainUtil::clear());
    EXPECT_EQ(ZIVOKeychainUtil::stringForKey("k1", nullptr), std::nullopt);

    const std::string service = ZIVOKeychainUtil::defaultServiceName();
    EXPECT_TRUE(capture.contains("Stored a string with key='k', service='" + service + "' to keychain."));
    EXPECT_TRUE(capture.contains("Failed to retrieve item with key='k', service='" + service +
                                 "' from keychain. OS Status code -25300"));
    // Secrets never reach a log line.
    for (const auto& line : capture.lines()) EXPECT_EQ(line.message.find("two"), std::string::npos) << line.message;
}

TEST_F(KeychainUtil, AKeyKeptByABuildWithoutBundleIdentifierMovesToThisServiceAndStillDecrypts) {
    ASSERT_NE(ZIVOKeychainUtil::defaultServiceName(), ".RurIdurev");
    // What such a build encrypted, under its key kept as ".RurIdurev".
    std::string encrypted;
    {
        ZIVOEncrypter earlier;
        auto out = earlier.encryptString("kept text");
        ASSERT_TRUE(out.has_value());
        encrypted = *out;
    }
    auto key = ZIVOKeychainUtil::deleteStringForKey(kZIVOEncryptionKeyTagAlternate);
    ASSERT_TRUE(key.has_value());
    ASSERT_TRUE(ZIVOKeychainUtil::storeString(*key, kZIVOEncryptionKeyTagAlternate, ".RurIdurev"));

    ZIVOEncrypter encrypter;
    EXPECT_EQ(encrypter.decryptString(encrypted), "kept text");
    security::OSStatus status = 1;
    EXPECT_EQ(ZIVOKeychainUtil::stringForKey(kZIVOEncryptionKeyTagAlternate, &status), key);
    EXPECT_EQ(status, security::errSecSuccess);
    EXPECT_EQ(ZIVOKeychainUtil::stringForKey(kZIVOEncryptionKeyTagAlternate, ".RurIdurev", nullptr), std::nullopt);
}

TEST_F(KeychainUtil, LockedKeychainFailsWithItsStatus) {
    auto kc = security::Keychain::defaultKeychain();
    kc->setInteractionNotAllowed(true);
    security::OSStatus status = 0;
    EXPECT_FALSE(ZIVOKeychainUtil::storeString("v", "k"));
    EXPECT_EQ(ZIVOKeychainUtil::stringForKey("k", &status), std::nullopt);
    EXPECT_EQ(status, security::errSecInteractionNotAllowed);
    ZIVOEncrypter encrypter;
    EXPECT_FALSE(encrypter.encryptString("x").has_value());
    kc->setInteractionNotAllowed(false);
}
