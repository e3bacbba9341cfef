#include "platform/toolkit/text_input.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/event.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/window.h"

namespace toolkit {

// ---- Editing model

namespace {
bool isTrail(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

void TextEditingModel::setText(std::string text) {
    text_ = std::move(text);
    selection_ = {length(), 0};
}

Range TextEditingModel::clamp(Range r) const {
    std::u16string u = foundation::toUtf16(text_);
    size_t n = u.size();
    size_t loc = std::min(r.location == foundation::kNotFound ? n : r.location, n);
    size_t end = std::min(loc + std::min(r.length, n - loc), n);
    const bool caret = end == loc;
    if (loc > 0 && loc < n && isTrail(u[loc])) --loc;
    // A caret inside a pair stands before it; a range ending inside one takes all of it.
    if (caret) return {loc, 0};
    if (end > 0 && end < n && isTrail(u[end])) ++end;
    return {loc, end - loc};
}

void TextEditingModel::setSelectedRange(Range r) { selection_ = clamp(r); }

void TextEditingModel::replace(Range range, const std::string& s) {
    Range r = clamp(range);
    size_t b0 = foundation::utf8Offset(text_, r.location);
    size_t b1 = foundation::utf8Offset(text_, r.end());
    text_.replace(b0, b1 - b0, s);
    selection_ = {r.location + foundation::utf16Length(s), 0};
}

Range TextEditingModel::deletionRange() const {
    if (selection_.length > 0) return selection_;
    if (selection_.location == 0) return {0, 0};
    std::u16string u = foundation::toUtf16(text_);
    size_t loc = selection_.location;
    size_t width = loc >= 2 && isTrail(u[loc - 1]) ? 2 : 1;
    return {loc - width, width};
}

// ---- Text positions

std::optional<TextPosition> TextInput::positionFromPosition(TextPosition position, long offset) const {
    const long target = static_cast<long>(position.offset) + offset;
    if (position.offset > inputModel().length() || target < 0 || target > static_cast<long>(inputModel().length())) {
        return std::nullopt;
    }
    return TextPosition{static_cast<size_t>(target)};
}

long TextInput::offsetFromPosition(TextPosition from, TextPosition to) const {
    return static_cast<long>(to.offset) - static_cast<long>(from.offset);
}

std::optional<TextRange> TextInput::textRangeFromPosition(TextPosition from, TextPosition to) const {
    const size_t n = inputModel().length();
    if (from.offset > n || to.offset > n) return std::nullopt;
    return from <= to ? TextRange{from, to} : TextRange{to, from};
}

std::string TextInput::textInRange(TextRange range) const {
    const Range r =
        inputModel().clamp({range.start.offset, range.end.offset - std::min(range.end.offset, range.start.offset)});
    return foundation::substringUtf16(inputModel().text(), r);
}

TextRange TextInput::selectedTextRange() const {
    const Range r = inputModel().selectedRange();
    return {{r.location}, {r.end()}};
}

void TextInput::setSelectedTextRange(TextRange range) {
    if (range.end < range.start) std::swap(range.start, range.end);
    selectRangeFromInput({range.start.offset, range.end.offset - range.start.offset});
}

// ---- Edit commands

bool TextInput::isTextEditAction(const std::string& action) {
    return action == "copy:" || action == "cut:" || action == "paste:" || action == "select:" || action == "selectAll:";
}

bool TextInput::canPerformTextEditAction(const std::string& action) const {
    const TextEditingModel& model = inputModel();
    const Range selected = model.clamp(model.selectedRange());
    if (action == "copy:") return selected.length > 0 && !isTextSecure();
    if (action == "cut:") return selected.length > 0 && !isTextSecure() && isTextEditable();
    if (action == "paste:") return isTextEditable() && Pasteboard::general().hasStrings();
    if (action == "select:") return model.length() > 0 && selected.length == 0;
    if (action == "selectAll:") return model.length() > 0 && selected.length < model.length();
    return false;
}

bool TextInput::performTextEditAction(const std::string& action) {
    if (!canPerformTextEditAction(action)) return false;
    const TextEditingModel& model = inputModel();
    const Range selected = model.clamp(model.selectedRange());
    if (action == "copy:" || action == "cut:") {
        Pasteboard::general().setString(foundation::substringUtf16(model.text(), selected));
        if (action == "cut:") replaceFromInput(selected, "");
        return true;
    }
    if (action == "paste:") {
        replaceFromInput(selected, Pasteboard::general().string().value_or(""));
        return true;
    }
    selectRangeFromInput(action == "selectAll:" ? Range{0, model.length()}
                                                : wordRangeAround(model.text(), selected.location));
    // Chosen from the edit menu, a selection brings the menu back with what it can do now.
    if (MenuController::shared().isPerformingItem()) showEditMenu();
    return true;
}

Range TextInput::wordRangeAround(const std::string& text, size_t caret) {
    const std::u16string u = foundation::toUtf16(text);
    caret = std::min(caret, u.size());
    auto inWord = [](char16_t c) {
        if (c >= 0x80) return c != 0x00A0 && !(c >= 0x2000 && c <= 0x206F) && c != 0x3000;
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '\'';
    };
    size_t from = caret, to = caret;
    // At a space after a word, the word before it.
    if (to < u.size() && !inWord(u[to])) {
        while (from > 0 && !inWord(u[from - 1]) && u[from - 1] != '\n') --from;
        to = from;
    }
    while (from > 0 && inWord(u[from - 1])) --from;
    while (to < u.size() && inWord(u[to])) ++to;
    if (to > from) return {from, to - from};
    if (caret > 0) return {caret - 1, 1};
    return {0, std::min<size_t>(1, u.size())};
}

void TextInput::showEditMenu() {
    View& view = editMenuView();
    if (!view.window()) return;
    auto& menu = MenuController::shared();
    // A field's menu has the text's commands alone.
    menu.menuItems.clear();
    menu.setTargetRect(editMenuTarget(), &view);
    menu.showMenu(true);
}

void TextInput::showEditMenuForHold(Point pointInView) {
    View& view = editMenuView();
    if (!view.isFirstResponder() && !view.becomeFirstResponder()) return;
    if (inputModel().selectedRange().length == 0) placeCaretFromHold(pointInView);
    showEditMenu();
}

std::shared_ptr<GestureRecognizer> TextInput::makeEditMenuPress() {
    return std::make_shared<LongPressGestureRecognizer>([this](GestureRecognizer& press) {
        if (press.state() == GestureState::Began) showEditMenuForHold(press.locationInView(&editMenuView()));
    });
}

// ---- Text field

TextField::TextField() {
    setFrame(Rect(0, 0, 100, 30));
    editMenuPress_ = makeEditMenuPress();
    addGestureRecognizer(editMenuPress_);
}

bool TextField::canPerformAction(const std::string& action, Responder* sender) const {
    if (isTextEditAction(action) && !handlesAction(action)) return canPerformTextEditAction(action);
    return Control::canPerformAction(action, sender);
}

bool TextField::perform(const std::string& action, Responder* sender) {
    if (isTextEditAction(action) && !handlesAction(action)) return performTextEditAction(action);
    return Control::perform(action, sender);
}

void TextField::placeCaretFromHold(Point pointInView) {
    // Bullets tell nothing of where the characters are: a hold in secure entry leaves the caret.
    if (secureTextEntry_ || model_.text().empty()) return;
    const Rect r = editingRectForBounds(bounds());
    const TextMeasurer& m = textMeasurer();
    const double width = m.lineWidth(model_.text(), font_);
    double x = r.minX();
    if (textAlignment_ == TextAlignment::center) x += (r.width() - width) / 2;
    if (textAlignment_ == TextAlignment::right) x += r.width() - width;
    TextAttributes a;
    a.font = font_;
    const size_t byte =
        std::min(m.offsetAt(AttributedString(model_.text(), a), pointInView.x - x), model_.text().size());
    setSelectedRange({foundation::utf16Length(model_.text().substr(0, byte)), 0});
}

Rect TextField::editMenuTarget() const {
    const Range r = selectedRange();
    const Rect start = caretRectForPosition({r.location});
    if (r.length == 0) return start;
    return start.unionWith(caretRectForPosition({r.end()}));
}

void TextField::setText(std::string text) {
    model_.setText(std::move(text));
    setNeedsDisplay();
}

void TextField::setSelectedRange(Range r) {
    model_.setSelectedRange(r);
    setNeedsDisplay();
}

void TextField::setPlaceholder(std::string placeholder) {
    placeholder_ = std::move(placeholder);
    setNeedsDisplay();
}

void TextField::setFont(Font font) {
    font_ = std::move(font);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void TextField::setTextColor(Color color) {
    textColor_ = std::move(color);
    setNeedsDisplay();
}

void TextField::setTextAlignment(TextAlignment alignment) {
    textAlignment_ = alignment;
    setNeedsDisplay();
}

void TextField::setBorderStyle(TextBorderStyle style) {
    borderStyle_ = style;
    setNeedsLayout();
    setNeedsDisplay();
}

void TextField::setSecureTextEntry(bool secure) {
    secureTextEntry_ = secure;
    setNeedsDisplay();
}

void TextField::setLeftView(std::shared_ptr<View> view) {
    if (leftView_ == view) return;
    if (leftView_ && leftView_->superview() == this) leftView_->removeFromSuperview();
    leftView_ = std::move(view);
    if (leftView_) addSubview(leftView_);
    sideViewsChanged();
}

void TextField::setRightView(std::shared_ptr<View> view) {
    if (rightView_ == view) return;
    if (rightView_ && rightView_->superview() == this) rightView_->removeFromSuperview();
    rightView_ = std::move(view);
    if (rightView_) addSubview(rightView_);
    sideViewsChanged();
}

void TextField::setLeftViewMode(ViewMode mode) {
    leftViewMode_ = mode;
    sideViewsChanged();
}

void TextField::setRightViewMode(ViewMode mode) {
    rightViewMode_ = mode;
    sideViewsChanged();
}

void TextField::sideViewsChanged() {
    setNeedsLayout();
    setNeedsDisplay();
}

namespace {
bool shownIn(ViewMode mode, bool editing) {
    switch (mode) {
        case ViewMode::Never:
            return false;
        case ViewMode::WhileEditing:
            return editing;
        case ViewMode::UnlessEditing:
            return !editing;
        case ViewMode::Always:
            return true;
    }
    return false;
}
}  // namespace

bool TextField::isLeftViewShown() const { return leftView_ && shownIn(leftViewMode_, editing_); }
bool TextField::isRightViewShown() const { return rightView_ && shownIn(rightViewMode_, editing_); }

Rect TextField::leftViewRectForBounds(const Rect& b) const {
    if (!leftView_) return {};
    const Size s = leftView_->bounds().size;
    return {b.minX(), b.minY() + (b.height() - s.height) / 2, s.width, s.height};
}

Rect TextField::rightViewRectForBounds(const Rect& b) const {
    if (!rightView_) return {};
    const Size s = rightView_->bounds().size;
    return {b.maxX() - s.width, b.minY() + (b.height() - s.height) / 2, s.width, s.height};
}

void TextField::layoutSubviews() {
    Control::layoutSubviews();
    const Rect b = bounds();
    if (leftView_) {
        leftView_->setHidden(!isLeftViewShown());
        if (isLeftViewShown()) leftView_->setFrame(leftViewRectForBounds(b));
    }
    if (rightView_) {
        rightView_->setHidden(!isRightViewShown());
        if (isRightViewShown()) rightView_->setFrame(rightViewRectForBounds(b));
    }
}

bool TextField::canBecomeFirstResponder() const { return isEnabled() && window() != nullptr; }

bool TextField::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto d = delegate.lock();
    if (d && !d->textFieldShouldBeginEditing(*this)) return false;
    if (!Responder::becomeFirstResponder()) return false;
    editing_ = true;
    if (clearsOnBeginEditing) model_.setText("");
    model_.setSelectedRange({model_.length(), 0});
    sideViewsChanged();
    sendActionsForControlEvents(kEditingDidBegin);
    if (d) d->textFieldDidBeginEditing(*this);
    Keyboard::shared().show(*this);
    return true;
}

bool TextField::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto d = delegate.lock();
    if (d && !d->textFieldShouldEndEditing(*this)) return false;
    if (!Responder::resignFirstResponder()) return false;
    editing_ = false;
    sideViewsChanged();
    sendActionsForControlEvents(kEditingDidEnd);
    if (d) d->textFieldDidEndEditing(*this);
    if (!dynamic_cast<TextInput*>(firstResponder())) Keyboard::shared().hide();
    return true;
}

void TextField::change(Range range, const std::string& s) {
    Range r = model_.clamp(range);
    if (auto d = delegate.lock(); d && !d->shouldChangeCharactersInRange(*this, r, s)) return;
    model_.replace(r, s);
    setNeedsDisplay();
    sendActionsForControlEvents(kEditingChanged);
    foundation::NotificationCenter::defaultCenter().post(kTextFieldTextDidChangeNotification, self());
}

void TextField::insertText(const std::string& text) {
    if (!editing_) return;
    if (autocapitalizationType == AutocapitalizationType::None) return change(model_.selectedRange(), text);
    const Range at = model_.clamp(model_.selectedRange());
    const std::string_view before =
        std::string_view(model_.text()).substr(0, foundation::utf8Offset(model_.text(), at.location));
    change(at, autocapitalized(autocapitalizationType, before, text));
}

std::string autocapitalized(AutocapitalizationType type, std::string_view before, std::string_view typed) {
    if (type == AutocapitalizationType::None) return std::string(typed);
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    // Only the end of what precedes matters: the last character, and the sentence's end before
    // the spaces that follow it.
    std::string prev(before.substr(before.size() > 64 ? before.size() - 64 : 0));
    std::string out;
    for (size_t i = 0; i < typed.size();) {
        const auto lead = static_cast<unsigned char>(typed[i]);
        const size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const std::string c(typed.substr(i, n));
        i += n;
        bool capital = type == AutocapitalizationType::AllCharacters;
        if (type == AutocapitalizationType::Words) capital = prev.empty() || isSpace(prev.back());
        if (type == AutocapitalizationType::Sentences) {
            size_t end = prev.size();
            while (end > 0 && (prev[end - 1] == ' ' || prev[end - 1] == '\t')) --end;
            capital = end == 0 || prev[end - 1] == '\n' || prev[end - 1] == '\r' ||
                      (end < prev.size() && (prev[end - 1] == '.' || prev[end - 1] == '!' || prev[end - 1] == '?'));
        }
        const std::string shown = capital ? foundation::uppercase(c) : c;
        out += shown;
        prev += shown;
        if (prev.size() > 128) prev.erase(0, prev.size() - 64);
    }
    return out;
}

void TextField::deleteBackward() {
    if (!editing_) return;
    Range r = model_.deletionRange();
    if (r.length == 0) return;
    change(r, "");
}

void TextField::pressReturn() {
    if (!editing_) return;
    auto d = delegate.lock();
    if (d && !d->textFieldShouldReturn(*this)) return;
    sendActionsForControlEvents(kEditingDidEndOnExit);
}

void TextField::clear() {
    auto d = delegate.lock();
    if (d && !d->textFieldShouldClear(*this)) return;
    model_.setText("");
    setNeedsDisplay();
    sendActionsForControlEvents(kEditingChanged);
}

void TextField::endTracking(const Touch* touch, const Event*) {
    if (touch && bounds().contains(touch->locationInView(this))) becomeFirstResponder();
}

namespace {
// Secure entry shows one bullet per character the user typed, never the text.
std::string bullets(const std::string& text) {
    std::string dots;
    for (size_t i = 0; i < foundation::toCodePoints(text).size(); ++i) dots += "\u2022";
    return dots;
}
}  // namespace

std::string TextField::displayedText() const { return secureTextEntry_ ? bullets(model_.text()) : model_.text(); }

std::string TextField::outlineText() const {
    if (model_.text().empty()) return placeholder_.empty() ? "" : "[" + placeholder_ + "]";
    return displayedText();
}

std::string TextField::accessibilityLabel() const {
    return accessibility().label.empty() ? placeholder_ : accessibility().label;
}

Rect TextField::textRectForBounds(const Rect& b) const {
    const double left = isLeftViewShown() ? leftView_->bounds().width() : 0;
    const double right = isRightViewShown() ? rightView_->bounds().width() : 0;
    const double pad = borderStyle_ == TextBorderStyle::None ? 0 : 7;
    return Rect(b.minX() + left + pad, b.minY(), std::max(0.0, b.width() - left - right - 2 * pad), b.height());
}

Rect TextField::caretRectForPosition(TextPosition position) const {
    const Rect r = editing_ ? editingRectForBounds(bounds()) : textRectForBounds(bounds());
    TextAttributes a;
    a.font = font_;
    const std::string shown = displayedText();
    const AttributedString line(shown, a);
    // The offset in the shown text: bullets stand one for each character.
    const std::string before =
        foundation::substringUtf16(model_.text(), {0, std::min(position.offset, model_.length())});
    const size_t bytes = secureTextEntry_ ? bullets(before).size() : before.size();
    const TextMeasurer& m = textMeasurer();
    const double width = shown.empty() ? 0 : m.lineWidth(shown, font_);
    double x = r.minX();
    if (textAlignment_ == TextAlignment::center) x += (r.width() - width) / 2;
    if (textAlignment_ == TextAlignment::right) x += r.width() - width;
    const double h = m.lineHeight(font_);
    return {std::min(x + m.caretOffset(line, bytes), r.maxX() - 2), r.midY() - h / 2, 2, h};
}

// ---- Text view

namespace {

bool isDigit(char32_t c) { return c >= '0' && c <= '9'; }

// The marks and embeddings that set which way text reads (left-to-right and right-to-left marks,
// embeddings, overrides and isolates): never part of an address, and a boundary before one.
bool isBidiControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// What ends a link besides white space: the direction controls, the line and paragraph
// separators, and the characters that show nothing (zero-width space, joiners, word joiner,
// byte-order mark, soft hyphen), which would hide where the address ends.
bool endsLink(char32_t c) {
    return isBidiControl(c) || c == 0x2028 || c == 0x2029 || (c >= 0x200B && c <= 0x200D) || c == 0x2060 ||
           c == 0xFEFF || c == 0x00AD;
}

// Where a link or number found at `start` of the code points ends (exclusive), or start when none.
size_t linkEnd(const std::u32string& t, size_t start) {
    auto startsWith = [&](const char* p) {
        size_t i = start;
        for (; *p; ++p, ++i) {
            if (i >= t.size() || std::tolower(static_cast<int>(t[i])) != *p) return false;
        }
        return true;
    };
    if (start > 0 && !std::isspace(static_cast<int>(t[start - 1] < 128 ? t[start - 1] : 'x')) && t[start - 1] != '(' &&
        t[start - 1] != '<' && t[start - 1] != '"' && !endsLink(t[start - 1]))
        return start;
    if (!startsWith("http://") && !startsWith("https://") && !startsWith("www.")) return start;
    size_t end = start;
    while (end < t.size() && t[end] > ' ' && t[end] != '<' && t[end] != '>' && t[end] != '"' && !endsLink(t[end]))
        ++end;
    // Trailing punctuation belongs to the sentence, not the address.
    while (end > start && (t[end - 1] == '.' || t[end - 1] == ',' || t[end - 1] == ')' || t[end - 1] == '!' ||
                           t[end - 1] == '?' || t[end - 1] == ';' || t[end - 1] == ':' || t[end - 1] == '\''))
        --end;
    const size_t schemeless = startsWith("www.") ? 4 : (startsWith("https://") ? 8 : 7);
    return end > start + schemeless ? end : start;
}

// A phone number: an optional "+", then digits with single spaces, dashes, dots or brackets
// between them, 7 to 15 digits in all, not inside a longer run of letters or digits.
size_t numberEnd(const std::u32string& t, size_t start) {
    if (start > 0 && !isBidiControl(t[start - 1]) &&
        (std::isalnum(static_cast<int>(t[start - 1] < 128 ? t[start - 1] : 'x')) || t[start - 1] == '+'))
        return start;
    size_t i = start;
    if (i < t.size() && t[i] == '+') ++i;
    if (i < t.size() && t[i] == '(') ++i;
    if (i >= t.size() || !isDigit(t[i])) return start;
    size_t digits = 0, lastDigit = i;
    while (i < t.size()) {
        if (isDigit(t[i])) {
            ++digits, lastDigit = i++;
            continue;
        }
        const bool separator = t[i] == ' ' || t[i] == '-' || t[i] == '.' || t[i] == '(' || t[i] == ')';
        if (!separator || i + 1 >= t.size()) break;
        // One separator (or ") " / " (") between digit groups.
        size_t j = i + 1;
        if (j < t.size() && !isDigit(t[j]) && (t[j] == ' ' || t[j] == '(') && t[i] != t[j]) ++j;
        if (j >= t.size() || !isDigit(t[j])) break;
        i = j;
    }
    const size_t end = lastDigit + 1;
    if (digits < 7 || digits > 15) return start;
    if (end < t.size() && !isBidiControl(t[end]) && std::isalnum(static_cast<int>(t[end] < 128 ? t[end] : 'x')))
        return start;
    return end;
}

size_t utf16Units(const std::u32string& t, size_t from, size_t to) {
    size_t n = 0;
    for (size_t i = from; i < to; ++i) n += t[i] > 0xFFFF ? 2 : 1;
    return n;
}

}  // namespace

std::vector<DetectedLink> detectLinks(const std::string& text, unsigned types) {
    std::vector<DetectedLink> out;
    if (types == kDataDetectorNone) return out;
    const std::u32string t = foundation::toCodePoints(text);
    size_t units = 0;
    for (size_t i = 0; i < t.size();) {
        size_t end = i;
        std::string url;
        if (types & kDataDetectorLink) {
            end = linkEnd(t, i);
            if (end > i) {
                for (size_t k = i; k < end; ++k) foundation::appendUtf8(url, t[k]);
                if (url.rfind("www.", 0) == 0 || url.rfind("WWW.", 0) == 0) url = "http://" + url;
            }
        }
        if (end == i && (types & kDataDetectorPhoneNumber)) {
            end = numberEnd(t, i);
            if (end > i) {
                url = "tel:";
                for (size_t k = i; k < end; ++k)
                    if (isDigit(t[k]) || t[k] == '+') url += static_cast<char>(t[k]);
            }
        }
        if (end > i) {
            out.push_back({{units, utf16Units(t, i, end)}, url});
            units += utf16Units(t, i, end);
            i = end;
            continue;
        }
        units += t[i] > 0xFFFF ? 2 : 1;
        ++i;
    }
    return out;
}

TextView::TextView() : ScrollView(Rect(0, 0, 100, 100)) {
    // The text starts at the container inset wherever the view sits; screens that want room for
    // bars set the content inset themselves.
    contentInsetAdjustmentBehavior = ContentInsetAdjustment::Never;
    alwaysBounceVertical = true;
    showsHorizontalScrollIndicator = false;
    // Text that cannot be edited leaves a hold to whoever shows it (a bubble selects its words).
    editMenuPress_ = makeEditMenuPress();
    addGestureRecognizer(editMenuPress_);
}

bool TextView::canPerformAction(const std::string& action, Responder* sender) const {
    if (isTextEditAction(action) && !handlesAction(action)) return canPerformTextEditAction(action);
    return ScrollView::canPerformAction(action, sender);
}

bool TextView::perform(const std::string& action, Responder* sender) {
    if (isTextEditAction(action) && !handlesAction(action)) return performTextEditAction(action);
    return ScrollView::perform(action, sender);
}

Rect TextView::editMenuTarget() const {
    const Range r = selectedRange();
    if (r.length == 0) return caretRectForPosition({r.location});
    Rect target;
    for (const Rect& line : selectionRectsForRange(r)) target = target.isEmpty() ? line : target.unionWith(line);
    return target;
}

std::shared_ptr<TextViewDelegate> TextView::textDelegate() const {
    return std::dynamic_pointer_cast<TextViewDelegate>(delegate.lock());
}

void TextView::setText(std::string text) {
    storage_ = AttributedString(text, typing_);
    model_.setText(std::move(text));
    textDidChange();
}

void TextView::setAttributedText(AttributedString text) {
    // The attributes of its end are what typing continues with.
    if (!text.string().empty()) typing_ = text.attributesAt(text.string().size() - 1);
    model_.setText(text.string());
    storage_ = std::move(text);
    textDidChange();
}

void TextView::setFont(Font font) {
    // A reused view is often handed the font it has: nothing to lay out again.
    if (typing_.font == font &&
        std::all_of(storage_.runs().begin(), storage_.runs().end(),
                    [&](const AttributedString::Run& run) { return run.attributes.font == font; }))
        return;
    typing_.font = font;
    AttributedString out;
    for (const AttributedString::Run& run : storage_.runs()) {
        TextAttributes a = run.attributes;
        a.font = font;
        out.append(storage_.string().substr(run.start, run.length), a);
    }
    storage_ = std::move(out);
    textDidChange();
}

void TextView::setTextColor(Color color) {
    // A reused view is often handed the colour it has: its text stays as it is laid out.
    if (typing_.color == color &&
        std::all_of(storage_.runs().begin(), storage_.runs().end(),
                    [&](const AttributedString::Run& run) { return run.attributes.color == color; }))
        return;
    typing_.color = color;
    AttributedString out;
    for (const AttributedString::Run& run : storage_.runs()) {
        TextAttributes a = run.attributes;
        a.color = color;
        out.append(storage_.string().substr(run.start, run.length), a);
    }
    storage_ = std::move(out);
    ++textRevision_;
    setNeedsDisplay();
}

void TextView::setTextAlignment(TextAlignment alignment) {
    textAlignment_ = alignment;
    setNeedsDisplay();
}

void TextView::setEditable(bool editable) {
    editable_ = editable;
    editMenuPress_->setEnabled(editable);
    if (!editable_ && isFirstResponder()) resignFirstResponder();
    setNeedsDisplay();
}

void TextView::setSelectable(bool selectable) {
    selectable_ = selectable;
    setNeedsDisplay();
}

void TextView::setTextContainerInset(const EdgeInsets& inset) {
    textContainerInset_ = inset;
    textDidChange();
}

void TextView::setLineFragmentPadding(double padding) {
    lineFragmentPadding_ = std::max(0.0, padding);
    textDidChange();
}

void TextView::setWrapWidth(double width) {
    width = std::isfinite(width) && width > 0 ? width : 0;
    if (width == wrapWidth_) return;
    // Laid out when next asked: a reused view given its next room and then its next text lays
    // out once.
    wrapWidth_ = width;
    invalidateIntrinsicContentSize();
    setNeedsLayout();
    setNeedsDisplay();
}

void TextView::setDataDetectorTypes(unsigned types) {
    dataDetectorTypes_ = types;
    setNeedsDisplay();
}

void TextView::textDidChange() {
    ++textRevision_;
    updateContentSize();
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void TextView::setSelectedRange(Range r) {
    Range before = model_.selectedRange();
    model_.setSelectedRange(r);
    if (before == model_.selectedRange()) return;
    setNeedsDisplay();
    if (auto d = textDelegate()) d->textViewDidChangeSelection(*this);
}

void TextView::selectAll() { setSelectedRange({0, model_.length()}); }

void TextView::editMenuDidCloseWithoutChoice() {
    if (!editable_) setSelectedRange({selectedRange().location, 0});
}

bool TextView::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto d = textDelegate();
    if (d && !d->textViewShouldBeginEditing(*this)) return false;
    if (!Responder::becomeFirstResponder()) return false;
    editing_ = true;
    setNeedsDisplay();
    if (d) d->textViewDidBeginEditing(*this);
    Keyboard::shared().show(*this);
    return true;
}

bool TextView::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto d = textDelegate();
    if (d && !d->textViewShouldEndEditing(*this)) return false;
    if (!Responder::resignFirstResponder()) return false;
    editing_ = false;
    setNeedsDisplay();
    if (d) d->textViewDidEndEditing(*this);
    if (!dynamic_cast<TextInput*>(firstResponder())) Keyboard::shared().hide();
    return true;
}

void TextView::change(Range range, const std::string& s) {
    Range r = model_.clamp(range);
    auto d = textDelegate();
    if (d && !d->shouldChangeTextInRange(*this, r, s)) return;
    const size_t b0 = foundation::utf8Offset(model_.text(), r.location);
    const size_t b1 = foundation::utf8Offset(model_.text(), r.end());
    // Typed text continues the run it follows.
    const TextAttributes typed = b0 > 0 ? storage_.attributesAt(b0 - 1) : typing_;
    AttributedString updated = storage_.substring(0, b0);
    updated.append(s, typed);
    updated.append(storage_.substring(b1, storage_.string().size()));
    storage_ = std::move(updated);
    model_.replace(r, s);
    textDidChange();
    scrollRangeToVisible(model_.selectedRange());
    if (d) d->textViewDidChange(*this);
    foundation::NotificationCenter::defaultCenter().post(kTextViewTextDidChangeNotification, self());
}

void TextView::insertText(const std::string& text) {
    if (editing_) change(model_.selectedRange(), text);
}

void TextView::deleteBackward() {
    if (!editing_) return;
    Range r = model_.deletionRange();
    if (r.length > 0) change(r, "");
}

double TextView::textContainerWidth(double boundsWidth) const {
    return std::max(1.0, boundsWidth - textContainerInset_.left - textContainerInset_.right - 2 * lineFragmentPadding_);
}

Point TextView::textOrigin() const {
    return {textContainerInset_.left + lineFragmentPadding_, textContainerInset_.top};
}

std::vector<DetectedLink> TextView::detectedLinks() const {
    if (!foundLinks_ || foundLinks_->types != dataDetectorTypes_ || foundLinks_->text != model_.text())
        foundLinks_ = FoundLinks{model_.text(), dataDetectorTypes_, detectLinks(model_.text(), dataDetectorTypes_)};
    return foundLinks_->links;
}

AttributedString TextView::displayedText() const {
    const std::vector<DetectedLink> links = detectedLinks();
    if (links.empty()) return storage_;
    const std::string& str = storage_.string();
    AttributedString out;
    size_t at = 0;
    for (const DetectedLink& link : links) {
        const size_t b0 = foundation::utf8Offset(str, link.range.location);
        const size_t b1 = foundation::utf8Offset(str, link.range.end());
        out.append(storage_.substring(at, b0));
        // The link's own runs, in the link look (which keeps each run's font).
        const AttributedString part = storage_.substring(b0, b1);
        for (const AttributedString::Run& run : part.runs()) {
            TextAttributes a = run.attributes;
            if (linkTextAttributes) {
                a.color = linkTextAttributes->color;
                a.underline = linkTextAttributes->underline;
            } else {
                a.color = tintColor();
                a.underline = true;
            }
            out.append(part.string().substr(run.start, run.length), a);
        }
        at = b1;
    }
    out.append(storage_.substring(at, str.size()));
    return out;
}

const TextBox& TextView::textBox() const {
    const double container = textContainerWidth(bounds().width());
    // A text broken in a room of its own is laid out as it was measured (from the left), then
    // placed in the container.
    const bool ownRoom = wrapWidth_ > 0 && !storage_.string().empty();
    TextLayoutOptions options;
    options.width = ownRoom ? wrapWidth_ : container;
    options.lineBreakMode = LineBreakMode::wordWrap;
    options.alignment = ownRoom ? TextAlignment::natural : textAlignment_;
    const TextMeasurer* measurer = &textMeasurer();
    // Links take the tint colour unless their look is set.
    const Color tint = dataDetectorTypes_ != kDataDetectorNone && !linkTextAttributes ? tintColor() : Color::clear();
    const bool sameLayout = keptBox_ && keptBox_->textRevision == textRevision_ && keptBox_->measurer == measurer &&
                            keptBox_->width == options.width && keptBox_->layoutAlignment == options.alignment &&
                            keptBox_->detectorTypes == dataDetectorTypes_ && keptBox_->linkLook == linkTextAttributes &&
                            keptBox_->tint == tint;
    if (sameLayout && keptBox_->container == container && keptBox_->alignment == textAlignment_)
        return keptBox_->placed ? *keptBox_->placed : *keptBox_->laidOut;
    if (!sameLayout) {
        std::shared_ptr<const TextBox> laidOut;
        if (storage_.string().empty()) {
            // An empty text still has the line the caret stands on.
            TextBox caretLine = measurer->layout(AttributedString(" ", typing_), options);
            for (TextLine& line : caretLine.lines) line.content = {}, line.end = 0, line.frame.size.width = 0;
            caretLine.size.width = 0;
            laidOut = std::make_shared<const TextBox>(std::move(caretLine));
        } else {
            laidOut = measurer->sharedLayout(displayedText(), options);
        }
        keptBox_ = KeptBox{textRevision_,      measurer,           options.width, options.alignment,
                           dataDetectorTypes_, linkTextAttributes, tint,          std::move(laidOut)};
    }
    keptBox_->container = container;
    keptBox_->alignment = textAlignment_;
    keptBox_->placed.reset();
    if (!ownRoom || (textAlignment_ != TextAlignment::center && textAlignment_ != TextAlignment::right))
        return *keptBox_->laidOut;
    TextBox box = *keptBox_->laidOut;
    for (TextLine& line : box.lines) {
        const double free = container - line.frame.width();
        line.frame.origin.x = textAlignment_ == TextAlignment::center ? free / 2 : free;
    }
    keptBox_->placed = std::move(box);
    return *keptBox_->placed;
}

Rect TextView::caretRectForPosition(TextPosition position) const {
    const TextBox box = textBox();
    const Point origin = textOrigin();
    const size_t byte = foundation::utf8Offset(model_.text(), std::min(position.offset, model_.length()));
    const TextMeasurer& m = textMeasurer();
    // The line holding the byte: the last whose start is at or before it (a caret after a line
    // break stands at the start of the next line).
    const TextLine* line = box.lines.empty() ? nullptr : &box.lines.front();
    for (const TextLine& l : box.lines) {
        if (l.start <= byte) line = &l;
    }
    if (!line) return {origin.x, origin.y, 2, m.lineHeight(typing_.font)};
    const size_t inLine = std::min(byte - std::min(byte, line->start), line->content.string().size());
    const double x = origin.x + line->frame.minX() + (inLine > 0 ? m.caretOffset(line->content, inLine) : 0);
    return {x, origin.y + line->frame.minY(), 2, line->frame.height()};
}

std::vector<Rect> TextView::selectionRectsForRange(Range range) const {
    const Range r = model_.clamp(range);
    std::vector<Rect> out;
    if (r.length == 0) return out;
    const TextBox box = textBox();
    const Point origin = textOrigin();
    const size_t b0 = foundation::utf8Offset(model_.text(), r.location);
    const size_t b1 = foundation::utf8Offset(model_.text(), r.end());
    const TextMeasurer& m = textMeasurer();
    for (const TextLine& line : box.lines) {
        const size_t shownEnd = line.start + line.content.string().size();
        if (b1 <= line.start || b0 > std::max(shownEnd, line.end) || (b0 == line.end && b0 != line.start)) continue;
        const size_t from = std::clamp(b0, line.start, shownEnd) - line.start;
        const size_t to = std::clamp(b1, line.start, shownEnd) - line.start;
        const double x0 = from > 0 ? m.caretOffset(line.content, from) : 0;
        // A selection that runs on past the line covers the rest of the container's width.
        const double x1 = b1 > shownEnd
                              ? std::max(line.frame.width(), textContainerWidth(bounds().width()) - line.frame.minX())
                              : (to > 0 ? m.caretOffset(line.content, to) : 0);
        if (x1 <= x0) continue;
        out.push_back({origin.x + line.frame.minX() + x0, origin.y + line.frame.minY(), x1 - x0, line.frame.height()});
    }
    return out;
}

TextPosition TextView::closestPositionToPoint(Point point) const {
    const TextBox box = textBox();
    const Point origin = textOrigin();
    if (box.lines.empty()) return {0};
    const TextLine* line = &box.lines.front();
    for (const TextLine& l : box.lines) {
        if (point.y >= origin.y + l.frame.minY()) line = &l;
    }
    if (point.y >= origin.y + box.size.height) return endOfDocument();
    const size_t inLine = textMeasurer().offsetAt(line->content, point.x - origin.x - line->frame.minX());
    const size_t byte = std::min(line->start + inLine, model_.text().size());
    return {foundation::utf16Length(model_.text().substr(0, byte))};
}

void TextView::scrollRangeToVisible(Range range) {
    const Range r = model_.clamp(range);
    Rect target = caretRectForPosition({r.location});
    // A little room beyond the line, as the text container's insets give.
    target = Rect(target.minX(), target.minY() - textContainerInset_.top, target.width(),
                  target.height() + textContainerInset_.top + textContainerInset_.bottom);
    scrollRectToVisible(target, false);
}

void TextView::updateContentSize() {
    const double width = bounds().width();
    const Size text = textBox().size;
    setContentSize({width, text.height + textContainerInset_.top + textContainerInset_.bottom});
}

void TextView::layoutSubviews() {
    ScrollView::layoutSubviews();
    updateContentSize();
}

Size TextView::sizeThatFits(Size size) const {
    const double width = size.width > 0 ? size.width : bounds().width();
    TextLayoutOptions options;
    const bool ownRoom = wrapWidth_ > 0 && !storage_.string().empty();
    options.width = ownRoom ? wrapWidth_ : textContainerWidth(width);
    options.lineBreakMode = LineBreakMode::wordWrap;
    options.alignment = ownRoom ? TextAlignment::natural : textAlignment_;
    const AttributedString text = storage_.string().empty() ? AttributedString(" ", typing_) : displayedText();
    const Size t = textMeasurer().layout(text, options).size;
    return {width, t.height + textContainerInset_.top + textContainerInset_.bottom};
}

void TextView::touchesEnded(const TouchSet& touches, const Event* event) {
    if (touches.empty() || !bounds().contains(touches[0]->locationInView(this))) {
        ScrollView::touchesEnded(touches, event);
        return;
    }
    const Point at = touches[0]->locationInView(this);
    const TextPosition position = closestPositionToPoint(at);
    if (!editable_) {
        // Detected links act on a tap only where the text cannot be edited.
        for (const DetectedLink& link : detectedLinks()) {
            if (position.offset < link.range.location || position.offset > link.range.end()) continue;
            auto d = textDelegate();
            if (!d || d->shouldInteractWithURL(*this, link.url, link.range)) {
                services::URLOpener::shared()->openURL(link.url);
            }
            return;
        }
        if (selectable_) setSelectedRange({position.offset, 0});
        return;
    }
    if (becomeFirstResponder()) setSelectedRange({position.offset, 0});
}

// ---- Keyboard

Keyboard& Keyboard::shared() {
    static Keyboard k;
    return k;
}

void Keyboard::reset() {
    if (view_) view_->setAccessoryView(nullptr), view_->removeFromSuperview();
    *this = Keyboard();
}

std::string rectToString(const Rect& r) { return graphics::toString(r); }

std::optional<Rect> rectFromString(const std::string& s) {
    double x, y, w, h;
    int used = -1;
    // The count of conversions says nothing about the closing braces: the whole text must match.
    if (std::sscanf(s.c_str(), "{{%lf, %lf}, {%lf, %lf}}%n", &x, &y, &w, &h, &used) != 4 ||
        used != static_cast<int>(s.size()))
        return std::nullopt;
    // "nan" and "inf" scan as numbers; no rectangle has them.
    for (double v : {x, y, w, h})
        if (!std::isfinite(v)) return std::nullopt;
    return Rect(x, y, w, h);
}

void Keyboard::post(const char* will, const char* did, Rect from, Rect to) {
    foundation::Dictionary info;
    info.set(kKeyboardFrameBeginUserInfoKey, rectToString(from));
    info.set(kKeyboardFrameEndUserInfoKey, rectToString(to));
    info.set(kKeyboardAnimationDurationUserInfoKey, kAnimationDuration);
    info.set(kKeyboardAnimationCurveUserInfoKey, kAnimationCurve);
    auto& nc = foundation::NotificationCenter::defaultCenter();
    // Show and hide come wrapped in the frame-change pair; a plain frame change is just the pair.
    bool plain = std::string(will) == kKeyboardWillChangeFrameNotification;
    nc.post(kKeyboardWillChangeFrameNotification, nullptr, info);
    if (!plain) nc.post(will, nullptr, info);
    nc.post(kKeyboardDidChangeFrameNotification, nullptr, info);
    if (!plain) nc.post(did, nullptr, info);
}

void Keyboard::show(const View& input) {
    Window* w = input.window();
    if (!w) return;
    if (!view_) view_ = std::make_shared<KeyboardView>();
    view_->setAccessoryView(input.inputAccessoryView());
    Rect to = frameFor(*w, view_->accessoryHeight());
    Rect screen = w->profile().bounds();
    Rect from = visible_ ? frame_ : Rect(0, screen.height(), screen.width(), to.height());
    view_->setFrame(to);
    if (view_->superview() != w) w->addSubview(view_);
    w->bringSubviewToFront(view_.get());
    if (visible_ && from == to) return;
    bool wasVisible = visible_;
    visible_ = true;
    frame_ = to;
    if (wasVisible)
        post(kKeyboardWillChangeFrameNotification, kKeyboardDidChangeFrameNotification, from, to);
    else
        post(kKeyboardWillShowNotification, kKeyboardDidShowNotification, from, to);
}

void Keyboard::hide() {
    if (!visible_) return;
    if (view_) view_->setAccessoryView(nullptr), view_->removeFromSuperview();
    Rect from = frame_;
    Rect to = Rect(from.minX(), from.maxY(), from.width(), from.height());
    if (Window* w = Window::keyWindow()) to.origin.y = w->profile().bounds().height();
    visible_ = false;
    post(kKeyboardWillHideNotification, kKeyboardDidHideNotification, from, to);
}

void Keyboard::setFloating(bool floating) { floating_ = floating; }

}  // namespace toolkit
