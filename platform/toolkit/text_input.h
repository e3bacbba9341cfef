// Text input: one editing model over UTF-8 text addressed in UTF-16 ranges, shared by the text
// field and the text view, the text positions both answer (offsets in UTF-16 units), and the
// software keyboard that appears while either has the focus and announces its frame (in screen
// coordinates, per screen profile) through notifications. The text view is a scroll view over its
// text, lays it out with the text measurer (the lines it measures are the lines it draws), draws
// its caret and selection, and finds links and phone numbers when asked.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/strings.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/scroll_view.h"

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
// Which typed letters the keyboard makes capitals: none, each word's first, each sentence's
// first, or all of them.
enum class AutocapitalizationType { None, Words, Sentences, AllCharacters };
// What the keyboard gives for typed, inserted after before, with type's capitals applied.
std::string autocapitalized(AutocapitalizationType type, std::string_view before, std::string_view typed);

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

// A place in a text input's text: UTF-16 units from its start.
struct TextPosition {
    size_t offset = 0;
    friend auto operator<=>(const TextPosition&, const TextPosition&) = default;
};

// The text between two positions, start never after end.
struct TextRange {
    TextPosition start, end;
    bool isEmpty() const { return start == end; }
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

// Inserting, deleting and return for whatever text input has the focus, and the positions of its
// text: what moves the caret by letters, words or to either end goes through these.
class TextInput {
public:
    virtual ~TextInput() = default;
    virtual void insertText(const std::string& text) = 0;
    virtual void deleteBackward() = 0;
    virtual void pressReturn() = 0;
    virtual bool hasText() const = 0;

    TextPosition beginningOfDocument() const { return {0}; }
    TextPosition endOfDocument() const { return {inputModel().length()}; }
    // The position offset units away; none when that leaves the text.
    std::optional<TextPosition> positionFromPosition(TextPosition position, long offset) const;
    long offsetFromPosition(TextPosition from, TextPosition to) const;
    // The range between two positions in either order; none when either lies outside the text.
    std::optional<TextRange> textRangeFromPosition(TextPosition from, TextPosition to) const;
    std::string textInRange(TextRange range) const;
    TextRange selectedTextRange() const;
    // Clamped into the text and widened to whole characters, like a selected range.
    void setSelectedTextRange(TextRange range);

    // The edit commands on the text: "copy:" and "cut:" with a selection (neither in secure
    // entry, cut only where the text can be edited), "paste:" of plain text from the pasteboard at
    // the selection where it can be edited, "select:" (the word at the caret) with text and no
    // selection, "selectAll:" with text not all selected. What is pasted or cut goes through the
    // delegate's question and change events as typing does; a pasteboard without text leaves
    // "paste:" to the responders further up (a picture goes to the screen's own paste).
    static bool isTextEditAction(const std::string& action);
    bool canPerformTextEditAction(const std::string& action) const;
    bool performTextEditAction(const std::string& action);
    // The range "select:" takes: the word at or before the caret, else the character before it.
    static Range wordRangeAround(const std::string& text, size_t caret);

protected:
    virtual const TextEditingModel& inputModel() const = 0;
    virtual void selectRangeFromInput(Range range) = 0;
    // Whether the text can change by the edit commands, and whether it shows as bullets.
    virtual bool isTextEditable() const = 0;
    virtual bool isTextSecure() const { return false; }
    // Replaces range with text as typing would (the delegate asked, the change told).
    virtual void replaceFromInput(Range range, const std::string& text) = 0;
    // The view the edit menu points at, and where in it: the selection, else the caret.
    virtual View& editMenuView() = 0;
    virtual Rect editMenuTarget() const = 0;
    // A hold in the input: it takes the focus, the caret moves under the finger (over no
    // selection), and the edit menu shows what can be done there.
    void showEditMenuForHold(Point pointInView);
    virtual void placeCaretFromHold(Point pointInView) = 0;
    // The edit menu over the selection or caret, with the text's commands.
    void showEditMenu();
    std::shared_ptr<GestureRecognizer> makeEditMenuPress();
};

class TextField : public Control, public TextInput {
public:
    TextField();
    explicit TextField(const Rect& frame) : TextField() { setFrame(frame); }
    std::string className() const override { return "TextField"; }

