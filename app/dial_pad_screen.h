// The dial pad as the shell drives it: the "call" URL fills its number, refreshes it and may
// open its favourites. The dial pad screen (view 0's root, made by the screen library)
// implements it; the shell finds it through viewControllerForIndex(0).
#pragma once

#include <cstdint>
#include <string>

class HXDialPadScreen {
public:
    virtual ~HXDialPadScreen() = default;
    // Shows number (already formatted) as the dialled number, as a fresh one.
    virtual void showDialedNumber(const std::string& number) = 0;
    // Looks the contact up for number; any queue.
    virtual void updateContactLabelForNumber(const std::string& number) = 0;
    virtual void setCallButtonState() = 0;
    virtual void startUpdates() = 0;
    virtual void openFavorites() = 0;
    // Shows the call method phoneID (a linked phone's id, -1 direct call, -2 the phone's own
    // dialer) as chosen for the shown number, without storing it: the Call key stores it as the
    // account's call method and calls with it. Another number or method drops it.
    virtual void proposeCallMethod(int64_t phoneID) = 0;
};
