#include "platform/system_screens/contact_picker.h"

#include <algorithm>

#include "platform/foundation/strings.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/table_view.h"

namespace system_screens {

namespace {

std::vector<std::string> fetchKeys() {
    std::vector<std::string> keys = services::ContactFormatter::descriptorForRequiredKeys();
    for (const char* k :
         {services::kContactPhoneNumbersKey, services::kContactNicknameKey, services::kContactOrganizationNameKey,
          services::kContactThumbnailImageDataKey, services::kContactImageDataAvailableKey})
        keys.emplace_back(k);
    return keys;
}

std::string displayName(const services::Contact& c) {
    if (auto name = services::ContactFormatter::fullName(c)) return *name;
    if (!c.organizationName.empty()) return c.organizationName;
    return "No Name";
}

}  // namespace

void ContactKeyValueSource::resolve(const std::vector<std::string>& keyPath, std::vector<foundation::Value>& out,
                                    bool& many) const {
    many = false;
    if (keyPath.empty()) return;
    const std::string& key = keyPath[0];
    if (key == services::kContactPhoneNumbersKey) {
        if (keyPath.size() == 2 && keyPath[1] == "@count") {
            out.emplace_back(static_cast<int64_t>(contact_.phoneNumbers.size()));
            return;
        }
        many = true;
        for (const auto& p : contact_.phoneNumbers) out.emplace_back(p.stringValue);
        return;
    }
    if (keyPath.size() != 1) return;
    const std::pair<const char*, const std::string*> fields[] = {
        {services::kContactIdentifierKey, &contact_.identifier},
        {services::kContactGivenNameKey, &contact_.givenName},
        {services::kContactFamilyNameKey, &contact_.familyName},
        {services::kContactMiddleNameKey, &contact_.middleName},
        {services::kContactNamePrefixKey, &contact_.namePrefix},
        {services::kContactNameSuffixKey, &contact_.nameSuffix},
        {services::kContactNicknameKey, &contact_.nickname},
        {services::kContactOrganizationNameKey, &contact_.organizationName},
    };
    for (const auto& [name, value] : fields)
        if (key == name) out.emplace_back(*value);
}

// ---- the picker's list

class ContactPickerViewController::List : public toolkit::TableViewController {
public:
    explicit List(ContactPickerViewController* picker) : picker_(picker) {}
    std::string className() const override { return "CNContactPickerListController"; }

    void viewDidLoad() override {
        setTitle("Contacts");
        navigationItem().setRightBarButtonItem(toolkit::BarButtonItem::withSystemItem(
            toolkit::SystemItem::Cancel, [this](toolkit::BarButtonItem&) { picker_->cancel(); }));
    }
    long numberOfRows(toolkit::TableView&, long) override { return static_cast<long>(picker_->contacts().size()); }
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath ip) override {
        auto cell = table.dequeueReusableCell("ContactCell");
        if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, "ContactCell");
        const services::Contact& c = picker_->contacts().at(static_cast<size_t>(ip.row));
        const bool enabled = picker_->isContactEnabled(c);
        cell->textLabel().setText(displayName(c));
        cell->textLabel().setTextColor(enabled ? toolkit::Color::label() : toolkit::Color::tertiaryLabel());
        cell->setSelectionStyle(enabled ? toolkit::CellSelectionStyle::Default : toolkit::CellSelectionStyle::None);
        return cell;
    }
    std::optional<toolkit::IndexPath> willSelectRow(toolkit::TableView&, toolkit::IndexPath ip) override {
        if (!picker_->isContactEnabled(picker_->contacts().at(static_cast<size_t>(ip.row)))) return std::nullopt;
        return ip;
    }
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath ip) override {
        table.deselectRow(ip, true);
        picker_->selectContactAt(static_cast<size_t>(ip.row));
    }

private:
    ContactPickerViewController* picker_;  // owns this list through its stack
};

ContactPickerViewController::ContactPickerViewController(std::shared_ptr<services::ContactStore> store)
    : store_(std::move(store)) {
    setViewControllers({std::make_shared<List>(this)}, false);
}

void ContactPickerViewController::viewDidLoad() { NavigationController::viewDidLoad(); }

foundation::Status ContactPickerViewController::setPredicateForEnablingContact(std::string_view format) {
    auto p = store::Predicate::parse(format);
    if (!p.ok()) return p.error();
    enabling_ = std::move(*p);
    return {};
}

foundation::Status ContactPickerViewController::setPredicateForSelectionOfContact(std::string_view format) {
    auto p = store::Predicate::parse(format);
    if (!p.ok()) return p.error();
    selection_ = std::move(*p);
    return {};
}

