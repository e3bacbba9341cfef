#include "ui/dialer/vc_favorites.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/contact_phone_picker.h"
#include "model/account.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/image_operations.h"
#include "platform/services/device.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/traits.h"
#include "ui/widgets/default_contact_image.h"

namespace {

using foundation::localizedString;
using toolkit::Color;
using toolkit::IndexPath;

const char* const kFavorites = "favorites";

std::shared_ptr<foundation::UserDefaults> userDefaults() { return foundation::UserDefaults::standardUserDefaults(); }

// A favourite's picture in a circle; a template picture stays one, so the row's tint still colours it.
graphics::ImagePtr roundImage(const graphics::ImagePtr& image) {
    auto round = graphics::makeRoundImage(image);
    return round ? round->withRenderingMode(image->renderingMode()) : image;
}

// A favourite's row: the name keeps the width it needs; the detail (the phone's label or, for a
// favourite found nowhere here, its stored number) gives way, shrinking its text before it is cut.
class FavoriteCell : public toolkit::TableViewCell {
    static constexpr double kDetailMinimumScale = 0.6;

public:
    FavoriteCell() : TableViewCell(toolkit::TableViewCellStyle::Value1, "FavoritesCell") {
        if (auto* detail = detailTextLabel()) {
            detail->setAdjustsFontSizeToFitWidth(true);
            detail->setMinimumScaleFactor(kDetailMinimumScale);
        }
    }
    void layoutSubviews() override {
        TableViewCell::layoutSubviews();
        auto* detail = detailTextLabel();
        auto& name = textLabel();
        if (!detail || detail->text().empty() || name.text().empty()) return;
        const toolkit::Rect n = name.frame(), d = detail->frame();
        const double room = d.maxX() - n.minX() - 8;
        const double wantName = std::ceil(name.sizeThatFits({}).width);
        const double wantDetail = std::ceil(detail->sizeThatFits({}).width);
        if (room <= 0 || wantName <= n.width()) return;
        // The detail keeps the width its text needs at the smallest scale, up to a little more than
        // half the room, so a number stays whole beside all but the longest names.
        const double detailWidth =
            std::max(std::min(std::ceil(wantDetail * kDetailMinimumScale), std::floor(room * 0.55)), room - wantName);
        name.setFrame({n.minX(), n.minY(), std::max(0.0, room - detailWidth), n.height()});
        detail->setFrame({d.maxX() - detailWidth, d.minY(), detailWidth, d.height()});
    }
};

}  // namespace

// The contact card's delegate for the list.
class VC_Favorites::Delegates : public system_screens::ContactViewControllerDelegate {
public:
    explicit Delegates(VC_Favorites* owner) : owner_(owner) {}
    bool contactViewControllerShouldPerformDefaultActionForContactProperty(
        system_screens::ContactViewController&, const system_screens::ContactProperty& property) override {
        if (HXPreferenceOf(owner_->roles_.alerts, HXPreference::NativeDialerActions)) return true;
        if (property.key != services::kContactPhoneNumbersKey) return true;
        owner_->dismissWithCallerNumber(property.value.stringValue,
                                        services::ContactFormatter::fullName(property.contact).value_or(""),
                                        services::localizedStringForLabel(property.value.label));
        return false;
    }

private:
    VC_Favorites* owner_;  // owns these delegates
};

VC_Favorites::VC_Favorites(Roles roles, HandBack handBack, Favorite::Sources sources)
    : toolkit::TableViewController(toolkit::TableViewStyle::Plain),
      roles_(std::move(roles)),
      handBack_(std::move(handBack)),
      sources_(std::move(sources)),
      delegates_(std::make_shared<Delegates>(this)),
      picker_(std::make_shared<HXContactPhonePicker>(
          [this](const services::LabeledPhoneNumber& phone, const services::Contact& contact) {
              selectedPhone(phone, contact);
          })) {}

VC_Favorites::~VC_Favorites() = default;

std::vector<std::string>& VC_Favorites::favoriteNums() {
    if (!favoriteNums_) {
        favoriteNums_.emplace();
        auto stored = userDefaults()->objectForKey(kFavorites);
        const foundation::Dictionary* all = stored.ifDictionary();
        if (!all) {
            userDefaults()->removeObjectForKey(kFavorites);
        } else {
            auto alerts = roles_.alerts.lock();
            auto account = alerts ? alerts->account() : nullptr;
            const std::string user = account ? account->username() : std::string();
            if (const foundation::Array* list = all->get(user).ifArray())
                for (const auto& line : *list)
                    if (const std::string* text = line.ifString()) favoriteNums_->push_back(*text);
        }
    }
    return *favoriteNums_;
}

void VC_Favorites::saveFavoritesWithDict(const foundation::Dictionary& favorites) {
    (void)userDefaults()->setObject(foundation::Value(favorites), kFavorites);
    auto& cloud = services::KeyValueStore::shared();
    if (cloud.isAvailable()) {
        cloud.setObject(kFavorites, foundation::Value(favorites));
        cloud.synchronize();
    }
}

