// Controls: the target-action event model and the simple controls built on it (button, label,
// image view, switch, slider, activity indicator, progress view).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/view.h"

namespace toolkit {

enum ControlEvent : unsigned {
    kTouchDown = 1u << 0,
    kTouchDownRepeat = 1u << 1,
    kTouchDragInside = 1u << 2,
    kTouchDragOutside = 1u << 3,
    kTouchDragEnter = 1u << 4,
    kTouchDragExit = 1u << 5,
    kTouchUpInside = 1u << 6,
    kTouchUpOutside = 1u << 7,
    kTouchCancel = 1u << 8,
    kValueChanged = 1u << 12,
    kPrimaryActionTriggered = 1u << 13,
    kEditingDidBegin = 1u << 16,
    kEditingChanged = 1u << 17,
    kEditingDidEnd = 1u << 18,
    kEditingDidEndOnExit = 1u << 19,
    kAllTouchEvents = 0x00000FFF,
    kAllEditingEvents = 0x000F0000,
    kApplicationReserved = 0x0F000000,  // bits the app defines for itself (24 ... 27)
    kAllEvents = 0xFFFFFFFF,
};

enum ControlState : unsigned {
    kStateNormal = 0,
    kStateHighlighted = 1,
    kStateDisabled = 2,
    kStateSelected = 4,
};

enum class ContentHorizontalAlignment { Center, Left, Right, Fill };

class Control : public View {
public:
    using Action = std::function<void(Control& sender, const Event* event)>;

    std::string className() const override { return "Control"; }

    // An action by selector on a target; no target sends it along the responder chain.
    void addTarget(std::weak_ptr<Responder> target, const std::string& action, unsigned events);
    void removeTarget(const Responder* target, const std::string& action, unsigned events);
    // A closure action; the id removes it.
    int addAction(Action action, unsigned events);
    void removeAction(int id);
    // Sends the actions registered for any of events, in registration order.
    void sendActionsForControlEvents(unsigned events, const Event* event = nullptr);
    // The selectors registered for one event on a target.
    std::vector<std::string> actionsForTarget(const Responder* target, unsigned event) const;

    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted);
    bool isTracking() const { return tracking_; }
    unsigned state() const;
    ContentHorizontalAlignment contentHorizontalAlignment = ContentHorizontalAlignment::Center;

    // A disabled control takes no touches; they go to what lies below.
    View* hitTest(Point p, const Event* e) override;
    void touchesBegan(const TouchSet& touches, const Event* event) override;
    void touchesMoved(const TouchSet& touches, const Event* event) override;
    void touchesEnded(const TouchSet& touches, const Event* event) override;
    void touchesCancelled(const TouchSet& touches, const Event* event) override;
    // Tracking hooks; returning false from beginTracking stops the touch from tracking.
    virtual bool beginTracking(const Touch& touch, const Event* event);
    virtual bool continueTracking(const Touch& touch, const Event* event);
    virtual void endTracking(const Touch* touch, const Event* event);
    std::string outlineState() const override;
    bool isAccessibilityElement() const override { return accessibility().isElement.value_or(true); }

    // Touches up this far outside still count as inside.
    static constexpr double kTouchSlop = 70;

private:
    struct Entry {
        int id;
        unsigned events;
        std::weak_ptr<Responder> target;
        bool hasTarget;
        std::string action;
        Action closure;
    };
    std::vector<Entry> entries_;
    int nextId_ = 1;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
    bool inside_ = false;
};

// A label draws its text (plain in its font and colour, or attributed runs each with their own)
// in the lines the text measurer gives, centred down its bounds. Every property that changes its
// size or look marks it for layout and display.
class Label : public View {
public:
    Label() { setUserInteractionEnabled(false), setOpaque(false); }
    explicit Label(const Rect& frame) : View(frame) { setUserInteractionEnabled(false), setOpaque(false); }
    std::string className() const override { return "Label"; }
    const std::string& text() const { return text_; }
    // Plain text drops any attributed text.
    void setText(std::string text);
    const std::optional<AttributedString>& attributedText() const { return attributed_; }
    // The text becomes the attributed string's characters; none clears both.
    void setAttributedText(std::optional<AttributedString> text);

