#include <csetjmp>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "crashreporter/crash_report.h"
#include "crashreporter/crash_reporter.h"
#include "crashreporter/dwarf_unwinder.h"
#include "crashreporter/frame_cursor.h"
#include "platform/kernel/loaded_images.h"
#include "tests/support/test_support.h"
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace zvcrash::ZV::async;

extern "C" {
typedef void (*hx_unwind_cb)(void*);
extern jmp_buf hx_unwind_escape;
void hx_unwind_outer(hx_unwind_cb cb, void* ctx);
void hx_unwind_after_noreturn(hx_unwind_cb cb, void* ctx);
void hx_unwind_crash(void);
}

namespace {

// ---- hand-made CFI in a buffer task ----------------------------------------------------------

constexpr uint64_t kBase = 0x10000;

struct Cfi {
    std::vector<uint8_t> bytes;
    void u8(uint8_t v) { bytes.push_back(v); }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u64(uint64_t v) {
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void uleb(uint64_t v) {
        do {
            uint8_t b = v & 0x7F;
            v >>= 7;
            if (v) b |= 0x80;
            bytes.push_back(b);
        } while (v);
    }
    void sleb(int64_t v) {
        bool more = true;
        while (more) {
            uint8_t b = v & 0x7F;
            v >>= 7;
            if ((v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40)))
                more = false;
            else
                b |= 0x80;
            bytes.push_back(b);
        }
    }
    void str(const char* s) {
        while (*s) bytes.push_back(static_cast<uint8_t>(*s++));
        bytes.push_back(0);
    }
    // Patches the 32-bit length at `at` to cover up to the current end.
    void close(size_t at) {
        const uint32_t len = static_cast<uint32_t>(bytes.size() - at - 4);
        std::memcpy(&bytes[at], &len, 4);
    }
};

// An x86-64 style CIE (code 1, data -8, return address 16: CFA = rsp + 8, rip at CFA - 8),
// augmentation `aug` with `augData` bytes, then an FDE for [0x1000, 0x1100) with `program`.
Cfi makeCfi(const char* aug, const std::vector<uint8_t>& augData, const std::vector<uint8_t>& program,
            int fdeAugLength = 0) {
    Cfi c;
    c.u32(0);
    c.u32(0);  // CIE id
    c.u8(1);
    c.str(aug);
    c.uleb(1);
    c.sleb(-8);
    c.uleb(16);
    if (aug[0] == 'z') {
        c.uleb(augData.size());
        for (uint8_t b : augData) c.u8(b);
    }
    c.u8(0x0C);
    c.uleb(7);
    c.uleb(8);  // def_cfa rsp+8
    c.u8(0x80 | 16);
    c.uleb(1);  // rip at CFA-8
    while (c.bytes.size() % 8) c.u8(0);
    c.close(0);
    const size_t fde = c.bytes.size();
    c.u32(0);
    c.u32(static_cast<uint32_t>(fde + 4));  // back to the CIE
    c.u64(0x1000);
    c.u64(0x100);
    if (aug[0] == 'z') {
        c.uleb(static_cast<uint64_t>(fdeAugLength));
        for (int i = 0; i < fdeAugLength; ++i) c.u8(0xEE);  // never read as instructions
    }
    for (uint8_t b : program) c.u8(b);
    c.close(fde);
    c.u32(0);
    return c;
}

struct Parsed {
    zvcrash_buffer_task task;
    zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_cie_info cie;
    zvcrash_async_dwarf_fde_info fde;
    zvcrash_error_t err;
};

void parse(const Cfi& c, uint64_t pc, Parsed* p) {
    zvcrash_buffer_task_init(&p->task, kBase, c.bytes.data(), c.bytes.size());
    zvcrash_async_dwarf_source_init(&p->src, &p->task.task, kBase, kBase + c.bytes.size());
    gnu_ehptr_reader reader(true);
    p->err = zvcrash_async_dwarf_find_fde_linear(&p->src, &reader, kBase, false, pc, &p->fde, &p->cie);
}

zvcrash_error_t run(Parsed* p, uint64_t pc, dwarf_cfa_state* state) {
    gnu_ehptr_reader reader(true);
    zvcrash_error_t err = state->eval_program(&p->src, pc, p->fde.pc_start, &p->cie, &reader,
                                              p->cie.initial_instructions_offset, p->cie.initial_instructions_length);
    if (err != ZVCRASH_ESUCCESS) return err;
    return state->eval_program(&p->src, pc, p->fde.pc_start, &p->cie, &reader, p->fde.instructions_offset,
                               p->fde.instructions_length);
}

TEST(DwarfCfi, CieAugmentationsAndFdeAugmentationData) {
    Parsed p;
    // "zR" with an absolute 8-byte pointer encoding; the FDE's 8 augmentation bytes are skipped.
    Cfi c = makeCfi("zR", {0x04}, {0x41, 0x0E, 16}, 8);
    parse(c, 0x1000, &p);
    ASSERT_EQ(p.err, ZVCRASH_ESUCCESS);
    EXPECT_TRUE(p.cie.has_z);
    EXPECT_TRUE(p.cie.has_pointer_encoding);
    EXPECT_EQ(p.fde.pc_start, 0x1000u);
    EXPECT_EQ(p.fde.pc_end, 0x1100u);
    EXPECT_EQ(p.fde.instructions_length, 3u);
    dwarf_cfa_state s;
    ASSERT_EQ(run(&p, 0x1001, &s), ZVCRASH_ESUCCESS);
    EXPECT_EQ(s.get_cfa_rule().reg, 7u);
    EXPECT_EQ(s.get_cfa_rule().offset, 16);
    // Outside the FDE's range, and a CIE with "eh" is refused.
    parse(c, 0x1100, &p);
    EXPECT_EQ(p.err, ZVCRASH_ENOTFOUND);
    Cfi eh = makeCfi("eh", {}, {});
    Parsed q;
    zvcrash_buffer_task_init(&q.task, kBase, eh.bytes.data(), eh.bytes.size());
    zvcrash_async_dwarf_source_init(&q.src, &q.task.task, kBase, kBase + eh.bytes.size());
    gnu_ehptr_reader reader(true);
    EXPECT_EQ(zvcrash_async_dwarf_cie_info_init(&q.cie, &q.src, &reader, kBase), ZVCRASH_ENOTSUP);
}

TEST(DwarfCfi, RememberAndRestoreState) {
    // at 0x1000: push rbx-like save; remember; at 0x1002 cfa offset 32; at 0x1004 restore.
    const std::vector<uint8_t> program = {0x80 | 3, 2,                      // rbx at CFA-16
                                          0x41,     0x0A,                   // loc 0x1001, remember
                                          0x41,     0x0E, 32, 0x80 | 6, 3,  // loc 0x1002: cfa+32, rbp at CFA-24
                                          0x42,     0x0B};                  // loc 0x1004: restore
    Cfi c = makeCfi("zR", {0x04}, program);
    Parsed p;
    parse(c, 0x1000, &p);
    ASSERT_EQ(p.err, ZVCRASH_ESUCCESS);
    dwarf_cfa_state between;
    ASSERT_EQ(run(&p, 0x1003, &between), ZVCRASH_ESUCCESS);
    EXPECT_EQ(between.get_cfa_rule().offset, 32);
    dwarf_cfa_reg_rule_t rule;
    int64_t value;
    ASSERT_TRUE(between.get_register_rule(6, &rule, &value));
    EXPECT_EQ(value, -24);
    ASSERT_TRUE(between.get_register_rule(3, &rule, &value));
    EXPECT_EQ(value, -16);
    dwarf_cfa_state after;
    ASSERT_EQ(run(&p, 0x1004, &after), ZVCRASH_ESUCCESS);
    EXPECT_EQ(after.get_cfa_rule().offset, 8);
    EXPECT_FALSE(after.get_register_rule(6, &rule, &value));
    EXPECT_TRUE(after.get_register_rule(3, &rule, &value));
}

TEST(DwarfCfi, LevelAndPoolLimits) {
    dwarf_cfa_state s;
    EXPECT_FALSE(s.pop_state());
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(s.push_state());
    EXPECT_FALSE(s.push_state());
    dwarf_cfa_state pool;
    for (uint32_t r = 0; r < 100; ++r) ASSERT_TRUE(pool.set_register(r, DWARF_CFA_REG_RULE_OFFSET, r));
    EXPECT_FALSE(pool.set_register(100, DWARF_CFA_REG_RULE_OFFSET, 0));
    EXPECT_EQ(pool.register_count(), 100);
    // Rules live in 14 chains and iterate bucket by bucket.
    auto it = pool.iterate();
    uint32_t reg, last = 0;
    dwarf_cfa_reg_rule_t rule;
    int64_t value;
    int count = 0;
    while (it.next(&reg, &rule, &value)) {
        if (count) {
            EXPECT_GE(reg % 14, last % 14);
        }
        last = reg;
        ++count;
    }
    EXPECT_EQ(count, 100);
    // The sixth level is refused by the program too, and restore at level 0 is invalid.
    Cfi deep = makeCfi("zR", {0x04}, {0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A});
    Parsed p;
    parse(deep, 0x1000, &p);
    dwarf_cfa_state d;
    EXPECT_EQ(run(&p, 0x1000, &d), ZVCRASH_ENOMEM);
    Cfi pop = makeCfi("zR", {0x04}, {0x0B});
    parse(pop, 0x1000, &p);
    dwarf_cfa_state e;
    EXPECT_EQ(run(&p, 0x1000, &e), ZVCRASH_EINVAL);
}

TEST(DwarfCfi, ArgsSizeIsReadAndChangesNoRule) {
    // DW_CFA_GNU_args_size 16 then an offset rule: the operand is consumed, not run as opcodes.
    Cfi c = makeCfi("zR", {0x04}, {0x2E, 16, 0x80 | 3, 2});
    Parsed p;
    parse(c, 0x1000, &p);
    dwarf_cfa_state s;
    ASSERT_EQ(run(&p, 0x1000, &s), ZVCRASH_ESUCCESS);
    EXPECT_EQ(s.get_cfa_rule().offset, 8);
    dwarf_cfa_reg_rule_t rule;
    int64_t value;
    ASSERT_TRUE(s.get_register_rule(3, &rule, &value));
    EXPECT_EQ(value, -16);
}

zvcrash_async_thread_state x86State(uint64_t rip, uint64_t rsp) {
    zvcrash_async_thread_state st;
    zvcrash_async_thread_state_init(&st, ZVCRASH_THREAD_ARCH_X86_64);
    zvcrash_async_thread_state_set_reg(&st, ZVCRASH_REG_IP, rip);
    zvcrash_async_thread_state_set_reg(&st, ZVCRASH_REG_SP, rsp);
    return st;
}

TEST(DwarfCfi, ApplyReadsTheReturnAddressAndAnUndefinedOneEndsTheWalk) {
    // The "stack": a return address 0x4242 at rsp.
    std::vector<uint8_t> mem(64, 0);
    const uint64_t ra = 0x4242;
    std::memcpy(mem.data(), &ra, 8);
    Cfi c = makeCfi("zR", {0x04}, {});
    Parsed p;
    parse(c, 0x1000, &p);
    dwarf_cfa_state s;
    ASSERT_EQ(run(&p, 0x1000, &s), ZVCRASH_ESUCCESS);
    zvcrash_buffer_task stack;
    zvcrash_buffer_task_init(&stack, 0x20000, mem.data(), mem.size());
    auto cur = x86State(0x1000, 0x20000);
    zvcrash_async_thread_state next;
    ASSERT_EQ(s.apply_state(&stack.task, &p.src, &p.cie, &cur, &next), ZVCRASH_ESUCCESS);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, ZVCRASH_REG_IP), 0x4242u);
    EXPECT_EQ(zvcrash_async_thread_state_get_reg(&next, ZVCRASH_REG_SP), 0x20008u);

    Cfi u = makeCfi("zR", {0x04}, {0x07, 16});  // DW_CFA_undefined rip
    parse(u, 0x1000, &p);
    dwarf_cfa_state su;
    ASSERT_EQ(run(&p, 0x1000, &su), ZVCRASH_ESUCCESS);
    ASSERT_EQ(su.apply_state(&stack.task, &p.src, &p.cie, &cur, &next), ZVCRASH_ESUCCESS);
    EXPECT_FALSE(zvcrash_async_thread_state_has_reg(&next, ZVCRASH_REG_IP));
}

