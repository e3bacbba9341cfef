// The contact header under the bubbles, adding the number to the service's or the device's
// contacts, the actions popover, the call by a long press on the navigation bar, the note editor,
// and the URL a contact card's "Call" opens.
#include <algorithm>

#include "model/account.h"
#include "model/cache.h"
#include "model/phone_extensions.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/graphics/color.h"
#include "platform/graphics/image_operations.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/conversation/vc_note_edit.h"
#include "ui/widgets/call_url.h"
#include "ui/widgets/default_contact_image.h"

namespace {

using foundation::localizedString;

// Call item types whose last text may end in " - " and a phone label.
constexpr int64_t kCallTypesWithLabelMask = 0x3B193;

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
        contactName_->setText(localizedString("Unknown"));
        addContactHidden_ = true;
        contactImage_->setImage(defaultContactImage());
    } else if (!title().empty()) {
        contactName_->setText(foundation::format("%@\n%@", title(), formatted));
        const std::string id = r ? r->recordIDForNumber(formatted) : std::string();
        if (!id.empty() && !contactImageIsButton_) {
            contactImageIsButton_ = true;
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
        contactName_->setText(formatted);
        contactImage_->setImage(defaultContactImage());
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
    if (!conversation_ || inBar.x < barWidth - 50) return;
    const std::string number = conversation_->phoneNumber();
    if (number == "Unknown" || number == "Group Message") return;
    if (auto actions = roles_.conversations.lock()) actions->placeCallTo(number);
}

void VC_Conversation::editNote() {
    if (!conversation_) return;
    auto editor = std::make_shared<VC_NoteEdit>(
        VC_NoteEdit::Roles{.conversation = roles_.conversation, .routing = roles_.routing},
        conversation_->conversationID());
    auto nav = std::make_shared<toolkit::NavigationController>(editor);
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    if (auto* popover = nav->popoverPresentationController()) {
        popover->sourceView = view();
        popover->permittedArrowDirections = toolkit::kArrowRight;
        if (tableView_) {
            const long last = tableView_->numberOfSections() - 1;
            popover->sourceRect = last >= 0 ? tableView_->rectForFooter(last) : toolkit::Rect{};
            popover->passthroughViews = {tableView_};
        }
    }
    auto* host = navigationController() ? static_cast<toolkit::ViewController*>(navigationController()) : this;
    host->present(nav, true);
}

void VC_Conversation::addContactToSource(const std::string& source) {
    if (!conversation_) return;
    auto r = role();
    if (!r) return;
    const std::string number = conversation_->phoneNumber();
    const std::string sender = conversation_->sender();
    const std::string abName = conversation_->ABName();
    const bool authorized = services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized;
    auto weak = weakSelf<VC_Conversation>();
    if (source.empty()) {
        if (authorized && abName.empty() && sender == number) {
            auto ask = toolkit::AlertController::make(localizedString("Create new Contact"), std::nullopt,
                                                      toolkit::AlertControllerStyle::Alert);
            (void)ask->addAction(
                toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
            (void)ask->addAction(toolkit::AlertAction::make(
                localizedString("HX Contacts"), toolkit::AlertActionStyle::Default, [weak](toolkit::AlertAction&) {
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
            return;
        }
        addContactToSource(authorized && abName.empty() ? "AB" : "HX");
        return;
    }
    if (source == "HX") {
        auto prompt = toolkit::AlertController::make(
            localizedString("Add Contact"), localizedString("Enter a name to add this number to your HX Contacts"),
            toolkit::AlertControllerStyle::Alert);
        const std::string prefill = abName.empty() ? std::string() : nameWithoutLabel(abName);
        const std::string placeholder = conversation_->formattedNumber();
        (void)prompt->addTextField([prefill, placeholder](toolkit::TextField& field) {
            field.setPlaceholder(placeholder);
            field.setText(prefill);
        });
        (void)prompt->addAction(
            toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
        std::weak_ptr<toolkit::AlertController> weakPrompt = prompt;
        (void)prompt->addAction(toolkit::AlertAction::make(
            localizedString("OK"), toolkit::AlertActionStyle::Default,
            [weak, weakPrompt, number](toolkit::AlertAction&) {
                auto self = weak.lock();
                auto p = weakPrompt.lock();
                if (!self || !p || p->textFields().empty()) return;
                const std::string name = p->textFields().front()->text();
                if (name.empty()) return;
                self->updatedContactName_ = name;
                auto types = toolkit::AlertController::make(localizedString("Select Phone Type"), std::nullopt,
                                                            toolkit::AlertControllerStyle::Alert);
                (void)types->addAction(
                    toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
                for (const auto& [title, type] :
                     {std::pair<const char*, const char*>{"Mobile", "MOBILE"}, {"Work", "WORK"}, {"Home", "HOME"}})
                    (void)types->addAction(toolkit::AlertAction::make(
                        localizedString(title), toolkit::AlertActionStyle::Default,
                        [weak, name, number, type = std::string(type)](toolkit::AlertAction&) {
                            auto screen = weak.lock();
                            auto role = screen ? screen->role() : nullptr;
                            if (role) role->addContact(name, number, type);
                        }));
                self->present(types, true);
            }));
        present(prompt, true);
        return;
    }
    if (source == "AB") {
        // Adding to the device's contacts goes through its card for an unknown contact, a part of
        // the device's contacts still to come; only the restriction's alert is shown here.
        (void)r->isABAccessRestricted();
    }
}
