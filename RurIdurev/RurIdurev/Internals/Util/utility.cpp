#include "RurIdurev/RurIdurev/Internals/Util/utility.h"

#include <vector>

#include "RurIdurev/RurIdurev/logger.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/dates.h"
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

std::string ZIVODateFormatter::string(foundation::Date date) const { return foundation::iso8601String(date); }

std::optional<foundation::Date> ZIVODateFormatter::date(std::string_view text) const {
    auto date = foundation::parseISO8601(text);
    if (!date.ok()) return std::nullopt;
    return date.value();
}

namespace {

std::shared_ptr<const ZIVODateFormatter>& dateFormatterSlot() {
    static auto* slot = new std::shared_ptr<const ZIVODateFormatter>;
    return *slot;
}

}  // namespace

std::shared_ptr<const ZIVODateFormatter> ZIVOUtility::dateFormatter() {
    std::lock_guard lock(classMutex());
    auto& slot = dateFormatterSlot();
    if (!slot) slot = std::make_shared<const ZIVODateFormatter>();
    return slot;
}

void ZIVOUtility::resetDateFormatterInstance() {
    std::lock_guard lock(classMutex());
    dateFormatterSlot().reset();
}

std::string ZIVOUtility::dateToISO8601(foundation::Date date) { return dateFormatter()->string(date); }

std::optional<foundation::Date> ZIVOUtility::dateFromISO8601(std::string_view text) {
    return dateFormatter()->date(text);
}

foundation::Dictionary ZIVOUtility::validateProperties(const foundation::Dictionary& properties,
                                                       const std::string& logName, const std::string& logType) {
    foundation::Dictionary valid;
    for (const auto& [key, value] : properties) {
        if (valid.size() >= static_cast<size_t>(kMaxPropertiesPerLog)) {
            ZIVOLogWarning(kZIVOLogTag, logType + " '" + logName + "' : properties cannot contain more than " +
                                            std::to_string(kMaxPropertiesPerLog) +
                                            " items. Skipping other properties.");
            break;
        }
        if (!key.isString() || !value.isString()) continue;
        std::string name = key.string();
        if (name.empty()) {
            ZIVOLogWarning(kZIVOLogTag, logType + " '" + logName +
                                            "' : a property key cannot be null or empty. Property will be skipped.");
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

std::optional<std::string> ZIVOUtility::obfuscateString(const std::optional<std::string>& string,
                                                        const std::string& searchingForPattern,
                                                        const std::string& toReplaceWithTemplate) {
    if (!string) return std::nullopt;
    auto regex = foundation::Regex::make(searchingForPattern, foundation::Regex::kCaseInsensitive);
    if (!regex.ok()) {
        std::string reason = regex.error().localizedDescription();
        ZIVOLogError(kZIVOLogTag,
                     "Couldn't create regular expression with pattern\"" + searchingForPattern + "\": " + reason);
        return std::nullopt;
    }
    return regex->replaceAll(*string, toReplaceWithTemplate);
}
