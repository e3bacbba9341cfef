// String utilities that many parts share: character filtering, phone-number formatting through
// the shared formatter, keypad letters to digits, entity decoding, emoticons and hex digests.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/strings.h"

class HXCPhoneFormat;

namespace PhoneExtensions {

// The characters of s that belong to the set, in their order.
std::string extractCharactersFromStringUsingCharset(std::string_view s, const foundation::CharacterSet& charset);
// s formatted with the application object's shared formatter (one use, given back after);
// s unchanged when there is no application object to offer one.
std::string formattedPhoneNumberFromString(std::string_view s);
// The formatter formattedPhoneNumberFromString uses (the application object's), for work that
// formats later on another queue; null when there is no application object.
std::shared_ptr<HXCPhoneFormat> sharedFormatter();
// s formatted with f up to its first ","; pauses and extensions after it stay as typed.
std::string formattedPhoneNumberFromStringWithFormatter(std::string_view s, const HXCPhoneFormat& f);
// Keypad letters replaced by their digits (a b c -> 2 ... w x y z -> 9); all else unchanged.
std::string phoneNumberFromLetters(std::string_view s);
// The user-interface framework's own translation of key; the key itself where there is none.
std::string localizedString(std::string_view key);
// s with HTML and XML character entities decoded.
std::string stringByUnescapingEntities(std::string_view s);
// s with ASCII emoticons replaced by their emoji (private-use code points).
std::string stringByUsingGraphicalEmoticons(std::string_view s);

// Lower-case hexadecimal digests of the UTF-8 bytes of s.
std::string md5(std::string_view s);
std::string sha1(std::string_view s);
std::string sha224(std::string_view s);
std::string sha256(std::string_view s);
std::string sha384(std::string_view s);
std::string sha512(std::string_view s);

}  // namespace PhoneExtensions
