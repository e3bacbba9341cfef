// Tables: rows in sections under optional headers and footers, in plain, grouped and
// inset-grouped styles; plain tables keep the header of the section at the top in view. Only
// the rows in the visible part have cells; cells leaving it go to a reuse queue by identifier
// and come back through dequeue (prepareForReuse first). Row geometry is computed from the data
// source and delegate on reload; batch updates are checked against the data source's new
// counts and move the selection and the visible cells with their rows. Swipe actions, legacy
// row actions, editing, moves and context menus go through the delegate as the platform's do.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/scroll_view.h"

namespace toolkit {

namespace detail {
// A map kept as one sorted vector: a table's visible rows are few and walked on every layout
// pass and hit test, which a vector does without chasing tree nodes. Unlike std::map, adding a
// key moves the entries after it (iterators past it no longer hold).
template <class K, class V>
class SortedMap {
public:
    using value_type = std::pair<K, V>;
    using iterator = typename std::vector<value_type>::iterator;
    using const_iterator = typename std::vector<value_type>::const_iterator;
    iterator begin() { return items_.begin(); }
    iterator end() { return items_.end(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear() { items_.clear(); }
    iterator lower_bound(const K& k) {
        return std::lower_bound(items_.begin(), items_.end(), k,
                                [](const value_type& a, const K& b) { return a.first < b; });
    }
    const_iterator lower_bound(const K& k) const {
        return std::lower_bound(items_.begin(), items_.end(), k,
                                [](const value_type& a, const K& b) { return a.first < b; });
    }
    iterator find(const K& k) {
        auto it = lower_bound(k);
        return it != items_.end() && it->first == k ? it : items_.end();
    }
    const_iterator find(const K& k) const {
        auto it = lower_bound(k);
        return it != items_.end() && it->first == k ? it : items_.end();
    }
    V& operator[](const K& k) {
        auto it = lower_bound(k);
        if (it == items_.end() || !(it->first == k)) it = items_.insert(it, {k, V{}});
        return it->second;
    }
    size_t erase(const K& k) {
        auto it = find(k);
        if (it == items_.end()) return 0;
        items_.erase(it);
        return 1;
    }

private:
    std::vector<value_type> items_;
};
}  // namespace detail

class TableView;
class ViewController;

enum class TableViewStyle { Plain, Grouped, InsetGrouped };
enum class TableViewCellStyle { Default, Value1, Value2, Subtitle };
enum class CellAccessoryType { None, DisclosureIndicator, DetailDisclosureButton, Checkmark, DetailButton };
enum class CellSelectionStyle { None, Blue, Gray, Default };
enum class CellEditingStyle { None, Delete, Insert };
enum class RowAnimation { Fade, Right, Left, Top, Bottom, None, Middle, Automatic };
enum class ScrollPosition { None, Top, Middle, Bottom };
enum class SeparatorStyle { None, SingleLine };
enum class SwipeEdge { Leading, Trailing };

class TableViewCell : public View {
public:
    explicit TableViewCell(TableViewCellStyle style = TableViewCellStyle::Default, std::string reuseIdentifier = {});
    std::string className() const override { return "TableViewCell"; }

    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    TableViewCellStyle cellStyle() const { return style_; }
    View& contentView() { return *content_; }
    const std::shared_ptr<View>& contentViewPtr() const { return content_; }
    Label& textLabel();
    // None for the default style, which has no detail.
    Label* detailTextLabel();
    ImageView& imageView();

