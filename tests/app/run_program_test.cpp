// The program as a user starts it (`./hx run` and its options), on a home an earlier run left
// (tests/app/kept_home) with the emulator as ./hx run starts it (emulator/run_options): its help,
// refused options, texts that arrive, the network going off and on, an older system, a home locked
// with a passcode (unlocked with its PIN or a finger), a crash met by the next launch, and the
// stop signals ending a window run and a headless run at once with their state kept.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulator.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "tests/support/test_support.h"

namespace run_program {
namespace {

namespace fs = std::filesystem;

const fs::path kKeptHome = fs::path(HX_SOURCE_DIR) / "tests/app/kept_home";
const fs::path kHxConnect = fs::path(HX_BINARY_DIR) / "app/hx_connect";
const fs::path kHxEmulator = fs::path(HX_BINARY_DIR) / "emulator/hx_emulator";

std::string shellQuoted(const std::string& s) { return "'" + s + "'"; }

// How long the emulator may take to say where it listens: generous, as a sanitized build on a
// loaded machine starts many times slower than a plain one (a run that does what it should goes on
// as soon as the emulator has said it).
constexpr int kStartSeconds = 120;

// How long each wait of a run may last. The emulator writes its whole state (megabytes of JSON)
// after every request, which a sanitized build does many times slower: the loads after an unlock
// or after the network comes back take longer than a plain build's bound.
const int kRunWaitSeconds = static_cast<int>(30 * hxtest::kSanitizerSlowdown);

// The emulator's options as ./hx run reads them (emulator/run_options).
std::string emulatorRunOptions() {
    std::ifstream list(fs::path(HX_SOURCE_DIR) / "emulator/run_options");
    std::string options, line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        for (std::string word; words >> word;) options += " " + shellQuoted(word);
    }
    return options;
}

std::string hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

struct RunProgram : ::testing::Test {
    hxtest::TempDir home;
    hxtest::TempDir out;
    std::string printed;

