#include "tools/osascript/WebSocket.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

namespace vesko::protocol {

namespace {

// A large read takes a page's answer in a few pieces.
constexpr std::size_t kReadChunk = 256 * 1024;

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Waits until `fd` is ready for `events`; false when the deadline passed.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int ready = poll(&p, 1, pollTimeout(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return true;  // let the read or write report it
    }
}

// A non-blocking TCP connection to "host:port" (host may be "[v6]").
int connectTo(const std::string& endpoint, Clock::time_point deadline) {
    auto colon = endpoint.rfind(':');
    if (colon == std::string::npos) throw ConnectError("invalid address " + endpoint, false);
    std::string host = endpoint.substr(0, colon), port = endpoint.substr(colon + 1);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
        throw ConnectError("cannot resolve " + endpoint, false);
    std::string failure = "nothing answers at " + endpoint;
    for (addrinfo* a = found; a; a = a->ai_next) {
        int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) continue;
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                if (!waitFor(fd, POLLOUT, deadline)) {
                    close(fd);
                    freeaddrinfo(found);
                    throw TimeoutError("no answer from " + endpoint + " in time");
                }
                socklen_t length = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
        if (error == 0) {
            // Commands are small and answered one by one: no waiting to fill packets.
            int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            freeaddrinfo(found);
            return fd;
        }
        failure = "nothing answers at " + endpoint + ": " + std::strerror(error);
        close(fd);
    }
    freeaddrinfo(found);
    throw ConnectError(failure, false);
}

void writeAll(int fd, std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (!waitFor(fd, POLLOUT, deadline)) throw TimeoutError("the peer did not take what was sent in time");
            continue;
        }
        throw ClosedError("the connection was lost");
    }
}

// Appends what has arrived to `buffer`: false at the end of the stream.
// Waits until `deadline` when nothing has; throws TimeoutError past it.
bool readMore(int fd, ReadBuffer& buffer, Clock::time_point deadline) {
    for (;;) {
        long n = buffer.readFrom(fd, kReadChunk);
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return false;
        if (!waitFor(fd, POLLIN, deadline)) throw TimeoutError("no answer in time");
    }
}

std::string headerValue(const std::string& headers, const std::string& name) {
    auto at = headers.find("\r\n" + name + ":");
    if (at == std::string::npos) return "";
    at += name.size() + 3;
    auto end = headers.find("\r\n", at);
    std::string value = headers.substr(at, end - at);
    value.erase(0, value.find_first_not_of(' '));
    return value;
}

std::mt19937& maskSource() {
    static std::mt19937 source{std::random_device{}()};
    return source;
}

}  // namespace

void ReadBuffer::consume(std::size_t count) {
    begin_ += std::min(count, size());
    if (begin_ == end_) begin_ = end_ = 0;
}

long ReadBuffer::readFrom(int fd, std::size_t chunk) {
    if (capacity_ - end_ < chunk) {
        if (capacity_ - size() >= chunk && size() <= begin_) {
            std::memcpy(data_.get(), data_.get() + begin_, size());  // room enough at the front
        } else {
            std::size_t capacity = std::max(capacity_ * 2, size() + chunk);
            std::unique_ptr<char[]> grown(new char[capacity]);
            if (!empty()) std::memcpy(grown.get(), data_.get() + begin_, size());
            data_ = std::move(grown);
            capacity_ = capacity;
        }
        end_ -= begin_;
        begin_ = 0;
    }
    ssize_t n = read(fd, data_.get() + end_, capacity_ - end_);
    if (n > 0) end_ += static_cast<std::size_t>(n);
    return n;
}

Clock::time_point deadlineAfter(std::chrono::milliseconds timeout) {
    return timeout.count() > 0 ? Clock::now() + timeout : Clock::time_point::max();
}

