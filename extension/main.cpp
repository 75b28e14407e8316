// Vesko Extension: the native-messaging host. Its principal class is
// SafariWebExtensionHandler; the platform's entry does the rest.

#include <memory>

#include "extension/SafariWebExtensionHandler.hpp"
#include "extension/platform/ExtensionMain.hpp"

int main(int argc, char** argv) {
    return extension::platform::ExtensionMain(argc, argv, [] {
        return std::make_unique<Vesko_Extension::SafariWebExtensionHandler>();
    });
}
