// The settings screen (view 4's root, made by the screen library) as the quick settings drive it:
// the rows of its tags, their busy state, and the changes of the service settings. The shell
// finds it through viewControllerForIndex(4).
#pragma once

#include <string>
#include <utility>

#include "platform/toolkit/geometry.h"
#include "service/settings_updates.h"

class HXSettingsScreen {
public:
    virtual ~HXSettingsScreen() = default;

    // The section of a row tag: -1 for the tags never shown (99, 125) and for a tag whose section
    // the account does not have now; 0 for a tag outside 99-132.
    virtual long sectionForTag(int tag) = 0;
    // The row of a tag; (-1, -1) for 99 and 125.
    virtual toolkit::IndexPath indexPathForTag(int tag) = 0;
    // Marks the row at path busy: its indicator shows from the next draw until its change ends.
    virtual void markRowBusy(const toolkit::IndexPath& path) = 0;
    // Draws the row of tag again from the account, ending its busy state.
    virtual void reloadTableCellForTag(int tag) = 0;
    // Draws a section again (the callback phone's, after a local change of the choice).
    virtual void reloadSection(long section) = 0;
    // Names the quick setting that matches the account now (the indicator row).
    virtual void updateQuickSetting() = 0;

    // The changes of the service settings. Each sends at most one request; a change that ends
    // without a reply read onto the account (nothing sent, failed) draws its row again from the
    // account. completion (optional) hears the end, on the main queue.
    virtual void setServiceSetting(HXServiceSetting setting, bool value, HXSettingsCompletion completion = {}) = 0;
    virtual void setVMGreeting(const std::string& greetingId, HXSettingsCompletion completion = {}) = 0;
    // index: the phone's position in the account's sortedPhones (its row in the call-forwarding
    // section); a position the account does not have sends nothing.
    virtual void enableForwardingForNumber(long index, bool status, HXSettingsCompletion completion = {}) = 0;

    void setGlobalSpamFiltering(bool on, HXSettingsCompletion c = {}) {
        set(HXServiceSetting::GlobalSpamFiltering, on, c);
    }
    void setDND(bool on, HXSettingsCompletion c = {}) { set(HXServiceSetting::DND, on, c); }
    void setVMtranscription(bool on, HXSettingsCompletion c = {}) { set(HXServiceSetting::VMtranscription, on, c); }
    void setCallOptions(bool on, HXSettingsCompletion c = {}) { set(HXServiceSetting::CallOptions, on, c); }
    void setSMSEmailNotification(bool on, HXSettingsCompletion c = {}) {
        set(HXServiceSetting::SMSEmailNotification, on, c);
    }
    void setMissedCallsEmailNotification(bool on, HXSettingsCompletion c = {}) {
        set(HXServiceSetting::MissedCallsEmailNotification, on, c);
    }
    void setVMEmailNotification(bool on, HXSettingsCompletion c = {}) {
        set(HXServiceSetting::VMEmailNotification, on, c);
    }
    void setDirectConnect(bool on, HXSettingsCompletion c = {}) { set(HXServiceSetting::DirectConnect, on, c); }
    void setHXasCID(bool on, HXSettingsCompletion c = {}) { set(HXServiceSetting::HXasCID, on, c); }

private:
    void set(HXServiceSetting setting, bool on, HXSettingsCompletion& completion) {
        setServiceSetting(setting, on, std::move(completion));
    }
};
