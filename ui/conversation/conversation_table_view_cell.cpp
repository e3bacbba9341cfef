#include "ui/conversation/conversation_table_view_cell.h"

#include <algorithm>
#include <cmath>
#include <regex>

#include "app/roles/screen_roles.h"
#include "model/phone_extensions.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "ui/widgets/right_to_left_text.h"

namespace {

bool isWordByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || u >= 0x80;
}

}  // namespace

std::vector<HXNumberMatch> hxPhoneNumberMatches(const std::string& text) {
    // At a word boundary, seven or more of the number characters up to another word boundary.
    static const std::regex pattern(R"(\b([-0-9 ()*#]{7,})\b)");
    std::vector<HXNumberMatch> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it) {
        size_t offset = static_cast<size_t>(it->position(1));
        std::string match = (*it)[1].str();
        // The boundary before the first digit leaves a "+" in front outside: take it in, unless it
        // follows a word character itself (then it is an operator, "3+4").
        if (offset > 0 && text[offset - 1] == '+' && (offset == 1 || !isWordByte(text[offset - 2]))) {
            --offset;
            match.insert(match.begin(), '+');
        }
        out.push_back({offset, std::move(match)});
    }
    return out;
}

std::string hxReducedNumber(const std::string& match) {
    std::string out;
    for (char c : match)
        if ((c >= '0' && c <= '9') || c == '*' || c == '#' || c == '+') out += c;
    return out;
}

std::string hxRowSizeKey(long row, double width) {
    // Asked for on every dequeue and layout of a row: put together without a format.
    std::string key = std::to_string(row);
    key += "_size_";
    key += std::to_string(static_cast<int64_t>(width));
    return key;
}

HXBubbleText hxBubbleText(const std::string& message) {
    // The language is told from the first 100 characters.
    const std::string head = message.substr(0, foundation::utf8Offset(message, 100));
    if (auto language = foundation::bestStringLanguage(head); language && foundation::isRightToLeftLanguage(*language))
        return {hxRightToLeftLines(message), true};
    return {message, false};
}

std::pair<size_t, size_t> hxSelectionAround(const std::string& text, size_t at) {
    at = std::min(at, text.size());
    for (const auto& match : hxPhoneNumberMatches(text)) {
        // The pattern's spaces may reach past the digits at either end: the number is without them.
        size_t from = match.offset, to = match.offset + match.text.size();
        while (from < to && text[from] == ' ') ++from;
        while (to > from && text[to - 1] == ' ') --to;
        if (at >= from && at <= to && to > from) return {from, to};
    }
    // The word under the finger, or the one just before it.
    size_t start = at, end = at;
    if ((end >= text.size() || !isWordByte(text[end])) && start > 0 && isWordByte(text[start - 1])) --start;
    while (start > 0 && isWordByte(text[start - 1])) --start;
    while (end < text.size() && isWordByte(text[end])) ++end;
    if (end < start) end = start;
    return {start, end};
}

ConversationTableViewCell::ConversationTableViewCell()
    : toolkit::TableViewCell(toolkit::TableViewCellStyle::Default, kConversationCellIdentifier) {
    messageView_ = std::make_shared<toolkit::TextView>();
    messageView_->setBackgroundColor(graphics::Color::clear());
    messageView_->setContentInset({-7.0, 0, 0, 0});
    messageView_->setScrollEnabled(false);
    messageView_->showsVerticalScrollIndicator = false;
    messageView_->setEditable(false);
    messageView_->setSelectable(true);
    messageView_->accessibility().isElement = false;
    dateLabel_ = std::make_shared<toolkit::Label>();
    dateLabel_->setTextAlignment(toolkit::TextAlignment::center);
    dateLabel_->accessibility().isElement = false;
    contentView().addSubview(messageView_);
    contentView().addSubview(dateLabel_);
    dateLabel_->setTextColor(graphics::Color::secondaryLabel());
    // The date line lies on the row's own colour, above the bubble: it fills nothing of its own.
    setBackgroundColor(graphics::Color::systemGroupedBackground());
    setSelectionStyle(toolkit::CellSelectionStyle::None);
    setActionHandler("callViaHX:", [this](toolkit::Responder*) { callViaHX(); });
    setActionHandler("smsViaHX:", [this](toolkit::Responder*) { smsViaHX(); });
    setActionHandler("selectAll:", [this](toolkit::Responder*) { messageView_->selectAll(); });
    setActionHandler("copy:",
                     [this](toolkit::Responder*) { toolkit::Pasteboard::general().setString(candidateText()); });
    // Holding the text selects in it for the edit menu.
    selectPress_ = std::make_shared<toolkit::LongPressGestureRecognizer>([this](toolkit::GestureRecognizer& press) {
        if (press.state() == toolkit::GestureState::Began) selectForMenu(press.locationInView(messageView_.get()));
    });
    messageView_->addGestureRecognizer(selectPress_);
}

