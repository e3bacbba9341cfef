#include "platform/toolkit/table_view.h"

#include <algorithm>
#include <cmath>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/view_controller.h"

namespace toolkit {

namespace {
constexpr const char* kTableDomain = "toolkit.TableView";
constexpr double kSwipeThreshold = 30;
constexpr double kSwipeButtonWidth = 74;
constexpr double kSwipeTitleMargin = 15;
// The row height from which an action with an image also shows its title, under the image.
constexpr double kSwipeTitleUnderImageHeight = 91;
constexpr double kUpdateDuration = 0.3;

// The table's swipe pan (one finger) begins for sideways movement that starts on a row with
// actions that way, or that puts back a row swiped open; other sideways swipes stay free for the
// screen's own recognisers.
class SwipePanDelegate : public GestureRecognizerDelegate {
public:
    explicit SwipePanDelegate(TableView* table) : table_(table) {}
    bool gestureRecognizerShouldBegin(GestureRecognizer& g) override {
        auto& pan = static_cast<PanGestureRecognizer&>(g);
        Point t = pan.translationInView(nullptr);
        if (std::fabs(t.x) <= std::fabs(t.y)) return false;
        // While editing, a swipe toward the trailing edge shows what the row's minus shows.
        if (table_->isEditing() && t.x > 0) return false;
        Point at = pan.locationInView(table_);
        const auto row = table_->indexPathForRowAtPoint({at.x - t.x, at.y - t.y});
        if (!row) return false;
        return table_->swipedRow() || table_->hasSwipeActions(*row, t.x < 0 ? SwipeEdge::Trailing : SwipeEdge::Leading);
    }

private:
    TableView* table_;
};

// A long press opens a context menu only on rows the delegate has one for.
class LongPressDelegate : public GestureRecognizerDelegate {
public:
    explicit LongPressDelegate(TableView* table) : table_(table) {}
    bool gestureRecognizerShouldBegin(GestureRecognizer& g) override {
        auto d = table_->tableDelegate();
        if (!d) return false;
        Point at = g.locationInView(table_);
        auto ip = table_->indexPathForRowAtPoint(at);
        return ip && d->contextMenuConfiguration(*table_, *ip, at) != nullptr;
    }

private:
    TableView* table_;
};

class SwipeActionsView : public View {
public:
    std::string className() const override { return "SwipeActionsView"; }
};

// The k-th index (from 0) not in taken.
long nthFree(long k, const std::set<long>& taken) {
    long i = 0;
    for (;; ++i) {
        if (taken.count(i)) continue;
        if (k-- == 0) return i;
    }
}

long countBelow(const std::set<long>& s, long v) {
    return static_cast<long>(std::distance(s.begin(), s.lower_bound(v)));
}
}  // namespace

std::shared_ptr<ContextualAction> ContextualAction::make(ContextualActionStyle style, std::string title,
                                                         Handler handler) {
    auto a = std::make_shared<ContextualAction>();
    a->style = style;
    a->title = std::move(title);
    a->handler = std::move(handler);
    return a;
}

SwipeActionsConfigurationPtr SwipeActionsConfiguration::make(std::vector<ContextualActionPtr> actions) {
    auto c = std::make_shared<SwipeActionsConfiguration>();
    c->actions = std::move(actions);
    return c;
}

TableViewRowActionPtr TableViewRowAction::make(RowActionStyle style, std::string title, Handler handler) {
    auto a = std::make_shared<TableViewRowAction>();
    a->style = style;
    a->title = std::move(title);
    a->handler = std::move(handler);
    return a;
}

TableView::TableView(TableViewStyle style) : style_(style) { setup(); }
TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) { setup(); }
TableView::~TableView() { MenuPanel::close(this); }

void TableView::setup() {
    alwaysBounceVertical = true;
    setBackgroundColor(style_ == TableViewStyle::Plain ? Color::systemBackground() : Color::systemGroupedBackground());
    swipePan_ = std::make_shared<PanGestureRecognizer>([this](GestureRecognizer& g) { handleSwipePan(g); });
    swipeDelegate_ = std::make_shared<SwipePanDelegate>(this);
    swipePan_->setDelegate(swipeDelegate_);
    swipePan_->maximumNumberOfTouches = 1;
    addGestureRecognizer(swipePan_);
    longPress_ = std::make_shared<LongPressGestureRecognizer>([this](GestureRecognizer& g) { handleLongPress(g); });
    longPressDelegate_ = std::make_shared<LongPressDelegate>(this);
    longPress_->setDelegate(longPressDelegate_);
    addGestureRecognizer(longPress_);
}

void TableView::setDataSource(std::weak_ptr<TableViewDataSource> dataSource) {
    dataSource_ = std::move(dataSource);
    geometryDirty_ = true;
    setNeedsLayout();
}

void TableView::setTableDelegate(std::weak_ptr<TableViewDelegate> d) {
    delegate_ = d;
    if (auto strong = d.lock())
        delegate = std::shared_ptr<ScrollViewDelegate>(strong, static_cast<ScrollViewDelegate*>(strong.get()));
    else
        delegate.reset();
    geometryDirty_ = true;
    setNeedsLayout();
}

void TableView::setRowHeight(double h) {
    rowHeight_ = h;
    geometryDirty_ = true;
    setNeedsLayout();
}

void TableView::setSectionHeaderHeight(double h) {
    if (!setProperty(sectionHeaderHeight_, h, true)) return;
    geometryDirty_ = true;
}

void TableView::setSectionFooterHeight(double h) {
    if (!setProperty(sectionFooterHeight_, h, true)) return;
    geometryDirty_ = true;
}

void TableView::setBackgroundView(std::shared_ptr<View> view) {
    if (backgroundView_ == view) return;
    if (backgroundView_ && backgroundView_->superview() == this) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    setNeedsLayout();
}

bool TableView::showsSeparatorBelow(IndexPath ip) const {
    if (separatorStyle_ == SeparatorStyle::None) return false;
    ensureGeometry();
    if (ip.section < 0 || ip.section >= static_cast<long>(sections_.size())) return false;
    const auto rows = static_cast<long>(sections_[static_cast<size_t>(ip.section)].rowY.size());
    if (ip.row < 0 || ip.row >= rows) return false;
    const bool lastOfSection = ip.row == rows - 1;
    if (style_ != TableViewStyle::Plain) return !lastOfSection;
    const bool lastOfTable = lastOfSection && ip.section == static_cast<long>(sections_.size()) - 1;
    return !(lastOfTable && tableFooter_);
}

void TableView::setEstimatedRowHeight(double h) {
    estimatedRowHeight_ = std::max(0.0, h);
    geometryDirty_ = true;
    setNeedsLayout();
}

void TableView::replaceEndView(std::shared_ptr<View>& slot, std::shared_ptr<View> view) {
    if (slot) slot->removeFromSuperview();
    slot = std::move(view);
    if (slot) addSubview(slot);
    geometryDirty_ = true;
    setNeedsLayout();
}

