// The mirror delegate: mirror units, epochs and sequence numbers, name rules, routing of logs
// with target tokens, and the collector's wire form against the emulator.
#include "RurIdurev/RurIdurev/Internals/Channel/zid_azaduzuri_channel_delegate.h"
#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "emulator/ingestion_service.h"
#include "platform/dispatch/dispatch.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

// A start-service log that names its common-schema form; the rest of the conversion is the base
// log's own.
class NamedLog : public ZIVOStartServiceLog {
public:
    std::shared_ptr<ZIVOCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                         uint32_t flags) const override {
        auto cs = ZIVOStartServiceLog::toCommonSchemaLogForTargetToken(token, flags);
        cs->setName("hx.started");
        return cs;
    }
};

class ZidAzaduzuriTest : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        writeVersionedInfo();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVODeviceTracker::resetSharedInstance();
        auto reachability =
            ZIVO_Reachability::reachabilityWithFlagsSource([] { return ZIVO_Reachability::kFlagReachable; });
        auto client = ZIVOHttpClient::create(nullptr, reachability);
        mirror = std::make_shared<ZIVOZidAzaduzuriChannelDelegate>(client, "7B0F4F4E-2C43-4F4A-9A7D-6B1E2F3A4C5D",
                                                                   service.baseURL());
        auto ingestion =
            ZIVORurIdurevIngestion::create(client, service.baseURL(), "7B0F4F4E-2C43-4F4A-9A7D-6B1E2F3A4C5D");
        ingestion->setAppSecret(std::string("0d6a6b4e-3f1c-4a52-9c1e-7a2b5c8d9e01"));
        group = ZIVOChannelGroupDefault::create(ingestion);
        group->addDelegate(mirror);
        clock->runUntilIdle();
    }
    dispatch::ScopedVirtualClock clock;
    emulator::IngestionService service;
    std::shared_ptr<ZIVOZidAzaduzuriChannelDelegate> mirror;
    std::shared_ptr<ZIVOChannelGroupDefault> group;
};

TEST_F(ZidAzaduzuriTest, EveryUnitGetsOneMirrorWithItsInterval) {
    ZIVOChannelUnitConfiguration crashes{"Crashes", 2, 1, 1, 3};
    auto unit = group->addChannelUnitWithConfiguration(crashes, nullptr);
    ASSERT_EQ(group->channels().size(), 2u);
    EXPECT_EQ(group->channels()[0], unit);
    auto m = group->channelUnitForGroupId("Crashes/one");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->configuration().flushInterval, 1);
    EXPECT_EQ(m->configuration().batchSizeLimit, 50u);
    EXPECT_EQ(m->configuration().pendingBatchesLimit, 3u);
    EXPECT_EQ(mirror->mirrorFor("Crashes"), m);
}

TEST_F(ZidAzaduzuriTest, EpochsAndSequenceNumbersPerInstrumentationKey) {
    auto make = [](const std::string& key) {
        auto cs = std::make_shared<ZIVOCommonSchemaLog>();
        cs->setIKey(key);
        return cs;
    };
    auto a1 = make("o:a"), a2 = make("o:a"), b1 = make("o:b");
    for (const auto& log : {a1, a2, b1}) mirror->channelPrepareLog(nullptr, log);
    EXPECT_EQ(a1->ext->sdkExt->epoch(), a2->ext->sdkExt->epoch());
    EXPECT_NE(a1->ext->sdkExt->epoch(), b1->ext->sdkExt->epoch());
    EXPECT_EQ(a1->ext->sdkExt->seq(), 1);
    EXPECT_EQ(a2->ext->sdkExt->seq(), 2);
    EXPECT_EQ(b1->ext->sdkExt->seq(), 1);
    group->setEnabled(false, true);  // new epochs after disabling with deletion
    auto a3 = make("o:a");
    mirror->channelPrepareLog(nullptr, a3);
    EXPECT_EQ(a3->ext->sdkExt->seq(), 1);
}

