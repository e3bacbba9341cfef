// The dropdown menu: a bar of component buttons (a title and a disclosure triangle each) that
// opens a dropdown list of rows below itself for the tapped component. Rows and titles come from
// a data source and a delegate, in the manner of a picker; the list itself is the content view
// controller, shown and hidden by the transition.
#pragma once

#include <memory>
#include <numbers>
#include <optional>
#include <set>
#include <vector>

#include "platform/toolkit/controls.h"
#include "ui/messages/hxc_dropdown_menu_content_view_controller.h"
#include "ui/messages/hxc_dropdown_menu_transition.h"

class HXCDropdownMenu;

class HXCDropdownMenuDataSource {
public:
    virtual ~HXCDropdownMenuDataSource() = default;
    virtual long numberOfComponentsInDropdownMenu(HXCDropdownMenu& menu) = 0;
    virtual long numberOfRowsInComponent(HXCDropdownMenu& menu, long component) = 0;
};

// Every operation is optional; nothing (an empty optional) stands for "not implemented" where
// that differs from an answer of none.
class HXCDropdownMenuDelegate {
public:
    virtual ~HXCDropdownMenuDelegate() = default;
    virtual std::optional<double> widthForComponent(HXCDropdownMenu&, long) { return std::nullopt; }
    virtual std::optional<double> rowHeightForComponent(HXCDropdownMenu&, long) { return std::nullopt; }
    virtual std::optional<bool> shouldUseFullRowWidthForComponent(HXCDropdownMenu&, long) { return std::nullopt; }
    virtual std::optional<long> maximumNumberOfRowsInComponent(HXCDropdownMenu&, long) { return std::nullopt; }
    virtual std::optional<std::string> titleForComponent(HXCDropdownMenu&, long) { return std::nullopt; }
    virtual std::optional<std::string> titleForSelectedComponent(HXCDropdownMenu&, long) { return std::nullopt; }
    virtual std::optional<toolkit::AttributedString> attributedTitleForComponent(HXCDropdownMenu&, long) {
        return std::nullopt;
    }
    virtual std::optional<toolkit::AttributedString> attributedTitleForSelectedComponent(HXCDropdownMenu&, long) {
        return std::nullopt;
    }
    // Implemented, its answer wins even when it is none.
    virtual std::optional<std::shared_ptr<toolkit::View>> viewForComponent(HXCDropdownMenu&, long) {
        return std::nullopt;
    }
    virtual std::optional<std::string> titleForRow(HXCDropdownMenu&, long row, long component) {
        (void)row, (void)component;
        return std::nullopt;
    }
    virtual std::optional<toolkit::AttributedString> attributedTitleForRow(HXCDropdownMenu&, long row, long component) {
        (void)row, (void)component;
        return std::nullopt;
    }
    virtual std::shared_ptr<toolkit::View> viewForRow(HXCDropdownMenu&, long row, long component,
                                                      std::shared_ptr<toolkit::View> reusingView) {
        (void)row, (void)component, (void)reusingView;
        return nullptr;
    }
    virtual std::shared_ptr<toolkit::View> accessoryViewForRow(HXCDropdownMenu&, long row, long component) {
        (void)row, (void)component;
        return nullptr;
    }
    virtual std::optional<toolkit::Color> backgroundColorForRow(HXCDropdownMenu&, long row, long component) {
        (void)row, (void)component;
        return std::nullopt;
    }
    virtual std::optional<toolkit::Color> backgroundColorForHighlightedRowsInComponent(HXCDropdownMenu&, long) {
        return std::nullopt;
    }
    virtual bool enableComponent(HXCDropdownMenu&, long) { return true; }
    virtual void didSelectRow(HXCDropdownMenu&, long row, long component) { (void)row, (void)component; }
    virtual void didOpenComponent(HXCDropdownMenu&, long) {}
    virtual void didCloseComponent(HXCDropdownMenu&, long) {}
};

class HXCDropdownMenuComponentButton : public toolkit::Button {
public:
    HXCDropdownMenuComponentButton();
    std::string className() const override { return "HXCDropdownMenuComponentButton"; }