void TableView::setTableHeaderView(std::shared_ptr<View> view) { replaceEndView(tableHeader_, std::move(view)); }
void TableView::setTableFooterView(std::shared_ptr<View> view) { replaceEndView(tableFooter_, std::move(view)); }

// ---- Cells

void TableView::registerCell(const std::string& identifier, std::function<TableViewCellPtr()> factory) {
    factories_[identifier] = std::move(factory);
}

TableViewCellPtr TableView::dequeueReusableCell(const std::string& identifier) {
    TK_MAIN_THREAD("dequeueReusableCell");
    auto it = queues_.find(identifier);
    if (it == queues_.end() || it->second.empty()) return nullptr;
    TableViewCellPtr cell = it->second.back();
    it->second.pop_back();
    cell->prepareForReuse();
    return cell;
}

TableViewCellPtr TableView::dequeueReusableCell(const std::string& identifier, IndexPath) {
    if (auto cell = dequeueReusableCell(identifier)) return cell;
    auto f = factories_.find(identifier);
    if (f == factories_.end() || !f->second) return nullptr;
    TableViewCellPtr cell = f->second();
    if (cell && cell->reuseIdentifier_.empty()) cell->reuseIdentifier_ = identifier;
    return cell;
}

size_t TableView::queuedCellCount(const std::string& identifier) const {
    auto it = queues_.find(identifier);
    return it == queues_.end() ? 0 : it->second.size();
}

TableViewCellPtr TableView::cellForRow(IndexPath ip) const {
    auto it = visible_.find(ip);
    return it == visible_.end() ? nullptr : it->second;
}

std::vector<TableViewCellPtr> TableView::visibleCells() const {
    std::vector<TableViewCellPtr> out;
    for (auto& [ip, c] : visible_) out.push_back(c);
    return out;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() const {
    std::vector<IndexPath> out;
    out.reserve(visible_.size());
    for (auto& [ip, c] : visible_) out.push_back(ip);
    return out;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell& cell) const {
    for (auto& [ip, c] : visible_)
        if (c.get() == &cell) return ip;
    return std::nullopt;
}

std::shared_ptr<View> TableView::headerView(long section) const {
    auto it = supplementary_.find({section, true});
    return it == supplementary_.end() ? nullptr : it->second;
}

std::shared_ptr<View> TableView::footerView(long section) const {
    auto it = supplementary_.find({section, false});
    return it == supplementary_.end() ? nullptr : it->second;
}

// ---- Geometry

double TableView::rowX() const {
    if (style_ != TableViewStyle::InsetGrouped) return 0;
    return bounds().width() >= 400 ? 20 : 16;
}

double TableView::rowWidth() const { return std::max(0.0, bounds().width() - 2 * rowX()); }

void TableView::ensureGeometry() const {
    if (geometryDirty_) const_cast<TableView*>(this)->computeGeometry();
}

void TableView::computeGeometry() {
    geometryDirty_ = false;
    loaded_ = true;
    footerWrapWidth_.reset();
    sections_.clear();
    auto ds = dataSource();
    auto d = tableDelegate();
    double y = tableHeader_ ? tableHeader_->frame().height() : 0;
    long n = ds ? std::max(0L, ds->numberOfSections(*this)) : 0;
    bool plain = style_ == TableViewStyle::Plain;
    for (long s = 0; s < n; ++s) {
        Section sec;
        sec.headerTitle = ds->titleForHeader(*this, s);
        sec.footerTitle = ds->titleForFooter(*this, s);
        auto automatic = [&](double set, bool hasTitle) {
            if (set >= 0) return set;
            return plain ? (hasTitle ? 28.0 : 0.0) : (hasTitle ? 38.0 : 18.0);
        };
        std::optional<double> hh = d ? d->heightForHeader(*this, s) : std::nullopt;
        sec.headerY = y;
        sec.headerH = std::max(0.0, hh.value_or(automatic(sectionHeaderHeight_, sec.headerTitle.has_value())));
        y += sec.headerH;
        long rows = std::max(0L, ds->numberOfRows(*this, s));
        sec.rowY.reserve(static_cast<size_t>(rows));
        sec.rowH.reserve(static_cast<size_t>(rows));
        sec.estimated.reserve(static_cast<size_t>(rows));
        for (long r = 0; r < rows; ++r) {
            std::optional<double> rh = d ? d->heightForRow(*this, {s, r}) : std::nullopt;
            double h = rh.value_or(rowHeight_);
            bool estimate = false;
            if (h == kAutomaticDimension) {
                std::optional<double> e = d ? d->estimatedHeightForRow(*this, {s, r}) : std::nullopt;
                double guess = e.value_or(estimatedRowHeight_);
                if (guess > 0) {
                    h = guess, estimate = true;
                } else {
                    h = -1;  // measured below, once this section's rows are in place
                }
            } else if (!(h >= 0)) {
                h = 44;
            }
            sec.rowY.push_back(y);
            sec.rowH.push_back(h);
            sec.estimated.push_back(estimate);
            y += std::max(0.0, h);
        }
        sec.end = y;
        std::optional<double> fh = d ? d->heightForFooter(*this, s) : std::nullopt;
        sec.footerY = y;
        double footerH = automatic(sectionFooterHeight_, sec.footerTitle.has_value());
        // A footer's title wraps: its automatic space grows by the lines it adds.
        if (sec.footerTitle && sectionFooterHeight_ < 0 && !fh) {
            footerH = TableViewHeaderFooterView::heightForTitle(*sec.footerTitle, bounds().width(), footerH);
            footerWrapWidth_ = bounds().width();
        }
        sec.footerH = std::max(0.0, fh.value_or(footerH));
        y += sec.footerH;
        sections_.push_back(std::move(sec));
    }
    if (tableFooter_) y += tableFooter_->frame().height();
    setContentSize({bounds().width(), y});
    // Automatic rows without an estimate are measured now, each from its own cell.
    bool measured = false;
    for (size_t s = 0; s < sections_.size(); ++s)
        for (size_t r = 0; r < sections_[s].rowH.size(); ++r)
            if (sections_[s].rowH[r] < 0) {
                sections_[s].rowH[r] = measureRow({static_cast<long>(s), static_cast<long>(r)});
                measured = true;
            }
    if (measured) restackRows();
}

void TableView::restackRows() {
    double y = tableHeader_ ? tableHeader_->frame().height() : 0;
    for (Section& sec : sections_) {
        sec.headerY = y;
        y += sec.headerH;
        for (size_t r = 0; r < sec.rowH.size(); ++r) {
            sec.rowY[r] = y;
            y += sec.rowH[r];
        }
        sec.end = y;
        sec.footerY = y;
        y += sec.footerH;
    }
    if (tableFooter_) y += tableFooter_->frame().height();
    setContentSize({bounds().width(), y});
}

double TableView::measureRow(IndexPath ip) {
    auto ds = dataSource();
    TableViewCellPtr cell = ds ? ds->cellForRow(*this, ip) : nullptr;
    if (!cell) return 44;
    const double width = rowWidth();
    const double h = std::max(0.0, cell->fittingHeight(width));
    // A cell made only to be measured goes back to its queue.
    if (!cell->superview() && !cell->reuseIdentifier_.empty()) {
        auto& queue = queues_[cell->reuseIdentifier_];
        if (std::find(queue.begin(), queue.end(), cell) == queue.end()) queue.push_back(cell);
    }
    return h;
}

bool TableView::measureEstimatedRows(const std::vector<IndexPath>& rows) {
    bool changed = false;
    for (const IndexPath& ip : rows) {
        if (ip.section < 0 || ip.section >= static_cast<long>(sections_.size())) continue;
        Section& sec = sections_[static_cast<size_t>(ip.section)];
        const auto r = static_cast<size_t>(ip.row);
        if (r >= sec.estimated.size() || !sec.estimated[r]) continue;
        sec.estimated[r] = false;
        auto it = visible_.find(ip);
        if (it == visible_.end()) continue;
        const double h = std::max(0.0, it->second->fittingHeight(rowWidth()));
        if (h != sec.rowH[r]) sec.rowH[r] = h, changed = true;
    }
    if (changed) restackRows();
    return changed;
}

long TableView::numberOfSections() const {
    ensureGeometry();
    return static_cast<long>(sections_.size());
}

long TableView::numberOfRows(long section) const {
    ensureGeometry();
    if (section < 0 || section >= static_cast<long>(sections_.size())) return 0;
    return static_cast<long>(sections_[static_cast<size_t>(section)].rowY.size());
}

Rect TableView::rectForRow(IndexPath ip) const {
    ensureGeometry();
    if (ip.section < 0 || ip.section >= static_cast<long>(sections_.size())) return Rect{};
    const Section& s = sections_[static_cast<size_t>(ip.section)];
    if (ip.row < 0 || ip.row >= static_cast<long>(s.rowY.size())) return Rect{};
    size_t r = static_cast<size_t>(ip.row);
    double x = rowX();
    return Rect(x, s.rowY[r], std::max(0.0, bounds().width() - 2 * x), s.rowH[r]);
}

Rect TableView::rectForSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return Rect{};
    const Section& s = sections_[static_cast<size_t>(section)];
    return Rect(0, s.headerY, bounds().width(), s.footerY + s.footerH - s.headerY);
}

