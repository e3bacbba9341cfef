// Opening URLs as the platform's application does (openURL:options:completionHandler:), for a
// device without the platform: every URL asked for is recorded in order, "tel:" URLs are handed
// to an in-memory dialer that keeps the numbers it was given, and "http"/"https" URLs count as
// opened in the browser. Tests and the shell read what was opened; the window shows it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace services {

// The URL of the app's own page in the device's settings.
inline constexpr const char* kOpenSettingsURLString = "app-settings:";

// The phone's own dialer: the numbers handed to it, percent escapes removed.
class Dialer {
public:
    void dial(std::string number);
    std::vector<std::string> dialedNumbers() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> numbers_;
};

class URLOpener {
public:
    using Completion = std::function<void(bool success)>;

    static std::shared_ptr<URLOpener> shared();
    // Replaces the process's opener (null: a fresh one).
    static void setShared(std::shared_ptr<URLOpener> opener);

    // Whether a URL of this scheme has somewhere to go: "tel", "http", "https", the settings page
    // and registered ones.
    bool canOpenURL(const std::string& url) const;
    void registerScheme(const std::string& scheme);
    // Records the URL and hands it on; completion, when given, hears the result on the main queue.
    void openURL(const std::string& url, const foundation::Dictionary& options = {}, Completion completion = {});

    // Told of every URL that went somewhere (a number dialled, a page, the settings), on the
    // thread that opened it: the device shows what the platform would have left the app for.
    // Process-wide, as the system is; an empty function stops it.
    using OpenedObserver = std::function<void(const std::string& url)>;
    static void setOpenedObserver(OpenedObserver observer);
    // What the device shows for an opened URL: "Calling " and the number (as the number format
    // writes it), the address for a page, "Opening Settings" for the app's settings page,
    // "Opening " and the URL for any other scheme.
    static std::string describeOpenedURL(const std::string& url);
    // How the device writes a number it calls: the user's way of writing numbers, which the app
    // that runs on it hands over at launch ("(555) 123-4567"); as dialled while none is set or
    // when it gives nothing. Process-wide; an empty function sets none.
    using NumberFormat = std::function<std::string(const std::string& number)>;
    static void setNumberFormat(NumberFormat format);

    std::vector<std::string> openedURLs() const;
    void clear();
    const std::shared_ptr<Dialer>& dialer() const { return dialer_; }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> opened_;
    std::vector<std::string> schemes_ = {"tel", "http", "https", "app-settings"};
    std::shared_ptr<Dialer> dialer_ = std::make_shared<Dialer>();
};

}  // namespace services
