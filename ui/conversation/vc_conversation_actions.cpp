// The contact header under the bubbles, adding the number to the service's or the device's
// contacts, the actions popover, the call by a long press on the navigation bar, the note editor,
// and the URL a contact card's "Call" opens.
#include <algorithm>
#include <any>

#include "model/account.h"
#include "model/cache.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"
#include "ui/conversation/conversation_screens_shared.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/widgets/call_url.h"
#include "ui/widgets/caret_navigation.h"
#include "ui/widgets/conversation_action_items.h"
#include "ui/widgets/default_contact_image.h"
#include "ui/widgets/letterpress.h"

namespace {

using foundation::localizedString;

// Call item types whose last text may end in " - " and a phone label.
constexpr int64_t kCallTypesWithLabelMask = 0x3B193;
// The presses on the name (copy) and on the navigation bar (call), and the bar's end that calls.
constexpr double kPressDuration = 0.7;
constexpr double kCallPressWidth = 50;

}  // namespace

std::string VC_Conversation::phoneLabelFor(int64_t type, const std::string& lastMessageText) {
    if (type >= 0 && type < 63 && ((int64_t{1} << type) & kCallTypesWithLabelMask)) {
        const size_t at = lastMessageText.rfind(" - ");
        if (at != std::string::npos) {
            const std::string label = foundation::trim(lastMessageText.substr(at + 3));
            if (!label.empty()) return label;
        }
    }
    return services::kLabelPhoneNumberMobile;
}

std::string VC_Conversation::callURLForNumber(const std::string& number, bool skipDialpad,
                                              const std::string& methodName) {
    return hxCallURLForNumber(number, skipDialpad, methodName);
}

void VC_Conversation::updateContactInfo() {
    if (!conversation_ || !contactName_ || !contactImage_) return;
    auto r = role();
    const std::string formatted = conversation_->formattedNumber();
    if (title() == "Unknown") {
        hxSetLetterpressedText(*contactName_, localizedString("Unknown"));
        addContactHidden_ = true;
        contactImage_->setImage(defaultContactImage());
    } else if (!title().empty()) {
        hxSetLetterpressedText(*contactName_, foundation::format("%@\n%@", title(), formatted));
        addNumberCopyGestureRecognizer();
        const std::string id = r ? r->recordIDForNumber(formatted) : std::string();
        if (!id.empty() && !contactImageIsButton_) {
            contactImageIsButton_ = true;
            contactImage_->addGestureRecognizer(std::make_shared<toolkit::TapGestureRecognizer>(
                [weak = weakSelf<VC_Conversation>()](toolkit::GestureRecognizer& tap) {
                    auto self = weak.lock();
                    if (self && tap.state() == toolkit::GestureState::Ended) self->openContact(tap.view());
                }));
            contactImage_->setUserInteractionEnabled(true);
            contactImage_->accessibility().isElement = true;
            contactImage_->accessibility().label = localizedString("Contact Image");
            contactImage_->accessibility().hint = localizedString("Opens the contact's card");
            contactImage_->layer().borderWidth = 2.0;
            contactImage_->layer().borderColor = graphics::Color::systemBlue();
        }
        graphics::ImagePtr picture;
        if (r)
            if (auto cached = r->mediaCache()->objectForKey(formatted)) {
                picture = cached->image();
                if (!picture && cached->value.isData())
                    if (auto decoded = graphics::Image::fromEncoded(cached->value.asData()); decoded.ok())
                        picture = decoded.value();
            }
        contactImage_->setImage(picture ? graphics::makeRoundImage(picture) : defaultContactImage());
        contactImage_->accessibility().ignoresInvertColors = picture != nullptr;
    } else {
        hxSetLetterpressedText(*contactName_, formatted);
        contactImage_->setImage(defaultContactImage());
        addNumberCopyGestureRecognizer();
    }
    if (!addContactHidden_ && addContact_) {
        const bool unnamed = conversation_->phoneNumber() == conversation_->sender();
        const bool authorized =
            services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized;
        const bool offer = authorized ? conversation_->ABName().empty() || unnamed : unnamed;
        const bool parses = !PhoneExtensions::formattedPhoneNumberFromString(conversation_->phoneNumber()).empty() &&
                            conversation_->phoneNumber() != "Unknown" &&
                            conversation_->phoneNumber() != "Group Message";
        if (!(offer && parses)) addContactHidden_ = true;
    }
    if (addContact_) addContact_->setHidden(addContactHidden_);
}