Rect TableView::rectForHeader(long section) const {
    if (section < 0 || section >= numberOfSections()) return Rect{};
    const Section& s = sections_[static_cast<size_t>(section)];
    return Rect(0, s.headerY, bounds().width(), s.headerH);
}

Rect TableView::rectForFooter(long section) const {
    if (section < 0 || section >= numberOfSections()) return Rect{};
    const Section& s = sections_[static_cast<size_t>(section)];
    return Rect(0, s.footerY, bounds().width(), s.footerH);
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) const {
    ensureGeometry();
    if (p.x < 0 || p.x >= bounds().width()) return std::nullopt;
    for (size_t s = 0; s < sections_.size(); ++s) {
        const Section& sec = sections_[s];
        if (sec.rowY.empty() || p.y < sec.rowY.front() || p.y >= sec.end) continue;
        auto it = std::upper_bound(sec.rowY.begin(), sec.rowY.end(), p.y);
        long r = static_cast<long>(it - sec.rowY.begin()) - 1;
        return IndexPath{static_cast<long>(s), r};
    }
    return std::nullopt;
}

std::vector<IndexPath> TableView::indexPathsForRowsInRect(const Rect& rect) const {
    std::vector<IndexPath> out;
    // About as many as fit on a screen: one allocation for the common case.
    out.reserve(std::max<size_t>(16, visible_.size() + 2));
    rowsInRect(rect, out);
    return out;
}

void TableView::rowsInRect(const Rect& rect, std::vector<IndexPath>& out) const {
    ensureGeometry();
    out.clear();
    double top = rect.minY(), bottom = rect.maxY();
    for (size_t s = 0; s < sections_.size(); ++s) {
        const Section& sec = sections_[s];
        if (sec.rowY.empty() || sec.rowY.front() >= bottom || sec.end <= top) continue;
        auto first = std::upper_bound(sec.rowY.begin(), sec.rowY.end(), top);
        size_t r = first == sec.rowY.begin() ? 0 : static_cast<size_t>(first - sec.rowY.begin()) - 1;
        for (; r < sec.rowY.size() && sec.rowY[r] < bottom; ++r)
            if (sec.rowY[r] + sec.rowH[r] > top) out.push_back({static_cast<long>(s), static_cast<long>(r)});
    }
}

void TableView::scrollToRow(IndexPath ip, ScrollPosition position, bool animated) {
    Rect r = rectForRow(ip);
    if (r.isEmpty()) return;
    if (position == ScrollPosition::None) {
        scrollRectToVisible(r, animated);
        return;
    }
    EdgeInsets e = adjustedContentInset();
    double visible = bounds().height() - e.top - e.bottom;
    double y = position == ScrollPosition::Top      ? r.minY() - e.top
               : position == ScrollPosition::Middle ? r.midY() - e.top - visible / 2
                                                    : r.maxY() - e.top - visible;
    Point lo = minimumContentOffset(), hi = maximumContentOffset();
    setContentOffset({contentOffset().x, std::clamp(y, lo.y, hi.y)}, animated);
}

// ---- Layout

void TableView::placeCell(const TableViewCellPtr& cell, IndexPath ip) {
    cell->indexPath_ = ip;
    cell->setFrame(rectForRow(ip));
    if (cell->superview() != this) {
        // Cells stay below headers, footers and the table's own header and footer.
        insertSubview(cell, backgroundView_ && backgroundView_->superview() == this ? 1 : 0);
    }
    auto ds = dataSource();
    auto d = tableDelegate();
    bool editable = ds && ds->canEditRow(*this, ip);
    cell->editingStyle_ =
        editable ? (d ? d->editingStyleForRow(*this, ip) : CellEditingStyle::Delete) : CellEditingStyle::None;
    cell->reorder_ = ds && ds->canMoveRow(*this, ip);
    if (cell->editing_ != editing_ || editing_) cell->setEditing(editing_);
    bool sel = selected_.count(ip) > 0;
    if (cell->selected_ != sel) cell->setSelected(sel);
    visible_[ip] = cell;
    auto at = std::lower_bound(visibleCellViews_.begin(), visibleCellViews_.end(), cell.get());
    if (at == visibleCellViews_.end() || *at != cell.get()) visibleCellViews_.insert(at, cell.get());
}

void TableView::retire(IndexPath ip, const TableViewCellPtr& cell) {
    if (swiped_ == ip) hideSwipeActions();
    visible_.erase(ip);
    auto at = std::lower_bound(visibleCellViews_.begin(), visibleCellViews_.end(), cell.get());
    if (at != visibleCellViews_.end() && *at == cell.get()) visibleCellViews_.erase(at);
    if (auto d = tableDelegate()) d->didEndDisplayingCell(*this, *cell, ip);
    cell->removeFromSuperview();
    cell->indexPath_.reset();
    cell->setHighlighted(false);
    if (!cell->reuseIdentifier_.empty()) queues_[cell->reuseIdentifier_].push_back(cell);
}

