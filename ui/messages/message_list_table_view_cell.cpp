#include "ui/messages/message_list_table_view_cell.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "app/roles/screen_roles.h"
#include "model/cache.h"
#include "model/conversation.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/traits.h"
#include "ui/widgets/default_contact_image.h"
#include "ui/widgets/right_to_left_text.h"

using toolkit::Color;
using toolkit::Rect;

namespace {

constexpr const char* kNoBreakParenthesis = "\xC2\xA0(";      // U+00A0 "("
constexpr const char* kNoMobilePhones = " \xF0\x9F\x93\xB5";  // " " U+1F4F5
constexpr const char* kGroupMessage = "Group Message";
constexpr const char* kTextSizeNotification = toolkit::kContentSizeCategoryDidChangeNotification;

// Main thread only, as every view.
double gDateLabelWidth = 0;
// The font that width was measured in: a list drawn in another font (another device's, another
// text size) measures again rather than taking a width that does not fit it.
std::optional<toolkit::Font> gDateLabelFont;
std::shared_ptr<HXCCache> gImageCache;

bool typeIn(int64_t type, int64_t mask) { return type >= 0 && type < 63 && ((int64_t{1} << type) & mask) != 0; }

// Every line break (CR LF, LF, CR, the line and paragraph separators) replaced by `with`.
std::string replacingLineBreaks(std::string_view text, std::string_view with) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out.append(with);
        } else if (c == '\n') {
            out.append(with);
        } else if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out.append(with);
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool showsMessageCounts(const MessageListCellOptions& options) {
    if (options.showMessageCounts) return *options.showMessageCounts;
    const HXPreferenceKey stored = HXPreferenceKeyOf(HXPreference::ShowMessageCounts);
    return foundation::UserDefaults::standardUserDefaults()->objectForKey(stored.key).boolValue(stored.unset);
}

std::string listText(std::string_view text, const MessageListCellOptions& options) {
    std::string s =
        options.graphicalEmoticons ? PhoneExtensions::stringByUsingGraphicalEmoticons(text) : std::string(text);
    return replacingLineBreaks(s, " ");
}

// The text without its last character (a whole code point; nothing for an empty text).
std::string droppingLastCharacter(std::string_view text) {
    if (text.empty()) return {};
    size_t i = text.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return std::string(text.substr(0, i));
}

struct Status {
    const char* text;
    const char* image;
};

Status statusOf(int64_t type) {
    if (type == 0) return {"Missed call", "call_missed"};
    if (type == 1) return {"Incoming call", "call_received"};
    if (type == 4) return {"Recorded call", "call_recorded"};
    if (typeIn(type, kPlacedCallTypesMask)) return {"Outgoing call", "call_placed"};
    if (typeIn(type, kSMSTypesMask)) return {"SMS Conversation", "message_sms"};
    if (type == 2) return {"Voicemail", "message_vm"};
    return {"", ""};
}

// The row's drawings and words, read from the bundle once (they are the same for every row).
// Main thread.
const graphics::ImagePtr& drawing(const std::string& name, bool symbol) {
    static std::map<std::pair<std::string, bool>, graphics::ImagePtr> loaded;
    auto [it, added] = loaded.try_emplace({name, symbol});
    if (added) it->second = symbol ? graphics::systemImageNamed(name) : graphics::imageNamed(name);
    return it->second;
}

const std::string& localized(const char* key) {
    static std::map<std::string, std::string, std::less<>> words;
    auto it = words.find(std::string_view(key));
    if (it == words.end()) it = words.emplace(key, foundation::localizedString(key)).first;
    return it->second;
}

// The default pictures tinted once per colour: every row shows one of a handful. Main thread.
graphics::ImagePtr tintedPicture(const graphics::ImagePtr& picture, const Color& tint) {
    struct Entry {
        graphics::ImagePtr picture;
        Color tint;
        graphics::ImagePtr tinted;
    };
    static std::vector<Entry> made;
    for (const Entry& e : made)
        if (e.picture == picture && e.tint == tint) return e.tinted;
    if (made.size() >= 16) made.clear();  // the shared picture was made anew (memory warning)
    made.push_back({picture, tint, graphics::imageTintedWithColor(picture, tint)});
    return made.back().tinted;
}

