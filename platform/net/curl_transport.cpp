#include "platform/net/curl_transport.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/net/response_head.h"
#include "platform/net/url_error.h"

namespace net {

namespace {

std::once_flag gCurlInit;

int64_t mapCurlError(CURLcode code, long osErrno) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kURLErrorCannotFindHost;
        case CURLE_COULDNT_CONNECT:
            if (osErrno == ENETUNREACH || osErrno == ENETDOWN) return kURLErrorNotConnectedToInternet;
            return kURLErrorCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return kURLErrorTimedOut;
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return kURLErrorNetworkConnectionLost;
        case CURLE_URL_MALFORMAT:
            return kURLErrorBadURL;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kURLErrorUnsupportedURL;
        case CURLE_WEIRD_SERVER_REPLY:
            return kURLErrorBadServerResponse;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return kURLErrorServerCertificateUntrusted;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return kURLErrorSecureConnectionFailed;
        default:
            return kURLErrorUnknown;
    }
}

// The verbose trace (HX_CURL_VERBOSE) goes through here instead of curl's own printer, so that
// no log line carries a token or a session cookie. Bodies are left out as curl's printer does.
int verboseTrace(CURL*, curl_infotype type, char* data, size_t size, void*) {
    const char* mark = nullptr;
    switch (type) {
        case CURLINFO_TEXT:
            mark = "* ";
            break;
        case CURLINFO_HEADER_IN:
            mark = "< ";
            break;
        case CURLINFO_HEADER_OUT:
            mark = "> ";
            break;
        default:
            return 0;
    }
    std::string out;
    std::string masked = maskCredentialHeaderLines(std::string_view(data, size));
    size_t from = 0;
    while (from < masked.size()) {
        size_t end = masked.find('\n', from);
        size_t next = end == std::string::npos ? masked.size() : end + 1;
        out += mark;
        out.append(masked, from, next - from);
        if (end == std::string::npos) out += '\n';
        from = next;
    }
    std::fwrite(out.data(), 1, out.size(), stderr);
    return 0;
}

}  // namespace

std::string maskCredentialHeaderLines(std::string_view text) {
    static constexpr std::string_view kSecretFields[] = {"Authorization", "Proxy-Authorization", "Cookie",
                                                         "Set-Cookie"};
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(from, next - from);
        size_t colon = line.find(':');
        bool secret = false;
        if (colon != std::string_view::npos) {
            std::string_view name = line.substr(0, colon);
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
            for (auto field : kSecretFields) secret = secret || equalsIgnoringCase(name, field);
        }
        if (secret) {
            out.append(line.substr(0, colon + 1));
            out += " ***";
            size_t content = line.find_last_not_of("\r\n");
            out.append(line.substr(content == std::string_view::npos ? 0 : content + 1));
        } else {
            out.append(line);
        }
        from = next;
    }
    return out;
}

// One easy handle and what it has told its client so far.
struct CurlExchangeState {
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    TransportClient* client = nullptr;  // null once cancelled
    std::string url;
    foundation::Data body;
    ResponseHeadParser head{std::string()};
    bool responseDelivered = false;
    curl_off_t lastDown = 0, lastUp = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
};

struct CurlTransport::Impl : std::enable_shared_from_this<CurlTransport::Impl> {
    EventLoop& loop;
    CURLM* multi = nullptr;
    uint64_t timerId = 0;
    bool timerArmed = false;
    std::map<CURL*, std::shared_ptr<CurlExchangeState>> active;
    std::function<bool(const std::string&)> networkAvailable;
    bool processing = false;  // inside curl_multi_socket_action: removals wait

    explicit Impl(EventLoop& l) : loop(l) {}

    ~Impl() {
        for (auto& [easy, state] : active) release(*state);
        active.clear();
        if (timerArmed) loop.cancelTimer(timerId);
        if (multi) curl_multi_cleanup(multi);
    }

    void release(CurlExchangeState& s) {
        if (s.easy) {
            curl_multi_remove_handle(multi, s.easy);
            curl_easy_cleanup(s.easy);
            s.easy = nullptr;
        }
        if (s.headerList) curl_slist_free_all(s.headerList);
        s.headerList = nullptr;
    }

    // The fd registration of a curl socket, kept as curl's per-socket pointer.
    struct SocketSource {
        uint64_t id = 0;
    };

