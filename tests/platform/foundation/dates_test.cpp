#include "platform/foundation/dates.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock/clock.h"
#include "tests/support/test_support.h"

using namespace foundation;

namespace {

// Sets an environment variable for a scope and restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(Dates, ReferenceDateAndDistantDates) {
    EXPECT_EQ(timeIntervalSinceReferenceDate(dateSince1970(978307200.0)), 0.0);
    EXPECT_EQ(dateSinceReferenceDate(-1).secondsSince1970, 978307199.0);
    EXPECT_EQ(timeIntervalSinceReferenceDate(distantPast()), -63114076800.0);
    EXPECT_EQ(timeIntervalSinceReferenceDate(distantFuture()), 63113904000.0);
    EXPECT_LT(distantPast(), now());
    EXPECT_GT(distantFuture(), now());
}

TEST(Dates, Iso8601RoundTripAndStrictParsing) {
    EXPECT_EQ(iso8601String(Date{0}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(iso8601String(Date{1700000000.123}), "2023-11-14T22:13:20.123Z");
    EXPECT_EQ(iso8601String(Date{-0.001}), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(iso8601String(Date{951782400.9999}), "2000-02-29T00:00:00.999Z");  // truncated, not rounded
    for (const char* text : {"2024-02-29T23:59:59.999Z", "1999-12-31T00:00:00.000Z", "2038-01-19T03:14:08.001Z",
                             "1901-06-15T12:30:45.500Z"}) {
        auto d = parseISO8601(text);
        ASSERT_TRUE(d.ok()) << text;
        EXPECT_EQ(iso8601String(*d), text);
    }
    for (const char* bad :
         {"2023-02-29T00:00:00.000Z", "2023-13-01T00:00:00.000Z", "2023-01-01T24:00:00.000Z", "2023-01-01T00:00:00Z",
          "2023-01-01 00:00:00.000Z", "2023-01-01T00:00:00.000+01:00", "２023-01-01T00:00:00.000Z", ""}) {
        EXPECT_FALSE(parseISO8601(bad).ok()) << bad;
    }
}

TEST(Dates, Iso8601AgreesWithPython) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP();
    std::string out;
    ASSERT_EQ(hxtest::runCommand("python3 -c \"import datetime as d; "
                                 "print(d.datetime(2031,7,4,5,6,7,890000,tzinfo=d.timezone.utc).timestamp())\"",
                                 &out),
              0);
    const double expected = std::stod(out);
    auto d = parseISO8601("2031-07-04T05:06:07.890Z");
    ASSERT_TRUE(d.ok());
    EXPECT_NEAR(d->secondsSince1970, expected, 1e-6);
}

TEST(Dates, FormattersWithPinnedLocaleAndZone) {
    DateFormatter f;
    f.setLocale("en_US");
    f.setTimeZone("UTC");
    f.setDateFormat("yyyy-MM-dd HH:mm EEEE");
    EXPECT_EQ(f.string(Date{1700000000}), "2023-11-14 22:13 Tuesday");
    EXPECT_EQ(f.date("2023-11-14 22:13 Tuesday"), Date{1699999980});
    EXPECT_EQ(f.date("2023-11-14 22:13 Tuesday and more"), std::nullopt);
    EXPECT_EQ(f.date("garbage"), std::nullopt);

    f.setTimeZone("America/New_York");
    f.setDateFormat("HH:mm");
    EXPECT_EQ(f.string(Date{1700000000}), "17:13");

    DateFormatter styles;
    styles.setLocale("en_US");
    styles.setTimeZone("UTC");
    styles.setDateStyle(DateFormatter::Style::Short);
    EXPECT_EQ(styles.string(Date{1700000000}), "11/14/23");
    styles.setTimeStyle(DateFormatter::Style::Short);
    const std::string both = styles.string(Date{1700000000});
    EXPECT_NE(both.find("11/14/23"), std::string::npos);
    EXPECT_NE(both.find("10:13"), std::string::npos);
    styles.setDateStyle(DateFormatter::Style::Medium);
    styles.setTimeStyle(DateFormatter::Style::None);
    EXPECT_EQ(styles.string(Date{1700000000}), "Nov 14, 2023");
    DateFormatter none;
    EXPECT_EQ(none.string(Date{0}), "");
}

TEST(Dates, RelativeFormattingUsesTheProcessNotion) {
    DateFormatter f;
    f.setLocale("en_US");
    f.setTimeZone("UTC");
    f.setDateStyle(DateFormatter::Style::Medium);
    f.setDoesRelativeDateFormatting(true);
    const Date today = now();
    EXPECT_EQ(f.string(today), "Today");
    EXPECT_EQ(f.string(addingDays(today, -1, "UTC")), "Yesterday");
    EXPECT_EQ(f.string(Date{1600000000}), "Sep 13, 2020");

    // Under a virtual clock "today" is the clock's day, not the machine's.
    struct MovingClock : clocks::ManualClock {
        using ManualClock::ManualClock;
        void advance(double seconds) { setNow(now() + seconds); }
    } clock(1700000000.0);
    clocks::setClock(&clock);
    EXPECT_EQ(now(), Date{1700000000});
    EXPECT_EQ(f.string(Date{1700000000 - 3600}), "Today");
    EXPECT_EQ(f.string(Date{1700000000 - 86400}), "Yesterday");
    EXPECT_EQ(f.string(Date{1700000000 + 86400}), "Tomorrow");
    EXPECT_EQ(f.string(Date{1700000000 - 5 * 86400}), "Nov 9, 2023");
    f.setTimeStyle(DateFormatter::Style::Short);
    const std::string withTime = f.string(Date{1700000000 - 86400});
    EXPECT_TRUE(withTime.starts_with("Yesterday")) << withTime;
    EXPECT_NE(withTime.find("10:13"), std::string::npos) << withTime;
    clock.advance(86400);
    f.setTimeStyle(DateFormatter::Style::None);
    EXPECT_EQ(f.string(Date{1700000000}), "Yesterday");
}

TEST(Numbers, CurrencyDecimalAndParsing) {
    NumberFormatter currency;
    currency.setStyle(NumberFormatter::Style::Currency);
    currency.setLocale("en_US");
    currency.setCurrencyCode("USD");
    EXPECT_EQ(currency.string(1234.5), "$1,234.50");
    currency.setCurrencyCode("EUR");
    EXPECT_EQ(currency.string(2.0), "\xE2\x82\xAC"
                                    "2.00");

    NumberFormatter decimal;
    decimal.setStyle(NumberFormatter::Style::Decimal);
    decimal.setLocale("en_US");
    EXPECT_EQ(decimal.string(int64_t{1234567}), "1,234,567");
    EXPECT_EQ(decimal.string(0.125), "0.125");
    EXPECT_EQ(decimal.number("1,234.5"), 1234.5);
    EXPECT_EQ(decimal.number("12abc"), std::nullopt);
    EXPECT_EQ(decimal.number(""), std::nullopt);
    decimal.setLocale("de_DE");
    EXPECT_EQ(decimal.string(1234.5), "1.234,5");
    decimal.setMaximumFractionDigits(0);
    EXPECT_EQ(decimal.string(2.5), "2");  // half-even
}

TEST(Locale, FromTheEnvironment) {
    setCurrentLocaleIdentifier("");
    {
        ScopedEnv a("LANGUAGE", nullptr), b("LC_ALL", nullptr), c("LC_MESSAGES", nullptr), d("LANG", "de_DE.UTF-8");
        EXPECT_EQ(currentLocaleIdentifier(), "de_DE");
        EXPECT_EQ(currentCountryCode(), "DE");
        EXPECT_EQ(preferredLanguages()[0], "de-DE");
        ScopedEnv e("LC_ALL", "C");
        EXPECT_EQ(currentLocaleIdentifier(), "en_US");
        ScopedEnv f("LANGUAGE", "pt_BR:en");
        EXPECT_EQ(currentLocaleIdentifier(), "pt_BR");
        EXPECT_EQ(preferredLanguages(), (std::vector<std::string>{"pt-BR", "en"}));
        setCurrentLocaleIdentifier("fr_CA");
        EXPECT_EQ(currentCountryCode(), "CA");
        setCurrentLocaleIdentifier("");
    }
    EXPECT_EQ(localeLanguageCode("zh_Hant_TW"), "zh");
    EXPECT_EQ(localeScriptCode("zh_Hant_TW"), "Hant");
    EXPECT_EQ(localeCountryCode("zh_Hant_TW"), "TW");
    EXPECT_EQ(localizedCountryName("DE", "en_US"), "Germany");
    EXPECT_TRUE(usesMetricSystem("de_DE"));
    EXPECT_FALSE(usesMetricSystem("en_US"));
}

TEST(TimeZones, OffsetsStartOfDayAndComponents) {
    EXPECT_TRUE(isKnownTimeZone("Europe/Berlin"));
    EXPECT_FALSE(isKnownTimeZone("Mars/Olympus"));
    EXPECT_EQ(secondsFromGMT("Europe/Berlin", Date{1700000000}), 3600);  // November: CET
    EXPECT_EQ(secondsFromGMT("Europe/Berlin", Date{1690000000}), 7200);  // July: CEST
    EXPECT_EQ(secondsFromGMT("Mars/Olympus", Date{1690000000}), 0);
    setDefaultTimeZone("Asia/Kolkata");
    EXPECT_EQ(currentTimeZoneName(), "Asia/Kolkata");
    EXPECT_EQ(currentSecondsFromGMT(), 19800);
    setDefaultTimeZone("");

    // 2023-11-14T22:13:20Z is already the 15th in Tokyo.
    EXPECT_EQ(iso8601String(startOfDay(Date{1700000000}, "Asia/Tokyo")), "2023-11-14T15:00:00.000Z");
    EXPECT_EQ(iso8601String(startOfDay(Date{1700000000}, "UTC")), "2023-11-14T00:00:00.000Z");
    // Midnight does not exist on 2018-11-04 in Sao Paulo (clocks jump to 01:00).
    auto dstDay = parseISO8601("2018-11-04T15:00:00.000Z");
    EXPECT_EQ(iso8601String(startOfDay(*dstDay, "America/Sao_Paulo")), "2018-11-04T03:00:00.000Z");

    const DateComponents c = dateComponents(Date{1700000000.25}, "America/New_York");
    EXPECT_EQ(c.year, 2023);
    EXPECT_EQ(c.month, 11);
    EXPECT_EQ(c.day, 14);
    EXPECT_EQ(c.hour, 17);
    EXPECT_EQ(c.weekday, 3);
    EXPECT_NEAR(c.nanosecond, 250e6, 1e3);
    EXPECT_EQ(dateFromComponents({2023, 11, 14, 17, 13, 20}, "America/New_York"), Date{1700000000});
    EXPECT_TRUE(isSameDay(Date{1700000000}, Date{1699999000}, "UTC"));
    EXPECT_FALSE(isSameDay(Date{1700000000}, Date{1700000000 + 7200}, "UTC"));
    // A day added across the autumn change keeps the wall-clock time (25 hours pass).
    auto before = parseISO8601("2023-10-28T10:00:00.000Z");
    EXPECT_EQ(addingDays(*before, 1, "Europe/Berlin").secondsSince1970 - before->secondsSince1970, 90000.0);
}

// Each call answers in the zone it names, or in the process's zone as it is at the call, and
// nothing one call sets on its calendar reaches the next: run in turn on one thread, the calls
// answer as each does alone on a thread of its own.
TEST(TimeZones, CallsInTurnAnswerAsEachDoesAloneOnAFreshThread) {
    const Date day{1700000000};
    const Date gapDay = *parseISO8601("2018-11-04T15:00:00.000Z");
    // Half past midnight on a day whose midnight Sao Paulo skips.
    const DateComponents skipped{2018, 11, 4, 0, 30, 0};
    const auto text = [](Date d) { return iso8601String(d); };
    const auto fields = [](const DateComponents& c) {
        return std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day) + " " +
               std::to_string(c.hour) + ":" + std::to_string(c.minute) + " " + std::to_string(c.weekday);
    };
    struct Call {
        const char* what;
        const char* processZone;
        std::function<std::string()> run;
    };
    const std::vector<Call> calls{
        {"start of the day in Tokyo", "", [&] { return text(startOfDay(day, "Asia/Tokyo")); }},
        {"in the process's zone, Tokyo", "Asia/Tokyo", [&] { return text(startOfDay(day)); }},
        {"in the process's zone, now UTC", "UTC", [&] { return text(startOfDay(day)); }},
        {"a day whose midnight is skipped", "", [&] { return text(startOfDay(gapDay, "America/Sao_Paulo")); }},
        {"a skipped wall time after it", "", [&] { return text(dateFromComponents(skipped, "America/Sao_Paulo")); }},
        {"fields in Sao Paulo", "", [&] { return fields(dateComponents(gapDay, "America/Sao_Paulo")); }},
        {"fields in New York", "", [&] { return fields(dateComponents(day, "America/New_York")); }},
        {"a day added in Berlin", "", [&] { return text(addingDays(day, 1, "Europe/Berlin")); }},
        {"fields in the process's zone, Kolkata", "Asia/Kolkata", [&] { return fields(dateComponents(day)); }},
    };
    std::vector<std::string> answers;
    for (const Call& call : calls) {
        SCOPED_TRACE(call.what);
        setDefaultTimeZone(call.processZone);
        const std::string inTurn = call.run();
        std::string alone;
        std::thread([&] { alone = call.run(); }).join();
        EXPECT_EQ(inTurn, alone);
        answers.push_back(inTurn);
    }
    setDefaultTimeZone("");
    // The process's zone changing shows.
    EXPECT_NE(answers[1], answers[2]);
    EXPECT_EQ(answers[1], answers[0]);
    EXPECT_EQ(answers[3], "2018-11-04T03:00:00.000Z");
}

TEST(Formatters, OneFormatterSharedBetweenThreadsAndCopied) {
    DateFormatter f;
    f.setLocale("en_US");
    f.setTimeZone("UTC");
    f.setDateFormat("yyyy-MM-dd HH:mm:ss");
    NumberFormatter n;
    n.setStyle(NumberFormatter::Style::Decimal);
    n.setLocale("en_US");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const double s = 1700000000 + t * 100000 + i;
                if (f.string(Date{s}) != iso8601String(Date{s}).substr(0, 19).replace(10, 1, " ")) ++wrong;
                if (n.string(int64_t{1000} * (t + 1)) != std::to_string(t + 1) + ",000") ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    DateFormatter copy = f;
    copy.setTimeZone("Asia/Tokyo");
    EXPECT_EQ(copy.string(Date{1700000000}), "2023-11-15 07:13:20");
    EXPECT_EQ(f.string(Date{1700000000}), "2023-11-14 22:13:20");
}
