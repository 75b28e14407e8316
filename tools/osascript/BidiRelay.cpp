// The relay that holds Firefox's one BiDi session for the runners (see Bidi.hpp).

#include "tools/osascript/BidiRelay.hpp"

#include "tools/osascript/Bidi.hpp"
#include "tools/osascript/ProtocolJson.hpp"

#include <glib-unix.h>
#include <libsoup/soup.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <unordered_map>

namespace vesko::bidi {

namespace {

using Clock = std::chrono::steady_clock;

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
    Relay(std::string endpoint, int reportFd) : endpoint_(std::move(endpoint)), reportFd_(reportFd) {
        context_ = g_main_context_new();
        g_main_context_push_thread_default(context_);
        loop_ = g_main_loop_new(context_, FALSE);
        // A proxy from the environment must never see loopback browser traffic.
        session_ = soup_session_new_with_options("timeout", 10u, "proxy-resolver", nullptr, nullptr);
    }

    ~Relay() {
        for (auto& [fd, peer] : peers_) forget(peer);
        if (listenSource_) destroy(listenSource_);
        if (listenFd_ >= 0) close(listenFd_);
        if (idleTimer_) destroy(idleTimer_);
        closeSocket();
        g_object_unref(session_);
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_loop_unref(loop_);
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }

    int run(std::chrono::milliseconds patience) {
        auto deadline = patience.count() > 0 ? Clock::now() + patience : Clock::time_point::max();
        // Take the session, or leave it to a relay that already holds it.
        for (;;) {
            if (int fd = connectToRelay(endpoint_); fd >= 0) {
                close(fd);
                return finishReport("ready", 0);
            }
            std::string error;
            if (!openSocket(error)) return finishReport("unavailable: " + error, 1);
            nlohmann::json answer = ownCommand(
                "session.new", {{"capabilities", {{"alwaysMatch", {{"unhandledPromptBehavior", {{"default", "ignore"}}}}}}}},
                deadline);
            if (answer.value("type", "") == "success") break;
            closeSocket();
            if (answer.value("error", "") != "session not created")
                return finishReport("unavailable: no WebDriver BiDi session at " + endpoint_ + ": " +
                                        answer.value("message", "no answer"),
                                    1);
            // Another program holds the session: wait for our turn.
            if (Clock::now() + std::chrono::milliseconds(100) >= deadline)
                return finishReport("busy: another program is controlling the browser at " + endpoint_, 1);
            sleepFor(std::chrono::milliseconds(100));
        }

        listenFd_ = listenAsRelay(endpoint_);
        if (listenFd_ < 0) {  // another relay started meanwhile and serves
            endSession();
            return finishReport(errno == EADDRINUSE ? "ready" : "unavailable: cannot listen for runners", errno == EADDRINUSE ? 0 : 1);
        }
        listenSource_ = watch(listenFd_, [this] { acceptPeer(); });
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            GSource* source = g_unix_signal_source_new(signal);
            g_source_set_callback(source, &Relay::quitCallback, this, nullptr);
            g_source_attach(source, context_);
            signals_.push_back(source);
        }
        armIdleTimer();
        finishReport("ready", 0);
        g_main_loop_run(loop_);
        for (GSource* source : signals_) destroy(source);
        endSession();
        return 0;
    }

private:
    struct Peer {
        int fd = -1;
        GSource* source = nullptr;
        std::string buffer;
    };

    static void destroy(GSource* source) {
        g_source_destroy(source);
        g_source_unref(source);
    }

    static gboolean quitCallback(gpointer data) {
        g_main_loop_quit(static_cast<Relay*>(data)->loop_);
        return G_SOURCE_REMOVE;
    }

    int finishReport(const std::string& line, int status) {
        report(reportFd_, line);
        close(reportFd_);
        return status;
    }

