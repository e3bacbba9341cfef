#include "platform/foundation/keyed_archiver.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/foundation/data_format_detail.h"
#include "platform/foundation/plist_backend.h"

namespace foundation {

namespace {

constexpr const char* kArchiverName = "HXKeyedArchive";
constexpr const char* kNullMarker = "$null";

Error archiveError(int64_t code, const std::string& message) {
    return Error::withDescription(kCocoaErrorDomain, code,
                                  (code == kArchiveInvalidValueError ? "The object could not be archived: "
                                                                     : "The archive could not be decoded: ") +
                                      message);
}

// Keys of an object's dictionary that start with "$" get one more, so they never meet "$class".
std::string storedKey(std::string_view key) {
    std::string out;
    if (!key.empty() && key[0] == '$') out += '$';
    out += key;
    return out;
}

bool isPlainClass(const std::string& name) {
    return name == kArchiveArrayClass || name == kArchiveDictionaryClass || name == kArchiveDateClass;
}

}  // namespace

// ---- Registry

ArchiveClassRegistry& ArchiveClassRegistry::shared() {
    // Kept to the end of the process: a worker may still decode (a log flush on a pool thread)
    // while the exit handlers run, and must not find the table destroyed under it.
    static auto* registry = new ArchiveClassRegistry();
    return *registry;
}

void ArchiveClassRegistry::registerClass(const std::string& name, ArchiveDecodeFactory factory) {
    std::unique_lock lock(mutex_);
    factories_[name] = std::move(factory);
}

ArchiveDecodeFactory ArchiveClassRegistry::find(const std::string& name) const {
    std::shared_lock lock(mutex_);
    auto it = factories_.find(name);
    return it == factories_.end() ? ArchiveDecodeFactory() : it->second;
}

// ---- Coder

struct Coder::State {
    detail::PlistPtr objects{plist_new_array()};
    detail::PlistPtr top{plist_new_dict()};
    plist_t current = nullptr;
    uint64_t count = 0;
    int depth = 0;
    std::unordered_map<const Archivable*, uint64_t> sharedRefs;
    std::vector<std::shared_ptr<const Archivable>> keepAlive;  // addresses stay unique while encoding
    std::unordered_map<std::string, uint64_t> stringRefs;
    std::unordered_map<std::string, uint64_t> classRefs;

