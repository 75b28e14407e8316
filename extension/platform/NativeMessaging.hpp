#pragma once
// The browsers' native-messaging channel: each message is a 4-byte length in
// native byte order followed by that many bytes of UTF-8 JSON, on standard
// input from the browser and on standard output back to it. The host turns
// every message into an extension request, hands it to a fresh instance of
// the principal class and frames the reply's message back.
//
// Bad input never ends in a crash or a hang:
// - a body that is framed correctly but is not UTF-8, not JSON, or nested
//   deeper than kMaxNestingDepth is logged and skipped; the next frame is
//   read as usual (no reply is sent for it);
// - a length over kMaxIncomingMessage cannot be trusted to find the next
//   frame: it is logged and the host exits with status 1;
// - input that ends inside a length or a body is logged and the host exits
//   with status 0, as it does when input ends between frames;
// - a message whose echo cannot fit in what the browser accepts
//   (kMaxOutgoingMessage) is not decoded at all (decoding a huge message
//   costs many times its size in memory); the host logs it and answers with
//   a small error object, so the extension's script still gets an answer:
//   {"error":"Reply too large","limit":1048576}. A reply that turns out too
//   long only once written is replaced by the same object;
// - when the browser has closed standard output the host logs it and exits
//   with status 0.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "extension/platform/ExtensionContext.hpp"

namespace extension::platform::nativeMessaging {

// The browser's limits: what it sends to a host and what it accepts back.
inline constexpr std::uint32_t kMaxIncomingMessage = 64u * 1024 * 1024;
inline constexpr std::uint32_t kMaxOutgoingMessage = 1024u * 1024;
inline constexpr std::size_t kMaxNestingDepth = 1000;

enum class ReadStatus {
    Message,          // a whole frame was read
    EndOfInput,       // input ended between frames
    TruncatedLength,  // input ended inside a length
    TruncatedBody,    // input ended inside a body
    LengthOverLimit,  // the length exceeds kMaxIncomingMessage
    ReadError,        // reading failed
};

// Reads frames from a file descriptor, buffered.
class FrameReader {
public:
    explicit FrameReader(int fd) : fd_(fd) {}

    // Reads the next frame's body into body (replacing its content).
    ReadStatus next(std::string& body);

    // Of the last call of next(): the length the frame announced (when one
    // was read whole) and how many bytes of the length or body arrived.
    std::uint32_t announcedLength() const { return announcedLength_; }
    std::size_t bytesReceived() const { return bytesReceived_; }
    int lastError() const { return lastError_; }

private:
    // Appends up to n bytes to out; returns how many arrived before the end
    // of input (or an error, recorded in lastError_).
    std::size_t read(std::string& out, std::size_t n);
    bool fill();

    int fd_;
    std::string buffer_;
    std::size_t position_ = 0;
    bool ended_ = false;
    int lastError_ = 0;
    std::uint32_t announcedLength_ = 0;
    std::size_t bytesReceived_ = 0;
};

// Writes one frame; false when the body is longer than a length can say or
// writing failed (errno tells why).
bool writeFrame(int fd, std::string_view body);

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool isValidUtf8(std::string_view text);

// How deeply arrays and objects nest in a JSON text, counted up to limit + 1.
std::size_t nestingDepth(std::string_view json, std::size_t limit = kMaxNestingDepth);

// A lower bound of the length of a JSON text once written compactly (without
// white space, each escape taken as one byte, each number as one).
std::size_t minimumCompactSize(std::string_view json);

// The answer sent instead of a reply that is too long for the browser.
std::string replyTooLargeBody();

// The reply frame's body for a reply message: its JSON text, or the error
// object when that text is longer than kMaxOutgoingMessage.
std::string replyBody(const nlohmann::json& message, bool* tooLarge = nullptr);

using HandlerFactory = std::function<std::unique_ptr<ExtensionRequestHandling>()>;

// Serves requests from inFd until input ends; returns the process's exit
// status (see above).
int runHost(int inFd, int outFd, const HandlerFactory& makeHandler);

}  // namespace extension::platform::nativeMessaging