void VC_Conversation::showActions() {
    auto options = roles_.options.lock();
    if (!options || !conversation_) return;
    const auto safe = view()->safeAreaInsets();
    double x = view()->bounds().width() - 22;
    if (auto item = navigationItem().rightBarButtonItem())
        if (auto* itemView = item->customView.get()) x = itemView->frame().midX();
    options->showOptionsForConversation(conversation_->conversationID(), {x, safe.top}, *view());
}

void VC_Conversation::actionLongPress(toolkit::Point inBar, double barWidth) {
    if (!conversation_ || inBar.x < barWidth - kCallPressWidth) return;
    const std::string number = conversation_->phoneNumber();
    if (number == "Unknown" || number == "Group Message") return;
    if (auto actions = roles_.conversations.lock()) actions->placeCallTo(number);
}

void VC_Conversation::editNote() {
    if (!conversation_) return;
    auto editor = makers_.noteEdit ? makers_.noteEdit(conversation_->conversationID()) : nullptr;
    if (!editor) return;
    auto nav = std::make_shared<toolkit::NavigationController>(editor);
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    if (auto* popover = nav->popoverPresentationController()) {
        popover->sourceView = view();
        popover->permittedArrowDirections = toolkit::kArrowRight;
        if (tableView_) {
            // The footer's rectangle is in the table's own (scrolled) coordinates: the table is
            // the anchor's view, so the arrow points below the last message wherever it scrolled.
            const long last = tableView_->numberOfSections() - 1;
            popover->sourceView = tableView_;
            popover->sourceRect = last >= 0 ? tableView_->rectForFooter(last) : toolkit::Rect{};
            popover->passthroughViews = {tableView_};
        }
    }
    auto* host = navigationController() ? static_cast<toolkit::ViewController*>(navigationController()) : this;
    host->present(nav, true);
}

void VC_Conversation::addContactToSource(const std::string& source) {
    if (!conversation_ || !role()) return;
    const std::string number = conversation_->phoneNumber();
    const std::string abName = conversation_->ABName();
    const bool authorized = services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized;
    if (source.empty()) {
        if (authorized && abName.empty() && conversation_->sender() == number) return askWhereToAddContact();
        addContactToSource(authorized && abName.empty() ? "AB" : "HX");
        return;
    }
    if (source == "HX") return promptServiceContactName();
    if (source == "AB") {
        // A restricted device says so itself; a number that is no phone number offers nothing.
        if (auto a = alerts(); a && a->isABAccessRestricted()) return;
        auto contact =
            newDeviceContact(conversation_->sender(), number, conversation_->type(), conversation_->lastMessageText());
        if (!contact) return;
        presentContactCard(system_screens::ContactViewController::forUnknownContact(std::move(*contact)), true);
    }
}

void VC_Conversation::askWhereToAddContact() {
    auto weak = weakSelf<VC_Conversation>();
    auto ask = toolkit::AlertController::make(localizedString("Create new Contact"), std::nullopt,
                                              toolkit::AlertControllerStyle::Alert);
    (void)ask->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    (void)ask->addAction(toolkit::AlertAction::make(localizedString("HX Contacts"), toolkit::AlertActionStyle::Default,
                                                    [weak](toolkit::AlertAction&) {
                                                        if (auto self = weak.lock()) self->addContactToSource("HX");
                                                    }));
    auto device = toolkit::AlertAction::make(
        foundation::format(localizedString("%@ Contacts"), toolkit::Device::current().model()),
        toolkit::AlertActionStyle::Default, [weak](toolkit::AlertAction&) {
            if (auto self = weak.lock()) self->addContactToSource("AB");
        });
    (void)ask->addAction(device);
    (void)ask->setPreferredAction(device);
    present(ask, true);
}

