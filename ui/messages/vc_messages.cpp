#include "ui/messages/vc_messages.h"

#include <algorithm>
#include <cmath>

#include "app/passcode_lock_control.h"
#include "app/screens.h"
#include "model/contacts.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/foundation/uuid.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/named_images.h"
#include "platform/graphics/text_layout.h"
#include "platform/store/context.h"
#include "platform/store/fetched_results_controller.h"
#include "platform/store/managed_object.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/traits.h"
#include "service/conversation_title.h"
#include "service/message_list_model.h"
#include "service/reachability.h"
#include "ui/messages/back_button_badge.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/widgets/conversation_action_items.h"
#include "ui/widgets/table_row_changes.h"

using foundation::Value;
using toolkit::IndexPath;

namespace {

using Model = HXMessageListModel;

constexpr const char* kPlainCell = "PlainCell";
constexpr const char* kMessageCell = "MessageTableCell";
constexpr const char* kHistoryCell = "HistoryTableCell";
// Type groups over 1 << type.
constexpr int64_t kCallsMask = 242067;
constexpr int64_t kFullHistoryMask = 245143;

bool isMaskMember(int64_t mask, int64_t type) { return type >= 0 && type < 63 && (mask & (int64_t{1} << type)) != 0; }

std::string text(const char* english) { return foundation::localizedString(english); }

}  // namespace

// ---- the pure rules

int VC_Messages::conversationTypeFor(int64_t typeMask, int64_t viewType, int64_t conversationType) {
    if (typeMask != kFullHistoryMask) return static_cast<int>(viewType);
    if (conversationType == 10 || conversationType == 11) return 1;
    if (conversationType == 2) return 2;
    return 3;
}

std::string VC_Messages::dateText(foundation::Date lastdate, foundation::Date now, const std::string& timeZone) {
    // Formatters are made once per zone and reused for every row (main thread).
    struct Formatters {
        std::string zone;
        std::string locale;
        foundation::DateFormatter time, date, weekday;
    };
    static Formatters* cached = nullptr;
    const std::string locale = foundation::currentLocaleIdentifier();
    if (!cached || cached->zone != timeZone || cached->locale != locale) {
        delete cached;
        cached = new Formatters{timeZone, locale, {}, {}, {}};
        for (auto* f : {&cached->time, &cached->date, &cached->weekday}) f->setTimeZone(timeZone);
        cached->time.setTimeStyle(foundation::DateFormatter::Style::Short);
        cached->date.setDateStyle(foundation::DateFormatter::Style::Short);
        cached->weekday.setDateFormat("EEEE");
    }
    // Days are calendar days: a day of a daylight-saving change is 23 or 25 hours long, so the
    // day before midnight does not begin 86,400 s before it.
    const foundation::Date today = foundation::startOfDay(now, timeZone);
    if (lastdate.secondsSince1970 >= today.secondsSince1970) return cached->time.string(lastdate);
    auto dayBefore = [&](foundation::Date start) {
        return foundation::startOfDay(foundation::Date{start.secondsSince1970 - 1}, timeZone);
    };
    foundation::Date start = dayBefore(today);
    if (lastdate.secondsSince1970 >= start.secondsSince1970) return text("Yesterday");
    for (int i = 2; i <= 6; ++i) start = dayBefore(start);
    if (lastdate.secondsSince1970 >= start.secondsSince1970) return cached->weekday.string(lastdate);
    return cached->date.string(lastdate);
}

// ---- making

VC_Messages::VC_Messages(std::shared_ptr<HXMessageListModel> model) : model_(std::move(model)) {
    if (model_) viewType_ = static_cast<int>(model_->viewType());
}

VC_Messages::VC_Messages(Roles roles, Makers makers, int viewType)
    : roles_(std::move(roles)), makers_(std::move(makers)), viewType_(viewType) {}

VC_Messages::~VC_Messages() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

std::shared_ptr<HXMessageListModel> VC_Messages::messageList() {
    if (!model_) {
        auto lists = roles_.lists.lock();
        if (!lists) return nullptr;
        model_ = lists->makeMessageList(viewType_);
        if (isViewLoaded()) attachModel();
    }
    return model_;
}

void VC_Messages::attachModel() {
    if (!model_) return;
    // From now on the model shows its list here and follows its rows.
    std::shared_ptr<HXMessageListView> view = std::dynamic_pointer_cast<VC_Messages>(selfPtr());
    model_->setView(view);
    (void)model_->followRows();
    // A model made while the list is on screen starts as one that appeared with it.
    if (shown_) model_->selectStoredRow();
    reloadTable();
    if (navBarMenu_) navBarMenu_->reloadAllComponents();
}

int VC_Messages::viewType() const { return viewType_; }

bool VC_Messages::iPad() const {
    auto routing = roles_.routing.lock();
    return routing ? routing->iPad() : toolkit::Device::current().isPad();
}

void VC_Messages::observe(const std::string& name,
                          std::function<void(VC_Messages&, const foundation::Notification&)> handler) {
    // Handlers run on the main queue whatever thread posts, and only while the list lives.
    auto weak = weakSelf<VC_Messages>();
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, name, [weak, handler = std::move(handler)](const foundation::Notification& n) {
            auto run = [weak, handler, n] {
                if (auto self = weak.lock()) handler(*self, n);
            };
            if (dispatch::isMainThread())
                run();
            else
                dispatch::Queue::main()->async(run);
        });
}

// ---- the screen

