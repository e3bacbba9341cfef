#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "crashreporter/async_file.h"
#include "crashreporter/crash_report.h"
#include "crashreporter/crash_reporter.h"
#include "crashreporter/log_writer.h"
#include "tests/crashreporter/crash_fixtures.h"
#include "tests/crashreporter/report_test_support.h"
#include "tests/support/test_support.h"

namespace {

using crashtest::readFile;

struct OpenFile {
    hxtest::TempDir dir;
    std::filesystem::path path = dir / "out.bin";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    off_t size() const {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_size;
    }
};

TEST(LogWriter, ASentSignalHasNoFaultAddress) {
    struct Case {
        int code;
        bool sent;
    };
    for (const Case c : {Case{SI_USER, true}, Case{SI_TKILL, true}, Case{SI_QUEUE, true}, Case{SEGV_MAPERR, false},
                         Case{BUS_ADRALN, false}, Case{SI_KERNEL, false}}) {
        SCOPED_TRACE(c.code);
        siginfo_t info{};
        info.si_code = c.code;
        if (c.sent) {
            info.si_pid = 4242;  // shares its bytes with si_addr
            info.si_uid = 1000;
            EXPECT_NE(reinterpret_cast<uintptr_t>(info.si_addr), 0u);
        } else {
            info.si_addr = reinterpret_cast<void*>(0x1234);
        }
        EXPECT_EQ(zvcrash_async_signal_address(&info), c.sent ? 0u : 0x1234u);
    }
    EXPECT_EQ(zvcrash_async_signal_address(nullptr), 0u);
}

TEST(FieldEncoder, EveryTypeCodeDecodesWithProtocAndBothPassesAgree) {
    OpenFile out;
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, out.fd, 0);
    size_t total = 0;
    auto both = [&](uint32_t field, int type, const void* value) {
        size_t dry = zvcrash_writer_pack(nullptr, field, type, value);
        size_t wet = zvcrash_writer_pack(&file, field, type, value);
        EXPECT_EQ(dry, wet) << "field " << field;
        total += wet;
        return wet;
    };
    int32_t minusOne = -1;
    EXPECT_EQ(both(1, ZVCRASH_FIELD_INT32, &minusOne), 11u);  // a negative int32 takes 10 bytes
    int32_t minusThree = -3;
    both(2, ZVCRASH_FIELD_SINT32, &minusThree);
    int32_t fixed = 0x12345678;
    EXPECT_EQ(both(3, ZVCRASH_FIELD_SFIXED32, &fixed), 5u);
    int64_t big = -2;
    both(4, ZVCRASH_FIELD_SINT64, &big);
    uint64_t u64 = 1ULL << 63;
    EXPECT_EQ(both(5, ZVCRASH_FIELD_UINT64, &u64), 11u);
    uint64_t f64 = 0x0102030405060708ULL;
    EXPECT_EQ(both(6, ZVCRASH_FIELD_FIXED64, &f64), 9u);
    uint32_t u32 = 300;
    both(7, ZVCRASH_FIELD_UINT32, &u32);
    uint8_t yes = 1;
    EXPECT_EQ(both(8, ZVCRASH_FIELD_BOOL, &yes), 2u);
    EXPECT_EQ(both(9, ZVCRASH_FIELD_STRING, "abc"), 5u);
    const uint8_t raw[] = {0x00, 0xFF};
    zvcrash_data_pair pair{sizeof raw, raw};
    both(10, ZVCRASH_FIELD_BYTES, &pair);
    uint32_t bodyLength = 2;
    EXPECT_EQ(both(11, ZVCRASH_FIELD_MESSAGE, &bodyLength), 2u);  // tag and length only
    uint32_t inner = 5;
    both(1, ZVCRASH_FIELD_UINT32, &inner);  // the body of field 11
    uint32_t largest = (1u << 29) - 1;
    EXPECT_EQ(both(largest, ZVCRASH_FIELD_ENUM, &u32), 7u);  // the largest field number has a 5-byte tag
    ASSERT_TRUE(zvcrash_async_file_close(&file));
    ASSERT_EQ(static_cast<size_t>(out.size()), total);