void VC_Conversation::promptServiceContactName() {
    const std::string abName = conversation_->ABName();
    auto prompt = toolkit::AlertController::make(localizedString("Add Contact"),
                                                 localizedString("Enter a name to add this number to your HX Contacts"),
                                                 toolkit::AlertControllerStyle::Alert);
    const std::string prefill = abName.empty() ? std::string() : nameWithoutLabel(abName);
    const std::string placeholder = conversation_->formattedNumber();
    (void)prompt->addTextField([prefill, placeholder](toolkit::TextField& field) {
        field.setPlaceholder(placeholder);
        field.setText(prefill);
        field.autocapitalizationType = toolkit::AutocapitalizationType::Words;
    });
    // Swipes over the alert move the field's caret.
    (void)hxcAddGestureNavigationToTextInput(*prompt->textFields().front(), *prompt->view());
    (void)prompt->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    std::weak_ptr<toolkit::AlertController> weakPrompt = prompt;
    (void)prompt->addAction(toolkit::AlertAction::make(
        localizedString("OK"), toolkit::AlertActionStyle::Default,
        [weak = weakSelf<VC_Conversation>(), weakPrompt, number = conversation_->phoneNumber()](toolkit::AlertAction&) {
            auto self = weak.lock();
            auto p = weakPrompt.lock();
            if (!self || !p || p->textFields().empty()) return;
            const std::string name = p->textFields().front()->text();
            if (name.empty()) return;
            self->updatedContactName_ = name;
            self->askPhoneType(name, number);
        }));
    present(prompt, true);
}

void VC_Conversation::askPhoneType(const std::string& name, const std::string& number) {
    auto types = toolkit::AlertController::make(localizedString("Select Phone Type"), std::nullopt,
                                                toolkit::AlertControllerStyle::Alert);
    (void)types->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    for (const auto& [title, type] :
         {std::pair<const char*, const char*>{"Mobile", "MOBILE"}, {"Work", "WORK"}, {"Home", "HOME"}})
        (void)types->addAction(toolkit::AlertAction::make(
            localizedString(title), toolkit::AlertActionStyle::Default,
            [weak = weakSelf<VC_Conversation>(), name, number, type = std::string(type)](toolkit::AlertAction&) {
                auto screen = weak.lock();
                auto role = screen ? screen->role() : nullptr;
                if (role) role->addContact(name, number, type);
            }));
    present(types, true);
}

// ---- contact cards, copying the number, the bar's actions, the preview's actions and the double
// tap

// The screen's delegate for the cards it shows; the screen owns it and it reaches the screen weakly.
class VC_Conversation::ActionDelegates : public system_screens::ContactViewControllerDelegate {
public:
    explicit ActionDelegates(std::weak_ptr<VC_Conversation> screen) : screen_(std::move(screen)) {}

    bool contactViewControllerShouldPerformDefaultActionForContactProperty(
        system_screens::ContactViewController& card, const system_screens::ContactProperty& property) override {
        auto screen = screen_.lock();
        return screen ? screen->shouldPerformDefaultActionForContactProperty(card, property) : true;
    }
    void contactViewControllerDidCompleteWithContact(system_screens::ContactViewController& card,
                                                     const std::optional<services::Contact>& contact) override {
        if (auto screen = screen_.lock()) screen->didCompleteWithContact(card, contact);
    }

private:
    std::weak_ptr<VC_Conversation> screen_;
};

std::shared_ptr<VC_Conversation::ActionDelegates> VC_Conversation::actionDelegates() {
    if (!actionDelegates_) actionDelegates_ = std::make_shared<ActionDelegates>(weakSelf<VC_Conversation>());
    return actionDelegates_;
}

