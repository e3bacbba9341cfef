#include "model/phone_format.h"

#include <climits>
#include <cstdarg>
#include <cstdio>

#include "platform/foundation/bundle.h"
#include "platform/foundation/byte_reader.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"

namespace {

// Reads over the rule file at given offsets: a 16- or 32-bit value that would pass the end of the
// file reads as 0 (the rule file's own convention, which the formatting results depend on), a
// string stops at its NUL or at the end of the file, whichever comes first.
class RuleFileReader {
public:
    explicit RuleFileReader(std::span<const uint8_t> data) : bytes_(data.data(), data.size()) {}

    size_t size() const { return bytes_.size(); }

    uint32_t u32(uint64_t offset) const { return read(offset, &foundation::ByteReader::u32le); }
    uint16_t u16(uint64_t offset) const { return read(offset, &foundation::ByteReader::u16le); }
    uint8_t u8(uint64_t offset) const { return read(offset, &foundation::ByteReader::u8); }

    // The string at offset, at most limit bytes long; *next (when given) is the offset after
    // its terminating NUL, or the end of the buffer.
    std::string string(uint64_t offset, size_t limit = SIZE_MAX, uint64_t* next = nullptr) const {
        if (offset >= bytes_.size()) {
            if (next) *next = bytes_.size();
            return {};
        }
        foundation::ByteReader r(bytes_, size_t(offset));
        std::string out(r.cstring(limit));
        if (next) *next = r.position();
        return out;
    }

private:
    template <typename T>
    T read(uint64_t offset, T (foundation::ByteReader::*get)(const char*)) const {
        if (offset > bytes_.size()) return 0;
        foundation::ByteReader r(bytes_, size_t(offset));
        return (r.*get)("rule file value");
    }

