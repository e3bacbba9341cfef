// The conversation screen's set-up, life cycle, observers, title, key command and reply activity.
#include "ui/conversation/vc_conversation.h"
#include "ui/conversation/conversation_screens_shared.h"

#include <algorithm>
#include <cmath>

#include "app/passcode_lock_control.h"
#include "model/account.h"
#include "model/contacts.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/named_images.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/traits.h"
#include "service/conversation_title.h"
#include "ui/conversation/conversation_table_view_cell.h"

namespace {

using foundation::localizedString;

std::shared_ptr<services::UserActivity>& replyActivityStore() { return hxConversationScreensShared().replyActivity; }

}  // namespace

const toolkit::KeyCommand VC_Conversation::kSendCommand{"d", toolkit::kModifierCommand | toolkit::kModifierShift,
                                                        "sendMessageKeystroke", "Send Message"};

VC_Conversation::VC_Conversation(Roles roles, Makers makers, HXConversationSetup setup)
    : HXConversationScreen(std::move(setup)), roles_(std::move(roles)), makers_(std::move(makers)) {
    if (auto r = role())
        if (auto object = r->getConversationWithID(this->setup().conversationID)) conversation_.emplace(object);
    hidesBottomBarWhenPushed = true;
    setActionHandler("sendMessageKeystroke", [this](toolkit::Responder*) { sendMessageKeystroke(); });
    setActionHandler("copyPhoneNumber:", [this](toolkit::Responder*) {
        if (conversation_) toolkit::Pasteboard::general().setString(conversation_->phoneNumber());
    });
    setActionHandler("paste:", [this](toolkit::Responder*) {
        if (toolkit::Pasteboard::general().hasImages()) addImageFromPasteBoard();
    });
}

VC_Conversation::~VC_Conversation() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    stopObservingConversation();
    if (tableView_) {
        tableView_->setDataSource({});
        tableView_->setTableDelegate({});
    }
    resetDateFormatters();
}

const std::shared_ptr<services::UserActivity>& VC_Conversation::replyActivity() const { return replyActivityStore(); }

bool VC_Conversation::signedIn() const {
    auto a = alerts();
    auto account = a ? a->account() : nullptr;
    return account && account->authV2().has_value();
}

bool VC_Conversation::isGroup() const { return conversation_ && conversation_->sender() == "Group Message"; }

void VC_Conversation::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 320, 480});
    setView(root);
}

void VC_Conversation::viewDidLoad() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, foundation::kApplicationSignificantTimeChangeNotification,
                       [](const foundation::Notification&) { resetDateFormatters(); });
    center.addObserver(this, toolkit::kContentSizeCategoryDidChangeNotification,
                       [weak = weakSelf<VC_Conversation>()](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->fontsUpdated();
                       });
    auto root = view();
    if (auto* nav = navigationController(); nav && !nav->viewControllers().empty())
        if (auto first = nav->viewControllers().front(); first && first.get() != this && first->isViewLoaded())
            root->setFrame(first->view()->frame());
    root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    root->setBackgroundColor(graphics::Color::systemGroupedBackground());

    tableView_ = std::make_shared<toolkit::TableView>(root->bounds(), toolkit::TableViewStyle::Plain);
    tableView_->setDataSource(std::shared_ptr<toolkit::TableViewDataSource>(
        shared_from_this(), static_cast<toolkit::TableViewDataSource*>(this)));
    tableView_->setTableDelegate(std::shared_ptr<toolkit::TableViewDelegate>(
        shared_from_this(), static_cast<toolkit::TableViewDelegate*>(this)));
    tableView_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    tableView_->setBackgroundColor(graphics::Color::systemGroupedBackground());
    const toolkit::Size made = root->bounds().size;
    makeContactHeader();
    addFooterView();
    // Placing the table below the bar may lay the stack out, which sizes this view before the
    // table is inside it: the table takes the change as it would have inside it.
    if (const toolkit::Size now = root->bounds().size; !(now == made)) {
        const toolkit::Rect t = tableView_->frame();
        tableView_->setFrame({t.minX(), t.minY(), std::max(0.0, t.width() + now.width - made.width),
                              std::max(0.0, t.height() + now.height - made.height)});
    }
    root->addSubview(tableView_);
    tableView_->registerCell(kConversationCellIdentifier, [] { return std::make_shared<ConversationTableViewCell>(); });
    tableView_->setSeparatorStyle(toolkit::SeparatorStyle::None);
    tableView_->alwaysBounceVertical = false;
    tableView_->setEstimatedRowHeight(0);
    tableView_->contentInsetAdjustmentBehavior = toolkit::ContentInsetAdjustment::Never;
    if (conversationType() == 1 && !isPeeking()) addDoubleTapRecognizer();
    makeAttachmentRows();
    if (conversationType() == 1) root->addInteraction(std::make_shared<toolkit::DropInteraction>(pictureTray()));
    toolkit::MenuController::shared().menuItems = {{"\U0001F4DE", "callViaHX:"}, {"\u2709\uFE0F", "smsViaHX:"}};
    if (conversation_ && roles_.conversation.lock())
        rows_ = role()->messageRows(
            conversation_->conversationID(),
            std::shared_ptr<HXRowsObserver>(shared_from_this(), static_cast<HXRowsObserver*>(this)));
    navigationItem().setBackButtonTitle(std::string());
}

