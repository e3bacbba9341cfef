// Property lists to and from `Value`: binary read and write, XML read (the format is detected).
//
// Mapping: bool <-> boolean, int <-> integer, double <-> real, string <-> string, Data <-> data,
// Date <-> date, Array <-> array, Dictionary <-> dict. A property list has no null and only
// string dictionary keys, so writing a null value or a dictionary with a number key fails with
// kPropertyListWriteInvalidError (nothing is written); callers that key by number convert the
// keys to decimal strings themselves. Strings must be valid UTF-8 without NUL characters (the
// binary writer cannot carry a NUL); dates must lie within about 68 years of 2001-01-01.
// Reading rejects keyed-archive references (UIDs, see keyed_archiver.h), malformed UTF-8 and
// nesting deeper than kPropertyListMaxDepth, dictionary keys holding NUL, and binary integers
// wider than 64 bits (above INT64_MAX; only foreign tools write them).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

inline constexpr int64_t kPropertyListReadCorruptError = 3840;
inline constexpr int64_t kPropertyListWriteInvalidError = 3851;
inline constexpr int kPropertyListMaxDepth = 512;

enum class PropertyListFormat { Binary, XML };

// Reads a binary or XML property list. `format`, when given, receives the detected format.
Result<Value> readPropertyList(std::string_view bytes, PropertyListFormat* format = nullptr);
inline Result<Value> readPropertyList(const Data& bytes, PropertyListFormat* format = nullptr) {
    return readPropertyList(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), format);
}

// Writes a binary property list.
Result<Data> writeBinaryPropertyList(const Value& value);

// Whole-file forms. Writing goes to a temporary file beside the target that is then renamed over
// it, so a reader sees the old file or the new one, never a partial one.
Result<Value> readPropertyListFile(const std::filesystem::path& path);
// The new file gets permissions (less the umask); preferences, which may hold a session, pass 0600.
Status writePropertyListFile(const Value& value, const std::filesystem::path& path, mode_t permissions = 0644);

}  // namespace foundation
