// The scripted biometric device: which policies a context can evaluate, the biometry type, each
// scripted answer and a held one, the reuse of a recent device unlock, and replies that always
// arrive off the main thread; the store's rating requests recorded through the requester.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/services/local_authentication.h"
#include "platform/services/store_review.h"

using namespace services;

namespace {

struct Biometric : ::testing::Test {
    dispatch::ScopedVirtualClock clock{1'760'000'000.0};
    Biometrics& device = Biometrics::shared();
    void SetUp() override {
        dispatch::RunLoop::main();
        device.reset();
    }
    void TearDown() override {
        clock->runUntilIdle();
        device.reset();
    }
    struct Reply {
        std::atomic<int> calls{0};
        std::atomic<bool> success{false}, onMain{true};
        std::atomic<int64_t> code{0};
    };
    void evaluate(Reply& r, double reuse = 0, int policy = kPolicyDeviceOwnerAuthenticationWithBiometrics) {
        LAContext context;
        context.setTouchIDAuthenticationAllowableReuseDuration(reuse);
        const auto mainThread = std::this_thread::get_id();
        context.evaluatePolicy(policy, "Authenticate to unlock",
                               [&r, mainThread](bool ok, std::optional<foundation::Error> error) {
                                   r.onMain = std::this_thread::get_id() == mainThread;
                                   r.success = ok;
                                   r.code = error ? error->code : 0;
                                   ++r.calls;
                               });
    }
};

}  // namespace

TEST_F(Biometric, PoliciesAndBiometryTypeAreWhatTheDeviceReports) {
    LAContext context;
    std::optional<foundation::Error> error;
    EXPECT_FALSE(context.canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kLAErrorBiometryNotAvailable);
    EXPECT_EQ(error->domain, kLocalAuthenticationErrorDomain);

    device.setCanEvaluate({kPolicyDeviceOwnerAuthenticationWithBiometrics}, kLAErrorBiometryNotEnrolled);
    device.setBiometryType(BiometryType::FaceID);
    EXPECT_TRUE(context.canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics, &error));
    EXPECT_FALSE(error);
    EXPECT_EQ(context.biometryType(), BiometryType::FaceID);
    EXPECT_FALSE(context.canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometricsOrCompanion, &error));
    EXPECT_EQ(error->code, kLAErrorBiometryNotEnrolled);

    context.setTouchIDAuthenticationAllowableReuseDuration(1e9);
    EXPECT_EQ(context.touchIDAuthenticationAllowableReuseDuration(),
              kLATouchIDAuthenticationMaximumAllowableReuseDuration);
    context.setTouchIDAuthenticationAllowableReuseDuration(-3);
    EXPECT_EQ(context.touchIDAuthenticationAllowableReuseDuration(), 0);
}

TEST_F(Biometric, EachScriptedAnswerArrivesOnceOffTheMainThread) {
    device.setCanEvaluate({1, 4});
    struct Case {
        Biometrics::Answer answer;
        bool success;
        int64_t code;
    };
    const Case cases[] = {{Biometrics::Answer::succeed(), true, 0},
                          {Biometrics::Answer::fail(kLAErrorSystemCancel), false, -4},
                          {Biometrics::Answer::fail(-1000), false, -1000},
                          {Biometrics::Answer::fail(kLAErrorUserCancel), false, -2},
                          {Biometrics::Answer::fail(kLAErrorAuthenticationFailed), false, -1}};
    for (const auto& c : cases) {
        device.queueAnswer(c.answer);
        Reply r;
        evaluate(r);
        clock->runUntilIdle();
        EXPECT_EQ(r.calls, 1) << c.code;
        EXPECT_EQ(r.success, c.success);
        EXPECT_EQ(r.code, c.code);
        EXPECT_FALSE(r.onMain) << "replies come from another thread";
    }
    // A policy the device cannot evaluate fails at once with the refusal.
    Reply refused;
    device.setCanEvaluate({1});
    evaluate(refused, 0, kPolicyDeviceOwnerAuthenticationWithBiometricsOrCompanion);
    clock->runUntilIdle();
    EXPECT_EQ(refused.calls, 1);
    EXPECT_EQ(refused.code, kLAErrorBiometryNotAvailable);
    const auto asked = device.evaluations();
    ASSERT_EQ(asked.size(), 6u);
    EXPECT_EQ(asked.back().policy, 4);
    EXPECT_EQ(asked.front().reason, "Authenticate to unlock");
}

TEST_F(Biometric, AnEvaluationWithoutAnAnswerIsHeldUntilTheScriptAnswers) {
    device.setCanEvaluate({1});
    Reply first, second;
    evaluate(first);
    evaluate(second);
    clock->advance(120);
    EXPECT_EQ(first.calls + second.calls, 0);
    EXPECT_EQ(device.heldCount(), 2u);
    EXPECT_TRUE(device.answerHeld(Biometrics::Answer::fail(-2)));
    clock->runUntilIdle();
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(first.code, -2);
    EXPECT_EQ(second.calls, 0) << "in order";
    device.queueAnswer(Biometrics::Answer::succeed());  // taken by the one still held
    clock->runUntilIdle();
    EXPECT_EQ(second.calls, 1);
    EXPECT_TRUE(second.success);
    EXPECT_FALSE(device.answerHeld(Biometrics::Answer::succeed()));
}

TEST_F(Biometric, ARecentDeviceUnlockAnswersWithinTheReuseDuration) {
    device.setCanEvaluate({1});
    device.setDeviceUnlockedAt(dispatch::wallNow() - 29);
    Reply reused, tooOld, noReuse;
    evaluate(reused, 30);
    clock->runUntilIdle();
    EXPECT_TRUE(reused.success);
    EXPECT_TRUE(device.evaluations().back().reusedDeviceUnlock);
    EXPECT_EQ(device.evaluations().back().reuseDuration, 30);
    device.setDeviceUnlockedAt(dispatch::wallNow() - 31);
    evaluate(tooOld, 30);
    evaluate(noReuse, 0);
    clock->runUntilIdle();
    EXPECT_EQ(tooOld.calls + noReuse.calls, 0) << "both wait for the sensor";
    EXPECT_EQ(device.heldCount(), 2u);
    // A device without reuse ignores the duration.
    device.setSupportsReuseDuration(false);
    device.setDeviceUnlockedAt(dispatch::wallNow());
    Reply unsupported;
    evaluate(unsupported, 30);
    clock->runUntilIdle();
    EXPECT_EQ(unsupported.calls, 0);
    EXPECT_EQ(device.evaluations().back().reuseDuration, 0);
}

TEST(StoreReview, RequestsGoToTheRequesterOfTheProcess) {
    dispatch::ScopedVirtualClock clock{1'000.0};
    auto recorder = std::make_shared<RecordedStoreReviewRequests>();
    StoreReviewController::setRequester(recorder);
    StoreReviewController::requestReview();
    clock->advance(5);
    StoreReviewController::requestReview();
    EXPECT_EQ(recorder->requests(), (std::vector<double>{1000.0, 1005.0}));
    StoreReviewController::setRequester(nullptr);
    auto fresh = std::dynamic_pointer_cast<RecordedStoreReviewRequests>(StoreReviewController::requester());
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->requests().empty());
}
