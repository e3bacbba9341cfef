#include "RurIdurevCrashes/RurIdurevCrashes/Model/error_report.h"

#include <cctype>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"

ZIVOErrorReport::ZIVOErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                                 std::optional<std::string> signal, std::optional<std::string> exceptionName,
                                 std::optional<std::string> exceptionReason,
                                 std::optional<foundation::Date> appStartTime,
                                 std::optional<foundation::Date> appErrorTime, std::optional<std::string> codeType,
                                 std::optional<std::string> archName, std::optional<std::string> applicationPath,
                                 std::optional<Threads> threads, std::optional<Binaries> binaries,
                                 std::shared_ptr<ZIVODevice> device, uint64_t appProcessIdentifier)
    : incidentIdentifier_(std::move(errorId)),
      reporterKey_(std::move(reporterKey)),
      signal_(std::move(signal)),
      exceptionName_(std::move(exceptionName)),
      exceptionReason_(std::move(exceptionReason)),
      appStartTime_(appStartTime),
      appErrorTime_(appErrorTime),
      archName_(std::move(archName)),
      codeType_(std::move(codeType)),
      applicationPath_(std::move(applicationPath)),
      threads_(std::move(threads)),
      binaries_(std::move(binaries)),
      device_(std::move(device)),
      appProcessIdentifier_(appProcessIdentifier) {}

bool ZIVOErrorReport::isAppKill() const {
    if (!signal_) return false;
    std::string upper = *signal_;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == "SIGKILL";
}

foundation::Dictionary ZIVOErrorReport::serializeToDictionary() const {
    foundation::Dictionary dict;
    auto text = [&](const char* key, const std::optional<std::string>& value) {
        if (value) dict.set(key, *value);
    };
    text("incidentIdentifier", incidentIdentifier_);
    text("reporterKey", reporterKey_);
    text("signal", signal_);
    text("exceptionName", exceptionName_);
    text("exceptionReason", exceptionReason_);
    if (appStartTime_) dict.set("appStartTime", *appStartTime_);
    if (appErrorTime_) dict.set("appErrorTime", *appErrorTime_);
    text("codeType", codeType_);
    text("archName", archName_);
    text("applicationPath", applicationPath_);
    if (threads_) {
        foundation::Array list;
        for (const auto& t : *threads_)
            if (t) list.emplace_back(t->serializeToDictionary());
        dict.set("threads", std::move(list));
    }
    if (binaries_) {
        foundation::Array list;
        for (const auto& b : *binaries_)
            if (b) list.emplace_back(b->serializeToDictionary());
        dict.set("binaries", std::move(list));
    }
    if (device_) dict.set("device", device_->serializeToDictionary());
    if (appProcessIdentifier_ != 0) dict.set("appProcessIdentifier", std::to_string(appProcessIdentifier_));
    return dict;
}

std::string ZIVOErrorReport::description() const { return zivoPrintedDictionary(serializeToDictionary()); }
