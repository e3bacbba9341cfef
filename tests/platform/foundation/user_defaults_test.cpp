#include "platform/foundation/user_defaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "tests/support/full_disk.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

using namespace foundation;

namespace {

std::string pythonIn(const std::filesystem::path& dir, const std::string& script, const std::string& args) {
    { std::ofstream(dir / "script.py") << script; }
    std::string out;
    int rc = hxtest::runCommand("/usr/bin/python3 " + (dir / "script.py").string() + " " + args + " 2>&1", &out);
    EXPECT_EQ(rc, 0) << out;
    return out;
}

const Dictionary kRegistered = {{"username", ""}, {"notificationTypes", 7}, {"autoRefresh", true}, {"tabBarIndex", 4}};

}  // namespace

TEST(UserDefaults, StoredValuesWinAndRemovalRevealsTheRegisteredOne) {
    hxtest::TempDir dir;
    const auto file = dir / "Library/Preferences/com.hxconnect.test.plist";
    {
        UserDefaults d(file);
        d.registerDefaults(kRegistered);
        EXPECT_EQ(d.stringForKey("username"), "");
        EXPECT_EQ(d.integerForKey("notificationTypes"), 7);
        d.setObject("alice", "username").ok();
        d.setInteger(3, "notificationTypes");
        EXPECT_EQ(d.stringForKey("username"), "alice");
        EXPECT_EQ(d.integerForKey("notificationTypes"), 3);
        d.removeObjectForKey("username");
        EXPECT_EQ(d.stringForKey("username"), "");
        EXPECT_TRUE(d.setObject(Value(), "notificationTypes").ok());  // null removes
        EXPECT_EQ(d.integerForKey("notificationTypes"), 7);
        d.setBool(false, "autoRefresh");
        EXPECT_EQ(d.dictionaryRepresentation().get("autoRefresh"), Value(false));
        EXPECT_EQ(d.dictionaryRepresentation().get("tabBarIndex"), Value(4));
        ASSERT_TRUE(d.synchronize().ok());
    }
    // Next launch: only what was stored comes back until the defaults are registered again.
    UserDefaults again(file);
    EXPECT_FALSE(again.loadError());
    EXPECT_EQ(again.objectForKey("autoRefresh"), Value(false));
    EXPECT_TRUE(again.objectForKey("tabBarIndex").isNull());
    EXPECT_EQ(again.stringForKey("username"), std::nullopt);
    again.registerDefaults(kRegistered);
    EXPECT_FALSE(again.boolForKey("autoRefresh"));
    EXPECT_EQ(again.integerForKey("tabBarIndex"), 4);
}

TEST(UserDefaults, TypedReadsConvertLikeThePlatform) {
    hxtest::TempDir dir;
    UserDefaults d(dir / "p.plist");
    ASSERT_TRUE(d.setObject(5, "n").ok());
    ASSERT_TRUE(d.setObject("42", "s").ok());
    ASSERT_TRUE(d.setObject("YES", "yes").ok());
    ASSERT_TRUE(d.setObject(2.75, "real").ok());
    ASSERT_TRUE(d.setObject(Data{1, 2}, "bytes").ok());
    ASSERT_TRUE(d.setObject(Array{"a", 1}, "list").ok());
    ASSERT_TRUE(d.setObject(Dictionary{{"user", Dictionary{{"1", "x"}}}}, "dict").ok());
    EXPECT_EQ(d.stringForKey("n"), "5");
    EXPECT_EQ(d.integerForKey("s"), 42);
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_TRUE(d.boolForKey("n"));
    EXPECT_EQ(d.integerForKey("real"), 2);
    EXPECT_EQ(d.doubleForKey("real"), 2.75);
    EXPECT_EQ(d.doubleForKey("s"), 42.0);
    EXPECT_EQ(d.dataForKey("bytes"), (Data{1, 2}));
    EXPECT_EQ(d.arrayForKey("list")->size(), 2u);
    EXPECT_EQ(d.dictionaryForKey("dict")->get("user").asDictionary().get("1"), Value("x"));
    // Reads of the wrong kind or of missing keys give the empty answers.
    EXPECT_EQ(d.dataForKey("n"), std::nullopt);
    EXPECT_EQ(d.arrayForKey("dict"), std::nullopt);
    EXPECT_EQ(d.dictionaryForKey("list"), std::nullopt);
    EXPECT_EQ(d.stringForKey("list"), std::nullopt);
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_FALSE(d.boolForKey("bytes"));
}

