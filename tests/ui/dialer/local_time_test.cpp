#include "ui/dialer/local_time.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "platform/foundation/bundle.h"
#include "platform/foundation/strings.h"
#include "tests/support/test_support.h"

namespace {

std::filesystem::path tzPath() { return foundation::Bundle::main().pathForResource("tz").value_or(""); }

foundation::Date utc(int y, unsigned m, unsigned d, int h, int min) {
    return foundation::Date{static_cast<double>(foundation::daysFromCivil(y, m, d) * 86400 + h * 3600 + min * 60)};
}

// "Region - Monday, 3:45 PM" -> "Monday 3:45 PM" (the blank before AM/PM may be any space).
std::string wallTime(const std::string& label) {
    auto dash = label.rfind(" - ");
    if (dash == std::string::npos) return "";
    std::string rest = label.substr(dash + 3);
    rest = foundation::replaceAll(rest, ", ", " ");
    rest = foundation::replaceAll(rest, "\u202f", " ");
    return rest;
}

class LocalTime : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setCurrentLocaleIdentifier("en_US");
        ASSERT_FALSE(tzPath().empty()) << "the bundle's tz";
        ASSERT_TRUE(time.open(tzPath()));
    }
    void TearDown() override { foundation::setCurrentLocaleIdentifier(""); }
    HXLocalTime time;
};

}  // namespace

TEST_F(LocalTime, TheDigitsLookedUpFollowTheNumbersStart) {
    struct Case {
        const char* shown;
        std::optional<std::string> digits;
    };
    for (const Case& c :
         {Case{"(202) 555-0123", "12025550123"}, Case{"1 (202) 555", "1202555"}, Case{"011 44 20", "4420"},
          Case{"011 4", "4"}, Case{"011", std::nullopt}, Case{"+52 55 1234", "52551234"},
          Case{"555-0123", std::nullopt}, Case{"", std::nullopt}, Case{"*67 202", std::nullopt}}) {
        EXPECT_EQ(HXLocalTime::lookupDigits(c.shown), c.digits) << c.shown;
    }
    EXPECT_DOUBLE_EQ(HXLocalTime::secondsUntilNextRefresh(utc(2024, 7, 15, 12, 0)), 60.5);
    EXPECT_NEAR(HXLocalTime::secondsUntilNextRefresh(foundation::Date{utc(2024, 7, 15, 12, 0).secondsSince1970 + 42.7}),
                17.8, 1e-6);
    EXPECT_NEAR(HXLocalTime::secondsUntilNextRefresh(foundation::Date{utc(2024, 7, 15, 12, 0).secondsSince1970 + 59.9}),
                0.6, 1e-6);
}

TEST_F(LocalTime, MexicoCityInJuly2024IsSixHoursBehindAsTheSystemZonesSay) {
    const std::string label = time.labelFor("+52 55 1234 5678", utc(2024, 7, 15, 18, 30));
    EXPECT_EQ(wallTime(label), "Monday 12:30 PM") << label;
    EXPECT_EQ(label.substr(0, 6), "Mexico") << label;
}

TEST_F(LocalTime, TheLongestPrefixWinsAndSevenDigitsEndTheQueries) {
    const auto now = utc(2024, 7, 15, 18, 30);
    std::string typed = "+";
    int before = time.queriesRun();
    for (char c : std::string("12025550123")) {
        typed += c;
        time.labelFor(typed, now);
    }
    // Queries for 2 to 7 digits (one digit asks nothing), none from the eighth on.
    EXPECT_EQ(time.queriesRun() - before, 6);
    EXPECT_EQ(time.cachedZone(), "America/New_York");
    EXPECT_EQ(time.labelFor(typed, now).find("New Jersey"), std::string::npos) << "the state of 1201";
    EXPECT_NE(time.labelFor(typed, now).find("Washington"), std::string::npos);
}

TEST_F(LocalTime, NoRowMeansNoPlaceEvenAfterANumberThatHadOne) {
    const auto now = utc(2024, 7, 15, 18, 30);
    EXPECT_FALSE(time.labelFor("+4420", now).empty());
    EXPECT_TRUE(time.labelFor("+999", now).empty()) << "no listed prefix: no zone, no label";
    EXPECT_FALSE(time.cachedZone());
    EXPECT_TRUE(time.labelFor("555-0123", now).empty());
}

