// The core's archivable classes: registered for decoding and put on the allowed list.
#pragma once

class ZIVOArchiverUtil {
public:
    ZIVOArchiverUtil() = delete;
    // Adds the core's classes (and the plain kinds its archives hold) to the allowed list.
    static void addAllowedRurIdurevModuleClasses();
    // Makes the core's classes known to the archive registry (once per process).
    static void registerRurIdurevModuleClasses();
};
