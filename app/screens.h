// The screens the shell presents but does not define. They live in the screen library above the
// shell (ui/), which the program hands to the application object before the launch; the shell's
// own tests run without it, and then each maker answers nullptr and the shell keeps a placeholder
// or tells its observer what it would have shown. A maker hands its screen the roles it needs
// (app/roles/screen_roles.h), never the application object.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/passcode_pad_screen.h"
#include "app/roles/message_list_actions.h"
#include "app/roles/screen_roles.h"
#include "platform/toolkit/table_view_controller.h"

namespace system_screens {
class ContactViewControllerDelegate;
}
namespace toolkit {
class BarButtonItem;
class View;
class ViewController;
}  // namespace toolkit

// A popover of strings shown for the shell (the screen library's HXCPopoverView), as the shell
// sees it: it reports choices by index to its HXOptionsPopoverDelegate and stays up until the
// delegate dismisses it, a touch outside it or a rotation closes it.
class HXOptionsPopover {
public:
    virtual ~HXOptionsPopover() = default;
    virtual void dismiss(bool animated) = 0;
};

class HXOptionsPopoverDelegate {
public:
    virtual ~HXOptionsPopoverDelegate() = default;
    virtual void popoverViewDidSelectItemAtIndex(HXOptionsPopover& popover, long index) = 0;
    // After a press of 0.7 s on an item.
    virtual void popoverViewLongPressForItemAtIndex(HXOptionsPopover& popover, long index) = 0;
    // The popover has left the screen, whatever closed it.
    virtual void popoverViewDidDismiss(HXOptionsPopover& popover) = 0;
};

// The tablet's master list as the application object drives it. The list itself is a screen (it
// shows the shared master cell and opens screens as popovers), so it lives with the screens and
// is made through HXScreens::makeSplitViewMaster.
class HXSplitViewMaster : public toolkit::TableViewController {
public:
    HXSplitViewMaster() : toolkit::TableViewController(toolkit::TableViewStyle::Grouped) {}
    std::string className() const override { return "VC_SplitView_Master"; }

    // Selects the row of a view (1 to 4) and shows the view as the detail unless it already is.
    virtual void selectRow(int index) = 0;
    // Reads the rows and the header again and selects the current view's row.
    virtual void refreshTable() = 0;
    // The dial pad as a popover from the call button.
    virtual void showCallPopup() = 0;
};

// The conversation screen as the lists and the shell open it: made with the conversation, its title
// and type; a preview (peeking) becomes the pushed screen when the user commits it. The shell's
// own tests, which have no screen library, see this titled stand-in.
class HXConversationScreen : public toolkit::ViewController {
public:
    explicit HXConversationScreen(HXConversationSetup setup) : setup_(std::move(setup)) { setTitle(setup_.title); }
    std::string className() const override { return "VC_Conversation"; }
    const HXConversationSetup& setup() const { return setup_; }
    bool isPeeking() const { return setup_.peeking; }
    virtual void setIsPeeking(bool peeking) { setup_.peeking = peeking; }
    // Scrolls, animated, to the message of this section (one per message, in the order of their
    // numbers), when there is one.
    virtual void scrollToMessage(long number) { (void)number; }

private:
    HXConversationSetup setup_;
};

class HXScreens {
public:
    virtual ~HXScreens() = default;

