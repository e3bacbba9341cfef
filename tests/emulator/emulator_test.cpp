// The emulated service through the real transport: recording, scripting, the sign-in host's
// tokens, and the protobuf endpoints with bodies checked by protoc.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include <nlohmann/json.hpp>

#include "emulator/emulator.h"
#include "emulator/service_routes.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/net/curl_transport.h"
#include "service/proto/hxcpb.h"
#include "tests/platform/net/poll_loop.h"
#include "tests/platform/net/recording_delegate.h"
#include "tests/support/test_support.h"

namespace {

struct Service : ::testing::Test {
    emulator::Emulator service;
    hxtest::PollLoop loop;
    std::shared_ptr<net::CurlTransport> transport = net::CurlTransport::create(loop);
    void SetUp() override { ASSERT_TRUE(service.start().ok()); }

    std::shared_ptr<hxtest::RecordingDelegate> send(net::URLRequest request) {
        auto d = std::make_shared<hxtest::RecordingDelegate>();
        auto c = net::URLConnection::create(std::move(request), d, true, transport);
        EXPECT_TRUE(loop.runUntil([&] { return d->done; }, 10));
        return d;
    }
    net::URLRequest post(const std::string& path, const std::string& body, const std::string& type,
                         const std::string& token = {}) {
        net::URLRequest r(service.origin() + path);
        r.setHTTPMethod("POST");
        if (!token.empty()) r.setValue("Bearer " + token, "Authorization");
        r.setValue(type, "Content-Type");
        r.setHTTPBody(std::string_view(body));
        return r;
    }
    std::string sessionCookie() { return "SID=" + service.sessionValue(); }
};

std::string protocDecode(const std::string& type, const std::string& bytes) {
    hxtest::TempDir dir;
    auto path = dir / "m.bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::string out;
    hxtest::runCommand("protoc --decode=HXConnect." + type + " -I " + (hxtest::sourceDir() / "service/proto").string() +
                           " hxconnect.proto < " + path.string() + " 2>/dev/null",
                       &out);
    return out;
}

}  // namespace

TEST_F(Service, ScriptedRepliesApplyByPrefixAndCountThenTheServiceAnswersAgain) {
    service.script("/voice/v1/voiceclient/account/", {.status = 503, .body = "busy"}, 2);
    auto token = service.issueAccessToken();
    for (int i = 0; i < 3; ++i) {
        auto d =
            send(post("/voice/v1/voiceclient/account/get?alt=json", "[null,1]", "application/json+protobuf", token));
        if (i < 2) {
            EXPECT_EQ(d->responses.at(0).statusCode, 503);
            EXPECT_EQ(d->body, "busy");
        } else {
            EXPECT_EQ(d->responses.at(0).statusCode, 200);
            auto json = nlohmann::json::parse(d->body);
            EXPECT_EQ(json["account"]["phones"]["linkedPhone"].size(), 2u);
        }
    }
    auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[2].target, "/voice/v1/voiceclient/account/get?alt=json");
    EXPECT_EQ(recorded[2].body, "[null,1]");
    EXPECT_EQ(recorded[2].header("content-type"), "application/json+protobuf");
    EXPECT_EQ(recorded[2].header("Authorization"), "Bearer " + token);
}

TEST_F(Service, TokenRequestsNeedTheSessionAndApiRequestsNeedAToken) {
    net::URLRequest list(service.origin() +
                         "/o/oauth2/tokenrpc?action=listSessions&client_id=c&origin=https%3A%2F%2Fw.test");
    auto loggedOut = send(list);
    EXPECT_EQ(nlohmann::json::parse(loggedOut->body)["error"], "USER_LOGGED_OUT");
    list.setValue(sessionCookie(), "Cookie");
    auto sessions = nlohmann::json::parse(send(list)->body);
    std::string hint = sessions["sessions"][0]["login_hint"];
    net::URLRequest issue(service.origin() +
                          "/o/oauth2/tokenrpc?action=issueToken&response_type=token&login_hint=" + hint);
    issue.setValue(sessionCookie(), "Cookie");
    auto token = nlohmann::json::parse(send(issue)->body);
    ASSERT_TRUE(token.contains("access_token"));
    EXPECT_EQ(token["token_type"], "Bearer");
    EXPECT_EQ(token["expires_in"], "3599");

    auto refused =
        send(post("/voice/v1/voiceclient/threadinginfo/get?alt=json", "[]", "application/json+protobuf", "forged"));
    EXPECT_EQ(refused->responses.at(0).statusCode, 401);
    EXPECT_EQ(nlohmann::json::parse(refused->body)["error"]["code"], 401);
    auto info = send(post("/voice/v1/voiceclient/threadinginfo/get?alt=json", "[]", "application/json+protobuf",
                          token["access_token"].get<std::string>()));
    auto views = nlohmann::json::parse(info->body)["info"]["viewInfo"];
    EXPECT_EQ(views[0]["view"], "textThreads");
    EXPECT_EQ(views[0]["unreadThreadCount"], 1);
}

