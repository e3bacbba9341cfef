#include "tests/support/test_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace hxtest {

TempDir::TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("hxtest-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    std::abort();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path sourceDir() {
    if (const char* env = std::getenv("HX_SOURCE_DIR"); env && *env) return env;
#ifdef HX_SOURCE_DIR
    return HX_SOURCE_DIR;
#else
    return std::filesystem::current_path();
#endif
}

int runCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        if (output) output->append(buffer.data(), n);
    }
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveProgram(const std::string& name) { return runCommand("command -v '" + name + "' >/dev/null 2>&1") == 0; }

}  // namespace hxtest
