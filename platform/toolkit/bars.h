// Bars that screens place themselves: the toolbar (bar button items, flexible and fixed spaces),
// the search bar (a text field with scope buttons and a cancel button, reporting to its
// delegate) and the visual-effect (blur) view with its content view.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/text_input.h"

namespace toolkit {

class Toolbar : public View {
public:
    Toolbar() { setFrame(Rect(0, 0, 320, kHeight)); }
    explicit Toolbar(const Rect& frame) : View(frame) {}
    std::string className() const override { return "Toolbar"; }
    static constexpr double kHeight = 44;
    static constexpr double kItemGap = 8;
    static constexpr double kEdgeMargin = 16;

    const std::vector<BarButtonItemPtr>& items() const { return items_; }
    void setItems(std::vector<BarButtonItemPtr> items, bool animated = false);
    const std::optional<Color>& barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> color) { setProperty(barTint_, std::move(color)); }
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) { setProperty(translucent_, translucent); }
    // The views placed for the items, in order (spaces have none).
    std::vector<ViewPtr> itemViews() const;
    Size sizeThatFits(Size size) const override { return {size.width > 0 ? size.width : bounds().width(), kHeight}; }
    // Fixed items keep their width; flexible spaces share what is left equally.
    void layoutSubviews() override;
    // The bar's chrome: a subclass with a drawing of its own draws instead of it.
    void draw(graphics::GraphicsContext& context, const Rect& rect) override;

private:
    std::vector<BarButtonItemPtr> items_;
    std::vector<ViewPtr> views_;
    std::optional<Color> barTint_;
    bool translucent_ = true;
};

// The view a bar places for an item: a button showing its title or image that taps the item.
ViewPtr makeBarItemView(const BarButtonItemPtr& item);

class SearchBar;

class SearchBarDelegate {
public:
    virtual ~SearchBarDelegate() = default;
    virtual bool searchBarShouldBeginEditing(SearchBar&) { return true; }
    virtual void searchBarTextDidBeginEditing(SearchBar&) {}
    virtual void searchBarTextDidEndEditing(SearchBar&) {}
    virtual void textDidChange(SearchBar&, const std::string& text) { (void)text; }
    virtual void selectedScopeButtonIndexDidChange(SearchBar&, long index) { (void)index; }
    virtual void searchBarCancelButtonClicked(SearchBar&) {}
    virtual void searchBarSearchButtonClicked(SearchBar&) {}
};

class SearchBar : public View {
public:
    SearchBar();
    std::string className() const override { return "SearchBar"; }
    static constexpr double kHeight = 56;
    static constexpr double kScopeBarHeight = 44;

    const std::string& text() const { return field_->text(); }
    // In code: no delegate calls.
    void setText(std::string text) { field_->setText(std::move(text)); }
    const std::string& placeholder() const { return field_->placeholder(); }
    void setPlaceholder(std::string p) { field_->setPlaceholder(std::move(p)); }
    TextField& searchTextField() { return *field_; }
    const std::vector<std::string>& scopeButtonTitles() const { return scopes_; }
    void setScopeButtonTitles(std::vector<std::string> titles);
    long selectedScopeButtonIndex() const { return scope_; }
    void setSelectedScopeButtonIndex(long index);
    bool showsScopeBar() const { return showsScope_; }
    void setShowsScopeBar(bool shows);
    bool showsCancelButton() const { return showsCancel_; }
    void setShowsCancelButton(bool shows, bool animated = false);
    const std::optional<Color>& barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> color) { setProperty(barTint_, std::move(color)); }
    const ImagePtr& backgroundImage() const { return backgroundImage_; }
    void setBackgroundImage(ImagePtr image) { setProperty(backgroundImage_, std::move(image)); }
    std::weak_ptr<SearchBarDelegate> delegate;
    const std::vector<std::shared_ptr<Button>>& scopeButtons() const { return scopeButtons_; }
    const std::shared_ptr<Button>& cancelButton() const { return cancel_; }

    bool becomeFirstResponder() override { return field_->becomeFirstResponder(); }
    bool resignFirstResponder() override { return field_->resignFirstResponder(); }
    bool isFirstResponder() const { return field_->isFirstResponder(); }
    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;

private:
    class FieldDelegate;
    void rebuildScopes();
    std::shared_ptr<TextField> field_;
    std::shared_ptr<FieldDelegate> fieldDelegate_;
    std::shared_ptr<Button> cancel_;
    std::vector<std::shared_ptr<Button>> scopeButtons_;
    std::vector<std::string> scopes_;
    long scope_ = 0;
    bool showsScope_ = false;
    bool showsCancel_ = false;
    std::optional<Color> barTint_;
    ImagePtr backgroundImage_;
};

enum class BlurEffectStyle { ExtraLight, Light, Dark, Regular, Prominent, SystemMaterial, SystemThinMaterial };

class VisualEffectView : public View {
public:
    explicit VisualEffectView(std::optional<BlurEffectStyle> effect = std::nullopt);
    std::string className() const override { return "VisualEffectView"; }
    const std::optional<BlurEffectStyle>& effect() const { return effect_; }
    void setEffect(std::optional<BlurEffectStyle> effect) { effect_ = effect; }
    // Subviews go here, above the blur.
    View& contentView() { return *content_; }
    std::string outlineText() const override;

private:
    std::optional<BlurEffectStyle> effect_;
    std::shared_ptr<View> content_;
};

}  // namespace toolkit
