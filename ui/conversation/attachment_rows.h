// The attachment rows of a conversation's table, an object its screen owns: what each row shows
// (a picture's thumbnail, a video's preview with the play sign, a contact card drawn in the
// bubble, a text for audio and other kinds), its size, the thumbnails asked for once per
// appearance; what the user does with a row (a tap opens it: a picture full screen, a contact
// card, the system player for sound and video; before system 13 a press of two seconds fetches
// it again; from 13 on its context menu copies, saves, shares or reloads it under a live
// preview); dragging a picture out of its bubble, and the picture preview's zoom from the
// tapped point.
//
// The screen hands it only what it uses (Setup): itself to present from and the table (both
// weakly), the media role, the attachment of a row, the bubble drawings, the
// widths rows are sized in and a way to forget a message's measured sizes. It is the drag
// interactions' and the preview's transitioning delegate. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/system_screens/activity_view_controller.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/menu.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/table_view.h"
#include "ui/conversation/conversation_attachment.h"

namespace graphics {
class HXCAnimatedImage;
}
class ConversationTableViewCell;

class HXAttachmentRows final : public toolkit::DragInteractionDelegate,
                               public toolkit::TransitioningDelegate,
                               public std::enable_shared_from_this<HXAttachmentRows> {
public:
    static constexpr long kPlaySignTag = 3;
    static constexpr double kReloadPressSeconds = 2.0;
    // The picture preview's present (or dismiss) animation out of (back into) sourcePoint.
    using PreviewTransitionMaker =
        std::function<std::shared_ptr<toolkit::AnimatedTransitioning>(bool presenting, toolkit::Point sourcePoint)>;
    using ImagePreviewMaker = std::function<std::shared_ptr<toolkit::ViewController>(
        const std::string& mediaID, graphics::ImagePtr still, std::shared_ptr<graphics::HXCAnimatedImage> animated,
        const std::shared_ptr<toolkit::TransitioningDelegate>& transitions)>;
    using VCardPickerMaker = std::function<std::shared_ptr<toolkit::ViewController>(
        const foundation::Data& vCard, std::weak_ptr<system_screens::ContactViewControllerDelegate> delegate)>;

    struct Setup {
        // The screen the viewers, the cards, the player and the share sheet come from.
        std::weak_ptr<toolkit::ViewController> screen;
        std::weak_ptr<toolkit::TableView> table;
        // Taps and menus act in a text conversation only.
        bool textConversation = false;
        std::weak_ptr<HXMediaRole> media;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXRoutingRole> routing;
        // The attachment a row shows, none for a text row.
        std::function<std::optional<HXAttachment>(toolkit::IndexPath)> attachmentAt;
        // The measured size of a row (a contact card is drawn to it).
        std::function<toolkit::Size(toolkit::IndexPath)> rowSize;
        // The width of the screen's view (0 before it loads) and the width its rows have.
        std::function<double()> viewWidth, availableWidth;
        // The bubble of a sent or a received row (a template tinted by the view that shows it).
        std::function<graphics::ImagePtr(bool sent)> bubble;
        // A row fetched again: the sizes measured for its message are forgotten.
        std::function<void(long section)> forgetSizes;
        // A tap the screen takes before the rows (its note, closing the keyboard): true if it did.
        std::function<bool(toolkit::Point inTable)> screenTap;
        // The viewers, made by the screen library (empty: nothing opens) and the preview's spring.
        ImagePreviewMaker imagePreview;
        VCardPickerMaker vCardPicker;
        PreviewTransitionMaker previewTransition;
    };
    static std::shared_ptr<HXAttachmentRows> make(Setup setup);
    ~HXAttachmentRows() override;

    // ---- what a row shows (attachment_rows.cpp)
    struct Shown {
        graphics::ImagePtr image;
        std::shared_ptr<graphics::HXCAnimatedImage> animated;
        // The row's accessibility description, "" for the cell's own.
        std::string description;
    };
    // Sets the cell up for the attachment of a message (sent or received) at indexPath.
    Shown configure(ConversationTableViewCell& cell, bool sent, const HXAttachment& a, toolkit::IndexPath indexPath);
    // A picture, a video or a card takes the bubble's shape; a video's preview gets the play sign.
    void shapeBubble(ConversationTableViewCell& cell, toolkit::View& background, const HXAttachment& a, bool sent,
                     const graphics::ImagePtr& image);
    // The size of an attachment's row, none for one sized by its text; cache false for a size
    // that is only good until its media is in.
    std::optional<toolkit::Size> size(const HXAttachment& a, bool& cache);
    // The thumbnail of a picture or a video's preview (its bytes and the picture read from them,
    // once), when they are a picture; anything else under the id is removed.
    struct Thumbnail {
        foundation::Data bytes;
        graphics::ImagePtr image;
    };
    std::optional<Thumbnail> thumbnailFor(const std::string& mediaID);
    // The one way an id is asked for again: every id when the screen goes (the next appearance
    // asks anew), one id when its row is fetched again.
    void forgetAskedThumbnails(const std::string& mediaID = {});

    // ---- what the user does with a row (attachment_taps.cpp)
    // The table's tap (once the double tap has failed) and, before 13, the two-second press.
    void installGestures(const std::shared_ptr<toolkit::GestureRecognizer>& doubleTap);
    void tap(toolkit::Point inTable);
    void handleLongTap(toolkit::Point inTable);
    toolkit::ContextMenuConfigurationPtr contextMenu(toolkit::IndexPath indexPath, toolkit::Point point);
    void willPerformPreviewAction(toolkit::ContextMenuCommitAnimator& animator);
    // The system player for the file at path, over the screen (one at a time), with the film's
    // still as its poster when there is one.
    void showAVPlayerForLocalMediaAtPath(const std::string& path, graphics::ImagePtr poster = nullptr);
    // The attachment ids whose download is waited for to open the player.
    const std::vector<std::string>& awaitedMedia() const { return awaitedMedia_; }
    // Leaving the screen: no player opens for a download that comes later.
    void stopAwaitingMedia();
    // The picture being shared from a menu (its bytes and type), as the share sheet asks for it.
    static system_screens::ActivityItem shareItem();
    static std::optional<system_screens::LinkMetadata> shareLinkMetadata();

    // ---- dragging a picture out, and the preview's zoom
    // The items for a touch at a point of the table (none when adding a row already carried).
    std::vector<toolkit::DragItemPtr> dragItemsAt(toolkit::Point inTable, const toolkit::DragSession* adding);
    std::shared_ptr<toolkit::DragInteraction> makeDragInteraction();
    // The last tapped point in the table (shared by the conversation screens); the zoom of the
    // picture preview starts there.
    static void rememberTapPoint(toolkit::Point inTable);
    static toolkit::Point lastTapPoint();
    // An animator for a navigation controller whose first controller is the picture preview, none
    // for any other (the standard transition): made by maker when one is set (tests), else by the
    // set-up's previewTransition.
    static void setPreviewTransitionMaker(PreviewTransitionMaker maker);
    std::shared_ptr<toolkit::AnimatedTransitioning> previewTransition(toolkit::ViewController& controller,
                                                                      bool presenting);
    std::vector<toolkit::DragItemPtr> itemsForBeginning(toolkit::DragInteraction& interaction,
                                                        toolkit::DragSession& session) override;
    std::vector<toolkit::DragItemPtr> itemsForAddingTo(toolkit::DragInteraction& interaction,
                                                       toolkit::DragSession& session, toolkit::Point point) override;
    std::shared_ptr<toolkit::AnimatedTransitioning>
    animationControllerForPresented(toolkit::ViewController& presented, toolkit::ViewController& presenting,
                                    toolkit::ViewController& source) override;
    std::shared_ptr<toolkit::AnimatedTransitioning>
    animationControllerForDismissed(toolkit::ViewController& dismissed) override;

private:
    explicit HXAttachmentRows(Setup setup) : setup_(std::move(setup)) {}
    std::shared_ptr<HXMediaRole> role() const { return setup_.media.lock(); }
    std::shared_ptr<toolkit::TableView> table() const { return setup_.table.lock(); }
    // ---- drawing (attachment_rows.cpp)
    void showThumbnail(ConversationTableViewCell& cell, bool sent, const HXAttachment& a, Shown& shown);
    void fitPicture(ConversationTableViewCell& cell, bool sent, const HXAttachment& a, Shown& shown);
    void drawContactCard(ConversationTableViewCell& cell, bool sent, const HXAttachment& a,
                         toolkit::IndexPath indexPath, Shown& shown);
    std::optional<toolkit::Size> contactCardSize(const HXAttachment& a, bool& cache);
    // The bubble's size a picture's or a video's size variants give ("s512", else "S_512"; zero
    // with neither), known before its picture is in; none without variants or for other kinds.
    std::optional<toolkit::Size> variantSize(const HXAttachment& a);
    // Asks for a picture's thumbnail or a video's preview, once while the screen shows: a reply
    // that is no picture, or none, would otherwise be asked for again by every reload that its
    // own arrival starts.
    void askForThumbnail(const HXAttachment& a);
    // A thumbnail or a video's preview came (or its request ended): the rows that show it are
    // asked for again.
    void mediaArrived(const std::string& mediaID);
    // ---- taps and menus (attachment_taps.cpp)
    struct Row {
        HXAttachment attachment;
        toolkit::IndexPath indexPath;
    };
    std::optional<Row> rowAtPoint(toolkit::Point inTable);
    std::optional<Row> row(toolkit::IndexPath indexPath);
    void openPicture(const HXAttachment& a, toolkit::Point inTable);
    void awaitPlayer(const HXAttachment& a, const std::string& path);
    // A video's still (its preview picture), for the player's poster; none for other kinds.
    graphics::ImagePtr posterFor(const HXAttachment& a);
    void openVCard(const std::string& path);
    std::shared_ptr<toolkit::ViewController> makeImagePreview(const std::string& mediaID, graphics::ImagePtr still,
                                                              std::shared_ptr<graphics::HXCAnimatedImage> animated);
    void presentImagePreview(const std::shared_ptr<toolkit::ViewController>& preview);
    void presentShareSheet(std::vector<system_screens::ActivityViewController::Entry> items);
    void reload(toolkit::IndexPath indexPath, const HXAttachment& a);
    toolkit::ContextMenuConfigurationPtr pictureMenu(const HXAttachment& a, toolkit::IndexPath indexPath);
    toolkit::ContextMenuConfigurationPtr videoMenu(const HXAttachment& a, toolkit::IndexPath indexPath);
    // The menus' actions, which reach the rows weakly (the menu may outlive the screen).
    static toolkit::MenuPtr pictureActions(const std::weak_ptr<HXAttachmentRows>& weak, const foundation::Data& data,
                                           const HXAttachment& a, toolkit::IndexPath indexPath);
    static std::shared_ptr<toolkit::MenuAction> reloadAction(const std::string& title,
                                                             const std::weak_ptr<HXAttachmentRows>& weak,
                                                             const HXAttachment& a, toolkit::IndexPath indexPath);
    static toolkit::MenuPtr videoActions(const std::weak_ptr<HXAttachmentRows>& weak, const std::string& path,
                                         const HXAttachment& a, toolkit::IndexPath indexPath);

    Setup setup_;
    std::vector<std::string> thumbnailsRequested_;
    // Videos whose film came before their picture: their rows waited once more for it.
    std::vector<std::string> filmsFirst_;
    std::vector<std::string> awaitedMedia_;
    bool gesturesInstalled_ = false;
};
