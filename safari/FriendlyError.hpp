#pragma once
// The messages the page shows when reading a browser tab failed.

#include <optional>
#include <string>
#include <string_view>

namespace vesko::safari {

// Turns the raw error text of a failed run (absent when the run gave no usable
// output) into a message for the user. The messages name the browser: Safari
// in a macOS build; elsewhere the browser the runner names in its error
// ("… execution error: Firefox got an error: …"), else the one
// `configuredBrowser` names ("firefox", "chromium", "google-chrome"), else
// "your browser". Pure; any thread.
std::string friendlyError(const std::optional<std::string>& error, std::string_view configuredBrowser);

// The same with the browser the user configured in $VESKO_BROWSER.
std::string friendlyError(const std::optional<std::string>& error);

// The first `count` user-perceived characters (extended grapheme clusters) of
// UTF-8 `text`, or all of it when it is shorter.
std::string firstGraphemes(const std::string& text, std::size_t count);

}  // namespace vesko::safari
