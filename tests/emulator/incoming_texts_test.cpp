// Texts that arrive for the account while a client runs: on demand through the service's route
// (from a thread's number, from a new number: unread, newer than anything the account has), and
// now and then from the emulator's program with --texts-every, never before one interval, and
// kept in its state.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "emulator/emulator.h"
#include "emulator/incoming_texts.h"
#include "emulator/service_routes.h"
#include "platform/foundation/files.h"
#include "tests/support/test_support.h"

namespace {

emulator::RecordedRequest deliverRequest(const std::string& target) {
    emulator::RecordedRequest r;
    r.method = "POST";
    r.target = target;
    r.path = target.substr(0, target.find('?'));
    return r;
}

int64_t newestItemOf(const emulator::Account& a) {
    int64_t newest = 0;
    for (const auto& t : a.threads) newest = std::max(newest, t.lastTimeMs());
    return newest;
}

}  // namespace

TEST(IncomingTexts, TheRouteDeliversFromAThreadsNumberAndFromANewNumberUnreadAndNewest) {
    emulator::GeneratorOptions options;
    options.smsThreads = 6;
    options.spamThreads = 1;
    options.archivedThreads = 1;
    emulator::Emulator service(emulator::generateAccount(options));
    const size_t threads = service.withAccount([](emulator::Account& a) { return a.threads.size(); });

    // From a thread's number: the newest single-number text thread that is neither spam nor archived.
    const auto expected = service.withAccount([](emulator::Account& a) {
        const emulator::Thread* best = nullptr;
        for (const auto& t : a.threads)
            if (t.isText() && t.numbers.size() == 1 && !t.spam && !t.archived && !t.blocked &&
                (!best || t.lastTimeMs() > best->lastTimeMs()))
                best = &t;
        return best ? best->id : std::string();
    });
    ASSERT_FALSE(expected.empty());
    const int64_t before = service.withAccount([](emulator::Account& a) { return newestItemOf(a); });
    auto reply = emulator::routeServiceRequest(service, deliverRequest(emulator::kDeliverTextPath));
    ASSERT_EQ(reply.status, 200) << reply.body;
    auto answer = nlohmann::json::parse(reply.body);
    EXPECT_EQ(answer["threadId"], expected);
    EXPECT_FALSE(answer["text"].get<std::string>().empty());
    service.withAccount([&](emulator::Account& a) {
        const auto* t = a.thread(expected);
        EXPECT_FALSE(t->read);
        EXPECT_EQ(t->items.back().type, "smsIn");
        EXPECT_EQ(t->items.back().fromNumber, t->numbers.front());
        EXPECT_EQ(t->items.back().text, answer["text"].get<std::string>());
        EXPECT_GT(t->items.back().startTimeMs, before) << "newer than anything the account had";
        return 0;
    });

    // From a new number, twice: two threads of their own, numbers no thread had.
    for (const char* number : {"+15550140000", "+15550140001"}) {
        reply = emulator::routeServiceRequest(service,
                                              deliverRequest(std::string(emulator::kDeliverTextPath) + "?from=new"));
        ASSERT_EQ(reply.status, 200) << reply.body;
        answer = nlohmann::json::parse(reply.body);
        EXPECT_EQ(answer["fromNumber"], number);
        EXPECT_EQ(answer["threadId"], std::string("t.") + number);
    }
    EXPECT_EQ(service.withAccount([](emulator::Account& a) { return a.threads.size(); }), threads + 2);
    // Only a POST delivers.
    auto get = deliverRequest(emulator::kDeliverTextPath);
    get.method = "GET";
    EXPECT_EQ(emulator::routeServiceRequest(service, get).status, 405);
}

TEST(IncomingTexts, TheProgramDeliversOneEachIntervalInTurnNotBeforeTheFirstAndKeepsThem) {
    hxtest::TempDir dir;
    const auto state = dir / "state.json";
    const std::string exe = HX_EMULATOR_EXE;
    // Count the texts that arrived in the kept state ("r" items), every 50 ms, until two came.
    std::ofstream(dir / "watch.sh") << "exec 3< <(exec " + exe + " --seed 2 --threads 4 --texts-every 1 --state '" +
                                           state.string() +
                                           "'); read -r -t 10 origin <&3; start=$(date +%s%N); seen=0; "
                                           "for i in $(seq 1 200); do "
                                           "n=$(grep -Eo '\"id\": ?\"r[0-9a-f]{10}\"' '" +
                                           state.string() +
                                           "' 2>/dev/null | wc -l); "
                                           "if [ \"$n\" -gt \"$seen\" ]; then seen=$n; echo \"$n $(( ($(date +%s%N) - "
                                           "start) / 1000000 ))\"; fi; [ \"$seen\" -ge 2 ] && break; sleep 0.05; done; "
                                           "kill -TERM $!; wait $!";
    std::string out;
    ASSERT_EQ(hxtest::runCommand("bash '" + (dir / "watch.sh").string() + "'", &out), 0) << out;
    std::istringstream lines(out);
    int count = 0;
    long ms = 0;
    ASSERT_TRUE(lines >> count >> ms) << out;
    EXPECT_EQ(count, 1);
    EXPECT_GE(ms, 900) << "the first text comes no earlier than one interval after the start";
    ASSERT_TRUE(lines >> count >> ms) << out;
    EXPECT_EQ(count, 2) << out;
    auto kept = foundation::files::readString(state);
    ASSERT_TRUE(kept.ok());
    EXPECT_NE(kept->find("\"t.+15550140000\""), std::string::npos) << "the second came from a new number";
}
