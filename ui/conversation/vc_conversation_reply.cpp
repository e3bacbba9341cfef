// Sending a reply: as a text, or with pictures as a picture message, through the conversation
// role, whose answer (by completion) moves the progress bar and ends it; the SMS counter of the
// reply field.
#include <cmath>

#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "ui/conversation/vc_conversation.h"

VC_Conversation::Counter VC_Conversation::counterFor(size_t length, long lines) {
    Counter c;
    const auto segment = static_cast<double>(kSegmentLength);
    c.segments = static_cast<size_t>(std::max(1.0, std::ceil(static_cast<double>(length) / segment)));
    const size_t used = length - kSegmentLength * (c.segments - 1);
    c.text = foundation::format(foundation::localizedString("%ld/%d\n"), int64_t(lines > 2 ? used : length),
                                int64_t{kSegmentLength});
    c.text += c.segments >= 2 && lines >= 3
                  ? foundation::format(foundation::localizedString("(%ld SMS) "), int64_t(c.segments))
                  : std::string(" ");
    c.colour = used < 151 ? Counter::Colour::Secondary : used < 160 ? Counter::Colour::Orange : Counter::Colour::Red;
    return c;
}

void VC_Conversation::sendReply(const std::string& text) {
    if (!conversation_) return;
    const std::string number = conversation_->phoneNumber();
    if (number.empty()) return;
    auto r = role();
    if (!r) return;
    sendingReply_ = true;
    sendingImages_ = images_.size();
    startSendingProgress();
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, "UIApplicationDidEnterBackgroundNotification",
                       [weak = weakSelf<VC_Conversation>()](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->removeSendingProgress();
                       });
    // This screen follows its own send: every step moves the bar, the end removes it.
    HXSendCompletion answered = [weak = weakSelf<VC_Conversation>()](const HXSendAnswer& answer) {
        auto self = weak.lock();
        if (!self) return;
        if (answer.kind == HXSendAnswer::Kind::Progress)
            self->increaseSendingProgress();
        else
            self->removeSendingProgress();
    };
    const std::string id = conversation_->conversationID();
    if (!images_.empty()) {
        r->sendMMS(text, images_, number, id, std::move(answered));
        images_.clear();
        updateImagePreviews();
    } else {
        r->sendSMS(text, number, id, std::move(answered));
    }
}

void VC_Conversation::sendMessageKeystroke() {
    // The field keeps its text: only the Send button and the return key clear it.
    if (!replyText_.empty()) sendReply(replyText_);
}
