// A log that can travel in common-schema form: one converted log per transmission target token.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ZIVOCommonSchemaLog;

class ZIVOLogConversion {
public:
    virtual ~ZIVOLogConversion() = default;
    // Empty when the log carries no target token.
    virtual std::vector<std::shared_ptr<ZIVOCommonSchemaLog>> toCommonSchemaLogsWithFlags(uint32_t flags) const = 0;
};