    uint64_t append(plist_t node) {
        plist_array_append_item(objects.get(), node);
        return count++;
    }
};

Coder::Coder() : state_(std::make_unique<State>()) {
    state_->current = state_->top.get();
    state_->append(plist_new_string(kNullMarker));
}

Coder::~Coder() = default;

void Coder::failWithError(Error error) {
    if (!error_) error_ = std::move(error);
}

void Coder::put(std::string_view key, void* node) {
    if (key.find('\0') != std::string_view::npos || !detail::isValidUTF8(key)) {
        plist_free(static_cast<plist_t>(node));
        failWithError(archiveError(kArchiveInvalidValueError, "a key is not valid UTF-8 text"));
        return;
    }
    plist_dict_set_item(state_->current, storedKey(key).c_str(), static_cast<plist_t>(node));
}

void Coder::encodeBool(std::string_view key, bool value) { put(key, plist_new_bool(value ? 1 : 0)); }
void Coder::encodeInt32(std::string_view key, int32_t value) { encodeInt64(key, value); }
void Coder::encodeInt64(std::string_view key, int64_t value) { put(key, plist_new_uint(static_cast<uint64_t>(value))); }
void Coder::encodeDouble(std::string_view key, double value) { put(key, plist_new_real(value)); }
void Coder::encodeString(std::string_view key, std::string_view value) { encodeValue(key, Value(value)); }
void Coder::encodeData(std::string_view key, const Data& value) { encodeValue(key, Value(value)); }
void Coder::encodeDate(std::string_view key, Date value) { encodeValue(key, Value(value)); }

void Coder::encodeValue(std::string_view key, const Value& value) {
    put(key, plist_new_uid(referenceTo(value, state_->depth)));
}

void Coder::encodeObject(std::string_view key, const Archivable& object) {
    put(key, plist_new_uid(referenceTo(object, nullptr)));
}

void Coder::encodeObject(std::string_view key, const std::shared_ptr<const Archivable>& object) {
    put(key, plist_new_uid(object ? referenceTo(*object, object) : 0));
}

namespace {

uint64_t classReference(std::unordered_map<std::string, uint64_t>& refs, const std::string& name,
                        const std::function<uint64_t(plist_t)>& append) {
    if (auto it = refs.find(name); it != refs.end()) return it->second;
    plist_t cls = plist_new_dict();
    plist_dict_set_item(cls, "$classname", plist_new_string(name.c_str()));
    plist_t chain = plist_new_array();
    plist_array_append_item(chain, plist_new_string(name.c_str()));
    plist_dict_set_item(cls, "$classes", chain);
    const uint64_t uid = append(cls);
    refs.emplace(name, uid);
    return uid;
}

}  // namespace

void Coder::encodeArrayOfObjects(std::string_view key, const std::vector<std::shared_ptr<const Archivable>>& objects) {
    State& s = *state_;
    plist_t refs = plist_new_array();
    for (const auto& o : objects) {
        if (!o) failWithError(archiveError(kArchiveInvalidValueError, "nil inside an array"));
        plist_array_append_item(refs, plist_new_uid(o ? referenceTo(*o, o) : 0));
    }
    plist_t node = plist_new_dict();
    plist_dict_set_item(node, "$class", plist_new_uid(classReference(s.classRefs, kArchiveArrayClass, [&s](plist_t n) {
                            return s.append(n);
                        })));
    plist_dict_set_item(node, "objects", refs);
    put(key, plist_new_uid(s.append(node)));
}

void Coder::encodeDictionaryOfObjects(std::string_view key,
                                      const std::vector<std::pair<Key, std::shared_ptr<const Archivable>>>& objects) {
    State& s = *state_;
    plist_t keys = plist_new_array();
    plist_t refs = plist_new_array();
    for (const auto& [k, o] : objects) {
        const Value keyValue = k.isString() ? Value(k.string()) : Value(k.number());
        plist_array_append_item(keys, plist_new_uid(referenceTo(keyValue, s.depth)));
        if (!o) failWithError(archiveError(kArchiveInvalidValueError, "nil inside a dictionary"));
        plist_array_append_item(refs, plist_new_uid(o ? referenceTo(*o, o) : 0));
    }
    plist_t node = plist_new_dict();
    plist_dict_set_item(
        node, "$class",
        plist_new_uid(classReference(s.classRefs, kArchiveDictionaryClass, [&s](plist_t n) { return s.append(n); })));
    plist_dict_set_item(node, "keys", keys);
    plist_dict_set_item(node, "objects", refs);
    put(key, plist_new_uid(s.append(node)));
}

uint64_t Coder::referenceTo(const Value& value, int depth) {
    State& s = *state_;
    auto append = [&s](plist_t node) { return s.append(node); };
    if (depth > kArchiveMaxDepth) {
        failWithError(archiveError(kArchiveInvalidValueError, "nesting too deep"));
        return 0;
    }
    switch (value.type()) {
        case Value::Type::Null:
            return 0;
        case Value::Type::Bool:
            return s.append(plist_new_bool(*value.ifBool() ? 1 : 0));
        case Value::Type::Int:
            return s.append(plist_new_uint(static_cast<uint64_t>(*value.ifInt())));
        case Value::Type::Double:
            return s.append(plist_new_real(*value.ifDouble()));
        case Value::Type::String: {
            const std::string& text = *value.ifString();
            if (auto it = s.stringRefs.find(text); it != s.stringRefs.end()) return it->second;
            auto node = detail::plistString(text);
            if (!node.ok()) {
                failWithError(archiveError(kArchiveInvalidValueError, "a string is not valid UTF-8 without NUL"));
                return 0;
            }
            const uint64_t uid = s.append(static_cast<plist_t>(node.value().release()));
            s.stringRefs.emplace(text, uid);
            return uid;
        }
        case Value::Type::Data: {
            const Data& d = *value.ifData();
            return s.append(plist_new_data(reinterpret_cast<const char*>(d.data()), d.size()));
        }
        case Value::Type::Date: {
            plist_t node = plist_new_dict();
            plist_dict_set_item(node, "$class", plist_new_uid(classReference(s.classRefs, kArchiveDateClass, append)));
            plist_dict_set_item(node, "time", plist_new_real(value.ifDate()->secondsSince1970));
            return s.append(node);
        }
        case Value::Type::Array: {
            plist_t refs = plist_new_array();
            for (const Value& item : *value.ifArray()) {
                if (item.isNull()) failWithError(archiveError(kArchiveInvalidValueError, "null inside an array"));
                plist_array_append_item(refs, plist_new_uid(referenceTo(item, depth + 1)));
            }
            plist_t node = plist_new_dict();
            plist_dict_set_item(node, "$class", plist_new_uid(classReference(s.classRefs, kArchiveArrayClass, append)));
            plist_dict_set_item(node, "objects", refs);
            return s.append(node);
        }
        case Value::Type::Dictionary: {
            plist_t keys = plist_new_array();
            plist_t refs = plist_new_array();
            for (const auto& [k, item] : *value.ifDictionary()) {
                const Value keyValue = k.isString() ? Value(k.string()) : Value(k.number());
                plist_array_append_item(keys, plist_new_uid(referenceTo(keyValue, depth + 1)));
                if (item.isNull()) failWithError(archiveError(kArchiveInvalidValueError, "null inside a dictionary"));
                plist_array_append_item(refs, plist_new_uid(referenceTo(item, depth + 1)));
            }
            plist_t node = plist_new_dict();
            plist_dict_set_item(node, "$class",
                                plist_new_uid(classReference(s.classRefs, kArchiveDictionaryClass, append)));
            plist_dict_set_item(node, "keys", keys);
            plist_dict_set_item(node, "objects", refs);
            return s.append(node);
        }
    }
    return 0;
}

uint64_t Coder::referenceTo(const Archivable& object, const std::shared_ptr<const Archivable>& shared) {
    State& s = *state_;
    if (shared) {
        if (auto it = s.sharedRefs.find(&object); it != s.sharedRefs.end()) return it->second;
    }
    if (s.depth >= kArchiveMaxDepth) {
        // Also where an object graph with a cycle through by-reference objects ends.
        failWithError(archiveError(kArchiveInvalidValueError, "objects nested too deeply (or a cycle)"));
        return 0;
    }
    plist_t node = plist_new_dict();
    const uint64_t uid = s.append(node);
    if (shared) {
        s.sharedRefs.emplace(&object, uid);
        s.keepAlive.push_back(shared);
    }
    const std::string name = object.className();
    if (name.empty() || name.find('\0') != std::string::npos || !detail::isValidUTF8(name)) {
        failWithError(archiveError(kArchiveInvalidValueError, "an archivable class has no valid name"));
    }
    auto append = [&s](plist_t n) { return s.append(n); };
    plist_dict_set_item(node, "$class", plist_new_uid(classReference(s.classRefs, name, append)));
    plist_t saved = s.current;
    s.current = node;
    ++s.depth;
    object.encode(*this);
    --s.depth;
    s.current = saved;
    return uid;
}

Result<Data> Coder::finish() {
    if (error_) return *error_;
    detail::PlistPtr root(plist_new_dict());
    plist_dict_set_item(root.get(), "$archiver", plist_new_string(kArchiverName));
    plist_dict_set_item(root.get(), "$version", plist_new_uint(1));
    plist_dict_set_item(root.get(), "$top", plist_copy(state_->top.get()));
    plist_dict_set_item(root.get(), "$objects", static_cast<plist_t>(state_->objects.release()));
    state_->objects.reset(plist_new_array());
    return detail::plistToBinary(root.get());
}

Result<Data> archivedData(const Archivable& root) {
    Coder coder;
    coder.encodeObject(kArchiveRootKey, root);
    return coder.finish();
}

Result<Data> archivedData(const Value& root) {
    Coder coder;
    coder.encodeValue(kArchiveRootKey, root);
    return coder.finish();
}

// ---- Decoder

struct Decoder::State {
    UnarchiveOptions options;
    const ArchiveClassRegistry* registry = nullptr;
    detail::PlistPtr root;
    std::vector<plist_t> objects;
    plist_t current = nullptr;
    std::vector<uint8_t> marks;  // 1 while an object is being decoded, 2 once done
    std::vector<std::shared_ptr<Archivable>> cache;
    int depth = 0;
    // Plain values are rebuilt at every reference, so a hostile archive that refers to one
    // container many times over could grow without end; this bounds what decoding may produce.
    int64_t budget = 0;
};

Decoder::Decoder() : state_(std::make_unique<State>()) {}
Decoder::~Decoder() = default;

void Decoder::failWithError(Error error) {
    if (!error_) error_ = std::move(error);
}

void Decoder::fail(std::string message) { failWithError(archiveError(kArchiveReadCorruptError, message)); }

void Decoder::failWrongClass(const std::string& className, std::string_view key) {
    fail("the object of class " + className + " under \"" + std::string(key) + "\" has the wrong type");
}

Result<std::unique_ptr<Decoder>> Decoder::open(const Data& archive, UnarchiveOptions options) {
    auto corrupt = [](const std::string& m) { return archiveError(kArchiveReadCorruptError, m); };
    auto parsed = detail::parsePlistBytes(
        std::string_view(reinterpret_cast<const char*>(archive.data()), archive.size()), nullptr);
    if (!parsed.ok()) return corrupt("not a property list");
    plist_t root = parsed.value().get();
    if (plist_get_node_type(root) != PLIST_DICT) return corrupt("the top level is not a dictionary");
    plist_t archiver = plist_dict_get_item(root, "$archiver");
    if (!archiver || plist_get_node_type(archiver) != PLIST_STRING ||
        plist_string_val_compare(archiver, kArchiverName) != 0) {
        return corrupt("not a keyed archive");
    }
    plist_t objects = plist_dict_get_item(root, "$objects");
    plist_t top = plist_dict_get_item(root, "$top");
    if (!objects || plist_get_node_type(objects) != PLIST_ARRAY || !top || plist_get_node_type(top) != PLIST_DICT) {
        return corrupt("no object table");
    }
    std::unique_ptr<Decoder> decoder(new Decoder());
    State& s = *decoder->state_;
    s.objects.reserve(plist_array_get_size(objects));
    detail::forEachArrayItem(objects, [&s](plist_t item) {
        s.objects.push_back(item);
        return true;
    });
    const size_t n = s.objects.size();
    if (n == 0 || !s.objects[0] || plist_get_node_type(s.objects[0]) != PLIST_STRING ||
        plist_string_val_compare(s.objects[0], kNullMarker) != 0) {
        return corrupt("the object table does not start with $null");
    }
    s.marks.assign(n, 0);
    s.cache.resize(n);
    s.options = std::move(options);
    s.registry = s.options.registry ? s.options.registry : &ArchiveClassRegistry::shared();
    s.root = std::move(parsed).value();
    s.current = top;
    s.budget = std::max<int64_t>(64 << 20, static_cast<int64_t>(archive.size()) * 256);
    return decoder;
}

void* Decoder::lookup(std::string_view key) const {
    if (!state_->current) return nullptr;
    return plist_dict_get_item(state_->current, storedKey(key).c_str());
}

void* Decoder::resolve(void* raw, uint64_t* uid) {
    plist_t node = static_cast<plist_t>(raw);
    *uid = 0;
    if (!node) return nullptr;
    if (plist_get_node_type(node) != PLIST_UID) return node;
    uint64_t index = 0;
    plist_get_uid_val(node, &index);
    if (index >= state_->objects.size()) {
        fail("a reference points outside the object table");
        return nullptr;
    }
    *uid = index;
    return index == 0 ? nullptr : state_->objects[index];
}

std::string Decoder::classNameOf(void* raw) {
    plist_t node = static_cast<plist_t>(raw);
    if (!node || plist_get_node_type(node) != PLIST_DICT) return {};
    plist_t ref = plist_dict_get_item(node, "$class");
    if (!ref || plist_get_node_type(ref) != PLIST_UID) return {};
    uint64_t uid = 0;
    plist_t cls = static_cast<plist_t>(resolve(ref, &uid));
    if (!cls || plist_get_node_type(cls) != PLIST_DICT) {
        fail("an object's class is not a class description");
        return {};
    }
    plist_t name = plist_dict_get_item(cls, "$classname");
    if (!name || plist_get_node_type(name) != PLIST_STRING) {
        fail("a class description has no name");
        return {};
    }
    auto text = detail::stringFromPlist(name);
    if (!text.ok() || text.value().empty()) {
        fail("a class name is not valid text");
        return {};
    }
    auto mapped = state_->options.classNameMap.find(text.value());
    return mapped == state_->options.classNameMap.end() ? std::move(text).value() : mapped->second;
}

bool Decoder::allowed(const std::string& name) {
    const auto& list = state_->options.allowedClasses;
    if (!list) return true;
    if (list->count(name)) return true;
    // A plain kind is allowed under its mutable name as well.
    if (name.rfind("NS", 0) == 0 && list->count("NSMutable" + name.substr(2))) return true;
    fail("class " + name + " is not among the allowed classes");
    return false;
}

bool Decoder::charge(int64_t amount) {
    state_->budget -= amount;
    if (state_->budget < 0) {
        fail("the archive expands beyond any sensible size");
        return false;
    }
    return true;
}

void Decoder::forEachReference(void* container, const char* field, const std::function<bool(uint64_t)>& visit) {
    plist_t list = plist_dict_get_item(static_cast<plist_t>(container), field);
    if (!list || plist_get_node_type(list) != PLIST_ARRAY) {
        fail(std::string("a container has no \"") + field + "\" list");
        return;
    }
    if (!charge(plist_array_get_size(list))) return;
    detail::forEachArrayItem(list, [&](plist_t item) {
        if (plist_get_node_type(item) != PLIST_UID) {
            fail("a container holds something other than a reference");
            return false;
        }
        uint64_t uid = 0;
        plist_get_uid_val(item, &uid);
        if (uid >= state_->objects.size()) {
            fail("a reference points outside the object table");
            return false;
        }
        return visit(uid) && !failed();
    });
}

Value Decoder::plainValue(void* raw, uint64_t uid, int depth) {
    plist_t node = static_cast<plist_t>(raw);
    if (failed() || !node) return Value();
    if (depth > kArchiveMaxDepth) {
        fail("nesting too deep");
        return Value();
    }
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN:
        case PLIST_UINT:
        case PLIST_REAL: {
            if (!allowed(kArchiveNumberClass) || !charge(1)) return Value();
            auto v = detail::valueFromPlist(node);
            return v.ok() ? std::move(v).value() : Value();
        }
        case PLIST_STRING: {
            if (!allowed(kArchiveStringClass)) return Value();
            auto v = detail::stringFromPlist(node);
            if (!v.ok()) {
                fail("a string is not valid UTF-8");
                return Value();
            }
            if (!charge(1 + static_cast<int64_t>(v.value().size()))) return Value();
            return Value(std::move(v).value());
        }
        case PLIST_DATA: {
            if (!allowed(kArchiveDataClass)) return Value();
            auto v = detail::valueFromPlist(node);
            if (!v.ok() || !charge(1 + static_cast<int64_t>(v.value().size()))) return Value();
            return std::move(v).value();
        }
        case PLIST_DATE: {
            if (!allowed(kArchiveDateClass) || !charge(1)) return Value();
            return Value(detail::dateFromPlist(node));
        }
        case PLIST_DICT:
            break;
        default:
            fail("an object of an unknown kind");
            return Value();
    }
    const std::string name = classNameOf(node);
    if (failed()) return Value();
    if (name.empty()) {
        fail("an object has no class");
        return Value();
    }
    if (!isPlainClass(name)) {
        fail("an object of class " + name + " where a plain value was expected");
        return Value();
    }
    if (!allowed(name)) return Value();
    if (name == kArchiveDateClass) {
        plist_t time = plist_dict_get_item(node, "time");
        if (!time || plist_get_node_type(time) != PLIST_REAL) {
            fail("a date without its time");
            return Value();
        }
        double t = 0;
        plist_get_real_val(time, &t);
        return Value(Date{t});
    }
    if (uid) {
        if (state_->marks[uid] == 1) {
            fail("the archive's object graph has a cycle");
            return Value();
        }
        state_->marks[uid] = 1;
    }
    Value out;
    if (name == kArchiveArrayClass) {
        Array array;
        forEachReference(node, "objects", [&](uint64_t ref) {
            if (ref == 0) {
                fail("nil inside an array");
                return false;
            }
            array.push_back(plainValue(state_->objects[ref], ref, depth + 1));
            return !failed();
        });
        out = Value(std::move(array));
    } else {
        std::vector<uint64_t> keyRefs;
        forEachReference(node, "keys", [&](uint64_t ref) {
            keyRefs.push_back(ref);
            return true;
        });
        Dictionary dict;
        size_t i = 0;
        forEachReference(node, "objects", [&](uint64_t ref) {
            if (i >= keyRefs.size()) {
                fail("a dictionary has more objects than keys");
                return false;
            }
            plist_t keyNode = keyRefs[i] ? state_->objects[keyRefs[i]] : nullptr;
            ++i;
            if (!keyNode || ref == 0) {
                fail("nil inside a dictionary");
                return false;
            }
            Value key = plainValue(keyNode, keyRefs[i - 1], depth + 1);
            Value item = plainValue(state_->objects[ref], ref, depth + 1);
            if (failed()) return false;
            if (key.isString()) {
                dict.set(Key(key.asString()), std::move(item));
            } else if (key.isInt()) {
                dict.set(Key(*key.ifInt()), std::move(item));
            } else {
                fail("a dictionary key is neither text nor an integer");
                return false;
            }
            return true;
        });
        if (!failed() && i != keyRefs.size()) fail("a dictionary has more keys than objects");
        out = Value(std::move(dict));
    }
    if (uid) state_->marks[uid] = 0;
    return failed() ? Value() : out;
}

