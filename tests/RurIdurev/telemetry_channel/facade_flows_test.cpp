// The facade's main flows over a real channel group and log store: switching the SDK off and on,
// the start-service log that waits for the SDK to be enabled, services started later or kept off
// by the environment, and the storage-size rules.
#include <cstdlib>
#include <mutex>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"
#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Context/Session/session_context.h"
#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/scripted_transport.h"
#include "tests/RurIdurev/telemetry/model_test_support.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

constexpr const char* kSecret = "5c3b3d0e-8d5f-4a55-9f0a-2b1c4d6e8f10";

// A service with a unit of its own and no secret requirement beyond the facade's rules.
class FlowService : public ZIVOServiceAbstract {
public:
    explicit FlowService(std::string name) : name_(std::move(name)) {}
    std::string className() const override { return "ZIVO" + name_; }
    std::string serviceName() const override { return name_; }
    std::string logTag() const override { return "RurIdurev" + name_; }
    std::string groupId() const override { return name_; }
    std::optional<ZIVOChannelUnitConfiguration> channelUnitConfiguration() const override {
        return ZIVOChannelUnitConfiguration::defaultConfiguration(groupId());
    }

private:
    std::string name_;
};

// The types and services of the logs handed to the group, as the units prepare them.
struct Prepared : ZIVOChannelDelegate {
    std::mutex mutex;
    std::vector<std::vector<std::string>> startServiceLogs;
    void channelDidPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log, const std::string&,
                              uint32_t) override {
        std::lock_guard lock(mutex);
        if (auto start = std::dynamic_pointer_cast<ZIVOStartServiceLog>(log))
            startServiceLogs.push_back(start->services().value_or(std::vector<std::string>{}));
    }
    std::vector<std::vector<std::string>> take() {
        std::lock_guard lock(mutex);
        return std::exchange(startServiceLogs, {});
    }
};

class FacadeFlows : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        writeVersionedInfo();
        dispatch::RunLoop::main();
        resetAll();
        ::unsetenv("RUR_IDUREV_DISABLE");
        // Nothing leaves the process: requests wait for an answer that never comes.
        auto transport = net::ScriptedTransport::create(net::EventLoop::main());
        transport->setHandler([](const net::URLRequest&) { return net::ScriptedTransport::Reply::never(); });
        ZIVODependencyConfiguration::setHttpClient(ZIVOHttpClient::create(
            transport,
            ZIVO_Reachability::reachabilityWithFlagsSource([] { return ZIVO_Reachability::kFlagReachable; })));
        ZIVOLogger::setLogHandler([this](const ZIVOLogMessageProvider& provider, ZIVOLogLevel level,
                                         const std::string& tag, const char*, const char*, uint32_t) {
            std::lock_guard lock(linesMutex);
            lines.push_back({level, tag, provider()});
        });
        ZIVOLogger::setCurrentLogLevel(ZIVOLogLevelVerbose);
    }
    void TearDown() override {
        ::unsetenv("RUR_IDUREV_DISABLE");
        ZIVOLogger::flush();
        ZIVODependencyConfiguration::setHttpClient(nullptr);
        resetAll();
        clock->runUntilIdle();
        TelemetryTest::TearDown();
    }
    static void resetAll() {
        ZIVORurIdurev::resetSharedInstance();
        ZIVOUserIdContext::resetSharedInstance();
        ZIVOSessionContext::resetSharedInstance();
        ZIVODeviceTracker::resetSharedInstance();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVOLogger::resetForTesting();
    }
    // Configures as the application and watches the group's units from then on.
    std::shared_ptr<ZIVOChannelGroupDefault> configure() {
        ZIVORurIdurev::configureWithAppSecret(std::string(kSecret));
        auto group = ZIVORurIdurev::sharedInstance()->channelGroup();
        group->addDelegate(prepared);
        clock->runUntilIdle();  // units take delegates on their queue
        return group;
    }
    std::vector<std::shared_ptr<ZIVOAbstractLog>> stored(const std::string& groupId) {
        clock->runUntilIdle();
        auto group = ZIVORurIdurev::sharedInstance()->channelGroup();
        auto db = group ? std::dynamic_pointer_cast<ZIVOLogDBStorage>(group->storage()) : nullptr;
        return db ? db->logsFromDBWithGroupId(groupId) : std::vector<std::shared_ptr<ZIVOAbstractLog>>{};
    }
    bool logged(ZIVOLogLevel level, const std::string& text) {
        ZIVOLogger::flush();
        std::lock_guard lock(linesMutex);
        for (const auto& line : lines)
            if (line.level == level && line.text == text) return true;
        return false;
    }
    std::shared_ptr<ZIVOAbstractLog> aLog() {
        auto log = std::make_shared<ZIVOStartServiceLog>();
        log->setServices(std::vector<std::string>{"Probe"});
        return log;
    }

    struct Line {
        ZIVOLogLevel level;
        std::string tag;
        std::string text;
    };
    dispatch::ScopedVirtualClock clock;
    std::shared_ptr<Prepared> prepared = std::make_shared<Prepared>();
    std::mutex linesMutex;
    std::vector<Line> lines;
};

