#include "service/protobuf_request.h"

net::URLRequest HXProtobufRequest(const std::string& url, const google::protobuf::MessageLite& message) {
    std::string body = hxcpb::serialize(message).value_or("");
    net::URLRequest request(url);
    request.setHTTPMethod("POST");
    request.setHTTPBody(std::string_view(body));
    request.setValue(std::to_string(body.size()), "Content-Length");
    request.setValue("application/x-protobuf", "Content-Type");
    return request;
}
