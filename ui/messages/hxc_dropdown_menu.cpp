#include "ui/messages/hxc_dropdown_menu.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/graphics_context.h"
#include "platform/graphics/screen_scale.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/window.h"

using namespace toolkit;

namespace {
constexpr double kMenuDefaultRowHeight = 44;
constexpr double kIndicatorInset = 8;
constexpr double kButtonPadding = 8;
constexpr double kIndicatorGap = 4;
constexpr double kSelectionDuration = 0.25;
constexpr double kSeparatorWidth = 0.5;

bool clipsOrTruncates(LineBreakMode m) {
    return m == LineBreakMode::clip || m == LineBreakMode::truncateHead || m == LineBreakMode::truncateTail ||
           m == LineBreakMode::truncateMiddle;
}
}  // namespace

// ---- Component button

HXCDropdownMenuComponentButton::HXCDropdownMenuComponentButton() : Button(ButtonType::Custom) {
    setClipsToBounds(true);
    container_ = std::make_shared<View>(bounds());
    container_->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    container_->setHidden(true);
    addSubview(container_);
    indicator_ = std::make_shared<ImageView>();
    addSubview(indicator_);
    setDisclosureIndicatorImage(nullptr);
}

ImagePtr HXCDropdownMenuComponentButton::defaultDisclosureIndicatorImage() {
    static ImagePtr image = [] {
        graphics::beginImageContext({8, 8}, false, graphics::mainScreenScale());
        ImagePtr made;
        if (auto* c = graphics::currentContext()) {
            c->setFillColor(Color::black());
            c->beginPath();
            c->moveTo({0, 1.072});
            c->lineTo({8, 1.072});
            c->lineTo({4, 8});
            c->closePath();
            c->fillPath();
            made = graphics::imageFromCurrentImageContext();
        }
        graphics::endImageContext();
        if (!made) made = makeImage("", {8, 8});
        return made->withRenderingMode(RenderingMode::alwaysTemplate)->withName("disclosure-triangle", false);
    }();
    return image;
}

std::shared_ptr<View> HXCDropdownMenuComponentButton::currentCustomView() const {
    return hxc_currentCustomView(*container_);
}

void HXCDropdownMenuComponentButton::setTextAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    contentHorizontalAlignment = alignment == TextAlignment::left    ? ContentHorizontalAlignment::Left
                                 : alignment == TextAlignment::right ? ContentHorizontalAlignment::Right
                                                                     : ContentHorizontalAlignment::Center;
    setNeedsLayout();
}

void HXCDropdownMenuComponentButton::setCustomView(std::shared_ptr<View> view) {
    hxc_replaceCustomView(*container_, view);
    container_->setHidden(false);
    accessibility().label = view ? view->accessibilityLabel() : std::string();
    Button::setAttributedTitle(std::nullopt, kStateNormal);
    Button::setAttributedTitle(std::nullopt, kStateSelected);
    Button::setAttributedTitle(std::nullopt, kStateSelected | kStateHighlighted);
}

void HXCDropdownMenuComponentButton::setAttributedTitle(std::optional<AttributedString> title,
                                                        std::optional<AttributedString> selectedTitle) {
    bool hasTitle = title.has_value();
    Button::setAttributedTitle(std::move(title), kStateNormal);
    Button::setAttributedTitle(selectedTitle, kStateSelected);
    Button::setAttributedTitle(selectedTitle, kStateSelected | kStateHighlighted);
    if (hasTitle) {
        if (auto current = currentCustomView()) current->removeFromSuperview();
        container_->setHidden(true);
    }
}

void HXCDropdownMenuComponentButton::setDisclosureIndicatorImage(ImagePtr image) {
    indicator_->setImage(image ? image : defaultDisclosureIndicatorImage());
    indicator_->sizeToFit();
    double w = indicator_->image() ? indicator_->image()->width() : 0;
    setContentEdgeInsets({0, kButtonPadding, 0, w > 0 ? kButtonPadding + w + kIndicatorGap : kButtonPadding});
    setNeedsLayout();
}

void HXCDropdownMenuComponentButton::setSelected(bool selected) {
    Button::setSelected(selected);
    indicator_->setTransform(selected ? AffineTransform::rotation(disclosureIndicatorAngle)
                                      : AffineTransform::identity());
    setBackgroundColor(selected ? selectedBackgroundColor : std::nullopt);
}

