#include "ui/messages/hxc_dropdown_menu_content_view_controller.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/toolkit/traits.h"

using namespace toolkit;

namespace {
constexpr const char* kCellIdentifier = "cell";
constexpr double kDefaultRowHeight = 44;
constexpr double kSeparatorLine = 0.5;

LayoutConstraintPtr pin(View* a, LayoutAttribute attr, View* b, double constant = 0) {
    return LayoutConstraint::make(a, attr, b, attr, 1, constant);
}

void activateFormat(const std::string& format, const std::map<std::string, View*>& views) {
    auto cs = LayoutConstraint::withVisualFormat(format, views);
    if (cs.ok()) LayoutConstraint::activate(*cs);
}
}  // namespace

Color hxc_defaultSeparatorColor() { return Color::rgb(0.78, 0.78, 0.8, 1.0); }

std::shared_ptr<View> hxc_currentCustomView(const View& container) {
    return container.subviews().empty() ? nullptr : container.subviews().back();
}

void hxc_replaceCustomView(View& container, const std::shared_ptr<View>& view) {
    auto current = hxc_currentCustomView(container);
    if (view == current) return;
    if (current) current->removeFromSuperview();
    if (!view) return;
    view->setFrame(container.bounds());
    view->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    container.addSubview(view);
}

// ---- Row cell

HXCDropdownMenuTableViewCell::HXCDropdownMenuTableViewCell(std::string reuseIdentifier)
    : TableViewCell(TableViewCellStyle::Default, std::move(reuseIdentifier)) {
    setClipsToBounds(true);
    container_ = std::make_shared<View>(contentView().bounds());
    container_->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    container_->setUserInteractionEnabled(true);
    contentView().addSubview(container_);
}

std::shared_ptr<View> HXCDropdownMenuTableViewCell::currentCustomView() const {
    return hxc_currentCustomView(*container_);
}

void HXCDropdownMenuTableViewCell::setCustomView(std::shared_ptr<View> view) {
    hxc_replaceCustomView(*container_, view);
    // A reused cell's container was hidden; a custom view must show again.
    if (view) container_->setHidden(false);
    setAttributedTitle(std::nullopt);
}

void HXCDropdownMenuTableViewCell::setAttributedTitle(std::optional<AttributedString> title) {
    textLabel().setAttributedText(std::move(title));
}

void HXCDropdownMenuTableViewCell::setHighlightColor(std::optional<Color> color) {
    if (!color) {
        setSelectedBackgroundView(nullptr);
        return;
    }
    auto background = std::make_shared<View>(bounds());
    background->setBackgroundColor(*color);
    setSelectedBackgroundView(background);
}

void HXCDropdownMenuTableViewCell::prepareForReuse() {
    TableViewCell::prepareForReuse();
    if (auto current = currentCustomView()) current->removeFromSuperview();
    container_->setHidden(true);
}

// ---- Controller

HXCDropdownMenuContentViewController::HXCDropdownMenuContentViewController() = default;

std::shared_ptr<View> HXCDropdownMenuContentViewController::containerView() {
    view();
    return container_;
}
std::shared_ptr<View> HXCDropdownMenuContentViewController::shadowView() {
    view();
    return shadow_;
}
std::shared_ptr<View> HXCDropdownMenuContentViewController::borderView() {
    view();
    return border_;
}
std::shared_ptr<ShapeLayer> HXCDropdownMenuContentViewController::borderLayer() {
    view();
    return borderLayer_;
}
std::shared_ptr<View> HXCDropdownMenuContentViewController::tableContainerView() {
    view();
    return tableContainer_;
}
std::shared_ptr<TableView> HXCDropdownMenuContentViewController::tableView() {
    view();
    return table_;
}
std::shared_ptr<View> HXCDropdownMenuContentViewController::separatorContainerView() {
    view();
    return separatorContainer_;
}
std::shared_ptr<TapGestureRecognizer> HXCDropdownMenuContentViewController::tapRecognizer() {
    view();
    return tap_;
}

void HXCDropdownMenuContentViewController::loadView() {
    auto v = std::make_shared<View>(Device::current().screen().bounds());
    v->setBackgroundColor(Color::black().withAlphaComponent(0.2));
    v->setClipsToBounds(true);
    setView(v);
    tap_ = std::make_shared<TapGestureRecognizer>([this](GestureRecognizer& g) { handleTap(g); });
    ViewControllerPtr me = selfPtr();
    tap_->setDelegate(std::shared_ptr<GestureRecognizerDelegate>(me, static_cast<GestureRecognizerDelegate*>(this)));
    v->addGestureRecognizer(tap_);
}

void HXCDropdownMenuContentViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    View& root = *view();
    container_ = std::make_shared<View>();
    container_->setBackgroundColor(Color::clear());
    container_->setClipsToBounds(false);
    root.addSubview(container_);

    shadow_ = std::make_shared<View>();
    shadow_->setBackgroundColor(Color::clear());
    shadow_->setClipsToBounds(false);
    shadow_->layer().shadowColor = Color::black();
    shadow_->layer().shadowOpacity = 0.2;
    shadow_->layer().shadowRadius = 2.0;
    shadow_->layer().shadowOffset = {0, 1};
    container_->addSubview(shadow_);

    border_ = std::make_shared<View>();
    border_->setBackgroundColor(Color::clear());
    border_->setUserInteractionEnabled(false);
    border_->setHidden(true);
    borderLayer_ = std::make_shared<ShapeLayer>();
    borderLayer_->fillColor = Color::clear();
    borderLayer_->strokeColor = hxc_defaultSeparatorColor();
    borderLayer_->lineWidth = 1.0;
    border_->layer().shapeSublayers.push_back(borderLayer_);
    container_->addSubview(border_);

    separatorContainer_ = std::make_shared<View>();
    separatorContainer_->setBackgroundColor(Color::clear());
    separatorContainer_->setClipsToBounds(false);
    container_->addSubview(separatorContainer_);

    tableContainer_ = std::make_shared<View>();
    tableContainer_->setClipsToBounds(true);
    tableContainer_->setBackgroundColor(Color::black());
    auto mask = std::make_shared<ShapeLayer>();
    mask->fillColor = Color::whiteColor();
    tableContainer_->layer().mask = mask;
    container_->addSubview(tableContainer_);

    table_ = std::make_shared<TableView>(Rect(0, 0, root.bounds().width(), kDefaultRowHeight), TableViewStyle::Plain);
    table_->setBackgroundColor(Color::whiteColor());
    ViewControllerPtr me = selfPtr();
    table_->setDataSource(std::shared_ptr<TableViewDataSource>(me, static_cast<TableViewDataSource*>(this)));
    table_->setTableDelegate(std::shared_ptr<TableViewDelegate>(me, static_cast<TableViewDelegate*>(this)));
    table_->setRowHeight(kDefaultRowHeight);
    table_->setLayoutMargins({});
    table_->setSeparatorInset({});
    table_->setSeparatorStyle(SeparatorStyle::SingleLine);
    table_->setSeparatorColor(hxc_defaultSeparatorColor());
    table_->contentInsetAdjustmentBehavior = ContentInsetAdjustment::Never;
    table_->registerCell(kCellIdentifier, [] { return std::make_shared<HXCDropdownMenuTableViewCell>(); });
    tableContainer_->addSubview(table_);

    leftConstraint_ = pin(container_.get(), LayoutAttribute::Left, &root);
    rightConstraint_ = pin(container_.get(), LayoutAttribute::Right, &root);
    LayoutConstraint::activate({leftConstraint_, rightConstraint_, pin(container_.get(), LayoutAttribute::Top, &root)});
    std::map<std::string, View*> views{{"s", separatorContainer_.get()}, {"v", tableContainer_.get()}};
    activateFormat("H:|[s]|", views);
    activateFormat("H:|[v]|", views);
    activateFormat("V:|[s][v]|", views);
    topConstraint_ = LayoutConstraint::make(separatorContainer_.get(), LayoutAttribute::Height, nullptr,
                                            LayoutAttribute::NotAnAttribute, 1, 0);
    heightConstraint_ = LayoutConstraint::make(tableContainer_.get(), LayoutAttribute::Height, nullptr,
                                               LayoutAttribute::NotAnAttribute, 1, kDefaultRowHeight);
    LayoutConstraint::activate({topConstraint_, heightConstraint_});
    for (View* pinned : {shadow_.get(), border_.get()})
        for (auto attr : {LayoutAttribute::Left, LayoutAttribute::Right, LayoutAttribute::Top, LayoutAttribute::Bottom})
            pin(pinned, attr, tableContainer_.get())->setActive(true);
    std::map<std::string, View*> inner{{"v", table_.get()}};
    activateFormat("H:|[v]|", inner);
    activateFormat("V:|[v]|", inner);

    textAlignment = TextAlignment::left;
    cornerRadius = 2.0;
    roundedCorners = kCornerBottomLeft | kCornerBottomRight;
    setShowsTopRowSeparator(true);
    setShowsBottomRowSeparator(true);
}