    static int socketCallback(CURL*, curl_socket_t fd, int what, void* userp, void* socketp) {
        auto* self = static_cast<Impl*>(userp);
        auto* source = static_cast<SocketSource*>(socketp);
        if (what == CURL_POLL_REMOVE) {
            if (source) {
                self->loop.removeFd(source->id);
                delete source;
                curl_multi_assign(self->multi, fd, nullptr);
            }
            return 0;
        }
        int events = 0;
        if (what == CURL_POLL_IN || what == CURL_POLL_INOUT) events |= EventLoop::Readable;
        if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT) events |= EventLoop::Writable;
        if (source) {
            self->loop.updateFd(source->id, events);
        } else {
            source = new SocketSource;
            std::weak_ptr<Impl> weak = self->weak_from_this();
            source->id = self->loop.addFd(fd, events, [weak](int readyFd, int readyEvents) {
                if (auto impl = weak.lock()) impl->onSocket(readyFd, readyEvents);
            });
            curl_multi_assign(self->multi, fd, source);
        }
        return 0;
    }

    static int timerCallback(CURLM*, long timeoutMs, void* userp) {
        auto* self = static_cast<Impl*>(userp);
        if (self->timerArmed) {
            self->loop.cancelTimer(self->timerId);
            self->timerArmed = false;
        }
        if (timeoutMs < 0) return 0;
        std::weak_ptr<Impl> weak = self->weak_from_this();
        self->timerArmed = true;
        self->timerId = self->loop.scheduleTimer(static_cast<double>(timeoutMs) / 1000.0, [weak] {
            if (auto impl = weak.lock()) {
                impl->timerArmed = false;
                impl->drive(CURL_SOCKET_TIMEOUT, 0);
            }
        });
        return 0;
    }

    void onSocket(int fd, int events) {
        int mask = 0;
        if (events & EventLoop::Readable) mask |= CURL_CSELECT_IN;
        if (events & EventLoop::Writable) mask |= CURL_CSELECT_OUT;
        drive(fd, mask);
    }

    void drive(curl_socket_t fd, int mask) {
        auto keep = shared_from_this();
        int running = 0;
        processing = true;
        curl_multi_socket_action(multi, fd, mask, &running);
        processing = false;
        finishDone();
    }

    void finishDone() {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            CURL* easy = msg->easy_handle;
            CURLcode result = msg->data.result;
            auto it = active.find(easy);
            if (it == active.end()) continue;
            auto state = it->second;
            active.erase(it);
            long osErrno = 0;
            curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
            release(*state);
            TransportClient* client = state->client;
            state->client = nullptr;
            if (!client) continue;
            if (result == CURLE_OK) {
                if (!state->responseDelivered) {
                    client->exchangeDidFail(urlError(kURLErrorBadServerResponse, state->url));
                    continue;
                }
                client->exchangeDidFinish();
            } else {
                client->exchangeDidFail(urlError(mapCurlError(result, osErrno), state->url, state->errorBuffer));
            }
        }
    }

    // Drops a cancelled exchange; inside a curl call it waits until curl has returned.
    void discard(const std::shared_ptr<CurlExchangeState>& state) {
        state->client = nullptr;
        if (processing) {
            std::weak_ptr<Impl> weak = weak_from_this();
            loop.post([weak, state] {
                if (auto impl = weak.lock()) impl->discard(state);
            });
            return;
        }
        if (state->easy) {
            active.erase(state->easy);
            release(*state);
        }
    }

    static size_t headerCallback(char* data, size_t size, size_t count, void* userp) {
        auto* s = static_cast<CurlExchangeState*>(userp);
        size_t length = size * count;
        if (!s->client) return 0;
        if (s->head.addLine(std::string_view(data, length))) {
            s->responseDelivered = true;
            s->client->exchangeDidReceiveResponse(s->head.response());
            if (!s->client) return 0;
        }
        return length;
    }

    static size_t writeCallback(char* data, size_t size, size_t count, void* userp) {
        auto* s = static_cast<CurlExchangeState*>(userp);
        size_t length = size * count;
        if (!s->client) return 0;
        if (!s->responseDelivered) return 0;
        s->client->exchangeDidReceiveData(reinterpret_cast<const uint8_t*>(data), length);
        return s->client ? length : 0;
    }

    static int progressCallback(void* userp, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* s = static_cast<CurlExchangeState*>(userp);
        if (!s->client) return 1;
        if (dlnow != s->lastDown || ulnow != s->lastUp) {
            s->lastDown = dlnow;
            s->lastUp = ulnow;
            s->client->exchangeDidMakeProgress();
        }
        return s->client ? 0 : 1;
    }
};

