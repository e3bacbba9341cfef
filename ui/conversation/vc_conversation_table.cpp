// The conversation's bubble table: a section per message (oldest first), its rows (the text, then
// each attachment), their sizes cached per message and width, the date line, the call-history row,
// the note under the last message, and scrolling to the newest message.
#include <algorithm>
#include <cmath>
#include <typeinfo>
#include <utility>

#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/raster_cache.h"
#include "platform/toolkit/text_metrics.h"
#include "ui/conversation/conversation_screens_shared.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/widgets/hxc_animated_image_view.h"
#include "ui/widgets/table_row_changes.h"

namespace {

using foundation::localizedString;

double ceilLineHeight(uint32_t type) {
    auto font = graphics::HXCFont::HXCFontForType(type);
    return std::ceil(font ? toolkit::textMeasurer().lineHeight(*font) : 0);
}

foundation::Dictionary sizeDictionary(toolkit::Size size) {
    return foundation::Dictionary{{"Width", size.width}, {"Height", size.height}};
}

// Placed calls: every code of the mask 242048 (7, 8, 12, 13, 15, 16 and 17).
constexpr int64_t kPlacedCallMask = 242048;

// The bubble of a cell that showed a text row: a plain view holding only a bubble that draws a
// still picture, unmasked, upright, with nothing inside it. None for any other background.
std::shared_ptr<HXCAnimatedImageView> plainBubbleOf(const ConversationTableViewCell& cell) {
    const auto& holder = cell.backgroundView();
    if (!holder || typeid(*holder) != typeid(toolkit::View) || holder->subviews().size() != 1) return nullptr;
    auto bubble = std::dynamic_pointer_cast<HXCAnimatedImageView>(holder->subviews().front());
    if (!bubble || typeid(*bubble) != typeid(HXCAnimatedImageView) || bubble->tag() != 1 ||
        !bubble->subviews().empty() || bubble->maskView() || bubble->animatedImage() || bubble->isHidden() ||
        bubble->isHighlighted() || bubble->highlightedImage() || !bubble->transform().isIdentity() ||
        toolkit::hasPresentationAnimation(*bubble))
        return nullptr;
    return bubble;
}

}  // namespace

void VC_Conversation::resetDateFormatters() { hxConversationScreensShared().relativeFormatter.reset(); }

std::optional<HX_Message> VC_Conversation::messageAt(long section) const {
    if (!rows_ || section < 0) return std::nullopt;
    rowTexts_.noteLookup();
    return rows_->rowAt<HX_Message>(static_cast<size_t>(section));
}

long VC_Conversation::numberOfSections(toolkit::TableView&) {
    if (conversationType() == 3) return conversation_ ? 1 : 0;
    return rows_ ? static_cast<long>(rows_->count()) : 0;
}

long VC_Conversation::numberOfRows(toolkit::TableView&, long section) {
    if (conversationType() != 1 || !signedIn()) return 1;
    auto message = messageAt(section);
    if (!message) return 0;
    const auto attachments = message->attachments();
    if (!attachments) return 1;
    return static_cast<long>(attachments->size()) + (message->text().empty() ? 0 : 1);
}

std::optional<HXAttachment> VC_Conversation::attachmentAt(toolkit::IndexPath indexPath) const {
    auto message = messageAt(indexPath.section);
    return message ? attachmentOf(*message, indexPath.row) : std::nullopt;
}

std::optional<HXAttachment> VC_Conversation::attachmentOf(const HX_Message& message, long row) {
    const auto attachments = message.attachments();
    if (!attachments) return std::nullopt;
    const bool hasText = !message.text().empty();
    if (hasText && row == 0) return std::nullopt;
    const long index = row - (hasText ? 1 : 0);
    const auto& list = *attachments;
    if (index < 0 || static_cast<size_t>(index) >= list.size()) return std::nullopt;
    return HXAttachment::from(list[static_cast<size_t>(index)]);
}

double VC_Conversation::availableWidth() const {
    if (!isViewLoaded()) return 0;
    if (!isPeeking())
        if (auto* p = parent(); p && p->isViewLoaded()) return p->viewIfLoaded()->safeAreaLayoutFrame().width();
    return viewIfLoaded()->bounds().width();
}