std::shared_ptr<Archivable> Decoder::archivableAt(uint64_t uid) {
    State& s = *state_;
    if (failed() || uid == 0) return nullptr;
    if (uid >= s.objects.size()) {
        fail("a reference points outside the object table");
        return nullptr;
    }
    if (s.marks[uid] == 2) return s.cache[uid];
    if (s.marks[uid] == 1) {
        fail("the archive's object graph has a cycle");
        return nullptr;
    }
    plist_t node = s.objects[uid];
    const std::string name = classNameOf(node);
    if (failed()) return nullptr;
    if (name.empty()) {
        fail("a plain value where an archived object was expected");
        return nullptr;
    }
    if (isPlainClass(name)) {
        fail("a " + name + " where an archived object was expected");
        return nullptr;
    }
    if (!allowed(name)) return nullptr;
    ArchiveDecodeFactory factory = s.registry->find(name);
    if (!factory) {
        fail("class " + name + " is not registered for decoding");
        return nullptr;
    }
    if (s.depth >= kArchiveMaxDepth) {
        fail("objects nested too deeply");
        return nullptr;
    }
    s.marks[uid] = 1;
    plist_t saved = s.current;
    s.current = node;
    ++s.depth;
    std::shared_ptr<Archivable> object;
    try {
        object = factory(*this);
    } catch (const std::exception& e) {
        fail("decoding class " + name + " threw: " + e.what());
    } catch (...) {
        fail("decoding class " + name + " threw");
    }
    --s.depth;
    s.current = saved;
    s.marks[uid] = 2;
    if (!object && !failed()) fail("class " + name + " refused its archived values");
    if (failed()) object.reset();
    s.cache[uid] = object;
    return object;
}

