// Set-Cookie parsing with the defaults a response URL implies, cookie dates, the Cookie header
// builder, header maps and URL resolution.
#include <gtest/gtest.h>

#include "platform/net/cookie.h"
#include "platform/net/response_head.h"
#include "platform/net/url_parts.h"
#include "tests/support/test_support.h"

using net::Cookie;

namespace {
constexpr double kNow = 1'700'000'000.0;  // 2023-11-14T22:13:20Z

Cookie parse(const std::string& header, const std::string& url = "http://www.example.test/voice/b/0/inbox") {
    auto c = Cookie::parseSetCookie(header, url, kNow);
    EXPECT_TRUE(c.ok()) << header;
    return c.ok() ? c.value() : Cookie{};
}
}  // namespace

TEST(SetCookie, DefaultsComeFromTheResponseURL) {
    Cookie c = parse("SID=abc");
    EXPECT_EQ(c.name, "SID");
    EXPECT_EQ(c.value, "abc");
    EXPECT_EQ(c.domain, "www.example.test");  // host-only: no leading dot
    EXPECT_EQ(c.path, "/voice/b/0");          // the directory of the request path
    EXPECT_TRUE(c.isSessionOnly());
    EXPECT_FALSE(c.secure);

    EXPECT_EQ(parse("a=1", "http://h.test").path, "/");
    EXPECT_EQ(parse("a=1", "http://h.test/x").path, "/");
    EXPECT_EQ(parse("a=1; Path=relative").path, "/voice/b/0");
    EXPECT_EQ(parse("a=1; Path=/voice").path, "/voice");
    EXPECT_EQ(parse("a=1", "http://H.Example.TEST/").domain, "h.example.test");
}

TEST(SetCookie, AttributesAndTheirPrecedence) {
    Cookie c =
        parse(" n = v w ; Domain=.Example.test; Secure; HttpOnly; SameSite=Lax; Expires=Wed, 21 Oct 2037 07:28:00 GMT");
    EXPECT_EQ(c.name, "n");
    EXPECT_EQ(c.value, "v w");
    EXPECT_EQ(c.domain, ".example.test");
    EXPECT_TRUE(c.secure);
    EXPECT_TRUE(c.httpOnly);
    ASSERT_TRUE(c.expiresDate);
    EXPECT_DOUBLE_EQ(*c.expiresDate, 2139722880.0);  // date -u -d '2037-10-21 07:28:00' +%s

    // Max-Age wins over Expires, whatever their order; zero or negative means already gone.
    EXPECT_DOUBLE_EQ(*parse("a=1; Max-Age=60; Expires=Wed, 21 Oct 2037 07:28:00 GMT").expiresDate, kNow + 60);
    EXPECT_DOUBLE_EQ(*parse("a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT; Max-Age=60").expiresDate, kNow + 60);
    EXPECT_LE(*parse("a=1; Max-Age=0").expiresDate, kNow);
    EXPECT_LE(*parse("a=1; Max-Age=-5").expiresDate, kNow);
    EXPECT_TRUE(parse("a=1; Max-Age=12x").isSessionOnly());
    EXPECT_TRUE(parse("a=1; Expires=someday").isSessionOnly());
    EXPECT_EQ(parse("a=").value, "");
    EXPECT_EQ(parse("a=b=c").value, "b=c");
}

