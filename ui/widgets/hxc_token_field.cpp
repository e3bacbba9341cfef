#include "ui/widgets/hxc_token_field.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/event.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/text_metrics.h"

namespace {

constexpr double kHPadding = 5;
constexpr double kTokenGap = 4;
constexpr double kMinTypingWidth = 50;

double topMarginFor(double lineHeight) { return std::floor(static_cast<float>(lineHeight * 3 / 7)); }

std::string stripped(std::string_view piece) {
    std::string s = foundation::replaceAll(piece, HXCTokenField::kEmptySentinel, "");
    s = foundation::replaceAll(s, HXCTokenField::kSelectedSentinel, "");
    return foundation::trim(s);
}

}  // namespace

// ---- the internal delegate

bool HXCTokenFieldInternalDelegate::textFieldShouldBeginEditing(toolkit::TextField& field) {
    auto d = delegate.lock();
    return !d || d->textFieldShouldBeginEditing(field);
}

void HXCTokenFieldInternalDelegate::textFieldDidBeginEditing(toolkit::TextField& field) {
    if (auto d = delegate.lock()) d->textFieldDidBeginEditing(field);
}

bool HXCTokenFieldInternalDelegate::textFieldShouldEndEditing(toolkit::TextField& field) {
    auto d = delegate.lock();
    return !d || d->textFieldShouldEndEditing(field);
}

void HXCTokenFieldInternalDelegate::textFieldDidEndEditing(toolkit::TextField& field) {
    if (auto d = delegate.lock()) d->textFieldDidEndEditing(field);
}

bool HXCTokenFieldInternalDelegate::textFieldShouldClear(toolkit::TextField& field) {
    auto d = delegate.lock();
    return !d || d->textFieldShouldClear(field);
}

bool HXCTokenFieldInternalDelegate::textFieldShouldReturn(toolkit::TextField& field) {
    tokenField->tokenizeText();
    auto d = delegate.lock();
    return !d || d->textFieldShouldReturn(field);
}

bool HXCTokenFieldInternalDelegate::shouldChangeCharactersInRange(toolkit::TextField& field, toolkit::Range range,
                                                                  const std::string& replacement) {
    HXCTokenField& f = *tokenField;
    if (!f.tokens().empty() && replacement.empty() && f.text() == HXCTokenField::kEmptySentinel) {
        f.selectToken(f.tokens().back());
        return false;
    }
    if (auto selected = f.selectedToken()) {
        f.removeToken(selected);
        return !replacement.empty();
    }
    if (!f.forcePickSearchResult()) {
        const auto separators = foundation::CharacterSet::fromCharacters(f.tokenizingCharacters());
        if (foundation::keepingOnly(replacement, separators).size() > 0) {
            f.tokenizeText();
            return false;
        }
    }
    auto d = delegate.lock();
    return !d || d->shouldChangeCharactersInRange(field, range, replacement);
}

// ---- the field

HXCTokenField::HXCTokenField(MadeByMake) {}

std::shared_ptr<HXCTokenField> HXCTokenField::make(const toolkit::Rect& frame) {
    auto field = std::make_shared<HXCTokenField>(MadeByMake{});
    field->setFrame(frame);
    field->commonSetup();
    return field;
}

HXCTokenField::~HXCTokenField() { internalDelegate_->delegate.reset(); }

void HXCTokenField::commonSetup() {
    setBorderStyle(toolkit::TextBorderStyle::None);
    TextField::setFont(toolkit::Font::system(14));
    setBackgroundColor(toolkit::Color::whiteColor());
    // The field's own events: handlers it owns itself.
    addAction([this](toolkit::Control&, const toolkit::Event*) { didBeginEditing(); }, toolkit::kEditingDidBegin);
    addAction([this](toolkit::Control&, const toolkit::Event*) { didEndEditing(); }, toolkit::kEditingDidEnd);
    addAction([this](toolkit::Control&, const toolkit::Event*) { didChangeText(); }, toolkit::kEditingChanged);
    setPromptText("To:");
    setText({});
    internalDelegate_ = std::make_shared<HXCTokenFieldInternalDelegate>(this);
    delegate = internalDelegate_;
}

void HXCTokenField::setTokenDelegate(std::weak_ptr<HXCTokenFieldDelegate> d) {
    delegate_ = d;
    internalDelegate_->delegate = std::move(d);
}

double HXCTokenField::lineHeight() const { return toolkit::textMeasurer().lineHeight(font()); }

std::shared_ptr<HXCToken> HXCTokenField::addTokenWithTitle(const std::string& title,
                                                           foundation::Value representedObject) {
    if (title.empty()) return nullptr;
    auto token = std::make_shared<HXCToken>(title, std::move(representedObject), font());
    addToken(token);
    return token;
}

