// The extensions of a common-schema log: nine small records of the log's context (metadata,
// protocol, user, device, OS, app, network, SDK, location), each with a JSON form that is absent
// when nothing is set, equality and archiving. Every one is valid whatever it holds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"

// The shared behaviour: the JSON form is absent when it would be empty (metadata excepted).
class ZIVOCSExtension : public ZIVOSerializableObject {
public:
    bool isValid() const { return true; }
    // Nothing when no key would be written.
    virtual std::optional<foundation::Dictionary> jsonForm() const {
        auto dict = serializeToDictionary();
        if (dict.empty()) return std::nullopt;
        return dict;
    }
};

class ZIVOMetadataExtension : public ZIVOCSExtension {
public:
    std::string className() const override { return "ZIVOMetadataExtension"; }
    foundation::Dictionary serializeToDictionary() const override;
    std::optional<foundation::Dictionary> jsonForm() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOMetadataExtension> decode(foundation::Decoder& decoder);
    std::optional<foundation::Dictionary> metadata() const;
    void setMetadata(std::optional<foundation::Dictionary> value);

private:
    mutable std::mutex mutex_;
    std::optional<foundation::Dictionary> metadata_;
};

class ZIVOProtocolExtension : public ZIVOCSExtension {
public:
    std::string className() const override { return "ZIVOProtocolExtension"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOProtocolExtension> decode(foundation::Decoder& decoder);
    const std::optional<std::vector<std::string>>& ticketKeys() const { return ticketKeys_; }
    void setTicketKeys(std::optional<std::vector<std::string>> value) { ticketKeys_ = std::move(value); }
    ZIVO_TEXT_PROPERTY(devMake, DevMake)
    ZIVO_TEXT_PROPERTY(devModel, DevModel)
private:
    std::optional<std::vector<std::string>> ticketKeys_;
};

// The text-only extensions share one shape: JSON keys equal archive keys.
#define ZIVO_CS_TEXT_EXTENSION_DECLS(Class)                                                                            \
public:                                                                                                                \
    std::string className() const override { return #Class; }                                                          \
    foundation::Dictionary serializeToDictionary() const override;                                                     \
    bool isEqual(const ZIVOSerializableObject& other) const override;                                                  \
    void encode(foundation::Coder& coder) const override;                                                              \
    static std::shared_ptr<Class> decode(foundation::Decoder& decoder);

class ZIVOUserExtension : public ZIVOCSExtension {
    ZIVO_CS_TEXT_EXTENSION_DECLS(ZIVOUserExtension)
    ZIVO_TEXT_PROPERTY(localId, LocalId)
    ZIVO_TEXT_PROPERTY(locale, Locale)
};

class ZIVODeviceExtension : public ZIVOCSExtension {
    ZIVO_CS_TEXT_EXTENSION_DECLS(ZIVODeviceExtension)
    ZIVO_TEXT_PROPERTY(localId, LocalId)
};

class ZIVOOSExtension : public ZIVOCSExtension {
    ZIVO_CS_TEXT_EXTENSION_DECLS(ZIVOOSExtension)
    ZIVO_TEXT_PROPERTY(name, Name)
    ZIVO_TEXT_PROPERTY(ver, Ver)
};

class ZIVOAppExtension : public ZIVOCSExtension {
    ZIVO_CS_TEXT_EXTENSION_DECLS(ZIVOAppExtension)
    ZIVO_TEXT_PROPERTY(appId, AppId)
    ZIVO_TEXT_PROPERTY(ver, Ver)
    ZIVO_TEXT_PROPERTY(name, Name)
    ZIVO_TEXT_PROPERTY(locale, Locale)
    ZIVO_TEXT_PROPERTY(userId, UserId)
};

class ZIVONetExtension : public ZIVOCSExtension {
    ZIVO_CS_TEXT_EXTENSION_DECLS(ZIVONetExtension)
    ZIVO_TEXT_PROPERTY(provider, Provider)
};

class ZIVOSDKExtension : public ZIVOCSExtension {
    ZIVO_CS_TEXT_EXTENSION_DECLS(ZIVOSDKExtension)
    ZIVO_TEXT_PROPERTY(libVer, LibVer)
    ZIVO_TEXT_PROPERTY(epoch, Epoch)
    // The install id's UUID text.
    ZIVO_TEXT_PROPERTY(installId, InstallId)
public:
    int64_t seq() const { return seq_; }
    void setSeq(int64_t value) { seq_ = value; }

private:
    int64_t seq_ = 0;
};

class ZIVOLocExtension : public ZIVOCSExtension {
    ZIVO_CS_TEXT_EXTENSION_DECLS(ZIVOLocExtension)
    ZIVO_TEXT_PROPERTY(tz, Tz)
};

// The nine extensions of one log, each optional.
class ZIVOCSExtensions : public ZIVOSerializableObject {
public:
    std::string className() const override { return "ZIVOCSExtensions"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isValid() const;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOCSExtensions> decode(foundation::Decoder& decoder);

    std::shared_ptr<ZIVOMetadataExtension> metadataExt;
    std::shared_ptr<ZIVOProtocolExtension> protocolExt;
    std::shared_ptr<ZIVOUserExtension> userExt;
    std::shared_ptr<ZIVODeviceExtension> deviceExt;
    std::shared_ptr<ZIVOOSExtension> osExt;
    std::shared_ptr<ZIVOAppExtension> appExt;
    std::shared_ptr<ZIVONetExtension> netExt;
    std::shared_ptr<ZIVOSDKExtension> sdkExt;
    std::shared_ptr<ZIVOLocExtension> locExt;
};
