// The optional callbacks through which services watch their logs on their way through a channel.
// A callback a delegate does not override does nothing (and a filter that is not overridden
// keeps the log).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

class ZIVOAbstractLog;
class ZIVOChannelUnitProtocol;
class ZIVOChannelGroupDefault;

// Whatever reports: a unit, or the group for its own enabling call.
using ZIVOChannel = const void*;

class ZIVOChannelDelegate {
public:
    virtual ~ZIVOChannelDelegate() = default;
    virtual void channelGroupDidAddChannelUnit(ZIVOChannelGroupDefault&,
                                               const std::shared_ptr<ZIVOChannelUnitProtocol>&) {}
    virtual void channelPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) {}
    virtual void channelDidPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&,
                                      const std::string& /*internalId*/, uint32_t /*flags*/) {}
    virtual void channelDidCompleteEnqueueingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&,
                                                 const std::string& /*internalId*/) {}
    virtual void channelWillSendLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) {}
    virtual void channelDidSucceedSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) {}
    virtual void channelDidFailSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&,
                                          const std::optional<foundation::Error>&) {}
    virtual void channelDidSetEnabled(ZIVOChannel, bool /*isEnabled*/, bool /*andDeleteDataOnDisabled*/) {}
    virtual void channelDidPauseWithIdentifyingObject(ZIVOChannel, const std::shared_ptr<void>&) {}
    virtual void channelDidResumeWithIdentifyingObject(ZIVOChannel, const std::shared_ptr<void>&) {}
    virtual bool channelUnitShouldFilterLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) { return false; }
};