void TableView::clearVisible() {
    auto copy = visible_;
    for (auto& [ip, c] : copy) retire(ip, c);
    for (auto& [k, v] : supplementary_) v->removeFromSuperview();
    supplementary_.clear();
}

void TableView::updateSupplementary(long section, bool header, bool visible, std::optional<Rect> at) {
    std::pair<long, bool> key{section, header};
    auto it = supplementary_.find(key);
    if (!visible) {
        if (it != supplementary_.end()) {
            it->second->removeFromSuperview();
            supplementary_.erase(it);
        }
        return;
    }
    Rect frame = at ? *at : header ? rectForHeader(section) : rectForFooter(section);
    if (it != supplementary_.end()) {
        it->second->setFrame(frame);
        return;
    }
    auto d = tableDelegate();
    std::shared_ptr<View> v =
        d ? (header ? d->viewForHeader(*this, section) : d->viewForFooter(*this, section)) : nullptr;
    const Section& sec = sections_[static_cast<size_t>(section)];
    const std::optional<std::string>& title = header ? sec.headerTitle : sec.footerTitle;
    if (!v && title) {
        auto hf = std::make_shared<TableViewHeaderFooterView>();
        hf->setWrapsText(!header);
        hf->textLabel().setText(*title);
        v = hf;
    }
    if (!v) return;
    v->setFrame(frame);
    addSubview(v);
    supplementary_[key] = v;
}

void TableView::layoutSubviews() {
    ScrollView::layoutSubviews();
    if (footerWrapWidth_ && *footerWrapWidth_ != bounds().width()) geometryDirty_ = true;
    if (geometryDirty_ || !loaded_) computeGeometry();
    Rect b = bounds();
    if (!(contentSize().width == b.width())) setContentSize({b.width(), contentSize().height});
    if (backgroundView_) {
        if (backgroundView_->superview() != this) insertSubview(backgroundView_, 0);
        backgroundView_->setFrame(b);
    }
    if (tableHeader_) tableHeader_->setFrame(Rect(0, 0, b.width(), tableHeader_->frame().height()));
    const double top = b.minY();
    // The rows come in order, so membership is a binary search.
    // Each pass reuses the last one's list (a pass started from inside this one makes its own).
    std::vector<IndexPath> want;
    want.swap(wantScratch_);
    // Rows at an estimated height are measured as they come into view, which moves the rows
    // below them: the visible rows are found again until no height changes (each row is
    // measured once, so this ends).
    for (bool again = true; again;) {
        want.clear();
        rowsInRect(Rect(0, top, b.width(), b.height()), want);
        placeRows(want);
        again = measureEstimatedRows(want);
    }
    wantScratch_.swap(want);
    layoutSupplementary();
}

void TableView::placeRows(const std::vector<IndexPath>& want) {
    std::vector<std::pair<IndexPath, TableViewCellPtr>> leaving;
    for (auto& [ip, c] : visible_)
        if (!std::binary_search(want.begin(), want.end(), ip)) leaving.push_back({ip, c});
    for (auto& [ip, c] : leaving) retire(ip, c);
    auto ds = dataSource();
    auto d = tableDelegate();
    // Both in order: one walk along the visible cells finds the ones already there.
    auto seen = visible_.begin();
    for (const IndexPath& ip : want) {
        while (seen != visible_.end() && seen->first < ip) ++seen;
        if (seen != visible_.end() && seen->first == ip) {
            seen->second->setFrame(rectForRow(ip));
            continue;
        }
        TableViewCellPtr cell = ds ? ds->cellForRow(*this, ip) : nullptr;
        ++cellsShown_[ip.section];
        // A data source that gives no cell gets an empty row rather than a crash.
        if (!cell) cell = std::make_shared<TableViewCell>();
        if (d) d->willDisplayCell(*this, *cell, ip);
        placeCell(cell, ip);
        // The data source and delegate may have changed the visible cells: find the place again.
        seen = visible_.lower_bound(ip);
    }
}

void TableView::layoutSupplementary() {
    const Rect b = bounds();
    const double top = b.minY(), bottom = b.maxY();
    // Plain tables pin a section's header to the top of the visible part while the section
    // scrolls under it; the end of the section pushes it up and away.
    bool floating = style_ == TableViewStyle::Plain;
    std::optional<double> pinTop;
    // A section's header and footer (a pinned header included) lie within the section: only the
    // sections that reach into view can show one, and any shown for a section out of view goes.
    // A long table is not gone through whole on every frame of a scroll.
    const auto first = std::partition_point(sections_.begin(), sections_.end(),
                                            [&](const Section& sec) { return sec.footerY + sec.footerH <= top; });
    auto last = first;
    while (last != sections_.end() && last->headerY < bottom) ++last;
    const long from = first - sections_.begin(), to = last - sections_.begin();
    for (auto it = supplementary_.begin(); it != supplementary_.end();) {
        if (it->first.first >= from && it->first.first < to) {
            ++it;
            continue;
        }
        it->second->removeFromSuperview();
        it = supplementary_.erase(it);
    }
    sectionsLookedAt_ = static_cast<size_t>(to - from);
    for (auto s = static_cast<size_t>(from); s < static_cast<size_t>(to); ++s) {
        const Section& sec = sections_[s];
        if (floating && sec.headerH > 0) {
            if (!pinTop) pinTop = top + adjustedContentInset().top;
            double end = sec.footerY + sec.footerH;
            double y = std::max(sec.headerY, std::min(*pinTop, end - sec.headerH));
            updateSupplementary(static_cast<long>(s), true, sec.headerH > 0 && y < bottom && y + sec.headerH > top,
                                Rect(0, y, b.width(), sec.headerH));
        } else {
            updateSupplementary(static_cast<long>(s), true,
                                sec.headerH > 0 && sec.headerY < bottom && sec.headerY + sec.headerH > top);
        }
        updateSupplementary(static_cast<long>(s), false,
                            sec.footerH > 0 && sec.footerY < bottom && sec.footerY + sec.footerH > top);
    }
    if (tableFooter_) {
        double end = sections_.empty() ? (tableHeader_ ? tableHeader_->frame().height() : 0)
                                       : sections_.back().footerY + sections_.back().footerH;
        tableFooter_->setFrame(Rect(0, end, b.width(), tableFooter_->frame().height()));
    }
}

