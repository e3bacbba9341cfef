// The history list (view 3): calls, and with "showFullHistory" also texts and voicemail.
#pragma once

#include "ui/messages/vc_messages.h"

class VC_History : public VC_Messages {
public:
    using VC_Messages::VC_Messages;
    std::string className() const override { return "VC_History"; }
    // The list follows "showFullHistory": its types again, fetched and at the top.
    void changeHistoryItems();

protected:
    void setUpList() override;
    double estimatedRowHeight() const override { return iPad() ? 46 : 41; }
};