const foundation::NumberFormatter& decimalFormatter() {
    static const foundation::NumberFormatter formatter = [] {
        foundation::NumberFormatter f;
        f.setStyle(foundation::NumberFormatter::Style::Decimal);
        return f;
    }();
    return formatter;
}

void appendHint(std::string& hint, const std::string& word) {
    if (hint.empty())
        hint = word;
    else
        hint += foundation::format(", %@", word);
}

}  // namespace

std::string messageListDisplayName(const std::string& abName, const std::string& sender) {
    if (abName.empty()) return sender;
    if (sender != kGroupMessage) {
        const size_t cut = abName.rfind(kNoBreakParenthesis);
        if (cut != std::string::npos) return abName.substr(0, cut);
    }
    return abName;
}

std::string messageListPhoneLabel(const std::string& abName) {
    const size_t at = abName.rfind(kNoBreakParenthesis);
    if (at == std::string::npos) return {};
    return droppingLastCharacter(
        std::string_view(abName).substr(at + std::char_traits<char>::length(kNoBreakParenthesis)));
}

MessageListRowPresentation presentMessageListRow(const store::ManagedObject& conversation, bool oneLine,
                                                 const MessageListCellOptions& options) {
    MessageListRowPresentation row;
    const HX_ConversationFields c(conversation);
    const int64_t type = c.type();
    const bool smsOrVoicemail = typeIn(type, kSMSTypesMask | kVoicemailTypesMask);
    const std::string abName = c.ABName();
    const std::string note = c.note();
    const std::string formattedNumber = c.storedFormattedNumber();
    const bool showNote = options.showNotesInMessageLists && !note.empty();

    row.looksRead = c.isRead() || (oneLine && typeIn(type, kCallTypesMask));
    row.hasNote = !note.empty();
    row.isStarred = c.isStarred();
    row.isSpam = c.isSpam();

    // Name.
    std::string name = messageListDisplayName(abName, c.sender());
    if (c.phoneNumber() == name && name != "Unknown") name = formattedNumber;
    if (c.isSenderBlocked()) name += kNoMobilePhones;

    std::string message;
    if (!oneLine || smsOrVoicemail) {
        const int64_t count = c.numberOfMessages();
        if (count >= 2 && showsMessageCounts(options)) {
            name = foundation::format("%@ (%@)", name, decimalFormatter().string(count));
        }
        message = listText(showNote ? note : c.lastMessageText(), options);
    }
    if (oneLine) {
        const Status status = statusOf(type);
        row.statusText = *status.text ? localized(status.text) : std::string();
        row.statusImage = status.image;
        if (!smsOrVoicemail) {
            if (showNote) {
                message = listText(note, options);
            } else {
                if (type != 4 && !abName.empty()) {
                    message = formattedNumber;
                    // A label cut short (nothing after the parenthesis) adds no dash.
                    const std::string label = messageListPhoneLabel(abName);
                    if (!label.empty()) message += " - " + label;
                } else {
                    message = c.lastMessageText();
                }
                const std::string length = c.lastMessageLength();
                if (!length.empty()) {
                    message += " (" + length;
                    const std::string cost = c.cost();
                    if (!cost.empty()) message += ", " + cost;
                    message += ")";
                }
            }
            message = foundation::trim(message);
        }
    }

    // Writing direction, judged by the start of the text.
    if (!message.empty()) {
        const auto language = foundation::bestStringLanguage(foundation::truncateUtf16(message, 100));
        if (language && foundation::isRightToLeftLanguage(*language)) {
            row.rightToLeft = true;
            message = hxRightToLeftLines(replacingLineBreaks(message, "\n"));
        }
    }
    row.name = std::move(name);
    row.message = std::move(message);

    std::string hint = row.statusText;
    if (!row.looksRead) appendHint(hint, localized("Unread"));
    if (row.isStarred) appendHint(hint, localized("Starred"));
    if (row.hasNote) appendHint(hint, localized("Note"));
    row.accessibilityHint = std::move(hint);
    return row;
}

// ---- the cell