int pollTimeout(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return -1;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

// ------------------------------------------------------------------ HTTP

std::optional<HttpHead> readHttpHead(std::string_view bytes) {
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    HttpHead head;
    head.size = end + 4;
    const std::string headers = lowercase(std::string(bytes.substr(0, end + 2)));
    if (headers.rfind("http/1.", 0) == 0 && headers.size() > 12) head.status = std::atoi(headers.c_str() + 9);
    std::string declared = headerValue(headers, "content-length");
    if (!declared.empty() && std::isdigit(static_cast<unsigned char>(declared.front())))
        head.contentLength = std::strtoull(declared.c_str(), nullptr, 10);
    head.chunked = headerValue(headers, "transfer-encoding").find("chunked") != std::string::npos;
    head.upgrade = headerValue(headers, "upgrade");
    return head;
}

std::string unchunk(std::string_view body) {
    std::string out;
    while (!body.empty()) {
        auto lineEnd = body.find("\r\n");
        if (lineEnd == std::string_view::npos) break;
        std::size_t size = std::strtoul(std::string(body.substr(0, lineEnd)).c_str(), nullptr, 16);
        body.remove_prefix(lineEnd + 2);
        if (size == 0 || size > body.size()) break;
        out.append(body.substr(0, size));
        body.remove_prefix(std::min(body.size(), size + 2));
    }
    return out;
}

HttpRequest::HttpRequest(const std::string& endpoint, const std::string& path, Clock::time_point deadline)
    : socket_(connectTo(endpoint, deadline)), endpoint_(endpoint) {
    try {
        writeAll(socket_, "GET " + path + " HTTP/1.1\r\nHost: " + endpoint + "\r\nConnection: close\r\n\r\n", deadline);
    } catch (...) {
        close(socket_);
        throw;
    }
}

HttpRequest::~HttpRequest() {
    if (socket_ >= 0) close(socket_);
}

HttpResponse HttpRequest::finish(Clock::time_point deadline) {
    ReadBuffer data;
    std::optional<HttpHead> head;
    for (bool more = true; more;) {
        more = readMore(socket_, data, deadline);
        if (!head) head = readHttpHead(data.view());
        if (head && head->contentLength && data.size() - head->size >= *head->contentLength) break;
    }
    if (!head) throw ConnectError("no HTTP answer at " + endpoint_, !data.empty());
    std::string_view body = data.view().substr(head->size);
    if (head->contentLength) body = body.substr(0, *head->contentLength);
    return {head->status, head->chunked ? unchunk(body) : std::string(body)};
}

HttpResponse httpGet(const std::string& endpoint, const std::string& path, Clock::time_point deadline) {
    return HttpRequest(endpoint, path, deadline).finish(deadline);
}

// ------------------------------------------------------------- WebSocket

std::optional<Frame> takeFrame(char* bytes, std::size_t available) {
    if (available < 2) return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    Frame frame;
    frame.fin = byte(0) & 0x80;
    frame.opcode = byte(0) & 0x0F;
    const bool masked = byte(1) & 0x80;
    std::uint64_t length = byte(1) & 0x7F;
    std::size_t header = 2;
    if (length >= 126) {
        const std::size_t extra = length == 126 ? 2 : 8;
        if (available < 2 + extra) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < extra; ++i) length = (length << 8) | byte(2 + i);
        header += extra;
    }
    if (masked) header += 4;
    if (available < header || available - header < length) return std::nullopt;
    char* payload = bytes + header;
    if (masked)
        for (std::uint64_t i = 0; i < length; ++i) payload[i] ^= bytes[header - 4 + i % 4];
    frame.payload = std::string_view(payload, static_cast<std::size_t>(length));
    frame.size = header + static_cast<std::size_t>(length);
    return frame;
}