void HXCDropdownMenuContentViewController::setSeparatorViewOffset(Point offset) {
    separatorViewOffset_ = offset;
    view();
    Rect b = separatorContainer_->bounds();
    for (auto& s : separatorContainer_->subviews()) s->setFrame(b.offsetBy(offset.x, offset.y));
}

bool HXCDropdownMenuContentViewController::showsTopRowSeparator() { return tableView()->tableHeaderView() != nullptr; }

void HXCDropdownMenuContentViewController::setShowsTopRowSeparator(bool shows) {
    auto t = tableView();
    if (!shows) {
        t->setTableHeaderView(nullptr);
        return;
    }
    auto line = std::make_shared<View>(Rect(0, 0, t->bounds().width(), kSeparatorLine));
    line->setBackgroundColor(t->separatorColor().value_or(hxc_defaultSeparatorColor()));
    t->setTableHeaderView(line);
}

bool HXCDropdownMenuContentViewController::showsBottomRowSeparator() {
    return tableView()->tableFooterView() == nullptr;
}

void HXCDropdownMenuContentViewController::setShowsBottomRowSeparator(bool shows) {
    auto t = tableView();
    // A blank footer line keeps the table from drawing a separator under the last row.
    t->setTableFooterView(shows ? nullptr : std::make_shared<View>(Rect(0, 0, t->bounds().width(), kSeparatorLine)));
}

bool HXCDropdownMenuContentViewController::showsBorder() { return !borderView()->isHidden(); }
void HXCDropdownMenuContentViewController::setShowsBorder(bool shows) { borderView()->setHidden(!shows); }

EdgeInsets HXCDropdownMenuContentViewController::contentInset() {
    view();
    return {topConstraint_->constant(), leftConstraint_->constant(), 0, -rightConstraint_->constant()};
}

void HXCDropdownMenuContentViewController::setContentInset(const EdgeInsets& inset) {
    view();
    LayoutConstraint::deactivate({leftConstraint_, rightConstraint_});
    leftConstraint_->setConstant(inset.left);
    rightConstraint_->setConstant(-inset.right);
    LayoutConstraint::activate({leftConstraint_, rightConstraint_});
    if (view()->window()) view()->layoutIfNeeded();
}

double HXCDropdownMenuContentViewController::maxHeight() {
    double rh = tableView()->rowHeight();
    if (rh <= 0) rh = kDefaultRowHeight;
    double limit =
        maxRows_ >= 1 ? static_cast<double>(maxRows_) : static_cast<double>(std::numeric_limits<long>::max());
    return rh * std::trunc(std::min(limit, view()->bounds().height() / rh));
}

double HXCDropdownMenuContentViewController::contentHeight() {
    auto t = tableView();
    double rh = t->rowHeight() <= 0 ? kDefaultRowHeight : t->rowHeight();
    double rows = std::max(0.0, static_cast<double>(rowsCount_) * rh);
    double h = std::min(rows, maxHeight());
    if (t->tableHeaderView()) h += t->tableHeaderView()->frame().height();
    if (t->tableFooterView()) h += t->tableFooterView()->frame().height();
    return h;
}

void HXCDropdownMenuContentViewController::updateData() {
    auto d = delegate.lock();
    rowsCount_ = d ? d->numberOfRows() : 0;
    maxRows_ = d ? d->maximumNumberOfRows() : 0;
    updateContainerHeight();
    tableView()->reloadData();
}

void HXCDropdownMenuContentViewController::updateDataAtIndexes(const std::vector<long>& rows) {
    std::vector<IndexPath> paths;
    for (long r : rows)
        if (r >= 0 && r < tableView()->numberOfRows(0)) paths.push_back({0, r});
    tableView()->reloadRows(paths, RowAnimation::Automatic);
}

