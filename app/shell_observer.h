// What a test watches of the shell: the operations of screens and components that are not built
// yet, by name with their arguments, and the alerts the lower layers ask for. Tests install an
// observer on the application object (setShellObserver) before they use it; the product only
// tells the observer and never reads anything back from it, so every answer the shell gives
// comes from its own state.
#pragma once

#include <string>

#include "model/alert.h"

class HXShellObserver {
public:
    virtual ~HXShellObserver() = default;
    // Called on the thread of the operation (the web client's reply queues too).
    virtual void shellCall(const std::string& call) = 0;
    virtual void shellAlert(const HXAlert& alert) = 0;
};
