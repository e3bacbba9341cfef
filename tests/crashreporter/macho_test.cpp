#include <algorithm>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "crashreporter/async_file.h"
#include "crashreporter/crash_report.h"
#include "crashreporter/crash_reporter.h"
#include "crashreporter/image_list.h"
#include "crashreporter/log_writer.h"
#include "crashreporter/macho_image.h"
#include "crashreporter/task_memory.h"
#include "tests/crashreporter/report_test_support.h"
#include "tests/support/test_support.h"

namespace {

std::string fixture(const std::string& name) { return std::string(HX_MACHO_FIXTURE_DIR) + "/" + name; }

bool haveFixtures() { return std::filesystem::exists(fixture("libfixture_arm64.dylib")); }

std::string run(const std::string& command) {
    std::string out;
    hxtest::runCommand(command, &out);
    return out;
}

template <typename T>
T read(const std::vector<uint8_t>& b, size_t at) {
    T v{};
    if (at + sizeof(T) <= b.size()) std::memcpy(&v, b.data() + at, sizeof(T));
    return v;
}

// A small loader: reserves the image's whole span and copies each segment's file bytes to
// base + (vmaddr - first vmaddr), so the header sits at base.
struct LoadedFixture {
    std::vector<uint8_t> file;
    uint8_t* base = nullptr;
    size_t span = 0;
    uint64_t textVmaddr = 0;