    CellAccessoryType accessoryType() const { return accessoryType_; }
    void setAccessoryType(CellAccessoryType type) { setProperty(accessoryType_, type, true); }
    // The accessory shown while the cell is editing (a checkmark or a disclosure indicator), in
    // place of `accessoryType`, which shows only outside editing.
    CellAccessoryType editingAccessoryType() const { return editingAccessoryType_; }
    void setEditingAccessoryType(CellAccessoryType type) { setProperty(editingAccessoryType_, type, true); }
    // The one of the two that shows now.
    CellAccessoryType shownAccessoryType() const { return editing_ ? editingAccessoryType_ : accessoryType_; }
    std::shared_ptr<View> accessoryView() const { return accessoryView_; }
    void setAccessoryView(std::shared_ptr<View> view);
    CellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(CellSelectionStyle style);
    const std::shared_ptr<View>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<View> view);
    std::shared_ptr<View> selectedBackgroundView() const { return selectedBackground_; }
    void setSelectedBackgroundView(std::shared_ptr<View> view);
    // Where the separator under the row starts and ends.
    EdgeInsets separatorInset() const { return separatorInset_; }
    void setSeparatorInset(EdgeInsets inset) { setProperty(separatorInset_, inset); }

    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected, bool animated = false);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted, bool animated = false);
    // Selected or highlighted with a selection style: the renderer fills the cell with the
    // selection grey unless a selected background view stands in for it.
    bool showsSelection() const { return (selected_ || highlighted_) && selectionStyle_ != CellSelectionStyle::None; }
    bool isEditing() const { return editing_; }
    virtual void setEditing(bool editing, bool animated = false);
    CellEditingStyle editingStyle() const { return editingStyle_; }
    bool showsReorderControl() const { return reorder_; }

    // Called before a queued cell is handed out again.
    virtual void prepareForReuse();
    // The height the cell needs at this width, for rows of automatic height: by default its
    // labels' lines (wrapped as their line counts allow) between 11-point margins, or its other
    // content views' extent, and at least 44. Cells with content of their own override it.
    virtual double fittingHeight(double width);
    void layoutSubviews() override;
    std::string outlineText() const override;
    std::string outlineState() const override;
    std::vector<View*> outlineSubviews() const override;

    void touchesBegan(const TouchSet& touches, const Event* event) override;
    void touchesEnded(const TouchSet& touches, const Event* event) override;
    void touchesCancelled(const TouchSet& touches, const Event* event) override;

    // The row it shows, while visible.
    const std::optional<IndexPath>& indexPath() const { return indexPath_; }

private:
    friend class TableView;
    TableView* table() const;
    bool isStandardPart(const View* v) const;
    // Moving the row by its reorder control: a pan that starts on the control's strip at the
    // trailing edge carries the cell with the finger and, on lifting, moves the row to where the
    // cell's middle is.
    class ReorderGrip;
    bool inReorderGrip(Point windowPoint) const;
    void reorderPanned(GestureRecognizer& pan);
    std::shared_ptr<ReorderGrip> reorderGrip_;
    std::shared_ptr<GestureRecognizer> reorderPan_;
    std::optional<IndexPath> reorderFrom_;
    Rect reorderOrigin_;
    // Where the latest touch on the row came down (window coordinates): one that moved further
    // than a tap may is no tap and selects nothing.
    Point touchStart_;
    TableViewCellStyle style_;
    std::string reuseIdentifier_;
    std::shared_ptr<View> content_;
    std::shared_ptr<Label> text_;
    std::shared_ptr<Label> detail_;
    std::shared_ptr<ImageView> image_;
    std::shared_ptr<View> accessoryView_;
    std::shared_ptr<Button> accessoryButton_;
    std::shared_ptr<Button> editingControl_;
    std::shared_ptr<ImageView> reorderControl_;
    std::shared_ptr<View> selectedBackground_;
    std::shared_ptr<View> swipeView_;
    // Takes the swipe actions away and slides the content back.
    void removeSwipeView();
    std::shared_ptr<View> backgroundView_;
    CellAccessoryType accessoryType_ = CellAccessoryType::None;
    CellAccessoryType editingAccessoryType_ = CellAccessoryType::None;
    CellSelectionStyle selectionStyle_ = CellSelectionStyle::Default;
    EdgeInsets separatorInset_{0, 16, 0, 0};
    bool selected_ = false;
    bool highlighted_ = false;
    bool editing_ = false;
    bool reorder_ = false;
    CellEditingStyle editingStyle_ = CellEditingStyle::None;
    std::optional<IndexPath> indexPath_;
};
using TableViewCellPtr = std::shared_ptr<TableViewCell>;