View* TableView::hitTest(Point p, const Event* event) {
    if (isHidden() || !isUserInteractionEnabled() || alpha() < 0.01 || !pointInside(p, event)) return nullptr;
    auto ip = indexPathForRowAtPoint(p);
    auto it = ip ? visible_.find(*ip) : visible_.end();
    View* rowCell = it == visible_.end() ? nullptr : it->second.get();
    const auto& subs = subviews();
    // Headers, footers and the like go in z-order with the row's cell; once none is left below,
    // the rest are other rows' cells, and only the row's own cell can still take the touch.
    size_t others = subs.size() - visibleCellViews_.size();
    bool rowTried = false;
    for (auto s = subs.rbegin(); s != subs.rend() && others > 0; ++s) {
        View* v = s->get();
        if (v == rowCell) {
            rowTried = true;
        } else if (std::binary_search(visibleCellViews_.begin(), visibleCellViews_.end(), v)) {
            continue;
        } else {
            --others;
        }
        if (View* hit = v->hitTest(v->pointFromSuperview(p), event)) return hit;
    }
    if (rowCell && !rowTried)
        if (View* hit = rowCell->hitTest(rowCell->pointFromSuperview(p), event)) return hit;
    return this;
}

std::vector<View*> TableView::outlineSubviews() const {
    std::vector<View*> out;
    std::set<const View*> listed;
    auto add = [&](const std::shared_ptr<View>& v) {
        if (v && v->superview() == this && listed.insert(v.get()).second) out.push_back(v.get());
    };
    add(tableHeader_);
    for (size_t s = 0; s < sections_.size(); ++s) {
        add(headerView(static_cast<long>(s)));
        for (auto it = visible_.lower_bound({static_cast<long>(s), 0});
             it != visible_.end() && it->first.section == static_cast<long>(s); ++it)
            add(it->second);
        add(footerView(static_cast<long>(s)));
    }
    add(tableFooter_);
    for (auto& v : subviews())
        if (v != backgroundView_ && !listed.count(v.get())) out.push_back(v.get());
    return out;
}

// ---- Data

void TableView::reloadData() {
    TK_MAIN_THREAD("reloadData");
    ++wholeReloads_;
    hideSwipeActions();
    // Which row a swipe under way began on cannot be told after a whole reload: it reveals nothing.
    swipeStartRow_.reset();
    for (auto& ip : selected_)
        if (auto c = cellForRow(ip)) c->setSelected(false);
    selected_.clear();
    clearVisible();
    pending_.clear();
    updateDepth_ = 0;
    computeGeometry();
    setNeedsLayout();
}

void TableView::reloadRows(const std::vector<IndexPath>& rows, RowAnimation animation) {
    for (auto& ip : rows) recordUpdate({Update::ReloadRow, ip, ip});
    rowReloads_ += rows.size();
    (void)animation;
}

void TableView::reloadSections(const std::vector<long>& sections, RowAnimation animation) {
    beginUpdates();
    for (long s : sections) {
        long n = numberOfRows(s);
        for (long r = 0; r < n; ++r) recordUpdate({Update::ReloadRow, {s, r}, {s, r}});
        rowReloads_ += static_cast<size_t>(std::max(0L, n));
    }
    (void)endUpdates();
    (void)animation;
    // Headers and footers are read again too.
    for (long s : sections) {
        updateSupplementary(s, true, false);
        updateSupplementary(s, false, false);
    }
    setNeedsLayout();
}

void TableView::insertRows(const std::vector<IndexPath>& rows, RowAnimation) {
    beginUpdates();
    for (auto& ip : rows) recordUpdate({Update::InsertRow, ip, ip});
    (void)endUpdates();
}

void TableView::deleteRows(const std::vector<IndexPath>& rows, RowAnimation) {
    beginUpdates();
    for (auto& ip : rows) recordUpdate({Update::DeleteRow, ip, ip});
    (void)endUpdates();
}

void TableView::insertSections(const std::vector<long>& sections, RowAnimation) {
    beginUpdates();
    for (long s : sections) recordUpdate({Update::InsertSection, {s, 0}, {s, 0}});
    (void)endUpdates();
}

void TableView::deleteSections(const std::vector<long>& sections, RowAnimation) {
    beginUpdates();
    for (long s : sections) recordUpdate({Update::DeleteSection, {s, 0}, {s, 0}});
    (void)endUpdates();
}

void TableView::moveRow(IndexPath from, IndexPath to) {
    beginUpdates();
    recordUpdate({Update::Move, from, to});
    (void)endUpdates();
}

void TableView::recordUpdate(Update u) {
    if (updateDepth_ > 0) {
        pending_.push_back(u);
        return;
    }
    beginUpdates();
    pending_.push_back(u);
    (void)endUpdates();
}

void TableView::beginUpdates() {
    TK_MAIN_THREAD("beginUpdates");
    ensureGeometry();
    ++updateDepth_;
}

foundation::Status TableView::performBatchUpdates(const std::function<void()>& updates,
                                                  std::function<void(bool)> completion) {
    beginUpdates();
    if (updates) updates();
    foundation::Status st = endUpdates();
    bool ok = st.ok();
    if (completion) {
        auto c = std::move(completion);
        scheduleCompletion(kUpdateDuration, [c, ok] { c(ok); });
    }
    return st;
}

