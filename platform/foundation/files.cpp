#include "platform/foundation/files.h"

#include "platform/foundation/file_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/foundation/strings.h"
#include "platform/foundation/uuid.h"

namespace fs = std::filesystem;

namespace foundation {
namespace {

std::mutex& homeMutex() {
    static std::mutex m;
    return m;
}
fs::path& homeOverride() {
    static fs::path p;
    return p;
}

fs::path defaultHome() {
    if (const char* env = std::getenv("HXCONNECT_HOME"); env && *env) return env;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/')
        return fs::path(xdg) / "hxconnect";
    const char* home = std::getenv("HOME");
    std::string homeDir = home && *home ? home : "";
    if (homeDir.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) homeDir = pw->pw_dir;
    }
    if (homeDir.empty()) homeDir = "/tmp";
    return fs::path(homeDir) / ".local" / "share" / "hxconnect";
}

fs::path ensured(fs::path p) {
    (void)files::createDirectory(p, 0700);
    return p;
}

enum class Op { Read, Write, Other };

Error fileError(int err, const fs::path& path, Op op) {
    int64_t code;
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            code = op == Op::Read ? kFileReadNoSuchFileError : kFileNoSuchFileError;
            break;
        case EEXIST:
        case ENOTEMPTY:
            code = kFileWriteFileExistsError;
            break;
        case EACCES:
        case EPERM:
        case EROFS:
            code = op == Op::Read ? kFileReadNoPermissionError : kFileWriteNoPermissionError;
            break;
        case ENOSPC:
        case EDQUOT:
            code = kFileWriteOutOfSpaceError;
            break;
        default:
            code = op == Op::Read ? kFileReadUnknownError : kFileWriteUnknownError;
            break;
    }
    Dictionary info;
    info.set(kFilePathErrorKey, path.string());
    info.set(kUnderlyingErrorKey, Dictionary{{"domain", kPOSIXErrorDomain}, {"code", err}});
    info.set(kLocalizedDescriptionKey, path.string() + ": " + std::strerror(err));
    return Error(kCocoaErrorDomain, code, std::move(info));
}

Date dateOf(const timespec& ts) { return Date{static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9}; }

FileAttributes attributesOf(const struct stat& st) {
    FileAttributes a;
    a.isDirectory = S_ISDIR(st.st_mode);
    a.isRegularFile = S_ISREG(st.st_mode);
    a.isSymbolicLink = S_ISLNK(st.st_mode);
    a.size = static_cast<uint64_t>(st.st_size);
    a.allocatedSize = static_cast<uint64_t>(st.st_blocks) * 512;
    a.modificationDate = dateOf(st.st_mtim);
    a.creationDate = dateOf(st.st_ctim);
    a.posixPermissions = st.st_mode & 07777;
    return a;
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

void syncDirectory(const fs::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

Status copyFile(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return fileError(errno, from, Op::Read);
    struct stat st {};
    ::fstat(in, &st);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return fileError(err, to, Op::Write);
    }
    uint8_t buffer[65536];
    while (true) {
        const ssize_t r = ::read(in, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (r > 0 && !writeAll(out, buffer, static_cast<size_t>(r)))) {
            const int err = errno;
            ::close(in);
            ::close(out);
            ::unlink(to.c_str());
            return fileError(err, to, Op::Write);
        }
        if (r == 0) break;
    }
    ::close(in);
    if (::close(out) != 0) return fileError(errno, to, Op::Write);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, 0);
    return {};
}

Status copyTree(const fs::path& from, const fs::path& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return fileError(errno, from, Op::Read);
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(from, ec);
        if (ec) return fileError(ec.value(), from, Op::Read);
        if (::symlink(target.c_str(), to.c_str()) != 0) return fileError(errno, to, Op::Write);
        return {};
    }
    if (!S_ISDIR(st.st_mode)) return copyFile(from, to);
    if (::mkdir(to.c_str(), st.st_mode & 07777) != 0) return fileError(errno, to, Op::Write);
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        if (Status s = copyTree(it->path(), to / it->path().filename()); !s.ok()) return s;
    }
    if (ec) return fileError(ec.value(), from, Op::Read);
    return {};
}

}  // namespace

// ---- Home