// The default view of a section title: a line of grey text at the bottom of the space, or, for a
// footer, the text wrapped onto as many lines as it needs there.
class TableViewHeaderFooterView : public View {
public:
    std::string className() const override { return "TableViewHeaderFooterView"; }
    Label& textLabel();
    bool wrapsText() const { return wraps_; }
    void setWrapsText(bool wraps);
    // The height of a title's space at a width: oneLine for text on one line, a line more for
    // every further line the text wraps onto.
    static double heightForTitle(const std::string& title, double width, double oneLine);
    std::string outlineText() const override { return label_ ? label_->text() : std::string(); }
    bool outlinesSubviews() const override { return false; }
    void layoutSubviews() override;

private:
    std::shared_ptr<Label> label_;
    bool wraps_ = false;
};

enum class ContextualActionStyle { Normal, Destructive };

class ContextualAction {
public:
    using Completion = std::function<void(bool actionPerformed)>;
    using Handler = std::function<void(ContextualAction&, View& sourceView, Completion)>;
    static std::shared_ptr<ContextualAction> make(ContextualActionStyle style, std::string title, Handler handler);
    ContextualActionStyle style = ContextualActionStyle::Normal;
    std::string title;
    std::optional<Color> backgroundColor;
    ImagePtr image;
    Handler handler;
};
using ContextualActionPtr = std::shared_ptr<ContextualAction>;

class SwipeActionsConfiguration {
public:
    static std::shared_ptr<SwipeActionsConfiguration> make(std::vector<ContextualActionPtr> actions);
    std::vector<ContextualActionPtr> actions;
    bool performsFirstActionWithFullSwipe = true;
};
using SwipeActionsConfigurationPtr = std::shared_ptr<SwipeActionsConfiguration>;

enum class RowActionStyle { Default, Destructive, Normal };

// The older row action: runs its handler with the row and leaves the table in its swiped state.
class TableViewRowAction {
public:
    using Handler = std::function<void(TableViewRowAction&, IndexPath)>;
    static std::shared_ptr<TableViewRowAction> make(RowActionStyle style, std::string title, Handler handler);
    RowActionStyle style = RowActionStyle::Default;
    std::string title;
    std::optional<Color> backgroundColor;
    std::string accessibilityLabel;
    Handler handler;
};
using TableViewRowActionPtr = std::shared_ptr<TableViewRowAction>;

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual long numberOfSections(TableView&) { return 1; }
    virtual long numberOfRows(TableView&, long section) = 0;
    virtual TableViewCellPtr cellForRow(TableView&, IndexPath indexPath) = 0;
    virtual std::optional<std::string> titleForHeader(TableView&, long section) {
        (void)section;
        return std::nullopt;
    }
    virtual std::optional<std::string> titleForFooter(TableView&, long section) {
        (void)section;
        return std::nullopt;
    }
    // Rows are not editable unless the data source says so.
    virtual bool canEditRow(TableView&, IndexPath) { return false; }
    virtual void commitEditingStyle(TableView&, CellEditingStyle, IndexPath) {}
    virtual bool canMoveRow(TableView&, IndexPath) { return false; }
    virtual void moveRow(TableView&, IndexPath from, IndexPath to) { (void)from, (void)to; }
};

