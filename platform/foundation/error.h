// Errors as values: a domain, a code and user info, returned beside results (`Result<T>`).
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "platform/foundation/value.h"

namespace foundation {

struct Error {
    std::string domain;
    int64_t code = 0;
    Dictionary userInfo;

    Error() = default;
    Error(std::string domain_, int64_t code_, Dictionary userInfo_ = {})
        : domain(std::move(domain_)), code(code_), userInfo(std::move(userInfo_)) {}
    // An error with a localized description under "NSLocalizedDescription".
    static Error withDescription(std::string domain, int64_t code, std::string description);

    // userInfo["NSLocalizedDescription"], or a text made of the domain and code.
    std::string localizedDescription() const;
    std::string description() const;

    friend bool operator==(const Error& a, const Error& b) {
        return a.domain == b.domain && a.code == b.code && a.userInfo == b.userInfo;
    }
};

inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
// The domain of the platform's own failures: files, JSON, property lists, archives, patterns,
// dates and the object store.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";

// A value or the error that kept it from being made.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(v_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(v_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(v_));
    }
    T valueOr(T fallback) const { return ok() ? std::get<0>(v_) : std::move(fallback); }
    const Error& error() const {
        assert(!ok());
        return std::get<1>(v_);
    }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, Error> v_;
};

// Success or an error, for operations without a result. Success makes and destroys no error: a
// store's save checks one for every value it binds.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : error_(std::move(error)) {}
    static Status success() { return {}; }

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const {
        assert(!ok());
        return *error_;
    }

private:
    std::optional<Error> error_;
};

}  // namespace foundation
