// One loaded image that matters to a crash: identity, address range, path and architecture.
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"

class ZIVOBinary : public ZIVOSerializableObject {
public:
    std::string className() const override { return "ZIVOBinary"; }
    foundation::Dictionary serializeToDictionary() const override;
    // binaryId, startAddress, endAddress, name and path present.
    bool isValid() const;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOBinary> decode(foundation::Decoder& decoder);
    std::string description() const;

    ZIVO_TEXT_PROPERTY(binaryId, BinaryId)
    ZIVO_TEXT_PROPERTY(startAddress, StartAddress)
    ZIVO_TEXT_PROPERTY(endAddress, EndAddress)
    ZIVO_TEXT_PROPERTY(name, Name)
    ZIVO_TEXT_PROPERTY(path, Path)
    ZIVO_TEXT_PROPERTY(architecture, Architecture)

public:
    const std::optional<uint64_t>& primaryArchitectureId() const { return primaryArchitectureId_; }
    void setPrimaryArchitectureId(std::optional<uint64_t> value) { primaryArchitectureId_ = value; }
    const std::optional<uint64_t>& architectureVariantId() const { return architectureVariantId_; }
    void setArchitectureVariantId(std::optional<uint64_t> value) { architectureVariantId_ = value; }

private:
    std::optional<uint64_t> primaryArchitectureId_;
    std::optional<uint64_t> architectureVariantId_;
};
