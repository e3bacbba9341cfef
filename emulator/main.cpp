// Runs the emulated service until interrupted, printing the origin to point the app at.
#include <csignal>
#include <cstdio>
#include <thread>

#include "emulator/emulator.h"

namespace {
volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }
}  // namespace

int main() {
    emulator::Emulator service;
    auto started = service.start();
    if (!started) {
        std::fprintf(stderr, "hx_emulator: %s\n", started.error().localizedDescription().c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("%s\n", service.origin().c_str());
    std::fflush(stdout);
    while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    service.stop();
    return 0;
}
