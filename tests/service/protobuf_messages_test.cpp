// The service's protobuf messages: byte-exact bodies (checked by protoc's own decoder),
// partial serialisation and parsing, and the random message id.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "service/proto/hxcpb.h"
#include "tests/support/test_support.h"

namespace {

// protoc --decode of bytes against the checked-in schema.
std::string decodeWithProtoc(const std::string& type, const std::string& bytes) {
    hxtest::TempDir dir;
    auto path = dir / "msg.bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::string out;
    std::string cmd = "protoc --decode=HXConnect." + type + " -I " + (hxtest::sourceDir() / "service/proto").string() +
                      " hxconnect.proto < " + path.string() + " 2>/dev/null";
    EXPECT_EQ(hxtest::runCommand(cmd, &out), 0) << out;
    return out;
}

std::string hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

}  // namespace

TEST(ServiceProtobuf, DirectCallRequestCarriesTargetThenSourceAndNeverField5) {
    HXCPB_DirectCallRequest request;
    request.mutable_source()->set_numberstring("+15550111");
    request.mutable_target()->mutable_number()->set_numberstring("+15550199");
    auto bytes = hxcpb::serialize(request);
    ASSERT_TRUE(bytes);
    // field 1 { field 1 { field 1 "+15550199" } } then field 3 { field 1 "+15550111" }
    EXPECT_EQ(hex(*bytes), "0a0d0a0b0a092b3135353530313939"
                           "1a0b0a092b3135353530313131");
    if (!hxtest::haveProgram("protoc")) GTEST_SKIP();
    EXPECT_EQ(
        decodeWithProtoc("DirectCallRequest", *bytes),
        "target {\n  number {\n    numberString: \"+15550199\"\n  }\n}\nsource {\n  numberString: \"+15550111\"\n}\n");
}

TEST(ServiceProtobuf, SendSMSRequestForNewAndExistingConversations) {
    HXCPB_SendSMSRequest fresh;
    fresh.set_messagetext("Hi");
    fresh.add_targetnumber("+15550133");
    fresh.add_targetnumber("+15550144");
    fresh.set_randomid(0xABCDEF012345ull);
    auto freshBytes = hxcpb::serialize(fresh);
    ASSERT_TRUE(freshBytes);

    HXCPB_SendSMSRequest reply;
    reply.set_messagetext("Re");
    reply.set_conversationid("t.+15550133");
    reply.set_randomid(7);
    reply.mutable_attachment()->set_imagetype(4);
    reply.mutable_attachment()->set_data(std::string("GIF89a\0\x01", 8));
    auto replyBytes = hxcpb::serialize(reply);
    ASSERT_TRUE(replyBytes);
    if (!hxtest::haveProgram("protoc")) GTEST_SKIP();
    EXPECT_EQ(
        decodeWithProtoc("SendSMSRequest", *freshBytes),
        "messageText: \"Hi\"\ntargetNumber: \"+15550133\"\ntargetNumber: \"+15550144\"\nrandomID: 188900966474565\n");
    EXPECT_EQ(decodeWithProtoc("SendSMSRequest", *replyBytes),
              "messageText: \"Re\"\nconversationID: \"t.+15550133\"\nrandomID: 7\nattachment {\n  imageType: 4\n  "
              "data: \"GIF89a\\000\\001\"\n}\n");
}

TEST(ServiceProtobuf, RepliesLackingRequiredFieldsStillParse) {
    HXCPB_SendSMSResponse partial;
    partial.set_messageid("m1");
    partial.add_unknown(3);
    partial.add_unknown(-1);
    auto bytes = hxcpb::serialize(partial);
    ASSERT_TRUE(bytes);
    auto parsed = hxcpb::parse<HXCPB_SendSMSResponse>(*bytes);
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->has_conversationid());
    EXPECT_EQ(parsed->messageid(), "m1");
    ASSERT_EQ(parsed->unknown_size(), 2);
    EXPECT_EQ(parsed->unknown(1), -1);

    // A reply with only part of the nested path: the reader must test each level.
    HXCPB_DirectCallResponse call;
    call.mutable_response()->set_resultcode(5);
    auto callParsed = hxcpb::parse<HXCPB_DirectCallResponse>(*hxcpb::serialize(call));
    ASSERT_TRUE(callParsed);
    EXPECT_TRUE(callParsed->has_response());
    EXPECT_FALSE(callParsed->response().has_accessnumber());

    EXPECT_FALSE(hxcpb::parse<HXCPB_SendSMSResponse>("Invalid Credentials"));
    EXPECT_FALSE(hxcpb::parse<HXCPB_DirectCallResponse>(std::string("\x0a\x05\x12", 3)));
    // An empty body is an empty message, not a failure: callers look for the fields.
    auto empty = hxcpb::parse<HXCPB_SendSMSResponse>("");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->has_conversationid());
}

TEST(ServiceProtobuf, RandomMessageIdsStayBelow2To48AndVary) {
    std::set<uint64_t> seen;
    uint64_t highest = 0;
    for (int i = 0; i < 2000; ++i) {
        uint64_t id = getRandomSMS_ID();
        EXPECT_LT(id, 1ull << 48);
        highest = std::max(highest, id);
        seen.insert(id);
    }
    EXPECT_GT(seen.size(), 1990u);
    EXPECT_GT(highest, 1ull << 46);  // the top byte is used too
}