graphics::ImagePtr VC_Conversation::bubbleImage(bool sent) {
    if (!outgoingBubble_) {
        auto balloon = graphics::imageNamed("BalloonFlat");
        const graphics::EdgeInsets caps{kBubbleCapTop, kBubbleCapLeft, kBubbleCapBottom, kBubbleCapRight};
        if (balloon) {
            outgoingBubble_ =
                balloon->resizableWithCapInsets(caps)->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
            incomingBubble_ =
                balloon->withHorizontallyFlippedOrientation()->resizableWithCapInsets(caps)->withRenderingMode(
                    graphics::RenderingMode::alwaysTemplate);
        }
    }
    return sent ? outgoingBubble_ : incomingBubble_;
}

std::string VC_Conversation::sizeCacheKey(long section) const {
    return HXConversationRowTexts::keyOf(messageAt(section), section);
}

foundation::Dictionary& VC_Conversation::sizesFor(long section) {
    return rowTexts_.sizesOf(messageAt(section), section);
}

namespace {
// The room a bubble's text is measured and broken in, for the width the table has.
double bubbleTextRoom(double availableWidth, int conversationType) {
    return conversationType == 1 ? availableWidth - 94 - 16 : availableWidth - 58 - 16;
}
}  // namespace

toolkit::Size VC_Conversation::measureText(const std::string& text) const {
    const double maxWidth = bubbleTextRoom(availableWidth(), conversationType());
    auto font = graphics::HXCFont::HXCFontForType(4);
    if (!font || maxWidth <= 0) return {0, 0};
    ++textsMeasured_;
    const toolkit::Size size =
        toolkit::textMeasurer().measure(text, *font, maxWidth, 0, graphics::LineBreakMode::wordWrap);
    return {std::ceil(size.width) + 1, std::ceil(size.height) + 8};
}

toolkit::Size VC_Conversation::messageSizeForRow(toolkit::IndexPath indexPath) {
    auto message = messageAt(indexPath.section);
    return messageSizeOf(indexPath, message, rowTexts_.sizesOf(message, indexPath.section));
}

toolkit::Size VC_Conversation::messageSizeOf(toolkit::IndexPath indexPath, const std::optional<HX_Message>& message,
                                             foundation::Dictionary& sizes) {
    const double W = availableWidth();
    if (W <= 0) return {0, 0};
    const std::string key = hxRowSizeKey(indexPath.row, W);
    if (const auto& stored = sizes.get(key); stored.isDictionary())
        return {stored.asDictionary().get("Width").doubleValue(), stored.asDictionary().get("Height").doubleValue()};
    toolkit::Size size{0, 0};
    bool cache = true;
    if (conversationType() == 3) {
        size = measureText(callRowText());
    } else if (auto attachment = message ? attachmentOf(*message, indexPath.row) : std::nullopt) {
        if (auto measured = attachments_ ? attachments_->size(*attachment, cache) : std::nullopt)
            size = *measured;
        else
            size = measureText(attachment->rowText());
    } else if (message) {
        size = measureText(message->text());
    }
    if (cache) sizes.set(key, sizeDictionary(size));
    return size;
}

bool VC_Conversation::listUnderneathLoaded() {
    auto* nav = navigationController();
    auto lists = roles_.lists.lock();
    if (!nav || !lists || nav->viewControllers().empty()) return false;
    return lists->isLoadingMessages(*nav->viewControllers().front()) == std::optional<bool>(false);
}

std::string VC_Conversation::dateLabelForRow(toolkit::IndexPath indexPath) {
    auto message = messageAt(indexPath.section);
    return HXConversationRowTexts::dateLabel(message, rowTexts_.sizesOf(message, indexPath.section));
}

std::string VC_Conversation::dateLineForRow(toolkit::IndexPath indexPath) {
    auto message = conversationType() == 1 && indexPath.row == 0 ? messageAt(indexPath.section) : std::nullopt;
    return dateLineOf(indexPath, message, message ? &rowTexts_.sizesOf(message, indexPath.section) : nullptr);
}

std::string VC_Conversation::dateLineOf(toolkit::IndexPath indexPath, const std::optional<HX_Message>& message,
                                        foundation::Dictionary* sizes) {
    if (conversationType() != 1) {
        foundation::DateFormatter formatter;
        formatter.setDateStyle(foundation::DateFormatter::Style::Medium);
        formatter.setTimeStyle(foundation::DateFormatter::Style::Short);
        auto last = conversation_ ? conversation_->lastdate() : std::nullopt;
        return last ? formatter.string(*last) : std::string();
    }
    if (indexPath.row != 0 || !message || !sizes) return {};
    std::string prefix;
    if (isGroup() && !message->isOutgoing()) {
        const std::string number = message->senderNumber();
        if (!number.empty()) {
            const std::string name = message->senderName();
            prefix = (name.empty() ? number : name) + " \u2013 ";
        }
    }
    std::string line = prefix + HXConversationRowTexts::dateLabel(message, *sizes);
    if (indexPath.section > 0 && line == dateLabelForRow({indexPath.section - 1, 0})) return {};
    return line;
}