    const std::string text = crashtest::protocDecodeRaw(readFile(out.path));
    EXPECT_NE(text.find("1: 18446744073709551615"), std::string::npos) << text;
    EXPECT_NE(text.find("2: 5"), std::string::npos) << text;  // zigzag(-3)
    EXPECT_NE(text.find("3: 0x12345678"), std::string::npos) << text;
    EXPECT_NE(text.find("4: 3"), std::string::npos) << text;  // zigzag(-2)
    EXPECT_NE(text.find("5: 9223372036854775808"), std::string::npos) << text;
    EXPECT_NE(text.find("6: 0x0102030405060708"), std::string::npos) << text;
    EXPECT_NE(text.find("7: 300"), std::string::npos) << text;
    EXPECT_NE(text.find("8: 1"), std::string::npos) << text;
    EXPECT_NE(text.find("9: \"abc\""), std::string::npos) << text;
    EXPECT_NE(text.find("10: \"\\000\\377\""), std::string::npos) << text;
    EXPECT_NE(text.find("11 {\n  1: 5\n}"), std::string::npos) << text;
    EXPECT_NE(text.find("536870911: 300"), std::string::npos) << text;
}

TEST(AsyncFile, BuffersSmallWritesAndPassesLargeOnesThrough) {
    OpenFile out;
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, out.fd, 0);
    std::vector<uint8_t> small(200, 'a'), more(100, 'b'), large(300, 'c');
    ASSERT_TRUE(zvcrash_async_file_write(&file, small.data(), small.size()));
    EXPECT_EQ(out.size(), 0);  // held in the 256-byte buffer
    ASSERT_TRUE(zvcrash_async_file_write(&file, more.data(), more.size()));
    EXPECT_EQ(out.size(), 200);  // the buffer went out first
    ASSERT_TRUE(zvcrash_async_file_write(&file, large.data(), large.size()));
    EXPECT_EQ(out.size(), 600);  // 100 buffered bytes flushed, then 300 written straight through
    ASSERT_TRUE(zvcrash_async_file_close(&file));
    auto bytes = readFile(out.path);
    ASSERT_EQ(bytes.size(), 600u);
    EXPECT_EQ(bytes[199], 'a');
    EXPECT_EQ(bytes[200], 'b');
    EXPECT_EQ(bytes[300], 'c');
}

TEST(AsyncFile, OnceAWriteIsRefusedEveryLaterWriteIsToo) {
    OpenFile out;
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, out.fd, 10);
    EXPECT_TRUE(zvcrash_async_file_write(&file, "12345678", 8));
    EXPECT_FALSE(zvcrash_async_file_write(&file, "abcd", 4));
    // Two more bytes would fit the limit, but they would follow a hole in the stream.
    EXPECT_FALSE(zvcrash_async_file_write(&file, "x", 1));
    EXPECT_EQ(file.total_bytes, 8u);
    ASSERT_TRUE(zvcrash_async_file_close(&file));
    EXPECT_EQ(readFile(out.path), std::vector<uint8_t>({'1', '2', '3', '4', '5', '6', '7', '8'}));
}

TEST(AsyncFile, CloseReportsAFailedDescriptor) {
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, -1, 0);
    ASSERT_TRUE(zvcrash_async_file_write(&file, "x", 1));
    EXPECT_FALSE(zvcrash_async_file_close(&file));
}

