// The account's cookie jar: replacement and order, expiry, which cookies go to which URL, the
// Cookie header it sets, and its archive form.
#include <gtest/gtest.h>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/keyed_archiver.h"
#include "service/custom_cookie_jar.h"

namespace {

constexpr double kNow = 1'700'000'000.0;

net::HTTPURLResponse responseSetting(const std::string& url, std::vector<std::string> setCookies) {
    net::HTTPURLResponse r;
    r.url = url;
    r.statusCode = 200;
    for (auto& c : setCookies) r.headers.add("Set-Cookie", c);
    return r;
}

std::vector<std::string> names(const std::optional<std::vector<net::Cookie>>& cookies) {
    std::vector<std::string> out;
    if (cookies)
        for (auto& c : *cookies) out.push_back(c.name + "=" + c.value);
    return out;
}

struct Jar : ::testing::Test {
    CustomCookieJar jar;
    double now = kNow;
    void SetUp() override {
        jar.setClock([this] { return now; });
    }
};

}  // namespace

TEST_F(Jar, AResponseReplacesTheSameCookieAndMovesItLast) {
    jar.updateFromResponse(
        responseSetting("http://s.example.test/voice/", {"a=1; Path=/", "b=2; Path=/", "c=3; Path=/"}));
    jar.updateFromResponse(responseSetting("http://s.example.test/voice/", {"a=new; Path=/"}));
    EXPECT_EQ(names(jar._cookies()), (std::vector<std::string>{"b=2", "c=3", "a=new"}));
    // Same name on another path is another cookie.
    jar.updateFromResponse(responseSetting("http://s.example.test/voice/", {"a=p; Path=/voice"}));
    EXPECT_EQ(jar.numberOfCookies(), 4u);
    net::Cookie probe{"a", "", "s.example.test", "/voice"};
    ASSERT_TRUE(jar.cookieMatchingCookie(probe));
    EXPECT_EQ(jar.cookieMatchingCookie(probe)->value, "p");
    probe.domain = "S.example.test";  // the same-cookie test is case-sensitive
    EXPECT_FALSE(jar.cookieMatchingCookie(probe));
}

TEST_F(Jar, ExpiredArrivalsAreIgnoredAndStoredOnesExpireOnLookup) {
    jar.updateFromResponse(responseSetting("http://s.test/", {"keep=1; Path=/", "short=1; Path=/; Max-Age=10"}));
    jar.updateFromResponse(
        responseSetting("http://s.test/", {"keep=gone; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT"}));
    EXPECT_EQ(names(jar.cookiesForURL("http://s.test/")), (std::vector<std::string>{"keep=1", "short=1"}));
    now += 10;  // an expiry equal to now counts as expired
    EXPECT_EQ(names(jar.cookiesForURL("http://s.test/")), (std::vector<std::string>{"keep=1"}));
    EXPECT_EQ(jar.numberOfCookies(), 1u);
}

TEST_F(Jar, DomainPathAndSecureMatching) {
    jar.set_cookies({{"dot", "1", ".example.test", "/"},
                     {"host", "2", "a.example.test", "/"},
                     {"path", "3", ".example.test", "/voice"},
                     {"secure", "4", ".example.test", "/", std::nullopt, true},
                     {"", "nameless", ".example.test", "/"}});
    EXPECT_EQ(names(jar.cookiesForURL("http://a.example.test/voice/b/0/")),
              (std::vector<std::string>{"dot=1", "host=2", "path=3"}));
    EXPECT_EQ(names(jar.cookiesForURL("http://example.test/a/x")), (std::vector<std::string>{"dot=1"}));
    EXPECT_EQ(names(jar.cookiesForURL("https://EXAMPLE.test/a/x")), (std::vector<std::string>{"dot=1", "secure=4"}));
    EXPECT_FALSE(jar.cookiesForURL("http://other.test/"));
    EXPECT_FALSE(jar.cookiesForURL("no url at all"));
}

TEST_F(Jar, ADomainOnlyMatchesOnALabelBoundary) {
    // A host cookie of example.test must never reach badexample.test.
    jar.set_cookies({{"session", "secret", "example.test", "/"}, {"wide", "w", ".example.test", "/"}});
    EXPECT_FALSE(jar.cookiesForURL("http://badexample.test/"));
    EXPECT_FALSE(jar.cookiesForURL("http://xexample.test/"));
    EXPECT_EQ(names(jar.cookiesForURL("http://example.test/")), (std::vector<std::string>{"session=secret", "wide=w"}));
}

