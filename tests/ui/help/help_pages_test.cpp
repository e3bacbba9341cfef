// Filling the help and legal templates, and the rule that decides whether the help page scrolls.
#include <gtest/gtest.h>

#include "platform/foundation/value.h"
#include "ui/help/help_pages.h"

namespace {

using HXHelpPages::fillHelpTemplate;
using HXHelpPages::fillLegalTemplate;

HXHelpPages::HelpValues values() {
    HXHelpPages::HelpValues v;
    v.iconBase64 = "iVBORw0KGgo=";
    v.version = "4.2 beta (17)";
    v.hardwareIdentifier = "iPhone12,8";
    v.systemVersion = "15.0";
    v.copyright = "Copyright © 2026 HX & Partners <legal>";
    return v;
}

TEST(HelpTemplate, EveryPlaceholderIsReplacedEverywhereInItsOwnForm) {
    struct Case {
        const char* page;
        const char* filled;
    } cases[] = {
        {"<img src='data:image/png;base64,%%ICON%%'>", "<img src='data:image/png;base64,iVBORw0KGgo='>"},
        {"v%%VERSION%% and v%%VERSION%%", "v4.2 beta (17) and v4.2 beta (17)"},
        // Blanks become underscores before the query encoding (parentheses are allowed there).
        {"?v=%%VERSION_URL%%", "?v=4.2_beta_(17)"},
        {"?d=%%DEVICE_URL%%&os=%%OS_URL%%", "?d=iPhone12,8&os=15.0"},
        // The shown copyright stays text: its markup characters are escaped, UTF-8 kept.
        {"<p>%%COPYRIGHT%%</p>", "<p>Copyright © 2026 HX &amp; Partners &lt;legal&gt;</p>"},
        {"no placeholders %% here %%", "no placeholders %% here %%"},
        {"%%VERSION%%%%VERSION_URL%%", "4.2 beta (17)4.2_beta_(17)"},
        {"%%UNKNOWN%%", "%%UNKNOWN%%"},
    };
    for (const auto& c : cases) EXPECT_EQ(fillHelpTemplate(c.page, values()), c.filled) << c.page;
}

TEST(HelpTemplate, URLTextsAreQueryEncoded) {
    auto v = values();
    v.hardwareIdentifier = "x86 64/é#1";
    v.systemVersion = "15.0 & more";
    EXPECT_EQ(fillHelpTemplate("%%DEVICE_URL%%|%%OS_URL%%", v), "x86%2064/%C3%A9%231|15.0%20&%20more");
}

TEST(LegalTemplate, HidesTheOtherDeviceAndOldSystemParts) {
    const std::string page =
        "<div%%IPAD_ONLY%%>pad</div><div%%IPHONE_ONLY%%>phone</div><div%%BELOW_IOS14_ONLY%%>old</div>";
    const std::string hide = " style='display:none'";
    struct Case {
        bool iPad;
        int system;
        std::string expected;
    } cases[] = {
        {true, 15, "<div>pad</div><div" + hide + ">phone</div><div" + hide + ">old</div>"},
        {false, 15, "<div" + hide + ">pad</div><div>phone</div><div" + hide + ">old</div>"},
        {true, 13, "<div>pad</div><div" + hide + ">phone</div><div>old</div>"},
        {false, 12, "<div" + hide + ">pad</div><div>phone</div><div>old</div>"},
        {false, 14, "<div" + hide + ">pad</div><div>phone</div><div" + hide + ">old</div>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fillLegalTemplate(page, c.iPad, c.system), c.expected) << c.iPad << " " << c.system;
}

TEST(HelpScrolling, OnlyAPageTallerThanTheViewLessTwentyScrolls) {
    using foundation::Value;
    struct Case {
        double frame;
        Value reported;
        double laidOut;
        bool scrolls;
    } cases[] = {
        {600, Value(int64_t{579}), 2000, false},  // the report decides, not the layout
        {600, Value(int64_t{580}), 0, false},     // 580 is not above 600 - 20
        {600, Value(int64_t{581}), 0, true},
        {600, Value(580.5), 0, true},
        {600, Value(int64_t{-40}), 0, false},
        // A bottom margin with a unit makes the page's subtraction NaN (null once converted):
        // the laid-out height decides instead of leaving a long page stuck.
        {600, Value(), 900, true},
        {600, Value(), 300, false},
        {600, Value("12px"), 900, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HXHelpPages::pageScrolls(c.frame, c.reported, c.laidOut), c.scrolls)
            << c.frame << " " << c.reported.description() << " " << c.laidOut;
}

}  // namespace