    const std::string& text() const { return model_.text(); }
    // Set by code: no delegate question, no change events.
    virtual void setText(std::string text);
    const std::string& placeholder() const { return placeholder_; }
    virtual void setPlaceholder(std::string placeholder);
    const Font& font() const { return font_; }
    virtual void setFont(Font font);
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color);
    TextAlignment textAlignment() const { return textAlignment_; }
    void setTextAlignment(TextAlignment alignment);
    TextBorderStyle borderStyle() const { return borderStyle_; }
    void setBorderStyle(TextBorderStyle style);
    bool isSecureTextEntry() const { return secureTextEntry_; }
    void setSecureTextEntry(bool secure);
    bool clearsOnBeginEditing = false;
    ReturnKeyType returnKeyType = ReturnKeyType::Default;
    // Applied to what is typed, not to text set by code or pasted.
    AutocapitalizationType autocapitalizationType = AutocapitalizationType::None;
    // Views at the ends of the field (a prompt, a button), shown as their modes say.
    const std::shared_ptr<View>& leftView() const { return leftView_; }
    void setLeftView(std::shared_ptr<View> view);
    const std::shared_ptr<View>& rightView() const { return rightView_; }
    void setRightView(std::shared_ptr<View> view);
    ViewMode leftViewMode() const { return leftViewMode_; }
    void setLeftViewMode(ViewMode mode);
    ViewMode rightViewMode() const { return rightViewMode_; }
    void setRightViewMode(ViewMode mode);
    // Whether a side view shows now (its mode against whether the field is editing).
    bool isLeftViewShown() const;
    bool isRightViewShown() const;
    std::shared_ptr<View> inputAccessory;
    std::weak_ptr<TextFieldDelegate> delegate;

    bool isEditing() const { return editing_; }
    Range selectedRange() const { return model_.selectedRange(); }
    void setSelectedRange(Range r);

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
    void layoutSubviews() override;

    // The text's rectangle: the bounds less the side views shown and the border's padding.
    virtual Rect textRectForBounds(const Rect& bounds) const;
    virtual Rect editingRectForBounds(const Rect& bounds) const { return textRectForBounds(bounds); }
    virtual Rect placeholderRectForBounds(const Rect& bounds) const { return textRectForBounds(bounds); }
    // The side views' rectangles: at the left and right edges, centred down the field.
    virtual Rect leftViewRectForBounds(const Rect& bounds) const;
    virtual Rect rightViewRectForBounds(const Rect& bounds) const;
    // The text as shown (bullets for secure entry), and where the caret of a UTF-16 offset sits
    // in the field.
    std::string displayedText() const;
    Rect caretRectForPosition(TextPosition position) const;

    bool canPerformAction(const std::string& action, Responder* sender) const override;
    bool perform(const std::string& action, Responder* sender) override;

protected:
    const TextEditingModel& inputModel() const override { return model_; }
    void selectRangeFromInput(Range range) override { setSelectedRange(range); }
    bool isTextEditable() const override { return isEnabled(); }
    bool isTextSecure() const override { return secureTextEntry_; }
    void replaceFromInput(Range range, const std::string& text) override { change(range, text); }
    View& editMenuView() override { return *this; }
    Rect editMenuTarget() const override;
    void placeCaretFromHold(Point pointInView) override;

private:
    void change(Range range, const std::string& s);
    void sideViewsChanged();
    std::shared_ptr<GestureRecognizer> editMenuPress_;
    TextEditingModel model_;
    bool editing_ = false;
    std::string placeholder_;
    Font font_ = Font::system(17);
    Color textColor_ = Color::label();
    TextAlignment textAlignment_ = TextAlignment::natural;
    TextBorderStyle borderStyle_ = TextBorderStyle::None;
    bool secureTextEntry_ = false;
    std::shared_ptr<View> leftView_, rightView_;
    ViewMode leftViewMode_ = ViewMode::Never, rightViewMode_ = ViewMode::Never;
};

class TextView;

