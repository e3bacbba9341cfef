#include "model/phone_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/foundation/dates.h"
#include "tests/model/rule_file_builder.h"

namespace {

foundation::Data readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return foundation::Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const foundation::Data& generatedRules() {
    static const foundation::Data data = readFile(std::string(HX_RESOURCES_DIR) + "/PhoneFormats.dat");
    return data;
}

// A small hand-made file: +44 with trunk "0" and access "00", +1 with a "[[...]]" pattern.
foundation::Data handMadeRules() {
    using namespace hxtest;
    RuleRecord uk;
    uk.code = "44";
    uk.countries = {"gb", "gg"};
    uk.trunk = {"0"};
    uk.intl = {"00"};
    uk.sets = {{2,
                {{20, 20, 10, kIntl, "c ## #### ####"},
                 {20, 20, 10, kTrunk, "n## #### ####"},
                 {20, 20, 10, 0, "(n ##) #### ####"},
                 {70, 79, 10, 0, "#### ######"}}}};
    RuleRecord us;
    us.code = "1";
    us.countries = {"us", "ca"};
    us.trunk = {"1"};
    us.intl = {"011"};
    us.sets = {
        {1, {{2, 9, 7, 0, "###-####"}, {2, 9, 10, 0, "(###) [[x]]###-####"}, {2, 9, 10, kIntl, "c (###) ###-####"}}}};
    return buildRuleFile({uk, us});
}

TEST(HXCPhoneFormat, CallingCodeOneGivesTheFourFormsTheAppMatchesOn) {
    HXCPhoneFormat f(generatedRules(), "us");
    ASSERT_EQ(f.defaultCallingCode(), "1");
    // Local, national, with the trunk prefix, international; typed bare and with punctuation.
    EXPECT_EQ(f.format("5551234"), "555-1234");
    EXPECT_EQ(f.format("555.1234"), "555-1234");
    EXPECT_EQ(f.format("5551234567"), "(555) 123-4567");
    EXPECT_EQ(f.format("555-123-4567"), "(555) 123-4567");
    EXPECT_EQ(f.format("15551234567"), "1 (555) 123-4567");
    EXPECT_EQ(f.format("1-555-123-4567"), "1 (555) 123-4567");
    EXPECT_EQ(f.format("+15551234567"), "+1 (555) 123-4567");
    EXPECT_EQ(f.format("+1 (555) 123-4567"), "+1 (555) 123-4567");
    // Every form of one number reaches the same digits, so stored and typed numbers match.
    for (const char* typed : {"(555) 123-4567", "1 (555) 123-4567", "+1 (555) 123-4567"}) {
        EXPECT_EQ(HXCPhoneFormat::strip(f.format(typed)).substr(HXCPhoneFormat::strip(f.format(typed)).size() - 10),
                  "5551234567");
    }
    EXPECT_TRUE(f.isPhoneNumberValid("(555) 123-4567"));
    EXPECT_TRUE(f.isPhoneNumberValid("+1 555 123 4567"));
    EXPECT_FALSE(f.isPhoneNumberValid("555123456"));
    EXPECT_EQ(f.format("555123456"), "(555) 123-456");  // still formatted while typed
    auto countries = f.countriesForCallingCode("+1");
    ASSERT_TRUE(countries);
    EXPECT_TRUE(countries->count("us") && countries->count("ca"));
}

struct ExampleNumber {
    std::string region, e164, international, national, nationalForm;
};

std::vector<ExampleNumber> exampleNumbers() {
    std::ifstream in(std::string(HX_MODEL_TEST_DATA_DIR) + "/phone_format_examples.tsv");
    std::vector<ExampleNumber> out;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            cols.push_back(line.substr(from, tab - from));
        cols.push_back(line.substr(from));
        if (cols.size() != 5) continue;
        out.push_back({cols[0], cols[1], cols[2], cols[3], cols[4]});
    }
    return out;
}

