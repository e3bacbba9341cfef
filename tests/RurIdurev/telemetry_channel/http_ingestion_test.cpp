// The HTTP client and the main ingestion against the emulator's ingestion endpoint, under the
// virtual clock, with a reachability whose answers the test controls.
#include <atomic>
#include <fstream>
#include <thread>

#include "RurIdurev/RurIdurev/Internals/HttpClient/compression.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_util.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/Internals/Ingestion/ingestion.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "emulator/ingestion_service.h"
#include "platform/dispatch/dispatch.h"
#include "platform/net/url_error.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/model_test_support.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

using emulator::IngestionService;
using telemetrytest::validDevice;
constexpr const char* kIngestionSecret = "0d6a6b4e-3f1c-4a52-9c1e-7a2b5c8d9e01";
constexpr const char* kInstallId = "7B0F4F4E-2C43-4F4A-9A7D-6B1E2F3A4C5D";

std::shared_ptr<ZIVOLogContainer> container(size_t logs, size_t padding = 0, std::string batchId = "B1") {
    std::vector<std::shared_ptr<ZIVOAbstractLog>> list;
    for (size_t i = 0; i < logs; ++i) {
        auto log = std::make_shared<ZIVOStartServiceLog>();
        log->setType("startService");
        log->setTimestamp(foundation::Date(1700000000.0 + static_cast<double>(i)));
        log->setDevice(validDevice());
        log->setServices(std::vector<std::string>{"Crashes"});
        if (padding) log->setSid(std::string(padding, 'p'));
        list.push_back(log);
    }
    return std::make_shared<ZIVOLogContainer>(std::move(batchId), std::move(list));
}

// Reads what the emulator recorded with tools of its own: gzip -d and python3's json.
std::string independentRead(const std::string& raw, bool gzipped) {
    hxtest::TempDir dir;
    std::ofstream(dir / "body.bin", std::ios::binary) << raw;
    std::string out;
    std::string decode =
        gzipped ? "gzip -dc '" + (dir / "body.bin").string() + "'" : "cat '" + (dir / "body.bin").string() + "'";
    hxtest::runCommand(decode + " | /usr/bin/python3 -c 'import json,sys; d=json.load(sys.stdin); "
                                "print(len(d[\"logs\"]), d[\"logs\"][0][\"type\"], d[\"logs\"][0][\"services\"][0])'",
                       &out);
    return out;
}

struct Outcome {
    std::atomic<bool> done{false};
    std::optional<net::HTTPURLResponse> response;
    std::optional<foundation::Error> error;
    std::string callId;
};

