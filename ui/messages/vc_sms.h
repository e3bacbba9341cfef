// The SMS list (view 1): text conversations, with a compose button on the phone.
#pragma once

#include "ui/messages/vc_messages.h"

class VC_SMS : public VC_Messages {
public:
    using VC_Messages::VC_Messages;
    std::string className() const override { return "VC_SMS"; }
    // The compose button: a new message without number or text.
    void newMessage();

protected:
    void setUpList() override;
    double estimatedRowHeight() const override { return iPad() ? 64 : 57; }
    std::string measuringText(const std::string& sender) const override { return sender + " " + sender + " " + sender; }
};
