// The system's contact picker the new-message screen opens for a recipient, handing the number
// picked back to the screen that opened it (the favourites list is a screen of ours: the screen
// opens it through its maker).
#include "app/contact_phone_picker.h"
#include "app/shell_roles.h"
#include "platform/services/contacts.h"
#include "service/conversation_title.h"

void HXAppComposeRole::presentContactPicker(toolkit::ViewController& presenter, RecipientPicked picked) {
    recipientPicker_ = std::make_shared<HXContactPhonePicker>(
        [picked = std::move(picked)](const services::LabeledPhoneNumber& phone, const services::Contact& contact) {
            if (!picked) return;
            const std::string name = services::ContactFormatter::fullName(contact).value_or("");
            (void)picked(phone.stringValue,
                         HXRecipientTitle(name, services::localizedStringForLabel(phone.label), phone.stringValue));
        });
    presenter.present(recipientPicker_->makePicker(), true);
}
