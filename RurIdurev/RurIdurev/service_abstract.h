// The base of every SDK service: what the facade hands a service at start, the service's own
// channel unit, and its persisted enabled flag ("<groupId>IsEnabled", absent means enabled).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_protocols.h"

class ZIVOServiceAbstract {
public:
    virtual ~ZIVOServiceAbstract() = default;

    // ---- What a concrete service names
    // The class name as the system names it ("ZIVOCrashes"); messages show it less "ZIVO".
    virtual std::string className() const = 0;
    // The name in start-service logs and the disabling environment variable ("Crashes").
    virtual std::string serviceName() const = 0;
    virtual std::string logTag() const = 0;
    // The group id of the service's unit and of its enabled key ("Crashes").
    virtual std::string groupId() const = 0;
    virtual int initializationPriority() const { return 500; }
    virtual bool isAppSecretRequired() const { return true; }
    // The configuration of the service's own unit; none means the service has no unit.
    virtual std::optional<ZIVOChannelUnitConfiguration> channelUnitConfiguration() const { return std::nullopt; }

    // ---- Called by the facade (under its lock)
    virtual void startWithChannelGroup(std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup,
                                       std::optional<std::string> appSecret,
                                       std::optional<std::string> transmissionTargetToken, bool fromApplication);
    virtual void updateConfigurationWithAppSecret(std::optional<std::string> appSecret,
                                                  std::optional<std::string> transmissionTargetToken);

    // ---- Instance state
    virtual void applyEnabledState(bool isEnabled);
    virtual bool isEnabled();
    // Applies, then stores the value; nothing when it equals the stored one.
    virtual void setEnabled(bool isEnabled);
    bool isAvailable();
    bool isStartedFromApplication();
    // Configured and started; otherwise the not-started error line.
    bool canBeUsed();
    // "<groupId>IsEnabled", made from the concrete service's group id on first use.
    std::string isEnabledKey();

    // ---- The class-level operations (+setEnabled: / +isEnabled), run on the shared instance
    // under its lock.
    void classSetEnabled(bool isEnabled);
    bool classIsEnabled();

    // Orders services for starting: highest priority first, equal priorities in the order given.
    // (A strict weak ordering: a comparator that calls equal elements ordered both ways is not.)
    static void sortByInitializationPriority(std::vector<std::shared_ptr<ZIVOServiceAbstract>>& services);

    std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup();
    void setChannelGroup(std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup);
    std::shared_ptr<ZIVOChannelUnitProtocol> channelUnit();
    void setChannelUnit(std::shared_ptr<ZIVOChannelUnitProtocol> channelUnit);
    std::optional<std::string> appSecret();
    void setAppSecret(std::optional<std::string> appSecret);
    std::optional<std::string> defaultTransmissionTargetToken();
    void setDefaultTransmissionTargetToken(std::optional<std::string> token);

protected:
    ZIVOServiceAbstract() = default;
    // The lock of the shared instance (re-entered by the class-level operations).
    std::recursive_mutex& lock() { return mutex_; }

private:
    std::string shortClassName() const;

    std::recursive_mutex mutex_;
    bool startedFromApplication_ = false;
    bool started_ = false;
    std::shared_ptr<ZIVOChannelGroupProtocol> channelGroup_;
    std::shared_ptr<ZIVOChannelUnitProtocol> channelUnit_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> defaultTransmissionTargetToken_;
    std::optional<std::string> isEnabledKey_;
};
