// The common controller of the message list screens (the SMS, voicemail and history lists derive
// from it): a table of the list's conversations, newest first, from its model's results
// controller, and the pull-to-refresh control. The model (HXMessageListModel, made by the lists'
// role) holds the list's state, requests and parse; this controller is its view, attached once
// its view has loaded, and the shell finds the list through it as the root of a view.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "app/roles/message_list_host.h"
#include "platform/foundation/value.h"
#include "platform/toolkit/table_view_controller.h"
#include "service/message_list_view.h"

class HXMessageListModel;

class VC_Messages : public toolkit::TableViewController, public HXMessageListView, public HXMessageListHost {
public:
    explicit VC_Messages(std::shared_ptr<HXMessageListModel> model);
    ~VC_Messages() override;
    std::string className() const override { return "VC_Messages"; }

    const std::shared_ptr<HXMessageListModel>& model() const { return model_; }
    std::shared_ptr<HXMessageListModel> messageList(HXApplicationWebClient&) override { return model_; }

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
    std::shared_ptr<HXMessageListModel> model_;
    // Read by parses off the main thread.
    std::atomic<bool> shown_{false};
};
