#include "tools/osascript/DevTools.hpp"

#include "tools/osascript/ProtocolJson.hpp"

#include <libsoup/soup.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

namespace vesko::devtools {

namespace {

using Clock = std::chrono::steady_clock;

// Makes `context` the thread's default for the lifetime of the guard, so that
// libsoup schedules its work there and nowhere else.
class ContextGuard {
public:
    explicit ContextGuard(GMainContext* context) : context_(context) { g_main_context_push_thread_default(context_); }
    ~ContextGuard() { g_main_context_pop_thread_default(context_); }
    ContextGuard(const ContextGuard&) = delete;
    ContextGuard& operator=(const ContextGuard&) = delete;

private:
    GMainContext* context_;
};

std::string errorText(GError* error) {
    std::string text = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    return text;
}

unsigned timeoutSeconds(std::chrono::milliseconds timeout) {
    auto ms = timeout.count();
    if (ms <= 0) return 0;
    return static_cast<unsigned>((ms + 999) / 1000);
}

SoupSession* newSession(std::chrono::milliseconds timeout) {
    // A proxy from the environment must never see loopback DevTools traffic.
    return soup_session_new_with_options("timeout", timeoutSeconds(timeout), "proxy-resolver", nullptr, nullptr);
}

// Runs `context` until `done()` holds or `deadline` passes; true when done.
// Clock::time_point::max() is no deadline.
bool iterateUntil(GMainContext* context, const std::function<bool()>& done, Clock::time_point deadline) {
    while (!done()) {
        if (deadline == Clock::time_point::max()) {
            g_main_context_iteration(context, TRUE);
            continue;
        }
        auto now = Clock::now();
        if (now >= deadline) return false;
        // A wake-up at the deadline, or sooner when it is further than a guint of milliseconds.
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        GSource* wake = g_timeout_source_new(static_cast<guint>(std::min<long long>(remaining + 1, G_MAXINT)));
        g_source_set_callback(wake, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(wake, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(wake);
        g_source_unref(wake);
    }
    return true;
}

nlohmann::json fetchJson(SoupSession* session, const std::string& endpoint, const std::string& path) {
    std::string uri = "http://" + endpoint + path;
    SoupMessage* message = soup_message_new("GET", uri.c_str());
    if (!message) throw UnavailableError("invalid DevTools endpoint: " + endpoint);
    GError* error = nullptr;
    GBytes* body = soup_session_send_and_read(session, message, nullptr, &error);
    guint status = soup_message_get_status(message);
    g_object_unref(message);
    if (!body) throw UnavailableError("no DevTools endpoint at " + endpoint + ": " + errorText(error));
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(body, &size));
    nlohmann::json parsed = nlohmann::json::parse(data, data + size, nullptr, false);
    g_bytes_unref(body);
    if (status != SOUP_STATUS_OK || parsed.is_discarded())
        throw UnavailableError("no DevTools endpoint at " + endpoint + " (HTTP " + std::to_string(status) + ")", true);
    return parsed;
}

}  // namespace

struct Client::PendingRequest {
    bool done = false;
    guint status = 0;
    std::string body;
    std::string error;
};

struct Client::Impl {
    GMainContext* context = nullptr;
    SoupSession* session = nullptr;
    SoupWebsocketConnection* socket = nullptr;
    std::map<int, nlohmann::json> answers;  // by command id, until taken
    std::set<std::string> detached;         // sessions of tabs that have closed
    int nextId = 1;
    bool closed = false;
    std::string closeReason;
    GCancellable* cancellable = g_cancellable_new();
    int requestsInFlight = 0;

    ~Impl() {
        if (!context) {
            g_object_unref(cancellable);
            return;
        }
        {
            ContextGuard guard(context);
            g_cancellable_cancel(cancellable);
            iterateUntil(context, [this] { return requestsInFlight == 0; },
                         Clock::now() + std::chrono::milliseconds(200));
            if (socket) {
                if (soup_websocket_connection_get_state(socket) == SOUP_WEBSOCKET_STATE_OPEN) {
                    soup_websocket_connection_close(socket, SOUP_WEBSOCKET_CLOSE_NORMAL, nullptr);
                    iterateUntil(context, [this] { return closed; }, Clock::now() + std::chrono::milliseconds(200));
                }
                g_signal_handlers_disconnect_by_data(socket, this);
                g_object_unref(socket);
            }
            if (session) g_object_unref(session);
            while (g_main_context_iteration(context, FALSE)) {
            }
        }
        g_main_context_unref(context);
        g_object_unref(cancellable);
    }