TEST_F(Service, DirectCallReservationSpeaksProtobuf) {
    auto token = service.issueAccessToken();
    HXCPB_DirectCallRequest request;
    request.mutable_source()->set_numberstring("+15550111");
    request.mutable_target()->mutable_number()->set_numberstring("+15550177");
    auto d = send(post("/voice/v1/proxynumbers/reserve", *hxcpb::serialize(request), "application/x-protobuf", token));
    EXPECT_EQ(d->responses.at(0).mimeType(), "application/x-protobuf");
    auto reply = hxcpb::parse<HXCPB_DirectCallResponse>(d->body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->response().accessnumber().numberstring(), "+15550199");

    auto bad =
        send(post("/voice/v1/proxynumbers/reserve", *hxcpb::serialize(request), "application/x-protobuf", "nope"));
    EXPECT_EQ(bad->body, "Invalid Credentials");
    auto garbage = send(post("/voice/v1/proxynumbers/reserve", "\x0a\xff", "application/x-protobuf", token));
    EXPECT_NE(garbage->body.find("INVALID_ARGUMENT"), std::string::npos);

    if (!hxtest::haveProgram("protoc")) GTEST_SKIP();
    EXPECT_EQ(
        protocDecode("DirectCallRequest", service.requests().at(0).body),
        "target {\n  number {\n    numberString: \"+15550177\"\n  }\n}\nsource {\n  numberString: \"+15550111\"\n}\n");
    EXPECT_EQ(protocDecode("DirectCallResponse", d->body),
              "response {\n  accessNumber {\n    numberString: \"+15550199\"\n  }\n  timeStamp: 1700000000\n  "
              "resultCode: 0\n}\n");
}

TEST_F(Service, SendingAnSMSLandsInTheAccount) {
    auto token = service.issueAccessToken();
    HXCPB_SendSMSRequest request;
    request.set_messagetext("On my way");
    request.add_targetnumber("+15550155");
    request.set_randomid(42);
    auto d = send(
        post("/voice/v1/voiceclient/api2thread/sendsms", *hxcpb::serialize(request), "application/x-protobuf", token));
    auto reply = hxcpb::parse<HXCPB_SendSMSResponse>(d->body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->conversationid(), "t.+15550155");
    EXPECT_EQ(reply->messageid(), "s42");
    auto texts = service.withAccount([](emulator::Account& a) {
        for (auto& t : a.threads)
            if (t.id == "t.+15550155") return t.items.back().text;
        return std::string();
    });
    EXPECT_EQ(texts, "On my way");

    // The conversation reads back through the JSON API.
    auto thread = send(post("/voice/v1/voiceclient/api2thread/get?alt=json",
                            R"(["t.+15550155",100,null,[null,true,true]])", "application/json+protobuf", token));
    EXPECT_EQ(nlohmann::json::parse(thread->body)["thread"]["item"][0]["messageText"], "On my way");
}

