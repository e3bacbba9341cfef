#include "app/connect_app_delegate_iphone.h"

#include "app/views.h"

#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/named_images.h"
#include "platform/services/device.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/window.h"

class HX_ConnectAppDelegate_iPhone::TabDelegate : public toolkit::TabBarControllerDelegate {
public:
    explicit TabDelegate(HX_ConnectAppDelegate_iPhone* app) : app_(app) {}
    bool shouldSelectViewController(toolkit::TabBarController&, toolkit::ViewController& controller) override {
        return app_->tabBarControllerShouldSelect(controller);
    }
    void didSelectViewController(toolkit::TabBarController&, toolkit::ViewController& controller) override {
        app_->tabBarControllerDidSelect(controller);
    }

private:
    HX_ConnectAppDelegate_iPhone* app_;
};

HX_ConnectAppDelegate_iPhone::HX_ConnectAppDelegate_iPhone()
    : tabBarController_(std::make_shared<toolkit::TabBarController>()),
      tabDelegate_(std::make_shared<TabDelegate>(this)) {
    setIPad(false);
    tabBarController_->delegate = tabDelegate_;
}

HX_ConnectAppDelegate_iPhone::~HX_ConnectAppDelegate_iPhone() { tabBarController_->delegate.reset(); }

void HX_ConnectAppDelegate_iPhone::setupInterface() {
    graphics::HXCFont::setIPad(false);
    graphics::HXCFont::clearFontCache();
    // The tabs are built here, once the program has handed over the screen library.
    if (!hasTabs()) {
        std::vector<toolkit::ViewControllerPtr> tabs;
        for (int index = 0; index < kHXViewCount; ++index)
            tabs.push_back(std::make_shared<toolkit::NavigationController>(makeRootScreen(index)));
        tabBarController_->setViewControllers(std::move(tabs));
    }
    auto& bar = tabBarController_->tabBar();
    bar.setBarTintColor(graphics::Color::systemGroupedBackground());
    bar.setBackgroundColor(graphics::Color::systemGroupedBackground());
    const auto& tabs = tabBarController_->viewControllers();
    for (int i = 0; i < kViewCount; ++i) {
        auto& item = tabs[i]->tabBarItem();
        item.title = kHXViews[i].title;
        item.image = hxBarImageNamed(kHXViews[i].image);
        item.selectedImage = hxBarImageNamed(kHXViews[i].selectedImage);
        auto* nav = dynamic_cast<toolkit::NavigationController*>(tabs[i].get());
        rootScreens_[i] = nav && !nav->viewControllers().empty() ? nav->viewControllers().front() : tabs[i];
    }
    if (auto* w = window()) {
        w->setBackgroundColor(graphics::Color::black());
        w->setRootViewController(tabBarController_);
        w->makeKeyAndVisible();
    }
}

bool HX_ConnectAppDelegate_iPhone::hasTabs() const {
    return tabBarController_->viewControllers().size() == static_cast<size_t>(kViewCount);
}

void HX_ConnectAppDelegate_iPhone::selectViewForIndex(int index) {
    if (index < 0 || index >= kViewCount || !hasTabs()) return;
    tabBarController_->setSelectedIndex(static_cast<size_t>(index));
    tabBarControllerDidSelect(*tabBarController_->viewControllers()[index]);
}

std::shared_ptr<toolkit::ViewController> HX_ConnectAppDelegate_iPhone::viewControllerForIndex(int index) {
    if (index < 0 || index >= kViewCount) return nullptr;
    return rootScreens_[index];
}

bool HX_ConnectAppDelegate_iPhone::tabBarControllerShouldSelect(toolkit::ViewController& controller) {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    const auto accounts = defaults->dictionaryForKey("accountInfo").value_or(foundation::Dictionary{});
    if (!hasTabs()) return true;
    const auto& tabs = tabBarController_->viewControllers();
    const bool settingsTab = &controller == tabs[4].get();
    if (settingsTab && foundation::Application::shared().applicationState() == foundation::ApplicationState::Active) {
        const auto username = defaults->stringForKey("username").value_or("");
        if (accounts.contains(username) && account() && account()->HXnumber().value_or("").empty())
            // Over the settings screen only: the tabs stay free.
            showLoadingOverlayOver("Loading settings\u2026", [this] { return this->settingsTab(); });
    }
    if (accounts.size() >= 2 && tabBarController_->selectedViewController() == &controller) {
        auto* nav = dynamic_cast<toolkit::NavigationController*>(&controller);
        const bool dialPad = &controller == tabs[0].get();
        if (dialPad || (nav && nav->viewControllers().size() <= 1)) {
            updateAccountPrefs();
            if (auto list = screens().makeAccountList(screenRoles())) {
                auto nav = std::make_shared<toolkit::NavigationController>(list);
                nav->modalTransitionStyle = toolkit::ModalTransitionStyle::FlipHorizontal;
                tabBarController_->present(nav, true);
            }
        }
    }
    return true;
}

void HX_ConnectAppDelegate_iPhone::tabBarControllerDidSelect(toolkit::ViewController& controller) {
    (void)controller;
    const int selected = static_cast<int>(tabBarController_->selectedIndex());
    tabBarController_->tabBar().setClipsToBounds(selected == 0);
    currentViewIndex_ = selected;
    if (selected == 4) {
        dispatch::Queue::main()->async([weak = weakSelf()] {
            if (auto self = weak.lock()) self->loadPhoneSettings();
        });
    }
}