    static void onMessage(SoupWebsocketConnection*, gint type, GBytes* message, gpointer data) {
        if (type != SOUP_WEBSOCKET_DATA_TEXT) return;
        auto* self = static_cast<Impl*>(data);
        gsize size = 0;
        auto* bytes = static_cast<const char*>(g_bytes_get_data(message, &size));
        nlohmann::json parsed = protocol::parseMessage({bytes, size});
        if (parsed.is_discarded()) {
            // Unreadable: fail the command it answers rather than wait for it.
            std::string text(bytes, std::min<gsize>(size, 32));
            if (text.rfind("{\"id\":", 0) == 0) {
                int key = std::atoi(text.c_str() + 6);
                self->answers[key] = {{"id", key},
                                      {"error", {{"code", -32700}, {"message", "unreadable answer from the browser"}}}};
            }
            return;
        }
        if (!parsed.is_object()) return;
        auto id = parsed.find("id");
        if (id == parsed.end() || !id->is_number_integer()) {
            // An event; the one that matters says a tab's session has ended.
            if (parsed.value("method", "") == "Target.detachedFromTarget")
                self->detached.insert(parsed.value("params", nlohmann::json::object()).value("sessionId", ""));
            return;
        }
        int key = id->get<int>();
        self->answers[key] = std::move(parsed);
    }

    static void onClosed(SoupWebsocketConnection*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->closed = true;
        if (self->closeReason.empty()) self->closeReason = "the browser closed the DevTools connection";
    }

    static void onError(SoupWebsocketConnection*, GError* error, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (error && self->closeReason.empty()) self->closeReason = error->message;
    }
};

nlohmann::json Client::getJson(const std::string& endpoint, const std::string& path,
                               std::chrono::milliseconds timeout) {
    GMainContext* context = g_main_context_new();
    nlohmann::json result;
    try {
        ContextGuard guard(context);
        SoupSession* session = newSession(timeout);
        try {
            result = fetchJson(session, endpoint, path);
        } catch (...) {
            g_object_unref(session);
            throw;
        }
        g_object_unref(session);
    } catch (...) {
        g_main_context_unref(context);
        throw;
    }
    g_main_context_unref(context);
    return result;
}

std::unique_ptr<Client> Client::connect(const std::string& endpoint, std::chrono::milliseconds timeout) {
    std::unique_ptr<Client> client(new Client());
    client->endpoint_ = endpoint;
    client->timeout_ = timeout;
    client->impl_ = std::make_unique<Impl>();
    Impl& impl = *client->impl_;
    impl.context = g_main_context_new();
    ContextGuard guard(impl.context);
    impl.session = newSession(timeout);

    client->version_ = fetchJson(impl.session, endpoint, "/json/version");
    auto url = client->version_.find("webSocketDebuggerUrl");
    if (url == client->version_.end() || !url->is_string())
        throw UnavailableError("the DevTools endpoint at " + endpoint + " names no browser socket", true);

    SoupMessage* message = soup_message_new("GET", url->get_ref<const std::string&>().c_str());
    if (!message) throw UnavailableError("invalid browser socket address: " + url->get<std::string>());

    struct Pending {
        bool done = false;
        SoupWebsocketConnection* socket = nullptr;
        std::string error;
    } pending;
    soup_session_websocket_connect_async(
        impl.session, message, nullptr, nullptr, G_PRIORITY_DEFAULT, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* state = static_cast<Pending*>(data);
            GError* error = nullptr;
            state->socket = soup_session_websocket_connect_finish(SOUP_SESSION(source), result, &error);
            if (!state->socket) state->error = errorText(error);
            state->done = true;
        },
        &pending);
    g_object_unref(message);
    // The callback always runs (also on failure), so wait for it without a limit
    // of our own: the session's own time-out ends a connection that hangs.
    iterateUntil(impl.context, [&] { return pending.done; }, Clock::time_point::max());
    if (!pending.socket) throw UnavailableError("cannot open the browser's DevTools socket: " + pending.error);

