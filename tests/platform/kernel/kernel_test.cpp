#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/kernel/loaded_images.h"
#include "platform/kernel/mach.h"
#include "platform/kernel/sysctl.h"
#include "platform/kernel/thread_state.h"
#include "platform/kernel/uncaught_exception.h"
#include "tests/support/test_support.h"

namespace {

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

TEST(TaskMemory, CopiesMappedMemoryAndRefusesUnmappedPages) {
    const char text[] = "task memory";
    char out[sizeof text] = {};
    EXPECT_EQ(kernel::vm_read_overwrite(kernel::task_self(), reinterpret_cast<uintptr_t>(text), sizeof text, out),
              kernel::KERN_SUCCESS);
    EXPECT_STREQ(out, text);

    const size_t page = kernel::vm_page_size();
    EXPECT_EQ(page, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
    auto* pages =
        static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    uint8_t buffer[16];
    EXPECT_EQ(kernel::vm_read_overwrite(kernel::task_self(), reinterpret_cast<uintptr_t>(pages + page - 8), 16, buffer),
              kernel::KERN_INVALID_ADDRESS);
    EXPECT_EQ(kernel::vm_read_overwrite(kernel::task_self(), 0, 8, buffer), kernel::KERN_INVALID_ADDRESS);
    EXPECT_EQ(kernel::vm_read_overwrite(kernel::task_self(), UINT64_MAX - 3, 8, buffer), kernel::KERN_INVALID_ADDRESS);
    munmap(pages, 2 * page);
}

TEST(Sysctl, AnswersFromUnameAndSysconf) {
    std::string release, machine;
    ASSERT_EQ(hxtest::runCommand("uname -r", &release), 0);
    ASSERT_EQ(hxtest::runCommand("uname -m", &machine), 0);
    char buffer[256];
    size_t size = sizeof buffer;
    ASSERT_EQ(kernel::sysctlbyname("kern.osrelease", buffer, &size), 0);
    EXPECT_EQ(std::string(buffer), trimmed(release));
    EXPECT_EQ(size, trimmed(release).size() + 1);
    size = sizeof buffer;
    ASSERT_EQ(kernel::sysctlbyname("hw.machine", buffer, &size), 0);
    EXPECT_EQ(std::string(buffer), trimmed(machine));

    size_t needed = 0;
    ASSERT_EQ(kernel::sysctlbyname("kern.osversion", nullptr, &needed), 0);
    size = 2;
    EXPECT_EQ(kernel::sysctlbyname("kern.osversion", buffer, &size), -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(kernel::sysctlbyname("no.such.name", buffer, &size), -1);
    EXPECT_EQ(errno, ENOENT);

    int32_t value = 0;
    size = sizeof value;
    ASSERT_EQ(kernel::sysctlbyname("hw.cputype", &value, &size), 0);
    if (trimmed(machine) == "x86_64") {
        EXPECT_EQ(value, 0x01000007);
        ASSERT_EQ(kernel::sysctlbyname("hw.cpusubtype", &value, &size), 0);
        EXPECT_EQ(value, 3);
    } else if (trimmed(machine) == "aarch64") {
        EXPECT_EQ(value, 0x0100000C);
    }
    ASSERT_EQ(kernel::sysctlbyname("hw.logicalcpu_max", &value, &size), 0);
    EXPECT_EQ(value, sysconf(_SC_NPROCESSORS_ONLN));
}

TEST(Sysctl, ProcessRecordMatchesTheProcess) {
    kernel::kinfo_proc record;
    ASSERT_TRUE(kernel::proc_info(getpid(), &record));
    EXPECT_EQ(record.pid, getpid());
    EXPECT_EQ(record.ppid, getppid());
    EXPECT_EQ(std::string(record.comm, strnlen(record.comm, 16)),
              std::string(program_invocation_short_name).substr(0, 15));
    EXPECT_GT(record.start.tv_sec, 1600000000);
    EXPECT_LE(record.start.tv_sec, time(nullptr));
    EXPECT_FALSE(record.traced);
    EXPECT_FALSE(kernel::proc_info(INT32_MAX, &record));

    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    ASSERT_GT(n, 0);
    EXPECT_EQ(kernel::executable_path(), std::string(path, n));
}

// Whether the kernel shows the thread blocking the signal (its "SigBlk" mask in /proc), read apart
// from the code under test: such a thread cannot answer a stop request.
bool blocksSignal(kernel::thread_t tid, int sig) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigBlk:", 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (sig - 1)) & 1;
    }
    return false;
}

// Parks `count` threads in a loop whose registers the test can recognise. They sleep in short
// naps rather than spin: a sanitizer runtime that holds an asynchronous signal back until the
// thread next calls into the C library hands it over at the next nap.
struct ParkedThreads {
    std::atomic<bool> stop{false};
    std::atomic<int> running{0};
    std::vector<std::thread> threads;
    std::vector<kernel::thread_t> ids;
    std::mutex lock;

    explicit ParkedThreads(int count) {
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this] {
                {
                    std::lock_guard guard(lock);
                    ids.push_back(kernel::thread_self());
                }
                running.fetch_add(1);
                while (!stop.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
            });
        }
        while (running.load() < count) std::this_thread::yield();
    }
    ~ParkedThreads() {
        stop.store(true);
        for (auto& t : threads) t.join();
    }
};

