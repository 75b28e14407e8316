#include "app/MainInterface.hpp"
#include "app/StdioSession.hpp"
#include "platform/Bundle.hpp"

#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stdio") == 0) {
            std::ios::sync_with_stdio(false);
            return vesko::runStdioSession(std::cin, std::cout, platform::bundle::resourceFolder());
        }
    }
    return vesko::applicationMain(argc, argv);
}
