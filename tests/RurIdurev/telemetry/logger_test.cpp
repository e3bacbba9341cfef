#include <gtest/gtest.h>

#include <atomic>

#include "RurIdurev/RurIdurev/logger.h"
#include "tests/RurIdurev/telemetry/log_capture.h"

namespace {

class DefaultHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZIVOLogger::resetForTesting();
        ZIVOLogger::setSystemLogSink([this](const std::string& line) {
            std::lock_guard lock(mutex);
            written.push_back(line);
        });
    }
    void TearDown() override {
        ZIVOLogger::flush();
        ZIVOLogger::setSystemLogSink(nullptr);
        ZIVOLogger::resetForTesting();
    }
    std::vector<std::string> lines() {
        ZIVOLogger::flush();
        std::lock_guard lock(mutex);
        return written;
    }
    std::mutex mutex;
    std::vector<std::string> written;
};

}  // namespace

TEST_F(DefaultHandlerTest, InitialLevelWritesOnlyAssertLinesInTheFixedFormat) {
    EXPECT_EQ(ZIVOLogger::currentLogLevel(), ZIVOLogLevelAssert);
    EXPECT_FALSE(ZIVOLogger::isUserDefinedLogLevel());
    ZIVOLogger::logMessage([] { return "dropped"; }, ZIVOLogLevelError, "RurIdurev", "f.cpp", "fn", 1);
    ZIVOLogger::logMessage([] { return "kept"; }, ZIVOLogLevelAssert, "RurIdurev", "f.cpp", "configure", 42);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0], "[RurIdurev] ASSERT: configure/42 kept");
}

TEST_F(DefaultHandlerTest, LevelFiltersAndNoneSilences) {
    ZIVOLogger::setCurrentLogLevel(ZIVOLogLevelWarning);
    EXPECT_TRUE(ZIVOLogger::isUserDefinedLogLevel());
    std::atomic<int> built{0};
    auto provider = [&built] {
        ++built;
        return std::string("m");
    };
    ZIVOLogger::logMessage(provider, ZIVOLogLevelInfo, "T", "", "f", 1);
    ZIVOLogger::logMessage(provider, ZIVOLogLevelWarning, "T", "", "f", 2);
    ZIVOLogger::logMessage(provider, ZIVOLogLevelError, "T", "", "f", 3);
    ZIVOLogger::logMessage(provider, ZIVOLogLevelNone, "T", "", "f", 4);
    auto out = lines();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "[T] WARNING: f/2 m");
    EXPECT_EQ(out[1], "[T] ERROR: f/3 m");
    // Lines below the level never build their text.
    EXPECT_EQ(built.load(), 2);

    ZIVOLogger::setCurrentLogLevel(ZIVOLogLevelNone);
    ZIVOLogger::logMessage(provider, ZIVOLogLevelAssert, "T", "", "f", 5);
    ZIVOLogger::logMessage(provider, ZIVOLogLevelNone, "T", "", "f", 6);
    EXPECT_EQ(lines().size(), 2u);

    // Even at the lowest level a line at None is never written.
    ZIVOLogger::setCurrentLogLevel(static_cast<ZIVOLogLevel>(0));
    ZIVOLogger::logMessage(provider, ZIVOLogLevelNone, "T", "", "f", 7);
    // A level without a name is written without one.
    ZIVOLogger::logMessage(provider, static_cast<ZIVOLogLevel>(9), "T", "", "f", 8);
    out = lines();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "[T] : f/8 m");
}

TEST(Logger, CustomHandlerSeesEveryLineInOrderAndMarksTheLevelUserDefined) {
    ZIVOLogger::resetForTesting();
    EXPECT_FALSE(ZIVOLogger::isUserDefinedLogLevel());
    LogCapture capture;
    EXPECT_TRUE(ZIVOLogger::isUserDefinedLogLevel());
    for (int i = 0; i < 200; ++i) ZIVOLogVerbose("RurIdurev", "line " + std::to_string(i));
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(lines[i].message, "line " + std::to_string(i));
        EXPECT_EQ(lines[i].level, ZIVOLogLevelVerbose);
    }
}

TEST(Logger, NoHandlerDropsLinesWithoutBuildingThem) {
    ZIVOLogger::resetForTesting();
    std::atomic<int> built{0};
    // A handler that blocks the queue until released, so that lines pile up behind it.
    std::mutex gate;
    gate.lock();
    ZIVOLogger::setLogHandler(
        [&](const ZIVOLogMessageProvider& p, ZIVOLogLevel, const std::string&, const char*, const char*, uint32_t) {
            std::lock_guard lock(gate);
            p();
        });
    ZIVOLogger::logMessage(
        [&] {
            ++built;
            return std::string("a");
        },
        ZIVOLogLevelAssert, "T", "", "f", 1);
    ZIVOLogger::logMessage(
        [&] {
            ++built;
            return std::string("b");
        },
        ZIVOLogLevelAssert, "T", "", "f", 2);
    // Lines already queued are dropped once the handler is gone; new ones are not even queued.
    ZIVOLogger::setLogHandler(nullptr);
    ZIVOLogger::logMessage(
        [&] {
            ++built;
            return std::string("c");
        },
        ZIVOLogLevelAssert, "T", "", "f", 3);
    gate.unlock();
    ZIVOLogger::flush();
    EXPECT_LE(built.load(), 1);  // at most the line the handler was already holding
    ZIVOLogger::resetForTesting();
}
