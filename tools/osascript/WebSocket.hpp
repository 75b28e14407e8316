#pragma once
// The little HTTP and WebSocket the runner needs to talk to a browser on the
// loopback interface: a GET whose answer is read whole, and a WebSocket
// carrying text messages. Blocking sockets and poll, nothing else: the
// runner starts once per request, so it links no network library, and reads
// a page's answer in large pieces.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vesko::protocol {

using Clock = std::chrono::steady_clock;

// The deadline `timeout` from now; a timeout of zero or less is none
// (Clock::time_point::max()).
Clock::time_point deadlineAfter(std::chrono::milliseconds timeout);
// Milliseconds left until `deadline` for poll: -1 for none, never negative otherwise.
int pollTimeout(Clock::time_point deadline);

// Nothing answers at the address (refused, unreachable), or what answers
// does not speak as asked (`answered`: something listens there).
struct ConnectError : std::runtime_error {
    ConnectError(const std::string& message, bool answered) : std::runtime_error(message), answered(answered) {}
    bool answered;
};
// The peer did not answer within the time limit.
struct TimeoutError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The connection ended (closed by the peer, reset).
struct ClosedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Bytes received and not yet taken: filled by reads without zeroing first,
// taken from the front without moving the rest.
class ReadBuffer {
public:
    std::string_view view() const { return {data_.get() + begin_, end_ - begin_}; }
    char* data() { return data_.get() + begin_; }
    std::size_t size() const { return end_ - begin_; }
    bool empty() const { return begin_ == end_; }
    void consume(std::size_t count);
    // One read(2) from `fd` into free space of at least `chunk` bytes: its result.
    long readFrom(int fd, std::size_t chunk);

private:
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0, begin_ = 0, end_ = 0;
};

struct HttpResponse {
    int status = 0;
    std::string body;
};

// The head of an HTTP answer at the front of received bytes.
struct HttpHead {
    int status = 0;
    std::size_t size = 0;  // up to and including the blank line
    std::optional<std::size_t> contentLength;
    bool chunked = false;
    std::string upgrade;  // the Upgrade header, lower case
};
// Nothing until the blank line that ends the head has come.
std::optional<HttpHead> readHttpHead(std::string_view bytes);
// The body of a chunked answer, as far as it is whole.
std::string unchunk(std::string_view body);

// One WebSocket frame at the front of received bytes.
struct Frame {
    bool fin = false;
    int opcode = 0;
    std::string_view payload;  // unmasked, inside the bytes given
    std::size_t size = 0;      // the bytes the frame takes, header included
};
// Nothing until the whole frame has come; a masked payload is unmasked in place.
std::optional<Frame> takeFrame(char* bytes, std::size_t available);

// An HTTP GET of `path` at `endpoint` ("host:port"), sent at once; `finish`
// reads the answer. Throws ConnectError when nothing answers.
class HttpRequest {
public:
    HttpRequest(const std::string& endpoint, const std::string& path, Clock::time_point deadline);
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Waits for the whole answer. Throws TimeoutError, ConnectError.
    HttpResponse finish(Clock::time_point deadline);

private:
    int socket_ = -1;
    std::string endpoint_;
};

HttpResponse httpGet(const std::string& endpoint, const std::string& path, Clock::time_point deadline);

class WebSocket {
public:
    // Opens ws://endpoint + path. Throws ConnectError (answered: the server
    // refused the upgrade), TimeoutError.
    static std::unique_ptr<WebSocket> open(const std::string& endpoint, const std::string& path,
                                           Clock::time_point deadline);
    ~WebSocket();
    WebSocket(const WebSocket&) = delete;
    WebSocket& operator=(const WebSocket&) = delete;

    int fd() const { return socket_; }

    // Sends one text message. Throws ClosedError.
    void send(std::string_view text);
    // Reads what has arrived, waiting until `deadline` when nothing has, and
    // hands each whole text message to `onMessage` (valid during the call).
    // False when the deadline passed with nothing read. Throws ClosedError
    // when the peer has closed the connection.
    bool receive(const std::function<void(std::string_view)>& onMessage, Clock::time_point deadline);
    // Starts the closing handshake and closes the socket without waiting.
    void close();

private:
    explicit WebSocket(int socket) : socket_(socket) {}
    void sendFrame(int opcode, std::string_view payload);

    int socket_ = -1;
    ReadBuffer buffer_;    // received bytes not yet taken as frames
    std::string message_;  // a fragmented message being put together
};

}  // namespace vesko::protocol
