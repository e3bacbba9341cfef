#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "crashreporter/symbol_lookup.h"
#include "tests/crashreporter/unwind/macho_test_image.h"
#include "tests/support/test_support.h"

namespace {

struct Expected {
    bool isClass;
    std::string className, method, symbol;
    uint64_t address;
};

// Every method implementation named by the metadata dump, with its address from the symbol table.
std::vector<Expected> expectedMethods(const std::string& path) {
    std::string dump, nm;
    EXPECT_EQ(hxtest::runCommand("llvm-objdump --macho --objc-meta-data " + path, &dump), 0);
    EXPECT_EQ(hxtest::runCommand("llvm-nm --defined-only " + path, &nm), 0);
    std::map<std::string, uint64_t> addresses;
    std::istringstream nmIn(nm);
    std::string line;
    while (std::getline(nmIn, line)) {
        if (line.size() < 20) continue;
        addresses[line.substr(19)] = std::stoull(line.substr(0, 16), nullptr, 16);
    }
    std::vector<Expected> out;
    std::map<std::string, bool> seen;
    std::istringstream in(dump);
    while (std::getline(in, line)) {
        const size_t k = line.find("imp ");
        if (k == std::string::npos) continue;
        const std::string sym = line.substr(k + 4);
        if (sym.size() < 4 || (sym[0] != '-' && sym[0] != '+') || seen[sym]) continue;
        seen[sym] = true;
        Expected e;
        e.symbol = sym;
        e.isClass = sym[0] == '+';
        const size_t space = sym.find(' ');
        e.className = sym.substr(2, space - 2);
        const size_t paren = e.className.find('(');  // a category's methods carry the class's name
        if (paren != std::string::npos) e.className.resize(paren);
        e.method = sym.substr(space + 1, sym.size() - space - 2);
        EXPECT_TRUE(addresses.count(sym)) << sym;
        e.address = addresses[sym];
        out.push_back(e);
    }
    return out;
}

struct Method {
    int calls = 0;
    bool isClass = false;
    std::string className, method;
    uint64_t imp = 0;
};

void collectMethod(bool isClass, const char* c, const char* m, uint64_t imp, void* context) {
    auto* r = static_cast<Method*>(context);
    ++r->calls;
    r->isClass = isClass;
    r->className = c;
    r->method = m;
    r->imp = imp;
}

struct Symbol {
    int calls = 0;
    std::string name;
    uint64_t address = 0;
};

void collectSymbol(uint64_t address, const char* name, void* context) {
    auto* s = static_cast<Symbol*>(context);
    ++s->calls;
    s->name = name;
    s->address = address;
}

void checkImage(const std::string& file, size_t expectedCount) {
    const std::string path = std::string(HX_UNWIND_FIXTURE_DIR) + "/" + file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no clang/ld64.lld fixtures";
    hxtest::MachOTestImage fixed;
    ASSERT_TRUE(fixed.load(path, hxtest::MachOTestImage::Placement::AtLinkAddress));
    if (!fixed.skip.empty()) GTEST_SKIP() << fixed.skip;
    const std::vector<Expected> methods = expectedMethods(path);
    ASSERT_EQ(methods.size(), expectedCount);
    zvcrash_async_macho_image image;
    ASSERT_EQ(zvcrash_async_macho_image_init(&image, kernel::task_self(), file.c_str(),
                                             reinterpret_cast<uint64_t>(fixed.base)),
              ZVCRASH_ESUCCESS);
    ASSERT_EQ(image.vmaddr_slide, 0);
    zvcrash_async_objc_cache cache;
    ASSERT_EQ(zvcrash_async_objc_cache_init(&cache), ZVCRASH_ESUCCESS);
    uint64_t lowest = UINT64_MAX;
    // Twice: the second round runs on the mapped sections and the filled class-data cache.
    for (int round = 0; round < 2; ++round) {
        for (const Expected& e : methods) {
            lowest = std::min(lowest, e.address);
            for (uint64_t pc : {e.address, e.address + 1}) {
                Method m;
                ASSERT_EQ(zvcrash_async_objc_find_method(&image, &cache, pc, &collectMethod, &m), ZVCRASH_ESUCCESS)
                    << e.symbol;
                EXPECT_EQ(m.calls, 1);
                EXPECT_EQ(m.isClass, e.isClass) << e.symbol;
                EXPECT_EQ(m.className, e.className) << e.symbol;
                EXPECT_EQ(m.method, e.method) << e.symbol;
                EXPECT_EQ(m.imp, e.address) << e.symbol;
            }
            // Both sources together: the method form wins the tie with the symbol table's entry.
            Symbol s;
            ASSERT_EQ(zvcrash_async_find_symbol(
                          &image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE | ZVCRASH_ASYNC_SYMBOL_STRATEGY_OBJC,
                          &cache, e.address, &collectSymbol, &s),
                      ZVCRASH_ESUCCESS);
            EXPECT_EQ(s.calls, 1);
            EXPECT_EQ(s.address, e.address);
            EXPECT_EQ(s.name, std::string(e.isClass ? "+[" : "-[") + e.className + " " + e.method + "]");
        }
    }
    EXPECT_TRUE(cache.modern_walk_completed);
    EXPECT_NE(cache.class_cache, nullptr);
    Method none;
    EXPECT_EQ(zvcrash_async_objc_find_method(&image, &cache, lowest - 1, &collectMethod, &none), ZVCRASH_ENOTFOUND);
    EXPECT_EQ(none.calls, 0);
    Symbol s;
    EXPECT_EQ(
        zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache, lowest - 1, &collectSymbol, &s),
        ZVCRASH_ENOTFOUND);
    EXPECT_EQ(zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_NONE, &cache, lowest, &collectSymbol, &s),
              ZVCRASH_ENOTFOUND);
    EXPECT_EQ(s.calls, 0);
    zvcrash_async_objc_cache_free(&cache);
    zvcrash_async_macho_image_free(&image);
}

