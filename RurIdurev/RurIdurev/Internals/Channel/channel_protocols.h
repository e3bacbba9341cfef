// What services and the facade ask of the channel pipeline. The channel group and its units
// implement these; services hold them through these interfaces only.
#pragma once

#include <memory>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_unit_configuration.h"

class ZIVOChannelUnitProtocol {
public:
    virtual ~ZIVOChannelUnitProtocol() = default;
    // Switches the unit; disabling with deletion drops the unit's stored logs.
    virtual void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) = 0;
};

class ZIVOChannelGroupProtocol {
public:
    virtual ~ZIVOChannelGroupProtocol() = default;
    virtual std::shared_ptr<ZIVOChannelUnitProtocol> addChannelUnitWithConfiguration(
        const ZIVOChannelUnitConfiguration& configuration) = 0;
};
