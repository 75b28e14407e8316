#pragma once
// The messages the page shows when reading a Safari tab failed.

#include <optional>
#include <string>

namespace vesko::safari {

// Turns the raw error text of a failed run (absent when the run gave no usable
// output) into a message for the user. Pure; any thread.
std::string friendlyError(const std::optional<std::string>& error);

// The first `count` user-perceived characters (extended grapheme clusters) of
// UTF-8 `text`, or all of it when it is shorter.
std::string firstGraphemes(const std::string& text, std::size_t count);

}  // namespace vesko::safari