void HXCDropdownMenuComponentButton::setEnabled(bool enabled) {
    Button::setEnabled(enabled);
    indicator_->setHidden(!enabled);
}

View* HXCDropdownMenuComponentButton::hitTest(Point point, const Event* event) {
    View* hit = Button::hitTest(point, event);
    // A tap on a custom view acts on the button, unless it lands on a control of its own.
    if (hit && pointInside(point, event) && !dynamic_cast<Control*>(hit)) return this;
    return hit;
}

void HXCDropdownMenuComponentButton::layoutSubviews() {
    Button::layoutSubviews();
    Rect b = bounds();
    Size s = indicator_->image() ? indicator_->image()->size() : Size{};
    indicator_->setBounds(Rect(0, 0, s.width, s.height));
    indicator_->setCenter({b.maxX() - kIndicatorInset - s.width / 2, b.midY()});
}

// ---- Menu

std::shared_ptr<HXCDropdownMenu> HXCDropdownMenu::make(const Rect& frame) {
    auto menu = std::make_shared<HXCDropdownMenu>(frame);
    menu->setup();
    return menu;
}

HXCDropdownMenu::HXCDropdownMenu(const Rect& frame) : View(frame), contentSize_(frame.size) {}

Size HXCDropdownMenu::contentSize() const { return contentSize_; }

void HXCDropdownMenu::setup() {
    content_ = std::make_shared<HXCDropdownMenuContentViewController>();
    auto me = std::static_pointer_cast<HXCDropdownMenu>(self());
    content_->delegate = std::shared_ptr<HXCDropdownMenuContentViewControllerDelegate>(
        me, static_cast<HXCDropdownMenuContentViewControllerDelegate*>(this));
    transition_ = std::make_shared<HXCDropdownMenuTransition>(me, content_);
    transition_->duration = 0.25;
    selectedComponent_ = kNotFoundIndex;
}

void HXCDropdownMenu::setDataSource(std::weak_ptr<HXCDropdownMenuDataSource> dataSource) {
    dataSource_ = std::move(dataSource);
    if (window()) reloadAllComponents();
}

void HXCDropdownMenu::didMoveToWindow() {
    View::didMoveToWindow();
    if (window()) reloadAllComponents();
}

// ---- Appearance properties

void HXCDropdownMenu::setDropdownDropsShadow(bool on) {
    dropsShadow_ = on;
    content_->shadowView()->setHidden(!on);
    content_->tableContainerView()->setBackgroundColor(on ? Color::black() : Color::clear());
}

bool HXCDropdownMenu::dropdownBouncesScroll() const { return content_->tableView()->bounces; }
void HXCDropdownMenu::setDropdownBouncesScroll(bool on) { content_->tableView()->bounces = on; }
bool HXCDropdownMenu::dropdownShowsTopRowSeparator() const { return content_->showsTopRowSeparator(); }
void HXCDropdownMenu::setDropdownShowsTopRowSeparator(bool on) { content_->setShowsTopRowSeparator(on); }
bool HXCDropdownMenu::dropdownShowsBottomRowSeparator() const { return content_->showsBottomRowSeparator(); }
void HXCDropdownMenu::setDropdownShowsBottomRowSeparator(bool on) { content_->setShowsBottomRowSeparator(on); }
bool HXCDropdownMenu::dropdownShowsBorder() const { return content_->showsBorder(); }
void HXCDropdownMenu::setDropdownShowsBorder(bool on) { content_->setShowsBorder(on); }

double HXCDropdownMenu::backgroundDimmingOpacity() const {
    const auto& bg = content_->view()->backgroundColor();
    if (!bg) return 0;
    auto white = bg->whiteComponents();
    double alpha = bg->alpha();
    return white && white->first == 1 ? -alpha : alpha;
}

void HXCDropdownMenu::setBackgroundDimmingOpacity(double opacity) {
    content_->view()->setBackgroundColor(opacity < 0 ? Color::white(1, -opacity) : Color::white(0, opacity));
}

void HXCDropdownMenu::setComponentSeparatorColor(std::optional<Color> color) {
    componentSeparatorColor_ = std::move(color);
    updateComponentSeparators();
}

void HXCDropdownMenu::setRowSeparatorColor(std::optional<Color> color) {
    rowSeparatorColor_ = std::move(color);
    Color c = rowSeparatorColor_.value_or(hxc_defaultSeparatorColor());
    auto table = content_->tableView();
    table->setSeparatorColor(c);
    if (auto top = table->tableHeaderView()) top->setBackgroundColor(c);
    content_->borderLayer()->strokeColor = c;
}