std::unique_ptr<WebSocket> WebSocket::open(const std::string& endpoint, const std::string& path,
                                           Clock::time_point deadline) {
    std::unique_ptr<WebSocket> socket(new WebSocket(connectTo(endpoint, deadline)));
    // The key only has to differ between connections; nobody checks it against a secret.
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string key;
    for (int i = 0; i < 21; ++i) key += digits[maskSource()() % 64];
    key += "A==";
    writeAll(socket->socket_,
             "GET " + path + " HTTP/1.1\r\nHost: " + endpoint +
                 "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + key +
                 "\r\nSec-WebSocket-Version: 13\r\n\r\n",
             deadline);
    ReadBuffer& data = socket->buffer_;
    std::optional<HttpHead> head;
    while (!(head = readHttpHead(data.view()))) {
        if (!readMore(socket->socket_, data, deadline))
            throw ConnectError("no WebSocket at " + endpoint + path, !data.empty());
    }
    if (head->status != 101 || head->upgrade != "websocket")
        throw ConnectError("no WebSocket at " + endpoint + path + " (HTTP " + std::to_string(head->status) + ")", true);
    data.consume(head->size);  // what follows is already WebSocket frames
    return socket;
}

WebSocket::~WebSocket() {
    if (socket_ >= 0) ::close(socket_);
}

void WebSocket::sendFrame(int opcode, std::string_view payload) {
    std::string frame;
    frame.reserve(payload.size() + 14);
    frame += static_cast<char>(0x80 | opcode);
    if (payload.size() < 126) {
        frame += static_cast<char>(0x80 | payload.size());
    } else if (payload.size() < 65536) {
        frame += static_cast<char>(0x80 | 126);
        for (int shift = 8; shift >= 0; shift -= 8) frame += static_cast<char>((payload.size() >> shift) & 0xFF);
    } else {
        frame += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((payload.size() >> shift) & 0xFF);
    }
    std::uint32_t mask = maskSource()();
    char key[4] = {static_cast<char>(mask >> 24), static_cast<char>(mask >> 16), static_cast<char>(mask >> 8),
                   static_cast<char>(mask)};
    frame.append(key, 4);
    for (std::size_t i = 0; i < payload.size(); ++i) frame += static_cast<char>(payload[i] ^ key[i % 4]);
    writeAll(socket_, frame, Clock::time_point::max());
}

void WebSocket::send(std::string_view text) { sendFrame(0x1, text); }

bool WebSocket::receive(const std::function<void(std::string_view)>& onMessage, Clock::time_point deadline) {
    for (bool waited = false;; waited = true) {
        // Take every whole frame there is.
        bool took = false;
        while (auto frame = takeFrame(buffer_.data(), buffer_.size())) {
            took = true;
            buffer_.consume(frame->size);  // its bytes stay in place until the next read
            if (frame->opcode == 0x8) {  // close: answer it and stop
                try {
                    sendFrame(0x8, frame->payload.substr(0, 2));
                } catch (const std::exception&) {
                }
                throw ClosedError("the peer closed the connection");
            }
            if (frame->opcode == 0x9) {
                sendFrame(0xA, frame->payload);
            } else if (frame->opcode == 0x0 || frame->opcode == 0x1 || frame->opcode == 0x2) {
                if (frame->fin && message_.empty() && frame->opcode != 0x0) {
                    onMessage(frame->payload);  // the usual case: the whole message in one frame, read in place
                } else {
                    message_.append(frame->payload);
                    if (frame->fin) {
                        onMessage(message_);
                        message_.clear();
                    }
                }
            }
        }
        if (took) return true;
        if (waited && Clock::now() >= deadline) return false;
        try {
            if (!readMore(socket_, buffer_, deadline)) throw ClosedError("the connection was lost");
        } catch (const TimeoutError&) {
            return false;
        }
    }
}

void WebSocket::close() {
    if (socket_ < 0) return;
    try {
        sendFrame(0x8, std::string_view("\x03\xE8", 2));  // 1000: normal closure
    } catch (const std::exception&) {
    }
    ::close(socket_);
    socket_ = -1;
}

}  // namespace vesko::protocol
