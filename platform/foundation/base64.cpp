#include "platform/foundation/base64.h"

#include <array>

namespace foundation {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr auto kTable = makeTable();

}  // namespace

std::string base64Encode(const uint8_t* p, size_t n) {
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    if (n - i == 1) {
        const uint32_t v = uint32_t(p[i]) << 16;
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out += "==";
    } else if (n - i == 2) {
        const uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8;
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back('=');
    }
    return out;
}

std::optional<Data> base64Decode(std::string_view text, Base64Decoding mode) {
    const bool strict = mode == Base64Decoding::Strict;
    if (strict && text.size() % 4 != 0) return std::nullopt;
    Data out;
    out.reserve(text.size() / 4 * 3);
    uint32_t acc = 0;
    int count = 0;    // sextets in the current group
    int padding = 0;  // "=" seen
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '=') {
            ++padding;
            continue;
        }
        const int8_t v = kTable[c];
        if (v < 0) {
            if (strict) return std::nullopt;
            continue;
        }
        if (padding) return std::nullopt;  // data after padding
        acc = acc << 6 | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(acc >> 16));
            out.push_back(static_cast<uint8_t>(acc >> 8));
            out.push_back(static_cast<uint8_t>(acc));
            acc = 0;
            count = 0;
        }
    }
    if (count == 1) return std::nullopt;
    if (strict) {
        // Padding must complete the last group exactly.
        if ((count == 0 && padding != 0) || (count == 2 && padding != 2) || (count == 3 && padding != 1)) {
            return std::nullopt;
        }
    } else if (padding > 2 || (count == 0 && padding != 0)) {
        return std::nullopt;
    }
    if (count == 2) {
        out.push_back(static_cast<uint8_t>(acc >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<uint8_t>(acc >> 10));
        out.push_back(static_cast<uint8_t>(acc >> 2));
    }
    return out;
}

}  // namespace foundation
