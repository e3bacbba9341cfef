// The screen library's answer to the shell's makers: the program hands one of these to the
// application object before the launch, and from then on the shell presents the real screens.
// It is also the one place a screen gets the screens it opens: each screen that opens another
// takes its makers (`VC_Name::Makers`) beside its roles, and the makers filled here call back
// into this library (which they keep), so no screen folder includes another's screens.
#pragma once

#include <memory>

#include "app/screens.h"

class HXUIScreens : public HXScreens, public std::enable_shared_from_this<HXUIScreens> {
public:
    std::shared_ptr<toolkit::ViewController> makeLoginPanel(const HXScreenRoles& roles) override;
    bool presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel,
                                    toolkit::ViewController& master,
                                    const std::shared_ptr<toolkit::BarButtonItem>& anchor) override;
    std::shared_ptr<HXSplitViewMaster> makeSplitViewMaster(const HXScreenRoles& roles) override;
    std::shared_ptr<toolkit::ViewController> makeProgressScreen(const std::string& statusText) override;
    // The new-message screen; each recipient becomes a token that the screen admits as it appears.
    std::shared_ptr<toolkit::ViewController> makeNewMessage(const HXScreenRoles& roles,
                                                            const std::vector<std::string>& recipients,
                                                            const std::string& conversationID,
                                                            const std::string& messageText) override;
    // The dial pad's favourites list, opened by another screen with its own hand-back.
    std::shared_ptr<toolkit::ViewController> makeFavorites(const HXScreenRoles& roles,
                                                           FavoritesHandBack handBack) override;
    std::shared_ptr<HXOptionsPopover> showPopover(graphics::Point point, toolkit::View& view,
                                                  const std::vector<std::string>& strings,
                                                  std::weak_ptr<HXOptionsPopoverDelegate> delegate) override;
    // View 0's dial pad, the message lists at views 1 to 3 and the settings at view 4.
    std::shared_ptr<toolkit::ViewController> makeRootScreen(int index, const HXScreenRoles& roles) override;
    std::shared_ptr<toolkit::ViewController> makeQuickSettingsScreen(const HXScreenRoles& roles) override;
    std::shared_ptr<HXPasscodePadScreen>
    makePadLockScreen(std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate, bool complexPin) override;
    std::shared_ptr<HXPasscodePadScreen>
    makePadLockSetupScreen(std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate,
                           bool complexPin) override;
    std::shared_ptr<toolkit::ViewController> makePasscodeSettingsScreen(const HXScreenRoles& roles) override;
    void applyPasscodePadAppearance() override;
    std::shared_ptr<HXConversationScreen> makeConversationScreen(const HXScreenRoles& roles,
                                                                 const HXConversationSetup& setup) override;
    std::shared_ptr<toolkit::ViewController> makeAccountList(const HXScreenRoles& roles) override;
    void releaseSharedPictures() override;
    std::shared_ptr<toolkit::ViewController> makeGroupDetails(const HXScreenRoles& roles,
                                                              const std::string& numberString) override;
    std::shared_ptr<toolkit::ViewController> makeImagePreview(const HXScreenRoles& roles, const std::string& mediaID,
                                                              const foundation::Data& picture) override;
    std::shared_ptr<toolkit::ViewController>
    makeVCardPicker(const HXScreenRoles& roles, const foundation::Data& vCard,
                    std::weak_ptr<system_screens::ContactViewControllerDelegate> contactDelegate) override;
    std::shared_ptr<toolkit::ViewController> makeNoteEditScreen(const HXScreenRoles& roles,
                                                                const std::string& conversationID) override;

    // Screens only other screens open.
    std::shared_ptr<toolkit::ViewController> makeHelp(const HXScreenRoles& roles);
    std::shared_ptr<toolkit::ViewController> makeLegal(bool iPad);
    std::shared_ptr<toolkit::ViewController> makeNotificationTypes();
    std::shared_ptr<toolkit::ViewController> makeQuickSettingLocations(const HXScreenRoles& roles);
    std::shared_ptr<toolkit::ViewController> makeQuickSettingEditor(const HXScreenRoles& roles,
                                                                    const std::string& settingName);
    std::shared_ptr<toolkit::ViewController> makeQuickSettingLocation(const HXScreenRoles& roles,
                                                                      const std::string& settingName);

private:
    // What the makers handed to screens keep: this library when a shared pointer owns it, else a
    // plain library of its own.
    std::shared_ptr<HXUIScreens> library();
};
