// The application bundle: its resources directory, its Info values and its localised strings.
//
// The main bundle's resources are HXCONNECT_RESOURCES when set, else the first "resources"
// directory found beside the executable or in a directory above it. Info values come from
// "Info.plist" in the resources (XML or binary property list). Localised strings come from
// "<language>.lproj/<table>.strings" files (the quoted "key" = "value"; text format, UTF-8 or
// UTF-16 with a byte-order mark, or a property-list dictionary), looked up by English key; a
// key found in no table is its own translation.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace foundation {

class Bundle {
public:
    static Bundle& main();

    explicit Bundle(std::filesystem::path resourcesDirectory);
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // Points the bundle at another resources directory and forgets what it had read (tests);
    // an empty path on the main bundle restores the discovery described above.
    void setResourcesDirectory(std::filesystem::path directory);
    std::filesystem::path resourcesDirectory() const;
    static std::filesystem::path executablePath();

    // resources[/subdirectory]/name[.type], else the same inside the preferred localisations'
    // ".lproj" folders. type may be empty (the name is the whole file name) or start with ".".
    std::optional<std::filesystem::path> pathForResource(std::string_view name, std::string_view type = {},
                                                         std::string_view subdirectory = {}) const;
    // Every file with the extension type (all files when empty) in resources[/subdirectory], sorted.
    std::vector<std::filesystem::path> pathsForResources(std::string_view type,
                                                         std::string_view subdirectory = {}) const;

    // Info.plist's top-level dictionary (empty when the file is missing or unreadable).
    Dictionary infoDictionary() const;
    Value objectForInfoDictionaryKey(std::string_view key) const;
    // "CFBundleIdentifier", when the Info file has one.
    std::optional<std::string> bundleIdentifier() const;
    // "CFBundleName", else the executable's file name.
    std::string name() const;
    // "CFBundleDisplayName", else name().
    std::string displayName() const;
    // "CFBundleShortVersionString", else "1.0"; "CFBundleVersion", else "1".
    std::string shortVersion() const;
    std::string version() const;

    // The languages that have an ".lproj" folder ("Base" excluded), sorted; the folder is listed
    // once (again after setResourcesDirectory).
    std::vector<std::string> localizations() const;
    // The bundle's localisations ordered by the user's preferred languages, "en" (or the first
    // available one) as the last resort.
    std::vector<std::string> preferredLocalizations() const;
    // The translation of key from table ("Localizable" when empty) in the preferred localisations;
    // when absent: value if not empty, else key.
    std::string localizedString(std::string_view key, std::string_view value = {}, std::string_view table = {}) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The main bundle's translation of an English key (the "Localizable" table).
std::string localizedString(std::string_view key);

// Parses the text of a ".strings" table. Fails with a description (and the line) on bad syntax.
Result<Dictionary> parseStringsTable(const Data& bytes);

}  // namespace foundation
