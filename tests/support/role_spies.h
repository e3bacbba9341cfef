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

// spy standing in for real, a role it answers whole: a pointer that shares real's owner (none
// when real is gone or was never handed).
template <typename Role>
std::weak_ptr<Role> standIn(const std::weak_ptr<Role>& real, Role& spy) {
    auto owner = real.lock();
    return owner ? std::shared_ptr<Role>(owner, &spy) : nullptr;
}

// spy standing in for real, passing on what it does not answer itself.
template <typename Role, typename Spy>
std::weak_ptr<Role> spyOn(const std::weak_ptr<Role>& real, Spy& spy) {
    spy.real = real;
    return standIn<Role>(real, spy);
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
struct DialPadSpy : HXDialPadRole {
    std::weak_ptr<HXDialPadRole> real;
    std::function<std::string(const std::string&)> lookup;
    std::function<std::string(const std::string& number)> contactNameLookup() override {
        if (lookup) return lookup;
        auto role = real.lock();
        return role ? role->contactNameLookup() : nullptr;
    }
};

}  // namespace hxtest