TEST(ThreadStop, ListsStopsReadsAndResumesThreads) {
    ASSERT_TRUE(kernel::thread_stop_install());
    ParkedThreads parked(4);
    kernel::thread_t list[kernel::kMaxThreads];
    const int listedCount = kernel::task_threads(list, kernel::kMaxThreads);
    ASSERT_GE(listedCount, 5);
    std::vector<kernel::thread_t> listed(list, list + listedCount);
    EXPECT_NE(std::find(listed.begin(), listed.end(), kernel::thread_self()), listed.end());
    for (auto id : parked.ids) EXPECT_NE(std::find(listed.begin(), listed.end(), id), listed.end());

    // Every listed thread but this one stops, bar a runtime's helper thread that blocks every
    // signal (a sanitizer's): such a one is left out, as it would only be waited for until the
    // deadline.
    int count = 0;
    for (auto id : listed)
        if (!blocksSignal(id, kernel::thread_stop_signal())) list[count++] = id;
    for (auto id : parked.ids) EXPECT_FALSE(blocksSignal(id, kernel::thread_stop_signal()));
    EXPECT_EQ(kernel::threads_stop(list, count, 2000), count - 1);
    for (auto id : parked.ids) {
        kernel::machine_thread_state state;
        ASSERT_EQ(kernel::thread_get_state(id, &state), kernel::KERN_SUCCESS);
#if defined(__x86_64__)
        EXPECT_EQ(state.flavor, kernel::x86_THREAD_STATE64);
        EXPECT_NE(state.x86_64.rip, 0u);
        EXPECT_NE(state.x86_64.rsp, 0u);
#endif
    }
    kernel::machine_thread_state state;
    EXPECT_EQ(kernel::thread_get_state(kernel::thread_self(), &state), kernel::KERN_FAILURE);
    kernel::threads_resume_all();
    EXPECT_EQ(kernel::thread_get_state(parked.ids[0], &state), kernel::KERN_FAILURE);
    // Resumed threads run again: a second round parks them as well.
    EXPECT_EQ(kernel::threads_stop(list, count, 2000), count - 1);
    kernel::threads_resume_all();
}

TEST(ThreadStop, AThreadThatCannotAnswerIsWaitedForOnlyUntilTheDeadline) {
    ASSERT_TRUE(kernel::thread_stop_install());
    std::atomic<bool> ready{false}, stop{false};
    std::atomic<kernel::thread_t> id{0};
    std::thread blocked([&] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, kernel::thread_stop_signal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        id.store(kernel::thread_self());
        ready.store(true);
        while (!stop.load()) std::this_thread::yield();
        // The pending stop signal arrives now: it must find nothing to wait for.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    });
    while (!ready.load()) std::this_thread::yield();
    EXPECT_TRUE(blocksSignal(id.load(), kernel::thread_stop_signal()));
    kernel::thread_t list[1] = {id.load()};
    EXPECT_EQ(kernel::threads_stop(list, 1, 50), 0);
    kernel::machine_thread_state state;
    EXPECT_EQ(kernel::thread_get_state(id.load(), &state), kernel::KERN_FAILURE);
    kernel::threads_resume_all();
    stop.store(true);
    blocked.join();
}

std::vector<std::pair<uint64_t, std::string>>& added() {
    static std::vector<std::pair<uint64_t, std::string>> list;
    return list;
}
std::vector<uint64_t>& removed() {
    static std::vector<uint64_t> list;
    return list;
}

TEST(LoadedImages, ReportsExistingImagesAndFollowsDlopenAndDlclose) {
    kernel::dyld_register_func_for_add_image(
        [](uint64_t header, const char* path) { added().emplace_back(header, path); });
    kernel::dyld_register_func_for_remove_image([](uint64_t header, const char*) { removed().push_back(header); });
    ASSERT_FALSE(added().empty());
    // The main program comes first, under its real path, with its ELF header at the reported base.
    EXPECT_EQ(added()[0].second, kernel::executable_path());
    EXPECT_EQ(memcmp(reinterpret_cast<const void*>(added()[0].first), "\177ELF", 4), 0);

    const size_t before = added().size();
    void* handle = dlopen(HX_KERNEL_TEST_DSO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(added().size(), before + 1);
    EXPECT_NE(added().back().second.find("hx_kernel_test_dso"), std::string::npos);
    const uint64_t header = added().back().first;
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(handle, "hx_kernel_test_dso_value"), &info), 0);
    EXPECT_EQ(reinterpret_cast<uint64_t>(info.dli_fbase), header);

    ASSERT_EQ(dlclose(handle), 0);
    ASSERT_EQ(removed().size(), 1u);
    EXPECT_EQ(removed()[0], header);
    bool stillListed = false;
    for (const auto& image : kernel::dyld_images()) stillListed |= image.header == header;
    EXPECT_FALSE(stillListed);
}

TEST(UncaughtExceptionHandler, ReplacesRatherThanChains) {
    static int calls[2] = {0, 0};
    auto first = [](const kernel::PlatformException&) { ++calls[0]; };
    auto second = [](const kernel::PlatformException&) { ++calls[1]; };
    kernel::setUncaughtExceptionHandler(first);
    kernel::setUncaughtExceptionHandler(second);
    auto handler = kernel::getUncaughtExceptionHandler();
    ASSERT_NE(handler, nullptr);
    handler(kernel::PlatformException{"Name", "Reason", {1, 2}});
    EXPECT_EQ(calls[0], 0);
    EXPECT_EQ(calls[1], 1);
    kernel::setUncaughtExceptionHandler(nullptr);
    EXPECT_EQ(kernel::getUncaughtExceptionHandler(), nullptr);
}

}  // namespace
