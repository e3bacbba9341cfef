// The one way the telemetry SDK and the crash reporting service write diagnostic lines. Call
// sites hand over a provider that builds the text, so a line below the level costs one queued
// task and no formatting. Lines are handled one at a time, in call order, on a serial queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dispatch {
class Queue;
}

enum ZIVOLogLevel : unsigned {
    ZIVOLogLevelVerbose = 2,
    ZIVOLogLevelDebug = 3,
    ZIVOLogLevelInfo = 4,
    ZIVOLogLevelWarning = 5,
    ZIVOLogLevelError = 6,
    ZIVOLogLevelAssert = 7,
    ZIVOLogLevelNone = 99,
};

using ZIVOLogMessageProvider = std::function<std::string()>;
using ZIVOLogHandler =
    std::function<void(const ZIVOLogMessageProvider& messageProvider, ZIVOLogLevel level, const std::string& tag,
                       const char* file, const char* function, uint32_t line)>;

class ZIVOLogger {
public:
    ZIVOLogger() = delete;

    // Queues the line and returns at once; the provider runs later on the logger queue, so it
    // must own what it reads (capture by value).
    static void logMessage(ZIVOLogMessageProvider messageProvider, ZIVOLogLevel level, std::string tag,
                           const char* file, const char* function, uint32_t line);

    static ZIVOLogLevel currentLogLevel();
    static void setCurrentLogLevel(ZIVOLogLevel level);
    // An empty handler stops all logging, including lines already queued.
    static ZIVOLogHandler logHandler();
    static void setLogHandler(ZIVOLogHandler handler);
    static bool isUserDefinedLogLevel();
    static void setIsUserDefinedLogLevel(bool value);

    // The handler installed at start: filters by the current level and writes
    // "[tag] LEVEL: function/line message" to the system log.
    static ZIVOLogHandler defaultLogHandler();
    // The level's printed name, "" for a level without one.
    static const char* levelName(ZIVOLogLevel level);

    // Where the default handler's lines go (standard error with a time stamp and the process
    // name, as the system log shows them). Tests capture lines here; empty restores standard error.
    static void setSystemLogSink(std::function<void(const std::string& line)> sink);
    // Blocks until every line queued so far has been handled.
    static void flush();
    // Back to the state at start: level Assert, default handler, not user-defined.
    static void resetForTesting();

    static std::shared_ptr<dispatch::Queue> loggerQueue();
};

// Call-site helpers: the message expression is evaluated lazily, on the logger queue, with
// everything it names captured by value.
#define ZIVO_LOG(level, tag, ...)                                                                                      \
    ZIVOLogger::logMessage([=]() -> std::string { return (__VA_ARGS__); }, (level), (tag), __FILE__, __func__,         \
                           static_cast<uint32_t>(__LINE__))
#define ZIVOLogVerbose(tag, ...) ZIVO_LOG(ZIVOLogLevelVerbose, tag, __VA_ARGS__)
#define ZIVOLogDebug(tag, ...) ZIVO_LOG(ZIVOLogLevelDebug, tag, __VA_ARGS__)
#define ZIVOLogInfo(tag, ...) ZIVO_LOG(ZIVOLogLevelInfo, tag, __VA_ARGS__)
#define ZIVOLogWarning(tag, ...) ZIVO_LOG(ZIVOLogLevelWarning, tag, __VA_ARGS__)
#define ZIVOLogError(tag, ...) ZIVO_LOG(ZIVOLogLevelError, tag, __VA_ARGS__)
#define ZIVOLogAssert(tag, ...) ZIVO_LOG(ZIVOLogLevelAssert, tag, __VA_ARGS__)

// The core's log tag.
inline constexpr const char* kZIVOLogTag = "RurIdurev";
