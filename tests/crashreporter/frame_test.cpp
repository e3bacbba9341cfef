#include <execinfo.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "crashreporter/compact_unwind.h"
#include "crashreporter/dwarf_unwinder.h"
#include "crashreporter/frame_cursor.h"
#include "crashreporter/task_memory.h"
#include "platform/kernel/loaded_images.h"
#include "tests/crashreporter/crash_fixtures.h"

namespace {

TEST(ThreadState, RegisterTablesOfEachArchitecture) {
    zvcrash_async_thread_state s;
    zvcrash_async_thread_state_init(&s, ZVCRASH_THREAD_ARCH_X86_64);
    ASSERT_EQ(zvcrash_async_thread_state_get_reg_count(&s), 17);
    const char* x86[] = {"rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx", "rdi", "rsi",
                         "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};
    for (int i = 0; i < 17; ++i) EXPECT_STREQ(zvcrash_async_thread_state_get_reg_name(&s, i), x86[i]);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg_name(&s, 17), nullptr);
    int index = -1;
    ASSERT_TRUE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 16, &index));  // the return address column
    EXPECT_EQ(index, ZVCRASH_REG_IP);
    ASSERT_TRUE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 6, &index));
    EXPECT_STREQ(zvcrash_async_thread_state_get_reg_name(&s, index), "rbp");
    ASSERT_TRUE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 1, &index));
    EXPECT_STREQ(zvcrash_async_thread_state_get_reg_name(&s, index), "rdx");
    EXPECT_FALSE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 17, &index));
    uint64_t dwarf = 0;
    ASSERT_TRUE(zvcrash_async_thread_state_map_reg_to_dwarf(&s, 4, &dwarf));  // rbx
    EXPECT_EQ(dwarf, 3u);

    zvcrash_async_thread_state_init(&s, ZVCRASH_THREAD_ARCH_ARM64);
    ASSERT_EQ(zvcrash_async_thread_state_get_reg_count(&s), 34);
    EXPECT_STREQ(zvcrash_async_thread_state_get_reg_name(&s, 33), "cpsr");
    EXPECT_STREQ(zvcrash_async_thread_state_get_reg_name(&s, 32), "lr");
    EXPECT_STREQ(zvcrash_async_thread_state_get_reg_name(&s, 3 + 28), "x28");
    ASSERT_TRUE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 29, &index));
    EXPECT_EQ(index, ZVCRASH_REG_FP);
    ASSERT_TRUE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 31, &index));
    EXPECT_EQ(index, ZVCRASH_REG_SP);
    EXPECT_FALSE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 32, &index));
    // pc, fp, sp and lr of a 64-bit state read as their low 36 bits (pointer-authentication
    // bits above bit 35 removed); every other register, and the stored value, stay whole.
    const uint64_t signedPointer = 0x8f2a000123456789ULL;
    for (int i = 0; i < 34; ++i) zvcrash_async_thread_state_set_reg(&s, i, signedPointer);
    for (int i = 0; i < 34; ++i) {
        SCOPED_TRACE(zvcrash_async_thread_state_get_reg_name(&s, i));
        const bool address = i == ZVCRASH_REG_IP || i == ZVCRASH_REG_FP || i == ZVCRASH_REG_SP || i == 32;
        EXPECT_EQ(zvcrash_async_thread_state_get_reg(&s, i), address ? 0x123456789ULL : signedPointer);
        EXPECT_EQ(s.regs[i], signedPointer);
    }

    zvcrash_async_thread_state_init(&s, ZVCRASH_THREAD_ARCH_ARM32);
    ASSERT_EQ(zvcrash_async_thread_state_get_reg_count(&s), 17);
    EXPECT_STREQ(zvcrash_async_thread_state_get_reg_name(&s, 1), "r7");
    zvcrash_async_thread_state_set_reg(&s, 5, 0x1234567890ULL);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&s, 5), 0x34567890u);  // 32-bit states keep 32 bits
    ASSERT_TRUE(zvcrash_async_thread_state_map_dwarf_to_reg(&s, 15, &index));
    EXPECT_EQ(index, ZVCRASH_REG_IP);
}

