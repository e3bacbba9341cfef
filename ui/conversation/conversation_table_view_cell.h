// One row of the conversation's bubble table: the message text (selectable, not editable), the date
// line above the bubble and the bubble image behind them (the tag-1 view of the background view,
// made by the table). The table hands the cell its measured sizes (`messageData`); the cell lays
// itself out from them. Its edit menu offers to call or text the one phone number in the text (or
// in the selection) through the app.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/foundation/value.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/text_input.h"

class HXConversationActionsRole;

inline constexpr const char* kConversationCellIdentifier = "ConversationTableViewCell";

// The bubble drawing "BalloonFlat" is stretched between these caps (top, left, bottom, right); the
// right cap is wider by the tail, which points right on a sent bubble and left on a received one.
inline constexpr double kBubbleCapTop = 17, kBubbleCapLeft = 20, kBubbleCapBottom = 17, kBubbleCapRight = 27;
inline constexpr double kBubbleTailWidth = kBubbleCapRight - kBubbleCapLeft;
// The tag of the contact card an attachment row draws into the cell's content view.
inline constexpr long kContactCardTag = 2;

// The phone numbers of a message text: runs of at least seven of "0123456789-()*# " between word
// boundaries, with the "+" in front of one kept as part of it.
struct HXNumberMatch {
    size_t offset = 0;  // bytes
    std::string text;
};
std::vector<HXNumberMatch> hxPhoneNumberMatches(const std::string& text);
// A matched number as it is dialled: its digits, "*", "#" and a "+".
std::string hxReducedNumber(const std::string& match);

// A message text as its bubble shows it: a text whose first 100 characters read as a language
// written right to left is aligned right, each of its lines in a right-to-left isolate and its
// numbers in left-to-right ones (hxRightToLeftLines); any other text is shown as it is, aligned
// left.
struct HXBubbleText {
    std::string text;
    bool rightToLeft = false;
};
HXBubbleText hxBubbleText(const std::string& message);

// The key of a row's size in a message's sizes (and in a cell's messageData): "<row>_size_<width>",
// the width in whole points.
std::string hxRowSizeKey(long row, double width);

// What a row's accessibility label says besides the text and the date line the row shows: taken
// when the row is set up, the label put together only when it is asked for.
struct HXRowLabelParts {
    // Said first, in place of "Incoming: " or "Outgoing: " (an attachment's own words, say).
    std::string description;
    // Whether it leads with "Incoming: " or "Outgoing: " (a message's row without a description),
    // and then ends in " (message N of M)" when the thread holds two messages or more.
    bool direction = false;
    long message = 0, messages = 0;
    // A described message row leaves its text out (a picture's row says it is one, from the cell).
    bool textLeftOut = false;
};

class ConversationTableViewCell : public toolkit::TableViewCell {
public:
    ConversationTableViewCell();
    std::string className() const override { return "ConversationTableViewCell"; }

    toolkit::TextView& messageView() const { return *messageView_; }
    toolkit::Label& dateLabel() const { return *dateLabel_; }
    // {"row": n, "<row>_size_<width>": {"Width", "Height"}}.
    const foundation::Dictionary& messageData() const { return messageData_; }
    void setMessageData(foundation::Dictionary data);
    bool isImage() const { return isImage_; }
    void setIsImage(bool image) { isImage_ = image; }
    bool isSent() const { return isSent_; }
    void setIsSent(bool sent) { isSent_ = sent; }
    // The row's accessibility label is made from these, with the text and date line the row then
    // shows, when it is next asked for.
    void setAccessibilityParts(HXRowLabelParts parts);
    // Where a call or text found in the message goes.
    void setActions(std::weak_ptr<HXConversationActionsRole> actions) { actions_ = std::move(actions); }

    // The date line's height: type 6's point size + 2.
    static double dateLineHeight();
    // The text the number actions and "copy:" read: the selection clamped to the text, else all of
    // it, as written (without the isolates of a right-to-left bubble).
    std::string candidateText() const;
    void layoutSubviews() override;
    bool canBecomeFirstResponder() const override { return true; }
    bool canPerformAction(const std::string& action, toolkit::Responder* sender) const override;
    void callViaHX();
    void smsViaHX();
    void prepareForReuse() override;
    // A long press on the text: selects the number under the finger, else the word, and shows
    // the edit menu over the selection with the cell as first responder.
    void selectForMenu(toolkit::Point pointInText);

protected:
    std::string makeAccessibilityLabel() const override;

private:
    // The one number of the candidate, reduced, or none (the menu is then hidden).
    std::optional<std::string> extractNumber();

    std::shared_ptr<toolkit::TextView> messageView_;
    std::shared_ptr<toolkit::Label> dateLabel_;
    foundation::Dictionary messageData_;
    bool isImage_ = false;
    bool isSent_ = false;
    HXRowLabelParts labelParts_;
    std::weak_ptr<HXConversationActionsRole> actions_;
    std::shared_ptr<toolkit::GestureRecognizer> selectPress_;
};

// The byte range of the text that a long press at byte offset at selects: the number
// (hxPhoneNumberMatches) that holds it, else the word around it; empty where there is neither.
std::pair<size_t, size_t> hxSelectionAround(const std::string& text, size_t at);
