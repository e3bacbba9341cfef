#include "ui/passcode/hxc_passcode_settings_view_controller.h"

#include "app/hxc_passcode_lock.h"
#include "app/views.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/image_operations.h"
#include "platform/services/local_authentication.h"
#include "platform/services/search_index.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/traits.h"

namespace {

constexpr const char* kCellIdentifier = "HXCPasscodeSettingsCell";

std::string text(const std::string& key) { return HXCPasscodeLock::localizedStringForKey(key, key); }

}  // namespace

HXCPasscodeSettingsViewController::HXCPasscodeSettingsViewController(Roles roles, Makers makers,
                                                                     toolkit::TableViewStyle style)
    : toolkit::TableViewController(style), roles_(std::move(roles)), makers_(std::move(makers)) {
    setTitle(text("Passcode Lock"));
    hidesBottomBarWhenPushed = true;
}

HXCPasscodeSettingsViewController::~HXCPasscodeSettingsViewController() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

void HXCPasscodeSettingsViewController::viewDidLoad() {
    toolkit::TableViewController::viewDidLoad();
    auto weak = weakSelf<HXCPasscodeSettingsViewController>();
    biometricSwitch_ = std::make_shared<toolkit::Switch>();
    biometricSwitch_->addAction(
        [weak](toolkit::Control& sender, const toolkit::Event*) {
            auto self = weak.lock();
            if (auto* lock = self ? self->lock() : nullptr)
                lock->setUseBiometricID(static_cast<toolkit::Switch&>(sender).isOn());
        },
        toolkit::kValueChanged);
    spotlightSwitch_ = std::make_shared<toolkit::Switch>();
    spotlightSwitch_->addAction(
        [weak](toolkit::Control& sender, const toolkit::Event*) {
            auto self = weak.lock();
            auto* lock = self ? self->lock() : nullptr;
            if (!lock) return;
            lock->setUseSpotlight(static_cast<toolkit::Switch&>(sender).isOn());
            foundation::NotificationCenter::defaultCenter().post(kHXCPasscodeLockSpotlightPrefeChangedNotification);
        },
        toolkit::kValueChanged);
}

void HXCPasscodeSettingsViewController::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    if (auto* lock = this->lock()) {
        passcodeRequired_ = lock->passcodeRequired();
        useBiometricID_ = lock->useBiometricID();
        useSpotlight_ = lock->useSpotlight();
    }
    biometricSwitch_->setOn(useBiometricID_);
    spotlightSwitch_->setOn(useSpotlight_);
    tableView()->reloadData();
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, kPasscodeSettingDidChangeNotification);
    auto weak = weakSelf<HXCPasscodeSettingsViewController>();
    center.addObserver(this, kPasscodeSettingDidChangeNotification, [weak](const foundation::Notification&) {
        auto self = weak.lock();
        auto* lock = self ? self->lock() : nullptr;
        if (!lock) return;
        self->passcodeRequired_ = lock->passcodeRequired();
        self->tableView()->reloadData();
    });
}

void HXCPasscodeSettingsViewController::viewDidDisappear(bool animated) {
    toolkit::TableViewController::viewDidDisappear(animated);
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kPasscodeSettingDidChangeNotification);
}

HXCPasscodeLock* HXCPasscodeSettingsViewController::lock() const {
    auto passcode = roles_.passcode.lock();
    return passcode ? &passcode->passcodeLock() : nullptr;
}

bool HXCPasscodeSettingsViewController::showsBiometrics() const {
    auto* lock = this->lock();
    return lock && lock->canUseBiometricID();
}

std::string HXCPasscodeSettingsViewController::biometricIDName() const {
    auto* lock = this->lock();
    return lock ? lock->biometricIDName() : std::string();
}

long HXCPasscodeSettingsViewController::numberOfSections(toolkit::TableView&) {
    if (!passcodeRequired_) return 1;
    return 1 + (showsBiometrics() ? 1 : 0) + (services::SearchableIndex::isIndexingAvailable() ? 1 : 0);
}

HXCPasscodeSettingsViewController::Row HXCPasscodeSettingsViewController::rowOfSection(long section) const {
    if (section == 0) return Row::Passcode;
    if (section == 1 && showsBiometrics()) return Row::Biometrics;
    return Row::Spotlight;
}

toolkit::TableViewCellPtr HXCPasscodeSettingsViewController::cellForRow(toolkit::TableView& table,
                                                                        toolkit::IndexPath indexPath) {
    auto cell = table.dequeueReusableCell(kCellIdentifier);
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, kCellIdentifier);
    auto& label = cell->textLabel();
    label.setTextColor(toolkit::Device::current().systemVersionAtLeast(13) ? toolkit::Color::label()
                                                                           : toolkit::Color::black());
    label.setTextAlignment(toolkit::TextAlignment::natural);
    cell->setAccessoryView(nullptr);
    cell->imageView().setImage(nullptr);
    cell->setSelectionStyle(toolkit::CellSelectionStyle::Default);
    cell->setBackgroundColor(toolkit::Color::secondarySystemGroupedBackground());
    switch (rowOfSection(indexPath.section)) {
        case Row::Passcode:
            label.setText(passcodeRequired_ ? text("Turn Passcode Off") : text("Turn Passcode On"));
            label.setTextAlignment(toolkit::TextAlignment::center);
            break;
        case Row::Biometrics: {
            const std::string name = biometricIDName();
            label.setText(foundation::format(text("Use %@ to unlock"), name));
            cell->setAccessoryView(biometricSwitch_);
            cell->setSelectionStyle(toolkit::CellSelectionStyle::None);
            auto image = graphics::imageScaledToFitSize(hxBarImageNamed(name), {32, 32});
            image = graphics::imageTintedWithColor(image, toolkit::Color::systemGray());
            cell->imageView().setImage(image->withRenderingMode(toolkit::RenderingMode::alwaysTemplate));
            cell->imageView().setTintColor(toolkit::Color::systemGray());
            break;
        }
        case Row::Spotlight:
            label.setText(text("Show Spotlight Results"));
            cell->setAccessoryView(spotlightSwitch_);
            cell->setSelectionStyle(toolkit::CellSelectionStyle::None);
            break;
    }
    return cell;
}