void HXCDropdownMenu::setSpacerView(std::shared_ptr<View> view) {
    spacerView_ = std::move(view);
    content_->insertSeparatorView(spacerView_);
}

Point HXCDropdownMenu::spacerViewOffset() const { return content_->separatorViewOffset(); }
void HXCDropdownMenu::setSpacerViewOffset(Point offset) { content_->setSeparatorViewOffset(offset); }

void HXCDropdownMenu::setSelectedComponentBackgroundColor(std::optional<Color> color) {
    selectedBackground_ = std::move(color);
    updateButtons();
}

Color HXCDropdownMenu::dropdownBackgroundColor() const {
    return content_->tableView()->backgroundColor().value_or(Color::whiteColor());
}
void HXCDropdownMenu::setDropdownBackgroundColor(const Color& color) {
    content_->tableView()->setBackgroundColor(color);
}

void HXCDropdownMenu::setDisclosureIndicatorImage(ImagePtr image) {
    indicatorImage_ = std::move(image);
    updateButtons();
}

void HXCDropdownMenu::setDisclosureIndicatorSelectionRotation(double radians) {
    indicatorRotation_ = radians;
    updateButtons();
}

void HXCDropdownMenu::setComponentLineBreakMode(LineBreakMode mode) {
    lineBreakMode_ = mode;
    updateButtons();
}

void HXCDropdownMenu::setComponentTextAlignment(TextAlignment alignment) {
    componentAlignment_ = alignment;
    updateButtons();
}

TextAlignment HXCDropdownMenu::rowTextAlignment() const { return content_->textAlignment; }
void HXCDropdownMenu::setRowTextAlignment(TextAlignment alignment) {
    content_->textAlignment = alignment;
    content_->tableView()->reloadData();
}

double HXCDropdownMenu::dropdownCornerRadius() const { return content_->cornerRadius; }
void HXCDropdownMenu::setDropdownCornerRadius(double radius) {
    content_->cornerRadius = radius;
    content_->updateMask();
}
unsigned HXCDropdownMenu::dropdownRoundedCorners() const { return content_->roundedCorners; }
void HXCDropdownMenu::setDropdownRoundedCorners(unsigned corners) {
    content_->roundedCorners = corners;
    content_->updateMask();
}

// ---- Components

long HXCDropdownMenu::numberOfRowsInComponent(long component) const {
    if (component < 0 || component >= numberOfComponents()) return 0;
    return components_[static_cast<size_t>(component)];
}

void HXCDropdownMenu::setupComponents() {
    auto ds = dataSource();
    if (!ds) return;
    long n = std::max(0L, ds->numberOfComponentsInDropdownMenu(*this));
    components_.clear();
    selectedRows_.clear();
    for (long i = 0; i < n; ++i) {
        components_.push_back(ds->numberOfRowsInComponent(*this, i));
        selectedRows_.emplace_back();
        if (static_cast<long>(buttons_.size()) <= i) {
            auto b = std::make_shared<HXCDropdownMenuComponentButton>();
            addSubview(b);
            std::weak_ptr<HXCDropdownMenu> weak = std::static_pointer_cast<HXCDropdownMenu>(self());
            b->addAction(
                [weak](Control& sender, const Event*) {
                    if (auto m = weak.lock()) m->selectedComponent(&sender);
                },
                kTouchUpInside);
            buttons_.push_back(b);
        }
        if (i < n - 1 && static_cast<long>(separators_.size()) <= i) {
            auto s = std::make_shared<View>();
            addSubview(s);
            separators_.push_back(s);
        }
    }
    while (static_cast<long>(buttons_.size()) > n) {
        buttons_.back()->removeFromSuperview();
        buttons_.pop_back();
    }
    while (static_cast<long>(separators_.size()) > std::max(0L, n - 1)) {
        separators_.back()->removeFromSuperview();
        separators_.pop_back();
    }
}

