#include "platform/stdio/StdioWebView.hpp"

#include "platform/Dispatch.hpp"

namespace platform {

void StdioWebView::addScriptMessageHandler(ScriptMessageHandler* handler, const std::string& name) {
    handlers_[name] = handler;
}

void StdioWebView::loadFileURL(const std::filesystem::path&, const std::filesystem::path&) {
    dispatch::mainAsync([weak = weak_from_this()] {
        auto self = weak.lock();
        if (self && self->navigationDelegate()) self->navigationDelegate()->webViewDidFinishNavigation(*self);
    });
}

void StdioWebView::evaluateJavaScript(const std::string& script) {
    out_ << nlohmann::json(script).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    out_.flush();
}

void StdioWebView::post(const std::string& name, const nlohmann::json& body) {
    auto it = handlers_.find(name);
    if (it == handlers_.end()) return;
    ScriptMessage message{name, body, "file://", true};
    it->second->userContentController(*this, message);
}

}  // namespace platform