TEST_F(ZidAzaduzuriTest, NameRules) {
    using D = ZIVOZidAzaduzuriChannelDelegate;
    EXPECT_TRUE(D::validateLogName(std::string("abcd")));
    EXPECT_FALSE(D::validateLogName(std::string("abc")));
    EXPECT_TRUE(D::validateLogName(std::string("a.b.c.d")));
    EXPECT_FALSE(D::validateLogName(std::string("ab..cd")));
    EXPECT_FALSE(D::validateLogName(std::string("abcd.")));
    EXPECT_FALSE(D::validateLogName(std::string("_abcd")));
    EXPECT_TRUE(D::validateLogName(std::string(100, 'a')));
    EXPECT_FALSE(D::validateLogName(std::string(101, 'a')));
    EXPECT_FALSE(D::validateLogName(std::nullopt));
}

TEST_F(ZidAzaduzuriTest, TokenLogsTravelThroughTheMirrorToTheCollector) {
    auto unit = group->addChannelUnitWithConfiguration(ZIVOChannelUnitConfiguration::defaultConfiguration("RurIdurev"),
                                                       nullptr);
    clock->runUntilIdle();
    auto log = std::make_shared<NamedLog>();
    log->setType("startService");
    log->setServices(std::vector<std::string>{"Crashes"});
    log->addTransmissionTargetToken("abc-token1");
    log->addTransmissionTargetToken("def-token2");
    unit->enqueueItem(log, 1);
    auto plain = std::make_shared<ZIVOStartServiceLog>();
    plain->setType("startService");
    plain->setServices(std::vector<std::string>{"Crashes"});
    unit->enqueueItem(plain, 1);
    clock->runUntilIdle();
    clock->advance(7);
    ASSERT_TRUE(clock->runUntil([&] { return service.requestCount() >= 2; }, 20));
    auto requests = service.requests();
    const emulator::IngestionService::Request* collector = nullptr;
    const emulator::IngestionService::Request* main = nullptr;
    for (const auto& r : requests) (r.target == "/ZidAzaduzuri/1.0" ? collector : main) = &r;
    ASSERT_TRUE(collector && main);
    EXPECT_EQ(collector->header("content-type"), "application/x-json-stream; charset=utf-8");
    EXPECT_EQ(collector->header("client-version"), "ZAC-iOS-ObjectiveC-no-5.0.5-no");
    EXPECT_EQ(collector->header("apikey"), "abc-token1,def-token2");
    EXPECT_EQ(std::count(collector->body.begin(), collector->body.end(), '\n'), 2);
    // The source log stayed out of its own unit; the plain one went out on the main endpoint.
    EXPECT_EQ(main->json["logs"].size(), 1u);
    EXPECT_TRUE(main->json["logs"].at(0)["sid"].isNull());
}

TEST_F(ZidAzaduzuriTest, VerboseHeaderLinesNeverShowTicketsOrTokens) {
    auto reachability =
        ZIVO_Reachability::reachabilityWithFlagsSource([] { return ZIVO_Reachability::kFlagReachable; });
    auto ingestion =
        ZIVOZidAzaduzuriIngestion::create(ZIVOHttpClient::create(nullptr, reachability), service.baseURL());
    // The header as written (compact), with blanks, and with quotes and colons inside the text.
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {R"({"k1":"secret-one","k2":"secret-two"})", {"secret-one", "secret-two"}},
        {R"({ "k1" : "secret-one" ,"k2":   "secret-two" })", {"secret-one", "secret-two"}},
        {R"({"k\":":"secret:\"one\"","k2":"p:q"})", {"secret", "one", "p:q"}},
        {"not json: secret-one", {"secret-one"}},
    };
    for (const auto& [tickets, secrets] : cases) {
        LogCapture capture;
        ZIVOLogger::setCurrentLogLevel(ZIVOLogLevelVerbose);
        ingestion->willSendHTTPRequestToURL(service.baseURL() + "/ZidAzaduzuri/1.0",
                                            {{"apikey", "abcdef-0123456789"}, {"Tickets", tickets}});
        std::string all;
        for (const auto& line : capture.messages(ZIVOLogLevelVerbose)) all += line + "\n";
        ASSERT_NE(all.find("Tickets = "), std::string::npos) << all;
        for (const auto& secret : secrets) EXPECT_EQ(all.find(secret), std::string::npos) << tickets << " -> " << all;
        EXPECT_EQ(all.find("0123456789"), std::string::npos) << all;
    }
    // The keys stay readable, so a developer still sees which tickets travel.
    EXPECT_EQ(ZIVOZidAzaduzuriIngestion::obfuscateTickets(R"({"k1":"secret-one","k2":"x"})"),
              R"({"k1":"***","k2":"***"})");
}

}  // namespace
