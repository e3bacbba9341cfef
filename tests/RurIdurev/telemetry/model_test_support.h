// Shared by the telemetry and crash model tests: a device descriptor that passes validation, and
// python3's own reading of a JSON text as an independent check of what it says.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "RurIdurev/RurIdurev/Model/device.h"
#include "tests/support/test_support.h"

namespace telemetrytest {

// Exactly the eight required fields.
inline std::shared_ptr<ZIVODevice> validDevice(int64_t timeZoneOffset = -300) {
    auto d = std::make_shared<ZIVODevice>();
    d->setSdkName(std::string("ruridurev.ios"));
    d->setSdkVersion(std::string("5.0.5"));
    d->setOsName(std::string("Debian GNU/Linux"));
    d->setOsVersion(std::string("12"));
    d->setLocale(std::string("en_US"));
    d->setTimeZoneOffset(timeZoneOffset);
    d->setAppVersion(std::string("1.2"));
    d->setAppBuild(std::string("34"));
    return d;
}

// The JSON text as python3 reads it, written again with sorted keys and no spaces.
inline std::string canonicalJSON(const std::string& json) {
    hxtest::TempDir dir;
    std::ofstream(dir / "in.json", std::ios::binary) << json;
    std::string output;
    int status = hxtest::runCommand(
        "/usr/bin/python3 -c 'import json,sys; print(json.dumps(json.load(open(sys.argv[1], encoding=\"utf-8\")), "
        "sort_keys=True, separators=(\",\",\":\"), ensure_ascii=False))' '" +
            (dir / "in.json").string() + "'",
        &output);
    if (status != 0) {
        ADD_FAILURE() << "python3 rejected: " << json;
        return "python3 rejected: " + json;
    }
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

}  // namespace telemetrytest
