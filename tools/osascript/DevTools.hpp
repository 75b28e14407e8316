#pragma once
// A small blocking client for a Chromium-family browser's DevTools endpoint:
// HTTP for /json/version and /json/list, one WebSocket to the browser target
// for protocol commands. Each client is used by one thread at a time.

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesko::devtools {

// Nothing answers at the endpoint (refused, unreachable), or what answers is
// no DevTools endpoint (`answered`: something listens there, maybe another
// kind of browser).
struct UnavailableError : std::runtime_error {
    explicit UnavailableError(const std::string& message, bool answered = false)
        : std::runtime_error(message), answered(answered) {}
    bool answered;
};
// The browser did not answer a command within the time limit.
struct TimeoutError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The browser answered a command with an error object, or closed the socket.
struct ProtocolError : std::runtime_error {
    ProtocolError(int code, const std::string& message) : std::runtime_error(message), code(code) {}
    int code;  // 0: the connection was lost
};

// The error code of a command sent to a tab that closed before it answered
// (the browser detached its session).
inline constexpr int kTargetClosed = -32099;

struct Command {
    std::string method;
    nlohmann::json params = nlohmann::json::object();
    std::string sessionId;  // empty: the browser target itself
};

class Client {
public:
    // Connects to `endpoint` ("host:port"): reads /json/version and opens the
    // browser's WebSocket. Throws UnavailableError when nothing answers.
    // `timeout` bounds the connection and every later command. A
    // `browserSocket` that an earlier /json/version gave (its
    // webSocketDebuggerUrl) is tried first, which saves asking for it: the
    // browser is slow to answer HTTP. When it no longer answers (the browser
    // has restarted), /json/version is read as usual.
    static std::unique_ptr<Client> connect(const std::string& endpoint, std::chrono::milliseconds timeout,
                                           const std::string& browserSocket = {});

    // GET http://endpoint + path, parsed as JSON. Throws UnavailableError.
    static nlohmann::json getJson(const std::string& endpoint, const std::string& path,
                                  std::chrono::milliseconds timeout);

    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    const std::string& endpoint() const { return endpoint_; }
    const nlohmann::json& version() const { return version_; }
    nlohmann::json getJson(const std::string& path) const { return getJson(endpoint_, path, timeout_); }

    // Sends one command and waits for its result object.
    nlohmann::json call(const std::string& method, const nlohmann::json& params = nlohmann::json::object(),
                        const std::string& sessionId = {});
    nlohmann::json call(const Command& command) { return call(command.method, command.params, command.sessionId); }

    // Sends all commands at once and waits for every answer (one round trip).
    // Each entry is the command's result, or its error object as {"error": {...}}.
    std::vector<nlohmann::json> callAll(const std::vector<Command>& commands);

    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    struct Impl;

private:
    Client() = default;
    std::unique_ptr<Impl> impl_;
    std::string endpoint_;
    nlohmann::json version_;
    std::chrono::milliseconds timeout_{60000};
};

}  // namespace vesko::devtools
