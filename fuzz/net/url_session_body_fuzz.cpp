// Reply bodies as a session's data task receives them, plain or encoded, in pieces of any size:
// a plain body arrives byte for byte, an encoded one as its decoder reads the whole of it, and a
// body the decoder refuses or that ends before its stream does ends the task with an error. The
// completion comes exactly once.
// Layout: byte 0 picks the encoding, byte 1 the size of the pieces (0: one piece), the rest is
// the body.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/dispatch/run_loop.h"
#include "platform/net/content_decoder.h"
#include "platform/net/event_loop.h"
#include "platform/net/scripted_transport.h"
#include "platform/net/url_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static constexpr std::string_view kEncodings[] = {"", "gzip", "deflate"};
    const std::string_view encoding = kEncodings[data[0] % 3];
    const std::string body(reinterpret_cast<const char*>(data + 2), size - 2);

    // What the body must become: itself, or its whole decoding.
    bool decodable = true;
    foundation::Data expected(body.begin(), body.end());
    if (!encoding.empty()) {
        expected.clear();
        auto decoder = net::ContentDecoder::forEncoding(encoding);
        if (!decoder) std::abort();
        decodable = decoder->decode(reinterpret_cast<const uint8_t*>(body.data()), body.size(), expected).ok() &&
                    decoder->finished();
    }

    static auto transport = net::ScriptedTransport::create(net::EventLoop::main());
    net::HeaderMap headers;
    headers.set("Content-Type", "application/octet-stream");
    if (!encoding.empty()) headers.set("Content-Encoding", encoding);
    auto reply = net::ScriptedTransport::Reply::ok(body, headers);
    reply.chunkSize = data[1];
    transport->enqueue(std::move(reply));

    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.transport = transport;
    auto session = net::URLSession::sessionWithConfiguration(std::move(configuration));
    struct Outcome {
        std::mutex mutex;
        int calls = 0;
        foundation::Data data;
        bool failed = false;
    };
    auto outcome = std::make_shared<Outcome>();
    auto task = session->dataTaskWithURL(
        "https://media.test/body", [outcome](const foundation::Data& d, const std::optional<net::HTTPURLResponse>&,
                                             const std::optional<foundation::Error>& error) {
            std::lock_guard lock(outcome->mutex);
            ++outcome->calls;
            outcome->data = d;
            outcome->failed = error.has_value();
        });
    task->resume();
    auto finished = [&] {
        std::lock_guard lock(outcome->mutex);
        return outcome->calls > 0;
    };
    for (int turn = 0; turn < 100000 && !finished(); ++turn) dispatch::RunLoop::main().runOnce(0.001);
    session->finishTasksAndInvalidate();
    for (int turn = 0; turn < 10; ++turn) dispatch::RunLoop::main().runOnce(0);
    std::lock_guard lock(outcome->mutex);
    if (outcome->calls != 1) std::abort();
    if (encoding.empty() || body.empty()) {
        if (outcome->failed || outcome->data != expected) std::abort();
    } else if (decodable) {
        if (outcome->failed || outcome->data != expected) std::abort();
    } else if (!outcome->failed) {
        std::abort();  // a broken or cut-off encoded body is never taken for a reply
    }
    return 0;
}
