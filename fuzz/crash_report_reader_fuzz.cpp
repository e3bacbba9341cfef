// Report files are read at the next launch, whatever a crash (or a bad disk) left in them.
#include <cstddef>
#include <cstdint>

#include "crashreporter/crash_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto report = ZVCrashReport::initWithData(data, size);
    if (report.ok()) {
        const auto& r = *report.value();
        uint64_t sum = 0;
        for (const auto& t : r.threads()) sum += t.stackFrames.size() + t.registers.size();
        for (const auto& image : r.images()) sum += image.imageSize;
        if (!r.threads().empty() && !r.threads()[0].stackFrames.empty()) {
            (void)r.imageForAddress(r.threads()[0].stackFrames[0].instructionPointer + sum);
        }
    }
    return 0;
}
