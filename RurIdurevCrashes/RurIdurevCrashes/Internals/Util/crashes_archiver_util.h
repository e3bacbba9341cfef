// The crashes service's archivable classes: known to the archive registry, on the allowed list of
// secure decoding, and readable under the names older versions archived them with.
#pragma once

class ZIVOCrashesArchiverUtil {
public:
    ZIVOCrashesArchiverUtil() = delete;
    // Registers the classes (once per process), adds the old-name migrations and the allowed list.
    static void addAllowedCrashesModuleClasses();
    static void registerCrashesModuleClasses();
    static void addMigrationClasses();
};
