// The reply field: a view around a text view that shows a placeholder while empty and grows
// line by line between a minimum and a maximum number of lines, after which the text scrolls
// inside it. Heights are measured with a line probe ("-" and "\n|W|" per further line) in the
// text view's font, by the lines the text view itself lays out.
//
// The inner text view (HXCExpandingTextViewInternal) keeps its content inset at -4 top and
// bottom so that one line sits in a field minimumHeight + 6 high, and opens the bottom while
// the user scrolls. It lies inside the field picture's one-point edge, so a line scrolled half
// away is cut inside the field. Its text container height is kept as the growth rule sets it; the toolkit
// lays the text out at the view's width with no height limit, so the height serves that rule only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/toolkit/text_input.h"

class HXCExpandingTextView;

// Every operation is optional; the defaults are the answers of a delegate that does not
// implement it. The two questions whose absence changes the rule answer nothing by default.
class HXCExpandingTextViewDelegate {
public:
    virtual ~HXCExpandingTextViewDelegate() = default;
    virtual bool expandingTextViewShouldBeginEditing(HXCExpandingTextView&) { return true; }
    virtual bool expandingTextViewShouldEndEditing(HXCExpandingTextView&) { return true; }
    virtual void expandingTextViewDidBeginEditing(HXCExpandingTextView&) {}
    virtual void expandingTextViewDidEndEditing(HXCExpandingTextView&) {}
    // Nothing: not implemented (the return rule decides instead).
    virtual std::optional<bool> expandingTextViewShouldChangeTextInRange(HXCExpandingTextView& view,
                                                                         toolkit::Range range,
                                                                         const std::string& replacementText) {
        (void)view, (void)range, (void)replacementText;
        return std::nullopt;
    }
    virtual void expandingTextViewDidChange(HXCExpandingTextView&) {}
    virtual void expandingTextViewWillChangeHeight(HXCExpandingTextView& view, float height) {
        (void)view, (void)height;
    }
    virtual void expandingTextViewDidChangeHeight(HXCExpandingTextView& view, float height) {
        (void)view, (void)height;
    }
    virtual void expandingTextViewDidChangeSelection(HXCExpandingTextView&) {}
    // Nothing: not implemented (a line end is then typed like any text).
    virtual std::optional<bool> expandingTextViewShouldReturn(HXCExpandingTextView&) { return std::nullopt; }
};

class HXCExpandingTextViewInternal : public toolkit::TextView {
public:
    explicit HXCExpandingTextViewInternal(const toolkit::Rect& frame) : TextView(frame) {}
    std::string className() const override { return "HXCExpandingTextViewInternal"; }
    // While the user drags or the content glides the bottom inset opens (0); otherwise, before
    // the end of the content, it closes again (-4).
    void setContentOffset(toolkit::Point offset, bool animated = false) override;
    // The top is always -4; a bottom above 12 becomes 4.
    void setContentInset(const toolkit::EdgeInsets& insets) override;

    const toolkit::Size& textContainerSize() const { return containerSize_; }
    void setTextContainerSize(toolkit::Size size) { containerSize_ = size; }
    static constexpr double kUnboundedContainerHeight = 1e7;

private:
    toolkit::Size containerSize_{0, kUnboundedContainerHeight};
};

class HXCExpandingTextView : public toolkit::View, public toolkit::TextViewDelegate {
    struct MadeByMake {};

public:
    // A view of 1 to 13 lines in the system font of 15, at its minimum height.
    static std::shared_ptr<HXCExpandingTextView> make(const toolkit::Rect& frame);
    HXCExpandingTextView(MadeByMake, const toolkit::Rect& frame);
    ~HXCExpandingTextView() override;
    std::string className() const override { return "HXCExpandingTextView"; }

    static constexpr double kHeightAnimationDuration = 0.25;
    // The text measured for a number of lines.
    static std::string lineProbe(int lines);

    int maximumNumberOfLines() const { return maximumNumberOfLines_; }
    void setMaximumNumberOfLines(int lines);
    int minimumNumberOfLines() const { return minimumNumberOfLines_; }
    void setMinimumNumberOfLines(int lines);
    int minimumHeight() const { return minimumHeight_; }
    int maximumHeight() const { return maximumHeight_; }
    // The lines the content holds: its height over the font's line height.
    int numberOfLines() const;
    // The height the text needs in the text view's font and width (a trailing line end counts
    // as a line).
    double internalTextViewContentHeight() const;
    // Empty, the view takes its minimum height + 6; with text it keeps its height.
    toolkit::Size sizeThatFits(toolkit::Size size) const override;
    // Tells the delegate the height the view has now (didChangeHeight).
    void growDidStop();

