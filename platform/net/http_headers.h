// HTTP header fields as they travel: an ordered list of (name, value) pairs looked up without
// regard to case. Requests replace a field by name; responses keep every line, so several
// Set-Cookie fields stay apart instead of being folded into one comma-joined value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace net {

bool equalsIgnoringCase(std::string_view a, std::string_view b);

class HeaderMap;

// Why a request's fields cannot go out as one header line each, or nothing when they can. A
// CR or LF would end the line early and let the rest pass for a header of the sender's
// choosing, and a NUL cuts the line short: none may appear in a name or a value, and a name
// must not be empty nor hold a colon or a blank.
std::optional<std::string> unsafeRequestField(const HeaderMap& headers);

class HeaderMap {
public:
    using Field = std::pair<std::string, std::string>;

    // Replaces every field of that name by one (kept at the position of the first), or appends.
    void set(std::string_view name, std::string_view value);
    // Appends a field even when one of that name exists (responses: Set-Cookie).
    void add(std::string_view name, std::string_view value);
    // Removes every field of that name; true when one was present.
    bool remove(std::string_view name);

    // The first value of the name, or nothing.
    std::optional<std::string> get(std::string_view name) const;
    // Every value of the name, in order.
    std::vector<std::string> getAll(std::string_view name) const;
    bool contains(std::string_view name) const { return get(name).has_value(); }

    const std::vector<Field>& fields() const { return fields_; }
    size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }
    void clear() { fields_.clear(); }

    friend bool operator==(const HeaderMap&, const HeaderMap&) = default;

private:
    std::vector<Field> fields_;
};

}  // namespace net
