#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/thread.h"

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"

foundation::Dictionary ZIVOThread::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetNumber(dict, "id", threadId_);
    zivoSetIfPresent(dict, "name", name_);
    if (frames_) dict.set("frames", zivoSerializeList(*frames_));
    if (exception_) dict.set("exception", exception_->serializeToDictionary());
    return dict;
}

bool ZIVOThread::isValid() const {
    if (!threadId_) {
        zivoLogInvalidField(className(), "threadId");
        return false;
    }
    if (!frames_ || frames_->empty()) {
        zivoLogInvalidField(className(), "frames");
        return false;
    }
    return true;
}

bool ZIVOThread::isEqual(const ZIVOSerializableObject& other) const {
    const auto* thread = dynamic_cast<const ZIVOThread*>(&other);
    return thread && threadId_ == thread->threadId_ && name_ == thread->name_ &&
           zivoListsEqual(frames_, thread->frames_) && zivoObjectEquals(exception_, thread->exception_);
}

void ZIVOThread::encode(foundation::Coder& coder) const {
    zivoEncodeNumber(coder, "id", threadId_);
    zivoEncodeIfPresent(coder, "name", name_);
    if (frames_) coder.encodeArray("frames", *frames_);
    if (exception_) coder.encodeObject("exception", std::shared_ptr<const foundation::Archivable>(exception_));
}

std::shared_ptr<ZIVOThread> ZIVOThread::decode(foundation::Decoder& decoder) {
    auto thread = std::make_shared<ZIVOThread>();
    thread->threadId_ = zivoDecodeNumber<int64_t>(decoder, "id");
    thread->name_ = decoder.decodeString("name");
    thread->frames_ = decoder.decodeArray<ZIVOStackFrame>("frames");
    thread->exception_ = decoder.decodeObject<ZIVOExceptionModel>("exception");
    return thread;
}

std::string ZIVOThread::description() const { return zivoPrintedDictionary(serializeToDictionary()); }