MessageListTableViewCell::MessageListTableViewCell(bool oneLine, std::string reuseIdentifier)
    : TableViewCell(toolkit::TableViewCellStyle::Default, std::move(reuseIdentifier)), oneLine_(oneLine) {
    // The shared width follows the text size even while no row exists to hear of the change.
    static const bool observed = [] {
        foundation::NotificationCenter::defaultCenter().addObserver(
            &gDateLabelWidth, kTextSizeNotification, [](const foundation::Notification&) { gDateLabelWidth = 0; });
        return true;
    }();
    (void)observed;
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, kTextSizeNotification, [this](const foundation::Notification&) { resetDateLabelWidth(); });
}

MessageListTableViewCell::~MessageListTableViewCell() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kTextSizeNotification);
}

std::shared_ptr<MessageListTableViewCell> makeMessageListCell(bool oneLine) {
    auto cell = std::make_shared<MessageListTableViewCell>(oneLine, oneLine ? kHistoryTableCellIdentifier
                                                                            : kMessageTableCellIdentifier);
    cell->buildViews();
    return cell;
}

std::shared_ptr<MessageListTableViewCell> makeMessageTableCell() { return makeMessageListCell(false); }
std::shared_ptr<MessageListTableViewCell> makeHistoryTableCell() { return makeMessageListCell(true); }

void MessageListTableViewCell::buildViews() {
    setFrame(Rect(0, 0, 320, oneLine_ ? 60 : 76));
    toolkit::View& content = contentView();
    contactImage_ = std::make_shared<HX_ContactImageView>();
    contactImage_->setContentMode(toolkit::ContentMode::ScaleAspectFit);
    titleLabel_ = std::make_shared<toolkit::Label>();
    titleLabel_->setLineBreakMode(toolkit::LineBreakMode::truncateTail);
    titleLabel_->setNumberOfLines(1);
    dateLabel_ = std::make_shared<toolkit::Label>();
    dateLabel_->setTextAlignment(toolkit::TextAlignment::right);
    dateLabel_->setNumberOfLines(1);
    dateLabel_->setTextColor(Color::systemBlue());
    noteImage_ = std::make_shared<toolkit::ImageView>(graphics::imageNamed("note"));
    noteImage_->setContentMode(toolkit::ContentMode::ScaleAspectFit);
    messageLabel_ = std::make_shared<toolkit::Label>();
    messageLabel_->setNumberOfLines(oneLine_ ? 1 : 2);
    messageLabel_->setLineBreakMode(toolkit::LineBreakMode::truncateTail);
    // The date column goes below the title, which may reach over the part its text leaves empty.
    for (const auto& label : {dateLabel_, titleLabel_, messageLabel_}) {
        label->setHighlightedTextColor(label->textColor());
        content.addSubview(label);
    }
    content.addSubview(contactImage_);
    content.addSubview(noteImage_);
    if (oneLine_) {
        statusImage_ = std::make_shared<toolkit::ImageView>();
        statusImage_->setContentMode(toolkit::ContentMode::ScaleAspectFit);
        statusImage_->accessibility().ignoresInvertColors = true;
        content.addSubview(statusImage_);
    }
    star_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::Custom);
    star_->setFrame(Rect(0, 0, 30, 30));
    star_->accessibility().label = localized("Add Star");
    setAccessoryView(star_);
    dateLabelConstraintsUpdated_ = false;
}

void MessageListTableViewCell::configure(store::ManagedObjectPtr conversation, toolkit::IndexPath indexPath,
                                         std::string dateText, const MessageListCellOptions& options) {
    setConversation(std::move(conversation));
    rowIndexPath_ = indexPath;
    dateLabel_->setText(std::move(dateText));
    setOptions(options);
    setNeedsLayout();
}

void MessageListTableViewCell::setConversation(store::ManagedObjectPtr conversation) {
    // Another conversation's picture never stays on the row while its own is looked up.
    if (conversation != conversation_) contactImage_->setImage(nullptr);
    conversation_ = std::move(conversation);
    askedKey_.reset();
    setNeedsLayout();
}

void MessageListTableViewCell::setOptions(const MessageListCellOptions& options) {
    options_ = options;
    setNeedsLayout();
}

double MessageListTableViewCell::sharedDateLabelWidth() { return gDateLabelWidth; }

