#include "extension/platform/NativeMessaging.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "extension/platform/JsonValue.hpp"
#include "extension/platform/Log.hpp"

namespace extension::platform::nativeMessaging {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
// A body buffer that grew past this is released after its message.
constexpr std::size_t kKeptBufferCapacity = 1024 * 1024;

// Blocks until fd is ready for events (or has hung up); false on error.
bool waitFor(int fd, short events) {
    pollfd p{fd, events, 0};
    for (;;) {
        int ready = ::poll(&p, 1, -1);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

std::string bytes(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

}  // namespace

bool FrameReader::fill() {
    if (ended_) return false;
    if (position_ == buffer_.size()) {
        buffer_.clear();
        position_ = 0;
    }
    std::size_t old = buffer_.size();
    buffer_.resize(old + kReadChunk);
    for (;;) {
        ssize_t n = ::read(fd_, buffer_.data() + old, kReadChunk);
        if (n > 0) {
            buffer_.resize(old + static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        // Input that was left non-blocking: wait for it like a blocking read.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd_, POLLIN)) continue;
        buffer_.resize(old);
        ended_ = true;
        if (n < 0) lastError_ = errno;
        return false;
    }
}

std::size_t FrameReader::read(std::string& out, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        if (position_ == buffer_.size() && !fill()) break;
        std::size_t take = std::min(n - got, buffer_.size() - position_);
        out.append(buffer_, position_, take);
        position_ += take;
        got += take;
    }
    return got;
}

ReadStatus FrameReader::next(std::string& body) {
    body.clear();
    if (body.capacity() > kKeptBufferCapacity) std::string().swap(body);
    announcedLength_ = 0;
    bytesReceived_ = 0;

    std::string prefix;
    bytesReceived_ = read(prefix, sizeof(std::uint32_t));
    if (bytesReceived_ < sizeof(std::uint32_t)) {
        if (lastError_ != 0) return ReadStatus::ReadError;
        return bytesReceived_ == 0 ? ReadStatus::EndOfInput : ReadStatus::TruncatedLength;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, prefix.data(), sizeof length);  // native byte order
    announcedLength_ = length;
    if (length > kMaxIncomingMessage) return ReadStatus::LengthOverLimit;

    // The buffer grows with what arrives rather than with what was announced.
    body.reserve(std::min<std::size_t>(length, kKeptBufferCapacity));
    bytesReceived_ = read(body, length);
    if (bytesReceived_ < length) {
        return lastError_ != 0 ? ReadStatus::ReadError : ReadStatus::TruncatedBody;
    }
    return ReadStatus::Message;
}

bool writeFrame(int fd, std::string_view body) {
    if (body.size() > std::numeric_limits<std::uint32_t>::max()) {
        errno = EMSGSIZE;
        return false;
    }
    auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    frame.append(body);
    std::size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = ::write(fd, frame.data() + done, frame.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLOUT)) {
            continue;
        } else {
            if (n == 0) errno = EIO;
            return false;
        }
    }
    return true;
}

bool isValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t extra;
        std::uint32_t code;
        std::uint32_t minimum;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, code = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, code = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, code = c & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= extra) return false;
        for (std::size_t i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}

std::size_t nestingDepth(std::string_view json, std::size_t limit) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        char c = json[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit) return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::size_t minimumCompactSize(std::string_view json) {
    std::size_t total = 0;
    bool inString = false;
    bool inScalar = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        char c = json[i];
        if (inString) {
            if (c == '\\') {
                i += json.compare(i + 1, 1, "u") == 0 ? 5 : 1;
                ++total;
            } else {
                ++total;  // the closing quote too
                if (c == '"') inString = false;
            }
            continue;
        }
        switch (c) {
        case ' ': case '\t': case '\n': case '\r':
            inScalar = false;
            break;
        case '"':
            inString = true;
            inScalar = false;
            ++total;
            break;
        case '{': case '}': case '[': case ']': case ',': case ':':
            inScalar = false;
            ++total;
            break;
        default:
            if (!inScalar) ++total;
            inScalar = true;
        }
    }
    return total;
}

std::string replyTooLargeBody() {
    return nlohmann::json{{"error", "Reply too large"}, {"limit", kMaxOutgoingMessage}}.dump();
}

std::string replyBody(const nlohmann::json& message, bool* tooLarge) {
    std::string body = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    bool over = body.size() > kMaxOutgoingMessage;
    if (tooLarge) *tooLarge = over;
    return over ? replyTooLargeBody() : body;
}

