// The connection's delegate protocol over the scripted transport: order of callbacks,
// redirects, decoding, time-outs and cancellation.
#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/net/scripted_transport.h"
#include "platform/net/url_error.h"
#include "tests/platform/net/poll_loop.h"
#include "tests/platform/net/recording_delegate.h"
#include "tests/support/test_support.h"

using net::ScriptedTransport;
using Reply = net::ScriptedTransport::Reply;

namespace {

struct Fixture : ::testing::Test {
    hxtest::PollLoop loop{true};
    std::shared_ptr<ScriptedTransport> transport = ScriptedTransport::create(loop);
    std::shared_ptr<hxtest::RecordingDelegate> delegate = std::make_shared<hxtest::RecordingDelegate>();

    std::shared_ptr<net::URLConnection> run(net::URLRequest request) {
        auto c = net::URLConnection::create(std::move(request), delegate, true, transport);
        EXPECT_TRUE(loop.runUntil([&] { return delegate->done; }, 5));
        return c;
    }
};

std::string gzipWithTool(const std::string& plain) {
    hxtest::TempDir dir;
    auto in = dir / "body";
    FILE* f = fopen(in.c_str(), "wb");
    fwrite(plain.data(), 1, plain.size(), f);
    fclose(f);
    std::string out;
    EXPECT_EQ(hxtest::runCommand("gzip -c " + in.string(), &out), 0);
    return out;
}

// size bytes of zeros, gzip-compressed in memory: a small body that inflates to a lot.
std::string gzipOfZeros(size_t size) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[1 << 16];
    for (size_t done = 0; done < size;) {
        size_t piece = std::min(zeros.size(), size - done);
        done += piece;
        zs.next_in = reinterpret_cast<Bytef*>(zeros.data());
        zs.avail_in = static_cast<uInt>(piece);
        int flush = done == size ? Z_FINISH : Z_NO_FLUSH;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(buffer);
            zs.avail_out = sizeof buffer;
            deflate(&zs, flush);
            out.append(buffer, sizeof buffer - zs.avail_out);
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    return out;
}

// Counts what reaches the delegate without keeping it, so a runaway body shows as a number.
struct CountingDelegate : hxtest::RecordingDelegate {
    size_t received = 0;
    void didReceiveData(net::URLConnection&, const uint8_t*, size_t size) override { received += size; }
};

}  // namespace

TEST_F(Fixture, CallbacksArriveInOrderWithWillSendBeforeTheFirstSend) {
    transport->enqueue(Reply::ok("hello", {}));
    net::URLRequest request("http://service.test/voice/x");
    request.setHTTPMethod("POST");
    request.setValue("gzip, deflate", "Accept-Encoding");
    request.setValue("Keep-Alive", "Connection");
    request.setHTTPBody(std::string_view("a=1"));
    run(request);
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"willSend http://service.test/voice/x", "response 200", "data", "finish"}));
    EXPECT_EQ(delegate->body, "hello");
    auto sent = transport->requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].bodyText(), "a=1");
    ASSERT_EQ(sent[0].headers.fields().size(), 2u);
    EXPECT_EQ(sent[0].headers.fields()[0].first, "Accept-Encoding");
    EXPECT_EQ(sent[0].headers.fields()[1].first, "Connection");
    // The layer adds no cookies of its own.
    EXPECT_FALSE(sent[0].headers.contains("Cookie"));
}

TEST_F(Fixture, WillSendCanRewriteTheFirstRequestOrStopItSilently) {
    transport->enqueue(Reply::ok("x"));
    delegate->onWillSend = [](net::URLRequest r, const net::HTTPURLResponse*) -> std::optional<net::URLRequest> {
        r.setValue("a=b", "Cookie");
        return r;
    };
    run(net::URLRequest("http://service.test/"));
    EXPECT_EQ(transport->requests().at(0).headers.get("cookie"), "a=b");

    auto quiet = std::make_shared<hxtest::RecordingDelegate>();
    quiet->onWillSend = [](net::URLRequest, const net::HTTPURLResponse*) { return std::optional<net::URLRequest>(); };
    auto c = net::URLConnection::create(net::URLRequest("http://service.test/2"), quiet, true, transport);
    for (int i = 0; i < 20; ++i) loop.runOnce(0);
    EXPECT_EQ(quiet->events, (std::vector<std::string>{"willSend http://service.test/2"}));
    EXPECT_EQ(transport->requestCount(), 1u);
    EXPECT_TRUE(c->isFinished());
}