// The random id names a message across a client's attempts: a repeat, also one whose first
// attempt was answered with a failure after the service took it, is answered as the first and
// stores nothing; another id is another message.
TEST_F(Service, ARepeatedMessageIdIsAnsweredAsTheFirstAndStoredOnce) {
    dispatch::ScopedVirtualClock clock{2'000'000'000.0};
    auto token = service.issueAccessToken();
    auto sendWithId = [&](uint64_t id) {
        HXCPB_SendSMSRequest request;
        request.set_messagetext("once only");
        request.add_targetnumber("+15550946");
        request.set_randomid(id);
        return send(post("/voice/v1/voiceclient/api2thread/sendsms", *hxcpb::serialize(request),
                         "application/x-protobuf", token));
    };
    service.inject(emulator::Fault::ServerErrorAfterWork, "/voice/v1/voiceclient/api2thread/sendsms");
    auto failed = sendWithId(77);
    ASSERT_EQ(failed->responses.at(0).statusCode, 500);
    EXPECT_TRUE(failed->body.empty());
    auto items = [&] {
        return service.withAccount([](emulator::Account& a) {
            auto* t = a.thread("t.+15550946");
            return std::make_pair(t ? t->items.size() : 0u, a.sent.size());
        });
    };
    EXPECT_EQ(items(), std::make_pair(size_t{1}, size_t{1}));
    clock->advance(30);
    struct Row {
        uint64_t id;
        std::string messageId;
        size_t items;
    };
    for (const Row& row : {Row{77, "s77", 1}, Row{77, "s77", 1}, Row{78, "s78", 2}}) {
        SCOPED_TRACE(row.id);
        auto d = sendWithId(row.id);
        auto reply = hxcpb::parse<HXCPB_SendSMSResponse>(d->body);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->conversationid(), "t.+15550946");
        EXPECT_EQ(reply->messageid(), row.messageId);
        // The first message keeps its time; the new one takes the clock's.
        EXPECT_EQ(reply->timestamp(), row.id == 77 ? 2'000'000'000u : 2'000'000'030u);
        EXPECT_EQ(items(), std::make_pair(row.items, row.items));
    }
}

TEST_F(Service, MediaNeedsTheSessionCookie) {
    net::URLRequest media(service.origin() + "/a/i/img1?s=3");
    auto redirected = std::make_shared<hxtest::RecordingDelegate>();
    redirected->onWillSend = [](net::URLRequest r, const net::HTTPURLResponse* redirect) {
        return redirect ? std::optional<net::URLRequest>() : std::optional<net::URLRequest>(std::move(r));
    };
    auto c = net::URLConnection::create(media, redirected, true, transport);
    ASSERT_TRUE(loop.runUntil([&] { return redirected->done; }));
    EXPECT_EQ(redirected->responses.at(0).statusCode, 302);
    media.setValue(sessionCookie(), "Cookie");
    auto d = send(media);
    EXPECT_EQ(d->responses.at(0).mimeType(), "image/jpeg");
    EXPECT_EQ(d->body, "\xFF\xD8\xFF\xE0jpeg-bytes");
    net::URLRequest missing(service.origin() + "/a/v/nothing");
    missing.setValue(sessionCookie(), "Cookie");
    EXPECT_EQ(send(missing)->responses.at(0).statusCode, 404);
}

// Every API route answers only the method the client uses; anything else is 405 with "Allow".
TEST_F(Service, WrongMethodsOnApiRoutesAreRefusedWith405) {
    const std::string token = service.issueAccessToken();
    struct Case {
        const char* method;
        const char* path;
        int status;
        const char* allow;
    } cases[] = {
        {"GET", "/voice/v1/voiceclient/account/get?alt=json", 405, "POST"},
        {"PUT", "/voice/v1/voiceclient/api2thread/list?alt=json", 405, "POST"},
        {"DELETE", "/voice/v1/proxynumbers/reserve", 405, "POST"},
        {"GET", "/v2/people?alt=json", 405, "POST"},
        {"POST", "/o/oauth2/tokenrpc?action=listSessions", 405, "GET"},
        {"POST", "/a/i/img1?s=3", 405, "GET, HEAD"},
        {"POST", "/voice/v1/voiceclient/account/get?alt=json", 200, ""},
        {"GET", "/o/oauth2/tokenrpc?action=listSessions", 200, ""},
        {"GET", "/a/i/img1?s=3", 200, ""},
        {"GET", "/voice/", 200, ""},  // pages take what a browser sends
    };
    for (const auto& c : cases) {
        net::URLRequest r(service.origin() + c.path);
        r.setHTTPMethod(c.method);
        r.setValue("Bearer " + token, "Authorization");
        r.setValue(sessionCookie(), "Cookie");
        if (std::string(c.method) != "GET") r.setHTTPBody(std::string_view("[null,1]"));
        auto d = send(std::move(r));
        ASSERT_FALSE(d->responses.empty()) << c.method << " " << c.path;
        EXPECT_EQ(d->responses.back().statusCode, c.status) << c.method << " " << c.path;
        if (c.status != 405) continue;
        EXPECT_EQ(d->responses.back().headers.get("Allow").value_or(""), c.allow) << c.path;
        EXPECT_EQ(nlohmann::json::parse(d->body, nullptr, false)["error"]["code"], 405) << d->body;
    }
}

