// DWARF call-frame data of Mach-O images: the __eh_frame of an x86-64 dylib linked by ld64.lld,
// checked against llvm-objdump's reading of it, an arm64 dylib without frame sections, and an
// image built here byte by byte whose compact unwind entry defers to an FDE of its __eh_frame
// (the linker leaves such FDEs without their start addresses, so no linked fixture can hold one).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "crashreporter/compact_unwind.h"
#include "crashreporter/dwarf_unwinder.h"
#include "crashreporter/frame_cursor.h"
#include "tests/crashreporter/unwind/macho_test_image.h"
#include "tests/support/test_support.h"

namespace {

std::string fixture(const char* name) { return std::string(HX_UNWIND_FIXTURE_DIR) + "/" + name; }

struct Image {
    hxtest::MachOTestImage loaded;
    zvcrash_async_image_list list{};
    zvcrash_async_image* image = nullptr;

    bool load(const std::string& path) {
        if (!loaded.load(path)) return false;
        zvcrash_async_image_list_init(&list, kernel::task_self());
        zvcrash_async_image_list_append(&list, reinterpret_cast<uint64_t>(loaded.base), path.c_str());
        image = zvcrash_async_image_list_next(&list, nullptr);
        return image != nullptr;
    }
    ~Image() {
        if (list.shared) zvcrash_async_image_list_free(&list);
    }
};

// (start, end) of every FDE as llvm-objdump prints them, link addresses.
std::vector<std::pair<uint64_t, uint64_t>> objdumpFdes(const std::string& path) {
    std::string dump;
    EXPECT_EQ(hxtest::runCommand("llvm-objdump --dwarf=frames " + path, &dump), 0);
    std::vector<std::pair<uint64_t, uint64_t>> out;
    std::regex fde("FDE cie=[0-9a-f]+ pc=([0-9a-f]+)\\.\\.\\.([0-9a-f]+)");
    for (auto it = std::sregex_iterator(dump.begin(), dump.end(), fde); it != std::sregex_iterator(); ++it)
        out.emplace_back(std::stoull((*it)[1], nullptr, 16), std::stoull((*it)[2], nullptr, 16));
    return out;
}

TEST(MachODwarf, X86_64EhFrameMatchesTheLlvmToolsAndIsIndexed) {
    const std::string path = fixture("cu_x86_64.dylib");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no clang/ld64.lld fixtures";
    Image img;
    ASSERT_TRUE(img.load(path));
    zvcrash_async_dwarf_section section;
    ASSERT_EQ(zvcrash_async_dwarf_find_section(kernel::task_self(), img.image, &section), ZVCRASH_ESUCCESS);
    EXPECT_FALSE(section.debug_frame);
    EXPECT_TRUE(section.m64);

    // Every FDE of the section, walked by the reader, in link addresses.
    zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_section_source(&section, kernel::task_self(), &src);
    gnu_ehptr_reader reader(true);
    const int64_t slide = static_cast<int64_t>(reinterpret_cast<uint64_t>(img.loaded.base) - img.loaded.low);
    std::vector<std::pair<uint64_t, uint64_t>> fdes;
    for (uint64_t at = section.start; at < section.end;) {
        uint64_t next;
        bool isCie = false, terminator = false;
        ASSERT_EQ(zvcrash_async_dwarf_next_entry(&src, at, false, &next, &isCie, &terminator), ZVCRASH_ESUCCESS);
        if (terminator) break;
        if (!isCie) {
            zvcrash_async_dwarf_fde_info f;
            zvcrash_async_dwarf_cie_info c;
            ASSERT_EQ(zvcrash_async_dwarf_fde_info_init(&f, &c, &src, &reader, at, false, section.start),
                      ZVCRASH_ESUCCESS);
            fdes.emplace_back(f.pc_start - slide, f.pc_end - slide);
        }
        at = next;
    }
    const auto expected = objdumpFdes(path);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(fdes, expected);

    ASSERT_NE(img.image->fde_index, nullptr) << "built when the image was added";
    EXPECT_EQ(zvcrash_dwarf_fde_index_count(img.image->fde_index), expected.size());
    for (const auto& [start, end] : expected) {
        zvcrash_async_dwarf_fde_info f;
        zvcrash_async_dwarf_cie_info c;
        ASSERT_EQ(zvcrash_async_dwarf_fde_index_lookup(img.image->fde_index, start + slide, &f, &c), ZVCRASH_ESUCCESS);
        EXPECT_EQ(f.pc_end - slide, end);
        EXPECT_EQ(c.return_address_register, 16u);
    }
}

TEST(MachODwarf, AnImageWithoutFrameSectionsIsFrameErrorTwo) {
    const std::string path = fixture("cu_arm64.dylib");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no clang/ld64.lld fixtures";
    Image img;
    ASSERT_TRUE(img.load(path));
    zvcrash_async_dwarf_section section;
    EXPECT_EQ(zvcrash_async_dwarf_find_section(kernel::task_self(), img.image, &section), ZVCRASH_ENOTFOUND);
    EXPECT_EQ(img.image->fde_index, nullptr);
    zvcrash_async_thread_state state;
    // An x86-64 state: an arm64 one reads its pc as 36 bits, and this host maps the copy higher.
    zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_X86_64);
    // A pc inside the image's code (its __TEXT starts at the header).
    zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_IP, img.image->header_addr + 0x10);
    zvcrash_async_thread_state next;
    EXPECT_EQ(zvcrash_frame_dwarf_reader(kernel::task_self(), &img.list, &state, nullptr, &next),
              ZVCRASH_FRAME_ENOFRAME);
}

