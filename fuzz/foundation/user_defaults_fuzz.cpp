// A preferences file as a damaged or foreign file may hold it, opened and read with every typed
// accessor the app uses (numbers read as booleans, text read as numbers, and so on), then
// written back: what was stored reads back the same after a reopen.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"

namespace {

// The scratch folder goes when the process ends (a replay in the normal build leaves nothing).
// Its name is kept in a plain array, which outlives every static object.
char gScratch[64];
void removeAtExit(const char* dir) {
    std::snprintf(gScratch, sizeof gScratch, "%s", dir);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(gScratch, ec);
    });
}

std::filesystem::path scratch() {
    static const std::filesystem::path dir = [] {
        char pattern[] = "/tmp/hx_fuzz_user_defaults.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) std::abort();
        removeAtExit(made);
        return std::filesystem::path(made);
    }();
    return dir;
}

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = scratch() / "prefs.plist";
    std::filesystem::remove(path);
    std::filesystem::remove(scratch() / "prefs.plist.unreadable");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));

    foundation::Dictionary stored;
    {
        foundation::UserDefaults defaults(path);
        defaults.registerDefaults(foundation::Dictionary{{"autoRefresh", true}, {"launchCount", 0}});
        stored = defaults.dictionaryRepresentation();
        for (const auto& [key, value] : stored) readEveryWay(defaults, key.string());
        for (const char* key : {"autoRefresh", "launchCount", "smsQueue", "accountInfo", "cookies", "favorites"})
            readEveryWay(defaults, key);
        // Numbers written back through the typed setters keep their type.
        defaults.setInteger(defaults.integerForKey("launchCount") + 1, "launchCount");
        defaults.setDouble(defaults.doubleForKey("interval"), "interval");
        if (!defaults.synchronize()) return 0;
        stored = defaults.dictionaryRepresentation();
    }
    foundation::UserDefaults again(path);
    again.registerDefaults(foundation::Dictionary{{"autoRefresh", true}, {"launchCount", 0}});
    if (again.loadError()) std::abort();  // what was just written must read back
    // Compared as written: a NaN stored in a foreign file is the same value, though not equal.
    auto before = foundation::writeBinaryPropertyList(foundation::Value(stored));
    auto after = foundation::writeBinaryPropertyList(foundation::Value(again.dictionaryRepresentation()));
    if (before.ok() != after.ok() || (before.ok() && before.value() != after.value())) std::abort();
    return 0;
}
