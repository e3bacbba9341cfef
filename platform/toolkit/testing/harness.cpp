#include "platform/toolkit/testing/harness.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/foundation/application.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view.h"

namespace toolkit::testing {

Harness::Harness(const ScreenProfile& profile, int systemVersion, double wallStart) : clock_(wallStart) {
    Device::current().reset();
    Device::current().setScreen(profile);
    Device::current().setSystemVersion(systemVersion);
    Animations::setTimed(false);
    Animations::setEnabled(true);
    Animations::clearLog();
    Keyboard::shared().reset();
    Appearance::reset();
    MenuController::shared().reset();
    SystemSounds::shared().reset();
    Pasteboard::general().clear();
    // A fresh device shows no network activity and runs no background task, whatever an earlier
    // application object left on or begun (the ids are handed out in order, from 1).
    auto& application = foundation::Application::shared();
    application.setNetworkActivityIndicatorVisible(false);
    const auto last = application.beginBackgroundTask("fresh device");
    for (foundation::BackgroundTaskIdentifier id = 1; id <= last; ++id) application.endBackgroundTask(id);
    window_ = std::make_unique<Window>(profile);
}

Harness::~Harness() {
    if (auto* fr = firstResponder()) fr->dropFocusSilently();
    PresentedMenu::shared().dismiss();
    window_.reset();
    Keyboard::shared().reset();
    Appearance::reset();
}

void Harness::setRoot(ViewControllerPtr controller) {
    window_->setRootViewController(std::move(controller));
    window_->makeKeyAndVisible();
    settle();
}

void Harness::settle() {
    clock_->runUntilIdle();
    flushLayout();
    clock_->runUntilIdle();
}

void Harness::advance(double seconds) {
    clock_->advance(seconds);
    flushLayout();
}

void Harness::tap(Point p, int taps) {
    for (int i = 0; i < taps; ++i) {
        int id = window_->touchDown(p);
        clock_->advance(0.05);
        window_->touchUp(id);
        clock_->advance(0.05);
    }
    settle();
}

bool Harness::tap(View& view) {
    settle();
    Point c = view.convertPointTo({view.bounds().midX(), view.bounds().midY()}, nullptr);
    View* hit = window_->hitTest(c, nullptr);
    // Asked before the tap: what the tap does may free the view it hit (a dismissed popover's).
    bool reached = hit && hit->isDescendantOf(&view);
    tap(c);
    return reached;
}

void Harness::longPress(Point p, double seconds) {
    int id = window_->touchDown(p);
    advance(seconds);
    window_->touchUp(id);
    settle();
}

void Harness::swipe(Point from, Point to, int touches, int steps) {
    std::vector<Point> starts;
    for (int i = 0; i < touches; ++i) starts.push_back({from.x, from.y + 20.0 * i});
    auto ids = window_->touchesDown(starts);
    for (int s = 1; s <= steps; ++s) {
        double f = static_cast<double>(s) / steps;
        std::map<int, Point> moves;
        for (int i = 0; i < touches; ++i)
            moves[ids[static_cast<size_t>(i)]] = {from.x + (to.x - from.x) * f,
                                                  from.y + 20.0 * i + (to.y - from.y) * f};
        clock_->advance(0.01);
        window_->touchesMove(moves);
    }
    window_->touchesUp(ids);
    settle();
}

void Harness::drag(Point from, Point to, int steps) { swipe(from, to, 1, steps); }

namespace {
// Two fingers on a line through the centre at an angle, a span apart.
std::vector<Point> fingers(Point centre, double span, double angle) {
    const double dx = std::cos(angle) * span / 2, dy = std::sin(angle) * span / 2;
    return {{centre.x - dx, centre.y - dy}, {centre.x + dx, centre.y + dy}};
}
}  // namespace

void Harness::pinch(Point centre, double fromSpan, double toSpan, int steps) {
    auto ids = window_->touchesDown(fingers(centre, fromSpan, 0));
    for (int s = 1; s <= steps; ++s) {
        const double span = fromSpan + (toSpan - fromSpan) * s / steps;
        const auto at = fingers(centre, span, 0);
        clock_->advance(0.01);
        window_->touchesMove({{ids[0], at[0]}, {ids[1], at[1]}});
    }
    window_->touchesUp(ids);
    settle();
}

void Harness::twist(Point centre, double radians, double span, int steps) {
    auto ids = window_->touchesDown(fingers(centre, span, 0));
    for (int s = 1; s <= steps; ++s) {
        const auto at = fingers(centre, span, radians * s / steps);
        clock_->advance(0.01);
        window_->touchesMove({{ids[0], at[0]}, {ids[1], at[1]}});
    }
    window_->touchesUp(ids);
    settle();
}

void Harness::setForceTouchAvailable(bool available) {
    window_->setForceTouchAvailable(available);
    settle();
}

std::shared_ptr<Peek> Harness::forcePress(Point p) {
    settle();
    auto peek = toolkit::forcePress(*window_, p);
    settle();
    return peek;
}

bool Harness::typeText(const std::string& text) {
    auto* input = dynamic_cast<TextInput*>(firstResponder());
    if (!input) return false;
    for (char32_t cp : foundation::toCodePoints(text)) {
        std::string one;
        foundation::appendUtf8(one, cp);
        if (one == "\n")
            input->pressReturn();
        else
            input->insertText(one);
    }
    settle();
    return true;
}

bool Harness::pressBackspace(int count) {
    auto* input = dynamic_cast<TextInput*>(firstResponder());
    if (!input) return false;
    for (int i = 0; i < count; ++i) input->deleteBackward();
    settle();
    return true;
}

bool Harness::pressReturn() {
    auto* input = dynamic_cast<TextInput*>(firstResponder());
    if (!input) return false;
    input->pressReturn();
    settle();
    return true;
}

bool Harness::pressKey(const std::string& input, unsigned modifiers) {
    // A menu on screen takes the keys it moves and chooses with.
    if (MenuPanel* menu = MenuPanel::shown(window_.get()); menu && modifiers == 0 && menu->handleKey(input)) {
        settle();
        return true;
    }
    // Without a first responder, keys start at the visible controller, as in the desktop window.
    bool handled = dispatchKeyCommand(input, modifiers, visibleKeyResponder(*window_));
    settle();
    return handled;
}

void Harness::shake() {
    deliverShake(*window_);
    settle();
}

void Harness::rotate(Orientation o) {
    window_->setProfile(window_->profile().rotatedTo(o));
    Device::current().setScreen(window_->profile());
    settle();
}

void Harness::setInterfaceStyle(InterfaceStyle style) {
    window_->setInterfaceStyle(style);
    settle();
}

void Harness::setContentSizeCategory(ContentSizeCategory c) {
    Device::current().setContentSizeCategory(c);
    window_->setContentSizeCategory(c);
    foundation::Dictionary info;
    info.set("UIContentSizeCategoryNewValueKey", contentSizeCategoryName(c));
    foundation::NotificationCenter::defaultCenter().post(toolkit::kContentSizeCategoryDidChangeNotification, nullptr,
                                                         info);
    settle();
}

void Harness::sendMemoryWarning() {
    deliverMemoryWarning(*window_);
    settle();
}

void Harness::changeSystemTime(double delta) {
    clock_->jump(delta);
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationSignificantTimeChangeNotification);
    settle();
}