    GSource* watch(int fd, std::function<void()> onReadable) {
        GSource* source = g_unix_fd_source_new(fd, G_IO_IN);
        auto* callback = new std::function<void()>(std::move(onReadable));
        g_source_set_callback(
            source, G_SOURCE_FUNC(+[](int, GIOCondition, gpointer data) -> gboolean {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_CONTINUE;
            }),
            callback, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
        g_source_attach(source, context_);
        return source;
    }

    void iterateUntil(const std::function<bool()>& done, Clock::time_point deadline) {
        while (!done() && Clock::now() < deadline) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            GSource* wake = g_timeout_source_new(static_cast<guint>(std::min<long long>(ms + 1, 60000)));
            g_source_set_callback(wake, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
            g_source_attach(wake, context_);
            g_main_context_iteration(context_, TRUE);
            destroy(wake);
        }
    }

    void sleepFor(std::chrono::milliseconds time) {
        iterateUntil([] { return false; }, Clock::now() + time);
    }

    bool openSocket(std::string& error) {
        std::string uri = "ws://" + endpoint_ + "/session";
        SoupMessage* message = soup_message_new("GET", uri.c_str());
        if (!message) {
            error = "invalid address " + endpoint_;
            return false;
        }
        struct Pending {
            bool done = false;
            SoupWebsocketConnection* socket = nullptr;
            std::string error;
        } pending;
        soup_session_websocket_connect_async(
            session_, message, nullptr, nullptr, G_PRIORITY_DEFAULT, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* state = static_cast<Pending*>(data);
                GError* failure = nullptr;
                state->socket = soup_session_websocket_connect_finish(SOUP_SESSION(source), result, &failure);
                if (!state->socket) {
                    state->error = failure ? failure->message : "unknown error";
                    if (failure) g_error_free(failure);
                }
                state->done = true;
            },
            &pending);
        g_object_unref(message);
        // The session's own time-out ends a connection that hangs.
        iterateUntil([&] { return pending.done; }, Clock::time_point::max());
        if (!pending.socket) {
            error = "no WebDriver BiDi endpoint at " + endpoint_ + ": " + pending.error;
            return false;
        }
        socket_ = pending.socket;
        socketClosed_ = false;
        soup_websocket_connection_set_max_incoming_payload_size(socket_, 0);  // page results can be large
        soup_websocket_connection_set_keepalive_interval(socket_, 0);
        g_signal_connect(socket_, "message", G_CALLBACK(&Relay::onMessage), this);
        g_signal_connect(socket_, "closed", G_CALLBACK(&Relay::onClosed), this);
        return true;
    }

    void closeSocket() {
        if (!socket_) return;
        if (soup_websocket_connection_get_state(socket_) == SOUP_WEBSOCKET_STATE_OPEN) {
            soup_websocket_connection_close(socket_, SOUP_WEBSOCKET_CLOSE_NORMAL, nullptr);
            iterateUntil([this] { return socketClosed_; }, Clock::now() + std::chrono::milliseconds(500));
        }
        g_signal_handlers_disconnect_by_data(socket_, this);
        g_object_unref(socket_);
        socket_ = nullptr;
    }

    // Sends a command of the relay's own and waits for its answer; {} when
    // none came in time or the browser went away.
    nlohmann::json ownCommand(const std::string& method, const nlohmann::json& params, Clock::time_point deadline) {
        long long id = ++ownId_;
        std::string text = nlohmann::json{{"id", id}, {"method", method}, {"params", params}}.dump();
        soup_websocket_connection_send_text(socket_, text.c_str());
        iterateUntil([&] { return socketClosed_ || ownAnswers_.count(id); }, deadline);
        auto it = ownAnswers_.find(id);
        if (it == ownAnswers_.end()) return nlohmann::json::object();
        nlohmann::json answer = std::move(it->second);
        ownAnswers_.erase(it);
        return answer;
    }

    void endSession() {
        if (!socket_ || socketClosed_) return;
        ownCommand("session.end", nlohmann::json::object(), Clock::now() + std::chrono::seconds(2));
        closeSocket();
    }

