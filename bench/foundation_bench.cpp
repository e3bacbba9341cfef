// Speed of the foundation layer's data formats, each measured beside a peer in the same run.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "platform/foundation/json.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/property_list.h"

using namespace foundation;

namespace {

// About 1 MiB shaped like a thread-list reply: threads, each with a few message dictionaries of
// strings, numbers and booleans.
const std::string& serviceReply() {
    static const std::string text = [] {
        std::mt19937 rng(7);
        const char* words[] = {"hello",   "call", "me",   "back",   "tomorrow", "caf\\u00e9", "ok",  "\\ud83d\\ude00",
                               "meeting", "at",   "noon", "thanks", "see",      "you",        "soon"};
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
                s += "{\"id\":\"m" + std::to_string(thread * 10 + m) +
                     "\",\"startTime\":" + std::to_string(1700000000000LL + static_cast<int64_t>(rng())) +
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

// A small archivable record, like a linked phone or a cookie.
struct BenchItem : Archivable {
    std::string name;
    int64_t id = 0;
    bool flag = false;
    double score = 0;
    std::string className() const override { return "BenchItem"; }
    void encode(Coder& c) const override {
        c.encodeString("name", name);
        c.encodeInt64("id", id);
        c.encodeBool("flag", flag);
        c.encodeDouble("score", score);
    }
    static std::shared_ptr<BenchItem> decode(Decoder& d) {
        auto item = std::make_shared<BenchItem>();
        item->name = d.decodeString("name").value_or("");
        item->id = d.decodeInt64("id");
        item->flag = d.decodeBool("flag");
        item->score = d.decodeDouble("score");
        return item;
    }
};

constexpr int kArchiveItems = 10000;

const std::vector<std::shared_ptr<BenchItem>>& benchItems() {
    static const auto items = [] {
        ArchiveClassRegistry::shared().registerClass<BenchItem>("BenchItem");
        std::vector<std::shared_ptr<BenchItem>> list;
        for (int i = 0; i < kArchiveItems; ++i) {
            auto item = std::make_shared<BenchItem>();
            item->name = "item " + std::to_string(i);
            item->id = i * 7919LL;
            item->flag = i % 3 == 0;
            item->score = i * 0.5;
            list.push_back(item);
        }
        return list;
    }();
    return items;
}

// The same records as plain dictionaries: what a bare binary property list of them costs.
const Value& benchValues() {
    static const Value v = [] {
        Array list;
        for (const auto& item : benchItems()) {
            list.push_back(
                Dictionary{{"name", item->name}, {"id", item->id}, {"flag", item->flag}, {"score", item->score}});
        }
        return Value(std::move(list));
    }();
    return v;
}

void BM_Archive_Encode10k(benchmark::State& state) {
    const auto& items = benchItems();
    for (auto _ : state) benchmark::DoNotOptimize(archivedDataWithArray(items));
    state.SetItemsProcessed(state.iterations() * kArchiveItems);
}
BENCHMARK(BM_Archive_Encode10k)->Unit(benchmark::kMillisecond);

void BM_Archive_Decode10k(benchmark::State& state) {
    const Data data = archivedDataWithArray(benchItems()).value();
    for (auto _ : state) {
        auto list = unarchivedArray<BenchItem>(data);
        if (!list.ok() || list.value().size() != kArchiveItems) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(list);
    }
    state.SetItemsProcessed(state.iterations() * kArchiveItems);
}
BENCHMARK(BM_Archive_Decode10k)->Unit(benchmark::kMillisecond);

void BM_PlainPlist_Write10k(benchmark::State& state) {
    const Value& v = benchValues();
    for (auto _ : state) benchmark::DoNotOptimize(writeBinaryPropertyList(v));
    state.SetItemsProcessed(state.iterations() * kArchiveItems);
}
BENCHMARK(BM_PlainPlist_Write10k)->Unit(benchmark::kMillisecond);

void BM_PlainPlist_Read10k(benchmark::State& state) {
    const Data data = writeBinaryPropertyList(benchValues()).value();
    for (auto _ : state) benchmark::DoNotOptimize(readPropertyList(data));
    state.SetItemsProcessed(state.iterations() * kArchiveItems);
}
BENCHMARK(BM_PlainPlist_Read10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
