// The voicemail list (view 2): voicemail and recorded calls; it asks for the audio of the rows it
// shows when the user prefetches voicemail.
#pragma once

#include <string>
#include <vector>

#include "ui/messages/vc_messages.h"

class VC_VM : public VC_Messages {
public:
    using VC_Messages::VC_Messages;
    std::string className() const override { return "VC_VM"; }
    // Any thread: asks once per id for the audio of a voicemail not stored yet.
    void prefetchVM(const std::string& conversationID);
    void clearVMPrefetchList();
    std::vector<std::string> vmPrefetchList() const;

protected:
    void setUpList() override;
    double estimatedRowHeight() const override { return iPad() ? 64 : 57; }
    std::string measuringText(const std::string& sender) const override { return sender + " " + sender + " " + sender; }
};
