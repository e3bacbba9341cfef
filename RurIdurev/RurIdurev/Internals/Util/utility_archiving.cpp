#include <mutex>
#include <set>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"

namespace {

// Filled at start-up but read from every thread that decodes; guarded so that a late addition
// never races a decoder. Never destroyed: the SDK's queues may still decode a stored log while
// the process runs its exit handlers.
struct ArchiveLists {
    std::mutex mutex;
    std::set<std::string> allowed;
    std::map<std::string, std::string> migration;
};

ArchiveLists& lists() {
    static auto* l = new ArchiveLists;
    return *l;
}

std::string reasonOf(const foundation::Error& error) { return error.localizedDescription(); }

}  // namespace

std::optional<foundation::Data>
ZIVOUtility::archiveKeyedData(const std::shared_ptr<const foundation::Archivable>& object) {
    if (!object) return std::nullopt;
    auto result = foundation::archivedData(*object);
    if (!result.ok()) {
        std::string reason = reasonOf(result.error());
        ZIVOLogError(kZIVOLogTag, "Archiving NSData failed with error: " + reason);
        return std::nullopt;
    }
    return std::move(result).value();
}

std::optional<foundation::Data>
ZIVOUtility::archiveKeyedArray(const std::vector<std::shared_ptr<const foundation::Archivable>>& objects) {
    auto result = foundation::archivedDataWithArray(objects);
    if (!result.ok()) {
        std::string reason = reasonOf(result.error());
        ZIVOLogError(kZIVOLogTag, "Archiving NSData failed with error: " + reason);
        return std::nullopt;
    }
    return std::move(result).value();
}

void ZIVOUtility::addAllowedClasses(const std::vector<std::string>& classNames) {
    auto& l = lists();
    std::lock_guard lock(l.mutex);
    l.allowed.insert(classNames.begin(), classNames.end());
}

void ZIVOUtility::addMigrationClasses(const std::map<std::string, std::string>& oldToCurrent) {
    auto& l = lists();
    std::lock_guard lock(l.mutex);
    for (const auto& [old, current] : oldToCurrent) l.migration[old] = current;
}

foundation::UnarchiveOptions ZIVOUtility::unarchiveOptions() {
    auto& l = lists();
    std::lock_guard lock(l.mutex);
    foundation::UnarchiveOptions options;
    options.allowedClasses = l.allowed;
    options.classNameMap = l.migration;
    return options;
}

void ZIVOUtility::logUnarchiveFailure(const foundation::Error& error) {
    std::string reason = reasonOf(error);
    ZIVOLogError(kZIVOLogTag, "Unarchiving NSData failed with error: " + reason);
}
