// What the platform hands the app from outside, given to the program as its run options: an
// address of the app's scheme, a home-screen shortcut and an activity each land where they say,
// and a search of the index the system keeps finds a message after a restart and opens its
// conversation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator/emulator.h"
#include "emulator/ingestion_service.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/services/search_index.h"
#include "tests/support/headless_run.h"
#include "tests/support/service_threads.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

struct RunEntryPoints : ::testing::Test {
    fs::path program = fs::path(HX_BINARY_DIR) / "app/hx_connect";
    emulator::Emulator service;
    emulator::IngestionService ingestion;
    hxtest::TempDir home;
    std::string threadID, word;
    std::string printed;  // by the last run

    void SetUp() override {
        if (!fs::exists(program)) GTEST_SKIP() << "hx_connect is not built";
        ASSERT_TRUE(service.start().ok());
        // A text conversation whose message carries a word no other message has.
        threadID = "t.+15550181";
        word = "marmalade";
        service.withAccount([&](emulator::Account& a) {
            a.threads.push_back(
                hxtest::textThread("+15550181", "m181", 1'700'000'000'000, "Bring the Marmalade jar back please"));
            return 0;
        });
    }
    // One headless run in the same home; what the app showed where the entry landed.
    std::string run(const std::string& options, const std::string& name) {
        hxtest::TempDir out;
        printed.clear();
        const int rc = hxtest::runHeadless(
            home.path(), "--service " + service.origin() + " --ingestion " + ingestion.baseURL() + " " + options,
            out.path(), &printed);
        EXPECT_EQ(rc, 0) << name << ": " << printed;
        std::ifstream in(out / "entry.txt");
        std::stringstream text;
        text << in.rdbuf();
        if (!options.empty()) {
            EXPECT_FALSE(text.str().empty()) << name << ": no entry.txt\n" << printed;
        }
        return text.str();
    }
};

TEST_F(RunEntryPoints, AURLAShortcutAndAnActivityLandWhereTheySayAndASearchFindsAfterARestart) {
    // The first run signs in, loads the lists and indexes their messages; the index is kept.
    run("", "first run");
    ASSERT_TRUE(fs::exists(home / "Library/SearchIndex/index.db"));

    const std::string url = "hxconnect://reply?conversationID=" + foundation::queryItemEncoded(threadID);
    const std::string conversation = run("--open-url '" + url + "'", "URL");
    EXPECT_NE(conversation.find("VC_Conversation"), std::string::npos) << conversation;

    const std::string compose = run("--shortcut com.hxconnect.shortcut_sms", "shortcut");
    EXPECT_NE(compose.find("VC_NewMessage"), std::string::npos) << compose;

    const std::string dialPad = run("--activity 'com.hxconnect.activity_call?account=x'", "activity");
    EXPECT_NE(dialPad.find("\"*Call"), std::string::npos) << dialPad;

    // A restart later, the store marks the messages indexed and adds none again: the search finds
    // the word in the index the system kept, and its hit opens the conversation.
    const std::string found = run("--search " + word, "search");
    EXPECT_NE(found.find("VC_Conversation"), std::string::npos) << word << "\n" << printed << found;
}

