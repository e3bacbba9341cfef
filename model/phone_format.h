// Phone-number formatting and validation driven by the rule file "PhoneFormats.dat": per calling
// code, its countries, trunk and international prefixes, and rule sets that pick a display
// pattern by the leading digits and the length of a number.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/files.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"

// One rule: a range of leading-digit values, a maximum (for validity: exact) length and the
// pattern that lays the digits out.
class PhoneRule {
public:
    int32_t minVal = 0;
    int32_t maxVal = 0;
    int32_t byte8 = 0;
    int32_t maxLen = 0;
    int32_t otherFlag = 0;
    int32_t prefixLen = 0;
    int32_t flag12 = 0;
    int32_t flag13 = 0;

    const std::string& format() const { return format_; }
    void setFormat(std::string format) { format_ = std::move(format); }

    // Lays s out along the pattern: "#" a digit, "c" the international prefix, "n" the trunk
    // prefix, "(" and ")" a group; every other character is copied while digits remain.
    std::string format(std::string_view s, std::optional<std::string_view> intlPrefix,
                       std::optional<std::string_view> trunkPrefix) const;
    bool hasIntlPrefix() const { return (flag12 & 0x02) != 0; }
    bool hasTrunkPrefix() const { return (flag12 & 0x01) != 0; }
    std::string description() const;

private:
    std::string format_;
};

class RuleSet {
public:
    bool hasRuleWithIntlPrefix = false;
    bool hasRuleWithTrunkPrefix = false;
    int32_t matchLen = 0;
    std::vector<PhoneRule> rules;

    std::optional<std::string> format(std::string_view s, std::optional<std::string_view> intlPrefix,
                                      std::optional<std::string_view> trunkPrefix, bool prefixRequired) const;
    bool isValid(std::string_view s, std::optional<std::string_view> intlPrefix,
                 std::optional<std::string_view> trunkPrefix, bool prefixRequired) const;
    std::string description() const;

private:
    // The value of the leading matchLen characters, read as the platform's intValue reads them.
    int32_t leadingValue(std::string_view s) const;
};

class CallingCodeInfo {
public:
    std::set<std::string> countries;
    std::string callingCode;
    std::vector<std::string> trunkPrefixes;
    std::vector<std::string> intlPrefixes;
    std::vector<RuleSet> ruleSets;
    std::vector<std::string> formatStrings;  // part of the record model; the file fills none

    std::optional<std::string> matchingAccessCode(std::string_view digits) const;
    std::optional<std::string> matchingTrunkCode(std::string_view digits) const;
    std::string format(std::string_view s) const;
    bool isValidPhoneNumber(std::string_view s) const;
    std::string description() const;
};

class HXCPhoneFormat {
public:
    // Reads the rule file from the main bundle; the default country is the given one when not
    // empty, else the current locale's country (lower case).
    explicit HXCPhoneFormat(std::optional<std::string> defaultCountry = std::nullopt);
    // The same over rule-file bytes the caller supplies (tests, tools, fuzzing).
    HXCPhoneFormat(foundation::Data data, std::optional<std::string> defaultCountry);
    HXCPhoneFormat(const HXCPhoneFormat&) = delete;
    HXCPhoneFormat& operator=(const HXCPhoneFormat&) = delete;

    // Every character outside "0123456789+*#" removed.
    static std::string strip(std::string_view s);
    // A process-wide instance made once with the default constructor.
    static HXCPhoneFormat& instance();
    // The rule file: the main bundle's resource "PhoneFormats" of type "dat", unless a path was
    // set (an empty path returns to the bundle's).
    static std::string ruleFilePath();
    static void setRuleFilePath(std::string path);

    std::string format(std::string_view s) const;
    bool isPhoneNumberValid(std::string_view s) const;

    const std::string& defaultCountry() const { return defaultCountry_; }
    std::optional<std::string> defaultCallingCode() const;
    std::optional<std::string> callingCodeForCountryCode(std::string_view countryCode) const;
    std::optional<std::set<std::string>> countriesForCallingCode(std::string_view callingCode) const;
    // The record of a calling code, read on first request and kept; null for an unknown code.
    // Safe to call from several threads at once.
    std::shared_ptr<const CallingCodeInfo> callingCodeInfo(std::string_view callingCode) const;
    std::shared_ptr<const CallingCodeInfo> findCallingCodeInfo(std::string_view digits) const;

    // The rule file's bytes.
    std::span<const uint8_t> data() const { return owned_.empty() ? mapped_.bytes() : std::span(owned_); }

private:
    HXCPhoneFormat(foundation::Data owned, foundation::files::MappedFile mapped,
                   std::optional<std::string> defaultCountry);
    void parseHeader();
    std::shared_ptr<CallingCodeInfo> readRecord(const std::string& code, uint32_t offset) const;
    const CallingCodeInfo* infoFor(std::string_view callingCode) const;
    const CallingCodeInfo* findInfo(std::string_view digits) const;
    // 1..999 for a calling code of one to three digits without a leading zero, else -1.
    static int numericCode(std::string_view code);

    // The bytes are the caller's (owned_) or the file's, mapped: the file is half a megabyte, of
    // which the header and the records in use are read.
    foundation::Data owned_;
    foundation::files::MappedFile mapped_;
    std::string defaultCountry_;
    std::optional<std::string> defaultCallingCode_;
    // Filled by parseHeader and never changed afterwards, so readers need no lock.
    std::map<std::string, uint32_t, std::less<>> callingCodeOffsets_;
    std::map<std::string, std::set<std::string>, std::less<>> callingCodeCountries_;
    std::map<std::string, std::string, std::less<>> countryCallingCode_;
    std::array<int64_t, 1000> numericOffsets_{};  // -1: no record

    // Records read so far; the map owns them, the array is a lock-free index of the same.
    mutable foundation::Mutex mutex_;
    mutable std::map<std::string, std::shared_ptr<const CallingCodeInfo>, std::less<>>
        callingCodeData_ HX_GUARDED_BY(mutex_);
    mutable std::array<std::atomic<const CallingCodeInfo*>, 1000> numericData_{};
};
