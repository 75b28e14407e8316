#include "web/Reply.hpp"

namespace vesko::reply {
namespace {

// One pass over the text; `rule` maps a character (or the two line/paragraph
// separators, given as 0x2028 and 0x2029) to its replacement, or nullptr to
// copy it. U+2028 and U+2029 are three-byte sequences E2 80 A8 / E2 80 A9.
template <typename Rule>
std::string escape(std::string_view text, Rule rule) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 8);
    const char* p = text.data();
    const char* end = p + text.size();
    const char* run = p;  // start of the pending unescaped run
    while (p < end) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const char* replacement = nullptr;
        std::size_t width = 1;
        if (c == 0xE2 && end - p >= 3 && static_cast<unsigned char>(p[1]) == 0x80 &&
            (static_cast<unsigned char>(p[2]) == 0xA8 || static_cast<unsigned char>(p[2]) == 0xA9)) {
            replacement = static_cast<unsigned char>(p[2]) == 0xA8 ? "\\u2028" : "\\u2029";
            width = 3;
        } else if (c == '\\' || c == '\'' || c == '\n' || c == '\r') {
            replacement = rule(static_cast<char>(c));
        }
        if (replacement) {
            out.append(run, p);
            out.append(replacement);
            p += width;
            run = p;
        } else {
            ++p;
        }
    }
    out.append(run, end);
    return out;
}

const char* common(char c) {
    switch (c) {
        case '\\': return "\\\\";
        case '\'': return "\\'";
        case '\n': return "\\n";
        default: return "\\r";
    }
}

constexpr std::string_view kResolveOpen = "Bridge._resolve('";
constexpr std::string_view kRejectOpen = "Bridge._reject('";

std::string concat(std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (auto piece : pieces) size += piece.size();
    std::string out;
    out.reserve(size);
    for (auto piece : pieces) out.append(piece);
    return out;
}

}  // namespace

std::string parseEscape(std::string_view text) {
    return escape(text, [](char c) { return c == '\r' ? "" : common(c); });
}

std::string bodyEscape(std::string_view text) { return escape(text, common); }
std::string messageEscape(std::string_view text) { return escape(text, common); }
std::string quoteEscape(std::string_view text) { return escape(text, common); }

std::string resolveValue(std::string_view callbackId, std::string_view json) {
    return concat({kResolveOpen, callbackId, "', ", json, ")"});
}

std::string resolveParsed(std::string_view callbackId, std::string_view json) {
    return concat({kResolveOpen, callbackId, "', JSON.parse('", parseEscape(json), "'))"});
}

std::string resolveText(std::string_view callbackId, std::string_view text) {
    return concat({kResolveOpen, callbackId, "', '", quoteEscape(text), "')"});
}

std::string rejectMessage(std::string_view callbackId, std::string_view message,
                          MessageEscaping escaping) {
    const std::string escaped =
        escaping == MessageEscaping::Message ? messageEscape(message) : quoteEscape(message);
    return concat({kRejectOpen, callbackId, "', '", escaped, "')"});
}

std::string_view fixedMessage(FixedReject which) {
    switch (which) {
        case FixedReject::InvalidURL: return "Invalid URL";
        case FixedReject::ProxyRestricted: return "Proxy restricted to allowed hosts";
        case FixedReject::EmptyResponse: return "Empty response";
        case FixedReject::InvalidBase64: return "Invalid base64 data";
        case FixedReject::InvalidJSON: return "Invalid JSON data";
    }
    return {};
}

std::string rejectFixed(std::string_view callbackId, FixedReject which) {
    return concat({kRejectOpen, callbackId, "', '", fixedMessage(which), "')"});
}

std::string resolveFetchResponse(std::string_view callbackId, std::int64_t status,
                                 std::string_view body) {
    const std::string digits = std::to_string(status);
    return concat({"(function(){try{Bridge._resolve('", callbackId, "',{status:", digits,
                   ",body:JSON.parse('", bodyEscape(body), "')})}catch(e){Bridge._reject('",
                   callbackId, "','Invalid JSON response')}})()"});
}

std::string pushAction(std::string_view action) {
    return concat({"if(typeof handleBridgeAction==='function') handleBridgeAction('",
                   quoteEscape(action), "')"});
}

}  // namespace vesko::reply
