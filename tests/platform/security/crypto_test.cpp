#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "platform/security/cipher.h"
#include "platform/security/digest.h"
#include "platform/security/random.h"
#include "tests/support/test_support.h"

using namespace security;

namespace {

Data hex(std::string_view text) {
    auto bytes = dataFromHex(text);
    EXPECT_TRUE(bytes.has_value()) << text;
    return bytes.value_or(Data{});
}

void writeFile(const std::filesystem::path& path, const Data& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Data readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Data someBytes(size_t count, uint32_t seed) {
    Data out(count);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

}  // namespace

// Vectors from the digest standards (FIPS 180 examples, RFC 1321).
TEST(Digest, KnownAnswers) {
    struct Case {
        DigestAlgorithm algorithm;
        std::string input;
        std::string expected;
    } cases[] = {
        {DigestAlgorithm::MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {DigestAlgorithm::MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {DigestAlgorithm::MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {DigestAlgorithm::SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {DigestAlgorithm::SHA1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {DigestAlgorithm::SHA224, "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
        {DigestAlgorithm::SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {DigestAlgorithm::SHA256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {DigestAlgorithm::SHA384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {DigestAlgorithm::SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(digestHex(c.algorithm, c.input), c.expected) << c.input;
        EXPECT_EQ(digest(c.algorithm, c.input), hex(c.expected)) << c.input;
        EXPECT_EQ(digest(c.algorithm, c.input).size(), digestLength(c.algorithm));
    }
}

TEST(Digest, IncrementalMatchesOneShotOverAMillionAs) {
    DigestContext ctx(DigestAlgorithm::SHA256);
    const std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) ctx.update(chunk);
    EXPECT_EQ(hexString(ctx.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // The context starts over after finishing.
    ctx.update("abc");
    EXPECT_EQ(hexString(ctx.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Digest, MatchesCoreutils) {
    if (!hxtest::haveProgram("md5sum") || !hxtest::haveProgram("sha256sum")) GTEST_SKIP() << "coreutils missing";
    hxtest::TempDir dir;
    for (size_t size : {0u, 1u, 63u, 64u, 65u, 4097u}) {
        const Data bytes = someBytes(size, static_cast<uint32_t>(size) + 7);
        const auto file = dir / ("in" + std::to_string(size));
        writeFile(file, bytes);
        for (auto [tool, algorithm] :
             {std::pair{"md5sum", DigestAlgorithm::MD5}, std::pair{"sha1sum", DigestAlgorithm::SHA1},
              std::pair{"sha224sum", DigestAlgorithm::SHA224}, std::pair{"sha256sum", DigestAlgorithm::SHA256},
              std::pair{"sha384sum", DigestAlgorithm::SHA384}, std::pair{"sha512sum", DigestAlgorithm::SHA512}}) {
            std::string out;
            ASSERT_EQ(hxtest::runCommand(std::string(tool) + " '" + file.string() + "'", &out), 0);
            EXPECT_EQ(out.substr(0, out.find(' ')), digestHex(algorithm, bytes)) << tool << " size " << size;
        }
    }
}

// RFC 4231 test cases 1, 2 and 6 (key longer than a block).
TEST(Hmac, Sha256KnownAnswers) {
    EXPECT_EQ(hexString(hmacSha256(Data(20, 0x0b), bytesOf("Hi There"))),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(hexString(hmacSha256(bytesOf("Jefe"), bytesOf("what do ya want for nothing?"))),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(hexString(hmacSha256(Data(131, 0xaa), bytesOf("Test Using Larger Than Block-Size Key - Hash Key First"))),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    // An empty key and empty input are valid (the key is zero-padded to a block).
    EXPECT_EQ(hexString(hmacSha256({}, {})), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST(Hex, RoundTripAndRejects) {
    EXPECT_EQ(hexString(hex("00ff10AB")), "00ff10ab");
    EXPECT_FALSE(dataFromHex("abc").has_value());
    EXPECT_FALSE(dataFromHex("zz").has_value());
    EXPECT_EQ(dataFromHex("")->size(), 0u);
}

// SP 800-38A F.2.5 (CBC-AES256.Encrypt); the padding adds one whole block after the four.
TEST(Aes, Cbc256KnownAnswerWithPadding) {
    const Data key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const Data iv = hex("000102030405060708090a0b0c0d0e0f");
    const Data plain = hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    auto cipher = aes256CbcEncrypt(plain, key, iv);
    ASSERT_TRUE(cipher.ok());
    ASSERT_EQ(cipher->size(), 80u);
    EXPECT_EQ(hexString(std::span(cipher->data(), 64)),
              "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
              "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
    auto back = aes256CbcDecrypt(*cipher, key, iv);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, plain);
}

TEST(Aes, DecryptionFailuresAreErrors) {
    const Data key(32, 0x11), iv(16, 0x22);
    auto cipher = aes256CbcEncrypt(bytesOf("attack at dawn"), key, iv);
    ASSERT_TRUE(cipher.ok());
    EXPECT_EQ(cipher->size(), 16u);

    // Wrong key: the padding no longer checks (overwhelmingly likely; this key pair is fixed).
    auto wrong = aes256CbcDecrypt(*cipher, Data(32, 0x12), iv);
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error().domain, kCryptoErrorDomain);
    EXPECT_EQ(wrong.error().code, static_cast<int64_t>(CryptoErrorCode::DecryptionFailed));

    // Not a whole number of blocks, and nothing at all.
    Data cut(cipher->begin(), cipher->end() - 1);
    EXPECT_EQ(aes256CbcDecrypt(cut, key, iv).error().code, static_cast<int64_t>(CryptoErrorCode::DecryptionFailed));
    EXPECT_EQ(aes256CbcDecrypt({}, key, iv).error().code, static_cast<int64_t>(CryptoErrorCode::DecryptionFailed));

    // Bad parameter sizes.
    EXPECT_EQ(aes256CbcEncrypt(bytesOf("x"), Data(16, 0), iv).error().code,
              static_cast<int64_t>(CryptoErrorCode::InvalidParameter));
    EXPECT_EQ(aes256CbcEncrypt(bytesOf("x"), key, Data(8, 0)).error().code,
              static_cast<int64_t>(CryptoErrorCode::InvalidParameter));

    // Empty plain text encrypts to one block of padding and back to nothing.
    auto empty = aes256CbcEncrypt({}, key, iv);
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty->size(), 16u);
    EXPECT_TRUE(aes256CbcDecrypt(*empty, key, iv)->empty());
}

TEST(Aes, OutputDecryptsWithOpensslCommand) {
    if (!hxtest::haveProgram("openssl")) GTEST_SKIP() << "openssl missing";
    hxtest::TempDir dir;
    const Data key = someBytes(32, 1), iv = someBytes(16, 2);
    for (size_t size : {0u, 5u, 16u, 31u, 1000u}) {
        const Data plain = someBytes(size, static_cast<uint32_t>(size) + 3);
        auto cipher = aes256CbcEncrypt(plain, key, iv);
        ASSERT_TRUE(cipher.ok());
        writeFile(dir / "c.bin", *cipher);
        const std::string command = "openssl enc -d -aes-256-cbc -K " + hexString(key) + " -iv " + hexString(iv) +
                                    " -in '" + (dir / "c.bin").string() + "' -out '" + (dir / "p.bin").string() + "'";
        ASSERT_EQ(hxtest::runCommand(command), 0) << command;
        EXPECT_EQ(readFile(dir / "p.bin"), plain) << "size " << size;

        // And the other way: what the command encrypts, this layer decrypts.
        writeFile(dir / "p2.bin", plain);
        ASSERT_EQ(hxtest::runCommand("openssl enc -aes-256-cbc -K " + hexString(key) + " -iv " + hexString(iv) +
                                     " -in '" + (dir / "p2.bin").string() + "' -out '" + (dir / "c2.bin").string() +
                                     "'"),
                  0);
        auto back = aes256CbcDecrypt(readFile(dir / "c2.bin"), key, iv);
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(*back, plain);
    }
}

TEST(ConstantTime, Equality) {
    EXPECT_TRUE(constantTimeEquals(hex("0102"), hex("0102")));
    EXPECT_FALSE(constantTimeEquals(hex("0102"), hex("0103")));
    EXPECT_FALSE(constantTimeEquals(hex("0102"), hex("010203")));
    EXPECT_TRUE(constantTimeEquals({}, {}));
}

TEST(Random, BytesDifferAndFailureIsReported) {
    std::set<Data> seen;
    for (int i = 0; i < 8; ++i) {
        Data bytes(32);
        ASSERT_EQ(randomBytes(bytes.data(), bytes.size()), kRandomSuccess);
        seen.insert(bytes);
    }
    EXPECT_EQ(seen.size(), 8u);

    setRandomSourceForTesting([](uint8_t* out, size_t count) {
        // A source that fails half-way must not leave partial randomness behind.
        for (size_t i = 0; i < count / 2; ++i) out[i] = 0xAB;
        return -42;
    });
    Data bytes(16, 0x55);
    EXPECT_EQ(randomBytes(bytes.data(), bytes.size()), -42);
    EXPECT_EQ(bytes, Data(16, 0));
    setRandomSourceForTesting(nullptr);
    EXPECT_EQ(randomBytes(bytes.data(), bytes.size()), kRandomSuccess);
    EXPECT_EQ(randomBytes(nullptr, 4), kRandomFailure);
}
