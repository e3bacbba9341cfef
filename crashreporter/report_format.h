// The crash report file: the magic "zvcrash" (no NUL), one version byte, then one
// zvcrash.CrashReport message to the end of the file. The message's field numbers and enumeration
// values are generated from the schema (zvcrash_fields.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crashreporter/zvcrash_fields.h"

inline constexpr char ZVCRASH_REPORT_MAGIC[] = "zvcrash";
inline constexpr size_t ZVCRASH_REPORT_MAGIC_LENGTH = sizeof ZVCRASH_REPORT_MAGIC - 1;
inline constexpr uint8_t ZVCRASH_REPORT_VERSION = 1;
inline constexpr size_t ZVCRASH_REPORT_HEADER_LENGTH = ZVCRASH_REPORT_MAGIC_LENGTH + 1;
