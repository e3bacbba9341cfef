// Universally unique identifiers: random (version 4) from the kernel's secure source, written in
// the canonical 36-character upper-case form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

class UUID {
public:
    using Bytes = std::array<uint8_t, 16>;

    // The nil UUID (all zero).
    UUID() = default;
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    static UUID random();
    // Accepts the 8-4-4-4-12 hexadecimal form in either case; nothing otherwise.
    static std::optional<UUID> parse(std::string_view text);

    const Bytes& bytes() const { return bytes_; }
    // "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"
    std::string string() const;
    bool isNil() const;

    friend auto operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_{};
};

// A string unique to this process run and across runs (a random UUID plus the process id), for
// temporary names.
std::string globallyUniqueString();

// Fills buffer with bytes from the kernel's secure random source (getrandom). False only when the
// kernel refuses, which does not happen on a working system.
bool secureRandomBytes(void* buffer, size_t length);

}  // namespace foundation
