#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/uuid.h"

ZIVOErrorAttachmentLog::ZIVOErrorAttachmentLog() {
    setType(std::string("errorAttachment"));
    attachmentId_ = foundation::UUID::random().string();
}

ZIVOErrorAttachmentLog::ZIVOErrorAttachmentLog(std::optional<std::string> filename,
                                               std::optional<foundation::Data> attachmentBinary,
                                               std::optional<std::string> contentType)
    : ZIVOErrorAttachmentLog() {
    filename_ = std::move(filename);
    data_ = std::move(attachmentBinary);
    contentType_ = std::move(contentType);
}

ZIVOErrorAttachmentLog::ZIVOErrorAttachmentLog(std::optional<std::string> filename, const std::string& attachmentText)
    : ZIVOErrorAttachmentLog(std::move(filename), foundation::Data(attachmentText.begin(), attachmentText.end()),
                             std::string("text/plain")) {}

std::shared_ptr<ZIVOErrorAttachmentLog>
ZIVOErrorAttachmentLog::attachmentWithText(const std::string& text, std::optional<std::string> filename) {
    return std::make_shared<ZIVOErrorAttachmentLog>(std::move(filename), text);
}

std::shared_ptr<ZIVOErrorAttachmentLog>
ZIVOErrorAttachmentLog::attachmentWithBinary(foundation::Data data, std::optional<std::string> filename,
                                             std::optional<std::string> contentType) {
    return std::make_shared<ZIVOErrorAttachmentLog>(std::move(filename), std::move(data), std::move(contentType));
}

foundation::Dictionary ZIVOErrorAttachmentLog::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOAbstractLog::serializeToDictionary();
    zivoSetIfPresent(dict, "id", attachmentId_);
    zivoSetIfPresent(dict, "errorId", errorId_);
    zivoSetIfPresent(dict, "contentType", contentType_);
    zivoSetIfPresent(dict, "fileName", filename_);
    if (data_) dict.set("data", foundation::base64Encode(*data_));
    return dict;
}

bool ZIVOErrorAttachmentLog::isValid() const {
    if (!ZIVOAbstractLog::isValid()) return false;
    const char* missing = nullptr;
    if (!errorId_)
        missing = "errorId";
    else if (!attachmentId_)
        missing = "attachmentId";
    else if (!data_)
        missing = "data";
    else if (!contentType_)
        missing = "contentType";
    if (missing) {
        zivoLogInvalidField(className(), missing);
        return false;
    }
    return true;
}

bool ZIVOErrorAttachmentLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOErrorAttachmentLog*>(&other);
    return log && ZIVOAbstractLog::isEqual(other) && attachmentId_ == log->attachmentId_ && errorId_ == log->errorId_ &&
           contentType_ == log->contentType_ && filename_ == log->filename_ && data_ == log->data_;
}

void ZIVOErrorAttachmentLog::encode(foundation::Coder& coder) const {
    ZIVOAbstractLog::encode(coder);
    zivoEncodeIfPresent(coder, "id", attachmentId_);
    zivoEncodeIfPresent(coder, "errorId", errorId_);
    zivoEncodeIfPresent(coder, "contentType", contentType_);
    zivoEncodeIfPresent(coder, "fileName", filename_);
    if (data_) coder.encodeData("data", *data_);
}

std::shared_ptr<ZIVOErrorAttachmentLog> ZIVOErrorAttachmentLog::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOErrorAttachmentLog>();
    log->decodeFields(decoder);
    log->attachmentId_ = decoder.decodeString("id");
    log->errorId_ = decoder.decodeString("errorId");
    log->contentType_ = decoder.decodeString("contentType");
    log->filename_ = decoder.decodeString("fileName");
    log->data_ = decoder.decodeData("data");
    return log;
}
