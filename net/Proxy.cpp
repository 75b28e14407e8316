#include "net/Proxy.hpp"

#include "net/Utf8.hpp"
#include "web/Reply.hpp"

#include <curl/curl.h>

#include <cctype>
#include <memory>

#ifndef VESKO_ANTHROPIC_API_HOST
#error "VESKO_ANTHROPIC_API_HOST must be defined by the build"
#endif
#ifndef VESKO_SERVICE_HOST
#error "VESKO_SERVICE_HOST must be defined by the build"
#endif

namespace vesko::net {
namespace {

struct URLHandle {
    CURLU* handle = curl_url();
    ~URLHandle() { curl_url_cleanup(handle); }
};

struct CurlText {
    char* text = nullptr;
    ~CurlText() { curl_free(text); }
};

bool hasScheme(std::string_view text) {
    // RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":" before any "/", "?" or "#".
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    if (text.find_first_of("/?#") < colon) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool ok = std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

// A relative reference (a path, a query, "//host/path" without a scheme) is a
// valid URL without a host of its own.
bool isRelativeReference(std::string_view text) {
    if (text.empty() || hasScheme(text)) return false;
    URLHandle url;
    if (!url.handle) return false;
    if (curl_url_set(url.handle, CURLUPART_URL, "http://relative.invalid/", 0) != CURLUE_OK) return false;
    const std::string copy(text);
    return curl_url_set(url.handle, CURLUPART_URL, copy.c_str(), 0) == CURLUE_OK;
}

}  // namespace

std::string_view anthropicAPIHost() { return VESKO_ANTHROPIC_API_HOST; }
std::string_view serviceHost() { return VESKO_SERVICE_HOST; }

const HostSet& allowedProxyHosts() {
    static const HostSet hosts{std::string(anthropicAPIHost()), std::string(serviceHost())};
    return hosts;
}

CheckedURL checkProxyURL(std::string_view text, const HostSet& hosts) {
    CheckedURL checked;
    // A NUL inside the text would cut it short for the parser; such a text is no URL.
    if (text.empty() || text.find('\0') != std::string_view::npos) return checked;
    URLHandle url;
    if (!url.handle) return checked;
    const std::string copy(text);
    if (curl_url_set(url.handle, CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        if (isRelativeReference(text)) checked.verdict = URLVerdict::RestrictedHost;
        return checked;
    }
    checked.verdict = URLVerdict::RestrictedHost;
    CurlText host;
    if (curl_url_get(url.handle, CURLUPART_HOST, &host.text, 0) != CURLUE_OK || !host.text || !*host.text)
        return checked;
    checked.host = host.text;
    if (hosts.find(checked.host) == hosts.end()) return checked;
    CurlText full;
    if (curl_url_get(url.handle, CURLUPART_URL, &full.text, 0) != CURLUE_OK || !full.text) {
        checked.verdict = URLVerdict::InvalidURL;
        return checked;
    }
    checked.url = full.text;
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
    if (data && text::isValidUTF8(*data)) return reply::resolveFetchResponse(callbackId, status, *data);
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
