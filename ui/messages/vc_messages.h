// The common controller of the message list screens (the SMS, voicemail and history lists derive
// from it): a table of the list's conversations, newest first, from its model's results
// controller, with a row that loads older pages or searches the service; the pull-to-refresh
// control, the list-type dropdown as the navigation bar's title, the search bar and its scopes,
// the row actions (swipe actions, context menu, long press, star) and the opening and preview of
// a conversation. The model (HXMessageListModel) holds the list's state, requests and parse; this
// controller owns it and is its view once both its view has loaded and the model exists. As a
// view's root the shell finds the list through it, and the lists' role makes the model on that
// first use, for the service the application object talks to then.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/message_list_actions.h"
#include "app/roles/message_list_host.h"
#include "app/roles/screen_roles.h"
#include "model/conversation.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/previewing.h"
#include "platform/toolkit/table_view_controller.h"
#include "service/message_list_view.h"
#include "ui/messages/hxc_dropdown_menu.h"

namespace toolkit {
class LongPressGestureRecognizer;
}

class HXMessageListModel;
namespace store {
class ManagedObject;
}

class VC_Messages : public toolkit::TableViewController,
                    public HXMessageListView,
                    public HXMessageListHost,
                    public HXCDropdownMenuDataSource,
                    public HXCDropdownMenuDelegate,
                    public toolkit::SearchBarDelegate,
                    public toolkit::PreviewingDelegate {
public:
    // A list over a model made by the caller (its roles empty: rows open nothing).
    explicit VC_Messages(std::shared_ptr<HXMessageListModel> model);
    // A list of a view type (1 to 3) whose model the lists' role makes on first use.
    struct Roles {
        std::weak_ptr<HXListLoadingRole> lists;
        std::weak_ptr<HXListActionsRole> listActions;
        std::weak_ptr<HXConversationOperationsRole> conversationOperations;
        std::weak_ptr<HXConversationActionsRole> conversations;
        std::weak_ptr<HXConversationOptionsRole> options;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXAlertsRole> alerts;
    };
    // The screen a row or its preview opens, for the conversation set up (none: a tap opens
    // nothing).
    struct Makers {
        std::function<std::shared_ptr<toolkit::ViewController>(const HXConversationSetup& setup)> conversation;
    };
    VC_Messages(Roles roles, Makers makers, int viewType);
    ~VC_Messages() override;
    std::string className() const override { return "VC_Messages"; }

    // None before the first use of a list made by the role.
    const std::shared_ptr<HXMessageListModel>& model() const { return model_; }
    std::shared_ptr<HXMessageListModel> messageList() override;
    bool enterSearch() override;

    // ---- the screen
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    // The dropdown's side insets follow the split view.
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;
    // A search bar hidden under the bars stays hidden when their height changes (a rotation).
    void viewDidLayoutSubviews() override;
    bool canBecomeFirstResponder() const override;
    void motionEnded() override;

    const std::shared_ptr<HXCDropdownMenu>& navBarMenu() const { return navBarMenu_; }
    const std::shared_ptr<toolkit::SearchBar>& searchBar() const { return searchBar_; }
    // The conversation of a row of section 0 (none for a row that cannot be resolved).
    std::shared_ptr<store::ManagedObject> conversationAtIndexPath(toolkit::IndexPath indexPath) const;
    std::optional<HX_Conversation> rowAt(toolkit::IndexPath indexPath) const;

    // ---- the table
    long numberOfSections(toolkit::TableView& table) override;
    long numberOfRows(toolkit::TableView& table, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<double> heightForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<double> estimatedHeightForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    bool canEditRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<toolkit::SwipeActionsConfigurationPtr> leadingSwipeActions(toolkit::TableView& table,
                                                                             toolkit::IndexPath indexPath) override;
    std::optional<toolkit::SwipeActionsConfigurationPtr> trailingSwipeActions(toolkit::TableView& table,
                                                                              toolkit::IndexPath indexPath) override;
    toolkit::ContextMenuConfigurationPtr
    contextMenuConfiguration(toolkit::TableView& table, toolkit::IndexPath indexPath, toolkit::Point point) override;
    void willPerformPreviewAction(toolkit::TableView& table, toolkit::ContextMenuConfiguration& configuration,
                                  toolkit::ContextMenuCommitAnimator& animator) override;
    void accessoryButtonTapped(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    bool scrollViewShouldScrollToTop(toolkit::ScrollView& scrollView) override;

    // ---- rows and their actions
    // A conversation screen set up for a preview of the conversation (no service request).
    std::shared_ptr<toolkit::ViewController>
    previewControllerForConverstion(const std::optional<HX_Conversation>& conversation);
    // The star of a row as its accessory.
    std::shared_ptr<toolkit::Button> buttonForStar(bool starred);
    // The background of a swipe action of a type (0 to 6) for a row of a height: the type's
    // circle with its white icon, as wide as the table, as a pattern colour.
    toolkit::Color backgroundForEditActionWithType(int type, double height);
    // The image of every swipe action: empty, the size of the background's circle.
    static toolkit::ImagePtr emptyImageForEditAction(double height);
    // The long press of systems without context menus: the options popover of the row.
    void handleLongPress(toolkit::Point pointInTable);
    // Before version 13: peek and pop of the rows where the window senses firm presses, else the
    // long press (run when the traits change).
    void checkForForceTouch();
    bool hasRegisteredForForceTouch() const { return messagePreviewingContext_ != nullptr; }
    toolkit::ViewControllerPtr previewingViewControllerForLocation(toolkit::PreviewingContext& context,
                                                                   toolkit::Point location) override;
    void previewingCommitViewController(toolkit::PreviewingContext& context,
                                        const toolkit::ViewControllerPtr& controller) override;
    void traitCollectionDidChange(const toolkit::TraitCollection& previous) override;

    // ---- the dropdown
    long numberOfComponentsInDropdownMenu(HXCDropdownMenu&) override { return 1; }
    long numberOfRowsInComponent(HXCDropdownMenu& menu, long component) override;
    std::optional<std::string> titleForRow(HXCDropdownMenu& menu, long row, long component) override;
    std::optional<toolkit::AttributedString> attributedTitleForRow(HXCDropdownMenu& menu, long row,
                                                                   long component) override;
    std::optional<toolkit::Color> backgroundColorForRow(HXCDropdownMenu& menu, long row, long component) override;
    std::optional<std::shared_ptr<toolkit::View>> viewForComponent(HXCDropdownMenu& menu, long component) override;
    void didSelectRow(HXCDropdownMenu& menu, long row, long component) override;

    // ---- the search bar
    bool searchBarShouldBeginEditing(toolkit::SearchBar& bar) override;
    void textDidChange(toolkit::SearchBar& bar, const std::string& text) override;
    void selectedScopeButtonIndexDidChange(toolkit::SearchBar& bar, long index) override;
    void searchBarCancelButtonClicked(toolkit::SearchBar& bar) override;
    void searchBarSearchButtonClicked(toolkit::SearchBar& bar) override;
    void searchBarTextDidEndEditing(toolkit::SearchBar& bar) override;

    // ---- the view of the model
    bool isShownScreen() const override { return shown_; }
    void beginRefreshing(const std::string& title) override;
    void endRefreshing() override;
    void updateLastRefreshDate() override;
    void reloadTable() override;
    void reloadVisibleCells() override;
    void rowsDidChange(const store::RowChanges& changes) override;
    void updateMoreRow() override;
    void scrollToTopWithAnimation(bool animated) override;
    std::optional<double> contentOffsetY() override;
    void controllerDidChangeContent() override;
    std::optional<bool> shownConversationIsRead() const override;
    void showBackButtonCount(uint64_t count) override;

    // ---- observer targets
    const Roles& roles() const { return roles_; }
    // "kSMSNotification" or "kVMNotification": another list's parse stored new rows of this
    // list's kind.
    void storeHasNewRows(const foundation::Notification& notification);
    void resetRowHeight();
    void reloadDates();
    void removeSelection();

    // ---- pure rules of the rows
    // The conversation type a screen opened from a list shows (1 texts, 2 voicemail, 3 calls).
    static int conversationTypeFor(int64_t typeMask, int64_t viewType, int64_t conversationType);
    // The date of a row: the time today, "Yesterday", the weekday within the six days before,
    // else the short date; days are the calendar days of the zone (current when empty).
    static std::string dateText(foundation::Date lastdate, foundation::Date now, const std::string& timeZone = {});

protected:
    // The subclass's part of the set-up: title, scopes, observers, bar buttons.
    virtual void setUpList() {}
    // Estimated row height of the list (the subclass's, by device form).
    virtual double estimatedRowHeight() const { return 57; }
    // The text a throwaway conversation gets when the row height is measured.
    virtual std::string measuringText(const std::string& sender) const { return sender; }
    int viewType() const;
    bool iPad() const;
    void observe(const std::string& name, std::function<void(VC_Messages&, const foundation::Notification&)> handler);

private:
    // The width the swipe actions' backgrounds are drawn for: six spaces of the system font and 20.
    static double editActionWidth();
    toolkit::PreviewingContextPtr messagePreviewingContext_;
    std::shared_ptr<toolkit::LongPressGestureRecognizer> longPress_;
    void attachModel();
    // The account was selected (again): the list fetches its rows and loads (unless a load runs
    // already and evenWhileLoading is false).
    void refetchMessages(bool evenWhileLoading);
    // The set-up's logout observer: back to the list, which starts over.
    void observeLogout();
    // Until the list's first data, the account's unread items being in starts its load.
    void observeUnreadItems();
    // What the bars above cover of the table: its top inset, less a refresh spinner's.
    double barsHeight();
    // The table's offset that hides the search bar under the bars, when it has one to hide.
    std::optional<double> hiddenSearchOffset();
    void openConversation(const std::optional<HX_Conversation>& conversation);
    void loadMore(toolkit::IndexPath indexPath);
    HXConversationSetup setupFor(const HX_Conversation& conversation, bool peeking) const;
    // The "load more" section follows the list's paging, the rows staying as they are.
    void followSections();
    bool hasMoreRow() const;
    double measureRowHeight();
    void setSearchBarEditing(bool editing);
    // On the tablet the master list takes the keyboard back once the search bar lets it go.
    void giveKeysBackToMasterList();
    // The dropdown opens over the whole width, less the master column while the split view
    // shows both.
    void setDropdownInsets();
    std::string conversationIDOf(toolkit::IndexPath indexPath) const;

    Roles roles_;
    Makers makers_;
    int viewType_ = 0;
    std::shared_ptr<HXMessageListModel> model_;
    std::shared_ptr<HXCDropdownMenu> navBarMenu_;
    std::shared_ptr<toolkit::SearchBar> searchBar_;
    std::optional<foundation::Date> todayStart_;
    double rowHeight_ = 0;
    bool observing_ = false;
    // The refresh control's title before a load showed its own, given back when the load ends.
    std::optional<std::string> titleBeforeRefresh_;
    // Read by parses off the main thread.
    std::atomic<bool> shown_{false};
    // The offset that hid the search bar at the last layout in the window.
    std::optional<double> lastHiddenSearchOffset_;
};
