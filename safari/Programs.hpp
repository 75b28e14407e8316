#pragma once
// The AppleScript programs sent to the script runner.

#include <cstdint>
#include <optional>
#include <string>

namespace vesko::safari {

// The extraction program for one tab: the first tab whose address starts with
// `targetUrl` when it is present and not empty, else tab `tabIndex` of window 1
// when present, else the current tab of the front window.
std::string buildExtractionScript(const std::optional<std::int64_t>& tabIndex,
                                  const std::optional<std::string>& targetUrl);

}  // namespace vesko::safari
