// Controllers that log their appearance callbacks, and a window on the virtual clock, for tests
// that check whole callback sequences.
#pragma once

#include <string>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/view_controller.h"
#include "platform/toolkit/window.h"

namespace toolkit_test {

inline std::vector<std::string>* gLog = nullptr;

class LoggingController : public toolkit::ViewController {
public:
    explicit LoggingController(std::string name) : name_(std::move(name)) {}
    void viewDidLoad() override { log("viewDidLoad"); }
    void viewWillAppear(bool a) override { log(std::string("willAppear") + (a ? "(a)" : "")); }
    void viewDidAppear(bool a) override { log(std::string("didAppear") + (a ? "(a)" : "")); }
    void viewWillDisappear(bool a) override { log(std::string("willDisappear") + (a ? "(a)" : "")); }
    void viewDidDisappear(bool a) override { log(std::string("didDisappear") + (a ? "(a)" : "")); }

private:
    void log(const std::string& what) {
        if (gLog) gLog->push_back(name_ + "." + what);
    }
    std::string name_;
};

struct Fixture {
    dispatch::ScopedVirtualClock clock;
    std::vector<std::string> log;
    toolkit::Window window{toolkit::ScreenProfile::iPhone8()};
    Fixture() {
        gLog = &log;
        toolkit::Device::current().reset();
    }
    ~Fixture() { gLog = nullptr; }
    std::vector<std::string> take() {
        auto out = log;
        log.clear();
        return out;
    }
};

using Seq = std::vector<std::string>;

}  // namespace toolkit_test
