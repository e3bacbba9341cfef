// The callee's local time for the dial pad: the leading digits of an international number are
// looked up in the read-only database "tz" (longest listed prefix of 2 to 7 digits -> zone,
// country, state), and the label reads "<country> (<state>) - <weekday>, <time>" in that zone.
// The answer for seven digits is kept while more digits are typed. Main thread only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/foundation/dates.h"

struct sqlite3;

class HXLocalTime {
public:
    HXLocalTime() = default;
    ~HXLocalTime();
    HXLocalTime(const HXLocalTime&) = delete;
    HXLocalTime& operator=(const HXLocalTime&) = delete;

    // Opens the database read-only; a missing or unreadable file leaves it closed (false).
    bool open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return db_ != nullptr; }

    // The label for the shown number text at a moment ("" for none). Runs one query while the
    // number has up to seven digits (or no zone is known), none after that.
    std::string labelFor(const std::string& shownText, foundation::Date now);
    // The digits the lookup uses for a shown text, or nothing when its country cannot be known.
    static std::optional<std::string> lookupDigits(const std::string& shownText);
    // The seconds until half a second after the next minute turns (60.5 - the second now, its
    // fraction included).
    static double secondsUntilNextRefresh(foundation::Date now);

    // The offset from UTC in seconds of a zone at a moment, read from the system's zoneinfo
    // files (not the formatting library's own copy, which may be older); nothing for a zone the
    // system does not have.
    static std::optional<int> systemZoneOffset(const std::string& zone, foundation::Date at);

    void forgetZone() { zone_.reset(); }
    void forgetZoneAndRegion() {
        zone_.reset();
        region_.clear();
    }
    void resetFormatters();
    void forgetLocale() { locale_.reset(); }
    const std::optional<std::string>& cachedZone() const { return zone_; }
    int queriesRun() const { return queries_; }

private:
    void lookUp(const std::string& digits);
    std::string localeForCountryNames();

    sqlite3* db_ = nullptr;
    std::optional<std::string> zone_;
    std::string region_;
    std::optional<foundation::DateFormatter> day_, time_;
    std::optional<std::string> locale_;
    std::string formatterZone_;
    int queries_ = 0;
};
