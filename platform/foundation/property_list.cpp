#include "platform/foundation/property_list.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>

#include "platform/foundation/data_format_detail.h"
#include "platform/foundation/files.h"
#include "platform/foundation/plist_backend.h"

namespace foundation {

namespace detail {

Error plistReadError(std::string message) {
    return Error::withDescription(kCocoaErrorDomain, kPropertyListReadCorruptError,
                                  "The property list could not be read: " + message);
}

Error plistWriteError(std::string message) {
    return Error::withDescription(kCocoaErrorDomain, kPropertyListWriteInvalidError,
                                  "The property list could not be written: " + message);
}

namespace {

uint64_t readBigEndian(const unsigned char* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// Checks binary input for what the backend mishandles before it sees it: it aborts (an
// assertion) when it hands out a dictionary key holding a NUL byte, and it gives integers
// above INT64_MAX (16-byte integers, written only by foreign tools) the same bits as negative
// ones. Only what the check needs is read, each read bounds-checked; anything else malformed is
// left to the backend to refuse. Answers the problem found, or nullptr.
const char* binaryPrecheck(std::string_view bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    if (size < 8 + 32) return nullptr;
    const unsigned char* trailer = b + size - 32;
    const size_t offsetSize = trailer[6];
    const size_t refSize = trailer[7];
    const uint64_t count = readBigEndian(trailer + 8, 8);
    const uint64_t tableOffset = readBigEndian(trailer + 24, 8);
    const size_t body = size - 32;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return nullptr;
    if (tableOffset >= body || count > (body - tableOffset) / offsetSize) return nullptr;
    auto objectOffset = [&](uint64_t index) -> uint64_t {
        return index < count ? readBigEndian(b + tableOffset + index * offsetSize, offsetSize) : body;
    };
    // Reads a marker's length, the low nibble or a following integer object; false when cut.
    auto lengthAt = [&](uint64_t off, uint64_t& length, uint64_t& start) -> bool {
        length = b[off] & 0x0F;
        start = off + 1;
        if (length != 0x0F) return true;
        if (start >= body || (b[start] & 0xF0) != 0x10) return false;
        const size_t n = size_t{1} << (b[start] & 0x0F);
        if (n > 8 || start + 1 + n > body) return false;
        length = readBigEndian(b + start + 1, n);
        start += 1 + n;
        return true;
    };
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t off = objectOffset(i);
        if (off >= body) continue;
        if (b[off] == 0x14) return "an integer beyond 64 bits";
        if ((b[off] & 0xF0) != 0xD0) continue;
        uint64_t entries = 0, start = 0;
        if (!lengthAt(off, entries, start)) continue;
        if (entries > (body - start) / refSize) continue;
        for (uint64_t k = 0; k < entries; ++k) {
            const uint64_t keyOff = objectOffset(readBigEndian(b + start + k * refSize, refSize));
            if (keyOff >= body) continue;
            const unsigned kind = b[keyOff] & 0xF0;
            if (kind != 0x50 && kind != 0x60) continue;
            uint64_t length = 0, textStart = 0;
            if (!lengthAt(keyOff, length, textStart)) continue;
            const uint64_t unit = kind == 0x60 ? 2 : 1;
            if (length > (body - textStart) / unit) continue;
            for (uint64_t c = 0; c < length; ++c) {
                const unsigned char* u = b + textStart + c * unit;
                if (u[0] == 0 && (unit == 1 || u[1] == 0)) return "a dictionary key holds a NUL character";
            }
        }
    }
    return nullptr;
}

}  // namespace

Result<PlistPtr> parsePlistBytes(std::string_view bytes, PropertyListFormat* format) {
    if (bytes.size() > std::numeric_limits<uint32_t>::max()) return plistReadError("too large");
    plist_t root = nullptr;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0) {
        if (const char* problem = binaryPrecheck(bytes)) return plistReadError(problem);
        plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
        if (format) *format = PropertyListFormat::Binary;
    } else {
        size_t i = 0;
        if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) i = 3;
        while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t')) ++i;
        if (i >= bytes.size() || bytes[i] != '<') return plistReadError("not a binary or XML property list");
        plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
        if (format) *format = PropertyListFormat::XML;
    }
    if (!root) return plistReadError("malformed data");
    return PlistPtr(root);
}

Result<Data> plistToBinary(plist_t root) {
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &out, &length);
    if (!out) return plistWriteError("the binary writer failed");
    Data bytes(reinterpret_cast<uint8_t*>(out), reinterpret_cast<uint8_t*>(out) + length);
    plist_to_bin_free(out);
    return bytes;
}

Result<PlistPtr> plistString(std::string_view s) {
    if (s.find('\0') != std::string_view::npos) return plistWriteError("a string holds a NUL character");
    if (!isValidUTF8(s)) return plistWriteError("a string is not valid UTF-8");
    return PlistPtr(plist_new_string(std::string(s).c_str()));
}

