#include "app/StdioSession.hpp"
#include "platform/Bundle.hpp"

#include <cstring>
#include <iostream>
#include <string>

namespace {

// The window, its toolkit and the web engine live in a plug-in that only a
// run with a window loads: `--stdio` starts without them.
constexpr const char* kWindowPlugIn = "vesko-desktop.so";
constexpr const char* kWindowEntry = "vesko_application_main";

int runWithWindow(int argc, char** argv) {
    std::string error;
    auto entry = reinterpret_cast<int (*)(int, char**)>(
        platform::bundle::loadPlugInSymbol(kWindowPlugIn, kWindowEntry, &error));
    if (!entry) {
        std::cerr << "vesko: cannot load the window (" << error << "); use --stdio to run without a window\n";
        return 1;
    }
    return entry(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stdio") == 0) {
            std::ios::sync_with_stdio(false);
            return vesko::runStdioSession(std::cin, std::cout, platform::bundle::resourceFolder());
        }
    }
    return runWithWindow(argc, argv);
}
