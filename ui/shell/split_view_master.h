// The tablet's master list: four rows (SMS, voicemail, history, settings) with the unread badges
// of the first two, a header with the app's icon and the account's name and number, bar buttons
// that open the dial pad, a new message and the account list, and the hardware key commands.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/roles/screen_roles.h"
#include "app/screens.h"
#include "app/views.h"

class VC_SplitView_Master : public HXSplitViewMaster {
public:
    // The split view role shows the details; routing, the lists', the settings' and the
    // conversation actions' roles serve the bar buttons and key commands.
    struct Roles {
        std::weak_ptr<HXSplitViewRole> splitView;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXListLoadingRole> lists;
        std::weak_ptr<HXSettingsRole> settings;
        std::weak_ptr<HXConversationActionsRole> conversations;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    // The screens it opens as popovers, made by the screen library: the help page and the account
    // list (each in a navigation controller of its own); an empty maker opens nothing.
    struct Makers {
        std::function<std::shared_ptr<toolkit::ViewController>()> help;
        std::function<std::shared_ptr<toolkit::ViewController>()> accountList;
    };
    VC_SplitView_Master(Roles roles, Makers makers);
    ~VC_SplitView_Master() override;

    static constexpr double kRowHeight = 60.0;
    static constexpr double kHeaderHeight = 220.0;
    static constexpr int kUserNameTag = 1;
    static constexpr int kNumberTag = 2;

    void selectRow(int index) override;
    void refreshTable() override;
    void showCallPopup() override;
    void showSMSPopup();
    void showAccounts();
    void infoButtonClicked();
    // Puts the search bar of the current list in focus, or reloads the current list.
    void enterSearch();
    void refreshMessages();

    // The header, built on first request and filled from the current account on each.
    std::shared_ptr<toolkit::View> headerView();

    void viewDidLoad() override;
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;
    bool canBecomeFirstResponder() const override { return true; }
    // The key commands' actions, answered by this screen's action handlers.
    static std::string switchViewAction(int view) { return "switchView" + std::to_string(view) + ":"; }
    static constexpr const char* kShowCallPopupAction = "showCallPopup";
    static constexpr const char* kShowSMSPopupAction = "showSMSPopup";
    static constexpr const char* kShowAccountsAction = "showAccounts:";
    static constexpr const char* kEnterSearchAction = "enterSearch";
    static constexpr const char* kRefreshMessagesAction = "refreshMessages";
    std::vector<toolkit::KeyCommand> keyCommands() const override;

    long numberOfRows(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    std::optional<double> heightForHeader(toolkit::TableView&, long section) override;
    std::shared_ptr<toolkit::View> viewForHeader(toolkit::TableView&, long section) override;
    void didHighlightRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    std::optional<toolkit::IndexPath> willSelectRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;

private:
    void presentPopover(const std::shared_ptr<toolkit::ViewController>& controller);
    int currentViewIndex() const;
    Roles roles_;
    Makers makers_;
    std::shared_ptr<toolkit::View> header_;
    std::weak_ptr<toolkit::View> infoButton_;
    // Set while selectRow runs, so that a refresh it causes keeps its selection.
    bool selecting_ = false;
};
