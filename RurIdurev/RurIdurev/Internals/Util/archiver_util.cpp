#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"

#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_with_properties.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/typed_property.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/dispatch/dispatch.h"

void ZIVOArchiverUtil::registerRurIdurevModuleClasses() {
    static dispatch::OnceFlag once;
    once.call([] {
        auto& registry = foundation::ArchiveClassRegistry::shared();
        registry.registerClass<ZIVOAbstractLog>("ZIVOAbstractLog");
        registry.registerClass<ZIVOLogWithProperties>("ZIVOLogWithProperties");
        registry.registerClass<ZIVOStartServiceLog>("ZIVOStartServiceLog");
        registry.registerClass<ZIVOWrapperSdk>("ZIVOWrapperSdk");
        registry.registerClass<ZIVODevice>("ZIVODevice");
        registry.registerClass<ZIVOHistoryInfo>("ZIVOHistoryInfo");
        registry.registerClass<ZIVODeviceHistoryInfo>("ZIVODeviceHistoryInfo");
        registry.registerClass<ZIVOSessionHistoryInfo>("ZIVOSessionHistoryInfo");
        registry.registerClass<ZIVOUserIdHistoryInfo>("ZIVOUserIdHistoryInfo");
        registry.registerClass<ZIVOTypedProperty>("ZIVOTypedProperty");
        registry.registerClass<ZIVOBooleanTypedProperty>("ZIVOBooleanTypedProperty");
        registry.registerClass<ZIVODateTimeTypedProperty>("ZIVODateTimeTypedProperty");
        registry.registerClass<ZIVODoubleTypedProperty>("ZIVODoubleTypedProperty");
        registry.registerClass<ZIVOLongTypedProperty>("ZIVOLongTypedProperty");
        registry.registerClass<ZIVOStringTypedProperty>("ZIVOStringTypedProperty");
    });
}

void ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses() {
    registerRurIdurevModuleClasses();
    ZIVOUtility::addAllowedClasses({
        "ZIVOAbstractLog",
        "NSDate",
        "ZIVODevice",
        "ZIVODeviceHistoryInfo",
        "ZIVOSessionHistoryInfo",
        "ZIVOUserIdHistoryInfo",
        "ZIVOAppExtension",
        "ZIVOCSExtensions",
        "ZIVOCommonSchemaLog",
        "ZIVOCSData",
        "ZIVODeviceExtension",
        "ZIVOLocExtension",
        "ZIVOMetadataExtension",
        "ZIVONetExtension",
        "ZIVOOSExtension",
        "ZIVOProtocolExtension",
        "ZIVOSDKExtension",
        "ZIVOUserExtension",
        "ZIVOStartServiceLog",
        "ZIVOBooleanTypedProperty",
        "ZIVODateTimeTypedProperty",
        "ZIVODoubleTypedProperty",
        "ZIVOLongTypedProperty",
        "ZIVOStringTypedProperty",
        "ZIVOTypedProperty",
        "ZIVOHistoryInfo",
        "ZIVOLogWithProperties",
        "ZIVOWrapperSdk",
        "NSUUID",
        "NSDictionary",
        "NSArray",
        "NSNull",
        "NSString",
        "NSNumber",
        "NSMutableArray",
    });
}
