// The queue of unsent messages when the app is killed at random moments: a child process sends
// while the service cannot be reached and kills itself at a random point; a second process, the
// next launch, drains what the first one left in its preferences (read here with python3's
// plistlib) into the emulator. Every stored entry reaches the service exactly once, in key order,
// also one whose send was under way at the kill (it goes again with its kept id).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "emulator/emulator.h"
#include "tests/support/test_support.h"

namespace {

int closedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

struct Stored {
    uint64_t key;
    uint64_t randomID;
    bool underWay;
    int index;  // the child's message number ("message <seed>-<index>")
};

// The account's queue as each home's preferences file holds it, in key order (one python3 run
// for all homes).
std::vector<std::vector<Stored>> storedQueues(const std::vector<std::filesystem::path>& homes) {
    std::string command =
        "python3 -c \"import plistlib,glob,sys\n"
        "for i,h in enumerate(sys.argv[1:]):\n"
        "  p=glob.glob(h+'/Library/Preferences/*.plist')\n"
        "  q=plistlib.load(open(p[0],'rb')).get('smsQueue',{}).get('queue@example.test',{}) if p else {}\n"
        "  [print(i,k,v.get('randomID',-1),int('backgroundTaskID' in v),v['message'].split('-')[-1]) for k,v in "
        "q.items()]\"";
    for (const auto& h : homes) command += " " + h.string();
    std::string out;
    hxtest::runCommand(command, &out);
    std::vector<std::vector<Stored>> queues(homes.size());
    std::istringstream lines(out);
    size_t home = 0;
    Stored s;
    int underWay = 0;
    while (lines >> home >> s.key >> s.randomID >> underWay >> s.index) {
        s.underWay = underWay != 0;
        if (home < queues.size()) queues[home].push_back(s);
    }
    for (auto& q : queues)
        std::sort(q.begin(), q.end(), [](const Stored& a, const Stored& b) { return a.key < b.key; });
    return queues;
}

}  // namespace

TEST(SMSQueueUnderKill, EveryStoredMessageReachesTheServiceExactlyOnceInKeyOrder) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "no python3";
    const std::string child = HX_SMS_QUEUE_CHILD;
    // Half the trials die after a random write of the preferences, half at a random moment; two
    // dozen cover both kinds of stop many times over (the checks below say so).
    constexpr int kTrials = 24;
    // The emulator answers on 8 threads: holding more sends than that would leave the others
    // waiting for a thread rather than in the service, and the wait below would run out.
    constexpr size_t kHeldAtMost = 4;
    int killedWithSendsUnderWay = 0, storedTotal = 0, acceptedTotal = 0;
    hxtest::TempDir dir;
    std::vector<std::filesystem::path> homes;
    for (int trial = 0; trial < kTrials; ++trial) {
        homes.push_back(dir / ("home" + std::to_string(trial)));
        std::filesystem::create_directories(homes.back());
        std::string out;
        const int status = hxtest::runCommand(child + " queue " + homes.back().string() + " " +
                                                  std::to_string(closedPort()) + " " + std::to_string(trial + 1),
                                              &out);
        ASSERT_EQ(status, 128 + SIGKILL) << "the child was to be killed";
    }
    const auto queues = storedQueues(homes);
    for (int trial = 0; trial < kTrials; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const auto& home = homes[static_cast<size_t>(trial)];
        const auto& stored = queues[static_cast<size_t>(trial)];
        // Nothing could reach the service, so every message the app took is still stored.
        std::set<int> numbers;
        for (const auto& s : stored) numbers.insert(s.index);
        std::ifstream acceptedLog(home / "accepted");
        int taken = 0, takenCount = 0;
        while (acceptedLog >> taken) {
            ++takenCount;
            EXPECT_TRUE(numbers.count(taken)) << "message " << taken << " was lost";
        }
        acceptedTotal += takenCount;
        std::vector<uint64_t> waiting;  // in key order, under way at the kill or not
        for (const auto& s : stored) {
            waiting.push_back(s.randomID);
            killedWithSendsUnderWay += s.underWay;
        }
        storedTotal += static_cast<int>(stored.size());

        emulator::Emulator service;
        ASSERT_TRUE(service.start().ok());
        // The first sends wait at the service until all have arrived, so their start order is
        // theirs alone.
        const size_t held = std::min(waiting.size(), kHeldAtMost);
        if (held > 0)
            service.inject(emulator::Fault::Slow, "/voice/v1/voiceclient/api2thread/sendsms", static_cast<int>(held));
        FILE* drain = ::popen((child + " drain " + home.string() + " " + std::to_string(service.port()) + " " +
                               service.issueAccessToken())
                                  .c_str(),
                              "r");
        ASSERT_NE(drain, nullptr);
        std::vector<uint64_t> started;
        char line[256];
        while (std::fgets(line, sizeof line, drain)) {
            std::string l = line;
            if (l.rfind("READY", 0) == 0) break;
            std::istringstream fields(l);
            std::string word;
            uint64_t key = 0, id = 0;
            fields >> word >> key >> id;
            started.push_back(id);
        }
        // Bounded wait for the other process's requests (no clock of ours governs it).
        auto sends = [&] {
            size_t n = 0;
            for (const auto& r : service.requests()) n += r.path == "/voice/v1/voiceclient/api2thread/sendsms";
            return n;
        };
        for (int i = 0; i < 15000 && sends() < waiting.size(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        service.clearScripts();
        service.releaseHeld();
        while (std::fgets(line, sizeof line, drain)) {}
        const int drained = ::pclose(drain);
        // The drain ends only with the queue empty and nothing in flight.
        EXPECT_TRUE(WIFEXITED(drained) && WEXITSTATUS(drained) == 0) << [&] {
            std::ostringstream why;
            why << "the drain ended with " << (WIFEXITED(drained) ? "exit code " : "signal ")
                << (WIFEXITED(drained) ? WEXITSTATUS(drained) : WTERMSIG(drained)) << "; still queued:";
            for (const auto& s : storedQueues({home})[0])
                why << " key " << s.key << " id " << s.randomID << (s.underWay ? " (under way)" : "");
            return why.str();
        }();

        EXPECT_EQ(started, waiting) << "sends start in ascending key order";
        std::map<uint64_t, int> arrived;
        for (const auto& m : service.withAccount([](emulator::Account& a) { return a.sent; })) ++arrived[m.randomId];
        for (uint64_t id : waiting) EXPECT_EQ(arrived[id], 1) << "message " << id;
        EXPECT_EQ(arrived.size(), waiting.size()) << "nothing arrives that was not stored";
    }
    // The trials must have found something to check.
    EXPECT_GT(storedTotal, kTrials);
    EXPECT_GT(acceptedTotal, kTrials);
    RecordProperty("sendsUnderWayAtTheKill", killedWithSendsUnderWay);
}
