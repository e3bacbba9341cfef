// The five views of the main interface, addressed everywhere by their index, as both device forms
// show them (tabs on the phone, master rows on the tablet), and the stand-ins for their screens.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "app/roles/message_list_host.h"
#include "platform/graphics/color.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/graphics_types.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/view_controller.h"
#include "service/message_list_view.h"

struct HXViewSpec {
    const char* screen;  // the root screen's class
    const char* title;
    const char* image;
    const char* selectedImage;
};
inline constexpr int kHXViewCount = 5;
// The tablet's master column is this wide in every orientation.
inline constexpr double kHXMasterColumnWidth = 258.0;
inline constexpr HXViewSpec kHXViews[kHXViewCount] = {
    {"VC_Call", "Call", "Call", "Call_on"},
    {"VC_SMS", "SMS", "SMS", "SMS_on"},
    {"VC_VM", "Voicemail", "VM", "VM_on"},
    {"VC_History", "History", "Recents", "Recents_on"},
    {"VC_Settings", "Settings", "Settings", "Settings_on"},
};

// A screen whose own class is not built yet: it carries the class's name (and, where it has one,
// its title) so that routing, badges, popovers and the bars can be exercised and seen.
class HXPlaceholderScreen : public toolkit::ViewController {
public:
    explicit HXPlaceholderScreen(std::string screenClass) : screenClass_(std::move(screenClass)) {}
    std::string className() const override { return screenClass_; }
    void viewDidLoad() override { view()->setBackgroundColor(graphics::Color::systemBackground()); }

private:
    std::string screenClass_;
};

class HXListLoadingRole;
class HXMessageListModel;

// The root screen of a message list (views 1 to 3: SMS, voicemail, history) until the list
// screens are built: a placeholder that is the view of the list's model (its state, requests and
// parse), so that the service's list replies reach the store. The lists' role makes the model on
// first use, for the service the application object talks to then; the list is shown while the
// screen is up. The view's other operations have nothing to show here.
class HXMessageListPlaceholderScreen : public HXPlaceholderScreen, public HXMessageListView, public HXMessageListHost {
public:
    HXMessageListPlaceholderScreen(std::string screenClass, int viewType, std::weak_ptr<HXListLoadingRole> lists)
        : HXPlaceholderScreen(std::move(screenClass)), viewType_(viewType), lists_(std::move(lists)) {}
    std::shared_ptr<HXMessageListModel> messageList() override;
    // A placeholder has no search bar.
    bool enterSearch() override { return false; }
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    bool isShownScreen() const override { return shown_; }
    void beginRefreshing(const std::string&) override {}
    void endRefreshing() override {}
    void updateLastRefreshDate() override {}
    void reloadTable() override {}
    void reloadVisibleCells() override {}
    void scrollToTopWithAnimation(bool) override {}
    void controllerDidChangeContent() override {}
    std::optional<bool> shownConversationIsRead() const override { return std::nullopt; }
    void showBackButtonCount(uint64_t) override {}

private:
    int viewType_;
    std::weak_ptr<HXListLoadingRole> lists_;
    std::shared_ptr<HXMessageListModel> list_;
    // Read by parses off the main thread.
    std::atomic<bool> shown_{false};
};

// The root screen of a view index: a message-list placeholder for views 1 to 3 (its list made by
// lists), a plain placeholder for the others; titled as the view.
std::shared_ptr<HXPlaceholderScreen> hxMakeRootScreen(int index, std::weak_ptr<HXListLoadingRole> lists = {});

// The app's image of that name, or a blank 25 x 25 template image under the name where the bundle
// has none (programs and tests run without the resources).
inline toolkit::ImagePtr hxBarImageNamed(const std::string& name) {
    if (auto image = graphics::imageNamed(name)) return image;
    return toolkit::makeImage(name, {25, 25}, true);
}

// The app icon's badge from the unread text and voicemail counts by the preference "badgeType":
// 0 the texts, 1 the voicemails, 2 both, any other value none.
inline long hxAppIconBadge(long long sms, long long voicemail, long long badgeType) {
    switch (badgeType) {
        case 0:
            return static_cast<long>(sms);
        case 1:
            return static_cast<long>(voicemail);
        case 2:
            return static_cast<long>(sms + voicemail);
        default:
            return 0;
    }
}
