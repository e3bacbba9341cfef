#include <gtest/gtest.h>

#include "crashreporter/crash_report.h"
#include "crashreporter/host_info.h"
#include "platform/foundation/files.h"
#include "tests/crashreporter/report_test_support.h"
#include "tests/support/test_support.h"

namespace {

const char* kSystem =
    "system_info { operating_system: IPHONE_OS os_version: \"16.1\" architecture: X86_64 timestamp: 1700000000 }\n";
const char* kApp = "application_info { identifier: \"com.example\" version: \"3\" }\n";
const char* kThread =
    "threads { thread_number: 0 crashed: true frames { pc: 4096 } registers { name: \"rip\" value: 4096 } }\n";
const char* kImage = "binary_images { base_address: 4096 size: 256 name: \"/bin/app\" uuid: \"\\x0a\\xbc\" }\n";
const char* kSignal = "signal { name: \"SIGSEGV\" code: \"SEGV_MAPERR\" address: 0 }\n";

foundation::Result<std::shared_ptr<const ZVCrashReport>> decode(const std::string& text, bool loose = false) {
    auto body = crashtest::protocEncode(text, loose);
    EXPECT_FALSE(body.empty()) << "protoc could not encode:\n" << text;
    return ZVCrashReport::initWithData(crashtest::withReportHeader(body));
}

std::string failure(const std::string& text, bool loose = false) {
    auto result = decode(text, loose);
    if (result.ok()) return "decoded";
    EXPECT_EQ(result.error().domain, ZVCrashReporterErrorDomain);
    EXPECT_EQ(result.error().code, 2);
    return result.error().localizedDescription();
}

std::string base() { return std::string(kSystem) + kApp + kThread + kImage + kSignal; }

TEST(ReportReader, DecodesAReportMadeByProtoc) {
    auto result =
        decode(base() + "process_info { process_name: \"app\" process_id: 12 parent_process_id: 1 native: true "
                        "start_time: 1600000000 }\n"
                        "report_info { user_requested: false uuid: \"0123456789abcdef\" }\ncustom_data: \"xyz\"\n");
    ASSERT_TRUE(result.ok()) << result.error().description();
    const auto& r = *result.value();
    EXPECT_EQ(r.systemInfo().operatingSystem, 1u);
    EXPECT_EQ(r.systemInfo().operatingSystemVersion, "16.1");
    EXPECT_FALSE(r.systemInfo().operatingSystemBuild.has_value());
    ASSERT_TRUE(r.systemInfo().timestamp.has_value());
    EXPECT_EQ(r.systemInfo().timestamp->secondsSince1970, 1700000000);
    // No machine info: the processor comes from the architecture.
    EXPECT_FALSE(r.hasMachineInfo());
    ASSERT_TRUE(r.systemInfo().processorInfo);
    EXPECT_EQ(r.systemInfo().processorInfo->type, 0x1000007u);
    EXPECT_EQ(r.systemInfo().processorInfo->subtype, 3u);
    EXPECT_EQ(r.systemInfo().processorInfo->typeEncoding, 1u);
    EXPECT_EQ(r.applicationInfo().applicationIdentifier, "com.example");
    EXPECT_FALSE(r.applicationInfo().applicationMarketingVersion.has_value());
    ASSERT_TRUE(r.hasProcessInfo());
    EXPECT_EQ(r.processInfo()->processName, "app");
    EXPECT_FALSE(r.processInfo()->processPath.has_value());
    EXPECT_EQ(r.processInfo()->processStartTime->secondsSince1970, 1600000000);
    EXPECT_EQ(r.signalInfo().name, "SIGSEGV");
    EXPECT_EQ(r.machExceptionInfo(), nullptr);
    ASSERT_EQ(r.threads().size(), 1u);
    EXPECT_TRUE(r.threads()[0].crashed);
    EXPECT_EQ(r.threads()[0].registers[0].registerName, "rip");
    ASSERT_EQ(r.images().size(), 1u);
    EXPECT_EQ(r.images()[0].imageUUID, "0abc");
    EXPECT_TRUE(r.images()[0].hasImageUUID);
    EXPECT_EQ(r.images()[0].codeType, nullptr);
    EXPECT_EQ(r.uuidRef(),
              std::vector<uint8_t>({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'}));
    EXPECT_EQ(r.customData(), std::vector<uint8_t>({'x', 'y', 'z'}));
    EXPECT_FALSE(r.hasExceptionInfo());
    // The end of an image is exclusive.
    EXPECT_NE(r.imageForAddress(4096), nullptr);
    EXPECT_NE(r.imageForAddress(4096 + 255), nullptr);
    EXPECT_EQ(r.imageForAddress(4096 + 256), nullptr);
    EXPECT_EQ(r.imageForAddress(4095), nullptr);
}

TEST(ReportReader, HeaderChecks) {
    auto body = crashtest::protocEncode(base());
    ASSERT_FALSE(body.empty());
    auto error = [](const std::vector<uint8_t>& bytes) {
        auto r = ZVCrashReport::initWithData(bytes);
        return r.ok() ? std::string("decoded") : r.error().localizedDescription();
    };
    EXPECT_EQ(error({'z', 'v', 'c', 'r', 'a', 's', 'h', 1}), "Could not decode truncated crash log");
    EXPECT_EQ(error({}), "Could not decode truncated crash log");
    auto bad = crashtest::withReportHeader(body);
    bad[6] = 'x';
    EXPECT_EQ(error(bad), "Could not decode invalid crash log header");
    bad = crashtest::withReportHeader(body);
    bad[0] = 'Z';
    EXPECT_EQ(error(bad), "Could not decode invalid crash log header");
    EXPECT_EQ(error(crashtest::withReportHeader(body, 2)), "Could not decode unsupported crash report version: 2");
    EXPECT_EQ(error(crashtest::withReportHeader({0xFF, 0xFF, 0xFF})),
              "An unknown error occured decoding the crash report");
    EXPECT_EQ(error(crashtest::withReportHeader(body)), "decoded");
}

TEST(ReportReader, MissingSectionsAndFields) {
    // A missing required field fails inside the decoder itself.
    EXPECT_EQ(failure(std::string(kApp) + kThread + kImage + kSignal, true),
              "An unknown error occured decoding the crash report");
    EXPECT_EQ(failure(std::string(kSystem) + kApp + kImage + kSignal),
              "Crash report is missing thread state information");
    EXPECT_EQ(failure(std::string(kSystem) + kApp + kThread + kSignal),
              "Crash report is missing binary image information");
    EXPECT_EQ(failure(base() + "report_info { user_requested: true uuid: \"0123456789abcde\" }"),
              "Report UUID value is not a standard 16 bytes");
    EXPECT_EQ(failure(std::string("system_info { os_version: \"1\" architecture: ARCHITECTURE_UNKNOWN timestamp: 0 }") +
                      kApp + kThread + kImage + kSignal),
              "Crash report has an unknown architecture");
    // With machine info, the processor comes from there and any architecture is fine.
    auto r =
        decode(std::string("system_info { os_version: \"1\" architecture: ARCHITECTURE_UNKNOWN timestamp: 0 }") + kApp +
               kThread + kImage + kSignal +
               "machine_info { processor { encoding: TYPE_ENCODING_MACH type: 16777228 subtype: 0 } processor_count: 4 "
               "logical_processor_count: 8 }");
    ASSERT_TRUE(r.ok()) << r.error().description();
    EXPECT_EQ(r.value()->systemInfo().processorInfo->type, 16777228u);
    EXPECT_FALSE(r.value()->systemInfo().timestamp.has_value());  // 0 means unknown
    EXPECT_FALSE(r.value()->uuidRef().has_value());
    EXPECT_EQ(r.value()->machineInfo()->logicalProcessorCount, 8u);
    EXPECT_EQ(failure(std::string(kSystem) + kApp + kThread + kImage + kSignal + "exception { name: \"E\" }", true),
              "An unknown error occured decoding the crash report");
    auto e = decode(base() + "exception { name: \"E\" reason: \"R\" }");
    ASSERT_TRUE(e.ok());
    EXPECT_FALSE(e.value()->exceptionInfo()->stackFrames.has_value());
}

// A stored file can hold any varint in an enumeration field, negative ones too (the fuzz corpus's
// full report with one field changed): each reads as the enumeration's unknown value.
TEST(ReportReader, EnumerationValuesOutsideTheSchemaReadAsUnknown) {
    struct Row {
        const char* file;
        uint32_t operatingSystem, architecture, typeEncoding;
    };
    for (const Row& row : {Row{"full_report", 1, 1, 0}, Row{"negative_architecture", 1, 6, 0},
                           Row{"negative_operating_system", 3, 1, 0}, Row{"negative_type_encoding", 1, 1, 0}}) {
        SCOPED_TRACE(row.file);
        auto bytes = foundation::files::readData(hxtest::sourceDir() / "fuzz/corpus/crash_report_reader" / row.file);
        ASSERT_TRUE(bytes.ok());
        auto result = ZVCrashReport::initWithData(bytes.value());
        ASSERT_TRUE(result.ok()) << result.error().description();
        const auto& system = result.value()->systemInfo();
        EXPECT_EQ(system.operatingSystem, row.operatingSystem);
        EXPECT_EQ(system.architecture, row.architecture);
        ASSERT_TRUE(result.value()->machineInfo());
        EXPECT_EQ(result.value()->machineInfo()->processorInfo->typeEncoding, row.typeEncoding);
    }
}

TEST(ReportReader, Arm64eAddressesLosePointerAuthenticationBits) {
    const std::string frames = "threads { thread_number: 0 crashed: true frames { pc: 0x8a1b000123456789 } }\n";
    const std::string rest = std::string(kSystem) + kApp + frames + kImage + kSignal;
    auto arm64e = decode(
        rest +
        "machine_info { processor { type: 0x100000C subtype: 2 } processor_count: 1 logical_processor_count: 1 }");
    ASSERT_TRUE(arm64e.ok());
    EXPECT_EQ(arm64e.value()->threads()[0].stackFrames[0].instructionPointer, 0x123456789u);
    auto arm64 = decode(
        rest +
        "machine_info { processor { type: 0x100000C subtype: 0 } processor_count: 1 logical_processor_count: 1 }");
    ASSERT_TRUE(arm64.ok());
    EXPECT_EQ(arm64.value()->threads()[0].stackFrames[0].instructionPointer, 0x8a1b000123456789u);
}

TEST(ReportReader, MachCodesUpTo255) {
    auto signalWith = [](int count) {
        std::string s = "signal { name: \"SIGBUS\" code: \"BUS_ADRERR\" address: 8 mach_exception { type: 1";
        for (int i = 0; i < count; ++i) s += " codes: " + std::to_string(i);
        return s + " } }\n";
    };
    const std::string rest = std::string(kSystem) + kApp + kThread + kImage;
    auto ok = decode(rest + signalWith(255));
    ASSERT_TRUE(ok.ok());
    ASSERT_NE(ok.value()->machExceptionInfo(), nullptr);
    EXPECT_EQ(ok.value()->machExceptionInfo()->codes.size(), 255u);
    EXPECT_EQ(failure(rest + signalWith(256)), "Crash report includes too many Mach Exception codes");
}

// Malformed bytes in a required text field read as U+FFFD, one per byte that starts no well-formed
// sequence; well-formed text, multi-byte characters included, is kept byte for byte.
TEST(ReportReader, RequiredTextThatIsNotUtf8KeepsItsPlace) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        const char* stored;  // text-format escapes
        std::string read;
    } cases[] = {
        {"SE\\xb2GV", "SE" + fffd + "GV"},
        {"\\xff\\xfe", fffd + fffd},
        {"x\\xe2\\x82", "x" + fffd + fffd},                   // cut short at the end
        {"\\xc0\\xafx", fffd + fffd + "x"},                   // overlong "/"
        {"\\xed\\xa0\\x80", fffd + fffd + fffd},              // a UTF-16 surrogate
        {"\\xf4\\x90\\x80\\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"caf\\xc3\\xa9 \\xf0\\x9f\\x92\\xa5", "caf\xC3\xA9 \xF0\x9F\x92\xA5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        auto r = decode(std::string(kSystem) + kApp + kThread + kImage + "signal { name: \"SIGSEGV\" code: \"" +
                        c.stored + "\" address: 0 }\n");
        ASSERT_TRUE(r.ok()) << r.error().description();
        EXPECT_EQ(r.value()->signalInfo().code, c.read);
    }

    auto r = decode(
        "system_info { os_version: \"1\\xff\" architecture: X86_64 timestamp: 1 }\n"
        "application_info { identifier: \"com.\\xff\" version: \"\\xff3\" }\n"
        "threads { thread_number: 0 crashed: true frames { pc: 4096 symbol { name: \"_m\\xff\" start_address: 4090 } }"
        " registers { name: \"r\\xffip\" value: 4096 } }\n"
        "binary_images { base_address: 4096 size: 256 name: \"/bin/\\xff\" }\n"
        "signal { name: \"SIG\\xff\" code: \"\\xff\" address: 0 }\n"
        "exception { name: \"std::\\xff\" reason: \"boom\\xff\" frames { pc: 4096 symbol { name: \"\\xff\" "
        "start_address: 1 } } }\n");
    ASSERT_TRUE(r.ok()) << r.error().description();
    const auto& report = *r.value();
    EXPECT_EQ(report.systemInfo().operatingSystemVersion, "1" + fffd);
    EXPECT_EQ(report.applicationInfo().applicationIdentifier, "com." + fffd);
    EXPECT_EQ(report.applicationInfo().applicationVersion, fffd + "3");
    EXPECT_EQ(report.threads()[0].stackFrames[0].symbolInfo->symbolName, "_m" + fffd);
    EXPECT_EQ(report.threads()[0].registers[0].registerName, "r" + fffd + "ip");
    EXPECT_EQ(report.images()[0].imageName, "/bin/" + fffd);
    EXPECT_EQ(report.signalInfo().name, "SIG" + fffd);
    EXPECT_EQ(report.exceptionInfo()->exceptionName, "std::" + fffd);
    EXPECT_EQ(report.exceptionInfo()->exceptionReason, "boom" + fffd);
    EXPECT_EQ((*report.exceptionInfo()->stackFrames)[0].symbolInfo->symbolName, fffd);
}

// Optional text that is not UTF-8 reads as absent; its well-formed neighbours are unaffected.
TEST(ReportReader, OptionalTextThatIsNotUtf8IsAbsent) {
    auto r = decode(
        "system_info { os_version: \"1\" os_build: \"16\\xc3G\" architecture: X86_64 timestamp: 1 }\n"
        "application_info { identifier: \"i\" version: \"3\" marketing_version: \"1.\\x80\" }\n"
        "machine_info { model: \"Phone\\xfe\" processor { type: 7 subtype: 3 } processor_count: 1 "
        "logical_processor_count: 1 }\n"
        "process_info { process_name: \"a\\xffpp\" process_path: \"/bin/\\xe2\\x82\" parent_process_name: \"init\" "
        "process_id: 9 parent_process_id: 1 native: true }\n" +
        std::string(kThread) + kImage + kSignal);
    ASSERT_TRUE(r.ok()) << r.error().description();
    const auto& report = *r.value();
    EXPECT_FALSE(report.systemInfo().operatingSystemBuild.has_value());
    EXPECT_FALSE(report.applicationInfo().applicationMarketingVersion.has_value());
    EXPECT_FALSE(report.machineInfo()->modelName.has_value());
    EXPECT_FALSE(report.processInfo()->processName.has_value());
    EXPECT_FALSE(report.processInfo()->processPath.has_value());
    EXPECT_EQ(report.processInfo()->parentProcessName, "init");
    EXPECT_EQ(report.processInfo()->processID, 9u);
}

}  // namespace
