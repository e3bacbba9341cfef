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
#include "platform/services/audio_player.h"
#include "platform/services/user_activity.h"
#include "platform/system_screens/activity_view_controller.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/previewing.h"
#include "platform/toolkit/table_view.h"
#include "ui/conversation/conversation_attachment.h"
#include "ui/conversation/voicemail_player.h"
#include "ui/widgets/conversation_action_items.h"
#include "ui/widgets/hxc_input_toolbar.h"
#include "ui/widgets/picture_tray.h"

namespace toolkit {
class AnimatedTransitioning;
class ActivityIndicatorView;
class Button;
class GestureRecognizer;
class LongPressGestureRecognizer;
class NavigationController;
class TapGestureRecognizer;
class TransitioningDelegate;
class ImageView;
class Label;
class ProgressView;
class RefreshControl;
class Slider;
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
        std::weak_ptr<HXListActionsRole> listActions;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXStoreRole> store;
        std::weak_ptr<HXPlaybackRole> playback;
        std::weak_ptr<HXListLoadingRole> lists;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXSendingRole> sending;
    };
    // The picture preview's present (or dismiss) animation out of (back into) sourcePoint.
    using PreviewTransitionMaker =
        std::function<std::shared_ptr<toolkit::AnimatedTransitioning>(bool presenting, toolkit::Point sourcePoint)>;
    // The screens it opens, made by the screen library (ui/shell) with the roles each uses; an
    // empty maker (or one answering nullptr) opens nothing.
    struct Makers {
        // The group details of the conversation's numbers (joined by "|"), ready to present.
        std::function<std::shared_ptr<toolkit::ViewController>(const std::string& numbers)> groupDetails;
        // A picture attachment full screen, ready to present over the full screen with
        // transitions (kept by this screen): the attachment mediaID ("" for none) whose download
        // fills it, and the picture it has so far (an animated one, a still one or none).
        std::function<std::shared_ptr<toolkit::ViewController>(
            const std::string& mediaID, graphics::ImagePtr still, std::shared_ptr<graphics::HXCAnimatedImage> animated,
            const std::shared_ptr<toolkit::TransitioningDelegate>& transitions)>
            imagePreview;
        // The preview's own spring.
        PreviewTransitionMaker previewTransition;
        // The contacts of a card that holds several (the card's bytes), each opened with delegate.
        std::function<std::shared_ptr<toolkit::ViewController>(
            const foundation::Data& vCard, std::weak_ptr<system_screens::ContactViewControllerDelegate> delegate)>
            vCardPicker;
        // The note editor of the conversation by its id.
        std::function<std::shared_ptr<toolkit::ViewController>(const std::string& conversationID)> noteEdit;
    };

    static constexpr const char* kActivityType = "com.hxconnect.activity_reply";
    static constexpr long kFooterTag = 999;
    static constexpr long kPlayerTag = 998;
    static constexpr long kProgressBarTag = 999;
    static constexpr long kAddContactTag = 3;
    static constexpr long kNoteImageTag = 100;
    static constexpr long kPlaySignTag = 3;
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
    void addObservers();
    void removeObservers();
    void updateTitle();
    void openReply(const foundation::Notification& notification);
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
    // The call-history row's text.
    std::string callRowText() const;
    // The accessibility label of a row's cell.
    std::string accessibilityLabelForRow(toolkit::IndexPath indexPath, const ConversationTableViewCell& cell,
                                         const std::string& attachmentDescription) const;
    std::shared_ptr<toolkit::View> noteView();
    void scrollToBottomWithAnimation(bool animated);
    static void resetDateFormatters();
    // Entries of the size cache (messages measured at some width).
    size_t measuredMessages() const { return messageSizes_.size(); }
    // How many texts the screen has measured for row sizes (sizes found in the cache are not).
    size_t textsMeasured() const { return textsMeasured_; }

    // ---- attachments
    // The thumbnail bytes of a picture or a video's preview, when they are a picture; anything
    // else under the id is removed.
    std::optional<foundation::Data> thumbnailFor(const std::string& mediaID);
    void downloadFullSizeImageForAttachment(const foundation::Dictionary& attachment);
    bool canPerformAction(const std::string& action, toolkit::Responder* sender) const override;
    void addImageFromPasteBoard();
    // Adds a picture for the next reply (an animated GIF over the limit is refused with the alert).
    bool addPicture(HXMMSImage picture);
    const std::vector<HXMMSImage>& images() const;
    // The strip rebuilt above the keyboard of the reply bar (without a reply bar the pictures
    // wait in the tray); Send follows the pictures and the text.
    void updateImagePreviews();
    // The screen's pictures (made on first use): the picker's and the drop's delegate.
    const std::shared_ptr<HXPictureTray>& pictureTray();
    // The ids whose thumbnail or video preview this screen asked for since it appeared.
    const std::vector<std::string>& thumbnailsRequested() const { return thumbnailsRequested_; }

    // ---- older pages and deleting one message
    void getOlderMessages();
    // The older page asked for is in (its rows came through the row model); without a parsed
    // answer the conversation's own page token tells whether another remains.
    void olderMessageReceived(const HXPageAnswer& answer = {});
    bool canEditRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void willBeginEditingRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    std::optional<std::vector<toolkit::TableViewRowActionPtr>> editActionsForRow(toolkit::TableView& table,
                                                                                 toolkit::IndexPath indexPath) override;
    // The swipe's action: the message of the row's section is deleted on the service.
    void deleteMessageAt(toolkit::IndexPath indexPath);
    // Deletes the message of that id from the service and the store.
    void deleteMessageWithID(const std::string& messageID);
    std::shared_ptr<toolkit::RefreshControl> refreshControl() const { return refreshControl_; }
    // The distance from the content's top to its bottom when this screen last asked for an older
    // page; 0 when it asked for none since it appeared.
    double savedPagingOffset() const { return savedPagingOffset_; }
    void resetPagingOffset() { savedPagingOffset_ = 0; }

    // ---- footers, the reply bar's layout and the sending progress
    void addFooterView();
    // Lines the reply field may grow to.
    long maximumInputLines(bool replyHasFocus) const;
    static long maximumInputLines(bool iPad, bool landscape, bool replyHasFocus, double available, double lineHeight);
    void keyboardFrameChange(const foundation::Notification& notification);
    void startSendingProgress();
    void increaseSendingProgress();
    void removeSendingProgress();
    // The progress shown (percent, before the 100 cap) and its step for the pictures being sent.
    static int sendingProgress();
    static int progressStep(size_t pictures);
    std::shared_ptr<toolkit::View> footerView() const { return footerView_; }
    std::shared_ptr<toolkit::View> playMessageView() const { return playMessageView_; }
    toolkit::Label* contactName() const { return contactName_.get(); }
    toolkit::ImageView* contactImage() const { return contactImage_.get(); }
    toolkit::Button* addContactButton() const { return addContact_.get(); }
    toolkit::Slider* playPosition() const { return voicemail_ ? voicemail_->views().position.get() : nullptr; }

    // ---- voicemail and recording playback: the player the screen owns (HXVoicemailPlayer), made
    // with the player's footer (vc_conversation_player.cpp)
    HXVoicemailPlayer* voicemailPlayer() const { return voicemail_.get(); }
    void updatePlayPosition();
    static std::string formatTime(int seconds) { return HXVoicemailPlayer::formatTime(seconds); }
    // Leaving the screen: the sound and the position timer stop.
    void stopPlayback();
    bool isPlaying() const { return voicemail_ && voicemail_->isPlaying(); }
    bool isScrubbing() const { return voicemail_ && voicemail_->isScrubbing(); }
    std::shared_ptr<services::AudioPlayer> player() const { return voicemail_ ? voicemail_->player() : nullptr; }
    // The position timer that every conversation screen shares, while one runs.
    static bool playbackTimerRunning() { return HXVoicemailPlayer::timerRunning(); }
    toolkit::Button* playButton() const { return voicemail_ ? voicemail_->views().playButton.get() : nullptr; }
    toolkit::Button* speakerButton() const { return voicemail_ ? voicemail_->views().speakerButton.get() : nullptr; }
    toolkit::Label* startTime() const { return voicemail_ ? voicemail_->views().startTime.get() : nullptr; }
    toolkit::Label* endTime() const { return voicemail_ ? voicemail_->views().endTime.get() : nullptr; }
    toolkit::ActivityIndicatorView* downloadProgress() const {
        return voicemail_ ? voicemail_->downloadProgress() : nullptr;
    }

    // ---- attachment taps, menus and sharing (vc_conversation_taps.cpp)
    static constexpr double kReloadPressSeconds = 2.0;
    // The table's tap (open, once the double tap that replies has failed) and two-second press
    // (fetch again).
    void installAttachmentGestures();
    void handleTap(toolkit::Point inTable);
    void handleLongTap(toolkit::Point inTable);
    void showAVPlayerForLocalMediaAtPath(const std::string& path);
    toolkit::ContextMenuConfigurationPtr
    contextMenuConfiguration(toolkit::TableView& table, toolkit::IndexPath indexPath, toolkit::Point point) override;
    void willPerformPreviewAction(toolkit::TableView& table, toolkit::ContextMenuConfiguration& configuration,
                                  toolkit::ContextMenuCommitAnimator& animator) override;
    // The picture being shared from a menu (its bytes and type), as the share sheet asks for it.
    static system_screens::ActivityItem shareItem();
    static std::optional<system_screens::LinkMetadata> shareLinkMetadata();
    // The attachment ids whose download this screen waits for to open the player.
    const std::vector<std::string>& awaitedMedia() const { return awaitedMedia_; }
    // Leaving the screen: no player opens for a download that comes later.
    void stopAwaitingMedia();

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

    // ---- actions and contacts
    void updateContactInfo();
    void showActions();
    void actionLongPress(toolkit::Point inBar, double barWidth);
    void editNote();
    void addContactToSource(const std::string& source);
    // What the add button's service prompt starts with: the contact name without its label.
    static std::string nameWithoutLabel(const std::string& abName);
    // The URL a contact card's "Call" opens for a number (skipDialpad and the call method's name).
    static std::string callURLForNumber(const std::string& number, bool skipDialpad, const std::string& methodName);
    // The label of a number the add button adds to the device's contacts.
    static std::string phoneLabelFor(int64_t type, const std::string& lastMessageText);

    // ---- contact cards, copying the number, the bar's actions, the preview's actions, dragging a
    // picture out and the double tap (vc_conversation_actions.cpp)
    // The contact "AB" adds: the service's name split at its first space into given and family
    // name (a name that is the number itself is left out), the one number with its label; none
    // when the number is not a phone number.
    static std::optional<services::Contact> newDeviceContact(const std::string& sender, const std::string& phoneNumber,
                                                             int64_t type, const std::string& lastMessageText);
    bool canBecomeFirstResponder() const override { return true; }
    void addNumberCopyGestureRecognizer();
    void showNumberCopy();
    // The device's card of the conversation's contact (sender: the title button, else the picture).
    void openContact(const toolkit::View* sender);
    void dismissContactsViewController();
    bool shouldPerformDefaultActionForContactProperty(system_screens::ContactViewController& card,
                                                      const system_screens::ContactProperty& property);
    void didCompleteWithContact(system_screens::ContactViewController& card,
                                const std::optional<services::Contact>& contact);
    // The card the screen presented or pushed last (none once it went).
    std::shared_ptr<system_screens::ContactViewController> contactCard() const { return contactCard_.lock(); }
    // The navigation bar's actions button: a menu from 14 on, the options popover before.
    void installActionsButton();
    toolkit::MenuPtr actionsMenu();
    std::vector<toolkit::PreviewAction> previewActionItems() const override;
    // The 0.7 s press on the navigation bar that calls the number.
    void installCallLongPress();
    void removeCallLongPress();
    // The double tap on the table opens the reply; a single tap on the table waits for it to fail.
    void addDoubleTapRecognizer();
    void handleDoubleTap(toolkit::GestureRecognizer& recognizer);
    const std::shared_ptr<toolkit::TapGestureRecognizer>& doubleTapRecognizer() const { return doubleTap_; }
    // Dragging a picture out of its bubble: the items for a touch at a point of the table.
    std::vector<toolkit::DragItemPtr> dragItemsAt(toolkit::Point inTable, const toolkit::DragSession* adding);
    // Made for a cell of a picture or a video.
    std::shared_ptr<toolkit::DragInteraction> makeDragInteraction();
    // The last tapped point in the table (shared by the conversation screens); the zoom of the
    // picture preview starts there.
    static void rememberTapPoint(toolkit::Point inTable);
    static toolkit::Point lastTapPoint();
    // The transition of the picture preview: given the controller presented or dismissed, an
    // animator for a navigation controller whose first controller is the picture preview, none
    // for any other (the standard transition). The preview's animator is made by maker, when one is
    // set (tests), else by the screen's previewTransition maker (the preview's own spring).
    static void setPreviewTransitionMaker(PreviewTransitionMaker maker);
    std::shared_ptr<toolkit::AnimatedTransitioning> previewTransition(toolkit::ViewController& controller,
                                                                      bool presenting);
    // What presentations of the preview take as their transitioning delegate.
    std::shared_ptr<toolkit::TransitioningDelegate> previewTransitioningDelegate();

