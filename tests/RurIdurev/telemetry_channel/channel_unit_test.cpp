// The channel unit's flush decisions, batches in flight, pause lanes and filters, with a fake
// ingestion that holds replies until the test answers them, over the real store.
#include <algorithm>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"
#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/dispatch/dispatch.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurev/telemetry_channel/start_service_logs.h"

namespace {

struct FakeIngestion : ZIVOIngestionProtocol {
    struct Sent {
        std::shared_ptr<ZIVOLogContainer> container;
        ZIVOSendAsyncCompletionHandler completion;
    };
    std::mutex mutex;
    std::vector<Sent> sent;
    void sendAsync(const std::shared_ptr<ZIVOLogContainer>& c, const ZIVOSendAsyncCompletionHandler& h) override {
        std::lock_guard lock(mutex);
        sent.push_back({c, h});
    }
    bool isReadyToSend() override { return true; }
    bool isEnabled() override { return true; }
    void setEnabled(bool, bool) override {}
    size_t count() {
        std::lock_guard lock(mutex);
        return sent.size();
    }
    void answer(size_t index, int status) {
        Sent s;
        {
            std::lock_guard lock(mutex);
            s = sent.at(index);
        }
        net::HTTPURLResponse response;
        response.statusCode = status;
        s.completion(s.container->batchId().value_or(""), response, std::nullopt, std::nullopt);
    }
};

struct Filter : ZIVOChannelDelegate {
    std::atomic<int> completed{0};
    bool channelUnitShouldFilterLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log) override {
        return log->sid() == std::optional<std::string>("drop");
    }
    void channelDidCompleteEnqueueingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&,
                                         const std::string&) override {
        ++completed;
    }
};

using hxtest::makeLog;

class ChannelUnitTest : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        std::filesystem::create_directories(dir / "resources");
        writeVersionedInfo();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVODeviceTracker::resetSharedInstance();
        storage = std::make_shared<ZIVOLogDBStorage>();
        queue = dispatch::Queue::serial(kZIVOChannelGroupQueueLabel);
    }
    std::shared_ptr<ZIVOChannelUnitDefault> makeUnit(double interval, size_t batch, size_t pending) {
        ZIVOChannelUnitConfiguration c;
        c.groupId = "G";
        c.flushInterval = interval;
        c.batchSizeLimit = batch;
        c.pendingBatchesLimit = pending;
        return ZIVOChannelUnitDefault::create(ingestion, storage, c, queue);
    }

    dispatch::ScopedVirtualClock clock;
    std::shared_ptr<FakeIngestion> ingestion = std::make_shared<FakeIngestion>();
    std::shared_ptr<ZIVOLogDBStorage> storage;
    dispatch::QueuePtr queue;
};

TEST_F(ChannelUnitTest, OneSecondUnitNeverFlushesOnCount) {
    auto unit = makeUnit(1, 1, 3);
    unit->enqueueItem(makeLog("a"), 2);
    clock->runUntilIdle();
    EXPECT_EQ(ingestion->count(), 0u);
    clock->advance(1);
    EXPECT_EQ(ingestion->count(), 1u);
}

TEST_F(ChannelUnitTest, ABatchWaitingInTheIngestionDoesNotKeepTheUnitAlive) {
    auto unit = makeUnit(6, 1, 3);
    unit->enqueueItem(makeLog("a"), 1);
    clock->runUntilIdle();
    ASSERT_EQ(ingestion->count(), 1u);
    std::weak_ptr<ZIVOChannelUnitDefault> weak = unit;
    unit.reset();
    clock->runUntilIdle();
    EXPECT_TRUE(weak.expired());
    ingestion->answer(0, 200);  // a late reply for a unit that is gone is dropped
    clock->runUntilIdle();
    EXPECT_EQ(storage->countLogs(), 1u);
}

