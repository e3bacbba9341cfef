// Dates, calendars, locales, time zones and the date and number formatters (over ICU).
// "Now" is read from the process clock, so tests that install a virtual clock see their own time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

// ---- Points in time

// Seconds between 1970-01-01 and the reference date 2001-01-01 (UTC).
inline constexpr double kTimeIntervalBetween1970AndReferenceDate = 978307200.0;

Date now();
inline Date dateSince1970(double seconds) { return Date{seconds}; }
inline Date dateSinceReferenceDate(double seconds) { return Date{seconds + kTimeIntervalBetween1970AndReferenceDate}; }
inline double timeIntervalSince1970(Date d) { return d.secondsSince1970; }
inline double timeIntervalSinceReferenceDate(Date d) {
    return d.secondsSince1970 - kTimeIntervalBetween1970AndReferenceDate;
}
inline double timeIntervalSinceNow(Date d) { return d.secondsSince1970 - now().secondsSince1970; }
// Days since 1970-01-01 of a proleptic Gregorian calendar date (month 1-12, day 1-31).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);
// 0001-01-01 and 4001-01-01, 00:00 UTC.
Date distantPast();
Date distantFuture();

// "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC with the Gregorian calendar, whatever the locale.
// Milliseconds are truncated toward the past, so formatting never rounds into the next second.
std::string iso8601String(Date date);
// Parses exactly that form (fails with a description otherwise).
Result<Date> parseISO8601(std::string_view text);

// ---- Locale and time zone of the environment

// The locale from LANGUAGE (its first entry), LC_ALL, LC_MESSAGES or LANG, in that order, as an
// identifier such as "en_US" (codeset and modifier dropped); "C", "POSIX" or nothing give
// "en_US". setCurrentLocaleIdentifier overrides it (empty restores the environment).
std::string currentLocaleIdentifier();
void setCurrentLocaleIdentifier(std::string identifier);
// The region of the current locale ("US"), or "" when it has none.
std::string currentCountryCode();
// The languages the user prefers, best first ("en-US", "de"), from LANGUAGE or the locale.
std::vector<std::string> preferredLanguages();
// The parts of a locale identifier ("zh_Hant_TW" gives "zh", "Hant", "TW"); "" where absent.
std::string localeLanguageCode(std::string_view localeIdentifier);
std::string localeScriptCode(std::string_view localeIdentifier);
std::string localeCountryCode(std::string_view localeIdentifier);
// The name of a region ("DE") in the language of displayLocale ("Germany" for "en_US").
std::string localizedCountryName(std::string_view countryCode, std::string_view displayLocale);
// True when the locale measures in metric units (everything but the US, Liberia and Myanmar).
bool usesMetricSystem(std::string_view localeIdentifier);

// The current time zone's identifier: the default set here, else TZ, /etc/timezone or
// /etc/localtime, else "UTC". setDefaultTimeZone overrides it (empty restores the environment).
std::string currentTimeZoneName();
void setDefaultTimeZone(std::string name);
bool isKnownTimeZone(std::string_view name);
// Offset from GMT in seconds of a zone at a date (including daylight saving); 0 for unknown zones.
int secondsFromGMT(std::string_view timeZone, Date at);
inline int currentSecondsFromGMT() { return secondsFromGMT(currentTimeZoneName(), now()); }

// ---- Calendar (Gregorian)

struct DateComponents {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int weekday = 0;  // 1 = Sunday ... 7 = Saturday
    double nanosecond = 0;
};

// The first moment of the day that contains date, in timeZone (current zone when empty). On days
// that begin with a daylight-saving gap this is the first moment that exists.
Date startOfDay(Date date, std::string_view timeZone = {});
DateComponents dateComponents(Date date, std::string_view timeZone = {});
// The date of the components in timeZone (weekday and nanosecond ignored beyond the second).
Date dateFromComponents(const DateComponents& components, std::string_view timeZone = {});
bool isSameDay(Date a, Date b, std::string_view timeZone = {});
// Adds whole calendar days (keeping the wall-clock time across daylight-saving changes).
Date addingDays(Date date, int days, std::string_view timeZone = {});

// The ICU formatter a formatter built last, reused while its settings stay the same. Copies start
// empty, and a lock makes one formatter safe to use from several threads.
class FormatterCache {
public:
    FormatterCache();
    ~FormatterCache();
    FormatterCache(const FormatterCache&);
    FormatterCache& operator=(const FormatterCache&);
    struct State;
    State& state() const { return *state_; }

private:
    std::unique_ptr<State> state_;
};

// ---- Formatters

class DateFormatter {
public:
    enum class Style { None, Short, Medium, Long, Full };

    // Empty locale / zone means the current one (read when formatting).
    void setLocale(std::string identifier);
    void setTimeZone(std::string name);
    void setDateStyle(Style style);
    void setTimeStyle(Style style);
    // A pattern ("EEEE", "yyyy-MM-dd HH:mm") replaces the styles.
    void setDateFormat(std::string pattern);
    // With styles: "Today", "Yesterday", "Tomorrow" where they apply.
    void setDoesRelativeDateFormatting(bool relative);

    std::string locale() const;
    std::string timeZone() const;
    const std::string& dateFormat() const { return pattern_; }

    std::string string(Date date) const;
    // Lenient parsing is off: the text must match the pattern or styles.
    std::optional<Date> date(std::string_view text) const;

private:
    std::string localeId_;
    std::string zone_;
    std::string pattern_;
    Style dateStyle_ = Style::None;
    Style timeStyle_ = Style::None;
    bool relative_ = false;
    FormatterCache cache_;
};

class NumberFormatter {
public:
    enum class Style { None, Decimal, Currency, Percent };

    void setStyle(Style style) { style_ = style; }
    void setLocale(std::string identifier) { localeId_ = std::move(identifier); }
    // ISO 4217 code; empty uses the locale's currency.
    void setCurrencyCode(std::string code) { currencyCode_ = std::move(code); }
    void setMinimumFractionDigits(int n) { minFraction_ = n; }
    void setMaximumFractionDigits(int n) { maxFraction_ = n; }
    void setUsesGroupingSeparator(bool on) { grouping_ = on; }

    std::string locale() const;
    std::string string(double number) const;
    std::string string(int64_t number) const;
    // The number of the text in the formatter's style and locale, or nothing.
    std::optional<double> number(std::string_view text) const;

private:
    Style style_ = Style::None;
    std::string localeId_;
    std::string currencyCode_;
    int minFraction_ = -1;
    int maxFraction_ = -1;
    std::optional<bool> grouping_;
    FormatterCache cache_;
};

}  // namespace foundation
