// The loading overlay: a progress screen with a label over the front-most screen while work the
// user waits for is under way. The shell owns it (the application object implements this); the
// web client asks for it around sign-ins and settings loads, and the screens that show it take it
// as their role.
#pragma once

#include <string>

class HXLoadingOverlayRole {
public:
    virtual ~HXLoadingOverlayRole() = default;
    virtual bool loadingOverlayShown() const = 0;
    virtual void removeLoadingOverlay() = 0;
    // Puts the loading overlay over the front-most screen with this label.
    virtual void showLoadingOverlay(const std::string& statusText) = 0;
};
