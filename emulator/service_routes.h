// The service's own answers, by host role and path, from the emulator's in-memory account.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "emulator/emulator.h"

namespace emulator {

struct ServiceReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

ServiceReply routeServiceRequest(Emulator& emulator, const RecordedRequest& request);

// The query of a target as name/value pairs (percent escapes and "+" decoded).
std::vector<std::pair<std::string, std::string>> queryItems(const std::string& target);

}  // namespace emulator