fs::path homeDirectory() {
    fs::path root;
    {
        std::lock_guard lock(homeMutex());
        root = homeOverride();
    }
    if (root.empty()) root = defaultHome();
    return ensured(root);
}

void setHomeDirectory(fs::path root) {
    std::lock_guard lock(homeMutex());
    homeOverride() = std::move(root);
}

fs::path documentsDirectory() { return ensured(homeDirectory() / "Documents"); }
fs::path libraryDirectory() { return ensured(homeDirectory() / "Library"); }
fs::path cachesDirectory() { return ensured(homeDirectory() / "Library" / "Caches"); }
fs::path applicationSupportDirectory() { return ensured(homeDirectory() / "Library" / "Application Support"); }
fs::path preferencesDirectory() { return ensured(homeDirectory() / "Library" / "Preferences"); }
fs::path temporaryDirectory() { return ensured(homeDirectory() / "tmp"); }

namespace {

std::string escapedPathComponent(std::string_view name) {
    if (name.empty()) return "%";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '%') {
            out += "%25";
        } else if (c == '/') {
            out += "%2F";
        } else if (c == '\0') {
            out += "%00";
        } else if (c == '.' && i == 0) {
            out += "%2E";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

constexpr size_t kHashedSuffixBytes = 18;  // "%~" and 16 hex digits
constexpr size_t kLongestKeptPrefix = 200;

Result<std::string> bounded(std::string escaped, uint64_t hash, std::string_view name, size_t affixBytes) {
    if (affixBytes > kMaxFileNameBytes - kHashedSuffixBytes) {
        return Error::withDescription(kCocoaErrorDomain, kFileNameTooLongError,
                                      "No file name for \"" + std::string(name.substr(0, 64)) + "\" fits in " +
                                          std::to_string(kMaxFileNameBytes) + " bytes beside " +
                                          std::to_string(affixBytes) + " bytes of affixes.");
    }
    const size_t room = kMaxFileNameBytes - affixBytes;
    if (escaped.size() <= room) return escaped;
    // Cut on a UTF-8 boundary and never inside an escape.
    size_t cut = std::min(kLongestKeptPrefix, room - kHashedSuffixBytes);
    while (cut > 0 && (static_cast<unsigned char>(escaped[cut]) & 0xC0) == 0x80) --cut;
    for (size_t back = 1; back <= 2 && cut >= back; ++back) {
        if (escaped[cut - back] == '%') {
            cut -= back;
            break;
        }
    }
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%%~%016llx", static_cast<unsigned long long>(hash));
    escaped.resize(cut);
    return escaped + suffix;
}

}  // namespace

Result<std::string> boundedPathComponent(std::string_view name, size_t affixBytes) {
    return bounded(escapedPathComponent(name), stableHash64(name), name, affixBytes);
}

Result<std::string> boundedFileName(std::string_view escaped, size_t affixBytes) {
    return bounded(std::string(escaped), stableHash64(escaped), escaped, affixBytes);
}

std::string safePathComponent(std::string_view name) { return boundedPathComponent(name, 0).value(); }

std::string DirectoryEntry::extension() const {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
    return name.substr(dot + 1);
}

namespace files {

bool exists(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isDirectory(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status createDirectory(const fs::path& path, mode_t mode) {
    if (path.empty()) return fileError(ENOENT, path, Op::Write);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) ? Status() : Status(fileError(EEXIST, path, Op::Write));
    }
    const fs::path parent = path.parent_path();
    if (!parent.empty() && parent != path) {
        if (Status s = createDirectory(parent, mode); !s.ok()) return s;
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return fileError(errno, path, Op::Write);
    return {};
}

namespace {

// ".<name>.<16 hex digits>": the temporary writeAtomically makes beside <name>.
bool isAtomicWriteTemporary(std::string_view name) {
    constexpr size_t kHex = 16;
    if (name.size() < 1 + 1 + 1 + kHex || name[0] != '.' || name[name.size() - kHex - 1] != '.') return false;
    return std::all_of(name.end() - kHex, name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A temporary left by a kill comes from an earlier process (this one's writers are alive or
// clean up after themselves), so each directory is swept the first time this process writes
// into it; later writes there cost nothing more.
bool firstWriteInto(const fs::path& directory) {
    static std::mutex mutex;
    static std::set<std::string> swept;
    std::lock_guard lock(mutex);
    return swept.insert(directory.string()).second;
}

}  // namespace

void removeStaleTemporaries(const fs::path& directory) {
    DIR* d = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!d) return;
    const int dirFd = ::dirfd(d);
    while (const dirent* entry = ::readdir(d)) {
        if (!isAtomicWriteTemporary(entry->d_name)) continue;
        // A writer holds its temporary locked from creation to rename: one that can be locked
        // belongs to a writer that was killed.
        int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat opened {
        }, named{};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

void removeStaleTemporariesBelow(const fs::path& root) {
    // Depth-first with an explicit stack and a bound on depth, so that neither a deep tree nor a
    // loop of bind mounts can exhaust anything.
    constexpr size_t kMaximumDepth = 32;
    std::vector<std::pair<fs::path, size_t>> pending{{root, 0}};
    while (!pending.empty()) {
        auto [directory, depth] = std::move(pending.back());
        pending.pop_back();
        (void)firstWriteInto(directory);  // later writes there need not sweep again
        removeStaleTemporaries(directory);
        if (depth == kMaximumDepth) continue;
        DIR* d = ::opendir(directory.c_str());
        if (!d) continue;
        const int dirFd = ::dirfd(d);
        while (const dirent* entry = ::readdir(d)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            bool isDirectory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                isDirectory = ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
            }
            if (isDirectory) pending.emplace_back(directory / entry->d_name, depth + 1);
        }
        ::closedir(d);
    }
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

AtomicFileWriter::AtomicFileWriter(AtomicFileWriter&& other) noexcept
    : path_(std::move(other.path_)),
      temp_(std::move(other.temp_)),
      fd_(std::exchange(other.fd_, -1)),
      written_(other.written_),
      error_(other.error_) {}

AtomicFileWriter& AtomicFileWriter::operator=(AtomicFileWriter&& other) noexcept {
    if (this != &other) {
        discard();
        path_ = std::move(other.path_);
        temp_ = std::move(other.temp_);
        fd_ = std::exchange(other.fd_, -1);
        written_ = other.written_;
        error_ = other.error_;
    }
    return *this;
}

Status AtomicFileWriter::open(const fs::path& path, mode_t permissions) {
    discard();
    path_ = path;
    written_ = 0;
    error_ = 0;
    const fs::path dir = path.parent_path();
    if (firstWriteInto(dir)) removeStaleTemporaries(dir);
    // The temporary file is created with the final permissions so the process umask applies as
    // for any new file (changing the umask here would race with other threads creating files).
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        uint8_t random[8];
        if (!secureRandomBytes(random, sizeof random)) return fileError(EIO, path, Op::Write);
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%02x%02x%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2],
                      random[3], random[4], random[5], random[6], random[7]);
        temp_ = dir / ("." + path.filename().string() + suffix);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd_ < 0 && errno != EEXIST) return fileError(errno, path, Op::Write);
        if (fd_ < 0) continue;
        // Locked until renamed, so that a sweep never takes a live writer's temporary. A sweep
        // may lock it in the instant before this and remove it: then the name is gone (no links
        // left) and another name is tried.
        struct stat st {};
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
        if (::fstat(fd_, &st) != 0 || st.st_nlink == 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    if (fd_ < 0) return fileError(EEXIST, path, Op::Write);
    return {};
}

Status AtomicFileWriter::write(const void* bytes, size_t length) {
    if (fd_ < 0) return fileError(EBADF, path_, Op::Write);
    if (error_ == 0 && !writeAll(fd_, static_cast<const uint8_t*>(bytes), length)) error_ = errno ? errno : EIO;
    if (error_ != 0) return fileError(error_, path_, Op::Write);
    written_ += length;
    return {};
}

Status AtomicFileWriter::commit(WriteMode mode) {
    if (fd_ < 0) return fileError(EBADF, path_, Op::Write);
    bool ok = error_ == 0 && ::fsync(fd_) == 0;
    int err = error_ != 0 ? error_ : errno;
    // Renamed (or linked) while still locked, so no sweep removes a finished temporary; the
    // bytes are on disk after fsync, so closing has nothing left to report.
    if (ok) {
        if (mode == WriteMode::FailIfExists) {
            // link() refuses an existing name atomically, where rename() would replace it.
            ok = ::link(temp_.c_str(), path_.c_str()) == 0;
            err = errno;
            ::unlink(temp_.c_str());
        } else {
            ok = ::rename(temp_.c_str(), path_.c_str()) == 0;
            err = errno;
        }
    }
    if (!ok) ::unlink(temp_.c_str());
    ::close(fd_);
    fd_ = -1;
    if (!ok) return fileError(err, path_, Op::Write);
    syncDirectory(path_.parent_path());
    return {};
}

void AtomicFileWriter::discard() {
    if (fd_ < 0) return;
    ::unlink(temp_.c_str());
    ::close(fd_);
    fd_ = -1;
}

Status writeAtomically(const fs::path& path, const void* bytes, size_t length, WriteMode mode, mode_t permissions) {
    AtomicFileWriter writer;
    if (Status opened = writer.open(path, permissions); !opened.ok()) return opened;
    if (Status wrote = writer.write(bytes, length); !wrote.ok()) return wrote;
    return writer.commit(mode);
}

namespace {

// A file open for reading and what fstat said of it; closed when it goes.
struct ReadableFile {
    int fd = -1;
    struct stat st {};
    ReadableFile() = default;
    ReadableFile(ReadableFile&& other) noexcept : fd(std::exchange(other.fd, -1)), st(other.st) {}
    ReadableFile& operator=(ReadableFile&&) = delete;
    ~ReadableFile() {
        if (fd >= 0) ::close(fd);
    }
};

// Only a regular file is read: a directory fails as reading it would (EISDIR), and a pipe or a
// device (ENODEV) neither blocks the open nor streams for ever.
Result<ReadableFile> openForReading(const fs::path& path) {
    ReadableFile file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file.fd < 0) return fileError(errno, path, Op::Read);
    if (::fstat(file.fd, &file.st) != 0) return fileError(errno, path, Op::Read);
    if (S_ISDIR(file.st.st_mode)) return fileError(EISDIR, path, Op::Read);
    if (!S_ISREG(file.st.st_mode)) return fileError(ENODEV, path, Op::Read);
    return file;
}

}  // namespace

Result<Data> readData(const fs::path& path) {
    auto file = openForReading(path);
    if (!file) return file.error();
    Data out;
    if (file->st.st_size > 0) out.reserve(static_cast<size_t>(file->st.st_size));
    uint8_t buffer[65536];
    while (true) {
        const ssize_t r = ::read(file->fd, buffer, sizeof buffer);
        if (r < 0) {
            if (errno == EINTR) continue;
            return fileError(errno, path, Op::Read);
        }
        if (r == 0) break;
        out.insert(out.end(), buffer, buffer + r);
    }
    return out;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        MappedFile gone(std::move(*this));
        address_ = std::exchange(other.address_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (address_) ::munmap(const_cast<uint8_t*>(address_), size_);
}

Result<MappedFile> mapFile(const fs::path& path) {
    auto file = openForReading(path);
    if (!file) return file.error();
    MappedFile mapped;
    if (file->st.st_size == 0) return mapped;
    const auto size = static_cast<size_t>(file->st.st_size);
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file->fd, 0);
    if (address == MAP_FAILED) return fileError(errno, path, Op::Read);
    mapped.address_ = static_cast<const uint8_t*>(address);
    mapped.size_ = size;
    return mapped;
}

Result<std::string> readString(const fs::path& path) {
    auto data = readData(path);
    if (!data.ok()) return data.error();
    return std::string(data->begin(), data->end());
}

Status move(const fs::path& from, const fs::path& to) {
    if (!files::exists(from)) return fileError(ENOENT, from, Op::Other);
    // RENAME_NOREPLACE keeps an existing destination safe even if it appears after any check.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // A file system without the flag: check, then rename.
        if (files::exists(to)) return fileError(EEXIST, to, Op::Write);
        if (::rename(from.c_str(), to.c_str()) == 0) return {};
        err = errno;
    }
    if (err == EEXIST) return fileError(EEXIST, to, Op::Write);
    if (err != EXDEV) return fileError(err, from, Op::Write);
    if (files::exists(to)) return fileError(EEXIST, to, Op::Write);
    if (Status s = copyTree(from, to); !s.ok()) {
        std::error_code ec;
        fs::remove_all(to, ec);
        return s;
    }
    return files::remove(from);
}

Result<fs::path> setAside(const fs::path& path) {
    fs::path aside = path;
    aside += ".unreadable";
    // A file kept there before makes room for this one; a directory there cannot be replaced, and
    // the entry then goes to the first free numbered name.
    int err = ::rename(path.c_str(), aside.c_str()) == 0 ? 0 : errno;
    for (int n = 2; err != 0 && err != ENOENT && n <= 99; ++n) {
        aside = path;
        aside += ".unreadable-" + std::to_string(n);
        err = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    }
    if (err != 0) return fileError(err, path, Op::Write);
    struct stat st {};
    if (::lstat(aside.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        ::chmod(aside.c_str(), S_ISDIR(st.st_mode) ? S_IRWXU : S_IRUSR | S_IWUSR);
    return aside;
}

Result<fs::path> setAsideKeepingEarlier(const fs::path& path, std::span<const std::string_view> companionSuffixes) {
    auto with = [](const fs::path& base, std::string_view suffix) {
        fs::path p = base;
        p += std::string(suffix);
        return p;
    };
    auto taken = [](const fs::path& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0;
    };
    for (int n = 1; n <= 99; ++n) {
        const fs::path aside = with(path, n == 1 ? std::string(".unreadable") : ".unreadable-" + std::to_string(n));
        bool free = !taken(aside);
        for (std::string_view suffix : companionSuffixes) free = free && !taken(with(aside, suffix));
        if (!free) continue;
        // The file itself never replaces anything, even one that appeared after the check.
        int err = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
        if (err == EINVAL || err == ENOSYS)  // a file system without the flag: checked above
            err = ::rename(path.c_str(), aside.c_str()) == 0 ? 0 : errno;
        if (err == EEXIST) continue;
        if (err != 0) return fileError(err, path, Op::Write);
        // A companion left behind would be taken for the next file's own (a journal replayed into it).
        for (std::string_view suffix : companionSuffixes)
            if (taken(with(path, suffix)) && ::rename(with(path, suffix).c_str(), with(aside, suffix).c_str()) != 0)
                return fileError(errno, with(path, suffix), Op::Write);
        struct stat st {};
        if (::lstat(aside.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            ::chmod(aside.c_str(), S_ISDIR(st.st_mode) ? S_IRWXU : S_IRUSR | S_IWUSR);
        return aside;
    }
    return fileError(EEXIST, path, Op::Write);
}

Status copy(const fs::path& from, const fs::path& to) {
    if (!files::exists(from)) return fileError(ENOENT, from, Op::Read);
    if (files::exists(to)) return fileError(EEXIST, to, Op::Write);
    return copyTree(from, to);
}

Status remove(const fs::path& path) {
    if (!files::exists(path)) return fileError(ENOENT, path, Op::Other);
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) return fileError(ec.value(), path, Op::Write);
    return {};
}

Result<FileAttributes> attributes(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return fileError(errno, path, Op::Read);
    return attributesOf(st);
}

Result<std::vector<DirectoryEntry>> listDirectory(const fs::path& directory, bool skipHidden) {
    std::vector<DirectoryEntry> out;
    std::error_code ec;
    fs::directory_iterator it(directory, ec);
    if (ec) return fileError(ec.value(), directory, Op::Read);
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return fileError(ec.value(), directory, Op::Read);
        DirectoryEntry entry;
        entry.name = it->path().filename().string();
        if (skipHidden && entry.name.starts_with(".")) continue;
        entry.path = it->path();
        struct stat st {};
        // An entry removed while listing is skipped rather than failing the whole listing.
        if (::lstat(entry.path.c_str(), &st) != 0) continue;
        entry.attributes = attributesOf(st);
        out.push_back(std::move(entry));
    }
    if (ec) return fileError(ec.value(), directory, Op::Read);
    std::sort(out.begin(), out.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return out;
}

Status setModificationDate(const fs::path& path, Date date) {
    const double whole = std::floor(date.secondsSince1970);
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(whole);
    times[1].tv_nsec = static_cast<long>((date.secondsSince1970 - whole) * 1e9);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return fileError(errno, path, Op::Write);
    return {};
}

Status setPosixPermissions(const fs::path& path, mode_t mode) {
    if (::chmod(path.c_str(), mode) != 0) return fileError(errno, path, Op::Write);
    return {};
}

}  // namespace files
}  // namespace foundation