// A text view's delegate is its scroll view delegate (the view's `delegate`) that also answers these.
class TextViewDelegate : public ScrollViewDelegate {
public:
    virtual bool textViewShouldBeginEditing(TextView&) { return true; }
    virtual void textViewDidBeginEditing(TextView&) {}
    virtual bool textViewShouldEndEditing(TextView&) { return true; }
    virtual void textViewDidEndEditing(TextView&) {}
    virtual bool shouldChangeTextInRange(TextView&, Range, const std::string&) { return true; }
    virtual void textViewDidChange(TextView&) {}
    virtual void textViewDidChangeSelection(TextView&) {}
    // A tap on a detected link or phone number; true lets the view open its URL.
    virtual bool shouldInteractWithURL(TextView&, const std::string& url, Range range) {
        (void)url, (void)range;
        return true;
    }
};

// What a text view finds in its text and makes tappable (when it is not editable).
enum DataDetectorTypes : unsigned {
    kDataDetectorNone = 0,
    kDataDetectorPhoneNumber = 1u << 0,
    kDataDetectorLink = 1u << 1,
    kDataDetectorAll = 0xFFFFFFFF,
};

// A link or phone number found in text: its UTF-16 range and the URL a tap opens ("tel:" for
// numbers, "http://" added to a bare "www." address).
struct DetectedLink {
    Range range;
    std::string url;
    friend bool operator==(const DetectedLink&, const DetectedLink&) = default;
};
std::vector<DetectedLink> detectLinks(const std::string& text, unsigned types);

