#include "platform/net/url_session.h"

#include <algorithm>

#include "platform/net/url_connection.h"
#include "platform/net/url_error.h"

namespace net {

// The connection side of a task; lives on the transport's loop.
struct URLSessionDataTask::Runner : URLConnectionDelegate {
    std::weak_ptr<URLSessionDataTask> task;
    std::shared_ptr<URLConnection> connection;
    foundation::Data data;
    std::optional<HTTPURLResponse> response;

    void didReceiveResponse(URLConnection&, const HTTPURLResponse& r) override {
        response = r;
        data.clear();
    }
    void didReceiveData(URLConnection&, const uint8_t* bytes, size_t size) override {
        data.insert(data.end(), bytes, bytes + size);
    }
    void didFinishLoading(URLConnection&) override {
        if (auto t = task.lock()) t->complete(data, response, std::nullopt);
        connection.reset();
    }
    void didFailWithError(URLConnection&, const foundation::Error& error) override {
        if (auto t = task.lock()) t->complete({}, std::nullopt, error);
        connection.reset();
    }
};

URLSessionDataTask::URLSessionDataTask(std::shared_ptr<URLSession> session, URLRequest request,
                                       DataTaskCompletion completion, uint64_t id)
    : session_(session),
      transport_(session->configuration_.transport ? session->configuration_.transport : Transport::shared()),
      queue_(session->queue_),
      request_(std::move(request)),
      identifier_(id),
      completion_(std::move(completion)) {}

URLSessionDataTask::State URLSessionDataTask::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void URLSessionDataTask::resume() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Suspended) return;
        state_ = State::Running;
    }
    auto session = session_.lock();
    if (!session || session->isInvalidated()) {
        complete({}, std::nullopt, urlError(kURLErrorCancelled, request_.url()));
        return;
    }
    auto self = shared_from_this();
    transport_->loop().post([self] {
        {
            std::lock_guard lock(self->mutex_);
            if (self->state_ != State::Running) return;
        }
        auto runner = std::make_shared<Runner>();
        runner->task = self;
        runner->connection = URLConnection::create(self->request_, runner, true, self->transport_);
        std::lock_guard lock(self->mutex_);
        self->runner_ = runner;
    });
}

void URLSessionDataTask::cancel() {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Completed || state_ == State::Canceling) return;
        state_ = State::Canceling;
    }
    auto self = shared_from_this();
    // The connection is touched only on its loop.
    transport_->loop().post([self] {
        std::shared_ptr<Runner> runner;
        {
            std::lock_guard lock(self->mutex_);
            runner = std::move(self->runner_);
        }
        if (runner && runner->connection) runner->connection->cancel();
    });
    complete({}, std::nullopt, urlError(kURLErrorCancelled, request_.url()));
}

void URLSessionDataTask::complete(const foundation::Data& data, const std::optional<HTTPURLResponse>& response,
                                  const std::optional<foundation::Error>& error) {
    DataTaskCompletion completion;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Completed) return;
        state_ = State::Completed;
        completion = std::move(completion_);
        completion_ = nullptr;
        runner_.reset();
    }
    if (auto session = session_.lock()) session->taskEnded(this);
    if (!completion) return;
    queue_->async([completion = std::move(completion), data, response, error] { completion(data, response, error); });
}

URLSession::URLSession(URLSessionConfiguration configuration, dispatch::QueuePtr queue)
    : configuration_(std::move(configuration)), queue_(std::move(queue)) {}

std::shared_ptr<URLSession> URLSession::sharedSession() {
    static std::shared_ptr<URLSession> shared =
        sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
    return shared;
}

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(URLSessionConfiguration configuration,
                                                                 dispatch::QueuePtr delegateQueue) {
    if (!delegateQueue) delegateQueue = dispatch::Queue::serial("com.hxconnect.urlsession.delegate");
    return std::shared_ptr<URLSession>(new URLSession(std::move(configuration), std::move(delegateQueue)));
}

URLRequest URLSession::prepared(URLRequest request) const {
    for (const auto& [name, value] : configuration_.httpAdditionalHeaders.fields())
        if (!request.allHTTPHeaderFields().contains(name)) request.setValue(value, name);
    // A request that keeps the default interval, or names none (0), gets the session's.
    if (request.timeoutInterval() == 60.0 || !(request.timeoutInterval() > 0))
        request.setTimeoutInterval(configuration_.timeoutIntervalForRequest);
    return request;
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(URLRequest request, DataTaskCompletion completion) {
    uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = ++nextIdentifier_;
    }
    auto task = std::shared_ptr<URLSessionDataTask>(
        new URLSessionDataTask(shared_from_this(), prepared(std::move(request)), std::move(completion), id));
    std::lock_guard lock(mutex_);
    running_.push_back(task);
    return task;
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithURL(const std::string& url, DataTaskCompletion completion) {
    return dataTaskWithRequest(URLRequest(url), std::move(completion));
}

bool URLSession::isInvalidated() const {
    std::lock_guard lock(mutex_);
    return invalidated_;
}

void URLSession::taskEnded(URLSessionDataTask* task) {
    std::shared_ptr<URLSessionDataTask> ended;  // released outside the lock
    std::lock_guard lock(mutex_);
    auto it = std::find_if(running_.begin(), running_.end(), [task](const auto& t) { return t.get() == task; });
    if (it == running_.end()) return;
    ended = std::move(*it);
    running_.erase(it);
}

void URLSession::finishTasksAndInvalidate() {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
}

void URLSession::invalidateAndCancel() {
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
        tasks = running_;
    }
    for (auto& t : tasks) t->cancel();
}

}  // namespace net