void HXCDropdownMenu::updateButton(HXCDropdownMenuComponentButton& button, long i) {
    auto d = delegate.lock();
    button.setEnabled(d ? d->enableComponent(*this, i) : true);
    button.titleLabel()->setLineBreakMode(lineBreakMode_);
    button.titleLabel()->setNumberOfLines(clipsOrTruncates(lineBreakMode_) ? 1 : 0);
    button.setTextAlignment(componentAlignment_);
    button.setDisclosureIndicatorImage(indicatorImage_);
    button.selectedBackgroundColor = selectedBackground_;
    button.disclosureIndicatorAngle = indicatorRotation_;
    std::shared_ptr<View> custom = button.currentCustomView();
    if (d)
        if (auto v = d->viewForComponent(*this, i)) custom = *v;
    if (custom) {
        button.setCustomView(custom);
        return;
    }
    std::optional<AttributedString> title = d ? d->attributedTitleForComponent(*this, i) : std::nullopt;
    // A plain title carries no attributes of its own: it shows in the title label's font and colour.
    TextAttributes plainLook;
    plainLook.font = button.titleLabel()->font();
    plainLook.color = button.titleLabel()->textColor();
    if (!title && d)
        if (auto plain = d->titleForComponent(*this, i)) title = AttributedString(*plain, plainLook);
    std::optional<AttributedString> selectedTitle;
    if (title && d) {
        selectedTitle = d->attributedTitleForSelectedComponent(*this, i);
        if (!selectedTitle)
            if (auto plain = d->titleForSelectedComponent(*this, i))
                selectedTitle = AttributedString(*plain, plainLook);
    }
    button.setAttributedTitle(title, selectedTitle);
}

void HXCDropdownMenu::updateButtons() {
    for (size_t i = 0; i < buttons_.size(); ++i) updateButton(*buttons_[i], static_cast<long>(i));
    setNeedsLayout();
}

void HXCDropdownMenu::updateComponentSeparators() {
    for (auto& s : separators_) {
        s->setBackgroundColor(componentSeparatorColor_.value_or(hxc_defaultSeparatorColor()));
        bringSubviewToFront(s.get());
    }
}

void HXCDropdownMenu::reloadAllComponents() {
    TK_MAIN_THREAD("reloadAllComponents");
    setupComponents();
    updateButtons();
    updateComponentSeparators();
    content_->updateData();
}

void HXCDropdownMenu::reloadComponent(long component) {
    auto ds = dataSource();
    if (!ds || component < 0 || component >= numberOfComponents()) return;
    components_[static_cast<size_t>(component)] = ds->numberOfRowsInComponent(*this, component);
    updateButton(*buttons_[static_cast<size_t>(component)], component);
    if (component == selectedComponent_) content_->updateData();
}

void HXCDropdownMenu::selectRow(long row, long component) {
    if (component < 0 || component >= numberOfComponents()) return;
    auto& rows = selectedRows_[static_cast<size_t>(component)];
    std::set<long> affected;
    if (!allowsMultipleRowsSelection) {
        affected = rows;
        rows.clear();
    }
    rows.insert(row);
    affected.insert(row);
    if (component == selectedComponent_) content_->updateDataAtIndexes({affected.begin(), affected.end()});
}

void HXCDropdownMenu::deselectRow(long row, long component) {
    if (component < 0 || component >= numberOfComponents()) return;
    selectedRows_[static_cast<size_t>(component)].erase(row);
    if (component == selectedComponent_) content_->updateDataAtIndexes({row});
}

std::set<long> HXCDropdownMenu::selectedRowsInComponent(long component) const {
    if (component < 0 || component >= numberOfComponents()) return {};
    return selectedRows_[static_cast<size_t>(component)];
}

std::shared_ptr<View> HXCDropdownMenu::viewForRow(long row, long component) {
    if (component != selectedComponent_ || component == kNotFoundIndex) return nullptr;
    auto cell = std::dynamic_pointer_cast<HXCDropdownMenuTableViewCell>(content_->tableView()->cellForRow({0, row}));
    return cell ? cell->currentCustomView() : nullptr;
}

// ---- Layout

void HXCDropdownMenu::layoutSubviews() {
    View::layoutSubviews();
    layoutComponentButtons();
    layoutComponentSeparators();
    if (selectedComponent_ != kNotFoundIndex) content_->setContentInset(contentInsetForSelectedComponent());
}

