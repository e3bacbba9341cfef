// Damaged files of a kept home as a user meets them at the next launch of the program: the
// message store, the telemetry SDK's log store and a crash report the reporter left behind.
#include <gtest/gtest.h>

#include <set>

#include "emulator/emulator.h"
#include "platform/foundation/files.h"
#include "tests/support/headless_run.h"

namespace {

namespace fs = std::filesystem;

std::string sqlite(const fs::path& file, const std::string& sql) {
    std::string out;
    hxtest::runCommand("sqlite3 '" + file.string() + "' \"" + sql + "\" 2>&1", &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string bytesOf(const fs::path& file) {
    auto read = foundation::files::readString(file);
    return read.ok() ? read.value() : std::string("<unreadable>");
}

std::string noise(uint32_t seed, size_t size) {
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    return out;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Random bytes in the message store, half of the log store and a damaged crash report used to be
// deleted at launch without a word. The next run sets each aside beside itself with its bytes and
// says so in one line; the app goes on with a fresh store that the service fills again, and the
// SDK with a fresh log store. Damaged again, the store goes to the next free name: the first copy
// kept stays. Then a store whose message table lost a column by hand (every save failed, silently,
// at every launch) gets the column back and keeps its messages.
TEST(HeadlessRun, DamagedFilesAreSetAsideWithALineAndTheAppGoesOn) {
    if (!fs::exists(hxtest::connectProgram())) GTEST_SKIP() << "hx_connect is not built";
    if (!hxtest::haveProgram("sqlite3")) GTEST_SKIP() << "no sqlite3 tool";
    hxtest::TempDir home;
    emulator::Emulator service(emulator::generateAccount({}));
    ASSERT_TRUE(service.start().ok());
    std::string printed;
    auto run = [&] {
        hxtest::TempDir out;
        printed.clear();
        return hxtest::runHeadless(home.path(), "--service " + service.origin(), out.path(), &printed);
    };
    ASSERT_EQ(run(), 0) << printed;

    fs::path store;
    for (const auto& entry : fs::directory_iterator(home / "Documents"))
        if (entry.path().filename().string().starts_with("MessageData-") && entry.path().extension() == ".sqlite")
            store = entry.path();
    ASSERT_FALSE(store.empty());
    const auto conversations = [&] { return sqlite(store, "SELECT count(*) FROM HX_Conversation"); };
    const std::string filled = conversations();
    ASSERT_NE(filled, "0");
    const fs::path logs = home / "Library/Application Support/com.dorazadav.ruridurev/Logs.sqlite";
    ASSERT_TRUE(fs::exists(logs));
    fs::path reports;
    for (const auto& entry : fs::directory_iterator(home / "Library/Caches/com.zivo.crashreporter.data"))
        if (entry.is_directory()) reports = entry.path();
    ASSERT_FALSE(reports.empty());
    const fs::path report = reports / "live_report.zvcrash";

    const std::string storeBytes = noise(1, 16384);
    const std::string logBytes = bytesOf(logs).substr(0, fs::file_size(logs) / 2);
    const std::string reportBytes = "zvcrash" + noise(2, 3000);
    ASSERT_TRUE(foundation::files::writeAtomically(store, storeBytes).ok());
    ASSERT_TRUE(foundation::files::writeAtomically(logs, logBytes).ok());
    ASSERT_TRUE(foundation::files::writeAtomically(report, reportBytes).ok());
    ASSERT_EQ(run(), 0) << printed;
    EXPECT_EQ(count(printed, "could not be read"), 3u) << printed;
    EXPECT_NE(printed.find("the message store " + store.string() + " could not be read"), std::string::npos) << printed;
    EXPECT_NE(printed.find("the telemetry log store " + logs.string() + " could not be read"), std::string::npos)
        << printed;
    EXPECT_NE(printed.find("the crash report " + report.string() + " could not be read"), std::string::npos) << printed;
    EXPECT_EQ(bytesOf(store.string() + ".unreadable"), storeBytes);
    EXPECT_EQ(bytesOf(logs.string() + ".unreadable"), logBytes);
    EXPECT_EQ(bytesOf(report.string() + ".unreadable"), reportBytes);
    EXPECT_FALSE(fs::exists(report));
    EXPECT_EQ(conversations(), filled) << "the fresh store is filled again";
    EXPECT_EQ(sqlite(logs, "PRAGMA integrity_check"), "ok");

    // Damaged a second time: the first copy kept is not replaced.
    const std::string again = noise(3, 12288);
    ASSERT_TRUE(foundation::files::writeAtomically(store, again).ok());
    ASSERT_EQ(run(), 0) << printed;
    EXPECT_EQ(count(printed, "could not be read"), 1u) << printed;
    EXPECT_EQ(bytesOf(store.string() + ".unreadable"), storeBytes);
    EXPECT_EQ(bytesOf(store.string() + ".unreadable-2"), again);
    EXPECT_EQ(conversations(), filled);

    // A column dropped by hand from the messages' table.
    const std::string idsBefore = sqlite(store, "SELECT group_concat(id) FROM (SELECT id FROM HX_Message ORDER BY id)");
    ASSERT_FALSE(idsBefore.empty());
    ASSERT_EQ(sqlite(store, "ALTER TABLE HX_Message DROP COLUMN senderName"), "");
    ASSERT_EQ(run(), 0) << printed;
    EXPECT_EQ(count(printed, "could not be read"), 0u) << printed;
    EXPECT_EQ(sqlite(store, "SELECT count(*) FROM pragma_table_info('HX_Message') WHERE name='senderName'"), "1");
    EXPECT_EQ(sqlite(store, "SELECT group_concat(id) FROM (SELECT id FROM HX_Message ORDER BY id)"), idsBefore);
    EXPECT_FALSE(fs::exists(store.string() + ".unreadable-3"));
    service.stop();
}

}  // namespace
