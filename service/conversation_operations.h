// The operations on one conversation that a list row, the conversation screen and the options
// popover offer: the action codes a conversation offers (0 to 13) with their titles and symbol
// images, and what the codes that change it on the service do (delete, archive, the read state,
// spam, block) or make of it (its e-mail). They belong to HXConversationOperations, one object of
// the web client's made on first use, which is also the role the screens take for them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

class HXApplicationWebClient;
namespace store {
class ManagedObject;
}

class HXConversationOperationsRole {
public:
    virtual ~HXConversationOperationsRole() = default;

    // ---- the action codes of a conversation, their titles and images
    virtual std::vector<int>
    messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>& conversation) = 0;
    // The title and the symbol image of an action code; none outside 0 to 13.
    virtual std::optional<std::string> titleForConversationAction(int code);
    virtual std::optional<std::string> imageForConversationAction(int code);

    // ---- what the codes do
    virtual void deleteConversationWithID(const std::string& conversationID) = 0;
    virtual void changeArchiveStateForConversationWithID(const std::string& conversationID) = 0;
    virtual void changeReadStatusForConversationWithID(const std::string& conversationID) = 0;
    // Returns the tag of the request it started (none when it started none).
    virtual std::optional<std::string> markConversation(const std::string& conversationID, bool read) = 0;
    virtual void blockContact(bool block, const std::string& conversationID) = 0;
    virtual void createEmailForConversationWithID(const std::string& conversationID) = 0;
    // Into the spam folder or out of it (the conversation screen's menu offers it).
    virtual void changeSpamStatusForConversationWithID(const std::string& conversationID) { (void)conversationID; }
};

class HXConversationOperations final : public HXConversationOperationsRole {
public:
    explicit HXConversationOperations(std::weak_ptr<HXApplicationWebClient> app) : app_(std::move(app)) {}

    // The conversation operations of the application (made on first use, kept by its web client).
    static std::shared_ptr<HXConversationOperations> of(const std::shared_ptr<HXApplicationWebClient>& app);

    // The codes offered for the conversation of the id (none when the store has no such one).
    std::vector<int> messageOptionsForConversationWithID(const std::string& conversationID);
    void markMessageAsSpam(const std::string& conversationID, bool spam);

    std::vector<int> messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>& conversation) override;
    void deleteConversationWithID(const std::string& conversationID) override;
    void changeArchiveStateForConversationWithID(const std::string& conversationID) override;
    void changeReadStatusForConversationWithID(const std::string& conversationID) override;
    std::optional<std::string> markConversation(const std::string& conversationID, bool read) override;
    void blockContact(bool block, const std::string& conversationID) override;
    // Builds the conversation's e-mail and hands it to the mail composer; for a voicemail whose
    // audio is not here yet the user is first asked whether to download it.
    void createEmailForConversationWithID(const std::string& conversationID) override;
    void changeSpamStatusForConversationWithID(const std::string& conversationID) override;

private:
    std::shared_ptr<HXApplicationWebClient> app() const { return app_.lock(); }
    // A change of the conversation's attributes (endpoint under the API path, a JSON body) under tag.
    static void sendChange(HXApplicationWebClient& app, const std::string& endpoint, const std::string& body,
                           const std::string& tag);

    std::weak_ptr<HXApplicationWebClient> app_;
};