    const Font& font() const { return font_; }
    void setFont(Font font);
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color);
    const std::optional<Color>& highlightedTextColor() const { return highlightedTextColor_; }
    void setHighlightedTextColor(std::optional<Color> color);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    TextAlignment textAlignment() const { return textAlignment_; }
    void setTextAlignment(TextAlignment alignment);
    LineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(LineBreakMode mode);
    // 0: as many lines as the text needs.
    int numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(int lines);
    double preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
    void setPreferredMaxLayoutWidth(double width);
    // One-line text too wide for the label shrinks, down to the minimum scale factor of its size.
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSizeToFitWidth_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts);
    double minimumScaleFactor() const { return minimumScaleFactor_; }
    void setMinimumScaleFactor(double factor);

    // The text as it is drawn at a width (<= 0: unlimited): the attributed runs, else the plain
    // text in the label's font and colour; highlighted and disabled colours over every run.
    AttributedString displayedText(double width = 0) const;
    // Its lines within a width (<= 0: unlimited), as measured and as drawn. The lines are kept
    // until the text or a property of it changes: a label drawn again unchanged (every frame, as
    // a bar's title or a field's placeholder is) does not lay its text out again. Valid until the
    // next call or change.
    const TextBox& textBox(double width) const;

    Size sizeThatFits(Size size) const override;
    Size intrinsicContentSize() const override;
    std::string outlineText() const override { return text_; }
    std::string accessibilityLabel() const override {
        return accessibility().label.empty() ? text_ : accessibility().label;
    }
    bool isAccessibilityElement() const override { return accessibility().isElement.value_or(!text_.empty()); }

protected:
    // After a property changed: the size (when it may have changed) and the pixels are stale.
    virtual void textPropertyDidChange(bool affectsSize);

private:
    std::string text_;
    std::optional<AttributedString> attributed_;
    Font font_ = Font::system(17);
    Color textColor_ = Color::label();
    std::optional<Color> highlightedTextColor_;
    bool highlighted_ = false;
    bool enabled_ = true;
    TextAlignment textAlignment_ = TextAlignment::natural;
    LineBreakMode lineBreakMode_ = LineBreakMode::truncateTail;
    int numberOfLines_ = 1;
    double preferredMaxLayoutWidth_ = 0;
    bool adjustsFontSizeToFitWidth_ = false;
    double minimumScaleFactor_ = 0;
    // The lines last laid out and what they were laid out for.
    struct KeptBox {
        uint64_t revision = 0;
        const TextMeasurer* measurer = nullptr;
        double width = 0;
        std::shared_ptr<const TextBox> box;
    };
    uint64_t textRevision_ = 0;
    mutable std::optional<KeptBox> keptBox_;
};

class ImageView : public View {
public:
    ImageView() { setUserInteractionEnabled(false); }
    explicit ImageView(ImagePtr image);
    std::string className() const override { return "ImageView"; }
    const ImagePtr& image() const { return image_; }
    void setImage(ImagePtr image);
    const ImagePtr& highlightedImage() const { return highlightedImage_; }
    void setHighlightedImage(ImagePtr image) { setProperty(highlightedImage_, std::move(image)); }
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted) { setProperty(highlighted_, highlighted); }
    Size sizeThatFits(Size) const override { return image_ ? image_->size() : Size{}; }
    Size intrinsicContentSize() const override { return image_ ? image_->size() : Size{-1, -1}; }
    std::string outlineText() const override;

private:
    ImagePtr image_;
    ImagePtr highlightedImage_;
    bool highlighted_ = false;
};

enum class ButtonType { Custom, System, DetailDisclosure, InfoLight, InfoDark, ContactAdd, Close };

class Button : public Control {
public:
    explicit Button(ButtonType type = ButtonType::Custom);
    std::string className() const override { return "Button"; }
    ButtonType buttonType() const { return type_; }

    void setTitle(std::optional<std::string> title, unsigned state);
    std::optional<std::string> titleForState(unsigned state) const;
    // An attributed title wins over the plain one of the same state.
    void setAttributedTitle(std::optional<AttributedString> title, unsigned state);
    std::optional<AttributedString> attributedTitleForState(unsigned state) const;
    void setTitleColor(std::optional<Color> color, unsigned state);
    std::optional<Color> titleColorForState(unsigned state) const;
    void setImage(ImagePtr image, unsigned state);
    ImagePtr imageForState(unsigned state) const;
    void setBackgroundImage(ImagePtr image, unsigned state);
    ImagePtr backgroundImageForState(unsigned state) const;
    // What the button shows now: the entry for its state, else the normal one.
    std::optional<std::string> currentTitle() const;
    ImagePtr currentImage() const { return imageForState(state()); }

