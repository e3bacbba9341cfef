#include "emulator/ingestion_service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"

namespace emulator {

namespace {

bool readSome(int fd, std::string& buffer) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    char chunk[16384];
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
}

void writeAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

}  // namespace

IngestionService::IngestionService() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    // listen() on a socket whose bind failed would pick a port on every interface: only a socket
    // bound to the loopback address listens, and a service without one answers on port 0.
    socklen_t len = sizeof addr;
    if (listenFd_ >= 0 && bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        listen(listenFd_, 16) == 0 && getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port_ = ntohs(addr.sin_port);
    } else if (listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;  // poll() skips it, so the serving thread only waits to be woken
    }
    if (pipe2(wakeFds_, O_CLOEXEC) != 0) wakeFds_[0] = wakeFds_[1] = -1;
    thread_ = std::thread([this] { serve(); });
}

IngestionService::~IngestionService() {
    if (wakeFds_[1] >= 0) (void)!write(wakeFds_[1], "x", 1);
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    if (wakeFds_[0] >= 0) close(wakeFds_[0]);
    if (wakeFds_[1] >= 0) close(wakeFds_[1]);
}

void IngestionService::script(std::vector<Answer> answers) {
    std::lock_guard lock(mutex_);
    script_.assign(answers.begin(), answers.end());
}

std::vector<IngestionService::Request> IngestionService::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<foundation::Value> IngestionService::logsOfType(const std::string& type) const {
    std::vector<foundation::Value> out;
    for (const auto& request : requests()) {
        const auto& logs = request.json["logs"];
        for (size_t i = 0; i < logs.size(); ++i)
            if (logs.at(i)["type"].stringValue() == type) out.push_back(logs.at(i));
    }
    return out;
}

size_t IngestionService::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool IngestionService::waitForRequests(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

std::optional<std::string> IngestionService::gunzip(const std::string& data) {
    z_stream stream{};
    if (inflateInit2(&stream, 31) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buffer[16384];
    int result;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    } while (result == Z_OK);
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    return out;
}

void IngestionService::serve() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        handle(fd);
        close(fd);
    }
}

// One request per connection is all the SDK's transport needs; keep-alive is answered with
// "Connection: close" so the client opens a fresh one.
void IngestionService::handle(int fd) {
    std::string buffer;
    size_t headerEnd;
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!readSome(fd, buffer) || buffer.size() > (1u << 20)) return;
    }
    Request request;
    std::string head = buffer.substr(0, headerEnd);
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    size_t sp1 = requestLine.find(' '), sp2 = requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 <= sp1) return;
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            request.headers[foundation::asciiLowercase(line.substr(0, colon))] = value;
        }
        pos = end + 2;
    }
    size_t length = 0;
    if (auto it = request.headers.find("content-length"); it != request.headers.end()) {
        length = static_cast<size_t>(std::strtoull(it->second.c_str(), nullptr, 10));
    }
    if (length > (64u << 20)) return;
    std::string body = buffer.substr(headerEnd + 4);
    while (body.size() < length) {
        if (!readSome(fd, body)) return;
    }
    request.rawBody = body.substr(0, length);
    request.body = request.rawBody;
    if (foundation::asciiLowercase(request.header("content-encoding")) == "gzip") {
        auto plain = gunzip(request.rawBody);
        request.gunzipFailed = !plain;
        if (plain) request.body = *plain;
    }
    if (auto parsed = foundation::parseJSON(request.body); parsed.ok()) request.json = parsed.value();

    Answer answer;
    {
        std::lock_guard lock(mutex_);
        if (!script_.empty()) {
            answer = script_.front();
            script_.pop_front();
        }
    }
    // Recorded before answering, so a client that has its answer always finds its request here.
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
    if (answer.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
    if (!answer.drop) {
        std::string response = "HTTP/1.1 " + std::to_string(answer.status) + " Scripted\r\n";
        response += "Content-Type: application/json\r\nConnection: close\r\n";
        if (answer.retryAfterMs) response += "x-zv-retry-after-ms: " + *answer.retryAfterMs + "\r\n";
        response += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n" + answer.body;
        writeAll(fd, response);
    }
}

}  // namespace emulator