std::optional<services::Contact> VC_Conversation::newDeviceContact(const std::string& sender,
                                                                   const std::string& phoneNumber, int64_t type,
                                                                   const std::string& lastMessageText) {
    auto parsed = services::phoneNumberWithStringValue(phoneNumber);
    if (!parsed) return std::nullopt;
    services::Contact contact;
    const size_t space = sender.find(' ');
    const std::string given = sender.substr(0, space);
    if (given != phoneNumber) contact.givenName = given;
    if (space != std::string::npos) contact.familyName = sender.substr(space + 1);
    contact.phoneNumbers.push_back({phoneLabelFor(type, lastMessageText), *parsed, {}});
    return contact;
}

void VC_Conversation::addNumberCopyGestureRecognizer() {
    if (numberCopyPress_ || !contactName_) return;
    numberCopyPress_ = std::make_shared<toolkit::LongPressGestureRecognizer>(
        [weak = weakSelf<VC_Conversation>()](toolkit::GestureRecognizer& press) {
            if (press.state() != toolkit::GestureState::Began) return;
            if (auto self = weak.lock()) self->showNumberCopy();
        });
    numberCopyPress_->minimumPressDuration = kPressDuration;
    contactName_->setUserInteractionEnabled(true);
    contactName_->addGestureRecognizer(numberCopyPress_);
}

void VC_Conversation::showNumberCopy() {
    if (!contactName_ || !conversation_) return;
    (void)becomeFirstResponder();
    auto& menu = toolkit::MenuController::shared();
    menu.menuItems = {{localizedString("Copy Number"), "copyPhoneNumber:"}};
    const toolkit::Rect label = contactName_->frame();
    const toolkit::View* footer = contactName_->superview();
    toolkit::Rect target = footer ? footer->convertRectTo(label, view().get()) : label;
    target = target.offsetBy(0, -label.minY());
    menu.setTargetRect(target, view().get());
    menu.showMenu(true);
}

std::shared_ptr<toolkit::NavigationController>
VC_Conversation::presentContactCard(const std::shared_ptr<system_screens::ContactViewController>& card, bool unknown) {
    auto routing = roles_.routing.lock();
    const bool tablet = routing && routing->iPad();
    card->delegate = std::shared_ptr<system_screens::ContactViewControllerDelegate>(actionDelegates());
    card->contactStore = services::ContactStore::shared();
    card->allowsEditing = true;
    card->allowsActions = false;
    card->view()->setTintColor(graphics::Color::systemBlue());
    contactCard_ = card;
    if (unknown) {
        auto nav = std::make_shared<toolkit::NavigationController>(card);
        card->navigationItem().setLeftBarButtonItem(toolkit::BarButtonItem::withSystemItem(
            toolkit::SystemItem::Cancel, [weak = weakSelf<VC_Conversation>()](toolkit::BarButtonItem&) {
                if (auto self = weak.lock()) self->dismissContactsViewController();
            }));
        nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
        if (auto* popover = nav->popoverPresentationController(); popover && tablet) {
            popover->permittedArrowDirections = toolkit::kArrowDown | toolkit::kArrowRight;
            if (auto* add = footerView_ ? footerView_->viewWithTag(kAddContactTag) : nullptr) {
                popover->sourceView = footerView_;
                popover->sourceRect = add->frame();
            } else {
                popover->sourceView = view();
            }
        }
        present(nav, true);
        return nav;
    }
    card->shouldShowLinkedContacts = true;
    card->setTitle(std::string());
    if (!tablet) {
        if (auto* nav = navigationController()) nav->pushViewController(card, true);
        return nullptr;
    }
    auto nav = std::make_shared<toolkit::NavigationController>(card);
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    return nav;
}

void VC_Conversation::dismissContactsViewController() {
    // Presented by the stack the screen is in (presentations come from the containment's root).
    toolkit::ViewController* host = this;
    while (host && !host->presentedViewController()) host = host->parent();
    if (host) host->dismiss(true);
}