uint64_t evalExpr(const std::vector<uint8_t>& expr, zvcrash_error_t* err, std::vector<uint64_t> initial = {}) {
    zvcrash_buffer_task t;
    zvcrash_buffer_task_init(&t, kBase, expr.data(), expr.size());
    zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_source_init(&src, &t.task, kBase, kBase + expr.size());
    auto st = x86State(0x1000, 0x5000);
    zvcrash_async_thread_state_set_reg(&st, 4, 0x300);  // rbx, DWARF 3
    uint64_t out = 0;
    *err = zvcrash_async_dwarf_expression_eval(&src, &t.task, &st, kBase, expr.size(), initial.data(),
                                               static_cast<int>(initial.size()), &out);
    return out;
}

TEST(DwarfExpression, ArithmeticBranchesAndLimits) {
    zvcrash_error_t err;
    // breg3 (rbx) + 0x10, lit5, mul -> (0x300+0x10)*5
    EXPECT_EQ(evalExpr({0x73, 0x10, 0x35, 0x1E}, &err), 0xF50u);
    EXPECT_EQ(err, ZVCRASH_ESUCCESS);
    // initial value 7, lit3, minus -> 4; lit1 bra +1 over a lit9; -> 4
    EXPECT_EQ(evalExpr({0x33, 0x1C, 0x31, 0x28, 0x01, 0x00, 0x39}, &err, {7}), 4u);
    EXPECT_EQ(err, ZVCRASH_ESUCCESS);
    // const1s -2, abs -> 2; consts -3, lit2, div -> -1 (signed)
    EXPECT_EQ(evalExpr({0x09, 0xFE, 0x19}, &err), 2u);
    EXPECT_EQ(evalExpr({0x11, 0x7D, 0x32, 0x1B}, &err), static_cast<uint64_t>(-1));
    evalExpr({0x31, 0x30, 0x1B}, &err);
    EXPECT_EQ(err, ZVCRASH_EINVAL);  // division by zero
    evalExpr({0x2F, 0x10, 0x00}, &err);
    EXPECT_EQ(err, ZVCRASH_EINVAL);  // skip outside the block
    evalExpr({0x06}, &err);
    EXPECT_EQ(err, ZVCRASH_EINVAL);  // deref of an empty stack
    evalExpr({0x22}, &err);
    EXPECT_EQ(err, ZVCRASH_EINTERNAL);  // too few operands
    evalExpr({0x50}, &err);
    EXPECT_EQ(err, ZVCRASH_ENOTSUP);  // register location
    evalExpr({}, &err);
    EXPECT_EQ(err, ZVCRASH_EINVAL);  // empty result
    evalExpr({0x2F, 0xFD, 0xFF}, &err);
    EXPECT_EQ(err, ZVCRASH_EINVAL);  // a skip onto itself would never end
    std::vector<uint8_t> many(101, 0x30);
    evalExpr(many, &err);
    EXPECT_EQ(err, ZVCRASH_EINTERNAL);
    many.pop_back();
    evalExpr(many, &err);
    EXPECT_EQ(err, ZVCRASH_ESUCCESS);
}

