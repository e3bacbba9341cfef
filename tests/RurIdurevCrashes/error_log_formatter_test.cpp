#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/error_log_formatter.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "platform/foundation/json.h"
#include "platform/foundation/uuid.h"
#include "platform/kernel/mach.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"
#include "tests/RurIdurevCrashes/crashes_test_support.h"
#include "tests/crashreporter/report_test_support.h"

using crashestest::canonicalJSON;

namespace {

std::shared_ptr<const ZVCrashReport> reportFrom(const std::string& text) {
    auto body = crashtest::protocEncode(text);
    EXPECT_FALSE(body.empty()) << "protoc could not encode:\n" << text;
    std::string header("zvcrash\x01", 8);
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.resize(8 + body.size());
    std::copy(body.begin(), body.end(), bytes.begin() + 8);
    auto result = ZVCrashReport::initWithData(bytes);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().description());
    return result.ok() ? result.value() : nullptr;
}

std::string report(const std::string& timestamp, const std::string& extra = "") {
    return "system_info { operating_system: IPHONE_OS os_version: \"12.4\" architecture: X86_64 timestamp: " +
           timestamp +
           " }\n"
           "application_info { identifier: \"com.hxconnect\" version: \"34\" marketing_version: \"1.2\" }\n"
           "process_info { process_name: \"HXConnect\" process_id: 4321 process_path: "
           "\"/opt/hx/HXConnect.app/HXConnect\" parent_process_name: \"launchd\" parent_process_id: 1 native: true "
           "start_time: 1699999990 }\n"
           "threads { thread_number: 0 crashed: true frames { pc: 4198416 } frames { pc: 139637976731700 "
           "symbol { name: \"_abort\" start_address: 139637976731680 } } "
           "registers { name: \"rip\" value: 4198416 } registers { name: \"rsi\" value: 7 } }\n"
           "threads { thread_number: 1 crashed: false frames { pc: 12345 } registers { name: \"rip\" value: "
           "139637976800000 } }\n"
           "binary_images { base_address: 4194304 size: 8192 name: \"/opt/hx/HXConnect.app/HXConnect\" "
           "uuid: \"\\x00\\x11\\x22\\x33\\x44\\x55\\x66\\x77\\x88\\x99\\xaa\\xbb\\xcc\\xdd\\xee\\xff\" "
           "code_type { encoding: TYPE_ENCODING_MACH type: 16777223 subtype: 3 } }\n"
           "binary_images { base_address: 139637976727552 size: 8192 name: \"/lib/libc.so.6\" }\n"
           "binary_images { base_address: 139637976800000 size: 0 name: \"/lib/unused.so\" }\n"
           "signal { name: \"SIGSEGV\" code: \"SEGV_MAPERR\" address: 0 }\n"
           "report_info { user_requested: false uuid: "
           "\"\\x0a\\x1b\\x2c\\x3d\\x4e\\x5f\\x60\\x71\\x82\\x93\\xa4\\xb5\\xc6\\xd7\\xe8\\xf9\" }\n" +
           extra;
}

// The formatter looks up wrapper exceptions in the SDK files directory: keep that in a scratch home.
// It also asks the device tracker, which keeps the device it made first: each test gets one made
// from its own Info (with or without versions) and leaves none behind.
class ErrorLogFormatter : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
        ZIVOCrashesUtil::resetDirectory();
        ZIVODeviceTracker::resetSharedInstance();
    }
    void TearDown() override {
        ZIVODeviceTracker::resetSharedInstance();
        ZIVOCrashesUtil::resetDirectory();
        TelemetryTest::TearDown();
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
    }
};

}  // namespace

