// The emulated service: one plain-HTTP server on 127.0.0.1 and an ephemeral port that answers
// for every host role of the service (sign-in, service pages, JSON API, protobuf API, media,
// contacts) from an in-memory account whose state follows what clients do to it (marking,
// archiving, blocking, deleting, sending). Tests and the local run command point the app's
// configured origins at it. Every request is recorded; replies can be scripted per path, and
// the failures the client must survive can be injected by name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"

namespace emulator {

struct DeliveredText;  // emulator/incoming_texts.h

struct RecordedRequest {
    std::string method;
    std::string target;  // path with its query, as sent
    std::string path;
    std::string body;
    // Header fields (the server library does not keep their order; names as sent).
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> header(const std::string& name) const;
};

// A reply that replaces the service's own for requests whose target begins with a prefix.
struct ScriptedReply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Real seconds to wait before answering (kept short in tests; prefer hold).
    double delay = 0;
    // Wait until releaseHeld() (or stop) before answering: lets a client time out on its own clock.
    bool hold = false;
    // Send the head and half the body, then close the connection.
    bool dropMidBody = false;
    // Encode the body ("gzip" or "deflate") and say so in Content-Encoding.
    std::string contentEncoding;
    // In place of body: this many bytes made as they go out (byte i is generatedByte(i)), so a
    // reply of hundreds of megabytes costs the service no memory.
    uint64_t generatedBytes = 0;
    // A redirect: status 302 (unless status is a 3xx) with this Location.
    std::string redirectTo;
    // After the wait (delay or hold), the service answers as it would have.
    bool passThrough = false;
    // The service does what was asked, then this reply goes out in place of its own (a failure
    // behind the service after the work was done).
    bool afterWork = false;
};

// Byte `offset` of a generated reply body (ScriptedReply::generatedBytes): no short period, so a
// piece written at the wrong place or twice shows.
inline uint8_t generatedByte(uint64_t offset) {
    return static_cast<uint8_t>(((offset * 0x9E3779B1u) >> 11) ^ (offset >> 17) ^ offset);
}

// The failures a client of the service has to handle, as the service shows them.
enum class Fault {
    Unauthorized,          // HTTP 401 with the JSON error {"error":{"code":401,...}}
    SignInRedirect,        // 302 to the service host's "/accounts/AccountLogin" (session expired)
    InvalidGrant,          // token reply {"error":"invalid_grant"}
    UserLoggedOut,         // token reply {"error":"USER_LOGGED_OUT"}
    ServerErrorEmpty,      // HTTP 500 with an empty body
    ServerErrorAfterWork,  // the service does what was asked, then answers HTTP 500 with an empty body
    InvalidArgument,       // HTTP 400 whose body names INVALID_ARGUMENT
    InvalidCredentials,    // HTTP 401 with the plain text "Invalid Credentials" (protobuf API)
    Slow,                  // the reply waits (releaseHeld(), or `seconds` of real time)
    Drop,                  // the connection closes in the middle of the body
};

struct Attachment {
    std::string id;
    std::string mimeType;
};

// One item of a thread. `type` is the service's item type name ("smsIn", "smsOut",
// "voicemail", "missed", "inbound", "callReturn", "recording", ...).
struct Message {
    std::string id;
    int64_t startTimeMs = 0;
    std::string text;        // SMS text, or the voicemail's transcript
    std::string fromNumber;  // empty for an outgoing item
    std::string type = "smsIn";
    int durationSeconds = 0;
    std::vector<Attachment> attachments;  // MMS pictures, or a call recording
};

struct Thread {
    std::string id;
    bool read = true;
    bool spam = false;
    bool archived = false;
    bool blocked = false;
    std::vector<std::string> numbers;  // two or more: a group conversation
    std::string contactName;
    std::vector<Message> items;  // oldest first
    // Time of the newest item (0 for none).
    int64_t lastTimeMs() const;
    bool isText() const;       // its items are text messages
    bool isVoicemail() const;  // its items include a voicemail or recording
};

struct Phone {
    std::string name;
    std::string e164;
    bool forwarding = true;
    bool verified = true;
};

struct VoipDevice {
    std::string name;
    std::string sipDeviceId;
    std::string clientType = "hxIos";
    bool forwarding = true;
};

struct Media {
    std::string mimeType;
    std::string bytes;
    // A video's preview picture (JPEG), served for "?m=thumbnail"; empty for other media.
    std::string preview;
    // A picture the service draws when it is first asked for (bytes empty until then): its size.
    int width = 0;
    int height = 0;
    // The picture scaled to fit the thumbnail size ("s=3"), kept once made.
    std::string thumbnail;
};