bool Decoder::containsValue(std::string_view key) const { return lookup(key) != nullptr; }

#define HX_DECODE_NUMBER(FALLBACK, FROM_BOOL, FROM_INT, FROM_DOUBLE)                                                   \
    if (failed()) return FALLBACK;                                                                                     \
    uint64_t uid = 0;                                                                                                  \
    plist_t node = static_cast<plist_t>(resolve(lookup(key), &uid));                                                   \
    if (!node) return FALLBACK;                                                                                        \
    switch (plist_get_node_type(node)) {                                                                               \
        case PLIST_BOOLEAN: {                                                                                          \
            uint8_t b = 0;                                                                                             \
            plist_get_bool_val(node, &b);                                                                              \
            return FROM_BOOL;                                                                                          \
        }                                                                                                              \
        case PLIST_UINT: {                                                                                             \
            uint64_t u = 0;                                                                                            \
            plist_get_uint_val(node, &u);                                                                              \
            const int64_t i = static_cast<int64_t>(u);                                                                 \
            return FROM_INT;                                                                                           \
        }                                                                                                              \
        case PLIST_REAL: {                                                                                             \
            double d = 0;                                                                                              \
            plist_get_real_val(node, &d);                                                                              \
            return FROM_DOUBLE;                                                                                        \
        }                                                                                                              \
        default:                                                                                                       \
            fail("the value under \"" + std::string(key) + "\" is not a number");                                      \
            return FALLBACK;                                                                                           \
    }

