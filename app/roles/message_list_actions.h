// What the message list screens (SMS, voicemail, history) ask of the application object beyond
// their model: the device state the rows depend on. The conversation operations of a row (its
// action codes, their titles and images and the service requests that carry them out) are
// HXConversationOperations' (service/conversation_operations.h), handed to the screens as their
// own role; the screen a row opens comes from the list's makers.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace toolkit {
class View;
class ViewController;
}  // namespace toolkit

// How a list opens a conversation: its id, the title shown and the screen's conversation type
// (1 texts, 2 voicemail, 3 calls); a preview asks for no service request.
struct HXConversationSetup {
    std::string conversationID;
    std::string title;
    int conversationType = 1;
    bool peeking = false;
};

class HXListActionsRole {
public:
    virtual ~HXListActionsRole() = default;

    // ---- the state rows depend on (the connection is the alerts role's)
    virtual bool isInBackground() const = 0;
    // The passcode lock is up: the lists ask the service for nothing until it goes.
    virtual bool passcodeLockShown() const { return false; }
    // A passcode is required: a list shown when the app goes to the background reloads once the
    // lock is dismissed rather than when the app comes back to the front.
    virtual bool passcodeRequired() const { return false; }
    // The account has a sign-in token.
    virtual bool isSignedIn() const = 0;
    // The contact names of a number are refreshed (off the main thread).
    virtual void refreshContactName(const std::string& number) = 0;
};