    void SetUp() override {
        if (!fs::exists(kHxConnect) || !fs::exists(kHxEmulator)) GTEST_SKIP() << "hx_connect is not built";
    }
    // The kept home: signed in, its service's state beside it.
    void keepHome() {
        fs::create_directories(home / "Library/Preferences");
        fs::create_directories(home / "Library/Keychains");
        for (const char* name : {"hx_connect.plist", "hxconnect.plist"})
            fs::copy_file(kKeptHome / name, home / "Library/Preferences" / name);
        fs::copy_file(kKeptHome / "keychain.json", home / "Library/Keychains/keychain.json");
        ASSERT_EQ(hxtest::runCommand("gzip -dc " + shellQuoted((kKeptHome / "emulator-state.json.gz").string()) +
                                     " > " + shellQuoted((home / "emulator-state.json").string())),
                  0);
    }
    // The passcode lock on, with this PIN (and biometrics to unlock with, when asked).
    void lockHome(const std::string& pin, bool biometrics) {
        const auto file = home / "Library/Keychains/keychain.json";
        auto text = foundation::files::readString(file);
        ASSERT_TRUE(text.ok());
        auto keychain = nlohmann::json::parse(*text);
        auto set = [&](const std::string& key, const std::string& value) {
            for (auto& item : keychain["items"])
                if (item["account"] == "HX Connect - " + key) {
                    item["data"] = hex(value);
                    return;
                }
            keychain["items"].push_back({{"accessibility", "kSecAttrAccessibleAfterFirstUnlock"},
                                         {"account", "HX Connect - " + key},
                                         {"data", hex(value)},
                                         {"label", "service"},
                                         {"service", "service"}});
        };
        set("passcode_on", "YES");
        set("passcode", pin);
        set("TouchID_on", biometrics ? "YES" : "NO");
        std::ofstream(file, std::ios::binary | std::ios::trunc) << keychain.dump(2);
    }
    // One headless run on the home against the emulator ./hx run starts (stopped afterwards, its
    // state written); the input script's lines, when given, go to --input.
    int run(const std::string& options, const std::string& script = {}) {
        std::string args = options;
        if (!script.empty()) {
            std::ofstream(out / "input.txt") << script;
            args += " --input " + shellQuoted((out / "input.txt").string());
        }
        const std::string emulator = shellQuoted(kHxEmulator.string()) + emulatorRunOptions() + " --state " +
                                     shellQuoted((home / "emulator-state.json").string());
        const std::string shell =
            "exec 3< <(exec " + emulator + "); emu=$!; read -r -t " + std::to_string(kStartSeconds) +
            " origin <&3; read -r -t " + std::to_string(kStartSeconds) +
            " ingestion <&3; "
            "HXCONNECT_HOME=" +
            shellQuoted(home.path().string()) + " " + shellQuoted(kHxConnect.string()) + " --headless --seconds " +
            std::to_string(kRunWaitSeconds) + " --service \"$origin\" --ingestion \"$ingestion\" --out " +
            shellQuoted(out.path().string()) + " " + args + " 2>&1; rc=$?; kill -TERM $emu; wait $emu; exit $rc";
        std::ofstream(out / "run.sh") << shell;
        printed.clear();
        return hxtest::runCommand("bash " + shellQuoted((out / "run.sh").string()), &printed);
    }
    // The program alone, without a service.
    int runAlone(const std::string& options) {
        printed.clear();
        return hxtest::runCommand("HXCONNECT_HOME=" + shellQuoted(home.path().string()) + " " +
                                      shellQuoted(kHxConnect.string()) + " " + options + " 2>&1",
                                  &printed);
    }
    nlohmann::json serviceState() {
        auto text = foundation::files::readString(home / "emulator-state.json");
        return text.ok() ? nlohmann::json::parse(*text) : nlohmann::json();
    }
    bool saidLine(const std::string& needle) const { return printed.find(needle) != std::string::npos; }
};

TEST_F(RunProgram, HelpNamesTheOptionsKeysAndEntryTypesAndStartsNothing) {
    ASSERT_EQ(runAlone("--help"), 0) << printed;
    for (const char* needle :
         {"--system-version N", "--biometry none|fingerprint|face", "--offline", "--crash null-write|exception|abort",
          "--input FILE", "text-arrives [new]", "drag X1 Y1 X2 Y2 [MOVES]", "swipe X1 Y1 X2 Y2 FINGERS",
          "com.hxconnect.shortcut_call, com.hxconnect.shortcut_sms",
          "com.hxconnect.activity_call, com.hxconnect.activity_sms, com.hxconnect.activity_reply",
          "F9   a text arrives", "F10  a text from a new number", "F11  network off/on", "F12  crash", "Ctrl-C"})
        EXPECT_TRUE(saidLine(needle)) << needle << "\n" << printed;
    // Nothing started: the home holds nothing, no window, no service asked.
    EXPECT_TRUE(fs::is_empty(home.path())) << "the help wrote into the home";
}

TEST_F(RunProgram, UnknownShortcutsActivitiesSystemsAndSensorsAreRefusedNamingTheKnownOnes) {
    struct Case {
        const char* options;
        const char* said;
    };
    for (const Case& c : {
             Case{"--shortcut com.hxconnect.shortcut_mail",
                  "the app has the shortcuts com.hxconnect.shortcut_call, com.hxconnect.shortcut_sms"},
             Case{"--activity com.hxconnect.activity_mail?number=1",
                  "the app continues the activities com.hxconnect.activity_call, com.hxconnect.activity_sms, "
                  "com.hxconnect.activity_reply"},
             Case{"--system-version 11", "give a whole number from 12 to 18"},
             Case{"--system-version 19", "give a whole number from 12 to 18"},
             Case{"--biometry iris", "give none, fingerprint or face"},
             Case{"--crash gently", "give null-write, exception or abort"},
         }) {
        EXPECT_EQ(runAlone(std::string("--headless ") + c.options), 2) << c.options << "\n" << printed;
        EXPECT_TRUE(saidLine(c.said)) << c.options << "\n" << printed;
    }
    EXPECT_TRUE(fs::is_empty(home.path()));
}

TEST_F(RunProgram, TextsArriveOnAScriptsWordAndABackgroundFetchFindsThemAsNotifications) {
    keepHome();
    // None comes by itself while the script plays; each step asks for one.
    ASSERT_EQ(run("--background-fetch --notifications", "text-arrives\ntext-arrives new\nwait-idle\n"), 0) << printed;
    EXPECT_TRUE(saidLine("a text arrived from +")) << printed;
    EXPECT_TRUE(saidLine("a text arrived from +15550140000")) << printed;
    EXPECT_TRUE(saidLine("background fetch: new data")) << printed;
    EXPECT_TRUE(saidLine("notification: ")) << printed;
    const auto state = serviceState();
    bool newThread = false;
    size_t arrived = 0;
    for (const auto& thread : state["account"]["threads"]) {
        for (const auto& item : thread["items"]) arrived += item["id"].get<std::string>().rfind('r', 0) == 0;
        if (thread["id"] == "t.+15550140000") newThread = thread["items"].size() == 1u;
    }
    EXPECT_TRUE(newThread) << "a thread of the new number, holding its text";
    EXPECT_EQ(arrived, 2u);
}

TEST_F(RunProgram, AnOpenedURLSaysWhatItOpenedAndOnlyOneThatOpenedNothingFails) {
    keepHome();
    std::string thread;
    const auto state = serviceState();
    for (const auto& t : state["account"]["threads"])
        // A text thread of one number: "t.+NUMBER", nothing after it.
        if (const auto id = t["id"].get<std::string>(); thread.empty() && !t["spam"].get<bool>() &&
                                                        !t["archived"].get<bool>() && id.rfind("t.+", 0) == 0 &&
                                                        id.find_first_of(".,", 2) == std::string::npos)
            thread = id;
    ASSERT_FALSE(thread.empty());
    std::string encoded;
    for (char c : thread) encoded += c == '+' ? std::string("%2B") : std::string(1, c);
    // "reply" answers NO by design, yet its conversation opens with the text.
    const std::string reply = "hxconnect://reply?conversationID=" + encoded + "&messageText=On%20my%20way";
    ASSERT_EQ(run("--open-url '" + reply + "'"), 0) << printed;
    EXPECT_TRUE(saidLine("hx_connect: " + reply + " opened \"")) << printed;
    EXPECT_FALSE(saidLine("did not open")) << printed;
    ASSERT_EQ(run("--open-url hxconnect://nowhere"), 0) << printed;
    EXPECT_TRUE(saidLine("hx_connect: the app did not open hxconnect://nowhere")) << printed;
}

TEST_F(RunProgram, StartedOfflineTheAlertComesAndF11BringsTheNetworkBack) {
    keepHome();
    // Offline, the script plays at once: the launch's report says there is no network.
    ASSERT_EQ(run("--offline", "wait-for No Network Connection\nclick-on Dismiss\npress-key F11\nwait-idle\n"), 0)
        << printed;
    EXPECT_TRUE(saidLine("the network is on")) << printed;
    EXPECT_TRUE(fs::exists(out / "1-sms.png"));
    // Without a script it cannot come back: the run says so at once.
    EXPECT_EQ(run("--offline"), 1) << printed;
    EXPECT_TRUE(saidLine("the network is off (--offline): give an --input script that turns it on")) << printed;
}

TEST_F(RunProgram, ALockedHomeHeadlessEndsAtOnceWithoutAScriptAndOpensWithItsPIN) {
    keepHome();
    lockHome("1111", false);
    // At once: long before a wait of the run could have run out (its waits given longer than the
    // start of a slow build takes), with the reason and not a wait's expiry.
    constexpr int kLongWait = 150;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run("--seconds " + std::to_string(kLongWait)), 1) << printed;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(kLongWait))
        << "at once, not after a wait";
    EXPECT_TRUE(saidLine("the home is locked with a passcode: give an --input script that types its PIN")) << printed;
    EXPECT_FALSE(saidLine("no report within")) << printed;
    // A wrong PIN leaves the lock up; the right one opens the app, which then loads as usual.
    EXPECT_EQ(run("", "wait-for 1\nclick-on 2 ABC\nclick-on 2 ABC\nclick-on 2 ABC\nclick-on 2 ABC\n"), 1) << printed;
    EXPECT_TRUE(saidLine("the passcode lock still shows after the script")) << printed;
    ASSERT_EQ(run("", "wait-for 1\nclick-on 1\nclick-on 1\nclick-on 1\nclick-on 1\nwait-idle\n"), 0) << printed;
    EXPECT_TRUE(fs::exists(out / "1-sms.png"));
}

