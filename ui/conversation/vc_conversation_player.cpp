// The screen's side of the player under a voicemail or a recorded call: the player object
// (HXVoicemailPlayer) made over the footer's views for the conversation's audio, stopped when the
// screen leaves and resumed when it comes back.
#include "model/conversation.h"
#include "ui/conversation/vc_conversation.h"

void VC_Conversation::makeVoicemailPlayer(HXVoicemailPlayer::Views views) {
    if (!conversation_) return;
    // The remaining time before the file is read: the length of a message of the conversation.
    auto lengthText = [object = std::weak_ptr<store::ManagedObject>(conversation_->object())] {
        std::string length;
        if (auto conversation = object.lock())
            for (const auto& message : HX_Conversation(conversation).messages()) length = message.length();
        return length;
    };
    voicemail_ = HXVoicemailPlayer::make(std::move(views), {.mediaID = conversation_->conversationID(),
                                                            .lengthText = std::move(lengthText),
                                                            .media = roles_.media,
                                                            .alerts = roles_.alerts});
}

void VC_Conversation::stopPlayback() {
    if (voicemail_) voicemail_->stop();
}
