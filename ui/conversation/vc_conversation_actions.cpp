// The screen's actions: the options popover, the navigation bar's actions button and its menu, the
// preview's actions, the call by a long press on the navigation bar, the note editor and the
// table's double tap that opens the reply; the contact header the screen owns (HXContactHeader)
// made with its footer.
#include "platform/foundation/bundle.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/widgets/conversation_action_items.h"

namespace {

using foundation::localizedString;

// The press on the navigation bar that calls, and the bar's end that it calls from.
constexpr double kPressDuration = 0.7;
constexpr double kCallPressWidth = 50;

}  // namespace

void VC_Conversation::makeContactHeader() {
    auto weak = weakSelf<VC_Conversation>();
    contactHeader_ = HXContactHeader::make({.screen = weak,
                                            .conversation = conversation_,
                                            .role = roles_.conversation,
                                            .media = roles_.media,
                                            .conversations = roles_.conversations,
                                            .routing = roles_.routing,
                                            .alerts = roles_.alerts,
                                            .retitle = [weak] {
                                                if (auto self = weak.lock()) self->updateTitle();
                                            }});
}

void VC_Conversation::showActions() {
    auto options = roles_.options.lock();
    if (!options || !conversation_) return;
    const auto safe = view()->safeAreaInsets();
    double x = view()->bounds().width() - 22;
    if (auto item = navigationItem().rightBarButtonItem())
        if (auto* itemView = item->customView.get()) x = itemView->frame().midX();
    options->showOptionsForConversation(conversation_->conversationID(), {x, safe.top}, *view());
}

void VC_Conversation::actionLongPress(toolkit::Point inBar, double barWidth) {
    if (!conversation_ || inBar.x < barWidth - kCallPressWidth) return;
    const std::string number = conversation_->phoneNumber();
    if (number == "Unknown" || number == "Group Message") return;
    if (auto actions = roles_.conversations.lock()) actions->placeCallTo(number);
}

void VC_Conversation::editNote() {
    if (!conversation_) return;
    auto editor = makers_.noteEdit ? makers_.noteEdit(conversation_->conversationID()) : nullptr;
    if (!editor) return;
    auto nav = std::make_shared<toolkit::NavigationController>(editor);
    nav->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    if (auto* popover = nav->popoverPresentationController()) {
        popover->sourceView = view();
        popover->permittedArrowDirections = toolkit::kArrowRight;
        if (tableView_) {
            // The footer's rectangle is in the table's own (scrolled) coordinates: the table is
            // the anchor's view, so the arrow points below the last message wherever it scrolled.
            const long last = tableView_->numberOfSections() - 1;
            popover->sourceView = tableView_;
            popover->sourceRect = last >= 0 ? tableView_->rectForFooter(last) : toolkit::Rect{};
            popover->passthroughViews = {tableView_};
        }
    }
    auto* host = navigationController() ? static_cast<toolkit::ViewController*>(navigationController()) : this;
    host->present(nav, true);
}

// ---- the navigation bar's actions and the preview's

void VC_Conversation::installActionsButton() {
    if (isPeeking() || navigationItem().rightBarButtonItem()) return;
    auto weak = weakSelf<VC_Conversation>();
    const int system = toolkit::Device::current().systemVersion();
    toolkit::BarButtonItemPtr more;
    if (system >= 14) {
        more = toolkit::BarButtonItem::withImage(graphics::systemImageNamed("ellipsis"));
        more->menu = actionsMenu();
        menuBuilt_ = true;
    } else {
        auto image = system >= 13 ? graphics::systemImageNamed("ellipsis") : graphics::imageNamed("More");
        more = toolkit::BarButtonItem::withImage(image, toolkit::BarButtonStyle::Done, [weak](toolkit::BarButtonItem&) {
            if (auto self = weak.lock()) self->showActions();
        });
        if (system < 13) more->landscapeImage = graphics::imageScaledToFitSize(image, {17, 17});
    }
    more->accessibilityLabel = localizedString("Conversation actions");
    navigationItem().setRightBarButtonItem(more);
}

