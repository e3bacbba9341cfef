#include "emulator/emulator.h"

#include <httplib.h>
#include <zlib.h>

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <thread>

#include "emulator/account_json.h"
#include "emulator/incoming_texts.h"
#include "emulator/service_routes.h"
#include "platform/clock/clock.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"

namespace emulator {

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    std::string wanted = foundation::asciiLowercase(name);
    for (const auto& [k, v] : headers)
        if (foundation::asciiLowercase(k) == wanted) return v;
    return std::nullopt;
}

std::string encodeBody(const std::string& data, const std::string& encoding) {
    z_stream zs{};
    int windowBits = encoding == "gzip" ? 15 + 16 : 15;
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return data;
    std::string out;
    out.resize(deflateBound(&zs, data.size()) + 32);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

struct Emulator::Impl {
    Emulator& owner;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> running{false};

    mutable std::mutex mutex;
    std::condition_variable heldCondition;
    // Releases of the held requests whose target begins with a prefix, numbered in order.
    std::vector<std::pair<std::string, uint64_t>> selectiveReleases;
    uint64_t releaseSequence = 0;
    uint64_t releaseGeneration = 0;
    bool stopping = false;
    // The newest requests, within a count and a size of their bodies, so a long run does not grow
    // without bound; `total` counts every request since the start or the last clear.
    std::deque<RecordedRequest> recorded;
    size_t recordedBytes = 0;
    size_t total = 0;
    size_t logLimit = 10'000;
    size_t logByteLimit = size_t{64} << 20;
    struct Script {
        std::string prefix;
        ScriptedReply reply;
        int remaining;
    };
    std::deque<Script> scripts;
    uint64_t tokenCounter = 0;
    std::vector<std::string> tokens;
    std::map<std::string, std::string> tokenOwners;  // token -> the user name it was handed out for
    std::string sessionUser;                         // the account `session` was made for
    size_t firstValidToken = 0;                      // tokens before this index have expired
    int tokenLifetime = 3599;
    bool signedIn = true;
    std::string session;

    // The file the state is kept in (none: only in memory) and the document last written to it.
    std::mutex stateMutex;
    std::optional<std::filesystem::path> stateFile;
    std::string savedState;

    explicit Impl(Emulator& e) : owner(e) {}

    void trimLog() {
        while (!recorded.empty() && (recorded.size() > logLimit || recordedBytes > logByteLimit)) {
            recordedBytes -= recorded.front().body.size();
            recorded.pop_front();
        }
    }

    std::optional<ScriptedReply> takeScript(const std::string& target) {
        std::lock_guard lock(mutex);
        for (auto it = scripts.begin(); it != scripts.end(); ++it) {
            if (target.compare(0, it->prefix.size(), it->prefix) != 0) continue;
            ScriptedReply reply = it->reply;
            if (it->remaining > 0 && --it->remaining == 0) scripts.erase(it);
            return reply;
        }
        return std::nullopt;
    }

    void handle(const httplib::Request& req, httplib::Response& res) {
        RecordedRequest record;
        record.method = req.method;
        record.target = req.target;
        record.path = req.path;
        record.body = req.body;
        for (const auto& [k, v] : req.headers) {
            // The server library adds these itself; they were not sent.
            if (k == "REMOTE_ADDR" || k == "REMOTE_PORT" || k == "LOCAL_ADDR" || k == "LOCAL_PORT") continue;
            record.headers.emplace_back(k, v);
        }
        // A held reply waits for a release that comes after its request is in the log: a test
        // that sees the request and then releases must free it, even if this thread has not
        // reached its wait yet.
        Arrival arrival{0, 0, req.target};
        {
            std::lock_guard lock(mutex);
            ++total;
            recordedBytes += record.body.size();
            recorded.push_back(record);
            trimLog();
            arrival.generation = releaseGeneration;
            arrival.sequence = releaseSequence;
        }
        if (auto scripted = takeScript(req.target)) {
            if (scripted->afterWork) {
                (void)routeServiceRequest(owner, record);
                play(*scripted, res, arrival);
                return;
            }
            if (!scripted->passThrough) {
                play(*scripted, res, arrival);
                return;
            }
            wait(*scripted, arrival);
        }
        ServiceReply reply = routeServiceRequest(owner, record);
        res.status = reply.status;
        for (const auto& [k, v] : reply.headers) res.set_header(k, v);
        std::string contentType = reply.contentType.empty() ? "text/plain" : reply.contentType;
        res.set_content(reply.body, contentType.c_str());
    }

    // When a request came: the release counts it waits to see move, and its target.
    struct Arrival {
        uint64_t generation;
        uint64_t sequence;
        std::string target;
    };

    void wait(const ScriptedReply& reply, const Arrival& arrival) {
        if (reply.hold) {
            std::unique_lock lock(mutex);
            heldCondition.wait(lock, [&] {
                if (stopping || releaseGeneration != arrival.generation) return true;
                // A release by prefix frees the requests that were waiting when it came.
                for (const auto& [prefix, sequence] : selectiveReleases)
                    if (sequence > arrival.sequence && arrival.target.rfind(prefix, 0) == 0) return true;
                return false;
            });
        }
        if (reply.delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(reply.delay));
    }

    void play(const ScriptedReply& reply, httplib::Response& res, const Arrival& arrival) {
        wait(reply, arrival);
        res.status = reply.status;
        for (const auto& [k, v] : reply.headers)
            if (strcasecmp(k.c_str(), "Content-Type") != 0) res.set_header(k, v);
        if (!reply.redirectTo.empty()) {
            if (reply.status < 300 || reply.status > 399) res.status = 302;
            res.set_header("Location", reply.redirectTo);
        }
        if (reply.generatedBytes > 0) {
            res.set_content_provider(reply.generatedBytes, "application/octet-stream",
                                     [](size_t offset, size_t length, httplib::DataSink& sink) {
                                         char chunk[64 * 1024];
                                         const size_t n = std::min(length, sizeof chunk);
                                         for (size_t i = 0; i < n; ++i)
                                             chunk[i] = static_cast<char>(generatedByte(offset + i));
                                         return sink.write(chunk, n);
                                     });
            return;
        }
        std::string body = reply.body;
        if (!reply.contentEncoding.empty()) {
            body = encodeBody(body, reply.contentEncoding);
            res.set_header("Content-Encoding", reply.contentEncoding);
        }
        std::string contentType = "text/plain";
        for (const auto& [k, v] : reply.headers)
            if (strcasecmp(k.c_str(), "Content-Type") == 0) contentType = v;
        if (reply.dropMidBody) {
            size_t length = body.size() < 2 ? 2 : body.size();
            auto shared = std::make_shared<std::string>(body);
            res.set_content_provider(length, contentType.c_str(),
                                     [shared](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0 && !shared->empty())
                                             sink.write(shared->data(), std::max<size_t>(1, shared->size() / 2));
                                         return false;  // the connection goes down mid-body
                                     });
            return;
        }
        if (!reply.contentEncoding.empty()) {
            // A provider of known length is sent as it is; a plain body would be compressed
            // a second time by the server library when the client accepts gzip.
            auto shared = std::make_shared<std::string>(std::move(body));
            res.set_content_provider(shared->size(), contentType.c_str(),
                                     [shared](size_t offset, size_t length, httplib::DataSink& sink) {
                                         sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
                                         return true;
                                     });
            return;
        }
        res.set_content(body, contentType.c_str());
    }
};

