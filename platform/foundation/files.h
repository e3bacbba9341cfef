// The app's home on disk and the file operations the app uses. One installation has one root
// (HXCONNECT_HOME, else $XDG_DATA_HOME/hxconnect, else ~/.local/share/hxconnect) holding
// Documents, Library/Caches, Library/Application Support, Library/Preferences and tmp.
// Failures are errors in "NSCocoaErrorDomain" with the path under "NSFilePath" and the POSIX
// cause under "NSUnderlyingError" (a dictionary with "domain" and "code").
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kFilePathErrorKey = "NSFilePath";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr int64_t kFileNoSuchFileError = 4;
inline constexpr int64_t kFileReadUnknownError = 256;
inline constexpr int64_t kFileReadNoPermissionError = 257;
inline constexpr int64_t kFileReadNoSuchFileError = 260;
inline constexpr int64_t kFileWriteUnknownError = 512;
inline constexpr int64_t kFileWriteNoPermissionError = 513;
inline constexpr int64_t kFileWriteFileExistsError = 516;
inline constexpr int64_t kFileWriteOutOfSpaceError = 640;

// ---- The app home. The directory getters create their directory when it is missing.

std::filesystem::path homeDirectory();
// Replaces the root (tests point it at a scratch directory); an empty path restores the default.
void setHomeDirectory(std::filesystem::path root);
std::filesystem::path documentsDirectory();
std::filesystem::path libraryDirectory();
std::filesystem::path cachesDirectory();
std::filesystem::path applicationSupportDirectory();
std::filesystem::path preferencesDirectory();
std::filesystem::path temporaryDirectory();

// Turns a user name or media id into one path component: no "/", no NUL, never "." or "..",
// never hidden, never empty. The escape character is "%": "%", "/" and NUL become "%25", "%2F" and
// "%00"; a leading "." becomes "%2E"; "" becomes "%". Anything else is kept, so a name without "%",
// "/", NUL or a leading "." maps to itself, and distinct names map to distinct components (decode
// the escapes to get the name back). A result longer than 255 bytes (the file-name limit) keeps
// its first 200 bytes (cut on a character boundary) and appends "%~" and the 16 hex digits of the
// name's stableHash64; "%~" never appears otherwise, so only a 64-bit hash collision between two
// such long names could make them meet.
std::string safePathComponent(std::string_view name);

// ---- Names within the file-name limit

// The longest file name the file systems in use accept, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;
// What files::writeAtomically adds to a name for its temporary: "." before, "." and 16 hex digits
// after.
inline constexpr size_t kAtomicWriteAffixBytes = 18;

// The one mapping from outside names (user names, media ids, cache keys) to file names that stay
// within kMaxFileNameBytes once affixBytes more are added around them: a prefix, an extension, and
// the temporary or side files that writers make beside a file (kAtomicWriteAffixBytes, SQLite's
// "-journal"). Count every byte that any of those adds.
// A name whose safePathComponent fits in the room left maps exactly as safePathComponent maps it,
// so files stored under short names keep their names. A longer one keeps the start of its escaped
// form (cut on a character boundary, never inside an escape, at most 200 bytes) followed by "%~"
// and the 16 hex digits of the name's stableHash64; "%~" appears in no escaped name, so only a
// 64-bit hash collision between two long names could make them meet. Such a name cannot be
// decoded back. When affixBytes leaves no room for the 18 bytes of the hashed form, the result is
// an error (kCocoaErrorDomain, kFileNameTooLongError) naming the limit, never a name that fails later.
inline constexpr int64_t kFileNameTooLongError = 514;
Result<std::string> boundedPathComponent(std::string_view name, size_t affixBytes);
// The same bound for a component that its owner already escaped (every byte allowed in a file
// name, "%" escaped so that "%~" never occurs): kept when it fits, else cut and suffixed with the
// hash of the component itself.
Result<std::string> boundedFileName(std::string_view escaped, size_t affixBytes);

struct FileAttributes {
    bool isDirectory = false;
    bool isRegularFile = false;
    bool isSymbolicLink = false;
    uint64_t size = 0;
    uint64_t allocatedSize = 0;  // st_blocks * 512
    Date modificationDate;
    Date creationDate;  // the status-change time where no birth time is kept
    uint32_t posixPermissions = 0;
};

