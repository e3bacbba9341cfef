#include "ui/messages/back_button_badge.h"

#include "platform/foundation/format.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/traits.h"

HXBackButtonBadge backButtonBadgeForCount(uint64_t count, int systemVersion) {
    HXBackButtonBadge badge;
    if (systemVersion < 13) {
        // U+278A DINGBAT NEGATIVE CIRCLED SANS-SERIF DIGIT ONE ... U+2793 NUMBER TEN.
        badge.title =
            count >= 1 && count <= 10 ? foundation::format("%C", static_cast<int64_t>(0x2789 + count)) : std::string();
    } else if (count >= 1 && count <= 50) {
        badge.symbolName = foundation::format("%lu.circle.fill", static_cast<int64_t>(count));
    } else if (systemVersion < 14) {
        badge.title = std::string();
    }
    return badge;
}

void applyBackButtonBadge(toolkit::NavigationItem& item, const HXBackButtonBadge& badge, const std::string& listTitle) {
    if (!badge.symbolName.empty() || badge.title) {
        auto back = !badge.symbolName.empty() ? toolkit::BarButtonItem::withImage(graphics::systemImageNamed(
                                                    badge.symbolName, kBackButtonBadgeFontSize))
                                              : toolkit::BarButtonItem::withTitle(*badge.title);
        back->accessibilityLabel = listTitle;
        back->titleFont = graphics::Font::system(kBackButtonBadgeFontSize);
        back->titleBaselineOffset = kBackButtonBadgeBaselineOffset;
        back->backButtonTitleAdjustment = kBackButtonBadgeAdjustmentDefault;
        back->compactBackButtonTitleAdjustment = kBackButtonBadgeAdjustmentCompact;
        item.setBackBarButtonItem(back);
    } else {
        item.setBackBarButtonItem(nullptr);
        item.setBackButtonTitle(listTitle);
    }
}

void showBackButtonCount(toolkit::NavigationItem& item, uint64_t count, const std::string& listTitle) {
    applyBackButtonBadge(item, backButtonBadgeForCount(count, toolkit::Device::current().systemVersion()), listTitle);
}
