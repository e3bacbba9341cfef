// The libcurl transport against the emulated service over 127.0.0.1: decoding, redirects with
// cookies carried by an account's jar, and the three connection failures callers tell apart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "emulator/emulator.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/curl_transport.h"
#include "platform/net/url_error.h"
#include "platform/net/url_session.h"
#include "service/custom_cookie_jar.h"
#include "tests/platform/net/poll_loop.h"
#include "tests/platform/net/recording_delegate.h"
#include "tests/support/test_support.h"

namespace {

struct Loopback : ::testing::Test {
    emulator::Emulator service;
    void SetUp() override { ASSERT_TRUE(service.start().ok()); }
    void TearDown() override { service.stop(); }

    std::shared_ptr<hxtest::RecordingDelegate> fetch(hxtest::PollLoop& loop, std::shared_ptr<net::Transport> transport,
                                                     net::URLRequest request,
                                                     std::shared_ptr<hxtest::RecordingDelegate> delegate = nullptr) {
        if (!delegate) delegate = std::make_shared<hxtest::RecordingDelegate>();
        auto c = net::URLConnection::create(std::move(request), delegate, true, transport);
        EXPECT_TRUE(loop.runUntil([&] { return delegate->done; }, 10)) << "no end within 10 s";
        return delegate;
    }
};

// A delegate that keeps cookies the way the request machinery does: every response and
// redirect goes into the jar, and every send takes its cookies from it.
class JarDelegate : public hxtest::RecordingDelegate {
public:
    explicit JarDelegate(std::shared_ptr<CustomCookieJar> jar) : jar_(std::move(jar)) {}
    std::optional<net::URLRequest> willSendRequest(net::URLConnection& c, net::URLRequest request,
                                                   const net::HTTPURLResponse* redirect) override {
        if (redirect) jar_->updateFromResponse(*redirect);
        jar_->addCookiesToRequest(request);
        return RecordingDelegate::willSendRequest(c, std::move(request), redirect);
    }
    void didReceiveResponse(net::URLConnection& c, const net::HTTPURLResponse& r) override {
        jar_->updateFromResponse(r);
        RecordingDelegate::didReceiveResponse(c, r);
    }

private:
    std::shared_ptr<CustomCookieJar> jar_;
};

}  // namespace

TEST_F(Loopback, EncodedRepliesArriveDecodedAndHeadersReachTheServer) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    std::string plain;
    for (int i = 0; i < 2000; ++i) plain += "line " + std::to_string(i) + "\n";
    for (const char* encoding : {"gzip", "deflate"}) {
        service.script("/voice/inbox/recent/unread/", {.body = plain, .contentEncoding = encoding});
        net::URLRequest request(service.origin() + "/voice/inbox/recent/unread/");
        request.setValue("gzip, deflate", "Accept-Encoding");
        request.setValue("Keep-Alive", "Connection");
        auto d = fetch(loop, transport, request);
        EXPECT_EQ(d->events.back(), "finish") << encoding;
        EXPECT_TRUE(d->body == plain) << encoding << ": " << d->body.size() << " bytes";
        EXPECT_EQ(d->responses.at(0).valueForHTTPHeaderField("content-encoding"), encoding);
    }
    auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].header("Accept-Encoding"), "gzip, deflate");
    EXPECT_EQ(recorded[0].header("Connection"), "Keep-Alive");
    EXPECT_FALSE(recorded[0].header("Cookie"));
}

TEST_F(Loopback, PostBodiesAndStatusesPassThroughUnjudged) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    service.script("/missing", {.status = 404, .body = "<html>gone</html>"});
    net::URLRequest request(service.origin() + "/missing");
    request.setHTTPMethod("POST");
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    request.setValue("9", "Content-Length");
    request.setHTTPBody(std::string_view("a=1&b=x y"));
    auto d = fetch(loop, transport, request);
    EXPECT_EQ(d->responses.at(0).statusCode, 404);
    EXPECT_EQ(d->body, "<html>gone</html>");
    EXPECT_EQ(d->events.back(), "finish");
    auto recorded = service.requests().at(0);
    EXPECT_EQ(recorded.method, "POST");
    EXPECT_EQ(recorded.body, "a=1&b=x y");
    EXPECT_EQ(recorded.header("Content-Length"), "9");
}

