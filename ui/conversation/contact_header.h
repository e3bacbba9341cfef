// The other party's contact header under a conversation's bubbles, an object its conversation
// screen owns: the call footer's name (with the number), round picture and add-to-contacts button,
// drawn from the conversation and the contacts cache; a long press on the name offers to copy the
// number; the button adds the number to the service's contacts (a name, then a phone type) or to
// the device's (an unknown contact's card); the picture, or the screen's title, opens the device's
// card of a known contact (pushed on the phone, in a popover on the tablet). It is the cards'
// delegate: a number tapped on a card is offered as a call or a text, and a card's new contact is
// stored once and names the conversation.
//
// The screen hands it only what it uses (Setup): itself to present from (weakly), the
// conversation, the roles it asks and a way to draw the screen's title again. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/roles/screen_roles.h"
#include "model/conversation.h"
#include "platform/system_screens/contact_picker.h"

namespace toolkit {
class Button;
class ImageView;
class Label;
class LongPressGestureRecognizer;
class NavigationController;
class View;
class ViewController;
}  // namespace toolkit

class HXContactHeader final : public system_screens::ContactViewControllerDelegate,
                              public std::enable_shared_from_this<HXContactHeader> {
public:
    static constexpr long kAddContactTag = 3;

    struct Setup {
        // The screen the prompts and the cards come from; its title names the contact.
        std::weak_ptr<toolkit::ViewController> screen;
        std::optional<HX_Conversation> conversation;
        std::weak_ptr<HXConversationRole> role;
        // The contacts' pictures' cache.
        std::weak_ptr<HXMediaRole> media;
        std::weak_ptr<HXConversationActionsRole> conversations;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXAlertsRole> alerts;
        // The screen's title drawn again (a card named the contact).
        std::function<void()> retitle;
    };
    static std::shared_ptr<HXContactHeader> make(Setup setup);

    // The call footer's views, width wide (76 high): the name beside the picture, the add button at
    // the right. Made once, with the screen's footer; until then the header draws nothing.
    std::shared_ptr<toolkit::View> makeView(double width);
    toolkit::Label* contactName() const { return contactName_.get(); }
    toolkit::ImageView* contactImage() const { return contactImage_.get(); }
    toolkit::Button* addContactButton() const { return addContact_.get(); }
    // The name in the font of the user's text size.
    void updateFont();
    // The name, the picture (a button to the card once the contacts know the number) and whether
    // the add button shows, drawn again from the conversation and the contacts cache.
    void updateContactInfo();
    // The name the user gave the number in the service's contacts ("" for none yet).
    const std::string& addedName() const { return addedName_; }

    // Adding the number to a contact: "HX" (the service's), "AB" (the device's) or "" (asks where
    // when both may take it).
    void addContactToSource(const std::string& source);
    // The device's card of the conversation's contact (sender: the title button, else the picture).
    void openContact(const toolkit::View* sender);
    // The card presented or pushed last (none once it went).
    std::shared_ptr<system_screens::ContactViewController> contactCard() const { return contactCard_.lock(); }

    bool contactViewControllerShouldPerformDefaultActionForContactProperty(
        system_screens::ContactViewController& card, const system_screens::ContactProperty& property) override;
    void contactViewControllerDidCompleteWithContact(system_screens::ContactViewController& card,
                                                     const std::optional<services::Contact>& contact) override;

    // The label of a number added to the device's contacts.
    static std::string phoneLabelFor(int64_t type, const std::string& lastMessageText);
    // The contact "AB" adds: the service's name split at its first space into given and family
    // name (a name that is the number itself is left out), the one number with its label; none
    // when the number is not a phone number.
    static std::optional<services::Contact> newDeviceContact(const std::string& sender, const std::string& phoneNumber,
                                                             int64_t type, const std::string& lastMessageText);

private:
    explicit HXContactHeader(Setup setup) : setup_(std::move(setup)) {}

    std::shared_ptr<HXConversationRole> role() const { return setup_.role.lock(); }
    std::shared_ptr<toolkit::ViewController> screen() const { return setup_.screen.lock(); }
    // Where to add (the service's or the device's contacts), the service contact's name, then its
    // phone type.
    void askWhereToAdd();
    void promptServiceName();
    void askPhoneType(const std::string& name, const std::string& number);
    void addNumberCopyGestureRecognizer();
    void showNumberCopy();
    // Sets the card up; an unknown contact's card is presented, a known one's pushed on the phone
    // (none returned) or handed back in a popover's navigation controller for the caller to show.
    std::shared_ptr<toolkit::NavigationController>
    presentContactCard(const std::shared_ptr<system_screens::ContactViewController>& card, bool unknown);
    void dismissContactsViewController();
    // The sheet a number tapped on a card offers: call it or text it.
    void offerNumber(const std::weak_ptr<system_screens::ContactViewController>& card, const std::string& number);
    void openURLForNumber(const std::string& number);

    Setup setup_;
    std::shared_ptr<toolkit::View> root_;
    std::shared_ptr<toolkit::Label> contactName_;
    std::shared_ptr<toolkit::ImageView> contactImage_;
    std::shared_ptr<toolkit::Button> addContact_;
    std::shared_ptr<toolkit::LongPressGestureRecognizer> numberCopyPress_;
    std::weak_ptr<system_screens::ContactViewController> contactCard_;
    std::string addedName_;
    bool addContactHidden_ = false;
    bool imageIsButton_ = false;
};
