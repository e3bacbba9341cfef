#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Util/crashes_archiver_util.h"

#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/apple_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/handled_error_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/wrapper_exception_manager.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_attachment_log.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/wrapper_exception_model.h"
#include "platform/dispatch/dispatch.h"

void ZIVOCrashesArchiverUtil::registerCrashesModuleClasses() {
    static dispatch::OnceFlag once;
    once.call([] {
        ZIVOArchiverUtil::registerRurIdurevModuleClasses();
        auto& registry = foundation::ArchiveClassRegistry::shared();
        registry.registerClass<ZIVOAppleErrorLog>("ZIVOAppleErrorLog");
        registry.registerClass<ZIVOAbstractErrorLog>("ZIVOAbstractErrorLog");
        registry.registerClass<ZIVOHandledErrorLog>("ZIVOHandledErrorLog");
        registry.registerClass<ZIVOErrorAttachmentLog>("ZIVOErrorAttachmentLog");
        registry.registerClass<ZIVOThread>("ZIVOThread");
        registry.registerClass<ZIVOStackFrame>("ZIVOStackFrame");
        registry.registerClass<ZIVOBinary>("ZIVOBinary");
        registry.registerClass<ZIVOExceptionModel>("ZIVOExceptionModel");
        registry.registerClass<ZIVOWrapperExceptionModel>("ZIVOWrapperExceptionModel");
        registry.registerClass<ZIVOWrapperException>("ZIVOWrapperException");
    });
}

void ZIVOCrashesArchiverUtil::addMigrationClasses() {
    ZIVOUtility::addMigrationClasses({
        {"ZVAppleErrorLog", "ZIVOAppleErrorLog"},
        {"ZVThread", "ZIVOThread"},
        {"ZVWrapperException", "ZIVOWrapperException"},
        {"ZVAbstractErrorLog", "ZIVOAbstractErrorLog"},
        {"ZVHandledErrorLog", "ZIVOHandledErrorLog"},
        {"ZVException", "ZIVOWrapperExceptionModel"},
        {"ZIVOException", "ZIVOWrapperExceptionModel"},
        {"ZVStackFrame", "ZIVOStackFrame"},
        {"ZVBinary", "ZIVOBinary"},
        {"ZVErrorAttachmentLog", "ZIVOErrorAttachmentLog"},
        {"ZVErrorReport", "ZIVOErrorReport"},
    });
}

void ZIVOCrashesArchiverUtil::addAllowedCrashesModuleClasses() {
    registerCrashesModuleClasses();
    ZIVOUtility::addAllowedClasses({
        "ZIVOAppleErrorLog",
        "NSDate",
        "ZIVODevice",
        "ZIVOThread",
        "ZIVOWrapperException",
        "ZIVOAbstractErrorLog",
        "ZIVOHandledErrorLog",
        "ZIVOWrapperExceptionModel",
        "ZIVOStackFrame",
        "ZIVOBinary",
        "ZIVOErrorAttachmentLog",
        "ZIVOErrorReport",
        "ZIVOWrapperSdk",
        "NSUUID",
        "NSDictionary",
        "NSArray",
        "NSNull",
        "ZIVOLogWithProperties",
        "ZIVOCommonSchemaLog",
        "NSMutableData",
        "ZIVOExceptionModel",
        "NSString",
        "NSNumber",
        "NSMutableArray",
    });
}
