// The run's wait for what goes over sockets under time-outs of the virtual clock (a text asked of
// the service's route, a background fetch on a session of its own): in real time, with the clock
// standing still, so that a reply later than the run loop's short polls (a slower build's) is
// still taken instead of the clock being stepped on to the request's time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "app/run_device.h"
#include "emulator/emulator.h"
#include "emulator/incoming_texts.h"
#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/testing/input_script.h"

namespace {

struct Asked {
    bool delivered = false;
    std::string line;
};

TEST(RunWait, ALateReplyIsTakenWithTheClockStillAndOneThatNeverComesEndsTheWaitNamingIt) {
    dispatch::ScopedVirtualClock clock;
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    const double startedAt = clock->now();
    auto ask = [&] {
        auto asked = std::make_shared<std::optional<Asked>>();
        hxrun::askServiceForText(service.origin(), false, [asked](bool delivered, const std::string& line) {
            *asked = Asked{delivered, line};
        });
        return asked;
    };

    // The route answers 0.4 s late: long after a poll of the run loop found nothing to read.
    service.inject(emulator::Fault::Slow, emulator::kDeliverTextPath, 1, 0.4);
    auto late = ask();
    const auto began = std::chrono::steady_clock::now();
    auto waited = hxrun::waitInRealTime(
        *clock, [&] { return late->has_value(); }, 20, "answer from the service");
    ASSERT_TRUE(waited) << waited.error().localizedDescription();
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(350));
    EXPECT_TRUE((*late)->delivered) << (*late)->line;
    EXPECT_EQ((*late)->line.rfind("a text arrived from +", 0), 0u) << (*late)->line;
    EXPECT_EQ(clock->now(), startedAt) << "the clock stood still";

    // Held until released: the wait ends after its real time, saying what did not come.
    service.inject(emulator::Fault::Slow, emulator::kDeliverTextPath);
    auto held = ask();
    waited = hxrun::waitInRealTime(
        *clock, [&] { return held->has_value(); }, 0.5, "answer from the service");
    ASSERT_FALSE(waited);
    EXPECT_EQ(waited.error().localizedDescription(), "no answer from the service within 0.5 s");
    EXPECT_FALSE(held->has_value());
    EXPECT_EQ(clock->now(), startedAt);
    // Let go, it still arrives.
    service.releaseHeld();
    waited = hxrun::waitInRealTime(
        *clock, [&] { return held->has_value(); }, 20, "answer from the service");
    ASSERT_TRUE(waited) << waited.error().localizedDescription();
    EXPECT_TRUE((*held)->delivered) << (*held)->line;
}

// The run's clock keeps pace with real time while a request is out: a script's wait-idle and
// wait-frames, which step the clock from timer to timer, take a reply that comes in real time
// before the request's 10 s time-out on the clock, however slowly the program runs meanwhile.
TEST(RunWait, AScriptsWaitsTakeALateReplyBeforeTheRequestsTimeOut) {
    toolkit::testing::Harness harness;
    harness.clock().setPacedByRealIO(true);  // as the headless run sets its clock
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    struct Case {
        const char* script;
        bool idleWhenAnswered;  // wait-idle waits for the answer; wait-frames only for its frames
    };
    for (const Case& k : {Case{"wait-idle\n", true}, Case{"wait-frames 600\nwait-frames 600\n", false}}) {
        // The route answers 0.8 s late: far more than the clock needs to reach the time-out when
        // it steps straight to it.
        service.inject(emulator::Fault::Slow, emulator::kDeliverTextPath, 1, 0.8);
        auto asked = std::make_shared<std::optional<Asked>>();
        hxrun::askServiceForText(service.origin(), false, [asked](bool delivered, const std::string& line) {
            *asked = Asked{delivered, line};
        });
        const double startedAt = harness.clock().now();
        auto script = toolkit::testing::parseInputScript(k.script);
        ASSERT_TRUE(script.ok()) << k.script;
        const auto played = toolkit::testing::playInputScript(
            harness, *script, [&] { return !k.idleWhenAnswered || asked->has_value(); }, 30);
        ASSERT_TRUE(played) << k.script << played.error().localizedDescription();
        ASSERT_TRUE(asked->has_value()) << k.script;
        EXPECT_TRUE((*asked)->delivered) << k.script << (*asked)->line;
        if (!k.idleWhenAnswered) {
            EXPECT_NEAR(harness.clock().now() - startedAt, 20.0, 1e-6) << "every frame was played";
        }
    }
}

}  // namespace
