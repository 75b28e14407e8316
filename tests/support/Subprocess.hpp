#pragma once
// Runs a program to its end for a test: given standard input, collected
// standard output and error, exit status.

#include <map>
#include <string>
#include <vector>

namespace vesko::testing {

struct ProgramResult {
    int exitStatus = -1;  // -1 when it did not start; 128 + signal when a signal ended it
    std::string out;
    std::string err;
};

// `argv[0]` is the program's path. `extraEnv` is added to (or overrides) this
// process's environment. The three streams are served together, so any
// amount of input and output is safe.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& input,
                         const std::map<std::string, std::string>& extraEnv = {});

}  // namespace vesko::testing