    bool load(const std::string& path, uint64_t fixedAddress = 0) {
        file = crashtest::readFile(path);
        if (read<uint32_t>(file, 0) != 0xfeedfacf) return false;
        const uint32_t ncmds = read<uint32_t>(file, 16);
        struct Segment {
            uint64_t vmaddr, vmsize, fileoff, filesize;
        };
        std::vector<Segment> segments;
        size_t at = 32;
        uint64_t low = UINT64_MAX, high = 0;
        for (uint32_t i = 0; i < ncmds; ++i) {
            const uint32_t cmd = read<uint32_t>(file, at), size = read<uint32_t>(file, at + 4);
            if (cmd == 0x19) {
                Segment s{read<uint64_t>(file, at + 24), read<uint64_t>(file, at + 32), read<uint64_t>(file, at + 40),
                          read<uint64_t>(file, at + 48)};
                const uint32_t initprot = read<uint32_t>(file, at + 60);
                if (initprot != 0) {  // not __PAGEZERO
                    segments.push_back(s);
                    low = std::min(low, s.vmaddr);
                    high = std::max(high, s.vmaddr + s.vmsize);
                }
            }
            at += size;
        }
        textVmaddr = low;
        span = high - low;
        int flags = MAP_PRIVATE | MAP_ANONYMOUS;
        if (fixedAddress) flags |= MAP_FIXED_NOREPLACE;
        void* p = mmap(reinterpret_cast<void*>(fixedAddress), span, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (p == MAP_FAILED || (fixedAddress && reinterpret_cast<uint64_t>(p) != fixedAddress)) return false;
        base = static_cast<uint8_t*>(p);
        for (const auto& s : segments) {
            if (s.fileoff + s.filesize > file.size()) return false;
            std::memcpy(base + (s.vmaddr - low), file.data() + s.fileoff, s.filesize);
        }
        return true;
    }
    ~LoadedFixture() {
        if (base) munmap(base, span);
    }
};

struct ObjdumpFacts {
    std::string cputype;
    uint64_t textVmaddr = 0, textVmsize = 0;
    std::string uuid;
    std::vector<std::tuple<std::string, std::string, uint64_t, uint64_t>> sections;  // segment, section, addr, size
};

ObjdumpFacts objdumpFacts(const std::string& path) {
    ObjdumpFacts facts;
    std::istringstream in(run("llvm-objdump --macho --private-headers " + path));
    std::string line, segname, sectname, currentSeg;
    bool inText = false, inSection = false;
    uint64_t addr = 0;
    for (int n = 0; std::getline(in, line); ++n) {
        std::istringstream words(line);
        std::string key, value;
        words >> key >> value;
        if (key == "MH_MAGIC_64") facts.cputype = value;
        if (key == "cmd") {
            inText = false;
            inSection = false;
        }
        if (key == "Section") {
            inSection = true;
            inText = false;
        }
        if (key == "segname" && !inSection) inText = value == "__TEXT";
        if (key == "segname" && inSection) currentSeg = value;
        if (key == "sectname") sectname = value;
        if (key == "vmaddr" && inText) facts.textVmaddr = std::stoull(value, nullptr, 16);
        if (key == "vmsize" && inText) facts.textVmsize = std::stoull(value, nullptr, 16);
        if (key == "addr" && inSection) addr = std::stoull(value, nullptr, 16);
        if (key == "size" && inSection)
            facts.sections.emplace_back(currentSeg, sectname, addr, std::stoull(value, nullptr, 16));
        if (key == "uuid") facts.uuid = value;
    }
    return facts;
}

std::string uuidText(const uint8_t u[16]) {
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", u[0], u[1],
                  u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
    return text;
}

void checkFixture(const std::string& name, uint32_t cpuType, const std::string& cpuName) {
    if (!haveFixtures()) GTEST_SKIP() << "clang and ld64.lld are not available";
    LoadedFixture loaded;
    ASSERT_TRUE(loaded.load(fixture(name)));
    const uint64_t header = reinterpret_cast<uint64_t>(loaded.base);
    const ObjdumpFacts facts = objdumpFacts(fixture(name));
    ASSERT_EQ(facts.cputype, cpuName);

    zvcrash_async_image image;
    ASSERT_EQ(zvcrash_async_image_init(&image, kernel::task_self(), fixture(name).c_str(), header), ZVCRASH_ESUCCESS);
    EXPECT_EQ(image.format, ZVCRASH_IMAGE_FORMAT_MACHO);
    EXPECT_EQ(image.cpu_type, cpuType);
    EXPECT_EQ(image.macho.text_vmaddr, facts.textVmaddr);
    EXPECT_EQ(image.text_size, facts.textVmsize);
    EXPECT_EQ(image.macho.vmaddr_slide, static_cast<int64_t>(header - facts.textVmaddr));
    ASSERT_TRUE(image.has_uuid);
    EXPECT_EQ(uuidText(image.uuid), facts.uuid);
    EXPECT_TRUE(zvcrash_async_image_contains_address(&image, header + facts.textVmsize - 1));
    EXPECT_FALSE(zvcrash_async_image_contains_address(&image, header + facts.textVmsize));

    // Every section maps to its slid address and size.
    ASSERT_FALSE(facts.sections.empty());
    for (const auto& [seg, sect, addr, size] : facts.sections) {
        if (size == 0 || sect == "__common" || sect == "__bss") continue;  // zero-fill: not in the file
        zvcrash_async_mobject mobj;
        ASSERT_EQ(zvcrash_async_macho_map_section(&image.macho, seg.c_str(), sect.c_str(), &mobj), ZVCRASH_ESUCCESS)
            << sect;
        EXPECT_EQ(zvcrash_async_mobject_base_address(&mobj), addr + image.macho.vmaddr_slide) << sect;
        EXPECT_EQ(zvcrash_async_mobject_length(&mobj), size) << sect;
        zvcrash_async_mobject_free(&mobj);
    }
    zvcrash_async_mobject mobj;
    EXPECT_EQ(zvcrash_async_macho_map_section(&image.macho, "__TEXT", "__nothing", &mobj), ZVCRASH_ENOTFOUND);
    EXPECT_EQ(zvcrash_async_macho_map_section(&image.macho, "__NOSEG", "__text", &mobj), ZVCRASH_ENOTFOUND);

    // Symbols, in table order, as llvm-nm lists them.
    zvcrash_async_macho_symtab_reader reader;
    ASSERT_EQ(zvcrash_async_macho_symtab_reader_init(&reader, &image.macho), ZVCRASH_ESUCCESS);
    std::istringstream nm(run("llvm-nm -a -p " + fixture(name)));
    std::vector<std::string> expected;
    for (std::string line; std::getline(nm, line);) expected.push_back(line.substr(line.rfind(' ') + 1));
    ASSERT_EQ(reader.nsyms, expected.size());
    for (uint32_t i = 0; i < reader.nsyms; ++i) {
        auto entry = zvcrash_async_macho_symtab_reader_read(&reader, reader.symtab, i);
        const char* symbol = zvcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
        ASSERT_NE(symbol, nullptr);
        EXPECT_EQ(symbol, expected[i]);
    }
    std::istringstream globals(run("llvm-nm -g --defined-only -p " + fixture(name)));
    size_t globalCount = 0;
    for (std::string line; std::getline(globals, line);) ++globalCount;
    EXPECT_EQ(reader.nsyms_global, globalCount);
    zvcrash_async_macho_symtab_reader_free(&reader);
    zvcrash_async_image_free(&image);
}

TEST(MachOFixture, Arm64DylibMatchesTheLlvmTools) { checkFixture("libfixture_arm64.dylib", 0x0100000C, "ARM64"); }
TEST(MachOFixture, X86_64DylibMatchesTheLlvmTools) { checkFixture("libfixture_x86_64.dylib", 0x01000007, "X86_64"); }

TEST(MachOFixture, ReportFramesCarrySymbolsWhenTheStrategyAsks) {
    if (!haveFixtures()) GTEST_SKIP() << "clang and ld64.lld are not available";
    const std::string path = fixture("libfixture_x86_64.dylib");
    LoadedFixture loaded;
    ASSERT_TRUE(loaded.load(path));
    const uint64_t header = reinterpret_cast<uint64_t>(loaded.base);
    const int64_t slide = static_cast<int64_t>(header - loaded.textVmaddr);
    // The defined code symbols as llvm-nm sees them: one address inside each.
    std::istringstream nm(run("llvm-nm -n --defined-only " + path));
    std::vector<std::pair<uint64_t, std::string>> symbols;
    for (std::string line; std::getline(nm, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name && (type == "T" || type == "t"))
            symbols.emplace_back(std::stoull(address, nullptr, 16) + slide, name);
    }
    ASSERT_GE(symbols.size(), 2u);
    std::vector<uint64_t> pcs;
    for (const auto& symbol : symbols) pcs.push_back(symbol.first + 1);
    pcs.push_back(0x1000);  // in no image: never a symbol

    zvcrash_async_image_list list;
    zvcrash_async_image_list_init(&list, kernel::task_self());
    zvcrash_async_image_list_append(&list, header, path.c_str());
    kernel::thread_stop_install();
    // One report per strategy, each written from a function of its own: the context taken inside
    // it must not share a frame with the loop.
    auto writeAndRead = [&](const uint32_t strategy) {
        SCOPED_TRACE(strategy);
        zvcrash_log_writer_t writer;
        ASSERT_EQ(zvcrash_log_writer_init(&writer, "id", "1", nullptr, strategy, false), ZVCRASH_ESUCCESS);
        std::string reason = "r";
        zvcrash_log_writer_set_exception(&writer, "E", &reason, &pcs);
        char name[] = "/tmp/hx_symbolicated.XXXXXX";
        const int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        zvcrash_async_file_t file;
        zvcrash_async_file_init(&file, fd, ZVCRASH_REPORT_LIMIT);
        zvcrash_log_bsd_signal_info bsd{SIGABRT, 0, 0};
        zvcrash_log_signal_info signal{&bsd, nullptr};
        ucontext_t context;
        getcontext(&context);
        zvcrash_async_thread_state state;
        zvcrash_async_thread_state_mcontext_init(&state, &context);
        EXPECT_EQ(zvcrash_log_writer_write(&writer, kernel::thread_self(), &list, &file, &signal, &state, nullptr),
                  ZVCRASH_ESUCCESS);
        ASSERT_TRUE(zvcrash_async_file_close(&file));
        const auto bytes = crashtest::readFile(name);
        ::unlink(name);
        zvcrash_log_writer_free(&writer);
        auto decoded = ZVCrashReport::initWithData(bytes);
        ASSERT_TRUE(decoded.ok()) << decoded.error().description();
        const auto& frames = *decoded.value()->exceptionInfo()->stackFrames;
        ASSERT_EQ(frames.size(), pcs.size());
        for (size_t i = 0; i < symbols.size(); ++i) {
            SCOPED_TRACE(symbols[i].second);
            if (strategy == 0) {
                EXPECT_FALSE(frames[i].symbolInfo);
                continue;
            }
            ASSERT_TRUE(frames[i].symbolInfo);
            EXPECT_EQ(frames[i].symbolInfo->symbolName, symbols[i].second);
            EXPECT_EQ(frames[i].symbolInfo->startAddress, symbols[i].first);
        }
        EXPECT_FALSE(frames.back().symbolInfo);
    };
    for (const uint32_t strategy : {0u, 1u}) writeAndRead(strategy);
    zvcrash_async_image_list_free(&list);
}

TEST(MachOFixture, ExecutableAtItsLinkAddressHasNoSlide) {
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_FUZZING)
    GTEST_SKIP() << "fixed mappings clash with the address sanitizer's shadow";
#endif
    if (!haveFixtures()) GTEST_SKIP() << "clang and ld64.lld are not available";
    LoadedFixture loaded;
    if (!loaded.load(fixture("fixture_x86_64"), 0x100000000ULL)) GTEST_SKIP() << "0x100000000 is taken";
    zvcrash_async_image image;
    ASSERT_EQ(zvcrash_async_image_init(&image, kernel::task_self(), "fixture", 0x100000000ULL), ZVCRASH_ESUCCESS);
    EXPECT_EQ(image.macho.vmaddr_slide, 0);
    zvcrash_async_macho_symtab_reader reader;
    ASSERT_EQ(zvcrash_async_macho_symtab_reader_init(&reader, &image.macho), ZVCRASH_ESUCCESS);
    const std::string nm = run("llvm-nm " + fixture("fixture_x86_64") + " | awk '$3 == \"_main\" {print $1}'");
    bool found = false;
    for (uint32_t i = 0; i < reader.nsyms; ++i) {
        auto entry = zvcrash_async_macho_symtab_reader_read(&reader, reader.symtab, i);
        const char* symbol = zvcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
        if (symbol && std::string(symbol) == "_main") {
            found = true;
            EXPECT_EQ(entry.n_value, std::stoull(nm, nullptr, 16));
            EXPECT_TRUE(zvcrash_async_image_contains_address(&image, entry.n_value));
        }
    }
    EXPECT_TRUE(found);
    zvcrash_async_macho_symtab_reader_free(&reader);
    zvcrash_async_image_free(&image);
}

// Synthetic images in a buffer task.
struct Builder {
    std::vector<uint8_t> bytes;
    bool swap = false;
    void u32(uint32_t v) {
        if (swap) v = __builtin_bswap32(v);
        bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4);
    }
    void name16(const char* n) {
        // A Mach-O name field: up to 16 bytes, NUL-padded, not necessarily terminated.
        char field[16] = {};
        std::memcpy(field, n, std::min<size_t>(std::strlen(n), sizeof field));
        bytes.insert(bytes.end(), field, field + 16);
    }
    void put32(size_t at, uint32_t v) {
        if (swap) v = __builtin_bswap32(v);
        std::memcpy(bytes.data() + at, &v, 4);
    }
};