class HttpIngestionTest : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        reachability = ZIVO_Reachability::reachabilityWithFlagsSource([this] { return flags.load(); });
        client = ZIVOHttpClient::create(nullptr, reachability);
        ingestion = ZIVORurIdurevIngestion::create(client, service.baseURL(), kInstallId);
        ingestion->setAppSecret(std::string(kIngestionSecret));
        clock->runUntilIdle();
    }
    void send(const std::shared_ptr<ZIVOLogContainer>& c, Outcome& outcome) {
        ingestion->sendAsync(c,
                             [&outcome](const std::string& id, const auto& response, const auto&, const auto& error) {
                                 outcome.callId = id;
                                 outcome.response = response;
                                 outcome.error = error;
                                 outcome.done = true;
                             });
    }
    bool waitRequests(size_t n) {
        return clock->runUntil([&] { return service.requestCount() >= n; }, 10);
    }
    bool waitDone(Outcome& o) {
        return clock->runUntil([&] { return o.done.load(); }, 10);
    }
    // Runs what is ready, without moving the virtual clock, until the call is answered (bounded in
    // real time: the loopback service answers within milliseconds).
    bool doneWithoutTimePassing(Outcome& o) {
        for (int i = 0; i < 1000 && !o.done.load(); ++i) {
            clock->runUntilIdle();
            if (!o.done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return o.done.load();
    }
    void setReachable(bool reachable) {
        flags = reachable ? ZIVO_Reachability::kFlagReachable : 0u;
        reachability->flagsChanged();
        clock->runUntilIdle();
    }
    // A batch whose first reply (of `replies`) asks for a retry: `before` seconds on it has not gone
    // again, `after` seconds later the retry has gone out and its OK answered the call.
    void expectOneRetryBetween(std::vector<IngestionService::Answer> replies, double before, double after) {
        service.script(std::move(replies));
        Outcome outcome;
        send(container(1), outcome);
        ASSERT_TRUE(waitRequests(1));
        clock->runUntilIdle();
        clock->advance(before);
        EXPECT_EQ(service.requestCount(), 1u);
        EXPECT_FALSE(outcome.done);
        clock->advance(after);
        // The retry is due by now: wait for it in real time only, as a wait on the virtual clock
        // would move it on to the computed back-off and hide a delay that was not taken.
        ASSERT_TRUE(doneWithoutTimePassing(outcome));
        EXPECT_EQ(service.requestCount(), 2u);
        EXPECT_EQ(outcome.response->statusCode, 200);
    }

    dispatch::ScopedVirtualClock clock;
    IngestionService service;
    std::atomic<uint32_t> flags{ZIVO_Reachability::kFlagReachable};
    std::shared_ptr<ZIVO_Reachability> reachability;
    std::shared_ptr<ZIVOHttpClient> client;
    std::shared_ptr<ZIVORurIdurevIngestion> ingestion;
};

TEST(CompressionTest, GzipStreamsDecodeIndependently) {
    EXPECT_FALSE(ZIVOCompression::compressData({}).has_value());
    foundation::Data letters(100, 'a');
    auto gz = ZIVOCompression::compressData(letters);
    ASSERT_TRUE(gz);
    EXPECT_EQ((*gz)[0], 0x1f);
    EXPECT_EQ((*gz)[1], 0x8b);
    EXPECT_EQ((*gz)[2], 0x08);
    EXPECT_EQ(IngestionService::gunzip(std::string(gz->begin(), gz->end())), std::string(100, 'a'));
    // Small and incompressible inputs compress too: the buffer is sized by zlib's bound.
    auto abc = ZIVOCompression::compressData(foundation::Data{'a', 'b', 'c'});
    ASSERT_TRUE(abc);
    hxtest::TempDir dir;
    std::ofstream(dir / "abc.gz", std::ios::binary)
        .write(reinterpret_cast<const char*>(abc->data()), static_cast<std::streamsize>(abc->size()));
    std::string out;
    hxtest::runCommand("gzip -dc '" + (dir / "abc.gz").string() + "'", &out);
    EXPECT_EQ(out, "abc");
}

TEST(ReachabilityTest, FlagsMapToStatuses) {
    using R = ZIVO_Reachability;
    EXPECT_EQ(R::networkStatusForFlags(0), ZIVONotReachable);
    EXPECT_EQ(R::networkStatusForFlags(R::kFlagReachable | R::kFlagIsWWAN), ZIVOReachableViaWWAN);
    EXPECT_EQ(R::networkStatusForFlags(R::kFlagReachable | R::kFlagConnectionRequired), ZIVONotReachable);
    EXPECT_EQ(R::networkStatusForFlags(R::kFlagReachable | R::kFlagConnectionRequired | R::kFlagConnectionOnTraffic),
              ZIVOReachableViaWiFi);
    EXPECT_EQ(R::networkStatusForFlags(R::kFlagReachable | R::kFlagConnectionRequired | R::kFlagConnectionOnDemand |
                                       R::kFlagInterventionRequired),
              ZIVONotReachable);
}

TEST(HttpUtilTest, SecretsAndRetryAfter) {
    EXPECT_EQ(ZIVOHttpUtil::hideSecret("12345678"), "********");
    EXPECT_EQ(ZIVOHttpUtil::hideSecret(kIngestionSecret), std::string(28, '*') + "5c8d9e01");
    EXPECT_EQ(ZIVOHttpUtil::parseRetryAfterMs(std::string("2500")), 2500u);
    EXPECT_EQ(ZIVOHttpUtil::parseRetryAfterMs(std::string(" 0 ")), 0u);
    for (const char* bad : {"", "-1", "2,500", "2.5", "1e3", "abc", "99999999999", "+5"}) {
        EXPECT_FALSE(ZIVOHttpUtil::parseRetryAfterMs(std::string(bad)).has_value()) << bad;
    }
    EXPECT_TRUE(ZIVOHttpUtil::isRecoverableError(0));
    EXPECT_TRUE(ZIVOHttpUtil::isRecoverableError(408));
    EXPECT_TRUE(ZIVOHttpUtil::isRecoverableError(429));
    EXPECT_FALSE(ZIVOHttpUtil::isRecoverableError(403));
}

TEST_F(HttpIngestionTest, SmallBodyGoesPlainAndLargeBodyGzipWithTheHeaders) {
    Outcome small, large;
    send(container(1), small);
    ASSERT_TRUE(waitDone(small));
    send(container(8, 400, "B2"), large);
    ASSERT_TRUE(waitDone(large));
    auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto& a = requests[0];
    EXPECT_EQ(a.method, "POST");
    EXPECT_EQ(a.target, "/logs?api-version=1.0.0");
    EXPECT_EQ(a.header("app-secret"), kIngestionSecret);
    EXPECT_EQ(a.header("install-id"), kInstallId);
    EXPECT_EQ(a.header("content-type"), "application/json");
    EXPECT_EQ(a.header("content-encoding"), "");
    EXPECT_LT(a.rawBody.size(), 1400u);
    EXPECT_EQ(independentRead(a.rawBody, false), "1 startService Crashes\n");
    const auto& b = requests[1];
    EXPECT_EQ(b.header("content-encoding"), "gzip");
    EXPECT_FALSE(b.gunzipFailed);
    EXPECT_GE(b.body.size(), 1400u);
    EXPECT_EQ(independentRead(b.rawBody, true), "8 startService Crashes\n");
    EXPECT_EQ(small.callId, "B1");
    EXPECT_EQ(large.response->statusCode, 200);
    EXPECT_EQ(client->pendingCallCount(), 0u);
}

// The first retry waits between 5 and 10 seconds.
TEST_F(HttpIngestionTest, ServiceUnavailableIsRetriedAfterTheBackOff) {
    expectOneRetryBetween({{503}, {200}}, 4.9, 5.2);
}

TEST_F(HttpIngestionTest, RetryAfterHeaderReplacesTheComputedDelay) {
    expectOneRetryBetween({{429, std::string("2500")}, {200}}, 2.4, 0.2);
}

TEST_F(HttpIngestionTest, UnparsableRetryAfterFallsBackToTheBackOff) {
    expectOneRetryBetween({{429, std::string("2,5")}, {200}}, 4.9, 5.2);
}

TEST_F(HttpIngestionTest, ExhaustedRetriesPauseTheClientUntilReachabilityReturns) {
    service.script({{503}, {503}, {503}, {503}});
    Outcome outcome;
    send(container(1), outcome);
    ASSERT_TRUE(waitRequests(1));
    for (size_t n = 2; n <= 4; ++n) {
        clock->advance(1200);
        ASSERT_TRUE(waitRequests(n));
    }
    ASSERT_TRUE(waitDone(outcome));
    EXPECT_EQ(outcome.response->statusCode, 503);
    EXPECT_TRUE(client->isPaused());
    Outcome later;
    send(container(1, 0, "B2"), later);
    clock->advance(5000);
    EXPECT_EQ(service.requestCount(), 4u);
    setReachable(true);  // a change notification resumes the client
    ASSERT_TRUE(waitDone(later));
    EXPECT_EQ(later.response->statusCode, 200);
}

TEST_F(HttpIngestionTest, ForbiddenShutsTheClientDown) {
    service.script({{403}});
    Outcome first;
    send(container(1), first);
    ASSERT_TRUE(waitDone(first));
    EXPECT_EQ(first.response->statusCode, 403);
    EXPECT_FALSE(first.error);
    EXPECT_FALSE(client->isEnabled());
    Outcome second;
    send(container(1), second);
    ASSERT_TRUE(second.done);
    ASSERT_TRUE(second.error);
    EXPECT_EQ(second.error->domain, kZIVOErrorDomain);
    EXPECT_EQ(second.error->code, 3);
}

// A dropped connection while the network is there is retried as status 0 is: no change of
// reachability may ever come to end a hold.
TEST_F(HttpIngestionTest, DroppedConnectionWhileReachableIsRetriedAfterTheBackOff) {
    service.script({{200, std::nullopt, 0, true}, {200}});
    Outcome outcome;
    send(container(1), outcome);
    ASSERT_TRUE(waitRequests(1));
    clock->runUntil([] { return false; }, 1);
    EXPECT_FALSE(outcome.done);
    EXPECT_EQ(client->pendingCallCount(), 1u);
    clock->advance(10);
    ASSERT_TRUE(waitDone(outcome));
    EXPECT_EQ(outcome.response->statusCode, 200);
    EXPECT_EQ(service.requestCount(), 2u);
    EXPECT_FALSE(client->isPaused());
}

// A refused connection is not a connectivity loss: the call completes with the transport's error.
TEST_F(HttpIngestionTest, OtherTransportErrorsCompleteTheCall) {
    int port;
    {
        IngestionService closed;  // a port that had a listener and has none now
        port = closed.port();
    }
    ingestion->setBaseURL("http://127.0.0.1:" + std::to_string(port));
    Outcome outcome;
    send(container(1), outcome);
    ASSERT_TRUE(waitDone(outcome));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, net::kURLErrorDomain);
    EXPECT_FALSE(outcome.response);
    EXPECT_EQ(client->pendingCallCount(), 0u);
    EXPECT_FALSE(client->isPaused());
}

