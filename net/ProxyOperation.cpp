#include "net/Proxy.hpp"
#include "web/ViewController.hpp"

namespace vesko {

void ViewController::proxyFetch(const std::string& url, const std::string& method,
                                const bridge::TextMap& headers, const std::optional<std::string>& body,
                                const std::string& callbackId) {
    // The built-in host set and the shared session; the reply keeps the controller
    // alive until it has been evaluated.
    net::startProxyFetch(net::ProxyRequest{url, method, headers, body}, callbackId, net::ProxyOptions{},
                         [self = retainForWork()](std::string script) { self->deliverReply(std::move(script)); });
}

}  // namespace vesko