void HXCTokenField::addToken(const std::shared_ptr<HXCToken>& token) {
    if (!token) return;
    if (auto d = delegate_.lock(); d && !d->tokenFieldWillAddToken(*this, *token)) return;
    if (std::find(tokens_.begin(), tokens_.end(), token) == tokens_.end()) {
        tokens_.push_back(token);
        if (auto d = delegate_.lock()) d->tokenFieldDidAddToken(*this, *token);
    }
    addTokenToView(token);
}

void HXCTokenField::addTokenToView(const std::shared_ptr<HXCToken>& token) {
    // One pair of touch actions per token, however often it comes back on screen.
    if (!tokenActions_.count(token.get())) {
        std::weak_ptr<HXCToken> weakToken = token;
        std::weak_ptr<toolkit::Responder> weakField = weak_from_this();
        auto down = token->addAction(
            [weakToken, weakField](toolkit::Control&, const toolkit::Event*) {
                auto field = std::dynamic_pointer_cast<HXCTokenField>(weakField.lock());
                if (auto t = weakToken.lock(); t && field) field->tokenTouchDown(t);
            },
            toolkit::kTouchDown);
        auto up = token->addAction(
            [weakToken, weakField](toolkit::Control&, const toolkit::Event*) {
                auto field = std::dynamic_pointer_cast<HXCTokenField>(weakField.lock());
                if (auto t = weakToken.lock(); t && field) field->tokenTouchUpInside(t);
            },
            toolkit::kTouchUpInside);
        tokenActions_[token.get()] = {down, up};
    }
    addSubview(token);
    layoutTokensAnimated(true);
    showOrHidePlaceHolderLabel();
    setResultsModeEnabled(false, true);
    deselectSelectedToken();
}

void HXCTokenField::removeToken(const std::shared_ptr<HXCToken>& token) {
    if (!token) return;
    if (selectedToken_.lock() == token) deselectSelectedToken();
    if (auto d = delegate_.lock(); d && !d->tokenFieldWillRemoveToken(*this, *token)) return;
    // Held here until the owner has heard of it.
    auto kept = token;
    kept->removeFromSuperview();
    if (auto it = tokenActions_.find(kept.get()); it != tokenActions_.end()) {
        kept->removeAction(it->second.first);
        kept->removeAction(it->second.second);
        tokenActions_.erase(it);
    }
    std::erase(tokens_, kept);
    layoutTokensAnimated(true);
    if (auto d = delegate_.lock()) d->tokenFieldDidRemoveToken(*this, *kept);
    setResultsModeEnabled(forcePickSearchResult_, true);
}

void HXCTokenField::removeAllTokens() {
    for (auto copy = tokens_; !copy.empty(); copy.pop_back()) removeToken(copy.back());
    setText({});
}

void HXCTokenField::selectToken(const std::shared_ptr<HXCToken>& token) {
    deselectSelectedToken();
    selectedToken_ = token;
    token->setSelected(true);
    becomeFirstResponder();
    setText(std::string(kSelectedSentinel));
}

void HXCTokenField::deselectSelectedToken() {
    if (auto selected = selectedToken_.lock()) selected->setSelected(false);
    selectedToken_.reset();
    setText(std::string(kEmptySentinel));
}

std::vector<std::string> HXCTokenField::piecesOfText(std::string_view text, std::string_view separators) {
    std::vector<std::string> pieces;
    for (const auto& piece : foundation::split(text, foundation::CharacterSet::fromCharacters(separators)))
        pieces.push_back(stripped(piece));
    return pieces;
}

void HXCTokenField::tokenizeText() {
    if (text() == kEmptySentinel || text() == kSelectedSentinel || forcePickSearchResult_) return;
    // Either sentinel may stand at the front of a piece: it is never part of a title.
    const auto pieces = piecesOfText(text(), tokenizingCharacters_);
    for (const auto& piece : pieces) addTokenWithTitle(piece);
    if (!pieces.empty()) sendActionsForControlEvents(toolkit::kEditingChanged);
}

void HXCTokenField::setText(std::string text) {
    TextField::setText(text.empty() ? std::string(kEmptySentinel) : std::move(text));
    setNeedsLayout();
}

void HXCTokenField::setFont(toolkit::Font font) {
    TextField::setFont(std::move(font));
    if (auto* label = dynamic_cast<toolkit::Label*>(leftView().get())) setPromptText(label->text());
}