std::optional<std::string> HXCPasscodeSettingsViewController::titleForFooter(toolkit::TableView&, long section) {
    switch (rowOfSection(section)) {
        case Row::Passcode:
            return std::string();
        case Row::Biometrics: {
            const std::string name = biometricIDName();
            std::string footer =
                foundation::format(text("Your Passcode will be required if your %@ is not recognized."),
                                   name == "TouchID" ? "fingerprint" : "face");
            if (services::Biometrics::shared().supportsReuseDuration())
                footer +=
                    "\n\n" + foundation::format(text("When using %@, HX Connect will be unlocked automatically if "
                                                     "your phone has been unlocked using %@ in the last 30s "
                                                     "before opening the application."),
                                                name, name);
            return footer;
        }
        case Row::Spotlight:
            if (section == 2)
                return foundation::format(text("Selecting any result in Spotlight will still require the Passcode/%@ "
                                               "to be entered to display the full message in the application."),
                                          biometricIDName());
            return text(
                "Selecting any result in Spotlight will still require the Passcode to be entered to display the full "
                "message in the application.");
    }
    return std::nullopt;
}

namespace {

constexpr double kFooterMargin = 20, kFooterTop = 7, kFooterBottom = 12;

}  // namespace

std::shared_ptr<toolkit::Label> HXCPasscodeSettingsViewController::footerLabel(toolkit::TableView& table,
                                                                               long section) {
    auto footer = titleForFooter(table, section);
    if (!footer || footer->empty()) return nullptr;
    auto label = std::make_shared<toolkit::Label>();
    label->setText(*footer);
    label->setNumberOfLines(0);
    label->setFont(toolkit::Font::system(13));
    label->setTextColor(toolkit::Color::secondaryLabel());
    const double width = table.bounds().size.width - 2 * kFooterMargin;
    const double height = label->sizeThatFits({width, 10000}).height;
    label->setFrame({kFooterMargin, kFooterTop, width, height});
    return label;
}

std::shared_ptr<toolkit::View> HXCPasscodeSettingsViewController::viewForFooter(toolkit::TableView& table,
                                                                                long section) {
    auto label = footerLabel(table, section);
    if (!label) return nullptr;
    const auto frame = label->frame();
    auto footer = std::make_shared<toolkit::View>(
        toolkit::Rect{0, 0, table.bounds().size.width, frame.origin.y + frame.size.height + kFooterBottom});
    footer->setOpaque(false);
    footer->addSubview(label);
    return footer;
}

std::optional<double> HXCPasscodeSettingsViewController::heightForFooter(toolkit::TableView& table, long section) {
    auto label = footerLabel(table, section);
    if (!label) return std::nullopt;
    const auto frame = label->frame();
    return frame.origin.y + frame.size.height + kFooterBottom;
}

std::optional<toolkit::IndexPath> HXCPasscodeSettingsViewController::willSelectRow(toolkit::TableView&,
                                                                                   toolkit::IndexPath indexPath) {
    if (rowOfSection(indexPath.section) != Row::Passcode) return std::nullopt;
    return indexPath;
}

void HXCPasscodeSettingsViewController::didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    if (rowOfSection(indexPath.section) == Row::Passcode) presentPad();
    table.deselectRow(indexPath, true);
}

void HXCPasscodeSettingsViewController::presentPad() {
    auto role = roles_.passcode.lock();
    auto* navigation = navigationController();
    if (!role || !navigation) return;
    // The settings view's root screen answers the pads.
    auto delegate = role->passcodePadDelegateScreen();
    std::shared_ptr<HXPasscodePadScreen> pad;
    if (passcodeRequired_) {
        if (makers_.unlockPad)
            pad = makers_.unlockPad(std::dynamic_pointer_cast<HXCPadLockScreenViewControllerDelegate>(delegate));
    } else if (makers_.setupPad) {
        pad = makers_.setupPad(std::dynamic_pointer_cast<HXCPadLockScreenSetupViewControllerDelegate>(delegate));
    }
    if (!pad) return;
    pad->offerBiometricID(role->passcodeLock().offeredBiometricID());
    const bool tablet = toolkit::Device::current().isPad();
    pad->modalPresentationStyle =
        tablet ? toolkit::ModalPresentationStyle::FormSheet : toolkit::ModalPresentationStyle::FullScreen;
    pad->modalTransitionStyle = toolkit::ModalTransitionStyle::CrossDissolve;
    const auto frame = pad->view()->frame();
    pad->setBackgroundView(passcodeBackgroundViewWithFrame(frame));
    navigation->present(pad, true);
}