    const std::shared_ptr<toolkit::View>& containerView() const { return container_; }
    const std::shared_ptr<toolkit::ImageView>& disclosureIndicatorView() const { return indicator_; }
    std::shared_ptr<toolkit::View> currentCustomView() const;
    toolkit::TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(toolkit::TextAlignment alignment);
    std::optional<toolkit::Color> selectedBackgroundColor;
    double disclosureIndicatorAngle = 0;

    void setCustomView(std::shared_ptr<toolkit::View> view);
    void setAttributedTitle(std::optional<toolkit::AttributedString> title,
                            std::optional<toolkit::AttributedString> selectedTitle);
    // None: the built-in triangle.
    void setDisclosureIndicatorImage(toolkit::ImagePtr image);
    void setSelected(bool selected) override;
    void setEnabled(bool enabled) override;
    toolkit::View* hitTest(toolkit::Point point, const toolkit::Event* event) override;
    void layoutSubviews() override;

    // The built-in indicator: an 8-point black triangle, pointing down, drawn once at the screen's
    // scale and used as a template.
    static toolkit::ImagePtr defaultDisclosureIndicatorImage();

private:
    std::shared_ptr<toolkit::View> container_;
    std::shared_ptr<toolkit::ImageView> indicator_;
    toolkit::TextAlignment alignment_ = toolkit::TextAlignment::center;
};

class HXCDropdownMenu : public toolkit::View, public HXCDropdownMenuContentViewControllerDelegate {
public:
    // The frame's size becomes the menu's content size.
    static std::shared_ptr<HXCDropdownMenu> make(const toolkit::Rect& frame);
    explicit HXCDropdownMenu(const toolkit::Rect& frame);
    std::string className() const override { return "HXCDropdownMenu"; }

    std::shared_ptr<HXCDropdownMenuDataSource> dataSource() const { return dataSource_.lock(); }
    // Reloads all components when the menu is in a window.
    void setDataSource(std::weak_ptr<HXCDropdownMenuDataSource> dataSource);
    std::weak_ptr<HXCDropdownMenuDelegate> delegate;
    // Where the dropdown shows; none: the menu's window.
    std::weak_ptr<toolkit::View> presentingView;
    bool adjustsContentOffset = false;
    bool adjustsContentInset = true;

    bool dropdownDropsShadow() const { return dropsShadow_; }
    void setDropdownDropsShadow(bool on);
    bool dropdownBouncesScroll() const;
    void setDropdownBouncesScroll(bool on);
    bool dropdownShowsTopRowSeparator() const;
    void setDropdownShowsTopRowSeparator(bool on);
    bool dropdownShowsBottomRowSeparator() const;
    void setDropdownShowsBottomRowSeparator(bool on);
    bool dropdownShowsBorder() const;
    void setDropdownShowsBorder(bool on);
    // Black at this alpha around the dropdown; negative: white at its absolute value.
    double backgroundDimmingOpacity() const;
    void setBackgroundDimmingOpacity(double opacity);
    const std::optional<toolkit::Color>& componentSeparatorColor() const { return componentSeparatorColor_; }
    void setComponentSeparatorColor(std::optional<toolkit::Color> color);
    const std::optional<toolkit::Color>& rowSeparatorColor() const { return rowSeparatorColor_; }
    void setRowSeparatorColor(std::optional<toolkit::Color> color);
    const std::shared_ptr<toolkit::View>& spacerView() const { return spacerView_; }
    void setSpacerView(std::shared_ptr<toolkit::View> view);
    toolkit::Point spacerViewOffset() const;
    void setSpacerViewOffset(toolkit::Point offset);
    const std::optional<toolkit::Color>& selectedComponentBackgroundColor() const { return selectedBackground_; }
    void setSelectedComponentBackgroundColor(std::optional<toolkit::Color> color);
    toolkit::Color dropdownBackgroundColor() const;
    void setDropdownBackgroundColor(const toolkit::Color& color);
    const toolkit::ImagePtr& disclosureIndicatorImage() const { return indicatorImage_; }
    void setDisclosureIndicatorImage(toolkit::ImagePtr image);
    double disclosureIndicatorSelectionRotation() const { return indicatorRotation_; }
    void setDisclosureIndicatorSelectionRotation(double radians);
    toolkit::LineBreakMode componentLineBreakMode() const { return lineBreakMode_; }
    void setComponentLineBreakMode(toolkit::LineBreakMode mode);
    toolkit::TextAlignment componentTextAlignment() const { return componentAlignment_; }
    void setComponentTextAlignment(toolkit::TextAlignment alignment);
    toolkit::TextAlignment rowTextAlignment() const;
    void setRowTextAlignment(toolkit::TextAlignment alignment);
    double dropdownCornerRadius() const;
    void setDropdownCornerRadius(double radius);
    unsigned dropdownRoundedCorners() const;
    void setDropdownRoundedCorners(unsigned corners);
    bool useFullScreenWidth = false;
    double fullScreenInsetLeft = 0;
    double fullScreenInsetRight = 0;
    bool allowsMultipleRowsSelection = false;

