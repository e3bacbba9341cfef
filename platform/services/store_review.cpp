#include "platform/services/store_review.h"

#include "platform/dispatch/dispatch.h"

namespace services {

namespace {

foundation::Mutex gMutex;
std::shared_ptr<StoreReviewRequester> gRequester HX_GUARDED_BY(gMutex);

}  // namespace

void RecordedStoreReviewRequests::requestReview() {
    std::lock_guard lock(mutex_);
    times_.push_back(dispatch::wallNow());
}

std::vector<double> RecordedStoreReviewRequests::requests() const {
    std::lock_guard lock(mutex_);
    return times_;
}

std::shared_ptr<StoreReviewRequester> StoreReviewController::requester() {
    std::lock_guard lock(gMutex);
    if (!gRequester) gRequester = std::make_shared<RecordedStoreReviewRequests>();
    return gRequester;
}

void StoreReviewController::setRequester(std::shared_ptr<StoreReviewRequester> requester) {
    std::lock_guard lock(gMutex);
    gRequester = std::move(requester);
}

void StoreReviewController::requestReview() { requester()->requestReview(); }

}  // namespace services