    const std::shared_ptr<Label>& titleLabel() const { return titleLabel_; }
    const std::shared_ptr<ImageView>& imageView() const { return imageView_; }
    // Room around the content, the title and the image; each marks the button for layout.
    const EdgeInsets& contentEdgeInsets() const { return contentEdgeInsets_; }
    void setContentEdgeInsets(const EdgeInsets& insets);
    const EdgeInsets& titleEdgeInsets() const { return titleEdgeInsets_; }
    void setTitleEdgeInsets(const EdgeInsets& insets);
    const EdgeInsets& imageEdgeInsets() const { return imageEdgeInsets_; }
    void setImageEdgeInsets(const EdgeInsets& insets);

    void setEnabled(bool e) override;
    void setSelected(bool s) override;
    void setHighlighted(bool h) override;
    Size sizeThatFits(Size size) const override;
    Size intrinsicContentSize() const override { return sizeThatFits({}); }
    void layoutSubviews() override;
    std::string outlineText() const override;
    bool outlinesSubviews() const override { return false; }
    std::string accessibilityLabel() const override;
    unsigned accessibilityTraits() const override { return accessibility().traits.value_or(kTraitButton); }

protected:
    void refresh();

private:
    template <class T>
    static std::optional<T> lookup(const std::map<unsigned, T>& m, unsigned state);
    ButtonType type_;
    std::map<unsigned, std::string> titles_;
    std::map<unsigned, AttributedString> attributedTitles_;
    std::map<unsigned, Color> titleColors_;
    std::map<unsigned, ImagePtr> images_;
    std::map<unsigned, ImagePtr> backgrounds_;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<ImageView> imageView_;
    EdgeInsets contentEdgeInsets_;
    EdgeInsets titleEdgeInsets_;
    EdgeInsets imageEdgeInsets_;
};

class Switch : public Control {
public:
    Switch();
    std::string className() const override { return "Switch"; }
    bool isOn() const { return on_; }
    void setOn(bool on, bool animated = false);
    std::optional<Color> onTintColor;
    // Takes the class-level "onTintColor".
    void applyAppearance() override;
    // A tap flips the switch and sends value-changed.
    void endTracking(const Touch* touch, const Event* event) override;
    std::string outlineText() const override { return on_ ? "on" : "off"; }
    Size sizeThatFits(Size) const override { return {51, 31}; }

private:
    bool on_ = false;
};

class Slider : public Control {
public:
    Slider() = default;
    std::string className() const override { return "Slider"; }
    double value() const { return value_; }
    void setValue(double v, bool animated = false);
    double minimumValue = 0;
    double maximumValue = 1;
    bool continuous = true;
    std::optional<Color> minimumTrackTintColor;
    void setThumbImage(ImagePtr image, unsigned state) { thumbs_[state] = std::move(image); }
    ImagePtr thumbImageForState(unsigned state) const;
    // Dragging moves the value with the touch along the track.
    bool beginTracking(const Touch& touch, const Event* event) override;
    bool continueTracking(const Touch& touch, const Event* event) override;
    void endTracking(const Touch* touch, const Event* event) override;
    std::string outlineText() const override;

private:
    void track(const Touch& touch);
    double value_ = 0;
    std::map<unsigned, ImagePtr> thumbs_;
};

enum class ActivityIndicatorStyle { Gray, White, WhiteLarge, Medium, Large };

class ActivityIndicatorView : public View {
public:
    explicit ActivityIndicatorView(ActivityIndicatorStyle style = ActivityIndicatorStyle::White);
    ~ActivityIndicatorView() override;
    // Indicators turning now, anywhere: each frame shows the spokes a step on while animations
    // are timed.
    static int spinning();
    std::string className() const override { return "ActivityIndicatorView"; }
    ActivityIndicatorStyle style;
    std::optional<Color> color;
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool on);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    std::string outlineText() const override { return animating_ ? "spinning" : "stopped"; }

private:
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

class ProgressView : public View {
public:
    ProgressView() = default;
    std::string className() const override { return "ProgressView"; }
    double progress() const { return progress_; }
    void setProgress(double p, bool animated = false);
    // The part not yet done (system grey 5 when none).
    std::optional<Color> trackTintColor;
    std::string outlineText() const override;

private:
    double progress_ = 0;
};

}  // namespace toolkit