TEST_F(Fixture, RedirectsAreOfferedToTheDelegateAndPostBecomesGetOn303) {
    Reply redirect = Reply::redirect(303, "/voice/next?x=1");
    redirect.headers.add("Set-Cookie", "a=1");
    redirect.headers.add("Set-Cookie", "b=2");
    transport->enqueue(redirect);
    transport->enqueue(Reply::ok("final"));
    net::URLRequest request("http://service.test/voice/start");
    request.setHTTPMethod("POST");
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    request.setHTTPBody(std::string_view("k=v"));
    std::vector<std::string> cookiesSeen;
    delegate->onWillSend = [&](net::URLRequest r, const net::HTTPURLResponse* redirectResponse) {
        if (redirectResponse) cookiesSeen = redirectResponse->headers.getAll("set-cookie");
        return std::optional<net::URLRequest>(std::move(r));
    };
    run(request);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"willSend http://service.test/voice/start",
                                                          "redirect 303 http://service.test/voice/next?x=1",
                                                          "response 200", "data", "finish"}));
    EXPECT_EQ(cookiesSeen, (std::vector<std::string>{"a=1", "b=2"}));
    auto sent = transport->requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].method, "GET");
    EXPECT_TRUE(sent[1].body.empty());
    EXPECT_FALSE(sent[1].headers.contains("Content-Type"));
}

TEST_F(Fixture, RefusedRedirectDeliversTheRedirectItselfAnd307KeepsTheBody) {
    Reply redirect = Reply::redirect(302, "http://service.test/accounts/AccountLogin");
    redirect.body = "moved";
    transport->enqueue(redirect);
    delegate->onWillSend = [](net::URLRequest r, const net::HTTPURLResponse* redirectResponse) {
        return redirectResponse ? std::optional<net::URLRequest>() : std::optional<net::URLRequest>(std::move(r));
    };
    run(net::URLRequest("http://service.test/voice/"));
    EXPECT_EQ(delegate->events.back(), "finish");
    EXPECT_EQ(delegate->responses.at(0).statusCode, 302);
    EXPECT_EQ(delegate->body, "moved");
    EXPECT_EQ(transport->requestCount(), 1u);

    // A refused redirect's encoded body arrives decoded too.
    delegate = std::make_shared<hxtest::RecordingDelegate>();
    delegate->onWillSend = [](net::URLRequest r, const net::HTTPURLResponse* redirectResponse) {
        return redirectResponse ? std::optional<net::URLRequest>() : std::optional<net::URLRequest>(std::move(r));
    };
    Reply encoded = Reply::redirect(302, "/elsewhere");
    encoded.headers.set("Content-Encoding", "gzip");
    encoded.body = gzipWithTool("<html>moved</html>");
    transport->enqueue(encoded);
    run(net::URLRequest("http://service.test/voice/"));
    EXPECT_EQ(delegate->body, "<html>moved</html>");

    delegate = std::make_shared<hxtest::RecordingDelegate>();
    transport->clearRequests();
    transport->enqueue(Reply::redirect(307, "http://other.test/x"));
    transport->enqueue(Reply::ok(""));
    net::URLRequest post("http://service.test/p");
    post.setHTTPMethod("POST");
    post.setValue("Bearer t", "Authorization");
    post.setHTTPBody(std::string_view("body"));
    run(post);
    auto sent = transport->requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].method, "POST");
    EXPECT_EQ(sent[1].bodyText(), "body");
    // Credentials are not carried to another origin.
    EXPECT_FALSE(sent[1].headers.contains("Authorization"));
}

TEST_F(Fixture, CredentialsAndCookiesStayWithTheOriginTheyWereSetFor) {
    struct Case {
        const char* from;
        const char* location;
        bool sameOrigin;
    };
    const Case cases[] = {
        {"http://service.test/a", "/b", true},
        {"http://service.test/a", "http://service.test/b?x", true},
        {"http://service.test/a", "http://SERVICE.test:80/b", true},
        {"https://service.test/a", "https://service.test:443/b", true},
        {"http://service.test/a", "https://service.test/b", false},
        {"https://service.test/a", "http://service.test/b", false},
        {"http://service.test/a", "http://other.test/b", false},
        {"http://service.test/a", "http://api.service.test/b", false},
        {"http://service.test/a", "http://service.test:8080/b", false},
        {"http://127.0.0.1:4000/a", "http://127.0.0.1:4001/b", false},
    };
    for (const auto& c : cases) {
        for (int status : {302, 307}) {
            delegate = std::make_shared<hxtest::RecordingDelegate>();
            transport->clearRequests();
            transport->enqueue(Reply::redirect(status, c.location));
            transport->enqueue(Reply::ok("here"));
            net::URLRequest request(c.from);
            request.setValue("SID=session-1", "Cookie");
            request.setValue("Bearer t", "Authorization");
            request.setValue("Basic eA==", "Proxy-Authorization");
            request.setValue("kept", "X-Origin");
            run(request);
            auto sent = transport->requests();
            ASSERT_EQ(sent.size(), 2u) << c.location;
            EXPECT_EQ(sent[0].headers.get("Cookie"), "SID=session-1");
            for (const char* field : {"Cookie", "Authorization", "Proxy-Authorization"})
                EXPECT_EQ(sent[1].headers.contains(field), c.sameOrigin)
                    << c.from << " -> " << c.location << " (" << status << "): " << field;
            EXPECT_EQ(sent[1].headers.get("X-Origin"), "kept");
        }
    }
}

