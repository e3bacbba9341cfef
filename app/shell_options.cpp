// The application object's small services for the screens: the options popover of a conversation
// and the choice made in it; the store role's rating request and store page.
#include <algorithm>
#include <utility>

#include "app/connect_app_delegate.h"
#include "app/review_request.h"
#include "app/shell_roles.h"
#include "app/views.h"
#include "model/account.h"
#include "model/phone.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/store/managed_object.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/window.h"
#include "service/calls.h"
#include "service/conversation_operations.h"

namespace {

constexpr const char* kOptionsDismissed = "kConversationOptionsPopupDismissedNotification";

std::string stringOf(const foundation::Value& v) { return v.isString() ? v.asString() : std::string(); }

// Which state an action code expects the conversation to be in when it is carried out: "Archive"
// an inbox conversation, "Mark as read" an unread one, and so on. A code chosen from a popover
// that a refresh has overtaken finds its aim reached already and does nothing, rather than
// flipping the conversation back.
bool stillApplies(int code, const store::ManagedObject& c) {
    switch (code) {
        case 3:
            return !c.value("isArchived").boolValue();
        case 4:
            return c.value("isArchived").boolValue();
        case 5:
            return !c.value("isRead").boolValue();
        case 6:
            return c.value("isRead").boolValue();
        case 12:
            return c.value("isSpam").boolValue();
        case 13:
            return !c.value("isSpam").boolValue();
        default:
            return true;
    }
}

}  // namespace

void HX_ConnectAppDelegate::showOptionsForConversation(const std::string& conversationID, graphics::Point point,
                                                       toolkit::View& view) {
    auto self = weakSelf().lock();
    if (!self) return;
    const auto operations = HXConversationOperations::of(self);
    const std::vector<int> codes = operations->messageOptionsForConversationWithID(conversationID);
    if (codes.empty()) return;
    std::vector<std::string> titles;
    std::vector<int> shown;
    for (int code : codes)
        if (auto title = operations->titleForConversationAction(code)) {
            titles.push_back(*title);
            shown.push_back(code);
        }
    if (titles.empty()) return;
    // One options popover at a time: an earlier one goes first, so that its choices cannot reach
    // the codes of this one.
    if (auto earlier = std::exchange(optionsPopover_, nullptr)) earlier->dismiss(false);
    auto popover = screens().showPopover(point, view, titles, std::weak_ptr<HXOptionsPopoverDelegate>(self));
    if (!popover) return;
    optionsConversationID_ = conversationID;
    optionsCodes_ = std::move(shown);
    optionsPopover_ = std::move(popover);
}

void HX_ConnectAppDelegate::popoverViewDidSelectItemAtIndex(HXOptionsPopover& popover, long index) {
    foundation::NotificationCenter::defaultCenter().post(kOptionsDismissed);
    const bool current = &popover == optionsPopover_.get();
    popover.dismiss(true);
    if (!current || !optionsConversationID_) return;
    // The index counts the titles the popover shows, so it maps to the codes shown with them: the
    // conversation may have changed since (a refresh, a sign-out) and would now offer others.
    const std::string id = *optionsConversationID_;
    if (index >= 0 && index < static_cast<long>(optionsCodes_.size()))
        performConversationAction(optionsCodes_[static_cast<size_t>(index)], id);
    optionsConversationID_.reset();
}

void HX_ConnectAppDelegate::popoverViewLongPressForItemAtIndex(HXOptionsPopover& popover, long index) {
    const bool current = &popover == optionsPopover_.get();
    if (!current || !optionsConversationID_) {
        foundation::NotificationCenter::defaultCenter().post(kOptionsDismissed);
        popover.dismiss(true);
        return;
    }
    if (index >= 0 && index < static_cast<long>(optionsCodes_.size()) &&
        optionsCodes_[static_cast<size_t>(index)] == 1) {
        foundation::NotificationCenter::defaultCenter().post(kOptionsDismissed);
        popover.dismiss(true);
        // The conversation stays the options conversation: the chosen callback phone calls it.
        offerCallbackChoice();
        return;
    }
    popoverViewDidSelectItemAtIndex(popover, index);
}

void HX_ConnectAppDelegate::popoverViewDidDismiss(HXOptionsPopover& popover) {
    if (&popover == optionsPopover_.get()) optionsPopover_.reset();
}

