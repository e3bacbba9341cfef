#include "ui/dialer/dialed_number.h"

#include "model/phone_extensions.h"
#include "platform/foundation/strings.h"

namespace {

std::string formatted(std::string_view number) { return PhoneExtensions::formattedPhoneNumberFromString(number); }

}  // namespace

std::string HXDialedNumber::filter(std::string_view text) {
    static const foundation::CharacterSet kept = foundation::CharacterSet::fromCharacters(kCharacters);
    return PhoneExtensions::extractCharactersFromStringUsingCharset(text, kept);
}

void HXDialedNumber::showFormatted(std::string_view number) { shown_ = formatted(number); }

void HXDialedNumber::showFiltered(std::string_view text) { shown_ = formatted(filter(text)); }

void HXDialedNumber::paste(std::string_view text) { shown_ = formatted(PhoneExtensions::phoneNumberFromLetters(text)); }

void HXDialedNumber::reformat() { shown_ = formatted(shown_); }

void HXDialedNumber::append(std::string_view character) { shown_ = formatted(filtered() + std::string(character)); }

void HXDialedNumber::appendPause() {
    const std::string kept = filtered();
    const bool first = kept.find(',') == std::string::npos;
    shown_ = formatted(kept + (first ? " ," : ","));
}

void HXDialedNumber::deleteLast() {
    std::string kept = filtered();
    if (!kept.empty()) kept.pop_back();
    shown_ = kept.empty() ? std::string() : formatted(kept);
}

bool HXDialedNumber::isSevenDigitLocal(const std::string& text, const std::string& own) {
    if (text.size() != 8 || foundation::hasPrefix(text, "+")) return false;
    if (foundation::keepingOnly(text, foundation::CharacterSet::decimalDigits()).size() != 7) return false;
    return own.size() >= 6 && foundation::hasPrefix(own, "+1");
}

std::string HXDialedNumber::numberToCall(const std::string& shown, const std::string& own) {
    if (!isSevenDigitLocal(shown, own)) return shown;
    return formatted(own.substr(0, 5) + shown);
}

std::string HXDialedNumber::numberForLookup(const std::string& n) {
    if (foundation::hasPrefix(n, "+")) return n;
    if (foundation::hasPrefix(n, "(")) return "+1 " + n;
    if (foundation::hasPrefix(n, "1 (")) return "+" + n;
    if (foundation::hasPrefix(n, "011 ")) return "+" + n.substr(4);
    return n;
}
