// A wrapper SDK's own account of the exception that killed its process: saved before the crash,
// tied to the matching crash report at the next launch, and looked up by the report's id.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_report.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"

class ZVCrashReporter;

class ZIVOWrapperException : public foundation::Archivable {
public:
    std::string className() const override { return "ZIVOWrapperException"; }
    // For printing: the model's dictionary, the process id and the bytes themselves.
    foundation::Dictionary serializeToDictionary() const;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOWrapperException> decode(foundation::Decoder& decoder);

    std::shared_ptr<ZIVOExceptionModel> modelException;
    std::optional<foundation::Data> exceptionData;
    std::optional<int64_t> processId;
};

class ZIVOWrapperExceptionManager {
public:
    static constexpr const char* kLastWrapperExceptionFileName = "last_saved_wrapper_exception";

    static void setCrashReporter(std::shared_ptr<ZVCrashReporter> reporter);
    static void saveWrapperException(const std::shared_ptr<ZIVOWrapperException>& exception);
    static void saveWrapperException(const std::shared_ptr<ZIVOWrapperException>& exception,
                                     const std::string& withBaseFilename);
    static std::shared_ptr<ZIVOWrapperException> loadWrapperExceptionWithBaseFilename(const std::string& name);
    // The cached exception for the incident id, else the file of that name (not cached).
    static std::shared_ptr<ZIVOWrapperException> loadWrapperExceptionWithUUIDString(const std::string& uuid);
    static void deleteWrapperExceptionWithBaseFilename(const std::string& name);
    // Deletes the file; a cached entry stays.
    static void deleteWrapperExceptionWithUUIDString(const std::string& uuid);
    static void deleteAllWrapperExceptions();
    // Ties the last saved exception to the first report of the same process; nothing to do when
    // no exception was saved.
    static void
    correlateLastSavedWrapperExceptionToReport(const std::vector<std::shared_ptr<ZIVOErrorReport>>& reports);
    static void saveWrapperExceptionAndCrashReport(const std::shared_ptr<ZIVOWrapperException>& exception);
    static void resetForTesting();
};
