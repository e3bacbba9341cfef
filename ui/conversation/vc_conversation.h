// The conversation screen: one conversation of the signed-in account as a table of bubbles (a
// text conversation, with its reply bar's place at the bottom), or a voicemail, a recorded call or
// a call-history entry with the call footer (and the player's footer) under it. Each message is a
// section of the table; its text and each attachment are its rows. The messages are rows of the
// store's typed row model: a newer message is a section appended at the end, an older page
// sections inserted at the top with the bubbles in view kept where they are; the table is never
// read whole again for a change. Its roles are handed over by its maker; it never sees the
// application object.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/screens.h"
#include "model/conversation.h"
#include "platform/foundation/notification_center.h"
#include "platform/services/user_activity.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/previewing.h"
#include "platform/toolkit/table_view.h"
#include "ui/conversation/attachment_rows.h"
#include "ui/conversation/contact_header.h"
#include "ui/conversation/conversation_attachment.h"
#include "ui/conversation/conversation_row_texts.h"
#include "ui/conversation/voicemail_player.h"
#include "ui/widgets/conversation_action_items.h"
#include "ui/widgets/hxc_input_toolbar.h"
#include "ui/widgets/picture_tray.h"

namespace toolkit {
class Button;
class GestureRecognizer;
class LongPressGestureRecognizer;
class TapGestureRecognizer;
class RefreshControl;
class Toolbar;
}  // namespace toolkit
class ConversationTableViewCell;