TEST_F(Loopback, SignInRedirectCarriesItsCookieThroughTheJarToTheNextRequest) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    auto jar = std::make_shared<CustomCookieJar>();
    auto delegate = std::make_shared<JarDelegate>(jar);
    net::URLRequest form(service.origin() + "/signin/challenge");
    form.setHTTPMethod("POST");
    form.setHTTPBody(std::string_view("Email=user%40example.test&continue=%2Fvoice%2Fb%2F0"));
    auto d = fetch(loop, transport, form, delegate);
    EXPECT_EQ(d->events.at(1), "redirect 302 " + service.origin() + "/voice/b/0");
    EXPECT_EQ(d->responses.at(0).statusCode, 200);
    EXPECT_NE(d->body.find("_hx.pageProto['ClientFlags']"), std::string::npos);
    EXPECT_EQ(jar->numberOfCookies(), 1u);
    auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[1].method, "GET");  // a 302 after a POST is fetched with GET
    EXPECT_EQ(recorded[1].header("Cookie"), "SID=" + service.sessionValue());

    // A later request of the account carries the cookie; a fresh jar's does not and is sent to
    // the sign-in page instead.
    auto again =
        fetch(loop, transport, net::URLRequest(service.origin() + "/a/v/v1"), std::make_shared<JarDelegate>(jar));
    EXPECT_EQ(again->responses.at(0).statusCode, 200);
    EXPECT_EQ(again->responses.at(0).mimeType(), "audio/mpeg");
    auto stranger = std::make_shared<JarDelegate>(std::make_shared<CustomCookieJar>());
    stranger->onWillSend = [](net::URLRequest r, const net::HTTPURLResponse* redirect) {
        return redirect ? std::optional<net::URLRequest>() : std::optional<net::URLRequest>(std::move(r));
    };
    auto refused = fetch(loop, transport, net::URLRequest(service.origin() + "/a/v/v1"), stranger);
    EXPECT_EQ(refused->responses.at(0).statusCode, 302);
    EXPECT_EQ(refused->responses.at(0).valueForHTTPHeaderField("Location"),
              service.origin() + "/accounts/AccountLogin?continue=/a/v/v1");
}

TEST_F(Loopback, ARedirectToAnotherServerCarriesNoSessionCookieOrCredentials) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    emulator::Emulator other;
    ASSERT_TRUE(other.start().ok());
    service.script("/voice/hop", {.redirectTo = other.origin() + "/landing"}, 2);
    service.script("/voice/stay", {.redirectTo = service.origin() + "/voice/landing"});
    other.script("/landing", {.body = "landed"}, 2);
    service.script("/voice/landing", {.body = "home"});
    auto withCredentials = [&](const std::string& path) {
        net::URLRequest request(service.origin() + path);
        request.setValue("SID=" + service.sessionValue(), "Cookie");
        request.setValue("Bearer token-1", "Authorization");
        request.setValue("Basic eA==", "Proxy-Authorization");
        return request;
    };
    auto d = fetch(loop, transport, withCredentials("/voice/hop"));
    EXPECT_EQ(d->body, "landed");
    ASSERT_EQ(other.requests().size(), 1u);
    for (const char* field : {"Cookie", "Authorization", "Proxy-Authorization"})
        EXPECT_FALSE(other.requests()[0].header(field)) << field << " reached the other server";
    EXPECT_EQ(service.requests().at(0).header("Cookie"), "SID=" + service.sessionValue());

    // Within one origin they stay.
    auto home = fetch(loop, transport, withCredentials("/voice/stay"));
    EXPECT_EQ(home->body, "home");
    auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[2].header("Cookie"), "SID=" + service.sessionValue());
    EXPECT_EQ(recorded[2].header("Authorization"), "Bearer token-1");

    // A session task whose cookie came in the configuration's shared headers loses it too.
    dispatch::RunLoop::main();
    net::URLSessionConfiguration config;
    config.transport = transport;
    config.httpAdditionalHeaders.set("Cookie", "SID=" + service.sessionValue());
    auto session = net::URLSession::sessionWithConfiguration(config);
    std::atomic<bool> completed{false};
    std::string body;
    session
        ->dataTaskWithRequest(net::URLRequest(service.origin() + "/voice/hop"),
                              [&](const foundation::Data& data, const auto&, const auto&) {
                                  body.assign(data.begin(), data.end());
                                  completed = true;
                              })
        ->resume();
    ASSERT_TRUE(loop.runUntil([&] { return completed.load(); }, 10));
    EXPECT_EQ(body, "landed");
    ASSERT_EQ(other.requests().size(), 2u);
    EXPECT_FALSE(other.requests()[1].header("Cookie"));
    EXPECT_EQ(service.requests().back().header("Cookie"), "SID=" + service.sessionValue());
    // The transport's kept-alive connections close with it, so both servers stop at once.
    session.reset();
    config.transport.reset();
    transport.reset();
    other.stop();
}