TEST_F(FacadeFlows, DisablingClearsTheHistoriesAndEveryUnitsLogsAndEnablingRestoresTheServices) {
    auto group = configure();
    auto service = std::make_shared<FlowService>("Flow");
    ZIVORurIdurev::startService(service);
    ZIVOSessionContext::sharedInstance()->setSessionId(std::string("S1"));
    ZIVOUserIdContext::sharedInstance()->setUserId(std::string("alice"));
    // A later launch adds a record of its own to the stored history.
    clock->advance(1);
    ZIVOUserIdContext::resetSharedInstance();
    ZIVOUserIdContext::sharedInstance()->setUserId(std::string("bob"));
    (void)ZIVODeviceTracker::sharedInstance()->device();
    ZIVODeviceTracker::sharedInstance()->setCountryCode(std::string("fr"));
    (void)ZIVODeviceTracker::sharedInstance()->device();
    ZIVORurIdurev::sharedInstance()->channelUnit()->enqueueItem(aLog(), 1);
    service->channelUnit()->enqueueItem(aLog(), 1);
    ASSERT_EQ(stored("RurIdurev").size(), 2u);  // the probe and the start-service log
    ASSERT_EQ(stored("Flow").size(), 1u);
    ASSERT_FALSE(ZIVOSessionContext::sharedInstance()->sessionHistory().empty());
    ASSERT_GE(ZIVOUserIdContext::sharedInstance()->userIdHistory().size(), 2u);
    ASSERT_GE(ZIVODeviceTracker::sharedInstance()->deviceHistory().size(), 2u);

    ZIVORurIdurev::setEnabled(false);
    EXPECT_FALSE(ZIVORurIdurev::isEnabledClass());
    EXPECT_FALSE(service->classIsEnabled());
    EXPECT_TRUE(stored("RurIdurev").empty());
    EXPECT_TRUE(stored("Flow").empty());
    EXPECT_TRUE(ZIVOSessionContext::sharedInstance()->sessionHistory().empty());
    // The user-id and device histories keep only their newest record.
    auto userIds = ZIVOUserIdContext::sharedInstance()->userIdHistory();
    ASSERT_EQ(userIds.size(), 1u);
    EXPECT_EQ(userIds[0]->userId(), std::optional<std::string>("bob"));
    EXPECT_EQ(ZIVODeviceTracker::sharedInstance()->deviceHistory().size(), 1u);
    EXPECT_TRUE(logged(ZIVOLogLevelInfo, "Rur Idurev SDK disabled."));
    // A log offered while disabled is not kept.
    ZIVORurIdurev::sharedInstance()->channelUnit()->enqueueItem(aLog(), 1);
    EXPECT_TRUE(stored("RurIdurev").empty());

    ZIVORurIdurev::setEnabled(true);
    EXPECT_TRUE(ZIVORurIdurev::isEnabledClass());
    EXPECT_TRUE(service->classIsEnabled());
    ZIVORurIdurev::sharedInstance()->channelUnit()->enqueueItem(aLog(), 1);
    EXPECT_EQ(stored("RurIdurev").size(), 1u);
    // The switch survives a new facade (it is a stored preference).
    ZIVORurIdurev::setEnabled(false);
    ZIVORurIdurev::resetSharedInstance();
    ZIVORurIdurev::configureWithAppSecret(std::string(kSecret));
    EXPECT_FALSE(ZIVORurIdurev::isEnabledClass());
}

TEST_F(FacadeFlows, TheStartServiceLogWaitsForTheSdkToBeEnabledAndGoesOnce) {
    ZIVORurIdurev::configureWithAppSecret(std::string(kSecret));
    ZIVORurIdurev::setEnabled(false);
    ZIVORurIdurev::resetSharedInstance();
    auto group = configure();
    auto service = std::make_shared<FlowService>("Late");
    ZIVORurIdurev::startService(service);
    EXPECT_TRUE(prepared->take().empty());
    // The service said it was enabled while the SDK was not: it is switched off, and stays so.
    EXPECT_EQ(ZIVORurIdurevUserDefaults::shared()->objectForKey("LateIsEnabled"), foundation::Value(false));

    ZIVORurIdurev::setEnabled(true);
    EXPECT_EQ(prepared->take(), (std::vector<std::vector<std::string>>{{"Late"}}));
    ZIVORurIdurev::setEnabled(false);
    ZIVORurIdurev::setEnabled(true);
    EXPECT_TRUE(prepared->take().empty());
}