void HX_ConnectAppDelegate::offerCallbackChoice() {
    auto a = account();
    auto self = weakSelf().lock();
    if (!a || !self) return;
    auto calls = HXCalls::of(self);
    HXAlert sheet{calls->forwardingNumberControllerTitle(), {}, {}};
    sheet.actionSheet = true;
    std::weak_ptr<HX_ConnectAppDelegate> weak = self;
    for (const auto& method : a->callMethods()) {
        const int64_t phoneID = method->phoneId();
        const auto style =
            phoneID == a->forwardingPhoneID() ? HXAlertAction::Style::Destructive : HXAlertAction::Style::Default;
        sheet.actions.push_back({method->name(), style, [weak, phoneID] {
                                     auto app = weak.lock();
                                     if (!app) return;
                                     HXCalls::of(app)->isNewForwardingPhoneID(phoneID);
                                     if (!app->optionsConversationID_) return;
                                     if (auto c = app->getConversationWithID(*app->optionsConversationID_))
                                         app->placeCallTo(stringOf(c->value("phoneNumber")));
                                 }});
    }
    presentAlert(sheet);
}

void HX_ConnectAppDelegate::performConversationAction(int code, const std::string& id) {
    auto conversation = getConversationWithID(id);
    if (conversation && !stillApplies(code, *conversation)) return;
    auto self = weakSelf().lock();
    if (!self) return;
    auto& operations = *HXConversationOperations::of(self);
    switch (code) {
        case 0:
            operations.deleteConversationWithID(id);
            break;
        case 1:
            if (conversation) placeCallTo(stringOf(conversation->value("phoneNumber")));
            break;
        case 2:
            if (conversation) newMessageToNumber(stringOf(conversation->value("phoneNumber")), "", "");
            break;
        case 3:
        case 4:
            operations.changeArchiveStateForConversationWithID(id);
            break;
        case 5:
        case 6:
            operations.changeReadStatusForConversationWithID(id);
            break;
        case 7: {
            // Only over the conversation screen, from its right bar button.
            auto root = viewControllerForIndex(currentViewIndex());
            auto* nav = root ? root->navigationController() : nullptr;
            auto* screen = nav ? nav->visibleViewController() : nullptr;
            if (!conversation || !screen || screen->className() != "VC_Conversation") break;
            dismissPopoverAnimated(false);
            auto editor = screens().makeNoteEditScreen(screenRoles(), id);
            if (!editor) editor = std::make_shared<HXPlaceholderScreen>("VC_NoteEdit");
            auto wrapper = std::make_shared<toolkit::NavigationController>(editor);
            wrapper->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
            if (auto* presentation = wrapper->popoverPresentationController()) {
                presentation->barButtonItem = screen->navigationItem().rightBarButtonItem();
                presentation->permittedArrowDirections = toolkit::kArrowUp;
            }
            screen->present(wrapper, true);
            break;
        }
        case 8:
            setNote(std::nullopt, id);
            break;
        case 9:
            operations.createEmailForConversationWithID(id);
            break;
        case 10:
            operations.blockContact(true, id);
            break;
        case 11:
            operations.blockContact(false, id);
            break;
        case 12:
        case 13:
            operations.changeSpamStatusForConversationWithID(id);
            break;
        default:
            break;
    }
}

// ---- the store (the store role, app/shell_roles.h)

void HXAppStoreRole::requestReview() { (void)HXReviewRequest::requestReview(); }

void HXAppStoreRole::openAppWithID(int64_t itemID, const std::string& tag) {
    (void)tag;
    // The page's answer and its delegate share the application object's lifetime, which owns this
    // role; one that no shared pointer owns opens nothing.
    auto owner = app_.weakWebClient().lock();
    if (!owner) return;
    auto self = std::shared_ptr<HXAppStoreRole>(owner, this);
    auto page = std::make_shared<system_screens::StoreProductViewController>();
    page->delegate = std::weak_ptr<system_screens::StoreProductViewControllerDelegate>(self);
    app_.showLoadingOverlay(foundation::localizedString("Connecting to the AppStore…"));
    std::weak_ptr<HXAppStoreRole> weak = self;
    std::weak_ptr<system_screens::StoreProductViewController> weakPage = page;
    productPage_ = page;
    page->loadProduct({itemID, HX_ConnectAppDelegate::kStoreAffiliateToken},
                      [weak, weakPage](bool loaded, const std::optional<foundation::Error>&) {
                          auto store = weak.lock();
                          auto page = weakPage.lock();
                          // A page asked for again since is the one whose answer counts.
                          if (!store || !page || page != store->productPage_) return;
                          store->app_.removeLoadingOverlay();
                          auto root = store->app_.window() ? store->app_.window()->rootViewController() : nullptr;
                          if (loaded && root)
                              root->present(page, true);
                          else
                              store->productPage_.reset();
                      });
}

void HXAppStoreRole::productViewControllerDidFinish(system_screens::StoreProductViewController& controller) {
    if (auto* presenter = controller.presentingViewController()) presenter->dismiss(true);
    if (productPage_.get() == &controller) productPage_.reset();
}