void VC_Conversation::viewWillAppear(bool animated) {
    HXConversationScreen::viewWillAppear(animated);
    // A page asked for by an earlier appearance (or another conversation) moves nothing here.
    resetPagingOffset();
    installRefreshControlIfNeeded();
    if (!isPeeking()) {
        installActionsButton();
        installCallLongPress();
    }
    addFooterView();
    if (voicemail_) voicemail_->resume();
    reloadTable();
    scrollToBottomWithAnimation(false);
    contactHeader_->updateContactInfo();
    if (!isPeeking() && conversation_ && !conversation_->isRead())
        foundation::NotificationCenter::defaultCenter().post(
            "kSMSActiveConversationMessageReceived", std::make_shared<std::string>(conversation_->conversationID()));
    layoutTable();
    if (inputToolbar_) {
        placeReplyBar();
        makeReplyActivityCurrent();
    }
    if (isPeeking()) {
        tableView_->accessibility().elementsHidden = true;
        // The preview is as high as its bubbles, at most the screen's height.
        tableView_->layoutIfNeeded();
        setPreferredContentSize({0, std::min(tableView_->contentSize().height + 8, view()->bounds().height())});
    }
    addObservers();
}

void VC_Conversation::viewDidAppear(bool animated) {
    HXConversationScreen::viewDidAppear(animated);
    if (!isPeeking()) {
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, kFocusSMSReplyFieldNotification,
            [weak = weakSelf<VC_Conversation>()](const foundation::Notification& n) {
                if (auto self = weak.lock()) self->openReply(n);
            });
        updateTitle();
    }
    if (inputToolbar_) {
        // The reply bar covers the bottom: only the top is inset.
        const double top = tableView_->contentInset().top;
        tableView_->setContentInset({top, 0, 0, 0});
        tableView_->scrollIndicatorInsets = {top, 0, 0, 0};
    }
    scrollToBottomWithAnimation(false);
}

void VC_Conversation::viewWillDisappear(bool animated) {
    HXConversationScreen::viewWillDisappear(animated);
    stopPlayback();
    if (attachments_) attachments_->stopAwaitingMedia();
    if (auto* nav = navigationController())
        if (auto* bar = nav->navigationBar().viewWithTag(kProgressBarTag)) bar->removeFromSuperview();
    if (toolkit::MenuController::shared().isMenuVisible()) toolkit::MenuController::shared().hideMenu();
    // The "..." menu goes with the screen, however the screen is left (a key command or an
    // entry point may replace it while the menu shows).
    auto& presented = toolkit::PresentedMenu::shared();
    if (auto item = navigationItem().rightBarButtonItem(); item && presented.isVisible()) {
        auto anchor = presented.anchor();
        if (!anchor || anchor == item->view()) presented.dismiss();
    }
    removeCallLongPress();
}

void VC_Conversation::viewDidDisappear(bool animated) {
    removeObservers();
    // The reply's send and the appearance each added one of these.
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const char* name : {foundation::kApplicationDidEnterBackgroundNotification, kFocusSMSReplyFieldNotification})
        center.removeObserver(this, name);
    HXConversationScreen::viewDidDisappear(animated);
    if (attachments_) attachments_->forgetAskedThumbnails();
    if (inputToolbar_ && inputToolbar_->textView()->isFirstResponder())
        inputToolbar_->textView()->resignFirstResponder();
    resetDateFormatters();
    navigationItem().setTitleView(nullptr);
    if (auto& activity = replyActivityStore()) {
        activity->invalidate();
        activity.reset();
    }
    if (auto routing = roles_.routing.lock(); routing && routing->iPad()) routing->setFirstResponder();
    if (auto store = roles_.store.lock()) store->requestReview();
}

void VC_Conversation::didReceiveMemoryWarning() {
    HXConversationScreen::didReceiveMemoryWarning();
    rowTexts_.clear();
}

