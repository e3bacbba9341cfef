// Runs the emulated service until interrupted, printing the origin to point the app at (and, with
// --ingestion, on a second line the origin of a telemetry ingestion endpoint beside it).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <time.h>
#include <vector>

#include "emulator/emulator.h"
#include "emulator/incoming_texts.h"
#include "emulator/ingestion_service.h"
#include "emulator/playback_media.h"
#include "platform/foundation/sanitizer_suppressions.h"

// Races and leaks inside prebuilt libraries are not ours to mend (one list for the app, the
// emulator and the test processes).
HX_SANITIZER_SUPPRESSIONS();

namespace {

constexpr const char* kUsage =
    "usage: hx_emulator [options]\n"
    "Serves the emulated HX Voice service on 127.0.0.1 and prints its origin.\n"
    "\n"
    "  --seed N        seed of the generated account (the same seed gives the same account)\n"
    "  --threads N     text-message threads to generate\n"
    "  --voicemail N   voicemail threads to generate (default 0)\n"
    "  --calls N       call-history threads to generate (default 0)\n"
    "  --spam N        text threads filed as spam (default 0)\n"
    "  --archived N    archived text threads (default 0)\n"
    "  --items N       items per text thread (default 10)\n"
    "  --user NAME     the account's user name (default user@example.test)\n"
    "  --account NAME  another account the service knows, generated as the first one is from the\n"
    "                  next seed (may be given more than once); signing in picks the one served\n"
    "  --port N        listen on this port instead of an ephemeral one\n"
    "  --consent       put the new-features page between sign-in and the service page\n"
    "  --media         real voicemail and recording audio (65 s MP3s) and a thread with two videos\n"
    "                  (in every account, a kept state's too)\n"
    "  --conversations add the threads a conversation is tried on (1,000 and 350 messages,\n"
    "                  right-to-left texts, every attachment kind, every call type; in every\n"
    "                  account, a kept state's too)\n"
    "  --texts-every S a text arrives for the account served every S seconds (0, the default:\n"
    "                  never), the first S seconds after the start, in turn from the number of\n"
    "                  its newest text thread and from a new number; POST /emulator/deliver-text\n"
    "                  (?from=new) delivers one on demand whatever S is\n"
    "  --ingestion     also serve the telemetry ingestion endpoint; its origin is the second line\n"
    "  --state FILE    keep the service's state (account, sessions, threads, sent texts) in FILE:\n"
    "                  read back when FILE exists (the account options then change nothing),\n"
    "                  written after every change\n"
    "  --help          this text\n"
    "\n"
    "Without --seed or --threads the small sample account is served.\n";

bool number(const char* text, long long low, long long high, long long& out) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The stop signals are blocked before any thread starts (the servers' threads inherit the mask)
    // and taken by this thread alone, which waits for one below: no handler runs on another thread
    // beside this one, and one sent early stops the service as soon as it is up.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    emulator::GeneratorOptions options;
    bool generated = false, consent = false, ingestion = false, media = false, conversations = false;
    long long port = 0, textsEvery = 0;
    std::string user, stateFile;
    std::vector<std::string> otherUsers;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--consent") {
            consent = true;
            continue;
        }
        if (arg == "--conversations") {
            options.conversationThreads = true;
            conversations = true;
            generated = true;
            continue;
        }
        if (arg == "--ingestion") {
            ingestion = true;
            continue;
        }
        if (arg == "--media") {
            media = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "hx_emulator: %s needs a value\n%s", arg.c_str(), kUsage);
            return 2;
        }
        const char* value = argv[++i];
        long long v = 0;
        bool ok = true;
        if (arg == "--seed") {
            ok = number(value, 0, INT64_MAX, v);
            options.seed = static_cast<uint64_t>(v);
            generated = true;
        } else if (arg == "--threads") {
            ok = number(value, 0, 1000000, v);
            options.smsThreads = static_cast<int>(v);
            generated = true;
        } else if (arg == "--voicemail") {
            ok = number(value, 0, 1000000, v);
            options.voicemailThreads = static_cast<int>(v);
            generated = true;
        } else if (arg == "--calls") {
            ok = number(value, 0, 1000000, v);
            options.callThreads = static_cast<int>(v);
            generated = true;
        } else if (arg == "--spam" || arg == "--archived") {
            ok = number(value, 0, 1000000, v);
            (arg == "--spam" ? options.spamThreads : options.archivedThreads) = static_cast<int>(v);
            generated = true;
        } else if (arg == "--items") {
            ok = number(value, 1, 1000, v);
            options.itemsPerThread = static_cast<int>(v);
        } else if (arg == "--texts-every") {
            ok = number(value, 0, 86400 * 365, textsEvery);
        } else if (arg == "--port") {
            ok = number(value, 1, 65535, port);
        } else if (arg == "--user") {
            user = value;
            ok = !user.empty();
        } else if (arg == "--account") {
            otherUsers.emplace_back(value);
            ok = !otherUsers.back().empty();
        } else if (arg == "--state") {
            stateFile = value;
            ok = !stateFile.empty();
        } else {
            std::fprintf(stderr, "hx_emulator: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "hx_emulator: bad value for %s: %s\n", arg.c_str(), value);
            return 2;
        }
    }
    emulator::Account account = generated ? emulator::generateAccount(options) : emulator::sampleAccount();
    if (!user.empty()) account.username = user;
    account.consentPending = consent;
    emulator::Emulator service(std::move(account));
    for (size_t n = 0; n < otherUsers.size(); ++n) {
        auto more = options;
        more.seed = options.seed + 1 + n;
        emulator::Account other = generated ? emulator::generateAccount(more) : emulator::sampleAccount();
        other.username = otherUsers[n];
        service.addAccount(std::move(other));
    }
    if (!stateFile.empty()) {
        if (auto kept = service.keepStateIn(stateFile); !kept) {
            std::fprintf(stderr, "hx_emulator: %s: %s\n", stateFile.c_str(),
                         kept.error().localizedDescription().c_str());
            return 1;
        }
    }
    // After the state is read back, so that a state kept without them gets the media too.
    if (media) service.withEveryAccount([](emulator::Account& a) { emulator::addPlaybackMedia(a); });
    if (conversations)
        service.withEveryAccount([&](emulator::Account& a) { emulator::addConversationThreadsOnce(a, options.seed); });
    auto started = service.start(static_cast<int>(port));
    if (!started) {
        std::fprintf(stderr, "hx_emulator: %s\n", started.error().localizedDescription().c_str());
        return 1;
    }
    std::unique_ptr<emulator::IngestionService> logs;
    if (ingestion) {
        logs = std::make_unique<emulator::IngestionService>();
        if (logs->port() == 0) {
            std::fprintf(stderr, "hx_emulator: the ingestion endpoint cannot listen on 127.0.0.1\n");
            return 1;
        }
    }
    std::printf("%s\n", service.origin().c_str());
    if (logs) std::printf("%s\n", logs->baseURL().c_str());
    std::fflush(stdout);
    // Until a stop signal: a text arrives each time the interval passes without one.
    const auto interval = std::chrono::seconds(textsEvery);
    auto nextText = std::chrono::steady_clock::now() + interval;
    for (bool fromNewNumber = false;;) {
        if (textsEvery == 0) {
            int signal = 0;
            if (sigwait(&stopSignals, &signal) == 0) break;
            continue;
        }
        const auto left =
            std::max(std::chrono::steady_clock::duration::zero(), nextText - std::chrono::steady_clock::now());
        const auto secs = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec wait{
            static_cast<time_t>(secs.count()),
            static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - secs).count())};
        const int signal = sigtimedwait(&stopSignals, nullptr, &wait);
        if (signal == SIGINT || signal == SIGTERM) break;
        if (signal < 0 && errno != EAGAIN) continue;  // interrupted: wait on
        if (std::chrono::steady_clock::now() < nextText) continue;
        (void)service.deliverText(fromNewNumber);
        fromNewNumber = !fromNewNumber;
        nextText += interval;
    }
    service.stop();
    return 0;
}