void VC_Favorites::save() {
    // Without a signed-in account there is no entry to write.
    auto alerts = roles_.alerts.lock();
    auto account = alerts ? alerts->account() : nullptr;
    if (!account || account->username().empty()) return;
    auto stored = userDefaults()->objectForKey(kFavorites);
    foundation::Dictionary all = stored.ifDictionary() ? *stored.ifDictionary() : foundation::Dictionary{};
    foundation::Array list;
    for (const auto& line : favoriteNums()) list.push_back(foundation::Value(line));
    all.set(account->username(), foundation::Value(std::move(list)));
    saveFavoritesWithDict(all);
}

void VC_Favorites::updateFavorites() {
    auto& nums = favoriteNums();
    if (nums.empty()) return;
    bool changed = false;
    std::vector<std::string> lines;
    theFavorites_.clear();
    for (const std::string& stored : nums) {
        Favorite f(stored, sources_);
        if (f.contactID().empty()) {
            changed = true;
            continue;
        }
        lines.push_back(f.compositeString());
        if (lines.back() != stored) changed = true;
        theFavorites_.push_back(std::move(f));
    }
    if (!changed) return;
    nums = std::move(lines);
    save();
}

void VC_Favorites::viewDidLoad() {
    if (toolkit::Device::current().isPad())
        if (auto* nav = navigationController()) nav->navigationBar().setTranslucent(true);
    setTitle(localizedString("Favorites"));
    navigationItem().setRightBarButtonItem(toolkit::BarButtonItem::withSystemItem(
        toolkit::SystemItem::Cancel, [this](toolkit::BarButtonItem&) { cancel(); }));
    editItem_ = toolkit::BarButtonItem::withSystemItem(
        toolkit::SystemItem::Edit, [this](toolkit::BarButtonItem&) { setEditingMode(!isEditing(), true); });
    navigationItem().setLeftBarButtonItem(editItem_);
    auto table = tableView();
    table->bounces = false;
    table->allowsSelectionDuringEditing = true;
    table->setTintColor(Color::systemBlue());
    updateFavorites();
}

void VC_Favorites::appearanceSteps() {
    auto table = tableView();
    table->reloadData();
    if (auto selected = table->indexPathForSelectedRow()) table->deselectRow(*selected, false);
    updateEditButton();
}

void VC_Favorites::updateEditButton() {
    if (!editItem_) return;
    editItem_->enabled = !favoriteNums().empty();
    navigationItem().setLeftBarButtonItem(editItem_);
}

void VC_Favorites::viewWillAppear(bool animated) {
    TableViewController::viewWillAppear(animated);
    appearanceSteps();
}

void VC_Favorites::viewDidAppear(bool animated) {
    TableViewController::viewDidAppear(animated);
    if (favoriteNums().empty()) {
        setEditingMode(true, false);
        tableView()->reloadData();
    }
}

void VC_Favorites::setEditingMode(bool editing, bool animated) {
    if (editing == isEditing()) return;
    auto table = tableView();
    const IndexPath addRow{0, count()};
    (void)table->performBatchUpdates([&] {
        setEditing(editing, animated);
        if (editing)
            table->insertRows({addRow}, animated ? toolkit::RowAnimation::Automatic : toolkit::RowAnimation::None);
        else
            table->deleteRows({addRow}, animated ? toolkit::RowAnimation::Automatic : toolkit::RowAnimation::None);
    });
    if (editItem_) {
        editItem_->systemItem = editing ? toolkit::SystemItem::Done : toolkit::SystemItem::Edit;
        editItem_->style = editing ? toolkit::BarButtonStyle::Done : toolkit::BarButtonStyle::Plain;
        navigationItem().setLeftBarButtonItem(editItem_);
    }
}

void VC_Favorites::cancel() { dismiss(true); }

long VC_Favorites::numberOfRows(toolkit::TableView&, long) { return count() + (isEditing() ? 1 : 0); }

toolkit::TableViewCellPtr VC_Favorites::cellForRow(toolkit::TableView& table, IndexPath ip) {
    if (ip.row >= count()) {
        auto cell = table.dequeueReusableCell("PlainCell");
        if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, "PlainCell");
        cell->textLabel().setText(localizedString("Add new favorite number…"));
        cell->textLabel().setFont(toolkit::Font::boldSystem(16));
        cell->textLabel().setTextColor(Color::darkGray());
        // The row shows only while editing, where the editing accessory is the one drawn.
        cell->setEditingAccessoryType(toolkit::CellAccessoryType::DisclosureIndicator);
        cell->setSelectionStyle(toolkit::CellSelectionStyle::Blue);
        return cell;
    }
    auto cell = table.dequeueReusableCell("FavoritesCell");
    if (!cell) cell = std::make_shared<FavoriteCell>();
    const Favorite& f = theFavorites_.at(static_cast<size_t>(ip.row));
    cell->textLabel().setText(f.name());
    if (auto* detail = cell->detailTextLabel()) {
        // A favourite that found no contact here shows its stored number in place of a label.
        detail->setText(f.isUnresolved() ? f.number() : f.label());
        detail->setFont(toolkit::Font::boldSystem(15));
        detail->setTextColor(Color::gray());
    }
    cell->imageView().setImage(roundImage(f.contactImage()));
    cell->setAccessoryType(isEditing() ? toolkit::CellAccessoryType::None
                                       : toolkit::CellAccessoryType::DetailDisclosureButton);
    cell->setSelectionStyle(toolkit::CellSelectionStyle::Blue);
    return cell;
}

