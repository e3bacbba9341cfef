// Small shared services of the SDK: identity of the SDK, the secret-string grammar, dates in the
// one telemetry form, property validation, hashing and JSON pretty-printing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

// Application environment values (`currentAppEnvironment`).
enum ZIVOAppEnvironment : int {
    ZIVOEnvironmentAppStore = 0,
    ZIVOEnvironmentTestFlight = 1,
    ZIVOEnvironmentOther = 99,
};

class ZIVOUtility {
public:
    ZIVOUtility() = delete;

    static std::string sdkName() { return "ruridurev.ios"; }
    static std::string sdkVersion() { return "5.0.5"; }

    // ---- Secret string
    static std::optional<std::string> appSecretFrom(const std::optional<std::string>& string);
    static std::optional<std::string> transmissionTargetTokenFrom(const std::optional<std::string>& string);
    static std::optional<std::string> targetKeyFromTargetToken(const std::string& token);
    static std::optional<std::string> iKeyFromTargetToken(const std::string& token);

    // ---- Dates: "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", UTC, Gregorian, locale-independent.
    static double nowInMilliseconds();
    // Milliseconds are truncated (never rounded up into the next second).
    static std::string dateToISO8601(foundation::Date date);
    static std::optional<foundation::Date> dateFromISO8601(std::string_view text);

    // ---- Property validation: at most 20 string-to-string entries, keys and values cut to 125
    // UTF-16 units on a code-point boundary. Warnings name the log's type and name.
    static foundation::Dictionary validateProperties(const foundation::Dictionary& properties,
                                                     const std::string& logName, const std::string& logType);

    // ---- Strings
    // SHA-256 of the text as 64 lower-case hex digits.
    static std::string sha256(std::string_view text);
    // The JSON re-written pretty with slashes unescaped; text that is not JSON comes back as it
    // is (when it is UTF-8); empty optional for no data.
    static std::optional<std::string> prettyPrintJson(const std::optional<foundation::Data>& data);

    static constexpr int kMaxPropertiesPerLog = 20;
    static constexpr size_t kMaxPropertyKeyLength = 125;
    static constexpr size_t kMaxPropertyValueLength = 125;
};
