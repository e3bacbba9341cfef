#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_buffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/apple_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"
#include "platform/foundation/strings.h"

namespace fs = std::filesystem;

namespace {

using Record = ZIVOCrashesBufferedLog;

// The slots hold immutable records. Writers (under gSlotsMutex) publish a new record and free the
// old one; the crash-time writer reads without the lock. It sets the crash-time flag before its
// first read, and a writer that sees the flag set keeps the old record alive instead of freeing
// it, so the crash-time writer never reads freed memory even when a thread it could not stop goes
// on logging. (All three accesses are sequentially consistent: a writer that sees the flag clear
// swapped its record out before the crash-time writer looked.)
std::array<std::atomic<const Record*>, kZIVOCrashesLogBufferSize> gSlots{};
std::atomic<bool> gCrashTimeFlag{false};
std::mutex gSlotsMutex;
// Records replaced after the crash-time writer ran; kept reachable until the process ends.
std::vector<const Record*>* gRetired = nullptr;  // guarded by gSlotsMutex

static_assert(std::atomic<const Record*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

// Called with gSlotsMutex held.
void publish(size_t index, std::unique_ptr<Record> record) {
    const Record* old = gSlots[index].exchange(record.release());
    if (!old) return;
    if (!gCrashTimeFlag.load()) {
        delete old;
        return;
    }
    if (!gRetired) gRetired = new std::vector<const Record*>();
    gRetired->push_back(old);
}

std::unique_ptr<Record> freeRecordLike(const Record& paths) {
    auto record = std::make_unique<Record>();
    record->bufferPath = paths.bufferPath;
    record->targetTokenPath = paths.targetTokenPath;
    return record;
}

// Only the extension changes, so a directory whose name happens to contain the extension's text
// still gives the token file beside its buffer file.
fs::path targetTokenPathFor(const fs::path& bufferPath) {
    fs::path tokenPath = bufferPath;
    tokenPath.replace_extension(kZIVOCrashesTargetTokenFileExtension);
    return tokenPath;
}

bool hasBufferExtension(const fs::path& path) {
    return path.extension() == std::string(".") + kZIVOCrashesBufferFileExtension;
}

std::optional<std::string> readFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string orNull(const std::optional<std::string>& text) { return text.value_or("(null)"); }

// Slot files in slot order (the listing's own order is arbitrary), anything else after them.
void sortBySlot(std::vector<fs::path>& entries) {
    auto key = [](const fs::path& p) -> std::pair<int, std::string> {
        const std::string stem = p.stem().string();
        if (!stem.empty() && stem.size() < 4 &&
            std::all_of(stem.begin(), stem.end(), [](unsigned char c) { return c >= '0' && c <= '9'; }))
            return {std::stoi(stem), p.filename().string()};
        return {INT32_MAX, p.filename().string()};
    };
    std::sort(entries.begin(), entries.end(), [&](const fs::path& a, const fs::path& b) { return key(a) < key(b); });
}

void writeWhole(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    // A short write is not retried: there is no time for it at a crash.
    (void)!::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}

}  // namespace

void crashesPostCrashCallback(siginfo_t*, ucontext_t*, void*) {
    gCrashTimeFlag.store(true);
    for (const auto& slot : gSlots) {
        const Record* record = slot.load();
        if (!record) continue;  // set-up never ran: no path to write to
        writeWhole(record->bufferPath, record->buffer);
        if (!record->targetToken.empty()) writeWhole(record->targetTokenPath, record->targetToken);
    }
}

ZIVOCrashesLogBuffer::ZIVOCrashesLogBuffer(std::string logBufferPathComponent)
    : logBufferPathComponent_(std::move(logBufferPathComponent)),
      bufferFileQueue_(dispatch::Queue::concurrent("com.dorazadav.ruridurev.crashes.bufferFileQueue",
                                                   dispatch::Queue::global(dispatch::Priority::High))) {}

ZIVOChannelUnitConfiguration ZIVOCrashesLogBuffer::bufferChannelUnitConfiguration() {
    ZIVOChannelUnitConfiguration configuration;
    configuration.groupId = "CrashesBuffer";
    configuration.priority = 2;
    configuration.flushInterval = 1;
    configuration.batchSizeLimit = 50;
    configuration.pendingBatchesLimit = 1;
    return configuration;
}

void ZIVOCrashesLogBuffer::setupLogBuffer() {
    std::lock_guard lock(gSlotsMutex);
    for (size_t i = 0; i < kZIVOCrashesLogBufferSize; ++i) {
        const std::string component =
            logBufferPathComponent_ + "/" + std::to_string(i) + "." + kZIVOCrashesBufferFileExtension;
        const fs::path url = *ZIVOUtility::fullURLForPathComponent(component);
        // Never overwrites: a file the last crash wrote keeps its logs for the re-sending.
        bufferFileQueue_->async(
            [component] { ZIVOUtility::createFileAtPathComponent(component, std::nullopt, false, false); });
        auto record = std::make_unique<Record>();
        record->bufferPath = url.string();
        record->targetTokenPath = targetTokenPathFor(url).string();
        publish(i, std::move(record));
    }
}

void ZIVOCrashesLogBuffer::channelDidPrepareLog(const std::shared_ptr<ZIVOAbstractLog>& log,
                                                const std::string& internalId, bool serviceEnabled) {
    if (!log || !serviceEnabled) return;
    if (dynamic_cast<const ZIVOAppleErrorLog*>(log.get()) || dynamic_cast<const ZIVOErrorAttachmentLog*>(log.get()))
        return;
    std::lock_guard lock(gSlotsMutex);
    auto archive = ZIVOUtility::archiveKeyedData(log);
    if (!archive || archive->empty()) return;
    std::string targetToken;
    if (auto tokens = log->transmissionTargetTokens(); tokens && !tokens->empty())
        targetToken = targetTokenEncrypter_.encryptString(*tokens->begin()).value_or("");
    const std::string sid = orNull(log->sid()), type = orNull(log->type());
    ZIVOLogVerbose(kZIVOCrashesLogTag, "Storing a log to Crashes Buffer: (sid: " + sid + ", type: " + type + ")");

    auto filled = [&](const Record& paths) {
        auto record = freeRecordLike(paths);
        record->buffer.assign(archive->begin(), archive->end());
        record->targetToken = targetToken;
        record->internalId = internalId;
        record->timestamp = dispatch::wallNow();
        return record;
    };
    double oldestTimestamp = DBL_MAX;
    std::optional<size_t> oldestIndex;
    for (size_t i = 0; i < kZIVOCrashesLogBufferSize; ++i) {
        const Record* current = gSlots[i].load();
        if (!current) continue;
        if (current->buffer.empty()) {
            publish(i, filled(*current));
            ZIVOLogVerbose(kZIVOCrashesLogTag, std::string("Found an empty buffer position."));
            return;
        }
        if (current->timestamp < oldestTimestamp || !oldestIndex) {
            oldestTimestamp = current->timestamp;
            oldestIndex = i;
            char text[96];
            std::snprintf(text, sizeof text, "Remembering index %zu for oldest timestamp %f.", i, oldestTimestamp);
            ZIVOLogVerbose(kZIVOCrashesLogTag, std::string(text));
        }
    }
    if (!oldestIndex) return;  // set-up never ran
    ZIVOLogVerbose(kZIVOCrashesLogTag, std::string("Reached end of buffer. Next step is overwriting the oldest one."));
    publish(*oldestIndex, filled(*gSlots[*oldestIndex].load()));
    const size_t index = *oldestIndex;
    ZIVOLogVerbose(kZIVOCrashesLogTag, "Overwrote buffered log at index " + std::to_string(index) + ".");
}

void ZIVOCrashesLogBuffer::channelDidCompleteEnqueueingLog(const std::shared_ptr<ZIVOAbstractLog>& log,
                                                           const std::string& internalId) {
    if (internalId.empty()) return;
    std::lock_guard lock(gSlotsMutex);
    for (size_t i = 0; i < kZIVOCrashesLogBufferSize; ++i) {
        const Record* current = gSlots[i].load();
        if (!current || current->internalId != internalId) continue;
        ZIVOLogVerbose(kZIVOCrashesLogTag, "Deleting a log from buffer with id " + internalId);
        const std::string bufferPath = current->bufferPath;
        publish(i, freeRecordLike(*current));
        if (gCrashTimeFlag.load()) {
            ::unlink(bufferPath.c_str());
            const std::string sid = log ? orNull(log->sid()) : "(null)";
            const std::string type = log ? orNull(log->type()) : "(null)";
            ZIVOLogVerbose(kZIVOCrashesLogTag,
                           "Deleted a log from Crashes Buffer (sid: " + sid + ", type: " + type + ")");
            ZIVOLogVerbose(kZIVOCrashesLogTag, "Deleted crash buffer file: " + bufferPath + ".");
        }
    }
}

std::shared_ptr<ZIVOChannelUnitProtocol> ZIVOCrashesLogBuffer::bufferChannelUnit() const {
    std::lock_guard lock(unitMutex_);
    return bufferChannelUnit_;
}

void ZIVOCrashesLogBuffer::processLogBufferAfterCrash(ZIVOChannelGroupProtocol& channelGroup) {
    std::shared_ptr<ZIVOChannelUnitProtocol> unit;
    {
        std::lock_guard lock(unitMutex_);
        // One unit per service object: a second call (a configuration update) reuses it rather
        // than adding a twin that would flush the same stored logs.
        if (!bufferChannelUnit_)
            bufferChannelUnit_ = channelGroup.addChannelUnitWithConfiguration(bufferChannelUnitConfiguration());
        unit = bufferChannelUnit_;
    }
    auto entries = ZIVOUtility::contentsOfDirectory(logBufferPathComponent_);
    if (!entries) return;
    sortBySlot(*entries);
    for (const auto& entry : *entries) {
        if (!hasBufferExtension(entry)) continue;
        auto bytes = readFile(entry);
        if (bytes && !bytes->empty()) {
            auto log =
                ZIVOUtility::unarchiveKeyedObject<ZIVOAbstractLog>(foundation::Data(bytes->begin(), bytes->end()));
            if (!log) {
                // Left as it is: a later crash rewrites it, disabling empties it.
                ZIVOLogError(kZIVOLogTag, std::string("Deserialization failed for log: The log deserialized to NULL."));
                continue;
            }
            const fs::path tokenPath = targetTokenPathFor(entry);
            if (auto tokenText = readFile(tokenPath)) {
                if (foundation::isValidUtf8(*tokenText)) {
                    if (auto token = targetTokenEncrypter_.decryptString(*tokenText))
                        log->addTransmissionTargetToken(*token);
                    else
                        ZIVOLogError(kZIVOLogTag, std::string("Failed to decrypt the target token."));
                }
                // Gone with its log even when unreadable, so that it cannot attach itself to a
                // later log of the same slot.
                ZIVOUtility::deleteFileAtURL(tokenPath);
            }
            const std::string type = orNull(log->type());
            ZIVOLogDebug(kZIVOCrashesLogTag, "Re-enqueueing buffered log, type: " + type + ".");
            if (unit) unit->enqueueItem(log, 1);
        }
        ZIVOUtility::createFileAtPath(entry, foundation::Data{});
    }
}

void ZIVOCrashesLogBuffer::emptyLogBufferFiles() {
    auto entries = ZIVOUtility::contentsOfDirectory(logBufferPathComponent_);
    if (!entries) {
        const std::string component = logBufferPathComponent_;
        ZIVOLogError(kZIVOCrashesLogTag, "Couldn't get files in the directory \"" + component + "\"");
        return;
    }
    for (const auto& entry : *entries) {
        if (!hasBufferExtension(entry)) continue;
        std::error_code ec;
        const auto size = fs::file_size(entry, ec);
        // Sizes are read whole: a file of 4 GiB or more is not mistaken for an empty one.
        if (ec || size == 0) continue;
        ZIVOUtility::createFileAtPathComponent(logBufferPathComponent_ + "/" + entry.filename().string(), std::nullopt,
                                               false, true);
    }
}

ZIVOCrashesBufferedLog ZIVOCrashesLogBuffer::slot(size_t index) {
    std::lock_guard lock(gSlotsMutex);
    if (index >= kZIVOCrashesLogBufferSize) return {};
    const Record* record = gSlots[index].load();
    return record ? *record : Record{};
}

bool ZIVOCrashesLogBuffer::crashTimeFlag() { return gCrashTimeFlag.load(); }

void ZIVOCrashesLogBuffer::resetForTesting() {
    std::lock_guard lock(gSlotsMutex);
    gCrashTimeFlag.store(false);
    for (size_t i = 0; i < kZIVOCrashesLogBufferSize; ++i)
        if (const Record* current = gSlots[i].load()) publish(i, freeRecordLike(*current));
}