void Harness::changeTimeZone(const std::string& name) {
    foundation::setDefaultTimeZone(name);
    foundation::NotificationCenter::defaultCenter().post(foundation::kApplicationSignificantTimeChangeNotification);
    settle();
}

void Harness::changeLocale(const std::string& identifier) {
    foundation::setCurrentLocaleIdentifier(identifier);
    foundation::NotificationCenter::defaultCenter().post(foundation::kCurrentLocaleDidChangeNotification);
    settle();
}

bool Harness::tapRowShowing(const std::string& text) {
    View* label = find(text);
    if (!label) return false;
    // The row's cell takes the touch, not the label that shows the text.
    for (View* up = label; up; up = up->superview())
        if (dynamic_cast<TableViewCell*>(up)) return tap(*up);
    return false;
}

bool Harness::pickContact(const std::string& name, const std::optional<std::string>& number) {
    settle();
    ViewController* top = topPresented();
    if (!top || top->className() != "CNContactPickerViewController") return false;
    if (!tapRowShowing(name)) return false;
    advance(0.5);  // the card slides in
    if (!number) return true;
    if (topPresented() != top) return false;  // the picker took the whole contact and closed
    const bool reached = tapRowShowing(*number);
    advance(0.5);
    return reached;
}

bool Harness::chooseShareActivity(const std::string& title) {
    settle();
    ViewController* top = topPresented();
    if (!top || top->className() != "UIActivityViewController") return false;
    View* button = nullptr;
    forEachView(
        top->view().get(),
        [&](View* v, int) {
            if (!button && v->className() == "Button" && v->outlineText() == title) button = v;
        },
        0, false);
    if (!button || !tap(*button)) return false;
    advance(0.5);  // the sheet slides away
    return topPresented() != top;
}

