// The settings screen, view 4's root (the phone's "Settings" tab, the tablet's detail): the
// signed-in account's service settings, the callback phone, call forwarding per linked phone,
// e-mail forwarding and the app's own preferences. The rows are data (ui/settings/settings_rows.h)
// read by this one table controller; a row whose change is in flight shows an indicator until the
// change ends. It answers the passcode pads as their delegate.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/passcode_settings_placeholder.h"
#include "app/roles/screen_roles.h"
#include "app/settings_screen.h"
#include "platform/toolkit/table_view_controller.h"
#include "ui/settings/settings_rows.h"

namespace toolkit {
class Switch;
}

class VC_Settings : public toolkit::TableViewController, public HXSettingsScreen, public HXPasscodeSettingsPads {
public:
    struct Roles {
        std::weak_ptr<HXAccountSettingsRole> accountSettings;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXPasscodeRole> passcode;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXCallChoiceRole> callChoice;
        std::weak_ptr<HXSettingsSnapshotRole> snapshot;
        std::weak_ptr<HXServiceSettingsRole> serviceSettings;
        std::weak_ptr<HXLoadingOverlayRole> overlay;
    };
    // The screens it opens, each made by the screen library's makers (ui/shell) with the roles
    // that screen uses; an empty one opens nothing. Without an account list the "Accounts"
    // button stays away.
    using ScreenMaker = std::function<std::shared_ptr<toolkit::ViewController>()>;
    struct Makers {
        ScreenMaker accountList;    // the "Accounts" button, in a navigation controller of its own
        ScreenMaker help;           // the information button, likewise
        ScreenMaker quickSettings;  // pushed from "Quick Settings"
        ScreenMaker notifications;  // pushed from the notification types row
        ScreenMaker passcode;       // pushed from "Passcode Lock"
    };

    VC_Settings(Roles roles, Makers makers);
    ~VC_Settings() override;
    std::string className() const override { return "VC_Settings"; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // ---- HXSettingsScreen
    long sectionForTag(int tag) override;
    toolkit::IndexPath indexPathForTag(int tag) override;
    void markRowBusy(const toolkit::IndexPath& path) override;
    void reloadTableCellForTag(int tag) override;
    void reloadSection(long section) override;
    void updateQuickSetting() override;
    void setServiceSetting(HXServiceSetting setting, bool value, HXSettingsCompletion completion = {}) override;
    void setVMGreeting(const std::string& greetingId, HXSettingsCompletion completion = {}) override;
    void enableForwardingForNumber(long index, bool status, HXSettingsCompletion completion = {}) override;

    // Puts the row of tag into the busy state when it is shown.
    void updateCellForTag(int tag);
    void updateQuickSettingNames();
    void scrollToTop();
    // The rightmost 45 points of a row: where action sheets point on the tablet.
    toolkit::Rect sourceRectForRowAtIndexPath(toolkit::IndexPath indexPath);
    // The rows in the busy state.
    const std::set<toolkit::IndexPath>& updatingCells() const { return updatingCells_; }
    // The target of every switch: its tag is the row's.
    void toggleOnOff(toolkit::Switch& sender);

    // ---- table
    long numberOfSections(toolkit::TableView&) override;
    long numberOfRows(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::string> titleForHeader(toolkit::TableView&, long section) override;
    std::optional<std::string> titleForFooter(toolkit::TableView&, long section) override;
    std::optional<double> heightForHeader(toolkit::TableView& table, long section) override;
    std::shared_ptr<toolkit::View> viewForHeader(toolkit::TableView& table, long section) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void accessoryButtonTapped(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

protected:
    HXCPasscodeLock& passcodeLockForPads() override;

private:
    std::shared_ptr<HXAccountSettingsRole> role() const { return roles_.accountSettings.lock(); }
    std::shared_ptr<HXAlertsRole> alerts() const { return roles_.alerts.lock(); }
    std::shared_ptr<HXCallChoiceRole> callChoice() const { return roles_.callChoice.lock(); }
    std::shared_ptr<HX_Account> account() const;
    const std::vector<HXSettingsSection>& layout();
    bool inTable(const toolkit::IndexPath& path);
    int tagAt(const toolkit::IndexPath& path);
    // The index of a choice row's current option.
    long choiceIndex(int tag);
    std::string detailText(int tag, long row);
    // What a row shows, worked out from the account, the roles and the stored preferences. A cell
    // is drawn from it alone, and the values each shown row was drawn from are kept, so that an
    // update compares values, not cells.
    struct RowValues {
        std::string text;
        std::string detail;
        bool on = false;      // a switch's state
        bool enabled = true;  // a switch's
        toolkit::CellAccessoryType accessory = toolkit::CellAccessoryType::None;
        bool touch = true;
        std::string hint;
        bool operator==(const RowValues&) const = default;
    };
    // A row is known by its tag and its place in its section (the forwarding rows share a tag),
    // which stay when sections come and go before it.
    using RowKey = std::pair<int, long>;
    RowKey rowKey(const toolkit::IndexPath& path) { return {tagAt(path), path.row}; }
    RowValues rowValues(toolkit::IndexPath indexPath);
    // values into a cell that HXSettingsCell made for the row of tag.
    void drawRow(toolkit::TableViewCell& cell, int tag, const RowValues& values);
    void updateCell(toolkit::TableViewCell& cell);
    // The account's settings changed (or, with logout, are gone): no row stays busy, and what
    // shows other than the account now gives is drawn again (the whole table when its sections
    // or rows changed).
    void updateSettings(bool logout);
    void reshape(const std::vector<HXSettingsSection>& drawn);
    void redrawChanged(const std::set<toolkit::IndexPath>& busy);
    void repairCallbackChoice();
    // A change of the row at path ended. One road per end: an applied change is drawn by the
    // settings update its reply posted (which came first), so here the row only stops being
    // busy; any other end posts no update, and the row shows the account's value again.
    void endChange(const toolkit::IndexPath& path, HXSettingsEnd end);
    HXSettingsCompletion endOfChange(int tag, HXSettingsCompletion completion);
    HXSettingsCompletion endOfForwardingChange(long index, HXSettingsCompletion completion);

    // Row actions.
    void showChoice(int tag, toolkit::IndexPath indexPath);
    void chooseOption(int tag, long option);
    void showCallbackChoice(toolkit::IndexPath indexPath);
    void showGreetingChoice(toolkit::IndexPath indexPath);
    void showClearCaches(toolkit::IndexPath indexPath);
    void presentSheet(const std::shared_ptr<toolkit::AlertController>& sheet, toolkit::IndexPath indexPath);
    void push(const std::shared_ptr<toolkit::ViewController>& screen);
    void infoButtonClicked();
    void showAccounts();

    Roles roles_;
    Makers makers_;
    std::set<toolkit::IndexPath> updatingCells_;
    std::unordered_map<uint64_t, std::string> quickSettingNames_;
    uint64_t currentQuickSettingHash_ = 0;
    // The layout of the account as it was when last worked out (cleared by every settings update).
    std::optional<std::vector<HXSettingsSection>> layout_;
    // The values each row was last drawn from.
    std::map<RowKey, RowValues> drawn_;
    bool appeared_ = false;
};