TEST_F(Loopback, ConnectionLostMidBodyIs1005) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    service.script("/voice/", {.body = std::string(4000, 'z'), .dropMidBody = true});
    auto d = fetch(loop, transport, net::URLRequest(service.origin() + "/voice/inbox/recent/sms/"));
    ASSERT_TRUE(d->error);
    EXPECT_EQ(d->error->code, net::kURLErrorNetworkConnectionLost);
    EXPECT_EQ(d->error->domain, net::kURLErrorDomain);
}

TEST_F(Loopback, SilentServerTimesOutAs1001OnTheLoopClock) {
    hxtest::PollLoop loop(true);
    auto transport = net::CurlTransport::create(loop);
    service.script("/voice/", {.hold = true});
    auto delegate = std::make_shared<hxtest::RecordingDelegate>();
    auto c = net::URLConnection::create(net::URLRequest(service.origin() + "/voice/x", 90), delegate, true, transport);
    ASSERT_TRUE(loop.runUntil([&] { return service.requestCount() == 1; }, 10));
    loop.advance(60);
    loop.runOnce(0.01);
    EXPECT_FALSE(delegate->done);
    loop.advance(31);
    loop.runOnce(0.01);
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code, net::kURLErrorTimedOut);
    service.releaseHeld();
}

TEST_F(Loopback, NoNetworkIs1009AndNothingIsSent) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    bool online = false;
    transport->setNetworkAvailable([&](const std::string&) { return online; });
    auto d = fetch(loop, transport, net::URLRequest(service.origin() + "/voice/x"));
    ASSERT_TRUE(d->error);
    EXPECT_EQ(d->error->code, net::kURLErrorNotConnectedToInternet);
    EXPECT_EQ(service.requestCount(), 0u);
    online = true;
    auto ok = fetch(loop, transport, net::URLRequest(service.origin() + "/accounts/AccountLogin"));
    EXPECT_EQ(ok->events.back(), "finish");
}

TEST_F(Loopback, NothingListeningIsNotMistakenForTheThreeKnownFailures) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    std::string origin = service.origin();
    service.stop();
    auto d = fetch(loop, transport, net::URLRequest(origin + "/voice/"));
    ASSERT_TRUE(d->error);
    EXPECT_EQ(d->error->code, net::kURLErrorCannotConnectToHost);
}

TEST_F(Loopback, ManyConnectionsShareTheLoop) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    std::vector<std::shared_ptr<hxtest::RecordingDelegate>> delegates;
    std::vector<std::shared_ptr<net::URLConnection>> connections;
    for (int i = 0; i < 20; ++i) {
        delegates.push_back(std::make_shared<hxtest::RecordingDelegate>());
        connections.push_back(net::URLConnection::create(
            net::URLRequest(service.origin() + "/accounts/AccountLogin?n=" + std::to_string(i)), delegates.back(), true,
            transport));
    }
    ASSERT_TRUE(loop.runUntil([&] {
        for (auto& d : delegates)
            if (!d->done) return false;
        return true;
    }));
    for (auto& d : delegates) EXPECT_EQ(d->events.back(), "finish");
    EXPECT_EQ(service.requestCount(), 20u);
}

TEST_F(Loopback, TLSToAServerThatDoesNotSpeakItIsASecureConnectionFailure) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    auto d = fetch(loop, transport, net::URLRequest("https://127.0.0.1:" + std::to_string(service.port()) + "/voice/"));
    ASSERT_TRUE(d->error);
    EXPECT_EQ(d->error->code, net::kURLErrorSecureConnectionFailed);
}

