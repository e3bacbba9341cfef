// Fuzzes the Set-Cookie parser, the cookie-date reader and the jar's matching with header
// values and URLs taken from the input. Layout: first byte picks the URL's length share, the
// rest splits into a URL and a header value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net/cookie.h"
#include "platform/net/url_parts.h"
#include "service/custom_cookie_jar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t urlLength = data[0] % 64;
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (urlLength > rest.size()) urlLength = rest.size();
    std::string url = "http://" + rest.substr(0, urlLength);
    std::string header = rest.substr(urlLength);

    auto cookie = net::Cookie::parseSetCookie(header, url, 1'700'000'000.0);
    (void)net::parseCookieDate(header);
    (void)net::resolveURL(url, header);
    if (cookie) {
        auto back = net::Cookie::fromProperties(cookie->properties());
        if (!back || !(back.value() == cookie.value())) __builtin_trap();
        CustomCookieJar jar({cookie.value()});
        jar.setClock([] { return 1'700'000'000.0; });
        (void)jar.cookiesForURL(url);
        (void)net::Cookie::requestHeaderValue(jar._cookies());
    }
    net::HTTPURLResponse response;
    response.url = url;
    response.headers.add("Set-Cookie", header);
    CustomCookieJar jar;
    jar.updateFromResponse(response);
    return 0;
}