TEST(SetCookie, CookiesAUserAgentMustIgnoreAreRejected) {
    const std::string url = "http://a.example.test/";
    EXPECT_FALSE(Cookie::parseSetCookie("novalue", url, kNow).ok());
    EXPECT_FALSE(Cookie::parseSetCookie("=v", url, kNow).ok());
    EXPECT_FALSE(Cookie::parseSetCookie("a=1; Domain=other.test", url, kNow).ok());
    EXPECT_FALSE(Cookie::parseSetCookie("a=1; Domain=xample.test", url, kNow).ok());  // not on a label boundary
    EXPECT_FALSE(Cookie::parseSetCookie("a=1; Domain=b.a.example.test", url, kNow).ok());
    EXPECT_FALSE(Cookie::parseSetCookie("a=1", "not a url", kNow).ok());
    EXPECT_TRUE(Cookie::parseSetCookie("a=1; Domain=example.test", url, kNow).ok());
    // A line break or NUL anywhere would travel back inside the Cookie request header.
    for (const std::string& field : std::vector<std::string>{"a=1\r\nInjected: yes", "a=1\n", "a\r=1",
                                                             "a=1; Path=/\r\nX: y", std::string("a=1\0b", 5)}) {
        auto refused = Cookie::parseSetCookie(field, url, kNow);
        ASSERT_FALSE(refused.ok()) << field;
        EXPECT_EQ(refused.error().code, 6);
    }
    // An address has no parent domain: its cookie stays for that address.
    auto ip = Cookie::parseSetCookie("a=1; Domain=127.0.0.1", "http://127.0.0.1:8080/x", kNow);
    ASSERT_TRUE(ip.ok());
    EXPECT_EQ(ip->domain, "127.0.0.1");
}

TEST(CookieDate, ServerFormatsParseAndNonsenseDoesNot) {
    EXPECT_EQ(net::parseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777.0);
    EXPECT_EQ(net::parseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777.0);
    EXPECT_EQ(net::parseCookieDate("Sun Nov  6 08:49:37 1994"), 784111777.0);
    EXPECT_EQ(net::parseCookieDate("Thu, 01 Jan 1970 00:00:00 GMT"), 0.0);
    EXPECT_EQ(net::parseCookieDate("Tue, 29 Feb 2000 12:00:00 GMT"), 951825600.0);
    EXPECT_FALSE(net::parseCookieDate("Mon, 29 Feb 2021 12:00:00 GMT"));
    EXPECT_FALSE(net::parseCookieDate("Mon, 32 Jan 2021 12:00:00 GMT"));
    EXPECT_FALSE(net::parseCookieDate("Mon, 01 Jan 2021 24:00:00 GMT"));
    EXPECT_FALSE(net::parseCookieDate("01 Jan 2021"));
    EXPECT_FALSE(net::parseCookieDate(""));
}

TEST(CookieHeader, FormatsExactlyTheCookiesGivenInOrder) {
    Cookie a{"a", "1", "x.test", "/"}, b{"b", "two words", ".other.test", "/p", 5.0, true};
    EXPECT_EQ(Cookie::requestHeaderValue({a, b}), "a=1; b=two words");
    EXPECT_EQ(Cookie::requestHeaderValue({b, a}), "b=two words; a=1");
    EXPECT_FALSE(Cookie::requestHeaderValue({}));
}

TEST(CookieHeader, EverySetCookieFieldOfAResponseCounts) {
    net::HeaderMap headers;
    headers.add("Set-Cookie", "a=1; Expires=Wed, 21 Oct 2037 07:28:00 GMT");
    headers.add("content-type", "text/html");
    headers.add("set-cookie", "b=2");
    headers.add("Set-Cookie", "broken");
    auto cookies = Cookie::cookiesWithResponseHeaderFields(headers, "http://h.test/", kNow);
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0].name, "a");
    EXPECT_EQ(cookies[1].name, "b");
}

TEST(CookieProperties, RoundTripAndRejectWrongTypes) {
    Cookie c{"n", "v", ".example.test", "/voice", 1234.5, true, true};
    auto back = Cookie::fromProperties(c.properties());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), c);
    Cookie session{"s", "", "h.test", "/"};
    EXPECT_EQ(Cookie::fromProperties(session.properties()).value(), session);
    auto bad = c.properties();
    bad.set("Secure", foundation::Value("yes"));
    EXPECT_FALSE(Cookie::fromProperties(bad).ok());
    foundation::Dictionary missing{{"Name", foundation::Value("n")}};
    EXPECT_FALSE(Cookie::fromProperties(missing).ok());
    // An archived cookie with a line break is refused like a received one.
    for (const char* key : {"Name", "Value", "Domain", "Path"}) {
        auto broken = c.properties();
        broken.set(key, foundation::Value("x\r\nInjected: yes"));
        auto r = Cookie::fromProperties(broken);
        ASSERT_FALSE(r.ok()) << key;
        EXPECT_EQ(r.error().code, 6) << key;
    }
}

