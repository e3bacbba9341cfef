// What the app's window costs when it is left alone. The app's program (hx_connect, with the
// options `./hx run` gives it) signs in headless against the emulated service over loopback, then
// runs in its window on a private virtual display (Xvfb, which this bench starts; under SDL's
// offscreen and dummy drivers waiting on events is a poll every millisecond, no floor to measure
// against, so both windows are held to X11 and fail without it), settles, and is left alone for
// kIdleSeconds of wall time. Its peer, the floor of an idle window: a minimal SDL window of the same
// size (this program run again as a child) waiting on events for the same time.
//
// The table's time is the wall time left alone, its CPU column this process's own; what counts
// are the counters: cpu_ms, the CPU the window's process used in that time (every thread),
// display_cpu_ms the display server's, and for the app the requests the service and the telemetry
// endpoint received. The app does not say how many frames it drew (its front end counts them and
// prints nothing); the display server's CPU is what its drawing costs outside it.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_emulator.h"
#include "bench/bench_ratio.h"
#include "bench/bench_scratch.h"
#include "emulator/ingestion_service.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kIdleSeconds = 70;  // more than a minute: the clock's turn and the unread refresh
constexpr const char* kApiPrefix = "/voice/v1/voiceclient/";  // left out of the paths printed
constexpr int kWindowWidth = 750, kWindowHeight = 1334;       // the phone's screen in pixels, as the app's

