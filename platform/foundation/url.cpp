#include "platform/foundation/url.h"

namespace foundation {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigitChar(char c) { return c >= '0' && c <= '9'; }

bool validScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) return false;
    for (char c : s) {
        if (!isAlpha(c) && !isDigitChar(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// Characters a URL may carry literally (brackets are checked separately, for the host).
bool allowedInURL(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) return false;
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return false;
        default:
            return true;
    }
}

bool escapesWellFormed(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') continue;
        if (s.size() - i < 3) return false;
        if (hexValue(s[i + 1]) < 0 || hexValue(s[i + 2]) < 0) return false;
        i += 2;
    }
    return true;
}

std::string removeDotSegments(std::string_view input) {
    std::string in(input);
    std::string out;
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.erase(0, 3);
        } else if (in.starts_with("./")) {
            in.erase(0, 2);
        } else if (in.starts_with("/./")) {
            in.erase(0, 2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../") || in == "/..") {
            in = in == "/.." ? std::string("/") : in.substr(3);
            const size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            const size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            const size_t len = next == std::string::npos ? in.size() : next;
            out.append(in, 0, len);
            in.erase(0, len);
        }
    }
    return out;
}

}  // namespace

std::string percentEncode(std::string_view text, const CharacterSet& allowed) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t len;
        const char32_t cp = decodeUtf8(text, i, &len);
        // A malformed byte decodes as U+FFFD: it is never allowed, so it is escaped as it stands.
        const bool malformed = cp == 0xFFFD && len == 1;
        if (!malformed && allowed.contains(cp)) {
            out.append(text.substr(i, len));
        } else {
            for (size_t k = 0; k < len; ++k) {
                const auto b = static_cast<unsigned char>(text[i + k]);
                out.push_back('%');
                out.push_back(hex[b >> 4]);
                out.push_back(hex[b & 15]);
            }
        }
        i += len;
    }
    return out;
}

std::string queryItemEncoded(std::string_view text) {
    static const CharacterSet itemAllowed =
        CharacterSet::urlQueryAllowed().subtracting(CharacterSet::fromCharacters("&=+"));
    return percentEncode(text, itemAllowed);
}

std::optional<Data> percentDecodeBytes(std::string_view text) {
    Data out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(static_cast<uint8_t>(text[i]));
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
        i += 2;
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    auto bytes = percentDecodeBytes(text);
    if (!bytes) return std::nullopt;
    return stringFromUtf8(*bytes);
}

// ---- URL

std::optional<URL> URL::parse(std::string_view text) {
    for (char c : text) {
        if (!allowedInURL(c)) return std::nullopt;
    }
    if (!escapesWellFormed(text)) return std::nullopt;
    URL url;
    std::string_view rest = text;
    // Fragment and query first: everything after them is theirs.
    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment_ = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const size_t q = rest.find('?'); q != std::string_view::npos) {
        url.query_ = std::string(rest.substr(q + 1));
        rest = rest.substr(0, q);
    }
    if (const size_t colon = rest.find(':'); colon != std::string_view::npos) {
        const size_t slash = rest.find('/');
        if ((slash == std::string_view::npos || colon < slash) && validScheme(rest.substr(0, colon))) {
            url.scheme_ = std::string(rest.substr(0, colon));
            rest = rest.substr(colon + 1);
        }
    }
    if (rest.starts_with("//")) {
        url.hasAuthority_ = true;
        rest = rest.substr(2);
        const size_t end = rest.find('/');
        std::string_view authority = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
            const std::string_view userinfo = authority.substr(0, at);
            authority = authority.substr(at + 1);
            const size_t colon = userinfo.find(':');
            url.user_ = std::string(userinfo.substr(0, colon));
            if (colon != std::string_view::npos) url.password_ = std::string(userinfo.substr(colon + 1));
            if (userinfo.find_first_of("[]") != std::string_view::npos) return std::nullopt;
        }
        std::string_view portText;
        if (authority.starts_with("[")) {
            const size_t close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            url.host_ = std::string(authority.substr(0, close + 1));
            const std::string_view after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') return std::nullopt;
                portText = after.substr(1);
            }
            if (url.host_.find('[', 1) != std::string::npos) return std::nullopt;
        } else {
            const size_t colon = authority.rfind(':');
            url.host_ = std::string(authority.substr(0, colon));
            if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
            if (url.host_.find_first_of("[]") != std::string::npos) return std::nullopt;
        }
        if (!portText.empty()) {
            if (portText.size() > 5) return std::nullopt;
            int port = 0;
            for (char c : portText) {
                if (!isDigitChar(c)) return std::nullopt;
                port = port * 10 + (c - '0');
            }
            if (port > 65535) return std::nullopt;
            url.port_ = port;
        }
    }
    if (rest.find_first_of("[]") != std::string_view::npos) return std::nullopt;
    if (url.query_ && url.query_->find_first_of("[]") != std::string::npos) return std::nullopt;
    url.path_ = std::string(rest);
    url.recompose();
    return url;
}

