// Speed of the foundation layer's data formats, each measured beside a peer in the same run.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "platform/foundation/json.h"

using namespace foundation;

namespace {

// About 1 MiB shaped like a thread-list reply: threads, each with a few message dictionaries of
// strings, numbers and booleans.
const std::string& serviceReply() {
    static const std::string text = [] {
        std::mt19937 rng(7);
        const char* words[] = {"hello", "call", "me", "back", "tomorrow", "caf\\u00e9", "ok", "\\ud83d\\ude00",
                               "meeting", "at", "noon", "thanks", "see", "you", "soon"};
        std::string s = "{\"response\":{\"status\":0,\"paginationToken\":\"CAESBAgBEAE\",\"conversation\":[";
        int thread = 0;
        while (s.size() < (1u << 20) - 4096) {
            if (thread) s += ',';
            s += "{\"id\":\"" + std::to_string(100000 + thread) + "a7f\",\"read\":" + (rng() % 2 ? "true" : "false") +
                 ",\"isSpam\":false,\"phoneNumber\":\"+1555" + std::to_string(1000000 + rng() % 8999999) +
                 "\",\"type\":" + std::to_string(rng() % 12) + ",\"view\":[\"allThreads\",\"inbox\"],\"children\":[";
            int n = 1 + static_cast<int>(rng() % 6);
            for (int m = 0; m < n; ++m) {
                if (m) s += ',';
                std::string text;
                int words_n = 3 + static_cast<int>(rng() % 12);
                for (int w = 0; w < words_n; ++w) text += std::string(w ? " " : "") + words[rng() % 15];
                s += "{\"id\":\"m" + std::to_string(thread * 10 + m) + "\",\"startTime\":" +
                     std::to_string(1700000000000LL + static_cast<int64_t>(rng())) +
                     ",\"message\":\"" + text + "\",\"fromMe\":" + (rng() % 2 ? "true" : "false") +
                     ",\"duration\":" + std::to_string(rng() % 600) + ",\"cost\":" + std::to_string(rng() % 100) +
                     ".25,\"attachments\":[],\"senderName\":null}";
            }
            s += "]}";
            ++thread;
        }
        s += "]}}";
        return s;
    }();
    return text;
}

void BM_ParseJSON_Value(benchmark::State& state) {
    const std::string& text = serviceReply();
    for (auto _ : state) {
        auto v = parseJSON(text);
        if (!v.ok()) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseJSON_Value)->Unit(benchmark::kMillisecond);

void BM_ParseJSON_Nlohmann(benchmark::State& state) {
    const std::string& text = serviceReply();
    for (auto _ : state) {
        auto v = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseJSON_Nlohmann)->Unit(benchmark::kMillisecond);

void BM_WriteJSON_Value(benchmark::State& state) {
    Value v = parseJSON(serviceReply()).value();
    for (auto _ : state) benchmark::DoNotOptimize(toJSON(v));
}
BENCHMARK(BM_WriteJSON_Value)->Unit(benchmark::kMillisecond);

void BM_WriteJSON_Nlohmann(benchmark::State& state) {
    auto v = nlohmann::json::parse(serviceReply());
    for (auto _ : state) benchmark::DoNotOptimize(v.dump());
}
BENCHMARK(BM_WriteJSON_Nlohmann)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
