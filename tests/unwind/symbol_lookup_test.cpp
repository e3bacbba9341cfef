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
#include "tests/support/test_support.h"

namespace {

template <typename T>
T at(const std::vector<uint8_t>& b, size_t off) {
    T v{};
    if (off + sizeof(T) <= b.size()) std::memcpy(&v, b.data() + off, sizeof(T));
    return v;
}

// Copies each segment's file bytes to base + (vmaddr - lowest vmaddr), as a loader would.
struct Loaded {
    std::vector<uint8_t> file;
    uint8_t* base = nullptr;
    size_t span = 0;
    uint64_t low = 0;
    bool load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (at<uint32_t>(file, 0) != 0xfeedfacf) return false;
        struct Seg { uint64_t vmaddr, vmsize, fileoff, filesize; };
        std::vector<Seg> segs;
        uint64_t lo = UINT64_MAX, hi = 0;
        size_t off = 32;
        for (uint32_t i = 0, n = at<uint32_t>(file, 16); i < n; ++i) {
            if (at<uint32_t>(file, off) == 0x19 && at<uint32_t>(file, off + 60) != 0) {
                Seg s{at<uint64_t>(file, off + 24), at<uint64_t>(file, off + 32), at<uint64_t>(file, off + 40), at<uint64_t>(file, off + 48)};
                segs.push_back(s);
                lo = std::min(lo, s.vmaddr);
                hi = std::max(hi, s.vmaddr + s.vmsize);
            }
            off += at<uint32_t>(file, off + 4);
        }
        low = lo;
        span = hi - lo;
        void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        base = static_cast<uint8_t*>(p);
        for (const auto& s : segs) {
            if (s.fileoff + s.filesize > file.size()) return false;
            std::memcpy(base + (s.vmaddr - lo), file.data() + s.fileoff, s.filesize);
        }
        return true;
    }
    ~Loaded() { if (base) munmap(base, span); }
};

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
    Loaded l;
    ASSERT_TRUE(l.load(path));
    zvcrash_async_macho_image image;
    ASSERT_EQ(zvcrash_async_macho_image_init(&image, kernel::task_self(), file.c_str(), reinterpret_cast<uint64_t>(l.base)), ZVCRASH_ESUCCESS);
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
        const uint64_t pc = reinterpret_cast<uint64_t>(l.base) + (addr - l.low);
        ASSERT_EQ(zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, pc, &collect, &f), ZVCRASH_ESUCCESS) << name;
        EXPECT_EQ(f.calls, 1);
        EXPECT_EQ(f.address, pc);
        // Symbols sharing an address: any of them may be the table's first.
        bool sameAddress = false;
        for (const auto& s : symbols) sameAddress |= s.first == addr && s.second == f.name;
        EXPECT_TRUE(sameAddress) << name << " got " << f.name;
    }
    // Below every symbol, and with strategy 0, nothing is found.
    Found f;
    const uint64_t lowest = reinterpret_cast<uint64_t>(l.base) + (symbols.front().first - l.low);
    EXPECT_EQ(zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, lowest - 1, &collect, &f), ZVCRASH_ENOTFOUND);
    EXPECT_EQ(zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_NONE, lowest, &collect, &f), ZVCRASH_ENOTFOUND);
    EXPECT_EQ(f.calls, 0);
    zvcrash_async_macho_image_free(&image);
}

TEST(SymbolLookup, Arm64SymbolsMatchNm) { checkAgainstNm("cu_arm64.dylib"); }
TEST(SymbolLookup, X86_64SymbolsMatchNm) { checkAgainstNm("cu_x86_64.dylib"); }

}  // namespace