class TableViewDelegate : public ScrollViewDelegate {
public:
    // Nothing: the table's own value (rowHeight, the section header and footer heights).
    virtual std::optional<double> heightForRow(TableView&, IndexPath) { return std::nullopt; }
    // For rows of automatic height: the height assumed until the row's cell is measured on
    // coming into view (nothing: the table's estimatedRowHeight).
    virtual std::optional<double> estimatedHeightForRow(TableView&, IndexPath) { return std::nullopt; }
    virtual std::optional<double> heightForHeader(TableView&, long) { return std::nullopt; }
    virtual std::optional<double> heightForFooter(TableView&, long) { return std::nullopt; }
    virtual std::shared_ptr<View> viewForHeader(TableView&, long) { return nullptr; }
    virtual std::shared_ptr<View> viewForFooter(TableView&, long) { return nullptr; }
    virtual void willDisplayCell(TableView&, TableViewCell&, IndexPath) {}
    virtual void didEndDisplayingCell(TableView&, TableViewCell&, IndexPath) {}
    // Another row to select instead, or nothing to refuse.
    virtual std::optional<IndexPath> willSelectRow(TableView&, IndexPath ip) { return ip; }
    virtual void didSelectRow(TableView&, IndexPath) {}
    virtual std::optional<IndexPath> willDeselectRow(TableView&, IndexPath ip) { return ip; }
    virtual void didDeselectRow(TableView&, IndexPath) {}
    virtual bool shouldHighlightRow(TableView&, IndexPath) { return true; }
    virtual void didHighlightRow(TableView&, IndexPath) {}
    virtual void didUnhighlightRow(TableView&, IndexPath) {}
    virtual void accessoryButtonTapped(TableView&, IndexPath) {}
    virtual CellEditingStyle editingStyleForRow(TableView&, IndexPath) { return CellEditingStyle::Delete; }
    virtual IndexPath targetIndexPathForMove(TableView&, IndexPath from, IndexPath proposed) {
        (void)from;
        return proposed;
    }
    // Nothing: not implemented (the table falls back to the next source of swipe actions).
    virtual std::optional<std::vector<TableViewRowActionPtr>> editActionsForRow(TableView&, IndexPath) {
        return std::nullopt;
    }
    virtual std::optional<SwipeActionsConfigurationPtr> leadingSwipeActions(TableView&, IndexPath) {
        return std::nullopt;
    }
    virtual std::optional<SwipeActionsConfigurationPtr> trailingSwipeActions(TableView&, IndexPath) {
        return std::nullopt;
    }
    virtual void willBeginEditingRow(TableView&, IndexPath) {}
    virtual void didEndEditingRow(TableView&, std::optional<IndexPath>) {}
    virtual ContextMenuConfigurationPtr contextMenuConfiguration(TableView&, IndexPath, Point) { return nullptr; }
    virtual void willPerformPreviewAction(TableView&, ContextMenuConfiguration&, ContextMenuCommitAnimator&) {}
    virtual void contextMenuWillEnd(TableView&, ContextMenuConfiguration&) {}
};

// A context menu shown for a row: its configuration, the menu and the preview.
struct ContextMenuSession {
    IndexPath indexPath;
    ContextMenuConfigurationPtr configuration;
    MenuPtr menu;
    std::shared_ptr<ViewController> preview;
};

