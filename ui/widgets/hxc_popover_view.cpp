#include "ui/widgets/hxc_popover_view.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "model/phone_extensions.h"
#include "platform/dispatch/run_loop.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/status_bar.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/window.h"

using toolkit::Color;
using toolkit::Rect;
using toolkit::Size;
using toolkit::View;
using toolkit::ViewPtr;

namespace {

constexpr double kArrow = HXCPopoverView::kArrow;
constexpr double kMargin = HXCPopoverView::kMargin;

bool semanticColours() { return toolkit::Device::current().systemVersionAtLeast(13); }

// One line of text in a font (nothing for no text).
Size lineSize(const std::string& text, const toolkit::Font& font) {
    return toolkit::textMeasurer().measure(text, font, 0, 1, toolkit::LineBreakMode::clip);
}

std::shared_ptr<toolkit::Label> makeLabel(const std::string& text, const toolkit::Font& font, const Color& colour,
                                          Size size) {
    auto label = std::make_shared<toolkit::Label>(Rect({0, 0}, size));
    label->setBackgroundColor(Color::clear());
    label->setFont(font);
    label->setTextColor(colour);
    label->setTextAlignment(toolkit::TextAlignment::center);
    label->setText(text);
    return label;
}

// The body's outline, clockwise from the top left, with the arrow in the edge its direction names.
graphics::Path outlinePath(const Rect& box, toolkit::Point a, int direction) {
    const double xMin = static_cast<float>(box.minX()), yMin = static_cast<float>(box.minY());
    const double xMax = static_cast<float>(box.maxX()), yMax = static_cast<float>(box.maxY());
    constexpr double r = HXCPopoverView::kCorner, c = 2.2;
    graphics::Path p;
    p.moveTo({xMin, yMin + r});
    p.curveTo({xMin, yMin + c}, {xMin + c, yMin}, {xMin + r, yMin});
    if (direction == 0) {
        p.lineTo({a.x - kArrow, yMin});
        p.curveTo({a.x - 10, yMin}, a, a);
        p.curveTo(a, {a.x + 10, yMin}, {a.x + kArrow, yMin});
    }
    p.lineTo({xMax - r, yMin});
    p.curveTo({xMax - c, yMin}, {xMax, yMin + c}, {xMax, yMin + r});
    if (direction == 3) {
        p.lineTo({xMax, a.y - kArrow});
        p.curveTo({xMax, a.y - 10}, a, a);
        p.curveTo(a, {xMax, a.y + 10}, {xMax, a.y + kArrow});
    }
    p.lineTo({xMax, yMax - r});
    p.curveTo({xMax, yMax - c}, {xMax - c, yMax}, {xMax - r, yMax});
    if (direction == 1) {
        p.lineTo({a.x + kArrow, yMax});
        p.curveTo({a.x + 10, yMax}, a, a);
        p.curveTo(a, {a.x - 10, yMax}, {a.x - kArrow, yMax});
    }
    p.lineTo({xMin + r, yMax});
    p.curveTo({xMin + c, yMax}, {xMin, yMax - c}, {xMin, yMax - r});
    if (direction == 2) {
        p.lineTo({xMin, a.y + kArrow});
        p.curveTo({xMin, a.y + 10}, a, a);
        p.curveTo(a, {xMin, a.y - 10}, {xMin, a.y - kArrow});
    }
    p.close();
    return p;
}

}  // namespace

