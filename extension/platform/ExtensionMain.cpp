#include "extension/platform/ExtensionMain.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "extension/platform/Log.hpp"

namespace extension::platform {

int ExtensionMain(int argc, char** argv, const nativeMessaging::HandlerFactory& principalClass) {
    (void)argc;
    (void)argv;
    // A browser that went away shows as a failed write, not as a signal.
    ::signal(SIGPIPE, SIG_IGN);

    const char* logTarget = std::getenv("VESKO_EXTENSION_LOG");
    if (logTarget && std::string_view(logTarget) == "stderr") log::useStandardError(true);

    if (::isatty(STDIN_FILENO)) {
        static constexpr std::string_view note =
            "vesko-extension is a native-messaging host: the browser starts it and talks to it\n"
            "through standard input and output (see extension/README.md).\n";
        (void)!::write(STDERR_FILENO, note.data(), note.size());
    }
    return nativeMessaging::runHost(STDIN_FILENO, STDOUT_FILENO, principalClass);
}

}  // namespace extension::platform