class TableView : public ScrollView {
public:
    explicit TableView(TableViewStyle style = TableViewStyle::Plain);
    TableView(const Rect& frame, TableViewStyle style);
    ~TableView() override;
    std::string className() const override { return "TableView"; }
    TableViewStyle style() const { return style_; }

    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource);
    void setTableDelegate(std::weak_ptr<TableViewDelegate> delegate);
    std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
    std::shared_ptr<TableViewDelegate> tableDelegate() const { return delegate_.lock(); }

    static constexpr double kAutomaticDimension = -1;
    // kAutomaticDimension: each row as high as its cell's fittingHeight.
    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double h);
    // Rows of automatic height take this height until their cell comes into view and is
    // measured (0: every such row is measured when the table loads).
    double estimatedRowHeight() const { return estimatedRowHeight_; }
    void setEstimatedRowHeight(double h);
    // Automatic: 28 points in plain style for sections with a title or view (none otherwise),
    // 38 with and 18 without in the grouped styles.
    double sectionHeaderHeight() const { return sectionHeaderHeight_; }
    void setSectionHeaderHeight(double h);
    double sectionFooterHeight() const { return sectionFooterHeight_; }
    void setSectionFooterHeight(double h);
    // Single lines under the rows (the system separator colour unless one is set), except under
    // a grouped section's last row and under the last row when a table footer view follows.
    SeparatorStyle separatorStyle() const { return separatorStyle_; }
    void setSeparatorStyle(SeparatorStyle style) { setSeparatorProperty(separatorStyle_, style); }
    const std::optional<Color>& separatorColor() const { return separatorColor_; }
    void setSeparatorColor(std::optional<Color> color) { setSeparatorProperty(separatorColor_, std::move(color)); }
    EdgeInsets separatorInset() const { return separatorInset_; }
    void setSeparatorInset(EdgeInsets inset) { setSeparatorProperty(separatorInset_, inset); }
    bool showsSeparatorBelow(IndexPath indexPath) const;
    const std::shared_ptr<View>& tableHeaderView() const { return tableHeader_; }
    void setTableHeaderView(std::shared_ptr<View> view);
    const std::shared_ptr<View>& tableFooterView() const { return tableFooter_; }
    void setTableFooterView(std::shared_ptr<View> view);
    // Fills the table's bounds behind the rows.
    const std::shared_ptr<View>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<View> view);
    bool allowsSelection = true;
    bool allowsMultipleSelection = false;
    bool allowsSelectionDuringEditing = false;

    // ---- Cells
    void registerCell(const std::string& identifier, std::function<TableViewCellPtr()> factory);
    // A queued cell, or none (this form never makes one).
    TableViewCellPtr dequeueReusableCell(const std::string& identifier);
    // A queued cell or a new one from the registered factory; none when nothing is registered.
    TableViewCellPtr dequeueReusableCell(const std::string& identifier, IndexPath indexPath);
    size_t queuedCellCount(const std::string& identifier) const;
    // How many cells the table has asked its data source for, to show rows of a section (a
    // reload of a row asks again; measuring a row does not count).
    size_t cellsShown(long section) const {
        auto it = cellsShown_.find(section);
        return it == cellsShown_.end() ? 0 : it->second;
    }
    // The cell of a visible row; none for rows outside the visible part.
    TableViewCellPtr cellForRow(IndexPath indexPath) const;
    std::vector<TableViewCellPtr> visibleCells() const;
    std::vector<IndexPath> indexPathsForVisibleRows() const;
    std::optional<IndexPath> indexPathForCell(const TableViewCell& cell) const;
    std::shared_ptr<View> headerView(long section) const;
    std::shared_ptr<View> footerView(long section) const;

    // ---- Data
    // Reads everything again; the selection is dropped.
    void reloadData();
    // How often everything was read again, and how many rows were asked for again one by one
    // (reloadRows, reloadSections), since the table was made.
    // How many sections the last layout looked at for headers and footers to show.
    size_t sectionsLookedAt() const { return sectionsLookedAt_; }
    size_t wholeReloads() const { return wholeReloads_; }
    size_t rowReloads() const { return rowReloads_; }
    long numberOfSections() const;
    long numberOfRows(long section) const;
    // Asks the data source again for these rows' cells (their selection is dropped).
    void reloadRows(const std::vector<IndexPath>& rows, RowAnimation animation = RowAnimation::Automatic);
    void reloadSections(const std::vector<long>& sections, RowAnimation animation = RowAnimation::Automatic);
    // Deletions use the old indexes, insertions the new ones. The data source's new counts must
    // agree with them; when they do not, the table reloads everything and answers an error.
    foundation::Status performBatchUpdates(const std::function<void()>& updates,
                                           std::function<void(bool)> completion = {});
    void beginUpdates();
    foundation::Status endUpdates();
    void insertRows(const std::vector<IndexPath>& rows, RowAnimation animation = RowAnimation::Automatic);
    void deleteRows(const std::vector<IndexPath>& rows, RowAnimation animation = RowAnimation::Automatic);
    void insertSections(const std::vector<long>& sections, RowAnimation animation = RowAnimation::Automatic);
    void deleteSections(const std::vector<long>& sections, RowAnimation animation = RowAnimation::Automatic);
    void moveRow(IndexPath from, IndexPath to);

    // ---- Geometry (content coordinates)
    Rect rectForRow(IndexPath indexPath) const;
    Rect rectForSection(long section) const;
    // Where the header sits in the content; a plain table's shown header may float below it
    // (see headerView(section)->frame()).
    Rect rectForHeader(long section) const;
    Rect rectForFooter(long section) const;
    std::optional<IndexPath> indexPathForRowAtPoint(Point point) const;
    std::vector<IndexPath> indexPathsForRowsInRect(const Rect& rect) const;
    void scrollToRow(IndexPath indexPath, ScrollPosition position, bool animated);

    // ---- Selection (in code: no delegate calls)
    void selectRow(std::optional<IndexPath> indexPath, bool animated, ScrollPosition position = ScrollPosition::None);
    void deselectRow(IndexPath indexPath, bool animated);
    std::optional<IndexPath> indexPathForSelectedRow() const;
    std::vector<IndexPath> indexPathsForSelectedRows() const;

    // ---- Editing
    bool isEditing() const { return editing_; }
    virtual void setEditing(bool editing, bool animated = false);
    // What a finger does: selection with the delegate's questions, a move with its target,
    // revealing swipe actions (their titles in order; empty when the row has none).
    void userSelectRow(IndexPath indexPath);
    bool userMoveRow(IndexPath from, IndexPath to);
    std::vector<std::string> revealSwipeActions(IndexPath indexPath, SwipeEdge edge);
    // Taps a revealed swipe action by title.
    bool tapSwipeAction(const std::string& title);
    // A swipe all the way across the row: reveals the actions and, when the configuration
    // allows it, performs the first one. Answers the title of the action performed, if any.
    std::optional<std::string> fullSwipe(IndexPath indexPath, SwipeEdge edge);
    // How far (a share of the row's width) a swipe must travel to count as a full swipe.
    static constexpr double kFullSwipeFraction = 0.6;
    std::optional<IndexPath> swipedRow() const { return swiped_; }
    void hideSwipeActions();
    // Whether a swipe toward that edge would reveal actions on the row.
    bool hasSwipeActions(IndexPath indexPath, SwipeEdge edge);

    // ---- Context menus
    std::shared_ptr<ContextMenuSession> beginContextMenu(IndexPath indexPath, Point location);
    const std::shared_ptr<ContextMenuSession>& contextMenuSession() const { return menuSession_; }
    bool performContextMenuAction(const std::string& title);
    bool performContextMenuAction(const std::shared_ptr<MenuAction>& action);
    void commitContextMenuPreview();
    void dismissContextMenu();

    void layoutSubviews() override;
    // Finds the cell under a point by its row rather than by trying every visible cell.
    View* hitTest(Point point, const Event* event) override;
    std::vector<View*> outlineSubviews() const override;

    // Cells call these from their touches.
    void cellTouchBegan(TableViewCell& cell);
    void cellTouchEnded(TableViewCell& cell, bool inside);
    void accessoryTapped(TableViewCell& cell);
    void editingControlTapped(TableViewCell& cell);