TEST_F(HttpIngestionTest, DisabledOrForbiddenNetworkFailsWithCode3AndInvalidContainerWithCode1) {
    Outcome invalid;
    send(std::make_shared<ZIVOLogContainer>(std::string("X"), std::vector<std::shared_ptr<ZIVOAbstractLog>>{}),
         invalid);
    ASSERT_TRUE(invalid.done);
    EXPECT_EQ(invalid.error->code, 1);
    EXPECT_EQ(invalid.callId, "X");
    ZIVONetworkRequestsAllowed::set(false);
    Outcome blocked;
    send(container(1), blocked);
    ASSERT_TRUE(blocked.done);
    EXPECT_EQ(blocked.error->code, 3);
    EXPECT_EQ(service.requestCount(), 0u);
}

// The network switch is read without any lock another thread could hold while calling in.
TEST_F(HttpIngestionTest, NetworkSwitchAndSendsFromTwoThreads) {
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        for (int i = 0; i < 2000 && !stop; ++i) ZIVONetworkRequestsAllowed::set(i % 2 == 0);
    });
    int answered = 0;
    for (int i = 0; i < 200; ++i) answered += ingestion->isEnabled() ? 1 : 0;
    stop = true;
    flipper.join();
    EXPECT_LE(answered, 200);
}

TEST_F(HttpIngestionTest, BaseUrlChangeKeepsTheQueryAndRefusesNonUrls) {
    ingestion->setBaseURL("not a url");
    EXPECT_EQ(ingestion->sendURL(), service.baseURL() + "/logs?api-version=1.0.0");
    ingestion->setBaseURL("http://127.0.0.1:1/prefix");
    EXPECT_EQ(ingestion->sendURL(), "http://127.0.0.1:1/prefix/logs?api-version=1.0.0");
}

}  // namespace
