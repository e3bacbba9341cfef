#include "RurIdurevCrashes/RurIdurevCrashes/Model/wrapper_exception_model.h"

#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"

foundation::Dictionary ZIVOWrapperExceptionModel::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOExceptionModel::serializeToDictionary();
    zivoSetIfPresent(dict, "wrapperSdkName", wrapperSdkName_);
    if (innerExceptions_) dict.set("innerExceptions", zivoSerializeList(*innerExceptions_));
    return dict;
}

bool ZIVOWrapperExceptionModel::isEqual(const ZIVOSerializableObject& other) const {
    const auto* model = dynamic_cast<const ZIVOWrapperExceptionModel*>(&other);
    return model && ZIVOExceptionModel::isEqual(other) && wrapperSdkName_ == model->wrapperSdkName_ &&
           zivoListsEqual(innerExceptions_, model->innerExceptions_);
}

void ZIVOWrapperExceptionModel::encode(foundation::Coder& coder) const {
    ZIVOExceptionModel::encode(coder);
    if (innerExceptions_) coder.encodeArray("innerExceptions", *innerExceptions_);
    zivoEncodeIfPresent(coder, "wrapperSdkName", wrapperSdkName_);
}

std::shared_ptr<ZIVOWrapperExceptionModel> ZIVOWrapperExceptionModel::decode(foundation::Decoder& decoder) {
    auto model = std::make_shared<ZIVOWrapperExceptionModel>();
    model->decodeFields(decoder);
    model->innerExceptions_ = decoder.decodeArray<ZIVOExceptionModel>("innerExceptions");
    model->wrapperSdkName_ = decoder.decodeString("wrapperSdkName");
    return model;
}
