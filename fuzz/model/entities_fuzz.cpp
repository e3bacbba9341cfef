// Entity decoding over arbitrary text: never reads past the input, and never loses the text
// that follows an entity it cannot decode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/phone_extensions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = PhoneExtensions::stringByUnescapingEntities(text);
    // Text without "&" passes unchanged; text after the last "&;" stretch is kept.
    if (text.find('&') == std::string::npos && decoded != text) std::abort();
    const size_t lastAmp = text.rfind('&');
    if (lastAmp != std::string::npos) {
        const size_t tailStart = text.find(';', lastAmp);
        if (tailStart != std::string::npos) {
            const std::string tail = text.substr(tailStart + 1);
            if (tail.find('<') == std::string::npos && tail.find('>') == std::string::npos &&
                decoded.compare(decoded.size() - std::min(decoded.size(), tail.size()), std::string::npos, tail) != 0)
                std::abort();
        }
    }
    (void)PhoneExtensions::stringByUsingGraphicalEmoticons(text);
    (void)PhoneExtensions::phoneNumberFromLetters(text);
    return 0;
}