struct DirectoryEntry {
    std::string name;
    std::filesystem::path path;
    FileAttributes attributes;
    // The text after the last "." of the name ("" when none, or for a name like ".profile").
    std::string extension() const;
};

enum class WriteMode { Overwrite, FailIfExists };

namespace files {

bool exists(const std::filesystem::path& path);
bool isDirectory(const std::filesystem::path& path);

// Creates the directory and any missing parents; an existing directory is success.
Status createDirectory(const std::filesystem::path& path, mode_t mode = 0755);
// Writes to a temporary file beside path (".<name>.<16 hex digits>", locked while it is
// written), syncs it, then renames it into place, so readers see the old or the new contents,
// never a part. FailIfExists fails with 516 when path exists.
Status writeAtomically(const std::filesystem::path& path, const void* bytes, size_t length,
                       WriteMode mode = WriteMode::Overwrite, mode_t permissions = 0644);
inline Status writeAtomically(const std::filesystem::path& path, const Data& data,
                              WriteMode mode = WriteMode::Overwrite) {
    return writeAtomically(path, data.data(), data.size(), mode);
}
inline Status writeAtomically(const std::filesystem::path& path, std::string_view text,
                              WriteMode mode = WriteMode::Overwrite) {
    return writeAtomically(path, text.data(), text.size(), mode);
}
// Removes the temporaries that writers killed inside writeAtomically left in directory
// (".<name>.<16 hex digits>", no longer locked by a live writer). writeAtomically does this
// the first time the process writes into a directory.
void removeStaleTemporaries(const std::filesystem::path& directory);
// The same in root and every directory below it (symbolic links are not followed), for a launch:
// a folder nobody writes into again would keep a killed writer's temporary for good, and the
// disk cache, which skips hidden files, would never count it against its size.
void removeStaleTemporariesBelow(const std::filesystem::path& root);
// Reads a regular file whole. Anything else fails at once: a directory with EISDIR, a pipe, socket
// or device with ENODEV (an open never waits for a pipe's writer).
Result<Data> readData(const std::filesystem::path& path);
Result<std::string> readString(const std::filesystem::path& path);
// Moves an entry that cannot be read (damaged bytes, a directory, a pipe) out of its owner's way,
// kept for inspection: to path + ".unreadable", replacing a file kept there earlier, or, where a
// directory is in the way, to the first free ".unreadable-<n>". The entry becomes private to the
// owner. Answers where it went.
Result<std::filesystem::path> setAside(const std::filesystem::path& path);

// A file's bytes mapped read-only: for a large file that is read here and there, only the pages
// read become resident, and the system can drop them again, where readData would copy all of it
// onto the heap. Meant for files nobody rewrites in place (resources): the mapping sees such
// changes, and reading past a shortened end stops the process. An empty file maps to no bytes.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    ~MappedFile();

    std::span<const uint8_t> bytes() const { return {address_, size_}; }

private:
    friend Result<MappedFile> mapFile(const std::filesystem::path& path);
    const uint8_t* address_ = nullptr;
    size_t size_ = 0;
};
// Fails as readData does.
Result<MappedFile> mapFile(const std::filesystem::path& path);

// Moves a file or directory; fails with 516 when the destination exists. Works across file systems.
Status move(const std::filesystem::path& from, const std::filesystem::path& to);
// Copies a file or directory tree; fails with 516 when the destination exists.
Status copy(const std::filesystem::path& from, const std::filesystem::path& to);
// Removes a file or a directory with its contents; a missing path fails with code 4.
Status remove(const std::filesystem::path& path);

Result<FileAttributes> attributes(const std::filesystem::path& path);
// The entries of a directory sorted by name, optionally without those whose names start with ".".
Result<std::vector<DirectoryEntry>> listDirectory(const std::filesystem::path& directory, bool skipHidden = false);
Status setModificationDate(const std::filesystem::path& path, Date date);
Status setPosixPermissions(const std::filesystem::path& path, mode_t mode);

}  // namespace files
}  // namespace foundation