// Service settings, as "account/get" reports them and "account/update" changes them.
struct Settings {
    bool doNotDisturb = false;
    bool useDidAsCallerId = true;
    bool directConnect = false;  // call screening off ("none")
    bool voicemailTranscription = true;
    bool inCallCommands = true;
    bool globalSpamFiltering = false;
    bool emailVoicemails = false;
    bool emailSMS = false;
    bool emailMissedCalls = false;
    // Greetings: id -> custom name ("" for the system's standard greeting).
    std::vector<std::pair<std::string, std::string>> greetings = {{"g0", ""}, {"g1", "At work"}};
    std::string activeGreeting = "g0";
    std::string currencyCode = "USD";
    int64_t creditUnits = 2;
    int64_t creditNanos = 500000000;
};

// What the service was asked to do that leaves no thread behind.
struct Callback {
    std::string target;
    std::string callbackNumber;
};
struct Reservation {
    std::string source;
    std::string target;
};
// A message the service took, with what it answered: a send that repeats its random id is answered
// with the same thread, item and time, and stores nothing (the client could not tell whether the
// first one arrived).
struct SentMessage {
    uint64_t randomId = 0;
    std::string text;
    std::string conversationId;
    std::vector<std::string> targets;
    int imageType = 0;  // 0 without an attachment
    size_t attachmentBytes = 0;
    std::string threadId;    // the thread it went into
    std::string messageId;   // the item the service made of it
    uint32_t timestamp = 0;  // seconds since 1970, as answered
};
struct AddedContact {
    std::string name;
    std::string number;
    std::string type;
};

struct Account {
    std::string username = "user@example.test";
    std::string serviceNumber = "+15550100";
    std::vector<Phone> phones;
    std::vector<VoipDevice> voipDevices;
    std::vector<Thread> threads;
    Settings settings;
    std::map<std::string, Media> media;      // media id -> content
    std::string accessNumber = "+15550199";  // what direct-call reservations hand out
    std::string sessionCookie = "SID";       // name of the service's session cookie
    // A new-features page stands between the sign-in and the service page until it is saved.
    bool consentPending = false;
    std::vector<Callback> callbacks;
    std::vector<Reservation> reservations;
    std::vector<SentMessage> sent;
    std::vector<AddedContact> addedContacts;
    uint64_t nextItemNumber = 1;  // ids of items the service creates

    Thread* thread(const std::string& id);
};

// A deterministic account: the same options give the same threads, items, texts and times on
// every machine (the generator draws from its own arithmetic, not from library distributions).
struct GeneratorOptions {
    uint64_t seed = 1;
    int smsThreads = 20;
    int voicemailThreads = 0;
    int callThreads = 0;
    int itemsPerThread = 10;
    // Text threads the service files under spam and under the archive, drawn after the others
    // from a stream of their own (so the other threads are those of the seed without them), their
    // times spread among the others'.
    int spamThreads = 0;
    int archivedThreads = 0;
    // The newest thread's last item; older threads lie further back, at least a second apart.
    int64_t newestTimeMs = 1'760'000'000'000;
    // Adds, after every other thread and from a stream of its own (so the others stay those of
    // the seed without them), the threads a conversation is tried on: texts of 1,000 and of 350
    // messages, right-to-left texts, every kind of attachment (JPEG and GIF pictures, vCards of a
    // person with a photo, an organisation and three contacts, video, audio, an unsupported
    // type) and a call history holding every call type. Their ids are conversationThreadIds().
    bool conversationThreads = false;
};
// The ids of the threads conversationThreads adds, in the order listed there (long, 350, RTL,
// attachments, calls), for an account generated with the seed.
std::vector<std::string> conversationThreadIds(const Account& account);
// Every call item type the service knows.
const std::vector<std::string>& callItemTypes();
Account generateAccount(const GeneratorOptions& options);
// Adds `count` new text threads newer than every thread of the account (ids not used before).
void addGeneratedTextThreads(Account& account, uint64_t seed, int count, int itemsPerThread);
// The threads GeneratorOptions::conversationThreads adds, added to an account that lacks them (a
// state kept from a run without them), newer than its threads; an account that has them keeps them.
void addConversationThreadsOnce(Account& account, uint64_t seed);

class Emulator {
public:
    Emulator();
    explicit Emulator(Account account);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Listens on 127.0.0.1 and an ephemeral port (or the given one), serving on a background thread.
    foundation::Status start(int port = 0);
    void stop();

    int port() const;
    // "http://127.0.0.1:PORT": the origin of every host role.
    std::string origin() const;

    // The newest requests (at most 10,000 of them holding at most 64 MB of bodies, unless set
    // otherwise), oldest first; the count is of every request since the start or the last clear.
    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    void clearRequests();
    void setRequestLogLimit(size_t requests, size_t bodyBytes);

