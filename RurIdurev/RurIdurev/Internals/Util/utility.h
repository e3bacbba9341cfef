// Small shared services of the SDK: identity of the SDK, the secret-string grammar, dates in the
// one telemetry form, property validation, hashing and JSON pretty-printing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/value.h"

// Application environment values (`currentAppEnvironment`).
enum ZIVOAppEnvironment : int {
    ZIVOEnvironmentAppStore = 0,
    ZIVOEnvironmentTestFlight = 1,
    ZIVOEnvironmentOther = 99,
};

// Application state values (`applicationState`): the platform's three, and 3 for unknown.
enum ZIVOApplicationState : int {
    ZIVOApplicationStateActive = 0,
    ZIVOApplicationStateInactive = 1,
    ZIVOApplicationStateBackground = 2,
    ZIVOApplicationStateUnknown = 3,
};

namespace foundation {
class Application;
class ApplicationDelegate;
}  // namespace foundation

// The SDK's one date formatter: the telemetry timestamp form "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC,
// independent of the system's locale and calendar.
class ZIVODateFormatter {
public:
    static constexpr const char* kDateFormat = "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'";
    // Milliseconds are truncated (never rounded up into the next second).
    std::string string(foundation::Date date) const;
    std::optional<foundation::Date> date(std::string_view text) const;
};

class ZIVOUtility {
public:
    ZIVOUtility() = delete;

    static std::string sdkName() { return "ruridurev.ios"; }
    static std::string sdkVersion() { return "5.0.5"; }

    // ---- Secret string
    static std::optional<std::string> appSecretFrom(const std::optional<std::string>& string);
    static std::optional<std::string> transmissionTargetTokenFrom(const std::optional<std::string>& string);
    static std::optional<std::string> targetKeyFromTargetToken(const std::string& token);
    static std::optional<std::string> iKeyFromTargetToken(const std::string& token);

    // ---- Dates: "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", UTC, Gregorian, locale-independent.
    static double nowInMilliseconds();
    // Both go through the shared formatter.
    static std::string dateToISO8601(foundation::Date date);
    static std::optional<foundation::Date> dateFromISO8601(std::string_view text);
    // The shared formatter, made on first use under the class's lock; resetDateFormatterInstance()
    // drops it, so that the next conversion makes a new one.
    static std::shared_ptr<const ZIVODateFormatter> dateFormatter();
    static void resetDateFormatterInstance();

    // ---- Property validation: at most 20 string-to-string entries, keys and values cut to 125
    // UTF-16 units on a code-point boundary. Warnings name the log's type and name.
    static foundation::Dictionary validateProperties(const foundation::Dictionary& properties,
                                                     const std::string& logName, const std::string& logType);

    // ---- Application. An app extension (".appex/" in the executable's path) must not touch the
    // shared application: its state reads unknown (3) there.
    static int applicationState();
    static foundation::Application& sharedApp();
    // The shared application's delegate (the app's application object), if one is set and alive.
    static std::shared_ptr<foundation::ApplicationDelegate> sharedAppDelegate();
    static int sharedAppState();
    // Opens url through the shared application on the next turn of the main queue; completion (may
    // be empty) gets 1 when it opened, 0 when it did not, and 2 at once inside an app extension or
    // where no application can open the URL.
    static void sharedAppOpenUrl(const std::string& url, const foundation::Dictionary& options,
                                 std::function<void(int result)> completion);

    // ---- Environment: 99 (other) when the main bundle holds the resource "embedded" of type
    // "mobileprovision" (a development or ad-hoc build), else 1 (TestFlight) when its store
    // receipt is the sandbox one, else 0 (App Store).
    static int currentAppEnvironment();
    static bool hasEmbeddedMobileProvision();
    static bool isAppStoreReceiptSandbox();

