#include "ui/help/vc_progress.h"

#include "platform/toolkit/traits.h"
#include "platform/toolkit/view.h"

namespace {
constexpr double kBoxWidth = 200;
constexpr double kBoxHeight = 110;
}  // namespace

VC_Progress::VC_Progress(std::string statusText) : initialText_(std::move(statusText)) {}

void VC_Progress::loadView() {
    // The overlay dims what it covers and takes its touches; the box in the middle holds the
    // spinner and the status line and stays centred whatever size the host gives the overlay.
    auto view = std::make_shared<toolkit::View>(toolkit::Device::current().screen().bounds());
    view->setBackgroundColor(toolkit::Color::white(0, 0.4));
    view->setOpaque(false);
    view->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);

    const toolkit::Rect bounds = view->bounds();
    auto box = std::make_shared<toolkit::View>(toolkit::Rect{
        {(bounds.size.width - kBoxWidth) / 2, (bounds.size.height - kBoxHeight) / 2}, {kBoxWidth, kBoxHeight}});
    box->setBackgroundColor(toolkit::Color::white(0, 0.75));
    box->layer().cornerRadius = 10;
    box->setAutoresizingMask(toolkit::kFlexibleLeftMargin | toolkit::kFlexibleRightMargin |
                             toolkit::kFlexibleTopMargin | toolkit::kFlexibleBottomMargin);

    auto spinner = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::WhiteLarge);
    spinner->setFrame({{(kBoxWidth - 37) / 2, 18}, {37, 37}});
    box->addSubview(spinner);

    auto label = std::make_shared<toolkit::Label>(toolkit::Rect{{8, 68}, {kBoxWidth - 16, 24}});
    label->setTextColor(toolkit::Color::whiteColor());
    label->setFont(toolkit::Font::boldSystem(15));
    label->setTextAlignment(toolkit::TextAlignment::center);
    label->setAdjustsFontSizeToFitWidth(true);
    label->setMinimumScaleFactor(0.6);
    label->setText(initialText_);
    box->addSubview(label);

    view->addSubview(box);
    activityView_ = spinner;
    statusText_ = label;
    setView(view);
}

void VC_Progress::viewDidLoad() {
    if (auto spinner = activityView()) spinner->startAnimating();
}

void VC_Progress::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    if (auto spinner = activityView()) spinner->stopAnimating();
}
