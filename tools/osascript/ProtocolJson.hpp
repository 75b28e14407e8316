#pragma once
// Reading the JSON messages browsers send over their remote protocols.

#include <nlohmann/json.hpp>

#include <string_view>

namespace vesko::protocol {

// Parses one protocol message. JavaScript strings may hold unpaired
// surrogates (a text cut in the middle of an emoji), which browsers write as
// \uD83D escapes and strict JSON parsers refuse; each such one becomes
// U+FFFD. A discarded value when the text is not JSON even then.
nlohmann::json parseMessage(std::string_view text);

}  // namespace vesko::protocol
