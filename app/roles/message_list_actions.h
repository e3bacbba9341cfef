// What the message list screens (SMS, voicemail, history) ask of the application object beyond
// their model: the conversation operations of a row (its action codes, their titles and images
// and the service requests that carry them out) and the device state the rows depend on. The
// screen a row opens comes from the list's makers.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace store {
class ManagedObject;
}
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

    // ---- the action codes of a conversation, their titles and images
    virtual std::vector<int>
    messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>& conversation) = 0;
    virtual std::optional<std::string> titleForConversationAction(int code) = 0;
    virtual std::optional<std::string> imageForConversationAction(int code) = 0;

    // ---- what the codes do
    virtual void deleteConversationWithID(const std::string& conversationID) = 0;
    virtual void changeArchiveStateForConversationWithID(const std::string& conversationID) = 0;
    virtual void changeReadStatusForConversationWithID(const std::string& conversationID) = 0;
    virtual void markConversation(const std::string& conversationID, bool read) = 0;
    virtual void blockContact(bool block, const std::string& conversationID) = 0;
    virtual void createEmailForConversationWithID(const std::string& conversationID) = 0;
    // Into the spam folder or out of it (the conversation screen's menu offers it).
    virtual void changeSpamStatusForConversationWithID(const std::string& conversationID) { (void)conversationID; }
};