// ---- this host's images -----------------------------------------------------------------------

struct Images {
    zvcrash_async_image_list list;
    explicit Images(bool deferIndexing = false) {
        zvcrash_async_image_list_init(&list, kernel::task_self());
        if (deferIndexing) zvcrash_async_image_list_defer_indexing(&list);
        for (const auto& image : kernel::dyld_images())
            zvcrash_async_image_list_append(&list, image.header, image.path.c_str());
    }
};

Images& images() {
    static Images* i = new Images();
    return *i;
}

TEST(DwarfIndex, ADeferredIndexIsBuiltOnceAndEqualsTheOneBuiltOnAdd) {
    Images deferred(true);
    int listed = 0;
    for (auto* image = zvcrash_async_image_list_next(&deferred.list, nullptr); image;
         image = zvcrash_async_image_list_next(&deferred.list, image)) {
        ++listed;
        EXPECT_EQ(image->fde_index.load(), nullptr) << image->name;
    }
    ASSERT_GT(listed, 1);
    const int built = zvcrash_async_image_list_build_indexes(&deferred.list);
    EXPECT_EQ(zvcrash_async_image_list_build_indexes(&deferred.list), 0) << "each image is tried once";
    int eager = 0;
    auto* other = zvcrash_async_image_list_next(&images().list, nullptr);
    for (auto* image = zvcrash_async_image_list_next(&deferred.list, nullptr); image && other;
         image = zvcrash_async_image_list_next(&deferred.list, image),
               other = zvcrash_async_image_list_next(&images().list, other)) {
        ASSERT_EQ(image->header_addr, other->header_addr);
        const zvcrash_async_fde_index* a = image->fde_index.load();
        const zvcrash_async_fde_index* b = other->fde_index.load();
        ASSERT_EQ(a == nullptr, b == nullptr) << image->name;
        if (!a) continue;
        ++eager;
        ASSERT_EQ(zvcrash_dwarf_fde_index_count(a), zvcrash_dwarf_fde_index_count(b)) << image->name;
        // Same FDEs and CIEs at a spread of the image's code.
        for (uint64_t pc = other->header_addr; pc < other->header_addr + other->text_size;
             pc += other->text_size / 97 + 1) {
            zvcrash_async_dwarf_fde_info f1, f2;
            zvcrash_async_dwarf_cie_info c1, c2;
            const auto e1 = zvcrash_async_dwarf_fde_index_lookup(a, pc, &f1, &c1);
            ASSERT_EQ(e1, zvcrash_async_dwarf_fde_index_lookup(b, pc, &f2, &c2));
            if (e1 != ZVCRASH_ESUCCESS) continue;
            EXPECT_EQ(f1.pc_start, f2.pc_start);
            EXPECT_EQ(f1.instructions_offset, f2.instructions_offset);
            EXPECT_EQ(c1.cie_offset, c2.cie_offset);
            EXPECT_EQ(c1.personality_address, c2.personality_address);
            EXPECT_EQ(c1.initial_instructions_length, c2.initial_instructions_length);
        }
    }
    EXPECT_EQ(built, eager);
    // An ELF image with the linker's search table is looked up through it and keeps no index (nor
    // reads its frame section to make one); each other image has one.
    int tables = 0;
    for (auto* image = zvcrash_async_image_list_next(&deferred.list, nullptr); image;
         image = zvcrash_async_image_list_next(&deferred.list, image)) {
        const bool table = zvcrash_async_dwarf_elf_has_search_table(kernel::task_self(), image);
        tables += table;
        if (table) {
            EXPECT_EQ(image->fde_index.load(), nullptr) << image->name;
        }
    }
    EXPECT_GE(tables, 2);  // the test itself and the C library at least
    zvcrash_async_image_list_free(&deferred.list);
}