TEST(AsyncFile, TheFirstFailedWriteIsStickyAndCloseAnswersFalse) {
    // /dev/full refuses every write with ENOSPC, as a full disk or a file-size limit does.
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, fd, 0);
    const std::vector<uint8_t> large(300, 'L');
    EXPECT_FALSE(zvcrash_async_file_write(&file, large.data(), large.size())) << "passed straight through and failed";
    EXPECT_FALSE(zvcrash_async_file_write(&file, "x", 1)) << "a later write is refused, not buffered";
    EXPECT_EQ(file.buflen, 0u);
    EXPECT_FALSE(zvcrash_async_file_flush(&file));
    EXPECT_FALSE(zvcrash_async_file_close(&file)) << "the buffer is empty, but the report is not whole";
}

TEST(AsyncFile, AFailedFlushIsStickyToo) {
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, fd, 0);
    const std::vector<uint8_t> chunk(200, 'c');
    EXPECT_TRUE(zvcrash_async_file_write(&file, chunk.data(), chunk.size())) << "buffered";
    EXPECT_FALSE(zvcrash_async_file_write(&file, chunk.data(), chunk.size())) << "the flush before it failed";
    EXPECT_FALSE(zvcrash_async_file_write(&file, "x", 1));
    EXPECT_FALSE(zvcrash_async_file_close(&file));
}

TEST(AsyncUtils, ErrorTextsAndOffsets) {
    EXPECT_STREQ(zvcrash_async_strerror(ZVCRASH_ESUCCESS), "No error");
    EXPECT_STREQ(zvcrash_async_strerror(ZVCRASH_EINVALID_DATA), "The input data is in an unknown or invalid format.");
    EXPECT_STREQ(zvcrash_async_strerror(static_cast<zvcrash_error_t>(10)), "Unhandled error code");
    uint64_t result = 0;
    EXPECT_TRUE(zvcrash_async_address_apply_offset(10, -10, &result));
    EXPECT_EQ(result, 0u);
    EXPECT_FALSE(zvcrash_async_address_apply_offset(10, -11, &result));
    EXPECT_FALSE(zvcrash_async_address_apply_offset(UINT64_MAX, 1, &result));
    EXPECT_TRUE(zvcrash_async_address_apply_offset(0, INT64_MIN + 1 + INT64_MAX, &result));
    EXPECT_FALSE(zvcrash_async_address_apply_offset(5, INT64_MIN, &result));
    char buffer[16];
    zvcrash_async_format_hash_int(buffer, sizeof buffer, INT32_MIN);
    EXPECT_STREQ(buffer, "#-2147483648");
    zvcrash_async_format_hash_int(buffer, sizeof buffer, 0);
    EXPECT_STREQ(buffer, "#0");
}

TEST(SignalNames, FollowTheHostNumbering) {
    EXPECT_STREQ(zvcrash_async_signal_signame(SIGABRT), "SIGABRT");  // never its alias SIGIOT
    EXPECT_STREQ(zvcrash_async_signal_signame(SIGBUS), "SIGBUS");
    EXPECT_STREQ(zvcrash_async_signal_signame(SIGUSR1), "SIGUSR1");
    EXPECT_STREQ(zvcrash_async_signal_signame(SIGSYS), "SIGSYS");
    EXPECT_EQ(zvcrash_async_signal_signame(99), nullptr);
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGFPE, FPE_INTDIV), "FPE_INTDIV");
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGILL, ILL_ILLOPN), "ILL_ILLOPN");
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGSEGV, SEGV_ACCERR), "SEGV_ACCERR");
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGTRAP, TRAP_TRACE), "TRAP_TRACE");
    EXPECT_EQ(zvcrash_async_signal_sigcode(SIGABRT, 0), nullptr);
    EXPECT_EQ(zvcrash_async_signal_sigcode(SIGTRAP, 0), nullptr);
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGILL, 0), "ILL_NOOP");
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGFPE, 0), "FPE_NOOP");
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGSEGV, 0), "SEGV_NOOP");
    EXPECT_STREQ(zvcrash_async_signal_sigcode(SIGBUS, 0), "BUS_NOOP");
}

