#pragma once
// A small blocking WebDriver BiDi client for Firefox.
//
// Firefox serves one BiDi session at a time, and a session outlives the
// connection that made it: a program that dies without ending its session
// leaves Firefox refusing every later one. So no runner holds the session
// itself. A relay process (BidiRelay) holds it, one per browser endpoint,
// and every runner talks to the browser through the relay: one JSON command
// per line on a local socket, each answer as the browser sent it, one per
// line. Runners that work together share the session; a runner that dies
// only drops its own pending answers. The relay ends the session and exits
// when no runner has used it for a while, or when the browser goes away.

#include "tools/osascript/WebSocket.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesko::bidi {

// No BiDi endpoint answers at the address (refused, unreachable, or what
// answers is no Firefox).
struct UnavailableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Another program holds the browser's one session, past the time limit.
struct BusyError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The browser did not answer a command within the time limit.
struct TimeoutError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The browser answered with an error (`error` is its error code, such as
// "no such frame"), or the connection was lost (`error` empty).
struct ProtocolError : std::runtime_error {
    ProtocolError(std::string error, const std::string& message) : std::runtime_error(message), error(std::move(error)) {}
    std::string error;
};

struct Command {
    std::string method;
    nlohmann::json params = nlohmann::json::object();
};

class Client {
public:
    // Connects to the relay for `endpoint` ("host:port"), starting one with
    // `relayProgram --bidi-relay endpoint milliseconds` when none runs. The
    // relay waits up to `timeout` for the session when another program holds
    // it. `timeout` also bounds every later command. Throws UnavailableError,
    // BusyError.
    static std::unique_ptr<Client> connect(const std::string& endpoint, const std::filesystem::path& relayProgram,
                                           std::chrono::milliseconds timeout);
    // Only a relay that already runs; nullptr when there is none.
    static std::unique_ptr<Client> connectToRunningRelay(const std::string& endpoint,
                                                         std::chrono::milliseconds timeout);

    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    const std::string& endpoint() const { return endpoint_; }

    // Sends a command; its answer is waited for with `wait` or `waitAny`.
    long long send(const Command& command);
    // The whole answer message to `id` ({"type": "success", "result": ...}
    // or {"type": "error", "error": ..., "message": ...}). Throws
    // TimeoutError, or ProtocolError when the connection is lost.
    nlohmann::json wait(long long id);
    // The first answer to arrive among `ids`, which loses that id. Throws as `wait`.
    std::pair<long long, nlohmann::json> waitAny(std::vector<long long>& ids);

    // Sends one command and returns its result; an error answer throws ProtocolError.
    nlohmann::json call(const std::string& method, const nlohmann::json& params = nlohmann::json::object());
    // Sends all commands at once and waits for every answer (one round trip).
    std::vector<nlohmann::json> callAll(const std::vector<Command>& commands);

    // The result of an answer message; throws ProtocolError for an error answer.
    static nlohmann::json resultOf(nlohmann::json answer);

private:
    Client(int socket, std::string endpoint, std::chrono::milliseconds timeout);
    // Reads what has arrived (waiting until `deadline` when nothing has) and
    // files the answers; false when the deadline passed.
    bool receive(std::chrono::steady_clock::time_point deadline);
    std::chrono::steady_clock::time_point deadline() const;

    int socket_ = -1;
    std::string endpoint_;
    std::chrono::milliseconds timeout_;
    long long nextId_;
    protocol::ReadBuffer buffer_;  // received bytes not yet split into lines
    std::vector<std::pair<long long, nlohmann::json>> answers_;  // arrived, not yet taken
    std::vector<long long> awaited_;                             // sent, not yet answered
};

// Runs the relay for the Firefox at `endpoint` (the --bidi-relay mode of
// vesko-osascript): takes the session (waiting up to `patience` while
// another program holds it), reports one line on `reportFd` ("ready", or
// "unavailable: …" / "busy: …") and serves runners until it is idle or the
// browser has gone. Returns the process exit status.
int runRelay(const std::string& endpoint, std::chrono::milliseconds patience, int reportFd);

}  // namespace vesko::bidi
