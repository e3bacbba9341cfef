// The test harness: a window on a screen profile, the virtual clock, and input driven through the
// same paths a device uses (hit-testing, gesture recognisers, controls, text-input delegates,
// key commands), plus the deterministic outline of what is on screen and finders over it.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/outline.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit::testing {

// The outline writer belongs to the toolkit; tests reach it here too.
using toolkit::outline;
using toolkit::OutlineOptions;

class Harness {
public:
    // The virtual clock starts at wallStart (seconds since 1970): tests keep the fixed default, the
    // program's headless run starts it at the real time so that dates read as on a device.
    explicit Harness(const ScreenProfile& profile = ScreenProfile::iPhone8(), int systemVersion = 15,
                     double wallStart = kDefaultWallStart);
    static constexpr double kDefaultWallStart = 1'700'000'000.0;
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    Window& window() { return *window_; }
    dispatch::VirtualClock& clock() { return *clock_; }

    // Makes controller the window's root and shows it.
    void setRoot(ViewControllerPtr controller);
    // Runs everything ready now and the pending layout pass.
    void settle();
    void advance(double seconds);

    // Touches, in window coordinates or at a view's centre. tap() answers whether the touch
    // reached view (or one of its subviews) through hit-testing.
    void tap(Point p, int taps = 1);
    bool tap(View& view);
    void longPress(Point p, double seconds);
    // Steps of 10 ms, lifting while still moving: a scroll view under them glides on.
    void swipe(Point from, Point to, int touches = 1, int steps = 5);
    void drag(Point from, Point to, int steps = 5);
    // Two fingers about a centre: from one distance apart to another (a pinch), or turning by
    // an angle (radians, clockwise on the screen) at a fixed distance; steps of 10 ms.
    void pinch(Point centre, double fromSpan, double toSpan, int steps = 5);
    void twist(Point centre, double radians, double span = 100, int steps = 5);
    // Peek and pop: the window senses firm presses; a firm press at a point.
    void setForceTouchAvailable(bool available);
    std::shared_ptr<Peek> forcePress(Point p);

    // Typing goes to the first responder one character at a time through its delegate.
    bool typeText(const std::string& text);
    bool pressBackspace(int count = 1);
    bool pressReturn();
    bool pressKey(const std::string& input, unsigned modifiers = 0);
    void shake();

    void rotate(Orientation orientation);
    void setInterfaceStyle(InterfaceStyle style);
    void setContentSizeCategory(ContentSizeCategory category);
    void sendMemoryWarning();
    // The device's clock is set by delta seconds (dates jump; timers keep their monotonic due
    // times), or its time zone changes: the significant-time-change notification follows.
    void changeSystemTime(double delta);
    void changeTimeZone(const std::string& name);
    // The user picks another region format: the current locale becomes identifier and the
    // locale-did-change notification is posted.
    void changeLocale(const std::string& identifier);
    void enterBackground();
    void enterForeground();

    // Taps the bar button item with this title (or accessibility label) in any navigation bar.
    bool tapBarButton(const std::string& title);
    bool tapBack();
    // Holds the bar button item (of a navigation bar or toolbar) down long enough to show its
    // menu.
    bool longPressBarButton(const std::string& title);
    // The titles of the menu shown from a button (see Menu::displayTitles), empty when none is.
    std::vector<std::string> presentedMenuTitles() const;
    // Chooses an action of the menu shown from a button; false when none is shown or it has no
    // such enabled action.
    bool chooseMenuAction(const std::string& title);

    // The controller shown on top: the end of the root's presentation chain.
    ViewController* topPresented();
    // The alert or action sheet shown on top, if any.
    AlertController* visibleAlert();
    // Taps the button of the shown alert's action with this title through hit-testing; false
    // when there is no such button or the tap did not reach it (a disabled action).
    bool tapAlertAction(const std::string& title);
    // Focuses the shown alert's text field by a tap and types into it.
    bool fillAlertField(size_t index, const std::string& text);

