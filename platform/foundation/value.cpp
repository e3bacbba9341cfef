#include "platform/foundation/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_map>

namespace foundation {

namespace {

constexpr size_t kIndexThreshold = 8;

size_t mix(size_t seed, size_t h) { return seed ^ (h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2)); }

const std::string kEmptyString;
const Data kEmptyData;
const Array kEmptyArray;
const Dictionary kEmptyDictionary;

int64_t saturatingTruncate(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

// Leading whitespace, an optional sign, then digits: the platform's integer reading of a string.
std::optional<int64_t> parseLeadingInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    size_t start = i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    size_t digits = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == digits) return std::nullopt;
    const char* first = s.data() + start + (s[start] == '+' ? 1 : 0);
    int64_t out = 0;
    auto [ptr, ec] = std::from_chars(first, s.data() + i, out);
    if (ec == std::errc::result_out_of_range) {
        return s[start] == '-' ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    }
    if (ec != std::errc()) return std::nullopt;
    return out;
}

// Leading whitespace, an optional sign, then a decimal number with an optional exponent: the
// platform's floating-point reading of a string. Words ("nan", "inf") and hexadecimal forms
// are no number there, so text never turns into a NaN; only a decimal number too large for a
// double gives an infinity, as on the platform.
std::optional<double> parseLeadingDouble(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    const size_t start = i;
    auto digitsAt = [&](size_t& at) {
        size_t from = at;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
        return at - from;
    };
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    size_t mantissa = digitsAt(i);
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissa += digitsAt(i);
    }
    if (mantissa == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t e = i + 1;
        if (e < s.size() && (s[e] == '-' || s[e] == '+')) ++e;
        if (digitsAt(e) > 0) i = e;
    }
    const std::string number = s.substr(start, i - start);
    return std::strtod(number.c_str(), nullptr);
}

std::string formatDouble(double d) {
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15) {
        return std::to_string(static_cast<int64_t>(d));
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    // Prefer the shortest text that reads back to the same double.
    for (int precision = 1; precision <= 17; ++precision) {
        char shorter[32];
        std::snprintf(shorter, sizeof shorter, "%.*g", precision, d);
        if (std::strtod(shorter, nullptr) == d) return shorter;
    }
    return buf;
}

}  // namespace

// ---- Key

const std::string& Key::string() const {
    if (auto* s = std::get_if<std::string>(&v_)) return *s;
    return kEmptyString;
}

size_t Key::hash() const {
    if (auto* s = std::get_if<std::string>(&v_)) return std::hash<std::string>{}(*s);
    return mix(0x51ed27, std::hash<int64_t>{}(std::get<int64_t>(v_)));
}

std::string Key::description() const { return isString() ? string() : std::to_string(number()); }

// ---- Dictionary

struct Dictionary::Index {
    std::unordered_map<Key, size_t> positions;
};

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    for (const auto& e : entries) set(e.first, e.second);
}

Dictionary::Dictionary(const Dictionary& other) : entries_(other.entries_) {
    if (other.index_) rebuildIndex();
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
    if (this != &other) {
        entries_ = other.entries_;
        index_.reset();
        if (entries_.size() > kIndexThreshold) rebuildIndex();
    }
    return *this;
}

Dictionary::Dictionary() = default;
Dictionary::Dictionary(Dictionary&&) noexcept = default;
Dictionary& Dictionary::operator=(Dictionary&&) noexcept = default;
Dictionary::~Dictionary() = default;

void Dictionary::rebuildIndex() {
    if (!index_) index_ = std::make_unique<Index>();
    index_->positions.clear();
    index_->positions.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) index_->positions.emplace(entries_[i].first, i);
}

std::optional<size_t> Dictionary::indexOf(const Key& key) const {
    if (index_) {
        auto it = index_->positions.find(key);
        if (it == index_->positions.end()) return std::nullopt;
        return it->second;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].first == key) return i;
    }
    return std::nullopt;
}