void MessageListTableViewCell::setContactImageCache(std::shared_ptr<HXCCache> cache) { gImageCache = std::move(cache); }

void MessageListTableViewCell::resetDateLabelWidth() {
    if (dateLabelWidthConstraint_) {
        dateLabel_->removeConstraint(dateLabelWidthConstraint_.get());
        dateLabelWidthConstraint_.reset();
    }
    dateLabelConstraintsUpdated_ = false;
    gDateLabelWidth = 0;
    setNeedsUpdateConstraints();
}

void MessageListTableViewCell::updateConstraints() {
    needsUpdateConstraints_ = false;
    auto font = graphics::HXCFont::HXCFontForType(3);
    const toolkit::Font& f = font ? *font : dateLabel_->font();
    if (gDateLabelWidth == 0 || gDateLabelFont != f) {
        gDateLabelWidth = std::ceil(toolkit::textMeasurer().lineWidth("Wednesday", f)) + 1;
        gDateLabelFont = f;
    }
    if (dateLabelWidthConstraint_ && dateLabelWidthConstraint_->constant() != gDateLabelWidth) {
        dateLabel_->removeConstraint(dateLabelWidthConstraint_.get());
        dateLabelWidthConstraint_.reset();
        dateLabelConstraintsUpdated_ = false;
    }
    if (!dateLabelConstraintsUpdated_) {
        auto made = toolkit::LayoutConstraint::withVisualFormat(
            foundation::format("H:[dateLabel(==%f)]", gDateLabelWidth), {{"dateLabel", dateLabel_.get()}});
        if (made.ok() && !made.value().empty()) {
            dateLabelWidthConstraint_ = made.value().front();
            dateLabel_->addConstraint(dateLabelWidthConstraint_);
            dateLabelConstraintsUpdated_ = true;
        }
    }
}

std::string MessageListTableViewCell::outlineState() const {
    std::string state = TableViewCell::outlineState();
    const std::string& hint = accessibility().hint;
    if (!hint.empty()) state += (state.empty() ? "" : ", ") + ("hint: " + hint);
    return state;
}

void MessageListTableViewCell::prepareForReuse() {
    TableViewCell::prepareForReuse();
    setNeedsLayout();
}

void MessageListTableViewCell::setSelected(bool selected, bool animated) {
    TableViewCell::setSelected(selected, animated);
    setNeedsLayout();
}

void MessageListTableViewCell::setHighlighted(bool highlighted, bool animated) {
    TableViewCell::setHighlighted(highlighted, animated);
    setNeedsLayout();
}

void MessageListTableViewCell::tintColorDidChange() {
    TableViewCell::tintColorDidChange();
    if (hxTintIsDimmed(*this)) {
        dateLabel_->setTextColor(tintColor());
        contactImage_->setAlpha(0.5);
    } else {
        dateLabel_->setTextColor(Color::systemBlue());
        contactImage_->setAlpha(1);
    }
}

void MessageListTableViewCell::traitCollectionDidChange(const toolkit::TraitCollection& previous) {
    TableViewCell::traitCollectionDidChange(previous);
    if (!toolkit::Device::current().systemVersionAtLeast(13)) return;
    if (previous.style != traitCollection().style) {
        noteImage_->setImage(graphics::imageNamed("note"));
        askedKey_.reset();  // the default picture's grey follows the appearance
        setNeedsLayout();
    }
}

void MessageListTableViewCell::setDefaultPicture(bool looksRead) {
    const bool group = conversation_ && HX_ConversationFields(*conversation_).sender() == kGroupMessage;
    graphics::ImagePtr picture;
    if (group) {
        static const graphics::ImagePtr groupPicture = [] {
            auto named = graphics::imageNamed("defaultGroupImage");
            return named ? named->withRenderingMode(graphics::RenderingMode::alwaysTemplate) : nullptr;
        }();
        picture = groupPicture;
    } else {
        picture = defaultContactImage();
    }
    Color tint = Color::systemBlue();
    if (toolkit::Device::current().systemVersionAtLeast(13)) {
        if (looksRead)
            tint = Color::dynamic(Color::systemGray4(), Color::systemGray2())
                       .resolved(contactImage_->traitCollection().style);
    } else {
        tint = looksRead ? Color::white(0.85) : Color::systemBlue().withAlphaComponent(0.7);
    }
    contactImage_->setImage(tintedPicture(picture, tint));
    contactImage_->setHighlightedImage(tintedPicture(picture, Color::whiteColor()));
    contactImage_->accessibility().ignoresInvertColors = false;
}