void VC_Conversation::openContact(const toolkit::View* sender) {
    auto r = role();
    if (!r || !conversation_) return;
    const std::string formatted = conversation_->formattedNumber();
    const std::string id = r->recordIDForNumber(formatted);
    if (id.empty()) return;
    std::vector<std::string> keys = services::ContactFormatter::descriptorForRequiredKeys();
    for (const char* key :
         {services::kContactIdentifierKey, services::kContactPhoneNumbersKey, services::kContactOrganizationNameKey,
          services::kContactImageDataKey, services::kContactThumbnailImageDataKey, services::kContactTypeKey})
        keys.emplace_back(key);
    auto contact = services::ContactStore::shared()->unifiedContactWithIdentifier(id, keys);
    if (!contact.ok()) return;
    auto card = system_screens::ContactViewController::forContact(contact.value());
    std::vector<const services::LabeledPhoneNumber*> same;
    for (const auto& phone : contact.value().phoneNumbers)
        if (PhoneExtensions::formattedPhoneNumberFromString(phone.stringValue) == formatted) same.push_back(&phone);
    if (same.size() == 1) card->highlightPropertyWithKey(services::kContactPhoneNumbersKey, same.front()->identifier);
    // The phone pushes the card; the tablet shows it in a popover.
    auto popoverNav = presentContactCard(card, false);
    if (!popoverNav) return;
    if (auto* popover = popoverNav->popoverPresentationController()) {
        // From the title's button, pointing up at it; else down or left at the picture.
        const bool fromButton = dynamic_cast<const toolkit::Button*>(sender) != nullptr;
        const toolkit::View* anchor = fromButton ? sender : contactImage_.get();
        popover->sourceView = view();
        popover->sourceRect = anchor && anchor->superview()
                                  ? anchor->superview()->convertRectTo(anchor->frame(), view().get())
                                  : toolkit::Rect{};
        popover->permittedArrowDirections = fromButton ? toolkit::kArrowUp : toolkit::kArrowDown | toolkit::kArrowLeft;
    }
    present(popoverNav, true);
}

void VC_Conversation::openURLForNumber(const std::string& number) {
    auto r = role();
    if (!r) return;
    const bool skip = HXPreferenceOf(roles_.alerts, HXPreference::SkipDialpad);
    auto a = alerts();
    auto account = a ? a->account() : nullptr;
    r->openAppURL(callURLForNumber(number, skip, skip ? hxCallMethodParameter(account.get()) : std::string()));
}

