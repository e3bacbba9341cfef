// The telemetry ingestion and collector endpoints for tests: a small HTTP/1.1 server of its own
// on 127.0.0.1 (ephemeral port) that answers from a script (status, retry-after header, delay,
// or a dropped connection) and records every request with its body gunzipped and parsed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/value.h"

namespace emulator {

class IngestionService {
public:
    struct Answer {
        int status = 200;
        std::optional<std::string> retryAfterMs;  // "x-zv-retry-after-ms"
        int delayMs = 0;                          // real time before answering
        bool drop = false;                        // close the connection without an answer
        std::string body = "{}";
    };
    struct Request {
        std::string method;
        std::string target;                          // path and query
        std::map<std::string, std::string> headers;  // names in lower case
        std::string rawBody;
        std::string body;  // gunzipped when the request said so
        bool gunzipFailed = false;
        foundation::Value json;  // null when the body is not JSON
        std::string header(const std::string& lowerName) const {
            auto it = headers.find(lowerName);
            return it == headers.end() ? std::string() : it->second;
        }
    };

    IngestionService();
    ~IngestionService();
    IngestionService(const IngestionService&) = delete;
    IngestionService& operator=(const IngestionService&) = delete;

    uint16_t port() const { return port_; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Answers used in order; when the script is empty every request gets 200.
    void script(std::vector<Answer> answers);
    std::vector<Request> requests() const;
    // Every log of the given "type" in the recorded requests' {"logs": [...]}, in arrival order.
    std::vector<foundation::Value> logsOfType(const std::string& type) const;
    size_t requestCount() const;
    // Real-time bound: returns whether n requests arrived within timeout.
    bool waitForRequests(size_t n, std::chrono::milliseconds timeout) const;

    static std::optional<std::string> gunzip(const std::string& data);

private:
    void serve();
    void handle(int fd);

    int listenFd_ = -1;
    uint16_t port_ = 0;
    int wakeFds_[2] = {-1, -1};
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Answer> script_;
    std::vector<Request> requests_;
};

}  // namespace emulator
