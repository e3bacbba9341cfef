// The list of the account's quick settings: a tap applies one and goes back; in editing mode a tap
// opens a preset's editor, a last row creates one from the current settings, and swipe actions
// delete or rename. A check mark shows the presets equal to the current settings; where the
// device monitors regions each row shows its location and a first row leads to location
// awareness.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/table_view_controller.h"
#include "ui/settings/shown_rows.h"

class HX_QuickSetting;
class VC_QuickSettings : public toolkit::TableViewController {
public:
    struct Roles {
        std::weak_ptr<HXQuickSettingsRole> quickSettings;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    // The screens it pushes, made by the screen library (ui/shell): the location list (the first
    // row while regions are monitored) and the editor of a preset by name; an empty maker opens
    // nothing.
    struct Makers {
        std::function<std::shared_ptr<toolkit::ViewController>()> locations;
        std::function<std::shared_ptr<toolkit::ViewController>(const std::string& settingName)> editor;
    };
    VC_QuickSettings(Roles roles, Makers makers, toolkit::TableViewStyle style = toolkit::TableViewStyle::Grouped);
    ~VC_QuickSettings() override;
    std::string className() const override { return "VC_QuickSettings"; }

    const std::vector<std::string>& sortedSettings() const { return sortedSettings_; }
    const std::shared_ptr<toolkit::BarButtonItem>& editButton() const { return editButton_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    // The current settings' hash again, and the rows that show other than they did.
    void reloadTable();
    // A preset saved by a screen above the list: its check mark and location again.
    void updateHashDict(const std::string& name);
    void locationAuthorizationUpdated();
    // The create and rename alerts' answers (also what their OK buttons do).
    void createQuickSetting(const std::string& name);
    void renameQuickSetting(const std::string& oldName, const std::string& newName);
    void deleteQuickSetting(const std::string& name);
    void setEditingMode(bool editing, bool animated);

    long numberOfSections(toolkit::TableView&) override;
    long numberOfRows(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::string> titleForFooter(toolkit::TableView&, long section) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    bool canEditRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    toolkit::CellEditingStyle editingStyleForRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void commitEditingStyle(toolkit::TableView&, toolkit::CellEditingStyle style,
                            toolkit::IndexPath indexPath) override;
    std::optional<std::vector<toolkit::TableViewRowActionPtr>> editActionsForRow(toolkit::TableView&,
                                                                                 toolkit::IndexPath indexPath) override;
    void willBeginEditingRow(toolkit::TableView&, toolkit::IndexPath) override;
    void didEndEditingRow(toolkit::TableView&, std::optional<toolkit::IndexPath>) override;

private:
    bool monitoring() const { return monitoring_; }
    long presetSection() const { return monitoring_ ? 1 : 0; }
    void computeCurrentHash();
    // The preset's check-mark hash and location label (the account's default given, or looked up).
    void remember(const std::string& name, const HX_QuickSetting& setting);
    void remember(const std::string& name, const HX_QuickSetting& setting, const std::optional<std::string>& defaultQS);
    void enableEditButton();
    void presentCreateAlert();
    void presentRenameAlert(const std::string& name);
    void observeWhileVisible();
    // What each row shows, by section: the location awareness row, then the presets (and the
    // create row while editing), keyed by name.
    std::vector<std::vector<HXShownRow>> shownNow() const;
    std::string locationLabel(const std::string& name) const;
    bool checked(const std::string& name) const;
    // Shows the rows that changed since they were last drawn.
    void showChanges();

    Roles roles_;
    Makers makers_;
    bool monitoring_ = false;
    uint64_t currentHash_ = 0;
    std::vector<std::string> sortedSettings_;
    std::map<std::string, uint64_t> hashDict_;
    std::map<std::string, std::string> locationDict_;
    std::shared_ptr<toolkit::BarButtonItem> editButton_;
    // What the rows showed when last drawn (none before the table was read).
    std::optional<std::vector<std::vector<HXShownRow>>> shown_;
};
