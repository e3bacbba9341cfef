#include "RurIdurev/RurIdurev/service_abstract.h"

#include <algorithm>

#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/sdk_state.h"

std::string ZIVOServiceAbstract::shortClassName() const {
    const std::string name = className();
    return name.size() > 4 ? name.substr(4) : std::string();
}

std::string ZIVOServiceAbstract::isEnabledKey() {
    std::lock_guard guard(mutex_);
    // Made on first use rather than in the constructor, where the concrete service's groupId()
    // cannot be reached yet.
    if (!isEnabledKey_) isEnabledKey_ = groupId() + "IsEnabled";
    return *isEnabledKey_;
}

void ZIVOServiceAbstract::startWithChannelGroup(std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup,
                                                std::optional<std::string> appSecret,
                                                std::optional<std::string> transmissionTargetToken,
                                                bool fromApplication) {
    std::lock_guard guard(mutex_);
    startedFromApplication_ = fromApplication;
    channelGroup_ = std::move(channelGroup);
    appSecret_ = std::move(appSecret);
    defaultTransmissionTargetToken_ = std::move(transmissionTargetToken);
    started_ = true;
    if (auto configuration = channelUnitConfiguration(); configuration && channelGroup_)
        channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(*configuration);
    if (isEnabled()) applyEnabledState(true);
}

void ZIVOServiceAbstract::updateConfigurationWithAppSecret(std::optional<std::string> appSecret,
                                                           std::optional<std::string> transmissionTargetToken) {
    std::lock_guard guard(mutex_);
    startedFromApplication_ = true;
    appSecret_ = std::move(appSecret);
    defaultTransmissionTargetToken_ = std::move(transmissionTargetToken);
    if (isEnabled()) applyEnabledState(true);
}

void ZIVOServiceAbstract::applyEnabledState(bool isEnabled) {
    std::shared_ptr<ZIVOChannelUnitProtocol> unit = channelUnit();
    if (unit) unit->setEnabled(isEnabled, true);
}

bool ZIVOServiceAbstract::isEnabled() {
    auto stored = ZIVORurIdurevUserDefaults::shared()->objectForKey(isEnabledKey());
    return stored.isNull() ? true : stored.boolValue();
}

void ZIVOServiceAbstract::setEnabled(bool isEnabled) {
    if (this->isEnabled() == isEnabled) return;
    applyEnabledState(isEnabled);
    ZIVORurIdurevUserDefaults::shared()->setObject(isEnabled, isEnabledKey());
}

bool ZIVOServiceAbstract::isAvailable() {
    std::lock_guard guard(mutex_);
    return isEnabled() && started_;
}

bool ZIVOServiceAbstract::isStartedFromApplication() {
    std::lock_guard guard(mutex_);
    return startedFromApplication_;
}

bool ZIVOServiceAbstract::canBeUsed() {
    auto state = ZIVOSdkState::current();
    bool started;
    {
        std::lock_guard guard(mutex_);
        started = started_;
    }
    if (state && state->isSdkConfigured() && started) return true;
    const std::string name = shortClassName();
    ZIVOLogError(logTag(), name + " service hasn't been started. You need to call [ZIVORurIdurev "
                                  "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.");
    return false;
}

void ZIVOServiceAbstract::classSetEnabled(bool isEnabled) {
    std::lock_guard guard(mutex_);
    if (!canBeUsed()) return;
    auto state = ZIVOSdkState::current();
    if (state && !state->isEnabled() && !state->isEnabledStateUpdating()) {
        const std::string name = shortClassName();
        ZIVOLogError(logTag(), "The SDK is disabled. Re-enable the whole SDK from RurIdurev first before enabling " +
                                   name + " service.");
        return;
    }
    setEnabled(isEnabled);
}

bool ZIVOServiceAbstract::classIsEnabled() {
    std::lock_guard guard(mutex_);
    return canBeUsed() && isEnabled();
}

std::shared_ptr<ZIVOChannelGroupProtocol> ZIVOServiceAbstract::channelGroup() {
    std::lock_guard guard(mutex_);
    return channelGroup_;
}

void ZIVOServiceAbstract::setChannelGroup(std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup) {
    std::lock_guard guard(mutex_);
    channelGroup_ = std::move(channelGroup);
}

std::shared_ptr<ZIVOChannelUnitProtocol> ZIVOServiceAbstract::channelUnit() {
    std::lock_guard guard(mutex_);
    return channelUnit_;
}

void ZIVOServiceAbstract::setChannelUnit(std::shared_ptr<ZIVOChannelUnitProtocol> channelUnit) {
    std::lock_guard guard(mutex_);
    channelUnit_ = std::move(channelUnit);
}

std::optional<std::string> ZIVOServiceAbstract::appSecret() {
    std::lock_guard guard(mutex_);
    return appSecret_;
}

void ZIVOServiceAbstract::setAppSecret(std::optional<std::string> appSecret) {
    std::lock_guard guard(mutex_);
    appSecret_ = std::move(appSecret);
}

std::optional<std::string> ZIVOServiceAbstract::defaultTransmissionTargetToken() {
    std::lock_guard guard(mutex_);
    return defaultTransmissionTargetToken_;
}

void ZIVOServiceAbstract::setDefaultTransmissionTargetToken(std::optional<std::string> token) {
    std::lock_guard guard(mutex_);
    defaultTransmissionTargetToken_ = std::move(token);
}

void ZIVOServiceAbstract::sortByInitializationPriority(std::vector<std::shared_ptr<ZIVOServiceAbstract>>& services) {
    std::stable_sort(services.begin(), services.end(), [](const auto& a, const auto& b) {
        return a->initializationPriority() > b->initializationPriority();
    });
}
