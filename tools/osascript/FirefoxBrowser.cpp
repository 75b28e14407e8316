#include "tools/osascript/FirefoxBrowser.hpp"

#include "tools/osascript/ScriptError.hpp"

#include <algorithm>

namespace vesko::osascript {

namespace {

// Runs `work`, turning the client's failures into the application's errors.
template <typename Work>
auto guarded(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const bidi::TimeoutError&) {
        throw BrowserError(errnum::kTimedOut, "AppleEvent timed out.");
    } catch (const bidi::ProtocolError& error) {
        if (error.error == "no such frame") throw BrowserError(errnum::kCantGet, kTabClosedMessage);
        throw BrowserError(-609, "Connection is invalid.");
    }
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The string a page evaluation answered with, if it did.
std::optional<std::string> stringAnswer(const nlohmann::json& answer) {
    if (answer.value("type", "") != "success") return std::nullopt;
    const auto& evaluation = answer.value("result", nlohmann::json::object());
    if (evaluation.value("type", "") != "success") return std::nullopt;
    const auto& value = evaluation.value("result", nlohmann::json::object());
    if (value.value("type", "") != "string" || !value.contains("value") || !value["value"].is_string())
        return std::nullopt;
    return value["value"].get<std::string>();
}

nlohmann::json evaluateCommand(const std::string& context, const std::string& expression) {
    return {{"expression", expression},
            {"target", {{"context", context}}},
            {"awaitPromise", false},
            {"resultOwnership", "none"}};
}

// Takes the value out of `remote` rather than copying it: it can be a page of text.
std::optional<nlohmann::json> convert(nlohmann::json& remote, bool topLevel) {
    const std::string type = remote.value("type", "");
    auto value = remote.find("value");
    if (type == "string" || type == "boolean") {
        if (value == remote.end()) return std::nullopt;
        return std::move(*value);
    }
    if (type == "number") {
        // NaN, -0 and the infinities come as text; JSON has no form for them.
        if (value == remote.end() || !value->is_number()) return topLevel ? std::nullopt : std::optional(nlohmann::json());
        return std::move(*value);
    }
    if (type == "undefined" || type == "null" || type == "symbol" || type == "bigint")
        return topLevel ? std::nullopt : std::optional(nlohmann::json());
    if (type == "array" || type == "set") {
        nlohmann::json items = nlohmann::json::array();
        if (value != remote.end() && value->is_array())
            for (auto& item : *value) items.push_back(convert(item, false).value_or(nlohmann::json()));
        return items;
    }
    nlohmann::json members = nlohmann::json::object();
    if ((type == "object" || type == "map") && value != remote.end() && value->is_array()) {
        for (auto& pair : *value) {
            if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string()) continue;  // keys that are values
            if (pair[1].value("type", "") == "undefined") continue;  // as JSON leaves them out
            members[pair[0].get<std::string>()] = convert(pair[1], false).value_or(nlohmann::json());
        }
    }
    return members;  // dates, nodes, functions and the like: an object without members
}

}  // namespace

std::optional<nlohmann::json> remoteValueToJson(nlohmann::json remote) { return convert(remote, true); }

FirefoxBrowser::FirefoxBrowser(std::unique_ptr<bidi::Client> client) : client_(std::move(client)) {}

const std::vector<WindowInfo>& FirefoxBrowser::windows() {
    if (windows_) return *windows_;
    windows_ = guarded([this] {
        auto answers = client_->callAll({{"browsingContext.getTree", {{"maxDepth", 0}}}, {"browser.getClientWindows"}});
        nlohmann::json tree = bidi::Client::resultOf(answers[0]);
        nlohmann::json clientWindows = answers[1].value("type", "") == "success"
                                           ? answers[1]["result"].value("clientWindows", nlohmann::json::array())
                                           : nlohmann::json::array();

        // Contexts come window by window, oldest window first, tabs in strip order.
        std::vector<WindowInfo> opened;
        for (const auto& context : tree.value("contexts", nlohmann::json::array())) {
            std::string windowId = context.value("clientWindow", "");
            auto window = std::find_if(opened.begin(), opened.end(), [&](const WindowInfo& w) { return w.id == windowId; });
            if (window == opened.end()) window = opened.insert(opened.end(), WindowInfo{windowId, {}, 0});
            window->tabs.push_back({context.value("context", ""), context.value("url", ""), ""});
        }
        auto rank = [&](const WindowInfo& window) {
            for (const auto& info : clientWindows)
                if (info.value("clientWindow", "") == window.id) {
                    if (info.value("active", false)) return 0;
                    return info.value("state", "") == "minimized" ? 2 : 1;
                }
            return 1;
        };
        std::reverse(opened.begin(), opened.end());  // most recently opened first
        std::stable_sort(opened.begin(), opened.end(),
                         [&](const WindowInfo& a, const WindowInfo& b) { return rank(a) < rank(b); });
        return opened;
    });
    return *windows_;
}

