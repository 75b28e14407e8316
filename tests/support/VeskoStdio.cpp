#include "tests/support/VeskoStdio.hpp"

#include "tests/support/Subprocess.hpp"

#include <sstream>
#include <stdexcept>

namespace vesko::testing {

std::vector<std::string> runVeskoStdioText(const std::string& input,
                                           const std::map<std::string, std::string>& extraEnv) {
    auto result = runProgram({VESKO_EXECUTABLE, "--stdio"}, input, extraEnv);
    if (result.exitStatus != 0)
        throw std::runtime_error("vesko --stdio exited with " + std::to_string(result.exitStatus) + ": " + result.err);
    std::vector<std::string> scripts;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) scripts.push_back(nlohmann::json::parse(line).get<std::string>());
    return scripts;
}

std::vector<std::string> runVeskoStdio(const std::vector<nlohmann::json>& requests,
                                       const std::map<std::string, std::string>& extraEnv) {
    std::string input;
    for (const auto& request : requests) input += request.dump() + "\n";
    return runVeskoStdioText(input, extraEnv);
}

}  // namespace vesko::testing
