// The "Passcode Lock" settings screen: turns the passcode on (a new PIN twice) or off (the current
// PIN), switches biometric unlock and whether messages show in system search while locked.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/passcode_pad_screen.h"
#include "app/roles/screen_roles.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/table_view_controller.h"

class HXCPasscodeLock;
class HXCPasscodeSettingsViewController;

// Told when the settings change (optional; this screen does not call it).
class HXCPasscodeSettingsViewControllerDelegate {
public:
    virtual ~HXCPasscodeSettingsViewControllerDelegate() = default;
    virtual void didSettingsChanged(HXCPasscodeSettingsViewController&) {}
};

class HXCPasscodeSettingsViewController : public toolkit::TableViewController {
public:
    struct Roles {
        std::weak_ptr<HXPasscodeRole> passcode;
    };
    // The pads it presents, made by the screen library (ui/shell) with a simple PIN and a shake on
    // a wrong one: the unlock pad that turns the passcode off and the setup pad that turns it on;
    // an empty maker presents nothing.
    struct Makers {
        std::function<std::shared_ptr<HXPasscodePadScreen>(std::weak_ptr<HXCPadLockScreenViewControllerDelegate>)>
            unlockPad;
        std::function<std::shared_ptr<HXPasscodePadScreen>(std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate>)>
            setupPad;
    };
    HXCPasscodeSettingsViewController(Roles roles, Makers makers, toolkit::TableViewStyle style);
    ~HXCPasscodeSettingsViewController() override;
    std::string className() const override { return "HXCPasscodeSettingsViewController"; }

    std::weak_ptr<HXCPasscodeSettingsViewControllerDelegate> delegate;

    const std::shared_ptr<toolkit::Switch>& biometricSwitch() const { return biometricSwitch_; }
    const std::shared_ptr<toolkit::Switch>& spotlightSwitch() const { return spotlightSwitch_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    long numberOfSections(toolkit::TableView&) override;
    long numberOfRows(toolkit::TableView&, long) override { return 1; }
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::string> titleForFooter(toolkit::TableView&, long section) override;
    // The footers are explanations of several lines.
    std::shared_ptr<toolkit::View> viewForFooter(toolkit::TableView& table, long section) override;
    std::optional<double> heightForFooter(toolkit::TableView& table, long section) override;
    std::optional<toolkit::IndexPath> willSelectRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

private:
    enum class Row { Passcode, Biometrics, Spotlight };
    Row rowOfSection(long section) const;
    bool showsBiometrics() const;
    // The lock through the passcode role (none once the application object is gone), and the
    // name of its biometric unlock ("" then).
    HXCPasscodeLock* lock() const;
    std::string biometricIDName() const;
    void presentPad();
    std::shared_ptr<toolkit::Label> footerLabel(toolkit::TableView& table, long section);

    Roles roles_;
    Makers makers_;
    std::shared_ptr<toolkit::Switch> biometricSwitch_, spotlightSwitch_;
    bool passcodeRequired_ = false, useBiometricID_ = false, useSpotlight_ = true;
};
