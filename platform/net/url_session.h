// A session of data tasks with completion callbacks: shared headers from its configuration,
// redirects followed, each task's body collected (decoded), and the completion called on the
// session's queue. Tasks run as connections on the transport's loop (the main run loop);
// resume and cancel may be called from any thread. Like connections, sessions keep no cookies.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/net/transport.h"
#include "platform/net/url_request.h"

namespace net {

struct URLSessionConfiguration {
    // Added to every request that does not set the field itself.
    HeaderMap httpAdditionalHeaders;
    // The idle time-out of requests that keep the default interval or give none (0).
    double timeoutIntervalForRequest = 60.0;
    // Null: Transport::shared().
    std::shared_ptr<Transport> transport;

    static URLSessionConfiguration defaultSessionConfiguration() { return {}; }
};

// (data, response, error): a response and its body, or an error (cancelled: -999).
using DataTaskCompletion = std::function<void(const foundation::Data&, const std::optional<HTTPURLResponse>&,
                                              const std::optional<foundation::Error>&)>;

class URLSession;

class URLSessionDataTask : public std::enable_shared_from_this<URLSessionDataTask> {
public:
    enum class State { Suspended, Running, Canceling, Completed };

    void resume();
    // Stops the task; its completion runs once with the cancelled error unless it already ran.
    void cancel();
    State state() const;
    uint64_t taskIdentifier() const { return identifier_; }
    const URLRequest& originalRequest() const { return request_; }

    struct Runner;

private:
    friend class URLSession;
    URLSessionDataTask(std::shared_ptr<URLSession> session, URLRequest request, DataTaskCompletion completion,
                       uint64_t id);
    void complete(const foundation::Data& data, const std::optional<HTTPURLResponse>& response,
                  const std::optional<foundation::Error>& error);

    std::weak_ptr<URLSession> session_;
    std::shared_ptr<Transport> transport_;
    dispatch::QueuePtr queue_;
    URLRequest request_;
    uint64_t identifier_;
    mutable std::mutex mutex_;
    State state_ = State::Suspended;
    DataTaskCompletion completion_;
    std::shared_ptr<Runner> runner_;
};

class URLSession : public std::enable_shared_from_this<URLSession> {
public:
    static std::shared_ptr<URLSession> sharedSession();
    // Completions run on delegateQueue, or on a serial queue of the session's own.
    static std::shared_ptr<URLSession> sessionWithConfiguration(URLSessionConfiguration configuration,
                                                                dispatch::QueuePtr delegateQueue = nullptr);

    std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(URLRequest request, DataTaskCompletion completion);
    std::shared_ptr<URLSessionDataTask> dataTaskWithURL(const std::string& url, DataTaskCompletion completion);

    // No new task starts after either; the second also cancels the running ones.
    void finishTasksAndInvalidate();
    void invalidateAndCancel();

    const URLSessionConfiguration& configuration() const { return configuration_; }
    const dispatch::QueuePtr& delegateQueue() const { return queue_; }

private:
    friend class URLSessionDataTask;
    URLSession(URLSessionConfiguration configuration, dispatch::QueuePtr queue);
    URLRequest prepared(URLRequest request) const;
    bool isInvalidated() const;
    void taskEnded(URLSessionDataTask* task);

    URLSessionConfiguration configuration_;
    dispatch::QueuePtr queue_;
    mutable std::mutex mutex_;
    bool invalidated_ = false;
    uint64_t nextIdentifier_ = 0;
    // The session keeps its tasks alive until they complete, as callers often drop theirs.
    std::vector<std::shared_ptr<URLSessionDataTask>> running_;
};

}  // namespace net
