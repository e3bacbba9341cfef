#include "tests/support/test_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <spawn.h>
#include <sstream>
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

pid_t spawnSelf(const std::string& filter, const std::vector<std::string>& env, int* readFd,
                const std::string& outputPath) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Reports go to descriptor 3, apart from the test framework's own output. The read end is
    // closed first: it may itself be descriptor 3, and closed after the copy it would take the
    // copy with it.
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    if (!outputPath.empty()) {
        // The child's own output, both streams, goes to a file the caller can show.
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filterArg = "--gtest_filter=" + filter;
    std::vector<char*> argv{self.data(), filterArg.data(), nullptr};
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    *readFd = fds[0];
    return pid;
}

bool ChildRun::said(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool ChildRun::saidPrefix(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
}

ChildRun runChild(const std::string& filter, const std::vector<std::string>& env, const std::string& outputPath) {
    ChildRun result;
    int readFd = -1;
    const pid_t pid = spawnSelf(filter, env, &readFd, outputPath);
    if (readFd < 0) return result;
    std::string text;
    char buffer[512];
    ssize_t n;
    while (pid > 0 && (n = read(readFd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(readFd);
    if (pid > 0) waitpid(pid, &result.status, 0);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
    std::ifstream out(outputPath);
    result.output.assign(std::istreambuf_iterator<char>(out), {});
    return result;
}

void tellParent(const std::string& line) {
    const std::string text = line + "\n";
    (void)!write(3, text.data(), text.size());
}

// The write is the point: the undefined-behaviour checks of the sanitizer build would end the
// process at it with their own report before the fault could.
__attribute__((no_sanitize("null"))) void nullWrite() {
    volatile uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
}

bool haveProgram(const std::string& name) { return runCommand("command -v '" + name + "' >/dev/null 2>&1") == 0; }

}  // namespace hxtest