bool Decoder::decodeBool(std::string_view key, bool fallback){HX_DECODE_NUMBER(fallback, b != 0, i != 0, d != 0.0)}

int64_t Decoder::decodeInt64(std::string_view key, int64_t fallback){
    HX_DECODE_NUMBER(fallback, static_cast<int64_t>(b != 0), i, Value(d).int64Value())}

int32_t Decoder::decodeInt32(std::string_view key, int32_t fallback) {
    HX_DECODE_NUMBER(fallback, static_cast<int32_t>(b != 0), static_cast<int32_t>(i),
                     static_cast<int32_t>(Value(d).int64Value()))
}

double Decoder::decodeDouble(std::string_view key,
                             double fallback){HX_DECODE_NUMBER(fallback, b ? 1.0 : 0.0, static_cast<double>(i), d)}
#undef HX_DECODE_NUMBER

Value Decoder::decodeValue(std::string_view key) {
    if (failed()) return Value();
    uint64_t uid = 0;
    void* node = resolve(lookup(key), &uid);
    return plainValue(node, uid, state_->depth);
}

// The typed reads share one shape: absent or null gives nothing, a value of another kind fails
// the decode with the key and the kind expected.
template <typename T>
std::optional<T> Decoder::decodeTyped(std::string_view key, const char* kind, const T* (*extract)(const Value&)) {
    Value v = decodeValue(key);
    if (failed() || v.isNull()) return std::nullopt;
    const T* payload = extract(v);
    if (!payload) {
        fail("the value under \"" + std::string(key) + "\" is not " + kind);
        return std::nullopt;
    }
    return *payload;
}