// An x86-64 dylib image in memory: a header, one __TEXT segment at address 0 with __text,
// __unwind_info and __eh_frame, and one 64-byte function at kFunction whose compact encoding
// is "DWARF, FDE at this offset of __eh_frame". Its call-frame program: CFA = rsp + 8 at entry;
// after "push rbx" (1 byte) CFA = rsp + 16 with rbx at CFA - 16; after "sub rsp, 32" (4 bytes)
// CFA = rsp + 48, and an argument-area size note as compilers write around calls.
class DeferringImage {
public:
    static constexpr uint32_t kFunction = 0x400, kFunctionSize = 0x40;
    static constexpr uint32_t kUnwindInfo = 0x600, kEhFrame = 0x800, kSize = 0x1000;

    DeferringImage() : bytes_(kSize, 0) {
        // mach_header_64: magic, x86-64, subtype 3, a dylib, two load commands.
        const uint32_t segmentSize = 72 + 3 * 80, idSize = 40;
        put32(0, 0xfeedfacf);
        put32(4, 0x01000007);
        put32(8, 3);
        put32(12, 6);
        put32(16, 2);
        put32(20, segmentSize + idSize);
        // LC_SEGMENT_64 "__TEXT": address 0, the whole image, read and execute, three sections.
        uint32_t at = 32;
        put32(at, 0x19);
        put32(at + 4, segmentSize);
        name(at + 8, "__TEXT");
        put64(at + 24, 0);
        put64(at + 32, kSize);
        put64(at + 40, 0);
        put64(at + 48, kSize);
        put32(at + 56, 5);
        put32(at + 60, 5);
        put32(at + 64, 3);
        const uint32_t sections = at + 72;
        // LC_ID_DYLIB: the name follows the command's 24 bytes.
        at += segmentSize;
        put32(at, 0xD);
        put32(at + 4, idSize);
        put32(at + 8, 24);
        name(at + 24, "deferring.dylib");
        at = sections;

        std::vector<uint8_t> ehFrame = ehFrameBytes(&fdeOffset_);
        std::vector<uint8_t> unwindInfo = unwindInfoBytes(0x04000000u | fdeOffset_);
        section(at, "__text", kFunction, kFunctionSize);
        section(at + 80, "__unwind_info", kUnwindInfo, static_cast<uint32_t>(unwindInfo.size()));
        section(at + 160, "__eh_frame", kEhFrame, static_cast<uint32_t>(ehFrame.size()));
        std::copy(unwindInfo.begin(), unwindInfo.end(), bytes_.begin() + kUnwindInfo);
        std::copy(ehFrame.begin(), ehFrame.end(), bytes_.begin() + kEhFrame);
        std::fill(bytes_.begin() + kFunction, bytes_.begin() + kFunction + kFunctionSize, 0xCC);
    }