    std::span<const uint8_t> bytes_;
};

std::string cleanPattern(std::string pattern) {
    auto open = pattern.find("[[");
    if (open == std::string::npos) return pattern;
    auto close = pattern.find("]]", open + 2);
    if (close == std::string::npos) return pattern;
    pattern.erase(open, close + 2 - open);
    return pattern;
}

// An array printed the way the platform prints one: "(\n    a,\n    b\n)".
template <typename T, typename F>
std::string listDescription(const T& items, F describe) {
    if (items.empty()) return "(\n)";
    std::string out = "(\n";
    bool first = true;
    for (const auto& item : items) {
        if (!first) out += ",\n";
        first = false;
        out += "    " + describe(item);
    }
    return out + "\n)";
}

std::string formatString(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string formatString(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    va_end(args);
    return out;
}

std::string& rulePathStorage() {
    static std::string path;
    return path;
}
std::mutex& rulePathMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

// ---- PhoneRule

std::string PhoneRule::format(std::string_view s, std::optional<std::string_view> intlPrefix,
                              std::optional<std::string_view> trunkPrefix) const {
    std::string result;
    result.reserve(20);
    size_t k = 0;
    bool groupOpen = false;
    bool intlPlaced = false;
    bool trunkPlaced = false;
    char previous = 0;
    for (char ch : format_) {
        switch (ch) {
            case '#':
                if (k < s.size()) {
                    result.push_back(s[k++]);
                } else if (groupOpen) {
                    result.push_back(' ');
                }
                break;
            case 'c':
                if (intlPrefix) result.append(*intlPrefix);
                intlPlaced = true;
                break;
            case 'n':
                if (trunkPrefix) result.append(*trunkPrefix);
                trunkPlaced = true;
                break;
            default:
                if (ch == '(' && k < s.size()) groupOpen = true;
                if (ch == ' ' && ((previous == 'n' && !trunkPrefix) || (previous == 'c' && !intlPrefix))) break;
                if (k < s.size() || (ch == ')' && groupOpen)) result.push_back(ch);
                if (ch == ')') groupOpen = false;
                break;
        }
        previous = ch;
    }
    if (intlPrefix && !intlPlaced) return std::string(*intlPrefix) + " " + result;
    if (trunkPrefix && !trunkPlaced) return std::string(*trunkPrefix) + result;
    return result;
}

std::string PhoneRule::description() const {
    return formatString(
        "Rule: { minVal: %d, maxVal: %d, byte8: %d, maxLen: %d, nFlag: %d, prefixLen: %d, flag12: %d, flag13: %d, "
        "format: %s }",
        minVal, maxVal, byte8, maxLen, otherFlag, prefixLen, flag12, flag13, format_.c_str());
}

// ---- RuleSet

int32_t RuleSet::leadingValue(std::string_view s) const {
    // As intValue: optional sign, then decimal digits up to the first other character,
    // saturating at the 32-bit limits.
    std::string_view head = s.substr(0, size_t(matchLen));
    size_t i = 0;
    bool negative = false;
    if (i < head.size() && (head[i] == '+' || head[i] == '-')) negative = head[i++] == '-';
    int64_t value = 0;
    for (; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i) {
        value = value * 10 + (head[i] - '0');
        if (value > int64_t(INT32_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return int32_t(value);
}

std::optional<std::string> RuleSet::format(std::string_view s, std::optional<std::string_view> intl,
                                           std::optional<std::string_view> trunk, bool required) const {
    if (matchLen < 0 || s.size() < size_t(matchLen)) return std::nullopt;
    const int32_t v = leadingValue(s);
    const auto len = int64_t(s.size());
    auto fits = [&](const PhoneRule& r) { return r.minVal <= v && v <= r.maxVal && len <= r.maxLen; };

    for (const PhoneRule& r : rules) {
        if (!fits(r)) continue;
        bool take = false;
        if (required) {
            take = !intl && !trunk && (r.flag12 & 0x03) == 0;
        } else {
            take = !intl && !trunk;
        }
        if ((trunk && r.hasTrunkPrefix()) || (intl && r.hasIntlPrefix())) take = true;
        if (take) return r.format(s, intl, trunk);
    }
    if (required) return std::nullopt;
    if (intl) {
        for (const PhoneRule& r : rules) {
            if (fits(r) && (!trunk || r.hasTrunkPrefix())) return r.format(s, intl, trunk);
        }
        return std::nullopt;
    }
    if (trunk) {
        for (const PhoneRule& r : rules) {
            if (fits(r)) return r.format(s, intl, trunk);
        }
    }
    return std::nullopt;
}

bool RuleSet::isValid(std::string_view s, std::optional<std::string_view> intl, std::optional<std::string_view> trunk,
                      bool required) const {
    if (matchLen < 0 || s.size() < size_t(matchLen)) return false;
    const int32_t v = leadingValue(s);
    const auto len = int64_t(s.size());
    auto fits = [&](const PhoneRule& r) { return r.minVal <= v && v <= r.maxVal && len == r.maxLen; };

    for (const PhoneRule& r : rules) {
        if (!fits(r)) continue;
        if (required) {
            if (!intl && !trunk && (r.flag12 & 0x03) == 0) return true;
        } else if (!intl && !trunk) {
            return true;
        }
        if ((trunk && r.hasTrunkPrefix()) || (intl && r.hasIntlPrefix())) return true;
    }
    if (required) return false;
    if (intl && !hasRuleWithIntlPrefix) {
        for (const PhoneRule& r : rules) {
            if (fits(r) && (!trunk || r.hasTrunkPrefix())) return true;
        }
        return false;
    }
    if (!trunk || hasRuleWithTrunkPrefix) return false;
    for (const PhoneRule& r : rules) {
        if (fits(r) && (!intl || r.hasIntlPrefix())) return true;
    }
    return false;
}

std::string RuleSet::description() const {
    return formatString("RuleSet: { matchLen: %d, rules: %s }", matchLen,
                        listDescription(rules, [](const PhoneRule& r) { return r.description(); }).c_str());
}

// ---- CallingCodeInfo

std::optional<std::string> CallingCodeInfo::matchingAccessCode(std::string_view digits) const {
    for (const auto& p : intlPrefixes) {
        if (foundation::hasPrefix(digits, p)) return p;
    }
    return std::nullopt;
}

std::optional<std::string> CallingCodeInfo::matchingTrunkCode(std::string_view digits) const {
    for (const auto& p : trunkPrefixes) {
        if (foundation::hasPrefix(digits, p)) return p;
    }
    return std::nullopt;
}

namespace {
struct Split {
    std::optional<std::string_view> intl;
    std::optional<std::string_view> trunk;
    std::string_view rest;
};

Split splitPrefix(const CallingCodeInfo& info, std::string_view s) {
    Split out{std::nullopt, std::nullopt, s};
    if (foundation::hasPrefix(s, info.callingCode)) {
        out.intl = info.callingCode;
        out.rest = s.substr(info.callingCode.size());
        return out;
    }
    for (const auto& p : info.trunkPrefixes) {
        if (foundation::hasPrefix(s, p)) {
            out.trunk = p;
            out.rest = s.substr(p.size());
            return out;
        }
    }
    return out;
}
}  // namespace

std::string CallingCodeInfo::format(std::string_view s) const {
    const Split split = splitPrefix(*this, s);
    for (bool required : {true, false}) {
        for (const RuleSet& set : ruleSets) {
            if (auto formatted = set.format(split.rest, split.intl, split.trunk, required)) return *formatted;
        }
    }
    if (split.intl && !split.rest.empty()) return std::string(*split.intl) + " " + std::string(split.rest);
    return std::string(s);
}

bool CallingCodeInfo::isValidPhoneNumber(std::string_view s) const {
    const Split split = splitPrefix(*this, s);
    for (bool required : {true, false}) {
        for (const RuleSet& set : ruleSets) {
            if (set.isValid(split.rest, split.intl, split.trunk, required)) return true;
        }
    }
    return false;
}

std::string CallingCodeInfo::description() const {
    auto quoted = [](const std::string& s) { return s; };
    std::string out = "CountryInfo { countries: " + listDescription(countries, quoted) + ", code: " + callingCode +
                      ", trunkPrefixes: " + listDescription(trunkPrefixes, quoted) +
                      ", intlPrefixes: " + listDescription(intlPrefixes, quoted);
    out += ", rule sets: " + listDescription(ruleSets, [](const RuleSet& r) { return r.description(); }) + " }";
    return out;
}

// ---- HXCPhoneFormat

HXCPhoneFormat::HXCPhoneFormat(std::optional<std::string> defaultCountry)
    : HXCPhoneFormat(
          {},
          [] {
              auto mapped = foundation::files::mapFile(ruleFilePath());
              return mapped ? std::move(*mapped) : foundation::files::MappedFile();
          }(),
          std::move(defaultCountry)) {}

HXCPhoneFormat::HXCPhoneFormat(foundation::Data data, std::optional<std::string> defaultCountry)
    : HXCPhoneFormat(std::move(data), {}, std::move(defaultCountry)) {}

HXCPhoneFormat::HXCPhoneFormat(foundation::Data owned, foundation::files::MappedFile mapped,
                               std::optional<std::string> defaultCountry)
    : owned_(std::move(owned)), mapped_(std::move(mapped)) {
    if (defaultCountry && !defaultCountry->empty()) {
        defaultCountry_ = *defaultCountry;
    } else {
        defaultCountry_ = foundation::asciiLowercase(foundation::currentCountryCode());
    }
    numericOffsets_.fill(-1);
    for (auto& slot : numericData_) slot.store(nullptr, std::memory_order_relaxed);
    parseHeader();
}

std::string HXCPhoneFormat::strip(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if ((c >= '0' && c <= '9') || c == '+' || c == '*' || c == '#') out.push_back(c);
    }
    return out;
}

HXCPhoneFormat& HXCPhoneFormat::instance() {
    static HXCPhoneFormat shared;
    return shared;
}

std::string HXCPhoneFormat::ruleFilePath() {
    {
        std::lock_guard lock(rulePathMutex());
        if (!rulePathStorage().empty()) return rulePathStorage();
    }
    auto path = foundation::Bundle::main().pathForResource("PhoneFormats", "dat");
    return path ? path->string() : std::string();
}

void HXCPhoneFormat::setRuleFilePath(std::string path) {
    std::lock_guard lock(rulePathMutex());
    rulePathStorage() = std::move(path);
}

int HXCPhoneFormat::numericCode(std::string_view code) {
    if (code.empty() || code.size() > 3 || code[0] == '0') return -1;
    int n = 0;
    for (char c : code) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

void HXCPhoneFormat::parseHeader() {
    RuleFileReader reader(data());
    const auto count = int32_t(reader.u32(0));
    if (count < 1) return;
    // Entries that would lie past the end carry nothing; stop there rather than read zeros.
    const uint64_t available = data().size() >= 4 ? (data().size() - 4) / 12 : 0;
    const uint64_t entries = std::min<uint64_t>(uint64_t(count), available);
    const uint64_t headerEnd = 4 + 12 * uint64_t(count);
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t base = 4 + 12 * i;
        std::string code = reader.string(base, 4);
        std::string country = reader.string(base + 4, 4);
        const uint64_t offset = headerEnd + reader.u32(base + 8);
        if (country == defaultCountry_) defaultCallingCode_ = code;
        countryCallingCode_[country] = code;
        const uint32_t clamped = offset > UINT32_MAX ? UINT32_MAX : uint32_t(offset);
        callingCodeOffsets_[code] = clamped;
        if (int n = numericCode(code); n > 0) numericOffsets_[size_t(n)] = clamped;
        callingCodeCountries_[code].insert(country);
    }
    if (defaultCallingCode_) (void)callingCodeInfo(*defaultCallingCode_);
}

std::shared_ptr<CallingCodeInfo> HXCPhoneFormat::readRecord(const std::string& code, uint32_t offset) const {
    auto info = std::make_shared<CallingCodeInfo>();
    info->callingCode = code;
    if (auto it = callingCodeCountries_.find(code); it != callingCodeCountries_.end()) info->countries = it->second;

    RuleFileReader reader(data());
    const uint64_t size = data().size();
    const uint64_t r = offset;
    const uint64_t s = r + (reader.u32(r) & 0xFFFF);
    const uint64_t f = s + (reader.u32(r + 4) & 0xFFFF);
    const uint32_t setCount = reader.u32(r + 8) & 0xFFFF;
    // A record whose fixed fields or offsets lie outside the file has no usable contents.
    if (r + 12 > size || s > size || f > size) return info;

    uint64_t next = r + 12;
    for (auto* list : {&info->trunkPrefixes, &info->intlPrefixes}) {
        while (next < size) {
            std::string prefix = reader.string(next, SIZE_MAX, &next);
            if (prefix.empty()) break;
            list->push_back(std::move(prefix));
        }
    }

    std::vector<RuleSet> sets;
    uint64_t at = s;
    for (uint32_t i = 0; i < setCount; ++i) {
        if (at + 4 > size) return info;  // rule sets run past the file: no rules are trusted
        RuleSet set;
        set.matchLen = reader.u16(at);
        const uint16_t ruleCount = reader.u16(at + 2);
        at += 4;
        if (at + 16 * uint64_t(ruleCount) > size) return info;
        set.rules.reserve(ruleCount);
        for (uint16_t j = 0; j < ruleCount; ++j, at += 16) {
            PhoneRule rule;
            rule.minVal = int32_t(reader.u32(at));
            rule.maxVal = int32_t(reader.u32(at + 4));
            rule.byte8 = reader.u8(at + 8);
            rule.maxLen = reader.u8(at + 9);
            rule.otherFlag = reader.u8(at + 10);
            rule.prefixLen = reader.u8(at + 11);
            rule.flag12 = reader.u8(at + 12);
            rule.flag13 = reader.u8(at + 13);
            rule.setFormat(cleanPattern(reader.string(f + reader.u16(at + 14))));
            if (rule.hasIntlPrefix()) set.hasRuleWithIntlPrefix = true;
            if (rule.hasTrunkPrefix()) set.hasRuleWithTrunkPrefix = true;
            set.rules.push_back(std::move(rule));
        }
        sets.push_back(std::move(set));
    }
    info->ruleSets = std::move(sets);
    return info;
}

std::shared_ptr<const CallingCodeInfo> HXCPhoneFormat::callingCodeInfo(std::string_view callingCode) const {
    auto offset = callingCodeOffsets_.find(callingCode);
    if (offset == callingCodeOffsets_.end()) return nullptr;
    std::lock_guard lock(mutex_);
    if (auto it = callingCodeData_.find(callingCode); it != callingCodeData_.end()) return it->second;
    std::shared_ptr<const CallingCodeInfo> info = readRecord(offset->first, offset->second);
    callingCodeData_.emplace(offset->first, info);
    if (const int n = numericCode(callingCode); n > 0)
        numericData_[size_t(n)].store(info.get(), std::memory_order_release);
    return info;
}

const CallingCodeInfo* HXCPhoneFormat::infoFor(std::string_view callingCode) const {
    // Records are never dropped while the formatter lives, so a published pointer stays valid
    // and the formatting path needs no lock once a code has been read.
    if (const int n = numericCode(callingCode); n > 0) {
        if (const CallingCodeInfo* known = numericData_[size_t(n)].load(std::memory_order_acquire)) return known;
        if (numericOffsets_[size_t(n)] < 0) return nullptr;
    }
    return callingCodeInfo(callingCode).get();
}

const CallingCodeInfo* HXCPhoneFormat::findInfo(std::string_view digits) const {
    for (size_t len = 1; len <= 3 && len <= digits.size(); ++len) {
        std::string_view prefix = digits.substr(0, len);
        const int n = numericCode(prefix);
        const bool known =
            n > 0 ? numericOffsets_[size_t(n)] >= 0 : callingCodeOffsets_.find(prefix) != callingCodeOffsets_.end();
        if (known) return infoFor(prefix);
    }
    return nullptr;
}

std::shared_ptr<const CallingCodeInfo> HXCPhoneFormat::findCallingCodeInfo(std::string_view digits) const {
    for (size_t len = 1; len <= 3 && len <= digits.size(); ++len) {
        std::string_view prefix = digits.substr(0, len);
        if (callingCodeOffsets_.find(prefix) != callingCodeOffsets_.end()) return callingCodeInfo(prefix);
    }
    return nullptr;
}

std::optional<std::string> HXCPhoneFormat::defaultCallingCode() const {
    return callingCodeForCountryCode(defaultCountry_);
}

std::optional<std::string> HXCPhoneFormat::callingCodeForCountryCode(std::string_view countryCode) const {
    auto it = countryCallingCode_.find(foundation::asciiLowercase(countryCode));
    if (it == countryCallingCode_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::set<std::string>> HXCPhoneFormat::countriesForCallingCode(std::string_view callingCode) const {
    if (!callingCode.empty() && callingCode.front() == '+') callingCode.remove_prefix(1);
    auto it = callingCodeCountries_.find(callingCode);
    if (it == callingCodeCountries_.end()) return std::nullopt;
    return it->second;
}

std::string HXCPhoneFormat::format(std::string_view s) const {
    const std::string d = strip(s);
    if (!d.empty() && d.front() == '+') {
        std::string_view rest = std::string_view(d).substr(1);
        auto info = findInfo(rest);
        if (!info) return std::string(s);
        return "+" + info->format(rest);
    }
    const CallingCodeInfo* info = defaultCallingCode_ ? infoFor(*defaultCallingCode_) : nullptr;
    if (!info) return std::string(s);
    auto access = info->matchingAccessCode(d);
    if (!access) return info->format(d);
    std::string_view rest = std::string_view(d).substr(access->size());
    auto info2 = findInfo(rest);
    std::string f = info2 ? info2->format(rest) : std::string(rest);
    if (f.empty()) return *access;
    return *access + " " + f;
}

bool HXCPhoneFormat::isPhoneNumberValid(std::string_view s) const {
    const std::string d = strip(s);
    if (!d.empty() && d.front() == '+') {
        std::string_view rest = std::string_view(d).substr(1);
        auto info = findInfo(rest);
        return info && info->isValidPhoneNumber(rest);
    }
    const CallingCodeInfo* info = defaultCallingCode_ ? infoFor(*defaultCallingCode_) : nullptr;
    if (!info) return false;
    if (auto access = info->matchingAccessCode(d)) {
        std::string_view rest = std::string_view(d).substr(access->size());
        if (rest.empty()) return false;
        auto info2 = findInfo(rest);
        return info2 && info2->isValidPhoneNumber(rest);
    }
    return info->isValidPhoneNumber(d);
}