const Value* Dictionary::find(const Key& key) const {
    auto i = indexOf(key);
    return i ? &entries_[*i].second : nullptr;
}

Value* Dictionary::find(const Key& key) {
    auto i = indexOf(key);
    return i ? &entries_[*i].second : nullptr;
}

const Value& Dictionary::get(const Key& key) const {
    const Value* v = find(key);
    return v ? *v : Value::null();
}

Value& Dictionary::operator[](const Key& key) {
    if (auto i = indexOf(key)) return entries_[*i].second;
    entries_.emplace_back(key, Value());
    if (index_) {
        index_->positions.emplace(key, entries_.size() - 1);
    } else if (entries_.size() > kIndexThreshold) {
        rebuildIndex();
    }
    return entries_.back().second;
}

void Dictionary::set(const Key& key, Value value) { (*this)[key] = std::move(value); }

bool Dictionary::remove(const Key& key) {
    auto i = indexOf(key);
    if (!i) return false;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*i));
    if (index_) {
        if (entries_.size() > kIndexThreshold) {
            rebuildIndex();
        } else {
            index_.reset();
        }
    }
    return true;
}

void Dictionary::clear() {
    entries_.clear();
    index_.reset();
}

std::vector<Key> Dictionary::keys() const {
    std::vector<Key> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_) out.push_back(e.first);
    return out;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [k, v] : a.entries_) {
        const Value* other = b.find(k);
        if (!other || !(*other == v)) return false;
    }
    return true;
}

// ---- Value

const Value& Value::null() {
    static const Value instance;
    return instance;
}

int64_t Value::int64Value(int64_t fallback) const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(v_) ? 1 : 0;
        case Type::Int:
            return std::get<int64_t>(v_);
        case Type::Double:
            return saturatingTruncate(std::get<double>(v_));
        case Type::String: {
            const auto& s = std::get<std::string>(v_);
            if (auto n = parseLeadingInteger(s)) return *n;
            return fallback;
        }
        default:
            return fallback;
    }
}

double Value::doubleValue(double fallback) const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(v_) ? 1.0 : 0.0;
        case Type::Int:
            return static_cast<double>(std::get<int64_t>(v_));
        case Type::Double:
            return std::get<double>(v_);
        case Type::String: {
            if (auto d = parseLeadingDouble(std::get<std::string>(v_))) return *d;
            return fallback;
        }
        default:
            return fallback;
    }
}

bool Value::boolValue(bool fallback) const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(v_);
        case Type::Int:
            return std::get<int64_t>(v_) != 0;
        case Type::Double:
            return std::get<double>(v_) != 0.0;
        case Type::String: {
            const auto& s = std::get<std::string>(v_);
            size_t i = 0;
            while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n')) ++i;
            if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
            while (i < s.size() && s[i] == '0') ++i;
            if (i >= s.size()) return false;
            char c = s[i];
            return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
        }
        default:
            return fallback;
    }
}

std::string Value::stringValue(std::string_view fallback) const {
    switch (type()) {
        case Type::String:
            return std::get<std::string>(v_);
        case Type::Int:
            return std::to_string(std::get<int64_t>(v_));
        case Type::Double:
            return formatDouble(std::get<double>(v_));
        case Type::Bool:
            return std::get<bool>(v_) ? "1" : "0";
        default:
            return std::string(fallback);
    }
}

const std::string& Value::asString() const {
    auto* s = ifString();
    return s ? *s : kEmptyString;
}
const Data& Value::asData() const {
    auto* d = ifData();
    return d ? *d : kEmptyData;
}
const Array& Value::asArray() const {
    auto* a = ifArray();
    return a ? *a : kEmptyArray;
}
const Dictionary& Value::asDictionary() const {
    auto* d = ifDictionary();
    return d ? *d : kEmptyDictionary;
}