TEST_F(LocalTime, AMissingOrCorruptDatabaseGivesNoLabel) {
    hxtest::TempDir dir;
    EXPECT_FALSE(time.open(dir.path() / "missing"));
    EXPECT_TRUE(time.labelFor("+4420", utc(2024, 1, 1, 0, 0)).empty());
    std::ofstream(dir.path() / "corrupt") << "SQLite format 3 but not really a database at all";
    EXPECT_FALSE(time.open(dir.path() / "corrupt"));
    EXPECT_FALSE(time.isOpen());
}

TEST_F(LocalTime, TwoHundredNumbersOfFortyZonesMatchPythonsZoneinfoAroundChanges) {
    // Numbers made of listed prefixes, five per zone, across forty zones.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(tzPath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT prefix, tz FROM numberprefix JOIN timezones USING (tz_id) "
                                 "ORDER BY tz, prefix",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    std::map<std::string, std::vector<std::string>> byZone;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const std::string zone = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
        auto& list = byZone[zone];
        if (list.size() < 64) list.push_back(std::to_string(sqlite3_column_int64(stmt, 0)));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    std::vector<std::pair<std::string, std::string>> numbers;  // number, zone
    const std::set<std::string> wanted = {"America/Mexico_City", "America/New_York",  "Europe/London",
                                          "Australia/Sydney",    "America/Sao_Paulo", "Asia/Tehran"};
    // The wanted zones and the zones with the most listed prefixes, forty in all.
    std::vector<std::pair<size_t, std::string>> bySize;
    for (const auto& [zone, prefixes] : byZone) bySize.emplace_back(wanted.count(zone) ? 1000 : prefixes.size(), zone);
    std::sort(bySize.rbegin(), bySize.rend());
    ASSERT_GE(bySize.size(), 40u);
    bySize.resize(40);
    for (size_t round = 0; numbers.size() < 200 && round < 64; ++round)
        for (const auto& [size, zone] : bySize)
            if (round < byZone[zone].size() && numbers.size() < 200)
                numbers.emplace_back("+" + byZone[zone][round], zone);
    ASSERT_EQ(numbers.size(), 200u);
    const std::vector<foundation::Date> instants = {
        utc(2024, 3, 10, 6, 59), utc(2024, 3, 10, 7, 1),  utc(2024, 3, 31, 0, 59),  utc(2024, 3, 31, 1, 1),
        utc(2024, 4, 6, 15, 59), utc(2024, 4, 6, 16, 1),  utc(2024, 7, 15, 18, 30), utc(2024, 10, 27, 0, 59),
        utc(2024, 10, 27, 1, 1), utc(2024, 11, 3, 5, 59), utc(2024, 11, 3, 6, 1),   utc(2024, 12, 31, 23, 59)};
    hxtest::TempDir dir;
    const auto input = dir.path() / "cases.txt";
    std::vector<std::string> got;
    {
        std::ofstream out(input);
        for (const auto& [number, zone] : numbers) {
            for (const auto& at : instants) {
                time.forgetZone();
                got.push_back(wallTime(time.labelFor(number, at)));
                out << zone << " " << static_cast<int64_t>(at.secondsSince1970) << "\n";
            }
        }
    }
    const std::string script = "import sys, datetime, zoneinfo\n"
                               "for line in open(sys.argv[1]):\n"
                               "    zone, t = line.split()\n"
                               "    d = datetime.datetime.fromtimestamp(int(t), zoneinfo.ZoneInfo(zone))\n"
                               "    print(d.strftime('%A ') + str(int(d.strftime('%I'))) + d.strftime(':%M %p'))\n";
    std::ofstream(dir.path() / "oracle.py") << script;
    const std::string command = "/usr/bin/python3 " + (dir.path() / "oracle.py").string() + " " + input.string();
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> expected;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) expected.push_back(foundation::trim(line));
    ASSERT_EQ(::pclose(pipe), 0);
    ASSERT_EQ(expected.size(), got.size());
    int mismatches = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i] == expected[i]) continue;
        if (++mismatches <= 5)
            ADD_FAILURE() << numbers[i / instants.size()].first << " (" << numbers[i / instants.size()].second
                          << "): " << got[i] << " != " << expected[i];
    }
    EXPECT_EQ(mismatches, 0);
}
