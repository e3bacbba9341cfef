#include "platform/foundation/dates.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/ucurr.h>
#include <unicode/ulocdata.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/clock/clock.h"
#include "platform/foundation/icu_text.h"
#include "platform/foundation/strings.h"

namespace foundation {
namespace {

// The one place "now" is read: the process clock, so a test's virtual clock moves dates too.
double currentTime() { return clocks::wallNow(); }

// The system's own time, for ICU's relative formatter, which reads it behind our back.
double systemTime() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::mutex& overridesMutex() {
    static std::mutex m;
    return m;
}
std::string& localeOverride() {
    static std::string s;
    return s;
}
std::string& zoneOverride() {
    static std::string s;
    return s;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

std::unique_ptr<icu::TimeZone> zoneFor(std::string_view name) {
    const std::string resolved = name.empty() ? currentTimeZoneName() : std::string(name);
    return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(toICU(resolved)));
}

// A calendar in the zone, its time and fields to be set by the caller. Making one reads the zone's
// rules, which a list of dates did again for every row: each thread keeps the last zone's calendar
// as it was made and hands out copies of it.
std::unique_ptr<icu::Calendar> calendarFor(std::string_view zone) {
    struct Kept {
        std::string zone;
        std::unique_ptr<icu::Calendar> made;
    };
    thread_local Kept kept;
    const std::string resolved = zone.empty() ? currentTimeZoneName() : std::string(zone);
    if (!kept.made || kept.zone != resolved) {
        UErrorCode status = U_ZERO_ERROR;
        auto cal =
            std::make_unique<icu::GregorianCalendar>(zoneFor(resolved).release(), icu::Locale("en_US_POSIX"), status);
        if (U_FAILURE(status)) return nullptr;
        kept = {resolved, std::move(cal)};
    }
    return std::unique_ptr<icu::Calendar>(kept.made->clone());
}

// Normalises "de_DE.UTF-8@euro" or "pt-BR" to "de_DE" / "pt_BR"; "" for C and POSIX.
std::string normaliseLocale(std::string_view raw) {
    std::string s(raw);
    if (const auto p = s.find_first_of(".@"); p != std::string::npos) s.resize(p);
    for (char& c : s) {
        if (c == '-') c = '_';
    }
    if (s == "C" || s == "POSIX") return {};
    return s;
}

std::string environmentLocale() {
    // The locale categories' setting: the first of LC_ALL, LC_MESSAGES and LANG that is set.
    std::optional<std::string> categories;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            categories = normaliseLocale(v);
            break;
        }
    }
    if (const char* language = std::getenv("LANGUAGE"); language && *language) {
        const std::string first = split(language, ":")[0];
        if (std::string n = normaliseLocale(first); !n.empty()) {
            // The current locale joins the preferred language with the region setting: a
            // language named without a region takes the categories' region.
            if (!*icu::Locale(n.c_str()).getCountry() && categories && !categories->empty()) {
                const icu::Locale regionLocale(categories->c_str());
                if (const std::string region = regionLocale.getCountry(); !region.empty()) n += "_" + region;
            }
            return n;
        }
    }
    if (categories) return categories->empty() ? "en_US" : *categories;
    return "en_US";
}

std::string systemTimeZone() {
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string name = tz;
        if (name[0] == ':') name.erase(0, 1);
        if (const auto p = name.find("zoneinfo/"); p != std::string::npos) name = name.substr(p + 9);
        if (isKnownTimeZone(name)) return name;
    }
    {
        std::ifstream in("/etc/timezone");
        std::string line;
        if (in && std::getline(in, line)) {
            line = trim(line);
            if (isKnownTimeZone(line)) return line;
        }
    }
    std::error_code ec;
    const auto target = std::filesystem::read_symlink("/etc/localtime", ec);
    if (!ec) {
        const std::string t = target.string();
        if (const auto p = t.find("zoneinfo/"); p != std::string::npos) {
            const std::string name = t.substr(p + 9);
            if (isKnownTimeZone(name)) return name;
        }
    }
    return "UTC";
}

}  // namespace

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// ---- Points in time

