// Keyed archiving: object graphs of archivable classes and plain values, stored as a binary
// property list that any property-list reader can open.
//
// Layout: a dictionary {"$archiver": "HXKeyedArchive", "$version": 1, "$top": {...},
// "$objects": [...]}. "$objects"[0] is "$null" (nil); every object is an entry of "$objects",
// referred to by a UID. Strings, numbers and data are stored as themselves; an archivable object
// is a dictionary with "$class" (the UID of {"$classname": name, "$classes": [name]}) and its
// keyed values (keys beginning with "$" get one more "$" in front); an array is
// {"$class": NSArray, "objects": [UIDs]}, a dictionary {"$class": NSDictionary,
// "keys": [UIDs], "objects": [UIDs]} (keys may be strings or integers, so the caches and the
// phone tables can key by number), a date {"$class": NSDate, "time": seconds since 1970}.
// Bools, integers and doubles written with encodeBool/encodeInt.../encodeDouble sit inline under
// their key. The root object is "$top"["root"]. An object encoded twice (same address) is stored
// once and decodes as one shared object.
//
// Decoding never trusts the input: bad UIDs, cycles, wrong types, unknown or disallowed classes
// and nesting deeper than kArchiveMaxDepth all end in an error (domain NSCocoaErrorDomain, code
// kArchiveReadCorruptError), never in a crash.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

inline constexpr int64_t kArchiveReadCorruptError = 4864;
inline constexpr int64_t kArchiveInvalidValueError = 4866;
inline constexpr const char* kArchiveRootKey = "root";
inline constexpr int kArchiveMaxDepth = 256;

// The class names the allow list uses for plain values (a mutable variant allows the same kind).
inline constexpr const char* kArchiveStringClass = "NSString";
inline constexpr const char* kArchiveNumberClass = "NSNumber";
inline constexpr const char* kArchiveDataClass = "NSData";
inline constexpr const char* kArchiveDateClass = "NSDate";
inline constexpr const char* kArchiveArrayClass = "NSArray";
inline constexpr const char* kArchiveDictionaryClass = "NSDictionary";

class Coder;
class Decoder;

// A class whose instances can be archived: it names itself and writes its state under keys.
class Archivable {
public:
    virtual ~Archivable() = default;
    // The name the class is registered under (see ArchiveClassRegistry).
    virtual std::string className() const = 0;
    virtual void encode(Coder& coder) const = 0;
};

// Builds an instance from its keyed values; nullptr when the archive does not make a valid one
// (the decoder then reports an error, unless the factory already failed it with a better one).
using ArchiveDecodeFactory = std::function<std::shared_ptr<Archivable>(Decoder&)>;

// Class name -> decode factory. The shared registry serves every unarchiver unless options
// name another; registration is thread-safe.
class ArchiveClassRegistry {
public:
    static ArchiveClassRegistry& shared();

    void registerClass(const std::string& name, ArchiveDecodeFactory factory);
    // For a class T with `static std::shared_ptr<T> decode(Decoder&)`.
    template <typename T>
    void registerClass(const std::string& name) {
        registerClass(name, [](Decoder& d) -> std::shared_ptr<Archivable> { return T::decode(d); });
    }
    ArchiveDecodeFactory find(const std::string& name) const;

private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, ArchiveDecodeFactory> factories_;
};

struct UnarchiveOptions {
    // Secure decoding when set: every class met in the archive, archivable or plain (see the
    // k...Class names above), must be on the list, or decoding fails.
    std::optional<std::set<std::string>> allowedClasses;
    // Archived class name -> the name it is registered under now (renamed classes).
    std::map<std::string, std::string> classNameMap;
    // The registry to build objects from; nullptr means ArchiveClassRegistry::shared().
    const ArchiveClassRegistry* registry = nullptr;
};

// What a key holds when the caller does not know in advance: an archivable object, or else a
// plain value (null for nil).
struct ArchivedObject {
    std::shared_ptr<Archivable> object;
    Value value;
};

// The encoding side, handed to Archivable::encode. Values go under string keys of the object
// being encoded; failures (text that is not valid UTF-8, a null inside a container, ...) are kept
// and reported when the archive is finished.
class Coder {
public:
    Coder();
    ~Coder();
    Coder(const Coder&) = delete;
    Coder& operator=(const Coder&) = delete;

