// Shared by the crash reporting service tests: a valid device, JSON checked by python3, goldens.
#pragma once

#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_protocols.h"
#include "RurIdurev/RurIdurev/Model/device.h"
#include "tests/support/test_support.h"

namespace crashestest {

// A channel unit that keeps what was enqueued on it, with the flags.
class RecordingUnit : public ZIVOChannelUnitProtocol {
public:
    void setEnabled(bool, bool) override {}
    void enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags) override {
        std::lock_guard guard(mutex);
        items.emplace_back(item, flags);
    }
    std::mutex mutex;
    std::vector<std::pair<std::shared_ptr<ZIVOAbstractLog>, uint32_t>> items;
};


inline std::shared_ptr<ZIVODevice> validDevice() {
    auto d = std::make_shared<ZIVODevice>();
    d->setSdkName(std::string("ruridurev.ios"));
    d->setSdkVersion(std::string("5.0.5"));
    d->setOsName(std::string("Debian GNU/Linux"));
    d->setOsVersion(std::string("12"));
    d->setLocale(std::string("en_US"));
    d->setTimeZoneOffset(60);
    d->setAppVersion(std::string("1.2"));
    d->setAppBuild(std::string("34"));
    return d;
}

// python3's own reading of a JSON text, written again with sorted keys and no spaces.
inline std::string canonicalJSON(const std::string& json) {
    hxtest::TempDir dir;
    std::ofstream(dir / "in.json", std::ios::binary) << json;
    std::string output;
    int status = hxtest::runCommand(
        "/usr/bin/python3 -c 'import json,sys; print(json.dumps(json.load(open(sys.argv[1], encoding=\"utf-8\")), "
        "sort_keys=True, separators=(\",\",\":\"), ensure_ascii=False))' '" +
            (dir / "in.json").string() + "'",
        &output);
    if (status != 0) return "python3 rejected: " + json;
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

inline std::string golden(const std::string& name) {
    std::ifstream in(std::string(HX_SOURCE_DIR) + "/tests/crashes/golden/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace crashestest