TEST_F(RunProgram, ABiometricPromptsButtonsUnlockALockedHome) {
    keepHome();
    lockHome("1111", true);
    // The finger fails once (the pad offers the sensor again), then it matches.
    ASSERT_EQ(run("--biometry fingerprint", "wait-for Succeed\nclick-on Fail\nwait-for TouchID\nclick-on TouchID\n"
                                            "wait-for Succeed\nclick-on Succeed\nwait-idle\n"),
              0)
        << printed;
    ASSERT_EQ(run("--biometry face", "wait-for Face ID\nclick-on Succeed\nwait-idle\n"), 0) << printed;
}

TEST_F(RunProgram, TheCrashKeyAndOptionEndTheRunAndTheNextLaunchAsksToSendTheReport) {
    keepHome();
    // The window's crash key (F12), its prompt's "Abort".
    EXPECT_EQ(run("", "press-key F12\nwait-for Abort\nclick-on Abort\n"), 128 + SIGABRT) << printed;
    ASSERT_EQ(run("", "wait-for Don't Send\nclick-on Don't Send\nwait-gone Don't Send\n"), 0) << printed;
    // Asked once: the next launch has nothing to ask.
    ASSERT_EQ(run("", "wait-frames 30\n"), 0) << printed;
    auto shown = foundation::files::readString(out / "1-sms.txt");
    ASSERT_TRUE(shown.ok());
    EXPECT_EQ(shown->find("Don't Send"), std::string::npos) << *shown;
    // The run option, each way.
    fs::remove(out / "1-sms.png");
#if defined(HX_SANITIZER_ADDRESS)
    // The address sanitizer takes a null write for its own report and ends the process itself.
    const std::vector<const char*> kinds{"exception", "abort"};
#else
    const std::vector<const char*> kinds{"null-write", "exception", "abort"};
#endif
    for (const char* kind : kinds) {
        EXPECT_NE(run(std::string("--crash ") + kind), 0) << kind << "\n" << printed;
        EXPECT_FALSE(fs::exists(out / "1-sms.png")) << kind << ": the run ended before visiting the views";
        ASSERT_EQ(run("", "wait-for Don't Send\nclick-on Don't Send\n"), 0) << kind << "\n" << printed;
        fs::remove(out / "1-sms.png");
    }
}

