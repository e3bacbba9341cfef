// The common controller of the message list screens (the SMS, voicemail and history lists derive
// from it): a table of the list's conversations, newest first, from its model's results
// controller, and the pull-to-refresh control. The model (HXMessageListModel) holds the list's
// state, requests and parse; this controller is its view, attached once both the view has loaded
// and the model exists. As a view's root the shell finds the list through it, and the lists' role
// makes the model on that first use, for the service the application object talks to then.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "app/roles/message_list_host.h"
#include "app/roles/screen_roles.h"
#include "platform/foundation/value.h"
#include "platform/toolkit/table_view_controller.h"
#include "service/message_list_view.h"

class HXMessageListModel;

class VC_Messages : public toolkit::TableViewController, public HXMessageListView, public HXMessageListHost {
public:
    explicit VC_Messages(std::shared_ptr<HXMessageListModel> model);
    // A list of a view type (1 to 3) whose model the lists' role makes on first use.
    VC_Messages(std::weak_ptr<HXListLoadingRole> lists, int viewType);
    ~VC_Messages() override;
    std::string className() const override { return "VC_Messages"; }

    // None before the first use of a list made by the role.
    const std::shared_ptr<HXMessageListModel>& model() const { return model_; }
    std::shared_ptr<HXMessageListModel> messageList(HXApplicationWebClient&) override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // One row per conversation of the results controller.
    long numberOfRows(toolkit::TableView& table, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

    // ---- the view of the model
    bool isShownScreen() const override { return shown_; }
    void beginRefreshing(const std::string& title) override;
    void endRefreshing() override;
    void updateLastRefreshDate() override;
    void reloadTable() override;
    void reloadVisibleCells() override;
    void scrollToTopWithAnimation(bool animated) override;
    void controllerDidChangeContent() override;
    std::optional<bool> shownConversationIsRead() const override;
    void showBackButtonCount(uint64_t count) override;

private:
    void attachModel();
    std::weak_ptr<HXListLoadingRole> lists_;
    int viewType_ = 0;
    std::shared_ptr<HXMessageListModel> model_;
    // Read by parses off the main thread.
    std::atomic<bool> shown_{false};
};
