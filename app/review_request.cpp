#include "app/review_request.h"

#include <cmath>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/store_review.h"

bool HXReviewRequest::requestReview() {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    if (defaults->integerForKey("launchCount") < kMinimumLaunchCount) return false;
    const foundation::Value first = defaults->objectForKey("firstLaunchDate");
    double seconds = 0;
    if (const auto* date = first.ifDate())
        seconds = date->secondsSince1970;
    else if (first.isNumber())
        seconds = first.doubleValue();
    else
        return false;  // no first launch known: not old enough to tell
    if (!(dispatch::wallNow() - std::trunc(seconds) > kMinimumAge)) return false;
    services::StoreReviewController::requestReview();
    return true;
}

void HXReviewRequest::noteFirstLaunch(double now) {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    const foundation::Value stored = defaults->objectForKey("firstLaunchDate");
    if (stored.isNumber() || stored.isDate()) return;
    defaults->setDouble(now, "firstLaunchDate");
}
