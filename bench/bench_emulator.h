// The emulated service a benchmark program talks to over loopback: started once, on first use, and
// left running until the program ends (benchmarks run in any order and each may ask for it).
#pragma once

#include <cstdlib>

#include "emulator/emulator.h"

namespace hxbench {

inline emulator::Emulator& sharedEmulator() {
    static emulator::Emulator* s = [] {
        auto* e = new emulator::Emulator;
        if (!e->start()) std::abort();
        return e;
    }();
    return *s;
}

}  // namespace hxbench