std::string VC_Conversation::callRowText() const {
    if (!conversation_) return {};
    const int64_t type = conversation_->type();
    std::string text;
    if (type == 0)
        text = localizedString("Missed call");
    else if (type == 1)
        text = localizedString("Incoming call");
    else if (type == 4)
        text = localizedString("Recorded call");
    else if (type >= 0 && type < 63 && ((int64_t{1} << type) & kPlacedCallMask))
        text = localizedString("Outgoing call");
    if (const std::string length = conversation_->lastMessageLength(); !length.empty())
        text += foundation::format("\n%@: %@", localizedString("Length"), length);
    if (const auto cost = conversation_->displayedCost())
        text += foundation::format("\n%@: %@", localizedString("Cost"), *cost);
    return text;
}

HXRowLabelParts VC_Conversation::accessibilityPartsForRow(toolkit::IndexPath indexPath, std::string description) const {
    HXRowLabelParts parts;
    // A message's row without a description says which way it went and where it stands.
    parts.direction = conversationType() == 1 && description.empty();
    parts.textLeftOut = conversationType() == 1 && !description.empty();
    parts.description = std::move(description);
    parts.message = indexPath.section + 1;
    parts.messages = rows_ ? static_cast<long>(rows_->count()) : 0;
    return parts;
}

toolkit::TableViewCellPtr VC_Conversation::cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    auto cell = std::dynamic_pointer_cast<ConversationTableViewCell>(
        table.dequeueReusableCell(kConversationCellIdentifier, indexPath));
    if (!cell) cell = std::make_shared<ConversationTableViewCell>();
    // A bubble row keeps its drawing as pixels while it only scrolls.
    toolkit::setShouldRasterize(cell, true);
    cell->setActions(roles_.conversations);
    cell->setUserInteractionEnabled(conversationType() != 3);
    if (auto font = graphics::HXCFont::HXCFontForType(4)) cell->messageView().setFont(*font);
    if (auto font = graphics::HXCFont::HXCFontForType(6)) cell->dateLabel().setFont(*font);
    // The bubble breaks its text where the row's height was measured, from the same layout.
    cell->messageView().setWrapWidth(bubbleTextRoom(availableWidth(), conversationType()));
    cell->setIsImage(false);
    if (conversationType() == 3) {
        configureCallRow(*cell, indexPath);
        return cell;
    }
    while (!cell->interactions().empty()) cell->removeInteraction(cell->interactions().back().get());
    // A contact card drawn into the cell for an earlier row goes with that row.
    while (auto* card = cell->contentView().viewWithTag(kContactCardTag)) card->removeFromSuperview();
    auto message = messageAt(indexPath.section);
    if (!message) return cell;
    foundation::Dictionary& sizes = rowTexts_.sizesOf(message, indexPath.section);
    const bool sent = message->isOutgoing();
    auto attachment = attachmentOf(*message, indexPath.row);
    HXAttachmentRows::Shown shown;
    if (attachment && attachments_) {
        shown = attachments_->configure(*cell, sent, *attachment, indexPath);
    } else {
        shown.image = bubbleImage(sent);
        cell->messageView().setTextColor(sent ? graphics::Color::whiteColor() : graphics::Color::label());
        cell->messageView().setTintColor(sent ? graphics::Color::white(0.8, 1) : graphics::Color::systemBlue());
    }
    cell->messageView().setUserInteractionEnabled(!attachment);
    setBubble(*cell, attachment ? &*attachment : nullptr, sent, shown);
    setRowData(*cell, indexPath, messageSizeOf(indexPath, message, sizes));
    cell->setIsSent(sent);
    cell->messageView().setDataDetectorTypes(listUnderneathLoaded() ? toolkit::kDataDetectorAll
                                                                    : toolkit::kDataDetectorNone);
    if (!attachment) {
        // The text view breaks the text in the room it was given above, whatever frame the row
        // before left it: it lays the text out once, and the row's own frame only places it.
        const HXBubbleText text = rowTexts_.bubbleText(*message, sizes);
        cell->messageView().setTextAlignment(text.rightToLeft ? toolkit::TextAlignment::right
                                                              : toolkit::TextAlignment::left);
        cell->messageView().setText(text.text);
    }
    if (signedIn()) cell->dateLabel().setText(dateLineOf(indexPath, message, &sizes));
    cell->setAccessibilityParts(accessibilityPartsForRow(indexPath, std::move(shown.description)));
    // Laid out again for the date line the row shows.
    cell->setNeedsLayout();
    return cell;
}