    // The web sign-in panel, for the phone (full screen) or the tablet (popover) form.
    virtual std::shared_ptr<toolkit::ViewController> makeLoginPanel(const HXScreenRoles& roles) {
        (void)roles;
        return nullptr;
    }
    // The tablet form's presentation of a panel made above: from the master list, over what it
    // presents or as a popover at anchor; false when nothing was presented.
    virtual bool presentLoginPanelInPopover(const std::shared_ptr<toolkit::ViewController>& panel,
                                            toolkit::ViewController& master,
                                            const std::shared_ptr<toolkit::BarButtonItem>& anchor) {
        (void)panel, (void)master, (void)anchor;
        return false;
    }
    // The tablet's master list (the split view's fixed column).
    virtual std::shared_ptr<HXSplitViewMaster> makeSplitViewMaster(const HXScreenRoles& roles) {
        (void)roles;
        return nullptr;
    }
    // The loading overlay with its status text.
    virtual std::shared_ptr<toolkit::ViewController> makeProgressScreen(const std::string& statusText) {
        (void)statusText;
        return nullptr;
    }
    // The new-message screen for recipients (each one number or name, as typed), the text and the
    // conversation to reply into ("" for a new one); the shell wraps it in a navigation controller.
    virtual std::shared_ptr<toolkit::ViewController> makeNewMessage(const HXScreenRoles& roles,
                                                                    const std::vector<std::string>& recipients,
                                                                    const std::string& conversationID,
                                                                    const std::string& messageText) {
        (void)roles, (void)recipients, (void)conversationID, (void)messageText;
        return nullptr;
    }
    // A new favourites list (the caller wraps it in a navigation controller) whose picked number
    // goes to handBack with the name and label to show; handBack closes the list and answers
    // true, or false when its screen cannot take the number (the list then stays open).
    using FavoritesHandBack = std::function<bool(const std::string& number, const std::string& name,
                                                 const std::string& label, toolkit::ViewController& list)>;
    virtual std::shared_ptr<toolkit::ViewController> makeFavorites(const HXScreenRoles& roles,
                                                                   FavoritesHandBack handBack) {
        (void)roles, (void)handBack;
        return nullptr;
    }
    // Shows a popover of strings (not empty) pointing at point of view, whose choices go to the
    // delegate; nullptr when nothing was shown. The popover keeps itself while it is up.
    virtual std::shared_ptr<HXOptionsPopover> showPopover(graphics::Point point, toolkit::View& view,
                                                          const std::vector<std::string>& strings,
                                                          std::weak_ptr<HXOptionsPopoverDelegate> delegate) {
        (void)point, (void)view, (void)strings, (void)delegate;
        return nullptr;
    }
    // The root screen of a view (0 to 4, as kHXViews in app/views.h); nullptr keeps the shell's
    // placeholder. The shell titles it as the view.
    virtual std::shared_ptr<toolkit::ViewController> makeRootScreen(int index, const HXScreenRoles& roles) {
        (void)index, (void)roles;
        return nullptr;
    }
    // The passcode pads: the unlock pad (the PIN checked by its delegate) and the setup pad (a new
    // PIN twice), each with a simple 4-digit or a complex PIN.
    virtual std::shared_ptr<HXPasscodePadScreen>
    makePadLockScreen(std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate, bool complexPin) {
        (void)delegate, (void)complexPin;
        return nullptr;
    }
    virtual std::shared_ptr<HXPasscodePadScreen>
    makePadLockSetupScreen(std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate, bool complexPin) {
        (void)delegate, (void)complexPin;
        return nullptr;
    }
    // The "Passcode Lock" settings screen that the settings screen pushes.
    virtual std::shared_ptr<toolkit::ViewController> makePasscodeSettingsScreen(const HXScreenRoles& roles) {
        (void)roles;
        return nullptr;
    }
    // The account list, presented in a navigation controller of its own.
    virtual std::shared_ptr<toolkit::ViewController> makeAccountList(const HXScreenRoles& roles) {
        (void)roles;
        return nullptr;
    }
    // The pads' theme, as class-level appearance defaults of the pad's views (launch).
    virtual void applyPasscodePadAppearance() {}
    // The conversation screen a list row, a preview or a link opens.
    virtual std::shared_ptr<HXConversationScreen> makeConversationScreen(const HXScreenRoles& roles,
                                                                         const HXConversationSetup& setup) {
        (void)roles, (void)setup;
        return nullptr;
    }
    // The group details of a group conversation's numbers (joined by "|"); nullptr shows a titled
    // placeholder.
    virtual std::shared_ptr<toolkit::ViewController> makeGroupDetails(const HXScreenRoles& roles,
                                                                      const std::string& numberString) {
        (void)roles, (void)numberString;
        return nullptr;
    }
    // A picture attachment full screen: still or animated, or none while the full-size picture of
    // mediaID downloads (its announcement fills the preview). The caller wraps it in a navigation
    // controller.
    virtual std::shared_ptr<toolkit::ViewController>
    makeImagePreview(const HXScreenRoles& roles, const std::string& mediaID, const foundation::Data& picture) {
        (void)roles, (void)mediaID, (void)picture;
        return nullptr;
    }
    // The contacts of a contact card that holds several (the card's bytes), each opening as a card
    // whose delegate is contactDelegate; pushed by the caller.
    virtual std::shared_ptr<toolkit::ViewController>
    makeVCardPicker(const HXScreenRoles& roles, const foundation::Data& vCard,
                    std::weak_ptr<system_screens::ContactViewControllerDelegate> contactDelegate) {
        (void)roles, (void)vCard, (void)contactDelegate;
        return nullptr;
    }
    // The quick-settings list the settings screen pushes (its "Quick Settings" row).
    virtual std::shared_ptr<toolkit::ViewController> makeQuickSettingsScreen(const HXScreenRoles& roles) {
        (void)roles;
        return nullptr;
    }
    // The note editor of a conversation (VC_NoteEdit); nullptr keeps the shell's placeholder.
    virtual std::shared_ptr<toolkit::ViewController> makeNoteEditScreen(const HXScreenRoles& roles,
                                                                        const std::string& conversationID) {
        (void)roles, (void)conversationID;
        return nullptr;
    }
    // A memory warning: the pictures the screens share and can make again (the default contact
    // picture) are let go.
    virtual void releaseSharedPictures() {}
};
