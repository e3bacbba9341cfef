#include "tests/support/shell_recorder.h"

#include <algorithm>

void HXCallRecord::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<std::string> HXCallRecord::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

size_t HXCallRecord::count(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
        return c == name || (c.size() > name.size() && c.compare(0, name.size(), name) == 0 && c[name.size()] == ' ');
    });
}

void HXCallRecord::clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

HXShellRecorder::Script HXShellRecorder::script() const {
    std::lock_guard lock(mutex_);
    return script_;
}

std::shared_ptr<HXMessageListReceiver> HXShellRecorder::scriptedMessageList(int viewIndex) const {
    std::lock_guard lock(mutex_);
    auto it = script_.messageLists.find(viewIndex);
    return it == script_.messageLists.end() ? nullptr : it->second;
}

void HXShellRecorder::changeScript(const std::function<void(Script&)>& change) {
    std::lock_guard lock(mutex_);
    change(script_);
}

std::vector<HXAlert> HXShellRecorder::alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
}

void HXShellRecorder::shellAlert(const HXAlert& alert) {
    {
        std::lock_guard lock(mutex_);
        alerts_.push_back(alert);
    }
    record("presentAlert " + alert.title);
}

bool HXShellRecorder::tap(std::string_view title) {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        if (alerts_.empty()) return false;
        const auto& actions = alerts_.back().actions;
        auto it =
            std::find_if(actions.begin(), actions.end(), [&](const HXAlertAction& a) { return a.title == title; });
        if (it == actions.end()) return false;
        handler = it->handler;
    }
    // Outside the lock: a handler may ask the shell for more.
    if (handler) handler();
    return true;
}

void HXMessageListStandIn::recordParse(std::string call, const std::shared_ptr<const foundation::Data>& data) {
    {
        std::lock_guard lock(dataMutex_);
        parsedData_.emplace_back(data ? std::string(data->begin(), data->end()) : std::string());
    }
    record(std::move(call));
}

std::vector<std::string> HXMessageListStandIn::parsedData() const {
    std::lock_guard lock(dataMutex_);
    return parsedData_;
}

void HXMessageListStandIn::parseMessagesFromData(std::shared_ptr<const foundation::Data> data,
                                                 FetchCompletion completion) {
    recordParse(std::string("parseMessagesFromData") + (completion ? " completion" : ""), data);
    if (completion) completion(fetchResult);
}

void HXMessageListStandIn::parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                                                 FetchCompletion completion) {
    recordParse("parseMessagesFromData flags " + std::to_string(flags), data);
    if (completion) completion(fetchResult);
}

void HXMessageListStandIn::abortLoading() { record("abortLoading"); }