TEST(DwarfElf, SearchTableAgreesWithTheLinearScan) {
    int imagesChecked = 0;
    for (zvcrash_async_image* image = zvcrash_async_image_list_next(&images().list, nullptr); image;
         image = zvcrash_async_image_list_next(&images().list, image)) {
        if (image->format != ZVCRASH_IMAGE_FORMAT_ELF || image->elf.eh_frame_hdr == 0) continue;
        const auto* hdr = reinterpret_cast<const uint8_t*>(image->elf.eh_frame_hdr);
        if (hdr[3] != 0x3B || hdr[2] != 0x03) continue;
        uint32_t count;
        std::memcpy(&count, hdr + 8, 4);
        const auto* table = reinterpret_cast<const int32_t*>(hdr + 12);
        ++imagesChecked;
        const uint32_t step = count > 60 ? count / 60 : 1;
        for (uint32_t i = 0; i < count; i += step) {
            const uint64_t start = image->elf.eh_frame_hdr + static_cast<int64_t>(table[2 * i]);
            for (uint64_t pc : {start, start + 1, start - 1}) {
                zvcrash_async_dwarf_source s1, s2;
                zvcrash_async_dwarf_fde_info f1, f2;
                zvcrash_async_dwarf_cie_info c1, c2;
                const auto e1 = zvcrash_async_dwarf_elf_find_fde(kernel::task_self(), image, pc, true, &s1, &f1, &c1);
                const auto e2 = zvcrash_async_dwarf_elf_find_fde(kernel::task_self(), image, pc, false, &s2, &f2, &c2);
                ASSERT_EQ(e1, e2) << image->name << " pc " << std::hex << pc;
                if (e1 == ZVCRASH_ESUCCESS) {
                    EXPECT_EQ(f1.pc_start, f2.pc_start);
                    EXPECT_EQ(f1.pc_end, f2.pc_end);
                    EXPECT_EQ(f1.instructions_offset, f2.instructions_offset);
                }
            }
        }
    }
    EXPECT_GE(imagesChecked, 2);  // the test itself and the C library at least
}

// ---- live stacks, against libunwind ------------------------------------------------------------

std::vector<uint64_t> gOurs, gTheirs;
bool gRanWalk = false;

void walkBoth(void*) {
    unw_context_t uc;
    unw_getcontext(&uc);
    gOurs.clear();
    gTheirs.clear();
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_mcontext_init(&state, reinterpret_cast<const ucontext_t*>(&uc));
    zvcrash_frame_cursor cursor;
    zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &state, &images().list);
    const zvcrash_frame_reader_t dwarfOnly[] = {&zvcrash_frame_dwarf_reader};
    while (gOurs.size() < 200 &&
           zvcrash_frame_cursor_next_with_readers(&cursor, dwarfOnly, 1) == ZVCRASH_FRAME_ESUCCESS) {
        uint64_t ip = 0;
        zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &ip);
        gOurs.push_back(ip);
    }
    zvcrash_frame_cursor_free(&cursor);
    unw_cursor_t c;
    unw_init_local(&c, &uc);
    do {
        unw_word_t ip = 0;
        unw_get_reg(&c, UNW_REG_IP, &ip);
        gTheirs.push_back(ip);
    } while (gTheirs.size() < 200 && unw_step(&c) > 0);
    gRanWalk = true;
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string symbolOf(uint64_t pc) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(pc), &info) == 0 || !info.dli_sname) return {};
    return info.dli_sname;
}

TEST(DwarfLive, WalkMatchesLibunwindThroughFunctionsWithoutFramePointers) {
    gRanWalk = false;
    hx_unwind_outer(&walkBoth, nullptr);
    ASSERT_TRUE(gRanWalk);
    ASSERT_GE(gOurs.size(), 5u);
    EXPECT_EQ(gOurs, gTheirs);
    EXPECT_EQ(symbolOf(gOurs[1]), "hx_unwind_leaf");
    EXPECT_EQ(symbolOf(gOurs[2]), "hx_unwind_mid");
    EXPECT_EQ(symbolOf(gOurs[3]), "hx_unwind_outer");
}

TEST(DwarfLive, AReturnAddressPastANoReturnCallIsLookedUpAtTheCall) {
    gRanWalk = false;
    if (setjmp(hx_unwind_escape) == 0) hx_unwind_after_noreturn(&walkBoth, nullptr);
    ASSERT_TRUE(gRanWalk);
    EXPECT_EQ(gOurs, gTheirs);
    // The frame of hx_unwind_ends_in_noreturn returns to the first byte after it; its caller is
    // still found.
    bool sawCaller = false;
    for (uint64_t pc : gOurs)
        sawCaller |= symbolOf(pc) == "hx_unwind_after_noreturn" && symbolOf(pc - 1) == "hx_unwind_after_noreturn";
    EXPECT_TRUE(sawCaller);
}