class VC_Conversation : public HXConversationScreen,
                        public toolkit::TableViewDataSource,
                        public toolkit::TableViewDelegate,
                        public HXRowsObserver,
                        public services::UserActivityDelegate,
                        public HXCInputToolbarDelegate {
public:
    struct Roles {
        std::weak_ptr<HXConversationRole> conversation;
        std::weak_ptr<HXConversationActionsRole> conversations;
        std::weak_ptr<HXConversationOptionsRole> options;
        std::weak_ptr<HXConversationOperationsRole> conversationOperations;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXStoreRole> store;
        std::weak_ptr<HXMediaRole> media;
        std::weak_ptr<HXListLoadingRole> lists;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXSendingRole> sending;
        std::weak_ptr<HXConversationPagesRole> pages;
    };
    // The screens it opens, made by the screen library (ui/shell) with the roles each uses; an
    // empty maker (or one answering nullptr) opens nothing.
    struct Makers {
        // The group details of the conversation's numbers (joined by "|"), ready to present.
        std::function<std::shared_ptr<toolkit::ViewController>(const std::string& numbers)> groupDetails;
        // A picture attachment full screen, ready to present over the full screen with
        // transitions (kept by this screen): the attachment mediaID ("" for none) whose download
        // fills it, and the picture it has so far (an animated one, a still one or none).
        HXAttachmentRows::ImagePreviewMaker imagePreview;
        // The preview's own spring.
        HXAttachmentRows::PreviewTransitionMaker previewTransition;
        // The contacts of a card that holds several (the card's bytes), each opened with delegate.
        HXAttachmentRows::VCardPickerMaker vCardPicker;
        // The note editor of the conversation by its id.
        std::function<std::shared_ptr<toolkit::ViewController>(const std::string& conversationID)> noteEdit;
    };

    static constexpr const char* kActivityType = "com.hxconnect.activity_reply";
    static constexpr long kProgressBarTag = 999;
    static constexpr size_t kSegmentLength = 160;
    static const toolkit::KeyCommand kSendCommand;

    VC_Conversation(Roles roles, Makers makers, HXConversationSetup setup);
    ~VC_Conversation() override;

    // ---- set-up and life cycle
    int conversationType() const { return setup().conversationType; }
    const std::optional<HX_Conversation>& conversation() const { return conversation_; }
    toolkit::TableView& tableView() const { return *tableView_; }
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didReceiveMemoryWarning() override;
    void fontsUpdated();
    std::vector<toolkit::KeyCommand> keyCommands() const override;
    void scrollToMessage(long number) override;
    // The user moves the table: the message asked for by scrollToMessage is no longer kept in view.
    void scrollViewWillBeginDragging(toolkit::ScrollView& scrollView) override;
    void userActivityWillSave(services::UserActivity& activity) override;
    void userActivityWasContinued(services::UserActivity& activity) override;
    const std::shared_ptr<services::UserActivity>& replyActivity() const;

    // ---- the table (one section per message)
    long numberOfSections(toolkit::TableView& table) override;
    long numberOfRows(toolkit::TableView& table, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<double> heightForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<double> heightForFooter(toolkit::TableView& table, long section) override;
    std::shared_ptr<toolkit::View> viewForFooter(toolkit::TableView& table, long section) override;
    void rowsDidChange(const store::RowChanges& changes) override;
    void rowsDidChangeContent() override;
    // The message shown in a section.
    std::optional<HX_Message> messageAt(long section) const;
    // The attachment of a row (none for a text row), as the row model maps rows to attachments.
    std::optional<HXAttachment> attachmentAt(toolkit::IndexPath indexPath) const;
    toolkit::Size messageSizeForRow(toolkit::IndexPath indexPath);
    std::string dateLabelForRow(toolkit::IndexPath indexPath);
    // The date line under a row's bubble (with a group's sender prefix), "" for one shown above.
    std::string dateLineForRow(toolkit::IndexPath indexPath);
    void scrollToBottomWithAnimation(bool animated);
    // How many texts the screen has measured for row sizes (sizes found in the cache are not).
    size_t textsMeasured() const { return textsMeasured_; }
    // What the rows keep per message, and how often they looked messages up and told languages.
    const HXConversationRowTexts& rowTexts() const { return rowTexts_; }

    // ---- attachments: the rows' own component (made with the table), and the reply's pictures
    HXAttachmentRows* attachmentRows() const { return attachments_.get(); }
    toolkit::ContextMenuConfigurationPtr
    contextMenuConfiguration(toolkit::TableView& table, toolkit::IndexPath indexPath, toolkit::Point point) override;
    void willPerformPreviewAction(toolkit::TableView& table, toolkit::ContextMenuConfiguration& configuration,
                                  toolkit::ContextMenuCommitAnimator& animator) override;
    bool canPerformAction(const std::string& action, toolkit::Responder* sender) const override;
    // Adds a picture for the next reply (an animated GIF over the limit is refused with the alert).
    bool addPicture(HXMMSImage picture);
    const std::vector<HXMMSImage>& images() const;
    // The strip rebuilt above the keyboard of the reply bar (without a reply bar the pictures
    // wait in the tray); Send follows the pictures and the text.
    void updateImagePreviews();

    // ---- older pages and deleting one message
    void getOlderMessages();
    // The older page asked for is in (its rows came through the row model); without a parsed
    // answer the conversation's own page token tells whether another remains.
    void olderMessageReceived(const HXPageAnswer& answer = {});
    bool canEditRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void willBeginEditingRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::vector<toolkit::TableViewRowActionPtr>> editActionsForRow(toolkit::TableView& table,
                                                                                 toolkit::IndexPath indexPath) override;
    std::shared_ptr<toolkit::RefreshControl> refreshControl() const { return refreshControl_; }
    // The distance from the content's top to its bottom when this screen last asked for an older
    // page; 0 when it asked for none since it appeared.
    double savedPagingOffset() const { return savedPagingOffset_; }

    // ---- footers, the reply bar's layout and the sending progress
    // Lines the reply field may grow to.
    long maximumInputLines(bool replyHasFocus) const;
    static long maximumInputLines(bool iPad, bool landscape, bool replyHasFocus, double available, double lineHeight);
    void keyboardFrameChange(const foundation::Notification& notification);
    // The progress shown (percent, before the 100 cap) and its step for the pictures being sent.
    static int sendingProgress();
    static int progressStep(size_t pictures);
    std::shared_ptr<toolkit::View> footerView() const { return footerView_; }
    // The other party's contact header (HXContactHeader), made with the view; its views are the
    // call footer's.
    HXContactHeader* contactHeader() const { return contactHeader_.get(); }

    // ---- voicemail and recording playback: the player the screen owns (HXVoicemailPlayer), made
    // with the player's footer (vc_conversation_player.cpp); none for other conversations
    HXVoicemailPlayer* voicemailPlayer() const { return voicemail_.get(); }

    // ---- the reply
    struct Counter {
        std::string text;
        enum class Colour { Secondary, Orange, Red } colour = Colour::Secondary;
        size_t segments = 1;
    };
    // The counter of a reply of length UTF-16 units shown on lines lines.
    static Counter counterFor(size_t length, long lines);
    void sendReply(const std::string& text);
    void sendMessageKeystroke();
    // The reply's text: the reply bar's (kept here while the screen has no reply bar).
    std::string replyText() const;
    void setReplyText(std::string text);
    bool isSendingReply() const { return sendingReply_; }

    // ---- the reply bar (text conversations): its delegate, pictures and layout
    HXCInputToolbar* inputToolbar() const { return inputToolbar_.get(); }
    // The strip of picked pictures above the keyboard (none without pictures).
    const std::shared_ptr<toolkit::Toolbar>& imagePreviewStrip() const;
    // The counter's colour as drawn in the info label.
    static toolkit::Color counterColour(Counter::Colour colour);
    void inputToolbarButtonPressed(HXCInputToolbar& toolbar, const std::string& text) override;
    void inputToolbarCameraButtonPressed(HXCInputToolbar& toolbar, toolkit::Button& button) override;
    void inputToolbarHeightChanged(HXCInputToolbar& toolbar, double height) override;
    bool inputToolbarTextViewShouldChangeTextInRange(HXCInputToolbar& toolbar, toolkit::Range range,
                                                     const std::string& replacementText) override;
    void inputToolbarTextViewDidChange(HXCInputToolbar& toolbar, HXCExpandingTextView& textView) override;
    void inputToolbarTextViewDidBeginEditing(HXCInputToolbar& toolbar, HXCExpandingTextView& textView) override;
    void inputToolbarTextViewDidEndEditing(HXCInputToolbar& toolbar, HXCExpandingTextView& textView) override;
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;

    // ---- actions (vc_conversation_actions.cpp)
    void showActions();
    void editNote();
    bool canBecomeFirstResponder() const override { return true; }
    std::vector<toolkit::PreviewAction> previewActionItems() const override;
    // The double tap on the table opens the reply; a single tap on the table waits for it to fail.
    const std::shared_ptr<toolkit::TapGestureRecognizer>& doubleTapRecognizer() const { return doubleTap_; }

private:
    static constexpr long kFooterTag = 999;
    static constexpr long kPlayerTag = 998;
    static constexpr long kNoteImageTag = 100;

    // ---- the screen's own steps
    void addObservers();
    void removeObservers();
    void updateTitle();
    void openReply(const foundation::Notification& notification);
    // What the accessibility label of a row's cell says besides its text and date line.
    HXRowLabelParts accessibilityPartsForRow(toolkit::IndexPath indexPath, std::string attachmentDescription) const;
    std::shared_ptr<toolkit::View> noteView();
    static void resetDateFormatters();
    // The swipe's action: the message of the row's section is deleted on the service.
    void deleteMessageAt(toolkit::IndexPath indexPath);
    // Deletes the message of that id from the service and the store.
    void deleteMessageWithID(const std::string& messageID);
    void resetPagingOffset() { savedPagingOffset_ = 0; }
    void addFooterView();
    void startSendingProgress();
    void increaseSendingProgress();
    void removeSendingProgress();
    // Leaving the screen: the sound and the position timer stop.
    void stopPlayback();
    void actionLongPress(toolkit::Point inBar, double barWidth);
    void makeContactHeader();
    // The navigation bar's actions button: a menu from 14 on, the options popover before.
    void installActionsButton();
    toolkit::MenuPtr actionsMenu();
    // The 0.7 s press on the navigation bar that calls the number.
    void installCallLongPress();
    void removeCallLongPress();
    void addDoubleTapRecognizer();
    void handleDoubleTap(toolkit::GestureRecognizer& recognizer);

    std::shared_ptr<HXConversationRole> role() const { return roles_.conversation.lock(); }
    std::shared_ptr<HXAlertsRole> alerts() const { return roles_.alerts.lock(); }
    bool signedIn() const;
    bool isGroup() const;
    double availableWidth() const;
    // The list at the root of the screen's stack says it has its messages (links and numbers are
    // found in the bubbles only then): false while it loads, or for a root that shows no list.
    bool listUnderneathLoaded();
    foundation::Dictionary& sizesFor(long section);
    std::string sizeCacheKey(long section) const;
    // The same, for a message already looked up and its sizes.
    static std::optional<HXAttachment> attachmentOf(const HX_Message& message, long row);
    toolkit::Size messageSizeOf(toolkit::IndexPath indexPath, const std::optional<HX_Message>& message,
                                foundation::Dictionary& sizes);
    std::string dateLineOf(toolkit::IndexPath indexPath, const std::optional<HX_Message>& message,
                           foundation::Dictionary* sizes);
    // The bubble of a sent or a received row (a template tinted by the view that shows it), made
    // on first use.
    graphics::ImagePtr bubbleImage(bool sent);
    // The screen's pictures (made on first use): the picker's and the drop's delegate.
    const std::shared_ptr<HXPictureTray>& pictureTray();
    void addImageFromPasteBoard();
    // The attachment rows' component over the table, made with it.
    void makeAttachmentRows();
    // The screen's part of a tap on the table (its note, closing the keyboard): true if it took it.
    bool screenTap(toolkit::Point inTable);
    toolkit::Size measureText(const std::string& text) const;
    // The call-history row's text.
    std::string callRowText() const;
    // The parts of a row's cell: the call-history row, the bubble behind a message's row (its
    // picture, tint and shape) and the sizes the cell lays itself out by.
    void configureCallRow(ConversationTableViewCell& cell, toolkit::IndexPath indexPath);
    void setBubble(ConversationTableViewCell& cell, const HXAttachment* attachment, bool sent,
                   const HXAttachmentRows::Shown& shown);
    void setRowData(ConversationTableViewCell& cell, toolkit::IndexPath indexPath, toolkit::Size rowSize);
    void observeConversation();
    void stopObservingConversation();
    void conversationChanged(const std::string& key);
    void restorePagingOffset();
    void reloadTable();
    void makeReplyActivityCurrent();
    void installRefreshControlIfNeeded();
    void layoutTable();
    // The reply bar made under the table (text conversations), and put at the view's bottom.
    void addReplyBar();
    void placeReplyBar();
    void addKeyboardObservers();
    // The field measured again: its text cleared and set back under the current line limit.
    void remeasureReply();
    double parentBottomInset() const;

    Roles roles_;
    Makers makers_;
    std::optional<HX_Conversation> conversation_;
    std::shared_ptr<HXStoreRows> rows_;
    std::shared_ptr<toolkit::TableView> tableView_;
    std::shared_ptr<toolkit::RefreshControl> refreshControl_;
    HXConversationRowTexts rowTexts_;
    mutable size_t textsMeasured_ = 0;
    graphics::ImagePtr incomingBubble_, outgoingBubble_;
    std::shared_ptr<toolkit::View> noteView_;
    std::shared_ptr<toolkit::View> footerView_;
    std::vector<uint64_t> conversationObservers_;
    std::string replyText_;
    bool observing_ = false;
    // A message came at the end of the rows: it is scrolled into view when the change is in.
    bool newestArrived_ = false;
    // The section of the message scrollToMessage was asked to show (-1: none), following it as
    // rows come and go: the rows changing keep it in view (rather than scrolling to the end),
    // until the user moves the table or sends a reply.
    long keptInView_ = -1;
    double savedPagingOffset_ = 0;
    bool sendingReply_ = false;
    // Pictures of the reply being sent: the progress steps by them.
    size_t sendingImages_ = 0;
    std::shared_ptr<HXCInputToolbar> inputToolbar_;
    std::shared_ptr<HXPictureTray> pictures_;

    // ---- the contact header and the gestures (vc_conversation_actions.cpp)
    std::shared_ptr<HXContactHeader> contactHeader_;
    // What the action codes do from the bar's menu (menu; but editing the note) or the preview.
    HXConversationActionSource actionSource(bool menu) const;
    std::shared_ptr<toolkit::LongPressGestureRecognizer> callPress_;
    std::shared_ptr<toolkit::TapGestureRecognizer> doubleTap_;
    bool menuBuilt_ = false;

    // ---- voicemail and recording playback
    // The player over the footer's views, for a voicemail or a recorded call.
    void makeVoicemailPlayer(HXVoicemailPlayer::Views views);
    std::shared_ptr<HXVoicemailPlayer> voicemail_;

    std::shared_ptr<HXAttachmentRows> attachments_;
};
