// A voicemail reply of 40 and 200 MB fetched as the app fetches it (the request machinery under
// its voicemail tag, stored in the user's caches folder, the body going to its file as it arrives),
// the same reply kept whole in memory and written at its end (as media were fetched before), and
// the floor: plain libcurl writing the same reply to a file through a small buffer. The service makes the body as it
// sends it and holds none of it, so what the process holds is the client's own. Each side checks its file byte for byte
// and reports its peak memory during the download: the heap, counted at every allocation and free of the process
// (bench_heap), and how far the resident size rose (VmHWM reset through /proc/self/clear_refs before each download).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/connect_app_delegate.h"
#include "bench/bench_emulator.h"
#include "bench/bench_heap.h"
#include "bench/bench_ratio.h"
#include "bench/bench_scratch.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/url_request.h"
#include "service/custom_cookie_jar.h"
#include "service/media_operations.h"
#include "service/request_machinery.h"

namespace {

const hxbench::ScratchFolder scratchFolder("hx-media-bench");

emulator::Emulator& service() { return hxbench::sharedEmulator(); }

// The resident size now, with the peak set to it: what earlier work freed goes back to the system
// first (jemalloc's arenas purged, the C library's heap trimmed), so that it does not hide this
// download's own growth.
double resetPeak() {
    using Mallctl = int (*)(const char*, void*, size_t*, void*, size_t);
    if (auto mallctl = reinterpret_cast<Mallctl>(::dlsym(RTLD_DEFAULT, "mallctl")))
        mallctl("arena.4096.purge", nullptr, nullptr, nullptr, 0);
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return hxbench::statusMiB("VmRSS:");
}

// The download's peak memory, measured around `download` (one call, one reply).
template <class Download>
void measured(benchmark::State& state, Download download) {
    double rise = 0, heap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double start = resetPeak();
        hxbench::openHeapWindow();
        state.ResumeTiming();
        download();
        state.PauseTiming();
        heap = std::max(heap, static_cast<double>(hxbench::closeHeapWindow()) / (1024.0 * 1024.0));
        rise = std::max(rise, hxbench::statusMiB("VmHWM:") - start);
        state.ResumeTiming();
    }
    state.counters["peak_heap_MiB"] = heap;
    state.counters["peak_rss_rise_MiB"] = rise;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (state.range(0) << 20)));
}

// Whether the file holds exactly the generated reply of `bytes`.
bool holdsReply(const std::filesystem::path& file, uint64_t bytes) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    uint64_t at = 0;
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i, ++at)
            if (static_cast<uint8_t>(chunk[static_cast<size_t>(i)]) != emulator::generatedByte(at)) return false;
    }
    return at == bytes;
}

// The app's voicemail download; `whole` sends the same request as one kept whole in memory and
// written out at its end, as every medium was before it went to its file as it arrived.
void voicemailReply(benchmark::State& state, bool whole) {
    const uint64_t bytes = static_cast<uint64_t>(state.range(0)) << 20;
    const std::string id = "vm" + std::to_string(state.range(0));
    service().script("/a/v/" + id, {.generatedBytes = bytes}, -1);
    foundation::setHomeDirectory(scratchFolder.path() / "home");
    auto app = std::make_shared<HX_ConnectAppDelegate>();
    auto& web = HXWebClientOf(*app);
    web.endpoints = HXEndpoints::allAt(service().origin());
    web.cachesDirectory = (scratchFolder.path() / "caches").string();
    auto account = std::make_shared<HX_Account>();
    account->setUsername("bench@example.test");
    account->setAuthV2(std::string("AuthV2"));
    app->setAccount(account);
    app->setCookieJar(std::make_shared<CustomCookieJar>());
    const std::filesystem::path file = app->localURLForMedia(id, "audio/");
    bool arrived = false;
    int tag = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(
        &tag, id, [&](const foundation::Notification&) { arrived = true; });
    auto& loop = dispatch::RunLoop::main();
    measured(state, [&] {
        arrived = false;
        std::filesystem::remove(file);
        if (whole) {
            net::URLRequest request(web.endpoints.mediaBase() + "v/" + id);
            request.setMaximumReplyBytes(256u << 20);
            request.setValue(web.endpoints.servicePageBase(), "Referer");
            app->startAsyncLoadWithRequest(std::move(request), web.endpoints.mediaBase() + "v/_" + id);
        } else {
            HXMediaOperations::of(app)->downloadVMforID(id);
        }
        for (int turns = 0; !arrived && turns < 1'000'000; ++turns) loop.runOnce(1);
    });
    foundation::NotificationCenter::defaultCenter().removeObserver(&tag);
    if (!arrived || !holdsReply(file, bytes)) state.SkipWithError("the reply did not land whole");
    state.counters["bytes"] = static_cast<double>(bytes);
    std::filesystem::remove(file);
}

void BM_VoicemailReply(benchmark::State& state) { voicemailReply(state, false); }
void BM_VoicemailReplyWhole(benchmark::State& state) { voicemailReply(state, true); }

size_t toFile(char* data, size_t size, size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

// The floor: one easy handle writing the reply to a file through the C library's buffer, renamed
// into place at the end.
void BM_VoicemailReplyFloor(benchmark::State& state) {
    const uint64_t bytes = static_cast<uint64_t>(state.range(0)) << 20;
    const std::string id = "vm" + std::to_string(state.range(0));
    service().script("/a/v/" + id, {.generatedBytes = bytes}, -1);
    const std::filesystem::path file = scratchFolder.path() / (id + ".mp3");
    bool ok = true;
    measured(state, [&] {
        CURL* easy = curl_easy_init();
        const std::string url = service().origin() + "/a/v/" + id, temp = file.string() + ".part";
        FILE* out = std::fopen(temp.c_str(), "wb");
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &toFile);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, out);
        ok = ok && out && curl_easy_perform(easy) == CURLE_OK;
        if (out) ok = std::fclose(out) == 0 && ok;
        curl_easy_cleanup(easy);
        std::filesystem::rename(temp, file);
    });
    if (!ok || !holdsReply(file, bytes)) state.SkipWithError("the reply did not land whole");
    state.counters["bytes"] = static_cast<double>(bytes);
    std::filesystem::remove(file);
}

}  // namespace

BENCHMARK(BM_VoicemailReply)->Arg(40)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_VoicemailReplyWhole)->Arg(40)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_VoicemailReplyFloor)->Arg(40)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(2);

HX_BENCH_MAIN_WITH_RATIOS(
    {{"BM_VoicemailReply", "BM_VoicemailReplyFloor", 0, true, {"bytes"}, {"peak_heap_MiB", "peak_rss_rise_MiB"}, {}},
     {"BM_VoicemailReplyWhole",
      "BM_VoicemailReplyFloor",
      0,
      true,
      {"bytes"},
      {"peak_heap_MiB", "peak_rss_rise_MiB"},
      {}}})
