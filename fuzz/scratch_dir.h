// A scratch folder for a fuzz target's files, made once per process (memory-backed where the
// machine has /dev/shm) and removed when the process ends, so that a replay in the normal build
// leaves nothing behind.
#pragma once

#include <stdlib.h>  // mkdtemp

#include <cstdio>
#include <filesystem>

namespace fuzzsupport {

inline std::filesystem::path scratchDirectory() {
    // The name lives in a plain array: it outlives every static object, so the exit handler
    // can still read it.
    static char made[64];
    static const bool once = [] {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::snprintf(made, sizeof made, "%s/hx_fuzz.XXXXXX", base);
            if (::mkdtemp(made)) break;
            made[0] = 0;
        }
        if (!made[0]) std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(made, ec);
        });
        return true;
    }();
    (void)once;
    return made;
}

}  // namespace fuzzsupport