foundation::Status TableView::endUpdates() {
    if (updateDepth_ == 0) return {};
    if (--updateDepth_ > 0) return {};
    std::vector<Update> ops = std::move(pending_);
    pending_.clear();
    if (ops.empty()) return {};
    hideSwipeActions();
    auto ds = dataSource();
    long oldSections = static_cast<long>(sections_.size());
    std::vector<long> oldRows;
    for (auto& s : sections_) oldRows.push_back(static_cast<long>(s.rowY.size()));

    std::set<long> delSec, insSec;
    std::map<long, std::set<long>> delRows, insRows;  // old section -> old rows; new section -> new rows
    std::map<IndexPath, IndexPath> moves;
    std::set<IndexPath> reloads;
    for (auto& u : ops) switch (u.kind) {
            case Update::InsertRow:
                insRows[u.a.section].insert(u.a.row);
                break;
            case Update::DeleteRow:
                delRows[u.a.section].insert(u.a.row);
                break;
            case Update::ReloadRow:
                reloads.insert(u.a);
                break;
            case Update::InsertSection:
                insSec.insert(u.a.section);
                break;
            case Update::DeleteSection:
                delSec.insert(u.a.section);
                break;
            case Update::Move:
                moves[u.a] = u.b;
                delRows[u.a.section].insert(u.a.row);
                insRows[u.b.section].insert(u.b.row);
                break;
        }

    auto fail = [&](const std::string& why) -> foundation::Status {
        reloadData();
        return foundation::Error::withDescription(kTableDomain, 1, why);
    };
    long newSections = ds ? std::max(0L, ds->numberOfSections(*this)) : 0;
    for (long s : delSec)
        if (s < 0 || s >= oldSections) return fail("a deleted section is out of range");
    if (newSections != oldSections - static_cast<long>(delSec.size()) + static_cast<long>(insSec.size()))
        return fail("the number of sections after the update (" + std::to_string(newSections) +
                    ") does not match the sections before it with those inserted and deleted");
    for (long s : insSec)
        if (s < 0 || s >= newSections) return fail("an inserted section is out of range");
    auto sectionMap = [&](long s) -> long {
        if (delSec.count(s)) return -1;
        return nthFree(s - countBelow(delSec, s), insSec);
    };
    std::map<long, long> newToOld;
    for (long s = 0; s < oldSections; ++s)
        if (long ns = sectionMap(s); ns >= 0) newToOld[ns] = s;
    for (auto& [s, rows] : delRows)
        for (long r : rows)
            if (s < 0 || s >= oldSections || r < 0 || r >= oldRows[static_cast<size_t>(s)])
                return fail("a deleted or moved row is out of range");
    for (long ns = 0; ns < newSections; ++ns) {
        long count = std::max(0L, ds->numberOfRows(*this, ns));
        for (long r : insRows[ns])
            if (r < 0 || r >= count) return fail("an inserted or moved row is out of range");
        if (insSec.count(ns)) continue;
        long os = newToOld[ns];
        long expected = oldRows[static_cast<size_t>(os)] - static_cast<long>(delRows[os].size()) +
                        static_cast<long>(insRows[ns].size());
        if (count != expected)
            return fail("section " + std::to_string(ns) + " has " + std::to_string(count) +
                        " rows after the update, but the rows before it with those inserted and deleted make " +
                        std::to_string(expected));
    }
    auto mapRow = [&](IndexPath ip) -> std::optional<IndexPath> {
        if (auto m = moves.find(ip); m != moves.end()) return m->second;
        long ns = sectionMap(ip.section);
        if (ns < 0) return std::nullopt;
        const std::set<long>& del = delRows[ip.section];
        if (del.count(ip.row)) return std::nullopt;
        return IndexPath{ns, nthFree(ip.row - countBelow(del, ip.row), insRows[ns])};
    };

    // A swipe under way goes on with the row it began on, wherever that row now is (none once
    // it went).
    if (swipeStartRow_) swipeStartRow_ = mapRow(*swipeStartRow_);
    std::set<IndexPath> selected;
    for (auto& ip : selected_)
        if (!reloads.count(ip))
            if (auto m = mapRow(ip)) selected.insert(*m);
    selected_ = std::move(selected);
    std::vector<std::pair<IndexPath, TableViewCellPtr>> keep, drop;
    for (auto& [ip, c] : visible_) {
        auto m = reloads.count(ip) ? std::nullopt : mapRow(ip);
        if (m)
            keep.push_back({*m, c});
        else
            drop.push_back({ip, c});
    }
    for (auto& [ip, c] : drop) retire(ip, c);
    visible_.clear();
    for (auto& [ip, c] : keep) {
        visible_[ip] = c;
        c->indexPath_ = ip;
    }
    for (auto& [k, v] : supplementary_) v->removeFromSuperview();
    supplementary_.clear();
    computeGeometry();
    for (auto& [ip, c] : visible_) c->setSelected(selected_.count(ip) > 0);
    setNeedsLayout();
    layoutIfNeeded();
    return {};
}

// ---- Selection

void TableView::applySelection(IndexPath ip, bool selected, bool animated) {
    if (selected)
        selected_.insert(ip);
    else
        selected_.erase(ip);
    if (auto c = cellForRow(ip)) c->setSelected(selected, animated);
}

void TableView::selectRow(std::optional<IndexPath> ip, bool animated, ScrollPosition position) {
    TK_MAIN_THREAD("selectRow");
    if (!ip || !allowsMultipleSelection) {
        auto copy = selected_;
        for (auto& other : copy)
            if (!ip || other != *ip) applySelection(other, false, animated);
    }
    if (!ip) return;
    if (ip->row < 0 || ip->row >= numberOfRows(ip->section)) return;
    applySelection(*ip, true, animated);
    if (position != ScrollPosition::None) scrollToRow(*ip, position, animated);
}

void TableView::deselectRow(IndexPath ip, bool animated) {
    TK_MAIN_THREAD("deselectRow");
    applySelection(ip, false, animated);
}

std::optional<IndexPath> TableView::indexPathForSelectedRow() const {
    if (selected_.empty()) return std::nullopt;
    return *selected_.begin();
}

std::vector<IndexPath> TableView::indexPathsForSelectedRows() const { return {selected_.begin(), selected_.end()}; }

void TableView::userSelectRow(IndexPath ip) {
    if (swiped_) {
        // A touch while swipe actions show only puts the row back.
        hideSwipeActions();
        return;
    }
    if (editing_ ? !allowsSelectionDuringEditing : !allowsSelection) return;
    auto d = tableDelegate();
    if (allowsMultipleSelection && selected_.count(ip)) {
        auto target = d ? d->willDeselectRow(*this, ip) : std::optional<IndexPath>(ip);
        if (!target) return;
        applySelection(*target, false, true);
        if (d) d->didDeselectRow(*this, *target);
        return;
    }
    auto target = d ? d->willSelectRow(*this, ip) : std::optional<IndexPath>(ip);
    if (!target) return;
    if (!allowsMultipleSelection) {
        auto copy = selected_;
        for (auto& other : copy) {
            if (other == *target) continue;
            auto gone = d ? d->willDeselectRow(*this, other) : std::optional<IndexPath>(other);
            if (!gone) continue;
            applySelection(*gone, false, false);
            if (d) d->didDeselectRow(*this, *gone);
        }
    }
    applySelection(*target, true, false);
    if (d) d->didSelectRow(*this, *target);
}

void TableView::cellTouchBegan(TableViewCell& cell) {
    if (!cell.indexPath_ || swiped_ || touchCaughtGlide()) return;
    if (editing_ ? !allowsSelectionDuringEditing : !allowsSelection) return;
    auto d = tableDelegate();
    if (d && !d->shouldHighlightRow(*this, *cell.indexPath_)) return;
    highlighted_ = cell.indexPath_;
    cell.setHighlighted(true);
    if (d) d->didHighlightRow(*this, *cell.indexPath_);
}

void TableView::cellTouchEnded(TableViewCell& cell, bool inside) {
    if (!cell.indexPath_) return;
    IndexPath ip = *cell.indexPath_;
    if (highlighted_ == ip) {
        highlighted_.reset();
        cell.setHighlighted(false);
        if (auto d = tableDelegate()) d->didUnhighlightRow(*this, ip);
    }
    // A touch that stopped the moving content selects nothing.
    if (inside && !touchCaughtGlide()) userSelectRow(ip);
}

void TableView::accessoryTapped(TableViewCell& cell) {
    if (!cell.indexPath_) return;
    if (auto d = tableDelegate()) d->accessoryButtonTapped(*this, *cell.indexPath_);
}

void TableView::editingControlTapped(TableViewCell& cell) {
    if (!cell.indexPath_) return;
    IndexPath ip = *cell.indexPath_;
    if (cell.editingStyle_ == CellEditingStyle::Insert) {
        if (auto ds = dataSource()) ds->commitEditingStyle(*this, CellEditingStyle::Insert, ip);
        return;
    }
    // The minus shows the delete confirmation, as a swipe would.
    if (swiped_ == ip)
        hideSwipeActions();
    else
        revealSwipeActions(ip, SwipeEdge::Trailing);
}