HXConversationActionSource VC_Conversation::actionSource(bool menu) const {
    const std::weak_ptr<HXConversationOperationsRole> weakList = roles_.conversationOperations;
    const std::string id = conversation_ ? conversation_->conversationID() : std::string();
    const std::string number = conversation_ ? conversation_->phoneNumber() : std::string();
    auto conversations = roles_.conversations;
    auto weakRole = roles_.conversation;
    return {.title =
                [weakList](int code) {
                    return weakList.lock() ? weakList.lock()->titleForConversationAction(code) : std::nullopt;
                },
            .image =
                [weakList](int code) {
                    return weakList.lock() ? weakList.lock()->imageForConversationAction(code) : std::nullopt;
                },
            .action = [=](int code) -> std::function<void()> {
                // The read status only follows the archive code of a preview.
                if (code == 5 || code == 6) return {};
                // The menu alone deletes the note and moves the conversation to or from the spam
                // (and edits the note, which the screen's menu adds).
                if (menu && code == 8)
                    return [weakRole, id] {
                        if (auto c = weakRole.lock()) c->setNote(std::nullopt, id);
                    };
                if (menu && (code == 12 || code == 13))
                    return [weakList, id] {
                        if (auto l = weakList.lock()) l->changeSpamStatusForConversationWithID(id);
                    };
                return hxCommonConversationAction(code, weakList, conversations, id, number);
            }};
}

toolkit::MenuPtr VC_Conversation::actionsMenu() {
    auto list = roles_.conversationOperations.lock();
    if (!list || !conversation_) return nullptr;
    auto source = actionSource(true);
    source.action = [base = source.action, weak = weakSelf<VC_Conversation>()](int code) -> std::function<void()> {
        if (code != 7) return base(code);
        return [weak] {
            if (auto self = weak.lock()) self->editNote();
        };
    };
    return hxConversationActionsMenu(
        hxConversationActionItems(list->messageOptionsForConversation(conversation_->object()), source),
        toolkit::Device::current().systemVersion());
}

std::vector<toolkit::PreviewAction> VC_Conversation::previewActionItems() const {
    auto list = roles_.conversationOperations.lock();
    if (!list || !conversation_) return {};
    std::optional<HXReadToggle> toggle;
    if (conversationType() != 3) {
        const int code = conversation_->isRead() ? 6 : 5;
        toggle = HXReadToggle{code, hxCommonConversationAction(code, list, roles_.conversations,
                                                               conversation_->conversationID(),
                                                               conversation_->phoneNumber())};
    }
    std::vector<toolkit::PreviewAction> out;
    // The preview is gone by the time a handler runs (the platform dismisses it first).
    for (auto& item : hxConversationActionItems(list->messageOptionsForConversation(conversation_->object()),
                                                actionSource(false), toggle))
        out.push_back(
            {item.title,
             item.destructive() ? toolkit::PreviewActionStyle::Destructive : toolkit::PreviewActionStyle::Default,
             [run = item.run](const toolkit::PreviewAction&, toolkit::ViewController&) { run(); }});
    return out;
}

void VC_Conversation::installCallLongPress() {
    auto* nav = navigationController();
    if (!nav || callPress_ || !conversation_) return;
    const std::string number = conversation_->phoneNumber();
    if (number == "Unknown" || number == "Group Message") return;
    callPress_ = std::make_shared<toolkit::LongPressGestureRecognizer>(
        [weak = weakSelf<VC_Conversation>()](toolkit::GestureRecognizer& press) {
            auto self = weak.lock();
            if (!self || press.state() != toolkit::GestureState::Began || !press.view()) return;
            self->actionLongPress(press.locationInView(press.view()), press.view()->bounds().width());
        });
    callPress_->minimumPressDuration = kPressDuration;
    nav->navigationBar().addGestureRecognizer(callPress_);
}

void VC_Conversation::removeCallLongPress() {
    if (!callPress_) return;
    // The bar is the stack's: the press leaves with the screen, so it calls nobody from the others.
    if (auto* bar = callPress_->view()) bar->removeGestureRecognizer(callPress_.get());
    callPress_.reset();
}

// ---- the table's double tap

void VC_Conversation::addDoubleTapRecognizer() {
    if (doubleTap_ || !tableView_ || title() == "Unknown") return;
    doubleTap_ = std::make_shared<toolkit::TapGestureRecognizer>(
        [weak = weakSelf<VC_Conversation>()](toolkit::GestureRecognizer& tap) {
            if (auto self = weak.lock()) self->handleDoubleTap(tap);
        });
    doubleTap_->numberOfTapsRequired = 2;
    tableView_->addGestureRecognizer(doubleTap_);
}

void VC_Conversation::handleDoubleTap(toolkit::GestureRecognizer& recognizer) {
    if (recognizer.state() != toolkit::GestureState::Ended) return;
    openReply(foundation::Notification{});
}