TEST(MachOReader, AByteSwappedImageIsReadInItsOwnOrder) {
    Builder b;
    b.swap = true;
    // 32-bit header, big-endian: magic, cputype ARM, subtype 9, filetype, ncmds 2, sizeofcmds, flags.
    b.u32(0xfeedface);
    b.u32(12);
    b.u32(9);
    b.u32(6);
    b.u32(2);
    b.u32(56 + 68 + 24);
    b.u32(0);
    b.u32(1);
    b.u32(56 + 68);
    b.name16("__TEXT");
    b.u32(0x1000);
    b.u32(0x2000);
    b.u32(0);
    b.u32(0x200);
    b.u32(5);
    b.u32(5);
    b.u32(1);
    b.u32(0);
    b.name16("__text");
    b.name16("__TEXT");
    b.u32(0x1080);
    b.u32(0x40);
    b.u32(0x80);
    b.u32(2);
    b.u32(0);
    b.u32(0);
    b.u32(0);
    b.u32(0);
    b.u32(0);
    b.u32(0x1b);
    b.u32(24);
    for (uint8_t i = 0; i < 16; ++i) b.bytes.push_back(i);
    b.bytes.resize(0x200, 0);
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, 0x5000, b.bytes.data(), b.bytes.size());
    zvcrash_async_image image;
    ASSERT_EQ(zvcrash_async_image_init(&image, &task.task, "swapped", 0x5000), ZVCRASH_ESUCCESS);
    EXPECT_EQ(image.macho.byteorder, zvcrash_async_byteorder_swapped());
    EXPECT_FALSE(image.macho.m64);
    EXPECT_EQ(image.cpu_type, 12u);
    EXPECT_EQ(image.cpu_subtype, 9u);
    EXPECT_EQ(image.macho.text_vmaddr, 0x1000u);
    EXPECT_EQ(image.text_size, 0x2000u);
    EXPECT_EQ(image.macho.vmaddr_slide, 0x4000);
    ASSERT_TRUE(image.has_uuid);
    EXPECT_EQ(image.uuid[15], 15);
    zvcrash_async_mobject section;
    ASSERT_EQ(zvcrash_async_macho_map_section(&image.macho, "__TEXT", "__text", &section), ZVCRASH_ESUCCESS);
    EXPECT_EQ(zvcrash_async_mobject_base_address(&section), 0x5080u);
    EXPECT_EQ(zvcrash_async_mobject_length(&section), 0x40u);
    zvcrash_async_mobject_free(&section);
    zvcrash_async_image_free(&image);
}

