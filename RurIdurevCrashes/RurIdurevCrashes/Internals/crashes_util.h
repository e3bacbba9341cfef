// Names of the crashes service's directories under the SDK files directory; each is created the
// first time it is asked for in the process.
#pragma once

#include <string>

class ZIVOCrashesUtil {
public:
    static std::string crashesDir();
    static std::string logBufferDir();
    static std::string wrapperExceptionsDir();
    // The next call of each creates its directory again.
    static void resetDirectory();
};
