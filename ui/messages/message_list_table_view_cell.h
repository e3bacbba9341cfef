// The row of the message lists: one conversation with its contact picture, name, date, message
// (or call summary), kind icon, note marker and star. Two layouts are built in code:
// "MessageTableCell" (SMS and voicemail lists: a message of several lines) and "HistoryTableCell"
// (history list: a kind icon and a message of one line).
//
// How a list uses it (main thread):
//
//     auto cell = std::dynamic_pointer_cast<MessageListTableViewCell>(table.dequeueReusableCell(id));
//     if (!cell) cell = history ? makeHistoryTableCell() : makeMessageTableCell();
//     cell->configure(conversation, indexPath, dateText, options);
//     return cell;
//
// configure() is all a list calls; everything else the row shows it derives from the conversation
// each time it lays out. The star is the accessory view (`starButton()`); a list that wants taps
// on it adds its own action there. The contact picture comes from the shared object cache
// (HXCCache, key "formattedNumber") without blocking layout; its answer is dropped when the cell
// shows another conversation by the time it arrives.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/store/managed_object.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/layout_constraint.h"
#include "platform/toolkit/table_view.h"
#include "ui/widgets/hx_contact_image_view.h"

class HXCCache;

inline constexpr const char* kMessageTableCellIdentifier = "MessageTableCell";
inline constexpr const char* kHistoryTableCellIdentifier = "HistoryTableCell";

// Masks over 1 << type of a conversation.
inline constexpr int64_t kCallTypesMask = 242067;
inline constexpr int64_t kPlacedCallTypesMask = 242048;
inline constexpr int64_t kSMSTypesMask = 3072;
inline constexpr int64_t kVoicemailTypesMask = 4;

// What the stored preferences decide about every row, as the list reads them through its role.
struct MessageListCellOptions {
    bool showNotesInMessageLists = false;
    bool graphicalEmoticons = true;
    // The number of messages beside the name; unset: as the preference is stored (a row made
    // outside a list).
    std::optional<bool> showMessageCounts;
};

// What a row shows, derived from the conversation's fields alone (no views): the text part of the
// layout. `oneLine` is the history layout.
struct MessageListRowPresentation {
    bool looksRead = true;
    std::string name;          // title: name, blocked mark, count
    std::string message;       // message label text (right-to-left lines isolated)
    bool rightToLeft = false;  // right alignment
    std::string statusText;    // one-line rows: "Missed call", ... or ""
    std::string statusImage;   // its drawing's name, or "" for none
    std::string accessibilityHint;
    bool hasNote = false;
    bool isStarred = false;
    bool isSpam = false;
};

// The fields read are those of the store's conversation entity; numberOfMessages is taken as it
// stands (the cell first counts the messages when it is unset, which the store keeps as 0).
// Main thread (the status words are read from the bundle once and kept).
MessageListRowPresentation presentMessageListRow(const store::ManagedObject& conversation, bool oneLine,
                                                 const MessageListCellOptions& options);

// The name a contact name shows: cut before its last no-break space and "(" (the phone label)
// unless the sender is "Group Message"; the phone label is the text after them without the
// closing character.
std::string messageListDisplayName(const std::string& abName, const std::string& sender);
std::string messageListPhoneLabel(const std::string& abName);

class MessageListTableViewCell : public toolkit::TableViewCell {
public:
    // oneLine: the history layout. Use the makers below, which also build the views.
    MessageListTableViewCell(bool oneLine, std::string reuseIdentifier);
    ~MessageListTableViewCell() override;
    std::string className() const override { return "MessageListTableViewCell"; }

    // The list's one call per row: the conversation (an object of the store's conversation
    // entity, owned by its context), its index path, the date text and the application
    // object's settings. Lays out on the next pass.
    void configure(store::ManagedObjectPtr conversation, toolkit::IndexPath indexPath, std::string dateText,
                   const MessageListCellOptions& options);

    const store::ManagedObjectPtr& conversation() const { return conversation_; }
    void setConversation(store::ManagedObjectPtr conversation);
    const toolkit::IndexPath& rowIndexPath() const { return rowIndexPath_; }
    void setIndexPath(toolkit::IndexPath indexPath) { rowIndexPath_ = indexPath; }
    const MessageListCellOptions& options() const { return options_; }
    void setOptions(const MessageListCellOptions& options);
    bool isOneLine() const { return oneLine_; }

    // Outlets.
    toolkit::Label& titleLabel() { return *titleLabel_; }
    toolkit::Label& messageLabel() { return *messageLabel_; }
    toolkit::Label& dateLabel() { return *dateLabel_; }
    toolkit::ImageView& noteImage() { return *noteImage_; }
    HX_ContactImageView& contactImage() { return *contactImage_; }
    // Only the history layout has one.
    toolkit::ImageView* statusImage() { return statusImage_.get(); }
    toolkit::Button& starButton() { return *star_; }
    const toolkit::LayoutConstraintPtr& dateLabelWidthConstraint() const { return dateLabelWidthConstraint_; }
    bool dateLabelConstraintsUpdated() const { return dateLabelConstraintsUpdated_; }

    // The date label's width shared by every row: ceil(width of "Wednesday" in the date font) + 1,
    // measured when first needed; 0 until then and after a text size change.
    static double sharedDateLabelWidth();
    // Drops the width constraint and the shared width (the text size changed).
    void resetDateLabelWidth();
    void updateConstraints();
    void setNeedsUpdateConstraints() { needsUpdateConstraints_ = true, setNeedsLayout(); }

    // The object cache the pictures come from (the shared one unless set; tests set their own).
    static void setContactImageCache(std::shared_ptr<HXCCache> cache);

    void layoutSubviews() override;
    // The base state and the accessibility hint (kind, unread, starred, note).
    std::string outlineState() const override;
    void prepareForReuse() override;
    void setSelected(bool selected, bool animated = false) override;
    void setHighlighted(bool highlighted, bool animated = false) override;
    void tintColorDidChange() override;
    void traitCollectionDidChange(const toolkit::TraitCollection& previous) override;

private:
    friend std::shared_ptr<MessageListTableViewCell> makeMessageListCell(bool oneLine);
    void buildViews();
    void placeViews();
    void setDefaultPicture(bool looksRead);
    void askForCachedPicture(bool looksRead);

    const bool oneLine_;
    store::ManagedObjectPtr conversation_;
    toolkit::IndexPath rowIndexPath_{0, 0};
    MessageListCellOptions options_;
    std::shared_ptr<toolkit::Label> titleLabel_;
    std::shared_ptr<toolkit::Label> messageLabel_;
    std::shared_ptr<toolkit::Label> dateLabel_;
    std::shared_ptr<toolkit::ImageView> noteImage_;
    std::shared_ptr<HX_ContactImageView> contactImage_;
    std::shared_ptr<toolkit::ImageView> statusImage_;
    std::shared_ptr<toolkit::Button> star_;
    toolkit::LayoutConstraintPtr dateLabelWidthConstraint_;
    bool dateLabelConstraintsUpdated_ = false;
    bool needsUpdateConstraints_ = true;
    std::optional<bool> starShown_;
    // The picture asked for since the conversation was set, and the read look it was asked with.
    std::optional<std::string> askedKey_;
    bool askedLooksRead_ = true;
};

// The two interface files: a cell with its views in place, for the given reuse identifier.
std::shared_ptr<MessageListTableViewCell> makeMessageTableCell();
std::shared_ptr<MessageListTableViewCell> makeHistoryTableCell();