TEST(DwarfLive, ACrashInCodeWithoutFramePointersIsWalkedThroughItsCallers) {
    hxtest::TempDir dir;
    auto config =
        ZVCrashReporterConfig::initWithSignalHandlerType(ZVCrashSignalHandlerTypeBSD, 0, true, dir.path().string());
    auto reporter = ZVCrashReporter::initWithApplicationIdentifier("com.example/unwind", "1", std::string("1"), config);
    pid_t pid = fork();
    if (pid == 0) {
        if (!reporter->enableCrashReporter()) _exit(11);
        hx_unwind_crash();
        _exit(12);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    auto decoded = ZVCrashReport::initWithData(readAll(reporter->crashReportPath()));
    ASSERT_TRUE(decoded.ok());
    const ZVCrashReportThreadInfo* crashed = nullptr;
    for (const auto& t : decoded.value()->threads())
        if (t.crashed) crashed = &t;
    ASSERT_NE(crashed, nullptr);
    std::vector<std::string> names;
    for (const auto& f : crashed->stackFrames) names.push_back(symbolOf(f.instructionPointer));
    ASSERT_GE(names.size(), 5u);
    // frame 0 is the static crash helper (or its caller when inlined); the chain follows.
    auto at = std::find(names.begin(), names.end(), "hx_unwind_leaf");
    ASSERT_NE(at, names.end());
    ASSERT_GE(names.end() - at, 4);
    EXPECT_EQ(at[1], "hx_unwind_mid");
    EXPECT_EQ(at[2], "hx_unwind_outer");
    EXPECT_EQ(at[3], "hx_unwind_crash");
}

}  // namespace