TEST_F(Loopback, LineBreaksInHeaderFieldsAreRefusedAndNothingIsSent) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    service.script("/voice/inbox/recent/unread/", {.body = "ok"});
    const std::pair<std::string, std::string> refused[] = {
        {"X-Note", "a\r\nInjected: yes"},
        {"X-Note", "a\nInjected: yes"},
        {"X-Note", "a\rInjected: yes"},
        {"X-Note", std::string("a\0b", 3)},
        {"X-Bad\r\nInjected", "yes"},
        {"X-Bad: Injected", "yes"},
        {"", "yes"},
    };
    for (const auto& [name, value] : refused) {
        net::URLRequest request(service.origin() + "/voice/inbox/recent/unread/");
        request.setValue(value, name);
        auto d = fetch(loop, transport, request);
        ASSERT_EQ(d->events.back(), "fail -1") << name;
        EXPECT_EQ(d->error->code, net::kURLErrorUnknown);
        EXPECT_NE(d->error->description().find("request not sent"), std::string::npos) << d->error->description();
        // The transport refuses such a request on its own too, for callers below the connection.
        struct Client : net::TransportClient {
            std::optional<foundation::Error> failure;
            void exchangeDidReceiveResponse(const net::HTTPURLResponse&) override {}
            void exchangeDidReceiveData(const uint8_t*, size_t) override {}
            void exchangeDidFinish() override {}
            void exchangeDidFail(const foundation::Error& e) override { failure = e; }
        } client;
        auto exchange = transport->start(request, client);
        ASSERT_TRUE(loop.runUntil([&] { return client.failure.has_value(); }, 10));
        EXPECT_EQ(client.failure->code, net::kURLErrorUnknown);
    }
    EXPECT_TRUE(service.requests().empty());
    // Tabs and any other text stay allowed.
    net::URLRequest fine(service.origin() + "/voice/inbox/recent/unread/");
    fine.setValue("a\tb; c=\"d\"", "X-Note");
    EXPECT_EQ(fetch(loop, transport, fine)->events.back(), "finish");
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].header("X-Note"), "a\tb; c=\"d\"");
    EXPECT_FALSE(service.requests()[0].header("Injected"));
}

TEST(CurlTrace, CredentialHeaderLinesAreMasked) {
    const std::pair<std::string, std::string> cases[] = {
        {"GET / HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer abc\r\nCookie: SID=1; HSID=2\r\n\r\n",
         "GET / HTTP/1.1\r\nHost: h\r\nAuthorization: ***\r\nCookie: ***\r\n\r\n"},
        {"set-cookie: a=b; Path=/\r\n", "set-cookie: ***\r\n"},
        {"PROXY-AUTHORIZATION : Basic eA==", "PROXY-AUTHORIZATION : ***"},
        {"X-Authorization-Note: public\nCookies: 3\n", "X-Authorization-Note: public\nCookies: 3\n"},
        {"Connected to 127.0.0.1 (127.0.0.1) port 80 (#0)\n", "Connected to 127.0.0.1 (127.0.0.1) port 80 (#0)\n"},
        {"", ""},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(net::maskCredentialHeaderLines(in), want) << in;
}

TEST_F(Loopback, TheVerboseTraceShowsNoCredentials) {
    hxtest::PollLoop loop;
    auto transport = net::CurlTransport::create(loop);
    service.script("/voice/inbox/recent/unread/",
                   {.body = "ok", .headers = {{"Set-Cookie", "SID=server-secret; Path=/"}}});
    net::URLRequest request(service.origin() + "/voice/inbox/recent/unread/");
    request.setValue("Bearer hxat.token-secret", "Authorization");
    request.setValue("SID=cookie-secret", "Cookie");
    request.setValue("visible", "X-Note");

    hxtest::TempDir dir;
    const auto tracePath = dir / "trace.txt";
    std::fflush(stderr);
    int saved = ::dup(2);
    FILE* trace = std::fopen(tracePath.c_str(), "w");
    ASSERT_TRUE(trace && saved >= 0);
    ::dup2(::fileno(trace), 2);
    ::setenv("HX_CURL_VERBOSE", "1", 1);
    auto d = fetch(loop, transport, request);
    ::unsetenv("HX_CURL_VERBOSE");
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(trace);
    EXPECT_EQ(d->events.back(), "finish");

    std::ifstream in(tracePath);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("> Authorization: ***"), std::string::npos) << text;
    EXPECT_NE(text.find("> Cookie: ***"), std::string::npos) << text;
    EXPECT_NE(text.find("X-Note: visible"), std::string::npos) << text;
    for (const char* secret : {"token-secret", "cookie-secret", "server-secret"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in:\n" << text;
}
