#include "platform/net/cookie.h"

#include <cstdint>

#include "platform/foundation/dates.h"
#include "platform/foundation/strings.h"
#include "platform/net/url_parts.h"

namespace net {

namespace {

constexpr const char* kCookieErrorDomain = "net.cookie";

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool isDelimiter(unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A cookie goes back out inside a Cookie request header: a CR or LF in it would start a header
// line of the server's choosing, a NUL would cut the line.
bool breaksHeaderLine(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos; }

// Reads 1..maxDigits digits at the start of token; the count read, or 0.
size_t leadingDigits(std::string_view token, size_t maxDigits, int& value) {
    size_t n = 0;
    value = 0;
    while (n < token.size() && n < maxDigits + 1 && isDigit(token[n])) {
        value = value * 10 + (token[n] - '0');
        ++n;
    }
    if (n == 0 || n > maxDigits) return 0;
    return n;
}

bool parseTime(std::string_view token, int& h, int& m, int& s) {
    int parts[3];
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        int v = 0;
        size_t n = leadingDigits(token.substr(pos), 2, v);
        if (n == 0) return false;
        parts[i] = v;
        pos += n;
        if (i < 2) {
            if (pos >= token.size() || token[pos] != ':') return false;
            ++pos;
        }
    }
    h = parts[0];
    m = parts[1];
    s = parts[2];
    return true;
}

bool domainMatches(const std::string& host, const std::string& domain) {
    if (host == domain) return true;
    if (isIPAddress(host)) return false;
    return host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.';
}

}  // namespace

std::optional<double> parseCookieDate(std::string_view text) {
    bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isDelimiter(static_cast<unsigned char>(text[i]))) ++i;
        size_t start = i;
        while (i < text.size() && !isDelimiter(static_cast<unsigned char>(text[i]))) ++i;
        std::string_view token = text.substr(start, i - start);
        if (token.empty()) continue;
        int h, m, s, v;
        if (!haveTime && parseTime(token, h, m, s)) {
            haveTime = true;
            hour = h;
            minute = m;
            second = s;
            continue;
        }
        if (!haveDay && leadingDigits(token, 2, v) > 0) {
            haveDay = true;
            day = v;
            continue;
        }
        if (!haveMonth && token.size() >= 3) {
            std::string prefix = foundation::asciiLowercase(token.substr(0, 3));
            bool found = false;
            for (int k = 0; k < 12; ++k)
                if (prefix == kMonths[k]) {
                    month = k + 1;
                    found = true;
                }
            if (found) {
                haveMonth = true;
                continue;
            }
        }
        if (!haveYear) {
            size_t n = leadingDigits(token, 4, v);
            if (n >= 2) {
                haveYear = true;
                year = v;
                continue;
            }
        }
    }
    if (!haveTime || !haveDay || !haveMonth || !haveYear) return std::nullopt;
    if (year >= 70 && year <= 99) year += 1900;
    if (year >= 0 && year <= 69) year += 2000;
    if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    static const int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDaysIn[month - 1] || (month == 2 && !leap && day > 28)) return std::nullopt;
    int64_t days = foundation::daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second);
}

