// The device contact picker as the dial pad and the favourites use it: only phone numbers shown,
// contacts without one greyed out, a contact with one number picked whole, and every pick handed
// on as one phone of one contact (a contact picked whole gives its first number).
#pragma once

#include <functional>
#include <memory>

#include "platform/services/contacts.h"
#include "platform/system_screens/contact_picker.h"

class HXContactPhonePicker : public system_screens::ContactPickerDelegate,
                             public std::enable_shared_from_this<HXContactPhonePicker> {
public:
    using Picked = std::function<void(const services::LabeledPhoneNumber& phone, const services::Contact& contact)>;

    explicit HXContactPhonePicker(Picked picked) : picked_(std::move(picked)) {}

    // A picker over the store's contacts, set up as above and heard by this adapter (held weakly,
    // so its owner keeps it).
    std::shared_ptr<system_screens::ContactPickerViewController>
    makePicker(std::shared_ptr<services::ContactStore> store = services::ContactStore::shared());

    void contactPickerDidSelectContact(system_screens::ContactPickerViewController& picker,
                                       const services::Contact& contact) override;
    void contactPickerDidSelectContactProperty(system_screens::ContactPickerViewController& picker,
                                               const system_screens::ContactProperty& property) override;

private:
    Picked picked_;
};
