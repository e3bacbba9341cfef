// The dial pad's typing rules, without a screen: each row starts from a shown text, types on it
// and reads what is shown and what the number keeps.
#include "ui/dialer/dialed_number.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "app/connect_app_delegate_iphone.h"
#include "tests/support/screen_fixture.h"

namespace {

// Numbers are formatted by the shared application object's formatter (the region's rules); no
// screen is made.
struct DialedNumber : hxtest::ScreenFixture<HX_ConnectAppDelegate_iPhone> {
    DialedNumber() : ScreenFixture({.sharedDelegate = true}) {}
};

TEST_F(DialedNumber, TypingRules) {
    using Typing = std::function<void(HXDialedNumber&)>;
    auto keys = [](std::string chars) {
        return [chars](HXDialedNumber& n) {
            for (char c : chars) n.append(std::string(1, c));
        };
    };
    struct Row {
        const char* what;
        std::string start;
        Typing typing;
        std::optional<std::string> shown;  // unset: not compared
        std::string kept;
    };
    const Row rows[] = {
        {"digits are formatted as they come", "", keys("2025550123"), "(202) 555-0123", "2025550123"},
        {"a key goes after the kept characters", "(202) 555-012", keys("3"), "(202) 555-0123", "2025550123"},
        {"star and hash are kept", "", keys("*#"), std::nullopt, "*#"},
        {"the long press's plus starts an international number", "", keys("+44"), std::nullopt, "+44"},
        {"letters are never typed on the pad", "", keys("5a5"), std::nullopt, "55"},
        {"the first pause", "1", [](HXDialedNumber& n) { n.appendPause(); }, std::nullopt, "1,"},
        {"a second pause", "1",
         [](HXDialedNumber& n) {
             n.appendPause();
             n.appendPause();
         },
         std::nullopt, "1,,"},
        {"digits after a pause", "1", [](HXDialedNumber& n) { n.appendPause(), n.append("2"); }, std::nullopt, "1,2"},
        {"delete drops the last kept character", "(202) 555-0123", [](HXDialedNumber& n) { n.deleteLast(); },
         std::nullopt, "202555012"},
        {"delete of the last character shows nothing", "5", [](HXDialedNumber& n) { n.deleteLast(); }, "", ""},
        {"delete on nothing", "", [](HXDialedNumber& n) { n.deleteLast(); }, "", ""},
        {"delete skips the formatting", "(2", [](HXDialedNumber& n) { n.deleteLast(); }, "", ""},
        {"a pasted vanity number", "", [](HXDialedNumber& n) { n.paste("1-800-FLOWERS"); }, std::nullopt,
         "18003569377"},
        {"a stored number keeps only the pad's characters", "",
         [](HXDialedNumber& n) { n.showFiltered("tel: +44 (20) 7946-0000"); }, std::nullopt, "+442079460000"},
        {"a picked number is formatted", "9", [](HXDialedNumber& n) { n.showFormatted("2025550123"); },
         "(202) 555-0123", "2025550123"},
        {"a shown text stays as given", "", [](HXDialedNumber& n) { n.show("+1 (202) 555-0123"); }, "+1 (202) 555-0123",
         "+12025550123"},
        {"reformatting", "2025550123", [](HXDialedNumber& n) { n.reformat(); }, "(202) 555-0123", "2025550123"},
        {"clear", "(202) 555-0123", [](HXDialedNumber& n) { n.clear(); }, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        HXDialedNumber n;
        n.show(row.start);
        row.typing(n);
        if (row.shown) {
            EXPECT_EQ(n.shown(), *row.shown);
        }
        EXPECT_EQ(n.filtered(), row.kept);
        EXPECT_EQ(n.empty(), n.shown().empty());
    }
}

TEST_F(DialedNumber, NumbersToCall) {
    struct Row {
        const char* shown;
        const char* own;
        const char* called;
        bool local;
    };
    for (const Row& r : {
             Row{"555-0123", "+12025550100", "+1 (202) 555-0123", true},
             Row{"555-0123", "+442079460000", "555-0123", false},   // not with an own number abroad
             Row{"555-0123", "+1202", "555-0123", false},           // an own number too short
             Row{"555-0123", "+12025", "+1 (202) 555-0123", true},  // long enough
             Row{"+55-0123", "+12025550100", "+55-0123", false},    // international already
             Row{"5550-123", "+12025550100", "+1 (202) 555-0123", true},
             Row{"555-01234", "+12025550100", "555-01234", false},
             Row{"5550123", "+12025550100", "5550123", false},         // not formatted: 7 characters
             Row{"555*0123", "+12025550100", "+1 202555*0123", true},  // 8 characters, 7 of them digits
         }) {
        SCOPED_TRACE(std::string(r.shown) + " / " + r.own);
        EXPECT_EQ(HXDialedNumber::isSevenDigitLocal(r.shown, r.own), r.local);
        EXPECT_EQ(HXDialedNumber::numberToCall(r.shown, r.own), r.called);
    }
}

TEST_F(DialedNumber, NumbersToLookUp) {
    struct Row {
        const char* shown;
        const char* looked;
    };
    for (const Row& r : {Row{"(202) 555-0123", "+1 (202) 555-0123"}, Row{"1 (202) 555-0123", "+1 (202) 555-0123"},
                         Row{"011 44 20 7946 0000", "+44 20 7946 0000"}, Row{"+44 20", "+44 20"},
                         Row{"555-0123", "555-0123"}, Row{"011", "011"}}) {
        EXPECT_EQ(HXDialedNumber::numberForLookup(r.shown), r.looked) << r.shown;
    }
}

}  // namespace
