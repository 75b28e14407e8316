#include "web/Reply.hpp"
#include "web/ViewController.hpp"

namespace vesko {

// Placeholder until the proxy lands.
void ViewController::proxyFetch(const std::string&, const std::string&, const bridge::TextMap&,
                                const std::optional<std::string>&, const std::string& callbackId) {
    deliverReply(reply::rejectFixed(callbackId, reply::FixedReject::ProxyRestricted));
}

}  // namespace vesko
