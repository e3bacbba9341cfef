// What every conversation screen shares, kept in this one place (main thread only): the reply's
// user activity, the relative date formatter, the last tapped point of a table and the preview's
// transition maker (tests), the sending progress in percent, the playback position timer and the
// player it follows, and the picture being shared from a menu.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/value.h"
#include "platform/graphics/geometry.h"
#include "platform/services/user_activity.h"

namespace toolkit {
class AnimatedTransitioning;
}

struct HXConversationScreensShared {
    // Made while a text conversation shows, dropped when a conversation screen leaves.
    std::shared_ptr<services::UserActivity> replyActivity;
    // Made on first use, let go on a significant time change and whenever a screen leaves.
    std::unique_ptr<foundation::DateFormatter> relativeFormatter;
    graphics::Point lastTapPoint;
    std::function<std::shared_ptr<toolkit::AnimatedTransitioning>(bool presenting, graphics::Point sourcePoint)>
        previewTransitionMaker;
    int sendingProgress = 0;
    // One position timer for every screen's player, and the player it follows.
    dispatch::TimerPtr playbackTimer;
    const void* playbackTimerOwner = nullptr;
    foundation::Data shareData;
    std::string shareType;
};

HXConversationScreensShared& hxConversationScreensShared();
