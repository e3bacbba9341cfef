// One conversation's pages of messages: its newest page and the older ones, asked for by the
// conversation's id (and an older page's token) and parsed into the account's store by the
// thread-list parse (read, plan, write) of a list of the conversation's own kind: texts by the
// SMS list, voicemails and recorded calls by the voicemail list, calls by the history, so that an
// older page keeps what its kind shows. Each page answers its caller on the main queue with what
// it brought: the messages added above the stored ones and below them, and whether an older page
// remains. A newest page asked for while one is on its way answers both callers. Every caller is
// answered exactly once: a page whose request never started, failed, was cancelled or was replaced
// under its tag (every conversation's newest page shares one) ends as not parsed.
//
// The web client keeps one loader (made on first use); the lists and the conversation's role ask
// it for pages. Everything here runs on the main thread; the parse itself runs off it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/value.h"

class HXApplicationWebClient;
class HXMessageListModel;

// What a conversation's page brought.
struct HXPageAnswer {
    std::string conversationID;
    // False when nothing was parsed (no reply, an unreadable one, no store).
    bool parsed = false;
    // Messages added before the oldest stored one, and after the newest.
    size_t older = 0;
    size_t newer = 0;
    // The conversation has an older page still.
    bool more = false;
};
using HXPageCompletion = std::function<void(const HXPageAnswer&)>;

// The conversation screen's pages: the newest page (one already on its way answers this caller
// too) and the next older page, parsed as the conversation's kind; done hears what a page brought
// once its rows are in ("kOlderConversationMessagesLoadedNotification" is still posted for an older
// page). HXConversationPages is the role.
class HXConversationPagesRole {
public:
    virtual ~HXConversationPagesRole() = default;
    virtual void loadNewest(const std::string& conversationID, HXPageCompletion done) = 0;
    virtual void loadOlder(const std::string& conversationID, const std::string& token, HXPageCompletion done) = 0;
};

class HXConversationPages final : public HXConversationPagesRole,
                                  public std::enable_shared_from_this<HXConversationPages> {
public:
    explicit HXConversationPages(std::weak_ptr<HXApplicationWebClient> app);
    HXConversationPages(const HXConversationPages&) = delete;
    HXConversationPages& operator=(const HXConversationPages&) = delete;

    // The newest page, parsed by parser when given (the list that opened the conversation), else
    // by the list of the conversation's kind. No request goes out without an access token; done
    // (if any) is then answered as not parsed.
    void loadNewest(const std::string& conversationID, HXPageCompletion done, std::weak_ptr<HXMessageListModel> parser);
    void loadNewest(const std::string& conversationID, HXPageCompletion done) override {
        loadNewest(conversationID, std::move(done), {});
    }
    // The older page under token, parsed by the list of the conversation's kind.
    void loadOlder(const std::string& conversationID, const std::string& token, HXPageCompletion done) override;
    // A page's bytes as they came (main thread), parsed by parser; the callers waiting for the
    // conversation's newest page are answered along with done. conversationID: the conversation
    // asked for, when the caller knows it (the page names its own).
    void pageArrived(std::shared_ptr<const foundation::Data> data, bool isLatest,
                     const std::shared_ptr<HXMessageListModel>& parser, HXPageCompletion done = {},
                     const std::string& conversationID = {});

    // The view type (1 SMS, 2 voicemail, 3 history) whose list shows a conversation of a type
    // code.
    static int viewTypeForConversationType(int64_t type);

private:
    // A page's request the loader has out: its number (0: none) and what it answers.
    struct Out {
        uint64_t serial = 0;
        std::string conversationID;
        HXPageCompletion done;
    };

    std::shared_ptr<HXMessageListModel> parserFor(const std::string& conversationID);
    // Answers, once, every caller waiting for the newest page of conversationID.
    void answerNewest(const std::string& conversationID, const HXPageAnswer& answer);

    std::weak_ptr<HXApplicationWebClient> app_;
    // Lists made here for kinds whose list the app does not show (never shown, no view).
    std::unordered_map<int, std::shared_ptr<HXMessageListModel>> ownParsers_;
    // Callers of a newest page on its way, by conversation.
    std::unordered_map<std::string, std::vector<HXPageCompletion>> newestWaiting_;
    // The newest page out (one at a time: they share a tag), and the older pages out by token.
    Out newestOut_;
    std::unordered_map<std::string, Out> olderOut_;
    uint64_t serial_ = 0;
};

// The web client's loader, made on first use.
std::shared_ptr<HXConversationPages> HXConversationPagesOf(HXApplicationWebClient& app);
