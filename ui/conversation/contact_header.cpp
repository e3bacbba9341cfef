// The contact header under a conversation's bubbles: drawing it, copying the number, adding the
// number to the service's or the device's contacts, and the device's cards it opens.
#include "ui/conversation/contact_header.h"

#include "model/cache.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
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
#include "service/conversation_title.h"
#include "ui/widgets/call_url.h"
#include "ui/widgets/caret_navigation.h"
#include "ui/widgets/default_contact_image.h"
#include "ui/widgets/letterpress.h"

namespace {

using foundation::localizedString;

// Call item types whose last text may end in " - " and a phone label.
constexpr int64_t kCallTypesWithLabelMask = 0x3B193;
// The press on the name that offers to copy the number.
constexpr double kCopyPressDuration = 0.7;

bool contactsAuthorized() {
    return services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized;
}

}  // namespace

std::shared_ptr<HXContactHeader> HXContactHeader::make(Setup setup) {
    return std::shared_ptr<HXContactHeader>(new HXContactHeader(std::move(setup)));
}

std::string HXContactHeader::phoneLabelFor(int64_t type, const std::string& lastMessageText) {
    if (type >= 0 && type < 63 && ((int64_t{1} << type) & kCallTypesWithLabelMask)) {
        const size_t at = lastMessageText.rfind(" - ");
        if (at != std::string::npos) {
            const std::string label = foundation::trim(lastMessageText.substr(at + 3));
            if (!label.empty()) return label;
        }
    }
    return services::kLabelPhoneNumberMobile;
}

std::optional<services::Contact> HXContactHeader::newDeviceContact(const std::string& sender,
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

// ---- the header's views and drawing

std::shared_ptr<toolkit::View> HXContactHeader::makeView(double width) {
    if (root_) return root_;
    root_ = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, width, 76});
    root_->setAutoresizingMask(toolkit::kFlexibleWidth);
    contactImage_ = std::make_shared<toolkit::ImageView>();
    contactImage_->setFrame({16, 10, 56, 56});
    contactImage_->setClipsToBounds(true);
    contactImage_->layer().cornerRadius = 28;
    contactName_ = std::make_shared<toolkit::Label>(toolkit::Rect{84, 10, width - 84 - 60, 56});
    contactName_->setNumberOfLines(2);
    contactName_->setTextColor(graphics::Color::label());
    addContact_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::ContactAdd);
    addContact_->setTag(kAddContactTag);
    addContact_->setFrame({width - 52, 23, 30, 30});
    addContact_->setAutoresizingMask(toolkit::kFlexibleLeftMargin);
    addContact_->accessibility().label = localizedString("Add Contact");
    root_->addSubview(contactImage_);
    root_->addSubview(contactName_);
    root_->addSubview(addContact_);
    addContact_->addAction(
        [weak = weak_from_this()](toolkit::Control&, const toolkit::Event*) {
            if (auto self = weak.lock()) self->addContactToSource("");
        },
        toolkit::kTouchUpInside);
    updateFont();
    return root_;
}

void HXContactHeader::updateFont() {
    if (contactName_)
        if (auto font = graphics::HXCFont::HXCFontForType(4))
            contactName_->setFont(graphics::Font::system(font->pointSize(), contactName_->font().weight()));
}