// Agreement with the library's forms of its example numbers of every region and number type.
// The ten-digit +1 numbers are left out of the international comparison: the app shows them its
// own way ("+1 (201) 555-0123"), pinned by the test above. The national form is compared twice:
// from the number as dialled in its region (the digits of the library's national form, with the
// trunk prefix where that form shows one) and from the national significant number alone. The
// second cannot always agree: the formatter takes a number that begins with its own calling
// code or trunk prefix for one dialled with it (Kazakh numbers beginning with 7, Russian ones
// beginning with 8). The non-geographic codes have no region to dial in.
struct Agreement {
    int total = 0, matched = 0;
    std::ostringstream misses;
    void check(const std::string& what, const std::string& got, const std::string& want) {
        ++total;
        if (got == want)
            ++matched;
        else if (total - matched <= 30)
            misses << "  " << what << ": got \"" << got << "\" want \"" << want << "\"\n";
    }
    double share() const { return total ? double(matched) / total : 0; }
};

TEST(HXCPhoneFormat, ExampleNumbersAreValidAndShownAsThePhoneNumberLibraryShowsThem) {
    const auto examples = exampleNumbers();
    ASSERT_GT(examples.size(), 1000u) << "example numbers were not generated";
    HXCPhoneFormat plus(generatedRules(), "us");
    std::map<std::string, std::unique_ptr<HXCPhoneFormat>> byRegion;
    Agreement international, dialled, significant;
    std::ostringstream invalid;
    int invalidCount = 0, nationalInvalid = 0;
    for (const auto& ex : examples) {
        if (!plus.isPhoneNumberValid(ex.e164) && ++invalidCount <= 30) invalid << "  " << ex.e164 << "\n";
        if (ex.e164.rfind("+1", 0) != 0 || ex.e164.size() != 12)
            international.check(ex.e164, plus.format(ex.e164), ex.international);
        if (ex.region == "001") continue;
        auto& f = byRegion[ex.region];
        if (!f) f = std::make_unique<HXCPhoneFormat>(generatedRules(), ex.region);
        const std::string asDialled = HXCPhoneFormat::strip(ex.nationalForm);
        if (!f->isPhoneNumberValid(asDialled) && ++nationalInvalid <= 30)
            invalid << "  " << ex.region << " " << asDialled << "\n";
        dialled.check(ex.region + " " + asDialled, f->format(asDialled), ex.nationalForm);
        significant.check(ex.region + " " + ex.national, f->format(ex.national), ex.nationalForm);
    }
    std::printf("phone formats over %zu example numbers: %d not valid in international form, %d as dialled; "
                "international %d of %d identical (%.2f %%); "
                "national as dialled %d of %d (%.2f %%); national from the significant number %d of %d (%.2f %%)\n",
                examples.size(), invalidCount, nationalInvalid, international.matched, international.total,
                international.share() * 100, dialled.matched, dialled.total, dialled.share() * 100, significant.matched,
                significant.total, significant.share() * 100);
    // Every example is valid in its international form; as dialled, the few that begin with the
    // calling code or carry digits the national form adds are not.
    EXPECT_EQ(invalidCount, 0) << invalid.str();
    EXPECT_LE(nationalInvalid * 200, dialled.total) << invalid.str();
    EXPECT_GE(international.share(), 0.995) << international.misses.str();
    EXPECT_GE(dialled.share(), 0.995) << dialled.misses.str();
    EXPECT_GE(significant.share(), 0.975) << significant.misses.str();
}

TEST(HXCPhoneFormat, DefaultCountryComesFromTheLocaleWhenNotGiven) {
    foundation::setCurrentLocaleIdentifier("fr_FR");
    HXCPhoneFormat f(generatedRules(), std::nullopt);
    HXCPhoneFormat g(generatedRules(), "");
    foundation::setCurrentLocaleIdentifier("");
    EXPECT_EQ(f.defaultCountry(), "fr");
    EXPECT_EQ(f.defaultCallingCode(), "33");
    EXPECT_EQ(g.defaultCountry(), "fr");
    EXPECT_EQ(f.format("0123456789"), "01 23 45 67 89");
    EXPECT_EQ(f.format("00 1 555 123 4567"), "00 1 (555) 123-4567");
}