namespace {

// The server counts the wait for a new connection's first request as idle too, and a client sends
// it from its run loop once the socket is writable: a run loop busy with a frame on a loaded
// machine must not find its connection closed before it could ask (an empty reply to a request
// it never saw refused). Two seconds leave a plain build's run loop that room; a sanitized one
// can stall for several.
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
constexpr time_t kIdleConnectionSeconds = 10;
#else
constexpr time_t kIdleConnectionSeconds = 2;
#endif

}  // namespace

Emulator::Emulator() : Emulator(sampleAccount()) {}

Emulator::Emulator(Account account) : impl_(std::make_unique<Impl>(*this)), account_(std::move(account)) {}

Emulator::~Emulator() { stop(); }

foundation::Status Emulator::start(int requestedPort) {
    if (impl_->running) return foundation::Status::success();
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        impl_->handle(req, res);
        saveStateIfChanged();
    };
    impl_->server.Get(".*", handler);
    impl_->server.Post(".*", handler);
    impl_->server.Put(".*", handler);
    impl_->server.Delete(".*", handler);
    impl_->server.Patch(".*", handler);
    impl_->server.Options(".*", handler);
    impl_->server.set_keep_alive_max_count(100000);
    // The server's stop waits for every kept connection's idle wait to end, and the client keeps
    // its connections: a short idle wait closes one (the client opens another when it needs it), so
    // a stop takes at most that wait instead of the library's five seconds.
    impl_->server.set_keep_alive_timeout(kIdleConnectionSeconds);
    // Head and body leave in separate writes; without this each reply waits out a delayed ACK.
    impl_->server.set_tcp_nodelay(true);
    impl_->server.set_payload_max_length(64 * 1024 * 1024);
    int port = requestedPort > 0 ? (impl_->server.bind_to_port("127.0.0.1", requestedPort) ? requestedPort : -1)
                                 : impl_->server.bind_to_any_port("127.0.0.1");
    if (port <= 0) return foundation::Error::withDescription("emulator", 1, "cannot listen on 127.0.0.1");
    impl_->port = port;
    impl_->running = true;
    impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
    // A stop() before the accept loop is up would be lost and leave the loop running forever.
    for (int i = 0; i < 5000 && !impl_->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!impl_->server.is_running()) {
        stop();
        return foundation::Error::withDescription("emulator", 2, "the server did not start");
    }
    return foundation::Status::success();
}

