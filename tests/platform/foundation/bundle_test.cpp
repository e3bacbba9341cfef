#include "platform/foundation/bundle.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "tests/support/bytes.h"
#include "tests/support/test_support.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {

using hxtest::bytes;

class BundleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const char* lang = std::getenv("LANGUAGE");
        savedLanguage = lang ? std::optional<std::string>(lang) : std::nullopt;
        ::setenv("LANGUAGE", "de:en", 1);
        setCurrentLocaleIdentifier("");
        ASSERT_TRUE(files::createDirectory(res() / "de.lproj").ok());
        ASSERT_TRUE(files::createDirectory(res() / "en.lproj").ok());
        ASSERT_TRUE(files::createDirectory(res() / "Base.lproj").ok());
        ASSERT_TRUE(files::createDirectory(res() / "sounds").ok());
        ASSERT_TRUE(files::writeAtomically(res() / "tz", std::string_view("zones")).ok());
        ASSERT_TRUE(files::writeAtomically(res() / "sounds" / "NewMessage.caf", std::string_view("caf")).ok());
        ASSERT_TRUE(files::writeAtomically(res() / "sounds" / "Other.caf", std::string_view("caf")).ok());
        ASSERT_TRUE(files::writeAtomically(res() / "de.lproj" / "Help.html", std::string_view("<p>Hilfe")).ok());
    }
    void TearDown() override {
        if (savedLanguage)
            ::setenv("LANGUAGE", savedLanguage->c_str(), 1);
        else
            ::unsetenv("LANGUAGE");
    }
    fs::path res() const { return tmp.path() / "resources"; }

    hxtest::TempDir tmp;
    std::optional<std::string> savedLanguage;
};

}  // namespace

TEST_F(BundleFixture, InfoValuesFromAPropertyListWrittenByPython) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP();
    for (const char* format : {"FMT_XML", "FMT_BINARY"}) {
        const std::string script =
            "import plistlib,datetime; "
            "plistlib.dump({'CFBundleIdentifier':'com.hxconnect.test','CFBundleDisplayName':'HX Connect',"
            "'CFBundleShortVersionString':'4.2','CFBundleVersion':'417','RurIdurevAppDelegateForwarderEnabled':False,'"
            "Count':-3,"
            "'When':datetime.datetime(2001,1,2)}, open('" +
            (res() / "Info.plist").string() + "','wb'), fmt=plistlib." + format + ")";
        ASSERT_EQ(hxtest::runCommand("python3 -c \"" + script + "\""), 0);
        Bundle b(res());
        EXPECT_EQ(b.bundleIdentifier(), "com.hxconnect.test") << format;
        EXPECT_EQ(b.displayName(), "HX Connect");
        EXPECT_EQ(b.shortVersion(), "4.2");
        EXPECT_EQ(b.version(), "417");
        const Value flag = b.objectForInfoDictionaryKey("RurIdurevAppDelegateForwarderEnabled");
        EXPECT_TRUE(flag.isBool());
        EXPECT_FALSE(flag.boolValue(true));
        EXPECT_EQ(b.objectForInfoDictionaryKey("Count"), Value(-3));
        EXPECT_EQ(b.objectForInfoDictionaryKey("When"), Value(dateSinceReferenceDate(86400)));
        EXPECT_TRUE(b.objectForInfoDictionaryKey("Missing").isNull());
    }
}

TEST_F(BundleFixture, DefaultsWithoutAnInfoFile) {
    Bundle b(res());
    EXPECT_EQ(b.bundleIdentifier(), std::nullopt);
    EXPECT_EQ(b.name(), Bundle::executablePath().filename().string());
    EXPECT_EQ(b.displayName(), b.name());
    EXPECT_EQ(b.shortVersion(), "1.0");
    EXPECT_EQ(b.version(), "1");
    ASSERT_TRUE(files::writeAtomically(res() / "Info.plist", std::string_view("not a plist")).ok());
    Bundle broken(res());
    EXPECT_TRUE(broken.infoDictionary().empty());
}