void VC_Messages::viewDidLoad() {
    toolkit::TableViewController::viewDidLoad();
    const int os = toolkit::Device::current().systemVersion();
    auto table = tableView();
    auto self = std::dynamic_pointer_cast<VC_Messages>(selfPtr());

    // Observers of the set-up.
    observeLogout();
    observe(foundation::kCurrentLocaleDidChangeNotification,
            [](VC_Messages& list, const foundation::Notification&) { list.reloadTable(); });
    observe(foundation::kApplicationDidEnterBackgroundNotification,
            [](VC_Messages& list, const foundation::Notification&) {
                if (list.navBarMenu_) list.navBarMenu_->closeAllComponentsAnimated(false);
                list.todayStart_.reset();
                if (!list.model_) return;
                list.model_->resetLoadState();
                if (list.shown_) {
                    // The shown list reloads when the app is back in front, behind the passcode
                    // pad when there is one: only once it is dismissed.
                    auto actions = list.roles_.listActions.lock();
                    const char* back = actions && actions->passcodeRequired()
                                           ? kPasscodeLockDismissedNotification
                                           : foundation::kApplicationWillEnterForegroundNotification;
                    std::weak_ptr<HXMessageListModel> weakModel = list.model_;
                    foundation::NotificationCenter::defaultCenter().addObserver(
                        list.model_.get(), back, [weakModel](const foundation::Notification&) {
                            if (auto m = weakModel.lock()) m->autoReloadMessages();
                        });
                } else {
                    list.model_->dropFetchedController();
                }
            });
    observe("kConversationPropertiesChangeNotification", [](VC_Messages& list, const foundation::Notification&) {
        if (list.model_) list.model_->filterTable(Model::FilterSender::Other);
    });
    observe(toolkit::kContentSizeCategoryDidChangeNotification,
            [](VC_Messages& list, const foundation::Notification&) { list.resetRowHeight(); });
    observe(foundation::kApplicationDidReceiveMemoryWarningNotification,
            [](VC_Messages& list, const foundation::Notification&) { list.resetRowHeight(); });

    // The search bar.
    searchBar_ = std::make_shared<toolkit::SearchBar>();
    searchBar_->setSelectedScopeButtonIndex(0);
    searchBar_->setBarTintColor(toolkit::Color::groupTableViewBackground());
    searchBar_->delegate = self;
    searchBar_->sizeToFit();
    table->setTableHeaderView(searchBar_);
    table->setBackgroundColor(toolkit::Color::groupTableViewBackground());
    if (os >= 13)
        table->setBackgroundView(std::make_shared<toolkit::VisualEffectView>(toolkit::BlurEffectStyle::Prominent));

    // The list-type dropdown as the title.
    navBarMenu_ = HXCDropdownMenu::make(toolkit::Rect(0, 0, 140, 32));
    navBarMenu_->delegate = self;
    navBarMenu_->setBackgroundDimmingOpacity(0.67);
    navBarMenu_->setRowTextAlignment(toolkit::TextAlignment::center);
    navBarMenu_->useFullScreenWidth = true;
    setDropdownInsets();
    navBarMenu_->setDropdownBouncesScroll(false);
    auto indicator = os >= 13 ? graphics::systemImageNamed("chevron.down") : graphics::imageNamed("menu_disclosure");
    if (indicator) indicator = indicator->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
    navBarMenu_->setDisclosureIndicatorImage(indicator);
    navBarMenu_->setDataSource(self);
    navigationItem().titleView = navBarMenu_;
    if (os >= 14) navigationItem().backButtonDisplayMode = toolkit::BackButtonDisplayMode::Minimal;

    // The refresh control.
    auto refresh = std::make_shared<toolkit::RefreshControl>();
    refresh->attributedTitle = text("Pull down to Refresh…");
    std::weak_ptr<VC_Messages> weak = self;
    refresh->addAction(
        [weak](toolkit::Control&, const toolkit::Event*) {
            // The control is neither the list nor its more row: a refresh from the first page.
            if (auto list = weak.lock(); list && list->model_) list->model_->loadMessages(Model::Sender::None);
        },
        toolkit::kValueChanged);
    setRefreshControl(refresh);
    clearsSelectionOnViewWillAppear = false;

    if (auto* nav = navigationController())
        nav->navigationBar().setBarTintColor(toolkit::Color::groupTableViewBackground());
    table->setSeparatorColor(toolkit::Color::systemBlue().withAlphaComponent(0.2));
    table->setSeparatorInset(toolkit::EdgeInsets{0, 6, 0, 0});
    // The star of a row toggles it.
    auto withStar = [weak](std::shared_ptr<MessageListTableViewCell> cell) {
        std::weak_ptr<MessageListTableViewCell> weakCell = cell;
        cell->starButton().addAction(
            [weak, weakCell](toolkit::Control&, const toolkit::Event*) {
                auto list = weak.lock();
                auto c = weakCell.lock();
                if (!list || !c) return;
                if (auto ip = list->tableView()->indexPathForCell(*c))
                    list->accessoryButtonTapped(*list->tableView(), *ip);
            },
            toolkit::kTouchUpInside);
        return toolkit::TableViewCellPtr(cell);
    };
    table->registerCell(kMessageCell, [withStar] { return withStar(makeMessageTableCell()); });
    table->registerCell(kHistoryCell, [withStar] { return withStar(makeHistoryTableCell()); });
    table->setEstimatedRowHeight(estimatedRowHeight());

    // Systems without context menus preview rows on a firm press, or offer the options on a long
    // press.
    checkForForceTouch();

    setUpList();
    searchBar_->setPlaceholder(foundation::format(text("Search %@"), title()));
    // The list owns its model from its first showing (or from the first reply the shell routes
    // to it, whichever comes first).
    if (!model_)
        if (auto lists = roles_.lists.lock()) model_ = lists->makeMessageList(viewType_);
    attachModel();
}

void VC_Messages::viewWillAppear(bool animated) {
    toolkit::TableViewController::viewWillAppear(animated);
    shown_ = true;
    // The search bar starts hidden under the navigation bar.
    if (searchBar_ && !searchBar_->showsScopeBar()) {
        auto table = tableView();
        if (table->window()) table->layoutIfNeeded();
        const double hidden = *hiddenSearchOffset();
        if (table->contentOffset().y < hidden)
            table->setContentOffset(toolkit::Point{table->contentOffset().x, hidden});
    }
    if (!model_) return;
    model_->willAppear();
    (void)model_->followRows();
    model_->adoptStoredRefreshDate();
    updateLastRefreshDate();
    if (model_->isLoadingMessages() && refreshControl()) refreshControl()->beginRefreshing();
    model_->setOpenConversationID("");
}

void VC_Messages::viewDidAppear(bool animated) {
    toolkit::TableViewController::viewDidAppear(animated);
    auto table = tableView();
    if (model_) {
        if (auto row = model_->selectStoredRow(); row && navBarMenu_) {
            navBarMenu_->selectRow(*row, 0);
            navBarMenu_->reloadComponent(0);  // its title names the filter just picked
        }
    }
    if (auto selected = table->indexPathForSelectedRow()) table->deselectRow(*selected, animated);
    if (model_ && !model_->isLoadingMessages()) {
        table->reloadData();
        auto alerts = roles_.alerts.lock();
        if (!model_->initialLoadDone() && alerts && alerts->connectionAvailable()) {
            std::weak_ptr<HXMessageListModel> weakModel = model_;
            // Only if the list still has no data by then: another way back to it may have loaded it.
            dispatch::Queue::main()->after(0.5, [weakModel] {
                if (auto m = weakModel.lock(); m && !m->initialLoadDone()) m->loadMessages(Model::Sender::None);
            });
        }
    }
    // A list left scrolled less than a row below its top goes back to it.
    if (table->numberOfSections() > 0 && table->numberOfRows(0) > 0) {
        const double y = table->contentOffset().y;
        if (y < 0 && y > -table->rectForRow(IndexPath{0, 0}).height()) scrollToTopWithAnimation(false);
    }
    table->flashScrollIndicators();

    if (!observing_) {
        observing_ = true;
        observe("kLogoutNotification",
                [](VC_Messages& list, const foundation::Notification&) { list.tableView()->reloadData(); });
        observe(foundation::kApplicationSignificantTimeChangeNotification,
                [](VC_Messages& list, const foundation::Notification&) { list.reloadDates(); });
        observe(kNetworkReachabilityChangedNotification, [](VC_Messages& list, const foundation::Notification&) {
            if (!list.model_) return;
            if (list.model_->isLoadingMessages()) list.model_->abortLoading();
            auto alerts = list.roles_.alerts.lock();
            if (alerts && alerts->connectionAvailable() && !list.model_->initialLoadDone())
                list.model_->loadMessages(Model::Sender::None);
        });
        observe("kAccountSelectedNotification", [](VC_Messages& list, const foundation::Notification&) {
            if (!list.model_ || !list.shown_) return;
            // The time of the last load is the old account's: the new one's own, if it kept one.
            list.model_->clearLastUpdate();
            list.model_->adoptStoredRefreshDate();
            if (list.refreshControl() && !list.model_->isLoadingMessages())
                list.refreshControl()->attributedTitle = text("Pull down to Refresh…");
            list.updateLastRefreshDate();
            // Behind the passcode pad (the account's keychain items read again on coming back)
            // the list waits for the pad to go.
            auto actions = list.roles_.listActions.lock();
            if (actions && actions->passcodeLockShown()) {
                list.observe(kPasscodeLockDismissedNotification,
                             [](VC_Messages& waiting, const foundation::Notification&) {
                                 foundation::NotificationCenter::defaultCenter().removeObserver(
                                     &waiting, kPasscodeLockDismissedNotification);
                                 // The reload after the background may have started already.
                                 if (waiting.shown_) waiting.refetchMessages(false);
                             });
                return;
            }
            list.refetchMessages(true);
        });
        observe("kConversationOptionsPopupDismissedNotification",
                [](VC_Messages& list, const foundation::Notification&) { list.removeSelection(); });
        observe(kContactsCacheUpdatedNotification,
                [](VC_Messages& list, const foundation::Notification&) { list.reloadVisibleCells(); });
        if (model_ && !model_->initialLoadDone()) observeUnreadItems();
    }
    becomeFirstResponder();
}

