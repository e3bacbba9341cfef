// How a channel unit batches and sends its logs.
#pragma once

#include <cstddef>
#include <string>

struct ZIVOChannelUnitConfiguration {
    std::string groupId;
    int priority = 1;          // ZIVOPriorityDefault
    double flushInterval = 6;  // seconds
    size_t batchSizeLimit = 50;
    size_t pendingBatchesLimit = 3;

    // The default configuration of a group.
    static ZIVOChannelUnitConfiguration defaultConfiguration(std::string groupId) {
        ZIVOChannelUnitConfiguration c;
        c.groupId = std::move(groupId);
        return c;
    }
};