namespace {

// Rows of `llvm-dwarfdump --eh-frame` for this executable, rebuilt from the unwinder's rule state
// at each row's address. Rows that need a DWARF expression are compared by their CFA alone.
std::string ruleText(const dwarf_cfa_state& s, bool* complete) {
    static const char* const kNames[] = {"RAX", "RDX", "RCX", "RBX", "RSI", "RDI", "RBP", "RSP", "R8",
                                         "R9",  "R10", "R11", "R12", "R13", "R14", "R15", "RIP"};
    auto name = [&](uint32_t r) { return r < 17 ? std::string(kNames[r]) : "reg" + std::to_string(r); };
    auto signedOffset = [](int64_t v) { return v < 0 ? "-" + std::to_string(-v) : "+" + std::to_string(v); };
    std::string out;
    const auto cfa = s.get_cfa_rule();
    if (cfa.type == DWARF_CFA_RULE_EXPRESSION) {
        *complete = false;
        return {};
    }
    out = "CFA=" + name(cfa.reg) + (cfa.offset ? signedOffset(cfa.offset) : "");
    std::vector<std::pair<uint32_t, std::string>> regs;
    auto it = s.iterate();
    uint32_t reg;
    dwarf_cfa_reg_rule_t rule;
    int64_t value;
    while (it.next(&reg, &rule, &value)) {
        std::string text;
        switch (rule) {
            case DWARF_CFA_REG_RULE_OFFSET:
                text = "[CFA" + signedOffset(value) + "]";
                break;
            case DWARF_CFA_REG_RULE_VAL_OFFSET:
                text = "CFA" + signedOffset(value);
                break;
            case DWARF_CFA_REG_RULE_REGISTER:
                text = name(static_cast<uint32_t>(value));
                break;
            case DWARF_CFA_REG_RULE_SAME_VALUE:
                text = "same";
                break;
            case DWARF_CFA_REG_RULE_UNDEFINED:
                text = "undefined";
                break;
            default:
                *complete = false;
                break;
        }
        regs.emplace_back(reg, name(reg) + "=" + text);
    }
    std::sort(regs.begin(), regs.end());
    for (size_t i = 0; i < regs.size(); ++i) out += (i == 0 ? ": " : ", ") + regs[i].second;
    return out;
}

TEST(DwarfElf, RowsMatchTheDwarfDumpOfThisExecutable) {
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string dump;
    ASSERT_EQ(hxtest::runCommand(std::string("llvm-dwarfdump --eh-frame ") + exe, &dump), 0);
    zvcrash_async_image* image =
        zvcrash_async_image_list_image_containing_address(&images().list, reinterpret_cast<uint64_t>(&hx_unwind_outer));
    ASSERT_NE(image, nullptr);
    std::istringstream in(dump);
    std::string line;
    int rows = 0, fullRows = 0;
    bool inFde = false;
    // This toolchain's dumper does not carry the CFA rule across remember/restore_state, while
    // the unwinders do (and the code of those functions relies on it): in such FDEs only the
    // register rules are compared.
    uint64_t location = 0, firstRestore = UINT64_MAX;
    int restoredRows = 0;
    while (std::getline(in, line)) {
        if (line.find(" FDE ") != std::string::npos) {
            inFde = true;
            firstRestore = UINT64_MAX;
            location = std::stoull(line.substr(line.find("pc=") + 3), nullptr, 16);
            continue;
        }
        if (line.rfind("  DW_CFA_advance_loc", 0) == 0) location += std::stoull(line.substr(line.find(": ") + 2));
        if (line.find("DW_CFA_restore_state") != std::string::npos && firstRestore == UINT64_MAX)
            firstRestore = location;
        if (line.find(" CIE") != std::string::npos) {
            inFde = false;
            continue;
        }
        if (!inFde || line.rfind("  0x", 0) != 0) continue;
        const size_t colon = line.find(": ");
        const uint64_t linkPc = std::stoull(line.substr(2, colon - 2), nullptr, 16);
        const std::string expected = line.substr(colon + 2);
        const uint64_t pc = linkPc + image->elf.load_bias;
        zvcrash_async_dwarf_source src;
        zvcrash_async_dwarf_fde_info fde;
        zvcrash_async_dwarf_cie_info cie;
        ASSERT_EQ(zvcrash_async_dwarf_elf_find_fde(kernel::task_self(), image, pc, true, &src, &fde, &cie),
                  ZVCRASH_ESUCCESS)
            << line;
        gnu_ehptr_reader reader(true);
        dwarf_cfa_state s;
        ASSERT_EQ(s.eval_program(&src, pc, fde.pc_start, &cie, &reader, cie.initial_instructions_offset,
                                 cie.initial_instructions_length),
                  ZVCRASH_ESUCCESS);
        ASSERT_EQ(
            s.eval_program(&src, pc, fde.pc_start, &cie, &reader, fde.instructions_offset, fde.instructions_length),
            ZVCRASH_ESUCCESS);
        bool complete = true;
        const std::string ours = ruleText(s, &complete);
        ++rows;
        if (!complete || expected.find("DW_OP") != std::string::npos) {
            if (!ours.empty()) {
                EXPECT_EQ(ours.substr(0, ours.find(':')), expected.substr(0, expected.find(':'))) << line;
            }
            continue;
        }
        ++fullRows;
        if (linkPc >= firstRestore) {
            ++restoredRows;
            auto regsOf = [](const std::string& t) {
                const size_t c = t.find(": ");
                return c == std::string::npos ? std::string() : t.substr(c);
            };
            EXPECT_EQ(regsOf(ours), regsOf(expected)) << "row at " << std::hex << linkPc;
            continue;
        }
        EXPECT_EQ(ours, expected) << "row at " << std::hex << linkPc;
    }
    EXPECT_GT(rows, 1000);
    EXPECT_GT(fullRows, rows / 2);
    EXPECT_LT(restoredRows, fullRows / 2);
}

TEST(DwarfMalformed, ErrorsKeepTheirCodesAndNameTheFieldAndAddress) {
    struct Case {
        const char* what;
        Cfi cfi;
        zvcrash_error_t error;
        const char* field;
        uint64_t offset;  // from the section's start
        bool program;     // the failure is in running the FDE's program, not in finding it
    };
    std::vector<Case> cases;
    {
        Cfi c = makeCfi("", {}, {});
        c.bytes[8] = 2;  // the CIE's version byte
        cases.push_back({"CIE version 2", c, ZVCRASH_EINVAL, "CIE version", 8, false});
    }
    cases.push_back({"augmentation eh", makeCfi("eh", {}, {}), ZVCRASH_ENOTSUP, "augmentation string", 9, false});
    {
        Cfi c = makeCfi("", {}, {0x3F});
        const uint64_t at = c.bytes.size() - 5;  // the opcode, before the terminator
        cases.push_back({"unknown instruction", c, ZVCRASH_ENOTSUP, "call-frame instruction", at, true});
    }
    {
        // rip's offset operand 2^62 times the data alignment factor -8 does not fit in 64 bits.
        Cfi p;
        p.u8(0x11);
        p.uleb(16);
        p.sleb(int64_t(1) << 62);
        Cfi c = makeCfi("", {}, p.bytes);
        const uint64_t at = c.bytes.size() - 4 - p.bytes.size();
        cases.push_back({"factored offset overflow (signed)", c, ZVCRASH_EINVAL, "factored offset", at, true});
    }
    {
        Cfi p;
        p.u8(0x80 | 16);
        p.uleb(uint64_t(1) << 61);
        Cfi c = makeCfi("", {}, p.bytes);
        const uint64_t at = c.bytes.size() - 4 - p.bytes.size();
        cases.push_back({"factored offset overflow (unsigned)", c, ZVCRASH_EINVAL, "factored offset", at, true});
    }
    {
        Cfi p;
        p.u8(0x12);  // def_cfa_sf
        p.uleb(7);
        p.sleb(INT64_MIN / 4);
        Cfi c = makeCfi("", {}, p.bytes);
        const uint64_t at = c.bytes.size() - 4 - p.bytes.size();
        cases.push_back({"def_cfa_sf overflow", c, ZVCRASH_EINVAL, "factored offset", at, true});
    }
    {
        Cfi c = makeCfi("", {}, {0x0E});  // def_cfa_offset with its operand cut off by the FDE's end
        const uint64_t at = c.bytes.size() - 4;
        cases.push_back({"operand past the program", c, ZVCRASH_EINVAL, "DW_CFA_def_cfa_offset offset", at, true});
    }
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Parsed p;
        parse(c.cfi, 0x1000, &p);
        zvcrash_error_t err = p.err;
        if (c.program) {
            ASSERT_EQ(p.err, ZVCRASH_ESUCCESS);
            dwarf_cfa_state state;
            err = run(&p, 0x1000, &state);
        } else {
            // The scan passes over an FDE it cannot parse; the CIE's own parse says why.
            EXPECT_EQ(p.err, ZVCRASH_ENOTFOUND);
            gnu_ehptr_reader reader(true);
            err = zvcrash_async_dwarf_cie_info_init(&p.cie, &p.src, &reader, kBase);
        }
        EXPECT_EQ(err, c.error);
        EXPECT_EQ(p.src.fault.code, c.error);
        ASSERT_NE(p.src.fault.field, nullptr);
        EXPECT_STREQ(p.src.fault.field, c.field);
        EXPECT_EQ(p.src.fault.address, kBase + c.offset);
    }
}

TEST(DwarfMalformed, ExpressionLimitsNameTheirReason) {
    struct Case {
        const char* what;
        std::vector<uint8_t> expr;
        zvcrash_error_t error;
        const char* field;
    };
    std::vector<uint8_t> overflow(101, 0x30);  // 101 x lit0
    const std::vector<Case> cases = {
        {"101 pushes", overflow, ZVCRASH_EINTERNAL, "expression stack overflow"},
        {"drop on an empty stack", {0x13}, ZVCRASH_EINTERNAL, "expression stack underflow"},
        {"division by zero", {0x31, 0x30, 0x1B}, ZVCRASH_EINVAL, "DW_OP_div by zero"},
        {"branch outside", {0x2F, 0x10, 0x00}, ZVCRASH_EINVAL, "branch target"},
        {"register location opcode", {0x50}, ZVCRASH_ENOTSUP, "expression opcode"},
        {"const4u cut off", {0x0C, 1, 2}, ZVCRASH_EINVAL, "expression operand"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        zvcrash_buffer_task t;
        zvcrash_buffer_task_init(&t, kBase, c.expr.data(), c.expr.size());
        zvcrash_async_dwarf_source src;
        zvcrash_async_dwarf_source_init(&src, &t.task, kBase, kBase + c.expr.size());
        zvcrash_async_thread_state state;
        zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_X86_64);
        uint64_t result = 0;
        EXPECT_EQ(zvcrash_async_dwarf_expression_eval(&src, &t.task, &state, kBase, c.expr.size(), nullptr, 0, &result),
                  c.error);
        ASSERT_NE(src.fault.field, nullptr);
        EXPECT_STREQ(src.fault.field, c.field);
        EXPECT_GE(src.fault.address, kBase);
        EXPECT_LE(src.fault.address, kBase + c.expr.size());
    }
}

