#include "RurIdurevCrashes/RurIdurevCrashes/Internals/wrapper_exception_manager.h"

#include <filesystem>
#include <map>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"
#include "crashreporter/crash_reporter.h"

namespace {

// The service's callers keep to one thread at a time, but a lock costs little and rules out a race.
struct State {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<ZIVOWrapperException>> cache;
    std::shared_ptr<ZVCrashReporter> reporter;
};

State& state() {
    static auto* s = new State;
    return *s;
}

std::string pathFor(const std::string& name) { return ZIVOCrashesUtil::wrapperExceptionsDir() + "/" + name; }

}  // namespace

foundation::Dictionary ZIVOWrapperException::serializeToDictionary() const {
    foundation::Dictionary dict;
    if (modelException) dict.set("modelException", modelException->serializeToDictionary());
    if (processId) dict.set("processId", *processId);
    if (exceptionData) dict.set("exceptionData", *exceptionData);
    return dict;
}

void ZIVOWrapperException::encode(foundation::Coder& coder) const {
    if (modelException)
        coder.encodeObject("modelException", std::shared_ptr<const foundation::Archivable>(modelException));
    if (exceptionData) coder.encodeData("exceptionData", *exceptionData);
    if (processId) coder.encodeValue("processId", foundation::Value(*processId));
}

std::shared_ptr<ZIVOWrapperException> ZIVOWrapperException::decode(foundation::Decoder& decoder) {
    auto exception = std::make_shared<ZIVOWrapperException>();
    exception->modelException = decoder.decodeObject<ZIVOExceptionModel>("modelException");
    exception->exceptionData = decoder.decodeData("exceptionData");
    foundation::Value pid = decoder.decodeValue("processId");
    if (pid.isNumber()) exception->processId = pid.int64Value();
    return exception;
}

void ZIVOWrapperExceptionManager::setCrashReporter(std::shared_ptr<ZVCrashReporter> reporter) {
    std::lock_guard lock(state().mutex);
    state().reporter = std::move(reporter);
}

void ZIVOWrapperExceptionManager::saveWrapperException(const std::shared_ptr<ZIVOWrapperException>& exception) {
    saveWrapperException(exception, kLastWrapperExceptionFileName);
}

void ZIVOWrapperExceptionManager::saveWrapperException(const std::shared_ptr<ZIVOWrapperException>& exception,
                                                       const std::string& withBaseFilename) {
    auto data = ZIVOUtility::archiveKeyedData(exception);
    ZIVOUtility::createFileAtPathComponent(pathFor(withBaseFilename), data, true, true);
}

std::shared_ptr<ZIVOWrapperException>
ZIVOWrapperExceptionManager::loadWrapperExceptionWithBaseFilename(const std::string& name) {
    const std::string component = pathFor(name);
    if (!ZIVOUtility::fileExistsForPathComponent(component)) {
        ZIVOLogError(kZIVOCrashesLogTag, "Exception data report doesn't exist on disk. File name: " + name);
        return nullptr;
    }
    auto exception =
        ZIVOUtility::unarchiveKeyedObject<ZIVOWrapperException>(ZIVOUtility::loadDataForPathComponent(component));
    if (!exception) {
        ZIVOLogError(kZIVOCrashesLogTag, "Could not read exception data stored on disk with file name " + name);
        ZIVOUtility::deleteItemForPathComponent(component);
    }
    return exception;
}

std::shared_ptr<ZIVOWrapperException>
ZIVOWrapperExceptionManager::loadWrapperExceptionWithUUIDString(const std::string& uuid) {
    {
        std::lock_guard lock(state().mutex);
        auto it = state().cache.find(uuid);
        if (it != state().cache.end()) return it->second;
    }
    return loadWrapperExceptionWithBaseFilename(uuid);
}

void ZIVOWrapperExceptionManager::deleteWrapperExceptionWithBaseFilename(const std::string& name) {
    ZIVOUtility::deleteItemForPathComponent(pathFor(name));
}

void ZIVOWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(const std::string& uuid) {
    deleteWrapperExceptionWithBaseFilename(uuid);
}

void ZIVOWrapperExceptionManager::deleteAllWrapperExceptions() {
    ZIVOUtility::deleteItemForPathComponent(ZIVOCrashesUtil::wrapperExceptionsDir());
}

void ZIVOWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
    const std::vector<std::shared_ptr<ZIVOErrorReport>>& reports) {
    auto exception = loadWrapperExceptionWithBaseFilename(kLastWrapperExceptionFileName);
    // Without a saved exception there is nothing to tie: comparing against a missing process id
    // would match reports without process information and store an empty exception for them.
    if (!exception) return;
    deleteWrapperExceptionWithBaseFilename(kLastWrapperExceptionFileName);
    const uint64_t pid = static_cast<uint64_t>(exception->processId.value_or(0));
    for (const auto& report : reports) {
        if (!report || report->appProcessIdentifier() != pid || !report->incidentIdentifier()) continue;
        {
            std::lock_guard lock(state().mutex);
            state().cache[*report->incidentIdentifier()] = exception;
        }
        saveWrapperException(exception, *report->incidentIdentifier());
        return;
    }
}

void ZIVOWrapperExceptionManager::saveWrapperExceptionAndCrashReport(
    const std::shared_ptr<ZIVOWrapperException>& exception) {
    std::shared_ptr<ZVCrashReporter> reporter;
    {
        std::lock_guard lock(state().mutex);
        reporter = state().reporter;
    }
    if (!reporter) {
        ZIVOLogError(kZIVOLogTag, "Failed to save the crash report. CrashReporter wasn't initialized.");
        return;
    }
    saveWrapperException(exception);
    const std::filesystem::path path = reporter->crashReportPath();
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) {
        std::string dir = path.parent_path().string();
        ZIVOLogError(kZIVOLogTag, "Couldn't create a directory at path " + dir);
        return;
    }
    auto live = reporter->generateLiveReport();
    const std::string text = path.string();
    if (live.ok() && ZIVOUtility::createFileAtPath(path, live.value())) {
        ZIVOLogError(kZIVOLogTag, "Crash report was saved successfully at path " + text);
    } else {
        ZIVOLogError(kZIVOLogTag, "Couldn't save crash report at path " + text);
    }
}

void ZIVOWrapperExceptionManager::resetForTesting() {
    std::lock_guard lock(state().mutex);
    state().cache.clear();
    state().reporter.reset();
}