// Writes one report with the writer alone (no reporter), for the calling thread.
struct WrittenReport {
    std::vector<uint8_t> bytes;
    std::string text;
    size_t threads = 0;  // the process's threads when it was written, as the kernel lists them
};

// Counted apart from the writer: a sanitizer's own helper thread is one of the process's too.
size_t processThreads() {
    return static_cast<size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"), std::filesystem::directory_iterator()));
}

// The write from this frame's own registers. Apart from the report's strings: getcontext()
// returns twice as far as the compiler knows, and an object with a string member live across it
// "might be clobbered" (GCC's warning, an error in the address sanitizer's build).
[[gnu::noinline]] zvcrash_error_t writeFromHere(zvcrash_log_writer_t* writer, zvcrash_async_file_t* file,
                                                zvcrash_log_signal_info* signal, size_t* threads) {
    ucontext_t context;
    getcontext(&context);
    zvcrash_async_thread_state state;
    zvcrash_async_thread_state_mcontext_init(&state, &context);
    kernel::thread_stop_install();
    // The shared list indexes its images on a thread of its own: the report lists only this one.
    zvcrash_async_image_list* images = ZVCrashReporter::sharedImageList();
    ZVCrashReporter::waitForImageIndexes();
    *threads = processThreads();
    return zvcrash_log_writer_write(writer, kernel::thread_self(), images, file, signal, &state, nullptr);
}

WrittenReport writeReport(zvcrash_log_writer_t* writer, int signo, int code, uint64_t limit,
                          const zvcrash_log_mach_signal_info* mach = nullptr) {
    OpenFile out;
    zvcrash_async_file_t file;
    zvcrash_async_file_init(&file, out.fd, limit);
    zvcrash_log_bsd_signal_info bsd{signo, code, 0x1234};
    zvcrash_log_signal_info signal{&bsd, mach};
    size_t threads = 0;
    EXPECT_EQ(writeFromHere(writer, &file, &signal, &threads), ZVCRASH_ESUCCESS);
    EXPECT_TRUE(zvcrash_async_file_close(&file));
    WrittenReport report;
    report.bytes = readFile(out.path);
    report.text = crashtest::protocDecode(report.bytes);
    report.threads = threads;
    return report;
}

TEST(LogWriter, WritesEverySectionInOrderAndProtocDecodesIt) {
    zvcrash_log_writer_t writer;
    ASSERT_EQ(zvcrash_log_writer_init(&writer, "com.example.app", "42", nullptr, 0, false), ZVCRASH_ESUCCESS);
    auto report = writeReport(&writer, SIGABRT, 0, ZVCRASH_REPORT_LIMIT);
    ASSERT_GT(report.bytes.size(), 8u);
    EXPECT_EQ(std::string(report.bytes.begin(), report.bytes.begin() + 7), "zvcrash");
    EXPECT_EQ(report.bytes[7], 1);
    EXPECT_EQ(report.bytes[8], (9 << 3) | 2);  // report_info comes first

    const std::string& t = report.text;
    EXPECT_EQ(t.find("Failed"), std::string::npos) << t;
    EXPECT_NE(t.find("user_requested: false"), std::string::npos) << t;
    EXPECT_NE(t.find("operating_system: IPHONE_OS"), std::string::npos) << t;
    EXPECT_NE(t.find("architecture: ARCHITECTURE_UNKNOWN"), std::string::npos) << t;
    EXPECT_NE(t.find("identifier: \"com.example.app\""), std::string::npos) << t;
    EXPECT_NE(t.find("marketing_version: \"\""), std::string::npos) << t;  // absent, written empty
    EXPECT_NE(t.find("name: \"SIGABRT\""), std::string::npos) << t;
    EXPECT_NE(t.find("code: \"#0\""), std::string::npos) << t;
    EXPECT_NE(t.find("address: 4660"), std::string::npos) << t;
    EXPECT_NE(t.find("process_id: " + std::to_string(getpid())), std::string::npos) << t;
    EXPECT_NE(t.find("parent_process_id: " + std::to_string(getppid())), std::string::npos) << t;
    EXPECT_EQ(t.find("exception {"), std::string::npos) << t;
    EXPECT_EQ(t.find("custom_data"), std::string::npos) << t;
    EXPECT_EQ(t.find("mach_exception"), std::string::npos) << t;

    // The independent decoder and the reader agree on what was written.
    auto decoded = ZVCrashReport::initWithData(report.bytes);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    const auto& r = *decoded.value();
    std::string machine;
    hxtest::runCommand("uname -m | tr -d '\\n'", &machine);
    ASSERT_TRUE(r.hasMachineInfo());
    EXPECT_EQ(r.machineInfo()->modelName, machine);
    EXPECT_EQ(r.systemInfo().operatingSystem, 1u);
    ASSERT_TRUE(r.systemInfo().timestamp.has_value());
    EXPECT_NEAR(r.systemInfo().timestamp->secondsSince1970, static_cast<double>(time(nullptr)), 5);
    ASSERT_EQ(r.threads().size(), report.threads);  // the test runs no other thread of its own
    EXPECT_TRUE(r.threads()[0].crashed);
    EXPECT_FALSE(r.threads()[0].registers.empty());
    EXPECT_FALSE(r.images().empty());
    zvcrash_log_writer_free(&writer);
}