// A long run keeps only the newest requests, within a count and a size of their bodies; the count
// of requests still counts them all.
TEST_F(Service, TheRequestLogKeepsTheNewestWithinItsBounds) {
    auto logged = [&](const std::string& body) {
        auto r = post("/voice/inbox/x", body, "text/plain");
        r.setValue(sessionCookie(), "Cookie");
        send(std::move(r));
    };
    service.setRequestLogLimit(3, 1 << 20);
    for (int i = 1; i <= 5; ++i) logged(std::to_string(i));
    EXPECT_EQ(service.requestCount(), 5u);
    auto kept = service.requests();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].body, "3");
    EXPECT_EQ(kept[2].body, "5");
    service.setRequestLogLimit(100, 10);
    ASSERT_EQ(service.requests().size(), 3u);  // 3 bytes of bodies
    logged("1234567890");                      // ten bytes: room for nothing else
    kept = service.requests();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].body, "1234567890");
    service.clearRequests();
    EXPECT_EQ(service.requestCount(), 0u);
    EXPECT_TRUE(service.requests().empty());
}

// A conversation the service starts for a new number is dated by the service's clock.
TEST_F(Service, NewConversationsAreDatedByTheServicesClock) {
    dispatch::ScopedVirtualClock clock{2'000'000'000.0};
    auto token = service.issueAccessToken();
    HXCPB_SendSMSRequest request;
    request.set_messagetext("now");
    request.add_targetnumber("+15550166");
    request.set_randomid(7);
    auto d = send(
        post("/voice/v1/voiceclient/api2thread/sendsms", *hxcpb::serialize(request), "application/x-protobuf", token));
    auto reply = hxcpb::parse<HXCPB_SendSMSResponse>(d->body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->timestamp(), 2'000'000'000u);
    auto when = service.withAccount([](emulator::Account& a) { return a.thread("t.+15550166")->lastTimeMs(); });
    EXPECT_EQ(when, 2'000'000'000'000);
}

TEST(EmulatorQuery, ItemsAreDecoded) {
    auto items = emulator::queryItems("/o?a=1&b=x%20y+z&c&d=%2F");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1].second, "x y z");
    EXPECT_EQ(items[2].first, "c");
    EXPECT_EQ(items[3].second, "/");
    EXPECT_TRUE(emulator::queryItems("/nothing").empty());
    EXPECT_EQ(emulator::queryItems("/o?bad=%zz%").at(0).second, "%zz%");
}