void ConversationTableViewCell::selectForMenu(toolkit::Point pointInText) {
    if (isImage_ || messageView_->text().empty()) return;
    const std::string& text = messageView_->text();
    const size_t offset = messageView_->closestPositionToPoint(pointInText).offset;
    const auto [from, to] = hxSelectionAround(text, foundation::utf8Offset(text, offset));
    if (to <= from) return;
    const size_t location = foundation::utf16Length(text.substr(0, from));
    const foundation::Range selected{location, foundation::utf16Length(text.substr(from, to - from))};
    messageView_->setSelectedRange(selected);
    (void)becomeFirstResponder();
    toolkit::Rect target;
    for (const auto& r : messageView_->selectionRectsForRange(selected))
        target = target.isEmpty() ? r : target.unionWith(r);
    auto& menu = toolkit::MenuController::shared();
    menu.setTargetRect(target, messageView_.get());
    menu.showMenu(true);
}

void ConversationTableViewCell::setMessageData(foundation::Dictionary data) {
    messageData_ = std::move(data);
    setNeedsLayout();
}

void ConversationTableViewCell::setAccessibilityParts(HXRowLabelParts parts) {
    labelParts_ = std::move(parts);
    setAccessibilityLabelMadeWhenAsked();
}

std::string ConversationTableViewCell::makeAccessibilityLabel() const {
    const HXRowLabelParts& p = labelParts_;
    std::string label =
        p.direction ? foundation::localizedString(isSent_ ? "Outgoing: " : "Incoming: ") : p.description;
    if (isImage_)
        label += foundation::format(foundation::localizedString("Attachment: %d image%@"), 1, "");
    else if (!p.textLeftOut)
        label += messageView_->text();
    label += '\n';
    label += dateLabel_->text();
    if (p.direction && p.messages >= 2)
        label += " (" +
                 foundation::format(foundation::localizedString("message %ld of %ld"), int64_t{p.message},
                                    int64_t{p.messages}) +
                 ")";
    return label;
}

double ConversationTableViewCell::dateLineHeight() {
    auto font = graphics::HXCFont::HXCFontForType(6);
    return (font ? font->pointSize() : 12.0) + 2.0;
}

void ConversationTableViewCell::prepareForReuse() {
    toolkit::TableViewCell::prepareForReuse();
    messageData_ = {};
    isImage_ = false;
    isSent_ = false;
}

