#pragma once
// One run of a program, as the command line tool does it: parse, evaluate
// against `browser`, and produce the text for standard output or standard
// error with the exit status.

#include "tools/osascript/Browser.hpp"

#include <string>

namespace vesko::osascript {

struct RunOutput {
    int status = 0;   // 0 success, 1 error
    std::string out;  // the result and a line feed; empty when there is no result
    std::string err;  // the error in osascript's form and a line feed
};

RunOutput runScript(const std::string& program, Browser& browser);

}  // namespace vesko::osascript