    // ---- Files, all inside the SDK directory "<Application Support>/com.dorazadav.ruridurev"
    static std::filesystem::path rurIdurevDirectoryURL();
    static std::optional<std::filesystem::path> fullURLForPathComponent(const std::optional<std::string>& component);
    static bool fileExistsForPathComponent(const std::string& component);
    static std::optional<std::filesystem::path> createFileAtPathComponent(const std::optional<std::string>& component,
                                                                          const std::optional<foundation::Data>& data,
                                                                          bool atomically, bool forceOverwrite);
    static std::optional<std::filesystem::path> createDirectoryForPathComponent(const std::string& component);
    static std::optional<foundation::Data> loadDataForPathComponent(const std::string& component);
    static bool deleteItemForPathComponent(const std::string& component);
    static bool deleteFileAtURL(const std::optional<std::filesystem::path>& url);
    static std::optional<std::vector<std::filesystem::path>>
    contentsOfDirectory(const std::optional<std::string>& component);
    static bool createFileAtPath(const std::filesystem::path& path, const foundation::Data& contents);
    static bool createDirectoryAtURL(const std::optional<std::filesystem::path>& url);
    // Nothing of this system backs the directory up; the call only checks that there is one.
    static bool disableBackupForDirectoryURL(const std::optional<std::filesystem::path>& url);
    // Tests point the SDK directory elsewhere (it is otherwise fixed once computed).
    static void resetRurIdurevDirectoryForTesting();

    // ---- Strings
    // SHA-256 of the text as 64 lower-case hex digits.
    static std::string sha256(std::string_view text);
    // The JSON re-written pretty with slashes unescaped; text that is not JSON comes back as it
    // is (when it is UTF-8); empty optional for no data.
    static std::optional<std::string> prettyPrintJson(const std::optional<foundation::Data>& data);
    // Every case-insensitive match of the pattern replaced by the template; nothing for no string
    // or a pattern that does not compile (logged).
    static std::optional<std::string> obfuscateString(const std::optional<std::string>& string,
                                                      const std::string& searchingForPattern,
                                                      const std::string& toReplaceWithTemplate);

    // ---- Archiving: secure keyed archives; decoding accepts only the classes of the allowed list
    // and reads renamed classes under their current names. Failures log and answer nothing.
    static std::optional<foundation::Data>
    archiveKeyedData(const std::shared_ptr<const foundation::Archivable>& object);
    static std::optional<foundation::Data>
    archiveKeyedArray(const std::vector<std::shared_ptr<const foundation::Archivable>>& objects);
    template <typename T>
    static std::shared_ptr<T> unarchiveKeyedObject(const std::optional<foundation::Data>& data) {
        if (!data) return nullptr;
        auto result = foundation::unarchivedObject<T>(*data, unarchiveOptions());
        if (!result.ok()) {
            logUnarchiveFailure(result.error());
            return nullptr;
        }
        return std::move(result).value();
    }
    template <typename T>
    static std::optional<std::vector<std::shared_ptr<T>>>
    unarchiveKeyedArray(const std::optional<foundation::Data>& data) {
        if (!data) return std::nullopt;
        auto result = foundation::unarchivedArray<T>(*data, unarchiveOptions());
        if (!result.ok()) {
            logUnarchiveFailure(result.error());
            return std::nullopt;
        }
        return std::move(result).value();
    }
    // The process-wide allowed list (only grows) and map of old class names to current ones.
    static void addAllowedClasses(const std::vector<std::string>& classNames);
    static void addMigrationClasses(const std::map<std::string, std::string>& oldToCurrent);
    static foundation::UnarchiveOptions unarchiveOptions();
    static void logUnarchiveFailure(const foundation::Error& error);

    static constexpr int kMaxPropertiesPerLog = 20;
    static constexpr size_t kMaxPropertyKeyLength = 125;
    static constexpr size_t kMaxPropertyValueLength = 125;

private:
    // The class's lock: the locked file operations and the date formatter's creation share it.
    static std::recursive_mutex& classMutex();
};
