#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "crashreporter/compact_unwind.h"
#include "crashreporter/thread_state.h"
#include "tests/support/test_support.h"

namespace {

struct Section {
    std::vector<uint8_t> bytes;
};

// The __unwind_info bytes of a dylib whose __TEXT segment starts at file offset 0 and address 0,
// located through llvm-objdump's section table.
bool unwindInfo(const std::string& path, std::vector<uint8_t>* out) {
    std::string table;
    if (hxtest::runCommand("llvm-objdump -h " + path, &table) != 0) return false;
    std::smatch m;
    if (!std::regex_search(table, m, std::regex("__unwind_info\\s+([0-9a-f]+)\\s+([0-9a-f]+)"))) return false;
    const size_t size = std::stoull(m[1], nullptr, 16), addr = std::stoull(m[2], nullptr, 16);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (addr + size > file.size()) return false;
    out->assign(file.begin() + static_cast<long>(addr), file.begin() + static_cast<long>(addr + size));
    return true;
}

void checkAgainstObjdump(const std::string& name, uint32_t cpu) {
    const std::string path = std::string(HX_UNWIND_FIXTURE_DIR) + "/" + name;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no clang/ld64.lld fixtures";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(unwindInfo(path, &bytes));
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, 0x100000, bytes.data(), bytes.size());
    zvcrash_async_mobject mobj;
    ASSERT_EQ(zvcrash_async_mobject_init(&mobj, &task.task, 0x100000, bytes.size(), true), ZVCRASH_ESUCCESS);
    zvcrash_async_cfe_reader reader;
    ASSERT_EQ(zvcrash_async_cfe_reader_init(&reader, &mobj, cpu), ZVCRASH_ESUCCESS);
    std::string dump;
    ASSERT_EQ(hxtest::runCommand("llvm-objdump --unwind-info " + path, &dump), 0);
    // Second-level entries: "[i]: function offset=0x..., encoding[k]=0x..." (compressed pages) or
    // "encoding=0x..." (regular pages).
    std::regex entry("\\[\\d+\\]: function offset=0x([0-9a-f]+), encoding(\\[\\d+\\])?=0x([0-9a-f]+)");
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    for (auto it = std::sregex_iterator(dump.begin(), dump.end(), entry); it != std::sregex_iterator(); ++it) {
        expected.emplace_back(std::stoul((*it)[1], nullptr, 16), std::stoul((*it)[3], nullptr, 16));
    }
    ASSERT_GE(expected.size(), 3u) << dump;
    for (size_t i = 0; i < expected.size(); ++i) {
        const uint32_t start = expected[i].first;
        const uint32_t last = i + 1 < expected.size() ? expected[i + 1].first - 1 : start;
        for (uint32_t pc : {start, start + (last - start) / 2, last}) {
            uint64_t base = 0;
            uint32_t encoding = 0;
            ASSERT_EQ(zvcrash_async_cfe_reader_find_pc(&reader, pc, &base, &encoding), ZVCRASH_ESUCCESS)
                << std::hex << pc;
            EXPECT_EQ(base, start) << std::hex << pc;
            EXPECT_EQ(encoding, expected[i].second) << std::hex << pc;
            zvcrash_async_cfe_entry decoded;
            EXPECT_EQ(zvcrash_async_cfe_entry_init(&decoded, cpu, encoding), ZVCRASH_ESUCCESS) << std::hex << encoding;
        }
    }
    uint64_t base;
    uint32_t encoding;
    EXPECT_EQ(zvcrash_async_cfe_reader_find_pc(&reader, expected[0].first - 1, &base, &encoding), ZVCRASH_ENOTFOUND);
    zvcrash_async_mobject_free(&mobj);
}

TEST(CompactUnwind, Arm64EntriesMatchObjdump) { checkAgainstObjdump("cu_arm64.dylib", 0x100000C); }
TEST(CompactUnwind, X86_64EntriesMatchObjdump) { checkAgainstObjdump("cu_x86_64.dylib", 0x1000007); }