    static void onMessage(SoupWebsocketConnection*, gint type, GBytes* message, gpointer data) {
        if (type != SOUP_WEBSOCKET_DATA_TEXT) return;
        auto* self = static_cast<Relay*>(data);
        gsize size = 0;
        auto* bytes = static_cast<const char*>(g_bytes_get_data(message, &size));
        std::string_view text(bytes, size);
        long long id = 0;
        if (!messageId(text, id)) return;  // an event: nobody subscribes
        if (id < kFirstRunnerId) {
            self->ownAnswers_[id] = protocol::parseMessage(text);
            return;
        }
        auto pending = self->pending_.find(id);
        if (pending == self->pending_.end()) return;  // its runner has gone
        int fd = pending->second;
        self->pending_.erase(pending);
        if (!self->sendLine(fd, text)) self->dropPeer(fd);
    }

    static void onClosed(SoupWebsocketConnection*, gpointer data) {
        auto* self = static_cast<Relay*>(data);
        self->socketClosed_ = true;
        // The browser has gone: so has the session; runners see their connection end.
        g_main_loop_quit(self->loop_);
    }

    bool sendLine(int fd, std::string_view text) {
        iovec parts[2] = {{const_cast<char*>(text.data()), text.size()}, {const_cast<char*>("\n"), 1}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        std::size_t left = text.size() + 1;
        while (left > 0) {
            ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            left -= static_cast<std::size_t>(n);
            // Move past what was sent.
            for (auto sent = static_cast<std::size_t>(n); sent > 0 && message.msg_iovlen > 0;) {
                std::size_t step = std::min(sent, message.msg_iov->iov_len);
                message.msg_iov->iov_base = static_cast<char*>(message.msg_iov->iov_base) + step;
                message.msg_iov->iov_len -= step;
                sent -= step;
                if (message.msg_iov->iov_len == 0) {
                    ++message.msg_iov;
                    --message.msg_iovlen;
                }
            }
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
        if (idleTimer_) {
            destroy(idleTimer_);
            idleTimer_ = nullptr;
        }
        auto& peer = peers_[fd];
        peer.fd = fd;
        peer.source = watch(fd, [this, fd] { readPeer(fd); });
    }

    void readPeer(int fd) {
        auto it = peers_.find(fd);
        if (it == peers_.end()) return;
        Peer& peer = it->second;
        char chunk[64 * 1024];
        ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (n <= 0) {
            dropPeer(fd);
            return;
        }
        peer.buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = peer.buffer.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = peer.buffer.substr(start, end - start);
            long long id = 0;
            if (!messageId(line, id) || id < kFirstRunnerId || socketClosed_) {
                dropPeer(fd);  // not one of our runners, or nothing to send to
                return;
            }
            pending_[id] = fd;
            soup_websocket_connection_send_text(socket_, line.c_str());
        }
        peer.buffer.erase(0, start);
    }

    void forget(Peer& peer) {
        if (peer.source) destroy(peer.source);
        close(peer.fd);
    }

    void dropPeer(int fd) {
        auto it = peers_.find(fd);
        if (it == peers_.end()) return;
        forget(it->second);
        peers_.erase(it);
        for (auto p = pending_.begin(); p != pending_.end();) p = p->second == fd ? pending_.erase(p) : std::next(p);
        if (peers_.empty()) armIdleTimer();
    }

    void armIdleTimer() {
        if (idleTimer_) destroy(idleTimer_);
        idleTimer_ = g_timeout_source_new_seconds(kIdleSeconds);
        g_source_set_callback(idleTimer_, &Relay::quitCallback, this, nullptr);
        g_source_attach(idleTimer_, context_);
    }

    std::string endpoint_;
    int reportFd_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    SoupSession* session_ = nullptr;
    SoupWebsocketConnection* socket_ = nullptr;
    bool socketClosed_ = false;
    long long ownId_ = 0;
    std::map<long long, nlohmann::json> ownAnswers_;
    int listenFd_ = -1;
    GSource* listenSource_ = nullptr;
    GSource* idleTimer_ = nullptr;
    std::vector<GSource*> signals_;
    std::map<int, Peer> peers_;
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
