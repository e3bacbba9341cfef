// The application object: the one hub of shared state that every part reaches. One class whose
// operations are defined by concern in the folder of the subsystem they belong to
// (model/connect_app_delegate_*.cpp for the data model's, service/ for the web client's, app/
// for the shell's), so each builds and tests without the user interface.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class HXCPhoneFormat;

class HX_ConnectAppDelegate {
public:
    HX_ConnectAppDelegate() = default;
    virtual ~HX_ConnectAppDelegate() = default;
    HX_ConnectAppDelegate(const HX_ConnectAppDelegate&) = delete;
    HX_ConnectAppDelegate& operator=(const HX_ConnectAppDelegate&) = delete;

    // The application's delegate (what the platform's shared application answers); null while
    // none is installed, in which case the string utilities format nothing.
    static std::shared_ptr<HX_ConnectAppDelegate> sharedDelegate();
    static void setSharedDelegate(std::shared_ptr<HX_ConnectAppDelegate> delegate);

    // ---- data model (model/)

    // The shared formatter (default country "us"), created on first request; each call counts
    // one use that the caller gives back with decreasePhoneFormatterAccessCount().
    std::shared_ptr<HXCPhoneFormat> phoneFormatter();
    void decreasePhoneFormatterAccessCount();
    uint64_t phoneFormatterAccessCount() const;
    // On a memory warning: drops the formatter when no use is out, so the next request builds
    // a new one. True when it was dropped.
    bool releasePhoneFormatterIfUnused();

    // Uses of private child contexts at work on the store.
    uint64_t mocAccessCount() const;
    void setMocAccessCount(uint64_t count);

    // s escaped as the inside of a JSON string literal.
    std::string JSONStringFromString(std::string_view s) const;

    // ---- shared flags (preference mirrors and state, set by the shell)

    bool isInBackground() const { return isInBackground_; }
    void setIsInBackground(bool v) { isInBackground_ = v; }
    bool graphicalEmoticons() const { return graphicalEmoticons_; }
    void setGraphicalEmoticons(bool v) { graphicalEmoticons_ = v; }
    bool autoRefresh() const { return autoRefresh_; }
    void setAutoRefresh(bool v) { autoRefresh_ = v; }
    bool newMessageAlert() const { return newMessageAlert_; }
    void setNewMessageAlert(bool v) { newMessageAlert_ = v; }
    bool isPhone() const { return isPhone_; }
    void setIsPhone(bool v) { isPhone_ = v; }

    // The application object's monitor (`@synchronized(self)`): around the access counts, the
    // contacts-loading flag and the login state.
    std::recursive_mutex& monitor() const { return monitor_; }

private:
    mutable std::recursive_mutex monitor_;
    std::shared_ptr<HXCPhoneFormat> phoneFormatter_;
    uint64_t phoneFormatterAccessCount_ = 0;
    uint64_t mocAccessCount_ = 0;
    bool isInBackground_ = false;
    bool graphicalEmoticons_ = true;
    bool autoRefresh_ = true;
    bool newMessageAlert_ = false;
    bool isPhone_ = false;
};