std::optional<std::string> Decoder::decodeString(std::string_view key) {
    return decodeTyped<std::string>(key, "a string", [](const Value& v) { return v.ifString(); });
}

std::optional<Data> Decoder::decodeData(std::string_view key) {
    return decodeTyped<Data>(key, "data", [](const Value& v) { return v.ifData(); });
}

std::optional<Date> Decoder::decodeDate(std::string_view key) {
    return decodeTyped<Date>(key, "a date", [](const Value& v) { return v.ifDate(); });
}

std::shared_ptr<Archivable> Decoder::decodeArchivable(std::string_view key) {
    if (failed()) return nullptr;
    plist_t node = static_cast<plist_t>(lookup(key));
    if (!node) return nullptr;
    if (plist_get_node_type(node) != PLIST_UID) {
        fail("the value under \"" + std::string(key) + "\" is not an object");
        return nullptr;
    }
    uint64_t uid = 0;
    resolve(node, &uid);
    return archivableAt(uid);
}

ArchivedObject Decoder::decodeAny(std::string_view key) {
    ArchivedObject out;
    if (failed()) return out;
    uint64_t uid = 0;
    void* node = resolve(lookup(key), &uid);
    if (!node) return out;
    const std::string name = classNameOf(node);
    if (failed()) return out;
    if (!name.empty() && !isPlainClass(name)) {
        out.object = archivableAt(uid);
    } else {
        out.value = plainValue(node, uid, state_->depth);
    }
    return out;
}

