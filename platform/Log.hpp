#pragma once
// The system log. Lines go to syslog (the journal) under the process's name;
// tests can capture them instead.

#include <functional>
#include <string>

namespace platform::log {

void write(const std::string& line);

// Replaces the destination of every line (nullptr restores syslog).
// Returns the previous sink.
using Sink = std::function<void(const std::string&)>;
Sink setSink(Sink sink);

}  // namespace platform::log