Result<PlistPtr> plistDate(Date d) {
    const double t = d.secondsSince1970 - kSecondsFrom1970To2001;
    if (!std::isfinite(t) || std::fabs(t) >= 2147483647.0) return plistWriteError("a date is out of range");
    int64_t sec = static_cast<int64_t>(std::trunc(t));
    int64_t usec = std::llround((t - static_cast<double>(sec)) * 1e6);
    if (usec >= 1000000) {
        ++sec;
        usec -= 1000000;
    } else if (usec <= -1000000) {
        --sec;
        usec += 1000000;
    }
    return PlistPtr(plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>(usec)));
}

Date dateFromPlist(plist_t node) {
    // The backend hands out a date's fraction truncated and without its sign, so a date before
    // 2001 moved forward by up to two seconds, and one whose stored double sits a hair below its
    // microsecond lost one microsecond at every save. Its binary form of the date alone holds
    // the stored double itself: "bplist00", then the date object (0x33 and 8 bytes).
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    std::optional<double> stored;
    if (b && length >= 17 && std::memcmp(b, "bplist00", 8) == 0 && b[8] == 0x33) {
        const uint64_t bits = readBigEndian(b + 9, 8);
        double t = 0;
        std::memcpy(&t, &bits, sizeof t);
        stored = t;
    }
    if (bytes) plist_to_bin_free(bytes);
    if (stored) return Date{kSecondsFrom1970To2001 + *stored};
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    return Date{kSecondsFrom1970To2001 + static_cast<double>(sec) + static_cast<double>(usec) / 1e6};
}

Result<std::string> stringFromPlist(plist_t node) {
    std::string s;
    if (plist_get_node_type(node) == PLIST_KEY) {
        char* key = nullptr;
        plist_get_key_val(node, &key);
        if (key) {
            s = key;
            std::free(key);
        }
    } else {
        uint64_t length = 0;
        const char* p = plist_get_string_ptr(node, &length);
        if (p) s.assign(p, length);
    }
    if (!isValidUTF8(s)) return plistReadError("a string is not valid UTF-8");
    return s;
}

Result<PlistPtr> plistFromValue(const Value& v, int depth) {
    if (depth > kPropertyListMaxDepth) return plistWriteError("nesting too deep");
    switch (v.type()) {
        case Value::Type::Null:
            return plistWriteError("null is not a property-list value");
        case Value::Type::Bool:
            return PlistPtr(plist_new_bool(*v.ifBool() ? 1 : 0));
        case Value::Type::Int:
            return PlistPtr(plist_new_uint(static_cast<uint64_t>(*v.ifInt())));
        case Value::Type::Double:
            return PlistPtr(plist_new_real(*v.ifDouble()));
        case Value::Type::String:
            return plistString(*v.ifString());
        case Value::Type::Data: {
            const Data& d = *v.ifData();
            return PlistPtr(plist_new_data(reinterpret_cast<const char*>(d.data()), d.size()));
        }
        case Value::Type::Date:
            return plistDate(*v.ifDate());
        case Value::Type::Array: {
            PlistPtr array(plist_new_array());
            for (const Value& item : *v.ifArray()) {
                auto child = plistFromValue(item, depth + 1);
                if (!child.ok()) return child.error();
                plist_array_append_item(array.get(), child.value().release());
            }
            return array;
        }
        case Value::Type::Dictionary: {
            PlistPtr dict(plist_new_dict());
            for (const auto& [key, item] : *v.ifDictionary()) {
                if (!key.isString()) {
                    return plistWriteError("dictionary key " + key.description() + " is a number, not a string");
                }
                const std::string& k = key.string();
                if (k.find('\0') != std::string::npos || !isValidUTF8(k)) {
                    return plistWriteError("a dictionary key is not valid UTF-8 text");
                }
                auto child = plistFromValue(item, depth + 1);
                if (!child.ok()) return child.error();
                plist_dict_set_item(dict.get(), k.c_str(), child.value().release());
            }
            return dict;
        }
    }
    return plistWriteError("unknown value type");
}