void ConversationTableViewCell::layoutSubviews() {
    toolkit::TableViewCell::layoutSubviews();
    const double L = dateLineHeight();
    const toolkit::Rect content = contentView().frame();
    const double W = content.width();
    toolkit::Rect r{content.minX() + 6, content.minY() + 6, content.width() - 12, content.height() - 12};
    toolkit::Rect r2{r.minX(), r.minY() + std::ceil(L * 1.2), r.width(), r.height()};
    toolkit::Rect text;
    View* bubble = nullptr;
    if (auto& background = backgroundView()) bubble = background->viewWithTag(1);
    if (!messageData_.empty()) {
        double w = NAN, h = NAN;
        if (isImage_) {
            if (auto* image = dynamic_cast<toolkit::ImageView*>(bubble); image && image->image()) {
                w = image->image()->width();
                h = image->image()->height();
            } else if (bubble) {
                w = bubble->frame().width();
                h = bubble->frame().height();
            }
        } else {
            const foundation::Value& size = messageData_.get(hxRowSizeKey(messageData_.get("row").int64Value(), W));
            if (size.isDictionary()) {
                w = size.asDictionary().get("Width").doubleValue();
                h = size.asDictionary().get("Height").doubleValue();
            }
        }
        if (bubble) bubble->accessibility().ignoresInvertColors = isImage_;
        if (std::isnan(w) || std::isnan(h)) return;
        if (!isImage_) h -= 10;
        toolkit::Rect frame{r2.minX(), r2.minY() - 5, w + 24, h + 13};
        double textX;
        if (isSent_) {
            // Every sent bubble, text or picture, ends 16 points in from the row's right edge: a
            // picture's bubble is as much wider than the picture as a text's is than its text.
            frame = frame.offsetBy(W - 40 - w, 0);
            textX = r2.minX() + W - 28 - w;
            dateLabel_->setTextAlignment(toolkit::TextAlignment::right);
        } else {
            frame = frame.offsetBy(-3, 0);
            textX = r2.minX() + 16;
            dateLabel_->setTextAlignment(toolkit::TextAlignment::left);
        }
        text = {textX, r2.minY(), w, h};
        if (!isImage_ && messageView_->textAlignment() == toolkit::TextAlignment::right) {
            // Right-aligned text keeps from the body's right edge the room a left-aligned text
            // keeps from its left edge: the text rectangle is mirrored inside the bubble without
            // its tail.
            const double bodyLeft = frame.minX() + (isSent_ ? 0 : kBubbleTailWidth);
            const double bodyRight = frame.maxX() - (isSent_ ? kBubbleTailWidth : 0);
            text.origin.x = bodyLeft + bodyRight - text.maxX();
        }
        if (dateLabel_->text().empty()) {
            frame = frame.offsetBy(0, -std::ceil(L));
            text = text.offsetBy(0, -std::ceil(L));
        }
        if (bubble) {
            bubble->setFrame(frame);
            if (auto& mask = bubble->maskView()) mask->setFrame({0, 0, frame.width(), frame.height()});
        }
    } else {
        text = {r2.minX() + 4, r2.minY(), r2.width(), r2.height()};
    }
    text = {text.minX() - content.minX() - 8, text.minY(), text.width() + 16, text.height() + 16};
    if (!std::isnan(text.minX()) && !std::isnan(text.minY())) messageView_->setFrame(text);
    if (dateLabel_->text().empty())
        dateLabel_->setFrame({});
    else
        dateLabel_->setFrame({12, std::ceil(L * 0.2), W - 36, std::ceil(L)});
}

std::string ConversationTableViewCell::candidateText() const {
    // The text as written: a right-to-left text's isolates are the bubble's, not the message's.
    const std::string& all = messageView_->text();
    const foundation::Range selected = messageView_->selectedRange();
    const size_t length = foundation::utf16Length(all);
    if (!selected.found() || selected.length == 0 || selected.location >= length) return hxWithoutIsolates(all);
    const size_t end = std::min(length, selected.location + selected.length);
    const size_t from = foundation::utf8Offset(all, selected.location);
    const size_t to = foundation::utf8Offset(all, end);
    return hxWithoutIsolates(all.substr(from, to - from));
}

bool ConversationTableViewCell::canPerformAction(const std::string& action, toolkit::Responder* sender) const {
    if (action == "callViaHX:" || action == "smsViaHX:") {
        const auto matches = hxPhoneNumberMatches(candidateText());
        if (matches.size() != 1) return false;
        if (action == "callViaHX:") {
            const std::string formatted = PhoneExtensions::formattedPhoneNumberFromString(matches[0].text);
            auto& items = toolkit::MenuController::shared().menuItems;
            if (items.size() >= 2) {
                items[0].title = foundation::format("\U0001F4DE %@", formatted);
                items[1].title = foundation::format("\u2709\uFE0F %@", formatted);
            }
        }
        return true;
    }
    if (action == "copy:") return messageView_->selectedRange().found() && messageView_->selectedRange().length > 0;
    if (action == "selectAll:")
        return foundation::utf16Length(messageView_->text()) > messageView_->selectedRange().length;
    return messageView_->canPerformAction(action, sender);
}

std::optional<std::string> ConversationTableViewCell::extractNumber() {
    const auto matches = hxPhoneNumberMatches(candidateText());
    toolkit::MenuController::shared().hideMenu();
    messageView_->setSelectedRange({0, 0});
    if (matches.empty()) return std::nullopt;
    return hxReducedNumber(matches[0].text);
}

void ConversationTableViewCell::callViaHX() {
    auto number = extractNumber();
    if (!number) return;
    if (auto actions = actions_.lock()) actions->placeCallTo(*number);
}

void ConversationTableViewCell::smsViaHX() {
    auto number = extractNumber();
    if (!number) return;
    if (auto actions = actions_.lock()) actions->newMessageToNumber(*number, "", "");
}
