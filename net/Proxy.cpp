#include "net/Proxy.hpp"

#include "platform/Text.hpp"
#include "platform/URL.hpp"
#include "web/Reply.hpp"

#ifndef VESKO_ANTHROPIC_API_HOST
#error "VESKO_ANTHROPIC_API_HOST must be defined by the build"
#endif
#ifndef VESKO_SERVICE_HOST
#error "VESKO_SERVICE_HOST must be defined by the build"
#endif

namespace vesko::net {

std::string_view anthropicAPIHost() { return VESKO_ANTHROPIC_API_HOST; }
std::string_view serviceHost() { return VESKO_SERVICE_HOST; }

const HostSet& allowedProxyHosts() {
    static const HostSet hosts{std::string(anthropicAPIHost()), std::string(serviceHost())};
    return hosts;
}

CheckedURL checkProxyURL(std::string_view text, const HostSet& hosts) {
    CheckedURL checked;
    auto url = platform::URL::parse(text);
    if (!url) return checked;
    checked.verdict = URLVerdict::RestrictedHost;
    if (!url->host()) return checked;
    checked.host = *url->host();
    if (hosts.find(checked.host) == hosts.end()) return checked;
    checked.url = url->absoluteString();
    checked.verdict = URLVerdict::Allowed;
    return checked;
}

std::string proxyReply(std::string_view callbackId, const std::optional<std::string>& data,
                       const std::optional<platform::URLResponse>& response,
                       const std::optional<platform::URLError>& error) {
    if (error) {
        if (error->kind == platform::URLError::Kind::RedirectRefused)
            return reply::rejectFixed(callbackId, reply::FixedReject::ProxyRestricted);
        return reply::rejectMessage(callbackId, error->localizedDescription, reply::MessageEscaping::Quote);
    }
    const long status = response ? response->statusCode : 0;
    if (data && platform::text::isValidUTF8(*data)) return reply::resolveFetchResponse(callbackId, status, *data);
    return reply::rejectFixed(callbackId, reply::FixedReject::EmptyResponse);
}

void startProxyFetch(ProxyRequest request, const std::string& callbackId, const ProxyOptions& options,
                     ReplySink reply) {
    const HostSet& hosts = options.hosts ? *options.hosts : allowedProxyHosts();
    CheckedURL checked = checkProxyURL(request.url, hosts);
    if (checked.verdict == URLVerdict::InvalidURL) {
        reply(reply::rejectFixed(callbackId, reply::FixedReject::InvalidURL));
        return;
    }
    if (checked.verdict == URLVerdict::RestrictedHost) {
        reply(reply::rejectFixed(callbackId, reply::FixedReject::ProxyRestricted));
        return;
    }

    platform::URLRequest urlRequest;
    urlRequest.url = std::move(checked.url);
    urlRequest.method = std::move(request.method);
    urlRequest.headers = std::move(request.headers);
    urlRequest.body = std::move(request.body);
    urlRequest.timeout = options.timeout;
    urlRequest.connectTo = options.connectTo;
    // Every hop must stay on an allowed host: the request may carry the page's
    // credentials, which must not travel anywhere else.
    urlRequest.redirectPolicy = [&hosts](const std::string& target) {
        return checkProxyURL(target, hosts).verdict == URLVerdict::Allowed;
    };

    platform::URLSession& session = options.session ? *options.session : platform::URLSession::shared();
    session.dataTask(std::move(urlRequest),
                     [callbackId, reply = std::move(reply)](std::optional<std::string> data,
                                                            std::optional<platform::URLResponse> response,
                                                            std::optional<platform::URLError> error) {
                         reply(proxyReply(callbackId, data, response, error));
                     });
}

}  // namespace vesko::net
