// Shared by the crash capture tests: files, protoc as an independent decoder, child processes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace crashtest {

std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// `protoc --decode=zvcrash.CrashReport` of a report's body (the bytes after the 8-byte header).
std::string protocDecode(const std::vector<uint8_t>& report);
// `protoc --decode_raw` of raw protobuf bytes.
std::string protocDecodeRaw(const std::vector<uint8_t>& body);
// `protoc --encode=zvcrash.CrashReport` of a text-format report; `loose` uses a copy of the schema
// with every field optional, to build bodies that lack required fields.
std::vector<uint8_t> protocEncode(const std::string& text, bool loose = false);

// A report file: the 8-byte header ("zvcrash" and the format version) followed by the body.
std::vector<uint8_t> withReportHeader(const std::vector<uint8_t>& body, uint8_t version = 1);

// Runs `body` in a forked child, which then ends with status 0, and returns the raw wait status.
int runInChild(const std::function<void()>& body);

}  // namespace crashtest
