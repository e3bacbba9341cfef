// The application object's rating request: asked after completed actions, passed to the store
// only from the twelfth activation on and more than five days after the first launch.
#pragma once

#include <cstdint>

class HXReviewRequest {
public:
    static constexpr int64_t kMinimumLaunchCount = 11;
    static constexpr double kMinimumAge = 432000.0;  // five days, in seconds
    // True when the request went to the store.
    static bool requestReview();
    // At launch: the first launch's date is stored once, when there is none yet.
    static void noteFirstLaunch(double now);
};
