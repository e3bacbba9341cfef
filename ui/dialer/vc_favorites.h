// The favourites: phone numbers of device contacts that the user keeps at hand, per account,
// stored in the preference "favorites" (user name -> list of composite strings) and mirrored
// whole to the cloud key-value store. Opened from the dial pad or the new-message screen, each
// time anew; picking a favourite hands its number to the screen that opened the list. In editing
// mode the user adds favourites from the device's contacts, deletes and reorders them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/foundation/value.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/table_view_controller.h"
#include "ui/dialer/favorite.h"

class HXContactPhonePicker;

class VC_Favorites : public toolkit::TableViewController {
public:
    // The opener takes a picked number (with the name and label to show) and closes the list;
    // false when it cannot take it (its view is gone): the list then stays open.
    using HandBack = std::function<bool(const std::string& number, const std::string& name, const std::string& label,
                                        VC_Favorites& list)>;

    struct Roles {
        std::weak_ptr<HXAlertsRole> alerts;
    };
    VC_Favorites(Roles roles, HandBack handBack, Favorite::Sources sources = Favorite::Sources::shared());
    ~VC_Favorites() override;
    std::string className() const override { return "VC_Favorites"; }

    // The account's stored lines (read on first use) and their favourites, index for index.
    std::vector<std::string>& favoriteNums();
    std::vector<Favorite>& theFavorites() { return theFavorites_; }

    // Resolves every stored line; drops those that lost their phone and saves when a line changed.
    void updateFavorites();
    // Writes the whole dictionary to the preferences and, when available, to the cloud store.
    static void saveFavoritesWithDict(const foundation::Dictionary& favorites);
    void cancel();
    // Adds a favourite for a picked number.
    void selectedPhone(const services::LabeledPhoneNumber& phone, const services::Contact& contact);
    void dismissWithCallerNumber(const std::string& number, const std::string& name, const std::string& label);
    // Shows the card of a favourite's contact (the detail button).
    void showContactCard(long row);

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void setEditingMode(bool editing, bool animated);

    long numberOfRows(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void accessoryButtonTapped(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    bool canEditRow(toolkit::TableView&, toolkit::IndexPath) override;
    toolkit::CellEditingStyle editingStyleForRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void commitEditingStyle(toolkit::TableView& table, toolkit::CellEditingStyle style,
                            toolkit::IndexPath indexPath) override;
    bool canMoveRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    toolkit::IndexPath targetIndexPathForMove(toolkit::TableView&, toolkit::IndexPath from,
                                              toolkit::IndexPath proposed) override;
    void moveRow(toolkit::TableView& table, toolkit::IndexPath from, toolkit::IndexPath to) override;

private:
    class Delegates;
    void openPicker();
    void save();
    void appearanceSteps();
    void updateEditButton();
    long count() const { return static_cast<long>(theFavorites_.size()); }

    Roles roles_;
    HandBack handBack_;
    Favorite::Sources sources_;
    std::shared_ptr<Delegates> delegates_;
    // Hears the device contact picker that adds a favourite.
    std::shared_ptr<HXContactPhonePicker> picker_;
    std::optional<std::vector<std::string>> favoriteNums_;
    std::vector<Favorite> theFavorites_;
    std::shared_ptr<toolkit::BarButtonItem> editItem_;
};
