// Uniform type identifiers: a fixed table of the types the app meets (the service's media and text), with their MIME
// types, file extensions and conformance ("public.jpeg" conforms to "public.image", which conforms to "public.data" and
// "public.content", and so on up to "public.item").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

inline constexpr const char* kTypeItem = "public.item";
inline constexpr const char* kTypeData = "public.data";
inline constexpr const char* kTypeContent = "public.content";
inline constexpr const char* kTypeText = "public.text";
inline constexpr const char* kTypePlainText = "public.plain-text";
inline constexpr const char* kTypeImage = "public.image";
inline constexpr const char* kTypeJPEG = "public.jpeg";
inline constexpr const char* kTypePNG = "public.png";
inline constexpr const char* kTypeGIF = "com.compuserve.gif";
inline constexpr const char* kTypeAudio = "public.audio";
inline constexpr const char* kTypeMovie = "public.movie";
inline constexpr const char* kTypeMPEG4 = "public.mpeg-4";
inline constexpr const char* kTypeVCard = "public.vcard";

// Every identifier whose MIME types include mime (case-insensitive, parameters such as
// "; charset=utf-8" ignored), preferred first. Empty for an unknown MIME type.
std::vector<std::string> typeIdentifiersForMIMEType(std::string_view mime);
// The first of those.
std::optional<std::string> typeIdentifierForMIMEType(std::string_view mime);
// The same by file extension ("JPG", "jpeg" or "jpg"; a leading dot is allowed).
std::vector<std::string> typeIdentifiersForFilenameExtension(std::string_view extension);
std::optional<std::string> typeIdentifierForFilenameExtension(std::string_view extension);
// The preferred MIME type / extension of an identifier, if it has one.
std::optional<std::string> preferredMIMEType(std::string_view identifier);
std::optional<std::string> preferredFilenameExtension(std::string_view identifier);
// True when identifier is parent or (transitively) conforms to it. Unknown identifiers conform
// only to themselves.
bool typeConformsTo(std::string_view identifier, std::string_view parent);
bool isKnownType(std::string_view identifier);

}  // namespace foundation