Date now() { return Date{currentTime()}; }
Date distantPast() { return Date{-62135769600.0}; }
Date distantFuture() { return Date{64092211200.0}; }

std::string iso8601String(Date date) {
    const double scaled = date.secondsSince1970 * 1000.0;
    // Truncate to the millisecond, but let a value a hair below a whole millisecond (a parsed
    // ".123" stored as .12299999) keep its digits.
    const double nearest = std::round(scaled);
    const double ms = std::fabs(scaled - nearest) < 1e-3 ? nearest : std::floor(scaled);
    if (!std::isfinite(ms) || std::fabs(ms) > 1e17) return {};
    const auto total = static_cast<int64_t>(ms);
    int64_t days = total / 86'400'000;
    int64_t rest = total % 86'400'000;
    if (rest < 0) {
        rest += 86'400'000;
        --days;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(y), m,
                  d, static_cast<long long>(rest / 3'600'000), static_cast<long long>(rest / 60'000 % 60),
                  static_cast<long long>(rest / 1000 % 60), static_cast<long long>(rest % 1000));
    return buffer;
}

Result<Date> parseISO8601(std::string_view t) {
    auto fail = [&]() -> Result<Date> {
        return Error::withDescription(kCocoaErrorDomain, 2048,
                                      "\xE2\x80\x9C" + std::string(t) +
                                          "\xE2\x80\x9D is not a yyyy-MM-dd'T'HH:mm:ss.SSS'Z' date.");
    };
    // 0123456789012345678901234
    // yyyy-MM-ddTHH:mm:ss.SSSZ
    if (t.size() != 24 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' || t[19] != '.' ||
        t[23] != 'Z') {
        return fail();
    }
    auto num = [&](size_t at, size_t len, int& out) {
        out = 0;
        for (size_t k = at; k < at + len; ++k) {
            if (t[k] < '0' || t[k] > '9') return false;
            out = out * 10 + (t[k] - '0');
        }
        return true;
    };
    int y, mo, d, h, mi, s, ms;
    if (!num(0, 4, y) || !num(5, 2, mo) || !num(8, 2, d) || !num(11, 2, h) || !num(14, 2, mi) || !num(17, 2, s) ||
        !num(20, 3, ms)) {
        return fail();
    }
    static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || d > monthDays[mo - 1] || h > 23 || mi > 59 || s > 59) return fail();
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap) return fail();
    const int64_t days = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    const int64_t totalMs = ((days * 24 + h) * 60 + mi) * 60'000LL + s * 1000LL + ms;
    return Date{static_cast<double>(totalMs) / 1000.0};
}

// ---- Locale and time zone

std::string currentLocaleIdentifier() {
    {
        std::lock_guard lock(overridesMutex());
        if (!localeOverride().empty()) return localeOverride();
    }
    return environmentLocale();
}

void setCurrentLocaleIdentifier(std::string identifier) {
    std::lock_guard lock(overridesMutex());
    localeOverride() = normaliseLocale(identifier);
}

std::string localeLanguageCode(std::string_view id) { return icu::Locale(normaliseLocale(id).c_str()).getLanguage(); }
std::string localeScriptCode(std::string_view id) { return icu::Locale(normaliseLocale(id).c_str()).getScript(); }
std::string localeCountryCode(std::string_view id) { return icu::Locale(normaliseLocale(id).c_str()).getCountry(); }

std::string currentCountryCode() { return localeCountryCode(currentLocaleIdentifier()); }

