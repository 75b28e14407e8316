#pragma once
// The principal class of Vesko Extension: answers each native message from
// the web extension with an echo of it, after one line in the system log.
// Stateless; each request is complete within its call.

#include "extension/platform/ExtensionContext.hpp"

namespace Vesko_Extension {

class SafariWebExtensionHandler : public extension::platform::ExtensionRequestHandling {
public:
    void beginRequestWithExtensionContext(extension::platform::ExtensionContext& context) override;
};

}  // namespace Vesko_Extension
