// The application's user id in force and since when, across launches; the rules a user id must
// meet; and its common-schema form.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"

class ZIVOUserIdContext;

// A listener told when the user id changes (outside the context's lock, on the caller's thread).
class ZIVOUserIdContextDelegate {
public:
    virtual ~ZIVOUserIdContextDelegate() = default;
    virtual void userIdContext(ZIVOUserIdContext& context, const std::optional<std::string>& didUpdateUserId) {
        (void)context, (void)didUpdateUserId;
    }
};

class ZIVOUserIdContext {
public:
    static std::shared_ptr<ZIVOUserIdContext> sharedInstance();
    static void resetSharedInstance();

    std::optional<std::string> userId();
    void setUserId(std::optional<std::string> userId);
    std::optional<std::string> userIdAt(foundation::Date date);
    // Keeps only the current record.
    void clearUserIdHistory();

    static bool isUserIdValidForRurIdurev(const std::optional<std::string>& userId);
    static bool isUserIdValidForZidAzaduzuri(const std::optional<std::string>& userId);
    static std::optional<std::string> prefixedUserIdFromUserId(const std::optional<std::string>& userId);

    void addDelegate(const std::shared_ptr<ZIVOUserIdContextDelegate>& delegate);
    void removeDelegate(const std::shared_ptr<ZIVOUserIdContextDelegate>& delegate);

    std::vector<std::shared_ptr<ZIVOUserIdHistoryInfo>> userIdHistory();

    ZIVOUserIdContext();

    static constexpr size_t kMaxUserIdLength = 256;

private:
    void store();

    std::recursive_mutex mutex_;
    std::shared_ptr<ZIVOUserIdHistoryInfo> currentUserIdInfo_;
    std::vector<std::shared_ptr<ZIVOUserIdHistoryInfo>> userIdHistory_;
    std::vector<std::weak_ptr<ZIVOUserIdContextDelegate>> delegates_;
};

inline constexpr const char* kZIVOUserIdHistoryKey = "UserIdHistory";