    impl.socket = pending.socket;
    soup_websocket_connection_set_max_incoming_payload_size(impl.socket, 0);  // page results can be large
    soup_websocket_connection_set_keepalive_interval(impl.socket, 0);
    g_signal_connect(impl.socket, "message", G_CALLBACK(&Impl::onMessage), &impl);
    g_signal_connect(impl.socket, "closed", G_CALLBACK(&Impl::onClosed), &impl);
    g_signal_connect(impl.socket, "error", G_CALLBACK(&Impl::onError), &impl);
    return client;
}

Client::~Client() = default;

std::shared_ptr<Client::PendingRequest> Client::requestJson(const std::string& path) {
    Impl& impl = *impl_;
    ContextGuard guard(impl.context);
    auto request = std::make_shared<PendingRequest>();
    std::string uri = "http://" + endpoint_ + path;
    SoupMessage* message = soup_message_new("GET", uri.c_str());
    if (!message) {
        request->done = true;
        request->error = "invalid address " + uri;
        return request;
    }
    struct Call {
        std::shared_ptr<PendingRequest> request;
        Impl* impl;
        SoupMessage* message;
    };
    auto* call = new Call{request, &impl, message};
    ++impl.requestsInFlight;
    soup_session_send_and_read_async(
        impl.session, message, G_PRIORITY_DEFAULT, impl.cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GError* error = nullptr;
            GBytes* body = soup_session_send_and_read_finish(SOUP_SESSION(source), result, &error);
            if (body) {
                gsize size = 0;
                auto* bytes = static_cast<const char*>(g_bytes_get_data(body, &size));
                call->request->body.assign(bytes, size);
                call->request->status = soup_message_get_status(call->message);
                g_bytes_unref(body);
            } else {
                call->request->error = errorText(error);
            }
            call->request->done = true;
            g_object_unref(call->message);
            --call->impl->requestsInFlight;
        },
        call);
    return request;
}

nlohmann::json Client::awaitJson(const std::shared_ptr<PendingRequest>& request) {
    Impl& impl = *impl_;
    ContextGuard guard(impl.context);
    auto deadline = timeout_.count() > 0 ? Clock::now() + timeout_ : Clock::time_point::max();
    if (!iterateUntil(impl.context, [&] { return request->done; }, deadline))
        throw TimeoutError("the browser did not answer an HTTP request in time");
    if (!request->error.empty()) throw UnavailableError("DevTools HTTP request failed: " + request->error);
    auto parsed = nlohmann::json::parse(request->body, nullptr, false);
    if (request->status != SOUP_STATUS_OK || parsed.is_discarded())
        throw UnavailableError("DevTools HTTP request failed (HTTP " + std::to_string(request->status) + ")");
    return parsed;
}

nlohmann::json Client::call(const std::string& method, const nlohmann::json& params, const std::string& sessionId) {
    auto answers = callAll({Command{method, params, sessionId}});
    nlohmann::json& answer = answers.front();
    if (answer.is_object() && answer.contains("error") && answer.size() == 1) {
        const auto& error = answer["error"];
        int code = error.value("code", 0);
        std::string text = error.value("message", std::string("DevTools error"));
        if (error.contains("data") && error["data"].is_string()) text += ": " + error["data"].get<std::string>();
        throw ProtocolError(code, text);
    }
    return std::move(answer);
}

std::vector<nlohmann::json> Client::callAll(const std::vector<Command>& commands) {
    Impl& impl = *impl_;
    ContextGuard guard(impl.context);
    if (impl.closed) throw ProtocolError(0, impl.closeReason);

    std::vector<int> ids;
    ids.reserve(commands.size());
    for (const auto& command : commands) {
        int id = impl.nextId++;
        nlohmann::json message = {{"id", id}, {"method", command.method}, {"params", command.params}};
        if (!command.sessionId.empty()) message["sessionId"] = command.sessionId;
        std::string text = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        soup_websocket_connection_send_text(impl.socket, text.c_str());
        ids.push_back(id);
    }

    // A command to a tab that closes is never answered: its session's end answers it.
    auto tabClosed = [&](std::size_t i) {
        return !commands[i].sessionId.empty() && impl.detached.count(commands[i].sessionId);
    };
    auto allAnswered = [&] {
        if (impl.closed) return true;
        for (std::size_t i = 0; i < ids.size(); ++i)
            if (!impl.answers.count(ids[i]) && !tabClosed(i)) return false;
        return true;
    };
    auto deadline = timeout_.count() > 0 ? Clock::now() + timeout_ : Clock::time_point::max();
    bool answered = iterateUntil(impl.context, allAnswered, deadline);

    std::vector<nlohmann::json> results;
    results.reserve(ids.size());
    bool missing = false;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        auto it = impl.answers.find(ids[i]);
        if (it == impl.answers.end()) {
            if (tabClosed(i))
                results.push_back({{"error", {{"code", kTargetClosed}, {"message", "the tab was closed"}}}});
            else
                missing = true;
            continue;
        }
        nlohmann::json& answer = it->second;
        if (answer.contains("error"))
            results.push_back({{"error", answer["error"]}});
        else
            results.push_back(answer.contains("result") ? std::move(answer["result"]) : nlohmann::json::object());
        impl.answers.erase(it);
    }
    if (missing) {
        for (int id : ids) impl.answers.erase(id);
        if (!answered) throw TimeoutError("the browser did not answer " + commands.front().method + " in time");
        throw ProtocolError(0, impl.closeReason);
    }
    return results;
}

}  // namespace vesko::devtools