    const std::string& text() const { return internal_->text(); }
    void setText(const std::string& text);
    void clearText();
    const toolkit::Font& font() const { return internal_->font(); }
    void setFont(const toolkit::Font& font);
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(const std::string& placeholder);
    void setPlaceHolderAlpha(double alpha);
    const toolkit::Color& textColor() const { return internal_->textColor(); }
    void setTextColor(const toolkit::Color& color) { internal_->setTextColor(color); }
    toolkit::TextAlignment textAlignment() const { return internal_->textAlignment(); }
    void setTextAlignment(toolkit::TextAlignment alignment) { internal_->setTextAlignment(alignment); }
    toolkit::Range selectedRange() const { return internal_->selectedRange(); }
    void setSelectedRange(toolkit::Range range) { internal_->setSelectedRange(range); }
    bool isEditable() const { return internal_->isEditable(); }
    void setEditable(bool editable) { internal_->setEditable(editable); }
    toolkit::ReturnKeyType returnKeyType() const { return internal_->returnKeyType; }
    void setReturnKeyType(toolkit::ReturnKeyType type) { internal_->returnKeyType = type; }
    unsigned dataDetectorTypes() const { return internal_->dataDetectorTypes(); }
    void setDataDetectorTypes(unsigned types) { internal_->setDataDetectorTypes(types); }
    bool hasText() const { return internal_->hasText(); }
    void scrollRangeToVisible(toolkit::Range range) { internal_->scrollRangeToVisible(range); }
    bool animateHeightChange() const { return animateHeightChange_; }
    void setAnimateHeightChange(bool animate) { animateHeightChange_ = animate; }
    std::weak_ptr<HXCExpandingTextViewDelegate> delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<HXCExpandingTextViewDelegate> delegate) { delegate_ = std::move(delegate); }

    const std::shared_ptr<HXCExpandingTextViewInternal>& internalTextView() const { return internal_; }
    const std::shared_ptr<toolkit::ImageView>& textViewBackgroundImage() const { return background_; }
    const std::shared_ptr<toolkit::Label>& placeholderLabel() const { return placeholderLabel_; }

    bool becomeFirstResponder() override { return internal_->becomeFirstResponder(); }
    bool resignFirstResponder() override;
    // The inner text view's focus (the outer view never takes it itself).
    bool isFirstResponder() const { return internal_->isFirstResponder(); }
    void traitCollectionDidChange(const toolkit::TraitCollection& previous) override;

    // As the inner text view's delegate.
    bool textViewShouldBeginEditing(toolkit::TextView&) override;
    bool textViewShouldEndEditing(toolkit::TextView&) override;
    void textViewDidBeginEditing(toolkit::TextView&) override;
    void textViewDidEndEditing(toolkit::TextView&) override;
    void textViewDidChangeSelection(toolkit::TextView&) override;
    bool shouldChangeTextInRange(toolkit::TextView&, toolkit::Range range, const std::string& replacement) override;
    // The growth rule, after every change of the text.
    void textViewDidChange(toolkit::TextView&) override;

private:
    void setUp(const toolkit::Rect& frame);
    // The height of the probe for lines in the text view's font and width, rounded up.
    int measureLines(int lines) const;
    // The height text takes in the text view (a trailing line end counts as a line), rounded up.
    double heightOfText(std::string text) const;
    // The new height (text + 6): announced, applied (animated when asked) and reported.
    void applyHeight(double height);
    // While the user types, the line with the caret is scrolled whole into the field after every
    // change pass (a new text, a new maximum, a new height): the scroll the growth rule sets for a
    // text past the maximum (after a line end, or a text put back after a turn) stops short of the
    // end and leaves the last line partly under the field's bottom edge.
    void keepCaretInSight();
    std::shared_ptr<HXCExpandingTextViewDelegate> owner() const { return delegate_.lock(); }
    std::shared_ptr<HXCExpandingTextViewInternal> internal_;
    std::shared_ptr<toolkit::ImageView> background_;
    int minimumHeight_ = 0;
    int maximumHeight_ = 0;
    int maximumNumberOfLines_ = 0;
    int minimumNumberOfLines_ = 0;
    bool animateHeightChange_ = false;
    std::weak_ptr<HXCExpandingTextViewDelegate> delegate_;
    bool forceSizeUpdate_ = false;
    std::string placeholder_;
    std::shared_ptr<toolkit::Label> placeholderLabel_;
};
