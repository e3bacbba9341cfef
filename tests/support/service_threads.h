// Threads the tests put into the loopback service's account (emulator/emulator.h).
#pragma once

#include <cstdint>
#include <string>

#include "emulator/emulator.h"

namespace hxtest {

// A conversation of one number ("t.NUMBER") holding one text from that number.
inline emulator::Thread textThread(const std::string& number, const std::string& messageID, int64_t startTimeMs,
                                   const std::string& text) {
    emulator::Thread t;
    t.id = "t." + number;
    t.numbers = {number};
    emulator::Message m;
    m.id = messageID;
    m.startTimeMs = startTimeMs;
    m.text = text;
    m.fromNumber = number;
    t.items.push_back(m);
    return t;
}

}  // namespace hxtest
