// Sending text messages through the service with a queue of unsent messages that survives the
// app's end (the preference "smsQueue": user name -> decimal key -> entry), and the replies of
// those sends. Every queue change is written to disk at once, and a queued message is moved to
// its new key in the same write that takes it off its old one, so no stop of the process loses
// it. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "service/application_web_client.h"
#include "service/request_machinery.h"
#include "service/send_answer.h"
#include "service/sending.h"

class HXApplicationWebClient;
namespace graphics {
class Image;
class HXCAnimatedImage;
}  // namespace graphics

// A picture of a picture message: an animated GIF, sent as it is, or a still picture.
struct HXMMSImage {
    std::shared_ptr<graphics::HXCAnimatedImage> animated;
    std::shared_ptr<const graphics::Image> still;
};

// The sending the screens take (HXSendingRole) is the sender's own.
class HXMessageSender final : public HXSendingRole, public std::enable_shared_from_this<HXMessageSender> {
public:
    explicit HXMessageSender(std::weak_ptr<HXApplicationWebClient> app) : app_(std::move(app)) {}
    // The sender of the application (made on first use, kept by its web client).
    static std::shared_ptr<HXMessageSender> of(const std::shared_ptr<HXApplicationWebClient>& app);

    // recipients: numbers separated by "|" (used without a conversation id). The completion
    // follows the message through the queue until the send ends. A message that the queue
    // already keeps, waiting for its next drain after a time-out or a failing service, is not
    // sent again: the completion follows the kept copy and the queue drains (a second copy
    // would deliver it twice).
    void sendSMS(const std::string& text, const std::optional<std::string>& recipients,
                 const std::optional<std::string>& conversationID, HXSendCompletion completion = {}) override;
    void sendQueuedSMS();
    // The completion hears how the queue's entry of key goes from its next drain on.
    void followQueuedSMS(const std::string& key, HXSendCompletion completion);
    // One upload per picture, all at once, not queued; only the first carries the text.
    void sendMMS(const std::string& text, const std::vector<HXMMSImage>& images,
                 const std::optional<std::string>& recipients, const std::optional<std::string>& conversationID,
                 HXSendCompletion completion = {}) override;
    // Tells the sender of the entry of key how its send goes (an end answers it once).
    void answer(const std::string& key, HXSendAnswer answer);
    void removeSMSfromQueue(const std::string& key);
    void addBackgroundTaskIdentifier(uint64_t task, const std::string& key);
    void removeBackgroundTaskIdentifierForQueuedSMS(const std::string& key);
    std::optional<uint64_t> backgroundTaskIdentiferForSMS(const std::string& key) const;
    // The entry of a key: absent, present, or deferred by the user ("queued").
    HXApplicationWebClient::QueueState queueState(const std::string& key) const;
    void markQueued(const std::string& key);
    // The reply of a text message ("sms/send/" tags). The router's common tail never runs.
    void smsReply(const HXRoutedReply& reply);
    void playNewMessageAlertForMessageWithDate(double seconds);

    // The current account's queue (empty without one).
    foundation::Dictionary accountQueue() const;
    // One more than the largest key read as a number; "1" for an empty queue.
    static std::string nextKey(const foundation::Dictionary& queue);
    // The conversation id of a send reply: none when the bytes are not a reply; an empty id when
    // the reply has none.
    static std::optional<std::string> conversationIDFromReply(std::string_view bytes);
    // Whether a reply of this status leaves its message queued for the next drain rather than
    // refused: the service failed (5xx), timed out (408), was asked too often (429) or refused
    // the token (401).
    static bool keptForLater(int statusCode);
    // Drains the queue again after the retry delay, in the foreground (once armed, later calls
    // wait for the same drain). The delay starts at 30 s, doubles with every drain armed, up to
    // 10 minutes, and starts over once the service takes a message.
    void scheduleRetry();
    static constexpr double kFirstRetryDelay = 30;
    static constexpr double kLastRetryDelay = 600;

private:
    std::shared_ptr<HXApplicationWebClient> app() const { return app_.lock(); }
    std::string tagPrefix() const;
    // The key of the queue's entry of this text for the conversation (without one, for the
    // numbers) that no drain has under way; none when the queue keeps no such copy.
    std::optional<std::string> keptCopy(const std::string& text, const std::optional<std::string>& recipients,
                                        const std::optional<std::string>& conversationID) const;
    // Writes the account's queue (dropping empty levels) and the preferences file.
    void writeQueue(const foundation::Dictionary& queue);
    // Starts the request of a queued entry under its key.
    void startEntry(const std::string& key, const foundation::Dictionary& entry);
    // The same in a later turn of the main queue, after the starts scheduled before it.
    void scheduleStart(const std::string& key, const foundation::Dictionary& entry);
    void endTask(const std::string& key);
    // Keeps the entry of key queued as the user's "Send Later" does, no longer under way.
    void keepForLater(const std::string& key);
    // Tells the user, once per message, that the kept entry of key goes later by itself.
    void tellKept(const std::string& key);
    // Rewrites the queue's entry of key when edit answers that it changed it; no entry, no write.
    void editEntry(const std::string& key, const std::function<bool(foundation::Dictionary&)>& edit);

    std::weak_ptr<HXApplicationWebClient> app_;
    // Task ids by key, also known here so that a reply arriving after a sign-out can end them.
    std::map<std::string, uint64_t> tasks_;
    // The completions of sends not ended yet, by the key of their entry.
    std::map<std::string, HXSendCompletion> completions_;
    // The service refused the token of a send: the next drain renews it first.
    bool renewTokenBeforeDrain_ = false;
    // The queue keeps a message the service could not take: until the queue is empty its
    // entries go one at a time, in key order, and a new text waits behind them.
    bool ordered_ = false;
    // Keys whose start is scheduled and has not run yet.
    std::set<std::string> starting_;
    // The ids of kept messages the user was told of.
    std::set<int64_t> told_;
    // The next retry delay, and the retry drain armed (0: none).
    double retryDelay_ = kFirstRetryDelay;
    uint64_t retryArmed_ = 0, retries_ = 0;
};