namespace {

class CurlExchange : public Exchange {
public:
    CurlExchange(std::weak_ptr<CurlTransport::Impl> impl, std::shared_ptr<CurlExchangeState> state)
        : impl_(std::move(impl)), state_(std::move(state)) {}
    ~CurlExchange() override { cancel(); }
    void cancel() override {
        if (!state_) return;
        if (auto impl = impl_.lock())
            impl->discard(state_);
        else
            state_->client = nullptr;
        state_.reset();
    }

private:
    std::weak_ptr<CurlTransport::Impl> impl_;
    std::shared_ptr<CurlExchangeState> state_;
};

// An exchange that fails on the next turn without touching the network.
class FailedExchange : public Exchange {
public:
    FailedExchange(EventLoop& loop, TransportClient& client, foundation::Error error)
        : alive_(std::make_shared<bool>(true)) {
        std::weak_ptr<bool> alive = alive_;
        TransportClient* target = &client;
        loop.post([alive, target, error] {
            if (auto a = alive.lock(); a && *a) {
                *a = false;
                target->exchangeDidFail(error);
            }
        });
    }
    ~FailedExchange() override { cancel(); }
    void cancel() override { *alive_ = false; }

private:
    std::shared_ptr<bool> alive_;
};

}  // namespace

CurlTransport::CurlTransport(EventLoop& loop) : loop_(loop) {}

std::shared_ptr<CurlTransport> CurlTransport::create(EventLoop& loop) {
    std::call_once(gCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    auto transport = std::shared_ptr<CurlTransport>(new CurlTransport(loop));
    auto impl = std::make_shared<Impl>(loop);
    impl->multi = curl_multi_init();
    curl_multi_setopt(impl->multi, CURLMOPT_SOCKETFUNCTION, &Impl::socketCallback);
    curl_multi_setopt(impl->multi, CURLMOPT_SOCKETDATA, impl.get());
    curl_multi_setopt(impl->multi, CURLMOPT_TIMERFUNCTION, &Impl::timerCallback);
    curl_multi_setopt(impl->multi, CURLMOPT_TIMERDATA, impl.get());
    curl_multi_setopt(impl->multi, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
    transport->impl_ = impl;
    return transport;
}

CurlTransport::~CurlTransport() = default;

void CurlTransport::setNetworkAvailable(std::function<bool(const std::string&)> available) {
    impl_->networkAvailable = std::move(available);
}

std::unique_ptr<Exchange> CurlTransport::start(const URLRequest& request, TransportClient& client) {
    if (impl_->networkAvailable && !impl_->networkAvailable(request.url()))
        return std::make_unique<FailedExchange>(loop_, client,
                                                urlError(kURLErrorNotConnectedToInternet, request.url()));
    if (auto unsafe = unsafeRequestField(request.allHTTPHeaderFields()))
        return std::make_unique<FailedExchange>(
            loop_, client, urlError(kURLErrorUnknown, request.url(), "request not sent: " + *unsafe));
    auto state = std::make_shared<CurlExchangeState>();
    state->client = &client;
    state->url = request.url();
    state->head = ResponseHeadParser(state->url);
    state->body = request.httpBody();
    CURL* easy = curl_easy_init();
    if (!easy) return std::make_unique<FailedExchange>(loop_, client, urlError(kURLErrorUnknown, request.url()));
    state->easy = easy;
    curl_easy_setopt(easy, CURLOPT_URL, state->url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, state->errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::headerCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, state.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::writeCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, state.get());
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Impl::progressCallback);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, state.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, state.get());
    if (getenv("HX_CURL_VERBOSE")) {
        curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &verboseTrace);
        curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    }

    const std::string& method = request.httpMethod();
    bool hasBody = !state->body.empty();
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method != "GET" || hasBody) {
        if (hasBody || method == "POST" || method == "PUT" || method == "PATCH") {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, reinterpret_cast<const char*>(state->body.data()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(state->body.size()));
        }
        if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    bool sawExpect = false, sawAccept = false;
    for (const auto& [name, value] : request.allHTTPHeaderFields().fields()) {
        // Curl writes Content-Length itself from the body; a second one would be a protocol error.
        if (equalsIgnoringCase(name, "Content-Length")) continue;
        if (equalsIgnoringCase(name, "Expect")) sawExpect = true;
        if (equalsIgnoringCase(name, "Accept")) sawAccept = true;
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        state->headerList = curl_slist_append(state->headerList, line.c_str());
    }
    // Bodies go out at once; no interim 100-continue round trip.
    if (!sawExpect) state->headerList = curl_slist_append(state->headerList, "Expect:");
    if (!sawAccept) state->headerList = curl_slist_append(state->headerList, "Accept: */*");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, state->headerList);

    if (curl_multi_add_handle(impl_->multi, easy) != CURLM_OK) {
        impl_->release(*state);
        return std::make_unique<FailedExchange>(loop_, client, urlError(kURLErrorUnknown, request.url()));
    }
    impl_->active[easy] = state;
    return std::make_unique<CurlExchange>(impl_, state);
}

}  // namespace net