std::vector<uint8_t> image64(uint32_t firstCmdSize, uint32_t iextdefsym = 0, uint32_t nextdefsym = 0) {
    Builder b;
    const uint32_t sizeofcmds = 72 + 24 + 80;
    b.u32(0xfeedfacf);
    b.u32(0x01000007);
    b.u32(3);
    b.u32(6);
    b.u32(3);
    b.u32(sizeofcmds);
    b.u32(0);
    b.u32(0);
    // __TEXT, 64-bit: vmaddr 0, vmsize 0x1000, fileoff 0, filesize 0x1000.
    b.u32(0x19);
    b.u32(72);
    b.name16("__TEXT");
    for (uint64_t v : {0ULL, 0x1000ULL, 0ULL, 0x1000ULL}) {
        b.u32(static_cast<uint32_t>(v));
        b.u32(static_cast<uint32_t>(v >> 32));
    }
    b.u32(5);
    b.u32(5);
    b.u32(0);
    b.u32(0);
    b.u32(2);
    b.u32(24);
    b.u32(0x400);
    b.u32(2);
    b.u32(0x420);
    b.u32(8);  // LC_SYMTAB: 2 symbols
    b.u32(0xb);
    b.u32(80);
    b.u32(0);
    b.u32(1);
    b.u32(iextdefsym);
    b.u32(nextdefsym);
    for (int i = 0; i < 14; ++i) b.u32(0);
    b.bytes.resize(0x1000, 0);
    b.put32(32 + 4, firstCmdSize);
    return b.bytes;
}

