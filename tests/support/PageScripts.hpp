#pragma once
// Evaluates reply and push scripts the way the page would, in node, against a
// stub page. Each call the scripts make becomes one JSON object:
//   {"call":"resolve","id":ID,"value":VALUE}
//   {"call":"reject","id":ID,"message":MESSAGE}
//   {"call":"action","action":ACTION}
//   {"call":"error","message":TEXT}    a script that threw (a syntax error, say)

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace vesko::testing {

nlohmann::json evaluateInPage(const std::vector<std::string>& scripts);

}  // namespace vesko::testing
