// The dynamic value of the foundation layer: what JSON replies, property lists, user defaults,
// archives and notification user info carry. A tagged union with value semantics (copies are
// deep, moves are cheap); booleans are never numbers, and integers keep their 64 bits exactly.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace foundation {

class Value;

using Data = std::vector<uint8_t>;
using Array = std::vector<Value>;

// A point in time as seconds since 1970-01-01 UTC (the platform's reference-date arithmetic
// lives in dates.h).
struct Date {
    double secondsSince1970 = 0;
    friend auto operator<=>(const Date&, const Date&) = default;
};

// A dictionary key: a string, or an integer where archives and the caches key by number.
class Key {
public:
    Key(std::string s) : v_(std::move(s)) {}
    Key(std::string_view s) : v_(std::string(s)) {}
    Key(const char* s) : v_(std::string(s)) {}
    Key(int64_t n) : v_(n) {}
    Key(int n) : v_(static_cast<int64_t>(n)) {}

    bool isString() const { return std::holds_alternative<std::string>(v_); }
    bool isNumber() const { return std::holds_alternative<int64_t>(v_); }
    // The string, or "" for a number key.
    const std::string& string() const;
    int64_t number() const { return isNumber() ? std::get<int64_t>(v_) : 0; }
    size_t hash() const;
    std::string description() const;

    friend bool operator==(const Key&, const Key&) = default;

private:
    std::variant<std::string, int64_t> v_;
};

// An insertion-ordered dictionary. Small dictionaries are searched linearly; larger ones keep a
// hash index beside the entries so lookups stay O(1).
class Dictionary {
public:
    using Entry = std::pair<Key, Value>;

    Dictionary();
    Dictionary(std::initializer_list<Entry> entries);
    Dictionary(const Dictionary& other);
    Dictionary& operator=(const Dictionary& other);
    Dictionary(Dictionary&&) noexcept;
    Dictionary& operator=(Dictionary&&) noexcept;
    ~Dictionary();

    // Defined below Value: clang needs Value complete to instantiate the entry vector's members.
    size_t size() const;
    bool empty() const;
    bool contains(const Key& key) const { return indexOf(key).has_value(); }

    // The value under key, or nullptr.
    const Value* find(const Key& key) const;
    Value* find(const Key& key);
    // The value under key, or a null Value when absent.
    const Value& get(const Key& key) const;
    // Inserts a null value under a missing key (appended at the end).
    Value& operator[](const Key& key);
    // Replaces the value of an existing key in place, or appends.
    void set(const Key& key, Value value);
    // Removes key; true when it was present.
    bool remove(const Key& key);
    void clear();

    std::vector<Key> keys() const;
    using iterator = std::vector<Entry>::iterator;
    using const_iterator = std::vector<Entry>::const_iterator;
    const_iterator begin() const;
    const_iterator end() const;
    iterator begin();
    iterator end();

    // Equal when both hold the same keys with equal values, in any order.
    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    std::optional<size_t> indexOf(const Key& key) const;
    void rebuildIndex();

    struct Index;
    std::vector<Entry> entries_;
    std::unique_ptr<Index> index_;
};

class Value {
public:
    enum class Type : uint8_t { Null, Bool, Int, Double, String, Data, Date, Array, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned i) : v_(static_cast<int64_t>(i)) {}
    Value(long i) : v_(static_cast<int64_t>(i)) {}
    Value(long long i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned long i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned long long i) : v_(static_cast<int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(float d) : v_(static_cast<double>(d)) {}
    Value(const char* s) : v_(std::string(s ? s : "")) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(foundation::Data d) : v_(std::move(d)) {}
    Value(foundation::Date d) : v_(d) {}
    Value(foundation::Array a) : v_(std::move(a)) {}
    Value(foundation::Dictionary d) : v_(std::move(d)) {}
    // Pointers other than const char* must not silently become booleans.
    template <typename T>
    Value(T*) = delete;

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInt() const { return type() == Type::Int; }
    bool isDouble() const { return type() == Type::Double; }
    bool isNumber() const { return isInt() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Checked access: a pointer to the payload when the type matches, else nullptr.
    const bool* ifBool() const { return std::get_if<bool>(&v_); }
    const int64_t* ifInt() const { return std::get_if<int64_t>(&v_); }
    const double* ifDouble() const { return std::get_if<double>(&v_); }
    const std::string* ifString() const { return std::get_if<std::string>(&v_); }
    std::string* ifString() { return std::get_if<std::string>(&v_); }
    const foundation::Data* ifData() const { return std::get_if<foundation::Data>(&v_); }
    const foundation::Date* ifDate() const { return std::get_if<foundation::Date>(&v_); }
    const foundation::Array* ifArray() const { return std::get_if<foundation::Array>(&v_); }
    foundation::Array* ifArray() { return std::get_if<foundation::Array>(&v_); }
    const foundation::Dictionary* ifDictionary() const { return std::get_if<foundation::Dictionary>(&v_); }
    foundation::Dictionary* ifDictionary() { return std::get_if<foundation::Dictionary>(&v_); }

    // Number-like reads with the platform's conversions: a bool reads as 0/1, a double is
    // truncated toward zero (saturating), an integer-looking string is parsed; anything else
    // gives the fallback.
    int64_t int64Value(int64_t fallback = 0) const;
    // The low 32 bits, sign-extended (a 64-bit number read as a 32-bit one).
    int32_t int32Value(int32_t fallback = 0) const { return static_cast<int32_t>(int64Value(fallback)); }
    double doubleValue(double fallback = 0) const;
    // True for true, non-zero numbers and strings starting with Y/y/T/t or a non-zero digit.
    bool boolValue(bool fallback = false) const;
    // The string itself; numbers and bools in their textual form; else the fallback.
    std::string stringValue(std::string_view fallback = {}) const;

    // The payload by reference; an empty static instance when the type differs.
    const std::string& asString() const;
    const foundation::Data& asData() const;
    const foundation::Array& asArray() const;
    const foundation::Dictionary& asDictionary() const;

    // Dictionary lookup; a null Value when this is not a dictionary or the key is absent.
    const Value& operator[](const Key& key) const;
    const Value& operator[](const char* key) const { return (*this)[Key(key)]; }
    // Array index; a null Value when out of range or not an array.
    const Value& at(size_t index) const;
    // Element count of an array, dictionary, string (bytes) or data; 0 otherwise.
    size_t size() const;

    // Strict equality, except that integers and doubles compare by numeric value.
    friend bool operator==(const Value& a, const Value& b);
    size_t hash() const;

    // A readable rendering for logs and test failures (not JSON).
    std::string description() const;

    static const Value& null();

private:
    std::variant<std::monostate, bool, int64_t, double, std::string, foundation::Data, foundation::Date,
                 foundation::Array, foundation::Dictionary>
        v_;
};

inline size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline Dictionary::const_iterator Dictionary::begin() const { return entries_.begin(); }
inline Dictionary::const_iterator Dictionary::end() const { return entries_.end(); }
inline Dictionary::iterator Dictionary::begin() { return entries_.begin(); }
inline Dictionary::iterator Dictionary::end() { return entries_.end(); }

}  // namespace foundation

template <>
struct std::hash<foundation::Value> {
    size_t operator()(const foundation::Value& v) const noexcept { return v.hash(); }
};
template <>
struct std::hash<foundation::Key> {
    size_t operator()(const foundation::Key& k) const noexcept { return k.hash(); }
};