void VC_Conversation::fontsUpdated() {
    graphics::HXCFont::clearFontCache();
    didReceiveMemoryWarning();
    reloadTable();
    if (inputToolbar_) {
        if (auto font = graphics::HXCFont::HXCFontForType(5)) inputToolbar_->textView()->setFont(*font);
        remeasureReply();
    }
    if (contactHeader_) contactHeader_->updateFont();
}

void VC_Conversation::addObservers() {
    if (observing_) return;
    observing_ = true;
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto weak = weakSelf<VC_Conversation>();
    // The contacts are read on a background queue, which tells of them from there.
    center.addObserver(this, kContactsCacheUpdatedNotification, [weak](const foundation::Notification&) {
        dispatch::Queue::main()->async([weak] {
            if (auto self = weak.lock(); self && self->contactHeader_) self->contactHeader_->updateContactInfo();
        });
    });
    // The rows follow the row model (messages), the answers of the pages asked for (older pages)
    // and of the thumbnails asked for (their rows): no notification reloads the table.
    if (inputToolbar_) addKeyboardObservers();
    observeConversation();
}

void VC_Conversation::removeObservers() {
    if (!observing_) return;
    observing_ = false;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, kContactsCacheUpdatedNotification);
    center.removeObserver(this, toolkit::kKeyboardWillChangeFrameNotification);
    center.removeObserver(this, toolkit::kKeyboardDidChangeFrameNotification);
    stopObservingConversation();
}

void VC_Conversation::observeConversation() {
    if (!conversation_) return;
    std::vector<std::string> keys{"note", "isSpam", "isTrash", "Messages", "sender", "isArchived", "isSenderBlocked"};
    if (conversationType() == 1) keys.push_back("isRead");
    auto weak = weakSelf<VC_Conversation>();
    for (const auto& key : keys)
        conversationObservers_.push_back(
            conversation_->object()->addObserver(key, [weak](store::ManagedObject&, const std::string& changed) {
                // Store changes may come from another queue: the screen reacts on the main one.
                dispatch::Queue::main()->async([weak, changed] {
                    if (auto self = weak.lock()) self->conversationChanged(changed);
                });
            }));
}

void VC_Conversation::stopObservingConversation() {
    if (conversation_)
        for (auto token : conversationObservers_) conversation_->object()->removeObserver(token);
    conversationObservers_.clear();
}

void VC_Conversation::conversationChanged(const std::string& key) {
    if (!conversation_) return;
    if (key == "isRead") {
        if (!conversation_->isRead() && !isPeeking())
            foundation::NotificationCenter::defaultCenter().post(
                "kSMSActiveConversationMessageReceived",
                std::make_shared<std::string>(conversation_->conversationID()));
    } else if (key == "isTrash") {
        if (conversation_->isTrash())
            if (auto* nav = navigationController(); nav && nav->topViewController() == this)
                nav->popViewController(true);
    } else if (key == "note") {
        std::string shown;
        if (noteView_)
            if (auto* label = dynamic_cast<toolkit::Label*>(noteView_->viewWithTag(1))) shown = label->text();
        noteView_.reset();
        reloadTable();
        if (conversation_->note() != shown) scrollToBottomWithAnimation(true);
    } else if (key == "Messages") {
        // The rows follow the store's changes themselves; the sizes of rows that moved are measured
        // again.
        rowTexts_.clear();
    } else if (key == "sender") {
        if (contactHeader_ && !contactHeader_->addedName().empty()) setTitle(contactHeader_->addedName());
        updateTitle();
        if (contactHeader_) contactHeader_->updateContactInfo();
    }
    if (menuBuilt_ && (key == "isArchived" || key == "isSenderBlocked" || key == "isSpam" || key == "note"))
        if (auto more = navigationItem().rightBarButtonItem()) more->menu = actionsMenu();
}