namespace {

// One message through the handler; the reply's message, or null when the
// request brought none back.
nlohmann::json serve(nlohmann::json&& message, const HandlerFactory& makeHandler) {
    std::vector<ExtensionItem> reply;
    bool completed = false;
    {
        Dictionary userInfo;
        userInfo.emplace(SFExtensionMessageKey, valueFromJson(std::move(message)));
        std::vector<InputItem> items;
        items.emplace_back(ExtensionItem(std::move(userInfo)));
        ExtensionContext context(std::move(items), [&](std::vector<ExtensionItem> returned) {
            reply = std::move(returned);
            completed = true;
        });
        auto handler = makeHandler();
        if (handler) handler->beginRequestWithExtensionContext(context);
    }
    if (!completed) {
        log::write("Native message request was not completed; replying with null");
        return nullptr;
    }
    if (reply.empty() || !reply.front().userInfo()) return nullptr;
    const Dictionary& info = *reply.front().userInfo();
    auto found = info.find(SFExtensionMessageKey);
    return found == info.end() ? nlohmann::json(nullptr) : jsonFromValue(found->second);
}

// The reply frame's body for one message, or nothing when it is skipped.
std::optional<std::string> answer(std::string& body, const HandlerFactory& makeHandler) {
    const std::string size = bytes(body.size());
    try {
        if (!isValidUtf8(body)) {
            log::write("Native message of " + size + " is not valid UTF-8; skipped");
            return std::nullopt;
        }
        if (nestingDepth(body) > kMaxNestingDepth) {
            log::write("Native message of " + size + " nests deeper than " +
                       std::to_string(kMaxNestingDepth) + " levels; skipped");
            return std::nullopt;
        }
        // No JSON text holds a raw NUL byte, and the parser would stop at one.
        if (body.find('\0') != std::string::npos || !nlohmann::json::accept(body)) {
            log::write("Native message of " + size + " is not valid JSON; skipped");
            return std::nullopt;
        }
        // {"echo":...} adds 9 bytes to the message.
        if (minimumCompactSize(body) + 9 > kMaxOutgoingMessage) {
            log::write("Native message of " + size + " cannot be echoed within the browser's limit of " +
                       std::to_string(kMaxOutgoingMessage) + " bytes; sent an error object instead");
            return replyTooLargeBody();
        }
        nlohmann::json message = nlohmann::json::parse(body);
        body.clear();
        if (body.capacity() > kKeptBufferCapacity) std::string().swap(body);

        nlohmann::json replyMessage = serve(std::move(message), makeHandler);
        bool tooLarge = false;
        std::string reply = replyBody(replyMessage, &tooLarge);
        if (tooLarge) {
            log::write("Reply to a native message of " + size + " exceeds the browser's limit of " +
                       std::to_string(kMaxOutgoingMessage) + " bytes; sent an error object instead");
        }
        return reply;
    } catch (const std::bad_alloc&) {
        log::write("Not enough memory for a native message of " + size + "; skipped");
    } catch (const std::exception& error) {
        log::write("Native message of " + size + " failed: " + error.what() + "; skipped");
    }
    return std::nullopt;
}

}  // namespace

int runHost(int inFd, int outFd, const HandlerFactory& makeHandler) {
    // A browser that closed its end has gone away: nothing is wrong here.
    auto writeFailed = [] {
        int error = errno;
        log::write(std::string("Cannot write reply: ") + std::strerror(error) + "; closing");
        return error == EPIPE ? 0 : 1;
    };
    FrameReader reader(inFd);
    std::string body;
    for (;;) {
        ReadStatus status = reader.next(body);
        switch (status) {
        case ReadStatus::Message:
            break;
        case ReadStatus::EndOfInput:
            return 0;
        case ReadStatus::TruncatedLength:
            log::write("Native message input ended inside a length (" +
                       bytes(reader.bytesReceived()) + " of 4); closing");
            return 0;
        case ReadStatus::TruncatedBody:
            log::write("Native message input ended inside a message (" +
                       bytes(reader.bytesReceived()) + " of " +
                       std::to_string(reader.announcedLength()) + "); closing");
            return 0;
        case ReadStatus::LengthOverLimit:
            log::write("Native message length " + std::to_string(reader.announcedLength()) +
                       " exceeds the limit of " + std::to_string(kMaxIncomingMessage) +
                       " bytes; closing");
            return 1;
        case ReadStatus::ReadError:
            log::write(std::string("Cannot read native message: ") +
                       std::strerror(reader.lastError()) + "; closing");
            return 1;
        }

        std::optional<std::string> reply = answer(body, makeHandler);
        if (!reply) continue;
        if (!writeFrame(outFd, *reply)) return writeFailed();
    }
}

}  // namespace extension::platform::nativeMessaging