private:
    struct Section {
        double headerY = 0, headerH = 0, footerY = 0, footerH = 0, end = 0;
        std::vector<double> rowY, rowH;
        // Rows of automatic height still at their estimate.
        std::vector<bool> estimated;
        std::optional<std::string> headerTitle, footerTitle;
    };
    struct Update {
        enum Kind { InsertRow, DeleteRow, ReloadRow, InsertSection, DeleteSection, Move } kind;
        IndexPath a, b;
    };
    void setup();
    // Separators are drawn by the visible cells.
    template <class T, class V>
    void setSeparatorProperty(T& field, V&& value) {
        if (!setProperty(field, std::forward<V>(value))) return;
        for (auto& entry : visible_) entry.second->setNeedsDisplay();
    }
    // The table's own header or footer view in its slot.
    void replaceEndView(std::shared_ptr<View>& slot, std::shared_ptr<View> view);
    void computeGeometry();
    // The height of an automatic row now: its cell made by the data source and measured.
    double measureRow(IndexPath ip);
    // Measures the estimated rows among these visible ones; true when a height changed.
    bool measureEstimatedRows(const std::vector<IndexPath>& rows);
    // Places every section, row and footer again from the heights kept.
    void restackRows();
    void placeRows(const std::vector<IndexPath>& rows);
    void layoutSupplementary();
    void rowsInRect(const Rect& rect, std::vector<IndexPath>& out) const;
    void ensureGeometry() const;
    double rowX() const;
    double rowWidth() const;
    void placeCell(const TableViewCellPtr& cell, IndexPath ip);
    void retire(IndexPath ip, const TableViewCellPtr& cell);
    void clearVisible();
    void updateSupplementary(long section, bool header, bool visible, std::optional<Rect> at = std::nullopt);
    void applySelection(IndexPath ip, bool selected, bool animated);
    // A revealed action and, for the older row actions, the row action it stands for.
    using SwipeAction = std::pair<ContextualActionPtr, TableViewRowActionPtr>;
    std::vector<SwipeAction> swipeActionsFor(IndexPath ip, SwipeEdge edge, bool& fullSwipe);
    bool performSwipeAction(size_t index);
    void handleSwipePan(GestureRecognizer& g);
    void handleLongPress(GestureRecognizer& g);
    void recordUpdate(Update u);

    TableViewStyle style_;
    std::weak_ptr<TableViewDataSource> dataSource_;
    std::weak_ptr<TableViewDelegate> delegate_;
    double rowHeight_ = 44;
    double estimatedRowHeight_ = 0;
    double sectionHeaderHeight_ = kAutomaticDimension;
    double sectionFooterHeight_ = kAutomaticDimension;
    // The width the footers' titles were wrapped at (their heights follow the width).
    std::optional<double> footerWrapWidth_;
    SeparatorStyle separatorStyle_ = SeparatorStyle::SingleLine;
    std::optional<Color> separatorColor_;
    EdgeInsets separatorInset_{0, 16, 0, 0};
    std::shared_ptr<View> backgroundView_;
    std::shared_ptr<View> tableHeader_, tableFooter_;
    std::map<std::string, std::function<TableViewCellPtr()>> factories_;
    std::map<std::string, std::vector<TableViewCellPtr>> queues_;
    detail::SortedMap<IndexPath, TableViewCellPtr> visible_;
    // The visible cells' addresses, sorted: hit-testing skips them without touching them.
    std::vector<const View*> visibleCellViews_;
    std::map<long, size_t> cellsShown_;
    size_t wholeReloads_ = 0;
    size_t sectionsLookedAt_ = 0;
    size_t rowReloads_ = 0;
    std::vector<IndexPath> wantScratch_;
    std::map<std::pair<long, bool>, std::shared_ptr<View>> supplementary_;
    std::vector<Section> sections_;
    bool geometryDirty_ = true;
    bool loaded_ = false;
    std::set<IndexPath> selected_;
    std::optional<IndexPath> highlighted_;
    bool editing_ = false;
    int updateDepth_ = 0;
    std::vector<Update> pending_;
    std::optional<IndexPath> swiped_;
    std::vector<SwipeAction> swipeActions_;
    bool fullSwipeAllowed_ = false;
    std::shared_ptr<PanGestureRecognizer> swipePan_;
    std::optional<IndexPath> swipeStartRow_;
    std::shared_ptr<GestureRecognizerDelegate> swipeDelegate_;
    std::shared_ptr<LongPressGestureRecognizer> longPress_;
    std::shared_ptr<GestureRecognizerDelegate> longPressDelegate_;
    std::shared_ptr<ContextMenuSession> menuSession_;
};

}  // namespace toolkit
