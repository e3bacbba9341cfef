// A preferences file as a damaged or foreign file may hold it, opened and read with every typed
// accessor the app uses (numbers read as booleans, text read as numbers, and so on), then
// written back: what was stored reads back the same after a reopen.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>

#include "fuzz/scratch_dir.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"

namespace {

std::filesystem::path scratch() { return fuzzsupport::scratchDirectory(); }

void readEveryWay(const foundation::UserDefaults& defaults, const std::string& key) {
    (void)defaults.objectForKey(key);
    (void)defaults.stringForKey(key);
    (void)defaults.integerForKey(key);
    (void)defaults.boolForKey(key);
    (void)defaults.doubleForKey(key);
    (void)defaults.dataForKey(key);
    (void)defaults.arrayForKey(key);
    (void)defaults.dictionaryForKey(key);
}

// One launch: opens the preferences, reads them every way, counts the launch and saves. The
// stored values as the launch left them; nothing when the save failed.
std::optional<foundation::Dictionary> launch(const std::filesystem::path& path) {
    foundation::UserDefaults defaults(path);
    defaults.registerDefaults(foundation::Dictionary{{"autoRefresh", true}, {"launchCount", 0}});
    for (const auto& [key, value] : defaults.dictionaryRepresentation()) readEveryWay(defaults, key.string());
    for (const char* key : {"autoRefresh", "launchCount", "smsQueue", "accountInfo", "cookies", "favorites"})
        readEveryWay(defaults, key);
    const int64_t launches = defaults.integerForKey("launchCount");
    defaults.setInteger(launches < INT64_MAX ? launches + 1 : launches, "launchCount");
    defaults.setDouble(defaults.doubleForKey("interval"), "interval");
    if (!defaults.synchronize()) return std::nullopt;
    return defaults.dictionaryRepresentation();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = scratch() / "prefs.plist";
    std::filesystem::remove(path);
    std::filesystem::remove(scratch() / "prefs.plist.unreadable");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    // The first launch may round a foreign file's dates to what a date holds here; from then on
    // every launch finds exactly what the previous one saved, and counts once more.
    auto first = launch(path);
    if (!first) return 0;
    auto second = launch(path);
    if (!second) std::abort();  // what was just written must read back and save again
    const int64_t counted = first->get("launchCount").int64Value(0);
    if (second->get("launchCount").int64Value(0) != (counted < INT64_MAX ? counted + 1 : counted)) std::abort();
    foundation::UserDefaults again(path);
    again.registerDefaults(foundation::Dictionary{{"autoRefresh", true}, {"launchCount", 0}});
    if (again.loadError()) std::abort();
    // Compared as written: a NaN stored in a foreign file is the same value, though not equal.
    auto before = foundation::writeBinaryPropertyList(foundation::Value(*second));
    auto after = foundation::writeBinaryPropertyList(foundation::Value(again.dictionaryRepresentation()));
    if (before.ok() != after.ok() || (before.ok() && before.value() != after.value())) std::abort();
    return 0;
}