TEST(ThreadState, ClearingVolatileRegistersKeepsTheCalleeSavedOnes) {
    zvcrash_async_thread_state s;
    zvcrash_async_thread_state_init(&s, ZVCRASH_THREAD_ARCH_X86_64);
    for (int i = 0; i < 17; ++i) zvcrash_async_thread_state_set_reg(&s, i, 100 + i);
    zvcrash_async_thread_state_clear_volatile_regs(&s);
    for (int i = 0; i < 17; ++i) {
        const std::string name = zvcrash_async_thread_state_get_reg_name(&s, i);
        const bool calleeSaved =
            name == "rbx" || name == "rbp" || name == "r12" || name == "r13" || name == "r14" || name == "r15";
        EXPECT_EQ(zvcrash_async_thread_state_has_reg(&s, i), calleeSaved) << name;
    }
    zvcrash_async_thread_state_init(&s, ZVCRASH_THREAD_ARCH_ARM64);
    for (int i = 0; i < 34; ++i) zvcrash_async_thread_state_set_reg(&s, i, i);
    zvcrash_async_thread_state_clear_volatile_regs(&s);
    EXPECT_TRUE(zvcrash_async_thread_state_has_reg(&s, ZVCRASH_REG_FP));
    EXPECT_TRUE(zvcrash_async_thread_state_has_reg(&s, 3 + 19));
    EXPECT_TRUE(zvcrash_async_thread_state_has_reg(&s, 3 + 28));
    EXPECT_FALSE(zvcrash_async_thread_state_has_reg(&s, 3 + 18));
    EXPECT_FALSE(zvcrash_async_thread_state_has_reg(&s, ZVCRASH_REG_IP));
    EXPECT_FALSE(zvcrash_async_thread_state_has_reg(&s, 32));
}

// A fake stack of frame records {caller fp, return address} laid out in a buffer task.
struct FakeStack {
    static constexpr uint64_t kBase = 0x7f0000000000ULL;
    std::vector<uint64_t> words;
    zvcrash_buffer_task task;
    explicit FakeStack(std::vector<uint64_t> w) : words(std::move(w)) {
        zvcrash_buffer_task_init(&task, kBase, words.data(), words.size() * 8);
    }
    static uint64_t at(int word) { return kBase + 8 * static_cast<uint64_t>(word); }
};

std::vector<uint64_t> walk(FakeStack& stack, uint64_t pc, uint64_t fp, zvcrash_frame_error_t* last) {
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_X86_64);
    zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_IP, pc);
    zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_FP, fp);
    zvcrash_frame_cursor cursor;
    zvcrash_frame_cursor_init(&cursor, &stack.task.task, &state, nullptr);
    std::vector<uint64_t> pcs;
    for (int i = 0; i < 600; ++i) {
        *last = zvcrash_frame_cursor_next(&cursor);
        if (*last != ZVCRASH_FRAME_ESUCCESS) break;
        uint64_t value;
        EXPECT_EQ(zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &value), ZVCRASH_FRAME_ESUCCESS);
        pcs.push_back(value);
    }
    zvcrash_frame_cursor_free(&cursor);
    return pcs;
}

TEST(FramePointerWalk, FollowsTheChainToFramePointerZero) {
    FakeStack stack({FakeStack::at(2), 0x401000, FakeStack::at(4), 0x402000, 0, 0x403000});
    zvcrash_frame_error_t last;
    auto pcs = walk(stack, 0x400000, FakeStack::at(0), &last);
    EXPECT_EQ(pcs, std::vector<uint64_t>({0x400000, 0x401000, 0x402000, 0x403000}));
    EXPECT_EQ(last, ZVCRASH_FRAME_ENOFRAME);  // fp 0 ends the walk without an extra frame
}