void Emulator::stop() {
    if (!impl_->running) return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->heldCondition.notify_all();
    impl_->server.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->running = false;
    saveStateIfChanged();
}

std::string Emulator::state() const {
    nlohmann::json signIn;
    {
        std::lock_guard lock(impl_->mutex);
        signIn = {{"session", impl_->session},
                  {"sessionUser", impl_->sessionUser},
                  {"tokenCounter", impl_->tokenCounter},
                  {"tokens", impl_->tokens},
                  {"tokenOwners", impl_->tokenOwners},
                  {"firstValidToken", impl_->firstValidToken},
                  {"tokenLifetime", impl_->tokenLifetime},
                  {"signedIn", impl_->signedIn}};
    }
    nlohmann::json document;
    {
        std::lock_guard lock(accountMutex_);
        nlohmann::json others = nlohmann::json::array();
        for (const auto& other : otherAccounts_) others.push_back(accountToJSON(other));
        document = {
            {"account", accountToJSON(account_)}, {"otherAccounts", std::move(others)}, {"signIn", std::move(signIn)}};
    }
    // Texts the service holds are the clients' UTF-8; a stray byte is written as U+FFFD rather than
    // failing the whole state.
    return document.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
}

foundation::Status Emulator::restoreState(const std::string& text) {
    Account account;
    std::vector<Account> others;
    nlohmann::json signIn;
    try {
        const auto document = nlohmann::json::parse(text);
        account = accountFromJSON(document.at("account"));
        // A state kept before the service knew more than one account has none.
        if (auto found = document.find("otherAccounts"); found != document.end())
            for (const auto& other : *found) others.push_back(accountFromJSON(other));
        signIn = document.at("signIn");
        // Read whole before anything changes: a bad value leaves the emulator as it was.
        signIn.at("session").get<std::string>();
        signIn.at("tokens").get<std::vector<std::string>>();
        signIn.at("tokenCounter").get<uint64_t>();
        signIn.at("firstValidToken").get<size_t>();
        signIn.at("tokenLifetime").get<int>();
        signIn.at("signedIn").get<bool>();
        // A state kept while the service knew one account names no owners.
        signIn.value("tokenOwners", std::map<std::string, std::string>{});
    } catch (const nlohmann::json::exception& e) {
        return foundation::Error::withDescription("emulator", 3, std::string("the state cannot be read: ") + e.what());
    }
    const std::string servedName = account.username;
    {
        std::lock_guard lock(accountMutex_);
        // The accounts known now and not in the document stay known.
        auto named = [&](const std::string& username) {
            if (account.username == username) return true;
            return std::any_of(others.begin(), others.end(), [&](const Account& a) { return a.username == username; });
        };
        if (!named(account_.username)) others.push_back(std::move(account_));
        for (auto& known : otherAccounts_)
            if (!named(known.username)) others.push_back(std::move(known));
        account_ = std::move(account);
        otherAccounts_ = std::move(others);
    }
    std::lock_guard lock(impl_->mutex);
    impl_->session = signIn["session"].get<std::string>();
    // A state kept while the service knew one account made its session for that account.
    impl_->sessionUser = signIn.value("sessionUser", servedName);
    impl_->tokens = signIn["tokens"].get<std::vector<std::string>>();
    impl_->tokenCounter = signIn["tokenCounter"].get<uint64_t>();
    impl_->tokenOwners = signIn.value("tokenOwners", std::map<std::string, std::string>{});
    impl_->firstValidToken = std::min(signIn["firstValidToken"].get<size_t>(), impl_->tokens.size());
    impl_->tokenLifetime = signIn["tokenLifetime"].get<int>();
    impl_->signedIn = signIn["signedIn"].get<bool>();
    return foundation::Status::success();
}