void HX_ConnectAppDelegate_iPhone::setUnreadCount(int64_t count, int forViewIndex) {
    // Callers may be on any thread; the tab bar belongs to the main thread.
    dispatch::Queue::main()->async([weak = weakSelf<HX_ConnectAppDelegate_iPhone>(), count, forViewIndex] {
        auto self = weak.lock();
        if (!self || !self->hasTabs()) return;
        auto& controller = *self->tabBarController_;
        const auto& tabs = controller.viewControllers();
        if (forViewIndex >= 0 && forViewIndex < kViewCount) {
            auto& item = tabs[forViewIndex]->tabBarItem();
            std::optional<std::string> badge;
            if (count > 0) badge = std::to_string(count);
            // The same count again (a refresh that found nothing new) leaves the bar as drawn.
            if (item.badgeValue != badge) {
                item.badgeValue = std::move(badge);
                controller.tabBar().update();
            }
        }
        auto badgeOf = [&](int index) -> int64_t {
            const auto& badge = tabs[index]->tabBarItem().badgeValue;
            return badge ? foundation::Value(*badge).int64Value() : 0;
        };
        int64_t sms = 0, vm = 0;
        if (forViewIndex == 1) {
            sms = count;
            vm = badgeOf(2);
        } else if (forViewIndex == 2) {
            sms = badgeOf(1);
            vm = count;
        }
        const auto type = foundation::UserDefaults::standardUserDefaults()->integerForKey("badgeType");
        services::AppBadge::shared().setBadgeNumber(hxAppIconBadge(sms, vm, type));
    });
}

void HX_ConnectAppDelegate_iPhone::displayLogin() {
    removeLoadingOverlay();
    if (presentsLoginPanel()) return;
    auto panel = screens().makeLoginPanel(screenRoles());
    if (!panel) {
        // Without the screen library the base form records that the panel was asked for, once
        // while it would be up.
        if (loginPanelShown_) return;
        HX_ConnectAppDelegate::displayLogin();
        loginPanelShown_ = true;
        return;
    }
    HX_ConnectAppDelegate::displayLogin();
    auto nav = std::make_shared<toolkit::NavigationController>(panel);
    if (toolkit::Device::current().systemVersionAtLeast(13)) nav->isModalInPresentation = true;
    tabBarController_->present(nav, true);
}

bool HX_ConnectAppDelegate_iPhone::presentsLoginPanel() const {
    auto isPanel = [](const toolkit::ViewController* c) {
        auto* nav = dynamic_cast<const toolkit::NavigationController*>(c);
        return nav && !nav->viewControllers().empty() && nav->viewControllers().front()->className() == "VC_LoginPanel";
    };
    const toolkit::ViewController* presented = tabBarController_->presentedViewController();
    return presented && (isPanel(presented) || isPanel(presented->presentedViewController()));
}

void HX_ConnectAppDelegate_iPhone::closeLoginPanel() {
    HX_ConnectAppDelegate::closeLoginPanel();
    if (presentsLoginPanel()) tabBarController_->dismiss(true);
    loginPanelShown_ = false;
    removeLoadingOverlay();
    if (isInBackground()) return;
    const size_t selected = tabBarController_->selectedIndex();
    const bool settings =
        selected == 4 || (selected >= static_cast<size_t>(kViewCount) &&
                          foundation::UserDefaults::standardUserDefaults()->integerForKey("tabBarIndex") == 4);
    if (settings)
        showLoadingOverlayOver(foundation::localizedString("Loading settings\u2026"),
                               [this] { return this->settingsTab(); });
}

toolkit::ViewController* HX_ConnectAppDelegate_iPhone::settingsTab() const {
    return hasTabs() ? tabBarController_->viewControllers()[4].get() : nullptr;
}

toolkit::ViewController* HX_ConnectAppDelegate_iPhone::signInOverlayHost() {
    if (!hasTabs()) return topPresentedController();
    // What the tab bar controller's presentation presents, else the sign-in panel it presents,
    // else the tab bar controller itself.
    auto* presented = tabBarController_->presentedViewController();
    auto* inner = presented ? presented->presentedViewController() : nullptr;
    if (inner && !dynamic_cast<toolkit::AlertController*>(inner)) return inner;
    if (presentsLoginPanel() && presented && !inner) return presented;
    return tabBarController_.get();
}

void HX_ConnectAppDelegate_iPhone::applicationWillTerminate() {
    foundation::UserDefaults::standardUserDefaults()->setInteger(
        static_cast<int64_t>(tabBarController_->selectedIndex()), "tabBarIndex");
    HX_ConnectAppDelegate::applicationWillTerminate();
}

void HX_ConnectAppDelegate_iPhone::preload() {
    HX_ConnectAppDelegate::preload();
    dispatch::Queue::main()->async([weak = weakSelf<HX_ConnectAppDelegate_iPhone>()] {
        if (auto self = weak.lock())
            for (auto& root : self->rootScreens_)
                if (root) (void)root->view();
    });
}