TEST(FramePointerWalk, RefusesRecordsThatDoNotMoveTowardsTheBase) {
    zvcrash_frame_error_t last;
    // A record that points back at itself would repeat the same frame until the cap.
    FakeStack loop({FakeStack::at(2), 0x401000, FakeStack::at(2), 0x402000});
    auto pcs = walk(loop, 0x400000, FakeStack::at(0), &last);
    EXPECT_EQ(pcs, std::vector<uint64_t>({0x400000, 0x401000, 0x402000}));
    EXPECT_EQ(last, ZVCRASH_FRAME_EBADFRAME);
    // One that jumps the wrong way.
    FakeStack back({0, 0, FakeStack::at(0), 0x401000});
    pcs = walk(back, 0x400000, FakeStack::at(2), &last);
    EXPECT_EQ(pcs, std::vector<uint64_t>({0x400000, 0x401000}));
    EXPECT_EQ(last, ZVCRASH_FRAME_EBADFRAME);
    // An unreadable record.
    FakeStack shortStack({FakeStack::at(4), 0x401000});
    pcs = walk(shortStack, 0x400000, FakeStack::at(0), &last);
    EXPECT_EQ(last, ZVCRASH_FRAME_EBADFRAME);
}

TEST(FramePointerWalk, AReturnAddressInTheFirstPageEndsTheWalk) {
    FakeStack stack({FakeStack::at(2), 0x401000, FakeStack::at(4), 4096, 0, 0});
    zvcrash_frame_error_t last;
    auto pcs = walk(stack, 0x400000, FakeStack::at(0), &last);
    EXPECT_EQ(pcs, std::vector<uint64_t>({0x400000, 0x401000}));
    EXPECT_EQ(last, ZVCRASH_FRAME_ENOFRAME);
}

TEST(FrameCursor, FirstStepReadsNothingAndNoReadersIsAnError) {
    zvcrash_buffer_task empty;
    zvcrash_buffer_task_init(&empty, 0, nullptr, 0);
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_ARM64);
    zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_IP, 0x1234);
    zvcrash_frame_cursor cursor;
    zvcrash_frame_cursor_init(&cursor, &empty.task, &state, nullptr);
    EXPECT_EQ(zvcrash_frame_cursor_next_with_readers(&cursor, nullptr, 0), ZVCRASH_FRAME_ESUCCESS);
    uint64_t pc = 0;
    EXPECT_EQ(zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &pc), ZVCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(pc, 0x1234u);
    EXPECT_EQ(zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_SP, &pc), ZVCRASH_FRAME_ENOTSUP);
    EXPECT_EQ(zvcrash_frame_cursor_next_with_readers(&cursor, nullptr, 0), ZVCRASH_FRAME_EINVAL);
    EXPECT_EQ(zvcrash_frame_cursor_get_regcount(&cursor), 34);
    EXPECT_STREQ(zvcrash_frame_cursor_get_regname(&cursor, 0), "pc");
}

// The walk of this thread from a captured context agrees with the C library's backtrace().
struct Compare {
    std::vector<uint64_t> ours;
    std::vector<uint64_t> theirs;
};

TEST(FramePointerWalk, AgreesWithBacktraceOnRealFrames) {
    Compare compare;
    hx_fixture_recurse(
        20,
        [](void* ctx) {
            auto* c = static_cast<Compare*>(ctx);
            void* frames[64];
            int n = backtrace(frames, 64);
            for (int i = 0; i < n; ++i) c->theirs.push_back(reinterpret_cast<uint64_t>(frames[i]));
            ucontext_t context;
            getcontext(&context);
            zvcrash_async_thread_state state;
            zvcrash_async_thread_state_mcontext_init(&state, &context);
            zvcrash_frame_cursor cursor;
            zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &state, nullptr);
            while (zvcrash_frame_cursor_next(&cursor) == ZVCRASH_FRAME_ESUCCESS && c->ours.size() < 64) {
                uint64_t pc;
                zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &pc);
                c->ours.push_back(pc);
            }
        },
        &compare);
    // Both lists go on through the 20 recursion frames; the return addresses there must match.
    ASSERT_GE(compare.ours.size(), 22u);
    ASSERT_GE(compare.theirs.size(), 22u);
    auto start = std::find(compare.theirs.begin(), compare.theirs.end(), compare.ours[1]);
    ASSERT_NE(start, compare.theirs.end()) << "the first caller is not in backtrace()'s list";
    for (size_t i = 1; i < 21 && start != compare.theirs.end(); ++i, ++start) EXPECT_EQ(compare.ours[i], *start) << i;
}