TEST(HeaderMap, NamesIgnoreCaseAndSetReplaces) {
    net::HeaderMap h;
    h.set("Content-Type", "a");
    h.add("X", "1");
    h.add("x", "2");
    h.set("content-type", "b");
    EXPECT_EQ(h.get("CONTENT-TYPE"), "b");
    EXPECT_EQ(h.fields().front().first, "Content-Type");
    EXPECT_EQ(h.getAll("X"), (std::vector<std::string>{"1", "2"}));
    h.set("x", "3");
    EXPECT_EQ(h.getAll("X"), (std::vector<std::string>{"3"}));
    EXPECT_TRUE(h.remove("X"));
    EXPECT_FALSE(h.contains("x"));
}

TEST(URLParts, ParsingAndRedirectResolution) {
    auto p = net::URLParts::parse("HTTPS://User@Www.Example.Test:8443/voice/b/0?x=1#frag");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->scheme, "https");
    EXPECT_EQ(p->host, "www.example.test");
    EXPECT_EQ(p->port, 8443);
    EXPECT_EQ(p->path, "/voice/b/0");
    EXPECT_EQ(p->query, "x=1");
    EXPECT_EQ(net::URLParts::parse("http://[::1]:80/")->host, "::1");
    EXPECT_FALSE(net::URLParts::parse("http://h.test:99999/"));
    EXPECT_FALSE(net::URLParts::parse("/relative"));
    EXPECT_FALSE(net::URLParts::parse("http:///nohost"));

    const std::string base = "http://h.test:81/a/b/c?q=1";
    EXPECT_EQ(net::resolveURL(base, "/x"), "http://h.test:81/x");
    EXPECT_EQ(net::resolveURL(base, "d"), "http://h.test:81/a/b/d");
    EXPECT_EQ(net::resolveURL(base, "../d?z"), "http://h.test:81/a/d?z");
    EXPECT_EQ(net::resolveURL(base, "./"), "http://h.test:81/a/b/");
    EXPECT_EQ(net::resolveURL(base, "?y=2"), "http://h.test:81/a/b/c?y=2");
    EXPECT_EQ(net::resolveURL(base, "//other.test/p"), "http://other.test/p");
    EXPECT_EQ(net::resolveURL(base, "https://s.test/x"), "https://s.test/x");
    EXPECT_EQ(net::resolveURL(base, "/../../x"), "http://h.test:81/x");
    EXPECT_FALSE(net::resolveURL("garbage", "/x"));
}

