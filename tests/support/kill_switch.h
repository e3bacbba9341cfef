// How a kill test's child process dies as a killed app dies: by SIGKILL, which nothing catches,
// right away (after a chosen write) or at a moment of real time while it works.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace hxtest {

inline void killSelf() { ::kill(::getpid(), SIGKILL); }

// Kills this process once delay of real time has passed, whatever it is doing then.
inline void killSelfAfter(std::chrono::microseconds delay) {
    std::thread([delay] {
        std::this_thread::sleep_for(delay);
        killSelf();
    }).detach();
}

}  // namespace hxtest