TEST(UserDefaults, TextIsReadAsADecimalNumberOnly) {
    hxtest::TempDir dir;
    UserDefaults d(dir / "p.plist");
    const std::pair<const char*, double> cases[] = {
        {" 2.5", 2.5},
        {"-.5e1x", -5.0},
        {"+7", 7.0},
        {"1e", 1.0},
        {"3.", 3.0},
        // No decimal number at the start: nothing, never a NaN, an infinity or a hex value.
        {"nan", 0.0},
        {"NAN(1)", 0.0},
        {"inf", 0.0},
        {"-infinity", 0.0},
        {"0x1p3", 0.0},
        {".", 0.0},
        {"", 0.0},
    };
    for (const auto& [text, want] : cases) {
        ASSERT_TRUE(d.setObject(text, "interval").ok());
        EXPECT_EQ(d.doubleForKey("interval"), want) << text;
    }
    // A decimal number too large for a double is an infinity, as on the platform.
    ASSERT_TRUE(d.setObject("1e999", "interval").ok());
    EXPECT_TRUE(std::isinf(d.doubleForKey("interval")));
}

TEST(UserDefaults, RefusesWhatAFileCannotHoldAndKeepsTheOldValue) {
    hxtest::TempDir dir;
    UserDefaults d(dir / "p.plist");
    ASSERT_TRUE(d.setObject(Dictionary{{"1", "queued"}}, "smsQueue").ok());
    auto refused = d.setObject(Dictionary{{1, "queued"}}, "smsQueue");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, kPropertyListWriteInvalidError);
    EXPECT_FALSE(d.setObject(Array{1, Value()}, "list").ok());
    EXPECT_FALSE(d.setObject(1, std::string("bad\0key", 7)).ok());
    EXPECT_EQ(d.objectForKey("smsQueue"), Value(Dictionary{{"1", "queued"}}));
    EXPECT_TRUE(d.objectForKey("list").isNull());
    EXPECT_TRUE(d.synchronize().ok());
}

TEST(UserDefaults, PythonReadsTheFileAndNothingIsLeftBehind) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    hxtest::TempDir dir;
    const auto file = dir / "Preferences/com.hxconnect.test.plist";
    {
        UserDefaults d(file);
        d.registerDefaults(kRegistered);
        ASSERT_TRUE(d.setObject(Dictionary{{"alice", Data{0xBE, 0xEF}}}, "accountInfo").ok());
        ASSERT_TRUE(d.setObject(Dictionary{{"alice@x", 1700000000.5}}, "lastContactSelection").ok());
        ASSERT_TRUE(d.setObject(Date{1700000000}, "firstLaunchDate").ok());
        d.setInteger(12, "launchCount");
        d.setBool(true, "VMprefetch");
        ASSERT_TRUE(d.synchronize().ok());
        d.setInteger(13, "launchCount");  // unsynchronized: the destructor writes it
    }
    const std::string script = "import plistlib,sys,datetime\n"
                               "raw=open(sys.argv[1],'rb').read()\n"
                               "assert raw.startswith(b'bplist00')\n"
                               "p=plistlib.loads(raw)\n"
                               "assert p['accountInfo']=={'alice':b'\\xbe\\xef'}\n"
                               "assert p['lastContactSelection']=={'alice@x':1700000000.5}\n"
                               "assert p['firstLaunchDate']==datetime.datetime(2023,11,14,22,13,20)\n"
                               "assert p['launchCount']==13 and p['VMprefetch'] is True\n"
                               "assert 'notificationTypes' not in p and 'username' not in p\n"
                               "print('ok')\n";
    EXPECT_EQ(pythonIn(dir.path(), script, file.string()), "ok\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

TEST(UserDefaults, AnUnreadableFileIsMovedAsideNotLost) {
    hxtest::TempDir dir;
    const auto file = dir / "p.plist";
    { std::ofstream(file) << "bplist00 this is not a property list"; }
    UserDefaults d(file);
    ASSERT_TRUE(d.loadError().has_value());
    EXPECT_EQ(d.loadError()->code, kPropertyListReadCorruptError);
    std::ifstream aside(dir / "p.plist.unreadable");
    std::string kept((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "bplist00 this is not a property list");
    d.setInteger(1, "k");
    ASSERT_TRUE(d.synchronize().ok());
    EXPECT_EQ(readPropertyListFile(file).value(), Value(Dictionary{{"k", 1}}));

    // A valid property list that is not a dictionary is not a preferences file either.
    hxtest::TempDir other;
    ASSERT_TRUE(writePropertyListFile(Array{1}, other / "p.plist").ok());
    UserDefaults d2(other / "p.plist");
    EXPECT_TRUE(d2.loadError().has_value());
    EXPECT_TRUE(std::filesystem::exists(other / "p.plist.unreadable"));
}

// A directory in the file's place cannot be read either: it goes aside with one line, the
// preferences start empty and the next write makes the file, where reading it used to throw.
TEST(UserDefaults, ADirectoryInTheFilesPlaceIsMovedAsideToo) {
    hxtest::TempDir dir;
    const auto file = dir / "p.plist";
    std::filesystem::create_directories(file / "inside");
    hxtest::LogCapture log;
    UserDefaults d(file);
    ASSERT_TRUE(d.loadError().has_value());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "p.plist.unreadable" / "inside"));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("p.plist.unreadable"), std::string::npos) << log.lines()[0];
    d.setInteger(1, "k");
    ASSERT_TRUE(d.synchronize().ok());
    EXPECT_EQ(readPropertyListFile(file).value(), Value(Dictionary{{"k", 1}}));
}

