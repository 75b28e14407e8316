#include "tests/support/Subprocess.hpp"

#include "platform/Process.hpp"

namespace vesko::testing {

ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& input,
                         const std::map<std::string, std::string>& extraEnv) {
    const std::vector<std::string> arguments(argv.begin() + 1, argv.end());
    auto run = platform::process::run(argv.at(0), arguments, input, extraEnv);
    ProgramResult result;
    result.exitStatus = run.launched ? run.exitStatus : -1;
    result.out = std::move(run.standardOutput);
    result.err = run.launched ? std::move(run.standardError) : std::move(run.launchError);
    return result;
}

}  // namespace vesko::testing
