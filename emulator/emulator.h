// The emulated service: one plain-HTTP server on 127.0.0.1 and an ephemeral port that answers
// for every host role of the service (sign-in, service pages, JSON API, protobuf API, media,
// contacts) from a small in-memory account. Tests and the local run command point the app's
// configured origins at it. Every request is recorded; replies can be scripted per path.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"

namespace emulator {

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
    // A redirect: status 302 (unless status is a 3xx) with this Location.
    std::string redirectTo;
};

struct Message {
    std::string id;
    int64_t startTimeMs = 0;
    std::string text;
    std::string fromNumber;  // empty for an outgoing message
    int type = 10;           // the service's item type: 10 SMS in, 11 SMS out, 2 voicemail
};

struct Thread {
    std::string id;
    bool read = true;
    std::vector<std::string> numbers;
    std::vector<Message> items;
};

struct Phone {
    std::string name;
    std::string e164;
    bool forwarding = true;
    bool verified = true;
};

struct Media {
    std::string mimeType;
    std::string bytes;
};

struct Account {
    std::string username = "user@example.test";
    std::string serviceNumber = "+15550100";
    std::vector<Phone> phones;
    std::vector<Thread> threads;
    std::map<std::string, std::string> settings;  // name -> "true"/"false" or text
    std::map<std::string, Media> media;           // media id -> content
    std::string accessNumber = "+15550199";       // what direct-call reservations hand out
    std::string sessionCookie = "SID";            // name of the service's session cookie
};

class Emulator {
public:
    Emulator();
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Listens on 127.0.0.1 and an ephemeral port, serving on a background thread.
    foundation::Status start();
    void stop();

    int port() const;
    // "http://127.0.0.1:PORT": the origin of every host role.
    std::string origin() const;

    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    void clearRequests();

    // The next `times` requests whose target begins with prefix get reply (times < 0: all).
    void script(const std::string& prefix, ScriptedReply reply, int times = 1);
    void clearScripts();
    void releaseHeld();

    // The in-memory account, under the emulator's lock.
    template <typename F>
    auto withAccount(F&& f) {
        std::lock_guard lock(accountMutex_);
        return f(account_);
    }
    // Sign-in state the emulator hands out: a session cookie value and OAuth access tokens.
    std::string sessionValue() const;
    std::string issueAccessToken();
    bool isValidAccessToken(const std::string& token) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    mutable std::mutex accountMutex_;
    Account account_;
};

// A populated account for tests and the local run: two phones, two threads, media.
Account sampleAccount();

// gzip or zlib-wrapped deflate of data (what the emulator sends for encoded replies).
std::string encodeBody(const std::string& data, const std::string& encoding);

}  // namespace emulator