    // Taps the table row whose cell shows this text (a contact card's number, say); false when
    // no visible row shows it or the touch did not reach the cell.
    bool tapRowShowing(const std::string& text);
    // The system's contact picker shown on top: taps the contact's row (by the name it shows)
    // and, when a number is given, the row of that number on the card that opens. False when no
    // picker is on top or a row is not there.
    bool pickContact(const std::string& name, const std::optional<std::string>& number = std::nullopt);
    // The system's share sheet shown on top: taps its activity of this title ("Copy", "Save") and
    // lets the sheet close. False when no share sheet is on top or it offers no such activity.
    bool chooseShareActivity(const std::string& title);

    // Scrolls the row into view and taps its cell through hit-testing; false when the touch
    // did not reach the cell.
    bool selectRow(TableView& table, IndexPath indexPath);
    // Drags sideways across the row (all the way across for a full swipe); the titles of the
    // swipe actions showing afterwards, in order (an action that does not draw its title is
    // named by it all the same).
    std::vector<std::string> swipeRow(TableView& table, IndexPath indexPath, SwipeEdge edge, bool full = false);
    // Taps the swipe action of that title (drawn, or naming it).
    bool tapSwipeAction(const std::string& title);
    // Long-presses the row; the context menu it opened, if any.
    std::shared_ptr<ContextMenuSession> openContextMenu(TableView& table, IndexPath indexPath);
    // Drags the content by delta (the finger moves the other way), rests and lets go: the
    // content stays where the finger left it (or settles back into range).
    void scroll(ScrollView& view, Point delta);
    // Moves the finger the same way within seconds and lets go while moving: the content glides
    // on, decelerating on the clock (advance() to watch it).
    void fling(ScrollView& view, Point delta, double seconds = 0.08);
    // Pulls the content down past the refresh control's threshold and lets go.
    void pullToRefresh(ScrollView& view);
    // Scrolls the one scroll view that scrolls to the top; false when there is not exactly one.
    bool tapStatusBar();

    // A tap on an item of the shown edit menu.
    bool tapMenuItem(const std::string& title);
    // Lifts a drag from the drag interaction of view at a point of the view; none when the view
    // has no such interaction or it gives no items.
    std::shared_ptr<DragSession> beginDrag(View& view, Point pointInView);
    // Moves the session to a window point and lets go.
    DropOperation drop(DragSession& session, Point windowPoint);

    // Finders over the visible views (depth first, front-most last).
    View* find(const std::string& textOrLabel);
    View* findByTag(long tag);
    std::vector<View*> findAll(const std::string& className);

    std::string outline(const OutlineOptions& options = {});
    // Compares the outline with a golden file; returns an empty string when they match, else
    // a description of the first difference. With HX_UPDATE_GOLDENS=1 it rewrites the file.
    std::string compareOutline(const std::filesystem::path& golden, const OutlineOptions& options = {});

private:
    // The view of the bar button item with this title (or accessibility label) in a navigation
    // bar or toolbar.
    View* findBarItem(const std::string& title);
    // The virtual clock whose wall time can also jump (the device's clock set by the user or the
    // network), installed for the harness's life.
    class JumpingClock : public dispatch::VirtualClock {
    public:
        explicit JumpingClock(double wallStart) : VirtualClock(wallStart) { dispatch::setClock(this); }
        ~JumpingClock() override { dispatch::setClock(nullptr); }
        dispatch::Seconds wallNow() const override { return VirtualClock::wallNow() + jump_.load(); }
        void jump(double delta) { jump_.store(jump_.load() + delta); }

    private:
        std::atomic<double> jump_{0};
    };
    struct ClockHolder {
        explicit ClockHolder(double wallStart) : clock(wallStart) {}
        JumpingClock clock;
        JumpingClock& operator*() { return clock; }
        JumpingClock* operator->() { return &clock; }
    };
    ClockHolder clock_;
    std::unique_ptr<Window> window_;
};

}  // namespace toolkit::testing
