// The unread count a message list shows on the back button of the screens pushed over it: a
// dingbat digit (one to ten) before system version 13, a filled numbered circle (1 to 50) from
// 13, and past 50 (or at 0) the list's own title from 14 (an empty title on 13 and before). The
// list screens (VC_Messages::showBackButtonCount) show it through these functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/geometry.h"

struct HXBackButtonBadge {
    // The back item's title ("" for none) and the numbered circle's symbol name, or neither when
    // the back item goes and the bar shows the list's title.
    std::optional<std::string> title;
    std::string symbolName;
};

// The title attributes the badge is drawn with (the system font of this size, the baseline moved
// by this offset) and the back title's position adjustment for default and compact bar metrics.
inline constexpr double kBackButtonBadgeFontSize = 25;
inline constexpr double kBackButtonBadgeBaselineOffset = -1.5;
inline constexpr toolkit::Point kBackButtonBadgeAdjustmentDefault{-4, 3};
inline constexpr toolkit::Point kBackButtonBadgeAdjustmentCompact{-3, 2};

HXBackButtonBadge backButtonBadgeForCount(uint64_t count, int systemVersion);

// Puts the badge on the list's navigation item: its back item (titled or with the symbol image,
// in the badge's font, baseline offset and title adjustments), or no back item and the list's
// title as the back title.
void applyBackButtonBadge(toolkit::NavigationItem& item, const HXBackButtonBadge& badge, const std::string& listTitle);

// Both for the count on the running system version.
void showBackButtonCount(toolkit::NavigationItem& item, uint64_t count, const std::string& listTitle);
