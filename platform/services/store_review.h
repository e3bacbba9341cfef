// The store's rating request: the app asks, the system decides whether a prompt shows. There is
// no store here: requests go to a StoreReviewRequester, by default one that records them, which
// tests and the emulator read back. Thread-safe.
#pragma once

#include <memory>
#include <vector>

#include "platform/foundation/thread_annotations.h"

namespace services {

class StoreReviewRequester {
public:
    virtual ~StoreReviewRequester() = default;
    virtual void requestReview() = 0;
};

// Keeps the wall time of each request.
class RecordedStoreReviewRequests : public StoreReviewRequester {
public:
    void requestReview() override;
    std::vector<double> requests() const;

private:
    mutable foundation::Mutex mutex_;
    std::vector<double> times_ HX_GUARDED_BY(mutex_);
};

class StoreReviewController {
public:
    static void requestReview();
    // The requester of the process (a fresh recorder when none was set); set replaces it.
    static std::shared_ptr<StoreReviewRequester> requester();
    static void setRequester(std::shared_ptr<StoreReviewRequester> requester);
};

}  // namespace services
