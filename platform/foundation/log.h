// One line about a fault that the user would otherwise never learn of (a store moved aside, a
// write that failed), written to standard error. Tests can take the lines instead.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace foundation {

using LogSink = std::function<void(const std::string& line)>;

// Writes "hx_connect: <line>" to standard error, or hands the line to the installed sink.
void logFault(std::string_view line);

// Installs a sink (none: standard error again) and returns the one it replaces.
LogSink setLogSink(LogSink sink);

// Logs the line the first time a fault of this kind happens, and again only after
// faultCleared(kind) (a later success) was called: a fault that repeats at every write is
// reported once, not once per write.
void logFaultOnce(std::string_view kind, std::string_view line);
void faultCleared(std::string_view kind);

}  // namespace foundation