void VC_Conversation::configureCallRow(ConversationTableViewCell& cell, toolkit::IndexPath indexPath) {
    cell.messageView().setText(callRowText());
    cell.messageView().setTextColor(graphics::Color::label());
    cell.setBackgroundView(std::make_shared<toolkit::View>());
    cell.setIsSent(false);
    (void)messageSizeForRow(indexPath);
    foundation::Dictionary data = sizesFor(indexPath.section);
    data.set("row", int64_t{indexPath.row});
    cell.setMessageData(std::move(data));
    cell.dateLabel().setText(dateLineForRow(indexPath));
    cell.setAccessibilityParts(accessibilityPartsForRow(indexPath, std::string()));
}

void VC_Conversation::setBubble(ConversationTableViewCell& cell, const HXAttachment* attachment, bool sent,
                                const HXAttachmentRows::Shown& shown) {
    // A text row keeps the plain bubble a reused cell shows for another text row; any other row
    // gets a bubble of its own.
    std::shared_ptr<HXCAnimatedImageView> background = attachment ? nullptr : plainBubbleOf(cell);
    const bool reused = background != nullptr;
    if (!background) background = std::make_shared<HXCAnimatedImageView>();
    const auto natural = shown.animated ? shown.animated->size()
                         : shown.image  ? shown.image->size()
                                        : graphics::Size{0, 0};
    if (background->frame().isEmpty() || reused) background->setFrame({0, 0, natural.width, natural.height});
    // The sent bubble is see-through as a whole: a translucent tint would darken the seams where
    // the stretched drawing's pieces meet.
    const auto sentTint =
        attachment ? graphics::Color::systemBlue().withAlphaComponent(0.7) : graphics::Color::systemBlue();
    background->setTintColor(sent ? sentTint : graphics::Color::systemGray4());
    if (sent && !attachment)
        background->setAlpha(0.7);
    else if (reused)
        background->setAlpha(1);
    if (shown.animated)
        background->setAnimatedImage(shown.animated);
    else
        background->setImage(shown.image);
    if (attachment && attachments_) attachments_->shapeBubble(cell, *background, *attachment, sent, shown.image);
    background->setTag(1);
    if (!reused) {
        auto holder = std::make_shared<toolkit::View>();
        holder->addSubview(background);
        cell.setBackgroundView(holder);
    }
}

void VC_Conversation::setRowData(ConversationTableViewCell& cell, toolkit::IndexPath indexPath, toolkit::Size rowSize) {
    // The row and its size at this width, all the cell reads of the message's sizes (not a copy of
    // every size and date kept for the message). A row measured anew each time (its media still
    // on the way) is not in the cache: the cell gets its size all the same.
    foundation::Dictionary data{{"row", int64_t{indexPath.row}}};
    if (const double W = availableWidth(); W > 0) data.set(hxRowSizeKey(indexPath.row, W), sizeDictionary(rowSize));
    cell.setMessageData(std::move(data));
}

std::optional<double> VC_Conversation::heightForRow(toolkit::TableView&, toolkit::IndexPath indexPath) {
    if (conversationType() == 3) {
        const bool length = conversation_ && !conversation_->lastMessageLength().empty();
        const bool cost = conversation_ && conversation_->displayedCost();
        return ((length ? 2 : 1) + (cost ? 1 : 0)) * ceilLineHeight(4) + 30;
    }
    return messageSizeForRow(indexPath).height + std::ceil(2 * ceilLineHeight(6) / 1.0);
}

std::optional<double> VC_Conversation::heightForFooter(toolkit::TableView& table, long section) {
    if (!conversation_ || conversation_->note().empty() || section != numberOfSections(table) - 1) return 0.0;
    return noteView()->frame().height();
}

std::shared_ptr<toolkit::View> VC_Conversation::viewForFooter(toolkit::TableView& table, long section) {
    if (!conversation_ || conversation_->note().empty() || section != numberOfSections(table) - 1) return nullptr;
    return noteView();
}