TEST(CompactUnwind, Arm64Decoding) {
    zvcrash_async_cfe_entry e;
    // Frameless, no stack, no pairs: new sp = sp, pc = lr.
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&e, 0x100000C, 0x02000000), ZVCRASH_ESUCCESS);
    EXPECT_EQ(e.type, ZVCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD);
    EXPECT_EQ(e.stack_offset, 0);
    EXPECT_EQ(e.return_address_register, 32u);
    // Frame with x19/x20: x20 at fp-16, x19 at fp-8 (lowest address first).
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&e, 0x100000C, 0x04000001), ZVCRASH_ESUCCESS);
    EXPECT_EQ(e.type, ZVCRASH_ASYNC_CFE_TYPE_FRAME_PTR);
    EXPECT_EQ(e.stack_offset, -16);
    ASSERT_EQ(e.register_count, 2u);
    EXPECT_EQ(e.register_list[0], 3u + 20);
    EXPECT_EQ(e.register_list[1], 3u + 19);
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&e, 0x100000C, 0x03000123), ZVCRASH_ESUCCESS);
    EXPECT_EQ(e.type, ZVCRASH_ASYNC_CFE_TYPE_DWARF);
    EXPECT_EQ(e.stack_offset, 0x123);
    EXPECT_EQ(zvcrash_async_cfe_entry_init(&e, 0x100000C, 0x01000000), ZVCRASH_ENOTSUP);
    EXPECT_EQ(zvcrash_async_cfe_entry_init(&e, 12, 0x02000000), ZVCRASH_ENOTSUP);
}

TEST(CompactUnwind, X86PermutationDecoding) {
    uint32_t regs[6];
    // Count 6: every permutation digit picks from what remains.
    ASSERT_EQ(zvcrash_async_cfe_register_decode(0, 6, regs), ZVCRASH_ESUCCESS);
    EXPECT_EQ(std::vector<uint32_t>(regs, regs + 6), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(zvcrash_async_cfe_register_decode(7, 2, regs), ZVCRASH_ESUCCESS);  // 7/5 = 1, 7%5 = 2
    EXPECT_EQ(regs[0], 2u);
    EXPECT_EQ(regs[1], 4u);
    EXPECT_EQ(zvcrash_async_cfe_register_decode(0, 7, regs), ZVCRASH_EINVAL);
    zvcrash_async_cfe_entry e;
    // Frame: rbx saved at rbp-8 ... encoding mode 1, offset 1 word, register field rbx.
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&e, 0x1000007, 0x01010001), ZVCRASH_ESUCCESS);
    EXPECT_EQ(e.stack_offset, -8);
    ASSERT_EQ(e.register_count, 1u);
    EXPECT_EQ(e.register_list[0], 4u);  // rbx
    EXPECT_EQ(zvcrash_async_cfe_entry_init(&e, 0x1000007, 0x05000000), ZVCRASH_ENOTSUP);
}

}  // namespace

namespace {

zvcrash_async_thread_state arm64State() {
    zvcrash_async_thread_state s;
    zvcrash_async_thread_state_init(&s, ZVCRASH_THREAD_ARCH_ARM64);
    return s;
}

TEST(CompactUnwind, Arm64ApplyFramelessAndFrame) {
    // Stack words at 0x8000: [fp-16]=x20, [fp-8]=x19, [fp]=caller fp, [fp+8]=return address.
    const uint64_t words[4] = {0x2020, 0x1919, 0x9000, 0x4444};
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, 0x8000, words, sizeof words);
    zvcrash_async_cfe_entry e;
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&e, 0x100000C, 0x04000001), ZVCRASH_ESUCCESS);
    auto cur = arm64State();
    zvcrash_async_thread_state_set_reg(&cur, ZVCRASH_REG_IP, 0x1234);
    zvcrash_async_thread_state_set_reg(&cur, ZVCRASH_REG_FP, 0x8010);
    zvcrash_async_thread_state next;
    ASSERT_EQ(zvcrash_async_cfe_entry_apply(&task.task, 0x1000, &cur, &e, &next), ZVCRASH_ESUCCESS);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, ZVCRASH_REG_IP), 0x4444u);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, ZVCRASH_REG_FP), 0x9000u);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, ZVCRASH_REG_SP), 0x8020u);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, 3 + 20), 0x2020u);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, 3 + 19), 0x1919u);
    // Frameless with no stack: sp stays, pc = lr; without a known lr it fails.
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&e, 0x100000C, 0x02000000), ZVCRASH_ESUCCESS);
    zvcrash_async_thread_state_set_reg(&cur, ZVCRASH_REG_SP, 0x8000);
    EXPECT_EQ(zvcrash_async_cfe_entry_apply(&task.task, 0x1000, &cur, &e, &next), ZVCRASH_ENOTFOUND);
    zvcrash_async_thread_state_set_reg(&cur, 32, 0x5555);
    ASSERT_EQ(zvcrash_async_cfe_entry_apply(&task.task, 0x1000, &cur, &e, &next), ZVCRASH_ESUCCESS);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, ZVCRASH_REG_SP), 0x8000u);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, ZVCRASH_REG_IP), 0x5555u);
    // DWARF entries are never applied here.
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&e, 0x100000C, 0x03000010), ZVCRASH_ESUCCESS);
    EXPECT_EQ(zvcrash_async_cfe_entry_apply(&task.task, 0x1000, &cur, &e, &next), ZVCRASH_ENOTSUP);
}

}  // namespace

