// The pickers the new-message screen opens for a recipient: the system's contact picker and the
// favourites list of the dial pad, each handing its choice back to the screen that opened it.
#include "app/connect_app_delegate.h"
#include "app/contact_phone_picker.h"
#include "app/shell_roles.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/navigation_controller.h"

namespace {

// "Name (label)", or the name alone; a contact without a name to show goes by its number.
std::string recipientTitle(const std::string& name, const std::string& label, const std::string& number) {
    if (name.empty()) return number;
    return label.empty() ? name : foundation::format("%@ (%@)", name, label);
}

}  // namespace

void HXAppComposeRole::presentRecipientPicker(RecipientPicker picker, toolkit::ViewController& presenter,
                                              RecipientPicked picked) {
    const bool pad = app_.iPad();
    if (picker == RecipientPicker::Contacts) {
        recipientPicker_ = std::make_shared<HXContactPhonePicker>(
            [picked = std::move(picked)](const services::LabeledPhoneNumber& phone, const services::Contact& contact) {
                if (!picked) return;
                const std::string name = services::ContactFormatter::fullName(contact).value_or("");
                (void)picked(phone.stringValue,
                             recipientTitle(name, services::localizedStringForLabel(phone.label), phone.stringValue));
            });
        presenter.present(recipientPicker_->makePicker(), true);
        return;
    }
    // The list adds the favourite through picked, closes, and tells the screen, which then gives
    // its text the focus again.
    auto favorites = app_.screens().makeFavorites(
        app_.screenRoles(), [picked = std::move(picked)](const std::string& number, const std::string& name,
                                                         const std::string& label, toolkit::ViewController& list) {
            if (!picked || !picked(number, recipientTitle(name, label, number))) return false;
            list.dismiss(true);
            foundation::NotificationCenter::defaultCenter().post("kFavoriteSelectedNotification");
            return true;
        });
    if (!favorites) {
        app_.screenNotBuilt("openFavorites");
        return;
    }
    auto navigation = std::make_shared<toolkit::NavigationController>(favorites);
    if (pad) navigation->modalPresentationStyle = toolkit::ModalPresentationStyle::CurrentContext;
    presenter.present(navigation, true);
}