void VC_Messages::viewWillDisappear(bool animated) {
    toolkit::TableViewController::viewWillDisappear(animated);
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const char* name : {"kLogoutNotification", foundation::kApplicationSignificantTimeChangeNotification,
                             "kAccountSelectedNotification", "kConversationOptionsPopupDismissedNotification",
                             kContactsCacheUpdatedNotification, "kUnreadItemsProcessedNotification"})
        center.removeObserver(this, name);
    // The set-up's logout observer stays.
    observeLogout();
    todayStart_.reset();
    if (navBarMenu_) navBarMenu_->closeAllComponentsAnimated(animated);
}

void VC_Messages::viewDidDisappear(bool animated) {
    toolkit::TableViewController::viewDidDisappear(animated);
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kNetworkReachabilityChangedNotification);
    observing_ = false;
    shown_ = false;
    if (model_) model_->clearLastUpdate();
}

void VC_Messages::setDropdownInsets() {
    if (!navBarMenu_) return;
    const bool bothColumns = iPad() && [&] {
        auto routing = roles_.routing.lock();
        return routing && !routing->isSplitViewCollapsed();
    }();
    navBarMenu_->fullScreenInsetLeft = bothColumns ? 318 : 0;
    navBarMenu_->fullScreenInsetRight = bothColumns ? 60 : 0;
}

std::optional<double> VC_Messages::hiddenSearchOffset() {
    if (!searchBar_ || searchBar_->showsScopeBar()) return std::nullopt;
    return searchBar_->frame().height() - barsHeight();
}

void VC_Messages::viewDidLayoutSubviews() {
    toolkit::TableViewController::viewDidLayoutSubviews();
    auto table = tableView();
    if (!table->window()) return;
    const std::optional<double> hidden = hiddenSearchOffset();
    // The bars grew or shrank (the status bar and the bar's height change with the orientation)
    // under a list resting with its search bar just hidden: it rests hidden under the new ones.
    if (hidden && lastHiddenSearchOffset_ && *hidden != *lastHiddenSearchOffset_ && !table->isDragging() &&
        !table->isDecelerating() && std::abs(table->contentOffset().y - *lastHiddenSearchOffset_) < 0.5)
        table->setContentOffset(toolkit::Point{table->contentOffset().x, *hidden});
    lastHiddenSearchOffset_ = hidden;
}

void VC_Messages::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    toolkit::TableViewController::viewWillTransitionToSize(size, coordinator);
    if (!isViewLoaded()) return;
    // Once the split view has taken its new shape (the table's insets follow the bars by
    // themselves, its rows staying where they were under them).
    auto follow = [weak = weakSelf<VC_Messages>()](toolkit::TransitionCoordinator&) {
        auto self = weak.lock();
        if (!self || !self->navBarMenu_) return;
        self->setDropdownInsets();
        self->navBarMenu_->setNeedsLayout();
    };
    if (coordinator)
        coordinator->animateAlongsideTransition([](toolkit::TransitionCoordinator&) {}, follow);
    else {
        toolkit::TransitionCoordinator none(false, 0);
        follow(none);
    }
}

void VC_Messages::refetchMessages(bool evenWhileLoading) {
    if (!model_) return;
    model_->filterTable(Model::FilterSender::Controller);
    controllerDidChangeContent();
    if (evenWhileLoading || !model_->isLoadingMessages()) model_->loadMessages(Model::Sender::None);
}

void VC_Messages::observeLogout() {
    observe("kLogoutNotification", [](VC_Messages& list, const foundation::Notification&) {
        if (auto* nav = list.navigationController()) nav->popToRootViewController(false);
        if (list.model_) {
            // The list starts over for the next account: it loads once that account's unread
            // items are in.
            list.model_->resetFetchedController();
            list.observeUnreadItems();
        }
        list.reloadTable();
    });
}

void VC_Messages::observeUnreadItems() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this, "kUnreadItemsProcessedNotification");
    observe("kUnreadItemsProcessedNotification", [](VC_Messages& list, const foundation::Notification&) {
        if (!list.model_) return;
        // Only until the list's first data: then the list stops waiting for the unread items.
        if (list.model_->initialLoadDone()) {
            foundation::NotificationCenter::defaultCenter().removeObserver(&list, "kUnreadItemsProcessedNotification");
            return;
        }
        list.model_->loadMessages(Model::Sender::None);
    });
}

bool VC_Messages::canBecomeFirstResponder() const { return HXPreferenceOf(roles_.alerts, HXPreference::ShakeRefresh); }

void VC_Messages::motionEnded() {
    if (model_) model_->loadMessages(Model::Sender::None);
}

bool VC_Messages::enterSearch() {
    if (!isViewLoaded() || !searchBar_) return false;
    scrollToTopWithAnimation(false);
    if (!searchBarShouldBeginEditing(*searchBar_)) return false;
    return searchBar_->becomeFirstResponder();
}

// ---- the table

std::optional<HX_Conversation> VC_Messages::rowAt(IndexPath indexPath) const {
    if (!model_ || indexPath.section != 0 || indexPath.row < 0) return std::nullopt;
    return model_->conversationAt(static_cast<size_t>(indexPath.row));
}

std::shared_ptr<store::ManagedObject> VC_Messages::conversationAtIndexPath(IndexPath indexPath) const {
    auto row = rowAt(indexPath);
    return row ? row->object() : nullptr;
}

