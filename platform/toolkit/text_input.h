// Text input: one editing model over UTF-8 text addressed in UTF-16 ranges, shared by the text
// field and the text view, and the software keyboard that appears while either has the focus
// and announces its frame (in screen coordinates, per screen profile) through notifications.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/strings.h"
#include "platform/toolkit/controls.h"

namespace toolkit {

using foundation::Range;

// Text with a selection. Ranges count UTF-16 units and never split a surrogate pair: a range
// that starts or ends inside one is widened to the whole pair.
class TextEditingModel {
public:
    const std::string& text() const { return text_; }
    size_t length() const { return foundation::utf16Length(text_); }
    // Replaces the text; the selection moves to the end.
    void setText(std::string text);
    Range selectedRange() const { return selection_; }
    // Clamped into the text and widened to whole code points.
    void setSelectedRange(Range r);
    Range clamp(Range r) const;
    // Replaces range with s; the caret lands after the inserted text.
    void replace(Range range, const std::string& s);
    // The range one backspace removes: the selection, else the code point before the caret.
    Range deletionRange() const;

private:
    std::string text_;
    Range selection_{0, 0};
};

enum class TextBorderStyle { None, Line, Bezel, RoundedRect };
enum class ViewMode { Never, WhileEditing, UnlessEditing, Always };
enum class ReturnKeyType { Default, Go, WebSearch, Join, Next, Route, Search, Send, Done };

class TextField;

class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    virtual bool textFieldShouldBeginEditing(TextField&) { return true; }
    virtual void textFieldDidBeginEditing(TextField&) {}
    virtual bool textFieldShouldEndEditing(TextField&) { return true; }
    virtual void textFieldDidEndEditing(TextField&) {}
    virtual bool shouldChangeCharactersInRange(TextField&, Range, const std::string&) { return true; }
    virtual bool textFieldShouldClear(TextField&) { return true; }
    virtual bool textFieldShouldReturn(TextField&) { return true; }
};

// Inserting, deleting and return for whatever text input has the focus.
class TextInput {
public:
    virtual ~TextInput() = default;
    virtual void insertText(const std::string& text) = 0;
    virtual void deleteBackward() = 0;
    virtual void pressReturn() = 0;
    virtual bool hasText() const = 0;
};

class TextField : public Control, public TextInput {
public:
    TextField();
    explicit TextField(const Rect& frame) : TextField() { setFrame(frame); }
    std::string className() const override { return "TextField"; }

    const std::string& text() const { return model_.text(); }
    // Set by code: no delegate question, no change events.
    void setText(std::string text);
    std::string placeholder;
    Font font = Font::system(17);
    Color textColor = Color::label();
    TextAlignment textAlignment = TextAlignment::natural;
    TextBorderStyle borderStyle = TextBorderStyle::None;
    bool secureTextEntry = false;
    bool clearsOnBeginEditing = false;
    ReturnKeyType returnKeyType = ReturnKeyType::Default;
    std::shared_ptr<View> leftView, rightView;
    ViewMode leftViewMode = ViewMode::Never, rightViewMode = ViewMode::Never;
    std::shared_ptr<View> inputAccessory;
    std::weak_ptr<TextFieldDelegate> delegate;

    bool isEditing() const { return editing_; }
    Range selectedRange() const { return model_.selectedRange(); }
    void setSelectedRange(Range r) { model_.setSelectedRange(r); }

    // Outside a window, or disabled, a field cannot take the focus.
    bool canBecomeFirstResponder() const override;
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    std::shared_ptr<View> inputAccessoryView() const override { return inputAccessory; }

    void insertText(const std::string& text) override;
    void deleteBackward() override;
    void pressReturn() override;
    bool hasText() const override { return !model_.text().empty(); }
    // The clear button.
    void clear();

    // A tap focuses the field.
    void endTracking(const Touch* touch, const Event* event) override;
    std::string outlineText() const override;
    std::string accessibilityLabel() const override;

    virtual Rect textRectForBounds(const Rect& bounds) const;
    virtual Rect editingRectForBounds(const Rect& bounds) const { return textRectForBounds(bounds); }
    virtual Rect placeholderRectForBounds(const Rect& bounds) const { return textRectForBounds(bounds); }

private:
    void change(Range range, const std::string& s);
    TextEditingModel model_;
    bool editing_ = false;
};

class TextView;

class TextViewDelegate {
public:
    virtual ~TextViewDelegate() = default;
    virtual bool textViewShouldBeginEditing(TextView&) { return true; }
    virtual void textViewDidBeginEditing(TextView&) {}
    virtual bool textViewShouldEndEditing(TextView&) { return true; }
    virtual void textViewDidEndEditing(TextView&) {}
    virtual bool shouldChangeTextInRange(TextView&, Range, const std::string&) { return true; }
    virtual void textViewDidChange(TextView&) {}
    virtual void textViewDidChangeSelection(TextView&) {}
};