void MessageListTableViewCell::askForCachedPicture(bool looksRead) {
    auto cache = gImageCache ? gImageCache : HXCCache::sharedCache();
    const std::string key = conversation_ ? HX_Conversation(conversation_).formattedNumber() : std::string();
    // One question per conversation shown: later layouts of the same row keep its answer.
    if (askedKey_ && *askedKey_ == key && askedLooksRead_ == looksRead) return;
    askedKey_ = key;
    askedLooksRead_ = looksRead;
    if (!cache || key.empty()) {
        setDefaultPicture(looksRead);
        return;
    }
    std::weak_ptr<MessageListTableViewCell> weak =
        std::static_pointer_cast<MessageListTableViewCell>(shared_from_this());
    std::weak_ptr<store::ManagedObject> asked = conversation_;
    cache->objectForKey(key, [weak, asked, looksRead](HXCCache&, const std::string&, const HXCCache::Object& object) {
        graphics::ImagePtr image = object ? object->image() : nullptr;
        dispatch::Queue::main()->async([weak, asked, looksRead, image] {
            auto cell = weak.lock();
            // The row may show another conversation by now: the answer is not its own.
            if (!cell || !cell->conversation_ || cell->conversation_ != asked.lock()) return;
            if (image) {
                auto round = graphics::makeRoundImage(image);
                cell->contactImage_->setImage(round);
                cell->contactImage_->setHighlightedImage(round);
                cell->contactImage_->accessibility().ignoresInvertColors = true;
            } else {
                cell->setDefaultPicture(looksRead);
            }
        });
    });
}

void MessageListTableViewCell::placeViews() {
    const Rect b = contentView().bounds();
    const double left = 12, picture = 40, textX = left + picture + 10, right = b.width() - 8;
    const double top = 9;
    contactImage_->setFrame(Rect(left, top + 1, picture, picture));
    const double dateWidth = dateLabelWidthConstraint_ ? dateLabelWidthConstraint_->constant() : gDateLabelWidth;
    const double titleHeight = std::ceil(toolkit::textMeasurer().lineHeight(titleLabel_->font()));
    const double dateHeight = std::ceil(toolkit::textMeasurer().lineHeight(dateLabel_->font()));
    // At the largest text sizes the date would crowd the name out: it takes a line of its own.
    const bool dateOnItsOwnLine = dateWidth > (right - textX) * 0.45;
    // The date's text sits at the right of its column: the title takes the room up to that text,
    // so a number with its count ("+1 (555) 107-1271 (3)") is not cut beside a short date.
    const double dateTextWidth =
        std::min(dateWidth, std::ceil(toolkit::textMeasurer().lineWidth(dateLabel_->text(), dateLabel_->font())));
    double titleRight = dateOnItsOwnLine ? right : right - dateTextWidth - 4;
    if (!noteImage_->isHidden()) {
        const double side = std::min(14.0, titleHeight);
        noteImage_->setFrame(Rect(titleRight - side, top + (titleHeight - side) / 2, side, side));
        titleRight = noteImage_->frame().minX() - 4;
    }
    titleLabel_->setFrame(Rect(textX, top, std::max(0.0, titleRight - textX), titleHeight));
    double messageTop = titleLabel_->frame().maxY() + 2;
    if (dateOnItsOwnLine) {
        dateLabel_->setTextAlignment(toolkit::TextAlignment::left);
        dateLabel_->setFrame(Rect(textX, messageTop, dateWidth, dateHeight));
        messageTop = dateLabel_->frame().maxY() + 2;
    } else {
        dateLabel_->setTextAlignment(toolkit::TextAlignment::right);
        dateLabel_->setFrame(Rect(right - dateWidth, top + (titleHeight - dateHeight) / 2, dateWidth, dateHeight));
    }
    double messageX = textX;
    const double messageLine = std::ceil(toolkit::textMeasurer().lineHeight(messageLabel_->font()));
    if (statusImage_) {
        const double side = 16;
        statusImage_->setFrame(Rect(textX, messageTop + (messageLine - side) / 2, side, side));
        messageX = statusImage_->frame().maxX() + 6;
    }
    const double width = std::max(0.0, right - messageX);
    const double height =
        messageLabel_->text().empty() ? messageLine : std::ceil(messageLabel_->sizeThatFits({width, 0}).height);
    messageLabel_->setFrame(Rect(messageX, messageTop, width, std::max(height, messageLine)));
}

