// Bridge requests as the page may post them, and the reply scripts made of
// what they carry: decoding never fails in a way other than "dropped", a
// decoded request's callback id is safe to insert, and every escaped text,
// read back as the JavaScript string literal it is inserted as, is the text
// itself (less its carriage returns for JSON.parse).
#include "platform/Text.hpp"
#include "web/BridgeRequest.hpp"
#include "web/Reply.hpp"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

void appendUtf8(std::string& out, unsigned c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// What a single-quoted JavaScript string literal with this content means, as
// bytes; nothing when the content would end the literal early or is no valid
// literal content (an unknown escape, a raw line terminator).
std::optional<std::string> readLiteral(std::string_view content) {
    std::string out;
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == '\'' || c == '\n' || c == '\r') return std::nullopt;
        if (content.substr(i, 3) == "\xE2\x80\xA8" || content.substr(i, 3) == "\xE2\x80\xA9") return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == content.size()) return std::nullopt;
        switch (content[i]) {
            case '\\': out += '\\'; break;
            case '\'': out += '\''; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 'u': {
                unsigned value = 0;
                for (std::size_t k = 1; k <= 4; ++k) {
                    if (i + k >= content.size()) return std::nullopt;
                    const char h = content[i + k];
                    const int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                                      : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
                    if (digit < 0) return std::nullopt;
                    value = value * 16 + static_cast<unsigned>(digit);
                }
                appendUtf8(out, value);
                i += 4;
                break;
            }
            default: return std::nullopt;
        }
    }
    return out;
}

std::string withoutCarriageReturns(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

// The literal's content in `script` between `open` and `close`, which must be
// the script's start and end.
std::string_view between(std::string_view script, std::string_view open, std::string_view close) {
    check(script.size() >= open.size() + close.size() && script.starts_with(open) && script.ends_with(close));
    return script.substr(open.size(), script.size() - open.size() - close.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace reply = vesko::reply;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    check(readLiteral(reply::quoteEscape(text)) == std::string(text));
    check(readLiteral(reply::messageEscape(text)) == std::string(text));
    check(readLiteral(reply::bodyEscape(text)) == std::string(text));
    // Parse escaping only ever gets UTF-8 (checked runner output). In bytes
    // that are not, dropping carriage returns can join the pieces of a line
    // separator, which modern engines take in a literal anyway.
    if (platform::text::isValidUTF8(text)) {
        check(readLiteral(reply::parseEscape(text)) == withoutCarriageReturns(text));
        check(readLiteral(between(reply::resolveParsed("id", text), "Bridge._resolve('id', JSON.parse('", "'))")) ==
              withoutCarriageReturns(text));
    }
    check(readLiteral(between(reply::pushAction(text), "if(typeof handleBridgeAction==='function') handleBridgeAction('",
                              "')")) == std::string(text));

    const auto body = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (body.is_discarded()) return 0;
    const auto request = vesko::bridge::decodeRequest(body);
    if (!request) return 0;
    const std::string& id = request->callbackId;
    check(vesko::bridge::isSafeCallbackId(id));
    // The id goes in as it is and cannot leave its quotes.
    check(readLiteral(id) == id);
    return 0;
}