// A service started on the state a former one kept knows what was done to the former: its threads
// and texts, what it was sent, and the sign-ins (the session, the tokens still valid and those
// expired). The kept file is only ever replaced whole, and one that cannot be read is refused.
TEST_F(Service, AServiceStartedOnTheKeptStateKnowsWhatTheFormerOneKnew) {
    hxtest::TempDir dir;
    const auto file = dir / "state.json";
    ASSERT_TRUE(service.keepStateIn(file).ok());
    const auto expired = service.issueAccessToken();
    service.expireTokens();
    const auto token = service.issueAccessToken();
    HXCPB_SendSMSRequest request;
    request.set_messagetext("Kept \xC3\xA9t\xC3\xA9");
    request.add_targetnumber("+15550166");
    request.set_randomid(7);
    send(post("/voice/v1/voiceclient/api2thread/sendsms", *hxcpb::serialize(request), "application/x-protobuf", token));
    // Written after the request that changed the state, before any stop.
    ASSERT_TRUE(std::filesystem::exists(file));
    service.withAccount([](emulator::Account& a) {
        a.thread("t.+15550133")->read = true;
        a.callbacks.push_back({"+15550177", "+15550111"});
        return 0;
    });
    const std::string session = service.sessionValue();
    // The client still keeps its connection open: a stop ends it within the server's idle wait
    // rather than waiting out the library's five (a sanitized build's server waits ten).
    const auto stopping = std::chrono::steady_clock::now();
    service.stop();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - stopping).count(),
              3.5 * hxtest::kSanitizerSlowdown);

    emulator::GeneratorOptions other;
    other.smsThreads = 3;
    emulator::Emulator next(emulator::generateAccount(other));
    ASSERT_TRUE(next.keepStateIn(file).ok());
    ASSERT_TRUE(next.start().ok());
    EXPECT_EQ(next.state(), service.state());
    EXPECT_EQ(next.sessionValue(), session);
    EXPECT_TRUE(next.isValidAccessToken(token));
    EXPECT_FALSE(next.isValidAccessToken(expired));
    // Tokens it hands out now are new ones.
    EXPECT_NE(next.issueAccessToken(), token);
    struct Seen {
        std::string sentText, threadText, mediaBytes;
        bool read;
        size_t callbacks, threads;
    };
    auto seen = [](emulator::Emulator& e) {
        return e.withAccount([](emulator::Account& a) {
            return Seen{a.sent.empty() ? "" : a.sent.back().text,
                        a.thread("t.+15550166") ? a.thread("t.+15550166")->items.back().text : "",
                        a.media["v1"].bytes,
                        a.thread("t.+15550133") && a.thread("t.+15550133")->read,
                        a.callbacks.size(),
                        a.threads.size()};
        });
    };
    const Seen kept = seen(next);
    EXPECT_EQ(kept.sentText, "Kept \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(kept.threadText, kept.sentText);
    EXPECT_EQ(kept.mediaBytes, std::string("ID3\x03\x00voicemail-audio", 20));
    EXPECT_TRUE(kept.read);
    EXPECT_EQ(kept.callbacks, 1u);
    EXPECT_EQ(kept.threads, 3u);  // the sample's two and the new conversation
    // The conversation reads back through the API of the new service.
    net::URLRequest get(next.origin() + "/voice/v1/voiceclient/api2thread/get?alt=json");
    get.setHTTPMethod("POST");
    get.setValue("Bearer " + token, "Authorization");
    get.setValue("application/json+protobuf", "Content-Type");
    get.setHTTPBody(std::string_view(R"(["t.+15550166",100,null,[null,true,true]])"));
    EXPECT_EQ(nlohmann::json::parse(send(std::move(get))->body)["thread"]["item"][0]["messageText"], kept.sentText);
    // A client that sends the same message again after the restart is answered as the first time,
    // and nothing is stored twice.
    const auto firstReply = [&] {
        return next.withAccount([](emulator::Account& a) {
            const auto& m = a.sent.back();
            return std::make_tuple(m.threadId, m.messageId, m.timestamp);
        });
    }();
    EXPECT_FALSE(std::get<1>(firstReply).empty());
    net::URLRequest again =
        post("/voice/v1/voiceclient/api2thread/sendsms", *hxcpb::serialize(request), "application/x-protobuf", token);
    again.setURL(next.origin() + "/voice/v1/voiceclient/api2thread/sendsms");
    auto repeated = hxcpb::parse<HXCPB_SendSMSResponse>(send(std::move(again))->body);
    ASSERT_TRUE(repeated);
    EXPECT_EQ(repeated->conversationid(), std::get<0>(firstReply));
    EXPECT_EQ(repeated->messageid(), std::get<1>(firstReply));
    EXPECT_EQ(repeated->timestamp(), std::get<2>(firstReply));
    EXPECT_EQ(next.withAccount([](emulator::Account& a) { return a.thread("t.+15550166")->items.size(); }), 1u);
    next.stop();

    // Files that are no state are refused and left as they were.
    for (const std::string text :
         {"{", "[]", R"({"account":{"threads":7},"signIn":{}})", R"({"account":{},"signIn":{"session":"s"}})"}) {
        const auto bad = dir / "bad.json";
        ASSERT_TRUE(foundation::files::writeAtomically(bad, text).ok());
        emulator::Emulator refused;
        const auto kept = refused.keepStateIn(bad);
        ASSERT_FALSE(kept.ok()) << text;
        EXPECT_NE(kept.error().localizedDescription().find("cannot be read"), std::string::npos) << text;
        ASSERT_TRUE(refused.start().ok());
        refused.stop();
        EXPECT_EQ(*foundation::files::readString(bad), text);
    }
}
