// vesko-osascript: runs an AppleScript program against a browser, a
// Chromium-family one over DevTools or Firefox over WebDriver BiDi. The program
// comes from standard input (or from -e lines, or a file argument); the result
// goes to standard output followed by a line feed and the exit status is 0; an
// error goes to standard error in osascript's form and the exit status is 1.
//
// `vesko-osascript --bidi-relay HOST:PORT MILLISECONDS` is the relay that holds
// Firefox's session for the runners (see Bidi.hpp); runners start it themselves.

#include "tools/osascript/AnyBrowser.hpp"
#include "tools/osascript/Bidi.hpp"
#include "tools/osascript/ChromiumBrowser.hpp"
#include "tools/osascript/Runner.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

using namespace vesko::osascript;

namespace {

bool readProgram(int argc, char** argv, std::string& program) {
    std::vector<std::string> lines;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-e" && i + 1 < argc)
            lines.push_back(argv[++i]);
        else if (arg.rfind("-", 0) != 0 && file.empty())
            file = arg;
        else {
            std::fprintf(stderr, "usage: vesko-osascript [-e statement ...] [programfile]\n");
            return false;
        }
    }
    if (!lines.empty()) {
        for (std::size_t i = 0; i < lines.size(); ++i) program += (i ? "\n" : "") + lines[i];
        return true;
    }
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "vesko-osascript: %s: No such file or directory\n", file.c_str());
            return false;
        }
        program.assign(std::istreambuf_iterator<char>(in), {});
        return true;
    }
    program.assign(std::istreambuf_iterator<char>(std::cin), {});
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--bidi-relay")
        return vesko::bidi::runRelay(argv[2], std::chrono::milliseconds(std::atoll(argv[3])), STDOUT_FILENO);

    std::ios::sync_with_stdio(false);
    std::string program;
    if (!readProgram(argc, argv, program)) return 1;

    std::error_code ignored;
    AnyBrowser browser({discoverEndpoints(), configuredTimeout(), defaultStateFolder(),
                        std::filesystem::read_symlink("/proc/self/exe", ignored)});
    RunOutput output = runScript(program, browser);
    std::fwrite(output.err.data(), 1, output.err.size(), stderr);
    std::fwrite(output.out.data(), 1, output.out.size(), stdout);
    if (output.status != 0) return output.status;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
