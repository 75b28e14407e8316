// The relay that holds Firefox's one BiDi session for the runners (see Bidi.hpp).

#include "tools/osascript/BidiRelay.hpp"

#include "tools/osascript/Bidi.hpp"
#include "tools/osascript/ProtocolJson.hpp"

#include "tools/osascript/WebSocket.hpp"

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vesko::bidi {

namespace {

using protocol::Clock;

// How long the relay keeps the session once no runner is connected.
constexpr auto kIdleSeconds = 30;
// Command ids below this are the relay's own; runners' ids are far above.
constexpr long long kFirstRunnerId = 1LL << 20;

socklen_t relayAddress(const std::string& endpoint, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::string name = "vesko-bidi-relay/" + std::to_string(getuid()) + "/" + endpoint;
    name.resize(std::min(name.size(), sizeof address.sun_path - 1));
    std::memcpy(address.sun_path + 1, name.data(), name.size());  // sun_path[0] = 0: abstract
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// The integer after `"id":` at the start of `text` past `prefix`.
bool idAfter(std::string_view text, std::string_view prefix, long long& id) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    std::size_t i = prefix.size();
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    id = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && id < (1LL << 53); ++i) id = id * 10 + (text[i] - '0');
    return true;
}

// The id of a message: found at once where it sits first (as our runners
// write commands, and as Firefox writes answers), else by parsing it all.
bool messageId(std::string_view text, long long& id) {
    if (idAfter(text, R"({"id":)", id) || idAfter(text, R"({"type":"success","id":)", id) ||
        idAfter(text, R"({"type":"error","id":)", id))
        return true;
    if (text.substr(0, 15) == R"({"type":"event")") return false;
    nlohmann::json message = protocol::parseMessage(text);
    if (!message.is_object() || !message.contains("id") || !message["id"].is_number_integer()) return false;
    id = message["id"].get<long long>();
    return true;
}

void report(int fd, const std::string& line) {
    std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
}

class Relay {
public:
    Relay(std::string endpoint, int reportFd) : endpoint_(std::move(endpoint)), reportFd_(reportFd) {}

    ~Relay() {
        for (auto& [fd, buffer] : peers_) close(fd);
        if (listenFd_ >= 0) close(listenFd_);
        if (signalFd_ >= 0) close(signalFd_);
    }

    int run(std::chrono::milliseconds patience) {
        const auto deadline = protocol::deadlineAfter(patience);
        // Take the session, or leave it to a relay that already holds it.
        for (;;) {
            if (int fd = connectToRelay(endpoint_); fd >= 0) {
                close(fd);
                return finishReport("ready", 0);
            }
            try {
                socket_ = protocol::WebSocket::open(endpoint_, "/session", std::min(deadline, Clock::now() + std::chrono::seconds(10)));
            } catch (const std::exception& error) {
                return finishReport(std::string("unavailable: no WebDriver BiDi endpoint at ") + endpoint_ + ": " + error.what(), 1);
            }
            nlohmann::json answer = ownCommand(
                "session.new", {{"capabilities", {{"alwaysMatch", {{"unhandledPromptBehavior", {{"default", "ignore"}}}}}}}},
                deadline);
            if (answer.value("type", "") == "success") break;
            socket_.reset();
            if (answer.value("error", "") != "session not created")
                return finishReport("unavailable: no WebDriver BiDi session at " + endpoint_ + ": " +
                                        answer.value("message", "no answer"),
                                    1);
            // Another program holds the session: wait for our turn.
            if (Clock::now() + std::chrono::milliseconds(100) >= deadline)
                return finishReport("busy: another program is controlling the browser at " + endpoint_, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }

        listenFd_ = listenAsRelay(endpoint_);
        if (listenFd_ < 0) {  // another relay started meanwhile and serves
            bool taken = errno == EADDRINUSE;
            endSession();
            return finishReport(taken ? "ready" : "unavailable: cannot listen for runners", taken ? 0 : 1);
        }
        sigset_t signals;
        sigemptyset(&signals);
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal);
        sigprocmask(SIG_BLOCK, &signals, nullptr);
        signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC);
        finishReport("ready", 0);
        serve();
        endSession();
        return 0;
    }

private:
    int finishReport(const std::string& line, int status) {
        report(reportFd_, line);
        close(reportFd_);
        return status;
    }

    // Until a signal, the browser going away, or no runner for a while.
    void serve() {
        auto idleSince = Clock::now();
        for (;;) {
            std::vector<pollfd> watched = {{signalFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}, {socket_->fd(), POLLIN, 0}};
            for (const auto& [fd, buffer] : peers_) watched.push_back({fd, POLLIN, 0});
            const auto idleEnd = peers_.empty() ? idleSince + std::chrono::seconds(kIdleSeconds) : Clock::time_point::max();
            int ready = poll(watched.data(), watched.size(), protocol::pollTimeout(idleEnd));
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) return;  // idle
            if (watched[0].revents) return;
            if (watched[1].revents & POLLIN) acceptPeer();
            if (watched[2].revents) {
                try {
                    socket_->receive([this](std::string_view text) { route(text); }, Clock::now());
                } catch (const protocol::ClosedError&) {
                    // The browser has gone, and with it the session; runners see their connection end.
                    socket_.reset();
                    return;
                }
            }
            for (std::size_t i = 3; i < watched.size(); ++i)
                if (watched[i].revents) readPeer(watched[i].fd);
            if (peers_.empty() && watched.size() > 3) idleSince = Clock::now();
        }
    }

    // Sends a command of the relay's own and waits for its answer; {} when
    // none came in time or the browser went away.
    nlohmann::json ownCommand(const std::string& method, const nlohmann::json& params, Clock::time_point deadline) {
        const long long id = ++ownId_;
        try {
            socket_->send(nlohmann::json{{"id", id}, {"method", method}, {"params", params}}.dump());
            while (!ownAnswers_.count(id))
                if (!socket_->receive([this](std::string_view text) { route(text); }, deadline)) break;
        } catch (const protocol::ClosedError&) {
        }
        auto it = ownAnswers_.find(id);
        if (it == ownAnswers_.end()) return nlohmann::json::object();
        nlohmann::json answer = std::move(it->second);
        ownAnswers_.erase(it);
        return answer;
    }

    void endSession() {
        if (!socket_) return;
        ownCommand("session.end", nlohmann::json::object(), Clock::now() + std::chrono::seconds(2));
        socket_->close();
        socket_.reset();
    }

    void route(std::string_view text) {
        long long id = 0;
        if (!messageId(text, id)) return;  // an event: nobody subscribes
        if (id < kFirstRunnerId) {
            ownAnswers_[id] = protocol::parseMessage(text);
            return;
        }
        auto pending = pending_.find(id);
        if (pending == pending_.end()) return;  // its runner has gone
        int fd = pending->second;
        pending_.erase(pending);
        if (!sendLine(fd, text)) dropPeer(fd);
    }

    // Writes `text` and a line feed to a runner.
    static bool sendLine(int fd, std::string_view text) {
        for (std::size_t sent = 0; sent <= text.size();) {
            iovec parts[2];
            int count = 0;
            if (sent < text.size()) parts[count++] = {const_cast<char*>(text.data() + sent), text.size() - sent};
            parts[count++] = {const_cast<char*>("\n"), 1};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = static_cast<std::size_t>(count);
            ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    void acceptPeer() {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || credentials.uid != getuid()) {
            close(fd);
            return;
        }
        // A runner that stops reading must not stall the others for long.
        timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        peers_[fd];
    }

    void readPeer(int fd) {
        auto it = peers_.find(fd);
        if (it == peers_.end()) return;
        std::string& buffer = it->second;
        char chunk[64 * 1024];
        ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (n <= 0) {
            dropPeer(fd);
            return;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = buffer.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string_view line(buffer.data() + start, end - start);
            long long id = 0;
            if (!messageId(line, id) || id < kFirstRunnerId) {
                dropPeer(fd);  // not one of our runners
                return;
            }
            pending_[id] = fd;
            try {
                socket_->send(line);
            } catch (const protocol::ClosedError&) {
                dropPeer(fd);
                return;
            }
        }
        buffer.erase(0, start);
    }

    void dropPeer(int fd) {
        if (!peers_.erase(fd)) return;
        close(fd);
        for (auto p = pending_.begin(); p != pending_.end();) p = p->second == fd ? pending_.erase(p) : std::next(p);
    }

    std::string endpoint_;
    int reportFd_;
    std::unique_ptr<protocol::WebSocket> socket_;
    long long ownId_ = 0;
    std::map<long long, nlohmann::json> ownAnswers_;
    int listenFd_ = -1;
    int signalFd_ = -1;
    std::map<int, std::string> peers_;            // runner's socket -> bytes of a line not yet whole
    std::unordered_map<long long, int> pending_;  // command id -> runner's socket
};

}  // namespace

int connectToRelay(const std::string& endpoint) {
    sockaddr_un address;
    socklen_t length = relayAddress(endpoint, address);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int listenAsRelay(const std::string& endpoint) {
    sockaddr_un address;
    socklen_t length = relayAddress(endpoint, address);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 64) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int runRelay(const std::string& endpoint, std::chrono::milliseconds patience, int reportFd) {
    std::signal(SIGPIPE, SIG_IGN);
    if (chdir("/") != 0) {
        // Only so as not to hold the starting folder; nothing depends on it.
    }
    int status;
    {
        Relay relay(endpoint, reportFd);
        status = relay.run(patience);
    }
    return status;
}

}  // namespace vesko::bidi
