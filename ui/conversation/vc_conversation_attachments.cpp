// The screen's side of its attachment rows: the component (HXAttachmentRows) made over the table
// with what it needs of the screen, the table's menus handed to it, and pasting a picture into the
// reply (the picture tray's).
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/conversation/vc_conversation.h"

void VC_Conversation::makeAttachmentRows() {
    auto weak = weakSelf<VC_Conversation>();
    attachments_ = HXAttachmentRows::make(
        {.screen = weak,
         .table = tableView_,
         .textConversation = conversationType() == 1,
         .media = roles_.media,
         .alerts = roles_.alerts,
         .routing = roles_.routing,
         .attachmentAt =
             [weak](toolkit::IndexPath indexPath) {
                 auto self = weak.lock();
                 return self ? self->attachmentAt(indexPath) : std::nullopt;
             },
         .rowSize =
             [weak](toolkit::IndexPath indexPath) {
                 auto self = weak.lock();
                 return self ? self->messageSizeForRow(indexPath) : toolkit::Size{0, 0};
             },
         .viewWidth =
             [weak] {
                 auto self = weak.lock();
                 return self && self->isViewLoaded() ? self->viewIfLoaded()->bounds().width() : 0.0;
             },
         .availableWidth =
             [weak] {
                 auto self = weak.lock();
                 return self ? self->availableWidth() : 0.0;
             },
         .bubble =
             [weak](bool sent) {
                 auto self = weak.lock();
                 return self ? self->bubbleImage(sent) : nullptr;
             },
         .forgetSizes =
             [weak](long section) {
                 if (auto self = weak.lock()) self->rowTexts_.forget(self->sizeCacheKey(section));
             },
         .screenTap =
             [weak](toolkit::Point inTable) {
                 auto self = weak.lock();
                 return self && self->screenTap(inTable);
             },
         .imagePreview = makers_.imagePreview,
         .vCardPicker = makers_.vCardPicker,
         .previewTransition = makers_.previewTransition});
    attachments_->installGestures(doubleTap_);
}

bool VC_Conversation::screenTap(toolkit::Point inTable) {
    if (noteView_ && tableView_)
        if (auto* paper = noteView_->viewWithTag(kNoteImageTag)) {
            const toolkit::Point p = tableView_->convertPointTo(inTable, paper);
            if (paper->bounds().contains(p)) {
                editNote();
                return true;
            }
        }
    // A tap while the reply is typed only closes the keyboard.
    if (inputToolbar_ && inputToolbar_->textView() && inputToolbar_->textView()->isFirstResponder()) {
        (void)inputToolbar_->textView()->resignFirstResponder();
        return true;
    }
    return false;
}

toolkit::ContextMenuConfigurationPtr
VC_Conversation::contextMenuConfiguration(toolkit::TableView&, toolkit::IndexPath indexPath, toolkit::Point point) {
    return attachments_ ? attachments_->contextMenu(indexPath, point) : nullptr;
}

void VC_Conversation::willPerformPreviewAction(toolkit::TableView&, toolkit::ContextMenuConfiguration&,
                                               toolkit::ContextMenuCommitAnimator& animator) {
    if (attachments_) attachments_->willPerformPreviewAction(animator);
}

bool VC_Conversation::canPerformAction(const std::string& action, toolkit::Responder* sender) const {
    // Pictures are pasted into the reply bar while it has the focus.
    if (action == "paste:")
        return HXPictureTray::canPaste(inputToolbar_ && inputToolbar_->textView()->isFirstResponder());
    if (action == "copyPhoneNumber:") return true;
    return HXConversationScreen::canPerformAction(action, sender);
}

bool VC_Conversation::addPicture(HXMMSImage picture) { return pictureTray()->add(std::move(picture)); }

void VC_Conversation::addImageFromPasteBoard() { pictureTray()->addFromPasteboard(); }