std::string VC_Messages::conversationIDOf(IndexPath indexPath) const {
    auto row = rowAt(indexPath);
    return row ? row->conversationID() : std::string();
}

bool VC_Messages::hasMoreRow() const {
    if (!model_) return false;
    if (!model_->searchText().empty()) return true;
    auto actions = roles_.listActions.lock();
    const bool signedIn = actions ? actions->isSignedIn() : true;
    switch (model_->selectedListType()) {
        case Model::Normal:
            return model_->reloadPage() != 0;
        case Model::Spam:
            return signedIn && model_->spamPage() != 0;
        case Model::Archive:
            return signedIn && model_->archivePage() != 0;
        default:
            return false;
    }
}

long VC_Messages::numberOfSections(toolkit::TableView&) {
    if (!model_ || !model_->followRows()) return 0;
    return hasMoreRow() ? 2 : 1;
}

long VC_Messages::numberOfRows(toolkit::TableView&, long section) {
    if (section == 1) return 1;
    return model_ ? static_cast<long>(model_->numberOfConversations()) : 0;
}

toolkit::TableViewCellPtr VC_Messages::cellForRow(toolkit::TableView& table, IndexPath indexPath) {
    if (indexPath.section == 1) {
        auto cell = table.dequeueReusableCell(kPlainCell);
        std::shared_ptr<toolkit::ActivityIndicatorView> spinner;
        if (!cell) {
            cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Default, kPlainCell);
            cell->textLabel().setTextAlignment(toolkit::TextAlignment::center);
            cell->textLabel().setFont(toolkit::Font::boldSystem(17));
            cell->textLabel().setTextColor(toolkit::Color::darkGray());
            spinner = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::Gray);
            spinner->setHidesWhenStopped(true);
            cell->setAccessoryView(spinner);
        } else {
            spinner = std::dynamic_pointer_cast<toolkit::ActivityIndicatorView>(cell->accessoryView());
        }
        const bool loading = model_ && model_->isLoadingMessages();
        if (spinner) loading ? spinner->startAnimating() : spinner->stopAnimating();
        cell->setUserInteractionEnabled(!loading);
        const bool searching = model_ && !model_->searchText().empty();
        const char* label = viewType() == 3 ? (searching ? "Search all online entries…" : "Load older entries…")
                                            : (searching ? "Search all online messages…" : "Load older messages…");
        cell->textLabel().setText(text(label));
        return cell;
    }
    const char* identifier = viewType() == 3 ? kHistoryCell : kMessageCell;
    auto cell = table.dequeueReusableCell(identifier, indexPath);
    auto conversation = rowAt(indexPath);
    auto row = std::dynamic_pointer_cast<MessageListTableViewCell>(cell);
    if (!conversation || !row) return cell;
    auto actions = roles_.listActions.lock();
    // Contact names of the numbers are refreshed off the main thread.
    if (actions) {
        std::weak_ptr<HXListActionsRole> weakActions = actions;
        const std::string numbers = conversation->phoneNumber();
        if (!numbers.empty())
            dispatch::Queue::global(dispatch::Priority::Background)->async([weakActions, numbers] {
                if (auto a = weakActions.lock())
                    for (const auto& n : foundation::split(numbers, "|")) a->refreshContactName(n);
            });
    }
    if (auto alerts = roles_.alerts.lock(); viewType() == 2 && alerts && alerts->connectionAvailable() &&
                                            alerts->preference(HXPreference::PrefetchVoicemail)) {
        std::weak_ptr<HXMessageListModel> weakModel = model_;
        const std::string id = conversation->conversationID();
        dispatch::Queue::global(dispatch::Priority::Background)->async([weakModel, id] {
            if (auto m = weakModel.lock()) m->prefetchVM(id);
        });
    }
    if (toolkit::Device::current().systemVersion() >= 13) row->starButton().setTintColor(toolkit::Color::systemGray());
    if (!todayStart_) todayStart_ = foundation::startOfDay(foundation::now());
    const auto date = conversation->lastdate();
    MessageListCellOptions options;
    options.showNotesInMessageLists = HXPreferenceOf(roles_.alerts, HXPreference::ShowNotesInMessageLists);
    options.graphicalEmoticons = HXPreferenceOf(roles_.alerts, HXPreference::GraphicalEmoticons);
    options.showMessageCounts = HXPreferenceOf(roles_.alerts, HXPreference::ShowMessageCounts);
    row->configure(conversation->object(), indexPath, date ? dateText(*date, foundation::now()) : std::string(),
                   options);
    return row;
}

std::optional<double> VC_Messages::estimatedHeightForRow(toolkit::TableView&, IndexPath) {
    return estimatedRowHeight();
}

std::optional<double> VC_Messages::heightForRow(toolkit::TableView& table, IndexPath indexPath) {
    if (indexPath.section == 1) return std::nullopt;
    (void)table;
    if (rowHeight_ != 0) return rowHeight_;
    return measureRowHeight();
}

double VC_Messages::measureRowHeight() {
    // A throwaway conversation measures the row; nothing of it reaches the store.
    double height = estimatedRowHeight();
    const bool measured = model_ && model_->withScratchConversation([&](const HX_Conversation& conversation) {
        const std::string sender = foundation::globallyUniqueString();
        conversation.setSender(sender);
        conversation.setLastMessageText(measuringText(sender));
        auto cell = viewType() == 3 ? makeHistoryTableCell() : makeMessageTableCell();
        cell->configure(conversation.object(), IndexPath{0, 0}, "Wednesday", MessageListCellOptions{});
        const double width = isViewLoaded() ? tableView()->bounds().size.width : 320;
        cell->setFrame(toolkit::Rect(0, 0, width > 0 ? width : 320, estimatedRowHeight()));
        cell->layoutIfNeeded();
        height = std::ceil(cell->fittingHeight(width > 0 ? width : 320)) + 1;
    });
    if (!measured) return estimatedRowHeight();
    rowHeight_ = height;
    if (model_) {
        auto settings = model_->viewSettings();
        settings.set("rowHeight", Value(height));
        model_->setViewSettings(std::move(settings));
    }
    return height;
}

void VC_Messages::resetRowHeight() {
    rowHeight_ = 0;
    if (model_) {
        auto settings = model_->viewSettings();
        settings.set("rowHeight", Value(0.0));
        model_->setViewSettings(std::move(settings));
    }
    reloadTable();
}

void VC_Messages::reloadDates() {
    todayStart_.reset();
    reloadTable();
}

void VC_Messages::removeSelection() {
    if (!isViewLoaded()) return;
    if (auto selected = tableView()->indexPathForSelectedRow()) tableView()->deselectRow(*selected, true);
    if (!iPad()) tableView()->setTableFooterView(std::make_shared<toolkit::View>());
}

// ---- opening, more, previews

HXConversationSetup VC_Messages::setupFor(const HX_Conversation& conversation, bool peeking) const {
    HXConversationSetup setup;
    setup.conversationID = conversation.conversationID();
    setup.title = HXConversationTitle(conversation.sender(), conversation.ABName());
    const auto settings = model_ ? model_->viewSettings() : foundation::Dictionary{};
    setup.conversationType =
        conversationTypeFor(settings.get("typeMask").int64Value(), viewType(), conversation.type());
    setup.peeking = peeking;
    return setup;
}

