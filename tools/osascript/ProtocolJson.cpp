#include "tools/osascript/ProtocolJson.hpp"

#include <cctype>
#include <string>

namespace vesko::protocol {

namespace {

bool isHex4(std::string_view text, std::size_t at) {
    if (at + 4 > text.size()) return false;
    for (std::size_t i = at; i < at + 4; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

unsigned hex4(std::string_view text, std::size_t at) {
    return static_cast<unsigned>(std::stoul(std::string(text.substr(at, 4)), nullptr, 16));
}

// Replaces each unpaired surrogate escape with \uFFFD.
std::string replaceUnpairedSurrogates(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        if (text[i + 1] != 'u' || !isHex4(text, i + 2)) {
            out += c;
            out += text[++i];  // any other escape, including \\, passes whole
            continue;
        }
        unsigned unit = hex4(text, i + 2);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 12 <= text.size() && text[i + 6] == '\\' &&
            text[i + 7] == 'u' && isHex4(text, i + 8)) {
            unsigned low = hex4(text, i + 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.append(text.substr(i, 12));
                i += 11;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF)
            out += "\\uFFFD";
        else
            out.append(text.substr(i, 6));
        i += 5;
    }
    return out;
}

}  // namespace

nlohmann::json parseMessage(std::string_view text) {
    nlohmann::json parsed = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (parsed.is_discarded()) parsed = nlohmann::json::parse(replaceUnpairedSurrogates(text), nullptr, false);
    return parsed;
}

}  // namespace vesko::protocol