HXCPopoverPlacement hxcPopoverPlacement(toolkit::Point p, const Rect& s, Size content) {
    // The content's size is taken in single precision, as the body's origin candidates are.
    const float cw = static_cast<float>(content.width), ch = static_cast<float>(content.height);
    const float bw = cw + 2 * kMargin, bh = ch + 2 * kMargin;
    toolkit::Point a = p;
    if (a.x + kArrow > s.width() - 19)
        a.x = s.width() - 31;
    else if (a.x - kArrow < s.minX() + 19)
        a.x = s.minX() + 31;
    if (a.y + kArrow > s.height() - 19)
        a.y = s.height() - 31;
    else if (a.y - kArrow < 19)
        a.y = 31;

    float x = std::floor(static_cast<float>(a.x) - bw / 2);
    float y = std::floor(static_cast<float>(a.y) - bh / 2);
    if (s.minX() + 10 > x)
        x = static_cast<float>(s.minX() + 10);
    else if (s.maxX() - 10 < x + bw)
        x = static_cast<float>(s.width() - 10 - bw);
    if (s.minY() + 40 > y)
        y = static_cast<float>(s.minY() + 40);
    else if (s.maxY() - 10 < y + bh)
        y = static_cast<float>(s.maxY() - bh);

    HXCPopoverPlacement out;
    if (p.y + bh + kArrow < s.maxY()) {
        out.direction = 0;
        out.box = Rect(x, a.y + kArrow, bw, bh);
    } else if (p.y - ch - kArrow - 40 >= s.minY()) {
        out.direction = 1;
        out.box = Rect(x, a.y - kArrow - bh, bw, bh);
    } else if (p.x + kArrow + bw + 10 < s.maxX()) {
        out.direction = 2;
        out.box = Rect(a.x + kArrow, y, bw, bh);
    } else if (p.x - kArrow - bw >= s.minX()) {
        out.direction = 3;
        out.box = Rect(a.x - kArrow - bw, y, bw, bh);
    } else {
        out.direction = 2;
        out.box = Rect(s.maxX() - bw, y, bw, bh);
        a.x = s.maxX() - kArrow - bw;
    }
    if (out.direction >= 2 && a.y < out.box.minY() + 16) {
        if (out.box.minY() > 0) out.box.origin.y = std::max(a.y - 16, 0.0);
        if (a.y < out.box.minY() + 16) a.y = out.box.minY() + 16;
    }
    out.arrow = a;
    return out;
}

HXCPopoverView::HXCPopoverView() : View(Rect()) {
    setBackgroundColor(Color::clear());
    setOpaque(false);
    setTintAdjustmentMode(toolkit::TintAdjustmentMode::Normal);
}

HXCPopoverView::~HXCPopoverView() { dispatch::RunLoop::main().cancelPerforms(this); }

// ---- class operations