void VC_Conversation::updateTitle() {
    if (!conversation_) return;
    auto makeTitleButton = [this](std::function<void()> tapped) {
        auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
        button->setTitle(title(), toolkit::kStateNormal);
        const auto font = graphics::Font::boldSystem(17);
        button->titleLabel()->setFont(font);
        button->titleLabel()->setLineBreakMode(graphics::LineBreakMode::truncateTail);
        button->setTintColor(graphics::Color::systemBlue());
        const auto& measurer = toolkit::textMeasurer();
        button->setFrame(
            {0, 0, std::ceil(measurer.lineWidth(title(), font)), std::ceil(measurer.lineHeight(font) + 2)});
        button->setContentEdgeInsets({1, 0, 1, 0});
        button->addAction([tapped = std::move(tapped)](toolkit::Control&, const toolkit::Event*) { tapped(); },
                          toolkit::kTouchUpInside);
        navigationItem().setTitleView(button);
    };
    auto weak = weakSelf<VC_Conversation>();
    if (isGroup()) {
        makeTitleButton([weak] {
            auto self = weak.lock();
            if (!self || !self->makers_.groupDetails || !self->conversation_) return;
            auto details = self->makers_.groupDetails(self->conversation_->phoneNumber());
            if (!details) return;
            // A popover points at the title that was tapped.
            if (details->modalPresentationStyle == toolkit::ModalPresentationStyle::Popover)
                if (auto title = self->navigationItem().titleView) {
                    details->popoverPresentationController()->sourceView = title;
                    details->popoverPresentationController()->sourceRect = title->bounds();
                }
            self->present(details, true);
        });
    } else if (const std::string abName = conversation_->ABName(); !abName.empty()) {
        if (auto r = role()) {
            const std::string id = r->recordIDForNumber(conversation_->formattedNumber());
            auto contact = id.empty() ? foundation::Result<services::Contact>(foundation::Error{})
                                      : services::ContactStore::shared()->unifiedContactWithIdentifier(
                                            id, services::ContactFormatter::descriptorForRequiredKeys());
            const std::string fullName =
                contact.ok() ? services::ContactFormatter::fullName(contact.value()).value_or("") : std::string();
            // The list's label follows a no-break space: only the name is compared, so a labelled
            // name that is still right is left alone.
            if (!fullName.empty() && fullName != HXContactNameWithoutLabel(abName)) {
                setTitle(fullName);
                r->setContactName(conversation_->conversationID(), fullName);
                r->resetContacts();
                r->lookupPhone(conversation_->phoneNumber());
            }
        }
        makeTitleButton([weak] {
            auto self = weak.lock();
            if (self && self->contactHeader_) self->contactHeader_->openContact(self->navigationItem().titleView.get());
        });
    }
    if (title().empty()) navigationItem().setBackButtonTitle(conversation_->formattedNumber());
}

void VC_Conversation::openReply(const foundation::Notification& notification) {
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kFocusSMSReplyFieldNotification);
    if (inputToolbar_ && !inputToolbar_->textView()->isFirstResponder())
        inputToolbar_->textView()->becomeFirstResponder();
    if (const auto& text = notification.userInfo.get("messageText"); text.isString()) setReplyText(text.asString());
}

std::vector<toolkit::KeyCommand> VC_Conversation::keyCommands() const { return {kSendCommand}; }

void VC_Conversation::scrollToMessage(long number) {
    if (!tableView_ || number < 0 || number >= tableView_->numberOfSections()) return;
    if (tableView_->numberOfRows(number) == 0) return;
    keptInView_ = number;
    tableView_->scrollToRow({number, 0}, toolkit::ScrollPosition::Middle, true);
}

void VC_Conversation::scrollViewWillBeginDragging(toolkit::ScrollView& scrollView) {
    (void)scrollView;
    keptInView_ = -1;
}

void VC_Conversation::makeReplyActivityCurrent() {
    auto& activity = replyActivityStore();
    if (!activity) activity = std::make_shared<services::UserActivity>(kActivityType);
    activity->delegate = std::shared_ptr<services::UserActivityDelegate>(
        shared_from_this(), static_cast<services::UserActivityDelegate*>(this));
    activity->becomeCurrent();
}

void VC_Conversation::userActivityWillSave(services::UserActivity& activity) {
    (void)activity;
    dispatch::Queue::main()->async([weak = weakSelf<VC_Conversation>()] {
        auto self = weak.lock();
        if (!self || !self->conversation_) return;
        auto a = self->alerts();
        auto account = a ? a->account() : nullptr;
        const std::string id = self->conversation_->conversationID();
        const std::string text = self->replyText();
        if (text.empty() || id.empty() || !account || account->username().empty()) return;
        if (auto& current = replyActivityStore())
            current->userInfo =
                foundation::Dictionary{{"messageText", text}, {"conversationID", id}, {"account", account->username()}};
    });
}

void VC_Conversation::userActivityWasContinued(services::UserActivity& activity) {
    (void)activity;
    dispatch::Queue::main()->async([weak = weakSelf<VC_Conversation>()] {
        auto self = weak.lock();
        if (!self) return;
        self->setReplyText("");
        if (self->inputToolbar_ && self->inputToolbar_->textView()->isFirstResponder())
            self->inputToolbar_->textView()->resignFirstResponder();
    });
}