foundation::Status Emulator::keepStateIn(const std::filesystem::path& file) {
    std::lock_guard save(impl_->stateMutex);
    if (foundation::files::exists(file)) {
        auto text = foundation::files::readString(file);
        if (!text.ok()) return text.error();
        if (auto restored = restoreState(*text); !restored) return restored;
        impl_->savedState = *text;
    }
    impl_->stateFile = file;
    return foundation::Status::success();
}

DeliveredText Emulator::deliverText(bool fromNewNumber) {
    const auto nowMs = static_cast<int64_t>(std::floor(clocks::wallNow() * 1000));
    auto text = withAccount([&](Account& a) { return emulator::deliverText(a, fromNewNumber, nowMs); });
    saveStateIfChanged();
    return text;
}

void Emulator::saveStateIfChanged() {
    std::lock_guard save(impl_->stateMutex);
    if (!impl_->stateFile) return;
    std::string document = state();
    if (document == impl_->savedState) return;
    if (auto written = foundation::files::writeAtomically(*impl_->stateFile, document); !written) {
        // The next change tries again; the file keeps the last state written whole.
        std::fprintf(stderr, "emulator: cannot keep the state in %s: %s\n", impl_->stateFile->c_str(),
                     written.error().localizedDescription().c_str());
        return;
    }
    impl_->savedState = std::move(document);
}

void Emulator::addAccount(Account account) {
    std::lock_guard lock(accountMutex_);
    otherAccounts_.push_back(std::move(account));
}

std::vector<std::string> Emulator::usernames() const {
    std::lock_guard lock(accountMutex_);
    std::vector<std::string> names{account_.username};
    for (const auto& other : otherAccounts_) names.push_back(other.username);
    return names;
}

bool Emulator::switchToAccount(const std::string& username) {
    std::lock_guard lock(accountMutex_);
    if (account_.username == username) return true;
    auto found = std::find_if(otherAccounts_.begin(), otherAccounts_.end(),
                              [&](const Account& a) { return a.username == username; });
    if (found == otherAccounts_.end()) return false;
    std::swap(account_, *found);
    return true;
}

int Emulator::port() const { return impl_->port; }

std::string Emulator::origin() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

std::vector<RecordedRequest> Emulator::requests() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->recorded.begin(), impl_->recorded.end()};
}

size_t Emulator::requestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->total;
}

void Emulator::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->recorded.clear();
    impl_->recordedBytes = 0;
    impl_->total = 0;
}