TEST(ObjcLookup, X86_64MethodsMatchMetadataDump) { checkImage("objc_x86_64", 7); }
TEST(ObjcLookup, Arm64MethodsMatchMetadataDump) { checkImage("objc_arm64", 7); }
// Without a category list the classes' methods are still found.
TEST(ObjcLookup, ImageWithoutCategoriesStillResolves) { checkImage("objc_x86_64_nocat", 5); }

TEST(ObjcLookup, LazyStringsGrowPageByPageAndStopAtUnreadable) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto* area =
        static_cast<char*>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    std::memset(area, 'a', 3 * page);
    area[page + 10] = 0;  // a string starting near the end of page 0, ending in page 1
    ASSERT_EQ(mprotect(area + 2 * page, page, PROT_NONE), 0);
    zvcrash_async_macho_image image{};
    image.task = kernel::task_self();
    zvcrash_async_objc_string str;
    zvcrash_async_objc_string_init(&str, &image, reinterpret_cast<uint64_t>(area + page - 5));
    size_t length = 0;
    const char* p = nullptr;
    ASSERT_EQ(zvcrash_async_objc_string_length(&str, &length), ZVCRASH_ESUCCESS);
    EXPECT_EQ(length, 15u);
    ASSERT_EQ(zvcrash_async_objc_string_pointer(&str, &p), ZVCRASH_ESUCCESS);
    EXPECT_EQ(std::string(p), std::string(15, 'a'));
    zvcrash_async_objc_string_free(&str);
    // No terminator before the unreadable page.
    zvcrash_async_objc_string_init(&str, &image, reinterpret_cast<uint64_t>(area + page + 20));
    EXPECT_EQ(zvcrash_async_objc_string_length(&str, &length), ZVCRASH_EINVAL);
    EXPECT_EQ(zvcrash_async_objc_string_pointer(&str, &p), ZVCRASH_EINVAL);
    zvcrash_async_objc_string_free(&str);
    munmap(area, 3 * page);
}