// Whether a key's value is on disk: not after a change until a write succeeds; storing what is
// stored already is no change, storing it as another type is.
TEST(UserDefaults, AKeyIsSavedUntilItChangesAndAgainOnceWritten) {
    hxtest::TempDir dir;
    const auto file = dir / "p.plist";
    UserDefaults d(file);
    EXPECT_TRUE(d.isSaved("k"));
    d.setInteger(1, "k");
    d.setInteger(5, "other");
    EXPECT_FALSE(d.isSaved("k"));
    ASSERT_TRUE(d.synchronize().ok());
    EXPECT_TRUE(d.isSaved("k"));
    d.setInteger(1, "k");
    EXPECT_TRUE(d.isSaved("k"));
    d.setDouble(1.0, "k");
    EXPECT_FALSE(d.isSaved("k"));
    ASSERT_TRUE(d.synchronize().ok());
    {
        hxtest::FullDisk full(16);
        ASSERT_TRUE(d.setObject(Value(std::string(100, 'x')), "k").ok());
        EXPECT_FALSE(d.synchronize().ok());
        EXPECT_FALSE(d.isSaved("k"));
        EXPECT_TRUE(d.isSaved("other"));
    }
    d.removeObjectForKey("other");
    EXPECT_FALSE(d.isSaved("other"));
    ASSERT_TRUE(d.synchronize().ok());
    EXPECT_TRUE(d.isSaved("k") && d.isSaved("other"));
    UserDefaults again(file);
    EXPECT_TRUE(again.isSaved("k"));
}

TEST(UserDefaults, ObserversHearChanges) {
    hxtest::TempDir dir;
    UserDefaults d(dir / "p.plist");
    std::vector<std::string> keys;
    auto id = d.addChangeObserver([&](const std::string& k) {
        keys.push_back(k);
        (void)d.objectForKey(k);  // reading from inside the callback does not deadlock
    });
    d.setInteger(1, "a");
    d.removeObjectForKey("a");
    d.removeObjectForKey("never-set");
    d.removeChangeObserver(id);
    d.setInteger(2, "b");
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "a"}));
}

TEST(UserDefaults, ConcurrentUseFromManyThreads) {
    hxtest::TempDir dir;
    const auto file = dir / "p.plist";
    {
        UserDefaults d(file);
        d.registerDefaults({{"shared", 0}});
        std::atomic<int> changes{0};
        d.addChangeObserver([&](const std::string&) { ++changes; });
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&d, t] {
                for (int i = 0; i < 300; ++i) {
                    d.setInteger(i, "t" + std::to_string(t));
                    d.setInteger(t, "shared");
                    (void)d.integerForKey("shared");
                    if (i % 50 == 0) {
                        EXPECT_TRUE(d.synchronize().ok());
                    }
                }
            });
        }
        for (auto& th : threads) th.join();
        EXPECT_EQ(changes.load(), 8 * 300 * 2);
        ASSERT_TRUE(d.synchronize().ok());
    }
    auto stored = readPropertyListFile(file);
    ASSERT_TRUE(stored.ok());
    for (int t = 0; t < 8; ++t) EXPECT_EQ(stored.value()["t" + std::to_string(t)], Value(299));
    EXPECT_LT(stored.value()["shared"].int64Value(-1), 8);
}

