#include "ui/widgets/right_to_left_text.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isSeparator(char c) {
    return c == ':' || c == '.' || c == ',' || c == '-' || c == '/' || c == ' ' || c == '(' || c == ')';
}

void appendIsolatingNumbers(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const bool lead = (text[i] == '+' || text[i] == '(') && i + 1 < text.size() && isDigit(text[i + 1]);
        if (!isDigit(text[i]) && !lead) {
            out.push_back(text[i++]);
            continue;
        }
        // The number runs to its last digit: separators count only between digits.
        size_t end = i + 1;
        for (size_t j = i + 1; j < text.size() && (isDigit(text[j]) || isSeparator(text[j])); ++j)
            if (isDigit(text[j])) end = j + 1;
        long open = 0;
        for (size_t j = i; j < end; ++j) open += text[j] == '(' ? 1 : text[j] == ')' ? -1 : 0;
        while (open > 0 && end < text.size() && text[end] == ')') ++end, --open;
        // A parenthesis left open stays outside with its partner, mirrored with it.
        size_t start = i;
        if (open > 0 && text[i] == '(') out.push_back(text[start++]);
        out.append(kHXLeftToRightIsolate).append(text.substr(start, end - start)).append(kHXPopIsolate);
        i = end;
    }
}

}  // namespace

std::string hxRightToLeftLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    size_t start = 0;
    while (true) {
        const size_t end = text.find('\n', start);
        out.append(kHXRightToLeftIsolate);
        appendIsolatingNumbers(out, text.substr(start, end == std::string_view::npos ? end : end - start));
        out.append(kHXPopIsolate);
        if (end == std::string_view::npos) break;
        out.push_back('\n');
        start = end + 1;
    }
    return out;
}

std::string hxWithoutIsolates(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        // U+2066..U+2069 are E2 81 A6..A9.
        const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
        if (third >= 0xA6 && third <= 0xA9 && text[i] == '\xE2' && text[i + 1] == '\x81') {
            i += 2;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}
