#include "ui/messages/vc_messages.h"

#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/format.h"
#include "platform/store/fetched_results_controller.h"
#include "platform/store/managed_object.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/table_view.h"
#include "service/message_list_model.h"

VC_Messages::VC_Messages(std::weak_ptr<HXApplicationWebClient> app, foundation::Dictionary viewSettings)
    : model_(std::make_shared<HXMessageListModel>(std::move(app), std::move(viewSettings))) {}

VC_Messages::~VC_Messages() = default;

void VC_Messages::viewDidLoad() {
    toolkit::TableViewController::viewDidLoad();
    setRefreshControl(std::make_shared<toolkit::RefreshControl>());
    // From now on the model shows its list here; its results controller is made on first use.
    std::shared_ptr<HXMessageListView> view = std::dynamic_pointer_cast<VC_Messages>(selfPtr());
    model_->setView(view);
    (void)model_->fetchedResultsController();
}

void VC_Messages::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    shown_ = true;
    model_->selectStoredRow();
}

void VC_Messages::viewDidDisappear(bool animated) {
    toolkit::TableViewController::viewDidDisappear(animated);
    shown_ = false;
}

long VC_Messages::numberOfRows(toolkit::TableView&, long) {
    auto controller = model_->fetchedResultsController();
    return controller ? static_cast<long>(controller->fetchedObjects().size()) : 0;
}

toolkit::TableViewCellPtr VC_Messages::cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    static const std::string kIdentifier = "Conversation";
    auto cell = table.dequeueReusableCell(kIdentifier);
    if (!cell) cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, kIdentifier);
    std::string name;
    if (auto controller = model_->fetchedResultsController()) {
        const auto& conversations = controller->fetchedObjects();
        if (indexPath.row >= 0 && static_cast<size_t>(indexPath.row) < conversations.size()) {
            const auto& conversation = conversations[static_cast<size_t>(indexPath.row)];
            name = conversation->value("ABName").stringValue();
            if (name.empty()) name = conversation->value("sender").stringValue();
        }
    }
    cell->textLabel().setText(std::move(name));
    return cell;
}

void VC_Messages::beginRefreshing(const std::string& title) {
    if (!refreshControl()) return;
    refreshControl()->attributedTitle = title;
    refreshControl()->beginRefreshing();
}

void VC_Messages::endRefreshing() {
    if (refreshControl()) refreshControl()->endRefreshing();
}

void VC_Messages::updateLastRefreshDate() {
    auto last = model_->lastUpdate();
    if (!last || !refreshControl()) return;
    foundation::DateFormatter formatter;
    formatter.setDateStyle(foundation::DateFormatter::Style::Short);
    formatter.setTimeStyle(foundation::DateFormatter::Style::Short);
    refreshControl()->attributedTitle =
        foundation::format(foundation::localizedString("Last Updated: %@"), formatter.string(foundation::Date{*last}));
}

void VC_Messages::reloadTable() {
    if (isViewLoaded()) tableView()->reloadData();
}

void VC_Messages::reloadVisibleCells() {
    if (!isViewLoaded()) return;
    auto table = tableView();
    const auto selected = table->indexPathForSelectedRow();
    table->reloadData();
    if (selected && selected->row < table->numberOfRows(selected->section)) table->selectRow(selected, false);
}

void VC_Messages::scrollToTopWithAnimation(bool animated) {
    if (!isViewLoaded()) return;
    auto table = tableView();
    if (table->numberOfRows(0) > 0)
        table->scrollToRow(toolkit::IndexPath{0, 0}, toolkit::ScrollPosition::Top, animated);
}

void VC_Messages::controllerDidChangeContent() { reloadTable(); }

std::optional<bool> VC_Messages::shownConversationIsRead() const {
    // No conversation screen is shown over a list yet.
    return std::nullopt;
}

void VC_Messages::showBackButtonCount(uint64_t count) {
    navigationItem().backButtonTitle = count >= 1 && count <= 50 ? std::to_string(count) : title();
}
