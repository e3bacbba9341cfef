// DWARF call-frame data of Mach-O images: the __eh_frame of an x86-64 dylib linked by ld64.lld,
// checked against llvm-objdump's reading of it, and an arm64 dylib without frame sections.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "crashreporter/dwarf_unwinder.h"
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

}  // namespace