bool VC_Conversation::shouldPerformDefaultActionForContactProperty(system_screens::ContactViewController& card,
                                                                   const system_screens::ContactProperty& property) {
    if (HXPreferenceOf(roles_.alerts, HXPreference::NativeDialerActions) ||
        property.key != services::kContactPhoneNumbersKey)
        return true;
    const std::string number = property.value.stringValue;
    auto weakCard = card.weakSelf<system_screens::ContactViewController>();
    dispatch::Queue::main()->async([weak = weakSelf<VC_Conversation>(), weakCard, number] {
        auto self = weak.lock();
        auto shown = weakCard.lock();
        if (!self || !shown) return;
        const bool tablet = self->roles_.routing.lock() && self->roles_.routing.lock()->iPad();
        const std::string formatted = PhoneExtensions::formattedPhoneNumberFromString(number);
        auto sheet =
            toolkit::AlertController::make(std::nullopt, std::nullopt, toolkit::AlertControllerStyle::ActionSheet);
        (void)sheet->addAction(
            toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
        const bool symbols = toolkit::Device::current().systemVersion() >= 13;
        auto call = toolkit::AlertAction::make(foundation::format("%@ %@", localizedString("Call"), formatted),
                                               toolkit::AlertActionStyle::Default,
                                               [weak, weakCard, number, tablet](toolkit::AlertAction&) {
                                                   auto screen = weak.lock();
                                                   if (!screen) return;
                                                   if (!tablet)
                                                       if (auto* nav = screen->navigationController();
                                                           nav && nav->topViewController() == weakCard.lock().get())
                                                           nav->popViewController(true);
                                                   screen->openURLForNumber(number);
                                               });
        call->image = symbols ? graphics::systemImageNamed("phone") : graphics::imageNamed("Call");
        (void)sheet->addAction(call);
        auto text = toolkit::AlertAction::make(
            foundation::format(localizedString("Text %@"), formatted), toolkit::AlertActionStyle::Default,
            [weak, weakCard, number, tablet](toolkit::AlertAction&) {
                auto screen = weak.lock();
                if (!screen) return;
                if (tablet) {
                    screen->dismissContactsViewController();
                } else if (auto* nav = screen->navigationController();
                           nav && nav->topViewController() == weakCard.lock().get()) {
                    nav->popViewController(true);
                }
                if (auto actions = screen->roles_.conversations.lock()) actions->newMessageToNumber(number, "", "");
            });
        text->image = symbols ? graphics::systemImageNamed("message") : graphics::imageNamed("SMS");
        (void)sheet->addAction(text);
        if (auto* popover = sheet->popoverPresentationController()) {
            const toolkit::Rect bounds = shown->view()->bounds();
            popover->sourceView = shown->view();
            popover->sourceRect = {0, bounds.height() - 1, bounds.width(), 1};
            popover->permittedArrowDirections = toolkit::kArrowDown;
        }
        toolkit::ViewController* host = shown.get();
        while (host->presentedViewController()) host = host->presentedViewController();
        host->present(sheet, true);
    });
    return false;
}

void VC_Conversation::didCompleteWithContact(system_screens::ContactViewController& card,
                                             const std::optional<services::Contact>& contact) {
    (void)card;
    auto r = role();
    if (contact && conversation_) {
        services::SaveRequest request;
        request.addContact(*contact);
        // The card hands back what it made without saving it: stored here, once. A contact the
        // device refused (its access was taken back meanwhile) names nothing.
        const bool saved = services::ContactStore::shared()->executeSaveRequest(request).ok();
        const std::string name = saved ? services::ContactFormatter::fullName(*contact).value_or("") : std::string();
        if (!name.empty()) setTitle(name);
        if (!name.empty() && r) r->setContactName(conversation_->conversationID(), name);
        if (r && saved) {
            r->resetContacts();
            std::weak_ptr<HXConversationRole> weakRole = r;
            dispatch::Queue::global(dispatch::Priority::Background)
                ->async([weakRole, number = conversation_->phoneNumber()] {
                    if (auto role = weakRole.lock()) role->lookupPhone(number);
                });
        }
    }
    dismissContactsViewController();
    updateTitle();
    updateContactInfo();
}

// ---- the navigation bar's actions and the preview's

void VC_Conversation::installActionsButton() {
    if (isPeeking() || navigationItem().rightBarButtonItem()) return;
    auto weak = weakSelf<VC_Conversation>();
    const int system = toolkit::Device::current().systemVersion();
    toolkit::BarButtonItemPtr more;
    if (system >= 14) {
        more = toolkit::BarButtonItem::withImage(graphics::systemImageNamed("ellipsis"));
        more->menu = actionsMenu();
        menuBuilt_ = true;
    } else {
        auto image = system >= 13 ? graphics::systemImageNamed("ellipsis") : graphics::imageNamed("More");
        more = toolkit::BarButtonItem::withImage(image, toolkit::BarButtonStyle::Done, [weak](toolkit::BarButtonItem&) {
            if (auto self = weak.lock()) self->showActions();
        });
        if (system < 13) more->landscapeImage = graphics::imageScaledToFitSize(image, {17, 17});
    }
    more->accessibilityLabel = localizedString("Conversation actions");
    navigationItem().setRightBarButtonItem(more);
}

HXConversationActionSource VC_Conversation::actionSource(bool menu) const {
    auto list = roles_.listActions.lock();
    std::weak_ptr<HXListActionsRole> weakList = list;
    const std::string id = conversation_ ? conversation_->conversationID() : std::string();
    const std::string number = conversation_ ? conversation_->phoneNumber() : std::string();
    auto conversations = roles_.conversations;
    auto weakRole = roles_.conversation;
    return {.title =
                [weakList](int code) {
                    return weakList.lock() ? weakList.lock()->titleForConversationAction(code) : std::nullopt;
                },
            .image =
                [weakList](int code) {
                    return weakList.lock() ? weakList.lock()->imageForConversationAction(code) : std::nullopt;
                },
            .action = [=](int code) -> std::function<void()> {
                // The read status only follows the archive code of a preview.
                if (code == 5 || code == 6) return {};
                // The menu alone deletes the note and moves the conversation to or from the spam
                // (and edits the note, which the screen's menu adds).
                if (menu && code == 8)
                    return [weakRole, id] {
                        if (auto c = weakRole.lock()) c->setNote(std::nullopt, id);
                    };
                if (menu && (code == 12 || code == 13))
                    return [weakList, id] {
                        if (auto l = weakList.lock()) l->changeSpamStatusForConversationWithID(id);
                    };
                return hxCommonConversationAction(code, weakList, conversations, id, number);
            }};
}

toolkit::MenuPtr VC_Conversation::actionsMenu() {
    auto list = roles_.listActions.lock();
    if (!list || !conversation_) return nullptr;
    auto source = actionSource(true);
    source.action = [base = source.action, weak = weakSelf<VC_Conversation>()](int code) -> std::function<void()> {
        if (code != 7) return base(code);
        return [weak] {
            if (auto self = weak.lock()) self->editNote();
        };
    };
    return hxConversationActionsMenu(
        hxConversationActionItems(list->messageOptionsForConversation(conversation_->object()), source),
        toolkit::Device::current().systemVersion());
}

std::vector<toolkit::PreviewAction> VC_Conversation::previewActionItems() const {
    auto list = roles_.listActions.lock();
    if (!list || !conversation_) return {};
    std::optional<HXReadToggle> toggle;
    if (conversationType() != 3) {
        const int code = conversation_->isRead() ? 6 : 5;
        toggle = HXReadToggle{code, hxCommonConversationAction(code, list, roles_.conversations,
                                                               conversation_->conversationID(),
                                                               conversation_->phoneNumber())};
    }
    std::vector<toolkit::PreviewAction> out;
    // The preview is gone by the time a handler runs (the platform dismisses it first).
    for (auto& item : hxConversationActionItems(list->messageOptionsForConversation(conversation_->object()),
                                                actionSource(false), toggle))
        out.push_back(
            {item.title,
             item.destructive() ? toolkit::PreviewActionStyle::Destructive : toolkit::PreviewActionStyle::Default,
             [run = item.run](const toolkit::PreviewAction&, toolkit::ViewController&) { run(); }});
    return out;
}

void VC_Conversation::installCallLongPress() {
    auto* nav = navigationController();
    if (!nav || callPress_ || !conversation_) return;
    const std::string number = conversation_->phoneNumber();
    if (number == "Unknown" || number == "Group Message") return;
    callPress_ = std::make_shared<toolkit::LongPressGestureRecognizer>(
        [weak = weakSelf<VC_Conversation>()](toolkit::GestureRecognizer& press) {
            auto self = weak.lock();
            if (!self || press.state() != toolkit::GestureState::Began || !press.view()) return;
            self->actionLongPress(press.locationInView(press.view()), press.view()->bounds().width());
        });
    callPress_->minimumPressDuration = kPressDuration;
    nav->navigationBar().addGestureRecognizer(callPress_);
}

void VC_Conversation::removeCallLongPress() {
    if (!callPress_) return;
    // The bar is the stack's: the press leaves with the screen, so it calls nobody from the others.
    if (auto* bar = callPress_->view()) bar->removeGestureRecognizer(callPress_.get());
    callPress_.reset();
}

// ---- the table's double tap

void VC_Conversation::addDoubleTapRecognizer() {
    if (doubleTap_ || !tableView_ || title() == "Unknown") return;
    doubleTap_ = std::make_shared<toolkit::TapGestureRecognizer>(
        [weak = weakSelf<VC_Conversation>()](toolkit::GestureRecognizer& tap) {
            if (auto self = weak.lock()) self->handleDoubleTap(tap);
        });
    doubleTap_->numberOfTapsRequired = 2;
    tableView_->addGestureRecognizer(doubleTap_);
}

void VC_Conversation::handleDoubleTap(toolkit::GestureRecognizer& recognizer) {
    if (recognizer.state() != toolkit::GestureState::Ended) return;
    openReply(foundation::Notification{});
}
