// The contacts of a contact card with several: their rows, their cards and adding them all.
#include "ui/compose/vc_vcard_multiple_selection.h"

#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/graphics/color.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"

using foundation::localizedString;

VC_VCardMultipleSelection::VC_VCardMultipleSelection(Roles roles, toolkit::TableViewStyle style)
    : toolkit::TableViewController(style), roles_(std::move(roles)) {}

const std::vector<services::Contact>& VC_VCardMultipleSelection::contactList() {
    if (!contactList_) {
        const std::string_view text(reinterpret_cast<const char*>(vCardDetails_.data()), vCardDetails_.size());
        auto cards = services::readVCards(text);
        contactList_ = cards.ok() ? std::move(cards).value() : std::vector<services::Contact>{};
    }
    return *contactList_;
}

void VC_VCardMultipleSelection::dismiss() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this) nav->popViewController(true);
}

void VC_VCardMultipleSelection::viewDidLoad() {
    authorised_ = services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized;
    setTitle(localizedString("Contact Card Details"));
    auto table = tableView();
    table->setTintColor(graphics::Color::lightGray());
    table->allowsSelection = true;
    table->registerCell(kCellIdentifier, [] {
        return std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, kCellIdentifier);
    });
    if (toolkit::Device::current().systemVersionAtLeast(14))
        navigationItem().backButtonDisplayMode = toolkit::BackButtonDisplayMode::Minimal;
}

long VC_VCardMultipleSelection::numberOfSections(toolkit::TableView&) { return authorised() ? 2 : 1; }

long VC_VCardMultipleSelection::numberOfRows(toolkit::TableView&, long section) {
    if (authorised() && section == 0) return 1;
    return static_cast<long>(contactList().size());
}

toolkit::TableViewCellPtr VC_VCardMultipleSelection::cellForRow(toolkit::TableView& table,
                                                                toolkit::IndexPath indexPath) {
    auto cell = table.dequeueReusableCell(kCellIdentifier, indexPath);
    if (!cell) return nullptr;
    if (authorised() && indexPath.section == 0) {
        cell->textLabel().setText(
            foundation::format(localizedString("Add All %lu Contacts"), uint64_t{contactList().size()}));
        cell->textLabel().setTextAlignment(toolkit::TextAlignment::center);
        cell->setAccessoryType(toolkit::CellAccessoryType::None);
        return cell;
    }
    const auto& contacts = contactList();
    const auto index = static_cast<size_t>(indexPath.row);
    if (index < contacts.size())
        cell->textLabel().setText(services::ContactFormatter::fullName(contacts[index]).value_or(""));
    cell->textLabel().setTextAlignment(toolkit::TextAlignment::left);
    cell->setAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
    return cell;
}

void VC_VCardMultipleSelection::addAll(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    // Each contact goes to the default container, as the store's own identifiers make it new.
    services::SaveRequest request;
    for (const auto& contact : contactList()) request.addContact(contact);
    const auto saved = services::ContactStore::shared()->executeSaveRequest(request);
    table.deselectRow(indexPath, true);
    if (saved.ok()) {
        dismiss();
        return;
    }
    // Nothing was stored: the user hears why before the screen closes.
    auto alert = toolkit::AlertController::make(saved.error().localizedDescription(), std::nullopt,
                                                toolkit::AlertControllerStyle::Alert);
    auto weak = weakSelf<VC_VCardMultipleSelection>();
    (void)alert->addAction(toolkit::AlertAction::make(localizedString("OK"), toolkit::AlertActionStyle::Default,
                                                      [weak](toolkit::AlertAction&) {
                                                          if (auto self = weak.lock()) self->dismiss();
                                                      }));
    present(alert, true);
}

void VC_VCardMultipleSelection::didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    if (authorised() && indexPath.section == 0) {
        addAll(table, indexPath);
        return;
    }
    const auto& contacts = contactList();
    const auto index = static_cast<size_t>(indexPath.row);
    if (index >= contacts.size()) return;
    auto card = system_screens::ContactViewController::forUnknownContact(contacts[index]);
    // The device's contacts (a new store on the device reaches the same ones).
    card->contactStore = services::ContactStore::shared();
    card->allowsEditing = false;
    card->allowsActions = false;
    card->view()->setTintColor(graphics::Color::systemBlue());
    card->delegate = contactDelegate_;
    card->edgesForExtendedLayout = 0;
    auto routing = roles_.routing.lock();
    if (!(routing && routing->iPad()))
        if (auto* window = view()->window()) window->setBackgroundColor(view()->backgroundColor());
    if (auto* nav = navigationController()) nav->pushViewController(card, true);
}
