// What the compose screen's tests share: the signed-in phone against the emulator with the real
// screen library, the open screen and pictures made on the spot.
#pragma once

#include <gtest/gtest.h>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "model/account.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/toolkit/navigation_controller.h"
#include "tests/support/pixels.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/compose/vc_new_message.h"
#include "ui/shell/ui_screens.h"

namespace hxtest {

// The colour of a pixel as 0xRRGGBBAA.
inline uint32_t rgbaWord(const std::array<uint8_t, 4>& p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

template <typename Form>
struct ComposeFixture : ScreenFixture<RecordedApp<Form>> {
    using Base = ScreenFixture<RecordedApp<Form>>;
    explicit ComposeFixture(DeviceForm form = DeviceForm::phone, bool emulator = true)
        : Base({.form = form,
                .screens = std::make_shared<HXUIScreens>(),
                .emulator = emulator,
                .signedIn = true,
                .fonts = true,
                .sharedDelegate = true}) {}

    // Opens the screen as the shell does, with recipients, text and conversation.
    VC_NewMessage* open(const std::string& numbers = "", const std::string& text = "",
                        const std::string& conversation = "") {
        this->app->newMessageToNumber(numbers, text, conversation);
        this->harness.settle();
        return screen();
    }
    VC_NewMessage* screen() {
        auto root = this->app->window() ? this->app->window()->rootViewController() : nullptr;
        auto* nav = root ? dynamic_cast<toolkit::NavigationController*>(root->presentedViewController()) : nullptr;
        if (!nav || nav->viewControllers().empty()) return nullptr;
        return dynamic_cast<VC_NewMessage*>(nav->viewControllers().front().get());
    }
    std::vector<std::string> tokenObjects() {
        std::vector<std::string> out;
        for (const auto& v : screen()->number().tokenObjects()) out.push_back(v.stringValue());
        return out;
    }
    std::vector<emulator::SentMessage> received() {
        return this->service->withAccount([](emulator::Account& a) { return a.sent; });
    }
    bool runUntil(const std::function<bool()>& done, double seconds = 10) {
        const bool ok = this->harness.clock().runUntil(done, seconds);
        this->harness.settle();
        return ok;
    }
};

}  // namespace hxtest