std::optional<URL> URL::parseLenient(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // Brackets belong to the host only: the authority ends at the first "/", "?" or "#" after "//".
    size_t hostBegin = std::string_view::npos, hostEnd = std::string_view::npos;
    if (const size_t slashes = text.find("//"); slashes != std::string_view::npos) {
        const size_t colon = text.find(':');
        if (slashes == 0 || (colon != std::string_view::npos && slashes == colon + 1)) {
            hostBegin = slashes + 2;
            hostEnd = text.find_first_of("/?#", hostBegin);
            if (hostEnd == std::string_view::npos) hostEnd = text.size();
        }
    }
    auto keeps = [&](size_t i) {
        const char c = text[i];
        if (c == '%') return text.size() - i >= 3 && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0;
        if (c == '[' || c == ']') return hostBegin != std::string_view::npos && i >= hostBegin && i < hostEnd;
        return allowedInURL(c);
    };
    size_t first = 0;
    while (first < text.size() && keeps(first)) ++first;
    if (first == text.size()) return parse(text);  // the usual case: nothing to escape
    std::string escaped(text.substr(0, first));
    escaped.reserve(text.size() + 16);
    for (size_t i = first; i < text.size(); ++i) {
        if (keeps(i)) {
            escaped.push_back(text[i]);
        } else {
            const auto u = static_cast<unsigned char>(text[i]);
            escaped.push_back('%');
            escaped.push_back(kHex[u >> 4]);
            escaped.push_back(kHex[u & 15]);
        }
    }
    return parse(escaped);
}

URL URL::fileURL(std::string_view path) {
    URL url;
    url.scheme_ = "file";
    url.hasAuthority_ = true;
    std::string p(path);
    if (p.empty() || p[0] != '/') p.insert(0, "/");
    url.path_ = percentEncode(p, CharacterSet::urlPathAllowed());
    url.recompose();
    return url;
}

void URL::recompose() {
    std::string t;
    if (scheme_) t += *scheme_ + ":";
    if (hasAuthority_) {
        t += "//";
        if (user_) {
            t += *user_;
            if (password_) t += ":" + *password_;
            t += "@";
        }
        t += host_;
        if (port_) t += ":" + std::to_string(*port_);
    }
    t += path_;
    if (query_) t += "?" + *query_;
    if (fragment_) t += "#" + *fragment_;
    text_ = std::move(t);
}

std::optional<std::string> URL::user() const { return user_ ? percentDecode(*user_) : std::nullopt; }
std::optional<std::string> URL::password() const { return password_ ? percentDecode(*password_) : std::nullopt; }

std::optional<std::string> URL::host() const {
    if (!hasAuthority_) return std::nullopt;
    if (host_.starts_with("[") && host_.ends_with("]")) return host_.substr(1, host_.size() - 2);
    return percentDecode(host_);
}

std::string URL::path() const {
    auto decoded = percentDecode(path_);
    return decoded ? *decoded : path_;
}

