#include "ui/dialer/local_time.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "platform/foundation/bundle.h"
#include "platform/foundation/strings.h"

namespace {

// One zone of the system's zoneinfo (TZif): the transitions and the offset after each.
struct ZoneRules {
    std::vector<int64_t> transitions;
    std::vector<int32_t> offsets;  // after each transition
    int32_t initial = 0;           // before the first one
};

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

std::optional<ZoneRules> readZone(const std::string& zone) {
    // Zone names are paths below the zoneinfo folder: nothing that climbs out of it.
    if (zone.empty() || zone.front() == '/' || zone.find("..") != std::string::npos) return std::nullopt;
    std::ifstream in("/usr/share/zoneinfo/" + zone, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto header = [&](size_t at, uint32_t counts[6]) {
        if (b.size() < at + 44 || std::string(b.begin() + at, b.begin() + at + 4) != "TZif") return false;
        for (int i = 0; i < 6; ++i) counts[i] = be32(&b[at + 20 + 4 * i]);
        return true;
    };
    uint32_t c[6];
    if (!header(0, c)) return std::nullopt;
    // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
    size_t at = 44;
    size_t timeSize = 4;
    const size_t v1 = c[3] * 5 + c[4] * 6 + c[5] + c[2] * 8 + c[1] + c[0];
    if (b[4] >= '2') {
        at += v1;
        if (!header(at, c)) return std::nullopt;
        at += 44;
        timeSize = 8;
    }
    const size_t need = c[3] * timeSize + c[3] + c[4] * 6;
    if (c[4] == 0 || b.size() < at + need) return std::nullopt;
    ZoneRules rules;
    std::vector<uint8_t> index(c[3]);
    for (uint32_t i = 0; i < c[3]; ++i) {
        const unsigned char* p = &b[at + i * timeSize];
        int64_t t = timeSize == 8 ? int64_t((uint64_t(be32(p)) << 32) | be32(p + 4)) : int64_t(int32_t(be32(p)));
        rules.transitions.push_back(t);
    }
    at += c[3] * timeSize;
    for (uint32_t i = 0; i < c[3]; ++i) index[i] = b[at + i];
    at += c[3];
    std::vector<int32_t> types(c[4]);
    int firstStandard = -1;
    for (uint32_t i = 0; i < c[4]; ++i) {
        types[i] = int32_t(be32(&b[at + i * 6]));
        if (firstStandard < 0 && b[at + i * 6 + 4] == 0) firstStandard = static_cast<int>(i);
    }
    for (uint32_t i = 0; i < c[3]; ++i) {
        if (index[i] >= c[4]) return std::nullopt;
        rules.offsets.push_back(types[index[i]]);
    }
    rules.initial = types[firstStandard < 0 ? 0 : firstStandard];
    return rules;
}

}  // namespace

std::optional<int> HXLocalTime::systemZoneOffset(const std::string& zone, foundation::Date at) {
    // Main thread only: the rules of the zones asked for are kept.
    static std::map<std::string, std::optional<ZoneRules>> cache;
    auto it = cache.find(zone);
    if (it == cache.end()) it = cache.emplace(zone, readZone(zone)).first;
    if (!it->second) return std::nullopt;
    const ZoneRules& r = *it->second;
    const auto t = static_cast<int64_t>(std::floor(at.secondsSince1970));
    auto after = std::upper_bound(r.transitions.begin(), r.transitions.end(), t);
    if (after == r.transitions.begin()) return r.initial;
    return r.offsets[static_cast<size_t>(after - r.transitions.begin() - 1)];
}

HXLocalTime::~HXLocalTime() { close(); }

bool HXLocalTime::open(const std::filesystem::path& path) {
    close();
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    // An unreadable file opens but answers nothing: it counts as missing.
    sqlite3_stmt* probe = nullptr;
    const bool readable =
        sqlite3_prepare_v2(db_, "SELECT count(*) FROM numberprefix", -1, &probe, nullptr) == SQLITE_OK &&
        sqlite3_step(probe) == SQLITE_ROW;
    sqlite3_finalize(probe);
    if (!readable) {
        close();
        return false;
    }
    return true;
}

void HXLocalTime::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::optional<std::string> HXLocalTime::lookupDigits(const std::string& t) {
    std::string d = foundation::keepingOnly(t, foundation::CharacterSet::fromCharacters("0123456789"));
    if (foundation::hasPrefix(t, "(")) return "1" + d;
    if (foundation::hasPrefix(t, "1")) return d;
    if (foundation::hasPrefix(t, "011") && d.size() >= 4) return d.substr(3);
    if (foundation::hasPrefix(t, "+")) return d;
    return std::nullopt;
}

double HXLocalTime::secondsUntilNextRefresh(foundation::Date now) {
    foundation::DateFormatter second;
    second.setDateFormat("s");
    const int s = static_cast<int>(foundation::Value(second.string(now)).int64Value(0));
    // The whole second alone would let the refresh fall up to 1.5 s after the minute (and
    // wander from one minute to the next): the part of the second already gone counts too.
    const double fraction = now.secondsSince1970 - std::floor(now.secondsSince1970);
    return 60.5 - s - fraction;
}

void HXLocalTime::resetFormatters() {
    day_.reset();
    time_.reset();
    formatterZone_.clear();
}

std::string HXLocalTime::localeForCountryNames() {
    if (!locale_) {
        auto preferred = foundation::Bundle::main().preferredLocalizations();
        locale_ = preferred.empty() ? foundation::currentLocaleIdentifier() : preferred.front();
    }
    return *locale_;
}

void HXLocalTime::lookUp(const std::string& d) {
    std::string sql = "SELECT timezones.tz,timezones.cc,states.name FROM timezones,numberprefix,states WHERE "
                      "(numberprefix.prefix=" +
                      d.substr(0, 2);
    for (size_t k = 3; k <= std::min<size_t>(7, d.size()); ++k) sql += " OR numberprefix.prefix=" + d.substr(0, k);
    sql += ") AND numberprefix.tz_id=timezones.tz_id AND numberprefix.st_id=states.st_id ORDER BY "
           "numberprefix.prefix DESC LIMIT 1";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return;  // nothing known changes
    }
    ++queries_;
    auto text = [&](int column) {
        const unsigned char* v = sqlite3_column_text(stmt, column);
        return v ? std::string(reinterpret_cast<const char*>(v)) : std::string();
    };
    std::string cc, state;
    if (sqlite3_step(stmt) == SQLITE_ROW) {
        zone_ = text(0);
        cc = text(1);
        state = text(2);
    } else {
        // No listed prefix: no place, rather than the place of the number before.
        zone_.reset();
    }
    sqlite3_finalize(stmt);
    region_ = cc.empty() ? std::string() : foundation::localizedCountryName(cc, localeForCountryNames());
    if (!region_.empty() && !state.empty()) region_ += " (" + state + ")";
}

std::string HXLocalTime::labelFor(const std::string& shownText, foundation::Date now) {
    if (!db_) return {};
    auto digits = lookupDigits(shownText);
    if (!digits) return {};
    if (digits->size() < 2)
        zone_.reset();
    else if (!(zone_ && digits->size() > 7))
        lookUp(*digits);
    if (!zone_ || zone_->empty()) return {};
    // The offset comes from the system's zone files; a zone the system does not have is no zone.
    const auto offset = systemZoneOffset(*zone_, now);
    if (!offset) return {};
    if (!day_ || !time_) {
        day_.emplace();
        day_->setDateFormat("EEEE, ");
        time_.emplace();
        time_->setTimeStyle(foundation::DateFormatter::Style::Short);
        formatterZone_.clear();
    }
    // The formatters show the wall time of that offset.
    const int minutes = std::abs(*offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "GMT%c%02d:%02d", *offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    if (formatterZone_ != zone) {
        day_->setTimeZone(zone);
        time_->setTimeZone(zone);
        formatterZone_ = zone;
    }
    return region_ + " - " + day_->string(now) + time_->string(now);
}
