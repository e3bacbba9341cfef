#include <execinfo.h>
#include <gtest/gtest.h>
#include <ucontext.h>

#include "crashreporter/frame_cursor.h"
#include "crashreporter/task_memory.h"
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

}  // namespace