std::vector<QueryItem> URL::queryItems() const {
    std::vector<QueryItem> items;
    if (!query_ || query_->empty()) return items;
    for (const std::string& piece : split(*query_, "&")) {
        QueryItem item;
        const size_t eq = piece.find('=');
        const std::string name = piece.substr(0, eq);
        item.name = percentDecode(name).value_or(name);
        if (eq != std::string::npos) {
            const std::string value = piece.substr(eq + 1);
            item.value = percentDecode(value).value_or(value);
        }
        items.push_back(std::move(item));
    }
    return items;
}

bool URL::isFileURL() const { return scheme_ && lowercase(*scheme_) == "file"; }

std::string URL::lastPathComponent() const {
    std::string p = path();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p == "/") return p;
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string URL::pathExtension() const {
    const std::string last = lastPathComponent();
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
    return last.substr(dot + 1);
}

std::optional<URL> URL::resolve(std::string_view reference) const {
    auto r = URL::parse(reference);
    if (!r) return std::nullopt;
    URL t;
    if (r->scheme_) {
        t = *r;
        t.path_ = removeDotSegments(r->path_);
    } else {
        if (r->hasAuthority_) {
            t.hasAuthority_ = true;
            t.user_ = r->user_;
            t.password_ = r->password_;
            t.host_ = r->host_;
            t.port_ = r->port_;
            t.path_ = removeDotSegments(r->path_);
            t.query_ = r->query_;
        } else {
            if (r->path_.empty()) {
                t.path_ = path_;
                t.query_ = r->query_ ? r->query_ : query_;
            } else {
                if (r->path_[0] == '/') {
                    t.path_ = removeDotSegments(r->path_);
                } else {
                    std::string merged;
                    if (hasAuthority_ && path_.empty()) {
                        merged = "/" + r->path_;
                    } else {
                        const size_t slash = path_.rfind('/');
                        merged = (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) + r->path_;
                    }
                    t.path_ = removeDotSegments(merged);
                }
                t.query_ = r->query_;
            }
            t.hasAuthority_ = hasAuthority_;
            t.user_ = user_;
            t.password_ = password_;
            t.host_ = host_;
            t.port_ = port_;
        }
        t.scheme_ = scheme_;
    }
    t.fragment_ = r->fragment_;
    t.recompose();
    return t;
}

// ---- URLComponents

std::optional<URL> URLComponents::url() const {
    URL u;
    if (scheme) {
        if (!validScheme(*scheme)) return std::nullopt;
        u.scheme_ = *scheme;
    }
    if (port && (*port < 0 || *port > 65535)) return std::nullopt;
    const bool authority = host || user || password || port;
    if (authority) {
        u.hasAuthority_ = true;
        if (user) u.user_ = percentEncode(*user, CharacterSet::urlUserAllowed());
        if (password) {
            if (!u.user_) u.user_ = "";
            u.password_ = percentEncode(*password, CharacterSet::urlPasswordAllowed());
        }
        if (host) {
            const bool ipv6 = host->find(':') != std::string::npos;
            u.host_ =
                ipv6 ? "[" + *host + "]"
                     : percentEncode(*host,
                                     CharacterSet::urlHostAllowed().subtracting(CharacterSet::fromCharacters(":[]")));
        }
        u.port_ = port;
        if (!path.empty() && path[0] != '/') return std::nullopt;
    }
    u.path_ = percentEncode(path, CharacterSet::urlPathAllowed());
    if (queryItems) {
        std::string q;
        for (size_t k = 0; k < queryItems->size(); ++k) {
            const QueryItem& item = (*queryItems)[k];
            if (k) q += "&";
            q += queryItemEncoded(item.name);
            if (item.value) q += "=" + queryItemEncoded(*item.value);
        }
        u.query_ = std::move(q);
    }
    if (fragment) u.fragment_ = percentEncode(*fragment, CharacterSet::urlFragmentAllowed());
    u.recompose();
    return u;
}

}  // namespace foundation