// A run killed while it works keeps in the index every message it had stored marked indexed: a
// restart's search finds them (the index used to be written only at a clean exit while the store
// marked the messages indexed, so they were never found again). The kill comes once the store
// holds the message, committed and marked (the index may hold it earlier: its items go first). An
// index file that no longer reads is set aside with a line, and the store's messages are indexed
// again. (The save chain's own kill test stops a run at many more points.)
TEST_F(RunEntryPoints, AKilledRunsMessagesAreFoundAfterARestartAndADamagedIndexIsBuiltAgain) {
    if (!hxtest::haveProgram("sqlite3")) GTEST_SKIP() << "no sqlite3";
    // The run is still at work when it is killed, however fast the machine: the thread is unread,
    // so its message comes with the unread list the sign-in loads, and the counts that go out
    // beside that list are held, so the sign-in still waits for them once the store holds the
    // message. (A run left to go on would race the poll below to its own end.)
    const std::string held = "/voice/v1/voiceclient/threadinginfo/get";
    service.script(held, {.hold = true});
    service.withAccount([&](emulator::Account& a) {
        a.thread(threadID)->read = false;
        return 0;
    });
    const fs::path index = home / "Library/SearchIndex";
    hxtest::TempDir out;
    const std::string script =
        "HXCONNECT_HOME='" + home.path().string() + "' '" + program.string() + "' --headless --seconds 60 --service " +
        service.origin() + " --ingestion " + ingestion.baseURL() + " --out '" + out.path().string() +
        "' >/dev/null 2>&1 & pid=$!; for i in $(seq 1 600); do for db in '" + home.path().string() +
        "'/Documents/*.sqlite; do [ \"$(sqlite3 -readonly \"$db\" \"SELECT count(*) FROM HX_Message WHERE message "
        "LIKE '%" +
        word +
        "%' AND isIndexedForSearch = 1\" 2>/dev/null)\" = 1 ] && break 2; done; sleep 0.05; done; "
        "if kill -0 $pid 2>/dev/null; then kill -KILL $pid; "
        "wait $pid; echo \"killed $?\"; else wait $pid; echo \"ended $?\"; fi";
    std::ofstream(out / "run.sh") << script;
    std::string killed;
    ASSERT_EQ(hxtest::runCommand("bash '" + (out / "run.sh").string() + "'", &killed), 0);
    ASSERT_EQ(killed, "killed 137\n") << "the run must still be at work when it is killed";
    EXPECT_EQ(service.scriptedRequestsAwaited(held), 0u) << "the run was to wait for the held counts";
    service.releaseHeld();

    const std::string found = run("--search " + word, "search after a kill");
    EXPECT_NE(found.find("VC_Conversation"), std::string::npos) << word << "\n" << printed << found;

    // The index no longer reads: it is set aside, said so, and built again from the store.
    std::ofstream(index / "index.db", std::ios::trunc) << "{not an index";
    fs::remove(index / "index.db-wal");
    fs::remove(index / "index.db-shm");
    run("", "a damaged index");
    EXPECT_NE(printed.find("the search index starts empty"), std::string::npos) << printed;
    EXPECT_TRUE(fs::exists(index / "index.db.set-aside"));
    const std::string again = run("--search " + word, "search after the index was built again");
    EXPECT_NE(again.find("VC_Conversation"), std::string::npos) << word << "\n" << printed << again;
}

// An index an earlier version kept as JSON, with its generation, is converted at the next launch:
// a search finds the message in it though nothing was indexed again (the generation is the same),
// and the JSON files are gone.
TEST_F(RunEntryPoints, AnIndexKeptAsJSONByAnEarlierVersionIsFoundAfterTheUpgrade) {
    run("", "first run");
    const fs::path index = home / "Library/SearchIndex";
    {
        services::SearchableIndex kept;
        ASSERT_EQ(kept.keepInFile(index / "index.db").note, "");
        ASSERT_FALSE(kept.search(word, 1).empty());
        ASSERT_TRUE(kept.writeToFile(index / "index.json").ok());
        std::ofstream(index / "index.json.generation") << kept.generation();
    }
    for (const char* file : {"index.db", "index.db-wal", "index.db-shm"}) fs::remove(index / file);
    const std::string found = run("--search " + word, "search after the upgrade");
    EXPECT_NE(found.find("VC_Conversation"), std::string::npos) << word << "\n" << printed << found;
    EXPECT_EQ(printed.find("the search index starts empty"), std::string::npos) << printed;
    EXPECT_FALSE(fs::exists(index / "index.json"));
    EXPECT_TRUE(fs::exists(index / "index.db"));
}

// An activity's values arrive percent-decoded: a conversation id with a "+" written "%2B" opens
// that conversation.
TEST_F(RunEntryPoints, AnActivitysValuesArePercentDecoded) {
    run("", "first run");
    const std::string reply =
        run("--activity 'com.hxconnect.activity_reply?conversationID=t.%2B15550181&messageText=See%20you'", "activity");
    EXPECT_NE(reply.find("VC_Conversation"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Bring the Marmalade jar back please"), std::string::npos) << reply;
}

}  // namespace
