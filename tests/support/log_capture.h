// Takes the fault lines the process logs for as long as it lives, so a test can count them.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/log.h"

namespace hxtest {

class LogCapture {
public:
    LogCapture() {
        previous_ = foundation::setLogSink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { foundation::setLogSink(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    foundation::LogSink previous_;
};

}  // namespace hxtest
