// Captures the SDK's log lines for a test's scope (a custom handler sees every line).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/logger.h"

struct CapturedLine {
    ZIVOLogLevel level;
    std::string tag;
    std::string message;
};

class LogCapture {
public:
    LogCapture() {
        ZIVOLogger::flush();
        ZIVOLogger::setLogHandler([this](const ZIVOLogMessageProvider& provider, ZIVOLogLevel level,
                                         const std::string& tag, const char*, const char*, uint32_t) {
            std::lock_guard lock(mutex_);
            lines_.push_back({level, tag, provider ? provider() : std::string()});
        });
    }
    ~LogCapture() { ZIVOLogger::resetForTesting(); }

    std::vector<CapturedLine> lines() {
        ZIVOLogger::flush();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> messages(ZIVOLogLevel level) {
        std::vector<std::string> out;
        for (const auto& line : lines())
            if (line.level == level) out.push_back(line.message);
        return out;
    }
    bool contains(const std::string& message) {
        for (const auto& line : lines())
            if (line.message == message) return true;
        return false;
    }
    void clear() {
        ZIVOLogger::flush();
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<CapturedLine> lines_;
};