private:
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
    void configureAttachmentRow(ConversationTableViewCell& cell, const HX_Message& message, const HXAttachment& a,
                                toolkit::IndexPath indexPath, graphics::ImagePtr& image,
                                std::shared_ptr<graphics::HXCAnimatedImage>& animated, std::string& description);
    std::optional<toolkit::Size> attachmentSize(const HXAttachment& a, bool& cache);
    // The white play sign centred over a video's preview.
    void addPlaySign(toolkit::View& preview);
    // The bubble of a sent or a received row (a template tinted by the view that shows it), made
    // on first use.
    graphics::ImagePtr bubbleImage(bool sent);
    // Asks for a picture's thumbnail or a video's preview, once while the screen shows: a reply
    // that is no picture, or none, would otherwise be asked for again by every reload that its
    // own arrival starts.
    void askForThumbnail(const HXAttachment& a);
    // The one way an id is asked for again: every id when the screen goes (the next appearance
    // asks anew), one id when its row is fetched again.
    void forgetAskedThumbnails(const std::string& mediaID = {});
    // A thumbnail or a video's preview came (or its request ended): the rows that show it are
    // asked for again.
    void mediaArrived(const std::string& mediaID);
    toolkit::Size measureText(const std::string& text) const;
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
    std::unordered_map<std::string, foundation::Dictionary> messageSizes_;
    mutable size_t textsMeasured_ = 0;
    graphics::ImagePtr incomingBubble_, outgoingBubble_;
    std::shared_ptr<toolkit::View> noteView_;
    std::shared_ptr<toolkit::View> footerView_;
    std::shared_ptr<toolkit::View> playMessageView_;
    std::shared_ptr<toolkit::Label> contactName_;
    std::shared_ptr<toolkit::ImageView> contactImage_;
    std::shared_ptr<toolkit::Button> addContact_;
    std::vector<uint64_t> conversationObservers_;
    std::vector<std::string> thumbnailsRequested_;
    std::string updatedContactName_;
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
    bool addContactHidden_ = false;
    bool contactImageIsButton_ = false;
    std::shared_ptr<HXCInputToolbar> inputToolbar_;
    std::shared_ptr<HXPictureTray> pictures_;

    // ---- contact cards, gestures and dragging (vc_conversation_actions.cpp)
    class ActionDelegates;
    std::shared_ptr<ActionDelegates> actionDelegates();
    // What the action codes do from the bar's menu (menu; but editing the note) or the preview.
    HXConversationActionSource actionSource(bool menu) const;
    // Sets the card up; an unknown contact's card is presented, a known one's pushed on the phone
    // (none returned) or handed back in a popover's navigation controller for the caller to show.
    std::shared_ptr<toolkit::NavigationController>
    presentContactCard(const std::shared_ptr<system_screens::ContactViewController>& card, bool unknown);
    void openURLForNumber(const std::string& number);
    std::shared_ptr<ActionDelegates> actionDelegates_;
    std::weak_ptr<system_screens::ContactViewController> contactCard_;
    std::shared_ptr<toolkit::LongPressGestureRecognizer> numberCopyPress_;
    std::shared_ptr<toolkit::LongPressGestureRecognizer> callPress_;
    std::shared_ptr<toolkit::TapGestureRecognizer> doubleTap_;
    bool menuBuilt_ = false;

    // ---- voicemail and recording playback
    // The player over the footer's views, for a voicemail or a recorded call.
    void makeVoicemailPlayer(HXVoicemailPlayer::Views views);
    std::shared_ptr<HXVoicemailPlayer> voicemail_;

    // ---- attachment taps
    struct TappedAttachment;
    std::optional<TappedAttachment> attachmentAtPoint(toolkit::Point inTable);
    std::optional<TappedAttachment> attachmentAtRow(toolkit::IndexPath indexPath);
    // The picture preview from its maker (nullptr without one), and its presentation.
    std::shared_ptr<toolkit::ViewController> makeImagePreview(const std::string& mediaID, graphics::ImagePtr still,
                                                              std::shared_ptr<graphics::HXCAnimatedImage> animated);
    void presentImagePreview(const std::shared_ptr<toolkit::ViewController>& preview, bool animated = true);
    void presentShareSheet(std::vector<system_screens::ActivityViewController::Entry> items);
    void openVCard(const std::string& path);
    void reloadAttachment(toolkit::IndexPath indexPath, const HXAttachment& attachment);
    std::vector<std::string> awaitedMedia_;
    bool attachmentGesturesInstalled_ = false;
};
