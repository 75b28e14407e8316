#pragma once
// The allow-listed proxy: HTTP requests made for the page, only towards the
// allowed hosts, answered with the response's status and body.
//
// The logic takes the host set and the connection details as arguments so it
// can be exercised against a local server; the application always passes the
// built-in set (`allowedProxyHosts`) and no connection overrides.

#include "platform/URLSession.hpp"
#include "web/BridgeRequest.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vesko::net {

using HostSet = std::set<std::string, std::less<>>;

// The two hosts the page may reach: the Anthropic API host and the product's own
// service host, fixed when the application is built. Created once, never changed.
const HostSet& allowedProxyHosts();
std::string_view anthropicAPIHost();
std::string_view serviceHost();

enum class URLVerdict { Allowed, InvalidURL, RestrictedHost };

struct CheckedURL {
    URLVerdict verdict = URLVerdict::InvalidURL;
    std::string url;   // the parsed URL as it will be requested (when allowed)
    std::string host;  // the host as the parser reports it (when there is one)
};

// Parses `url` and compares its host, exactly, with the entries of `hosts`. A
// relative reference parses but has no host.
CheckedURL checkProxyURL(std::string_view url, const HostSet& hosts);

struct ProxyRequest {
    std::string url;
    std::string method = "GET";
    bridge::TextMap headers;
    std::optional<std::string> body;
};

struct ProxyOptions {
    // allowedProxyHosts() when null; a set given here must outlive the request.
    const HostSet* hosts = nullptr;
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
    // Connection overrides handed to the URL session (see URLRequest::connectTo).
    std::vector<std::string> connectTo;
    platform::URLSession* session = nullptr;  // the shared session when null
};

// Receives the one reply script of a request; called on any thread.
using ReplySink = std::function<void(std::string script)>;

// Checks the request and starts it, or refuses it at once. `reply` is called
// exactly once: with a refusal before this returns, or later from the URL
// session's thread. Redirects are followed only while they stay on allowed hosts.
void startProxyFetch(ProxyRequest request, const std::string& callbackId, const ProxyOptions& options,
                     ReplySink reply);

// The reply for a finished transfer.
std::string proxyReply(std::string_view callbackId, const std::optional<std::string>& data,
                       const std::optional<platform::URLResponse>& response,
                       const std::optional<platform::URLError>& error);

}  // namespace vesko::net