// The FDE and CIE that the linear scan from the section's start gives for pc, or its error.
zvcrash_error_t scanFor(const zvcrash_async_dwarf_section& section, uint64_t pc, zvcrash_async_dwarf_fde_info* fde,
                        zvcrash_async_dwarf_cie_info* cie) {
    static zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_section_source(&section, kernel::task_self(), &src);
    gnu_ehptr_reader reader(section.m64);
    return zvcrash_async_dwarf_find_fde_linear(&src, &reader, section.start, section.debug_frame, pc, fde, cie);
}

void expectSameFde(const zvcrash_async_dwarf_fde_info& a, const zvcrash_async_dwarf_cie_info& ac,
                   const zvcrash_async_dwarf_fde_info& b, const zvcrash_async_dwarf_cie_info& bc) {
    EXPECT_EQ(a.fde_offset, b.fde_offset);
    EXPECT_EQ(a.pc_start, b.pc_start);
    EXPECT_EQ(a.pc_end, b.pc_end);
    EXPECT_EQ(a.instructions_offset, b.instructions_offset);
    EXPECT_EQ(a.instructions_length, b.instructions_length);
    EXPECT_EQ(ac.cie_offset, bc.cie_offset);
    EXPECT_EQ(ac.initial_instructions_offset, bc.initial_instructions_offset);
    EXPECT_EQ(ac.return_address_register, bc.return_address_register);
    EXPECT_EQ(ac.signal_frame, bc.signal_frame);
}

TEST(DwarfIndex, GivesTheFdeOfTheLinearScanForEveryImageOfThisProcess) {
    int indexed = 0;
    for (zvcrash_async_image* image = zvcrash_async_image_list_next(&images().list, nullptr); image;
         image = zvcrash_async_image_list_next(&images().list, image)) {
        // The list keeps none for an image with a search table: one is built here from its section.
        zvcrash_async_fde_index* built = nullptr;
        const zvcrash_async_fde_index* index = image->fde_index;
        if (!index) {
            zvcrash_async_dwarf_section found;
            if (zvcrash_async_dwarf_find_section(kernel::task_self(), image, &found) != ZVCRASH_ESUCCESS) continue;
            index = built = zvcrash_dwarf_fde_index_build_section(kernel::task_self(), &found);
            if (!index) continue;
        }
        ++indexed;
        const zvcrash_async_dwarf_section section = *zvcrash_dwarf_fde_index_section(index);
        // Probe around the starts and ends of FDEs met by walking the section, and in the gaps.
        zvcrash_async_dwarf_source src;
        zvcrash_async_dwarf_section_source(&section, kernel::task_self(), &src);
        gnu_ehptr_reader reader(true);
        std::vector<uint64_t> pcs = {image->header_addr, image->header_addr + image->text_size - 1};
        int fdes = 0;
        for (uint64_t at = section.start; at < section.end && fdes < 400;) {
            uint64_t next;
            bool isCie = false, terminator = false;
            ASSERT_EQ(zvcrash_async_dwarf_next_entry(&src, at, false, &next, &isCie, &terminator), ZVCRASH_ESUCCESS);
            if (terminator) break;
            zvcrash_async_dwarf_fde_info f;
            zvcrash_async_dwarf_cie_info c;
            if (!isCie && zvcrash_async_dwarf_fde_info_init(&f, &c, &src, &reader, at, false, section.start) ==
                              ZVCRASH_ESUCCESS) {
                ++fdes;
                for (uint64_t pc : {f.pc_start, f.pc_start - 1, (f.pc_start + f.pc_end) / 2, f.pc_end - 1, f.pc_end})
                    pcs.push_back(pc);
            }
            at = next;
        }
        // Neighbouring FDEs share probes (one's end is the next one's start): each is checked once.
        std::sort(pcs.begin(), pcs.end());
        pcs.erase(std::unique(pcs.begin(), pcs.end()), pcs.end());
        for (uint64_t pc : pcs) {
            zvcrash_async_dwarf_fde_info f1, f2;
            zvcrash_async_dwarf_cie_info c1, c2;
            const zvcrash_error_t indexed = zvcrash_async_dwarf_fde_index_lookup(index, pc, &f1, &c1);
            const zvcrash_error_t scanned = scanFor(section, pc, &f2, &c2);
            ASSERT_EQ(indexed, scanned) << image->name << " pc " << std::hex << pc;
            if (indexed == ZVCRASH_ESUCCESS) expectSameFde(f1, c1, f2, c2);
            // The image's own search table: the first lookup parses (and keeps the CIE and the
            // pc's FDE), the second answers from what it kept.
            for (int pass = 0; image->search_table && pass < 2; ++pass) {
                zvcrash_async_dwarf_source s3;
                zvcrash_async_dwarf_fde_info f3;
                zvcrash_async_dwarf_cie_info c3;
                const zvcrash_error_t found =
                    zvcrash_async_dwarf_search_table_lookup(image->search_table, &s3, pc, &f3, &c3);
                ASSERT_EQ(found == ZVCRASH_ESUCCESS, scanned == ZVCRASH_ESUCCESS)
                    << image->name << " pc " << std::hex << pc << " pass " << pass;
                if (found != ZVCRASH_ESUCCESS) continue;
                expectSameFde(f3, c3, f2, c2);
                EXPECT_EQ(f3.pc_end, f2.pc_end);
                EXPECT_EQ(f3.fde_offset, f2.fde_offset);
                EXPECT_EQ(c3.personality_address, c2.personality_address);
                EXPECT_EQ(c3.initial_instructions_length, c2.initial_instructions_length);
            }
        }
        // A CIE handed in as known (the one at the FDE's CIE pointer) is taken as it is, not
        // parsed again: the mark set on it comes back.
        for (uint64_t pc : pcs) {
            zvcrash_async_dwarf_fde_info f;
            zvcrash_async_dwarf_cie_info c;
            if (scanFor(section, pc, &f, &c) != ZVCRASH_ESUCCESS) continue;
            zvcrash_async_dwarf_cie_info marked = c;
            marked.return_address_register = 77;
            zvcrash_async_dwarf_cie_info out;
            ASSERT_EQ(zvcrash_async_dwarf_fde_info_init(&f, &out, &src, &reader, f.fde_offset - 4, false, section.start,
                                                        &marked),
                      ZVCRASH_ESUCCESS);
            EXPECT_EQ(out.return_address_register, 77u) << image->name;
            break;
        }
        zvcrash_dwarf_fde_index_free(built);
    }
    EXPECT_GE(indexed, 2);  // the test itself and the C library at least
}