namespace {

template <class Show>
std::shared_ptr<HXCPopoverView> makeShown(HXCPopoverView::Delegate delegate, Show show) {
    auto popover = std::make_shared<HXCPopoverView>();
    popover->setDelegate(std::move(delegate));
    return show(*popover) ? popover : nullptr;
}

}  // namespace

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithText(Point point, View& view, const std::string& text,
                                                                    Delegate delegate) {
    return makeShown(std::move(delegate), [&](HXCPopoverView& p) { return p.showWithText(point, view, text); });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithTitleText(Point point, View& view,
                                                                         const std::string& title,
                                                                         const std::string& text, Delegate delegate) {
    return makeShown(std::move(delegate),
                     [&](HXCPopoverView& p) { return p.showWithTitleText(point, view, title, text); });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithViews(Point point, View& view, Views views,
                                                                     Delegate delegate) {
    return makeShown(std::move(delegate),
                     [&](HXCPopoverView& p) { return p.showWithViews(point, view, std::move(views)); });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithTitleViews(Point point, View& view,
                                                                          const std::string& title, Views views,
                                                                          Delegate delegate) {
    return makeShown(std::move(delegate),
                     [&](HXCPopoverView& p) { return p.showWithTitleViews(point, view, title, std::move(views)); });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithStrings(Point point, View& view, const Strings& strings,
                                                                       Delegate delegate) {
    return makeShown(std::move(delegate), [&](HXCPopoverView& p) { return p.showWithStrings(point, view, strings); });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithTitleStrings(Point point, View& view,
                                                                            const std::string& title,
                                                                            const Strings& strings, Delegate delegate) {
    return makeShown(std::move(delegate),
                     [&](HXCPopoverView& p) { return p.showWithTitleStrings(point, view, title, strings); });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithStringsImages(Point point, View& view,
                                                                             const Strings& strings,
                                                                             const Images& images, Delegate delegate) {
    return makeShown(std::move(delegate),
                     [&](HXCPopoverView& p) { return p.showWithStringsImages(point, view, strings, images); });
}

std::shared_ptr<HXCPopoverView>
HXCPopoverView::showPopoverWithTitleStringsImages(Point point, View& view, const std::string& title,
                                                  const Strings& strings, const Images& images, Delegate delegate) {
    return makeShown(std::move(delegate), [&](HXCPopoverView& p) {
        return p.showWithTitleStringsImages(point, view, title, strings, images);
    });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithTitleContentView(Point point, View& view,
                                                                                const std::string& title,
                                                                                ViewPtr content, Delegate delegate) {
    return makeShown(std::move(delegate), [&](HXCPopoverView& p) {
        return p.showWithTitleContentView(point, view, title, std::move(content));
    });
}

std::shared_ptr<HXCPopoverView> HXCPopoverView::showPopoverWithContentView(Point point, View& view, ViewPtr content,
                                                                           Delegate delegate) {
    return makeShown(std::move(delegate),
                     [&](HXCPopoverView& p) { return p.showWithContentView(point, view, std::move(content)); });
}

// ---- fonts and sizes

toolkit::Font HXCPopoverView::itemFont() { return toolkit::Font::system(toolkit::Device::current().isPad() ? 18 : 16); }

toolkit::Font HXCPopoverView::titleFont() { return toolkit::Font::boldSystem(16); }

Color HXCPopoverView::itemColor() { return Color::rgb(0.0, 0.349, 0.792, 1); }

Size HXCPopoverView::screenSize() {
    Size size = toolkit::Device::current().screen().bounds().size;
    if (auto* window = toolkit::Window::keyWindow()) {
        const Rect bar = toolkit::statusBarFrame(*window);
        if (!bar.isEmpty()) size.height -= std::min(bar.width(), bar.height());
    }
    return size;
}

// ---- content builders

bool HXCPopoverView::showWithText(Point point, View& view, const std::string& text) {
    const toolkit::Font font = itemFont();
    const Size size =
        toolkit::textMeasurer().measure(text, font, screenSize().width - 40, 0, toolkit::LineBreakMode::wordWrap);
    auto label = makeLabel(text, font, itemColor(), {size.width, std::min(size.height, 1000.0)});
    label->setNumberOfLines(0);
    return showWithViews(point, view, {label});
}

bool HXCPopoverView::showWithTitleText(Point point, View& view, const std::string& title, const std::string& text) {
    const toolkit::Font font = itemFont();
    const Size size =
        toolkit::textMeasurer().measure(text, font, screenSize().width - 40, 0, toolkit::LineBreakMode::wordWrap);
    auto label = makeLabel(text, font, itemColor(), {size.width, std::min(size.height, 1000.0)});
    label->setNumberOfLines(0);
    return showWithTitleViews(point, view, title, {label});
}

std::shared_ptr<toolkit::Button> HXCPopoverView::makeButton(const std::string& title, bool fitted) {
    const toolkit::Font font = itemFont();
    const Size text = lineSize(title, font);
    auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::Custom);
    button->setFrame(fitted ? Rect(0, 0, text.width, text.height) : Rect(0, 0, text.width + 24, text.height + 8));
    button->setBackgroundColor(Color::clear());
    button->titleLabel()->setFont(font);
    button->titleLabel()->setTextAlignment(toolkit::TextAlignment::center);
    button->setTitle(title, toolkit::kStateNormal);
    button->layer().cornerRadius = kCorner;
    std::weak_ptr<HXCPopoverView> weak = weakPopover();
    button->addAction(
        [weak](toolkit::Control& sender, const toolkit::Event*) {
            if (auto self = weak.lock()) self->didTapButton(sender);
        },
        toolkit::kTouchUpInside);
    return button;
}

bool HXCPopoverView::showWithStrings(Point point, View& view, const Strings& strings) {
    if (strings.empty()) return false;
    const std::string destructive = PhoneExtensions::localizedString("Delete");
    Views buttons;
    double widest = 0;
    for (const auto& s : strings) {
        auto button = makeButton(s, false);
        if (semanticColours()) {
            button->setTitleColor(s == destructive ? Color::systemRed() : Color::systemBlue(), toolkit::kStateNormal);
            button->setTitleColor(Color::label(), toolkit::kStateHighlighted);
        } else {
            button->setTitleColor(s == destructive ? Color::red() : itemColor(), toolkit::kStateNormal);
            button->setTitleColor(Color::black(), toolkit::kStateHighlighted);
        }
        widest = std::max(widest, button->frame().width());
        buttons.push_back(button);
    }
    for (auto& b : buttons) b->setFrame(Rect(0, 0, widest, b->frame().height()));
    return showWithViews(point, view, std::move(buttons));
}

bool HXCPopoverView::showWithTitleStrings(Point point, View& view, const std::string& title, const Strings& strings) {
    if (strings.empty()) return false;
    Views buttons;
    for (const auto& s : strings) {
        auto button = makeButton(s, true);
        button->titleLabel()->setTextColor(itemColor());
        button->setTitleColor(itemColor(), toolkit::kStateNormal);
        button->setTitleColor(Color::black(), toolkit::kStateHighlighted);
        buttons.push_back(button);
    }
    return showWithTitleViews(point, view, title, std::move(buttons));
}

bool HXCPopoverView::showWithStringsImages(Point point, View& view, const Strings& strings, const Images& images) {
    return showWithViews(point, view, makeTempViews(strings, images));
}

bool HXCPopoverView::showWithTitleStringsImages(Point point, View& view, const std::string& title,
                                                const Strings& strings, const Images& images) {
    return showWithTitleViews(point, view, title, makeTempViews(strings, images));
}

HXCPopoverView::Views HXCPopoverView::makeTempViews(const Strings& strings, const Images& images) const {
    Views views;
    const toolkit::Font font = itemFont();
    for (size_t i = 0; i < strings.size(); ++i) {
        auto label = makeLabel(strings[i], font, itemColor(), lineSize(strings[i], font));
        label->layer().cornerRadius = kCorner;
        // A string without its image (too few given, or none) shows its text alone.
        const toolkit::ImagePtr image = i < images.size() ? images[i] : nullptr;
        const Size imageSize = image ? image->size() : Size{};
        const Size labelSize = label->frame().size;
        const double w = std::max(imageSize.width, labelSize.width);
        auto item = View::make(Rect(0, 0, w, imageSize.height + labelSize.height + 6));
        if (image) {
            auto imageView = std::make_shared<toolkit::ImageView>(image);
            imageView->setFrame(Rect(std::floor(w / 2 - imageSize.width / 2), 3, imageSize.width, imageSize.height));
            item->addSubview(imageView);
        }
        label->setFrame(
            Rect(std::floor(w / 2 - labelSize.width / 2), imageSize.height + 6, labelSize.width, labelSize.height));
        item->addSubview(label);
        views.push_back(item);
    }
    return views;
}

void HXCPopoverView::stackItems(Views& views, double top, double widest) {
    dividerRects_.clear();
    for (size_t i = 0; i < views.size(); ++i) {
        auto& item = views[i];
        Rect f = item->frame();
        if (item->autoresizingMask() == toolkit::kFlexibleWidth)
            f.size.width = widest;
        else
            f.origin.x = std::floor(boxFrame_.minX() + widest / 2 - f.width() / 2);
        f.origin.y = top;
        item->setFrame(f);
        top += f.height() + kSpacing;
        if (i + 1 < views.size())
            dividerRects_.push_back(Rect(f.minX(), std::floor(f.minY() + f.height() + 5), f.width(), 0.5));
    }
}

bool HXCPopoverView::showWithViews(Point point, View& view, Views views) {
    if (views.empty() || std::any_of(views.begin(), views.end(), [](const ViewPtr& v) { return !v; })) return false;
    double y = 0, widest = 0;
    for (size_t i = 0; i < views.size(); ++i) {
        y += views[i]->frame().height() + (i + 1 < views.size() ? kSpacing : 0);
        widest = std::max(widest, views[i]->frame().width());
    }
    auto container = View::make(Rect(0, 0, widest, y));
    container->setBackgroundColor(Color::clear());
    container->setOpaque(false);
    stackItems(views, 0, widest);
    for (auto& v : views) container->addSubview(v);
    subviewsArray_ = std::move(views);
    return showWithContentView(point, view, container);
}

bool HXCPopoverView::showWithTitleViews(Point point, View& view, const std::string& title, Views views) {
    if (views.empty() || std::any_of(views.begin(), views.end(), [](const ViewPtr& v) { return !v; })) return false;
    const Size titleSize = lineSize(title, titleFont());
    auto label = makeLabel(title, titleFont(), Color::rgb(0.329, 0.341, 0.353, 1), titleSize);
    const double top = titleSize.height + kSpacing + (titleSize.height > 0 ? kMargin : 0);
    double y = top, widest = titleSize.width;
    for (size_t i = 0; i < views.size(); ++i) {
        y += views[i]->frame().height() + (i + 1 < views.size() ? kSpacing : 0);
        widest = std::max(widest, views[i]->frame().width());
    }
    auto container = View::make(Rect(0, 0, widest, y));
    container->setBackgroundColor(Color::clear());
    container->setOpaque(false);
    stackItems(views, top, widest);
    for (auto& v : views) container->addSubview(v);
    label->setFrame(Rect(std::floor(widest / 2 - titleSize.width / 2), 0, titleSize.width, titleSize.height));
    container->addSubview(label);
    if (titleSize.height > 0) titleView_ = label;
    subviewsArray_ = std::move(views);
    return showWithContentView(point, view, container);
}

bool HXCPopoverView::showWithTitleContentView(Point point, View& view, const std::string& title, ViewPtr content) {
    return showWithTitleViews(point, view, title, {std::move(content)});
}

// ---- showing and placing

bool HXCPopoverView::showWithContentView(Point point, View& view, ViewPtr content) {
    auto* window = toolkit::Window::keyWindow();
    if (!content || !window || window->subviews().empty() || superview()) return false;
    contentView_ = std::move(content);
    parentView_ = view.self();
    topView_ = window->subviews().back();
    shownOrientation_ = window->profile().orientation;
    setupLayout(point, view);
    setUserInteractionEnabled(false);
    setAlpha(0);
    setTransform(toolkit::AffineTransform::scale(0.1, 0.1));
    std::weak_ptr<HXCPopoverView> weak = weakPopover();
    toolkit::animate(
        0.2,
        [this] {
            setAlpha(1);
            setTransform(toolkit::AffineTransform::scale(1.05, 1.05));
            if (auto top = topView_.lock()) top->setTintAdjustmentMode(toolkit::TintAdjustmentMode::Dimmed);
        },
        [weak](bool) {
            auto self = weak.lock();
            if (!self || self->dismissing_) return;
            toolkit::animate(
                0.08, [self] { self->setTransform(toolkit::AffineTransform::identity()); },
                [weak](bool) {
                    if (auto self = weak.lock(); self && !self->dismissing_) self->appeared();
                });
        });
    return true;
}

void HXCPopoverView::appeared() {
    std::weak_ptr<HXCPopoverView> weak = weakPopover();
    auto action = [weak](toolkit::GestureRecognizer& r) {
        if (auto self = weak.lock()) self->tapped(r);
    };
    auto tap = std::make_shared<toolkit::TapGestureRecognizer>(action);
    tap->setCancelsTouchesInView(false);
    addGestureRecognizer(tap);
    auto d = delegate_.lock();
    if (d && d->respondsToLongPress()) {
        auto hold = std::make_shared<toolkit::LongPressGestureRecognizer>(action);
        hold->minimumPressDuration = kLongPress;
        // Once the press is recognised the item's button loses the touch, so that lifting the
        // finger does not choose the item as well.
        hold->setCancelsTouchesInView(true);
        addGestureRecognizer(hold);
    }
    setUserInteractionEnabled(true);
    shown_ = true;
}

void HXCPopoverView::setupLayout(Point point, View& view) {
    auto top = topView_.lock();
    if (!top || !contentView_) return;
    Rect s = top->safeAreaLayoutFrame();
    s.origin.y = 0;
    const Point p = view.convertPointTo(point, top.get());
    const HXCPopoverPlacement placed = hxcPopoverPlacement(p, s, contentView_->frame().size);
    boxFrame_ = placed.box;
    arrowPoint_ = placed.arrow;
    arrowDirection_ = placed.direction;
    const Size content = contentView_->frame().size;
    contentView_->setFrame(Rect(boxFrame_.minX() + kMargin, boxFrame_.minY() + kMargin,
                                static_cast<float>(content.width), static_cast<float>(content.height)));
    const Rect topBounds = top->bounds();
    setAnchorPoint({arrowPoint_.x / topBounds.width(), s.height() > 0 ? arrowPoint_.y / s.height() : 0.5});
    const toolkit::AffineTransform kept = transform();
    setTransform(toolkit::AffineTransform::identity());
    setFrame(topBounds.offsetBy(s.minX(), 0));
    setTransform(kept);
    setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    setNeedsDisplay();
    if (contentView_->superview() != this) addSubview(contentView_);
    if (superview() != top.get()) top->addSubview(self());
}

void HXCPopoverView::layoutAtPoint(Point point, View& view) {
    setAlpha(0);
    setupLayout(point, view);
    toolkit::animate(0.2, [this] { setAlpha(1); });
}

void HXCPopoverView::animateRotationToNewPoint(Point point, View& view, double duration) {
    (void)duration;
    layoutAtPoint(point, view);
}

void HXCPopoverView::layoutSubviews() {
    View::layoutSubviews();
    // A rotation of the screen under it closes the popover.
    auto* w = window();
    if (w && shownOrientation_ && w->profile().orientation != *shownOrientation_ && !dismissing_) {
        shownOrientation_.reset();
        std::weak_ptr<HXCPopoverView> weak = weakPopover();
        dispatch::RunLoop::main().performAtNextTurn([weak] {
            if (auto self = weak.lock()) self->dismiss(true);
        });
    }
}

// ---- touches

void HXCPopoverView::tapped(toolkit::GestureRecognizer& recognizer) {
    const bool hold = dynamic_cast<toolkit::LongPressGestureRecognizer*>(&recognizer) != nullptr;
    if (hold && recognizer.state() != toolkit::GestureState::Began) return;
    if (!contentView_ || dismissing_) return;
    const Point p = recognizer.locationInView(contentView_.get());
    long hit = -1;
    for (size_t i = 0; i < subviewsArray_.size(); ++i)
        if (subviewsArray_[i]->frame().contains(p)) {
            hit = static_cast<long>(i);
            break;
        }
    if (hit < 0) {
        if (!contentView_->bounds().contains(p)) dismiss(true);
        return;
    }
    auto d = delegate_.lock();
    if (hold) {
        if (d && d->respondsToLongPress()) d->popoverViewLongPressForItemAtIndex(*this, hit);
        return;
    }
    if (dynamic_cast<toolkit::Button*>(subviewsArray_[static_cast<size_t>(hit)].get())) return;
    if (d) d->popoverViewDidSelectItemAtIndex(*this, hit);
}

void HXCPopoverView::didTapButton(toolkit::Control& button) {
    if (dismissing_) return;
    for (size_t i = 0; i < subviewsArray_.size(); ++i)
        if (subviewsArray_[i].get() == &button) {
            if (auto d = delegate_.lock()) d->popoverViewDidSelectItemAtIndex(*this, static_cast<long>(i));
            return;
        }
}

// ---- other states

void HXCPopoverView::hideItems(double duration) {
    if (!subviewsArray_.empty())
        toolkit::animate(duration, [this] {
            for (auto& v : subviewsArray_) v->setAlpha(0);
        });
    if (showDividerRects_) {
        showDividerRects_ = false;
        setNeedsDisplay();
    }
}

void HXCPopoverView::showActivityIndicatorWithMessage(const std::string& message) {
    if (auto* title = dynamic_cast<toolkit::Label*>(titleView_.get())) title->setText(message);
    hideItems(0.2);
    if (activityIndicator_) activityIndicator_->removeFromSuperview();
    if (!contentView_) return;
    const Rect b = contentView_->bounds();
    activityIndicator_ = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::Gray);
    activityIndicator_->setFrame(Rect(b.midX() - 10, b.midY() + 10, 20, 20));
    contentView_->addSubview(activityIndicator_);
    activityIndicator_->startAnimating();
}

void HXCPopoverView::hideActivityIndicatorWithMessage(const std::string& message) {
    if (auto* title = dynamic_cast<toolkit::Label*>(titleView_.get())) title->setText(message);
    auto indicator = std::exchange(activityIndicator_, nullptr);
    if (!indicator) return;
    indicator->stopAnimating();
    toolkit::animate(
        0.1, [indicator] { indicator->setAlpha(0); }, [indicator](bool) { indicator->removeFromSuperview(); });
}

void HXCPopoverView::showPicture(toolkit::ImagePtr image, std::optional<Rect> frame, double duration,
                                 const std::optional<std::string>& message) {
    if (!contentView_ || !image) return;
    const Rect b = contentView_->bounds();
    const double titled = titleView_ ? 20 : 0;
    const Size size = image->size();
    auto imageView = std::make_shared<toolkit::ImageView>(image);
    imageView->setFrame(frame.value_or(Rect(std::floor(b.midX() - size.width / 2),
                                            std::floor(b.midY() - size.height / 2 + titled), size.width, size.height)));
    if (frame) imageView->setFrame(frame->offsetBy(0, titled));
    imageView->setAlpha(0);
    imageView->setTransform(toolkit::AffineTransform::scale(0.1, 0.1));
    contentView_->addSubview(imageView);
    hideItems(duration);
    if (message)
        if (auto* title = dynamic_cast<toolkit::Label*>(titleView_.get())) title->setText(*message);
    toolkit::animate(duration, duration, toolkit::kAnimationAllowUserInteraction, [imageView] {
        imageView->setAlpha(1);
        imageView->setTransform(toolkit::AffineTransform::identity());
    });
}

void HXCPopoverView::showImage(toolkit::ImagePtr image, const std::optional<std::string>& message) {
    showPicture(std::move(image), std::nullopt, 0.2, message);
}

void HXCPopoverView::showError() {
    if (!contentView_) return;
    const Rect b = contentView_->bounds();
    showPicture(graphics::imageNamed("error"), Rect(b.midX() - 20, b.midY() - 20, 40, 40), 0.1, std::nullopt);
}

void HXCPopoverView::showSuccess() {
    if (!contentView_) return;
    const Rect b = contentView_->bounds();
    showPicture(graphics::imageNamed("success"), Rect(b.midX() - 20, b.midY() - 20, 40, 40), 0.1, std::nullopt);
}

// ---- leaving

void HXCPopoverView::dismiss(bool animated) {
    if (dismissing_ || !superview()) return;
    dismissing_ = true;
    shown_ = false;
    setUserInteractionEnabled(false);
    if (!animated) {
        dismissComplete();
        return;
    }
    std::weak_ptr<HXCPopoverView> weak = weakPopover();
    toolkit::animate(
        0.3,
        [this] {
            setAlpha(0.1);
            setTransform(toolkit::AffineTransform::scale(0.1, 0.1));
            if (auto top = topView_.lock()) top->setTintAdjustmentMode(toolkit::TintAdjustmentMode::Automatic);
        },
        [weak](bool) {
            if (auto self = weak.lock()) self->dismissComplete();
        });
}

void HXCPopoverView::dismissComplete() {
    auto keep = self();
    if (auto top = topView_.lock()) top->setTintAdjustmentMode(toolkit::TintAdjustmentMode::Automatic);
    if (auto d = delegate_.lock()) d->popoverViewDidDismiss(*this);
    removeFromSuperview();
    kept_.reset();
}

// ---- drawing

void HXCPopoverView::draw(graphics::GraphicsContext& context, const Rect& rect) {
    (void)rect;
    if (boxFrame_.isEmpty()) return;
    const bool modern = semanticColours();
    const double xMin = static_cast<float>(boxFrame_.minX()), yMin = static_cast<float>(boxFrame_.minY());
    const double xMax = static_cast<float>(boxFrame_.maxX()), yMax = static_cast<float>(boxFrame_.maxY());
    const double midX = (xMin + xMax) / 2;
    const Point a = arrowPoint_;
    const graphics::Path outline = outlinePath(boxFrame_, a, arrowDirection_);

    context.save();
    context.setShadow(
        {0, 1}, 25, modern ? Color::secondaryLabel().withAlphaComponent(0.3) : Color::black().withAlphaComponent(0.3));
    context.beginTransparencyLayer();
    context.beginPath();
    context.addPath(outline);
    context.clip();
    // The system backgrounds as they resolve for content that stands above the screen, as a
    // popover does: the same in light; lighter in dark, so that the body stays brighter than the
    // light shadow around it and its edge shows.
    static const Color secondaryElevated =
        Color::dynamic(Color::secondarySystemBackground(), Color::rgb(44 / 255.0, 44 / 255.0, 46 / 255.0, 1));
    static const Color tertiaryElevated =
        Color::dynamic(Color::tertiarySystemBackground(), Color::rgb(58 / 255.0, 58 / 255.0, 60 / 255.0, 1));
    const graphics::Gradient body =
        modern ? graphics::Gradient{{secondaryElevated, tertiaryElevated}, {0, 1}}
               : graphics::Gradient{{Color::rgb(1, 1, 1, 0.95), Color::rgb(0.96, 0.96, 0.96, 0.95)}, {0, 1}};
    context.drawLinearGradient(body, {midX, yMin - (arrowDirection_ == 0 ? kArrow : 0)},
                               {midX, yMax + (arrowDirection_ == 1 ? kArrow : 0)});
    context.endTransparencyLayer();
    context.restore();

    if (titleView_ && titleView_->frame().height() + 2 * kMargin > 0) {
        const double h = titleView_->frame().height() + 2 * kMargin;
        const double band = yMin + h;
        constexpr double r = kCorner, c = 2.2;
        graphics::Path p;
        p.moveTo({xMin, band});
        p.lineTo({xMin, yMin + r});
        p.curveTo({xMin, yMin + c}, {xMin + c, yMin}, {xMin + r, yMin});
        if (arrowDirection_ == 0) {
            p.lineTo({a.x - kArrow, yMin});
            p.curveTo({a.x - 10, yMin}, a, a);
            p.curveTo(a, {a.x + 10, yMin}, {a.x + kArrow, yMin});
        }
        p.lineTo({xMax - r, yMin});
        p.curveTo({xMax - c, yMin}, {xMax, yMin + c}, {xMax, yMin + r});
        p.lineTo({xMax, band});
        p.close();
        context.save();
        context.beginTransparencyLayer();
        context.beginPath();
        context.addPath(p);
        context.clip();
        context.drawLinearGradient(
            graphics::Gradient{{Color::rgb(1, 1, 1, 0.95), Color::rgb(0.93, 0.93, 0.93, 0.95)}, {0, 1}},
            {midX, yMin - (arrowDirection_ == 0 ? kArrow : 0)}, {midX, band});
        context.endTransparencyLayer();
        context.restore();
        context.setFillColor(Color::rgb(0.741, 0.741, 0.741, 0.5));
        context.fillRect(Rect(xMin, band, xMax - xMin, 0.5));
    }

    if (showDividerRects_ && !dividerRects_.empty() && contentView_) {
        const Point origin = contentView_->frame().origin;
        context.setFillColor(modern ? Color::systemGray2() : Color::rgb(0.329, 0.341, 0.353, 0.15));
        for (const Rect& d : dividerRects_) context.fillRect(d.offsetBy(origin.x, origin.y));
    }
}