std::shared_ptr<toolkit::View> VC_Conversation::noteView() {
    if (noteView_) return noteView_;
    std::string text = conversation_ ? conversation_->note() : std::string();
    if (HXPreferenceOf(roles_.alerts, HXPreference::GraphicalEmoticons))
        text = PhoneExtensions::stringByUsingGraphicalEmoticons(text);
    auto font = graphics::HXCFont::HXCFontForType(7);
    const double parentWidth = view()->bounds().width();
    const toolkit::Size size =
        font ? toolkit::textMeasurer().measure(text, *font, parentWidth - 30, 0, graphics::LineBreakMode::wordWrap)
             : toolkit::Size{0, 0};
    const double height = std::min(size.height, 1000.0);
    noteView_ = std::make_shared<toolkit::View>(toolkit::Rect{10, 10, parentWidth - 20, height + 40});
    auto paper = std::make_shared<toolkit::ImageView>(graphics::imageNamed("note"));
    paper->setTag(kNoteImageTag);
    paper->setFrame({std::floor((parentWidth - size.width) / 2 - 10), 10, size.width + 20, height + 20});
    noteView_->addSubview(paper);
    auto label = std::make_shared<toolkit::Label>(paper->frame().insetBy(10, 10));
    label->setTag(1);
    if (font) label->setFont(*font);
    label->setNumberOfLines(0);
    label->setLineBreakMode(graphics::LineBreakMode::truncateTail);
    label->setBackgroundColor(graphics::Color::clear());
    label->setTextColor(graphics::Color::black());
    label->setText(text);
    noteView_->addSubview(label);
    return noteView_;
}

void VC_Conversation::scrollToBottomWithAnimation(bool animated) {
    if (!tableView_) return;
    if (!isPeeking() && !isGroup()) {
        if (auto& footer = tableView_->tableFooterView()) {
            tableView_->scrollRectToVisible(footer->frame(), animated);
            return;
        }
    }
    const long sections = tableView_->numberOfSections();
    const long section = conversationType() == 3 ? 0 : sections - 1;
    if (section < 0 || section >= sections || tableView_->numberOfRows(section) == 0) return;
    tableView_->scrollToRow({section, 0}, toolkit::ScrollPosition::Bottom, animated);
}

void VC_Conversation::reloadTable() {
    if (!tableView_) return;
    tableView_->reloadData();
    restorePagingOffset();
}

void VC_Conversation::rowsDidChange(const store::RowChanges& changes) {
    if (!tableView_ || conversationType() == 3) return;
    // Messages are sections: a newer one comes at the end, an older page above the ones in view,
    // which stay where they are on the screen.
    const long after = changes.inserted.empty() ? -1 : static_cast<long>(changes.inserted.back()) + 1;
    (void)hxShowSectionChanges(*tableView_, changes, true);
    // The message kept in view keeps it through the messages that come and go around it (an
    // older page lands above it): none once it went itself.
    if (keptInView_ >= 0) {
        auto kept = static_cast<size_t>(keptInView_);
        const auto& removed = changes.removed;
        if (std::find(removed.begin(), removed.end(), kept) != removed.end()) {
            keptInView_ = -1;
        } else {
            kept -=
                static_cast<size_t>(std::count_if(removed.begin(), removed.end(), [&](size_t r) { return r < kept; }));
            std::vector<size_t> inserted = changes.inserted;
            std::sort(inserted.begin(), inserted.end());
            for (size_t i : inserted) kept += i <= kept;
            keptInView_ = static_cast<long>(kept);
        }
    }
    // The message below an older page may now show the date line the page's last message shows.
    if (after >= 0 && after < tableView_->numberOfSections())
        tableView_->reloadSections({after}, toolkit::RowAnimation::None);
    // A message at the end (a reply sent, one received) is brought into view once the change is
    // in; a page above keeps the bubbles in view where they are.
    if (after > 0 && after == tableView_->numberOfSections()) newestArrived_ = true;
}

void VC_Conversation::rowsDidChangeContent() {
    if (savedPagingOffset() > 0) restorePagingOffset();
    // The message the screen was asked to show (a search result's) stays in view when the page
    // asked for at the opening brings messages above or below it.
    if (keptInView_ >= 0 && tableView_ && keptInView_ < tableView_->numberOfSections() &&
        tableView_->numberOfRows(keptInView_) > 0) {
        newestArrived_ = false;
        tableView_->layoutIfNeeded();
        return tableView_->scrollToRow({keptInView_, 0}, toolkit::ScrollPosition::Middle, false);
    }
    if (!std::exchange(newestArrived_, false) || !tableView_) return;
    if (refreshControl_ && refreshControl_->isRefreshing()) return;
    tableView_->layoutIfNeeded();
    scrollToBottomWithAnimation(savedPagingOffset() > 0);
}