void HXContactHeader::updateContactInfo() {
    const auto& conversation = setup_.conversation;
    auto shown = screen();
    if (!conversation || !contactName_ || !contactImage_ || !shown) return;
    auto r = role();
    const std::string formatted = conversation->formattedNumber();
    const std::string title = shown->title();
    if (title == "Unknown") {
        hxSetLetterpressedText(*contactName_, localizedString("Unknown"));
        addContactHidden_ = true;
        contactImage_->setImage(defaultContactImage());
    } else if (!title.empty()) {
        hxSetLetterpressedText(*contactName_, foundation::format("%@\n%@", title, formatted));
        addNumberCopyGestureRecognizer();
        const std::string id = r ? r->recordIDForNumber(formatted) : std::string();
        if (!id.empty() && !imageIsButton_) {
            imageIsButton_ = true;
            contactImage_->addGestureRecognizer(std::make_shared<toolkit::TapGestureRecognizer>(
                [weak = weak_from_this()](toolkit::GestureRecognizer& tap) {
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
        if (auto media = setup_.media.lock())
            if (auto cached = media->mediaCache()->objectForKey(formatted)) {
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
    // Decided while the button shows; once hidden it stays hidden. A number the service does not
    // name keeps it even when the device names the number: it then adds the number to the
    // service's contacts. Only a phone number is offered (no name, code or address).
    if (!addContactHidden_ && addContact_) {
        const bool unnamed = conversation->phoneNumber() == conversation->sender();
        const bool offer = contactsAuthorized() ? conversation->ABName().empty() || unnamed : unnamed;
        const bool parses = services::phoneNumberWithStringValue(conversation->phoneNumber()).has_value();
        if (!(offer && parses)) addContactHidden_ = true;
    }
    if (addContact_) addContact_->setHidden(addContactHidden_);
}

void HXContactHeader::addNumberCopyGestureRecognizer() {
    if (numberCopyPress_ || !contactName_) return;
    numberCopyPress_ = std::make_shared<toolkit::LongPressGestureRecognizer>(
        [weak = weak_from_this()](toolkit::GestureRecognizer& press) {
            if (press.state() != toolkit::GestureState::Began) return;
            if (auto self = weak.lock()) self->showNumberCopy();
        });
    numberCopyPress_->minimumPressDuration = kCopyPressDuration;
    contactName_->setUserInteractionEnabled(true);
    contactName_->addGestureRecognizer(numberCopyPress_);
}

void HXContactHeader::showNumberCopy() {
    // The menu's item is the screen's own action ("copyPhoneNumber:"): it takes the focus.
    auto shown = screen();
    if (!contactName_ || !setup_.conversation || !shown) return;
    (void)shown->becomeFirstResponder();
    auto& menu = toolkit::MenuController::shared();
    menu.menuItems = {{localizedString("Copy Number"), "copyPhoneNumber:"}};
    const toolkit::Rect label = contactName_->frame();
    const toolkit::View* footer = contactName_->superview();
    toolkit::Rect target = footer ? footer->convertRectTo(label, shown->view().get()) : label;
    target = target.offsetBy(0, -label.minY());
    menu.setTargetRect(target, shown->view().get());
    menu.showMenu(true);
}

// ---- adding the number to a contact

void HXContactHeader::addContactToSource(const std::string& source) {
    const auto& conversation = setup_.conversation;
    if (!conversation || !role()) return;
    const std::string number = conversation->phoneNumber();
    const std::string abName = conversation->ABName();
    const bool authorized = contactsAuthorized();
    if (source.empty()) {
        if (authorized && abName.empty() && conversation->sender() == number) return askWhereToAdd();
        addContactToSource(authorized && abName.empty() ? "AB" : "HX");
        return;
    }
    if (source == "HX") return promptServiceName();
    if (source == "AB") {
        // A restricted device says so itself; a number that is no phone number offers nothing.
        if (auto a = setup_.alerts.lock(); a && a->isABAccessRestricted()) return;
        auto contact =
            newDeviceContact(conversation->sender(), number, conversation->type(), conversation->lastMessageText());
        if (!contact) return;
        presentContactCard(system_screens::ContactViewController::forUnknownContact(std::move(*contact)), true);
    }
}

void HXContactHeader::askWhereToAdd() {
    auto shown = screen();
    if (!shown) return;
    auto weak = weak_from_this();
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
    shown->present(ask, true);
}

void HXContactHeader::promptServiceName() {
    auto shown = screen();
    if (!shown) return;
    const std::string abName = setup_.conversation->ABName();
    auto prompt = toolkit::AlertController::make(localizedString("Add Contact"),
                                                 localizedString("Enter a name to add this number to your HX Contacts"),
                                                 toolkit::AlertControllerStyle::Alert);
    const std::string prefill = abName.empty() ? std::string() : HXContactNameWithoutLabel(abName);
    const std::string placeholder = setup_.conversation->formattedNumber();
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
        [weak = weak_from_this(), weakPrompt, number = setup_.conversation->phoneNumber()](toolkit::AlertAction&) {
            auto self = weak.lock();
            auto p = weakPrompt.lock();
            if (!self || !p || p->textFields().empty()) return;
            const std::string name = p->textFields().front()->text();
            if (name.empty()) return;
            self->addedName_ = name;
            self->askPhoneType(name, number);
        }));
    shown->present(prompt, true);
}

void HXContactHeader::askPhoneType(const std::string& name, const std::string& number) {
    auto shown = screen();
    if (!shown) return;
    auto types = toolkit::AlertController::make(localizedString("Select Phone Type"), std::nullopt,
                                                toolkit::AlertControllerStyle::Alert);
    (void)types->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    for (const auto& [title, type] :
         {std::pair<const char*, const char*>{"Mobile", "MOBILE"}, {"Work", "WORK"}, {"Home", "HOME"}})
        (void)types->addAction(toolkit::AlertAction::make(
            localizedString(title), toolkit::AlertActionStyle::Default,
            [weak = weak_from_this(), name, number, type = std::string(type)](toolkit::AlertAction&) {
                auto self = weak.lock();
                auto role = self ? self->role() : nullptr;
                if (role) role->addContact(name, number, type);
            }));
    shown->present(types, true);
}

// ---- the device's cards

std::shared_ptr<toolkit::NavigationController>
HXContactHeader::presentContactCard(const std::shared_ptr<system_screens::ContactViewController>& card, bool unknown) {
    auto shown = screen();
    if (!shown) return nullptr;
    auto routing = setup_.routing.lock();
    const bool tablet = routing && routing->iPad();
    card->delegate = std::weak_ptr<system_screens::ContactViewControllerDelegate>(shared_from_this());
    card->contactStore = services::ContactStore::shared();
    card->allowsEditing = true;
    card->allowsActions = false;
    card->view()->setTintColor(graphics::Color::systemBlue());
    contactCard_ = card;
    if (unknown) {
        auto nav = std::make_shared<toolkit::NavigationController>(card);
        card->navigationItem().setLeftBarButtonItem(toolkit::BarButtonItem::withSystemItem(
            toolkit::SystemItem::Cancel, [weak = weak_from_this()](toolkit::BarButtonItem&) {
                if (auto self = weak.lock()) self->dismissContactsViewController();
            }));
        nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
        if (auto* popover = nav->popoverPresentationController(); popover && tablet) {
            popover->permittedArrowDirections = toolkit::kArrowDown | toolkit::kArrowRight;
            if (auto* add = root_ ? root_->viewWithTag(kAddContactTag) : nullptr) {
                popover->sourceView = root_;
                popover->sourceRect = add->frame();
            } else {
                popover->sourceView = shown->view();
            }
        }
        shown->present(nav, true);
        return nav;
    }
    card->shouldShowLinkedContacts = true;
    card->setTitle(std::string());
    if (!tablet) {
        if (auto* nav = shown->navigationController()) nav->pushViewController(card, true);
        return nullptr;
    }
    auto nav = std::make_shared<toolkit::NavigationController>(card);
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    return nav;
}

void HXContactHeader::dismissContactsViewController() {
    // Presented by the stack the screen is in (presentations come from the containment's root).
    auto shown = screen();
    toolkit::ViewController* host = shown.get();
    while (host && !host->presentedViewController()) host = host->parent();
    if (host) host->dismiss(true);
}

void HXContactHeader::openContact(const toolkit::View* sender) {
    auto r = role();
    auto shown = screen();
    if (!r || !setup_.conversation || !shown) return;
    const std::string formatted = setup_.conversation->formattedNumber();
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
        popover->sourceView = shown->view();
        popover->sourceRect = anchor && anchor->superview()
                                  ? anchor->superview()->convertRectTo(anchor->frame(), shown->view().get())
                                  : toolkit::Rect{};
        popover->permittedArrowDirections = fromButton ? toolkit::kArrowUp : toolkit::kArrowDown | toolkit::kArrowLeft;
    }
    shown->present(popoverNav, true);
}

void HXContactHeader::openURLForNumber(const std::string& number) {
    auto r = role();
    if (!r) return;
    const bool skip = HXPreferenceOf(setup_.alerts, HXPreference::SkipDialpad);
    auto a = setup_.alerts.lock();
    auto account = a ? a->account() : nullptr;
    r->openAppURL(hxCallURLForNumber(number, skip, skip ? hxCallMethodParameter(account.get()) : std::string()));
}

bool HXContactHeader::contactViewControllerShouldPerformDefaultActionForContactProperty(
    system_screens::ContactViewController& card, const system_screens::ContactProperty& property) {
    if (HXPreferenceOf(setup_.alerts, HXPreference::NativeDialerActions) ||
        property.key != services::kContactPhoneNumbersKey)
        return true;
    dispatch::Queue::main()->async([weak = weak_from_this(),
                                    weakCard = card.weakSelf<system_screens::ContactViewController>(),
                                    number = property.value.stringValue] {
        if (auto self = weak.lock()) self->offerNumber(weakCard, number);
    });
    return false;
}

void HXContactHeader::offerNumber(const std::weak_ptr<system_screens::ContactViewController>& weakCard,
                                  const std::string& number) {
    auto shown = weakCard.lock();
    if (!screen() || !shown) return;
    auto weak = weak_from_this();
    const bool tablet = setup_.routing.lock() && setup_.routing.lock()->iPad();
    const std::string formatted = PhoneExtensions::formattedPhoneNumberFromString(number);
    auto sheet = toolkit::AlertController::make(std::nullopt, std::nullopt, toolkit::AlertControllerStyle::ActionSheet);
    (void)sheet->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    const bool symbols = toolkit::Device::current().systemVersion() >= 13;
    // The phone's card, still on top of the stack, goes back to the conversation first.
    auto popCard = [weakCard](toolkit::ViewController& from) {
        if (auto* nav = from.navigationController(); nav && nav->topViewController() == weakCard.lock().get())
            nav->popViewController(true);
    };
    auto call = toolkit::AlertAction::make(foundation::format("%@ %@", localizedString("Call"), formatted),
                                           toolkit::AlertActionStyle::Default,
                                           [weak, popCard, number, tablet](toolkit::AlertAction&) {
                                               auto self = weak.lock();
                                               auto from = self ? self->screen() : nullptr;
                                               if (!from) return;
                                               if (!tablet) popCard(*from);
                                               self->openURLForNumber(number);
                                           });
    call->image = symbols ? graphics::systemImageNamed("phone") : graphics::imageNamed("Call");
    (void)sheet->addAction(call);
    auto text = toolkit::AlertAction::make(foundation::format(localizedString("Text %@"), formatted),
                                           toolkit::AlertActionStyle::Default,
                                           [weak, popCard, number, tablet](toolkit::AlertAction&) {
                                               auto self = weak.lock();
                                               auto from = self ? self->screen() : nullptr;
                                               if (!from) return;
                                               if (tablet)
                                                   self->dismissContactsViewController();
                                               else
                                                   popCard(*from);
                                               if (auto actions = self->setup_.conversations.lock())
                                                   actions->newMessageToNumber(number, "", "");
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
}

void HXContactHeader::contactViewControllerDidCompleteWithContact(system_screens::ContactViewController& card,
                                                                  const std::optional<services::Contact>& contact) {
    (void)card;
    auto r = role();
    auto shown = screen();
    if (contact && setup_.conversation) {
        services::SaveRequest request;
        request.addContact(*contact);
        // The card hands back what it made without saving it: stored here, once. A contact the
        // device refused (its access was taken back meanwhile) names nothing.
        const bool saved = services::ContactStore::shared()->executeSaveRequest(request).ok();
        const std::string name = saved ? services::ContactFormatter::fullName(*contact).value_or("") : std::string();
        if (!name.empty() && shown) shown->setTitle(name);
        if (!name.empty() && r) r->setContactName(setup_.conversation->conversationID(), name);
        if (r && saved) {
            r->resetContacts();
            std::weak_ptr<HXConversationRole> weakRole = r;
            dispatch::Queue::global(dispatch::Priority::Background)
                ->async([weakRole, number = setup_.conversation->phoneNumber()] {
                    if (auto role = weakRole.lock()) role->lookupPhone(number);
                });
        }
    }
    dismissContactsViewController();
    if (setup_.retitle) setup_.retitle();
    updateContactInfo();
}