    toolkit::Size contentSize() const;
    toolkit::Size intrinsicContentSize() const override { return contentSize(); }

    long numberOfComponents() const { return static_cast<long>(components_.size()); }
    long numberOfRowsInComponent(long component) const;
    void reloadAllComponents();
    void reloadComponent(long component);
    void selectRow(long row, long component);
    void deselectRow(long row, long component);
    std::set<long> selectedRowsInComponent(long component) const;
    std::shared_ptr<toolkit::View> viewForRow(long row, long component);
    void openComponent(long component, bool animated);
    void closeAllComponentsAnimated(bool animated);
    void bringDropdownViewToFront();
    // The open component, or the not-found index.
    long selectedComponent() const { return selectedComponent_; }
    // The component buttons' action; no sender closes everything.
    void selectedComponent(toolkit::Control* sender);

    const std::vector<std::shared_ptr<HXCDropdownMenuComponentButton>>& buttons() const { return buttons_; }
    const std::vector<std::shared_ptr<toolkit::View>>& separators() const { return separators_; }
    const std::shared_ptr<HXCDropdownMenuContentViewController>& contentViewController() const { return content_; }
    const std::shared_ptr<HXCDropdownMenuTransition>& transition() const { return transition_; }
    // The dropdown's horizontal extent as insets of the presenting view.
    toolkit::EdgeInsets contentInsetForSelectedComponent();

    void layoutSubviews() override;
    void didMoveToWindow() override;

    // The content controller's questions, for the open component.
    long numberOfRows() override;
    long maximumNumberOfRows() override;
    std::optional<toolkit::AttributedString> attributedTitleForRow(long row) override;
    std::shared_ptr<toolkit::View> customViewForRow(long row, std::shared_ptr<toolkit::View> reusingView) override;
    std::shared_ptr<toolkit::View> accessoryViewForRow(long row) override;
    toolkit::Color backgroundColorForRow(long row) override;
    void didSelectRow(long row) override;
    void willDisappear() override;

private:
    void setup();
    void setupComponents();
    void updateButton(HXCDropdownMenuComponentButton& button, long component);
    void updateButtons();
    void updateComponentSeparators();
    void layoutComponentButtons();
    void layoutComponentSeparators();
    void presentDropdownForSelectedComponentAnimated(bool animated, std::function<void()> completion);
    void dismissDropdownAnimated(bool animated, std::function<void()> completion);
    void updateComponentButtonsSelection(bool open);
    void cleanupSelectedComponents();
    std::shared_ptr<toolkit::View> dropdownContainer() const;

    std::weak_ptr<HXCDropdownMenuDataSource> dataSource_;
    std::vector<long> components_;
    std::vector<std::set<long>> selectedRows_;
    std::vector<std::shared_ptr<HXCDropdownMenuComponentButton>> buttons_;
    std::vector<std::shared_ptr<toolkit::View>> separators_;
    long selectedComponent_ = toolkit::kNotFoundIndex;
    std::shared_ptr<HXCDropdownMenuContentViewController> content_;
    std::shared_ptr<HXCDropdownMenuTransition> transition_;
    toolkit::Size contentSize_;
    bool dropsShadow_ = true;
    std::optional<toolkit::Color> componentSeparatorColor_;
    std::optional<toolkit::Color> rowSeparatorColor_;
    std::shared_ptr<toolkit::View> spacerView_;
    std::optional<toolkit::Color> selectedBackground_;
    toolkit::ImagePtr indicatorImage_;
    double indicatorRotation_ = std::numbers::pi;
    toolkit::LineBreakMode lineBreakMode_ = toolkit::LineBreakMode::truncateMiddle;
    toolkit::TextAlignment componentAlignment_ = toolkit::TextAlignment::center;
};