void VC_Messages::didSelectRow(toolkit::TableView&, IndexPath indexPath) {
    if (indexPath.section == 1) return loadMore(indexPath);
    openConversation(rowAt(indexPath));
}

void VC_Messages::openConversation(const std::optional<HX_Conversation>& conversation) {
    auto actions = roles_.listActions.lock();
    if (!conversation || !actions) return;
    const auto setup = setupFor(*conversation, false);
    auto screen = makers_.conversation ? makers_.conversation(setup) : nullptr;
    if (!screen) return;
    if (actions->isSignedIn() && setup.conversationType != 3 && model_) model_->loadConversation(setup.conversationID);
    screen->hidesBottomBarWhenPushed = true;
    if (auto* nav = navigationController()) nav->pushViewController(screen, true);
    if (model_) model_->setOpenConversationID(setup.conversationID);
}

void VC_Messages::loadMore(IndexPath indexPath) {
    if (!model_) return;
    if (model_->searchText().empty()) {
        switch (model_->selectedListType()) {
            case Model::Archive:
                model_->setArchivePage(model_->archivePage() + 1);
                break;
            case Model::Spam:
                model_->setSpamPage(model_->spamPage() + 1);
                break;
            default:
                model_->setReloadPage(model_->reloadPage() + 1);
        }
    }
    model_->loadMessages(Model::Sender::TableCell);
    auto cell = tableView()->cellForRow(indexPath);
    if (auto spinner =
            cell ? std::dynamic_pointer_cast<toolkit::ActivityIndicatorView>(cell->accessoryView()) : nullptr;
        spinner && !spinner->isAnimating()) {
        cell->setUserInteractionEnabled(false);
        spinner->startAnimating();
    }
    tableView()->deselectRow(indexPath, true);
}

std::shared_ptr<toolkit::ViewController>
VC_Messages::previewControllerForConverstion(const std::optional<HX_Conversation>& conversation) {
    if (!conversation || !makers_.conversation) return nullptr;
    auto screen = makers_.conversation(setupFor(*conversation, true));
    if (screen) screen->hidesBottomBarWhenPushed = true;
    return screen;
}

// ---- row actions

bool VC_Messages::canEditRow(toolkit::TableView&, IndexPath indexPath) {
    auto alerts = roles_.alerts.lock();
    return indexPath.section == 0 && alerts && alerts->connectionAvailable();
}

toolkit::Color VC_Messages::backgroundForEditActionWithType(int type, double height) {
    static const struct {
        const char* image;
        const char* symbol;
    } kIcons[] = {{"ra_Trash", nullptr},
                  {"ra_Call", nullptr},
                  {"ra_SMS", nullptr},
                  {"ra_Archive", nullptr},
                  {"ra_Inbox", nullptr},
                  {"ra_MarkRead", "eye.fill"},
                  {"ra_MarkUnread", "eye.slash.fill"}};
    if (type < 0 || type > 6) type = 0;
    const toolkit::Color fill = type == 0                             ? toolkit::Color::systemRed()
                                : type == 1 || type == 5 || type == 6 ? toolkit::Color::systemBlue()
                                                                      : toolkit::Color::lightGray();
    const double width =
        isViewLoaded() && tableView()->bounds().size.width > 0 ? tableView()->bounds().size.width : 320;
    const double w = editActionWidth();
    const double d = std::min(height - 4, w);
    auto context = graphics::GraphicsContext::image(graphics::Size{width, height}, false,
                                                    toolkit::Device::current().screen().scale);
    if (!context.ok()) return fill;
    auto& c = **context;
    c.setShadow(graphics::Size{2, 2}, 5, toolkit::Color::lightGray().withAlphaComponent(0.5));
    c.setFillColor(fill);
    c.fillEllipse(graphics::Rect(11, (height - d) / 2, d, d));
    c.clearShadow();
    const bool symbols = toolkit::Device::current().systemVersion() >= 13 && kIcons[type].symbol;
    auto icon = symbols ? graphics::systemImageNamed(kIcons[type].symbol) : graphics::imageNamed(kIcons[type].image);
    if (icon) {
        icon = icon->withTintColor(toolkit::Color::whiteColor());
        const auto size = icon->size();
        c.drawImage(*icon, graphics::Rect(d / 2 + (w / 2 - size.width) / 2, (height - size.height) / 2, size.width,
                                          size.height));
    }
    return toolkit::Color::pattern(c.makeImage());
}

double VC_Messages::editActionWidth() {
    // The advance of the six spaces: a measured line leaves out its trailing white space.
    graphics::TextAttributes attributes;
    attributes.font = graphics::Font::system(17);
    return std::ceil(graphics::caretOffsetInLine(graphics::AttributedString("      ", attributes), 6)) + 20;
}

toolkit::ImagePtr VC_Messages::emptyImageForEditAction(double height) {
    // Nothing drawn, as big as the background's circle: the action shows its background's icon,
    // and where the row is tall enough for its title too, the title goes under the circle.
    const double d = std::max(0.0, std::min(height - 4, editActionWidth()));
    auto context =
        graphics::GraphicsContext::image(graphics::Size{d, d}, false, toolkit::Device::current().screen().scale);
    if (!context.ok()) return nullptr;
    return (*context)->makeImage();
}

std::optional<toolkit::SwipeActionsConfigurationPtr> VC_Messages::leadingSwipeActions(toolkit::TableView& table,
                                                                                      IndexPath indexPath) {
    auto conversation = rowAt(indexPath);
    auto actions = roles_.conversationOperations.lock();
    auto config = toolkit::SwipeActionsConfiguration::make({});
    config->performsFirstActionWithFullSwipe = false;
    if (!conversation || !actions) return config;
    const int64_t type = conversation->type();
    if (viewType() == 3 && type != 10 && type != 11 && type != 2) return config;
    const bool read = conversation->isRead();
    const int code = read ? 6 : 5;
    const std::string id = conversation->conversationID();
    const double height = table.rectForRow(indexPath).height();
    auto weakTable = std::weak_ptr<toolkit::TableView>(tableView());
    std::weak_ptr<HXConversationOperationsRole> weakActions = actions;
    auto action = toolkit::ContextualAction::make(
        toolkit::ContextualActionStyle::Normal, actions->titleForConversationAction(code).value_or(""),
        [weakActions, weakTable, id, read](toolkit::ContextualAction&, toolkit::View&,
                                           toolkit::ContextualAction::Completion done) {
            if (auto a = weakActions.lock()) a->markConversation(id, !read);
            if (auto t = weakTable.lock()) t->setEditing(false, true);
            if (done) done(true);
        });
    action->backgroundColor = backgroundForEditActionWithType(code, height);
    action->image = emptyImageForEditAction(height);
    config->actions.push_back(action);
    return config;
}

