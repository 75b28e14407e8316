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

// A quick reader for what browsers send: a page's text is one long string,
// which it copies in runs between escapes instead of character by character.
// It is strict: anything it is unsure of (it takes numbers from the general
// parser, and turns down nesting deeper than a message has) makes it give up,
// and the general parser reads the message instead.
class QuickReader {
public:
    explicit QuickReader(std::string_view text) : at_(text.data()), end_(text.data() + text.size()) {}

    bool document(nlohmann::json& out) {
        if (!value(out, 0)) return false;
        skipSpace();
        return at_ == end_;
    }

private:
    static constexpr int kDeepest = 64;

    void skipSpace() {
        while (at_ != end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
    }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - at_) < word.size() || std::string_view(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }

    bool value(nlohmann::json& out, int depth) {
        skipSpace();
        if (at_ == end_ || depth > kDeepest) return false;
        switch (*at_) {
            case '"': {
                std::string text;
                if (!string(text)) return false;
                out = std::move(text);
                return true;
            }
            case '{': return object(out, depth);
            case '[': return array(out, depth);
            case 't': out = true; return literal("true");
            case 'f': out = false; return literal("false");
            case 'n': out = nullptr; return literal("null");
            default: return number(out);
        }
    }

    bool object(nlohmann::json& out, int depth) {
        ++at_;
        out = nlohmann::json::object();
        skipSpace();
        if (at_ != end_ && *at_ == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            skipSpace();
            std::string key;
            if (at_ == end_ || *at_ != '"' || !string(key)) return false;
            skipSpace();
            if (at_ == end_ || *at_ != ':') return false;
            ++at_;
            nlohmann::json member;
            if (!value(member, depth + 1)) return false;
            out[std::move(key)] = std::move(member);
            skipSpace();
            if (at_ == end_) return false;
            if (*at_ == '}') {
                ++at_;
                return true;
            }
            if (*at_++ != ',') return false;
        }
    }

    bool array(nlohmann::json& out, int depth) {
        ++at_;
        out = nlohmann::json::array();
        skipSpace();
        if (at_ != end_ && *at_ == ']') {
            ++at_;
            return true;
        }
        for (;;) {
            nlohmann::json item;
            if (!value(item, depth + 1)) return false;
            out.push_back(std::move(item));
            skipSpace();
            if (at_ == end_) return false;
            if (*at_ == ']') {
                ++at_;
                return true;
            }
            if (*at_++ != ',') return false;
        }
    }

    // The number's characters, read by the general parser so that it has the same type and value.
    bool number(nlohmann::json& out) {
        const char* start = at_;
        while (at_ != end_ && (std::isdigit(static_cast<unsigned char>(*at_)) || *at_ == '-' || *at_ == '+' ||
                               *at_ == '.' || *at_ == 'e' || *at_ == 'E'))
            ++at_;
        if (at_ == start) return false;
        out = nlohmann::json::parse(start, at_, nullptr, false);
        return out.is_number();
    }

    // Four hex digits after "\u".
    bool unit(unsigned& code) {
        if (end_ - at_ < 4) return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *at_++;
            code <<= 4;
            if (c >= '0' && c <= '9') code |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') code |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') code |= static_cast<unsigned>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // The length of the well-formed UTF-8 sequence at `at_` (RFC 3629: no
    // overlong forms, no surrogates, nothing past U+10FFFF); 0 if there is none.
    std::size_t utf8Sequence() const {
        const auto byte = [&](std::ptrdiff_t i) { return static_cast<unsigned char>(at_[i]); };
        const unsigned char lead = byte(0);
        const std::ptrdiff_t left = end_ - at_;
        auto continues = [&](std::ptrdiff_t i, unsigned char low, unsigned char high) {
            return i < left && byte(i) >= low && byte(i) <= high;
        };
        if (lead >= 0xC2 && lead <= 0xDF) return continues(1, 0x80, 0xBF) ? 2 : 0;
        if (lead >= 0xE0 && lead <= 0xEF) {
            const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
            return continues(1, low, high) && continues(2, 0x80, 0xBF) ? 3 : 0;
        }
        if (lead >= 0xF0 && lead <= 0xF4) {
            const unsigned char low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
            return continues(1, low, high) && continues(2, 0x80, 0xBF) && continues(3, 0x80, 0xBF) ? 4 : 0;
        }
        return 0;
    }

    bool string(std::string& out) {
        ++at_;  // the opening quote
        for (;;) {
            // A run of plain characters, taken whole.
            const char* run = at_;
            while (at_ != end_) {
                const auto c = static_cast<unsigned char>(*at_);
                if (c == '"' || c == '\\' || c < 0x20) break;
                if (c < 0x80) {
                    ++at_;
                } else {
                    const std::size_t length = utf8Sequence();
                    if (length == 0) return false;
                    at_ += length;
                }
            }
            out.append(run, static_cast<std::size_t>(at_ - run));
            if (at_ == end_) return false;
            const char c = *at_++;
            if (c == '"') return true;
            if (c != '\\' || at_ == end_) return false;  // a control character
            switch (*at_++) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned code;
                    if (!unit(code)) return false;
                    if (code >= 0xD800 && code <= 0xDBFF && end_ - at_ >= 6 && at_[0] == '\\' && at_[1] == 'u') {
                        const char* back = at_;
                        at_ += 2;
                        unsigned low;
                        if (!unit(low)) return false;
                        if (low >= 0xDC00 && low <= 0xDFFF) {
                            appendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                            break;
                        }
                        at_ = back;  // another escape follows the lone high surrogate
                    }
                    // An unpaired surrogate (a text cut in the middle of an emoji) becomes U+FFFD.
                    appendUtf8(out, code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : code);
                    break;
                }
                default: return false;
            }
        }
    }

    const char* at_;
    const char* end_;
};

}  // namespace

nlohmann::json parseMessage(std::string_view text) {
    nlohmann::json parsed;
    if (QuickReader(text).document(parsed)) return parsed;
    parsed = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (parsed.is_discarded()) parsed = nlohmann::json::parse(replaceUnpairedSurrogates(text), nullptr, false);
    return parsed;
}

}  // namespace vesko::protocol
