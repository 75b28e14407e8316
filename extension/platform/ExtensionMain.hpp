#pragma once
// The extension's process entry. The executable has no entry code of its own
// beyond naming its principal class: ExtensionMain serves the browser's
// native messages with fresh instances of it until the browser closes the
// channel, and returns the exit status.
//
// The browser starts the host with arguments of its own (the calling
// extension's origin, the manifest path); they are not needed and ignored.
// Setting VESKO_EXTENSION_LOG=stderr sends the log to standard error, which
// the browsers copy into their own output, instead of syslog.

#include "extension/platform/NativeMessaging.hpp"

namespace extension::platform {

int ExtensionMain(int argc, char** argv, const nativeMessaging::HandlerFactory& principalClass);

}  // namespace extension::platform
