// One thread of a crashed process: its number, name, frames (innermost first) and, on the
// crashed thread, the exception that ended the process.
#pragma once

#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"

class ZIVOThread : public ZIVOSerializableObject {
public:
    using Frames = ZIVOExceptionModel::Frames;

    ZIVOThread() : frames_(Frames{}) {}

    std::string className() const override { return "ZIVOThread"; }
    foundation::Dictionary serializeToDictionary() const override;
    // threadId present, then at least one frame.
    bool isValid() const;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    // Decoding does not run the constructor's defaults: an archive without "frames" gives none.
    static std::shared_ptr<ZIVOThread> decode(foundation::Decoder& decoder);
    std::string description() const;

    const std::optional<int64_t>& threadId() const { return threadId_; }
    void setThreadId(std::optional<int64_t> value) { threadId_ = value; }
    ZIVO_TEXT_PROPERTY(name, Name)

public:
    const std::optional<Frames>& frames() const { return frames_; }
    std::optional<Frames>& mutableFrames() { return frames_; }
    void setFrames(std::optional<Frames> value) { frames_ = std::move(value); }
    const std::shared_ptr<ZIVOExceptionModel>& exception() const { return exception_; }
    void setException(std::shared_ptr<ZIVOExceptionModel> value) { exception_ = std::move(value); }

private:
    std::optional<int64_t> threadId_;
    std::optional<Frames> frames_;
    std::shared_ptr<ZIVOExceptionModel> exception_;
};