void MessageListTableViewCell::layoutSubviews() {
    TableViewCell::layoutSubviews();
    if (needsUpdateConstraints_ || !dateLabelConstraintsUpdated_) updateConstraints();
    const bool modern = toolkit::Device::current().systemVersionAtLeast(13);
    if (!conversation_) {
        placeViews();
        return;
    }
    // Counts are stored once, from the conversation's messages.
    const HX_Conversation conversation(conversation_);
    if ((!oneLine_ || typeIn(conversation.type(), kSMSTypesMask | kVoicemailTypesMask)) &&
        conversation.numberOfMessages() == 0) {
        const auto count = static_cast<int64_t>(conversation.storedMessageCount());
        if (count != 0) conversation.setNumberOfMessages(count);
    }
    (void)conversation.formattedNumber();
    const MessageListRowPresentation row = presentMessageListRow(*conversation_, oneLine_, options_);

    // Background.
    std::optional<Color> background;
    if (isHighlighted() || isSelected())
        background = Color::clear();
    else if (row.looksRead)
        background = modern ? Color::systemBackground() : Color::whiteColor();
    else
        background = modern ? Color::tertiarySystemGroupedBackground() : Color::rgb(0.8, 0.8706, 0.9569, 1);
    for (toolkit::View* v :
         {static_cast<toolkit::View*>(titleLabel_.get()), static_cast<toolkit::View*>(messageLabel_.get()),
          static_cast<toolkit::View*>(dateLabel_.get()), static_cast<toolkit::View*>(noteImage_.get()),
          static_cast<toolkit::View*>(this)})
        v->setBackgroundColor(background);

    if (statusImage_) statusImage_->setImage(row.statusImage.empty() ? nullptr : drawing(row.statusImage, false));
    messageLabel_->setText(row.message);
    messageLabel_->setTextAlignment(row.rightToLeft ? toolkit::TextAlignment::right : toolkit::TextAlignment::left);
    titleLabel_->setText(row.name);
    if (auto font = graphics::HXCFont::HXCFontForType(2)) titleLabel_->setFont(*font);

    if (!contactImage_->image()) setDefaultPicture(row.looksRead);
    askForCachedPicture(row.looksRead);

    noteImage_->setHidden(!row.hasNote);
    accessibility().hint = row.accessibilityHint;

    if (auto font = graphics::HXCFont::HXCFontForType(row.looksRead ? 0 : 1)) messageLabel_->setFont(*font);
    if (row.looksRead)
        messageLabel_->setTextColor(modern ? Color::secondaryLabel() : Color::gray());
    else
        messageLabel_->setTextColor(Color::systemBlue());
    if (row.isSpam)
        titleLabel_->setTextColor(Color::rgb(0.6, 0.4, 0.2));
    else
        titleLabel_->setTextColor(modern ? Color::label() : Color::black());
    if (auto font = graphics::HXCFont::HXCFontForType(3)) dateLabel_->setFont(*font);

    if (starShown_ != row.isStarred) {
        starShown_ = row.isStarred;
        graphics::ImagePtr star = modern ? drawing(row.isStarred ? "star.fill" : "star", true)
                                         : drawing(row.isStarred ? "star_on" : "star_off", false);
        star_->setImage(star, toolkit::kStateNormal);
        // Said as what a tap does.
        star_->accessibility().label = localized(row.isStarred ? "Remove Star" : "Add Star");
    }

    placeViews();
    if (messageLabel_->preferredMaxLayoutWidth() != messageLabel_->frame().width()) {
        messageLabel_->setPreferredMaxLayoutWidth(messageLabel_->frame().width());
        needsUpdateConstraints_ = true;
    }
}