void HXCDropdownMenu::layoutComponentButtons() {
    size_t n = buttons_.size();
    if (n == 0) return;
    double W = bounds().width();
    auto d = delegate.lock();
    std::vector<std::optional<double>> asked(n);
    long k = 0;
    double S = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!d) break;
        asked[i] = d->widthForComponent(*this, static_cast<long>(i));
        if (!asked[i]) break;  // not implemented
        if (*asked[i] > 0) ++k, S += *asked[i];
    }
    double dflt = W / static_cast<double>(n);
    if (k >= 1 && static_cast<long>(n) > k) dflt = (W - S) / static_cast<double>(static_cast<long>(n) - k);
    double x = 0;
    for (size_t i = 0; i < n; ++i) {
        double w = i + 1 == n ? W - x : asked[i].value_or(dflt);
        if (w <= 0) w = dflt;
        buttons_[i]->setFrame(Rect(x, 0, w, bounds().height()));
        x += w;
    }
}

void HXCDropdownMenu::layoutComponentSeparators() {
    for (size_t i = 0; i < separators_.size() && i < buttons_.size(); ++i) {
        Rect f = buttons_[i]->frame();
        separators_[i]->setFrame(Rect(f.maxX() - kSeparatorWidth / 2, f.minY(), kSeparatorWidth, f.height()));
    }
}

std::shared_ptr<View> HXCDropdownMenu::dropdownContainer() const {
    if (auto p = presentingView.lock()) return p;
    Window* w = window();
    if (!w) return nullptr;
    if (auto shared = w->weak_from_this().lock()) return std::static_pointer_cast<View>(shared);
    // A window its owner does not share (the harness's): borrowed for as long as it shows the list.
    return std::shared_ptr<View>(std::shared_ptr<View>(), w);
}

EdgeInsets HXCDropdownMenu::contentInsetForSelectedComponent() {
    if (selectedComponent_ == kNotFoundIndex || buttons_.empty()) return {};
    auto container = dropdownContainer();
    if (!container) return {};
    auto inContainer = [&](const View& v) { return v.convertRectTo(v.bounds(), container.get()); };
    auto d = delegate.lock();
    double minX, maxX;
    std::optional<bool> full = d ? d->shouldUseFullRowWidthForComponent(*this, selectedComponent_) : std::nullopt;
    size_t open = static_cast<size_t>(std::min<long>(selectedComponent_, static_cast<long>(buttons_.size()) - 1));
    Rect cb = container->bounds();
    if (full && !*full) {
        Rect r = inContainer(*buttons_[open]);
        minX = r.minX(), maxX = r.maxX();
    } else if (useFullScreenWidth) {
        minX = cb.minX() + fullScreenInsetLeft;
        maxX = cb.maxX() - fullScreenInsetRight;
    } else {
        minX = inContainer(*buttons_.front()).minX();
        maxX = inContainer(*buttons_.back()).maxX();
    }
    return {0, minX, 0, cb.width() - maxX + 0.5};
}

// ---- Opening and closing

void HXCDropdownMenu::selectedComponent(Control* sender) {
    if (transition_->isAnimating()) return;
    long index = kNotFoundIndex;
    for (size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i].get() == sender) index = static_cast<long>(i);
    if (sender && index != kNotFoundIndex && index != selectedComponent_)
        openComponent(index, true);
    else
        closeAllComponentsAnimated(true);
}

void HXCDropdownMenu::openComponent(long component, bool animated) {
    TK_MAIN_THREAD("openComponent");
    std::weak_ptr<HXCDropdownMenu> weak = std::static_pointer_cast<HXCDropdownMenu>(self());
    auto opened = std::make_shared<bool>(false);
    auto opening = [weak, component, animated, opened] {
        auto m = weak.lock();
        if (!m) return;
        *opened = true;
        m->selectedComponent_ = component;
        m->presentDropdownForSelectedComponentAnimated(animated, nullptr);
        if (component != kNotFoundIndex)
            if (auto d = m->delegate.lock()) d->didOpenComponent(*m, component);
    };
    if (selectedComponent_ != kNotFoundIndex) {
        dismissDropdownAnimated(animated, opening);
        // A dismissal without animation has opened the new component already.
        if (!*opened) cleanupSelectedComponents();
    } else {
        opening();
    }
}

void HXCDropdownMenu::closeAllComponentsAnimated(bool animated) {
    dismissDropdownAnimated(animated, nullptr);
    cleanupSelectedComponents();
}

void HXCDropdownMenu::cleanupSelectedComponents() {
    long previous = selectedComponent_;
    selectedComponent_ = kNotFoundIndex;
    if (previous == kNotFoundIndex) return;
    if (auto d = delegate.lock()) d->didCloseComponent(*this, previous);
}