TEST(LogWriter, UnknownSignalsAndMachCodesAreWrittenByNumber) {
    zvcrash_log_writer_t writer;
    ASSERT_EQ(zvcrash_log_writer_init(&writer, "id", "1", nullptr, 0, true), ZVCRASH_ESUCCESS);
    const uint64_t codes[] = {1, 0xdeadbeef};
    zvcrash_log_mach_signal_info mach{-5, codes, 2};
    auto report = writeReport(&writer, 99, -7, 0, &mach);
    EXPECT_NE(report.text.find("name: \"#99\""), std::string::npos) << report.text;
    EXPECT_NE(report.text.find("code: \"#-7\""), std::string::npos) << report.text;
    EXPECT_NE(report.text.find("type: 18446744073709551611"), std::string::npos) << report.text;  // sign-widened
    EXPECT_NE(report.text.find("codes: 3735928559"), std::string::npos) << report.text;
    auto decoded = ZVCrashReport::initWithData(report.bytes);
    ASSERT_TRUE(decoded.ok());
    ASSERT_NE(decoded.value()->machExceptionInfo(), nullptr);
    EXPECT_EQ(decoded.value()->machExceptionInfo()->codes, std::vector<uint64_t>(codes, codes + 2));
    zvcrash_log_writer_free(&writer);
}

TEST(LogWriter, ExceptionFramesAreCappedAndCustomDataIsCarried) {
    zvcrash_log_writer_t writer;
    std::string marketing = "2.0";
    ASSERT_EQ(zvcrash_log_writer_init(&writer, "id", "1", &marketing, 0, false), ZVCRASH_ESUCCESS);
    std::vector<uint64_t> addresses;
    for (uint64_t i = 0; i < 600; ++i) addresses.push_back(0x1000 + i);
    std::string reason = "bad things";
    zvcrash_log_writer_set_exception(&writer, "NSRangeException", &reason, &addresses);
    std::vector<uint8_t> custom = {1, 2, 3};
    zvcrash_log_writer_set_custom_data(&writer, &custom);
    auto report = writeReport(&writer, SIGABRT, 0, ZVCRASH_REPORT_LIMIT);
    auto decoded = ZVCrashReport::initWithData(report.bytes);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    const auto& r = *decoded.value();
    ASSERT_TRUE(r.hasExceptionInfo());
    EXPECT_EQ(r.exceptionInfo()->exceptionName, "NSRangeException");
    EXPECT_EQ(r.exceptionInfo()->exceptionReason, "bad things");
    ASSERT_TRUE(r.exceptionInfo()->stackFrames.has_value());
    ASSERT_EQ(r.exceptionInfo()->stackFrames->size(), 512u);
    EXPECT_EQ((*r.exceptionInfo()->stackFrames)[511].instructionPointer, 0x1000u + 511);
    EXPECT_EQ(r.customData(), custom);
    EXPECT_EQ(r.applicationInfo().applicationMarketingVersion, "2.0");
    zvcrash_log_writer_free(&writer);
}

