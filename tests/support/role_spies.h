// Roles a test puts between a screen and the application object's own: each notes what the
// screen asked (or answers in its place where the test says so) and passes the rest on. A form
// hands them out from its screenRoles() with spyOn, sharing the application object's lifetime as
// its own roles do.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"

namespace hxtest {

// role standing in for real: a pointer that shares real's owner (none when real is gone).
template <typename Role, typename Spy>
std::weak_ptr<Role> spyOn(const std::weak_ptr<Role>& real, Spy& spy) {
    spy.real = real;
    auto owner = real.lock();
    return owner ? std::shared_ptr<Role>(owner, &spy) : nullptr;
}

// Notes the numbers called.
struct CallsSpy : HXConversationActionsRole {
    std::weak_ptr<HXConversationActionsRole> real;
    std::vector<std::string> placed;
    void placeCallTo(const std::string& number) override {
        placed.push_back(number);
        if (auto role = real.lock()) role->placeCallTo(number);
    }
    void newMessageToNumber(const std::string& numbers, const std::string& text,
                            const std::string& conversationID) override {
        if (auto role = real.lock()) role->newMessageToNumber(numbers, text, conversationID);
    }
};

// Answers the contact lookup with the test's own while it has one.
class DialPadSpy : public HXDialPadRole {
    template <typename Member, typename... Args>
    auto call(Member member, Args&&... args) const {
        auto role = real.lock();
        using Result = decltype(((*role).*member)(std::forward<Args>(args)...));
        if (!role) return Result();
        return ((*role).*member)(std::forward<Args>(args)...);
    }

public:
    std::weak_ptr<HXDialPadRole> real;
    std::function<std::string(const std::string&)> lookup;
    std::shared_ptr<HX_Account> account() const override { return call(&HXDialPadRole::account); }
    std::function<std::string(const std::string& number)> contactNameLookup() override {
        return lookup ? lookup : call(&HXDialPadRole::contactNameLookup);
    }
    bool isABAccessRestricted() override { return call(&HXDialPadRole::isABAccessRestricted); }
    bool connectionAvailable() const override { return call(&HXDialPadRole::connectionAvailable); }
    bool callRequestInFlight() override { return call(&HXDialPadRole::callRequestInFlight); }
    bool canChangeCallback() override { return call(&HXDialPadRole::canChangeCallback); }
    bool canPlaceCalls() const override { return call(&HXDialPadRole::canPlaceCalls); }
    std::string forwardingNumberControllerTitle() override {
        return call(&HXDialPadRole::forwardingNumberControllerTitle);
    }
    bool isNewForwardingPhoneID(int64_t phoneID) override {
        return call(&HXDialPadRole::isNewForwardingPhoneID, phoneID);
    }
    void presentAlert(const std::shared_ptr<toolkit::AlertController>& alert, toolkit::ViewController* from) override {
        call(&HXDialPadRole::presentAlert, alert, from);
    }
};

}  // namespace hxtest
