// Feeds arbitrary bytes to the foundation's text parsers: URLs and percent-escapes, base64, ISO
// dates, strings tables, format strings and the UTF-16 helpers. The first byte picks
// the parser so one corpus covers them all.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/foundation/base64.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"

using namespace foundation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (selector % 8) {
        case 0: {
            if (auto url = URL::parse(text)) {
                (void)url->queryItems();
                (void)url->host();
                (void)url->path();
                (void)url->lastPathComponent();
            }
            static const URL base = *URL::parse("http://a/b/c/d;p?q");
            (void)base.resolve(text);
            (void)percentDecode(text);
            break;
        }
        case 1:
            (void)base64Decode(text, Base64Decoding::Strict);
            (void)base64Decode(text, Base64Decoding::IgnoreUnknownCharacters);
            break;
        case 2:
            if (auto d = parseISO8601(text); d.ok()) (void)iso8601String(*d);
            break;
        case 3:
            (void)parseStringsTable(Data(text.begin(), text.end()));
            break;
        case 4:
            // Image headers are fuzzed with the image decoders.
            break;
        case 5:
            (void)formatString(text, {Value("s"), Value(42), Value(2.5), Value()});
            break;
        case 6: {
            const size_t n = selector / 8;
            (void)utf16Length(text);
            (void)truncateUtf16(text, n);
            (void)substringUtf16(text, Range{n / 2, n});
            (void)utf8Offset(text, n);
            (void)utf16Offset(text, n);
            (void)percentEncode(text, CharacterSet::urlQueryAllowed());
            (void)contains(text, "e", kCaseInsensitive | kDiacriticInsensitive);
            (void)parseLeadingInteger(text);
            break;
        }
        case 7:
            if (text.size() < 256) {
                if (auto re = Regex::make(text); re.ok()) (void)re->allMatches("abc 123 \xC3\xA9\xF0\x9F\x98\x80");
            }
            break;
    }
    return 0;
}