// The formatter the app makes reads the rule file from disk (mapped); it must read as one over the
// file's bytes, and a missing file leaves it without rules rather than failing.
TEST(HXCPhoneFormat, TheRuleFileFromDiskReadsAsItsBytes) {
    const std::string path = std::string(HX_RESOURCES_DIR) + "/PhoneFormats.dat";
    HXCPhoneFormat::setRuleFilePath(path);
    HXCPhoneFormat fromDisk("us");
    HXCPhoneFormat::setRuleFilePath(path + ".missing");
    HXCPhoneFormat noFile("us");
    HXCPhoneFormat::setRuleFilePath("");
    HXCPhoneFormat fromBytes(generatedRules(), "us");
    HXCPhoneFormat noBytes(foundation::Data{}, "us");
    ASSERT_EQ(fromDisk.data().size(), generatedRules().size());
    EXPECT_TRUE(std::equal(fromDisk.data().begin(), fromDisk.data().end(), generatedRules().begin()));
    EXPECT_TRUE(noFile.data().empty());
    for (const char* number : {"5551234567", "+44 20 7946 0958", "+81 3-1234-5678", "0123", "+999 1"}) {
        EXPECT_EQ(fromDisk.format(number), fromBytes.format(number)) << number;
        EXPECT_EQ(noFile.format(number), noBytes.format(number)) << number;
    }
    EXPECT_EQ(fromDisk.countriesForCallingCode("44"), fromBytes.countriesForCallingCode("44"));
}

TEST(HXCPhoneFormat, ForeignAndUnknownNumbers) {
    HXCPhoneFormat f(generatedRules(), "us");
    // No calling code among the first three digits: unchanged, punctuation and all.
    EXPECT_EQ(f.format("+999 12-34 (5)"), "+999 12-34 (5)");
    EXPECT_FALSE(f.isPhoneNumberValid("+999 1234"));
    // The access prefix, a blank, and the foreign number in its own country's form.
    EXPECT_EQ(f.format("011 44 20 7946 0958"), "011 44 20 7946 0958");
    EXPECT_EQ(f.format("011"), "011");
    EXPECT_FALSE(f.isPhoneNumberValid("011"));
    // Too long for every rule: the calling code and the rest; without "+" the stripped digits.
    EXPECT_EQ(f.format("+44 2079 4609 5812 3456 78"), "+44 207946095812345678");
    EXPECT_EQ(f.format("555-1234-5678901"), "55512345678901");
    // Only 0-9 + * # survive when a rule applies.
    EXPECT_EQ(f.format("555-12a34"), "555-1234");
}

TEST(HXCPhoneFormat, RulePatternsAndPrefixesOfAHandMadeFile) {
    HXCPhoneFormat f(handMadeRules(), "gb");
    EXPECT_EQ(f.defaultCallingCode(), "44");
    // "[[x]]" is cut from the pattern when the record is read.
    auto us = f.callingCodeInfo("1");
    ASSERT_TRUE(us);
    EXPECT_EQ(us->ruleSets.at(0).rules.at(1).format(), "(###) ###-####");
    EXPECT_EQ(us->format("5551234567"), "(555) 123-4567");
    // Trunk prefix given: placed at "n"; not given: "n" and the blank after it vanish.
    EXPECT_EQ(f.format("020 7946 0958"), "020 7946 0958");
    EXPECT_EQ(f.format("2079460958"), "(20) 7946 0958");
    // The access prefix of the default country, then the number in its own country's form.
    EXPECT_EQ(f.format("00 1 555 123 4567"), "00 1 (555) 123-4567");
    EXPECT_EQ(f.format("+44 20 7946 0958"), "+44 20 7946 0958");
    // An open group pads missing digits with blanks and still closes.
    PhoneRule rule;
    rule.setFormat("(###) ###");
    EXPECT_EQ(rule.format("12", std::nullopt, std::nullopt), "(12 )");
    EXPECT_EQ(rule.format("", std::nullopt, std::nullopt), "");
    // A prefix the pattern has no place for is put in front.
    rule.setFormat("### ###");
    EXPECT_EQ(rule.format("123456", std::string_view("44"), std::nullopt), "44 123 456");
    EXPECT_EQ(rule.format("123456", std::nullopt, std::string_view("0")), "0123 456");
    rule.setFormat("c ### ###");
    EXPECT_EQ(rule.format("123456", std::nullopt, std::nullopt), "123 456");
    // Validity wants the exact length.
    EXPECT_TRUE(f.isPhoneNumberValid("7700 900123"));
    EXPECT_FALSE(f.isPhoneNumberValid("7700 90012"));
    EXPECT_EQ(f.callingCodeForCountryCode("GG"), "44");
    EXPECT_FALSE(f.callingCodeForCountryCode("zz"));
    EXPECT_FALSE(f.callingCodeInfo("999"));
}

