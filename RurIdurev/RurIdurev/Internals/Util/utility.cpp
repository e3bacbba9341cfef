#include "RurIdurev/RurIdurev/Internals/Util/utility.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "RurIdurev/RurIdurev/logger.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
#include "platform/security/digest.h"

namespace {

bool containsText(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

std::vector<std::string> pieces(const std::string& string) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t end = string.find(';', start);
        out.push_back(string.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

std::string removingAll(std::string_view text, std::string_view what) {
    std::string out;
    size_t start = 0;
    while (true) {
        size_t at = text.find(what, start);
        if (at == std::string_view::npos) break;
        out.append(text.substr(start, at - start));
        start = at + what.size();
    }
    out.append(text.substr(start));
    return out;
}

}  // namespace

std::optional<std::string> ZIVOUtility::appSecretFrom(const std::optional<std::string>& string) {
    if (!string) return std::nullopt;
    const bool hasPlatformKey = containsText(*string, "ios=");
    for (const auto& piece : pieces(*string)) {
        if (piece.empty() || containsText(piece, "target=")) continue;
        std::string result;
        if (hasPlatformKey) {
            if (containsText(piece, "ios=")) result = removingAll(piece, "ios=");
        } else if (!containsText(piece, "appsecret=") && !containsText(piece, "=")) {
            result = piece;
        } else {
            result = removingAll(piece, "appsecret=");
        }
        if (!result.empty()) return result;
    }
    return std::nullopt;
}

std::optional<std::string> ZIVOUtility::transmissionTargetTokenFrom(const std::optional<std::string>& string) {
    if (!string) return std::nullopt;
    for (const auto& piece : pieces(*string)) {
        if (!containsText(piece, "target=")) continue;
        std::string token = removingAll(piece, "target=");
        if (!token.empty()) return token;
    }
    return std::nullopt;
}

std::optional<std::string> ZIVOUtility::targetKeyFromTargetToken(const std::string& token) {
    std::string key = token.substr(0, token.find('-'));
    if (key.empty()) return std::nullopt;
    return key;
}

std::optional<std::string> ZIVOUtility::iKeyFromTargetToken(const std::string& token) {
    auto key = targetKeyFromTargetToken(token);
    if (!key) return std::nullopt;
    return "o:" + *key;
}

double ZIVOUtility::nowInMilliseconds() { return dispatch::wallNow() * 1000.0; }

std::string ZIVOUtility::dateToISO8601(foundation::Date date) {
    // Whole milliseconds toward the past, so 59.9996 s stays in its second.
    const double totalMs = std::floor(date.secondsSince1970 * 1000.0);
    int64_t ms = static_cast<int64_t>(totalMs);
    int64_t seconds = ms / 1000;
    int64_t millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        seconds -= 1;
    }
    time_t t = static_cast<time_t>(seconds);
    struct tm utc {};
    gmtime_r(&t, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return buffer;
}

std::optional<foundation::Date> ZIVOUtility::dateFromISO8601(std::string_view text) {
    // Exactly the one form the SDK writes; anything else is not a date of ours.
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[23] != 'Z')
        return std::nullopt;
    auto number = [&](size_t at, size_t count) -> int {
        int value = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    int year = number(0, 4), month = number(5, 2), day = number(8, 2), hour = number(11, 2), minute = number(14, 2),
        second = number(17, 2), millis = number(20, 3);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60 || millis < 0)
        return std::nullopt;
    struct tm utc {};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    time_t t = timegm(&utc);
    // timegm normalises out-of-range days (Feb 30 -> Mar 2); such a text is not a real date.
    struct tm check {};
    gmtime_r(&t, &check);
    if (check.tm_mday != day || check.tm_mon != month - 1) return std::nullopt;
    return foundation::Date{static_cast<double>(t) + millis / 1000.0};
}

foundation::Dictionary ZIVOUtility::validateProperties(const foundation::Dictionary& properties,
                                                       const std::string& logName, const std::string& logType) {
    foundation::Dictionary valid;
    for (const auto& [key, value] : properties) {
        if (valid.size() >= static_cast<size_t>(kMaxPropertiesPerLog)) {
            ZIVOLogWarning(kZIVOLogTag, logType + " '" + logName + "' : properties cannot contain more than " +
                                            std::to_string(kMaxPropertiesPerLog) + " items. Skipping other properties.");
            break;
        }
        if (!key.isString() || !value.isString()) continue;
        std::string name = key.string();
        if (name.empty()) {
            ZIVOLogWarning(kZIVOLogTag,
                           logType + " '" + logName + "' : a property key cannot be null or empty. Property will be skipped.");
            continue;
        }
        if (foundation::utf16Length(name) > kMaxPropertyKeyLength) {
            ZIVOLogWarning(kZIVOLogTag, logType + " '" + logName + "' : property " + name +
                                            " : property key length cannot be longer than " +
                                            std::to_string(kMaxPropertyKeyLength) +
                                            " characters. Property key will be truncated.");
            name = foundation::truncateUtf16(name, kMaxPropertyKeyLength);
        }
        std::string text = value.asString();
        if (foundation::utf16Length(text) > kMaxPropertyValueLength) {
            ZIVOLogWarning(kZIVOLogTag, logType + " '" + logName + "' : property '" + name +
                                            "' : property value cannot be longer than " +
                                            std::to_string(kMaxPropertyValueLength) +
                                            " characters. Property value will be truncated.");
            text = foundation::truncateUtf16(text, kMaxPropertyValueLength);
        }
        valid.set(name, std::move(text));
    }
    return valid;
}

std::string ZIVOUtility::sha256(std::string_view text) {
    return security::digestHex(security::DigestAlgorithm::SHA256, text);
}

std::optional<std::string> ZIVOUtility::prettyPrintJson(const std::optional<foundation::Data>& data) {
    if (!data) return std::nullopt;
    std::string text(data->begin(), data->end());
    auto parsed = foundation::parseJSON(text);
    if (parsed.ok()) {
        auto pretty = foundation::toJSON(parsed.value(), foundation::JSONWriteOptions{.pretty = true});
        // The writer never escapes "/", so no "\/" needs undoing here.
        if (pretty.ok()) return pretty.value();
    }
    auto utf8 = foundation::stringFromUtf8(text);
    if (!utf8) return std::nullopt;
    return *utf8;
}
