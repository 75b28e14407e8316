// vesko-osascript: runs an AppleScript program against a Chromium-family
// browser. The program comes from standard input (or from -e lines, or a file
// argument); the result goes to standard output followed by a line feed and the
// exit status is 0; an error goes to standard error in osascript's form and the
// exit status is 1.

#include "tools/osascript/ChromiumBrowser.hpp"
#include "tools/osascript/Runner.hpp"

#include <cstdio>
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
    std::ios::sync_with_stdio(false);
    std::string program;
    if (!readProgram(argc, argv, program)) return 1;

    ChromiumBrowser browser({discoverEndpoints(), configuredTimeout(), defaultStateFolder()});
    RunOutput output = runScript(program, browser);
    std::fwrite(output.err.data(), 1, output.err.size(), stderr);
    std::fwrite(output.out.data(), 1, output.out.size(), stdout);
    if (output.status != 0) return output.status;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