namespace {

// A section built word by word in the host's order.
struct UnwindInfo {
    std::vector<uint8_t> bytes;
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u16(uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
};

struct Malformed {
    const char* what;
    UnwindInfo section;
    zvcrash_error_t initError;
    zvcrash_error_t findError;
    const char* field;
    uint64_t offset;  // from the section's start
};

// Header with an index at 28 of two entries (one page, one sentinel) and the page at 52.
UnwindInfo withPage(uint32_t kind, uint16_t entryOffset, uint16_t entryCount, uint16_t encodingsOffset = 0,
                    uint16_t encodingsCount = 0) {
    UnwindInfo s;
    for (uint32_t w : {1u, 28u, 0u, 28u, 0u, 28u, 2u}) s.u32(w);
    for (uint32_t w : {0x100u, 52u, 0u, 0x900u, 0u, 0u}) s.u32(w);
    s.u32(kind);
    s.u16(entryOffset);
    s.u16(entryCount);
    s.u16(encodingsOffset);
    s.u16(encodingsCount);
    return s;
}

}  // namespace

TEST(CompactUnwindMalformed, ErrorsKeepTheirCodesAndNameTheFieldAndOffset) {
    const uint32_t arm64 = static_cast<uint32_t>(kernel::CPU_TYPE_ARM64);
    std::vector<Malformed> cases;
    {
        UnwindInfo s;
        for (uint32_t w : {1u, 0u, 0u}) s.u32(w);
        cases.push_back({"truncated header", s, ZVCRASH_EINVAL, ZVCRASH_ESUCCESS, "section header", 0});
    }
    {
        UnwindInfo s;
        for (uint32_t w : {2u, 28u, 0u, 28u, 0u, 28u, 0u}) s.u32(w);
        cases.push_back({"version 2", s, ZVCRASH_ENOTSUP, ZVCRASH_ESUCCESS, "section version", 0});
    }
    cases.push_back(
        {"page of kind 5", withPage(5, 12, 1), ZVCRASH_ESUCCESS, ZVCRASH_EINVAL, "second-level page kind", 52});
    cases.push_back({"regular entries past the end", withPage(2, 200, 1), ZVCRASH_ESUCCESS, ZVCRASH_EINVAL,
                     "regular page entry", 252});
    {
        // One compressed entry with encoding index 3, but no common and no page encodings.
        UnwindInfo s = withPage(3, 12, 1, 16, 0);
        s.u32(3u << 24);
        cases.push_back(
            {"page encoding index out of range", s, ZVCRASH_ESUCCESS, ZVCRASH_EINVAL, "page encoding index", 64});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        zvcrash_buffer_task task;
        constexpr uint64_t kAt = 0x200000;
        zvcrash_buffer_task_init(&task, kAt, c.section.bytes.data(), c.section.bytes.size());
        zvcrash_async_mobject mobj;
        ASSERT_EQ(zvcrash_async_mobject_init(&mobj, &task.task, kAt, c.section.bytes.size(), true), ZVCRASH_ESUCCESS);
        zvcrash_async_cfe_reader reader;
        const zvcrash_error_t init = zvcrash_async_cfe_reader_init(&reader, &mobj, arm64);
        EXPECT_EQ(init, c.initError);
        if (init == ZVCRASH_ESUCCESS) {
            uint64_t base;
            uint32_t encoding;
            EXPECT_EQ(zvcrash_async_cfe_reader_find_pc(&reader, 0x180, &base, &encoding), c.findError);
        }
        ASSERT_NE(reader.fault.field, nullptr);
        EXPECT_STREQ(reader.fault.field, c.field);
        EXPECT_EQ(reader.fault.address, kAt + c.offset);
        EXPECT_EQ(reader.fault.code, c.initError != ZVCRASH_ESUCCESS ? c.initError : c.findError);
        zvcrash_async_mobject_free(&mobj);
    }
}

TEST(CompactUnwindMalformed, AnUnknownCpuTypeIsUnsupported) {
    std::vector<uint8_t> bytes(28, 0);
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, 0x1000, bytes.data(), bytes.size());
    zvcrash_async_mobject mobj;
    ASSERT_EQ(zvcrash_async_mobject_init(&mobj, &task.task, 0x1000, bytes.size(), true), ZVCRASH_ESUCCESS);
    zvcrash_async_cfe_reader reader;
    EXPECT_EQ(zvcrash_async_cfe_reader_init(&reader, &mobj, static_cast<uint32_t>(kernel::CPU_TYPE_POWERPC)),
              ZVCRASH_ENOTSUP);
    EXPECT_STREQ(reader.fault.field, "CPU type");
    zvcrash_async_mobject_free(&mobj);
}
