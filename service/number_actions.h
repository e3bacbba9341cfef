// A call or a new message to a number, which many screens offer (the conversation, the lists, the
// dialer, the help page). The web client carries both out (the call through its calls, the message
// by presenting the new-message screen) and is the role the screens take for them.
#pragma once

#include <string>

class HXConversationActionsRole {
public:
    virtual ~HXConversationActionsRole() = default;
    virtual void placeCallTo(const std::string& number) = 0;
    // Numbers separated by ",", the text, and the conversation to reply into ("" for a new one).
    virtual void newMessageToNumber(const std::string& numbers, const std::string& text,
                                    const std::string& conversationID) = 0;
};