std::optional<std::vector<std::shared_ptr<Archivable>>> Decoder::decodeArrayOfObjects(std::string_view key) {
    if (failed()) return std::nullopt;
    uint64_t uid = 0;
    void* node = resolve(lookup(key), &uid);
    if (!node) return std::nullopt;
    const std::string name = classNameOf(node);
    if (failed()) return std::nullopt;
    if (name != kArchiveArrayClass) {
        fail("the value under \"" + std::string(key) + "\" is not an array");
        return std::nullopt;
    }
    if (!allowed(name)) return std::nullopt;
    std::vector<std::shared_ptr<Archivable>> out;
    forEachReference(node, "objects", [&](uint64_t ref) {
        if (ref == 0) {
            fail("nil inside an array");
            return false;
        }
        out.push_back(archivableAt(ref));
        return !failed();
    });
    if (failed()) return std::nullopt;
    return out;
}

std::optional<std::vector<std::pair<Key, std::shared_ptr<Archivable>>>>
Decoder::decodeDictionaryOfObjects(std::string_view key) {
    if (failed()) return std::nullopt;
    uint64_t uid = 0;
    void* node = resolve(lookup(key), &uid);
    if (!node) return std::nullopt;
    const std::string name = classNameOf(node);
    if (failed()) return std::nullopt;
    if (name != kArchiveDictionaryClass) {
        fail("the value under \"" + std::string(key) + "\" is not a dictionary");
        return std::nullopt;
    }
    if (!allowed(name)) return std::nullopt;
    std::vector<uint64_t> keyRefs;
    forEachReference(node, "keys", [&](uint64_t ref) {
        keyRefs.push_back(ref);
        return true;
    });
    std::vector<std::pair<Key, std::shared_ptr<Archivable>>> out;
    size_t i = 0;
    forEachReference(node, "objects", [&](uint64_t ref) {
        if (i >= keyRefs.size()) {
            fail("a dictionary has more objects than keys");
            return false;
        }
        const uint64_t keyRef = keyRefs[i++];
        if (keyRef == 0 || ref == 0) {
            fail("nil inside a dictionary");
            return false;
        }
        Value k = plainValue(state_->objects[keyRef], keyRef, state_->depth + 1);
        if (failed()) return false;
        auto object = archivableAt(ref);
        if (failed()) return false;
        if (!k.isString() && !k.isInt()) {
            fail("a dictionary key is neither text nor an integer");
            return false;
        }
        out.emplace_back(k.isString() ? Key(k.asString()) : Key(*k.ifInt()), std::move(object));
        return true;
    });
    if (!failed() && i != keyRefs.size()) fail("a dictionary has more keys than objects");
    if (failed()) return std::nullopt;
    return out;
}

Result<Value> unarchivedValue(const Data& archive, UnarchiveOptions options) {
    auto decoder = Decoder::open(archive, std::move(options));
    if (!decoder.ok()) return decoder.error();
    Value v = (*decoder)->decodeValue(kArchiveRootKey);
    if ((*decoder)->failed()) return *(*decoder)->error();
    return v;
}

Result<ArchivedObject> unarchivedAny(const Data& archive, UnarchiveOptions options) {
    auto decoder = Decoder::open(archive, std::move(options));
    if (!decoder.ok()) return decoder.error();
    ArchivedObject v = (*decoder)->decodeAny(kArchiveRootKey);
    if ((*decoder)->failed()) return *(*decoder)->error();
    return v;
}

}  // namespace foundation
