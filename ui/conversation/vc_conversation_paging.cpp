// Older pages and deleting one message. A pull on the table asks for the next older page; when it
// is in, the bubbles that were in view stay where they were and the older ones lie above them. A
// swipe on a bubble deletes its whole message on the service; the store removes it once the
// service confirms, and the table follows.
#include <cmath>

#include "model/account.h"
#include "platform/foundation/bundle.h"
#include "platform/graphics/color.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/text_metrics.h"
#include "ui/conversation/vc_conversation.h"

namespace {

// The swipe's red circle with the trash can, as a pattern as wide as the table and a row high.
graphics::ImagePtr deleteActionPattern(double tableWidth, double H) {
    const auto font = graphics::Font::system(17);
    const double w = std::ceil(std::min(100.0, toolkit::textMeasurer().lineWidth("      ", font)));
    graphics::beginImageContext({tableWidth, H}, false, 0);
    graphics::ImagePtr pattern;
    if (auto* c = graphics::currentContext()) {
        c->setFillColor(graphics::Color::red());
        c->setShadow({2, 2}, 5, graphics::Color::lightGray().withAlphaComponent(0.5));
        const double D = std::min(H - 4, w + 20);
        c->fillEllipse({17, (H - D) / 2, D, D});
        c->setShadow({0, 0}, 0, std::nullopt);
        if (auto trash =
                graphics::imageTintedWithColor(graphics::imageNamed("ra_Trash"), graphics::Color::whiteColor()))
            c->drawImage(*trash,
                         graphics::Point{D / 2 + ((w + 44) / 2 - trash->width()) / 2, (H - trash->height()) / 2});
        pattern = graphics::imageFromCurrentImageContext();
    }
    graphics::endImageContext();
    return pattern;
}

}  // namespace

void VC_Conversation::installRefreshControlIfNeeded() {
    if (refreshControl_ || !conversation_ || !tableView_) return;
    if (conversation_->paginationToken().empty()) return;
    refreshControl_ = std::make_shared<toolkit::RefreshControl>();
    refreshControl_->addAction(
        [weak = weakSelf<VC_Conversation>()](toolkit::Control&, const toolkit::Event*) {
            if (auto self = weak.lock()) self->getOlderMessages();
        },
        toolkit::kValueChanged);
    tableView_->setRefreshControl(refreshControl_);
}

void VC_Conversation::getOlderMessages() {
    if (!conversation_ || !tableView_) return;
    savedPagingOffset_ = tableView_->contentSize().height + tableView_->contentInset().top;
    if (auto pages = roles_.pages.lock())
        pages->loadOlder(conversation_->conversationID(), conversation_->paginationToken(),
                         [weak = weakSelf<VC_Conversation>()](const HXPageAnswer& answer) {
                             if (auto self = weak.lock()) self->olderMessageReceived(answer);
                         });
}

void VC_Conversation::olderMessageReceived(const HXPageAnswer& answer) {
    if (refreshControl_ && refreshControl_->isRefreshing()) refreshControl_->endRefreshing();
    const bool more = answer.parsed ? answer.more : conversation_ && !conversation_->paginationToken().empty();
    if (!more && refreshControl_ && tableView_) {
        tableView_->setRefreshControl(nullptr);
        refreshControl_.reset();
    }
    restorePagingOffset();
}

void VC_Conversation::restorePagingOffset() {
    if (savedPagingOffset_ <= 0 || !tableView_) return;
    tableView_->layoutIfNeeded();
    tableView_->setContentOffset({0, tableView_->contentSize().height - savedPagingOffset_}, false);
}

bool VC_Conversation::canEditRow(toolkit::TableView&, toolkit::IndexPath) {
    return signedIn() && rows_ && rows_->count() > 1;
}

void VC_Conversation::willBeginEditingRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    auto cell = table.cellForRow(indexPath);
    auto* superview = cell ? cell->superview() : nullptr;
    if (!superview) return;
    for (const auto& sibling : superview->subviews())
        if (sibling.get() != cell.get()) sibling->setBackgroundColor(view()->backgroundColor());
}

std::optional<std::vector<toolkit::TableViewRowActionPtr>>
VC_Conversation::editActionsForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    // The action deletes the message its row showed when it was swiped, whatever the row
    // shows by the time the action is chosen.
    auto shown = messageAt(indexPath.section);
    auto action = toolkit::TableViewRowAction::make(
        toolkit::RowActionStyle::Default, "       ",
        [weak = weakSelf<VC_Conversation>(),
         id = shown ? shown->messageID() : std::string()](toolkit::TableViewRowAction&, toolkit::IndexPath path) {
            auto self = weak.lock();
            if (!self) return;
            auto now = self->messageAt(path.section);
            if (!id.empty() && (!now || now->messageID() != id)) return self->deleteMessageWithID(id);
            self->deleteMessageAt(path);
        });
    action->accessibilityLabel = foundation::localizedString("Delete");
    const double H = heightForRow(table, indexPath).value_or(44);
    if (auto pattern = deleteActionPattern(table.bounds().width(), H))
        action->backgroundColor = graphics::Color::pattern(pattern);
    return std::vector<toolkit::TableViewRowActionPtr>{action};
}

void VC_Conversation::deleteMessageWithID(const std::string& messageID) {
    if (conversation_ && !messageID.empty())
        if (auto r = role()) r->deleteMessage(conversation_->conversationID(), messageID);
    if (tableView_) tableView_->setEditing(false, true);
}

void VC_Conversation::deleteMessageAt(toolkit::IndexPath indexPath) {
    auto message = messageAt(indexPath.section);
    if (message && conversation_)
        if (auto r = role()) r->deleteMessage(conversation_->conversationID(), message->messageID());
    if (tableView_) tableView_->setEditing(false, true);
}