TEST_F(ErrorLogFormatter, CrashReportBecomesTheCrashLog) {
    LogCapture capture;
    auto r = reportFrom(
        report("1700000000", "exception { name: \"std::runtime_error\" reason: \"boom\" frames { pc: 4198400 } }\n"));
    ASSERT_TRUE(r);
    auto log = ZIVOErrorLogFormatter::errorLogFromCrashReport(*r);
    auto dict = log->serializeToDictionary();
    // The tracked device differs per machine; the report's own facts must win.
    ASSERT_TRUE(dict.contains("device"));
    EXPECT_EQ(dict.get("device")["osVersion"].asString(), "12.4");
    EXPECT_EQ(dict.get("device")["appBuild"].asString(), "34");
    EXPECT_EQ(dict.get("device")["appVersion"].asString(), "1.2");
    EXPECT_EQ(dict.get("device")["appNamespace"].asString(), "com.hxconnect");
    dict.remove("device");
    auto json = foundation::toJSON(dict);
    ASSERT_TRUE(json.ok());
    EXPECT_EQ(canonicalJSON(*json), canonicalJSON(crashestest::golden("formatted_apple_error.json")));
    // Frame 12345 lies in no image.
    EXPECT_TRUE(capture.contains("Cannot find image for 0x3039"));
}

// Whatever bytes a damaged report holds in its text fields, the crash log made from it is valid,
// serialises to the JSON the ingestion sends (python3 as the independent reader) and carries the
// readable rest of each required text.
TEST_F(ErrorLogFormatter, TextThatIsNotUtf8StillGivesACrashLogThatIsSent) {
    // The application's own versions stand in for a marketing version the report lacks.
    writeVersionedInfo();
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string exception =
        "exception { name: \"std::runtime_error\" reason: \"boom\" frames { pc: 4198400 } }\n"
        "machine_info { model: \"HX10,1\" processor { encoding: TYPE_ENCODING_MACH type: 16777223 subtype: 3 } "
        "processor_count: 4 logical_processor_count: 8 }\n";
    struct Case {
        std::string stored;    // in the report's text form
        std::string damaged;   // the same with bytes that are not UTF-8
        std::string expected;  // in the canonical JSON of the log; empty: only the log's validity counts
    } cases[] = {
        {"name: \"SIGSEGV\"", "name: \"SIG\\xb2SEGV\"", "\"osExceptionType\":\"SIG" + fffd + "SEGV\""},
        {"code: \"SEGV_MAPERR\"", "code: \"SE\\xb2\\xa9\\xa0\\xb2APERR\"",
         "\"osExceptionCode\":\"SE" + fffd + fffd + fffd + fffd + "APERR\""},
        {"name: \"std::runtime_error\"", "name: \"std::\\xffruntime_error\"",
         "\"exceptionType\":\"std::" + fffd + "runtime_error\""},
        {"reason: \"boom\"", "reason: \"bo\\xc0\\xafom\"", "\"exceptionReason\":\"bo" + fffd + fffd + "om\""},
        {"name: \"/opt/hx/HXConnect.app/HXConnect\" uuid", "name: \"/opt/hx/HXConnect.app/HX\\xe2\\x82\" uuid",
         "\"name\":\"HX" + fffd + fffd + "\",\"path\":\"/opt/hx/HXConnect.app/HX" + fffd + fffd + "\""},
        {"name: \"/lib/libc.so.6\"", "name: \"/lib/\\xed\\xa0\\x80.so\"",
         "\"path\":\"/lib/" + fffd + fffd + fffd + ".so\""},
        {"name: \"_abort\"", "name: \"_ab\\xf4\\x90\\x80\\x80ort\"",
         "\"code\":\"ab" + fffd + fffd + fffd + fffd + "ort + 20\""},
        {"name: \"rip\" value: 4198416", "name: \"r\\xffip\" value: 4198416", "\"r" + fffd + "ip\":\"0x"},
        {"os_version: \"12.4\"", "os_version: \"12.\\xff4\"", "\"osVersion\":\"12." + fffd + "4\""},
        {"identifier: \"com.hxconnect\"", "identifier: \"com.\\xffhx\"", "\"appNamespace\":\"com." + fffd + "hx\""},
        {"version: \"34\"", "version: \"3\\xff4\"", "\"appBuild\":\"3" + fffd + "4\""},
        {"process_name: \"HXConnect\"", "process_name: \"HX\\xffConnect\"", "\"processName\":\"???\""},
        {"process_path: \"/opt/hx/HXConnect.app/HXConnect\"", "process_path: \"/opt/hx/\\xff\"",
         "\"applicationPath\":\"???\""},
        {"parent_process_name: \"launchd\"", "parent_process_name: \"l\\xffaunchd\"", "\"parentProcessName\":\"???\""},
        {"marketing_version: \"1.2\"", "marketing_version: \"1.\\xff\"", ""},
        {"os_version: \"12.4\"", "os_version: \"12.4\" os_build: \"16\\xffG\"", ""},
        {"model: \"HX10,1\"", "model: \"HX\\xff\"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damaged);
        std::string text = report("1700000000", exception);
        const size_t at = text.find(c.stored);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, c.stored.size(), c.damaged);
        auto r = reportFrom(text);
        ASSERT_TRUE(r);
        auto log = ZIVOErrorLogFormatter::errorLogFromCrashReport(*r);
        ASSERT_TRUE(log);
        const ZIVOLogContainer container(std::nullopt, {log});
        EXPECT_TRUE(container.isValid());
        const auto sent = container.serializeLog();
        ASSERT_TRUE(sent.has_value());
        const std::string canonical = canonicalJSON(*sent);
        if (!c.expected.empty()) {
            EXPECT_NE(canonical.find(c.expected), std::string::npos) << canonical;
        }
        EXPECT_TRUE(ZIVOErrorLogFormatter::errorReportFromLog(*log));
    }
}