void Harness::enterBackground() {
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Background);
    settle();
}

void Harness::enterForeground() {
    foundation::Application::shared().setApplicationState(foundation::ApplicationState::Active);
    settle();
}

View* Harness::findBarItem(const std::string& title) {
    settle();
    auto matches = [&](const ViewPtr& v) { return v->outlineText() == title || v->accessibilityLabel() == title; };
    for (View* bar : findAll("NavigationBar"))
        for (auto& v : static_cast<NavigationBar*>(bar)->itemViews())
            if (matches(v)) return v.get();
    std::vector<Toolbar*> toolbars;
    forEachView(
        window_.get(),
        [&](View* v, int) {
            if (auto* t = dynamic_cast<Toolbar*>(v)) toolbars.push_back(t);
        },
        0, false);
    for (Toolbar* bar : toolbars)
        for (auto& v : bar->itemViews())
            if (matches(v)) return v.get();
    return nullptr;
}

bool Harness::tapBarButton(const std::string& title) {
    View* item = findBarItem(title);
    return item && tap(*item);
}

bool Harness::longPressBarButton(const std::string& title) {
    View* item = findBarItem(title);
    if (!item) return false;
    longPress(item->convertPointTo({item->bounds().midX(), item->bounds().midY()}, nullptr), 0.6);
    return PresentedMenu::shared().isVisible();
}

std::vector<std::string> Harness::presentedMenuTitles() const {
    const MenuPtr& menu = PresentedMenu::shared().menu();
    return menu ? menu->displayTitles() : std::vector<std::string>{};
}

bool Harness::chooseMenuAction(const std::string& title) {
    bool done = PresentedMenu::shared().perform(title);
    settle();
    return done;
}

bool Harness::tapMenuItem(const std::string& title) {
    bool done = MenuController::shared().performItem(title);
    settle();
    return done;
}

std::shared_ptr<DragSession> Harness::beginDrag(View& view, Point pointInView) {
    settle();
    for (auto& i : view.interactions())
        if (auto drag = std::dynamic_pointer_cast<DragInteraction>(i)) return drag->beginDrag(pointInView);
    return nullptr;
}

DropOperation Harness::drop(DragSession& session, Point windowPoint) {
    settle();
    DropOperation op = dropSession(*window_, session, windowPoint);
    settle();
    return op;
}

bool Harness::tapBack() {
    settle();
    for (View* v : findAll("BackButton")) return tap(*v);
    return false;
}

ViewController* Harness::topPresented() {
    ViewController* top = window_->rootViewController().get();
    while (top && top->presentedViewController()) top = top->presentedViewController();
    return top;
}

AlertController* Harness::visibleAlert() {
    settle();
    return dynamic_cast<AlertController*>(topPresented());
}

bool Harness::tapAlertAction(const std::string& title) {
    AlertController* alert = visibleAlert();
    if (!alert) return false;
    for (auto& b : alert->actionButtons())
        if (b->action()->title() == title) return tap(*b);
    return false;
}

bool Harness::fillAlertField(size_t index, const std::string& text) {
    AlertController* alert = visibleAlert();
    if (!alert || index >= alert->textFields().size()) return false;
    auto field = alert->textFields()[index];
    if (!tap(*field) || !field->isFirstResponder()) return false;
    return typeText(text);
}

bool Harness::selectRow(TableView& table, IndexPath ip) {
    settle();
    table.scrollToRow(ip, ScrollPosition::None, false);
    settle();
    auto cell = table.cellForRow(ip);
    return cell && tap(*cell);
}

std::vector<std::string> Harness::swipeRow(TableView& table, IndexPath ip, SwipeEdge edge, bool full) {
    settle();
    table.scrollToRow(ip, ScrollPosition::None, false);
    settle();
    auto cell = table.cellForRow(ip);
    if (!cell) return {};
    Rect r = cell->convertRectTo(cell->bounds(), nullptr);
    double y = r.midY();
    Point right{r.maxX() - 10, y}, left{r.minX() + 10, y};
    double distance = full ? r.width() - 20 : 150;
    if (edge == SwipeEdge::Trailing)
        swipe(right, {right.x - distance, y});
    else
        swipe(left, {left.x + distance, y});
    std::vector<std::string> titles;
    for (View* panel : findAll("SwipeActionsView"))
        for (auto& b : panel->subviews())
            titles.push_back(b->accessibilityLabel().empty() ? b->outlineText() : b->accessibilityLabel());
    return titles;
}