// The legacy layout exists only in 32-bit images, which no linker here produces: the image is
// written by hand below 4 GiB, following the runtime's published record layouts.
TEST(ObjcLookup, LegacyModulesClassesMetaclassesAndCategories) {
    auto* mem = static_cast<uint8_t*>(
        mmap(nullptr, 0x2000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0));
    ASSERT_NE(mem, MAP_FAILED);
    std::memset(mem, 0, 0x2000);
    const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem));
    auto put = [&](uint32_t off, std::initializer_list<uint32_t> words) {
        for (uint32_t w : words) {
            std::memcpy(mem + off, &w, 4);
            off += 4;
        }
    };
    auto str = [&](uint32_t off, const char* text) {
        std::strcpy(reinterpret_cast<char*>(mem + off), text);
        return base + off;
    };
    put(0, {0xfeedface, 7, 3, 2, 2, 56 + 124, 0});
    put(28, {1, 56});
    std::memcpy(mem + 36, "__TEXT", 6);
    put(28 + 24, {base, 0x1000, 0, 0x1000, 5, 5, 0, 0});
    put(84, {1, 124});
    std::memcpy(mem + 92, "__OBJC", 6);
    put(84 + 24, {base + 0x1000, 0x1000, 0x1000, 0x1000, 3, 3, 1, 0});
    std::memcpy(mem + 140, "__module_info", 13);
    std::memcpy(mem + 156, "__OBJC", 6);
    put(172, {base + 0x1000, 16});
    const uint32_t cls = str(0x1800, "Legacy");
    put(0x1000, {7, 16, 0, base + 0x1100});
    put(0x1100, {0, 0, 1u | (1u << 16), base + 0x1200, base + 0x1300});
    put(0x1200, {base + 0x1240, 0, cls, 0, 0x1, 8, 0, base + 0x1400, 0, 0});            // lists in an array
    put(0x1240, {base + 0x1240, 0, cls, 0, 0x2 | 0x4000, 40, 0, base + 0x1580, 0, 0});  // one list
    put(0x1400, {base + 0x1500, 0xFFFFFFFF, base + 0x1600});                            // ends before the third
    put(0x1500, {0, 2, str(0x1810, "run"), 0, base + 0x100, str(0x1820, "walk"), 0, base + 0x200});
    put(0x1580, {0, 1, str(0x1830, "make"), 0, base + 0x180});
    put(0x1300, {str(0x1840, "Extra"), cls, base + 0x1680, 0, 0});
    put(0x1680, {0, 1, str(0x1850, "extra"), 0, base + 0x300});
    put(0x1600, {0, 1, str(0x1860, "hidden"), 0, base + 0x380});

    zvcrash_async_macho_image image;
    ASSERT_EQ(zvcrash_async_macho_image_init(&image, kernel::task_self(), "legacy", base), ZVCRASH_ESUCCESS);
    zvcrash_async_objc_cache cache;
    zvcrash_async_objc_cache_init(&cache);
    const struct {
        uint32_t pc;
        const char* name;
    } cases[] = {
        {0x100, "-[Legacy run]"},  {0x17f, "-[Legacy run]"},   {0x1a0, "+[Legacy make]"},
        {0x250, "-[Legacy walk]"}, {0x3ff, "-[Legacy extra]"},
    };
    for (const auto& c : cases) {
        Symbol s;
        ASSERT_EQ(zvcrash_async_find_symbol(&image, ZVCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache, base + c.pc,
                                            &collectSymbol, &s),
                  ZVCRASH_ESUCCESS)
            << c.name;
        EXPECT_EQ(s.name, c.name);
        EXPECT_EQ(s.calls, 1);
    }
    Method m;
    EXPECT_EQ(zvcrash_async_objc_find_method(&image, &cache, base + 0xff, &collectMethod, &m), ZVCRASH_ENOTFOUND);
    EXPECT_FALSE(cache.modern_walk_completed);
    // A method name that runs into unmapped memory fails the lookup instead of reading past it.
    std::memset(mem + 0x1810, 'x', 0x2000 - 0x1810);
    EXPECT_EQ(zvcrash_async_objc_find_method(&image, &cache, base + 0x100, &collectMethod, &m), ZVCRASH_EINVAL);
    EXPECT_EQ(m.calls, 0);
    zvcrash_async_objc_cache_free(&cache);
    zvcrash_async_macho_image_free(&image);
    munmap(mem, 0x2000);
}

}  // namespace
