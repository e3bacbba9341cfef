// What a screen that sends takes: a text or a picture message to numbers or into a conversation,
// each answered by completion on the main queue. The application's sender (HXMessageSender,
// service/sms_sending.h) implements it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "service/send_answer.h"

struct HXMMSImage;

class HXSendingRole {
public:
    virtual ~HXSendingRole() = default;
    // recipients: numbers joined with "|" (used without a conversation id); a conversation id
    // sends into that conversation.
    virtual void sendSMS(const std::string& text, const std::optional<std::string>& recipients,
                         const std::optional<std::string>& conversationID, HXSendCompletion completion) = 0;
    virtual void sendMMS(const std::string& text, const std::vector<HXMMSImage>& images,
                         const std::optional<std::string>& recipients, const std::optional<std::string>& conversationID,
                         HXSendCompletion completion) = 0;
};