TEST(MachOReader, TheLoadCommandWalkStopsAtASizeBelowEight) {
    auto bytes = image64(72);
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, 0x10000, bytes.data(), bytes.size());
    zvcrash_async_macho_image image;
    ASSERT_EQ(zvcrash_async_macho_image_init(&image, &task.task, "ok", 0x10000), ZVCRASH_ESUCCESS);
    int count = 0;
    for (const void* c = zvcrash_async_macho_next_command(&image, nullptr); c;
         c = zvcrash_async_macho_next_command(&image, c))
        ++count;
    EXPECT_EQ(count, 3);
    EXPECT_NE(zvcrash_async_macho_find_command(&image, 0xb), nullptr);
    zvcrash_async_macho_image_free(&image);

    bytes = image64(4);
    zvcrash_buffer_task_init(&task, 0x10000, bytes.data(), bytes.size());
    // The first command's size is below 8: the walk ends after it, and __TEXT is never found.
    EXPECT_EQ(zvcrash_async_macho_image_init(&image, &task.task, "bad", 0x10000), ZVCRASH_EINVAL);

    // A size that runs past the load-command window ends the walk as well.
    bytes = image64(0x7fffffff);
    zvcrash_buffer_task_init(&task, 0x10000, bytes.data(), bytes.size());
    EXPECT_EQ(zvcrash_async_macho_image_init(&image, &task.task, "long", 0x10000), ZVCRASH_EINVAL);
}