void Emulator::setRequestLogLimit(size_t requests, size_t bodyBytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->logLimit = requests;
    impl_->logByteLimit = bodyBytes;
    impl_->trimLog();
}

void Emulator::script(const std::string& prefix, ScriptedReply reply, int times) {
    std::lock_guard lock(impl_->mutex);
    impl_->scripts.push_back({prefix, std::move(reply), times < 0 ? -1 : (times == 0 ? 1 : times)});
}

void Emulator::clearScripts() {
    std::lock_guard lock(impl_->mutex);
    impl_->scripts.clear();
}

size_t Emulator::scriptedRequestsAwaited(const std::string& prefix) const {
    std::lock_guard lock(impl_->mutex);
    size_t awaited = 0;
    for (const auto& script : impl_->scripts)
        if (script.remaining > 0 && script.prefix.rfind(prefix, 0) == 0)
            awaited += static_cast<size_t>(script.remaining);
    return awaited;
}

void Emulator::releaseHeld(const std::string& targetPrefix) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->selectiveReleases.emplace_back(targetPrefix, ++impl_->releaseSequence);
    }
    impl_->heldCondition.notify_all();
}

void Emulator::releaseHeld() {
    {
        std::lock_guard lock(impl_->mutex);
        ++impl_->releaseGeneration;
    }
    impl_->heldCondition.notify_all();
}

std::string Emulator::sessionValue() const {
    std::string user;
    {
        std::lock_guard lock(accountMutex_);
        user = const_cast<Emulator*>(this)->answeredAccountLocked().username;
    }
    return sessionValueFor(user);
}

std::string Emulator::sessionValueFor(const std::string& username) const {
    std::lock_guard lock(impl_->mutex);
    if (impl_->session.empty()) {
        // Every emulator, and every session after a forgetting, has a value of its own: one
        // service never takes another's cookie for its own.
        static std::atomic<uint64_t> sessions{0};
        impl_->session = "session-" + std::to_string(::getpid() % 100000) + "-" + std::to_string(++sessions);
        impl_->sessionUser = username;
    }
    // The account the session was made for has its value as it is; each other one its own.
    if (username == impl_->sessionUser) return impl_->session;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx",
                  static_cast<unsigned long long>(foundation::stableHash64(username)));
    return impl_->session + suffix;
}

std::optional<std::string> Emulator::sessionOwner(const std::string& value) const {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->session.empty()) return std::nullopt;
    }
    for (const auto& name : usernames())
        if (sessionValueFor(name) == value) return name;
    return std::nullopt;
}

void Emulator::forgetSessions() {
    std::lock_guard lock(impl_->mutex);
    impl_->session.clear();
    impl_->firstValidToken = impl_->tokens.size();
}

std::string Emulator::issueAccessToken(const std::optional<std::string>& username) {
    std::string owner = username ? *username : withAccount([](Account& a) { return a.username; });
    std::lock_guard lock(impl_->mutex);
    std::string token = "hxat.token-" + std::to_string(++impl_->tokenCounter);
    impl_->tokens.push_back(token);
    impl_->tokenOwners[token] = std::move(owner);
    return token;
}

std::optional<std::string> Emulator::accessTokenOwner(const std::string& token) const {
    if (!isValidAccessToken(token)) return std::nullopt;
    std::lock_guard lock(impl_->mutex);
    auto found = impl_->tokenOwners.find(token);
    if (found == impl_->tokenOwners.end()) return std::nullopt;
    return found->second;
}

namespace {
thread_local std::optional<std::string> answeredUser;
}  // namespace

void Emulator::answerFor(std::optional<std::string> username) { answeredUser = std::move(username); }

Account& Emulator::answeredAccountLocked() {
    if (answeredUser && *answeredUser != account_.username)
        for (auto& other : otherAccounts_)
            if (other.username == *answeredUser) return other;
    return account_;
}

bool Emulator::isValidAccessToken(const std::string& token) const {
    std::lock_guard lock(impl_->mutex);
    for (size_t i = impl_->firstValidToken; i < impl_->tokens.size(); ++i)
        if (impl_->tokens[i] == token) return true;
    return false;
}