TEST(ResponseHead, StatusLinesFieldsAndTheEndOfAHead) {
    struct Case {
        std::vector<std::string> lines;
        int completedAt;  // index of the line that completes the head, -1 for none
        int status;
        std::vector<std::pair<std::string, std::string>> fields;
    };
    const Case cases[] = {
        {{"HTTP/1.1 200 OK\r\n", "Content-Type: text/html\r\n", "Set-Cookie: a=1\r\n", "Set-Cookie: b=2\r\n", "\r\n"},
         4,
         200,
         {{"Content-Type", "text/html"}, {"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}}},
        // An informational reply is forgotten; only the final head counts.
        {{"HTTP/1.1 100 Continue\r\n", "X-Early: 1\r\n", "\r\n", "HTTP/1.1 302 Found\r\n", "Location: /x\r\n", "\r\n"},
         5,
         302,
         {{"Location", "/x"}}},
        {{"HTTP/2 204 \n", "x-a:\t v \n", "no colon\n", "\n"}, 3, 204, {{"x-a", "v "}}},
        // A status of fewer than three digits, or none, never completes a head.
        {{"HTTP/1.0 2\r\n", "\r\n"}, -1, 2, {}},
        {{"HTTP/1.1 abc\r\n", "\r\n"}, -1, 0, {}},
        {{"HTTP/1.1 20000 Big\r\n", "\r\n"}, 1, 200, {}},
    };
    for (const auto& c : cases) {
        net::ResponseHeadParser parser("http://h.test/a");
        int completed = -1;
        for (size_t i = 0; i < c.lines.size(); ++i)
            if (parser.addLine(c.lines[i])) completed = int(i);
        EXPECT_EQ(completed, c.completedAt) << c.lines[0];
        EXPECT_EQ(parser.response().statusCode, c.status) << c.lines[0];
        EXPECT_EQ(parser.response().url, "http://h.test/a");
        EXPECT_EQ(parser.response().headers.fields(), c.fields) << c.lines[0];
    }
    // Trailers after a complete head do not change it.
    net::ResponseHeadParser parser("http://h.test/");
    for (const char* line : {"HTTP/1.1 200 OK\r\n", "A: 1\r\n", "\r\n", "Trailer: t\r\n", "\r\n"}) parser.addLine(line);
    EXPECT_EQ(parser.response().headers.fields().size(), 1u);
}

TEST(URLParts, RedirectsResolveAsTheReferenceRulesSay) {
    // The normal examples of the URI reference-resolution rules, checked against python3's
    // urljoin as an independent resolver.
    const std::string base = "http://a.test/b/c/d;p?q";
    const std::vector<std::string> refs = {"g",    "./g",   "g/",     "/g",      "//g.test", "?y",        "g?y",
                                           ";x",   "g;x",   "",       ".",       "./",       "..",        "../",
                                           "../g", "../..", "../../", "../../g", "g?y/./x",  "g/./h/../i"};
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 missing";
    // One run resolves them all, a line each.
    std::string command = "python3 -c 'import sys,urllib.parse as u; "
                          "sys.stdout.write(\"\\n\".join(u.urljoin(sys.argv[1], r) for r in sys.argv[2:]))' '" +
                          base + "'";
    for (const auto& ref : refs) command += " '" + ref + "'";
    std::string resolved;
    ASSERT_EQ(hxtest::runCommand(command, &resolved), 0);
    std::vector<std::string> expected;
    for (size_t from = 0;;) {
        const size_t end = resolved.find('\n', from);
        expected.push_back(resolved.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos) break;
        from = end + 1;
    }
    ASSERT_EQ(expected.size(), refs.size()) << resolved;
    for (size_t i = 0; i < refs.size(); ++i) EXPECT_EQ(net::resolveURL(base, refs[i]), expected[i]) << refs[i];
}

TEST(URLParts, PeersTextIsEscapedNotRefused) {
    // What servers write in Location headers and what callers put in request URLs without
    // escaping: spaces, non-ASCII, brackets in queries, a lone "%".
    auto p = net::URLParts::parse("http://h.test/a b/\xC3\xA9?x[]=1&y=100%");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path, "/a%20b/%C3%A9");
    EXPECT_EQ(p->query, "x%5B%5D=1&y=100%25");
    EXPECT_EQ(net::resolveURL("http://h.test/a/", "../new place?q=\"v\""), "http://h.test/new%20place?q=%22v%22");
    EXPECT_EQ(net::resolveURL("http://h.test/a/", "  http://[::1]:8080/x  "), "http://[::1]:8080/x");
    // Escapes already there are kept as written.
    EXPECT_EQ(net::URLParts::parse("http://h.test/%41%2f")->path, "/%41%2f");
    // Structure still has to hold.
    EXPECT_FALSE(net::URLParts::parse("http://[::1/x"));
    EXPECT_FALSE(net::URLParts::parse("http://h.test:8x/"));
    EXPECT_FALSE(net::resolveURL("http://h.test/", "http://h.test:70000/"));
}
