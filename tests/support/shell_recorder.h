// The shell as tests watch it: a recorder installed as the application object's shell observer
// (each operation of a screen or component not built yet, by name with its arguments, and each
// alert asked for), and the application object's form with a few answers a test scripts over
// the product's own (the lists of views that a form without an interface does not have, the view
// shown, the passcode lock's Spotlight switch). The list stand-in records what the web client
// asks of a message list.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/connect_app_delegate.h"
#include "app/shell_observer.h"
#include "model/alert.h"
#include "platform/foundation/thread_annotations.h"
#include "service/message_list_receiver.h"

// Calls recorded in order, safe to use from any thread.
class HXCallRecord {
public:
    void record(std::string call);
    std::vector<std::string> calls() const;
    // How many recorded calls are name itself or name followed by a space and arguments.
    size_t count(std::string_view name) const;
    void clear();

private:
    mutable foundation::Mutex mutex_;
    std::vector<std::string> calls_ HX_GUARDED_BY(mutex_);
};

// The shell observer a RecordedApp installs: the operations and alerts it hears, and the script
// of answers the form gives over the product's own.
class HXShellRecorder : public HXShellObserver, public HXCallRecord {
public:
    // Answers a test puts over the application object's own; unset ones leave the product's.
    struct Script {
        std::optional<bool> locationSwitchTaskRunning;
        std::optional<std::string> pendingLocationSwitch;
        std::optional<int> currentViewIndex;
        // Lists of views 1 to 3 that come before the form's own.
        std::map<int, std::shared_ptr<HXMessageListReceiver>> messageLists;
        std::optional<bool> messageListIsShowing;
    };
    Script script() const;
    std::shared_ptr<HXMessageListReceiver> scriptedMessageList(int viewIndex) const;
    void changeScript(const std::function<void(Script&)>& change);

    // The alerts presented, in order; an alert's buttons are tapped with tap().
    std::vector<HXAlert> alerts() const;
    // Runs the handler of the button titled title of the last alert presented; false without one.
    bool tap(std::string_view title);

    void shellCall(const std::string& call) override { record(call); }
    void shellAlert(const HXAlert& alert) override;

private:
    mutable foundation::Mutex mutex_;
    Script script_ HX_GUARDED_BY(mutex_);
    std::vector<HXAlert> alerts_ HX_GUARDED_BY(mutex_);
};

class HXMessageListStandIn : public HXMessageListReceiver, public HXCallRecord {
public:
    // The bytes of the parses asked for, in order; each completion is answered with fetchResult.
    std::vector<std::string> parsedData() const;
    std::atomic<int> fetchResult{0};

    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, FetchCompletion completion) override;
    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                               FetchCompletion completion) override;
    void abortLoading() override;

private:
    void recordParse(std::string call, const std::shared_ptr<const foundation::Data>& data);
    mutable foundation::Mutex dataMutex_;
    std::vector<std::string> parsedData_ HX_GUARDED_BY(dataMutex_);
};

namespace hxtest {

// The application object's form Base with the recorder installed from its construction and the
// script's answers first.
template <class Base = HX_ConnectAppDelegate>
class RecordedApp : public Base {
public:
    RecordedApp() { this->setShellObserver(shell_); }
    HXShellRecorder& shell() { return *shell_; }

    bool locationSwitchTaskRunning() const override {
        if (auto scripted = shell_->script().locationSwitchTaskRunning) return *scripted;
        return Base::locationSwitchTaskRunning();
    }
    std::optional<std::string> pendingLocationSwitch() const override {
        if (auto scripted = shell_->script().pendingLocationSwitch) return scripted;
        return Base::pendingLocationSwitch();
    }
    int currentViewIndex() override {
        if (auto scripted = shell_->script().currentViewIndex) return *scripted;
        return Base::currentViewIndex();
    }
    std::shared_ptr<HXMessageListReceiver> messageListForViewIndex(int index) override {
        if (auto scripted = shell_->scriptedMessageList(index)) return scripted;
        return Base::messageListForViewIndex(index);
    }
    bool messageListIsShowing() const override {
        if (auto scripted = shell_->script().messageListIsShowing) return *scripted;
        return Base::messageListIsShowing();
    }

private:
    std::shared_ptr<HXShellRecorder> shell_ = std::make_shared<HXShellRecorder>();
};

// The recorder of an application object made as a RecordedApp.
inline HXShellRecorder& shell(HX_ConnectAppDelegate& app) {
    return *std::dynamic_pointer_cast<HXShellRecorder>(app.shellObserver());
}

}  // namespace hxtest
