#pragma once
// The URL session: HTTP(S) requests run in the background, each ending in
// exactly one call of its completion handler on the session's own thread.
//
// The process-wide `shared()` session lives for the whole run. A session made
// with the constructor cancels what is still running when it is destroyed
// (each such task completes with a "cancelled" error).
//
// Redirects are followed by the session itself, one hop at a time, so that a
// request's `redirectPolicy` can see every target before anything is sent
// there. A refused hop ends the task with a `RedirectRefused` error.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct URLRequest {
    std::string url;
    // Sent as given; "GET" when empty.
    std::string method = "GET";
    // Header fields to set. Names compare case-insensitively: of two names that
    // differ only in case, the later in the map's order wins.
    std::map<std::string, std::string> headers;
    std::optional<std::string> body;
    // Gives up when nothing arrives for this long (while connecting or waiting for
    // data), as an idle time-out, not a limit on the whole transfer.
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
    // Asked before every redirect hop with the absolute target URL; true follows it.
    // Without a policy every hop is followed.
    std::function<bool(const std::string& targetURL)> redirectPolicy;
    // Connection overrides in the form "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT"
    // (empty HOST or PORT match any). The URL, the Host header and TLS names stay as
    // they are; only where the connection goes changes.
    std::vector<std::string> connectTo;
};

struct URLResponse {
    long statusCode = 0;  // 0 when the answer carried no HTTP status
    std::string url;      // the URL that answered, after redirects
};

struct URLError {
    enum class Kind { Transport, TimedOut, TooManyRedirects, RedirectRefused, Cancelled };
    Kind kind = Kind::Transport;
    int code = 0;  // the transport's own code, when it has one
    std::string localizedDescription;
};

// Called once per task: the body (present whenever there is no error, possibly
// empty), the response, or the error.
using DataTaskCompletion = std::function<void(std::optional<std::string> data,
                                              std::optional<URLResponse> response,
                                              std::optional<URLError> error)>;

class URLSession {
public:
    URLSession();
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    // The process-wide session. Never destroyed.
    static URLSession& shared();

    // Starts `request` at once. Any thread.
    void dataTask(URLRequest request, DataTaskCompletion completion);

    // Most redirect hops a task follows before it ends with TooManyRedirects.
    static constexpr int maximumRedirects = 16;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
