// The open dropdown of the dropdown menu: a dimmed view laid over the presenting view that
// closes the dropdown when tapped outside the rows, holding a rounded, shadowed table of rows
// whose height is the whole rows that fit (and at most the maximum), below an optional spacer.
// Everything about the rows comes from its delegate, the menu.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/layout_constraint.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/view_controller.h"

// Red 0.78, green 0.78, blue 0.8: the dropdown's separators, top line and border.
toolkit::Color hxc_defaultSeparatorColor();

// The last subview of a container holding at most one custom view, and its replacement: a
// different view takes the current one's place, filling the container.
std::shared_ptr<toolkit::View> hxc_currentCustomView(const toolkit::View& container);
void hxc_replaceCustomView(toolkit::View& container, const std::shared_ptr<toolkit::View>& view);

class HXCDropdownMenuContentViewControllerDelegate {
public:
    virtual ~HXCDropdownMenuContentViewControllerDelegate() = default;
    virtual long numberOfRows() = 0;
    // 0: no limit.
    virtual long maximumNumberOfRows() = 0;
    virtual std::optional<toolkit::AttributedString> attributedTitleForRow(long row) = 0;
    virtual std::shared_ptr<toolkit::View> customViewForRow(long row, std::shared_ptr<toolkit::View> reusingView) = 0;
    virtual std::shared_ptr<toolkit::View> accessoryViewForRow(long row) = 0;
    virtual toolkit::Color backgroundColorForRow(long row) = 0;
    // The not-found index for a tap outside the rows.
    virtual void didSelectRow(long row) = 0;
    virtual void willDisappear() = 0;
};

class HXCDropdownMenuTableViewCell : public toolkit::TableViewCell {
public:
    explicit HXCDropdownMenuTableViewCell(std::string reuseIdentifier = "cell");
    std::string className() const override { return "HXCDropdownMenuTableViewCell"; }
    const std::shared_ptr<toolkit::View>& containerView() const { return container_; }
    std::shared_ptr<toolkit::View> currentCustomView() const;
    void setCustomView(std::shared_ptr<toolkit::View> view);
    void setAttributedTitle(std::optional<toolkit::AttributedString> title);
    void setHighlightColor(std::optional<toolkit::Color> color);
    void prepareForReuse() override;

private:
    std::shared_ptr<toolkit::View> container_;
};

class HXCDropdownMenuContentViewController : public toolkit::ViewController,
                                             public toolkit::TableViewDataSource,
                                             public toolkit::TableViewDelegate,
                                             public toolkit::GestureRecognizerDelegate {
public:
    HXCDropdownMenuContentViewController();
    std::string className() const override { return "HXCDropdownMenuContentViewController"; }

    std::weak_ptr<HXCDropdownMenuContentViewControllerDelegate> delegate;

    std::shared_ptr<toolkit::View> containerView();
    std::shared_ptr<toolkit::View> shadowView();
    std::shared_ptr<toolkit::View> borderView();
    std::shared_ptr<toolkit::ShapeLayer> borderLayer();
    std::shared_ptr<toolkit::View> tableContainerView();
    std::shared_ptr<toolkit::TableView> tableView();
    std::shared_ptr<toolkit::View> separatorContainerView();
    // The tap recogniser of the dimmed area.
    std::shared_ptr<toolkit::TapGestureRecognizer> tapRecognizer();

    toolkit::Point separatorViewOffset() const { return separatorViewOffset_; }
    void setSeparatorViewOffset(toolkit::Point offset);
    bool showsTopRowSeparator();
    void setShowsTopRowSeparator(bool shows);
    bool showsBottomRowSeparator();
    void setShowsBottomRowSeparator(bool shows);
    bool showsBorder();
    void setShowsBorder(bool shows);
    std::optional<toolkit::Color> highlightColor;
    // Top: the spacer's height; left and right: the container's insets; bottom 0. Setting it
    // applies left and right only.
    toolkit::EdgeInsets contentInset();
    void setContentInset(const toolkit::EdgeInsets& inset);
    toolkit::TextAlignment textAlignment = toolkit::TextAlignment::left;
    double cornerRadius = 2.0;
    unsigned roundedCorners = toolkit::kCornerBottomLeft | toolkit::kCornerBottomRight;
    long rowsCount() const { return rowsCount_; }
    long maxRows() const { return maxRows_; }
    // Row height times the whole rows that fit in the view (at most maxRows when set).
    double maxHeight();
    // The rows' height up to maxHeight, plus the header and footer lines.
    double contentHeight();

    void updateData();
    void updateDataAtIndexes(const std::vector<long>& rows);
    void updateContainerHeight();
    void insertSeparatorView(std::shared_ptr<toolkit::View> view);
    void updateShadow();
    void updateMask();
    toolkit::StatusBarStyle preferredStatusBarStyle() const override;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;

    long numberOfRows(toolkit::TableView&, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView&, toolkit::IndexPath indexPath) override;
    bool shouldReceiveTouch(toolkit::GestureRecognizer&, const toolkit::Touch& touch) override;
    void handleTap(toolkit::GestureRecognizer& recognizer);

private:
    std::shared_ptr<toolkit::View> container_, shadow_, border_, tableContainer_, separatorContainer_;
    std::shared_ptr<toolkit::ShapeLayer> borderLayer_;
    std::shared_ptr<toolkit::TableView> table_;
    std::shared_ptr<toolkit::TapGestureRecognizer> tap_;
    toolkit::LayoutConstraintPtr heightConstraint_, topConstraint_, leftConstraint_, rightConstraint_;
    toolkit::Point separatorViewOffset_;
    long rowsCount_ = 0;
    long maxRows_ = 0;
};
