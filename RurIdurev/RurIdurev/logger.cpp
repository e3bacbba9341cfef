#include "RurIdurev/RurIdurev/logger.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/dispatch/dispatch.h"

namespace {

struct LoggerState {
    std::mutex mutex;
    ZIVOLogLevel level = ZIVOLogLevelAssert;
    bool userDefined = false;
    ZIVOLogHandler handler;
    std::function<void(const std::string&)> sink;
    std::shared_ptr<dispatch::Queue> queue;
};

LoggerState& state() {
    // Made on first use, like the class initialisation that installs the default handler.
    static LoggerState* s = [] {
        auto* st = new LoggerState;
        st->handler = ZIVOLogger::defaultLogHandler();
        st->queue = dispatch::Queue::serial("com.dorazadav.ruridurev.loggerQueue");
        return st;
    }();
    return *s;
}

std::string processName() {
    char buffer[256] = {};
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "process";
    std::string path(buffer, static_cast<size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void writeToSystemLog(const std::string& line) {
    std::function<void(const std::string&)> sink;
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        sink = s.sink;
    }
    if (sink) {
        sink(line);
        return;
    }
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    struct tm local {};
    ::localtime_r(&tv.tv_sec, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    static const std::string name = processName();
    std::fprintf(stderr, "%s.%03d %s[%d] %s\n", stamp, static_cast<int>(tv.tv_usec / 1000), name.c_str(),
                 static_cast<int>(::getpid()), line.c_str());
}

}  // namespace

const char* ZIVOLogger::levelName(ZIVOLogLevel level) {
    switch (level) {
        case ZIVOLogLevelVerbose:
            return "VERBOSE";
        case ZIVOLogLevelDebug:
            return "DEBUG";
        case ZIVOLogLevelInfo:
            return "INFO";
        case ZIVOLogLevelWarning:
            return "WARNING";
        case ZIVOLogLevelError:
            return "ERROR";
        case ZIVOLogLevelAssert:
            return "ASSERT";
        default:
            return "";
    }
}

ZIVOLogHandler ZIVOLogger::defaultLogHandler() {
    return [](const ZIVOLogMessageProvider& provider, ZIVOLogLevel level, const std::string& tag, const char*,
              const char* function, uint32_t line) {
        if (!provider || static_cast<unsigned>(currentLogLevel()) > static_cast<unsigned>(level)) return;
        if (level == ZIVOLogLevelNone) return;
        std::string text = "[" + tag + "] " + levelName(level) + ": " + (function ? function : "") + "/" +
                           std::to_string(static_cast<int>(line)) + " " + provider();
        writeToSystemLog(text);
    };
}

void ZIVOLogger::logMessage(ZIVOLogMessageProvider messageProvider, ZIVOLogLevel level, std::string tag,
                            const char* file, const char* function, uint32_t line) {
    auto& s = state();
    std::shared_ptr<dispatch::Queue> queue;
    {
        std::lock_guard lock(s.mutex);
        if (!s.handler) return;
        queue = s.queue;
    }
    queue->async([provider = std::move(messageProvider), level, tag = std::move(tag), file, function, line] {
        ZIVOLogHandler handler = logHandler();
        if (handler) handler(provider, level, tag, file, function, line);
    });
}

ZIVOLogLevel ZIVOLogger::currentLogLevel() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.level;
}

void ZIVOLogger::setCurrentLogLevel(ZIVOLogLevel level) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.userDefined = true;
    s.level = level;
}

ZIVOLogHandler ZIVOLogger::logHandler() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.handler;
}

void ZIVOLogger::setLogHandler(ZIVOLogHandler handler) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.userDefined = true;
    s.handler = std::move(handler);
}

bool ZIVOLogger::isUserDefinedLogLevel() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.userDefined;
}

void ZIVOLogger::setIsUserDefinedLogLevel(bool value) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.userDefined = value;
}

void ZIVOLogger::setSystemLogSink(std::function<void(const std::string&)> sink) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.sink = std::move(sink);
}

void ZIVOLogger::flush() {
    loggerQueue()->sync([] {});
}

void ZIVOLogger::resetForTesting() {
    flush();
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.level = ZIVOLogLevelAssert;
    s.userDefined = false;
    s.handler = defaultLogHandler();
}

std::shared_ptr<dispatch::Queue> ZIVOLogger::loggerQueue() { return state().queue; }