// Made on first use, so that the floor window's process (this program too) makes none.
const fs::path& scratch() {
    static const hxbench::ScratchFolder folder("hx-bench-idle");
    return folder.path();
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Polls until done() or the time-out; whether done() came true.
bool waitUntil(double seconds, const std::function<bool()>& done) {
    for (const auto start = Clock::now(); !done();) {
        if (secondsSince(start) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// CPU a process has used so far, every thread (live and ended), in ms; NaN once it is gone. The
// kernel's count that /proc/PID/stat gives in clock ticks (10 ms), here in ns: the floor window
// uses less than a tick in the whole time.
double cpuMs(pid_t pid) {
    clockid_t clock;
    timespec used{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0) return NAN;
    return static_cast<double>(used.tv_sec) * 1e3 + static_cast<double>(used.tv_nsec) / 1e6;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Why a benchmark stopped, with the end of the process's log.
std::string failure(const std::string& what, const fs::path& log) {
    const std::string text = fileText(log);
    return what + " (" + log.string() + "):\n" + text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
}

// A child process, killed (SIGKILL) when this object goes, and by the kernel when this process
// dies, whatever ends it.
class Child {
public:
    // args[0] is the program; env holds NAME=VALUE entries put in place of this process's own
    // (an empty VALUE removes the variable); stdout and stderr go to log; keepFd stays open.
    Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env, const fs::path& log,
          int keepFd = -1) {
        // Everything the child needs is made before the fork: this process has threads.
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
        }
        for (const auto& [name, value] : env)
            if (!value.empty()) envText.push_back(name + "=" + value);
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent || out < 0 || in < 0) ::_exit(127);
            ::dup2(in, STDIN_FILENO);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (out >= 0) ::close(out);
        if (in >= 0) ::close(in);
    }
    ~Child() { stop(SIGKILL, 5); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ <= 0) return false;
        if (::waitpid(pid_, &status_, WNOHANG) == 0) return true;
        pid_ = -1;
        return false;
    }
    // Waits up to `seconds` for it to end by itself; its exit status, or -1 (still running, or
    // ended by a signal).
    int wait(double seconds) {
        waitUntil(seconds, [&] { return !running(); });
        return pid_ <= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    // Sends `signal`; SIGKILL after `seconds` if it is still there.
    void stop(int signal, double seconds) {
        if (!running()) return;
        ::kill(pid_, signal);
        if (wait(seconds) == -1 && pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

// The private virtual display both windows open on, started on first use ("" when it did not start).
struct Display {
    std::unique_ptr<Child> server;
    std::string name;
    Display() = default;
    Display(Display&&) = default;
    // Asked to stop, the server removes its socket and lock file.
    ~Display() {
        if (server) server->stop(SIGTERM, 5);
    }
};
Display& display() {
    static Display d = [] {
        Display started;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return started;
        // Xvfb picks a free display number and writes it to the descriptor it is given.
        started.server =
            std::make_unique<Child>(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]),
                                                             "-screen", "0", "2048x2048x24", "-nolisten", "tcp"},
                                    std::map<std::string, std::string>{}, scratch() / "xvfb.log", fds[1]);
        ::close(fds[1]);
        // The whole line: the server stops when it cannot write its end.
        std::string line;
        pollfd ready{fds[0], POLLIN, 0};
        char c = 0;
        for (const auto start = Clock::now(); line.find('\n') == std::string::npos && secondsSince(start) < 15;)
            if (::poll(&ready, 1, 1000) == 1 && ::read(fds[0], &c, 1) == 1)
                line += c;
            else if (ready.revents & POLLHUP)
                break;
        if (line.find('\n') != std::string::npos) started.name = ":" + std::to_string(std::atoi(line.c_str()));
        ::close(fds[0]);
        return started;
    }();
    return d;
}

emulator::IngestionService& telemetryEndpoint() {
    static emulator::IngestionService s;
    return s;
}

// Waits until a process is quiet: `quietSeconds` running in which it used at most kQuietMs of CPU
// and `requests` did not change. Gives up after `seconds`; the time it took.
double settle(pid_t pid, const std::function<size_t()>& requests, double seconds, double quietSeconds = 2) {
    constexpr double kQuietMs = 5;
    const auto start = Clock::now();
    auto since = Clock::now();
    double cpu = cpuMs(pid);
    size_t asked = requests();
    waitUntil(seconds, [&] {
        if (cpuMs(pid) - cpu <= kQuietMs && requests() == asked) return secondsSince(since) >= quietSeconds;
        since = Clock::now();
        cpu = cpuMs(pid);
        asked = requests();
        return false;
    });
    return secondsSince(start);
}

// Leaves a settled window's process alone for kIdleSeconds and reports what it and the display
// server used meanwhile, calling mark(false) as the time begins and mark(true) as it ends; false
// (and the benchmark skipped) when the process ended on the way.
bool leaveAlone(benchmark::State& state, Child& window, const std::function<void(bool ended)>& mark) {
    const pid_t server = display().server->pid();
    mark(false);
    const double cpu = cpuMs(window.pid()), serverCpu = cpuMs(server);
    const auto start = Clock::now();
    if (waitUntil(kIdleSeconds, [&] { return !window.running(); })) {
        state.SkipWithError("the window's process ended while left alone");
        return false;
    }
    const double used = cpuMs(window.pid()) - cpu, seconds = secondsSince(start);
    state.counters["display_cpu_ms"] = cpuMs(server) - serverCpu;
    mark(true);
    state.SetIterationTime(seconds);
    state.counters["window_s"] = kIdleSeconds;
    state.counters["cpu_ms"] = used;
    state.counters["cpu_pct_of_core"] = used / (10 * seconds);
    return true;
}

// The paths of requests, counted: "api2thread/list x1, ...".
std::string pathsOf(const std::vector<emulator::RecordedRequest>& requests) {
    std::map<std::string, int> counted;
    for (const auto& r : requests) {
        std::string path = r.path;
        if (path.rfind(kApiPrefix, 0) == 0) path = path.substr(std::strlen(kApiPrefix));
        ++counted[path];
    }
    std::string text;
    for (const auto& [path, count] : counted) text += (text.empty() ? "" : ", ") + path + " x" + std::to_string(count);
    return text.empty() ? "no requests" : text;
}

void BM_IdleAppWindow(benchmark::State& state) {
    auto& service = hxbench::sharedEmulator();
    auto& telemetry = telemetryEndpoint();
    const std::string screen = display().name;
    if (screen.empty()) return state.SkipWithError("Xvfb did not start (see its log in the scratch folder)");
    const fs::path home = scratch() / "home", out = scratch() / "out";
    fs::create_directories(home);
    // The options `./hx run` gives the program, writing into `folder`.
    const auto program = [&](const std::string& folder) {
        return std::vector<std::string>{HX_CONNECT_PROGRAM,  "--service", service.origin(),       "--ingestion",
                                        telemetry.baseURL(), "--out",     (out / folder).string()};
    };
    for (auto _ : state) {
        // The headless run signs in through the sign-in panel and keeps the session in the home;
        // the window's run on the same home starts signed in.
        auto headlessRun = program("headless");
        headlessRun.insert(headlessRun.end(), {"--headless", "--seconds", "30"});
        const fs::path signInLog = scratch() / "headless.log";
        if (Child headless(headlessRun, {{"HXCONNECT_HOME", home.string()}}, signInLog); headless.wait(180) != 0)
            return state.SkipWithError(failure("the headless sign-in failed", signInLog).c_str());
        const fs::path log = scratch() / "window.log";
        Child window(program("window"),
                     {{"HXCONNECT_HOME", home.string()},
                      {"DISPLAY", screen},
                      {"WAYLAND_DISPLAY", ""},
                      {"SDL_VIDEODRIVER", "x11"}},
                     log);
        // Up once it has listed its window's keys.
        if (!waitUntil(60, [&] { return fileText(log).find("F12 crash") != std::string::npos; }))
            return state.SkipWithError(failure("the window did not open", log).c_str());
        const auto requests = [&] { return service.requestCount() + telemetry.requestCount(); };
        state.counters["settle_s"] = settle(window.pid(), requests, 60);
        size_t logged = 0;
        const bool left = leaveAlone(state, window, [&](bool ended) {
            if (!ended) {
                service.clearRequests();
                logged = telemetry.requestCount();
                return;
            }
            const auto asked = service.requests();
            state.counters["service_requests"] = static_cast<double>(asked.size());
            state.counters["telemetry_requests"] = static_cast<double>(telemetry.requestCount() - logged);
            state.SetLabel(pathsOf(asked));
        });
        if (!left) return;
        // A stop signal ends the app through its termination, its state saved.
        window.stop(SIGTERM, 15);
    }
}

void BM_IdleWindowFloor(benchmark::State& state) {
    const std::string screen = display().name;
    if (screen.empty()) return state.SkipWithError("Xvfb did not start (see its log in the scratch folder)");
    const fs::path log = scratch() / "floor.log";
    for (auto _ : state) {
        Child window({fs::read_symlink("/proc/self/exe").string(), "--floor-window"},
                     {{"DISPLAY", screen}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", "x11"}}, log);
        if (!waitUntil(30, [&] { return fileText(log).find("up on") != std::string::npos; }))
            return state.SkipWithError(failure("the floor window did not open", log).c_str());
        state.counters["settle_s"] = settle(
            window.pid(), [] { return size_t{0}; }, 60);
        if (!leaveAlone(state, window, [](bool) {})) return;
    }
}

// The floor window's process: shown once, then waiting on events until it is killed.
int floorWindow() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return std::fprintf(stderr, "%s\n", SDL_GetError()), 1;
    SDL_Window* window = SDL_CreateWindow("floor", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kWindowWidth,
                                          kWindowHeight, SDL_WINDOW_SHOWN);
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
    if (!renderer) return std::fprintf(stderr, "%s\n", SDL_GetError()), 1;
    const auto draw = [&] {
        SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
        SDL_RenderClear(renderer);
        SDL_RenderPresent(renderer);
    };
    draw();
    std::printf("up on %s\n", SDL_GetCurrentVideoDriver());
    std::fflush(stdout);
    for (SDL_Event event; SDL_WaitEvent(&event) && event.type != SDL_QUIT;)
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) draw();
    return 0;
}

BENCHMARK(BM_IdleAppWindow)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleWindowFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--floor-window") return floorWindow();
    return hxbench::runWithRatios(
        argc, argv, {{"BM_IdleAppWindow", "BM_IdleWindowFloor", 0, true, {"window_s"}, {"cpu_ms", "display_cpu_ms"}}});
}