std::vector<std::string> preferredLanguages() {
    std::vector<std::string> out;
    auto add = [&](std::string id) {
        id = normaliseLocale(id);
        if (id.empty()) return;
        const icu::Locale loc(id.c_str());
        std::string tag = loc.getLanguage();
        if (tag.empty()) return;
        if (*loc.getScript()) tag += std::string("-") + loc.getScript();
        if (*loc.getCountry()) tag += std::string("-") + loc.getCountry();
        for (const auto& existing : out) {
            if (existing == tag) return;
        }
        out.push_back(tag);
    };
    if (const char* language = std::getenv("LANGUAGE"); language && *language) {
        for (const auto& piece : split(language, ":")) add(piece);
    }
    add(currentLocaleIdentifier());
    if (out.empty()) out.push_back("en-US");
    return out;
}

std::string localizedCountryName(std::string_view countryCode, std::string_view displayLocale) {
    const std::string region(countryCode);
    const icu::Locale loc("", region.c_str());
    icu::UnicodeString name;
    loc.getDisplayCountry(icu::Locale(normaliseLocale(displayLocale).c_str()), name);
    return fromICU(name);
}

bool usesMetricSystem(std::string_view localeIdentifier) {
    UErrorCode status = U_ZERO_ERROR;
    const UMeasurementSystem system = ulocdata_getMeasurementSystem(normaliseLocale(localeIdentifier).c_str(), &status);
    if (U_FAILURE(status)) return true;
    return system != UMS_US;
}

std::string currentTimeZoneName() {
    {
        std::lock_guard lock(overridesMutex());
        if (!zoneOverride().empty()) return zoneOverride();
    }
    static const std::string system = systemTimeZone();
    if (const char* tz = std::getenv("TZ"); tz && *tz) return systemTimeZone();
    return system;
}

void setDefaultTimeZone(std::string name) {
    std::lock_guard lock(overridesMutex());
    zoneOverride() = std::move(name);
}

bool isKnownTimeZone(std::string_view name) {
    if (name.empty()) return false;
    std::unique_ptr<icu::TimeZone> tz(icu::TimeZone::createTimeZone(toICU(name)));
    icu::UnicodeString id;
    tz->getID(id);
    return id != icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID, -1, US_INV);
}

int secondsFromGMT(std::string_view timeZone, Date at) {
    auto tz = zoneFor(timeZone);
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    tz->getOffset(at.secondsSince1970 * 1000.0, false, raw, dst, status);
    if (U_FAILURE(status)) return 0;
    return (raw + dst) / 1000;
}

// ---- Calendar

Date startOfDay(Date date, std::string_view timeZone) {
    auto cal = calendarFor(timeZone);
    if (!cal) return date;
    UErrorCode status = U_ZERO_ERROR;
    cal->setTime(date.secondsSince1970 * 1000.0, status);
    cal->set(UCAL_HOUR_OF_DAY, 0);
    cal->set(UCAL_MINUTE, 0);
    cal->set(UCAL_SECOND, 0);
    cal->set(UCAL_MILLISECOND, 0);
    // A skipped midnight resolves to the first wall time after the gap.
    cal->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    const UDate t = cal->getTime(status);
    if (U_FAILURE(status)) return date;
    return Date{t / 1000.0};
}

DateComponents dateComponents(Date date, std::string_view timeZone) {
    DateComponents c;
    auto cal = calendarFor(timeZone);
    if (!cal) return c;
    UErrorCode status = U_ZERO_ERROR;
    const double ms = std::floor(date.secondsSince1970 * 1000.0);
    cal->setTime(ms, status);
    c.year = cal->get(UCAL_EXTENDED_YEAR, status);
    c.month = cal->get(UCAL_MONTH, status) + 1;
    c.day = cal->get(UCAL_DATE, status);
    c.hour = cal->get(UCAL_HOUR_OF_DAY, status);
    c.minute = cal->get(UCAL_MINUTE, status);
    c.second = cal->get(UCAL_SECOND, status);
    c.weekday = cal->get(UCAL_DAY_OF_WEEK, status);
    c.nanosecond = (date.secondsSince1970 - std::floor(date.secondsSince1970)) * 1e9;
    return c;
}

