// The group's members, their cards and the "Call" and "Text" a tapped number offers.
#include "ui/compose/vc_group_details.h"

#include "model/account.h"
#include "model/cache.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "ui/widgets/call_url.h"
#include "ui/widgets/default_contact_image.h"

using foundation::localizedString;

namespace {

constexpr const char* kContactsCacheUpdated = "kContactsCacheUpdatedNotification";

bool authorised() { return services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized; }

bool isAddress(const std::string& number) { return number.find('@') != std::string::npos; }

std::vector<std::string> cardKeys() {
    auto keys = services::ContactFormatter::descriptorForRequiredKeys();
    keys.push_back(services::kContactPhoneNumbersKey);
    return keys;
}

// The picture kept for a number: stored bytes or an archived image.
graphics::ImagePtr cachedPicture(HXCCache* cache, const std::string& number) {
    if (!cache || number.empty()) return nullptr;
    auto object = cache->objectForKey(number);
    if (!object) return nullptr;
    if (auto image = object->image()) return image;
    if (object->value.isData())
        if (auto decoded = graphics::Image::fromEncoded(object->value.asData()); decoded.ok()) return decoded.value();
    return nullptr;
}

}  // namespace

VC_GroupDetails::VC_GroupDetails(Roles roles)
    : toolkit::TableViewController(toolkit::TableViewStyle::Plain), roles_(std::move(roles)) {}

VC_GroupDetails::~VC_GroupDetails() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

const std::vector<VC_GroupDetails::Member>& VC_GroupDetails::contactList() {
    if (contactList_) return *contactList_;
    contactList_.emplace();
    auto conversation = roles_.conversation.lock();
    auto media = roles_.media.lock();
    auto compose = roles_.compose.lock();
    auto cache = media ? media->mediaCache() : nullptr;
    for (const auto& member : foundation::split(numberString_, "|")) {
        Member entry;
        entry.number = PhoneExtensions::formattedPhoneNumberFromString(member);
        if (entry.number.empty() && isAddress(member)) entry.number = foundation::trim(member);
        entry.name = compose ? compose->contactNameForNumber(entry.number) : std::string();
        if (auto picture = cachedPicture(cache.get(), entry.number))
            entry.image = graphics::makeRoundImage(picture);
        else
            entry.image = defaultContactImage();
        entry.identifier = conversation ? conversation->recordIDForNumber(entry.number) : std::string();
        contactList_->push_back(std::move(entry));
    }
    return *contactList_;
}

void VC_GroupDetails::refreshContactList() {
    contactList_.reset();
    dispatch::Queue::main()->async([weak = weakSelf<VC_GroupDetails>()] {
        if (auto self = weak.lock(); self && self->isViewLoaded()) self->tableView()->reloadData();
    });
}

void VC_GroupDetails::resetContacts() {
    if (auto conversation = roles_.conversation.lock()) conversation->resetContacts();
    refreshContactList();
}

void VC_GroupDetails::dismiss() {
    toolkit::ViewController* shown = navigationController();
    if (!shown) shown = this;
    shown->dismiss(true, [store = roles_.store] {
        if (auto s = store.lock()) s->requestReview();
    });
}

void VC_GroupDetails::viewDidLoad() {
    auto weak = weakSelf<VC_GroupDetails>();
    navigationItem().setLeftBarButtonItem(
        toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Cancel, [weak](toolkit::BarButtonItem&) {
            if (auto self = weak.lock()) self->dismiss();
        }));
    setTitle(localizedString("Group Details"));
    auto table = tableView();
    table->setTintColor(graphics::Color::lightGray());
    table->allowsSelection = true;
    table->registerCell(kCellIdentifier, [] {
        return std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, kCellIdentifier);
    });
    auto& center = foundation::NotificationCenter::defaultCenter();
    // Both are told from the queue that read or saved the contacts; the list is the main thread's.
    center.addObserver(this, kContactsCacheUpdated, [weak](const foundation::Notification&) {
        dispatch::Queue::main()->async([weak] {
            if (auto self = weak.lock()) self->refreshContactList();
        });
    });
    center.addObserver(this, services::kContactStoreDidChangeNotification, [weak](const foundation::Notification&) {
        dispatch::Queue::main()->async([weak] {
            if (auto self = weak.lock()) self->resetContacts();
        });
    });
}

long VC_GroupDetails::numberOfRows(toolkit::TableView&, long) { return static_cast<long>(contactList().size()); }

toolkit::TableViewCellPtr VC_GroupDetails::cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    auto cell = table.dequeueReusableCell(kCellIdentifier, indexPath);
    const auto& members = contactList();
    const auto index = static_cast<size_t>(indexPath.row);
    if (!cell || index >= members.size()) return cell;
    const Member& member = members[index];
    cell->imageView().setImage(member.image);
    cell->textLabel().setText(member.name.empty() ? member.number : member.name);
    if (auto* detail = cell->detailTextLabel()) detail->setText(member.name.empty() ? std::string() : member.number);
    toolkit::CellAccessoryType accessory = toolkit::CellAccessoryType::None;
    if (authorised()) {
        if (!member.identifier.empty())
            accessory = toolkit::CellAccessoryType::DetailButton;
        else if (!isAddress(member.number))
            accessory = toolkit::CellAccessoryType::DisclosureIndicator;
    }
    cell->setAccessoryType(accessory);
    return cell;
}

void VC_GroupDetails::accessoryButtonTapped(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    didSelectRow(table, indexPath);
}

