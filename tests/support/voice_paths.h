// Paths of the voice web API that tests script replies for and look for among the requests.
#pragma once

#include <string>

namespace hxtest {

inline const std::string kApi = "/voice/v1/voiceclient/";
inline const std::string kSend = "/voice/v1/voiceclient/api2thread/sendsms";

}  // namespace hxtest