Result<Value> valueFromPlist(plist_t node, int depth) {
    if (depth > kPropertyListMaxDepth) return plistReadError("nesting too deep");
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return Value(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            auto s = stringFromPlist(node);
            if (!s.ok()) return s.error();
            return Value(std::move(s).value());
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const char* p = plist_get_data_ptr(node, &length);
            Data d;
            if (p && length)
                d.assign(reinterpret_cast<const uint8_t*>(p), reinterpret_cast<const uint8_t*>(p) + length);
            return Value(std::move(d));
        }
        case PLIST_DATE:
            return Value(dateFromPlist(node));
        case PLIST_ARRAY: {
            Array array;
            array.reserve(plist_array_get_size(node));
            Result<Value> failure = Value();
            forEachArrayItem(node, [&](plist_t item) {
                auto child = valueFromPlist(item, depth + 1);
                if (!child.ok()) {
                    failure = child.error();
                    return false;
                }
                array.push_back(std::move(child).value());
                return true;
            });
            if (!failure.ok()) return failure.error();
            return Value(std::move(array));
        }
        case PLIST_DICT: {
            Dictionary dict;
            plist_dict_iter iter = nullptr;
            plist_dict_new_iter(node, &iter);
            if (!iter) return plistReadError("unreadable dictionary");
            Result<Value> failure = Value();
            for (;;) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, iter, &key, &item);
                if (!item) {
                    std::free(key);
                    break;
                }
                std::string k = key ? key : "";
                std::free(key);
                if (!isValidUTF8(k)) {
                    failure = plistReadError("a dictionary key is not valid UTF-8");
                    break;
                }
                auto child = valueFromPlist(item, depth + 1);
                if (!child.ok()) {
                    failure = child.error();
                    break;
                }
                dict.set(Key(std::move(k)), std::move(child).value());
            }
            std::free(iter);
            if (!failure.ok()) return failure.error();
            return Value(std::move(dict));
        }
        case PLIST_UID:
            return plistReadError("a keyed-archive reference (UID) in a plain property list");
        default:
            return plistReadError("unknown node type");
    }
}

namespace {

std::atomic<uint64_t> tempCounter{0};

Error posixError(int code, const std::string& what) {
    return Error::withDescription("NSPOSIXErrorDomain", code, what + ": " + std::strerror(code));
}

std::string temporaryPrefix(const std::filesystem::path& path) { return "." + path.filename().string() + ".tmp-"; }

// A writer holds an exclusive lock on its temporary from creation until the rename, so a
// temporary whose lock can be taken belongs to a writer that died mid-write (killed, power
// lost) and would otherwise stay beside the file for good.
void removeStaleTemporaries(const std::filesystem::path& path) {
    const std::string prefix = temporaryPrefix(path);
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat opened {
        }, named{};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ::lstat(it->path().c_str(), &named) == 0 && opened.st_ino == named.st_ino && opened.st_dev == named.st_dev)
            ::unlink(it->path().c_str());
        ::close(fd);
    }
}

// Creates and locks a fresh temporary beside path. A cleaner may take the lock of a temporary
// in the instant between its creation and its locking and remove it; the writer sees the
// name gone (no links left) and starts over with another name.
int createLockedTemporary(const std::filesystem::path& path, std::filesystem::path& temp, int& error,
                          mode_t permissions) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp = path.parent_path() /
               (temporaryPrefix(path) + std::to_string(::getpid()) + "-" + std::to_string(tempCounter.fetch_add(1)));
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd < 0) {
            error = errno;
            return -1;
        }
        struct stat st {};
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {}
        if (::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    error = EAGAIN;
    return -1;
}

}  // namespace

Status writeFileAtomically(const std::filesystem::path& path, const Data& bytes, mode_t permissions) {
    removeStaleTemporaries(path);
    std::filesystem::path temp;
    int createError = 0;
    int fd = createLockedTemporary(path, temp, createError, permissions);
    if (fd < 0) return posixError(createError, "cannot create " + temp.string());
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int e = n < 0 ? errno : EIO;
            ::unlink(temp.c_str());
            ::close(fd);
            return posixError(e, "cannot write " + temp.string());
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        int e = errno;
        ::unlink(temp.c_str());
        ::close(fd);
        return posixError(e, "cannot flush " + temp.string());
    }
    // Renamed while still locked, so no cleaner ever removes a finished temporary.
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(temp.c_str());
        ::close(fd);
        return posixError(e, "cannot replace " + path.string());
    }
    ::close(fd);  // flushed by fsync above: nothing left for close to report
    return Status::success();
}

}  // namespace detail

Result<Value> readPropertyList(std::string_view bytes, PropertyListFormat* format) {
    auto root = detail::parsePlistBytes(bytes, format);
    if (!root.ok()) return root.error();
    return detail::valueFromPlist(root.value().get());
}

Result<Data> writeBinaryPropertyList(const Value& value) {
    auto root = detail::plistFromValue(value);
    if (!root.ok()) return root.error();
    return detail::plistToBinary(root.value().get());
}

Result<Value> readPropertyListFile(const std::filesystem::path& path) {
    detail::removeStaleTemporaries(path);
    // Read as bytes, not through a stream: a directory in the file's place fails as an error, where
    // a stream would throw from the middle of the read.
    auto bytes = files::readData(path);
    if (!bytes.ok()) return bytes.error();
    return readPropertyList(bytes.value());
}

Status writePropertyListFile(const Value& value, const std::filesystem::path& path, mode_t permissions) {
    auto bytes = writeBinaryPropertyList(value);
    if (!bytes.ok()) return bytes.error();
    return detail::writeFileAtomically(path, bytes.value(), permissions);
}

}  // namespace foundation