void VC_GroupDetails::didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    const auto& members = contactList();
    const auto index = static_cast<size_t>(indexPath.row);
    if (index >= members.size()) return;
    const Member member = members[index];
    auto self = std::static_pointer_cast<system_screens::ContactViewControllerDelegate>(
        std::static_pointer_cast<VC_GroupDetails>(shared_from_this()));
    std::shared_ptr<system_screens::ContactViewController> card;
    if (!member.identifier.empty()) {
        auto alerts = roles_.alerts.lock();
        if (!alerts || alerts->isABAccessRestricted()) return;
        auto store = services::ContactStore::shared();
        auto contact = store->unifiedContactWithIdentifier(member.identifier, cardKeys());
        if (!contact.ok()) return;
        card = system_screens::ContactViewController::forContact(contact.value());
        card->contactStore = store;
        card->shouldShowLinkedContacts = true;
        card->allowsEditing = true;
        card->allowsActions = false;
        card->setTitle("");
        // The member's own number stands out when exactly one of the contact's has its form.
        const services::LabeledPhoneNumber* match = nullptr;
        int matches = 0;
        for (const auto& phone : contact.value().phoneNumbers)
            if (PhoneExtensions::formattedPhoneNumberFromString(phone.stringValue) == member.number) {
                match = &phone;
                ++matches;
            }
        if (matches == 1) card->highlightPropertyWithKey(services::kContactPhoneNumbersKey, match->identifier);
    } else if (isAddress(member.number)) {
        table.deselectRow(indexPath, true);
        return;
    } else {
        services::Contact contact;
        const size_t space = member.name.find(' ');
        const std::string given = member.name.substr(0, space);
        if (given != member.number) contact.givenName = given;
        if (space != std::string::npos) contact.familyName = member.name.substr(space + 1);
        contact.phoneNumbers.push_back({services::kLabelPhoneNumberMobile, member.number, {}});
        card = system_screens::ContactViewController::forUnknownContact(std::move(contact));
        card->contactStore = services::ContactStore::shared();
        card->allowsEditing = true;
        card->allowsActions = false;
    }
    card->delegate = self;
    card->view()->setTintColor(graphics::Color::systemBlue());
    if (auto* nav = navigationController()) nav->pushViewController(card, true);
}

bool VC_GroupDetails::contactViewControllerShouldPerformDefaultActionForContactProperty(
    system_screens::ContactViewController& card, const system_screens::ContactProperty& property) {
    if (HXPreferenceOf(roles_.alerts, HXPreference::NativeDialerActions) ||
        property.key != services::kContactPhoneNumbersKey)
        return true;
    const std::string number = property.value.stringValue;
    auto cardPtr = std::static_pointer_cast<system_screens::ContactViewController>(card.shared_from_this());
    dispatch::Queue::main()->async([weak = weakSelf<VC_GroupDetails>(), weakCard = std::weak_ptr(cardPtr), number] {
        auto self = weak.lock();
        auto shownCard = weakCard.lock();
        if (!self || !shownCard) return;
        const bool symbols = toolkit::Device::current().systemVersionAtLeast(13);
        auto sheet =
            toolkit::AlertController::make(std::nullopt, std::nullopt, toolkit::AlertControllerStyle::ActionSheet);
        (void)sheet->addAction(
            toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
        const std::string formatted = PhoneExtensions::formattedPhoneNumberFromString(number);
        auto call =
            toolkit::AlertAction::make(foundation::format("%@ %@", localizedString("Call"), formatted),
                                       toolkit::AlertActionStyle::Default, [weak, number](toolkit::AlertAction&) {
                                           if (auto details = weak.lock()) details->call(number);
                                       });
        call->image = symbols ? graphics::systemImageNamed("phone") : graphics::imageNamed("Call");
        auto text =
            toolkit::AlertAction::make(foundation::format(localizedString("Text %@"), formatted),
                                       toolkit::AlertActionStyle::Default, [weak, number](toolkit::AlertAction&) {
                                           if (auto details = weak.lock()) details->text(number);
                                       });
        text->image = symbols ? graphics::systemImageNamed("message") : graphics::imageNamed("SMS");
        (void)sheet->addAction(call);
        (void)sheet->addAction(text);
        sheet->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
        if (auto* popover = sheet->popoverPresentationController()) {
            popover->permittedArrowDirections = toolkit::kArrowUp;
            popover->sourceView = shownCard->view();
            popover->sourceRect = {0, 0, shownCard->view()->bounds().width(), 1};
        }
        self->numberActions_ = sheet;
        shownCard->present(sheet, true);
    });
    return false;
}

void VC_GroupDetails::call(const std::string& number) {
    auto conversation = roles_.conversation.lock();
    const bool skip = HXPreferenceOf(roles_.alerts, HXPreference::SkipDialpad);
    std::string method;
    if (auto alerts = roles_.alerts.lock(); skip && alerts)
        if (auto account = alerts->account()) method = hxCallMethodParameter(account.get());
    const std::string url = hxCallURLForNumber(number, skip, method);
    dismiss();
    if (conversation) conversation->openAppURL(url);
}

void VC_GroupDetails::text(const std::string& number) {
    dismiss();
    if (auto conversations = roles_.conversations.lock()) conversations->newMessageToNumber(number, "", "");
}

void VC_GroupDetails::contactViewControllerDidCompleteWithContact(system_screens::ContactViewController& card,
                                                                  const std::optional<services::Contact>& contact) {
    if (contact) {
        services::SaveRequest request;
        request.addContact(*contact);
        (void)services::ContactStore::shared()->executeSaveRequest(request);
    }
    if (auto* nav = card.navigationController(); nav && nav->topViewController() == &card) nav->popViewController(true);
}