bool cookiePathMatches(std::string_view cookiePath, std::string_view requestPath) {
    if (requestPath.empty()) requestPath = "/";
    if (cookiePath.empty()) cookiePath = "/";
    if (requestPath == cookiePath) return true;
    if (!requestPath.starts_with(cookiePath)) return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string defaultCookiePath(std::string_view requestPath) {
    if (requestPath.empty() || requestPath[0] != '/') return "/";
    size_t last = requestPath.rfind('/');
    if (last == 0) return "/";
    return std::string(requestPath.substr(0, last));
}

foundation::Result<Cookie> Cookie::parseSetCookie(std::string_view fieldValue, std::string_view url, double now) {
    auto parts = URLParts::parse(url);
    if (!parts) return foundation::Error::withDescription(kCookieErrorDomain, 1, "the response URL has no host");
    if (breaksHeaderLine(fieldValue))
        return foundation::Error::withDescription(kCookieErrorDomain, 6, "the cookie holds a CR, LF or NUL character");
    size_t semi = fieldValue.find(';');
    std::string_view pair = fieldValue.substr(0, semi);
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos)
        return foundation::Error::withDescription(kCookieErrorDomain, 2, "no name=value pair");
    Cookie cookie;
    cookie.name = std::string(trim(pair.substr(0, eq)));
    cookie.value = std::string(trim(pair.substr(eq + 1)));
    if (cookie.name.empty()) return foundation::Error::withDescription(kCookieErrorDomain, 3, "empty cookie name");

    std::optional<double> expires;
    std::optional<double> maxAgeExpiry;
    std::optional<std::string> domainAttribute;
    std::optional<std::string> pathAttribute;
    std::string_view rest = semi == std::string_view::npos ? std::string_view{} : fieldValue.substr(semi + 1);
    while (!rest.empty()) {
        size_t next = rest.find(';');
        std::string_view av = rest.substr(0, next);
        rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
        size_t avEq = av.find('=');
        std::string attribute = foundation::asciiLowercase(trim(av.substr(0, avEq)));
        std::string_view value = avEq == std::string_view::npos ? std::string_view{} : trim(av.substr(avEq + 1));
        if (attribute == "expires") {
            if (auto date = parseCookieDate(value)) expires = date;
        } else if (attribute == "max-age") {
            bool negative = !value.empty() && value[0] == '-';
            std::string_view digits = negative ? value.substr(1) : value;
            bool valid = !digits.empty();
            for (char c : digits) valid = valid && isDigit(c);
            if (!valid) continue;
            // Saturate: a huge delta is "far future", not an overflow.
            double delta = 0;
            for (char c : digits) delta = delta * 10 + (c - '0');
            if (negative || delta <= 0)
                maxAgeExpiry = 0.0;  // the earliest representable moment: already expired
            else
                maxAgeExpiry = now + delta;
        } else if (attribute == "domain") {
            std::string_view d = value;
            if (!d.empty() && d[0] == '.') d.remove_prefix(1);
            if (!d.empty()) domainAttribute = foundation::asciiLowercase(d);
        } else if (attribute == "path") {
            if (!value.empty() && value[0] == '/')
                pathAttribute = std::string(value);
            else
                pathAttribute.reset();
        } else if (attribute == "secure") {
            cookie.secure = true;
        } else if (attribute == "httponly") {
            cookie.httpOnly = true;
        }
    }
    cookie.expiresDate = maxAgeExpiry ? maxAgeExpiry : expires;
    if (domainAttribute) {
        if (!domainMatches(parts->host, *domainAttribute))
            return foundation::Error::withDescription(kCookieErrorDomain, 4,
                                                      "the Domain attribute does not cover the host");
        // An address cannot have subdomains: its cookie stays a host cookie.
        cookie.domain = isIPAddress(*domainAttribute) ? *domainAttribute : "." + *domainAttribute;
    } else {
        cookie.domain = parts->host;
    }
    cookie.path = pathAttribute ? *pathAttribute : defaultCookiePath(parts->path);
    return cookie;
}

std::vector<Cookie> Cookie::cookiesWithResponseHeaderFields(const HeaderMap& headers, std::string_view url,
                                                            double now) {
    std::vector<Cookie> cookies;
    for (const auto& field : headers.getAll("Set-Cookie")) {
        auto cookie = parseSetCookie(field, url, now);
        if (cookie) cookies.push_back(std::move(cookie.value()));
    }
    return cookies;
}

std::optional<std::string> Cookie::requestHeaderValue(const std::vector<Cookie>& cookies) {
    if (cookies.empty()) return std::nullopt;
    std::string header;
    for (const auto& c : cookies) {
        if (!header.empty()) header += "; ";
        header += c.name;
        header += '=';
        header += c.value;
    }
    return header;
}

foundation::Dictionary Cookie::properties() const {
    foundation::Dictionary d;
    d.set("Name", foundation::Value(name));
    d.set("Value", foundation::Value(value));
    d.set("Domain", foundation::Value(domain));
    d.set("Path", foundation::Value(path));
    if (expiresDate) d.set("Expires", foundation::Value(foundation::Date{*expiresDate}));
    d.set("Secure", foundation::Value(secure));
    d.set("HttpOnly", foundation::Value(httpOnly));
    return d;
}

foundation::Result<Cookie> Cookie::fromProperties(const foundation::Dictionary& properties) {
    Cookie c;
    auto str = [&](const char* key, std::string& out, bool required) -> bool {
        const foundation::Value* v = properties.find(key);
        if (!v) return !required;
        if (!v->isString()) return false;
        out = v->asString();
        return true;
    };
    auto flag = [&](const char* key, bool& out) -> bool {
        const foundation::Value* v = properties.find(key);
        if (!v) return true;
        if (!v->isBool()) return false;
        out = *v->ifBool();
        return true;
    };
    if (!str("Name", c.name, true) || !str("Value", c.value, true) || !str("Domain", c.domain, true) ||
        !str("Path", c.path, false) || !flag("Secure", c.secure) || !flag("HttpOnly", c.httpOnly))
        return foundation::Error::withDescription(kCookieErrorDomain, 5, "malformed cookie properties");
    if (breaksHeaderLine(c.name) || breaksHeaderLine(c.value) || breaksHeaderLine(c.domain) || breaksHeaderLine(c.path))
        return foundation::Error::withDescription(kCookieErrorDomain, 6, "the cookie holds a CR, LF or NUL character");
    if (const foundation::Value* v = properties.find("Expires")) {
        if (const foundation::Date* d = v->ifDate())
            c.expiresDate = d->secondsSince1970;
        else
            return foundation::Error::withDescription(kCookieErrorDomain, 5, "malformed cookie expiry");
    }
    return c;
}

}  // namespace net
