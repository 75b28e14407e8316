#pragma once
// Runs the built `vesko --stdio` on a list of requests and returns the
// scripts it printed, decoded from their JSON-string lines.

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

namespace vesko::testing {

std::vector<std::string> runVeskoStdio(const std::vector<nlohmann::json>& requests,
                                       const std::map<std::string, std::string>& extraEnv = {});

// The same with raw input text (for lines that are not JSON).
std::vector<std::string> runVeskoStdioText(const std::string& input,
                                           const std::map<std::string, std::string>& extraEnv = {});

}  // namespace vesko::testing
