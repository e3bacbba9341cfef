// The editor of one stored quick setting: its service settings, callback choice, forwarding per
// phone, e-mail forwarding, the three app preferences and (where regions can be monitored) its
// location. It edits its own copy and stores it when the screen goes with a changed content. Its
// rows are the settings screen's (ui/settings/settings_rows.h), read from the preset in the
// editor's own layout.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/toolkit/table_view_controller.h"
#include "ui/settings/settings_rows.h"

class HX_QuickSetting;

class VC_QSDetails : public toolkit::TableViewController {
public:
    struct Roles {
        std::weak_ptr<HXQuickSettingsRole> quickSettings;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXCallChoiceRole> callChoice;
    };
    struct Makers {
        // The region of a setting by its name.
        std::function<std::shared_ptr<toolkit::ViewController>(const std::string& settingName)> location;
    };
    VC_QSDetails(Roles roles, Makers makers, std::string settingName);
    ~VC_QSDetails() override;
    std::string className() const override { return "VC_QSDetails"; }

    const std::string& settingName() const { return settingName_; }
    // The working copy (none before the screen first appears).
    const std::shared_ptr<HX_QuickSetting>& quickSetting() const { return quickSetting_; }

    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // The section of a row tag, or -1; the index path of a tag (row and section -1 for a tag of
    // the settings screen this editor does not show, none outside 99 to 132).
    int sectionForTag(int tag) const;
    std::optional<toolkit::IndexPath> indexPathForTag(int tag) const;
    // A switch's tag flips the field it names.
    void toggleOnOff(int tag);
    // The rightmost 45 points of a row, where a sheet's popover points.
    toolkit::Rect sourceRectForRowAtIndexPath(toolkit::IndexPath indexPath);

    long numberOfSections(toolkit::TableView&) override;
    long numberOfRows(toolkit::TableView&, long section) override;
    std::optional<std::string> titleForHeader(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<toolkit::IndexPath> willSelectRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

private:
    int tagAt(toolkit::IndexPath indexPath) const;
    // What a value row at indexPath shows besides its title (the callback choice, a phone, the
    // greeting, the location).
    void fillOwnRow(toolkit::TableViewCell& cell, int tag, toolkit::IndexPath indexPath);
    std::vector<std::shared_ptr<class HX_Phone>> sortedPresetPhones() const;
    void presentSheet(const std::shared_ptr<toolkit::AlertController>& sheet, toolkit::IndexPath indexPath);
    void reloadTag(int tag);
    // The preset's callback phone when the account no longer has it: the account's first call
    // method (a real phone first), so a VoIP client is never the one rung back.
    void replaceGoneCallbackPhone();

    Roles roles_;
    Makers makers_;
    std::string settingName_;
    std::shared_ptr<HX_QuickSetting> quickSetting_;
    uint64_t entryHash_ = 0;
    // The sections as the preset was read (before it is: no location, no phones).
    std::vector<HXSettingsSection> layout_ = HXPresetLayout({});
};