// Where the frame-record chain ends short of the stack's base, the whole cursor goes on: its table
// readers take the frames of code built without frame pointers (the test framework's library, the C
// library's start code) and it reaches backtrace()'s depth, frame for frame.
struct DepthWalks {
    std::vector<uint64_t> records;  // the frame-pointer walk
    std::vector<uint64_t> whole;    // the default readers over this process's images
    std::vector<uint64_t> theirs;   // backtrace()
};

TEST(FrameCursor, WholeCursorReachesBacktracesDepthWhereTheFrameRecordsEnd) {
    zvcrash_async_image_list list;
    zvcrash_async_image_list_init(&list, kernel::task_self());
    for (const auto& image : kernel::dyld_images())
        zvcrash_async_image_list_append(&list, image.header, image.path.c_str());
    struct Context {
        DepthWalks walks;
        zvcrash_async_image_list* list;
    } context{{}, &list};
    hx_fixture_recurse(
        50,
        [](void* raw) {
            auto* c = static_cast<Context*>(raw);
            void* frames[128];
            const int n = backtrace(frames, 128);
            for (int i = 0; i < n; ++i) c->walks.theirs.push_back(reinterpret_cast<uint64_t>(frames[i]));
            ucontext_t uc;
            getcontext(&uc);
            zvcrash_async_thread_state state;
            zvcrash_async_thread_state_mcontext_init(&state, &uc);
            for (auto* out : {&c->walks.records, &c->walks.whole}) {
                zvcrash_frame_cursor cursor;
                zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &state,
                                          out == &c->walks.whole ? c->list : nullptr);
                while (out->size() < 128 && zvcrash_frame_cursor_next(&cursor) == ZVCRASH_FRAME_ESUCCESS) {
                    uint64_t pc = 0;
                    zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &pc);
                    out->push_back(pc);
                }
                zvcrash_frame_cursor_free(&cursor);
            }
        },
        &context);
    const DepthWalks& w = context.walks;
    ASSERT_GE(w.theirs.size(), 55u);
    // Both walks start at getcontext's caller; backtrace() at its own call a few bytes before.
    auto start = std::find(w.theirs.begin(), w.theirs.end(), w.whole.at(1));
    ASSERT_NE(start, w.theirs.end());
    EXPECT_EQ(std::vector<uint64_t>(w.whole.begin() + 1, w.whole.end()), std::vector<uint64_t>(start, w.theirs.end()))
        << "the whole cursor gives backtrace()'s frames, to the same depth";
    // The frame records end before: what they found is the whole walk's beginning.
    ASSERT_GT(w.records.size(), 52u);
    ASSERT_LT(w.records.size(), w.whole.size());
    EXPECT_EQ(w.records, std::vector<uint64_t>(w.whole.begin(), w.whole.begin() + w.records.size()));
    zvcrash_async_image_list_free(&list);
}

}  // namespace

namespace {

// The same process read through a task that is not task_self(): every read takes the checked copy.
kernel::kern_return_t readThroughSelf(const kernel::Task*, uint64_t address, void* destination, size_t length) {
    return kernel::vm_read_overwrite(kernel::task_self(), address, length, destination);
}
const kernel::Task kCheckedSelf{&readThroughSelf, nullptr};

struct TwoWalks {
    std::vector<uint64_t> direct;
    std::vector<uint64_t> checked;
    bool directRange = false;
};

// The pcs of a walk from state through task's memory (at most 64 frames).
std::vector<uint64_t> walkState(const zvcrash_async_thread_state* state, const kernel::Task* task = kernel::task_self(),
                                bool* directRange = nullptr) {
    zvcrash_frame_cursor cursor;
    zvcrash_frame_cursor_init(&cursor, task, state, nullptr);
    if (directRange) *directRange = cursor.cache.direct_low < cursor.cache.direct_high;
    std::vector<uint64_t> pcs;
    while (pcs.size() < 64 && zvcrash_frame_cursor_next(&cursor) == ZVCRASH_FRAME_ESUCCESS) {
        uint64_t pc = 0;
        zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &pc);
        pcs.push_back(pc);
    }
    zvcrash_frame_cursor_free(&cursor);
    return pcs;
}

