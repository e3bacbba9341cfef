#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/services/url_opener.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDirectoryName = "com.dorazadav.ruridurev";

// The file operations marked as locked share this lock; the directory is computed once under it.
// Both live for the whole process and are never destroyed: pool workers may still be writing
// files while the main thread runs the static destructors at exit.
std::recursive_mutex& fileMutex() {
    static auto* m = new std::recursive_mutex;
    return *m;
}

std::optional<fs::path>& directorySlot() {
    static auto* directory = new std::optional<fs::path>;
    return *directory;
}

bool writeFile(const fs::path& path, const foundation::Data& data, bool atomically) {
    const fs::path target = atomically ? fs::path(path.string() + ".tmp" + std::to_string(::getpid())) : path;
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(target, ec);
            return false;
        }
    }
    if (!atomically) return true;
    std::error_code ec;
    fs::rename(target, path, ec);
    if (ec) fs::remove(target, ec);
    return !ec;
}

}  // namespace

int ZIVOUtility::applicationState() {
    if (zivo_platform::executablePath().string().find(".appex/") != std::string::npos)
        return ZIVOApplicationStateUnknown;
    return sharedAppState();
}

foundation::Application& ZIVOUtility::sharedApp() { return foundation::Application::shared(); }

std::shared_ptr<foundation::ApplicationDelegate> ZIVOUtility::sharedAppDelegate() { return sharedApp().delegate(); }

std::recursive_mutex& ZIVOUtility::classMutex() { return fileMutex(); }

int ZIVOUtility::sharedAppState() { return static_cast<int>(sharedApp().applicationState()); }

void ZIVOUtility::sharedAppOpenUrl(const std::string& url, const foundation::Dictionary& options,
                                   std::function<void(int result)> completion) {
    auto opener = services::URLOpener::shared();
    if (applicationState() == ZIVOApplicationStateUnknown || !opener->canOpenURL(url)) {
        if (completion) completion(2);
        return;
    }
    dispatch::Queue::main()->async([opener, url, options, completion = std::move(completion)] {
        opener->openURL(url, options, [completion](bool opened) {
            if (completion) completion(opened ? 1 : 0);
        });
    });
}

bool ZIVOUtility::hasEmbeddedMobileProvision() {
    return foundation::Bundle::main().pathForResource("embedded", "mobileprovision").has_value();
}

bool ZIVOUtility::isAppStoreReceiptSandbox() {
    auto receipt = zivo_platform::appStoreReceiptURL();
    return receipt && receipt->filename() == "sandboxReceipt";
}

int ZIVOUtility::currentAppEnvironment() {
    if (hasEmbeddedMobileProvision()) return ZIVOEnvironmentOther;
    if (isAppStoreReceiptSandbox()) return ZIVOEnvironmentTestFlight;
    return ZIVOEnvironmentAppStore;
}

fs::path ZIVOUtility::rurIdurevDirectoryURL() {
    std::lock_guard lock(fileMutex());
    auto& slot = directorySlot();
    if (!slot) {
        slot = zivo_platform::applicationSupportDirectory() / kDirectoryName;
        createDirectoryAtURL(*slot);
    }
    return *slot;
}

void ZIVOUtility::resetRurIdurevDirectoryForTesting() {
    std::lock_guard lock(fileMutex());
    directorySlot().reset();
}

std::optional<fs::path> ZIVOUtility::fullURLForPathComponent(const std::optional<std::string>& component) {
    if (!component) return std::nullopt;
    return rurIdurevDirectoryURL() / *component;
}

bool ZIVOUtility::fileExistsForPathComponent(const std::string& component) {
    std::error_code ec;
    return fs::exists(*fullURLForPathComponent(component), ec);
}

std::optional<fs::path> ZIVOUtility::createFileAtPathComponent(const std::optional<std::string>& component,
                                                               const std::optional<foundation::Data>& data,
                                                               bool atomically, bool forceOverwrite) {
    std::lock_guard lock(fileMutex());
    auto url = fullURLForPathComponent(component);
    if (!url) return std::nullopt;
    std::error_code ec;
    if (!forceOverwrite && fs::exists(*url, ec)) return url;
    if (url->has_parent_path()) createDirectoryAtURL(url->parent_path());
    if (!writeFile(*url, data.value_or(foundation::Data{}), atomically)) {
        std::string path = url->string();
        ZIVOLogError(kZIVOLogTag, "Couldn't create new file at path " + path);
        return std::nullopt;
    }
    return url;
}

std::optional<fs::path> ZIVOUtility::createDirectoryForPathComponent(const std::string& component) {
    std::lock_guard lock(fileMutex());
    auto url = fullURLForPathComponent(component);
    if (!createDirectoryAtURL(url)) return std::nullopt;
    return url;
}

std::optional<foundation::Data> ZIVOUtility::loadDataForPathComponent(const std::string& component) {
    std::lock_guard lock(fileMutex());
    auto url = fullURLForPathComponent(component);
    std::error_code ec;
    if (!fs::is_regular_file(*url, ec)) return std::nullopt;
    std::ifstream in(*url, std::ios::binary);
    if (!in) return std::nullopt;
    return foundation::Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool ZIVOUtility::deleteItemForPathComponent(const std::string& component) {
    std::lock_guard lock(fileMutex());
    return deleteFileAtURL(fullURLForPathComponent(component));
}

bool ZIVOUtility::deleteFileAtURL(const std::optional<fs::path>& url) {
    std::lock_guard lock(fileMutex());
    if (!url) return false;
    std::error_code ec;
    const auto removed = fs::remove_all(*url, ec);
    if (ec || removed == 0) {
        std::string path = url->string();
        std::string reason = ec ? ec.message() : "No such file or directory";
        ZIVOLogDebug(kZIVOLogTag, "Couldn't remove item at " + path + ": " + reason);
        return false;
    }
    return true;
}

std::optional<std::vector<fs::path>> ZIVOUtility::contentsOfDirectory(const std::optional<std::string>& component) {
    std::lock_guard lock(fileMutex());
    if (!component || component->empty()) return std::nullopt;
    const fs::path url = *fullURLForPathComponent(component);
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(url, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    if (ec) {
        std::string name = *component, reason = ec.message();
        ZIVOLogDebug(kZIVOLogTag, "Couldn't get files in the directory \"" + name + "\": " + reason);
        return std::nullopt;
    }
    return entries;
}

bool ZIVOUtility::createFileAtPath(const fs::path& path, const foundation::Data& contents) {
    return writeFile(path, contents, false);
}

bool ZIVOUtility::createDirectoryAtURL(const std::optional<fs::path>& url) {
    if (!url) return false;
    std::error_code ec;
    fs::create_directories(*url, ec);
    if (ec) {
        std::string path = url->string(), reason = ec.message();
        ZIVOLogError(kZIVOLogTag, "Couldn't create directory at " + path + ": " + reason);
        return false;
    }
    return disableBackupForDirectoryURL(url);
}

bool ZIVOUtility::disableBackupForDirectoryURL(const std::optional<fs::path>& url) {
    std::error_code ec;
    if (!url || !fs::is_directory(*url, ec)) {
        std::string path = url ? url->string() : std::string("(null)");
        ZIVOLogError(kZIVOLogTag, "Error excluding " + path + " from iCloud backup " + std::string("not a directory"));
        return false;
    }
    return true;
}