const std::vector<services::Contact>& ContactPickerViewController::contacts() {
    if (!contacts_) {
        contacts_.emplace();
        // The picker runs in the system's process: it lists the contacts whatever the app may read.
        *contacts_ = store_->systemContacts(fetchKeys());
        std::stable_sort(
            contacts_->begin(), contacts_->end(), [](const services::Contact& a, const services::Contact& b) {
                return foundation::compare(displayName(a), displayName(b), foundation::kCaseInsensitive) < 0;
            });
    }
    return *contacts_;
}

bool ContactPickerViewController::isContactEnabled(const services::Contact& contact) const {
    return !enabling_ || enabling_->evaluate(ContactKeyValueSource(contact));
}

bool ContactPickerViewController::selectsContactWhole(const services::Contact& contact) const {
    auto d = delegate.lock();
    if (selection_) return selection_->evaluate(ContactKeyValueSource(contact));
    return d && d->takesContacts();
}

void ContactPickerViewController::selectContactAt(size_t index) {
    if (finished_ || index >= contacts().size()) return;
    const services::Contact contact = contacts()[index];
    if (!isContactEnabled(contact)) return;
    auto d = delegate.lock();
    if (selectsContactWhole(contact) && d && d->takesContacts()) {
        finish([this, contact](ContactPickerDelegate& del) { del.contactPickerDidSelectContact(*this, contact); });
        return;
    }
    auto card = std::shared_ptr<ContactViewController>(new ContactViewController(contact));
    card->displayedPropertyKeys = displayedPropertyKeys;
    card->contactStore = store_;
    card->allowsEditing = false;
    card->allowsActions = false;
    if (d && d->takesContactProperties()) card->picker_ = weakSelf<ContactPickerViewController>();
    pushViewController(card, true);
}

void ContactPickerViewController::selectProperty(const ContactProperty& property) {
    if (finished_) return;
    finish(
        [this, property](ContactPickerDelegate& del) { del.contactPickerDidSelectContactProperty(*this, property); });
}

void ContactPickerViewController::cancel() {
    if (finished_) return;
    finish([this](ContactPickerDelegate& del) { del.contactPickerDidCancel(*this); });
}

void ContactPickerViewController::finish(std::function<void(ContactPickerDelegate&)> tell) {
    finished_ = true;
    // Kept alive until the delegate has heard, whoever held it before.
    auto self = selfPtr();
    dismiss(true);
    if (auto d = delegate.lock()) tell(*d);
    (void)self;
}

// ---- the card

std::shared_ptr<ContactViewController> ContactViewController::forContact(services::Contact contact) {
    return std::shared_ptr<ContactViewController>(new ContactViewController(std::move(contact)));
}

void ContactViewController::viewDidLoad() {
    setTitle(displayName(contact_));
    auto header = std::make_shared<toolkit::Label>();
    header->setText(displayName(contact_));
    header->setFont(toolkit::Font::boldSystem(24));
    header->setTextAlignment(toolkit::TextAlignment::center);
    header->setFrame({0, 0, 320, 64});
    tableView()->setTableHeaderView(header);
}

long ContactViewController::numberOfRows(toolkit::TableView&, long) {
    return static_cast<long>(contact_.phoneNumbers.size());
}

toolkit::TableViewCellPtr ContactViewController::cellForRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    auto cell = table.dequeueReusableCell("PropertyCell");
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, "PropertyCell");
    const auto& phone = contact_.phoneNumbers.at(static_cast<size_t>(ip.row));
    const std::string label = services::localizedStringForLabel(phone.label);
    cell->textLabel().setText(label.empty() ? "phone" : label);
    cell->textLabel().setFont(toolkit::Font::system(13));
    if (auto* detail = cell->detailTextLabel()) {
        detail->setText(phone.stringValue);
        detail->setFont(toolkit::Font::system(17));
        detail->setTextColor(toolkit::Color::systemBlue());
    }
    return cell;
}

void ContactViewController::didSelectRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    table.deselectRow(ip, true);
    tapProperty(static_cast<size_t>(ip.row));
}

void ContactViewController::tapProperty(size_t index) {
    if (index >= contact_.phoneNumbers.size()) return;
    ContactProperty property{contact_, services::kContactPhoneNumbersKey, contact_.phoneNumbers[index].identifier,
                             contact_.phoneNumbers[index]};
    if (auto picker = picker_.lock()) {
        picker->selectProperty(property);
        return;
    }
    bool defaultAction = true;
    if (auto d = delegate.lock())
        defaultAction = d->contactViewControllerShouldPerformDefaultActionForContactProperty(*this, property);
    if (!defaultAction) return;
    // The system's own action on a phone number: a call through the phone's dialer.
    const std::string digits =
        foundation::keepingOnly(property.value.stringValue, foundation::CharacterSet::fromCharacters("0123456789+*#,"));
    services::URLOpener::shared()->openURL("tel:" + digits);
}

}  // namespace system_screens