std::optional<toolkit::SwipeActionsConfigurationPtr> VC_Messages::trailingSwipeActions(toolkit::TableView& table,
                                                                                       IndexPath indexPath) {
    auto conversation = rowAt(indexPath);
    auto actions = roles_.conversationOperations.lock();
    auto config = toolkit::SwipeActionsConfiguration::make({});
    config->performsFirstActionWithFullSwipe = false;
    if (!conversation || !actions) return config;
    const std::string id = conversation->conversationID();
    const std::string number = conversation->phoneNumber();
    const bool usable = !number.empty() && number != "Unknown";
    const double height = table.rectForRow(indexPath).height();
    auto weakTable = std::weak_ptr<toolkit::TableView>(tableView());
    std::weak_ptr<HXConversationOperationsRole> weakActions = actions;
    auto make = [&](int code, int background, toolkit::ContextualActionStyle style,
                    std::function<void(HXConversationOperationsRole&)> run) {
        auto action =
            toolkit::ContextualAction::make(style, actions->titleForConversationAction(code).value_or(""),
                                            [weakActions, weakTable, run](toolkit::ContextualAction&, toolkit::View&,
                                                                          toolkit::ContextualAction::Completion done) {
                                                if (auto a = weakActions.lock()) run(*a);
                                                if (auto t = weakTable.lock()) t->setEditing(false, true);
                                                if (done) done(true);
                                            });
        action->backgroundColor = backgroundForEditActionWithType(background, height);
        action->image = emptyImageForEditAction(height);
        config->actions.push_back(action);
    };
    auto remove = [&] {
        make(0, 0, toolkit::ContextualActionStyle::Destructive,
             [id](HXConversationOperationsRole& a) { a.deleteConversationWithID(id); });
    };
    auto conversations = roles_.conversations;
    auto placeCall = [&] {
        make(1, 1, toolkit::ContextualActionStyle::Normal, [conversations, number](HXConversationOperationsRole&) {
            if (auto c = conversations.lock()) c->placeCallTo(number);
        });
    };
    auto sendSMS = [&] {
        make(2, 2, toolkit::ContextualActionStyle::Normal, [conversations, number](HXConversationOperationsRole&) {
            if (auto c = conversations.lock()) c->newMessageToNumber(number, "", "");
        });
    };
    const int64_t type = conversation->type();
    if (viewType() == 3 && isMaskMember(kCallsMask, type)) {
        auto state = roles_.listActions.lock();
        if (!state || !state->isSignedIn()) return config;
        remove();
        if (usable) sendSMS(), placeCall();
        return config;
    }
    remove();
    const bool archived = conversation->isArchived();
    make(archived ? 4 : 3, archived ? 4 : 3, toolkit::ContextualActionStyle::Normal,
         [id](HXConversationOperationsRole& a) { a.changeArchiveStateForConversationWithID(id); });
    if (usable) placeCall();
    return config;
}

toolkit::ContextMenuConfigurationPtr VC_Messages::contextMenuConfiguration(toolkit::TableView&, IndexPath indexPath,
                                                                           toolkit::Point) {
    if (toolkit::Device::current().systemVersion() < 13 || indexPath.section != 0) return nullptr;
    auto conversation = rowAt(indexPath);
    auto actions = roles_.conversationOperations.lock();
    if (!conversation || !actions) return nullptr;
    const std::string id = conversation->conversationID();
    const std::string number = conversation->phoneNumber();
    const bool read = conversation->isRead();
    const bool history = viewType() == 3;
    const int os = toolkit::Device::current().systemVersion();
    auto weak = weakSelf<VC_Messages>();
    std::weak_ptr<HXConversationOperationsRole> weakActions = actions;
    auto conversations = roles_.conversations;
    // The blocks keep the object; the row is made again from it when they run.
    store::ManagedObjectPtr object = conversation->object();

    auto preview = [weak, object]() -> std::shared_ptr<toolkit::ViewController> {
        auto self = weak.lock();
        return self ? self->previewControllerForConverstion(HX_Conversation(object)) : nullptr;
    };
    auto menu = [weakActions, conversations, object, id, number, read, history,
                 os](const std::vector<toolkit::MenuElementPtr>&) -> toolkit::MenuPtr {
        auto a = weakActions.lock();
        if (!a) return toolkit::Menu::make("Menu", {});
        // The read status follows the archive code (not in the history); its own codes are skipped.
        const HXConversationActionSource source{.title = [a](int code) { return a->titleForConversationAction(code); },
                                                .image = [a](int code) { return a->imageForConversationAction(code); },
                                                .action =
                                                    [&](int code) {
                                                        return code == 5 || code == 6
                                                                   ? std::function<void()>()
                                                                   : hxCommonConversationAction(
                                                                         code, weakActions, conversations, id, number);
                                                    }};
        std::optional<HXReadToggle> toggle;
        if (!history)
            toggle = HXReadToggle{read ? 6 : 5,
                                  hxCommonConversationAction(read ? 6 : 5, weakActions, conversations, id, number)};
        auto made = hxConversationActionsMenu(
            hxConversationActionItems(a->messageOptionsForConversation(object), source, toggle), os);
        return made ? made : toolkit::Menu::make("Menu", {});
    };
    return toolkit::ContextMenuConfiguration::make(id, preview, menu);
}

void VC_Messages::willPerformPreviewAction(toolkit::TableView&, toolkit::ContextMenuConfiguration&,
                                           toolkit::ContextMenuCommitAnimator& animator) {
    animator.preferredCommitStyle = toolkit::PreviewCommitStyle::Pop;
    auto preview = animator.previewViewController();
    auto weak = weakSelf<VC_Messages>();
    animator.addCompletion([weak, preview] {
        auto self = weak.lock();
        if (!self || !preview) return;
        if (auto* screen = dynamic_cast<HXConversationScreen*>(preview.get())) screen->setIsPeeking(false);
        if (auto* nav = self->navigationController()) nav->pushViewController(preview, true);
        if (auto* screen = dynamic_cast<HXConversationScreen*>(preview.get()); screen && self->model_)
            self->model_->setOpenConversationID(screen->setup().conversationID);
    });
}

void VC_Messages::traitCollectionDidChange(const toolkit::TraitCollection& previous) {
    toolkit::TableViewController::traitCollectionDidChange(previous);
    checkForForceTouch();
}

void VC_Messages::checkForForceTouch() {
    if (!isViewLoaded() || toolkit::Device::current().systemVersion() >= 13) return;
    auto table = tableView();
    if (view()->traitCollection().forceTouch) {
        if (!messagePreviewingContext_)
            messagePreviewingContext_ = registerForPreviewing(weakSelf<VC_Messages>(), table);
        if (longPress_) {
            table->removeGestureRecognizer(longPress_.get());
            longPress_.reset();
        }
    } else if (messagePreviewingContext_) {
        unregisterForPreviewing(messagePreviewingContext_);
        messagePreviewingContext_.reset();
    }
    if (messagePreviewingContext_ || longPress_) return;
    auto weak = weakSelf<VC_Messages>();
    longPress_ = std::make_shared<toolkit::LongPressGestureRecognizer>([weak](toolkit::GestureRecognizer& g) {
        auto list = weak.lock();
        if (!list || g.state() != toolkit::GestureState::Began) return;
        list->handleLongPress(g.locationInView(list->tableView().get()));
    });
    longPress_->minimumPressDuration = 0.5;
    longPress_->allowableMovement = 15;
    table->addGestureRecognizer(longPress_);
}