TEST_F(Fixture, RedirectLoopsEndWithTooManyRedirects) {
    transport->setHandler([](const net::URLRequest&) { return Reply::redirect(302, "/again"); });
    run(net::URLRequest("http://service.test/again"));
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code, net::kURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(transport->requestCount(), static_cast<size_t>(net::URLConnection::kMaximumRedirects + 1));
}

TEST_F(Fixture, GzipAndDeflateBodiesArriveDecoded) {
    std::string plain(5000, 'x');
    for (size_t i = 0; i < plain.size(); i += 7) plain[i] = static_cast<char>('a' + i % 26);
    Reply gz = Reply::ok(gzipWithTool(plain));
    gz.headers.set("Content-Encoding", "gzip");
    gz.chunkSize = 100;
    transport->enqueue(gz);
    run(net::URLRequest("http://service.test/gz"));
    EXPECT_EQ(delegate->body, plain);
    EXPECT_EQ(delegate->events.back(), "finish");

    // A truncated encoded body is a failure, not a short success.
    delegate = std::make_shared<hxtest::RecordingDelegate>();
    Reply cut = gz;
    cut.body = cut.body.substr(0, cut.body.size() / 2);
    transport->enqueue(cut);
    run(net::URLRequest("http://service.test/gz"));
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code, net::kURLErrorCannotDecodeContentData);
}

TEST_F(Fixture, ConnectionErrorsKeepTheirCodes) {
    for (int64_t code : {net::kURLErrorNotConnectedToInternet, net::kURLErrorTimedOut,
                         net::kURLErrorNetworkConnectionLost, net::kURLErrorCannotConnectToHost}) {
        delegate = std::make_shared<hxtest::RecordingDelegate>();
        transport->enqueue(Reply::fail(code));
        run(net::URLRequest("http://service.test/e"));
        ASSERT_TRUE(delegate->error);
        EXPECT_EQ(delegate->error->code, code);
        EXPECT_EQ(delegate->error->domain, net::kURLErrorDomain);
        EXPECT_EQ(delegate->events.size(), 2u);  // willSend, fail
    }
}

TEST_F(Fixture, IdleTimeOutFollowsTheRequestsIntervalOnTheLoopClock) {
    transport->enqueue(Reply::never());
    net::URLRequest request("http://service.test/slow", 90);
    auto c = net::URLConnection::create(request, delegate, true, transport);
    loop.runUntil([&] { return transport->requestCount() == 1; });
    loop.advance(89.5);
    loop.runOnce(0);
    EXPECT_FALSE(delegate->done);
    loop.advance(1);
    loop.runOnce(0);
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code, net::kURLErrorTimedOut);

    // The background interval (300 s) outlasts a 200 s wait that the foreground one would not.
    delegate = std::make_shared<hxtest::RecordingDelegate>();
    Reply slow = Reply::ok("abc");
    slow.delay = 200;
    transport->enqueue(slow);
    net::URLRequest background("http://service.test/slow", 300);
    c = net::URLConnection::create(background, delegate, true, transport);
    loop.runUntil([&] { return transport->requestCount() == 2; });
    loop.advance(250);
    loop.runUntil([&] { return delegate->done; });
    EXPECT_EQ(delegate->events.back(), "finish");
}