TEST_F(RunProgram, OnAnOlderSystemALongPressOnARowShowsTheOptionsPopover) {
    keepHome();
    // The SMS tab and a long press on a row: under 13 the options popover offers "Archive", from 13
    // on the row's context menu does; only the popover is an HXCPopoverView.
    const std::string press = "click 112 642\nwait-idle\npress 187 200\nwait-frames 90\nrelease 187 200\n";
    auto popoverShown = [&](const std::string& system) {
        EXPECT_EQ(run("--system-version " + system, press + "wait-for Archive\n"), 0) << printed;
        auto shown = foundation::files::readString(out / "1-sms.txt");
        EXPECT_TRUE(shown.ok());
        return shown.ok() && shown->find("HXCPopoverView") != std::string::npos;
    };
    EXPECT_TRUE(popoverShown("12"));
    EXPECT_FALSE(popoverShown("15"));
    // The popover's "Archive" closes it.
    ASSERT_EQ(run("--system-version 12", press + "wait-for Archive\nclick-on Archive\nwait-gone Archive\nwait-idle\n"),
              0)
        << printed;
    auto shown = foundation::files::readString(out / "1-sms.txt");
    ASSERT_TRUE(shown.ok());
    EXPECT_EQ(shown->find("HXCPopoverView"), std::string::npos) << *shown;
}

