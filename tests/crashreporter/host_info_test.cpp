#include <gtest/gtest.h>
#include <unistd.h>

#include "crashreporter/host_info.h"

namespace {

size_t prefix(const std::vector<uint8_t>& bytes) {
    return zvcrash_sysctl_valid_utf8_bytes_max(bytes.data(), bytes.size());
}

TEST(HostInfo, ReleaseParsing) {
    auto v = ZVCrashHostInfo::parseRelease("22.6.0");
    EXPECT_EQ(v.major, 22u);
    EXPECT_EQ(v.minor, 6u);
    EXPECT_EQ(v.revision, 0u);
    v = ZVCrashHostInfo::parseRelease("22");
    EXPECT_EQ(v.major, 22u);
    EXPECT_EQ(v.minor, 0u);
    v = ZVCrashHostInfo::parseRelease("6.1.0-13-amd64");
    EXPECT_EQ(v.major, 6u);
    EXPECT_EQ(v.minor, 1u);
    auto host = ZVCrashHostInfo::currentHostInfo();
    ASSERT_NE(host, nullptr);
    EXPECT_GE(host->darwinVersion().major, 3u);
}

TEST(HostInfo, ValidUtf8Prefix) {
    EXPECT_EQ(prefix({'a', 'b', 'c', 0, 'd'}), 3u);
    EXPECT_EQ(prefix({0xEF, 0xBB, 0xBF, 'a'}), 4u);  // the byte-order mark stays and counts
    std::vector<uint8_t> cut(15, 'x');
    cut.push_back(0xE2);  // a 3-byte sequence starting at the 16th byte
    EXPECT_EQ(prefix(cut), 15u);
    EXPECT_EQ(prefix({0xFF, 'a'}), 0u);
    EXPECT_EQ(prefix({'a', 0xC3, 0xA9, 'b'}), 4u);
    EXPECT_EQ(prefix({'a', 0xC3, 'b'}), 1u);
    // Overlong forms and surrogates end the prefix: texts made from the name stay valid UTF-8.
    EXPECT_EQ(prefix({'a', 0xC0, 0x80}), 1u);
    EXPECT_EQ(prefix({'a', 0xED, 0xA0, 0x80}), 1u);
    EXPECT_EQ(prefix({'a', 0xF4, 0x90, 0x80, 0x80}), 1u);
    EXPECT_EQ(prefix({'a', 0xF0, 0x9F, 0x98, 0x80}), 5u);
}

TEST(HostInfo, ProcessInfoOfThisProcess) {
    auto info = ZVCrashProcessInfo::currentProcessInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->processID(), getpid());
    EXPECT_EQ(info->parentProcessID(), getppid());
    EXPECT_FALSE(info->isTraced());
    ASSERT_TRUE(info->processName().has_value());
    EXPECT_EQ(*info->processName(), std::string(program_invocation_short_name).substr(0, 15));
    EXPECT_EQ(ZVCrashProcessInfo::initWithProcessID(INT32_MAX), nullptr);
}

TEST(HostInfo, ErrorBuilders) {
    zvcrash_populate_posix_error(nullptr, 2, "ignored");  // no out-parameter: nothing happens
    foundation::Error error;
    zvcrash_populate_posix_error(&error, 13, "Failed to register signal handler");
    EXPECT_EQ(error.domain, "ZVCrashReporterErrorDomain");
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.localizedDescription(), "Failed to register signal handler");
    const auto& underlying = error.userInfo.get(kUnderlyingErrorKey);
    EXPECT_EQ(underlying.asDictionary().get("domain").stringValue(), "NSPOSIXErrorDomain");
    EXPECT_EQ(underlying.asDictionary().get("code").int64Value(), 13);
    zvcrash_populate_error(&error, 2, "plain");
    EXPECT_FALSE(error.userInfo.contains(kUnderlyingErrorKey));
}

}  // namespace