// A reply that drips a byte every 2 s never lets the idle timer fire; the deadline ends it, counted
// from the first send across redirects. Without a deadline it runs as long as it drips.
TEST_F(Fixture, ADeadlineEndsAReplyThatDripsHoweverItProgresses) {
    struct Row {
        double deadline;
        double endsAt;  // seconds after the start; 0: finishes (200 bytes take 398 s)
    };
    for (const Row& row : {Row{120, 120}, Row{0, 0}, Row{500, 0}}) {
        SCOPED_TRACE(row.deadline);
        delegate = std::make_shared<hxtest::RecordingDelegate>();
        transport->enqueue(Reply::redirect(302, "/drip"));
        Reply drip = Reply::ok(std::string(200, 'x'));
        drip.delay = 10;
        drip.chunkSize = 1;
        drip.pieceInterval = 2;
        transport->enqueue(drip);
        net::URLRequest request("http://service.test/list", 90);
        request.setDeadlineInterval(row.deadline);
        const double start = loop.now();
        auto c = net::URLConnection::create(request, delegate, true, transport);
        double endedAt = 0;
        for (int step = 0; step < 500 && !delegate->done; ++step) {
            loop.advance(1);
            loop.runOnce(0);
            endedAt = loop.now() - start;
        }
        ASSERT_TRUE(delegate->done);
        if (row.endsAt > 0) {
            ASSERT_TRUE(delegate->error);
            EXPECT_EQ(delegate->error->code, net::kURLErrorTimedOut);
            EXPECT_NEAR(endedAt, row.endsAt, 1.0);
        } else {
            EXPECT_FALSE(delegate->error);
            EXPECT_EQ(delegate->events.back(), "finish");
            EXPECT_EQ(delegate->body.size(), 200u);
        }
    }
}

TEST_F(Fixture, CancelInsideACallbackStopsEverythingAfterIt) {
    Reply r = Reply::ok("0123456789");
    r.chunkSize = 2;
    transport->enqueue(r);
    delegate->onResponse = [](net::URLConnection& c) { c.cancel(); };
    auto c = net::URLConnection::create(net::URLRequest("http://service.test/c"), delegate, true, transport);
    for (int i = 0; i < 50; ++i) loop.runOnce(0);
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"willSend http://service.test/c", "response 200"}));

    // Cancelled before the loop even turned: nothing at all.
    auto silent = std::make_shared<hxtest::RecordingDelegate>();
    transport->enqueue(Reply::ok("x"));
    auto d = net::URLConnection::create(net::URLRequest("http://service.test/d"), silent, true, transport);
    d->cancel();
    for (int i = 0; i < 20; ++i) loop.runOnce(0);
    EXPECT_TRUE(silent->events.empty());
}

TEST_F(Fixture, RepliesLargerThanTheRequestsLimitFailWhileTheyArrive) {
    EXPECT_EQ(net::URLRequest("http://service.test/").maximumReplyBytes(), 32u << 20);
    struct Case {
        std::string name;
        Reply reply;
        size_t limit;
        bool fits;
    };
    Reply bomb = Reply::ok(gzipOfZeros(64u << 20));  // 64 MB of zeros in about 64 KB
    bomb.headers.set("Content-Encoding", "gzip");
    Reply deflated = Reply::ok(gzipOfZeros(3000));
    deflated.headers.set("Content-Encoding", "gzip");
    Reply chunked = Reply::ok(std::string(5000, 'p'));
    chunked.chunkSize = 700;
    Reply redirect = Reply::redirect(302, "/next");
    redirect.body = std::string(5000, 'r');
    std::vector<Case> cases = {
        {"plain at the limit", Reply::ok(std::string(4096, 'a')), 4096, true},
        {"plain one over", Reply::ok(std::string(4097, 'a')), 4096, false},
        {"in pieces", chunked, 4096, false},
        {"encoded within", deflated, 3000, true},
        {"encoded one over", deflated, 2999, false},
        {"bomb under the default limit", bomb, 32u << 20, false},
        {"a refused redirect's body", redirect, 4096, false},
    };
    for (auto& c : cases) {
        auto counting = std::make_shared<CountingDelegate>();
        delegate = counting;
        if (c.name == "a refused redirect's body")
            delegate->onWillSend = [](net::URLRequest r, const net::HTTPURLResponse* redirectResponse) {
                return redirectResponse ? std::optional<net::URLRequest>() : std::optional<net::URLRequest>(r);
            };
        transport->enqueue(c.reply);
        net::URLRequest request("http://service.test/big");
        request.setMaximumReplyBytes(c.limit);
        run(request);
        if (c.fits) {
            EXPECT_EQ(delegate->events.back(), "finish") << c.name;
            continue;
        }
        ASSERT_TRUE(delegate->error) << c.name;
        EXPECT_EQ(delegate->error->code, net::kURLErrorDataLengthExceedsMaximum) << c.name;
        EXPECT_LE(counting->received, c.limit) << c.name;
    }
}
