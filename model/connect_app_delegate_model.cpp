// The application object's operations that belong to the data model.
#include <mutex>

#include "app/connect_app_delegate.h"
#include "model/phone_format.h"

namespace {
std::mutex& sharedDelegateMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<HX_ConnectAppDelegate>& sharedDelegateSlot() {
    static std::shared_ptr<HX_ConnectAppDelegate> slot;
    return slot;
}
}  // namespace

std::shared_ptr<HX_ConnectAppDelegate> HX_ConnectAppDelegate::sharedDelegate() {
    std::lock_guard lock(sharedDelegateMutex());
    return sharedDelegateSlot();
}

void HX_ConnectAppDelegate::setSharedDelegate(std::shared_ptr<HX_ConnectAppDelegate> delegate) {
    std::lock_guard lock(sharedDelegateMutex());
    sharedDelegateSlot() = std::move(delegate);
}

std::shared_ptr<HXCPhoneFormat> HX_ConnectAppDelegate::phoneFormatter() {
    std::lock_guard lock(monitor_);
    if (!phoneFormatter_) phoneFormatter_ = std::make_shared<HXCPhoneFormat>(std::string("us"));
    ++phoneFormatterAccessCount_;
    return phoneFormatter_;
}

void HX_ConnectAppDelegate::decreasePhoneFormatterAccessCount() {
    std::lock_guard lock(monitor_);
    // Giving back more uses than were taken must not wrap the count and pin the formatter.
    if (phoneFormatterAccessCount_ > 0) --phoneFormatterAccessCount_;
}

uint64_t HX_ConnectAppDelegate::phoneFormatterAccessCount() const {
    std::lock_guard lock(monitor_);
    return phoneFormatterAccessCount_;
}

bool HX_ConnectAppDelegate::releasePhoneFormatterIfUnused() {
    std::lock_guard lock(monitor_);
    if (phoneFormatterAccessCount_ != 0 || !phoneFormatter_) return false;
    phoneFormatter_.reset();
    return true;
}

uint64_t HX_ConnectAppDelegate::mocAccessCount() const {
    std::lock_guard lock(monitor_);
    return mocAccessCount_;
}

void HX_ConnectAppDelegate::setMocAccessCount(uint64_t count) {
    std::lock_guard lock(monitor_);
    mocAccessCount_ = count;
}
