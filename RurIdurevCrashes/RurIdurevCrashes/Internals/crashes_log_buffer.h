// Keeps a copy of each log that is on its way into the log store, so that a crash before the log
// is stored does not lose it: 60 slots in static storage, written one file per slot at crash time
// and re-enqueued on the "CrashesBuffer" unit at the next launch.
#pragma once

#include <signal.h>
#include <ucontext.h>

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_protocols.h"
#include "RurIdurev/RurIdurev/Internals/Channel/channel_unit_configuration.h"
#include "RurIdurev/RurIdurev/Internals/Util/encrypter.h"
#include "platform/dispatch/dispatch.h"

class ZIVOAbstractLog;

// One slot. Once published a record is never changed: an update publishes a new record, so the
// crash-time writer always reads a whole record, never one half-way through a change.
struct ZIVOCrashesBufferedLog {
    std::string bufferPath;       // fixed at set-up
    std::string buffer;           // the log's keyed archive; empty when the slot is free
    std::string targetTokenPath;  // fixed at set-up
    std::string targetToken;      // the encrypted target token; empty when the log has none
    std::string internalId;       // the channel's id of the log; empty when free
    double timestamp = 0;         // seconds since 1970 when buffered; 0 when free
};

inline constexpr size_t kZIVOCrashesLogBufferSize = 60;
inline constexpr const char* kZIVOCrashesBufferFileExtension = "zvcrasheslogbuffer";
inline constexpr const char* kZIVOCrashesTargetTokenFileExtension = "targettoken";

// The crash-time writer: every slot to its buffer file (a free slot truncates it), and the token
// file of each slot whose log has a token. Only open, write and close on bytes and paths made
// beforehand; no lock, no allocation. Sets the crash-time flag first.
void crashesPostCrashCallback(siginfo_t* info, ucontext_t* uap, void* context);

// The buffer's operations for the crashes service; the slots themselves are shared by every
// instance of the service.
class ZIVOCrashesLogBuffer {
public:
    explicit ZIVOCrashesLogBuffer(std::string logBufferPathComponent);

    // Gives every slot its paths and an empty record, and queues the creation of missing buffer
    // files (an existing file keeps what the last crash wrote into it).
    void setupLogBuffer();
    // Copies a prepared log into the first free slot, or over the oldest one. Crash logs and
    // attachments are never buffered: they have their own way back after a crash.
    void channelDidPrepareLog(const std::shared_ptr<ZIVOAbstractLog>& log, const std::string& internalId,
                              bool serviceEnabled);
    // The log reached the store: its slot is free again (and its file gone once the crash-time
    // writer ran, so that it is not sent twice).
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<ZIVOAbstractLog>& log, const std::string& internalId);
    // Re-enqueues, on the "CrashesBuffer" unit, each log that the last crash wrote into a file.
    void processLogBufferAfterCrash(ZIVOChannelGroupProtocol& channelGroup);
    // Empties the non-empty buffer files; slots and token files stay as they are.
    void emptyLogBufferFiles();

    static ZIVOChannelUnitConfiguration bufferChannelUnitConfiguration();
    std::shared_ptr<ZIVOChannelUnitProtocol> bufferChannelUnit() const;
    // Runs the buffer-file creation of set-up.
    const dispatch::QueuePtr& bufferFileQueue() const { return bufferFileQueue_; }
    const std::string& logBufferPathComponent() const { return logBufferPathComponent_; }

    // A copy of slot i as it stands (an empty record before set-up).
    static ZIVOCrashesBufferedLog slot(size_t index);
    // True once the crash-time writer ran in this process.
    static bool crashTimeFlag();
    // Tests only: frees every slot and clears the crash-time flag.
    static void resetForTesting();

private:
    std::string logBufferPathComponent_;
    dispatch::QueuePtr bufferFileQueue_;
    ZIVOEncrypter targetTokenEncrypter_;
    mutable std::mutex unitMutex_;
    std::shared_ptr<ZIVOChannelUnitProtocol> bufferChannelUnit_;
};