std::vector<uint64_t> walkFrom(const kernel::Task* task, const ucontext_t* context, bool* directRange = nullptr) {
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_mcontext_init(&state, context);
    return walkState(&state, task, directRange);
}

void walkBothWays(void* context) {
    auto* walks = static_cast<TwoWalks*>(context);
    ucontext_t uc;
    getcontext(&uc);
    walks->direct = walkFrom(kernel::task_self(), &uc, &walks->directRange);
    walks->checked = walkFrom(&kCheckedSelf, &uc);
}

}  // namespace

TEST(FramePointerWalk, ReadingItsOwnStackInPlaceGivesTheCheckedWalk) {
    for (bool onWorker : {false, true}) {
        SCOPED_TRACE(onWorker ? "another thread" : "the test's thread");
        TwoWalks walks;
        auto run = [&] { hx_fixture_recurse(30, &walkBothWays, &walks); };
        if (onWorker)
            std::thread(run).join();
        else
            run();
        EXPECT_TRUE(walks.directRange) << "a walk of the calling thread reads its stack in place";
        ASSERT_GE(walks.direct.size(), 31u);
        EXPECT_EQ(walks.direct, walks.checked);
    }
}

namespace {

struct CapturedAndSignalContext {
    zvcrash_async_thread_state captured;
    zvcrash_async_thread_state fromContext;
    std::vector<uint64_t> capturedWalk;
    std::vector<uint64_t> contextWalk;
};

__attribute__((noinline)) void captureBothWays(void* context) {
    auto* both = static_cast<CapturedAndSignalContext*>(context);
    zvcrash_async_thread_state_capture(&both->captured);
    ucontext_t uc;
    getcontext(&uc);
    zvcrash_async_thread_state_mcontext_init(&both->fromContext, &uc);
    both->capturedWalk = walkState(&both->captured);
    both->contextWalk = walkState(&both->fromContext);
}

}  // namespace

// The capture without a system call stands for getcontext(): the same frame, the same callee-saved
// registers, and a walk from it through the same callers.
TEST(ThreadState, CapturingTheCallersRegistersMatchesItsSignalContext) {
    CapturedAndSignalContext both;
    hx_fixture_recurse(12, &captureBothWays, &both);
    const auto* a = &both.captured;
    const auto* b = &both.fromContext;
    EXPECT_EQ(zvcrash_async_thread_state_get_reg_count(a), zvcrash_async_thread_state_get_reg_count(b));
    for (int index : {ZVCRASH_REG_FP, ZVCRASH_REG_SP}) {
        EXPECT_TRUE(zvcrash_async_thread_state_has_reg(a, index));
        EXPECT_EQ(zvcrash_async_thread_state_get_reg(a, index), zvcrash_async_thread_state_get_reg(b, index))
            << zvcrash_async_thread_state_get_reg_name(a, index);
    }
    // Both code addresses lie in the capturing function, the capture's first.
    const uint64_t function = reinterpret_cast<uintptr_t>(&captureBothWays);
    const uint64_t capturedPc = zvcrash_async_thread_state_get_reg(a, ZVCRASH_REG_IP);
    const uint64_t contextPc = zvcrash_async_thread_state_get_reg(b, ZVCRASH_REG_IP);
    EXPECT_GT(capturedPc, function);
    EXPECT_LT(capturedPc, contextPc);
    EXPECT_LT(contextPc - function, 4096u);
    ASSERT_GE(both.capturedWalk.size(), 14u);
    ASSERT_EQ(both.capturedWalk.size(), both.contextWalk.size());
    EXPECT_TRUE(std::equal(both.capturedWalk.begin() + 1, both.capturedWalk.end(), both.contextWalk.begin() + 1));
}

