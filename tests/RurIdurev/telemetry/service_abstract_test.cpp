#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/sdk_state.h"
#include "RurIdurev/RurIdurev/service_abstract.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

class FakeUnit : public ZIVOChannelUnitProtocol {
public:
    void setEnabled(bool isEnabled, bool andDelete) override { calls.emplace_back(isEnabled, andDelete); }
    std::vector<std::pair<bool, bool>> calls;
};

class FakeGroup : public ZIVOChannelGroupProtocol {
public:
    std::shared_ptr<ZIVOChannelUnitProtocol>
    addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration) override {
        configurations.push_back(configuration);
        unit = std::make_shared<FakeUnit>();
        return unit;
    }
    std::vector<ZIVOChannelUnitConfiguration> configurations;
    std::shared_ptr<FakeUnit> unit;
};

class FakeSdk : public ZIVOSdkState {
public:
    bool isSdkConfigured() override { return configured; }
    bool isEnabled() override { return enabled; }
    bool isEnabledStateUpdating() override { return updating; }
    bool configured = true, enabled = true, updating = false;
};

class ZIVOTestService : public ZIVOServiceAbstract {
public:
    explicit ZIVOTestService(int priority = 500) : priority_(priority) {}
    std::string className() const override { return "ZIVOTestService"; }
    std::string serviceName() const override { return "TestService"; }
    std::string logTag() const override { return "RurIdurevTest"; }
    std::string groupId() const override { return "Test"; }
    int initializationPriority() const override { return priority_; }
    std::optional<ZIVOChannelUnitConfiguration> channelUnitConfiguration() const override {
        auto c = ZIVOChannelUnitConfiguration::defaultConfiguration(groupId());
        c.priority = 2;
        c.flushInterval = 1;
        c.batchSizeLimit = 1;
        return c;
    }
    void applyEnabledState(bool isEnabled) override {
        applied.push_back(isEnabled);
        ZIVOServiceAbstract::applyEnabledState(isEnabled);
    }
    std::vector<bool> applied;

private:
    int priority_;
};

class ServiceBase : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        ZIVOSdkState::setCurrent(sdk);
    }
    void TearDown() override {
        ZIVOSdkState::setCurrent(nullptr);
        TelemetryTest::TearDown();
    }
    std::shared_ptr<FakeSdk> sdk = std::make_shared<FakeSdk>();
    std::shared_ptr<FakeGroup> group = std::make_shared<FakeGroup>();
};

}  // namespace

TEST_F(ServiceBase, StartAddsTheUnitAndAppliesTheEnabledState) {
    ZIVOTestService service;
    EXPECT_EQ(service.isEnabledKey(), "TestIsEnabled");
    EXPECT_FALSE(service.isAvailable());
    service.startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
    ASSERT_EQ(group->configurations.size(), 1u);
    EXPECT_EQ(group->configurations[0].groupId, "Test");
    EXPECT_EQ(service.channelUnit(), group->unit);
    EXPECT_EQ(service.applied, std::vector<bool>{true});
    EXPECT_EQ(group->unit->calls, (std::vector<std::pair<bool, bool>>{{true, true}}));
    EXPECT_TRUE(service.isAvailable());
    EXPECT_TRUE(service.isStartedFromApplication());
    EXPECT_EQ(service.appSecret(), "secret");
}

TEST_F(ServiceBase, StoredNoStartsWithoutApplyingButWithAUnit) {
    ZIVORurIdurevUserDefaults::shared()->setObject(false, "TestIsEnabled");
    ZIVOTestService service;
    service.startWithChannelGroup(group, std::string("s"), std::nullopt, false);
    EXPECT_TRUE(service.applied.empty());
    EXPECT_TRUE(group->unit);
    EXPECT_FALSE(service.isAvailable());
    // A later update by the application marks the start as the application's.
    service.updateConfigurationWithAppSecret(std::string("s2"), std::string("t"));
    EXPECT_TRUE(service.isStartedFromApplication());
    EXPECT_TRUE(service.applied.empty());
    EXPECT_EQ(service.defaultTransmissionTargetToken(), "t");
}

TEST_F(ServiceBase, SetEnabledAppliesThenStoresAndSkipsTheSameValue) {
    ZIVOTestService service;
    service.startWithChannelGroup(group, std::string("s"), std::nullopt, true);
    service.applied.clear();
    service.setEnabled(true);
    EXPECT_TRUE(service.applied.empty());
    EXPECT_TRUE(ZIVORurIdurevUserDefaults::shared()->objectForKey("TestIsEnabled").isNull());
    service.classSetEnabled(false);
    EXPECT_EQ(service.applied, std::vector<bool>{false});
    EXPECT_EQ(ZIVORurIdurevUserDefaults::shared()->objectForKey("TestIsEnabled"), foundation::Value(false));
    EXPECT_EQ(group->unit->calls.back(), std::make_pair(false, true));
    EXPECT_FALSE(service.classIsEnabled());
}

TEST_F(ServiceBase, DisabledSdkRefusesBothValuesUnlessTheFacadeIsSwitching) {
    LogCapture capture;
    ZIVOTestService service;
    service.startWithChannelGroup(group, std::string("s"), std::nullopt, true);
    service.applied.clear();
    sdk->enabled = false;
    service.classSetEnabled(false);
    service.classSetEnabled(true);
    EXPECT_TRUE(service.applied.empty());
    auto errors = capture.messages(ZIVOLogLevelError);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0],
              "The SDK is disabled. Re-enable the whole SDK from RurIdurev first before enabling TestService service.");
    sdk->updating = true;
    service.classSetEnabled(false);
    EXPECT_EQ(service.applied, std::vector<bool>{false});
}

TEST_F(ServiceBase, NotStartedServiceCannotBeUsed) {
    LogCapture capture;
    ZIVOTestService service;
    EXPECT_FALSE(service.classIsEnabled());
    sdk->configured = false;
    service.startWithChannelGroup(group, std::nullopt, std::nullopt, true);
    EXPECT_FALSE(service.classIsEnabled());
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].tag, "RurIdurevTest");
    EXPECT_EQ(lines[0].message,
              "TestService service hasn't been started. You need to call [ZIVORurIdurev start:YOUR_APP_SECRET "
              "withServices:LIST_OF_SERVICES] first.");
}

TEST(ServiceOrder, StableByDescendingPriority) {
    std::vector<std::shared_ptr<ZIVOServiceAbstract>> services;
    std::vector<ZIVOServiceAbstract*> equal;
    for (int i = 0; i < 40; ++i) {
        services.push_back(std::make_shared<ZIVOTestService>(i % 3 == 0 ? 999 : 500));
        if (i % 3 != 0) equal.push_back(services.back().get());
    }
    ZIVOServiceAbstract::sortByInitializationPriority(services);
    for (size_t i = 0; i < 14; ++i) EXPECT_EQ(services[i]->initializationPriority(), 999);
    // Equal priorities keep the order in which they were given.
    for (size_t i = 0; i < equal.size(); ++i) EXPECT_EQ(services[14 + i].get(), equal[i]);
}