toolkit::ViewControllerPtr VC_Messages::previewingViewControllerForLocation(toolkit::PreviewingContext& context,
                                                                            toolkit::Point location) {
    auto table = tableView();
    auto indexPath = table->indexPathForRowAtPoint(location);
    if (!indexPath || indexPath->section != 0) return nullptr;
    auto preview = previewControllerForConverstion(rowAt(*indexPath));
    if (preview) context.sourceRect = table->rectForRow(*indexPath);
    return preview;
}

void VC_Messages::previewingCommitViewController(toolkit::PreviewingContext&,
                                                 const toolkit::ViewControllerPtr& controller) {
    if (!controller) return;
    auto* screen = dynamic_cast<HXConversationScreen*>(controller.get());
    if (screen) screen->setIsPeeking(false);
    if (auto* nav = navigationController()) nav->pushViewController(controller, true);
    if (screen && model_) model_->setOpenConversationID(screen->setup().conversationID);
}

void VC_Messages::handleLongPress(toolkit::Point pointInTable) {
    auto table = tableView();
    auto indexPath = table->indexPathForRowAtPoint(pointInTable);
    if (!indexPath || indexPath->section != 0) return;
    auto options = roles_.options.lock();
    const std::string id = conversationIDOf(*indexPath);
    if (!options || id.empty()) return;
    table->selectRow(*indexPath, false);
    const auto rect = table->rectForRow(*indexPath);
    // The point in the controller's view: the touch's x, the row's vertical middle.
    const auto inView = table->convertPointTo(toolkit::Point{pointInTable.x, rect.midY()}, view().get());
    options->showOptionsForConversation(id, inView, *view());
}

std::shared_ptr<toolkit::Button> VC_Messages::buttonForStar(bool starred) {
    auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::Custom);
    const double height = rowHeight_ != 0 ? rowHeight_ : estimatedRowHeight();
    button->setFrame(toolkit::Rect(0, 0, iPad() ? 42 : 32, height));
    const bool symbols = toolkit::Device::current().systemVersion() >= 13;
    auto image = symbols ? graphics::systemImageNamed(starred ? "star.fill" : "star")
                         : graphics::imageNamed(starred ? "star_on" : "star_off");
    button->setImage(image, toolkit::kStateNormal);
    button->accessibility().label = text(starred ? "Remove Star" : "Add Star");
    auto weak = weakSelf<VC_Messages>();
    std::weak_ptr<toolkit::Button> weakButton = button;
    button->addAction(
        [weak, weakButton](toolkit::Control&, const toolkit::Event*) {
            auto self = weak.lock();
            auto b = weakButton.lock();
            if (!self || !b) return;
            auto table = self->tableView();
            for (const auto& cell : table->visibleCells())
                if (cell->accessoryView() == b)
                    if (auto ip = table->indexPathForCell(*cell)) self->accessoryButtonTapped(*table, *ip);
        },
        toolkit::kTouchUpInside);
    return button;
}

void VC_Messages::accessoryButtonTapped(toolkit::TableView&, IndexPath indexPath) {
    auto actions = roles_.listActions.lock();
    if (!actions || !actions->isSignedIn()) return;
    auto conversation = rowAt(indexPath);
    if (!conversation) return;
    toolkit::ImpactFeedbackGenerator(toolkit::ImpactStyle::Light).impactOccurred();
    // The star is the device's own: the local store only, no service request. The row model shows
    // the saved star on its row; the starred list lets the row go.
    conversation->setStarred(!conversation->isStarred());
    if (auto context = conversation->object()->managedObjectContext()) (void)context->save();
    if (model_ && model_->selectedListType() == Model::Starred) model_->filterTable(Model::FilterSender::Dropdown);
}

bool VC_Messages::scrollViewShouldScrollToTop(toolkit::ScrollView&) {
    const double hidden = searchBar_ ? searchBar_->frame().height() : 0;
    if (tableView()->contentOffset().y > hidden - tableView()->adjustedContentInset().top)
        scrollToTopWithAnimation(true);
    return false;
}

// ---- the dropdown

long VC_Messages::numberOfRowsInComponent(HXCDropdownMenu&, long) { return viewType() == 3 ? 7 : 6; }

std::optional<std::string> VC_Messages::titleForRow(HXCDropdownMenu&, long row, long) {
    return model_ ? model_->dropDownTitleForIndex(row) : std::string();
}

std::optional<toolkit::AttributedString> VC_Messages::attributedTitleForRow(HXCDropdownMenu& menu, long row,
                                                                            long component) {
    graphics::TextAttributes attributes;
    attributes.color = toolkit::Color::systemBlue();
    return toolkit::AttributedString(titleForRow(menu, row, component).value_or(""), attributes);
}

std::optional<toolkit::Color> VC_Messages::backgroundColorForRow(HXCDropdownMenu&, long, long) {
    return toolkit::Device::current().systemVersion() >= 13 ? toolkit::Color::secondarySystemBackground()
                                                            : toolkit::Color::groupTableViewBackground();
}

std::optional<std::shared_ptr<toolkit::View>> VC_Messages::viewForComponent(HXCDropdownMenu&, long) {
    auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    button->setTitle(model_ ? model_->dropDownTitleForIndex(Model::listFilterIndex()) : std::string(),
                     toolkit::kStateNormal);
    button->titleLabel()->setFont(toolkit::Font::boldSystem(17));
    button->setUserInteractionEnabled(false);
    return std::shared_ptr<toolkit::View>(button);
}

void VC_Messages::didSelectRow(HXCDropdownMenu& menu, long row, long) {
    if (!model_) return;
    model_->dropdownDidSelectRow(row);
    menu.reloadComponent(0);
    menu.closeAllComponentsAnimated(true);
}

// ---- the search bar

void VC_Messages::setSearchBarEditing(bool editing) {
    searchBar_->setShowsCancelButton(editing, true);
    searchBar_->setShowsScopeBar(editing);
    searchBar_->setTintColor(editing ? toolkit::Color::systemBlue() : toolkit::Color::groupTableViewBackground());
    searchBar_->sizeToFit();
    tableView()->setTableHeaderView(searchBar_);
}

bool VC_Messages::searchBarShouldBeginEditing(toolkit::SearchBar&) {
    if (numberOfRows(*tableView(), 0) < 1) return false;
    if (!searchBar_->showsScopeBar()) {
        setSearchBarEditing(true);
        tableView()->scrollRectToVisible(searchBar_->frame(), true);
    }
    return true;
}

void VC_Messages::textDidChange(toolkit::SearchBar&, const std::string& searchText) {
    if (!model_) return;
    model_->setSearchText(searchText);
    model_->filterTable(Model::FilterSender::SearchBar);
}

