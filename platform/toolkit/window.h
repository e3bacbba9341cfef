// The window: the root of a view tree, as big as its screen profile, holding the root view
// controller, the traits every view inherits and the delivery of touches through hit-testing and
// gesture recognisers to views.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/toolkit/event.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/view.h"

namespace toolkit {

class ViewController;

class Window : public View {
public:
    explicit Window(const ScreenProfile& profile = Device::current().screen());
    ~Window() override;
    std::string className() const override { return "Window"; }

    // Live windows, oldest first (the layout pass visits them all).
    static const std::vector<Window*>& allWindows();
    static Window* keyWindow();
    void makeKeyAndVisible();
    bool isKeyWindow() const { return keyWindow() == this; }

    const ScreenProfile& profile() const { return profile_; }
    // Rotation or a different screen: the frame follows, traits change, everything re-lays out.
    void setProfile(const ScreenProfile& profile);
    TraitCollection windowTraits() const;
    // What views outside any window see: the device's screen and settings.
    static TraitCollection deviceTraits();
    void setInterfaceStyle(InterfaceStyle style);
    void setContentSizeCategory(ContentSizeCategory category);
    // Whether the screen senses how firmly it is pressed (the trait forceTouch).
    void setForceTouchAvailable(bool available);

    const std::shared_ptr<ViewController>& rootViewController() const { return root_; }
    void setRootViewController(std::shared_ptr<ViewController> controller);

    // Touch input in window coordinates. Ids name the touches of one sequence.
    std::vector<int> touchesDown(const std::vector<Point>& points);
    int touchDown(Point p) { return touchesDown({p}).front(); }
    void touchesMove(const std::map<int, Point>& moves);
    void touchMove(int id, Point p) { touchesMove({{id, p}}); }
    void touchesUp(const std::vector<int>& ids);
    void touchUp(int id) { touchesUp({id}); }
    void cancelAllTouches();
    // Gesture recognisers call this when they take a touch sequence over.
    void cancelTouchesForViews(const std::vector<std::shared_ptr<Touch>>& touches);

    Responder* nextResponder() const override { return nullptr; }
    // The keyboard stays in front of what is added after it.
    void didAddSubview(View* view) override;

private:
    void applyTraits(const TraitCollection& before);
    void deliver(TouchPhase phase, const std::vector<std::shared_ptr<Touch>>& touches);

    ScreenProfile profile_;
    std::shared_ptr<ViewController> root_;
    std::optional<InterfaceStyle> style_;
    std::optional<ContentSizeCategory> contentSize_;
    bool forceTouch_ = false;
    std::map<int, std::shared_ptr<Touch>> active_;
    // Touches that began while a menu showed: the menu's, not the views'.
    std::set<int> menuTouches_;
    // Touches that began on the edit menu's bar.
    std::set<int> editMenuTouches_;
    int nextTouch_ = 1;
};

// A shake of the device: the first responder (else the window's root controller) hears the
// motion begin and end.
void deliverShake(Window& window);
// A memory warning: every controller of the window hears it (children and presented controllers
// included), then the process-wide notification is posted.
void deliverMemoryWarning(Window& window);

}  // namespace toolkit
