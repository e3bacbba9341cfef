#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

#include <gtest/gtest.h>
#include <unordered_set>

using namespace foundation;

TEST(Value, BoolIsNeverANumber) {
    EXPECT_TRUE(Value(true).isBool());
    EXPECT_FALSE(Value(true).isNumber());
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value(false), Value(0));
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_NE(Value(1), Value(1.5));
    EXPECT_EQ(Value(1).hash(), Value(1.0).hash());
}

TEST(Value, Int64KeptExactly) {
    const int64_t big = 9007199254740993LL;  // not representable as a double
    Value v(big);
    EXPECT_EQ(v.int64Value(), big);
    EXPECT_NE(v, Value(static_cast<double>(big)));
    EXPECT_EQ(Value(static_cast<int64_t>(0x1'0000'0005)).int32Value(), 5);
    EXPECT_EQ(Value(static_cast<int64_t>(0xFFFF'FFFF)).int32Value(), -1);
}

TEST(Value, Conversions) {
    EXPECT_EQ(Value("  42abc").int64Value(), 42);
    EXPECT_EQ(Value("-7").int64Value(), -7);
    EXPECT_EQ(Value("abc").int64Value(99), 99);
    EXPECT_EQ(Value(1e300).int64Value(), INT64_MAX);
    EXPECT_EQ(Value(-2.9).int64Value(), -2);
    EXPECT_TRUE(Value("YES").boolValue());
    EXPECT_TRUE(Value("true").boolValue());
    EXPECT_TRUE(Value("007").boolValue());
    EXPECT_FALSE(Value("000").boolValue());
    EXPECT_FALSE(Value("no").boolValue());
    EXPECT_EQ(Value(2.5).stringValue(), "2.5");
    EXPECT_EQ(Value(0.1).stringValue(), "0.1");
    EXPECT_EQ(Value(3.0).stringValue(), "3");
    EXPECT_EQ(Value(Array{}).stringValue("x"), "x");
}

TEST(Dictionary, InsertionOrderAndLookupAcrossIndexThreshold) {
    Dictionary d;
    for (int i = 0; i < 40; ++i) d.set("k" + std::to_string(39 - i), i);
    d.set(7, "number key");
    ASSERT_EQ(d.size(), 41u);
    EXPECT_EQ(d.begin()->first.string(), "k39");
    EXPECT_EQ(d.get("k0").int64Value(), 39);
    EXPECT_EQ(d.get(7).asString(), "number key");
    EXPECT_TRUE(d.get("7").isNull());  // a string key never matches a number key
    d.set("k39", "replaced");
    EXPECT_EQ(d.begin()->second.asString(), "replaced");
    for (int i = 0; i < 35; ++i) EXPECT_TRUE(d.remove("k" + std::to_string(i)));
    EXPECT_FALSE(d.remove("k0"));
    EXPECT_EQ(d.size(), 6u);
    EXPECT_EQ(d.get("k36").int64Value(), 3);
    Dictionary copy = d;
    copy.set("new", true);
    EXPECT_FALSE(d.contains("new"));
}

TEST(Value, NestedEqualityHashAndDescription) {
    Value a = Dictionary{{"list", Array{1, "two", Data{0xab}}}, {"flag", true}};
    Value b = Dictionary{{"flag", true}, {"list", Array{1.0, "two", Data{0xab}}}};
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hash(), b.hash());
    std::unordered_set<Value> set{a};
    EXPECT_TRUE(set.count(b));
    EXPECT_EQ(a["list"].at(1).asString(), "two");
    EXPECT_TRUE(a["missing"]["deeper"].isNull());
    EXPECT_TRUE(a["list"].at(9).isNull());
    EXPECT_EQ(a.description(), "{\"list\": [1, \"two\", <ab>], \"flag\": true}");
}

TEST(Result, CarriesValueOrError) {
    Result<int> good(5);
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, 5);
    Result<int> bad(Error::withDescription("HXTest", 3, "went wrong"));
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().code, 3);
    EXPECT_EQ(bad.error().localizedDescription(), "went wrong");
    EXPECT_EQ(bad.valueOr(9), 9);
    EXPECT_EQ(Error("D", 4).localizedDescription(), "The operation couldn't be completed. (D error 4.)");
}