TEST(MachOReader, MalformedImagesNameTheRecordAndWhereItLies) {
    constexpr uint64_t kAt = 0x10000;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        zvcrash_error_t error;
        const char* field;
        uint64_t offset;  // from the header
    };
    std::vector<Case> cases;
    {
        auto b = image64(72);
        b[0] = 0x00;
        cases.push_back({"bad magic", b, ZVCRASH_EINVAL, "Mach-O magic", 0});
    }
    {
        auto b = image64(72);
        std::memset(b.data() + 20, 0, 4);  // sizeofcmds
        cases.push_back({"no load commands", b, ZVCRASH_EINVAL, "sizeofcmds", 20});
    }
    // The first command claims more than the load-command window holds.
    cases.push_back({"command past the window", image64(0x7fffffff), ZVCRASH_EINVAL, "load command size", 32});
    {
        // A header that says its commands run past the readable bytes.
        auto b = image64(72);
        const uint32_t huge = 0x2000;
        std::memcpy(b.data() + 20, &huge, 4);
        cases.push_back({"load commands past the image", b, ZVCRASH_ENOMEM, "load commands", 32});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        zvcrash_buffer_task task;
        zvcrash_buffer_task_init(&task, kAt, c.bytes.data(), c.bytes.size());
        zvcrash_async_macho_image image;
        EXPECT_EQ(zvcrash_async_macho_image_init(&image, &task.task, "bad", kAt), c.error);
        ASSERT_NE(image.fault.field, nullptr);
        EXPECT_STREQ(image.fault.field, c.field);
        EXPECT_EQ(image.fault.address, kAt + c.offset);
    }
}

