// The session's operations the screens take: the web sign-in panel's and the account list's.
// The web client's slice of the application object implements both (service/session.cpp); the
// shell's device forms present the sign-in panel (displayLogin).
#pragma once

#include <string>
#include <vector>

#include "platform/net/cookie.h"
#include "service/endpoints.h"

// The web sign-in panel's: the service's hosts and the hand-over of a finished sign-in (the
// account being signed in again is the alerts role's).
class HXSignInRole {
public:
    virtual ~HXSignInRole() = default;
    virtual const HXEndpoints& endpoints() = 0;
    // The form's user name, the web view's cookies and the service page the sign-in reached.
    virtual void completeWebSignIn(const std::string& username, std::vector<net::Cookie> cookies,
                                   const std::string& url) = 0;
};

// The account list's: the accounts stored on the device, switching, adding and deleting them.
class HXAccountListRole {
public:
    virtual ~HXAccountListRole() = default;
    // Ends the current session, leaving an empty account.
    virtual void logout() = 0;
    virtual void selectAccountForUserName(const std::string& username) = 0;
    virtual void loadInitialData() = 0;
    // Removes everything kept for username (keychain items, preferences, store, caches).
    virtual void deleteAccountForUsername(const std::string& username) = 0;
    virtual void displayLogin() = 0;
};
