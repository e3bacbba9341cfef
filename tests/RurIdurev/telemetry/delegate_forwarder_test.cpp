#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/DelegateForwarder/app_delegate_forwarder.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "tests/RurIdurev/telemetry/log_capture.h"

namespace {

class Forwarder : public ::testing::Test {
protected:
    void SetUp() override {
        ZIVODelegateForwarder::resetTraceBufferForTesting();
        ZIVOAppDelegateForwarder::resetSharedInstance();
    }
    void TearDown() override {
        zivo_platform::setInfoValueForTesting(kZIVOAppDelegateForwarderEnabledKey, {});
        ZIVOAppDelegateForwarder::resetSharedInstance();
        ZIVODelegateForwarder::resetTraceBufferForTesting();
    }
};

// A service delegate that records the returned value it saw and answers a fixed value.
class RecordingDelegate : public ZIVOCustomApplicationDelegate {
public:
    explicit RecordingDelegate(bool answer) : answer_(answer) {}
    std::optional<bool> application(const std::string& url, const foundation::Dictionary&,
                                    bool returnedValue) override {
        seen.push_back(returnedValue);
        lastUrl = url;
        return answer_;
    }
    std::vector<bool> seen;
    std::string lastUrl;

private:
    bool answer_;
};

std::shared_ptr<ZIVODelegateImplementations> appDelegate(std::initializer_list<std::string> selectors, bool answer) {
    auto impl = std::make_shared<ZIVODelegateImplementations>();
    impl->className = "HXAppDelegate";
    for (const auto& s : selectors) impl->methods[s] = [answer](const ZIVODelegateCall&) { return answer; };
    return impl;
}

}  // namespace

TEST_F(Forwarder, SwitchLineWaitsForTheFirstLogLevel) {
    LogCapture capture;
    auto forwarder = ZIVOAppDelegateForwarder::sharedInstance();
    EXPECT_TRUE(forwarder->enabled());
    EXPECT_TRUE(capture.lines().empty());
    ZIVODelegateForwarder::flushTraceBuffer();
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].message, "Start buffering traces.");
    EXPECT_EQ(
        lines[1].message,
        "Delegate forwarder for info.plist key 'RurIdurevAppDelegateForwarderEnabled' enabled. It may use swizzling.");
    EXPECT_EQ(lines[1].level, ZIVOLogLevelDebug);
    EXPECT_EQ(lines[2].message, "Stop buffering traces, flushed.");
    // Later flushes do nothing; later traces are written at once.
    ZIVODelegateForwarder::flushTraceBuffer();
    ZIVODelegateForwarder::addTraceBlock([] { ZIVOLogDebug(kZIVOLogTag, std::string("now")); });
    lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].message, "now");
}

TEST_F(Forwarder, DisabledByInfoSwitch) {
    LogCapture capture;
    zivo_platform::setInfoValueForTesting(kZIVOAppDelegateForwarderEnabledKey, false);
    auto forwarder = ZIVOAppDelegateForwarder::sharedInstance();
    EXPECT_FALSE(forwarder->enabled());
    auto delegate = std::make_shared<RecordingDelegate>(true);
    forwarder->addDelegate(delegate);
    forwarder->addDelegateSelectorToSwizzle(kZIVOOpenURLOptionsSelector);
    forwarder->setDelegate(appDelegate({kZIVOOpenURLOptionsSelector}, false));
    // The application's own answer; the service delegate never hears of the call.
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://a", {})), false);
    EXPECT_TRUE(delegate->seen.empty());
    ZIVODelegateForwarder::flushTraceBuffer();
    EXPECT_TRUE(capture.contains("Delegate forwarder for info.plist key 'RurIdurevAppDelegateForwarderEnabled' "
                                 "disabled. It won't use swizzling."));
}

TEST_F(Forwarder, DisablingRemovesRegisteredDelegates) {
    auto forwarder = ZIVOAppDelegateForwarder::sharedInstance();
    auto delegate = std::make_shared<RecordingDelegate>(true);
    forwarder->addDelegate(delegate);
    forwarder->addDelegateSelectorToSwizzle(kZIVOOpenURLOptionsSelector);
    forwarder->setDelegate(appDelegate({kZIVOOpenURLOptionsSelector}, false));
    forwarder->setEnabled(false);
    forwarder->setEnabled(true);
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://a", {})), false);
    EXPECT_TRUE(delegate->seen.empty());
}

TEST_F(Forwarder, ReturnedValueChainsThroughTheDelegates) {
    LogCapture capture;
    auto forwarder = ZIVOAppDelegateForwarder::sharedInstance();
    auto first = std::make_shared<RecordingDelegate>(true);
    auto second = std::make_shared<RecordingDelegate>(false);
    forwarder->addDelegateSelectorToSwizzle(kZIVOOpenURLOptionsSelector);
    forwarder->setDelegate(appDelegate({kZIVOOpenURLOptionsSelector}, false));
    // With no delegate, the application's own answer goes back unchanged.
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://a", {})), false);

    forwarder->addDelegate(first);
    forwarder->addDelegate(second);
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://b", {})), false);
    ASSERT_EQ(first->seen, std::vector<bool>{false});
    ASSERT_EQ(second->seen, std::vector<bool>{true});  // the first one's answer
    EXPECT_EQ(second->lastUrl, "hx://b");

    // A released delegate drops out of the chain.
    second.reset();
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://c", {})), true);

    // A delegate that does not implement the call passes the value through.
    forwarder->addDelegate(std::make_shared<ZIVOCustomApplicationDelegate>());
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://d", {})), true);

    ZIVODelegateForwarder::flushTraceBuffer();
    EXPECT_TRUE(capture.contains("Selector 'application:openURL:options:' of class 'HXAppDelegate' is swizzled."));
}

TEST_F(Forwarder, OlderApiOnlyGetsNoNewMethodAndAWarning) {
    LogCapture capture;
    auto forwarder = ZIVOAppDelegateForwarder::sharedInstance();
    auto delegate = std::make_shared<RecordingDelegate>(true);
    forwarder->addDelegate(delegate);
    forwarder->addDelegateSelectorToSwizzle(kZIVOOpenURLOptionsSelector);
    forwarder->addDelegateSelectorToSwizzle(kZIVOOpenURLSourceApplicationSelector);
    forwarder->setDelegate(appDelegate({kZIVOOpenURLSourceApplicationSelector}, true));
    // The newer call is not taken over (the application does not answer it at all).
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://a", {})), std::nullopt);
    EXPECT_TRUE(delegate->seen.empty());
    // The older one is.
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://a", std::string("src"), {})), true);
    ZIVODelegateForwarder::flushTraceBuffer();
    auto warnings = capture.messages(ZIVOLogLevelWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(
        warnings[0],
        "Cannot swizzle selector 'application:openURL:options:' of class 'HXAppDelegate'. No implementation found "
        "for this selector, though an implementation of its deprecated API "
        "'application:openURL:sourceApplication:annotation:' exists.");
}

TEST_F(Forwarder, NothingRegisteredMeansPlainDelivery) {
    auto forwarder = ZIVOAppDelegateForwarder::sharedInstance();
    forwarder->setDelegate(appDelegate({kZIVOOpenURLOptionsSelector}, true));
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://a", {})), true);
    EXPECT_EQ(forwarder->forward(ZIVOAppDelegateForwarder::openURLCall("hx://a", std::nullopt, {})), std::nullopt);
}