TEST_F(FacadeFlows, StartServiceAddsAServiceOnceAndASecondStartStartsNothing) {
    auto group = configure();
    ZIVORurIdurev::startService(nullptr);
    auto first = std::make_shared<FlowService>("First");
    ZIVORurIdurev::startService(first);
    EXPECT_TRUE(first->isAvailable());
    EXPECT_EQ(prepared->take(), (std::vector<std::vector<std::string>>{{"First"}}));
    ZIVORurIdurev::startService(first);  // already running from the application
    EXPECT_TRUE(prepared->take().empty());

    auto second = std::make_shared<FlowService>("Second");
    ZIVORurIdurev::start(std::string(kSecret), {second});
    EXPECT_TRUE(logged(ZIVOLogLevelAssert, "Rur Idurev SDK has already been configured."));
    EXPECT_TRUE(logged(ZIVOLogLevelAssert, "Rur Idurev SDK configuration failed."));
    EXPECT_FALSE(second->isAvailable());
    EXPECT_TRUE(prepared->take().empty());

    // A library may start a service, but it is not named in a start-service log.
    auto library = std::make_shared<FlowService>("Library");
    ZIVORurIdurev::startFromLibraryWithServices({library});
    EXPECT_TRUE(library->isAvailable());
    EXPECT_TRUE(prepared->take().empty());
}

TEST_F(FacadeFlows, TheEnvironmentKeepsNamedServicesOff) {
    struct Case {
        const char* value;
        bool started;
    } cases[] = {
        {" Other ,\tGated ", false}, {"All", false}, {"gated", true}, {"Gate,Gated2", true}, {"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ZIVORurIdurev::resetSharedInstance();
        ::setenv("RUR_IDUREV_DISABLE", c.value, 1);
        ZIVORurIdurev::configureWithAppSecret(std::string(kSecret));
        auto service = std::make_shared<FlowService>("Gated");
        ZIVORurIdurev::startService(service);
        EXPECT_EQ(service->isAvailable(), c.started);
        EXPECT_EQ(logged(ZIVOLogLevelDebug,
                         "Environment variable to disable service has been set; not starting service ZIVOGated"),
                  !c.started);
        std::lock_guard lock(linesMutex);
        lines.clear();
    }
}

TEST_F(FacadeFlows, StorageSizeIsAskedOnceBeforeTheApplicationConfigures) {
    std::vector<bool> answers;
    auto record = [&](bool ok) { answers.push_back(ok); };
    ZIVORurIdurev::setMaxStorageSize(24575, record);
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_TRUE(logged(ZIVOLogLevelWarning, "Cannot set storage size to 24575 bytes, minimum value is 24576 bytes"));

    // The smallest allowed size, before start-up: kept and handed to the group when it is made.
    ZIVORurIdurev::setMaxStorageSize(24576, record);
    EXPECT_EQ(answers.size(), 1u);
    ZIVORurIdurev::configureWithAppSecret(std::string(kSecret));
    ASSERT_TRUE(clock->runUntil([&] { return answers.size() == 2; }, 5));
    EXPECT_TRUE(answers[1]);
    auto db = std::dynamic_pointer_cast<ZIVOLogDBStorage>(ZIVORurIdurev::sharedInstance()->channelGroup()->storage());
    ASSERT_TRUE(db);
    EXPECT_EQ(db->maxSizeInBytes(), 24576);

    ZIVORurIdurev::setMaxStorageSize(1 << 20, record);
    EXPECT_EQ(answers.back(), false);
    EXPECT_TRUE(
        logged(ZIVOLogLevelWarning, "setMaxStorageSize:completionHandler: may only be called once per app launch"));

    // A new launch whose application configured first.
    ZIVORurIdurev::resetSharedInstance();
    ZIVORurIdurev::configureWithAppSecret(std::string(kSecret));
    ZIVORurIdurev::setMaxStorageSize(1 << 20, record);
    EXPECT_EQ(answers.size(), 4u);
    EXPECT_FALSE(answers.back());
    EXPECT_TRUE(
        logged(ZIVOLogLevelWarning, "Unable to set storage size after the application has configured Rur Idurev"));
}

}  // namespace