    // The next `times` requests whose target begins with prefix get reply (times < 0: all).
    void script(const std::string& prefix, ScriptedReply reply, int times = 1);
    void clearScripts();
    // How many more requests beginning with prefix the scripts of such prefixes still wait for
    // (scripts for every request not counted): 0 once the scripted ones have come.
    size_t scriptedRequestsAwaited(const std::string& prefix) const;
    void releaseHeld();
    // Releases only the held requests whose target begins with prefix (the others keep waiting),
    // so that two held replies can be let go in either order.
    void releaseHeld(const std::string& targetPrefix);
    // The next `times` requests whose target begins with prefix fail as `fault` does.
    void inject(Fault fault, const std::string& prefix, int times = 1, double seconds = 0);

    // The in-memory account, under the emulator's lock: the one served, or the one the request
    // being answered on this thread names (answerFor).
    template <typename F>
    auto withAccount(F&& f) {
        std::lock_guard lock(accountMutex_);
        return f(answeredAccountLocked());
    }
    // Every account the service knows, the signed-in one first, under the emulator's lock.
    template <typename F>
    void withEveryAccount(F&& f) {
        std::lock_guard lock(accountMutex_);
        f(account_);
        for (auto& other : otherAccounts_) f(other);
    }
    // Another account the service knows (a user name not known yet). The service serves the
    // account whose name was signed in last (switchToAccount), and answers a request that carries
    // an access token from the token's account.
    void addAccount(Account account);
    // The user names the service knows, the one it serves first.
    std::vector<std::string> usernames() const;
    // Serves the account of this user name from now on; false (nothing changes) for a name the
    // service does not know.
    bool switchToAccount(const std::string& username);
    // Sign-in state the emulator hands out: a session cookie value and OAuth access tokens.
    // The session cookie's value for the account answered (the one a request names, else the
    // one served); each account has its own, so a client back on an account it kept the cookie
    // of is answered from that account.
    std::string sessionValue() const;
    std::string sessionValueFor(const std::string& username) const;
    // The account a session cookie's value belongs to (none for a value the service never gave).
    std::optional<std::string> sessionOwner(const std::string& value) const;
    // A new token, for the account of that user name (the one served now by default). A request
    // that carries a valid token is answered from the token's account, whichever is served.
    std::string issueAccessToken(const std::optional<std::string>& username = std::nullopt);
    bool isValidAccessToken(const std::string& token) const;
    // The user name a valid token was handed out for (none for a token not valid, or one handed
    // out before owners were kept).
    std::optional<std::string> accessTokenOwner(const std::string& token) const;
    // While a request is answered on this thread: the account its credentials name, which
    // withAccount then gives (none: the account served).
    static void answerFor(std::optional<std::string> username);
    // Every access token handed out so far stops working (as when they expire).
    void expireTokens();
    // For tests: the service forgets every session and access token it handed out, as a restarted
    // one would; the next sign-in gets a session value not used before.
    void forgetSessions();
    // "expires_in" of new tokens, in seconds.
    void setTokenLifetime(int seconds);
    int tokenLifetime() const;
    // While signed out, the session cookie proves nothing: token requests answer
    // USER_LOGGED_OUT and service pages redirect to the sign-in page.
    void setSignedIn(bool signedIn);
    bool signedIn() const;

    // What a restarted service would still know, as one JSON document: the accounts (threads,
    // settings, sent texts, callbacks, ...) and the sign-in state (session, tokens). Restoring
    // replaces both, keeping the known accounts whose names the document does not hold (a state
    // kept before they were added); a document that cannot be read changes nothing.
    std::string state() const;
    foundation::Status restoreState(const std::string& document);
    // Keeps the state in a file: restores it now when the file exists, and writes it back after
    // every request that changed it and at stop (written whole beside it, then renamed over it).
    foundation::Status keepStateIn(const std::filesystem::path& file);
    // A text arrives for the account served (emulator/incoming_texts.h), and a kept state is
    // written; answers what arrived.
    DeliveredText deliverText(bool fromNewNumber);

    struct Impl;

private:
    Account& answeredAccountLocked();
    void saveStateIfChanged();
    std::unique_ptr<Impl> impl_;
    mutable std::mutex accountMutex_;
    Account account_;
    std::vector<Account> otherAccounts_;
};

// A populated account for tests and the local run: two phones, two threads, media.
Account sampleAccount();

// gzip or zlib-wrapped deflate of data (what the emulator sends for encoded replies).
std::string encodeBody(const std::string& data, const std::string& encoding);

}  // namespace emulator
