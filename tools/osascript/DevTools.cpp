#include "tools/osascript/DevTools.hpp"

#include "tools/osascript/ProtocolJson.hpp"
#include "tools/osascript/WebSocket.hpp"

#include <map>
#include <set>

namespace vesko::devtools {

namespace {

using protocol::Clock;

// GET http://endpoint + path as JSON, or UnavailableError.
nlohmann::json parseAnswer(const std::string& endpoint, const protocol::HttpResponse& response) {
    nlohmann::json parsed = nlohmann::json::parse(response.body, nullptr, false);
    if (response.status != 200 || parsed.is_discarded())
        throw UnavailableError(
            "no DevTools endpoint at " + endpoint + " (HTTP " + std::to_string(response.status) + ")", true);
    return parsed;
}

nlohmann::json fetchJson(const std::string& endpoint, const std::string& path, Clock::time_point deadline) {
    try {
        return parseAnswer(endpoint, protocol::httpGet(endpoint, path, deadline));
    } catch (const protocol::ConnectError& error) {
        throw UnavailableError("no DevTools endpoint at " + endpoint + ": " + error.what(), error.answered);
    } catch (const protocol::TimeoutError&) {
        throw TimeoutError("no answer from " + endpoint + path + " in time");
    } catch (const protocol::ClosedError& error) {
        throw UnavailableError("no DevTools endpoint at " + endpoint + ": " + error.what(), true);
    }
}

// "ws://host:port/devtools/browser/…" -> "/devtools/browser/…"
std::string pathOf(const std::string& url) {
    auto scheme = url.find("://");
    auto slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

}  // namespace

struct Client::Impl {
    std::unique_ptr<protocol::WebSocket> socket;
    std::map<int, nlohmann::json> answers;  // by command id, until taken
    std::set<std::string> detached;         // sessions of tabs that have closed
    int nextId = 1;
    bool closed = false;
    std::string closeReason;

    void take(std::string_view text) {
        nlohmann::json parsed = protocol::parseMessage(text);
        if (parsed.is_discarded()) {
            // Unreadable: fail the command it answers rather than wait for it.
            if (text.substr(0, 6) == "{\"id\":") {
                int key = std::atoi(std::string(text.substr(6, 12)).c_str());
                answers[key] = {{"id", key},
                                {"error", {{"code", -32700}, {"message", "unreadable answer from the browser"}}}};
            }
            return;
        }
        if (!parsed.is_object()) return;
        auto id = parsed.find("id");
        if (id == parsed.end() || !id->is_number_integer()) {
            // An event; the one that matters says a tab's session has ended.
            if (parsed.value("method", "") == "Target.detachedFromTarget")
                detached.insert(parsed.value("params", nlohmann::json::object()).value("sessionId", ""));
            return;
        }
        int key = id->get<int>();
        answers[key] = std::move(parsed);
    }

    // Reads until `done()` or the deadline; false when the deadline passed.
    bool receiveUntil(const std::function<bool()>& done, Clock::time_point deadline) {
        while (!done() && !closed) {
            try {
                if (!socket->receive([this](std::string_view text) { take(text); }, deadline)) return false;
            } catch (const protocol::ClosedError& error) {
                closed = true;
                closeReason = std::string("the browser closed the DevTools connection: ") + error.what();
            }
        }
        return true;
    }
};

nlohmann::json Client::getJson(const std::string& endpoint, const std::string& path,
                               std::chrono::milliseconds timeout) {
    return fetchJson(endpoint, path, protocol::deadlineAfter(timeout));
}

std::unique_ptr<Client> Client::connect(const std::string& endpoint, std::chrono::milliseconds timeout,
                                        const std::string& browserSocket) {
    std::unique_ptr<Client> client(new Client());
    client->endpoint_ = endpoint;
    client->timeout_ = timeout;
    client->impl_ = std::make_unique<Impl>();
    const auto deadline = protocol::deadlineAfter(timeout);

    if (!browserSocket.empty()) {
        try {
            client->impl_->socket = protocol::WebSocket::open(endpoint, pathOf(browserSocket), deadline);
            client->version_ = {{"webSocketDebuggerUrl", browserSocket}};
            return client;
        } catch (const protocol::ConnectError&) {
            // Gone or another browser now: ask it as usual.
        } catch (const protocol::ClosedError&) {
        } catch (const protocol::TimeoutError&) {
            throw TimeoutError("the browser's DevTools socket did not open in time");
        }
    }

    client->version_ = fetchJson(endpoint, "/json/version", deadline);
    auto url = client->version_.find("webSocketDebuggerUrl");
    if (url == client->version_.end() || !url->is_string())
        throw UnavailableError("the DevTools endpoint at " + endpoint + " names no browser socket", true);
    try {
        client->impl_->socket = protocol::WebSocket::open(endpoint, pathOf(url->get<std::string>()), deadline);
    } catch (const protocol::ConnectError& error) {
        throw UnavailableError(std::string("cannot open the browser's DevTools socket: ") + error.what(), true);
    } catch (const protocol::TimeoutError&) {
        throw TimeoutError("the browser's DevTools socket did not open in time");
    } catch (const protocol::ClosedError& error) {
        throw UnavailableError(std::string("cannot open the browser's DevTools socket: ") + error.what(), true);
    }
    return client;
}

Client::~Client() = default;

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
    if (impl.closed) throw ProtocolError(0, impl.closeReason);

    std::vector<int> ids;
    ids.reserve(commands.size());
    try {
        for (const auto& command : commands) {
            int id = impl.nextId++;
            nlohmann::json message = {{"id", id}, {"method", command.method}, {"params", command.params}};
            if (!command.sessionId.empty()) message["sessionId"] = command.sessionId;
            impl.socket->send(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
            ids.push_back(id);
        }
    } catch (const protocol::ClosedError& error) {
        impl.closed = true;
        impl.closeReason = error.what();
        throw ProtocolError(0, impl.closeReason);
    }

    // A command to a tab that closes is never answered: its session's end answers it.
    auto tabClosed = [&](std::size_t i) {
        return !commands[i].sessionId.empty() && impl.detached.count(commands[i].sessionId);
    };
    auto allAnswered = [&] {
        for (std::size_t i = 0; i < ids.size(); ++i)
            if (!impl.answers.count(ids[i]) && !tabClosed(i)) return false;
        return true;
    };
    bool answered = impl.receiveUntil(allAnswered, protocol::deadlineAfter(timeout_));

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
