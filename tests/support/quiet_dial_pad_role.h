// A dial-pad role that answers every question with "no" and does nothing: for the favourites list
// driven without an application object (the benches and the fuzz targets). The account is the
// one a test sets.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/roles/screen_roles.h"
#include "model/account.h"

namespace hxtest {

struct QuietDialPadRole : HXDialPadRole {
    std::shared_ptr<HX_Account> user;
    std::shared_ptr<HX_Account> account() const override { return user; }
    std::function<std::string(const std::string&)> contactNameLookup() override { return {}; }
    bool isABAccessRestricted() override { return false; }
    bool connectionAvailable() const override { return false; }
    bool callRequestInFlight() override { return false; }
    bool canChangeCallback() override { return false; }
    bool canPlaceCalls() const override { return false; }
    std::string forwardingNumberControllerTitle() override { return {}; }
    bool isNewForwardingPhoneID(int64_t) override { return false; }
    void presentAlert(const std::shared_ptr<toolkit::AlertController>&, toolkit::ViewController*) override {}
};

}  // namespace hxtest