void HXCTokenField::setPlaceholder(std::string placeholder) {
    if (placeholder.empty()) {
        if (placeHolderLabel_) placeHolderLabel_->removeFromSuperview();
        placeHolderLabel_.reset();
        layoutTokensAnimated(true);
        return;
    }
    if (!placeHolderLabel_) {
        const double width = rightView() ? rightView()->bounds().size.width : 0;
        const double height = rightView() ? rightView()->bounds().size.height : 0;
        placeHolderLabel_ =
            std::make_shared<toolkit::Label>(toolkit::Rect{tokenCaret_.x + 3, tokenCaret_.y + 2, width, height});
        placeHolderLabel_->setTextColor(toolkit::Color::white(0.75));
        addSubview(placeHolderLabel_);
    }
    placeHolderLabel_->setText(std::move(placeholder));
    placeHolderLabel_->setFont(toolkit::Font::system(font().pointSize() + 1));
    placeHolderLabel_->sizeToFit();
    layoutTokensAnimated(true);
}

void HXCTokenField::setPromptText(std::optional<std::string> text) {
    if (!text) {
        setLeftView(nullptr);
    } else {
        auto* label = dynamic_cast<toolkit::Label*>(leftView().get());
        if (!label) {
            auto made = std::make_shared<toolkit::Label>();
            made->setTextColor(toolkit::Color::white(0.5));
            made->accessibility().isElement = false;
            setLeftView(made);
            setLeftViewMode(toolkit::ViewMode::Always);
            label = made.get();
        }
        label->setText(*text);
        label->setFont(toolkit::Font::system(font().pointSize() + 1));
        label->sizeToFit();
    }
    layoutTokensAnimated(false);
}

void HXCTokenField::setTokenFieldFrame(const toolkit::Rect& frame) {
    setFrame(frame);
    layoutTokensAnimated(false);
}

bool HXCTokenField::becomeFirstResponder() {
    if (!editable_ || !window()) return false;
    return TextField::becomeFirstResponder();
}

bool HXCTokenField::canPerformAction(const std::string& action, toolkit::Responder* sender) const {
    if (action == "cut:" || action == "copy:" || action == "select:" || action == "selectAll:")
        return text() != kEmptySentinel;
    return TextField::canPerformAction(action, sender);
}

bool HXCTokenField::beginTracking(const toolkit::Touch& touch, const toolkit::Event* event) {
    if (selectedToken_.lock() && bounds().contains(touch.locationInView(this))) {
        if (auto selected = selectedToken_.lock()) selected->setSelected(false);
        selectedToken_.reset();
        setText(std::string(kEmptySentinel));
    }
    return TextField::beginTracking(touch, event);
}

void HXCTokenField::tokenTouchDown(const std::shared_ptr<HXCToken>& token) {
    auto selected = selectedToken_.lock();
    if (selected && selected != token) {
        selected->setSelected(false);
        selectedToken_.reset();
    }
}

void HXCTokenField::tokenTouchUpInside(const std::shared_ptr<HXCToken>& token) {
    if (editable_) selectToken(token);
}

toolkit::Rect HXCTokenField::textRectForBounds(const toolkit::Rect& bounds) const {
    if (text() == kSelectedSentinel) return {0, -20, 0, 0};
    // The text stands at the top of its area (the caret's line), as the field aligns it.
    return {bounds.origin.x + tokenCaret_.x + 2, bounds.origin.y + tokenCaret_.y + 3,
            bounds.size.width - (tokenCaret_.x + rightViewWidth() + 10), std::ceil(lineHeight())};
}

toolkit::Rect HXCTokenField::leftViewRectForBounds(const toolkit::Rect&) const {
    const auto& view = leftView();
    const toolkit::Size size = view ? view->bounds().size : toolkit::Size{};
    return {8, topMarginFor(lineHeight()), size.width, size.height};
}

toolkit::Rect HXCTokenField::rightViewRectForBounds(const toolkit::Rect& bounds) const {
    const auto& view = rightView();
    const toolkit::Size size = view ? view->bounds().size : toolkit::Size{};
    return {bounds.size.width - size.width - 6, bounds.size.height - size.height - 2, size.width, size.height};
}

double HXCTokenField::leftViewWidth() const {
    return leftView() && isLeftViewShown() ? leftView()->bounds().size.width : 0;
}

double HXCTokenField::rightViewWidth() const {
    return rightView() && isRightViewShown() ? rightView()->bounds().size.width : 0;
}

toolkit::ScrollView* HXCTokenField::scrollView() const { return dynamic_cast<toolkit::ScrollView*>(superview()); }

std::vector<std::string> HXCTokenField::tokenTitles() const {
    std::vector<std::string> titles;
    for (const auto& t : tokens_)
        if (!t->title().empty()) titles.push_back(t->title());
    return titles;
}

std::vector<foundation::Value> HXCTokenField::tokenObjects() const {
    std::vector<foundation::Value> objects;
    for (const auto& t : tokens_) {
        if (!t->representedObject().isNull())
            objects.push_back(t->representedObject());
        else if (!t->title().empty())
            objects.emplace_back(t->title());
    }
    return objects;
}

