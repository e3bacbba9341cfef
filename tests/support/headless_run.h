// Headless runs of the app's program as built beside the tests, for the tests of a whole run.
// (HX_BINARY_DIR is defined for every test program.)
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace hxtest {

inline std::filesystem::path connectProgram() { return std::filesystem::path(HX_BINARY_DIR) / "app/hx_connect"; }

// One headless run in the app home `home` for at most `seconds`, with `options` (the service's and
// the ingestion's origins, a device form, an entry point), its views written to `out`: the exit
// status, with what the run printed, its errors too unless `outputOnly`, in `printed`.
inline int runHeadless(const std::filesystem::path& home, const std::string& options, const std::filesystem::path& out,
                       std::string* printed, bool outputOnly = false, int seconds = 30) {
    return runCommand("HXCONNECT_HOME='" + home.string() + "' '" + connectProgram().string() +
                          "' --headless --seconds " + std::to_string(seconds) + " " + options + " --out '" +
                          out.string() + "'" + (outputOnly ? "" : " 2>&1"),
                      printed);
}

}  // namespace hxtest
