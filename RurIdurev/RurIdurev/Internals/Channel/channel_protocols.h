// What services and the facade ask of the channel pipeline. The channel group and its units
// implement these; services hold them through these interfaces only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_unit_configuration.h"

class ZIVOAbstractLog;
class ZIVOChannelDelegate;

class ZIVOChannelUnitProtocol {
public:
    virtual ~ZIVOChannelUnitProtocol() = default;
    // Switches the unit; disabling with deletion drops the unit's stored logs.
    virtual void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) = 0;
    // The low 8 bits of flags are the log's persistence priority (1 ordinary, 2 crash).
    virtual void enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& /*item*/, uint32_t /*flags*/) {}
    // As above, then tells `saved` whether the log store saved the log: false when the log was
    // invalid, filtered, refused or not saved. A unit that cannot tell answers false.
    virtual void enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags,
                             std::function<void(bool saved)> saved) {
        enqueueItem(item, flags);
        if (saved) saved(false);
    }
    virtual void addDelegate(const std::shared_ptr<ZIVOChannelDelegate>& /*delegate*/) {}
    virtual void removeDelegate(const std::shared_ptr<ZIVOChannelDelegate>& /*delegate*/) {}
    virtual void pauseWithIdentifyingObject(const std::shared_ptr<void>& /*identifyingObject*/) {}
    virtual void resumeWithIdentifyingObject(const std::shared_ptr<void>& /*identifyingObject*/) {}
    virtual void checkPendingLogs() {}
};

class ZIVOChannelGroupProtocol {
public:
    virtual ~ZIVOChannelGroupProtocol() = default;
    virtual std::shared_ptr<ZIVOChannelUnitProtocol>
    addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration) = 0;
    // Watches the logs of every unit of the group.
    virtual void addDelegate(const std::shared_ptr<ZIVOChannelDelegate>& /*delegate*/) {}
};
