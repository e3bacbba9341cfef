#include "platform/services/url_opener.h"

#include <algorithm>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/url.h"

namespace services {

namespace {

std::mutex gSharedMutex;
std::shared_ptr<URLOpener> gShared;
std::mutex gObserverMutex;
URLOpener::OpenedObserver gObserver;
URLOpener::NumberFormat gNumberFormat;

std::string schemeOf(const std::string& url) {
    size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return {};
    std::string scheme = url.substr(0, colon);
    for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}

}  // namespace

void Dialer::dial(std::string number) {
    std::lock_guard lock(mutex_);
    numbers_.push_back(std::move(number));
}

std::vector<std::string> Dialer::dialedNumbers() const {
    std::lock_guard lock(mutex_);
    return numbers_;
}

void Dialer::clear() {
    std::lock_guard lock(mutex_);
    numbers_.clear();
}

std::shared_ptr<URLOpener> URLOpener::shared() {
    std::lock_guard lock(gSharedMutex);
    if (!gShared) gShared = std::make_shared<URLOpener>();
    return gShared;
}

void URLOpener::setShared(std::shared_ptr<URLOpener> opener) {
    std::lock_guard lock(gSharedMutex);
    gShared = std::move(opener);
}

bool URLOpener::canOpenURL(const std::string& url) const {
    const std::string scheme = schemeOf(url);
    std::lock_guard lock(mutex_);
    return !scheme.empty() && std::find(schemes_.begin(), schemes_.end(), scheme) != schemes_.end();
}

void URLOpener::registerScheme(const std::string& scheme) {
    std::lock_guard lock(mutex_);
    schemes_.push_back(scheme);
}

void URLOpener::openURL(const std::string& url, const foundation::Dictionary&, Completion completion) {
    const bool can = canOpenURL(url);
    {
        std::lock_guard lock(mutex_);
        opened_.push_back(url);
    }
    bool success = can;
    if (can && schemeOf(url) == "tel") {
        // "tel:" and the number; a number that is not validly escaped does not dial.
        auto number = foundation::percentDecode(std::string_view(url).substr(4));
        if (number && !number->empty())
            dialer_->dial(*number);
        else
            success = false;
    }
    if (success) {
        OpenedObserver observer;
        {
            std::lock_guard lock(gObserverMutex);
            observer = gObserver;
        }
        if (observer) observer(url);
    }
    if (completion) dispatch::Queue::main()->async([completion, success] { completion(success); });
}

void URLOpener::setNumberFormat(NumberFormat format) {
    std::lock_guard lock(gObserverMutex);
    gNumberFormat = std::move(format);
}

void URLOpener::setOpenedObserver(OpenedObserver observer) {
    std::lock_guard lock(gObserverMutex);
    gObserver = std::move(observer);
}

std::string URLOpener::describeOpenedURL(const std::string& url) {
    const std::string scheme = schemeOf(url);
    if (scheme == "tel") {
        auto decoded = foundation::percentDecode(std::string_view(url).substr(4));
        const std::string number = decoded ? *decoded : url.substr(4);
        NumberFormat format;
        {
            std::lock_guard lock(gObserverMutex);
            format = gNumberFormat;
        }
        const std::string written = format && decoded ? format(number) : std::string();
        return "Calling " + (written.empty() ? number : written);
    }
    if (scheme == "http" || scheme == "https") return url;
    if (url == kOpenSettingsURLString) return "Opening Settings";
    return "Opening " + url;
}

std::vector<std::string> URLOpener::openedURLs() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

void URLOpener::clear() {
    std::lock_guard lock(mutex_);
    opened_.clear();
    dialer_->clear();
}

}  // namespace services