Date dateFromComponents(const DateComponents& c, std::string_view timeZone) {
    auto cal = calendarFor(timeZone);
    if (!cal) return Date{};
    cal->clear();
    cal->set(UCAL_EXTENDED_YEAR, c.year);
    cal->set(UCAL_MONTH, c.month - 1);
    cal->set(UCAL_DATE, c.day);
    cal->set(UCAL_HOUR_OF_DAY, c.hour);
    cal->set(UCAL_MINUTE, c.minute);
    cal->set(UCAL_SECOND, c.second);
    UErrorCode status = U_ZERO_ERROR;
    const UDate t = cal->getTime(status);
    if (U_FAILURE(status)) return Date{};
    return Date{t / 1000.0};
}

bool isSameDay(Date a, Date b, std::string_view timeZone) {
    const std::string zone = timeZone.empty() ? currentTimeZoneName() : std::string(timeZone);
    return startOfDay(a, zone) == startOfDay(b, zone);
}

Date addingDays(Date date, int days, std::string_view timeZone) {
    auto cal = calendarFor(timeZone);
    if (!cal) return date;
    UErrorCode status = U_ZERO_ERROR;
    const double whole = std::floor(date.secondsSince1970 * 1000.0);
    cal->setTime(whole, status);
    cal->add(UCAL_DATE, days, status);
    const UDate t = cal->getTime(status);
    if (U_FAILURE(status)) return date;
    return Date{t / 1000.0 + (date.secondsSince1970 - whole / 1000.0)};
}

// ---- Formatter caches

struct FormatterCache::State {
    std::mutex mutex;
    std::string key;
    std::unique_ptr<icu::Format> plain;     // the formatter for the key
    std::unique_ptr<icu::Format> relative;  // with relative day names, when asked for
};

FormatterCache::FormatterCache() : state_(std::make_unique<State>()) {}
FormatterCache::~FormatterCache() = default;
FormatterCache::FormatterCache(const FormatterCache&) : state_(std::make_unique<State>()) {}
FormatterCache& FormatterCache::operator=(const FormatterCache&) {
    state_ = std::make_unique<State>();
    return *this;
}

// ---- DateFormatter

