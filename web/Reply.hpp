#pragma once
// The scripts the native side evaluates in the page: answers to bridge
// requests (resolve and reject, addressed by callback id) and the push of a
// page action. Every form takes the raw text and applies the escaping that
// belongs to it, so a caller cannot pair a form with the wrong escaping.
//
// The callback id is inserted as received, between single quotes; the page
// makes ids without quotes, backslashes or line breaks.

#include <cstdint>
#include <string>
#include <string_view>

namespace vesko::reply {

// Escapings for text inside a single-quoted JavaScript string literal.
// Beyond the characters each one is known for, every escaping also escapes
// what would otherwise end the literal or start an escape sequence (line
// feed, carriage return, backslash, U+2028, U+2029), so the page always
// receives the text itself. Parse escaping deletes carriage returns instead.
std::string parseEscape(std::string_view text);    // for JSON.parse('...')
std::string bodyEscape(std::string_view text);     // response bodies
std::string messageEscape(std::string_view text);  // user-facing messages
std::string quoteEscape(std::string_view text);    // plain strings

// Bridge._resolve('ID', VALUE): `json` is a JSON text, inserted as an expression.
std::string resolveValue(std::string_view callbackId, std::string_view json);

// Bridge._resolve('ID', JSON.parse('TEXT')): `json` is parse-escaped.
std::string resolveParsed(std::string_view callbackId, std::string_view json);

// Bridge._resolve('ID', 'TEXT'): `text` is quote-escaped.
std::string resolveText(std::string_view callbackId, std::string_view text);

enum class MessageEscaping { Message, Quote };

// Bridge._reject('ID', 'MESSAGE') with the escaping the caller's situation names:
// Message for the messages shown after a failed extraction, Quote for an
// error's description.
std::string rejectMessage(std::string_view callbackId, std::string_view message,
                          MessageEscaping escaping);

enum class FixedReject { InvalidURL, ProxyRestricted, EmptyResponse, InvalidBase64, InvalidJSON };

// Bridge._reject('ID', 'fixed message').
std::string rejectFixed(std::string_view callbackId, FixedReject which);

// The fixed message itself, as the page receives it.
std::string_view fixedMessage(FixedReject which);

// Resolves { status, body: JSON.parse(body) }, or rejects with
// "Invalid JSON response" when the page cannot parse the body. `body` is body-escaped.
std::string resolveFetchResponse(std::string_view callbackId, std::int64_t status,
                                 std::string_view body);

// if(typeof handleBridgeAction==='function') handleBridgeAction('ACTION'); quote-escaped.
std::string pushAction(std::string_view action);

namespace detail {
// Turns the processor-specific escaping path off (tests compare both paths).
void allowWideEscaping(bool allowed);
}  // namespace detail

}  // namespace vesko::reply