TEST(HXCPhoneFormat, DescriptionsUseTheDebugTexts) {
    HXCPhoneFormat f(handMadeRules(), "gb");
    auto uk = f.callingCodeInfo("44");
    ASSERT_TRUE(uk);
    EXPECT_EQ(uk->ruleSets[0].rules[0].description(),
              "Rule: { minVal: 20, maxVal: 20, byte8: 0, maxLen: 10, nFlag: 0, prefixLen: 0, flag12: 2, flag13: 0, "
              "format: c ## #### #### }");
    EXPECT_EQ(uk->ruleSets[0].description().rfind("RuleSet: { matchLen: 2, rules: (\n    Rule: {", 0), 0u);
    EXPECT_EQ(uk->description().rfind(
                  "CountryInfo { countries: (\n    gb,\n    gg\n), code: 44, trunkPrefixes: (\n    0\n)", 0),
              0u);
}

// Every prefix of a valid file, and files whose fields point anywhere, read without a crash.
TEST(HXCPhoneFormat, TruncatedAndMalformedFilesAreReadWithinBounds) {
    const foundation::Data full = handMadeRules();
    for (size_t n = 0; n <= full.size(); ++n) {
        foundation::Data cut(full.begin(), full.begin() + long(n));
        HXCPhoneFormat f(cut, "us");
        (void)f.format("+44 20 7946 0958");
        (void)f.format("5551234567");
        (void)f.isPhoneNumberValid("+1 555 123 4567");
    }
    // A record offset past the end: the code and its countries, but no prefixes and no rules.
    foundation::Data bad = full;
    const uint32_t farAway = 0x7FFFFFF0;
    std::memcpy(bad.data() + 4 + 8, &farAway, 4);  // both entries of +44: the later one counts
    std::memcpy(bad.data() + 4 + 12 + 8, &farAway, 4);
    HXCPhoneFormat f(bad, "us");
    auto uk = f.callingCodeInfo("44");
    ASSERT_TRUE(uk);
    EXPECT_EQ(uk->callingCode, "44");
    EXPECT_EQ(uk->countries, (std::set<std::string>{"gb", "gg"}));
    EXPECT_TRUE(uk->trunkPrefixes.empty());
    EXPECT_TRUE(uk->intlPrefixes.empty());
    EXPECT_TRUE(uk->ruleSets.empty());
    EXPECT_EQ(f.format("+44 20 7946 0958"), "+44 2079460958");
    // A header whose count promises more entries than the file holds.
    foundation::Data header = {0xFF, 0xFF, 0x00, 0x00, '4', '4', 0, 0, 'g', 'b', 0, 0, 0, 0, 0, 0};
    HXCPhoneFormat g(header, "gb");
    EXPECT_EQ(g.defaultCallingCode(), "44");
    EXPECT_EQ(g.format("+44 1"), "+44 1");
    // Strings with no terminator before the end of the file.
    foundation::Data open = {1, 0, 0, 0, '4', '4', '4', '4', 'g', 'b', 'g', 'b', 0, 0, 0, 0, 16, 0, 0, 0};
    HXCPhoneFormat h(open, "gbgb");
    EXPECT_EQ(h.callingCodeForCountryCode("gbgb"), "4444");
    EXPECT_EQ(h.format("12"), "12");
}

TEST(HXCPhoneFormat, SharedInstanceIsSafeFromSeveralThreads) {
    // A fresh formatter, so the first use of every record happens in the race.
    HXCPhoneFormat f(generatedRules(), "us");
    const std::vector<std::string> numbers = {"+44 20 7946 0958", "+33 1 23 45 67 89",  "+49 30 123456",
                                              "+81 3-1234-5678",  "011 61 2 1234 5678", "5551234567"};
    std::vector<std::vector<std::string>> results(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                for (size_t i = 0; i < numbers.size(); ++i) {
                    auto& n = numbers[(i + t) % numbers.size()];
                    auto out = f.format(n);
                    if (round == 0) results[t].push_back(n + "=" + out);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::string> distinct;
    for (auto& r : results) distinct.insert(r.begin(), r.end());
    EXPECT_EQ(distinct.size(), numbers.size());  // every thread saw the same result per number
}

}  // namespace