class TextView : public ScrollView, public TextInput {
public:
    TextView();
    explicit TextView(const Rect& frame) : TextView() { setFrame(frame); }
    std::string className() const override { return "TextView"; }
    const std::string& text() const { return model_.text(); }
    // Plain text in the view's font and colour.
    void setText(std::string text);
    // The text with its runs; typed text takes the attributes of the text before it.
    const AttributedString& attributedText() const { return storage_; }
    void setAttributedText(AttributedString text);
    // Font and colour apply to the whole text (and to what is typed next).
    const Font& font() const { return typing_.font; }
    void setFont(Font font);
    const Color& textColor() const { return typing_.color; }
    void setTextColor(Color color);
    TextAlignment textAlignment() const { return textAlignment_; }
    void setTextAlignment(TextAlignment alignment);
    bool isEditable() const { return editable_; }
    void setEditable(bool editable);
    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable);
    const EdgeInsets& textContainerInset() const { return textContainerInset_; }
    void setTextContainerInset(const EdgeInsets& inset);
    double lineFragmentPadding() const { return lineFragmentPadding_; }
    void setLineFragmentPadding(double padding);
    // The room its lines break in when set (> 0), in place of its container's width; the lines are
    // then placed in the container by the alignment. A view sized to text measured in a room shows
    // the lines that were measured, from the same layout.
    double wrapWidth() const { return wrapWidth_; }
    void setWrapWidth(double width);
    unsigned dataDetectorTypes() const { return dataDetectorTypes_; }
    void setDataDetectorTypes(unsigned types);
    // How detected links look: the tint colour, underlined, unless set.
    std::optional<TextAttributes> linkTextAttributes;
    ReturnKeyType returnKeyType = ReturnKeyType::Default;
    std::shared_ptr<View> inputAccessory;

    Range selectedRange() const { return model_.selectedRange(); }
    void setSelectedRange(Range r);
    void selectAll();
    bool isEditing() const { return editing_; }
    // Text that cannot be edited is selected only for the edit menu: closed without a choice, the
    // menu takes the selection with it (the caret stays where the selection began).
    void editMenuDidCloseWithoutChoice() override;
    // Scrolls the least needed to show the range's first line.
    void scrollRangeToVisible(Range range);

    bool canBecomeFirstResponder() const override { return editable_ && window() != nullptr; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    std::shared_ptr<View> inputAccessoryView() const override { return inputAccessory; }

    void insertText(const std::string& text) override;
    void deleteBackward() override;
    // Return inserts a line break.
    void pressReturn() override { insertText("\n"); }
    bool hasText() const override { return !model_.text().empty(); }

    // The text laid out in the container (content coordinates, from the container's top left);
    // the lines the view measures and draws. Kept until the text, its look, the links found in it,
    // the container's width or the measurer change.
    const TextBox& textBox() const;
    // The text with detected links in their look.
    AttributedString displayedText() const;
    std::vector<DetectedLink> detectedLinks() const;
    // The container's top left in content coordinates, and its width.
    Point textOrigin() const;
    double textContainerWidth(double boundsWidth) const;
    // In content coordinates: the caret before a position (as high as its line), the rectangles
    // a range covers (one per line), the position nearest a point.
    Rect caretRectForPosition(TextPosition position) const;
    std::vector<Rect> selectionRectsForRange(Range range) const;
    TextPosition closestPositionToPoint(Point point) const;

    // The height the text needs at a width (the view's own when none).
    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    // A tap puts the caret where it landed (focusing the view), or opens a detected link.
    void touchesEnded(const TouchSet& touches, const Event* event) override;
    std::string outlineText() const override { return model_.text(); }

    bool canPerformAction(const std::string& action, Responder* sender) const override;
    bool perform(const std::string& action, Responder* sender) override;

protected:
    const TextEditingModel& inputModel() const override { return model_; }
    void selectRangeFromInput(Range range) override { setSelectedRange(range); }
    bool isTextEditable() const override { return editable_; }
    void replaceFromInput(Range range, const std::string& text) override { change(range, text); }
    View& editMenuView() override { return *this; }
    Rect editMenuTarget() const override;
    void placeCaretFromHold(Point pointInView) override {
        setSelectedRange({closestPositionToPoint(pointInView).offset, 0});
    }

private:
    void change(Range range, const std::string& s);
    void textDidChange();
    std::shared_ptr<GestureRecognizer> editMenuPress_;
    void updateContentSize();
    std::shared_ptr<TextViewDelegate> textDelegate() const;
    TextEditingModel model_;
    AttributedString storage_;
    TextAttributes typing_{Font::system(12), Color::label()};
    bool editing_ = false;
    bool editable_ = true;
    bool selectable_ = true;
    TextAlignment textAlignment_ = TextAlignment::natural;
    EdgeInsets textContainerInset_{8, 0, 8, 0};
    double lineFragmentPadding_ = 5;
    double wrapWidth_ = 0;
    unsigned dataDetectorTypes_ = kDataDetectorNone;
    // The links last found, and in which text by which types: the text is read for them on every
    // layout and frame, and seldom changes.
    struct FoundLinks {
        std::string text;
        unsigned types = kDataDetectorNone;
        std::vector<DetectedLink> links;
    };
    mutable std::optional<FoundLinks> foundLinks_;
    // Counts the changes of the text and its attributes (the stored runs and the typing ones).
    uint64_t textRevision_ = 0;
    // The last box laid out, and all it was laid out from besides the text: a cell's view is
    // measured and drawn several times for each text it is given. A text broken in a room of its
    // own is laid out whatever the view's width and alignment: a new frame or alignment only
    // places its lines again (a reused cell given its text before its frame lays it out once).
    struct KeptBox {
        uint64_t textRevision = 0;
        const TextMeasurer* measurer = nullptr;
        double width = 0;
        TextAlignment layoutAlignment = TextAlignment::natural;
        unsigned detectorTypes = kDataDetectorNone;
        std::optional<TextAttributes> linkLook;
        Color tint;
        std::shared_ptr<const TextBox> laidOut;
        double container = 0;
        TextAlignment alignment = TextAlignment::natural;
        // The lines placed again in the container (centred or right-aligned in a room of the
        // text's own), or none where they stand as laid out.
        std::optional<TextBox> placed;
    };
    mutable std::optional<KeptBox> keptBox_;
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

    // A key as drawn: its frame in the view, its label, and whether it is a function key (shift,
    // delete, numbers, return), drawn darker.
    struct KeyCap {
        Rect frame;
        std::string label;
        bool function = false;
    };
    static constexpr const char* kShiftLabel = "\u21e7";
    static constexpr const char* kDeleteLabel = "\u232b";
    static constexpr const char* kNumbersLabel = "123";
    static constexpr const char* kSpaceLabel = "space";
    static constexpr const char* kReturnLabel = "return";
    // The letter layout's keys, row by row; none when the panel has no room for them.
    std::vector<KeyCap> keyCaps() const;

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