    void encodeBool(std::string_view key, bool value);
    void encodeInt32(std::string_view key, int32_t value);
    void encodeInt64(std::string_view key, int64_t value);
    void encodeDouble(std::string_view key, double value);
    void encodeString(std::string_view key, std::string_view value);
    void encodeData(std::string_view key, const Data& value);
    void encodeDate(std::string_view key, Date value);
    // A plain value graph; a null value is written as nil (the key is present, decoding gives null).
    void encodeValue(std::string_view key, const Value& value);
    // An archivable object, written in place (a by-reference object is not shared).
    void encodeObject(std::string_view key, const Archivable& object);
    // A shared archivable object; nullptr is written as nil. The same object encoded twice is
    // stored once.
    void encodeObject(std::string_view key, const std::shared_ptr<const Archivable>& object);
    // A range of shared pointers to archivable objects, as an array.
    template <typename Range>
    void encodeArray(std::string_view key, const Range& objects) {
        std::vector<std::shared_ptr<const Archivable>> list;
        for (const auto& o : objects) list.push_back(o);
        encodeArrayOfObjects(key, list);
    }
    // A map from keys (strings or integers) to shared archivable objects, as a dictionary.
    template <typename Map>
    void encodeDictionary(std::string_view key, const Map& objects) {
        std::vector<std::pair<Key, std::shared_ptr<const Archivable>>> list;
        for (const auto& [k, o] : objects) {
            list.emplace_back(std::piecewise_construct, std::forward_as_tuple(k), std::forward_as_tuple(o));
        }
        encodeDictionaryOfObjects(key, list);
    }
    void encodeArrayOfObjects(std::string_view key, const std::vector<std::shared_ptr<const Archivable>>& objects);
    void encodeDictionaryOfObjects(std::string_view key,
                                   const std::vector<std::pair<Key, std::shared_ptr<const Archivable>>>& objects);

    void failWithError(Error error);
    bool failed() const { return error_.has_value(); }

    // The finished archive: the root is what was encoded under kArchiveRootKey at the top level.
    Result<Data> finish();

private:
    struct State;
    uint64_t referenceTo(const Value& value, int depth);
    uint64_t referenceTo(const Archivable& object, const std::shared_ptr<const Archivable>& shared);
    void put(std::string_view key, void* node);

    std::unique_ptr<State> state_;
    std::optional<Error> error_;
};

// The decoding side, handed to decode factories. Reads give the caller's fallback when the key
// is absent; a value of the wrong kind fails the whole decoding (and gives the fallback).
class Decoder {
public:
    // Opens an archive; reads at the top level see the root under kArchiveRootKey.
    static Result<std::unique_ptr<Decoder>> open(const Data& archive, UnarchiveOptions options = {});
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool containsValue(std::string_view key) const;
    bool decodeBool(std::string_view key, bool fallback = false);
    // The number's low 32 bits, sign-extended: -1 and -2 survive a 64-bit write.
    int32_t decodeInt32(std::string_view key, int32_t fallback = 0);
    int64_t decodeInt64(std::string_view key, int64_t fallback = 0);
    double decodeDouble(std::string_view key, double fallback = 0);
    // Absent or nil gives nullopt.
    std::optional<std::string> decodeString(std::string_view key);
    std::optional<Data> decodeData(std::string_view key);
    std::optional<Date> decodeDate(std::string_view key);
    // A plain value graph; absent or nil gives null. Archivable objects inside are an error.
    Value decodeValue(std::string_view key);
    // An archivable object of class T (or a subclass); absent or nil gives nullptr.
    template <typename T>
    std::shared_ptr<T> decodeObject(std::string_view key) {
        auto object = decodeArchivable(key);
        return checkedCast<T>(std::move(object), key);
    }
    // Arrays and dictionaries of archivable objects of class T; absent or nil gives nullopt.
    template <typename T>
    std::optional<std::vector<std::shared_ptr<T>>> decodeArray(std::string_view key) {
        auto list = decodeArrayOfObjects(key);
        if (!list) return std::nullopt;
        std::vector<std::shared_ptr<T>> out;
        out.reserve(list->size());
        for (auto& o : *list) {
            auto typed = checkedCast<T>(std::move(o), key);
            if (!typed) return std::nullopt;
            out.push_back(std::move(typed));
        }
        return out;
    }
    template <typename T>
    std::optional<std::vector<std::pair<Key, std::shared_ptr<T>>>> decodeDictionary(std::string_view key) {
        auto list = decodeDictionaryOfObjects(key);
        if (!list) return std::nullopt;
        std::vector<std::pair<Key, std::shared_ptr<T>>> out;
        out.reserve(list->size());
        for (auto& [k, o] : *list) {
            auto typed = checkedCast<T>(std::move(o), key);
            if (!typed) return std::nullopt;
            out.emplace_back(std::move(k), std::move(typed));
        }
        return out;
    }
    ArchivedObject decodeAny(std::string_view key);
    std::shared_ptr<Archivable> decodeArchivable(std::string_view key);
    std::optional<std::vector<std::shared_ptr<Archivable>>> decodeArrayOfObjects(std::string_view key);
    std::optional<std::vector<std::pair<Key, std::shared_ptr<Archivable>>>>
    decodeDictionaryOfObjects(std::string_view key);