    uint64_t base() const { return reinterpret_cast<uint64_t>(bytes_.data()); }
    uint32_t fdeOffset() const { return fdeOffset_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    void put32(size_t at, uint32_t v) { std::memcpy(bytes_.data() + at, &v, 4); }
    void put64(size_t at, uint64_t v) { std::memcpy(bytes_.data() + at, &v, 8); }
    void name(size_t at, const char* text) { std::memcpy(bytes_.data() + at, text, std::strlen(text)); }
    void section(size_t at, const char* sectionName, uint32_t address, uint32_t size) {
        name(at, sectionName);
        name(at + 16, "__TEXT");
        put64(at + 32, address);
        put64(at + 40, size);
        put32(at + 48, address);  // file offset: the segment starts at offset 0 and address 0
    }

    // Version 1, no common encodings or personalities; an index of one page and the sentinel
    // (the function's end); a regular page with the one entry.
    static std::vector<uint8_t> unwindInfoBytes(uint32_t encoding) {
        std::vector<uint8_t> out;
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        for (uint32_t w : {1u, 28u, 0u, 28u, 0u, 28u, 2u}) u32(w);
        for (uint32_t w : {kFunction, 52u, 0u, kFunction + kFunctionSize, 0u, 0u}) u32(w);
        u32(2);                // regular page
        u32(8u | (1u << 16));  // entries at 8 from the page, one of them
        u32(kFunction);
        u32(encoding);
        return out;
    }

    // A "zR" CIE (code factor 1, data factor -8, return address 16, pc-relative 4-byte starts)
    // and one FDE for the function, then the terminator. Its start is written pc-relative to
    // where the image lies in memory.
    std::vector<uint8_t> ehFrameBytes(uint32_t* fdeOffset) const {
        std::vector<uint8_t> cie = {0,    0,    0,  0, 1,    'z',  'R', 0,
                                    1,    0x78, 16, 1, 0x1B, 0x0C, 7,   8,  // DW_CFA_def_cfa rsp, 8
                                    0x90, 1};                               // DW_CFA_offset rip, CFA - 8
        while ((cie.size() + 4) % 8) cie.push_back(0);                      // DW_CFA_nop
        std::vector<uint8_t> out;
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        u32(static_cast<uint32_t>(cie.size()));
        out.insert(out.end(), cie.begin(), cie.end());
        *fdeOffset = static_cast<uint32_t>(out.size());
        std::vector<uint8_t> program = {0,    0x41,  // augmentation data length 0; DW_CFA_advance_loc 1
                                        0x0E, 16,    // DW_CFA_def_cfa_offset 16
                                        0x83, 2,     // DW_CFA_offset rbx, CFA - 16
                                        0x44,        // DW_CFA_advance_loc 4
                                        0x0E, 48,    // DW_CFA_def_cfa_offset 48
                                        0x2E, 16};   // DW_CFA_GNU_args_size 16
        const uint32_t body = 4 + 4 + 4 + static_cast<uint32_t>(program.size());
        const uint32_t length = (body + 3) & ~3u;
        u32(length);
        u32(static_cast<uint32_t>(out.size()));  // back to the CIE, from this field
        const uint64_t field = base() + kEhFrame + out.size();
        u32(static_cast<uint32_t>(base() + kFunction - field));
        u32(kFunctionSize);
        out.insert(out.end(), program.begin(), program.end());
        while (out.size() < *fdeOffset + 4 + length) out.push_back(0);
        u32(0);
        return out;
    }

    std::vector<uint8_t> bytes_;
    uint32_t fdeOffset_ = 0;
};

TEST(MachODwarf, ACompactEntryThatDefersToDwarfUnwindsThroughItsFde) {
    DeferringImage built;
    zvcrash_async_image_list list;
    zvcrash_async_image_list_init(&list, kernel::task_self());
    zvcrash_async_image_list_append(&list, built.base(), "deferring.dylib");
    zvcrash_async_image* image = zvcrash_async_image_list_next(&list, nullptr);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->format, ZVCRASH_IMAGE_FORMAT_MACHO);
    const uint64_t function = built.base() + DeferringImage::kFunction;

    // The compact entry names DWARF and the FDE's offset, and that FDE covers the function.
    zvcrash_async_mobject unwindInfo;
    ASSERT_EQ(zvcrash_async_macho_map_section(&image->macho, "__TEXT", "__unwind_info", &unwindInfo), ZVCRASH_ESUCCESS);
    zvcrash_async_cfe_reader cfe;
    ASSERT_EQ(zvcrash_async_cfe_reader_init(&cfe, &unwindInfo, 0x1000007), ZVCRASH_ESUCCESS);
    uint64_t start = 0;
    uint32_t encoding = 0;
    ASSERT_EQ(zvcrash_async_cfe_reader_find_pc(&cfe, DeferringImage::kFunction + 0x10, &start, &encoding),
              ZVCRASH_ESUCCESS);
    EXPECT_EQ(start, DeferringImage::kFunction);
    zvcrash_async_cfe_entry entry;
    ASSERT_EQ(zvcrash_async_cfe_entry_init(&entry, 0x1000007, encoding), ZVCRASH_ESUCCESS);
    EXPECT_EQ(entry.type, ZVCRASH_ASYNC_CFE_TYPE_DWARF);
    EXPECT_EQ(static_cast<uint32_t>(entry.stack_offset), built.fdeOffset());
    zvcrash_async_mobject_free(&unwindInfo);
    zvcrash_async_dwarf_section section;
    ASSERT_EQ(zvcrash_async_dwarf_find_section(kernel::task_self(), image, &section), ZVCRASH_ESUCCESS);
    zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_section_source(&section, kernel::task_self(), &src);
    gnu_ehptr_reader ehptr(true);
    zvcrash_async_dwarf_fde_info fde;
    zvcrash_async_dwarf_cie_info cie;
    ASSERT_EQ(zvcrash_async_dwarf_fde_info_init(&fde, &cie, &src, &ehptr, section.start + built.fdeOffset(), false,
                                                section.start),
              ZVCRASH_ESUCCESS);
    EXPECT_EQ(fde.pc_start, function);
    EXPECT_EQ(fde.pc_end, function + DeferringImage::kFunctionSize);

