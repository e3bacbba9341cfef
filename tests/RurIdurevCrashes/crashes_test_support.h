// Shared by the crash reporting service tests: a valid device, JSON checked by python3, goldens.
#pragma once

#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_protocols.h"
#include "RurIdurev/RurIdurev/Model/device.h"
#include "tests/RurIdurev/telemetry/model_test_support.h"
#include "tests/support/test_support.h"

namespace crashestest {

using telemetrytest::canonicalJSON;

// The crash goldens were written with this time zone.
inline std::shared_ptr<ZIVODevice> validDevice() { return telemetrytest::validDevice(60); }

// A channel unit that keeps what was enqueued on it, with the flags.
class RecordingUnit : public ZIVOChannelUnitProtocol {
public:
    void setEnabled(bool, bool) override {}
    void enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags) override {
        std::lock_guard guard(mutex);
        items.emplace_back(item, flags);
    }
    // Saves at once, unless told to hold the saves (they are then answered by `answerSaves`).
    void enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags,
                     std::function<void(bool)> saved) override {
        enqueueItem(item, flags);
        if (!holdSaves) {
            if (saved) saved(true);
            return;
        }
        std::lock_guard guard(mutex);
        pendingSaves.push_back(std::move(saved));
    }
    void answerSaves(bool result) {
        std::vector<std::function<void(bool)>> pending;
        {
            std::lock_guard guard(mutex);
            pending.swap(pendingSaves);
        }
        for (auto& s : pending)
            if (s) s(result);
    }
    std::mutex mutex;
    std::vector<std::pair<std::shared_ptr<ZIVOAbstractLog>, uint32_t>> items;
    bool holdSaves = false;
    std::vector<std::function<void(bool)>> pendingSaves;
};

inline std::string golden(const std::string& name) {
    std::ifstream in(std::string(HX_SOURCE_DIR) + "/tests/RurIdurevCrashes/golden/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace crashestest
