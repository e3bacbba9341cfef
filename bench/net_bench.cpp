// 1,000 GET requests to the emulated service over loopback: through the connection layer as the
// app runs it (libcurl multi on the main run loop, delegate callbacks) against plain libcurl easy
// requests on one reused handle. Both keep their connection alive, so the difference is the
// layer's own cost.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "app/connect_app_delegate.h"
#include "bench/bench_emulator.h"
#include "emulator/emulator.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/curl_transport.h"
#include "platform/net/url_connection.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"

namespace {

constexpr int kRequests = 1000;

emulator::Emulator& service() { return hxbench::sharedEmulator(); }

// The emulator records every request it serves; cleared after each iteration (outside the timing)
// so that its log stays at one iteration's thousand requests however long the run.
void forgetRequests(benchmark::State& state) {
    state.PauseTiming();
    service().clearRequests();
    state.ResumeTiming();
}

class CountingDelegate : public net::URLConnectionDelegate {
public:
    size_t bytes = 0;
    bool done = false;
    bool failed = false;
    void didReceiveData(net::URLConnection&, const uint8_t*, size_t size) override { bytes += size; }
    void didFinishLoading(net::URLConnection&) override { done = true; }
    void didFailWithError(net::URLConnection&, const foundation::Error&) override { done = failed = true; }
};

void BM_ConnectionLayer(benchmark::State& state) {
    const std::string url = service().origin() + "/accounts/AccountLogin";
    auto& loop = dispatch::RunLoop::main();
    auto transport = net::CurlTransport::create(net::EventLoop::main());
    size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            auto delegate = std::make_shared<CountingDelegate>();
            net::URLRequest request(url);
            request.setValue("gzip, deflate", "Accept-Encoding");
            auto c = net::URLConnection::create(request, delegate, true, transport);
            while (!delegate->done) loop.runOnce(1);
            if (delegate->failed) state.SkipWithError("request failed");
            bytes += delegate->bytes;
        }
        forgetRequests(state);
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
    benchmark::DoNotOptimize(bytes);
}

size_t discard(char*, size_t size, size_t count, void* userp) {
    *static_cast<size_t*>(userp) += size * count;
    return size * count;
}

// The peer: one reused easy handle asking for url kRequests times per iteration.
void plainCurlEasy(benchmark::State& state, const std::string& url) {
    CURL* easy = curl_easy_init();
    size_t bytes = 0;
    curl_slist* headers = curl_slist_append(nullptr, "Accept-Encoding: gzip, deflate");
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bytes);
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i)
            if (curl_easy_perform(easy) != CURLE_OK) state.SkipWithError("request failed");
        forgetRequests(state);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
    state.SetItemsProcessed(state.iterations() * kRequests);
    benchmark::DoNotOptimize(bytes);
}

void BM_PlainCurlEasy(benchmark::State& state) { plainCurlEasy(state, service().origin() + "/accounts/AccountLogin"); }

// The request machinery as the app uses it: each request under a tag of its own, its cookies from
// the jar, its reply collected and routed (a list reply, posted to its observer), the table
// entry removed; against plain easy requests for the same URL.
const std::string& benchURL() {
    static const std::string url = [] {
        service().script("/voice/inbox/recent/sms/",
                         {.body = std::string(2048, 'm'), .headers = {{"Set-Cookie", "HXB=1; Path=/"}}}, -1);
        return service().origin() + "/voice/inbox/recent/sms/";
    }();
    return url;
}

void BM_TaggedRequests(benchmark::State& state) {
    const std::string url = benchURL();
    auto& loop = dispatch::RunLoop::main();
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    HXWebClientOf(*app).endpoints = HXEndpoints::allAt(service().origin());
    app->setCookieJar(std::make_shared<CustomCookieJar>());
    int replies = 0;
    size_t bytes = 0;
    auto answer = [&](std::shared_ptr<foundation::Data> data) {
        ++replies;
        if (data) bytes += data->size();
    };
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            const int before = replies;
            app->startAsyncLoadWithRequest(net::URLRequest(url), url + std::to_string(i), answer);
            while (replies == before) loop.runOnce(1);
        }
        forgetRequests(state);
    }
    if (bytes != static_cast<size_t>(replies) * 2048) state.SkipWithError("replies incomplete");
    state.SetItemsProcessed(state.iterations() * kRequests);
}

void BM_PlainCurlEasySameURL(benchmark::State& state) { plainCurlEasy(state, benchURL()); }

}  // namespace

BENCHMARK(BM_TaggedRequests)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainCurlEasySameURL)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TaggedRequests)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainCurlEasySameURL)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ConnectionLayer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainCurlEasy)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ConnectionLayer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainCurlEasy)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
