#include "app/contact_phone_picker.h"

#include "platform/toolkit/traits.h"

std::shared_ptr<system_screens::ContactPickerViewController>
HXContactPhonePicker::makePicker(std::shared_ptr<services::ContactStore> store) {
    auto picker = std::make_shared<system_screens::ContactPickerViewController>(std::move(store));
    picker->displayedPropertyKeys = {services::kContactPhoneNumbersKey};
    picker->delegate = weak_from_this();
    picker->view()->setTintColor(toolkit::Color::systemBlue());
    (void)picker->setPredicateForEnablingContact("phoneNumbers.@count > 0");
    (void)picker->setPredicateForSelectionOfContact("phoneNumbers.@count = 1");
    if (toolkit::Device::current().isPad())
        picker->modalPresentationStyle = toolkit::ModalPresentationStyle::CurrentContext;
    return picker;
}

void HXContactPhonePicker::contactPickerDidSelectContact(system_screens::ContactPickerViewController&,
                                                         const services::Contact& contact) {
    if (!contact.phoneNumbers.empty() && picked_) picked_(contact.phoneNumbers.front(), contact);
}

void HXContactPhonePicker::contactPickerDidSelectContactProperty(system_screens::ContactPickerViewController&,
                                                                 const system_screens::ContactProperty& property) {
    if (property.key == services::kContactPhoneNumbersKey && picked_) picked_(property.value, property.contact);
}