TEST_F(ChannelUnitTest, BatchesInFlightAreBoundedAndASuccessFlushesAgain) {
    auto unit = makeUnit(6, 1, 3);
    for (int i = 0; i < 5; ++i) unit->enqueueItem(makeLog("l" + std::to_string(i)), 1);
    clock->runUntilIdle();
    ASSERT_EQ(ingestion->count(), 3u);  // the 6-second unit flushes on count, up to three batches
    ingestion->answer(0, 200);          // a success that frees a slot flushes the waiting logs
    clock->runUntilIdle();
    ASSERT_EQ(ingestion->count(), 4u);
    EXPECT_EQ(storage->countLogs(), 4u);
    ingestion->answer(1, 500);  // a recoverable failure frees a slot without a flush
    clock->runUntilIdle();
    EXPECT_EQ(ingestion->count(), 4u);
    EXPECT_EQ(storage->countLogs(), 4u);
    // The next save sends what waits, but never the batch that failed in this run.
    unit->enqueueItem(makeLog("l5"), 1);
    clock->runUntilIdle();
    ASSERT_EQ(ingestion->count(), 5u);
    std::vector<std::string> sids;
    for (size_t i = 0; i < 5; ++i) sids.push_back(ingestion->sent[i].container->logs()[0]->sid().value_or(""));
    EXPECT_EQ(sids, (std::vector<std::string>{"l0", "l1", "l2", "l3", "l4"}));
    for (size_t i : {2u, 3u, 4u}) ingestion->answer(i, 200);
    clock->runUntilIdle();
    EXPECT_EQ(ingestion->count(), 6u);
    EXPECT_EQ(ingestion->sent[5].container->logs()[0]->sid(), std::optional<std::string>("l5"));
}

TEST_F(ChannelUnitTest, PauseLanesAndFilters) {
    auto unit = makeUnit(1, 50, 3);
    auto filter = std::make_shared<Filter>();
    unit->addDelegate(filter);
    auto a = std::make_shared<int>(1), b = std::make_shared<int>(2);
    unit->pauseWithIdentifyingObject(a);
    unit->pauseWithIdentifyingObject(b);
    unit->enqueueItem(makeLog("keep"), 1);
    unit->enqueueItem(makeLog("drop"), 1);
    clock->runUntilIdle();
    EXPECT_EQ(filter->completed.load(), 2);
    EXPECT_EQ(storage->countLogs(), 1u);
    unit->resumeWithIdentifyingObject(a);
    clock->advance(2);
    EXPECT_EQ(ingestion->count(), 0u);
    unit->resumeWithIdentifyingObject(b);
    clock->runUntilIdle();
    clock->advance(1);
    ASSERT_EQ(ingestion->count(), 1u);
    EXPECT_EQ(ingestion->sent[0].container->logs().size(), 1u);
}

TEST_F(ChannelUnitTest, TheSaveAnswerIsTheStoresOwnResult) {
    auto unit = makeUnit(1, 50, 3);
    auto filter = std::make_shared<Filter>();
    unit->addDelegate(filter);
    // A log refused at once is answered on the caller's thread, the others on the log queue.
    std::mutex mutex;
    std::vector<std::pair<std::string, bool>> answers;
    auto record = [&](std::string what) {
        return [&, what](bool saved) {
            std::lock_guard lock(mutex);
            answers.emplace_back(what, saved);
        };
    };
    unit->enqueueItem(makeLog("keep"), 1, record("kept"));
    unit->enqueueItem(makeLog("drop"), 1, record("filtered"));
    unit->enqueueItem(nullptr, 1, record("invalid"));
    clock->runUntilIdle();
    EXPECT_EQ(filter->completed.load(), 2) << "completion fires for the filtered log too";
    std::sort(answers.begin(), answers.end());
    EXPECT_EQ(answers,
              (std::vector<std::pair<std::string, bool>>{{"filtered", false}, {"invalid", false}, {"kept", true}}));
    EXPECT_EQ(storage->countLogs(), 1u);
}

TEST_F(ChannelUnitTest, LongIntervalKeepsItsPeriodAcrossLaunches) {
    auto defaults = ZIVORurIdurevUserDefaults::shared();
    defaults->setObject(foundation::Date{dispatch::wallNow() - 3590}, "ChannelStartTimer:G");
    auto unit = makeUnit(3600, 50, 3);
    unit->enqueueItem(makeLog("a"), 1);
    clock->runUntilIdle();
    clock->advance(9);
    EXPECT_EQ(ingestion->count(), 0u);
    clock->advance(1.5);
    EXPECT_EQ(ingestion->count(), 1u);
    EXPECT_TRUE(defaults->objectForKey("ChannelStartTimer:G").isNull());
}

}  // namespace
