#include "ui/shell/split_view_master.h"

#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/split_view_controller.h"
#include "platform/toolkit/traits.h"
#include "ui/widgets/letterpress.h"
#include "ui/widgets/master_table_view_cell.h"

using toolkit::Color;
using toolkit::IndexPath;
using toolkit::Rect;

namespace {

constexpr int kRowCount = 4;
constexpr double kWidth = kHXMasterColumnWidth;

// Row r shows view r + 1.
const HXViewSpec& rowView(long row) { return kHXViews[row + 1]; }

constexpr const char* kRefreshingNotifications[] = {"kLogoutNotification", "kAccountSelectedNotification",
                                                    "kSettingsUpdateNotification", "kUnreadSMSCountChangedNotification",
                                                    "kUnreadVMCountChangedNotification"};

// Views 1 to 3 are the message lists, which can search and reload.
bool isMessageList(int view) { return view >= 1 && view <= 3; }

}  // namespace

VC_SplitView_Master::VC_SplitView_Master(Roles roles, Makers makers)
    : roles_(std::move(roles)), makers_(std::move(makers)) {
    // The responder chain hands a key command's action no sender, so each digit has its own. The
    // switch goes through the application object's routing, which makes the view the current one.
    for (int view = 1; view <= 4; ++view)
        setActionHandler(switchViewAction(view), [this, view](Responder*) {
            if (auto routing = roles_.routing.lock()) routing->selectViewForIndex(view);
        });
    setActionHandler(kShowCallPopupAction, [this](Responder*) { showCallPopup(); });
    setActionHandler(kShowSMSPopupAction, [this](Responder*) { showSMSPopup(); });
    setActionHandler(kShowAccountsAction, [this](Responder*) { showAccounts(); });
    setActionHandler(kEnterSearchAction, [this](Responder*) { enterSearch(); });
    setActionHandler(kRefreshMessagesAction, [this](Responder*) { refreshMessages(); });
}

VC_SplitView_Master::~VC_SplitView_Master() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

void VC_SplitView_Master::viewDidLoad() {
    HXSplitViewMaster::viewDidLoad();
    auto table = tableView();
    table->setBackgroundColor(Color::groupTableViewBackground());
    table->setScrollEnabled(false);
    table->setRowHeight(kRowHeight);
    table->setSeparatorStyle(toolkit::SeparatorStyle::None);
    table->setSectionHeaderHeight(kHeaderHeight);
    table->registerCell(kMasterTableCellIdentifier, [] { return makeMasterTableCell(); });

    navigationItem().setRightBarButtonItem(toolkit::BarButtonItem::withTitle(
        "Accounts", toolkit::BarButtonStyle::Plain, [this](toolkit::BarButtonItem&) { showAccounts(); }));
    auto callImage = toolkit::Device::current().systemVersionAtLeast(13) ? graphics::systemImageNamed("phone")
                                                                         : graphics::imageNamed("Call");
    if (!callImage) callImage = hxBarImageNamed("Call");
    auto call = toolkit::BarButtonItem::withImage(callImage, toolkit::BarButtonStyle::Plain,
                                                  [this](toolkit::BarButtonItem&) { showCallPopup(); });
    call->accessibilityLabel = "Call";
    auto compose = toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Compose,
                                                          [this](toolkit::BarButtonItem&) { showSMSPopup(); });
    navigationItem().setLeftBarButtonItems({call, compose});

    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const char* name : kRefreshingNotifications)
        center.addObserver(this, name, [this](const foundation::Notification&) { refreshTable(); });

    view()->setTintColor(Color::systemBlue());
    if (auto* nav = navigationController()) nav->navigationBar().setBarTintColor(Color::groupTableViewBackground());
}

long VC_SplitView_Master::numberOfRows(toolkit::TableView&, long section) { return section == 0 ? kRowCount : 0; }

toolkit::TableViewCellPtr VC_SplitView_Master::cellForRow(toolkit::TableView& table, IndexPath indexPath) {
    auto cell = std::dynamic_pointer_cast<MasterTableViewCell>(
        table.dequeueReusableCell(kMasterTableCellIdentifier, indexPath));
    if (!cell) return nullptr;
    const auto& spec = rowView(indexPath.row);
    if (auto label = cell->cellLabel.lock()) label->setText(spec.title);
    if (auto image = cell->cellImage.lock()) {
        image->setImage(hxBarImageNamed(spec.image)->withRenderingMode(graphics::RenderingMode::alwaysTemplate));
        image->setHighlightedImage(
            hxBarImageNamed(spec.selectedImage)->withRenderingMode(graphics::RenderingMode::alwaysTemplate));
    }
    auto split = roles_.splitView.lock();
    cell->badgeValue = !split               ? 0
                       : indexPath.row == 0 ? static_cast<long>(split->unreadSMSCount())
                       : indexPath.row == 1 ? static_cast<long>(split->unreadVMCount())
                                            : 0;
    cell->setNeedsLayout();
    return cell;
}

