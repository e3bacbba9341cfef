// The phone form of the application object: the five views as the tabs of a tab bar, each a
// navigation controller around its root screen.
#pragma once

#include <array>
#include <memory>

#include "app/connect_app_delegate.h"

namespace toolkit {
class NavigationController;
class TabBarController;
}  // namespace toolkit

class HX_ConnectAppDelegate_iPhone : public HX_ConnectAppDelegate {
public:
    HX_ConnectAppDelegate_iPhone();
    ~HX_ConnectAppDelegate_iPhone() override;

    static constexpr int kViewCount = 5;

    // Its five tabs are built by setupInterface (the launch's).
    std::shared_ptr<toolkit::TabBarController> tabBarController() const { return tabBarController_; }

    void setupInterface() override;
    int currentViewIndex() override { return currentViewIndex_; }
    void selectViewForIndex(int index) override;
    std::shared_ptr<toolkit::ViewController> viewControllerForIndex(int index) override;
    void setUnreadCount(int64_t count, int forViewIndex) override;
    // Presents the sign-in panel the screen library makes (the recorded stand-in without one).
    void displayLogin() override;
    // Dismisses the panel, then covers the settings view with the overlay while they load.
    void closeLoginPanel() override;
    // The tab bar controller presents the sign-in panel (or what it presents does).
    bool presentsLoginPanel() const;
    void applicationWillTerminate() override;
    // The base preload, then every tab's root screen loads its view.
    void preload() override;

    // The tab bar controller's delegate.
    bool tabBarControllerShouldSelect(toolkit::ViewController& controller);
    void tabBarControllerDidSelect(toolkit::ViewController& controller);

protected:
    toolkit::ViewController* signInOverlayHost() override;

private:
    bool hasTabs() const;
    // The settings tab's screen (none before the tabs are made).
    toolkit::ViewController* settingsTab() const;
    class TabDelegate;
    std::shared_ptr<toolkit::TabBarController> tabBarController_;
    std::shared_ptr<TabDelegate> tabDelegate_;
    std::array<std::shared_ptr<toolkit::ViewController>, kViewCount> rootScreens_{};
    int currentViewIndex_ = 0;
    bool loginPanelShown_ = false;
};
