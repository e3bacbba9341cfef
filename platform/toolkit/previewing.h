// Peek and pop: a controller registers a source view with a delegate; a firm press (force touch,
// where the window's traits offer it) over the source asks the delegate for a controller to
// preview at that point. The preview shows over the dimmed window with the actions the previewed
// controller offers; pressing on pops it (the delegate commits it, usually with a push), lifting
// the finger or choosing an action lets it go.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit/geometry.h"

namespace toolkit {

class View;
class ViewController;
class Window;
class PreviewingContext;
using ViewControllerPtr = std::shared_ptr<ViewController>;

enum class PreviewActionStyle { Default, Selected, Destructive };

struct PreviewAction {
    using Handler = std::function<void(const PreviewAction& action, ViewController& previewed)>;
    std::string title;
    PreviewActionStyle style = PreviewActionStyle::Default;
    Handler handler;
};

class PreviewingDelegate {
public:
    virtual ~PreviewingDelegate() = default;
    // The controller to preview for a press at location (in the source view's coordinates), or
    // none; it may set the context's sourceRect, the part of the source the preview grows from.
    virtual ViewControllerPtr previewingViewControllerForLocation(PreviewingContext& context, Point location) = 0;
    virtual void previewingCommitViewController(PreviewingContext& context, const ViewControllerPtr& controller) = 0;
};

class PreviewingContext {
public:
    PreviewingContext(std::weak_ptr<PreviewingDelegate> delegate, std::weak_ptr<View> sourceView)
        : delegate_(std::move(delegate)), source_(std::move(sourceView)) {}
    std::shared_ptr<View> sourceView() const { return source_.lock(); }
    std::shared_ptr<PreviewingDelegate> delegate() const { return delegate_.lock(); }
    Rect sourceRect;

private:
    std::weak_ptr<PreviewingDelegate> delegate_;
    std::weak_ptr<View> source_;
};
using PreviewingContextPtr = std::shared_ptr<PreviewingContext>;

// A preview on screen.
class Peek {
public:
    Peek(PreviewingContextPtr context, ViewControllerPtr controller, Window& window);
    ~Peek();
    Peek(const Peek&) = delete;
    Peek& operator=(const Peek&) = delete;

    ViewController& controller() const { return *controller_; }
    PreviewingContext& context() const { return *context_; }
    bool isShowing() const { return host_ != nullptr; }
    // The previewed controller's actions, as offered when the peek began.
    const std::vector<PreviewAction>& actions() const { return actions_; }
    // Pressing on: the preview goes and the delegate commits the controller.
    void pop();
    // The finger lifted: the preview goes.
    void dismiss();
    // The preview goes, then the action's handler runs; false when no action has the title.
    bool chooseAction(const std::string& title);

    static constexpr double kMargin = 16;

private:
    PreviewingContextPtr context_;
    ViewControllerPtr controller_;
    std::shared_ptr<View> host_;
    std::vector<PreviewAction> actions_;
    double savedRadius_ = 0;
    bool savedClips_ = false;
};

// Registration, kept by the registering controller.
PreviewingContextPtr registerPreviewing(std::weak_ptr<PreviewingDelegate> delegate,
                                        const std::shared_ptr<View>& sourceView);
void unregisterPreviewing(const PreviewingContext* context);

// A firm press at a point of the window: the innermost registered source view under the point
// is asked for a preview. None when the window has no force touch, no source is under the point
// or the delegate offers nothing.
std::shared_ptr<Peek> forcePress(Window& window, Point point);

}  // namespace toolkit
