// Decodes untrusted bytes the way the SDK reads its stored archives: every shape it keeps, with
// the allowed-class list in force. A decoded object is used as the SDK would use it.
#include <cstddef>
#include <cstdint>

#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"
#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"

namespace {

void exercise(const std::shared_ptr<ZIVOAbstractLog>& log) {
    if (!log) return;
    (void)log->isValid();
    (void)log->serializeLogWithPrettyPrinting(false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
        ZIVOUtility::addMigrationClasses({{"ZVDevice", "ZIVODevice"}, {"ZVAbstractLog", "ZIVOAbstractLog"}});
        // Decoding failures log; nothing needs to be written while fuzzing.
        ZIVOLogger::setLogHandler(nullptr);
        return true;
    }();
    (void)ready;
    const foundation::Data bytes(data, data + size);
    exercise(ZIVOUtility::unarchiveKeyedObject<ZIVOAbstractLog>(bytes));
    if (auto device = ZIVOUtility::unarchiveKeyedObject<ZIVODevice>(bytes)) (void)device->serializeToDictionary();
    if (auto history = ZIVOUtility::unarchiveKeyedArray<ZIVODeviceHistoryInfo>(bytes)) {
        for (const auto& record : *history)
            if (record && record->device()) (void)record->device()->isValid();
    }
    (void)ZIVOUtility::unarchiveKeyedArray<ZIVOSessionHistoryInfo>(bytes);
    (void)ZIVOUtility::unarchiveKeyedArray<ZIVOUserIdHistoryInfo>(bytes);
    return 0;
}