TEST(DwarfIndex, OverlappingFdesKeepTheScanAndItsFirstMatch) {
    // A second FDE after the first: [0x1000, 0x1100) and then [start, start + 0x180).
    auto withSecond = [](uint64_t start) {
        Cfi c = makeCfi("", {}, {});
        c.bytes.resize(c.bytes.size() - 4);  // drop the terminator
        const size_t second = c.bytes.size();
        c.u32(0);
        c.u32(static_cast<uint32_t>(second + 4));
        c.u64(start);
        c.u64(0x180);
        c.close(second);
        c.u32(0);
        return c;
    };
    struct Case {
        const char* what;
        uint64_t secondStart;
        bool indexed;
    };
    for (const Case k : {Case{"disjoint", 0x1100, true}, Case{"overlapping", 0x1080, false}}) {
        SCOPED_TRACE(k.what);
        const Cfi c = withSecond(k.secondStart);
        zvcrash_buffer_task task;
        zvcrash_buffer_task_init(&task, kBase, c.bytes.data(), c.bytes.size());
        const zvcrash_async_dwarf_section section{kBase, kBase + c.bytes.size(), false, false, true};
        zvcrash_async_fde_index* index = zvcrash_dwarf_fde_index_build_section(&task.task, &section);
        ASSERT_EQ(index != nullptr, k.indexed);
        // The scan's answer holds either way: the first FDE in section order that covers pc.
        Parsed p;
        parse(c, 0x1090, &p);
        ASSERT_EQ(p.err, ZVCRASH_ESUCCESS);
        EXPECT_EQ(p.fde.pc_start, 0x1000u);
        if (index) {
            EXPECT_EQ(zvcrash_dwarf_fde_index_count(index), 2u);
            for (uint64_t pc : {0xFFFull, 0x1000ull, 0x10FFull, 0x1100ull, 0x127Full, 0x1280ull}) {
                SCOPED_TRACE(pc);
                zvcrash_async_dwarf_fde_info f;
                zvcrash_async_dwarf_cie_info ci;
                Parsed q;
                parse(c, pc, &q);
                const zvcrash_error_t err = zvcrash_async_dwarf_fde_index_lookup(index, pc, &f, &ci);
                ASSERT_EQ(err, q.err);
                if (err == ZVCRASH_ESUCCESS) expectSameFde(f, ci, q.fde, q.cie);
            }
            zvcrash_dwarf_fde_index_free(index);
        }
    }
}

}  // namespace

namespace {

// The index keeps where each FDE lies and reads the one a lookup lands on again: FDEs whose bytes
// changed after the build (a section that is not the image's any more) are left to the scan rather
// than answered from the index with what is no longer there.
TEST(DwarfIndex, AnFdeWhoseBytesChangedAfterTheBuildIsLeftToTheScan) {
    Cfi c = makeCfi("", {}, {});
    c.bytes.resize(c.bytes.size() - 4);  // drop the terminator
    const size_t second = c.bytes.size();
    c.u32(0);
    c.u32(static_cast<uint32_t>(second + 4));
    c.u64(0x1100);
    c.u64(0x180);
    c.close(second);
    c.u32(0);
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, kBase, c.bytes.data(), c.bytes.size());
    const zvcrash_async_dwarf_section section{kBase, kBase + c.bytes.size(), false, false, true};
    zvcrash_async_fde_index* index = zvcrash_dwarf_fde_index_build_section(&task.task, &section);
    ASSERT_NE(index, nullptr);
    ASSERT_EQ(zvcrash_dwarf_fde_index_count(index), 2u);
    struct Case {
        const char* what;
        uint64_t pc;
        zvcrash_error_t before, after;
    };
    // The second FDE's start moves from 0x1100 to 0x1200; the first stays as it was.
    const Case cases[] = {
        {"in the first FDE", 0x1010, ZVCRASH_ESUCCESS, ZVCRASH_ESUCCESS},
        {"in the second FDE", 0x1150, ZVCRASH_ESUCCESS, ZVCRASH_ENOTSUP},
        {"past both", 0x1300, ZVCRASH_ENOTFOUND, ZVCRASH_ENOTSUP},
        {"before both", 0x0F00, ZVCRASH_ENOTFOUND, ZVCRASH_ENOTFOUND},
    };
    for (bool changed : {false, true}) {
        if (changed)
            for (int i = 0; i < 8; ++i) c.bytes[second + 8 + i] = static_cast<uint8_t>(uint64_t{0x1200} >> (8 * i));
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(k.what) + (changed ? ", changed" : ""));
            zvcrash_async_dwarf_fde_info f;
            zvcrash_async_dwarf_cie_info ci;
            const zvcrash_error_t err = zvcrash_async_dwarf_fde_index_lookup(index, k.pc, &f, &ci);
            EXPECT_EQ(err, changed ? k.after : k.before);
            if (err != ZVCRASH_ESUCCESS) continue;
            Parsed p;
            parse(c, k.pc, &p);
            ASSERT_EQ(p.err, ZVCRASH_ESUCCESS);
            expectSameFde(f, ci, p.fde, p.cie);
        }
    }
    zvcrash_dwarf_fde_index_free(index);
}

}  // namespace
