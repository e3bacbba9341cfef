#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <vector>

#include "crashreporter/symbol_lookup.h"
#include "tests/crashreporter/unwind/macho_test_image.h"
#include "tests/support/test_support.h"

namespace {

struct Found {
    std::string name;
    uint64_t address = 0;
    int calls = 0;
};

void collect(uint64_t address, const char* name, void* context) {
    auto* f = static_cast<Found*>(context);
    f->name = name;
    f->address = address;
    ++f->calls;
}

void checkAgainstNm(const std::string& file) {
    const std::string path = std::string(HX_UNWIND_FIXTURE_DIR) + "/" + file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no clang/ld64.lld fixtures";
    hxtest::MachOTestImage l;
    ASSERT_TRUE(l.load(path));
    zvcrash_async_macho_image image;
    ASSERT_EQ(
        zvcrash_async_macho_image_init(&image, kernel::task_self(), file.c_str(), reinterpret_cast<uint64_t>(l.base)),
        ZVCRASH_ESUCCESS);
    std::string nm;
    ASSERT_EQ(hxtest::runCommand("llvm-nm --defined-only -n " + path, &nm), 0);
    std::istringstream in(nm);
    std::string line;
    std::map<uint64_t, std::string> firstAt;  // llvm-nm -n lists table order within equal addresses
    std::vector<std::pair<uint64_t, std::string>> symbols;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string addr, type, name;
        if (!(fields >> addr >> type >> name)) continue;
        if (type == "A" || type == "a") continue;
        symbols.emplace_back(std::stoull(addr, nullptr, 16), name);
    }
    ASSERT_GE(symbols.size(), 4u);
    for (const auto& [addr, name] : symbols) {
        Found f;
        const uint64_t pc = l.runtimeAddress(addr);
        ASSERT_EQ(
            zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, pc, &collect, &f),
            ZVCRASH_ESUCCESS)
            << name;
        EXPECT_EQ(f.calls, 1);
        EXPECT_EQ(f.address, pc);
        // Symbols sharing an address: any of them may be the table's first.
        bool sameAddress = false;
        for (const auto& s : symbols) sameAddress |= s.first == addr && s.second == f.name;
        EXPECT_TRUE(sameAddress) << name << " got " << f.name;
    }
    // Below every symbol, and with strategy 0, nothing is found.
    Found f;
    const uint64_t lowest = l.runtimeAddress(symbols.front().first);
    EXPECT_EQ(zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, lowest - 1,
                                        &collect, &f),
              ZVCRASH_ENOTFOUND);
    EXPECT_EQ(zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_NONE, nullptr, lowest, &collect, &f),
              ZVCRASH_ENOTFOUND);
    EXPECT_EQ(f.calls, 0);
    zvcrash_async_macho_image_free(&image);
}

TEST(SymbolLookup, Arm64SymbolsMatchNm) { checkAgainstNm("cu_arm64.dylib"); }
TEST(SymbolLookup, X86_64SymbolsMatchNm) { checkAgainstNm("cu_x86_64.dylib"); }

}  // namespace