    // llvm-objdump reads the same image from a file: one FDE over the function (its pc-relative
    // start holds wherever the bytes lie), and the compact entry naming it.
    if (hxtest::haveProgram("llvm-objdump")) {
        hxtest::TempDir dir;
        std::ofstream(dir / "deferring.dylib", std::ios::binary)
            .write(reinterpret_cast<const char*>(built.bytes().data()),
                   static_cast<std::streamsize>(built.bytes().size()));
        EXPECT_EQ(objdumpFdes((dir / "deferring.dylib").string()),
                  (std::vector<std::pair<uint64_t, uint64_t>>{
                      {DeferringImage::kFunction, DeferringImage::kFunction + DeferringImage::kFunctionSize}}));
        std::string dump;
        ASSERT_EQ(hxtest::runCommand("llvm-objdump --unwind-info " + (dir / "deferring.dylib").string(), &dump), 0);
        char expected[96];
        std::snprintf(expected, sizeof expected, "function offset=0x%08x, encoding=0x%08x", DeferringImage::kFunction,
                      encoding);
        EXPECT_NE(dump.find(expected), std::string::npos) << dump;
    }

    // A stack as the function leaves it at each point: the return address just below the CFA,
    // the caller's rbx pushed below that.
    uint64_t stack[8] = {};
    const uint64_t returnAddress = 0x7f1234567890, callersRbx = 0xB0B0B0B0;
    struct Case {
        uint32_t pcOffset;
        uint64_t cfaOffset;  // from rsp
        bool rbxSaved;
    };
    for (const Case& c :
         {Case{0, 8, false}, Case{1, 16, true}, Case{3, 16, true}, Case{5, 48, true}, Case{0x3f, 48, true}}) {
        SCOPED_TRACE(c.pcOffset);
        std::fill(std::begin(stack), std::end(stack), 0);
        const uint64_t rsp = reinterpret_cast<uint64_t>(stack);
        stack[(c.cfaOffset - 8) / 8] = returnAddress;
        if (c.rbxSaved) stack[(c.cfaOffset - 16) / 8] = callersRbx;
        zvcrash_async_thread_state state;
        zvcrash_async_thread_state_init(&state, ZVCRASH_THREAD_ARCH_X86_64);
        zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_IP, function + c.pcOffset);
        zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_SP, rsp);
        zvcrash_async_thread_state_set_reg(&state, ZVCRASH_REG_FP, 0);  // no frame-pointer chain to follow
        zvcrash_async_thread_state_set_reg(&state, 4, 0x1111);          // rbx in the function

        // The compact reader leaves the frame to the next reader; the DWARF reader takes it.
        zvcrash_async_thread_state next;
        EXPECT_NE(zvcrash_frame_compact_unwind_reader(kernel::task_self(), &list, &state, nullptr, &next),
                  ZVCRASH_FRAME_ESUCCESS);
        zvcrash_frame_cursor cursor;
        ASSERT_EQ(zvcrash_frame_cursor_init(&cursor, kernel::task_self(), &state, &list), ZVCRASH_ESUCCESS);
        ASSERT_EQ(zvcrash_frame_cursor_next(&cursor), ZVCRASH_FRAME_ESUCCESS);
        ASSERT_EQ(zvcrash_frame_cursor_next(&cursor), ZVCRASH_FRAME_ESUCCESS);
        uint64_t pc = 0, sp = 0, rbx = 0;
        ASSERT_EQ(zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &pc), ZVCRASH_FRAME_ESUCCESS);
        ASSERT_EQ(zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_SP, &sp), ZVCRASH_FRAME_ESUCCESS);
        EXPECT_EQ(pc, returnAddress);
        EXPECT_EQ(sp, rsp + c.cfaOffset);
        if (c.rbxSaved) {
            ASSERT_EQ(zvcrash_frame_cursor_get_reg(&cursor, 4, &rbx), ZVCRASH_FRAME_ESUCCESS);
            EXPECT_EQ(rbx, callersRbx);
        }
        zvcrash_frame_cursor_free(&cursor);
    }
    zvcrash_async_image_list_free(&list);
}

}  // namespace
