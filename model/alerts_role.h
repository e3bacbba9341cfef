// Alerts and the state every screen may ask about, and the stored preferences the screens follow.
// The data model's slice of the application object implements the role (model/application_model.h):
// the account, the connection and contacts access are its own, an alert controller presented from
// a screen is the shell's (the application object's), which the slice asks for.
#pragma once

#include <memory>

#include "model/alert.h"
#include "platform/foundation/user_defaults.h"

class HX_Account;
namespace toolkit {
class AlertController;
class ViewController;
}  // namespace toolkit

// The stored preferences the screens follow, each named once: the key it is stored under and
// what it is while unset (the settings rows that switch them take the same keys).
enum class HXPreference {
    GraphicalEmoticons,
    ShowNotesInMessageLists,
    ShowMessageCounts,
    ShakeRefresh,
    PrefetchVoicemail,
    OpenToFavorites,
    SMSReturnKeySend,
    SkipDialpad,
    NativeDialerActions,
};
struct HXPreferenceKey {
    const char* key;
    bool unset;
};
constexpr HXPreferenceKey HXPreferenceKeyOf(HXPreference preference) {
    switch (preference) {
        case HXPreference::GraphicalEmoticons:
            return {"graphicalEmoticons", true};
        case HXPreference::ShowNotesInMessageLists:
            return {"showNotesInMessageLists", false};
        case HXPreference::ShowMessageCounts:
            return {"showMessageCounts", false};
        case HXPreference::ShakeRefresh:
            return {"shakeRefresh", false};
        case HXPreference::PrefetchVoicemail:
            return {"VMprefetch", false};
        case HXPreference::OpenToFavorites:
            return {"OpenToFavorites", false};
        case HXPreference::SMSReturnKeySend:
            return {"smsReturnKeySend", false};
        case HXPreference::SkipDialpad:
            return {"skipDialpad", false};
        case HXPreference::NativeDialerActions:
            return {"useNativeDialerActions", false};
    }
    return {"", false};
}

// Alerts and the state any screen may ask about: the current account, the connection, whether
// contacts may be read, the stored preferences, and the alerts themselves (a model alert over
// whatever is shown, or an alert controller from a screen). A screen that needs any of these
// takes this role; no other role repeats them.
class HXAlertsRole {
public:
    virtual ~HXAlertsRole() = default;
    // The stored value of a preference, its unset value while none is stored. The role reads the
    // stored preferences itself (a double may answer its own).
    virtual bool preference(HXPreference preference) const {
        const HXPreferenceKey stored = HXPreferenceKeyOf(preference);
        return foundation::UserDefaults::standardUserDefaults()->objectForKey(stored.key).boolValue(stored.unset);
    }
    virtual std::shared_ptr<HX_Account> account() const = 0;
    virtual bool connectionAvailable() const = 0;
    // False when the app may read contacts; true after telling the user why not.
    virtual bool isABAccessRestricted() = 0;
    virtual void presentAlert(const HXAlert& alert) = 0;
    // Dismisses the alert shown last this way if it is still up, then presents alert from from (or
    // from the top of the window's root).
    virtual void presentAlert(const std::shared_ptr<toolkit::AlertController>& alert,
                              toolkit::ViewController* from) = 0;
    // Opens the platform's settings page of the app, where the user grants what an alert asked
    // for (contacts, location); a double may leave it out.
    virtual void openApplicationSettings() {}
};