// ---- Editing

void TableView::setEditing(bool editing, bool animated) {
    TK_MAIN_THREAD("setEditing");
    hideSwipeActions();
    editing_ = editing;
    for (auto& [ip, c] : visible_) {
        placeCell(c, ip);
        c->setEditing(editing, animated);
    }
    setNeedsLayout();
}

bool TableView::userMoveRow(IndexPath from, IndexPath to) {
    auto ds = dataSource();
    if (!ds || !editing_ || from.row >= numberOfRows(from.section) || !ds->canMoveRow(*this, from)) return false;
    long last = numberOfRows(to.section) - (to.section == from.section ? 1 : 0);
    IndexPath proposed{to.section, std::clamp(to.row, 0L, std::max(0L, last))};
    if (to.section < 0 || to.section >= numberOfSections()) return false;
    auto d = tableDelegate();
    IndexPath target = d ? d->targetIndexPathForMove(*this, from, proposed) : proposed;
    if (target == from) return true;
    ds->moveRow(*this, from, target);
    moveRow(from, target);
    return true;
}

std::vector<TableView::SwipeAction> TableView::swipeActionsFor(IndexPath ip, SwipeEdge edge, bool& fullSwipe) {
    fullSwipe = false;
    auto d = tableDelegate();
    auto ds = dataSource();
    if (d) {
        auto cfg = edge == SwipeEdge::Trailing ? d->trailingSwipeActions(*this, ip) : d->leadingSwipeActions(*this, ip);
        // A configuration wins; none (or not implemented) falls back to the older sources.
        if (cfg && *cfg) {
            fullSwipe = (*cfg)->performsFirstActionWithFullSwipe;
            std::vector<SwipeAction> out;
            for (auto& a : (*cfg)->actions) out.push_back({a, nullptr});
            return out;
        }
    }
    if (edge == SwipeEdge::Leading) return {};
    if (!ds || !ds->canEditRow(*this, ip)) return {};
    if (d)
        if (auto rows = d->editActionsForRow(*this, ip)) {
            std::vector<SwipeAction> out;
            for (auto& ra : *rows) {
                auto ca =
                    ContextualAction::make(ra->style == RowActionStyle::Normal ? ContextualActionStyle::Normal
                                                                               : ContextualActionStyle::Destructive,
                                           ra->title, nullptr);
                ca->backgroundColor = ra->backgroundColor;
                out.push_back({ca, ra});
            }
            return out;
        }
    if ((d ? d->editingStyleForRow(*this, ip) : CellEditingStyle::Delete) != CellEditingStyle::Delete) return {};
    // The table's own delete goes all the way, as a configuration does by default.
    fullSwipe = true;
    std::weak_ptr<TableViewDataSource> weakDs = ds;
    return {{ContextualAction::make(ContextualActionStyle::Destructive, "Delete",
                                    [this, weakDs, ip](ContextualAction&, View&, ContextualAction::Completion done) {
                                        if (auto s = weakDs.lock())
                                            s->commitEditingStyle(*this, CellEditingStyle::Delete, ip);
                                        done(true);
                                    }),
             nullptr}};
}

bool TableView::hasSwipeActions(IndexPath ip, SwipeEdge edge) {
    bool full = false;
    return !swipeActionsFor(ip, edge, full).empty();
}

std::vector<std::string> TableView::revealSwipeActions(IndexPath ip, SwipeEdge edge) {
    TK_MAIN_THREAD("revealSwipeActions");
    hideSwipeActions();
    bool full = false;
    swipeActions_ = swipeActionsFor(ip, edge, full);
    fullSwipeAllowed_ = full;
    if (swipeActions_.empty()) return {};
    std::vector<ContextualActionPtr> actions;
    for (auto& [ca, ra] : swipeActions_) actions.push_back(ca);
    auto cell = cellForRow(ip);
    if (!cell) {
        scrollToRow(ip, ScrollPosition::None, false);
        layoutIfNeeded();
        cell = cellForRow(ip);
    }
    if (!cell) return {};
    if (auto d = tableDelegate()) d->willBeginEditingRow(*this, ip);
    swiped_ = ip;
    auto panel = std::make_shared<SwipeActionsView>();
    // The actions cover the part of the row they take: buttons whose background is a pattern
    // with clear parts show the table's background there, not the row's text.
    panel->setBackgroundColor(Color::systemBackground());
    double h = cell->bounds().height();
    double x = 0;
    std::vector<std::string> titles;
    for (auto& a : actions) {
        auto b = std::make_shared<Button>(ButtonType::Custom);
        b->setTitle(a->title, kStateNormal);
        // Action titles are white on the action's colour, as the platform draws them.
        b->setTitleColor(Color::whiteColor(), kStateNormal);
        if (a->image) {
            // An action with an image shows the image, and its title under it only where the row
            // leaves room for both; elsewhere the title names the button without being drawn.
            b->accessibility().label = a->title;
            if (h < kSwipeTitleUnderImageHeight) {
                b->setTitle(std::string(), kStateNormal);
                b->setImage(a->image, kStateNormal);
            } else {
                const Size image = a->image->size();
                const double title = b->titleLabel()->sizeThatFits({}).height;
                auto picture = std::make_shared<ImageView>(a->image);
                picture->setFrame(Rect((kSwipeButtonWidth - image.width) / 2, (h - image.height - title) / 2,
                                       image.width, image.height));
                b->addSubview(picture);
                b->setTitleEdgeInsets({image.height / 2, 0, -image.height / 2, 0});
            }
        }
        b->setBackgroundColor(a->backgroundColor.value_or(
            a->style == ContextualActionStyle::Destructive ? Color::systemRed() : Color::systemGray()));
        // A drawn title keeps a margin on both sides: a long one widens its button.
        const double width = a->image ? kSwipeButtonWidth
                                      : std::max(kSwipeButtonWidth, std::ceil(b->titleLabel()->sizeThatFits({}).width) +
                                                                        2 * kSwipeTitleMargin);
        b->setFrame(Rect(x, 0, width, h));
        std::string title = a->title;
        b->addAction([this, title](Control&, const Event*) { tapSwipeAction(title); }, kTouchUpInside);
        panel->addSubview(b);
        x += width;
        titles.push_back(a->title);
    }
    // The row's content slides aside by the actions' width (the cell's bounds move), and the
    // actions take the room it leaves.
    Rect cb = cell->bounds();
    cb.origin.x = edge == SwipeEdge::Trailing ? x : -x;
    cell->setBounds(cb);
    panel->setFrame(Rect(edge == SwipeEdge::Trailing ? cb.origin.x + cb.width() - x : cb.origin.x, 0, x, h));
    cell->swipeView_ = panel;
    cell->addSubview(panel);
    return titles;
}

