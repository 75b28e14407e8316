#pragma once
// Reading bytes as text.

#include <string_view>

namespace platform::text {

// True when `bytes` is well-formed UTF-8: no stray continuation bytes, no
// truncated, overlong or surrogate sequences, nothing above U+10FFFF.
bool isValidUTF8(std::string_view bytes);

}  // namespace platform::text