// Far more than the limit: the report must still decode, with every fixed section present.
TEST(LogWriter, AReportAtTheByteLimitStaysDecodable) {
    zvcrash_log_writer_t writer;
    ASSERT_EQ(zvcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false), ZVCRASH_ESUCCESS);
    std::vector<uint8_t> huge(2 * ZVCRASH_REPORT_LIMIT, 0xAB);
    zvcrash_log_writer_set_custom_data(&writer, &huge);
    auto full = writeReport(&writer, SIGSEGV, SEGV_MAPERR, 0);
    ASSERT_GT(full.bytes.size(), ZVCRASH_REPORT_LIMIT);

    auto limited = writeReport(&writer, SIGSEGV, SEGV_MAPERR, ZVCRASH_REPORT_LIMIT);
    EXPECT_LE(limited.bytes.size(), ZVCRASH_REPORT_LIMIT);
    auto decoded = ZVCrashReport::initWithData(limited.bytes);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    EXPECT_FALSE(decoded.value()->customData().has_value());  // did not fit: left out whole
    EXPECT_EQ(decoded.value()->threads().size(), limited.threads);

    // A limit a little below the whole report: the last images are left out whole.
    zvcrash_log_writer_set_custom_data(&writer, nullptr);
    auto unlimited = writeReport(&writer, SIGSEGV, SEGV_MAPERR, 0);
    const auto all = ZVCrashReport::initWithData(unlimited.bytes);
    ASSERT_TRUE(all.ok());
    const size_t images = all.value()->images().size();
    ASSERT_GT(images, 2u);
    const uint64_t limit = unlimited.bytes.size() - 20;
    auto small = writeReport(&writer, SIGSEGV, SEGV_MAPERR, limit);
    EXPECT_LE(small.bytes.size(), limit);
    auto partial = ZVCrashReport::initWithData(small.bytes);
    ASSERT_TRUE(partial.ok()) << partial.error().description();
    EXPECT_EQ(partial.value()->threads().size(), small.threads);
    EXPECT_LT(partial.value()->images().size(), images);
    EXPECT_EQ(partial.value()->images()[0].imageName, all.value()->images()[0].imageName);
    EXPECT_EQ(small.text.find("Failed"), std::string::npos) << small.text;  // protoc reads it whole
    EXPECT_NE(small.text.find("signal {"), std::string::npos);
    EXPECT_NE(small.text.find("process_info {"), std::string::npos);
    zvcrash_log_writer_free(&writer);
}

struct DeepWalk {
    zvcrash_log_writer_t* writer;
    WrittenReport report;
};

TEST(LogWriter, AThreadIsWalkedToAtMost512Frames) {
    zvcrash_log_writer_t writer;
    ASSERT_EQ(zvcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false), ZVCRASH_ESUCCESS);
    DeepWalk walk{&writer, {}};
    hx_fixture_recurse(
        600,
        [](void* ctx) {
            auto* w = static_cast<DeepWalk*>(ctx);
            w->report = writeReport(w->writer, SIGTRAP, TRAP_TRACE, ZVCRASH_REPORT_LIMIT);
        },
        &walk);
    auto decoded = ZVCrashReport::initWithData(walk.report.bytes);
    ASSERT_TRUE(decoded.ok());
    ASSERT_EQ(decoded.value()->threads().size(), walk.report.threads);
    EXPECT_EQ(decoded.value()->threads()[0].stackFrames.size(), 512u);
    zvcrash_log_writer_free(&writer);
}

}  // namespace