bool TableView::tapSwipeAction(const std::string& title) {
    if (!swiped_) return false;
    for (size_t i = 0; i < swipeActions_.size(); ++i)
        if (swipeActions_[i].first->title == title) return performSwipeAction(i);
    return false;
}

bool TableView::performSwipeAction(size_t index) {
    if (!swiped_ || index >= swipeActions_.size()) return false;
    IndexPath ip = *swiped_;
    auto cell = cellForRow(ip);
    auto [ca, ra] = swipeActions_[index];
    if (ra) {
        // The older actions leave the row swiped; their handlers end editing themselves.
        if (ra->handler) ra->handler(*ra, ip);
        return true;
    }
    View* source = cell && cell->swipeView_ ? cell->swipeView_.get() : this;
    std::weak_ptr<TableView> weak = std::static_pointer_cast<TableView>(self());
    if (ca->handler)
        ca->handler(*ca, *source, [weak](bool) {
            if (auto t = weak.lock()) t->hideSwipeActions();
        });
    else
        hideSwipeActions();
    return true;
}

std::optional<std::string> TableView::fullSwipe(IndexPath ip, SwipeEdge edge) {
    if (revealSwipeActions(ip, edge).empty() || !fullSwipeAllowed_ || swipeActions_.empty()) return std::nullopt;
    std::string title = swipeActions_.front().first->title;
    performSwipeAction(0);
    return title;
}

void TableView::hideSwipeActions() {
    if (!swiped_) return;
    IndexPath ip = *swiped_;
    swiped_.reset();
    for (auto& [p, c] : visible_)
        if (c->swipeView_) c->removeSwipeView();
    if (auto d = tableDelegate()) d->didEndEditingRow(*this, ip);
}

void TableView::handleSwipePan(GestureRecognizer& g) {
    auto& pan = static_cast<PanGestureRecognizer&>(g);
    // The swipe acts on the row under the finger where it began, named then: the table may
    // still move under the finger (settling after a scroll, reloaded) before the finger lifts.
    if (g.state() == GestureState::Began) {
        const Point t = pan.translationInView(nullptr);
        const Point at = pan.locationInView(this);
        swipeStartRow_ = indexPathForRowAtPoint({at.x - t.x, at.y - t.y});
        return;
    }
    if (g.state() != GestureState::Ended) {
        if (g.state() == GestureState::Cancelled || g.state() == GestureState::Failed) swipeStartRow_.reset();
        return;
    }
    Point t = pan.translationInView(nullptr);
    std::optional<IndexPath> ip = swipeStartRow_;
    swipeStartRow_.reset();
    if (!ip || std::fabs(t.x) < kSwipeThreshold) return;
    SwipeEdge edge = t.x < 0 ? SwipeEdge::Trailing : SwipeEdge::Leading;
    if (swiped_) {
        hideSwipeActions();
        return;
    }
    if (std::fabs(t.x) >= kFullSwipeFraction * rowWidth())
        fullSwipe(*ip, edge);
    else
        revealSwipeActions(*ip, edge);
}

// ---- Context menus

void TableView::handleLongPress(GestureRecognizer& g) {
    if (g.state() != GestureState::Began) return;
    Point at = g.locationInView(this);
    if (auto ip = indexPathForRowAtPoint(at)) beginContextMenu(*ip, at);
}

std::shared_ptr<ContextMenuSession> TableView::beginContextMenu(IndexPath ip, Point location) {
    dismissContextMenu();
    auto d = tableDelegate();
    if (!d) return nullptr;
    auto cfg = d->contextMenuConfiguration(*this, ip, location);
    if (!cfg) return nullptr;
    auto s = std::make_shared<ContextMenuSession>();
    s->indexPath = ip;
    s->configuration = cfg;
    s->menu = cfg->actionProvider ? cfg->actionProvider({}) : nullptr;
    s->preview = cfg->previewProvider ? cfg->previewProvider() : nullptr;
    menuSession_ = s;
    // Drawn over the window beside the pressed row, the preview lifted out where the row was.
    if (Window* w = window()) {
        // The preview appears as a shown screen does, at the window's size: it lays itself out
        // and names the size it wants before the panel places it.
        if (s->preview) {
            s->preview->view()->setFrame(w->bounds());
            s->preview->beginAppearanceTransition(true, true);
        }
        std::weak_ptr<View> weak = self();
        auto table = [weak] { return std::static_pointer_cast<TableView>(weak.lock()); };
        MenuPanel::show(this, *w, s->menu, convertRectTo(rectForRow(ip), nullptr), MenuPanel::Style::context,
                        s->preview,
                        {[table](const std::shared_ptr<MenuAction>& action) {
                             if (auto t = table()) t->performContextMenuAction(action);
                         },
                         [table] {
                             if (auto t = table()) t->dismissContextMenu();
                         },
                         [table] {
                             if (auto t = table()) t->commitContextMenuPreview();
                         }});
        if (s->preview) {
            // At the size the panel gives it, before it has appeared (it scrolls as it appears).
            if (MenuPanel* panel = MenuPanel::shown(w))
                if (const Rect frame = panel->previewFrame(); !frame.isEmpty()) {
                    const Size was = s->preview->view()->bounds().size;
                    s->preview->view()->setFrame(Rect(0, 0, frame.width(), frame.height()));
                    // Narrower than the window: its contents are laid out again for the new size.
                    if (!(was == frame.size)) s->preview->viewWillTransitionToSize(frame.size, nullptr);
                    s->preview->view()->layoutIfNeeded();
                }
            s->preview->endAppearanceTransition();
        }
    }
    return s;
}

bool TableView::performContextMenuAction(const std::string& title) {
    if (!menuSession_ || !menuSession_->menu) return false;
    return performContextMenuAction(menuSession_->menu->findChoosableAction(title));
}

bool TableView::performContextMenuAction(const std::shared_ptr<MenuAction>& action) {
    if (!menuSession_ || !action || (action->attributes & (kMenuElementDisabled | kMenuElementHidden))) return false;
    // The menu goes away first; the action runs as it does.
    dismissContextMenu();
    return action->perform();
}

void TableView::commitContextMenuPreview() {
    if (!menuSession_) return;
    auto session = menuSession_;
    auto animator = std::make_shared<ContextMenuCommitAnimator>(session->preview);
    if (auto d = tableDelegate()) d->willPerformPreviewAction(*this, *session->configuration, *animator);
    dismissContextMenu();
    scheduleCompletion(kUpdateDuration, [animator] { animator->finish(); });
}

void TableView::dismissContextMenu() {
    if (!menuSession_) return;
    MenuPanel::close(this);
    auto s = std::move(menuSession_);
    menuSession_.reset();
    if (s->preview && s->preview->appearanceState() != AppearanceState::Disappeared) {
        s->preview->beginAppearanceTransition(false, true);
        s->preview->endAppearanceTransition();
    }
    if (auto d = tableDelegate()) d->contextMenuWillEnd(*this, *s->configuration);
}

}  // namespace toolkit
