#include "platform/toolkit/previewing.h"

#include <algorithm>

#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {

std::vector<std::weak_ptr<PreviewingContext>>& previewingRegistry() {
    static std::vector<std::weak_ptr<PreviewingContext>> contexts;
    return contexts;
}

// The dimmed window behind a preview; a tap on it lets the preview go.
class PeekHost : public View {
public:
    explicit PeekHost(const Rect& frame) : View(frame) {
        setBackgroundColor(Color::white(0, 0.4));
        setOpaque(false);
        setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    }
    std::string className() const override { return "PeekView"; }
};

}  // namespace

PreviewingContextPtr registerPreviewing(std::weak_ptr<PreviewingDelegate> delegate,
                                        const std::shared_ptr<View>& sourceView) {
    TK_MAIN_THREAD("registerForPreviewing");
    auto context = std::make_shared<PreviewingContext>(std::move(delegate), sourceView);
    if (sourceView) context->sourceRect = sourceView->bounds();
    auto& all = previewingRegistry();
    std::erase_if(all, [](const std::weak_ptr<PreviewingContext>& w) { return w.expired(); });
    all.push_back(context);
    return context;
}

void unregisterPreviewing(const PreviewingContext* context) {
    std::erase_if(previewingRegistry(), [context](const std::weak_ptr<PreviewingContext>& w) {
        auto c = w.lock();
        return !c || c.get() == context;
    });
}

std::shared_ptr<Peek> forcePress(Window& window, Point point) {
    TK_MAIN_THREAD("forcePress");
    if (!window.windowTraits().forceTouch) return nullptr;
    View* hit = window.hitTest(point, nullptr);
    // The innermost source under the point, the one registered last first.
    for (View* v = hit; v; v = v->superview()) {
        const auto& all = previewingRegistry();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            auto context = it->lock();
            if (!context || context->sourceView().get() != v) continue;
            auto delegate = context->delegate();
            if (!delegate) continue;
            context->sourceRect = v->bounds();
            auto controller =
                delegate->previewingViewControllerForLocation(*context, v->convertPointFrom(point, nullptr));
            if (!controller) return nullptr;
            return std::make_shared<Peek>(context, controller, window);
        }
    }
    return nullptr;
}

Peek::Peek(PreviewingContextPtr context, ViewControllerPtr controller, Window& window)
    : context_(std::move(context)), controller_(std::move(controller)) {
    actions_ = controller_->previewActionItems();
    const Rect b = window.bounds();
    host_ = std::make_shared<PeekHost>(b);
    const EdgeInsets safe = window.profile().currentSafeArea();
    const double width = b.width() - 2 * kMargin;
    const double room = b.height() - safe.top - safe.bottom - 2 * kMargin;
    // The controller names the size it wants as it appears (at the room it may take), so the
    // size is read after its appearance step begins.
    ViewPtr view = controller_->view();
    view->setFrame(Rect(kMargin, safe.top + kMargin, width, room));
    controller_->beginAppearanceTransition(true, true);
    const Size wanted = controller_->preferredContentSize();
    const double height = wanted.height > 0 ? std::min(wanted.height, room) : room * 0.8;
    view->setFrame(Rect(kMargin, safe.top + kMargin + (room - height) / 2, width, height));
    savedRadius_ = view->layer().cornerRadius;
    savedClips_ = view->clipsToBounds();
    view->layer().cornerRadius = 14;
    view->setClipsToBounds(true);
    host_->addSubview(view);
    window.addSubview(host_);
    controller_->endAppearanceTransition();
}

Peek::~Peek() { dismiss(); }

void Peek::dismiss() {
    if (!host_) return;
    controller_->beginAppearanceTransition(false, true);
    if (auto v = controller_->viewIfLoaded()) {
        v->removeFromSuperview();
        v->layer().cornerRadius = savedRadius_;
        v->setClipsToBounds(savedClips_);
    }
    host_->removeFromSuperview();
    host_.reset();
    controller_->endAppearanceTransition();
}

void Peek::pop() {
    if (!host_) return;
    dismiss();
    if (auto delegate = context_->delegate()) delegate->previewingCommitViewController(*context_, controller_);
}

bool Peek::chooseAction(const std::string& title) {
    auto it = std::find_if(actions_.begin(), actions_.end(), [&](const PreviewAction& a) { return a.title == title; });
    if (!host_ || it == actions_.end()) return false;
    const PreviewAction action = *it;
    dismiss();
    if (action.handler) action.handler(action, *controller_);
    return true;
}

}  // namespace toolkit