// The program in its window on SDL's offscreen driver (a display named, none needed), or headless,
// ended by a stop signal once it is up: at once, through the app's termination.
// Waits up to seconds for pid to end, then kills it; its status in status, and 0 when it had to be
// killed.
pid_t waitOrKill(pid_t pid, int& status, double seconds) {
    pid_t ended = 0;
    for (int i = 0; i < seconds * 20 && ended == 0; ++i) {
        ended = waitpid(pid, &status, WNOHANG);
        if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return ended;
}

struct Started {
    pid_t pid = -1;
    fs::path log;
};

TEST_F(RunProgram, StopSignalsEndAWindowRunAndAHeadlessRunAtOnceWithTheirStateKept) {
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    for (const bool window : {true, false}) {
        SCOPED_TRACE(window ? "window" : "headless");
        const fs::path runHome = home / (window ? "window" : "headless");
        fs::create_directories(runHome);
        // Headless, the sign-in page never answers: the run waits on the network when the signal comes.
        if (!window) service.script("/", emulator::ScriptedReply{.hold = true}, -1);
        const fs::path log = out / (window ? "window.log" : "headless.log");
        // The window's run asked the service too: the headless run is up once it asks anew.
        const size_t askedBefore = service.requestCount();
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("HXCONNECT_HOME", runHome.c_str(), 1);
            if (window) {
                setenv("SDL_VIDEODRIVER", "offscreen", 1);
                setenv("DISPLAY", ":hx-offscreen", 1);
            } else {
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
            }
            const std::string origin = service.origin();
            const std::string outDir = (out / (window ? "window" : "headless")).string();
            std::FILE* f = std::freopen(log.c_str(), "w", stderr);
            if (!f) _exit(120);
            dup2(fileno(stderr), STDOUT_FILENO);
            execl(kHxConnect.c_str(), kHxConnect.c_str(), "--service", origin.c_str(), "--out", outDir.c_str(),
                  "--seconds", "60", static_cast<char*>(nullptr));
            _exit(121);
        }
        // Up: the window has listed its keys; headless, the sign-in page was asked for.
        auto logText = [&] {
            auto text = foundation::files::readString(log);
            return text.ok() ? *text : std::string();
        };
        bool up = false;
        for (int i = 0; i < 600 && !up; ++i) {
            up = window ? logText().find("F12 crash") != std::string::npos : service.requestCount() > askedBefore;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(up) << logText();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(pid, window ? SIGINT : SIGTERM), 0);
        int status = 0;
        waitOrKill(pid, status, 10.0);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
        EXPECT_LT(seconds, 3.0) << logText();
        ASSERT_TRUE(WIFEXITED(status)) << logText();
        EXPECT_EQ(WEXITSTATUS(status), 128 + (window ? SIGINT : SIGTERM)) << logText();
        EXPECT_NE(logText().find(window ? "ended by SIGINT" : "ended by SIGTERM"), std::string::npos) << logText();
        // The termination saved the preferences (the selected tab among them).
        auto prefs = foundation::files::readData(runHome / "Library/Preferences/hx_connect.plist");
        ASSERT_TRUE(prefs.ok()) << logText();
        auto values = foundation::readPropertyList(*prefs);
        ASSERT_TRUE(values.ok() && values->isDictionary());
        EXPECT_TRUE(values->asDictionary().contains("tabBarIndex")) << logText();
        service.releaseHeld();
        service.clearScripts();
    }
}

// The processes whose command line holds needle (the emulator ./hx run starts names the home's
// state file).
std::vector<pid_t> processesNaming(const std::string& needle) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream file(entry.path() / "cmdline", std::ios::binary);
        const std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (line.find(needle) != std::string::npos) found.push_back(std::stoi(name));
    }
    return found;
}