TEST(MachOReader, DynamicSymbolRangesBeyondTheTableAreRefused) {
    // __LINKEDIT is missing here, so first give the image one by reusing __TEXT's span.
    auto bytes = image64(72, 1, 1);
    std::memcpy(bytes.data() + 32 + 8, "__LINKEDIT\0\0\0\0\0\0", 16);  // the only segment is __LINKEDIT...
    zvcrash_buffer_task task;
    zvcrash_buffer_task_init(&task, 0x10000, bytes.data(), bytes.size());
    zvcrash_async_macho_image image;
    EXPECT_EQ(zvcrash_async_macho_image_init(&image, &task.task, "no text", 0x10000),
              ZVCRASH_EINVAL);  // ...so no __TEXT

    // Two segment commands would need a longer builder; check the range rule on a real fixture
    // instead: its dysymtab counts are within nsyms and the reader accepts them.
    if (!haveFixtures()) return;
    LoadedFixture loaded;
    ASSERT_TRUE(loaded.load(fixture("libfixture_x86_64.dylib")));
    ASSERT_EQ(zvcrash_async_macho_image_init(&image, kernel::task_self(), "x", reinterpret_cast<uint64_t>(loaded.base)),
              ZVCRASH_ESUCCESS);
    // Point the dysymtab's external range past the table in the loaded copy.
    const void* dysym = zvcrash_async_macho_find_command(&image, zvcrash::macho::LC_DYSYMTAB);
    ASSERT_NE(dysym, nullptr);
    const uint64_t offset = reinterpret_cast<uintptr_t>(dysym) - image.load_cmds.address;
    uint32_t* fields = reinterpret_cast<uint32_t*>(loaded.base + 32 + offset);
    zvcrash_async_macho_image_free(&image);
    fields[5] = 100000;  // nextdefsym
    ASSERT_EQ(zvcrash_async_macho_image_init(&image, kernel::task_self(), "x", reinterpret_cast<uint64_t>(loaded.base)),
              ZVCRASH_ESUCCESS);
    zvcrash_async_macho_symtab_reader reader;
    EXPECT_EQ(zvcrash_async_macho_symtab_reader_init(&reader, &image), ZVCRASH_EINVAL);
    zvcrash_async_macho_image_free(&image);
}

TEST(MemoryObject, AWindowEndsAtTheFirstUnreadablePageUnlessItMustBeWhole) {
    const size_t page = kernel::vm_page_size();
    auto* pages =
        static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    pages[page - 1] = 0x5A;
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    const uint64_t start = reinterpret_cast<uint64_t>(pages) + 16;
    zvcrash_async_mobject mobj;
    EXPECT_EQ(zvcrash_async_mobject_init(&mobj, kernel::task_self(), start, 2 * page - 32, true), ZVCRASH_ENOMEM);
    ASSERT_EQ(zvcrash_async_mobject_init(&mobj, kernel::task_self(), start, 2 * page - 32, false), ZVCRASH_ESUCCESS);
    EXPECT_EQ(zvcrash_async_mobject_length(&mobj), page - 16);
    uint8_t value = 0;
    EXPECT_EQ(zvcrash_async_mobject_read_uint8(&mobj, reinterpret_cast<uint64_t>(pages) + page - 1, 0, &value),
              ZVCRASH_ESUCCESS);
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(zvcrash_async_mobject_read_uint8(&mobj, reinterpret_cast<uint64_t>(pages) + page, 0, &value),
              ZVCRASH_EINVAL);
    EXPECT_EQ(zvcrash_async_mobject_read_uint8(&mobj, start, -1, &value), ZVCRASH_EINVAL);
    uint32_t word = 0;
    EXPECT_EQ(zvcrash_async_mobject_read_uint32(&mobj, zvcrash_async_byteorder_direct(),
                                                reinterpret_cast<uint64_t>(pages) + page - 2, 0, &word),
              ZVCRASH_EINVAL);  // straddles the end
    EXPECT_EQ(zvcrash_async_mobject_remap_address(&mobj, start, INT64_MAX, 1), nullptr);
    EXPECT_FALSE(zvcrash_async_mobject_verify_local_pointer(&mobj, mobj.address, 0, mobj.length + 1));
    EXPECT_TRUE(zvcrash_async_mobject_verify_local_pointer(&mobj, mobj.address, 0, mobj.length));
    zvcrash_async_mobject_free(&mobj);
    EXPECT_EQ(zvcrash_async_mobject_init(&mobj, kernel::task_self(), UINT64_MAX - 4, 16, false), ZVCRASH_EINVAL);
    munmap(pages, 2 * page);
}

