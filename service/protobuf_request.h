// A request of the service's protobuf API: the message's bytes POSTed as "application/x-protobuf".
#pragma once

#include <string>

#include "platform/net/url_request.h"
#include "service/proto/hxcpb.h"

// A POST of the message's bytes to url as "application/x-protobuf" with its "Content-Length".
net::URLRequest HXProtobufRequest(const std::string& url, const google::protobuf::MessageLite& message);