TEST_F(Jar, TheJarAlwaysSpeaksForTheCookieHeader) {
    EXPECT_FALSE(jar.cookiesForURL("http://s.test/").has_value());
    // A header left from an earlier host (a redirect's request is a copy of the last one) never
    // survives the jar: with nothing of its own to send, the jar sends nothing.
    net::URLRequest request("http://s.test/voice");
    request.setValue("SID=from-another-host", "Cookie");
    jar.addCookiesToRequest(request);
    EXPECT_FALSE(request.valueForHTTPHeaderField("Cookie"));
    request.setValue("SID=from-another-host", "Cookie");
    jar.set_cookies({{"a", "1", "other.test", "/"}});
    jar.addCookiesToRequest(request);
    EXPECT_FALSE(request.valueForHTTPHeaderField("Cookie"));
    request.setValue("SID=from-another-host", "Cookie");
    jar.set_cookies({{"a", "1", "s.test", "/"}, {"b", "2", "s.test", "/voice"}});
    jar.addCookiesToRequest(request);
    EXPECT_EQ(request.valueForHTTPHeaderField("cookie"), "a=1; b=2");
    EXPECT_EQ(request.allHTTPHeaderFields().size(), 1u);
    jar.empty();
    EXPECT_EQ(jar.numberOfCookies(), 0u);
    jar.addCookiesToRequest(request);
    EXPECT_TRUE(request.allHTTPHeaderFields().empty());
}

TEST_F(Jar, PathsMatchOnASegmentBoundary) {
    jar.set_cookies({{"voice", "1", "s.test", "/voice"},
                     {"slash", "2", "s.test", "/voice/"},
                     {"root", "3", "s.test", "/"},
                     {"deep", "4", "s.test", "/voice/b/0"}});
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"http://s.test/voice", {"voice=1", "root=3"}},
        {"http://s.test/voice/", {"voice=1", "slash=2", "root=3"}},
        {"http://s.test/voice/b/0", {"voice=1", "slash=2", "root=3", "deep=4"}},
        {"http://s.test/voice/b/0/inbox", {"voice=1", "slash=2", "root=3", "deep=4"}},
        {"http://s.test/voice/b/01", {"voice=1", "slash=2", "root=3"}},
        {"http://s.test/voicemail", {"root=3"}},
        {"http://s.test/voicemail/", {"root=3"}},
        {"http://s.test/voic", {"root=3"}},
        {"http://s.test", {"root=3"}},
        {"http://s.test/?voice", {"root=3"}},
    };
    for (const auto& [url, expected] : cases) EXPECT_EQ(names(jar.cookiesForURL(url)), expected) << url;
}

TEST_F(Jar, ArchiveRoundTripDropsMalformedEntries) {
    jar.set_cookies({{"a", "1", ".example.test", "/", kNow + 100, true, true}, {"b", "2", "h.test", "/p"}});
    foundation::Value archived = jar.archiveValue();
    CustomCookieJar restored(CustomCookieJar::cookiesFromArchiveValue(archived));
    EXPECT_EQ(restored._cookies(), jar._cookies());

    foundation::Array tampered = archived.asArray();
    tampered.push_back(foundation::Value("not a cookie"));
    tampered.push_back(foundation::Value(foundation::Dictionary{{"Name", foundation::Value(7)}}));
    EXPECT_EQ(CustomCookieJar::cookiesFromArchiveValue(foundation::Value(tampered)).size(), 2u);
    EXPECT_TRUE(CustomCookieJar::cookiesFromArchiveValue(foundation::Value("junk")).empty());
}

TEST_F(Jar, KeyedArchiveRoundTripAndForeignArchivesAreErrors) {
    jar.set_cookies(
        {{"SID", "s3cr3t", ".example.test", "/", kNow + 3600, true, true}, {"pref", "x y", "h.test", "/voice"}});
    auto archive = jar.archivedCookies();
    ASSERT_TRUE(archive.ok());
    auto restored = CustomCookieJar::cookiesFromArchive(archive.value());
    ASSERT_TRUE(restored.ok());
    EXPECT_EQ(restored.value(), jar._cookies());

    auto notCookies = foundation::archivedData(foundation::Value("just text"));
    ASSERT_TRUE(notCookies.ok());
    EXPECT_FALSE(CustomCookieJar::cookiesFromArchive(notCookies.value()).ok());
    EXPECT_FALSE(CustomCookieJar::cookiesFromArchive(foundation::Data{1, 2, 3}).ok());
}

TEST(JarClock, ExpiryFollowsTheProcessClock) {
    dispatch::ScopedVirtualClock clock(kNow);
    CustomCookieJar jar;
    net::HTTPURLResponse r = responseSetting("http://s.test/", {"a=1; Max-Age=30"});
    jar.updateFromResponse(r);
    ASSERT_EQ(jar.numberOfCookies(), 1u);
    EXPECT_DOUBLE_EQ(*jar._cookies()[0].expiresDate, kNow + 30);
    clock->advance(29);
    EXPECT_TRUE(jar.cookiesForURL("http://s.test/"));
    clock->advance(1);
    EXPECT_FALSE(jar.cookiesForURL("http://s.test/"));
}