TEST(ImageList, RemovingWhileAReaderIsInsideParksTheNodeForTheNextAdd) {
    std::vector<uint8_t> a = image64(72), b = image64(72), c = image64(72);
    zvcrash_buffer_task task;
    // One task whose memory holds three images side by side.
    std::vector<uint8_t> all;
    for (auto* v : {&a, &b, &c}) all.insert(all.end(), v->begin(), v->end());
    zvcrash_buffer_task_init(&task, 0x100000, all.data(), all.size());
    zvcrash_async_image_list list;
    zvcrash_async_image_list_init(&list, &task.task);
    zvcrash_async_image_list_append(&list, 0x100000, "a");
    zvcrash_async_image_list_append(&list, 0x101000, "b");
    zvcrash_async_image_list_append(&list, 0x100008, "not an image");  // refused, nothing added
    auto names = [&] {
        std::vector<std::string> out;
        zvcrash_async_image_list_set_reading(&list, true);
        for (auto* i = zvcrash_async_image_list_next(&list, nullptr); i; i = zvcrash_async_image_list_next(&list, i))
            out.push_back(i->name);
        zvcrash_async_image_list_set_reading(&list, false);
        return out;
    };
    EXPECT_EQ(names(), std::vector<std::string>({"a", "b"}));
    EXPECT_EQ(zvcrash_async_image_list_image_containing_address(&list, 0x101fff)->name, std::string("b"));
    EXPECT_EQ(zvcrash_async_image_list_image_containing_address(&list, 0x102000), nullptr);

    zvcrash_async_image_list_set_reading(&list, true);  // a reader stands in the list
    auto* first = zvcrash_async_image_list_next(&list, nullptr);
    zvcrash_image_node* parked = first->node;
    zvcrash_async_image_list_remove(&list, 0x100000);
    EXPECT_EQ(list.shared->free_list, parked);
    // The reader's image stays valid; stepping on from the parked node follows the free list.
    EXPECT_EQ(first->name, std::string("a"));
    EXPECT_EQ(zvcrash_async_image_list_next(&list, first), nullptr);
    zvcrash_async_image_list_set_reading(&list, false);
    zvcrash_async_image_list_append(&list, 0x102000, "c");
    EXPECT_EQ(list.shared->free_list, nullptr);
    EXPECT_EQ(names(), std::vector<std::string>({"b", "c"}));
    zvcrash_async_image_list_set_reading(&list, true);
    auto* second = zvcrash_async_image_list_next(&list, zvcrash_async_image_list_next(&list, nullptr));
    EXPECT_EQ(second->node, parked);  // the parked node was reused
    zvcrash_async_image_list_set_reading(&list, false);
    zvcrash_async_image_list_remove(&list, 0x101000);
    zvcrash_async_image_list_remove(&list, 0x102000);
    EXPECT_TRUE(names().empty());
    zvcrash_async_image_list_free(&list);
}

TEST(ImageList, ElfImagesOfThisProcess) {
    std::vector<uint8_t> none;
    zvcrash_async_image image;
    const std::string exe = run("readlink -f /proc/" + std::to_string(getpid()) + "/exe | tr -d '\\n'");
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&checkFixture), &info), 0);
    const uint64_t header = reinterpret_cast<uint64_t>(info.dli_fbase);
    ASSERT_EQ(zvcrash_async_image_init(&image, kernel::task_self(), exe.c_str(), header), ZVCRASH_ESUCCESS);
    EXPECT_EQ(image.format, ZVCRASH_IMAGE_FORMAT_ELF);
    EXPECT_TRUE(zvcrash_async_image_contains_address(&image, reinterpret_cast<uint64_t>(&checkFixture)));
    EXPECT_NE(image.elf.eh_frame_hdr, 0u);
    const std::string buildId = run("readelf -n " + exe + " | awk '/Build ID/ {printf $3}'");
    if (!buildId.empty()) {
        ASSERT_TRUE(image.has_uuid);
        char hex[33];
        for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", image.uuid[i]);
        EXPECT_EQ(std::string(hex), buildId.substr(0, 32));
    }
#if defined(__x86_64__)
    EXPECT_EQ(image.cpu_type, 0x01000007u);
    EXPECT_EQ(image.cpu_subtype, 3u);
#endif
    zvcrash_async_image_free(&image);
}

}  // namespace
