// The session id in force and since when, across launches: each launch has one record in the
// stored history, so a crash of an earlier launch can be stamped with its session.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"

class ZIVOSessionContext {
public:
    static std::shared_ptr<ZIVOSessionContext> sharedInstance();
    static void resetSharedInstance();

    std::optional<std::string> sessionId();
    void setSessionId(std::optional<std::string> sessionId);
    // The id of the newest record stamped strictly before the time; nothing when there is none.
    std::optional<std::string> sessionIdAt(foundation::Date date);
    void clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession);

    std::vector<std::shared_ptr<ZIVOSessionHistoryInfo>> sessionHistory();
    std::shared_ptr<ZIVOSessionHistoryInfo> currentSessionInfo();

    ZIVOSessionContext();

private:
    void store();

    std::recursive_mutex mutex_;
    std::shared_ptr<ZIVOSessionHistoryInfo> currentSessionInfo_;
    std::vector<std::shared_ptr<ZIVOSessionHistoryInfo>> sessionHistory_;
};

inline constexpr const char* kZIVOSessionIdHistoryKey = "SessionIdHistory";