bool Harness::tapSwipeAction(const std::string& title) {
    for (View* panel : findAll("SwipeActionsView"))
        for (auto& b : std::vector<ViewPtr>(panel->subviews()))
            if (b->outlineText() == title || b->accessibilityLabel() == title) return tap(*b);
    return false;
}

std::shared_ptr<ContextMenuSession> Harness::openContextMenu(TableView& table, IndexPath ip) {
    settle();
    table.scrollToRow(ip, ScrollPosition::None, false);
    settle();
    auto cell = table.cellForRow(ip);
    if (!cell) return nullptr;
    longPress(cell->convertPointTo({cell->bounds().midX(), cell->bounds().midY()}, nullptr), 0.6);
    return table.contextMenuSession();
}

namespace {
// A one-finger drag across a scroll view in eight even steps of stepSeconds, resting holdSeconds
// before it lifts.
void dragAcross(Window& window, dispatch::VirtualClock& clock, ScrollView& view, Point delta, double stepSeconds,
                double holdSeconds) {
    Rect r = view.convertRectTo(view.bounds(), nullptr);
    Point from{r.midX(), r.midY()};
    constexpr int kSteps = 8;
    int id = window.touchDown(from);
    for (int s = 1; s <= kSteps; ++s) {
        double f = static_cast<double>(s) / kSteps;
        clock.advance(stepSeconds);
        window.touchMove(id, {from.x - delta.x * f, from.y - delta.y * f});
    }
    if (holdSeconds > 0) clock.advance(holdSeconds);
    window.touchUp(id);
}
}  // namespace

void Harness::scroll(ScrollView& view, Point delta) {
    settle();
    dragAcross(*window_, *clock_, view, delta, 0.01, PanGestureRecognizer::kVelocityWindow + 0.05);
    settle();
}

void Harness::fling(ScrollView& view, Point delta, double seconds) {
    settle();
    dragAcross(*window_, *clock_, view, delta, std::max(seconds, 0.008) / 8, 0);
    settle();
}

void Harness::pullToRefresh(ScrollView& view) {
    // Past the edge the content follows the finger at half speed.
    scroll(view, {0, -(2 * RefreshControl::kHeight + 40)});
}

bool Harness::tapStatusBar() {
    settle();
    std::vector<ScrollView*> candidates;
    forEachView(
        window_.get(),
        [&](View* v, int) {
            if (auto* sv = dynamic_cast<ScrollView*>(v); sv && sv->scrollsToTop) candidates.push_back(sv);
        },
        0, false);
    if (candidates.size() != 1) return false;
    bool scrolled = candidates.front()->scrollToTop();
    settle();
    return scrolled;
}

View* Harness::find(const std::string& text) {
    settle();
    View* found = nullptr;
    forEachView(
        window_.get(),
        [&](View* v, int) {
            if (!found && (v->outlineText() == text || v->accessibilityLabel() == text)) found = v;
        },
        0, false);
    return found;
}

View* Harness::findByTag(long tag) {
    settle();
    return window_->viewWithTag(tag);
}

std::vector<View*> Harness::findAll(const std::string& className) {
    std::vector<View*> out;
    forEachView(
        window_.get(),
        [&](View* v, int) {
            if (v->className() == className) out.push_back(v);
        },
        0, false);
    return out;
}

std::string Harness::outline(const OutlineOptions& options) {
    settle();
    return toolkit::outline(*window_, options);
}

std::string Harness::compareOutline(const std::filesystem::path& golden, const OutlineOptions& options) {
    std::string actual = outline(options);
    if (updatingGoldens()) {
        std::filesystem::create_directories(golden.parent_path());
        std::ofstream(golden, std::ios::binary) << actual;
        return {};
    }
    std::ifstream in(golden, std::ios::binary);
    if (!in) return "no golden file " + golden.string() + "; actual outline:\n" + actual;
    std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (expected == actual) return {};
    std::istringstream a(actual), e(expected);
    std::string la, le;
    for (int line = 1;; ++line) {
        bool ga = static_cast<bool>(std::getline(a, la)), ge = static_cast<bool>(std::getline(e, le));
        if (!ga && !ge) break;
        if (!ga || !ge || la != le)
            return "line " + std::to_string(line) + ":\n  expected: " + (ge ? le : "<end>") +
                   "\n  actual:   " + (ga ? la : "<end>") + "\nwhole outline:\n" + actual;
    }
    return "outlines differ";
}

}  // namespace toolkit::testing
