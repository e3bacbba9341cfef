#include "platform/foundation/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "tests/support/test_support.h"

using namespace foundation;

namespace {

Value parsed(std::string_view text) {
    auto r = parseJSON(text);
    EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().description());
    return r.ok() ? r.value() : Value();
}

int64_t errorOffset(std::string_view text) {
    auto r = parseJSON(text);
    if (r.ok()) {
        ADD_FAILURE() << "accepted: " << text;
        return -1;
    }
    EXPECT_EQ(r.error().domain, "NSCocoaErrorDomain");
    EXPECT_EQ(r.error().code, 3840);
    return r.error().userInfo.get("NSJSONSerializationErrorIndex").int64Value(-1);
}

std::string written(const Value& v, JSONWriteOptions options = {}) {
    auto r = toJSON(v, options);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().description());
    return r.ok() ? r.value() : std::string();
}

// A compact type signature of a parsed document, computed the same way in python below.
std::string shape(const Value& v) {
    switch (v.type()) {
        case Value::Type::Null:
            return "n";
        case Value::Type::Bool:
            return *v.ifBool() ? "T" : "F";
        case Value::Type::Int:
            return "i" + std::to_string(*v.ifInt());
        case Value::Type::Double:
            return "d";
        case Value::Type::String:
            return "s" + std::to_string(v.asString().size());
        case Value::Type::Array: {
            std::string out = "[";
            for (const auto& item : v.asArray()) out += shape(item) + ",";
            return out + "]";
        }
        case Value::Type::Dictionary: {
            std::vector<std::string> parts;
            for (const auto& [k, item] : v.asDictionary()) parts.push_back(k.string() + ":" + shape(item));
            std::sort(parts.begin(), parts.end());
            std::string out = "{";
            for (const auto& p : parts) out += p + ",";
            return out + "}";
        }
        default:
            return "?";
    }
}

}  // namespace

TEST(JSON, NumbersKeepIntegersExactly) {
    EXPECT_EQ(*parsed("9223372036854775807").ifInt(), INT64_MAX);
    EXPECT_EQ(*parsed("-9223372036854775808").ifInt(), INT64_MIN);
    EXPECT_EQ(*parsed("9007199254740993").ifInt(), 9007199254740993LL);
    EXPECT_EQ(*parsed("-0").ifInt(), 0);
    // Beyond 64 bits, and anything with a fraction or exponent, is a double.
    ASSERT_TRUE(parsed("9223372036854775808").isDouble());
    EXPECT_EQ(*parsed("9223372036854775808").ifDouble(), 9223372036854775808.0);
    ASSERT_TRUE(parsed("1.0").isDouble());
    EXPECT_EQ(*parsed("1e2").ifDouble(), 100.0);
    EXPECT_EQ(*parsed("-2.5E-3").ifDouble(), -0.0025);
    EXPECT_EQ(*parsed("123456789012345678901234567890").ifDouble(), 1.2345678901234568e29);
    EXPECT_EQ(*parsed("1e-400").ifDouble(), 0.0);
    EXPECT_GE(errorOffset("1e400"), 0);
}

