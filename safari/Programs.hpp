#pragma once
// The AppleScript programs sent to the script runner.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesko::safari {

// The extraction program for one tab: the first tab whose address starts with
// `targetUrl` when it is present and not empty, else tab `tabIndex` of window 1
// when present, else the current tab of the front window.
std::string buildExtractionScript(const std::optional<std::int64_t>& tabIndex,
                                  const std::optional<std::string>& targetUrl);

// Prints the number of tabs of the front window.
std::string_view tabCountProgram();

// Prints one line per tab of the front window: address, tab character, name;
// the empty text when no window is open.
std::string_view tabListProgram();

// Escapes text for a double-quoted AppleScript string literal as the
// extraction script is embedded: backslash and double quote escaped, each
// line feed turned into a space, carriage returns removed.
std::string escapeScriptForAppleScript(std::string_view script);

// Escapes an address for a double-quoted AppleScript string literal:
// backslash and double quote escaped, nothing else touched.
std::string escapeAddressForAppleScript(std::string_view address);

}  // namespace vesko::safari
