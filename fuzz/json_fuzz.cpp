// JSON text from the network: parsing must fail cleanly or give a value that writes back and
// re-reads to the same value; parsing it with a member streamed reads alike.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/foundation/json.h"

namespace {

using foundation::Value;

int64_t errorOffset(const foundation::Error& error) {
    return error.userInfo.get("NSJSONSerializationErrorIndex").int64Value(-1);
}

// With member streamed, the elements are those of the member's last array, the result is the
// whole parse with that member emptied, and an error comes at the same offset.
void checkStreamed(std::string_view text, const foundation::Result<Value>& whole, std::string_view member) {
    std::vector<Value> elements;
    foundation::JSONArraySink sink{[&] { elements.clear(); }, [&](Value& e) { elements.push_back(std::move(e)); }};
    auto streamed = foundation::parseJSON(text, member, sink);
    if (streamed.ok() != whole.ok()) std::abort();
    if (!whole.ok()) {
        if (errorOffset(streamed.error()) != errorOffset(whole.error())) std::abort();
        return;
    }
    Value expected = *whole;
    if (auto* dictionary = expected.ifDictionary())
        if (Value* streamedMember = dictionary->find(foundation::Key(member));
            streamedMember && streamedMember->isArray()) {
            if (elements != streamedMember->asArray()) std::abort();
            *streamedMember = Value(foundation::Array());
        }
    if (!(*streamed == expected)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = foundation::parseJSON(text);
    checkStreamed(text, parsed, "thread");
    if (parsed.ok() && parsed->isDictionary() && !parsed->asDictionary().empty())
        checkStreamed(text, parsed, parsed->asDictionary().begin()->first.string());
    if (!parsed.ok()) return 0;
    for (bool pretty : {false, true}) {
        auto written = foundation::toJSON(*parsed, {.pretty = pretty});
        if (!written.ok()) std::abort();  // everything the parser makes is writable
        auto again = foundation::parseJSON(*written);
        if (!again.ok() || !(*again == *parsed)) std::abort();
    }
    return 0;
}