void HXCDropdownMenu::presentDropdownForSelectedComponentAnimated(bool animated, std::function<void()> completion) {
    auto container = dropdownContainer();
    if (selectedComponent_ == kNotFoundIndex || !container) {
        if (completion) completion();
        return;
    }
    content_->setContentInset(contentInsetForSelectedComponent());
    auto d = delegate.lock();
    // A height the delegate does not give (or gives as zero or less) is the default.
    const double asked = d ? d->rowHeightForComponent(*this, selectedComponent_).value_or(0) : 0;
    content_->tableView()->setRowHeight(asked > 0 ? asked : kMenuDefaultRowHeight);
    content_->highlightColor =
        d ? d->backgroundColorForHighlightedRowsInComponent(*this, selectedComponent_) : std::nullopt;
    transition_->presentDropdownInContainerView(container, animated, std::move(completion));
    updateComponentButtonsSelection(true);
}

void HXCDropdownMenu::dismissDropdownAnimated(bool animated, std::function<void()> completion) {
    if (content_->isViewLoaded() && content_->view()->window()) {
        transition_->dismissDropdownAnimated(animated, std::move(completion));
        updateComponentButtonsSelection(false);
    } else if (completion) {
        completion();
    }
}

void HXCDropdownMenu::updateComponentButtonsSelection(bool open) {
    auto apply = [this, open] {
        for (size_t i = 0; i < buttons_.size(); ++i)
            buttons_[i]->setSelected(open && selectedComponent_ != kNotFoundIndex &&
                                     static_cast<long>(i) == selectedComponent_);
    };
    if (auto* coordinator = content_->transitionCoordinator())
        coordinator->animateAlongsideTransition([apply](TransitionCoordinator&) { apply(); }, {});
    else
        animate(kSelectionDuration, apply);
}

void HXCDropdownMenu::bringDropdownViewToFront() {
    if (!content_->isViewLoaded()) return;
    ViewPtr v = content_->view();
    if (auto* s = v->superview()) s->bringSubviewToFront(v.get());
}

// ---- The content controller's questions

long HXCDropdownMenu::numberOfRows() {
    return selectedComponent_ == kNotFoundIndex ? 0 : numberOfRowsInComponent(selectedComponent_);
}

long HXCDropdownMenu::maximumNumberOfRows() {
    if (selectedComponent_ == kNotFoundIndex) return 0;
    auto d = delegate.lock();
    std::optional<long> m = d ? d->maximumNumberOfRowsInComponent(*this, selectedComponent_) : std::nullopt;
    return std::max(0L, m.value_or(0));
}

std::optional<AttributedString> HXCDropdownMenu::attributedTitleForRow(long row) {
    auto d = delegate.lock();
    if (!d || selectedComponent_ == kNotFoundIndex) return std::nullopt;
    if (auto a = d->attributedTitleForRow(*this, row, selectedComponent_)) return a;
    if (auto t = d->titleForRow(*this, row, selectedComponent_)) return AttributedString(*t, TextAttributes{});
    return std::nullopt;
}

std::shared_ptr<View> HXCDropdownMenu::customViewForRow(long row, std::shared_ptr<View> reusingView) {
    auto d = delegate.lock();
    if (!d || selectedComponent_ == kNotFoundIndex) return nullptr;
    return d->viewForRow(*this, row, selectedComponent_, std::move(reusingView));
}

std::shared_ptr<View> HXCDropdownMenu::accessoryViewForRow(long row) {
    auto d = delegate.lock();
    if (!d || selectedComponent_ == kNotFoundIndex) return nullptr;
    return d->accessoryViewForRow(*this, row, selectedComponent_);
}

Color HXCDropdownMenu::backgroundColorForRow(long row) {
    auto d = delegate.lock();
    if (!d || selectedComponent_ == kNotFoundIndex) return Color::clear();
    return d->backgroundColorForRow(*this, row, selectedComponent_).value_or(Color::clear());
}

void HXCDropdownMenu::didSelectRow(long row) {
    if (row == kNotFoundIndex) {
        selectedComponent(nullptr);
        return;
    }
    if (auto d = delegate.lock()) d->didSelectRow(*this, row, selectedComponent_);
}

void HXCDropdownMenu::willDisappear() {
    if (selectedComponent_ == kNotFoundIndex) return;
    cleanupSelectedComponents();
    updateComponentButtonsSelection(false);
}
