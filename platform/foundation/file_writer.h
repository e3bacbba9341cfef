// Files written so that no reader ever takes a part for the whole, and files moved out of the way
// without losing one kept earlier (files.h has the rest of the file operations).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/files.h"

namespace foundation::files {

// A file written piece by piece as writeAtomically writes it whole: into a locked temporary
// beside its path, moved into place by commit() (after an fsync), so readers see the old contents
// or all of the new, never a part. A writer dropped or discarded before commit() removes its
// temporary. The first failed write is kept: later writes and commit() answer it.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter& operator=(AtomicFileWriter&& other) noexcept;

    Status open(const std::filesystem::path& path, mode_t permissions = 0644);
    Status write(const void* bytes, size_t length);
    Status commit(WriteMode mode = WriteMode::Overwrite);
    void discard();
    bool isOpen() const { return fd_ >= 0; }
    const std::filesystem::path& path() const { return path_; }
    uint64_t written() const { return written_; }

private:
    std::filesystem::path path_, temp_;
    int fd_ = -1;
    uint64_t written_ = 0;
    int error_ = 0;
};

// Moves a file that cannot be read (damaged bytes, a directory in its place) out of its owner's
// way with its companions (a database's "-journal", "-wal", "-shm"), kept for inspection: to the
// first of path + ".unreadable", ".unreadable-2", ... that is free for the file and for each
// companion suffix. Nothing set aside before is replaced (where files::setAside replaces an
// earlier file). The entry becomes private to the owner. Answers where the file went.
Result<std::filesystem::path> setAsideKeepingEarlier(const std::filesystem::path& path,
                                                     std::span<const std::string_view> companionSuffixes = {});

}  // namespace foundation::files
