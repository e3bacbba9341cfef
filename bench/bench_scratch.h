// A benchmark's scratch folder below the temporary directory, named for the process. Made at
// start-up as a namespace-scope object, it is removed when the process ends, after everything
// made while the benchmarks ran: the user defaults and stores that write their files on the way
// out would otherwise put a folder back after a benchmark removed its own.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace hxbench {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix)
        : path_(std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace hxbench