    void failWithError(Error error);
    bool failed() const { return error_.has_value(); }
    const std::optional<Error>& error() const { return error_; }

private:
    struct State;
    Decoder();
    template <typename T>
    std::shared_ptr<T> checkedCast(std::shared_ptr<Archivable> object, std::string_view key) {
        if (!object) return nullptr;
        auto typed = std::dynamic_pointer_cast<T>(object);
        if (!typed) failWrongClass(object->className(), key);
        return typed;
    }
    void failWrongClass(const std::string& className, std::string_view key);
    void fail(std::string message);
    template <typename T>
    std::optional<T> decodeTyped(std::string_view key, const char* kind, const T* (*extract)(const Value&));
    // Nodes are the backend's; void* keeps it out of this header.
    void* lookup(std::string_view key) const;
    void* resolve(void* node, uint64_t* uid);
    std::string classNameOf(void* node);
    bool allowed(const std::string& name);
    bool charge(int64_t amount);
    Value plainValue(void* node, uint64_t uid, int depth);
    std::shared_ptr<Archivable> archivableAt(uint64_t uid);
    void forEachReference(void* container, const char* field, const std::function<bool(uint64_t)>& visit);

    std::unique_ptr<State> state_;
    std::optional<Error> error_;
};

// The common root forms.
Result<Data> archivedData(const Archivable& root);
Result<Data> archivedData(const Value& root);
template <typename Range>
Result<Data> archivedDataWithArray(const Range& objects) {
    Coder coder;
    coder.encodeArray(kArchiveRootKey, objects);
    return coder.finish();
}

// The root as an object of class T; a nil root is an error.
template <typename T>
Result<std::shared_ptr<T>> unarchivedObject(const Data& archive, UnarchiveOptions options = {}) {
    auto decoder = Decoder::open(archive, std::move(options));
    if (!decoder.ok()) return decoder.error();
    auto object = (*decoder)->template decodeObject<T>(kArchiveRootKey);
    if ((*decoder)->failed()) return *(*decoder)->error();
    if (!object)
        return Error::withDescription(kCocoaErrorDomain, kArchiveReadCorruptError, "The archive has no root object.");
    return object;
}
template <typename T>
Result<std::vector<std::shared_ptr<T>>> unarchivedArray(const Data& archive, UnarchiveOptions options = {}) {
    auto decoder = Decoder::open(archive, std::move(options));
    if (!decoder.ok()) return decoder.error();
    auto list = (*decoder)->template decodeArray<T>(kArchiveRootKey);
    if ((*decoder)->failed()) return *(*decoder)->error();
    if (!list)
        return Error::withDescription(kCocoaErrorDomain, kArchiveReadCorruptError, "The archive has no root array.");
    return std::move(*list);
}
// The root as a plain value (nil gives null).
Result<Value> unarchivedValue(const Data& archive, UnarchiveOptions options = {});
// The root whatever it is.
Result<ArchivedObject> unarchivedAny(const Data& archive, UnarchiveOptions options = {});

}  // namespace foundation