TEST(UserDefaults, StandardDefaultsLiveInTheAppHomesPreferences) {
    hxtest::TempDir home;
    setHomeDirectory(home.path());
    UserDefaults::resetStandardUserDefaults();
    auto standard = UserDefaults::standardUserDefaults();
    EXPECT_EQ(standard, UserDefaults::standardUserDefaults());
    standard->setInteger(5, "launchCount");
    ASSERT_TRUE(standard->synchronize().ok());
    const std::string id = Bundle::main().bundleIdentifier().value_or(Bundle::main().name());
    const auto expected = home.path() / "Library" / "Preferences" / (safePathComponent(id) + ".plist");
    EXPECT_EQ(standard->path(), expected);
    EXPECT_EQ(readPropertyListFile(expected).value()["launchCount"], Value(5));
    // A later launch reads what the earlier one stored.
    standard->setInteger(6, "launchCount");
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(UserDefaults::standardUserDefaults()->integerForKey("launchCount"), 6);
    UserDefaults::resetStandardUserDefaults();
    setHomeDirectory({});
}

namespace {

mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

}  // namespace

TEST(UserDefaults, TheFileIsReadableByItsOwnerOnly) {
    hxtest::TempDir dir;
    // A file written before preferences were private is made private by the next write.
    const auto file = dir / "Preferences/p.plist";
    std::filesystem::create_directories(file.parent_path());
    ASSERT_TRUE(writePropertyListFile(Dictionary{{"launchCount", 1}}, file).ok());
    ::chmod(file.c_str(), 0644);
    {
        UserDefaults d(file);
        ASSERT_TRUE(d.setObject(Data{'S', 'I', 'D'}, "cookies").ok());
        ASSERT_TRUE(d.synchronize().ok());
        EXPECT_EQ(modeOf(file), 0600u);
    }
    hxtest::TempDir fresh;
    {
        UserDefaults d(fresh / "p.plist");
        d.setInteger(1, "launchCount");
        ASSERT_TRUE(d.synchronize().ok());
    }
    EXPECT_EQ(modeOf(fresh / "p.plist"), 0600u);
    // What an unreadable file held is kept as privately.
    { std::ofstream(fresh / "p.plist") << "not a property list"; }
    ::chmod((fresh / "p.plist").c_str(), 0644);
    hxtest::LogCapture log;
    UserDefaults unreadable(fresh / "p.plist");
    EXPECT_EQ(modeOf(fresh / "p.plist.unreadable"), 0600u);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("p.plist.unreadable"), std::string::npos) << log.lines()[0];
}

TEST(UserDefaults, AWriteOnAFullDiskFailsKeepsTheValuesAndIsLoggedOnce) {
    hxtest::TempDir dir;
    const auto file = dir / "p.plist";
    UserDefaults d(file);
    d.setInteger(1, "launchCount");
    ASSERT_TRUE(d.synchronize().ok());
    hxtest::LogCapture log;
    {
        hxtest::FullDisk full(64);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(d.setObject(std::string(1000, 'x'), "note" + std::to_string(i)).ok());
            EXPECT_FALSE(d.synchronize().ok());
        }
    }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find(file.string()), std::string::npos) << log.lines()[0];
    // Nothing was lost: the values are still there and reach the file once there is room.
    EXPECT_EQ(d.stringForKey("note2"), std::string(1000, 'x'));
    EXPECT_EQ(readPropertyListFile(file).value().asDictionary().size(), 1u);
    ASSERT_TRUE(d.synchronize().ok());
    EXPECT_EQ(readPropertyListFile(file).value().asDictionary().size(), 4u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    // After a success, the next failure is news again.
    {
        hxtest::FullDisk full(64);
        ASSERT_TRUE(d.setObject(std::string(1000, 'y'), "note0").ok());
        EXPECT_FALSE(d.synchronize().ok());
    }
    EXPECT_EQ(log.lines().size(), 2u);
}