class TextView : public View, public TextInput {
public:
    TextView();
    std::string className() const override { return "TextView"; }
    const std::string& text() const { return model_.text(); }
    void setText(std::string text);
    Font font = Font::system(12);
    Color textColor = Color::label();
    TextAlignment textAlignment = TextAlignment::natural;
    bool editable = true;
    bool selectable = true;
    bool scrollEnabled = true;
    EdgeInsets textContainerInset{8, 0, 8, 0};
    double lineFragmentPadding = 5;
    ReturnKeyType returnKeyType = ReturnKeyType::Default;
    std::shared_ptr<View> inputAccessory;
    std::weak_ptr<TextViewDelegate> delegate;

    Range selectedRange() const { return model_.selectedRange(); }
    void setSelectedRange(Range r);
    void selectAll();
    bool isEditing() const { return editing_; }

    bool canBecomeFirstResponder() const override { return editable && window() != nullptr; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    std::shared_ptr<View> inputAccessoryView() const override { return inputAccessory; }

    void insertText(const std::string& text) override;
    void deleteBackward() override;
    // Return inserts a line break.
    void pressReturn() override { insertText("\n"); }
    bool hasText() const override { return !model_.text().empty(); }

    // The height the text needs at the current width.
    Size sizeThatFits(Size size) const override;
    void touchesEnded(const TouchSet& touches, const Event* event) override;
    std::string outlineText() const override { return model_.text(); }

private:
    void change(Range range, const std::string& s);
    TextEditingModel model_;
    bool editing_ = false;
};

// The keyboard on screen: the keys' panel with the focused input's accessory view on top, the
// frontmost view of the window while the keyboard shows (so snapshots and the window draw it and
// touches reach the accessory).
class KeyboardView : public View {
public:
    KeyboardView();
    std::string className() const override { return "Keyboard"; }
    const std::shared_ptr<View>& accessoryView() const { return accessory_; }
    // The accessory spans the keyboard's width at the top; the keys take the rest.
    void setAccessoryView(std::shared_ptr<View> accessory);
    double accessoryHeight() const;
    void layoutSubviews() override;
    void draw(graphics::GraphicsContext& context, const Rect& rect) override;

private:
    std::shared_ptr<View> accessory_;
};

// The software keyboard of the key window.
class Keyboard {
public:
    static Keyboard& shared();
    bool isVisible() const { return visible_; }
    // In screen coordinates, the input accessory view included; empty while hidden.
    Rect frame() const { return visible_ ? frame_ : Rect(); }
    // Called when a text input takes or loses the focus.
    void show(const View& input);
    void hide();
    // The focused input asks for its accessory view again: the keyboard takes the new one and,
    // when its height changes, posts the frame change.
    void reloadInputViews(const Responder& input);
    // The keyboard's view while shown (none while hidden).
    std::shared_ptr<KeyboardView> view() const { return visible_ ? view_ : nullptr; }
    // Keeps the keyboard in front of views added to its window after it.
    void keepInFront(Window& window);
    // An iPad's undocked keyboard: a frame the app must not take as covering the bottom.
    void setFloating(bool floating);
    void reset();

    static constexpr double kAnimationDuration = 0.25;
    static constexpr int kAnimationCurve = 7;

private:
    void post(const char* will, const char* did, Rect from, Rect to);
    // Where the keyboard goes for an accessory of this height, in the window's screen.
    Rect frameFor(const Window& window, double accessoryHeight) const;
    bool visible_ = false;
    bool floating_ = false;
    Rect frame_;
    std::shared_ptr<KeyboardView> view_;
};

inline constexpr const char* kKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline constexpr const char* kKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline constexpr const char* kKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
inline constexpr const char* kKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
inline constexpr const char* kKeyboardWillChangeFrameNotification = "UIKeyboardWillChangeFrameNotification";
inline constexpr const char* kKeyboardDidChangeFrameNotification = "UIKeyboardDidChangeFrameNotification";
inline constexpr const char* kKeyboardFrameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
inline constexpr const char* kKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
inline constexpr const char* kKeyboardAnimationDurationUserInfoKey = "UIKeyboardAnimationDurationUserInfoKey";
inline constexpr const char* kKeyboardAnimationCurveUserInfoKey = "UIKeyboardAnimationCurveUserInfoKey";
inline constexpr const char* kTextFieldTextDidChangeNotification = "UITextFieldTextDidChangeNotification";
inline constexpr const char* kTextViewTextDidChangeNotification = "UITextViewTextDidChangeNotification";

// Rectangles travel in user info as the platform's text form "{{x, y}, {w, h}}".
std::string rectToString(const Rect& r);
std::optional<Rect> rectFromString(const std::string& s);

}  // namespace toolkit
