#pragma once
// The system log of the extension process. Lines go to syslog (the journal)
// at the default (notice) level under the name "vesko-extension"; they can be
// sent to standard error instead, and tests can capture them.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace extension::platform::log {

void write(const std::string& line);

// Replaces the destination of every line (nullptr restores the default).
// Returns the previous sink.
using Sink = std::function<void(const std::string&)>;
Sink setSink(Sink sink);

// Sends lines to standard error instead of syslog (when no sink is set).
void useStandardError(bool enabled);

// The form a line takes in syslog or on standard error: control characters
// (line breaks, NUL ...) written as escapes so that one call stays one line,
// and text beyond maxBytes cut off with a note of how much was left out.
inline constexpr std::size_t kMaxSystemLogLine = 16 * 1024;
std::string systemLogForm(std::string_view line, std::size_t maxBytes = kMaxSystemLogLine);

}  // namespace extension::platform::log
