// An alerts role that answers every question with "no" and shows nothing: for the favourites list
// driven without an application object (the benches and the fuzz targets). The account is the
// one a test sets.
#pragma once

#include <memory>

#include "app/roles/screen_roles.h"
#include "model/account.h"

namespace hxtest {

struct QuietAlertsRole : HXAlertsRole {
    std::shared_ptr<HX_Account> user;
    std::shared_ptr<HX_Account> account() const override { return user; }
    bool connectionAvailable() const override { return false; }
    bool isABAccessRestricted() override { return false; }
    void presentAlert(const HXAlert&) override {}
    void presentAlert(const std::shared_ptr<toolkit::AlertController>&, toolkit::ViewController*) override {}
};

}  // namespace hxtest
