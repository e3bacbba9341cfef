#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/foundation/byte_reader.h"

namespace {

using foundation::ByteReader;

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(ByteReader, ReadsLittleEndianValuesVarintsAndText) {
    const auto data = bytes({0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xAC, 0x02, 'h', 'i', 0, 'x'});
    ByteReader r(data);
    EXPECT_EQ(r.u8(), 0x01);
    EXPECT_EQ(r.u16le(), 0x1234);
    EXPECT_EQ(r.u32le(), 0x12345678u);
    EXPECT_EQ(r.varint(), 300u);
    EXPECT_EQ(r.cstring(), "hi");
    EXPECT_EQ(r.position(), 12u);
    EXPECT_EQ(r.cstring(), "x") << "a string cut by the end is returned as far as it goes";
    EXPECT_TRUE(r.atEnd());
    EXPECT_TRUE(r.ok());
}

TEST(ByteReader, TheFirstFailureStaysAndLaterReadsAnswerZero) {
    const auto data = bytes({1, 2, 3});
    ByteReader r(data);
    EXPECT_EQ(r.u16le("first"), 0x0201);
    EXPECT_EQ(r.u32le("count"), 0u);
    EXPECT_FALSE(r.ok());
    EXPECT_STREQ(r.fault().field, "count");
    EXPECT_EQ(r.fault().offset, 2u);
    // Even a read that would fit now answers 0 and the first reason stays.
    EXPECT_EQ(r.u8("tail"), 0);
    EXPECT_STREQ(r.fault().field, "count");
    EXPECT_EQ(r.position(), 2u) << "a failed read does not move";
}

TEST(ByteReader, BoundsOfEveryKindOfRead) {
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        void (*read)(ByteReader&);
        size_t offset;
    };
    const std::vector<Case> cases = {
        {"u64 of 7 bytes", bytes({1, 2, 3, 4, 5, 6, 7}), [](ByteReader& r) { r.u64le("x"); }, 0},
        {"varint without an end", bytes({0x80, 0x80}), [](ByteReader& r) { r.varint("x"); }, 0},
        {"varint of 11 bytes", std::vector<uint8_t>(11, 0x80), [](ByteReader& r) { r.varint("x"); }, 0},
        {"bytes past the end", bytes({9, 9}), [](ByteReader& r) { (void)r.bytes(3, "x"); }, 0},
        {"skip past the end", bytes({9}), [](ByteReader& r) { r.skip(2, "x"); }, 0},
        {"seek past the end", bytes({9}), [](ByteReader& r) { r.seek(2, "x"); }, 2},
        {"magic differs", bytes({'a', 'b'}), [](ByteReader& r) { r.expect("ac", "x"); }, 0},
        {"magic cut short", bytes({'a'}), [](ByteReader& r) { r.expect("ab", "x"); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ByteReader r(c.data);
        c.read(r);
        EXPECT_FALSE(r.ok());
        EXPECT_STREQ(r.fault().field, "x");
        EXPECT_EQ(r.fault().offset, c.offset);
    }
}

}  // namespace