void Emulator::expireTokens() {
    std::lock_guard lock(impl_->mutex);
    impl_->firstValidToken = impl_->tokens.size();
}

void Emulator::setTokenLifetime(int seconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->tokenLifetime = seconds;
}

int Emulator::tokenLifetime() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->tokenLifetime;
}

void Emulator::setSignedIn(bool signedIn) {
    std::lock_guard lock(impl_->mutex);
    impl_->signedIn = signedIn;
}

bool Emulator::signedIn() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->signedIn;
}

void Emulator::inject(Fault fault, const std::string& prefix, int times, double seconds) {
    ScriptedReply r;
    const std::vector<std::pair<std::string, std::string>> json = {{"Content-Type", "application/json"}};
    switch (fault) {
        case Fault::Unauthorized:
            r.status = 401;
            r.headers = json;
            r.body = R"({"error":{"code":401,"message":"Request had invalid authentication credentials.",)"
                     R"("status":"UNAUTHENTICATED"}})";
            break;
        case Fault::SignInRedirect:
            r.redirectTo = origin() + "/accounts/AccountLogin?continue=" + prefix;
            r.body = "<html><body>Moved</body></html>";
            break;
        case Fault::InvalidGrant:
            r.headers = json;
            r.body = R"({"error":"invalid_grant"})";
            break;
        case Fault::UserLoggedOut:
            r.headers = json;
            r.body = R"({"error":"USER_LOGGED_OUT","detail":"No active session found."})";
            break;
        case Fault::ServerErrorEmpty:
            r.status = 500;
            break;
        case Fault::ServerErrorAfterWork:
            r.status = 500;
            r.afterWork = true;
            break;
        case Fault::InvalidArgument:
            r.status = 400;
            r.headers = json;
            r.body = R"({"error":{"code":400,"message":"Request contains an invalid argument.",)"
                     R"("status":"INVALID_ARGUMENT"}})";
            break;
        case Fault::InvalidCredentials:
            r.status = 401;
            r.body = "Invalid Credentials";
            break;
        case Fault::Slow:
            r.hold = seconds <= 0;
            r.delay = seconds;
            r.passThrough = true;
            break;
        case Fault::Drop:
            r.body = std::string(4096, ' ');
            r.dropMidBody = true;
            break;
    }
    script(prefix, std::move(r), times);
}

int64_t Thread::lastTimeMs() const {
    int64_t last = 0;
    for (const auto& m : items) last = std::max(last, m.startTimeMs);
    return last;
}

bool Thread::isText() const {
    for (const auto& m : items)
        if (m.type == "smsIn" || m.type == "smsOut") return true;
    return false;
}

bool Thread::isVoicemail() const {
    for (const auto& m : items)
        if (m.type == "voicemail" || m.type == "recording") return true;
    return false;
}

Thread* Account::thread(const std::string& id) {
    for (auto& t : threads)
        if (t.id == id) return &t;
    return nullptr;
}

Account sampleAccount() {
    Account a;
    a.phones = {{"Mobile", "+15550111", true, true}, {"Office", "+15550122", false, true}};
    Thread t1;
    t1.id = "t.+15550133";
    t1.read = false;
    t1.numbers = {"+15550133"};
    t1.items = {{"m1", 1'700'000'000'000, "Hello there", "+15550133", "smsIn"},
                {"m2", 1'700'000'060'000, "Hi!", "", "smsOut"}};
    Thread t2;
    t2.id = "t.+15550144";
    t2.numbers = {"+15550144"};
    t2.items = {{"v1", 1'700'000'100'000, "Please call me back", "+15550144", "voicemail", 14}};
    a.threads = {t1, t2};
    a.media["v1"] = {"audio/mpeg", std::string("ID3\x03\x00voicemail-audio", 20)};
    a.media["img1"] = {"image/jpeg", "\xFF\xD8\xFF\xE0jpeg-bytes"};
    return a;
}

}  // namespace emulator