TEST_F(ErrorLogFormatter, WholeSecondCrashTimesMoveToTheEndOfTheSecondAlsoAfter2038) {
    auto whole = ZIVOErrorLogFormatter::getCrashTimeFromReport(*reportFrom(report("1700000000")));
    EXPECT_DOUBLE_EQ(whole.secondsSince1970, 1700000000.999);
    // 2100-01-01: past the 32-bit range, still a whole second.
    auto late = ZIVOErrorLogFormatter::getCrashTimeFromReport(*reportFrom(report("4102444800")));
    EXPECT_DOUBLE_EQ(late.secondsSince1970, 4102444800.999);
}

TEST_F(ErrorLogFormatter, NamesOfProcessorsAndArchitectures) {
    EXPECT_EQ(ZIVOErrorLogFormatter::convertCodeTypeToString(0x100000C), "ARM-64");
    EXPECT_EQ(ZIVOErrorLogFormatter::convertCodeTypeToString(99), "Unknown (99)");
    EXPECT_EQ(ZIVOErrorLogFormatter::convertArchNameToString(0x100000C, 2), "arm64e");
    EXPECT_EQ(ZIVOErrorLogFormatter::convertArchNameToString(0x100000C, 0x80000002), "arm64e");
    EXPECT_EQ(ZIVOErrorLogFormatter::convertArchNameToString(12, 11), "armv7s");
    EXPECT_EQ(ZIVOErrorLogFormatter::convertArchNameToString(12, 5), "arm-unknown");
    EXPECT_EQ(ZIVOErrorLogFormatter::convertArchNameToString(0x1000007, 3), "x86_64");
    EXPECT_EQ(ZIVOErrorLogFormatter::convertArchNameToString(5, 0), "???");
    EXPECT_EQ(ZIVOErrorLogFormatter::formatAddress(0x1234, false), "0x00001234");
    EXPECT_EQ(ZIVOErrorLogFormatter::formatAddress(0x123456789, false), "0x123456789");
    EXPECT_EQ(ZIVOErrorLogFormatter::formatAddress(0x1234, true), "0x0000000000001234");
}