const Value& Value::operator[](const Key& key) const {
    auto* d = ifDictionary();
    return d ? d->get(key) : null();
}

const Value& Value::at(size_t index) const {
    auto* a = ifArray();
    return (a && index < a->size()) ? (*a)[index] : null();
}

size_t Value::size() const {
    switch (type()) {
        case Type::Array:
            return std::get<Array>(v_).size();
        case Type::Dictionary:
            return std::get<Dictionary>(v_).size();
        case Type::String:
            return std::get<std::string>(v_).size();
        case Type::Data:
            return std::get<Data>(v_).size();
        default:
            return 0;
    }
}

bool operator==(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) {
        if (a.isInt() && b.isInt()) return *a.ifInt() == *b.ifInt();
        if (a.isDouble() && b.isDouble()) return *a.ifDouble() == *b.ifDouble();
        const int64_t i = a.isInt() ? *a.ifInt() : *b.ifInt();
        const double d = a.isDouble() ? *a.ifDouble() : *b.ifDouble();
        // Exact comparison: the double must be integral and in range for the integer to match.
        if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || d != std::floor(d)) return false;
        return static_cast<int64_t>(d) == i;
    }
    return a.v_ == b.v_;
}

size_t Value::hash() const {
    switch (type()) {
        case Type::Null:
            return 0x6e756c6c;
        case Type::Bool:
            return std::get<bool>(v_) ? 0x74727565 : 0x66616c73;
        case Type::Int:
            return std::hash<int64_t>{}(std::get<int64_t>(v_));
        case Type::Double: {
            double d = std::get<double>(v_);
            // Integral doubles hash like the equal integer.
            if (d >= -9223372036854775808.0 && d < 9223372036854775808.0 && d == std::floor(d)) {
                return std::hash<int64_t>{}(static_cast<int64_t>(d));
            }
            return std::hash<double>{}(d);
        }
        case Type::String:
            return std::hash<std::string>{}(std::get<std::string>(v_));
        case Type::Data: {
            const auto& d = std::get<Data>(v_);
            return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
        }
        case Type::Date:
            return std::hash<double>{}(std::get<Date>(v_).secondsSince1970);
        case Type::Array: {
            size_t h = 0xa77a;
            for (const auto& v : std::get<Array>(v_)) h = mix(h, v.hash());
            return h;
        }
        case Type::Dictionary: {
            // Order-independent, like equality.
            size_t h = 0xd1c7;
            for (const auto& [k, v] : std::get<Dictionary>(v_)) h += mix(k.hash(), v.hash());
            return h;
        }
    }
    return 0;
}

std::string Value::description() const {
    switch (type()) {
        case Type::Null:
            return "null";
        case Type::Bool:
            return std::get<bool>(v_) ? "true" : "false";
        case Type::Int:
        case Type::Double:
            return stringValue();
        case Type::String:
            return "\"" + std::get<std::string>(v_) + "\"";
        case Type::Data: {
            static const char* hex = "0123456789abcdef";
            std::string out = "<";
            for (uint8_t b : std::get<Data>(v_)) {
                out += hex[b >> 4];
                out += hex[b & 15];
            }
            return out + ">";
        }
        case Type::Date:
            return "date(" + formatDouble(std::get<Date>(v_).secondsSince1970) + ")";
        case Type::Array: {
            std::string out = "[";
            bool first = true;
            for (const auto& v : std::get<Array>(v_)) {
                if (!first) out += ", ";
                first = false;
                out += v.description();
            }
            return out + "]";
        }
        case Type::Dictionary: {
            std::string out = "{";
            bool first = true;
            for (const auto& [k, v] : std::get<Dictionary>(v_)) {
                if (!first) out += ", ";
                first = false;
                out += k.isString() ? "\"" + k.string() + "\"" : k.description();
                out += ": " + v.description();
            }
            return out + "}";
        }
    }
    return {};
}

}  // namespace foundation