std::vector<long long> FirefoxBrowser::evaluateInTabs(std::size_t window, const std::string& expression) {
    std::vector<long long> ids;
    for (const auto& tab : windows().at(window).tabs)
        ids.push_back(client_->send({"script.evaluate", evaluateCommand(tab.id, expression)}));
    return ids;
}

std::size_t FirefoxBrowser::currentTab(std::size_t window) {
    const auto& all = windows();
    if (window >= all.size() || all[window].tabs.size() < 2) return 0;
    if (auto known = currentTabs_.find(window); known != currentTabs_.end()) return known->second;
    std::size_t current = guarded([&]() -> std::size_t {
        // Asked of every tab at once; the visible one is the current tab. A
        // tab that cannot answer (its page is busy) is the current one when
        // every other tab answers that it is hidden.
        const std::vector<long long> ids = evaluateInTabs(window, "document.visibilityState");
        std::vector<long long> pending = ids;
        std::vector<char> hidden(ids.size(), 0);
        std::optional<std::size_t> found;
        while (!found && !pending.empty()) {
            if (pending.size() == 1 && std::count(hidden.begin(), hidden.end(), 1) + 1 == static_cast<long>(ids.size())) {
                found = static_cast<std::size_t>(std::find(ids.begin(), ids.end(), pending.front()) - ids.begin());
                break;
            }
            auto [id, answer] = client_->waitAny(pending);
            auto index = static_cast<std::size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin());
            auto state = stringAnswer(answer);
            if (state == "visible") found = index;
            hidden[index] = state == "hidden";
        }
        if (found) return *found;
        // Every page hidden (a minimised window): the first tab that did not say so, else the first.
        auto notHidden = std::find(hidden.begin(), hidden.end(), 0);
        return notHidden == hidden.end() ? 0 : static_cast<std::size_t>(notHidden - hidden.begin());
    });
    currentTabs_[window] = current;
    return current;
}

std::string FirefoxBrowser::tabTitle(std::size_t window, std::size_t tab) {
    windows();
    auto& tabs = windows_->at(window).tabs;
    if (!titlesRead_[window]) {
        guarded([&] {
            // Every tab of the window at once: programs that read one name read them all.
            const std::vector<long long> ids = evaluateInTabs(window, "document.title");
            for (std::size_t i = 0; i < ids.size(); ++i) {
                auto title = stringAnswer(client_->wait(ids[i]));
                // A tab without a title shows its address, as the tab strip does.
                tabs[i].title = title && !title->empty() ? *title : tabs[i].url;
            }
        });
        titlesRead_[window] = true;
    }
    return tabs.at(tab).title;
}

JavaScriptResult FirefoxBrowser::doJavaScript(const TabInfo& tab, const std::string& code) {
    nlohmann::json answer = guarded([&] {
        nlohmann::json answer = client_->wait(client_->send({"script.evaluate", evaluateCommand(tab.id, code)}));
        if (answer.value("type", "") != "success") {
            // A tab closed while its script ran gives an error of no fixed kind: ask whether it is still there.
            bool gone = answer.value("error", "") == "no such frame";
            if (!gone) {
                auto check = client_->wait(client_->send({"browsingContext.getTree", {{"root", tab.id}, {"maxDepth", 0}}}));
                gone = check.value("error", "") == "no such frame";
            }
            if (gone) throw BrowserError(errnum::kCantGet, kTabClosedMessage);
            throw BrowserError(errnum::kGeneric, "A JavaScript error occurred: " + firstLine(answer.value("message", "")));
        }
        return answer;
    });
    JavaScriptResult result;
    auto& evaluation = answer["result"];
    if (evaluation.value("type", "") == "exception") {
        result.threw = true;
        result.exception = firstLine(evaluation.value("exceptionDetails", nlohmann::json::object()).value("text", "exception"));
        return result;
    }
    auto remote = evaluation.find("result");
    if (auto value = remoteValueToJson(remote != evaluation.end() ? std::move(*remote) : nlohmann::json::object())) {
        result.hasValue = true;
        result.value = std::move(*value);
    }
    return result;
}

}  // namespace vesko::osascript
