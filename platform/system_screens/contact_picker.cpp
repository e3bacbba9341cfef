#include "platform/system_screens/contact_picker.h"

#include <algorithm>

#include "platform/foundation/strings.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/table_view.h"

namespace system_screens {

namespace {

// The first key of every key path an expression reads ("postalAddresses" of
// "postalAddresses.@count").
void collectKeys(const store::Expression& e, std::vector<std::string>& keys) {
    if (e.kind == store::Expression::Kind::KeyPath && !e.keyPath.empty()) keys.push_back(e.keyPath.front());
    for (const auto& element : e.elements) collectKeys(element, keys);
}

void collectKeys(const store::PredicateNode& node, std::vector<std::string>& keys) {
    collectKeys(node.lhs, keys);
    collectKeys(node.rhs, keys);
    for (const auto& child : node.children) collectKeys(child, keys);
}

// What the list shows and its cards need, and whatever the rules and the displayed properties
// read: a contact fetched without a key answers it as empty, so a rule on "postalAddresses"
// would see no addresses at all.
std::vector<std::string> fetchKeys(const std::vector<std::string>& displayed,
                                   const std::optional<store::Predicate>& enabling,
                                   const std::optional<store::Predicate>& selection) {
    std::vector<std::string> keys = services::ContactFormatter::descriptorForRequiredKeys();
    for (const char* k : {services::kContactIdentifierKey, services::kContactPhoneNumbersKey,
                          services::kContactNicknameKey, services::kContactOrganizationNameKey,
                          services::kContactThumbnailImageDataKey, services::kContactImageDataAvailableKey})
        keys.emplace_back(k);
    keys.insert(keys.end(), displayed.begin(), displayed.end());
    for (const auto* rule : {&enabling, &selection})
        if (*rule) collectKeys((*rule)->root(), keys);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
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
    if (key == services::kContactPostalAddressesKey && keyPath.size() == 2 && keyPath[1] == "@count") {
        out.emplace_back(static_cast<int64_t>(contact_.postalAddresses.size()));
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
        *contacts_ = store_->systemContacts(fetchKeys(displayedPropertyKeys, enabling_, selection_));
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

std::shared_ptr<ContactViewController> ContactViewController::forUnknownContact(services::Contact contact) {
    auto card = forContact(std::move(contact));
    card->unknown_ = true;
    return card;
}

void ContactViewController::highlightPropertyWithKey(const std::string& key, const std::string& identifier) {
    highlighted_.reset();
    if (key == services::kContactPhoneNumbersKey && !identifier.empty()) {
        for (const auto& phone : contact_.phoneNumbers)
            if (phone.identifier == identifier) highlighted_ = identifier;
    }
    if (isViewLoaded()) tableView()->reloadData();
}

bool ContactViewController::isHighlightedRow(size_t index) const {
    return highlighted_ && index < contact_.phoneNumbers.size() &&
           contact_.phoneNumbers[index].identifier == *highlighted_;
}

void ContactViewController::createNewContact() {
    if (!offersNewContact() || editor_) return;
    const double width = isViewLoaded() ? view()->bounds().width() : 320;
    editor_ = std::make_shared<toolkit::View>(toolkit::Rect(0, 0, width, 3 * 44 + 16));
    const std::pair<const char*, const std::string*> fields[] = {{"First name", &contact_.givenName},
                                                                 {"Last name", &contact_.familyName},
                                                                 {"Company", &contact_.organizationName}};
    double y = 8;
    for (const auto& [placeholder, value] : fields) {
        auto field = std::make_shared<toolkit::TextField>(toolkit::Rect(16, y, width - 32, 44));
        field->setPlaceholder(placeholder);
        field->setText(*value);
        field->setAutoresizingMask(toolkit::kFlexibleWidth);
        editor_->addSubview(field);
        y += 44;
    }
    savedLeft_ = navigationItem().leftBarButtonItems;
    savedRight_ = navigationItem().rightBarButtonItems;
    std::weak_ptr<ContactViewController> weak = weakSelf<ContactViewController>();
    navigationItem().setLeftBarButtonItems(
        {toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Cancel, [weak](toolkit::BarButtonItem&) {
            if (auto card = weak.lock()) card->finishEditing(false);
        })});
    navigationItem().setRightBarButtonItems(
        {toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Done, [weak](toolkit::BarButtonItem&) {
            if (auto card = weak.lock()) card->finishEditing(true);
        })});
    tableView()->setTableHeaderView(editor_);
    tableView()->reloadData();
    if (auto first = editorFields().front()) first->becomeFirstResponder();
}

std::vector<std::shared_ptr<toolkit::TextField>> ContactViewController::editorFields() const {
    std::vector<std::shared_ptr<toolkit::TextField>> out;
    if (!editor_) return out;
    for (const auto& v : editor_->subviews())
        if (auto field = std::dynamic_pointer_cast<toolkit::TextField>(v)) out.push_back(field);
    return out;
}

void ContactViewController::finishEditing(bool done) {
    if (!editor_) return;
    std::optional<services::Contact> made;
    if (done) {
        const auto fields = editorFields();
        services::Contact contact = contact_;
        contact.identifier.clear();
        contact.givenName = foundation::trim(fields[0]->text());
        contact.familyName = foundation::trim(fields[1]->text());
        contact.organizationName = foundation::trim(fields[2]->text());
        // A contact with a company and no person's name is the company's.
        if (contact.givenName.empty() && contact.familyName.empty() && !contact.organizationName.empty())
            contact.contactType = services::ContactType::Organization;
        made = std::move(contact);
    }
    for (const auto& field : editorFields()) field->resignFirstResponder();
    editor_.reset();
    navigationItem().setLeftBarButtonItems(savedLeft_);
    navigationItem().setRightBarButtonItems(savedRight_);
    viewDidLoad();
    tableView()->reloadData();
    // Kept alive until the delegate has heard (it usually closes the card).
    auto self = weakSelf<ContactViewController>().lock();
    if (auto d = delegate.lock()) d->contactViewControllerDidCompleteWithContact(*this, made);
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

bool ContactViewController::showsAddresses() const {
    return std::find(displayedPropertyKeys.begin(), displayedPropertyKeys.end(),
                     services::kContactPostalAddressesKey) != displayedPropertyKeys.end();
}

long ContactViewController::numberOfRows(toolkit::TableView&, long) {
    if (showsAddresses()) return static_cast<long>(contact_.postalAddresses.size());
    // While editing the editor stands above the numbers; the offer to create is gone.
    return static_cast<long>(contact_.phoneNumbers.size()) + (offersNewContact() && !editor_ ? 1 : 0);
}

toolkit::TableViewCellPtr ContactViewController::cellForRow(toolkit::TableView& table, toolkit::IndexPath ip) {
    const size_t row = static_cast<size_t>(ip.row);
    if (!showsAddresses() && row >= contact_.phoneNumbers.size()) {
        auto cell = table.dequeueReusableCell("ActionCell");
        if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, "ActionCell");
        cell->textLabel().setText(kCreateNewContactTitle);
        cell->textLabel().setTextColor(toolkit::Color::systemBlue());
        return cell;
    }
    auto cell = table.dequeueReusableCell("PropertyCell");
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, "PropertyCell");
    if (showsAddresses()) {
        const auto& address = contact_.postalAddresses.at(row);
        const std::string label = services::localizedStringForLabel(address.label);
        cell->textLabel().setText(label.empty() ? "address" : label);
        cell->textLabel().setFont(toolkit::Font::system(13));
        if (auto* detail = cell->detailTextLabel()) {
            detail->setText(services::mailingAddressString(address.value));
            detail->setNumberOfLines(0);
            detail->setFont(toolkit::Font::system(17));
        }
        return cell;
    }
    const auto& phone = contact_.phoneNumbers.at(row);
    // A highlighted number stands out from the others (and says so to accessibility).
    const bool highlighted = isHighlightedRow(row);
    cell->setBackgroundColor(highlighted ? std::optional<toolkit::Color>(toolkit::Color::systemGray5()) : std::nullopt);
    cell->accessibility().traits = highlighted ? std::optional<unsigned>(toolkit::kTraitSelected) : std::nullopt;
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
    if (showsAddresses()) {
        if (index >= contact_.postalAddresses.size()) return;
        ContactProperty property{.contact = contact_,
                                 .key = services::kContactPostalAddressesKey,
                                 .address = contact_.postalAddresses[index]};
        if (auto picker = picker_.lock()) picker->selectProperty(property);
        return;
    }
    if (index == contact_.phoneNumbers.size() && offersNewContact()) {
        createNewContact();
        return;
    }
    if (index >= contact_.phoneNumbers.size() || editor_) return;
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