double HXCTokenField::layoutTokensInternal() {
    const double width = bounds().size.width;
    const double lh = lineHeight();
    const double topMargin = topMarginFor(lh);
    const double leftMargin = leftViewWidth() + 12;
    const double rightMargin = rightViewWidth() + 5;
    const double lineStep = topMargin + std::ceil(static_cast<float>(lh)) + 3;
    numberOfLines_ = 1;
    tokenCaret_ = {leftMargin, topMargin - 1};
    auto newLine = [&] {
        ++numberOfLines_;
        tokenCaret_.x = kHPadding;
        tokenCaret_.y += lineStep;
    };
    for (const auto& token : tokens_) {
        token->setFont(font());
        token->setMaxWidth(width - rightMargin - (numberOfLines_ > 1 ? kHPadding : leftMargin));
        if (!token->superview()) continue;
        const toolkit::Size size = token->bounds().size;
        if (tokenCaret_.x + size.width + rightMargin > width) newLine();
        token->setFrame({tokenCaret_, size});
        tokenCaret_.x += size.width + kTokenGap;
        if (width - tokenCaret_.x - rightMargin < kMinTypingWidth) newLine();
    }
    if (placeHolderLabel_) {
        auto frame = placeHolderLabel_->frame();
        frame.origin = {tokenCaret_.x + 3, tokenCaret_.y + 2};
        placeHolderLabel_->setFrame(frame);
    }
    return std::ceil(static_cast<float>(tokenCaret_.y + lineStep));
}

void HXCTokenField::layoutTokensAnimated(bool animated) {
    const double height = layoutTokensInternal();
    laidOutWidth_ = bounds().size.width;
    setNeedsDisplay();
    if (height == frame().size.height) return;
    std::weak_ptr<toolkit::Responder> weak = weak_from_this();
    toolkit::animate(
        animated ? kResizeDuration : 0.0,
        [this, height] {
            auto f = frame();
            f.size.height = height;
            setFrame(f);
            sendActionsForControlEvents(kFrameWillChange);
        },
        [weak](bool finished) {
            auto field = std::dynamic_pointer_cast<HXCTokenField>(weak.lock());
            if (field && finished) field->sendActionsForControlEvents(kFrameDidChange);
        });
}

void HXCTokenField::layoutSubviews() {
    TextField::layoutSubviews();
    // A new width (the frame set from outside) moves the tokens at once.
    if (bounds().size.width != laidOutWidth_) layoutTokensAnimated(false);
}

void HXCTokenField::setResultsModeEnabled(bool enabled, bool animated) {
    layoutTokensAnimated(animated);
    if (enabled != resultsModeEnabled_) {
        setClipsToBounds(!enabled);
        if (auto* scroll = scrollView()) {
            scroll->scrollsToTop = !enabled;
            scroll->setScrollEnabled(!enabled);
            double offset = 0;
            if (enabled && numberOfLines_ > 1) offset = tokenCaret_.y - std::floor(lineHeight() * 3 / 7) + 1;
            scroll->setContentOffset({0, frame().origin.y + offset}, animated);
        }
    }
    resultsModeEnabled_ = enabled;
}

void HXCTokenField::showOrHidePlaceHolderLabel() {
    if (placeHolderLabel_) placeHolderLabel_->setHidden(!(text() == kEmptySentinel && tokens_.empty()));
}

void HXCTokenField::didChangeText() {
    if (text().empty()) setText({});
    showOrHidePlaceHolderLabel();
}

void HXCTokenField::didBeginEditing() {
    if (!removesTokensOnEndEditing_) return;
    for (auto copy = tokens_; const auto& token : copy) addTokenToView(token);
}

void HXCTokenField::didEndEditing() {
    if (auto selected = selectedToken_.lock()) selected->setSelected(false);
    selectedToken_.reset();
    tokenizeText();
    if (removesTokensOnEndEditing_) {
        for (const auto& token : tokens_) token->removeFromSuperview();
        if (tokens_.empty()) {
            setText({});
        } else {
            const auto titles = tokenTitles();
            std::string summary = foundation::join(titles, ", ");
            const double width = toolkit::textMeasurer().lineWidth(summary, toolkit::Font::system(14));
            const double room = bounds().size.width - (leftView() ? leftView()->bounds().size.width : 0) -
                                (rightView() ? rightView()->bounds().size.width : 0);
            if (titles.size() >= 2 && width > room)
                summary = foundation::format("%lu recipients", static_cast<unsigned long>(titles.size()));
            setText(summary);
        }
    }
    setResultsModeEnabled(false, true);
    if (tokens_.empty() && forcePickSearchResult_) becomeFirstResponder();
}

std::string HXCTokenField::description() const {
    auto* label = dynamic_cast<toolkit::Label*>(leftView().get());
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return foundation::format("<HXCTokenField %@; prompt = \"%@\">", std::string(address),
                              label ? label->text() : std::string("(null)"));
}
