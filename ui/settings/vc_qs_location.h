// "Locations": switches location awareness of the quick settings on and off (asking for always
// access when it is undecided) and chooses whether each automatic switch is announced.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/toolkit/table_view_controller.h"
#include "ui/settings/shown_rows.h"

class VC_QSLocation : public toolkit::TableViewController {
public:
    struct Roles {
        std::weak_ptr<HXQuickSettingsRole> quickSettings;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    VC_QSLocation(Roles roles, toolkit::TableViewStyle style);
    ~VC_QSLocation() override;
    std::string className() const override { return "VC_QSLocation"; }

    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // The switches' actions.
    void toggleLocationAwareness();
    void toggleLocationNotifications();
    // The access status changed, or a request for always access was answered.
    void locationAuthorizationUpdated(bool requestAnswered);

    long numberOfSections(toolkit::TableView&) override;
    long numberOfRows(toolkit::TableView&, long) override { return 1; }
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::string> titleForFooter(toolkit::TableView&, long section) override;
    std::optional<toolkit::IndexPath> willSelectRow(toolkit::TableView&, toolkit::IndexPath) override {
        return std::nullopt;
    }

private:
    // Location updates run while the screen shows with awareness on and the app is in front.
    void followForeground(bool follow);
    std::shared_ptr<services::LocationManager> manager() const;
    // What each section shows (its switch and its footer), keyed by the section.
    std::vector<HXShownRow> shownNow();
    // Shows the sections that came, went or changed since they were last drawn.
    void showChanges();
    Roles roles_;
    bool following_ = false;
    std::optional<std::vector<HXShownRow>> shown_;
};
