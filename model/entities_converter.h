// Decodes character entities in text: the five XML entities, numeric character references of
// valid code points and the HTML5 named references written with ";". Anything else that looks
// like an entity stays as typed; no text is ever dropped.
#pragma once

#include <string>
#include <string_view>

class MREntitiesConverter {
public:
    MREntitiesConverter() = default;

    std::string convertEntiesInString(std::string_view s);
    // The text delivered so far (the decoder appends each converted string here).
    const std::string& resultString() const { return resultString_; }

    // The UTF-8 replacement of a named entity (without "&" and ";"), or empty when unknown.
    static std::string_view namedEntity(std::string_view name);

private:
    std::string resultString_;
};
