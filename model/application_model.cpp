// The data model slice of the application object: the shared delegate and the phone formatter.
#include <mutex>
#include <utility>

#include "model/application_model.h"
#include "model/phone_format.h"
#include "platform/foundation/json.h"

namespace {
std::mutex& sharedDelegateMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<HXApplicationModel>& sharedDelegateSlot() {
    static std::shared_ptr<HXApplicationModel> slot;
    return slot;
}
}  // namespace

std::shared_ptr<HXApplicationModel> HXApplicationModel::sharedDelegate() {
    std::lock_guard lock(sharedDelegateMutex());
    return sharedDelegateSlot();
}

void HXApplicationModel::setSharedDelegate(std::shared_ptr<HXApplicationModel> delegate) {
    std::lock_guard lock(sharedDelegateMutex());
    sharedDelegateSlot() = std::move(delegate);
}

void HXApplicationModel::setCompletionHandler(std::function<void()> handler, std::string tag) {
    auto earlier = std::move(completionHandler_);
    completionHandler_ = std::move(handler);
    completionHandlerTag_ = completionHandler_ ? std::move(tag) : std::string();
    // The platform waits for every completion it handed over: the one replaced is answered now.
    if (earlier) earlier();
}

std::function<void()> HXApplicationModel::takeCompletionHandler(const std::string& tag) {
    if (!completionHandler_ || tag != completionHandlerTag_) return {};
    completionHandlerTag_.clear();
    return std::exchange(completionHandler_, nullptr);
}

std::shared_ptr<HXCPhoneFormat> HXApplicationModel::phoneFormatter() {
    std::lock_guard lock(monitor_);
    if (!phoneFormatter_) phoneFormatter_ = std::make_shared<HXCPhoneFormat>(std::string("us"));
    ++phoneFormatterAccessCount_;
    return phoneFormatter_;
}

void HXApplicationModel::decreasePhoneFormatterAccessCount() {
    std::lock_guard lock(monitor_);
    // Giving back more uses than were taken must not wrap the count and pin the formatter.
    if (phoneFormatterAccessCount_ > 0) --phoneFormatterAccessCount_;
}

uint64_t HXApplicationModel::phoneFormatterAccessCount() const {
    std::lock_guard lock(monitor_);
    return phoneFormatterAccessCount_;
}

bool HXApplicationModel::releasePhoneFormatterIfUnused() {
    std::lock_guard lock(monitor_);
    if (phoneFormatterAccessCount_ != 0 || !phoneFormatter_) return false;
    phoneFormatter_.reset();
    return true;
}

uint64_t HXApplicationModel::mocAccessCount() const {
    std::lock_guard lock(monitor_);
    return mocAccessCount_;
}

void HXApplicationModel::setMocAccessCount(uint64_t count) {
    std::lock_guard lock(monitor_);
    mocAccessCount_ = count;
}

std::string HXApplicationModel::JSONStringFromString(std::string_view s) const {
    // The serialiser's own escaping of a one-element array, without its '["' and '"]'.
    auto json = foundation::toJSON(foundation::Value(foundation::Array{foundation::Value(s)}));
    if (!json.ok() || json->size() < 4) return {};
    return json->substr(2, json->size() - 4);
}