void HXCDropdownMenuContentViewController::updateContainerHeight() {
    double h = contentHeight();
    if (heightConstraint_->constant() != h) heightConstraint_->setConstant(h);
    if (view()->window()) view()->layoutIfNeeded();
}

void HXCDropdownMenuContentViewController::insertSeparatorView(std::shared_ptr<View> spacer) {
    view();
    for (auto& s : std::vector<ViewPtr>(separatorContainer_->subviews())) s->removeFromSuperview();
    if (spacer) {
        topConstraint_->setConstant(spacer->frame().height());
        spacer->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        spacer->setFrame(separatorContainer_->bounds());
        separatorContainer_->addSubview(spacer);
    } else {
        topConstraint_->setConstant(0);
    }
    setSeparatorViewOffset(separatorViewOffset_);
}

void HXCDropdownMenuContentViewController::updateShadow() {
    Rect b = shadowView()->bounds();
    // Down the left, along the bottom, up the right, then into the middle and back: no shadow
    // above the top edge.
    Path p;
    p.moveTo({0, b.minY()});
    p.lineTo({0, b.maxY()});
    p.lineTo({b.maxX(), b.maxY()});
    p.lineTo({b.maxX(), b.minY()});
    p.lineTo({b.midX(), b.midY()});
    p.close();
    shadow_->layer().shadowPath = p;
}

void HXCDropdownMenuContentViewController::updateMask() {
    Path p = Path::roundedRect(tableContainerView()->bounds(), roundedCorners, {cornerRadius, cornerRadius});
    tableContainer_->layer().mask->path = p;
    borderLayer_->path = p;
    shadow_->layer().shadowRadius = std::max(cornerRadius, 2.0);
}

StatusBarStyle HXCDropdownMenuContentViewController::preferredStatusBarStyle() const {
    if (const ViewController* p = presentingViewController()) return p->preferredStatusBarStyle();
    return StatusBarStyle::Default;
}

void HXCDropdownMenuContentViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    updateData();
    tableView()->setContentOffset({0, 0});
}

void HXCDropdownMenuContentViewController::viewWillDisappear(bool animated) {
    ViewController::viewWillDisappear(animated);
    if (auto d = delegate.lock()) d->willDisappear();
}

void HXCDropdownMenuContentViewController::viewDidLayoutSubviews() {
    ViewController::viewDidLayoutSubviews();
    updateContainerHeight();
    updateShadow();
    updateMask();
}

long HXCDropdownMenuContentViewController::numberOfRows(TableView&, long) { return rowsCount_; }

TableViewCellPtr HXCDropdownMenuContentViewController::cellForRow(TableView& t, IndexPath ip) {
    auto cell = std::dynamic_pointer_cast<HXCDropdownMenuTableViewCell>(t.dequeueReusableCell(kCellIdentifier, ip));
    if (!cell) cell = std::make_shared<HXCDropdownMenuTableViewCell>();
    auto d = delegate.lock();
    auto custom = d ? d->customViewForRow(ip.row, cell->currentCustomView()) : nullptr;
    cell->setCustomView(custom);
    if (!custom) cell->setAttributedTitle(d ? d->attributedTitleForRow(ip.row) : std::nullopt);
    cell->setHighlightColor(highlightColor);
    cell->setBackgroundColor(d ? d->backgroundColorForRow(ip.row) : Color::clear());
    cell->setAccessoryView(d ? d->accessoryViewForRow(ip.row) : nullptr);
    cell->textLabel().setTextAlignment(textAlignment);
    cell->setPreservesSuperviewLayoutMargins(false);
    cell->setLayoutMargins({});
    cell->setSeparatorInset({});
    return cell;
}

void HXCDropdownMenuContentViewController::didSelectRow(TableView& t, IndexPath ip) {
    t.deselectRow(ip, true);
    if (auto d = delegate.lock()) d->didSelectRow(ip.row);
}

bool HXCDropdownMenuContentViewController::shouldReceiveTouch(GestureRecognizer&, const Touch& touch) {
    auto v = touch.view.lock();
    return !(v && table_ && v->isDescendantOf(table_.get()));
}

void HXCDropdownMenuContentViewController::handleTap(GestureRecognizer& g) {
    if (g.state() != GestureState::Ended) return;
    if (auto d = delegate.lock()) d->didSelectRow(kNotFoundIndex);
}
