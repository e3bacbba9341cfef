#include "platform/foundation/log.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace foundation {

namespace {

// Never destroyed: other objects' destructors run at exit (the standard preferences save there)
// and may still log or clear a fault after this file's statics would have gone.
std::mutex& logMutex() {
    static auto* m = new std::mutex;
    return *m;
}

LogSink& sinkSlot() {
    static auto* sink = new LogSink;
    return *sink;
}

std::set<std::string, std::less<>>& reportedKinds() {
    static auto* kinds = new std::set<std::string, std::less<>>;
    return *kinds;
}

}  // namespace

void logFault(std::string_view line) {
    LogSink sink;
    {
        std::lock_guard lock(logMutex());
        sink = sinkSlot();
    }
    if (sink) {
        sink(std::string(line));
        return;
    }
    std::fprintf(stderr, "hx_connect: %.*s\n", static_cast<int>(line.size()), line.data());
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(logMutex());
    LogSink old = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return old;
}

void logFaultOnce(std::string_view kind, std::string_view line) {
    {
        std::lock_guard lock(logMutex());
        if (!reportedKinds().emplace(kind).second) return;
    }
    logFault(line);
}

void faultCleared(std::string_view kind) {
    std::lock_guard lock(logMutex());
    if (auto it = reportedKinds().find(kind); it != reportedKinds().end()) reportedKinds().erase(it);
}

}  // namespace foundation
