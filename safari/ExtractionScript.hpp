#pragma once
// The script that runs inside a browser tab and gathers an article's raw
// material as one JSON text: {raw_text, raw_html, title, publication, url,
// head_html, header_html, url_date}.
//
// The text has to survive being turned into a single line (every line feed
// becomes a space): no line comments, every statement ends with a semicolon,
// and string literals hold no real line breaks.

#include <string_view>

namespace vesko::safari {

extern const std::string_view kExtractionScript;

}  // namespace vesko::safari
