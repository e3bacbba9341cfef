// A stand-in for the app around the queue of unsent messages, run as a process of its own by
// the queue's kill test.
//   sms_queue_child queue HOME PORT SEED   sends messages to a port where nothing listens and
//                                          drains the queue again and again until it is killed
//                                          at a random moment or after a random write; each
//                                          message the app took is logged to HOME/accepted
//   sms_queue_child drain HOME PORT TOKEN  drains the queue left behind into the service at
//                                          PORT; prints "START <key> <randomID>" per send in
//                                          the order the sends start, "READY", then exits 0
//                                          once the queue is empty and nothing is in flight
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include <atomic>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/user_defaults.h"
#include "service/request_machinery.h"
#include "service/sms_sending.h"
#include "tests/support/kill_switch.h"
#include "tests/support/signed_in_account.h"

// The preferences reach the disk by renaming a complete temporary over the file. Counting those
// renames lets the queue mode die right after the Nth write: a stop between two writes, where a
// message is most at risk.
namespace {
std::atomic<int> gWrites{0};
std::atomic<int> gKillAtWrite{0};
}  // namespace

extern "C" int rename(const char* from, const char* to) {
    const int result = static_cast<int>(::syscall(SYS_rename, from, to));
    if (result == 0 && gKillAtWrite > 0 && ++gWrites == gKillAtWrite) hxtest::killSelf();
    return result;
}

namespace {

std::shared_ptr<HX_ConnectAppDelegate> makeApp(const std::string& port, const std::string& token) {
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    auto& web = HXWebClientOf(*app);
    web.endpoints = HXEndpoints::allAt("http://127.0.0.1:" + port);

    app->setAccount(hxtest::signedInAccount("queue@example.test",
                                            hxtest::bearerToken(token, dispatch::wallNow() + 3600), "AuthV2"));
    app->setConnectionAvailable(true);
    return app;
}

size_t inFlight(HX_ConnectAppDelegate& app) { return HXWebClientOf(app).requests.size(); }

int queueMode(const std::string& home, const std::string& port, unsigned seed) {
    const int accepted = ::open((home + "/accepted").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (accepted < 0) return 5;
    auto app = makeApp(port, "none");
    auto sender = HXMessageSender::of(app);
    std::srand(seed);
    // Even seeds die after a random write, odd ones at a random moment.
    if (seed % 2 == 0) gKillAtWrite = 1 + std::rand() % 40;
    const int killAfterMicros = seed % 2 == 0 ? 2000000 : 5000 + std::rand() % 60000;
    hxtest::killSelfAfter(std::chrono::microseconds(killAfterMicros));
    auto& loop = dispatch::RunLoop::main();
    for (int i = 0; i < 100000; ++i) {
        if (i % 3 == 0) {
            sender->sendSMS("message " + std::to_string(seed) + "-" + std::to_string(i),
                            std::string("+1555010" + std::to_string(1000 + i % 9000)), std::nullopt);
            // The app has taken the message: say so where a kill cannot take it back.
            std::string line = std::to_string(i) + "\n";
            if (::write(accepted, line.data(), line.size()) < 0) return 5;
        } else {
            sender->sendQueuedSMS();
        }
        loop.runOnce(0.002);
    }
    return 3;  // never killed
}

int drainMode(const std::string& port, const std::string& token) {
    auto app = makeApp(port, token);
    auto sender = HXMessageSender::of(app);
    sender->sendQueuedSMS();
    // The sends start from the main queue in turn; each records its task (numbered in start
    // order) in its entry before its request goes out.
    auto keys = sender->accountQueue().keys();
    auto& loop = dispatch::RunLoop::main();
    // Bounded in real time, not in turns: a busy loop (a slow sanitizer build) turns quickly.
    using Steady = std::chrono::steady_clock;
    const auto startBy = Steady::now() + std::chrono::seconds(30);
    while (Steady::now() < startBy) {
        auto queue = sender->accountQueue();
        bool started = true;
        for (const auto& k : keys)
            if (!queue.get(k)["backgroundTaskID"].isInt()) started = false;
        if (started) break;
        loop.runOnce(0.002);
    }
    std::vector<std::pair<int64_t, std::string>> order;
    auto queue = sender->accountQueue();
    for (const auto& k : keys)
        order.emplace_back(queue.get(k)["backgroundTaskID"].int64Value(),
                           k.string() + " " + std::to_string(queue.get(k)["randomID"].int64Value()));
    std::sort(order.begin(), order.end());
    for (const auto& [task, line] : order) std::printf("START %s\n", line.c_str());
    std::printf("READY\n");
    std::fflush(stdout);
    const auto drainBy = Steady::now() + std::chrono::seconds(120);
    while (Steady::now() < drainBy) {
        loop.runOnce(0.002);
        if (sender->accountQueue().empty() && inFlight(*app) == 0) {
            foundation::UserDefaults::resetStandardUserDefaults();
            return 0;
        }
    }
    return 4;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const std::string mode = argv[1];
    ::setenv("HXCONNECT_HOME", argv[2], 1);
    if (mode == "queue") return queueMode(argv[2], argv[3], static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    if (mode == "drain") return drainMode(argv[3], argv[4]);
    return 2;
}
