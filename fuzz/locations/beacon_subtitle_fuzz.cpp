// A beacon's subtitle as stored with a preset (any bytes another device or an older version may
// have written): its parts come back whole, the beacon panel's description names them, and the
// panel's three-line label lays it out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/toolkit/controls.h"
#include "ui/settings/vc_location_details.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string subtitle(reinterpret_cast<const char*>(data), size);
    const auto parts = VC_LocationDetails::beaconParts(subtitle);
    if (parts.size() < 3) std::abort();
    // Joined again by their bars, the parts are the subtitle (with the bars of missing parts).
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) joined += (i ? "|" : "") + parts[i];
    size_t bars = 0;
    for (char c : subtitle) bars += c == '|';
    std::string expected = subtitle;
    for (size_t i = bars; i < 2; ++i) expected += '|';
    if (joined != expected) std::abort();
    const std::string description = VC_LocationDetails::beaconDescription(subtitle);
    if (description.find(parts[0]) == std::string::npos) std::abort();
    if (!parts[1].empty() && description.find(parts[1]) == std::string::npos) std::abort();
    toolkit::Label label(toolkit::Rect{90, 35, 230, 60});
    label.setNumberOfLines(3);
    label.setLineBreakMode(toolkit::LineBreakMode::charWrap);
    label.setText(description);
    if (label.textBox(230).lines.size() > 3) std::abort();
    return 0;
}