TEST(JSON, StringsEscapesAndUnicode) {
    EXPECT_EQ(parsed(R"("a\"b\\c\/d\b\f\n\r\t")").asString(), "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(parsed(R"("\u00e9\u4e2d")").asString(), "\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(parsed(R"("\ud83d\ude00")").asString(), "\xF0\x9F\x98\x80");
    EXPECT_EQ(parsed(R"("x\u0000y")").asString(), std::string("x\0y", 3));
    EXPECT_EQ(parsed("\"caf\xC3\xA9 \xF0\x9F\x98\x80\"").asString(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    // Lone surrogates, malformed escapes and malformed UTF-8 are refused.
    EXPECT_EQ(errorOffset(R"(["\ud83d"])"), 2);
    EXPECT_EQ(errorOffset(R"(["\ude00"])"), 2);
    EXPECT_EQ(errorOffset(R"(["\ud83d\u0041"])"), 2);
    EXPECT_EQ(errorOffset(R"("\u12G4")"), 3);
    EXPECT_EQ(errorOffset(R"("\x")"), 1);
    EXPECT_EQ(errorOffset("\"a\xC0\x80\""), 2);          // overlong NUL
    EXPECT_EQ(errorOffset("\"a\xED\xA0\x80\""), 2);      // encoded surrogate
    EXPECT_EQ(errorOffset("\"a\xF4\x90\x80\x80\""), 2);  // above U+10FFFF
    EXPECT_EQ(errorOffset("\"a\xE4\xB8\""), 2);          // cut sequence
    EXPECT_EQ(errorOffset("\"a\xFF\""), 2);
    EXPECT_EQ(errorOffset("\"tab\there\""), 4);
}

TEST(JSON, MalformedDocumentsReportTheOffset) {
    EXPECT_EQ(errorOffset(""), 0);
    EXPECT_EQ(errorOffset("   "), 3);
    EXPECT_EQ(errorOffset("[1,]"), 3);
    EXPECT_EQ(errorOffset("[1 2]"), 3);
    EXPECT_EQ(errorOffset("{\"a\" 1}"), 5);
    EXPECT_EQ(errorOffset("{\"a\":}"), 5);
    EXPECT_EQ(errorOffset("{a:1}"), 1);
    EXPECT_EQ(errorOffset("{\"a\":1,}"), 7);
    EXPECT_EQ(errorOffset("01"), 0);
    EXPECT_EQ(errorOffset("1."), 0);
    EXPECT_EQ(errorOffset("-"), 0);
    EXPECT_EQ(errorOffset(".5"), 0);
    EXPECT_EQ(errorOffset("tru"), 0);
    EXPECT_EQ(errorOffset("nul"), 0);
    EXPECT_EQ(errorOffset("1 2"), 2);
    EXPECT_EQ(errorOffset("[\"abc"), 1);
    EXPECT_EQ(errorOffset("{\"a\":[1,{\"b\":2]}"), 14);
    EXPECT_EQ(errorOffset("NaN"), 0);
    // Whitespace and a byte order mark around a top-level scalar are fine.
    EXPECT_EQ(*parsed("\xEF\xBB\xBF \t\r\n 42 \n").ifInt(), 42);
}

TEST(JSON, NestingIsLimitedWithoutExhaustingTheStack) {
    std::string ok = std::string(512, '[') + std::string(512, ']');
    EXPECT_TRUE(parseJSON(ok).ok());
    std::string deep = std::string(513, '[') + std::string(513, ']');
    EXPECT_EQ(errorOffset(deep), 512);
    std::string hostile(1 << 20, '[');
    EXPECT_GE(errorOffset(hostile), 0);
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_GE(errorOffset(objects), 0);
}

TEST(JSON, ObjectsKeepOrderAndTheLastDuplicate) {
    Value v = parsed(R"({"z":1,"a":{"k":[true,false,null]},"z":3})");
    ASSERT_TRUE(v.isDictionary());
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v.asDictionary().begin()->first.string(), "z");
    EXPECT_EQ(v["z"].int64Value(), 3);
    EXPECT_EQ(v["a"]["k"].at(0), Value(true));
    EXPECT_TRUE(v["a"]["k"].at(2).isNull());
    EXPECT_EQ(v["a"]["k"].size(), 3u);
}

TEST(JSON, WritesCompactAndPretty) {
    Value v = Dictionary{{"url", "http://h/voice/"},
                         {"list", Array{1, 2.5, "t\"\n\x01", true, Value()}},
                         {"empty", Array{}},
                         {"obj", Dictionary{}}};
    EXPECT_EQ(written(v), R"({"url":"http://h/voice/","list":[1,2.5,"t\"\n\u0001",true,null],"empty":[],"obj":{}})");
    EXPECT_EQ(written(v, {.pretty = true}),
              "{\n  \"url\": \"http://h/voice/\",\n  \"list\": [\n    1,\n    2.5,\n    \"t\\\"\\n\\u0001\",\n"
              "    true,\n    null\n  ],\n  \"empty\": [],\n  \"obj\": {}\n}");
    EXPECT_EQ(written(Dictionary{{"b", 1}, {"a", 2}, {"C", 3}}, {.sortedKeys = true}), R"({"C":3,"a":2,"b":1})");
    EXPECT_EQ(written(Value(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(written(Value(0.1)), "0.1");
    EXPECT_EQ(written(Value(1e300)), "1e+300");
    EXPECT_EQ(written(Value("\xC3\xA9")), "\"\xC3\xA9\"");
}

TEST(JSON, WritingNonJSONValuesFails) {
    for (const Value& bad :
         {Value(Data{1}), Value(Date{5}), Value(std::nan("")), Value(std::numeric_limits<double>::infinity()),
          Value(Dictionary{{7, "number key"}}), Value(Array{Value("\xFF")})}) {
        auto r = toJSON(Array{1, bad});
        ASSERT_FALSE(r.ok()) << bad.description();
        EXPECT_EQ(r.error().code, 3840);
    }
}

TEST(JSON, RoundTripsThroughText) {
    Value v = Dictionary{{"id", INT64_MAX},
                         {"neg", -42},
                         {"pi", 3.141592653589793},
                         {"tiny", 5e-324},
                         {"text", std::string("nul\0mid \xF0\x9F\x98\x80 \\ / \"", 18)},
                         {"nested", Array{Array{Array{}}, Dictionary{{"x", Value()}}}}};
    for (bool pretty : {false, true}) {
        Value back = parsed(written(v, {.pretty = pretty}));
        EXPECT_EQ(back, v);
        EXPECT_TRUE(back["id"].isInt());
        EXPECT_TRUE(back["pi"].isDouble());
    }
}

TEST(JSON, AgreesWithPythonOnShapesAndValues) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    const std::string doc =
        R"({"response":{"conversation":[{"id":"t1","read":true,"spam":false,"count":12,"cost":0.25,)"
        R"("big":-9223372036854775808,"exp":1E+2,"text":"caf\u00e9 \ud83d\ude00 a\/b","none":null,)"
        R"("children":[[],{},[1,[2,[3]]]]}],"paginationToken":"abc","ratio":-0.0}})";
    hxtest::TempDir dir;
    { std::ofstream(dir / "in.json") << doc; }
    Value ours = parsed(doc);
    { std::ofstream(dir / "ours.json") << written(ours, {.pretty = true}); }
    const std::string script = "import json,sys\n"
                               "def shape(v):\n"
                               "  if v is None: return 'n'\n"
                               "  if v is True: return 'T'\n"
                               "  if v is False: return 'F'\n"
                               "  if isinstance(v,int): return 'i%d'%v\n"
                               "  if isinstance(v,float): return 'd'\n"
                               "  if isinstance(v,str): return 's%d'%len(v.encode())\n"
                               "  if isinstance(v,list): return '['+''.join(shape(x)+',' for x in v)+']'\n"
                               "  return '{'+''.join(p+',' for p in sorted(k+':'+shape(x) for k,x in v.items()))+'}'\n"
                               "a=json.load(open(sys.argv[1],encoding='utf-8'))\n"
                               "b=json.load(open(sys.argv[2],encoding='utf-8'))\n"
                               "assert a==b, 'values differ'\n"
                               "print(shape(a))\n";
    { std::ofstream(dir / "check.py") << script; }
    std::string out;
    int rc = hxtest::runCommand("/usr/bin/python3 " + (dir / "check.py").string() + " " + (dir / "in.json").string() +
                                    " " + (dir / "ours.json").string(),
                                &out);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(out, shape(ours) + "\n");
}

// A streamed member reads as the same document parsed whole: its elements, in order, are those of
// the member's last array, the result holds the member as an empty array, and errors come at the
// same offsets. Only an array under a top-level object's member is streamed.
TEST(JSON, AStreamedArrayReadsAsTheWholeDocument) {
    const char* documents[] = {
        R"({"a":1,"t":[1,{"x":[2,{"t":[3]}]},"s",[]],"b":null})",
        R"({"t":[]})",
        R"({"t":[1,2],"x":0,"t":[3]})",
        R"({"t":[1,2],"t":[]})",
        R"({"t":[1],"t":{"x":1}})",
        R"({"t":{"x":1},"t":[4]})",
        R"({"x":{"t":[1]}})",
        R"([{"t":[1]}])",
        R"("t")",
        R"( { "t" : [ 1 , 2 ] } )",
        R"({"t":[1,2,)",
        R"({"t":[1 2]})",
        R"({"t":[1,{"x":}]})",
        R"({"t":[1],"u":)",
        R"({"t":[1]} x)",
    };
    for (const char* document : documents) {
        auto whole = parseJSON(document);
        int begins = 0;
        std::vector<Value> elements;
        JSONArraySink sink{[&] {
                               ++begins;
                               elements.clear();
                           },
                           [&](Value& element) { elements.push_back(std::move(element)); }};
        auto streamed = parseJSON(document, "t", sink);
        ASSERT_EQ(streamed.ok(), whole.ok()) << document;
        if (!whole.ok()) {
            EXPECT_EQ(streamed.error().userInfo.get("NSJSONSerializationErrorIndex"),
                      whole.error().userInfo.get("NSJSONSerializationErrorIndex"))
                << document;
            continue;
        }
        Value expected = whole.value();
        const bool isStreamed = expected.isDictionary() && expected["t"].isArray();
        if (isStreamed) {
            EXPECT_EQ(elements, expected["t"].asArray()) << document;
            expected.ifDictionary()->set("t", Array());
        } else if (!expected.isDictionary() || !expected.asDictionary().contains("t")) {
            EXPECT_EQ(begins, 0) << document;
        }
        EXPECT_EQ(streamed.value(), expected) << document;
    }
}

// Under the network's 32 MB reply cap, small values are the costly ones: 31 MB of "{}" would take
// hundreds of megabytes as values. The parse counts what it holds decoded and stops; a streamed
// array's elements count only until they are handed over, and long strings cost their bytes.
TEST(JSON, WhatAParseHoldsDecodedIsBounded) {
    auto filled = [](const std::string& head, const std::string& unit, size_t bytes, const std::string& tail) {
        std::string text = head;
        text.reserve(bytes + head.size() + tail.size() + unit.size());
        while (text.size() < bytes) text += unit;
        text.back() = ' ';  // the last unit's comma
        return text + tail;
    };
    const size_t size = size_t{31} << 20;
    struct Row {
        std::string text;
        bool streamed;
        bool parses;
    };
    const Row rows[] = {
        {filled(R"({"x":[)", "{},", size, "]}"), false, false},
        {filled(R"({"x":{"y":[)", "1,", size, "]}})"), false, false},
        {filled(R"({"t":[{"item":[)", "[],", size, "]}]})"), true, false},  // one element too large
        {filled(R"({"t":[)", "{},", size, "]}"), true, true},
        {R"({"s":")" + std::string(size, 'a') + R"("})", false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 16));
        size_t handed = 0;
        JSONArraySink sink{[] {}, [&](Value&) { ++handed; }};
        auto parsed = row.streamed ? parseJSON(row.text, "t", sink) : parseJSON(row.text);
        ASSERT_EQ(parsed.ok(), row.parses);
        if (!row.parses) {
            EXPECT_EQ(parsed.error().code, kJSONReadCorruptError);
            EXPECT_EQ(parsed.error().userInfo.get("NSDebugDescription").stringValue(), "Too large to decode");
        } else if (row.streamed) {
            EXPECT_GT(handed, size / 4);
        }
    }
}