std::optional<double> VC_SplitView_Master::heightForHeader(toolkit::TableView&, long) { return kHeaderHeight; }

std::shared_ptr<toolkit::View> VC_SplitView_Master::viewForHeader(toolkit::TableView&, long section) {
    return section == 0 ? headerView() : nullptr;
}

std::shared_ptr<toolkit::View> VC_SplitView_Master::headerView() {
    if (!header_) {
        header_ = toolkit::View::make(Rect(0, 0, kWidth, kHeaderHeight));
        header_->setBackgroundColor(Color::groupTableViewBackground());
        auto icon = std::make_shared<toolkit::ImageView>(hxBarImageNamed("IconLarge"));
        icon->setFrame(Rect(0, 0, 120, 120));
        icon->setCenter({kWidth / 2, kHeaderHeight / 2 - 30});
        icon->layer().cornerRadius = 20;
        icon->setClipsToBounds(true);
        header_->addSubview(icon);
        auto info = std::make_shared<toolkit::Button>(toolkit::ButtonType::InfoDark);
        info->setFrame(Rect(kWidth - 10 - 40, kHeaderHeight - 60 - 40, 40, 40));
        info->setAutoresizingMask(toolkit::kFlexibleLeftMargin | toolkit::kFlexibleTopMargin);
        info->accessibility().label = "About 'HX Connect'";
        info->addAction([this](toolkit::Control&, const toolkit::Event*) { infoButtonClicked(); },
                        toolkit::kTouchUpInside);
        infoButton_ = info;
        header_->addSubview(info);
        for (auto [tag, bottom] : {std::pair{kUserNameTag, 40.0}, std::pair{kNumberTag, 15.0}}) {
            auto label = std::make_shared<toolkit::Label>(Rect(0, kHeaderHeight - bottom - 20, kWidth, 20));
            label->setTag(tag);
            label->setTextAlignment(toolkit::TextAlignment::center);
            label->setTextColor(Color::systemGray());
            label->setBackgroundColor(Color::clear());
            label->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleTopMargin);
            header_->addSubview(label);
        }
    }
    auto* name = dynamic_cast<toolkit::Label*>(header_->viewWithTag(kUserNameTag));
    auto* number = dynamic_cast<toolkit::Label*>(header_->viewWithTag(kNumberTag));
    auto alerts = roles_.alerts.lock();
    const auto account = alerts ? alerts->account() : nullptr;
    if (account && !account->username().empty()) {
        hxSetLetterpressedText(*name, account->username());
        hxSetLetterpressedText(*number,
                               PhoneExtensions::formattedPhoneNumberFromString(account->HXnumber().value_or("")));
    } else {
        name->setAttributedText(std::nullopt);
        number->setAttributedText(std::nullopt);
        name->setText("");
        number->setText("");
    }
    return header_;
}

void VC_SplitView_Master::selectRow(int index) {
    if (index < 1 || index > kRowCount) return;
    selecting_ = true;
    tableView()->selectRow(IndexPath{0, index - 1}, false);
    if (auto split = roles_.splitView.lock()) split->showDetailForViewType(index);
    selecting_ = false;
}

void VC_SplitView_Master::refreshTable() {
    auto table = tableView();
    table->reloadData();
    if (!selecting_) table->selectRow(IndexPath{0, currentViewIndex() - 1}, false);
}

void VC_SplitView_Master::didHighlightRow(toolkit::TableView&, IndexPath indexPath) {
    // The detail follows the finger as it touches down, before the row is selected.
    selectRow(static_cast<int>(indexPath.row) + 1);
}

std::optional<IndexPath> VC_SplitView_Master::willSelectRow(toolkit::TableView&, IndexPath indexPath) {
    foundation::UserDefaults::standardUserDefaults()->setInteger(indexPath.row + 1, "tabBarIndex");
    return indexPath;
}

void VC_SplitView_Master::didSelectRow(toolkit::TableView&, IndexPath indexPath) {
    const int view = static_cast<int>(indexPath.row) + 1;
    auto split = roles_.splitView.lock();
    if (!split || !split->isDetailShown(view)) selectRow(view);
    if (view == 4) {
        dispatch::Queue::main()->async([settings = roles_.settings] {
            if (auto role = settings.lock()) role->loadPhoneSettings();
        });
    }
}

