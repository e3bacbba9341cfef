#include "tests/crashreporter/report_test_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

#include "crashreporter/crash_reporter.h"
#include "tests/support/fault_signals.h"
#include "tests/support/test_support.h"

namespace crashtest {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {

std::filesystem::path protoDir() { return std::filesystem::path(ZVCRASH_PROTO_FILE).parent_path(); }

std::string run(const std::string& command) {
    std::string out;
    hxtest::runCommand(command, &out);
    return out;
}

}  // namespace

std::string protocDecode(const std::vector<uint8_t>& report) {
    hxtest::TempDir dir;
    std::vector<uint8_t> body(report.begin() + (report.size() >= 8 ? 8 : report.size()), report.end());
    writeFile(dir / "body.bin", body);
    return run(std::string(HX_PROTOC) + " --decode=zvcrash.CrashReport -I" + protoDir().string() + " zvcrash.proto < " +
               (dir / "body.bin").string() + " 2>&1");
}

std::string protocDecodeRaw(const std::vector<uint8_t>& body) {
    hxtest::TempDir dir;
    writeFile(dir / "body.bin", body);
    return run(std::string(HX_PROTOC) + " --decode_raw < " + (dir / "body.bin").string() + " 2>&1");
}

std::vector<uint8_t> protocEncode(const std::string& text, bool loose) {
    hxtest::TempDir dir;
    std::string protoPath = protoDir().string();
    if (loose) {
        std::ifstream in(ZVCRASH_PROTO_FILE);
        std::string schema((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t at; (at = schema.find("required ")) != std::string::npos;) schema.replace(at, 9, "optional ");
        std::ofstream(dir / "zvcrash.proto") << schema;
        protoPath = dir.path().string();
    }
    std::ofstream(dir / "report.txt") << text;
    const std::string command = std::string(HX_PROTOC) + " --encode=zvcrash.CrashReport -I" + protoPath +
                                " zvcrash.proto < " + (dir / "report.txt").string() + " > " +
                                (dir / "body.bin").string();
    if (hxtest::runCommand(command) != 0) return {};
    return readFile(dir / "body.bin");
}

int runInChild(const std::function<void()>& body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        hxtest::restoreDefaultFaultActions();
        body();
        // _exit skips exit's handlers, among them the join of the reporter's indexing thread.
        ZVCrashReporter::waitForImageIndexes();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

std::vector<uint8_t> withReportHeader(const std::vector<uint8_t>& body, uint8_t version) {
    static constexpr uint8_t kMagic[] = {'z', 'v', 'c', 'r', 'a', 's', 'h'};
    std::vector<uint8_t> bytes(sizeof kMagic + 1 + body.size());
    std::copy(std::begin(kMagic), std::end(kMagic), bytes.begin());
    bytes[sizeof kMagic] = version;
    std::copy(body.begin(), body.end(), bytes.begin() + sizeof kMagic + 1);
    return bytes;
}

}  // namespace crashtest
