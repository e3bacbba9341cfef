// Writes phone-format rule files in the byte layout the formatter reads, so tests can give it
// small files with exactly the records, prefixes and patterns a case needs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace hxtest {

inline constexpr uint8_t kTrunk = 1;
inline constexpr uint8_t kIntl = 2;

struct RuleSpec {
    int32_t minVal;
    int32_t maxVal;
    uint8_t maxLen;
    uint8_t flag12;
    std::string pattern;
};

struct RuleSetSpec {
    uint16_t matchLen;
    std::vector<RuleSpec> rules;
};

struct RuleRecord {
    std::string code;
    std::vector<std::string> countries;
    std::vector<std::string> trunk;
    std::vector<std::string> intl;
    std::vector<RuleSetSpec> sets;
};

inline void put32(foundation::Data& d, uint32_t v) {
    for (int i = 0; i < 4; ++i) d.push_back(uint8_t(v >> (8 * i)));
}
inline void put16(foundation::Data& d, uint16_t v) {
    d.push_back(uint8_t(v));
    d.push_back(uint8_t(v >> 8));
}
inline void putString(foundation::Data& d, const std::string& s) {
    d.insert(d.end(), s.begin(), s.end());
    d.push_back(0);
}

inline foundation::Data buildRecord(const RuleRecord& r) {
    foundation::Data prefixes;
    for (auto& p : r.trunk) putString(prefixes, p);
    prefixes.push_back(0);
    for (auto& p : r.intl) putString(prefixes, p);
    prefixes.push_back(0);
    foundation::Data sets, patterns;
    std::map<std::string, uint16_t> at;
    for (auto& set : r.sets) {
        put16(sets, set.matchLen);
        put16(sets, uint16_t(set.rules.size()));
        for (auto& rule : set.rules) {
            if (!at.count(rule.pattern)) {
                at[rule.pattern] = uint16_t(patterns.size());
                putString(patterns, rule.pattern);
            }
            put32(sets, uint32_t(rule.minVal));
            put32(sets, uint32_t(rule.maxVal));
            for (uint8_t b : {uint8_t(0), rule.maxLen, uint8_t(0), uint8_t(0), rule.flag12, uint8_t(0)})
                sets.push_back(b);
            put16(sets, at[rule.pattern]);
        }
    }
    foundation::Data out;
    put32(out, uint32_t(12 + prefixes.size()));
    put32(out, uint32_t(sets.size()));
    put32(out, uint32_t(r.sets.size()));
    out.insert(out.end(), prefixes.begin(), prefixes.end());
    out.insert(out.end(), sets.begin(), sets.end());
    out.insert(out.end(), patterns.begin(), patterns.end());
    return out;
}

inline foundation::Data buildRuleFile(const std::vector<RuleRecord>& records) {
    foundation::Data header, body;
    size_t entries = 0;
    for (auto& r : records) entries += r.countries.size();
    put32(header, uint32_t(entries));
    for (auto& r : records) {
        const uint32_t offset = uint32_t(body.size());
        foundation::Data rec = buildRecord(r);
        body.insert(body.end(), rec.begin(), rec.end());
        for (auto& country : r.countries) {
            std::string code = r.code, c = country;
            code.resize(4, '\0');
            c.resize(4, '\0');
            header.insert(header.end(), code.begin(), code.end());
            header.insert(header.end(), c.begin(), c.end());
            put32(header, offset);
        }
    }
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

}  // namespace hxtest