TEST_F(BundleFixture, ResourcePaths) {
    Bundle b(res());
    EXPECT_EQ(b.pathForResource("tz", ""), res() / "tz");
    EXPECT_EQ(b.pathForResource("NewMessage", "caf", "sounds"), res() / "sounds" / "NewMessage.caf");
    EXPECT_EQ(b.pathForResource("NewMessage", ".caf", "sounds"), res() / "sounds" / "NewMessage.caf");
    EXPECT_EQ(b.pathForResource("NewMessage", "caf"), std::nullopt);
    EXPECT_EQ(b.pathForResource("Help", "html"), res() / "de.lproj" / "Help.html");
    EXPECT_EQ(b.pathsForResources("caf", "sounds").size(), 2u);
    EXPECT_EQ(b.localizations(), (std::vector<std::string>{"de", "en"}));
    EXPECT_EQ(b.preferredLocalizations(), (std::vector<std::string>{"de", "en"}));
}

TEST_F(BundleFixture, LocalizedStringsFromTablesWithFallbacks) {
    // German table in UTF-16 little endian with a byte-order mark, as tables often are.
    const std::u16string de = u"/* Buttons */\n\"Cancel\" = \"Abbrechen\";\n// line comment\n\"Quote \\\"x\\\"\" = "
                              u"\"\\U00C4\\n\\ud83d\\ude00\";\n";
    Data utf16{0xFF, 0xFE};
    for (char16_t u : de) {
        utf16.push_back(static_cast<uint8_t>(u & 0xFF));
        utf16.push_back(static_cast<uint8_t>(u >> 8));
    }
    ASSERT_TRUE(files::writeAtomically(res() / "de.lproj" / "Localizable.strings", utf16).ok());
    ASSERT_TRUE(
        files::writeAtomically(res() / "en.lproj" / "Localizable.strings",
                               std::string_view("\"Cancel\" = \"Cancel\";\n\"Only English\" = \"Only in en\";\nOK;\n"))
            .ok());
    ASSERT_TRUE(
        files::writeAtomically(res() / "de.lproj" / "Broken.strings", std::string_view("\"a\" = \"b\"\n\"c\" = \"d\";"))
            .ok());
    Bundle b(res());
    EXPECT_EQ(b.localizedString("Cancel"), "Abbrechen");
    EXPECT_EQ(b.localizedString("Quote \"x\""), "\xC3\x84\n\xF0\x9F\x98\x80");
    EXPECT_EQ(b.localizedString("Only English"), "Only in en");  // next preferred localisation
    EXPECT_EQ(b.localizedString("OK"), "OK");
    EXPECT_EQ(b.localizedString("Unknown key"), "Unknown key");
    EXPECT_EQ(b.localizedString("Unknown key", "Default"), "Default");
    EXPECT_EQ(b.localizedString("a", "", "Broken"), "a");  // a broken table is ignored, never fatal
    EXPECT_EQ(b.localizedString("Cancel", "", "Missing"), "Cancel");

    auto err = parseStringsTable(bytes("\"a\" = \"b\";\n\"c\" = \"d\"\n\"e\" = \"f\";"));
    ASSERT_FALSE(err.ok());
    EXPECT_NE(err.error().localizedDescription().find("line 3"), std::string::npos);
    for (const char* bad :
         {"\"unterminated", "/* open", "\"a\" = ;", "= \"b\";", "\"a\" = \"\\u12\";", "\"a\" \"b\";"}) {
        EXPECT_FALSE(parseStringsTable(bytes(bad)).ok()) << bad;
    }
    EXPECT_TRUE(parseStringsTable(bytes("")).ok());
}

// The localisation folders are read once per resources folder: a folder added later shows only
// once the bundle is pointed at its resources again (as the tables are).
TEST_F(BundleFixture, LocalisationsAreListedOncePerResourcesFolder) {
    Bundle b(res());
    EXPECT_EQ(b.localizations(), (std::vector<std::string>{"de", "en"}));
    ASSERT_TRUE(files::createDirectory(res() / "fr.lproj").ok());
    EXPECT_EQ(b.localizations(), (std::vector<std::string>{"de", "en"}));
    b.setResourcesDirectory(res());
    EXPECT_EQ(b.localizations(), (std::vector<std::string>{"de", "en", "fr"}));
    Bundle empty(tmp.path() / "none");
    EXPECT_TRUE(empty.localizations().empty());
}
