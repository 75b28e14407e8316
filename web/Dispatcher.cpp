#include "platform/Dispatch.hpp"
#include "safari/Programs.hpp"
#include "web/ViewController.hpp"

#include <type_traits>

namespace vesko {

void ViewController::userContentController(platform::UserContentController&,
                                           const platform::ScriptMessage& message) {
    if (auto request = bridge::decodeRequest(message.body)) route(std::move(*request));
}

std::shared_ptr<ViewController> ViewController::retainForWork() {
    std::shared_ptr<ViewController> strong = shared_from_this();
    ViewController* controller = strong.get();
    return std::shared_ptr<ViewController>(controller, [strong = std::move(strong)](ViewController*) mutable {
        platform::dispatch::mainAsync([strong = std::move(strong)] {});
    });
}

void ViewController::route(bridge::Request request) {
    // Every work item holds the controller until it ends.
    auto self = shared_from_this();
    if (bridge::runsOnMainQueue(request.action)) {
        platform::dispatch::mainAsync([self, action = std::move(request.action)] {
            if (auto* navigate = std::get_if<bridge::Navigate>(&action))
                self->navigateToPage(navigate->page, navigate->navAction);
            else if (auto* notice = std::get_if<bridge::NotifyComplete>(&action))
                self->notifyComplete(notice->badge);
        });
        return;
    }
    ++requestsInFlight_;
    platform::dispatch::globalAsync([self = retainForWork(), request = std::move(request)] {
        const std::string& id = request.callbackId;
        std::visit(
            [&](const auto& a) {
                using A = std::decay_t<decltype(a)>;
                if constexpr (std::is_same_v<A, bridge::ExtractTab>)
                    self->runAppleScriptAndCallback(safari::buildExtractionScript(a.tabIndex, a.targetUrl), id);
                else if constexpr (std::is_same_v<A, bridge::GetTabUrls>)
                    self->getSafariTabUrls(id);
                else if constexpr (std::is_same_v<A, bridge::ExtractAllTabs>)
                    self->extractAllSafariTabs(id);
                else if constexpr (std::is_same_v<A, bridge::ProxyFetch>)
                    self->proxyFetch(a.url, a.method, a.headers, a.body, id);
                else if constexpr (std::is_same_v<A, bridge::SaveFile>)
                    self->saveFile(a.base64, a.filename, id);
                else if constexpr (std::is_same_v<A, bridge::SaveFixture>)
                    self->saveFixture(a.json, a.filename, id);
            },
            request.action);
    });
}

void ViewController::deliverReply(std::string script) {
    platform::dispatch::mainAsync([self = shared_from_this(), script = std::move(script)] {
        if (self->webView) self->webView->evaluateJavaScript(script);
        if (self->requestsInFlight_ > 0) --self->requestsInFlight_;
    });
}

}  // namespace vesko