// `./hx run` itself, as a user ends it: a stop signal sent to the script (not to the app), or the
// one `timeout` sends, ends the app through its termination (the tab the script chose is kept)
// and then the emulator, at once; the next run finds the account still signed in.
TEST_F(RunProgram, AStopSignalToHxRunEndsTheAppWithItsStateKeptAndLeavesNoEmulator) {
    keepHome();
    const fs::path hx = fs::path(HX_SOURCE_DIR) / "hx";
    const std::string state = (home / "emulator-state.json").string();
    constexpr int kTimeout = 10;
    const struct {
        const char* how;
        int signal;       // sent to ./hx once the script has run; 0: `timeout` sends it
        const char* tab;  // chosen by the script, kept by the termination
        int tabIndex;
        int status;  // the run's
    } cases[] = {
        {"kill -TERM", SIGTERM, "Voicemail", 2, 128 + SIGTERM},
        {"kill -INT", SIGINT, "History", 3, 128 + SIGINT},
        {"timeout", 0, "SMS", 1, 124},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        const fs::path log = out / (std::string(c.tab) + ".log");
        std::ofstream(out / "input.txt", std::ios::trunc) << "click-on " << c.tab << "\nwait-idle\npress-key F6\n";
        const std::string script = (out / "input.txt").string();
        const std::string shots = (out / c.tab).string();
        const std::string waitSeconds = std::to_string(2 * kRunWaitSeconds);
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("HXCONNECT_HOME", home.path().c_str(), 1);
            setenv("HX_RUN_BUILT", HX_BINARY_DIR, 1);
            setenv("SDL_VIDEODRIVER", "offscreen", 1);
            setenv("DISPLAY", ":hx-offscreen", 1);
            std::FILE* f = std::freopen(log.c_str(), "w", stderr);
            if (!f) _exit(120);
            dup2(fileno(stderr), STDOUT_FILENO);
            const char* args[] = {"run",         "--input",   script.c_str(),     "--out",
                                  shots.c_str(), "--seconds", waitSeconds.c_str()};
            if (c.signal)
                execl(hx.c_str(), hx.c_str(), args[0], args[1], args[2], args[3], args[4], args[5], args[6],
                      static_cast<char*>(nullptr));
            else
                execlp("timeout", "timeout", std::to_string(kTimeout).c_str(), hx.c_str(), args[0], args[1], args[2],
                       args[3], args[4], args[5], args[6], static_cast<char*>(nullptr));
            _exit(121);
        }
        auto logText = [&] {
            auto text = foundation::files::readString(log);
            return text.ok() ? *text : std::string();
        };
        // The script has chosen the tab once its screenshot is taken (under `timeout`, on a loaded
        // machine, the time may run out first).
        bool shot = false;
        int status = 0;
        pid_t ended = 0;
        for (int i = 0; i < 1200 * hxtest::kSanitizerSlowdown && !shot && ended == 0; ++i) {
            shot = logText().find("screenshot-1.png") != std::string::npos;
            if (!shot) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!c.signal) ended = waitpid(pid, &status, WNOHANG);
        }
        if (c.signal) {
            ASSERT_TRUE(shot) << logText();
            EXPECT_EQ(processesNaming(state).size(), 1u) << "the run's emulator";
            ASSERT_EQ(kill(pid, c.signal), 0);
        }
        const auto sent = c.signal ? std::chrono::steady_clock::now() : started + std::chrono::seconds(kTimeout);
        if (ended == 0) ended = waitOrKill(pid, status, 30.0 * hxtest::kSanitizerSlowdown);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
        EXPECT_LT(seconds, 5.0 * hxtest::kSanitizerSlowdown) << logText();
        ASSERT_TRUE(WIFEXITED(status)) << logText();
        EXPECT_EQ(WEXITSTATUS(status), c.status) << logText();
        EXPECT_NE(logText().find(c.signal == SIGINT ? "ended by SIGINT" : "ended by SIGTERM"), std::string::npos)
            << logText();
        // Nothing of the run is left: no emulator (it names the state file), no app (it names the
        // script).
        for (const std::string& named : {state, script})
            for (pid_t left : processesNaming(named)) {
                ADD_FAILURE() << "left running: " << left << " naming " << named;
                kill(left, SIGKILL);
            }
        auto prefs = foundation::files::readData(home / "Library/Preferences/hx_connect.plist");
        ASSERT_TRUE(prefs.ok());
        auto values = foundation::readPropertyList(*prefs);
        ASSERT_TRUE(values.ok() && values->isDictionary());
        if (shot) {
            EXPECT_EQ(values->asDictionary().get("tabBarIndex").int64Value(-1), c.tabIndex) << logText();
        }
    }
    // The next run needs no sign-in: a name the service does not know would fail one.
    EXPECT_EQ(run("--user nobody@example.test"), 0) << printed;
}

}  // namespace
}  // namespace run_program