void VC_SplitView_Master::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    HXSplitViewMaster::viewWillTransitionToSize(size, coordinator);
    auto reselect = [weak = weakSelf<VC_SplitView_Master>()](toolkit::TransitionCoordinator&) {
        auto self = weak.lock();
        auto routing = self ? self->roles_.routing.lock() : nullptr;
        if (!routing || routing->isSplitViewCollapsed()) return;
        const auto stored = foundation::UserDefaults::standardUserDefaults()->integerForKey("tabBarIndex");
        if (stored >= 1 && stored <= kRowCount) self->tableView()->selectRow(IndexPath{0, stored - 1}, true);
    };
    if (coordinator)
        coordinator->animateAlongsideTransition([](toolkit::TransitionCoordinator&) {}, reselect);
    else
        dispatch::Queue::main()->async([reselect] {
            toolkit::TransitionCoordinator none(false, 0);
            reselect(none);
        });
}

void VC_SplitView_Master::presentPopover(const std::shared_ptr<toolkit::ViewController>& controller) {
    controller->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    present(controller, true);
}

void VC_SplitView_Master::showCallPopup() {
    if (auto routing = roles_.routing.lock()) routing->dismissPopoverAnimated(false);
    auto split = roles_.splitView.lock();
    auto dialPad = split ? split->viewControllerForViewType(0) : nullptr;
    if (!dialPad) return;
    dialPad->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    auto* popover = dialPad->popoverPresentationController();
    popover->barButtonItem = navigationItem().leftBarButtonItem();
    popover->permittedArrowDirections = toolkit::kArrowUp;
    popover->backgroundColor = Color::groupTableViewBackground().withAlphaComponent(0.6);
    present(dialPad, true);
}

void VC_SplitView_Master::showSMSPopup() {
    if (auto routing = roles_.routing.lock()) routing->dismissPopoverAnimated(false);
    if (auto conversations = roles_.conversations.lock()) conversations->newMessageToNumber("", "", "");
}

void VC_SplitView_Master::infoButtonClicked() {
    if (auto routing = roles_.routing.lock()) routing->dismissPopoverAnimated(false);
    auto page = makers_.help ? makers_.help() : nullptr;
    if (!page) return;
    auto help = std::make_shared<toolkit::NavigationController>(page);
    help->setPreferredContentSize({320, 514});
    help->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    auto* popover = help->popoverPresentationController();
    popover->backgroundColor = Color::black();
    popover->permittedArrowDirections = toolkit::kArrowLeft;
    popover->sourceView = view();
    if (auto info = infoButton_.lock()) popover->sourceRect = info->convertRectTo(info->bounds(), view().get());
    present(help, true);
}

void VC_SplitView_Master::showAccounts() {
    if (auto routing = roles_.routing.lock()) routing->dismissPopoverAnimated(false);
    if (auto settings = roles_.settings.lock()) settings->updateAccountPrefs();
    auto list = makers_.accountList ? makers_.accountList() : nullptr;
    if (!list) return;
    auto accounts = std::make_shared<toolkit::NavigationController>(list);
    accounts->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    auto* popover = accounts->popoverPresentationController();
    popover->barButtonItem = navigationItem().rightBarButtonItem();
    popover->permittedArrowDirections = toolkit::kArrowUp;
    present(accounts, true);
}

void VC_SplitView_Master::enterSearch() {
    const int view = currentViewIndex();
    if (!isMessageList(view)) return;
    if (auto routing = roles_.routing.lock()) routing->enterSearch(view);
}

void VC_SplitView_Master::refreshMessages() {
    const int view = currentViewIndex();
    if (!isMessageList(view)) return;
    if (auto lists = roles_.lists.lock()) lists->refreshMessageList(view);
}

int VC_SplitView_Master::currentViewIndex() const {
    auto routing = roles_.routing.lock();
    return routing ? routing->currentViewIndex() : 0;
}

std::vector<toolkit::KeyCommand> VC_SplitView_Master::keyCommands() const {
    using toolkit::kModifierCommand;
    using toolkit::kModifierControl;
    std::vector<toolkit::KeyCommand> commands;
    for (int view = 1; view <= kRowCount; ++view)
        commands.push_back({std::to_string(view), kModifierCommand, switchViewAction(view), kHXViews[view].title});
    commands.push_back({"c", kModifierControl, kShowCallPopupAction, "Call"});
    commands.push_back({"n", kModifierCommand, kShowSMSPopupAction, "New Message"});
    commands.push_back({"a", kModifierControl, kShowAccountsAction, "Accounts"});
    if (isMessageList(currentViewIndex())) {
        commands.push_back({"f", kModifierCommand, kEnterSearchAction, "Search"});
        commands.push_back({"r", kModifierCommand, kRefreshMessagesAction, "Refresh"});
    }
    return commands;
}
