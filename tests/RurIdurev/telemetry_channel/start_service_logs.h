// A small log to store and send: a start-service log naming one service, told apart by its sid.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"

namespace hxtest {

// `padding` lengthens the sid, for tests that need logs of a given size.
inline std::shared_ptr<ZIVOAbstractLog> makeLog(const std::string& sid, size_t padding = 0) {
    auto log = std::make_shared<ZIVOStartServiceLog>();
    log->setType("startService");
    log->setServices(std::vector<std::string>{"Crashes"});
    log->setSid(sid + std::string(padding, 'p'));
    return log;
}

}  // namespace hxtest
