// The settings screen's operations: the app's own preferences, the caches, the counts and the
// stored account. The web client's slice of the application object implements them
// (service/account_settings.cpp); the version text and the background refresh that follows a
// preference are the shell's (the application object's).
#pragma once

#include <string>

// Settings: the version text shown, the stored account preferences, and the account's service
// settings loaded again ("account/get", when the settings view is opened).
class HXSettingsRole {
public:
    virtual ~HXSettingsRole() = default;
    virtual const std::string& versionString() = 0;
    virtual void updateAccountPrefs() = 0;
    virtual void loadPhoneSettings() = 0;
};

// The settings screen's: the app's own preferences and the caches (the changes of the account's
// service settings are the service settings role's, service/settings_updates.h), besides the settings the help page and
// the tablet's master list take (the account, the connection and alerts are the alerts role's, the callback choice the
// call choice's). One object answers both.
class HXAccountSettingsRole : public HXSettingsRole {
public:
    // No request is in flight.
    virtual bool isIdle() = 0;
    // The device can monitor regions (location awareness).
    virtual bool canMonitorRegions() = 0;

    // The application's preferences.
    enum class Preference { AutoRefresh, NewMessageAlert, GraphicalEmoticons, ShowNotesInMessageLists };
    virtual bool preference(Preference preference) const = 0;
    // Sets it; turning automatic refresh on loads the unread messages at once, turning it off
    // cancels a delayed load, and either way the background refresh follows.
    virtual void setPreference(Preference preference, bool on) = 0;
    virtual void updateUnreadCounts() = 0;

    // The caches: messages (the store, its fetch caches and search entries; the lists hear a
    // logout), the current account's audio and video files, and the cookies (followed by a
    // token renewal).
    virtual void clearMessageCache() = 0;
    virtual void clearAudioCache() = 0;
    virtual void clearCookieCache() = 0;
    // The shared picture cache (contact and attachment pictures).
    virtual void clearImageCache() = 0;
};
