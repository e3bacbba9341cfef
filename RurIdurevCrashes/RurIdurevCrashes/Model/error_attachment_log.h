// One file attached to a crash ("errorAttachment"): text or bytes with a name and content type.
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"

class ZIVOErrorAttachmentLog : public ZIVOAbstractLog {
public:
    // Type "errorAttachment" and a fresh attachment id.
    ZIVOErrorAttachmentLog();
    ZIVOErrorAttachmentLog(std::optional<std::string> filename, std::optional<foundation::Data> attachmentBinary,
                           std::optional<std::string> contentType);
    // The text's UTF-8 bytes as "text/plain".
    ZIVOErrorAttachmentLog(std::optional<std::string> filename, const std::string& attachmentText);

    static std::shared_ptr<ZIVOErrorAttachmentLog> attachmentWithText(const std::string& text,
                                                                      std::optional<std::string> filename);
    static std::shared_ptr<ZIVOErrorAttachmentLog> attachmentWithBinary(foundation::Data data,
                                                                        std::optional<std::string> filename,
                                                                        std::optional<std::string> contentType);

    std::string className() const override { return "ZIVOErrorAttachmentLog"; }
    foundation::Dictionary serializeToDictionary() const override;
    // The base's validity, then errorId, attachmentId, data and contentType present.
    bool isValid() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOErrorAttachmentLog> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(attachmentId, AttachmentId)
    ZIVO_TEXT_PROPERTY(errorId, ErrorId)
    ZIVO_TEXT_PROPERTY(contentType, ContentType)
    ZIVO_TEXT_PROPERTY(filename, Filename)

public:
    const std::optional<foundation::Data>& data() const { return data_; }
    void setData(std::optional<foundation::Data> value) { data_ = std::move(value); }

private:
    std::optional<foundation::Data> data_;
};