void VC_Favorites::didSelectRow(toolkit::TableView& table, IndexPath ip) {
    if (ip.row >= count()) {
        openPicker();
        return;
    }
    if (isEditing()) {
        table.deselectRow(ip, true);
        return;
    }
    const Favorite& f = theFavorites_.at(static_cast<size_t>(ip.row));
    dismissWithCallerNumber(f.number(), f.name(), f.label());
}

void VC_Favorites::openPicker() {
    auto alerts = roles_.alerts.lock();
    if (!alerts || alerts->isABAccessRestricted()) return;
    auto picker = picker_->makePicker(sources_.contacts);
    toolkit::ViewController* from =
        navigationController() ? static_cast<toolkit::ViewController*>(navigationController()) : this;
    from->present(picker, true);
}

void VC_Favorites::accessoryButtonTapped(toolkit::TableView&, IndexPath ip) { showContactCard(ip.row); }

void VC_Favorites::showContactCard(long row) {
    if (row < 0 || row >= count() || !sources_.contacts) return;
    auto keys = Favorite::fetchKeys();
    auto contact =
        sources_.contacts->unifiedContactWithIdentifier(theFavorites_[static_cast<size_t>(row)].contactID(), keys);
    // A favourite whose contact is not on this device has no card to show.
    if (!contact.ok()) return;
    auto card = system_screens::ContactViewController::forContact(*contact);
    card->delegate = delegates_;
    card->contactStore = sources_.contacts;
    card->displayedPropertyKeys = {services::kContactPhoneNumbersKey};
    card->shouldShowLinkedContacts = true;
    card->allowsEditing = true;
    card->allowsActions = false;
    card->view()->setTintColor(Color::systemBlue());
    if (auto* nav = navigationController()) nav->pushViewController(card, true);
}

bool VC_Favorites::canEditRow(toolkit::TableView&, IndexPath) { return isEditing(); }

toolkit::CellEditingStyle VC_Favorites::editingStyleForRow(toolkit::TableView&, IndexPath ip) {
    return ip.row >= count() ? toolkit::CellEditingStyle::Insert : toolkit::CellEditingStyle::Delete;
}

void VC_Favorites::commitEditingStyle(toolkit::TableView& table, toolkit::CellEditingStyle style, IndexPath ip) {
    if (style == toolkit::CellEditingStyle::Insert && ip.row == count()) {
        openPicker();
    } else if (style == toolkit::CellEditingStyle::Delete && ip.row < count()) {
        (void)table.performBatchUpdates([&] {
            favoriteNums().erase(favoriteNums().begin() + ip.row);
            theFavorites_.erase(theFavorites_.begin() + ip.row);
            table.deleteRows({ip}, toolkit::RowAnimation::Automatic);
        });
        save();
        if (count() == 1) table.reloadRows({{0, 0}}, toolkit::RowAnimation::None);
    }
    updateEditButton();
}

bool VC_Favorites::canMoveRow(toolkit::TableView&, IndexPath ip) { return ip.row < count() && count() >= 2; }

IndexPath VC_Favorites::targetIndexPathForMove(toolkit::TableView&, IndexPath, IndexPath proposed) {
    if (proposed.row >= count()) return {proposed.section, count() - 1};
    return proposed;
}

void VC_Favorites::moveRow(toolkit::TableView&, IndexPath from, IndexPath to) {
    if (from.row >= count() || to.row >= count() || from.row == to.row) return;
    auto& nums = favoriteNums();
    std::string line = nums[static_cast<size_t>(from.row)];
    Favorite f = theFavorites_[static_cast<size_t>(from.row)];
    nums.erase(nums.begin() + from.row);
    theFavorites_.erase(theFavorites_.begin() + from.row);
    nums.insert(nums.begin() + to.row, std::move(line));
    theFavorites_.insert(theFavorites_.begin() + to.row, std::move(f));
    save();
}

void VC_Favorites::selectedPhone(const services::LabeledPhoneNumber& phone, const services::Contact& contact) {
    Favorite f(contact, phone, sources_);
    favoriteNums().push_back(f.compositeString());
    theFavorites_.push_back(std::move(f));
    save();
    setEditingMode(true, false);
    appearanceSteps();
    // The picker closed itself when it picked; the list stays open with its new row.
    if (presentedViewController()) dismiss(true);
}

void VC_Favorites::dismissWithCallerNumber(const std::string& number, const std::string& name,
                                           const std::string& label) {
    if (handBack_ && handBack_(number, name, label, *this)) {
        // The new-message screen puts the focus back on its text when it hears this.
        return;
    }
}
