// Helpers shared by the test executables: scratch directories and the repository's paths.
#pragma once

#include <malloc.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace hxtest {

// A fresh directory under the system's temporary folder, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The repository root (for fixtures under tests/ and resources/).
std::filesystem::path sourceDir();

// Runs a shell command, returns its exit status and (optionally) what it printed on stdout.
int runCommand(const std::string& command, std::string* output = nullptr);

// Runs this test executable again with only the test named by filter and the extra environment
// entries ("NAME=value") given; the child's descriptor 3 is a pipe whose read end comes back in
// readFd. Returns the child's pid, or -1.
pid_t spawnSelf(const std::string& filter, const std::vector<std::string>& env, int* readFd,
                const std::string& outputPath = {});

// One run of a spawnSelf child to its end: the lines it wrote to descriptor 3 (tellParent), its
// own output (both streams, kept in outputPath to show on failure) and its wait status.
struct ChildRun {
    int status = 0;
    std::vector<std::string> lines;
    std::string output;
    bool said(const std::string& line) const;
    bool saidPrefix(const std::string& prefix) const;
};
ChildRun runChild(const std::string& filter, const std::vector<std::string>& env, const std::string& outputPath);
// From a child: one line to the parent's ChildRun.
void tellParent(const std::string& line);
// A child's crash: a write through a null pointer (SIGSEGV, SEGV_MAPERR at address 0).
void nullWrite();

// True when a program is on PATH (independent-check tools: sqlite3, protoc, openssl, python3).
bool haveProgram(const std::string& name);

// How many times longer a sanitizer build takes over work that runs in a bounded time (a script's
// wall-clock limit, a wait for another thread): a test's bound is multiplied by it.
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
inline constexpr double kSanitizerSlowdown = 10;
#else
inline constexpr double kSanitizerSlowdown = 1;
#endif

// What the process's heap holds now, small blocks and mapped ones alike (the C library's count).
inline int64_t heapBytesInUse() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<int64_t>(m.uordblks + m.hblkhd);
}

// Some tests set up what a process can set up only once (the crash reporter's signal handlers,
// the C++ terminate hook, bundles read once): they need a process of their own, and must leave
// nothing of it to the tests after them. Such a test runs here when it is the only test this
// process runs (as under ctest, or in the child below); otherwise this runs the test again alone in
// a fresh process of this executable, records a failure unless that child passed it (ran, did not
// skip), and returns false: the caller then returns without running the body here.
bool runsInFreshProcess();
#define HX_REQUIRE_FRESH_PROCESS()                                                                                     \
    do {                                                                                                               \
        if (!::hxtest::runsInFreshProcess()) return;                                                                   \
    } while (0)

}  // namespace hxtest