namespace {

icu::DateFormat::EStyle icuStyle(DateFormatter::Style s) {
    switch (s) {
        case DateFormatter::Style::None:
            return icu::DateFormat::kNone;
        case DateFormatter::Style::Short:
            return icu::DateFormat::kShort;
        case DateFormatter::Style::Medium:
            return icu::DateFormat::kMedium;
        case DateFormatter::Style::Long:
            return icu::DateFormat::kLong;
        case DateFormatter::Style::Full:
            return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

// Whole calendar days from a to b in zone.
int dayDifference(Date a, Date b, const std::string& zone) {
    const Date da = startOfDay(a, zone);
    const Date db = startOfDay(b, zone);
    return static_cast<int>(std::lround((db.secondsSince1970 - da.secondsSince1970) / 86400.0));
}

}  // namespace

void DateFormatter::setLocale(std::string identifier) { localeId_ = normaliseLocale(identifier); }
void DateFormatter::setTimeZone(std::string name) { zone_ = std::move(name); }
void DateFormatter::setDateStyle(Style style) {
    dateStyle_ = style;
    pattern_.clear();
}
void DateFormatter::setTimeStyle(Style style) {
    timeStyle_ = style;
    pattern_.clear();
}
void DateFormatter::setDateFormat(std::string pattern) { pattern_ = std::move(pattern); }
void DateFormatter::setDoesRelativeDateFormatting(bool relative) { relative_ = relative; }
std::string DateFormatter::locale() const { return localeId_.empty() ? currentLocaleIdentifier() : localeId_; }
std::string DateFormatter::timeZone() const { return zone_.empty() ? currentTimeZoneName() : zone_; }

namespace {

std::unique_ptr<icu::DateFormat> makeDateFormat(const std::string& pattern, DateFormatter::Style dateStyle,
                                                DateFormatter::Style timeStyle, bool relative,
                                                const std::string& localeId, const std::string& zone) {
    const icu::Locale loc(localeId.c_str());
    std::unique_ptr<icu::DateFormat> fmt;
    if (!pattern.empty()) {
        UErrorCode status = U_ZERO_ERROR;
        auto simple = std::make_unique<icu::SimpleDateFormat>(toICU(pattern), loc, status);
        if (U_FAILURE(status)) return nullptr;
        fmt = std::move(simple);
    } else {
        if (dateStyle == DateFormatter::Style::None && timeStyle == DateFormatter::Style::None) return nullptr;
        int ds = icuStyle(dateStyle);
        const bool relativeDay = relative && dateStyle != DateFormatter::Style::None;
        if (relativeDay) ds |= icu::DateFormat::kRelative;
        fmt.reset(icu::DateFormat::createDateTimeInstance(static_cast<icu::DateFormat::EStyle>(ds), icuStyle(timeStyle),
                                                          loc));
        if (!fmt) return nullptr;
        if (relativeDay) {
            // "Today" and "Yesterday" stand alone in a label, so they start with a capital.
            UErrorCode status = U_ZERO_ERROR;
            fmt->setContext(UDISPCTX_CAPITALIZATION_FOR_BEGINNING_OF_SENTENCE, status);
        }
    }
    fmt->adoptTimeZone(icu::TimeZone::createTimeZone(toICU(zone)));
    fmt->setLenient(false);
    return fmt;
}

}  // namespace

namespace {

std::string dateKey(const std::string& pattern, DateFormatter::Style d, DateFormatter::Style t, const std::string& loc,
                    const std::string& zone) {
    return pattern + '\x1f' + std::to_string(static_cast<int>(d)) + '\x1f' + std::to_string(static_cast<int>(t)) +
           '\x1f' + loc + '\x1f' + zone;
}

}  // namespace

std::string DateFormatter::string(Date date) const {
    const std::string zone = timeZone();
    const std::string loc = locale();
    FormatterCache::State& c = cache_.state();
    std::lock_guard lock(c.mutex);
    const std::string key = dateKey(pattern_, dateStyle_, timeStyle_, loc, zone);
    if (c.key != key || !c.plain) {
        c.plain = makeDateFormat(pattern_, dateStyle_, timeStyle_, false, loc, zone);
        c.relative.reset();
        c.key = c.plain ? key : std::string();
    }
    if (!c.plain) return {};
    auto format = [&](const icu::Format& fmt, Date d) {
        icu::UnicodeString out;
        static_cast<const icu::DateFormat&>(fmt).format(std::floor(d.secondsSince1970 * 1000.0 + 1e-3), out);
        return fromICU(out);
    };
    const bool relative = relative_ && pattern_.empty() && dateStyle_ != Style::None;
    if (relative && std::abs(dayDifference(now(), date, zone)) <= 2) {
        // ICU picks "Today"/"Yesterday" against the system clock, not the process clock. Shift
        // the date by the whole days between the two "todays" and keep ICU's answer only when it
        // used a relative word; otherwise the plain form of the real date stands.
        const int shift = dayDifference(now(), Date{systemTime()}, zone);
        const Date shifted = shift == 0 ? date : addingDays(date, shift, zone);
        if (!c.relative) c.relative = makeDateFormat(pattern_, dateStyle_, timeStyle_, true, loc, zone);
        if (c.relative) {
            const std::string word = format(*c.relative, shifted);
            if (word != format(*c.plain, shifted)) return word;
        }
    }
    return format(*c.plain, date);
}

std::optional<Date> DateFormatter::date(std::string_view text) const {
    auto fmt = makeDateFormat(pattern_, dateStyle_, timeStyle_, false, locale(), timeZone());
    if (!fmt) return std::nullopt;
    const icu::UnicodeString input = toICU(text);
    icu::ParsePosition pos(0);
    const UDate t = fmt->parse(input, pos);
    if (pos.getErrorIndex() >= 0 || pos.getIndex() != input.length()) return std::nullopt;
    return Date{t / 1000.0};
}

// ---- NumberFormatter

namespace {

std::unique_ptr<icu::NumberFormat> makeNumberFormat(NumberFormatter::Style style, const std::string& localeId,
                                                    const std::string& currency, int minFraction, int maxFraction,
                                                    std::optional<bool> grouping) {
    const icu::Locale loc(localeId.c_str());
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormatStyle s = UNUM_DECIMAL;
    if (style == NumberFormatter::Style::Currency) s = UNUM_CURRENCY;
    if (style == NumberFormatter::Style::Percent) s = UNUM_PERCENT;
    std::unique_ptr<icu::NumberFormat> fmt(icu::NumberFormat::createInstance(loc, s, status));
    if (U_FAILURE(status) || !fmt) return nullptr;
    if (style == NumberFormatter::Style::Currency && !currency.empty()) {
        icu::UnicodeString code = toICU(currency);
        fmt->setCurrency(code.getTerminatedBuffer(), status);
        if (U_FAILURE(status)) return nullptr;
    }
    if (style == NumberFormatter::Style::None) {
        // No style: a plain integer, as the platform's formatter writes it.
        fmt->setGroupingUsed(false);
        fmt->setMaximumFractionDigits(0);
    }
    if (grouping) fmt->setGroupingUsed(*grouping);
    if (minFraction >= 0) fmt->setMinimumFractionDigits(minFraction);
    if (maxFraction >= 0) fmt->setMaximumFractionDigits(maxFraction);
    fmt->setLenient(false);
    return fmt;
}

}  // namespace

std::string NumberFormatter::locale() const { return localeId_.empty() ? currentLocaleIdentifier() : localeId_; }

namespace {

// Formats with the cached ICU formatter of these settings (built when they changed).
template <typename T>
std::string formatNumber(const FormatterCache& cache, NumberFormatter::Style style, const std::string& loc,
                         const std::string& currency, int minFraction, int maxFraction, std::optional<bool> grouping,
                         T number) {
    FormatterCache::State& c = cache.state();
    std::lock_guard lock(c.mutex);
    const std::string key = std::to_string(static_cast<int>(style)) + '\x1f' + loc + '\x1f' + currency + '\x1f' +
                            std::to_string(minFraction) + '\x1f' + std::to_string(maxFraction) + '\x1f' +
                            (grouping ? (*grouping ? "1" : "0") : "-");
    if (c.key != key || !c.plain) {
        c.plain = makeNumberFormat(style, loc, currency, minFraction, maxFraction, grouping);
        c.key = c.plain ? key : std::string();
    }
    if (!c.plain) return {};
    icu::UnicodeString out;
    static_cast<const icu::NumberFormat&>(*c.plain).format(number, out);
    return fromICU(out);
}

}  // namespace

std::string NumberFormatter::string(double number) const {
    return formatNumber(cache_, style_, locale(), currencyCode_, minFraction_, maxFraction_, grouping_, number);
}

std::string NumberFormatter::string(int64_t number) const {
    return formatNumber(cache_, style_, locale(), currencyCode_, minFraction_, maxFraction_, grouping_,
                        static_cast<int64_t>(number));
}

std::optional<double> NumberFormatter::number(std::string_view text) const {
    auto fmt = makeNumberFormat(style_, locale(), currencyCode_, minFraction_, maxFraction_, grouping_);
    if (!fmt) return std::nullopt;
    const icu::UnicodeString input = toICU(text);
    if (input.isEmpty()) return std::nullopt;
    icu::Formattable result;
    icu::ParsePosition pos(0);
    fmt->parse(input, result, pos);
    if (pos.getErrorIndex() >= 0 || pos.getIndex() != input.length()) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const double v = result.getDouble(status);
    if (U_FAILURE(status)) return std::nullopt;
    return v;
}

}  // namespace foundation
