// The service's protobuf messages under the app's names, and the two ways they cross the
// wire. Required fields are deliberately not enforced in either direction: a request goes out
// with whatever the app set (DirectCallRequest.unknown never is), and a reply lacking a
// required field still parses; readers test each field's presence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "service/proto/hxconnect.pb.h"

using HXCPB_PhoneNumber = HXConnect::PhoneNumber;
using HXCPB_DirectCallRequest = HXConnect::DirectCallRequest;
using HXCPB_DirectCallRequest_TargetNumber = HXConnect::DirectCallRequest_TargetNumber;
using HXCPB_DirectCallResponse = HXConnect::DirectCallResponse;
using HXCPB_DirectCallResponse_ServerResponse = HXConnect::DirectCallResponse_ServerResponse;
using HXCPB_MMSAttachment = HXConnect::MMSAttachment;
using HXCPB_SendSMSRequest = HXConnect::SendSMSRequest;
using HXCPB_SendSMSResponse = HXConnect::SendSMSResponse;

namespace hxcpb {

// The message's bytes with whatever fields are set; none only when the library refuses
// (a message over its size limit).
std::optional<std::string> serialize(const google::protobuf::MessageLite& message);

// A message parsed from a whole body, missing required fields allowed; none when the bytes
// are not that message.
template <typename Message>
std::optional<Message> parse(std::string_view bytes) {
    Message message;
    if (!message.ParsePartialFromArray(bytes.data(), static_cast<int>(bytes.size()))) return std::nullopt;
    return message;
}

}  // namespace hxcpb

// A new random message id: six random bytes, as twelve upper-case hex digits read back as a
// number (0 .. 2^48 - 1).
uint64_t getRandomSMS_ID();