TEST_F(ErrorLogFormatter, ImageTypes) {
    const std::string exe = "/var/App/HX.app/HX";
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(exe, exe), 0);
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(std::string("/var/App/HX.app/./HX"), exe), 0);
    EXPECT_EQ(
        ZIVOErrorLogFormatter::imageTypeForImagePath(std::string("/var/App/HX.app/Frameworks/A.framework/A"), exe), 1);
    EXPECT_EQ(
        ZIVOErrorLogFormatter::imageTypeForImagePath(std::string("/var/App/HX.app/Frameworks/libswiftCore.dylib"), exe),
        2);
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(std::string("/usr/lib/libc.dylib"), exe), 2);
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(std::nullopt, exe), 2);
    // A program outside any bundle: its own executable is still the application's image, and a
    // neighbour whose path merely starts with the executable's is not.
    const std::string program = "/opt/hx/bin/hx_connect";
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(program, program), 0);
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(std::string("/opt/hx/bin/./hx_connect"), program), 0);
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(std::string("/opt/hx/bin/hx_connect-helper"), program), 2);
    EXPECT_EQ(ZIVOErrorLogFormatter::imageTypeForImagePath(std::string("/lib/x86_64-linux-gnu/libc.so.6"), program), 2);
}

TEST_F(ErrorLogFormatter, ErrorReportCarriesTheLogsSummaryAndRandomIdsWithoutUUID) {
    auto r = reportFrom(report("1700000000"));
    auto errorReport = ZIVOErrorLogFormatter::errorReportFromCrashReport(r.get());
    ASSERT_TRUE(errorReport);
    EXPECT_EQ(errorReport->incidentIdentifier(), "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    EXPECT_EQ(errorReport->codeType(), "X86-64");
    EXPECT_EQ(errorReport->archName(), "x86_64");
    EXPECT_EQ(errorReport->signal(), "SIGSEGV");
    EXPECT_EQ(errorReport->appProcessIdentifier(), 4321u);
    EXPECT_FALSE(ZIVOErrorLogFormatter::errorReportFromCrashReport(nullptr));

    ZIVOAppleErrorLog bare;
    auto none = ZIVOErrorLogFormatter::errorReportFromLog(bare);
    EXPECT_EQ(none->codeType(), "???");
    EXPECT_EQ(none->archName(), "???");
    bare.setPrimaryArchitectureId(7);
    EXPECT_EQ(ZIVOErrorLogFormatter::errorReportFromLog(bare)->codeType(), "X86");
    EXPECT_EQ(ZIVOErrorLogFormatter::errorReportFromLog(bare)->archName(), "???");

    std::string text = report("1700000000");
    text = text.substr(0, text.find("report_info"));
    auto noUUID = reportFrom(text);
    auto a = ZIVOErrorLogFormatter::errorLogFromCrashReport(*noUUID)->errorId();
    auto b = ZIVOErrorLogFormatter::errorLogFromCrashReport(*noUUID)->errorId();
    EXPECT_NE(a, b);
}

namespace {

// A 64-bit Mach-O image in one page of this process: __TEXT at 0 with an __objc_methname section
// at 0x200 of 0x40 bytes, and an LC_UUID.
struct MethodNameImage {
    uint8_t* page = nullptr;
    static constexpr uint8_t kUuid[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                          0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    MethodNameImage() {
        page = static_cast<uint8_t*>(mmap(nullptr, 0x1000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        std::vector<uint8_t> b;
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        auto u64 = [&](uint64_t v) {
            u32(static_cast<uint32_t>(v));
            u32(static_cast<uint32_t>(v >> 32));
        };
        auto name16 = [&](const char* n) {
            // Sixteen bytes, NUL-padded; a name of sixteen characters has no terminator.
            char field[16] = {};
            std::memcpy(field, n, std::min(std::strlen(n), sizeof field));
            b.insert(b.end(), field, field + 16);
        };
        for (uint32_t v : {0xfeedfacfu, 0x01000007u, 3u, 6u, 2u, 72u + 80u + 24u, 0u, 0u}) u32(v);
        u32(0x19);  // LC_SEGMENT_64 __TEXT, one section
        u32(72 + 80);
        name16("__TEXT");
        for (uint64_t v : {0ull, 0x1000ull, 0ull, 0x1000ull}) u64(v);
        for (uint32_t v : {5u, 5u, 1u, 0u}) u32(v);
        name16("__objc_methname");
        name16("__TEXT");
        u64(0x200);
        u64(0x40);
        for (int i = 0; i < 8; ++i) u32(0);
        u32(0x1b);  // LC_UUID
        u32(24);
        b.insert(b.end(), kUuid, kUuid + 16);
        std::memcpy(page, b.data(), b.size());
        const char names[] = "doSomething:\0other";
        std::memcpy(page + 0x200, names, sizeof names);
        const char malformed[] = "se\xffl:";  // not UTF-8
        std::memcpy(page + 0x220, malformed, sizeof malformed);
        std::memset(page + 0x230, 'x', 0x10);  // a name that runs to the section's end without a NUL
    }
    ~MethodNameImage() { munmap(page, 0x1000); }
    uint64_t header() const { return reinterpret_cast<uint64_t>(page); }
};

std::shared_ptr<const ZVCrashReport> selectorReport(uint64_t rsi, const std::string& uuid) {
    return reportFrom("system_info { operating_system: IPHONE_OS os_version: \"12\" architecture: X86_64 "
                      "timestamp: 1 }\n"
                      "application_info { identifier: \"a\" version: \"1\" }\n"
                      "threads { thread_number: 0 crashed: true frames { pc: 1048576 } "
                      "registers { name: \"rdx\" value: 7 } registers { name: \"rsi\" value: " +
                      std::to_string(rsi) +
                      " } }\n"
                      "binary_images { base_address: 1048576 size: 4096 name: \"/App/Hx\" uuid: \"" +
                      uuid +
                      "\" }\n"
                      "signal { name: \"SIGSEGV\" code: \"SEGV_MAPERR\" address: 0 }\n");
}

TEST(ErrorLogFormatterSelector, ReadsTheSelectorFromTheSameImageLoadedNow) {
    MethodNameImage image;
    const std::string uuid = "\\000\\021\\\"3DUfw\\210\\231\\252\\273\\314\\335\\356\\377";
    const std::string other = "\\001\\021\\\"3DUfw\\210\\231\\252\\273\\314\\335\\356\\377";
    const uint64_t base = 1048576;
    struct Case {
        const char* what;
        uint64_t rsi;
        std::string uuid;
        std::string loadedPath;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"at a name", base + 0x200, uuid, "/App/Hx", "doSomething:"},
        {"inside the section, at the second name", base + 0x20D, uuid, "/App/Hx", "other"},
        {"a name without its NUL in the section", base + 0x230, uuid, "/App/Hx", std::nullopt},
        {"a name that is not UTF-8", base + 0x220, uuid, "/App/Hx", std::nullopt},
        {"outside the section", base + 0x100, uuid, "/App/Hx", std::nullopt},
        {"another build of the image", base + 0x200, other, "/App/Hx", std::nullopt},
        {"another path", base + 0x200, uuid, "/App/Other", std::nullopt},
        {"in no image of the report", 0x5000, uuid, "/App/Hx", std::nullopt},
        {"zero", 0, uuid, "/App/Hx", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = selectorReport(c.rsi, c.uuid);
        ASSERT_TRUE(r);
        const std::vector<kernel::LoadedImage> loaded = {{0x1000, "/App/Hx.elf"}, {image.header(), c.loadedPath}};
        const auto* crashed = ZIVOErrorLogFormatter::findCrashedThreadInReport(*r);
        ASSERT_NE(crashed, nullptr);
        EXPECT_EQ(ZIVOErrorLogFormatter::selectorRegisterValueFromReport(
                      *r, crashed, static_cast<uint64_t>(kernel::CPU_TYPE_X86_64), &loaded),
                  c.expected);
    }
    // Other processor types read other registers: arm64's x1 is absent here.
    auto r = selectorReport(base + 0x200, uuid);
    const std::vector<kernel::LoadedImage> loaded = {{image.header(), "/App/Hx"}};
    EXPECT_EQ(
        ZIVOErrorLogFormatter::selectorRegisterValueFromReport(*r, ZIVOErrorLogFormatter::findCrashedThreadInReport(*r),
                                                               static_cast<uint64_t>(kernel::CPU_TYPE_ARM64), &loaded),
        std::nullopt);
}

}  // namespace
