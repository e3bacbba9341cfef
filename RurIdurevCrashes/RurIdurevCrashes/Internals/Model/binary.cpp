#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/binary.h"

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"

foundation::Dictionary ZIVOBinary::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "id", binaryId_);
    zivoSetIfPresent(dict, "startAddress", startAddress_);
    zivoSetIfPresent(dict, "endAddress", endAddress_);
    zivoSetIfPresent(dict, "name", name_);
    zivoSetIfPresent(dict, "path", path_);
    zivoSetIfPresent(dict, "architecture", architecture_);
    zivoSetNumber(dict, "primaryArchitectureId", primaryArchitectureId_);
    zivoSetNumber(dict, "architectureVariantId", architectureVariantId_);
    return dict;
}

bool ZIVOBinary::isValid() const {
    const std::pair<const char*, const std::optional<std::string>*> required[] = {{"binaryId", &binaryId_},
                                                                                  {"startAddress", &startAddress_},
                                                                                  {"endAddress", &endAddress_},
                                                                                  {"name", &name_},
                                                                                  {"path", &path_}};
    for (const auto& [field, value] : required) {
        if (!*value) {
            zivoLogInvalidField(className(), field);
            return false;
        }
    }
    return true;
}

bool ZIVOBinary::isEqual(const ZIVOSerializableObject& other) const {
    const auto* binary = dynamic_cast<const ZIVOBinary*>(&other);
    return binary && binaryId_ == binary->binaryId_ && startAddress_ == binary->startAddress_ &&
           endAddress_ == binary->endAddress_ && name_ == binary->name_ && path_ == binary->path_ &&
           architecture_ == binary->architecture_ && primaryArchitectureId_ == binary->primaryArchitectureId_ &&
           architectureVariantId_ == binary->architectureVariantId_;
}

void ZIVOBinary::encode(foundation::Coder& coder) const {
    zivoEncodeIfPresent(coder, "id", binaryId_);
    zivoEncodeIfPresent(coder, "startAddress", startAddress_);
    zivoEncodeIfPresent(coder, "endAddress", endAddress_);
    zivoEncodeIfPresent(coder, "name", name_);
    zivoEncodeIfPresent(coder, "path", path_);
    zivoEncodeIfPresent(coder, "architecture", architecture_);
    zivoEncodeNumber(coder, "primaryArchitectureId", primaryArchitectureId_);
    zivoEncodeNumber(coder, "architectureVariantId", architectureVariantId_);
}

std::shared_ptr<ZIVOBinary> ZIVOBinary::decode(foundation::Decoder& decoder) {
    auto binary = std::make_shared<ZIVOBinary>();
    binary->binaryId_ = decoder.decodeString("id");
    binary->startAddress_ = decoder.decodeString("startAddress");
    binary->endAddress_ = decoder.decodeString("endAddress");
    binary->name_ = decoder.decodeString("name");
    binary->path_ = decoder.decodeString("path");
    binary->architecture_ = decoder.decodeString("architecture");
    binary->primaryArchitectureId_ = zivoDecodeNumber<uint64_t>(decoder, "primaryArchitectureId");
    binary->architectureVariantId_ = zivoDecodeNumber<uint64_t>(decoder, "architectureVariantId");
    return binary;
}

std::string ZIVOBinary::description() const { return zivoPrintedDictionary(serializeToDictionary()); }
