// A stand-in for the app while it stores messages, run as a process of its own by the search
// index's kill test.
//   search_index_child HOME SEED   keeps the search index in HOME's file as the run does and saves
//                                  conversations of text messages through the save chain, batch
//                                  after batch, until it is killed: even seeds right after a
//                                  random store commit (the moment a message is in the store and
//                                  marked indexed), odd ones at a random moment
// Each store commit is counted in HOME/commits (one line each) before anything else happens.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/files.h"
#include "platform/security/keychain.h"
#include "platform/services/search_index.h"
#include "platform/store/context.h"
#include "tests/model/search_index_kill.h"
#include "tests/support/kill_switch.h"

// The store writes in rollback-journal mode: a transaction is committed when its journal is
// removed. Counting those removals lets a run die right after its Nth commit.
namespace {
std::atomic<int> gCommits{0};
std::atomic<int> gKillAtCommit{0};
int gCommitLog = -1;
}  // namespace

extern "C" int unlink(const char* path) {
    const int result = static_cast<int>(::syscall(SYS_unlink, path));
    const size_t n = std::strlen(path);
    constexpr const char kJournal[] = ".sqlite-journal";
    if (result == 0 && n >= sizeof kJournal - 1 && std::strcmp(path + n - (sizeof kJournal - 1), kJournal) == 0) {
        const int commit = ++gCommits;
        if (gCommitLog >= 0) (void)!::write(gCommitLog, "c\n", 2);
        if (commit == gKillAtCommit) hxtest::killSelf();
    }
    return result;
}

namespace {

int saveMode(const std::string& home, unsigned seed) {
    gCommitLog = ::open((home + "/commits").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    security::Keychain::setDefaultPath(home + "/keychain.json");
    (void)services::SearchableIndex::defaultSearchableIndex()->keepInFile(hxkill::indexFile(home));
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    auto account = std::make_shared<HX_Account>();
    account->setUsername(hxkill::kUser);
    app->setAccount(account);
    HXApplicationModel::setSharedDelegate(app);
    if (!app->managedObjectContext()) return 5;

    std::srand(seed);
    // Even seeds die right after a commit (the first commits write the store's schema), odd ones
    // at a moment anywhere in the first few saves. The saves stop at kBatches, well below the
    // index's size bound however fast the machine runs them, and the child waits for its kill.
    constexpr int kBatches = 24;
    if (seed % 2 == 0) gKillAtCommit = 2 + std::rand() % 14;
    const int killAfterMicros = seed % 2 == 0 ? 8000000 : 20000 + std::rand() % 300000;
    hxtest::killSelfAfter(std::chrono::microseconds(killAfterMicros));

    auto& loop = dispatch::RunLoop::main();
    for (int batch = 0; batch < kBatches; ++batch) {
        auto child = app->newChildContext();
        if (!child) return 5;
        std::atomic<bool> saved{false};
        child->perform([&, batch] {
            hxkill::fillBatch(*child, batch);
            app->saveMOC2Parent(child, [&saved] { saved = true; });
        });
        // Bounded in real time: a busy machine turns the loop slowly.
        const auto by = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!saved && std::chrono::steady_clock::now() < by) loop.runOnce(0.002);
        if (!saved) return 4;
    }
    std::this_thread::sleep_for(std::chrono::seconds(10));
    return 3;  // never killed
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    ::setenv("HXCONNECT_HOME", argv[1], 1);
    return saveMode(argv[1], static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
}