void VC_Messages::selectedScopeButtonIndexDidChange(toolkit::SearchBar&, long index) {
    if (!model_) return;
    model_->setSearchScope(static_cast<int>(index));
    model_->filterTable(Model::FilterSender::SearchBar);
}

void VC_Messages::searchBarCancelButtonClicked(toolkit::SearchBar& bar) {
    bar.setText("");
    textDidChange(bar, "");
    setSearchBarEditing(false);
    bar.resignFirstResponder();
    giveKeysBackToMasterList();
}

void VC_Messages::searchBarSearchButtonClicked(toolkit::SearchBar& bar) {
    bar.resignFirstResponder();
    giveKeysBackToMasterList();
}

void VC_Messages::giveKeysBackToMasterList() {
    if (auto routing = roles_.routing.lock(); routing && routing->iPad()) routing->setFirstResponder();
}

void VC_Messages::searchBarTextDidEndEditing(toolkit::SearchBar&) { scrollToTopWithAnimation(true); }

// ---- the view of the model

void VC_Messages::beginRefreshing(const std::string& title) {
    if (!refreshControl()) return;
    if (!titleBeforeRefresh_) titleBeforeRefresh_ = refreshControl()->attributedTitle;
    refreshControl()->attributedTitle = title;
    refreshControl()->beginRefreshing();
}

void VC_Messages::endRefreshing() {
    if (refreshControl()) {
        refreshControl()->endRefreshing();
        // The load's title goes with its spinner, also when the load ended without data (a
        // failed token request, nothing sent): a completed load then shows its own date.
        if (titleBeforeRefresh_) refreshControl()->attributedTitle = *titleBeforeRefresh_;
    }
    titleBeforeRefresh_.reset();
    // The more row's spinner follows the load.
    if (isViewLoaded() && tableView()->numberOfSections() > 1)
        tableView()->reloadSections({1}, toolkit::RowAnimation::None);
}

void VC_Messages::updateLastRefreshDate() {
    if (!model_) return;
    auto last = model_->lastUpdate();
    if (!last || !refreshControl()) return;
    foundation::DateFormatter formatter;
    formatter.setDateStyle(foundation::DateFormatter::Style::Short);
    formatter.setTimeStyle(foundation::DateFormatter::Style::Short);
    refreshControl()->attributedTitle =
        foundation::format(text("Last Updated: %@"), formatter.string(foundation::Date{*last}));
}

void VC_Messages::reloadTable() {
    if (isViewLoaded()) tableView()->reloadData();
}

void VC_Messages::reloadVisibleCells() {
    if (!isViewLoaded()) return;
    auto table = tableView();
    if (table->isDragging() || table->isDecelerating() || (model_ && model_->isLoadingMessages())) return;
    const auto visible = table->indexPathsForVisibleRows();
    if (visible.empty()) return;
    // Rows scrolled into view later are asked for then; a reloaded row loses its selection.
    const auto selected = table->indexPathForSelectedRow();
    table->reloadRows(visible, toolkit::RowAnimation::None);
    if (selected && selected->section < table->numberOfSections() &&
        selected->row < table->numberOfRows(selected->section))
        table->selectRow(selected, false);
}

void VC_Messages::scrollToTopWithAnimation(bool animated) {
    if (!isViewLoaded()) return;
    auto table = tableView();
    table->layoutIfNeeded();
    // The search bar stays hidden under the bar unless it shows its scopes.
    const double hidden = searchBar_ && !searchBar_->showsScopeBar() ? searchBar_->frame().height() : 0;
    const double y = hidden - barsHeight();
    table->setContentOffset(toolkit::Point{table->contentOffset().x, y}, animated && shown_);
}

std::optional<double> VC_Messages::contentOffsetY() {
    if (!isViewLoaded()) return std::nullopt;
    return tableView()->contentOffset().y;
}

double VC_Messages::barsHeight() {
    auto table = tableView();
    // A refresh's spinner adds to the top inset: it is no bar, and the rows resting under the bars
    // do not move when a load starts or ends.
    auto refresh = refreshControl();
    if (table->window())
        return table->adjustedContentInset().top -
               (refresh && refresh->isRefreshing() ? toolkit::RefreshControl::kHeight : 0);
    // Not in the window yet (a first load's scroll, the first appearance): the table has no
    // insets yet, but it will lie under the status bar and the navigation bar.
    const auto& screen = toolkit::Device::current().screen();
    const double status = screen.idiom == toolkit::Idiom::Phone && screen.isLandscape() ? 0 : screen.statusBarHeight;
    double bar = 0;
    if (auto* navigation = navigationController()) {
        bar = navigation->navigationBar().frame().height();
        if (bar <= 0) bar = 44;
    }
    return status + bar;
}

void VC_Messages::rowsDidChange(const store::RowChanges& changes) {
    // The rows changed under the table: it follows now, before anything reads it again.
    if (!isViewLoaded()) return;
    (void)hxShowRowChanges(*tableView(), 0, changes, false);
}

void VC_Messages::followSections() {
    if (!isViewLoaded()) return;
    auto table = tableView();
    // A table that has not read its rows yet reads them all when it lays out.
    if (table->numberOfSections() == 0) return table->reloadData();
    if (table->numberOfRows(0) != numberOfRows(*table, 0)) {
        // Rows changed without a notice (another store): everything again, keeping the selection.
        const auto selected = table->indexPathForSelectedRow();
        table->reloadData();
        if (selected && selected->section < table->numberOfSections() &&
            selected->row < table->numberOfRows(selected->section))
            table->selectRow(selected, false);
        return;
    }
    (void)hxShowRowChanges(*table, 0, {}, false);
}

void VC_Messages::updateMoreRow() {
    if (!isViewLoaded()) return;
    auto table = tableView();
    if (table->isDragging() || table->isDecelerating() || (model_ && model_->isLoadingMessages())) return;
    followSections();
}

void VC_Messages::controllerDidChangeContent() {
    auto weak = weakSelf<VC_Messages>();
    dispatch::Queue::main()->async([weak] {
        auto self = weak.lock();
        if (!self || !self->isViewLoaded()) return;
        // The rows followed their changes as they came; the sections follow the paging.
        self->followSections();
        auto actions = self->roles_.listActions.lock();
        if (self->model_ && self->viewType() != 3 && !(actions && actions->isInBackground()))
            self->model_->updateBadgeValue();
    });
}

std::optional<bool> VC_Messages::shownConversationIsRead() const {
    auto* nav = navigationController();
    if (!nav || nav->viewControllers().size() < 2) return std::nullopt;
    auto* screen = dynamic_cast<HXConversationScreen*>(nav->topViewController());
    if (!screen || !model_) return std::nullopt;
    auto conversation = model_->conversationWithID(screen->setup().conversationID);
    if (!conversation) return std::nullopt;
    return conversation->isRead();
}

void VC_Messages::showBackButtonCount(uint64_t count) { ::showBackButtonCount(navigationItem(), count, title()); }

void VC_Messages::storeHasNewRows(const foundation::Notification&) { controllerDidChangeContent(); }