TEST(FramePointerWalk, FramesOutsideTheCallersStackAreReadThroughCheckedCopies) {
    // A frame pointer into memory that is gone: the in-place range does not cover it, so the walk
    // ends with an unreadable frame instead of a fault.
    const size_t page = kernel::vm_page_size();
    void* gone = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(gone, MAP_FAILED);
    munmap(gone, page);
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_X86_64);
    zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_IP, 0x401000);
    zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_FP, reinterpret_cast<uintptr_t>(gone));
    zvcrash_frame_cursor cursor;
    zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &state, nullptr);
    EXPECT_FALSE(reinterpret_cast<uintptr_t>(gone) >= cursor.cache.direct_low &&
                 reinterpret_cast<uintptr_t>(gone) < cursor.cache.direct_high);
    EXPECT_EQ(zvcrash_frame_cursor_next(&cursor), ZVCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(zvcrash_frame_cursor_next(&cursor), ZVCRASH_FRAME_EBADFRAME);
}

namespace {
std::atomic<int> gAltStackAnswer{-1};
void askOnAlternateStack(int) {
    char here;
    uint64_t top = 0;
    gAltStackAnswer = zvcrash_async_own_stack_above(reinterpret_cast<uintptr_t>(&here), &top) ? 1 : 0;
}
}  // namespace

namespace {
// The answer for a frame depth calls below the caller's.
__attribute__((noinline)) bool ownStackFromDeeper(int depth, uint64_t* top) {
    volatile char here = 0;
    if (depth > 0) return ownStackFromDeeper(depth - 1, top) && here == 0;
    return zvcrash_async_own_stack_above(reinterpret_cast<uintptr_t>(&here), top);
}
}  // namespace

TEST(FramePointerWalk, OnAnAlternateSignalStackNothingIsReadInPlace) {
    char here;
    uint64_t top = 0;
    ASSERT_TRUE(zvcrash_async_own_stack_above(reinterpret_cast<uintptr_t>(&here), &top));
    EXPECT_GT(top, reinterpret_cast<uintptr_t>(&here));
    // Deeper, then again inside the stretch already confirmed: the same top either way.
    for (int depth : {20, 5, 20}) {
        uint64_t again = 0;
        EXPECT_TRUE(ownStackFromDeeper(depth, &again)) << depth;
        EXPECT_EQ(again, top) << depth;
    }
    // Another thread has a stack (and a top) of its own.
    uint64_t otherTop = 0;
    std::thread([&] {
        char there;
        EXPECT_TRUE(zvcrash_async_own_stack_above(reinterpret_cast<uintptr_t>(&there), &otherTop));
    }).join();
    EXPECT_NE(otherTop, 0u);
    EXPECT_NE(otherTop, top);

    std::vector<char> altStack(64 * 1024);
    stack_t alt{}, previousAlt{};
    alt.ss_sp = altStack.data();
    alt.ss_size = altStack.size();
    ASSERT_EQ(sigaltstack(&alt, &previousAlt), 0);
    struct sigaction action {
    }, previous{};
    action.sa_handler = &askOnAlternateStack;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);
    raise(SIGUSR2);
    sigaction(SIGUSR2, &previous, nullptr);
    sigaltstack(&previousAlt, nullptr);
    EXPECT_EQ(gAltStackAnswer.load(), 0) << "a crash-time walk must keep the checked copies";
}

TEST(FrameCursor, TriesOnlyTheReadersThatCanReadItsImages) {
    int count = 0;
    const zvcrash_frame_reader_t* readers = zvcrash_frame_default_readers_for(nullptr, &count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(readers[0], &zvcrash_frame_fp_reader);
    zvcrash_async_image_list list;
    zvcrash_async_image_list_init(&list, kernel::task_self());
    readers = zvcrash_frame_default_readers_for(&list, &count);
    ASSERT_EQ(count, 2);  // no Mach-O image: no compact unwind
    EXPECT_EQ(readers[0], &zvcrash_frame_dwarf_reader);
    EXPECT_EQ(readers[1], &zvcrash_frame_fp_reader);
    list.shared->macho_count.store(1);
    readers = zvcrash_frame_default_readers_for(&list, &count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(readers[0], &zvcrash_frame_compact_unwind_reader);
    list.shared->macho_count.store(0);
    zvcrash_async_image_list_free(&list);
}
