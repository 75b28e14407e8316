#include "tests/support/PageScripts.hpp"

#include "tests/support/Subprocess.hpp"

#include <stdexcept>

namespace vesko::testing {

nlohmann::json evaluateInPage(const std::vector<std::string>& scripts) {
    const std::string input = nlohmann::json(scripts).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    auto result = runProgram({VESKO_NODE_EXECUTABLE, VESKO_PAGE_STUB}, input);
    if (result.exitStatus != 0) throw std::runtime_error("node failed: " + result.err);
    return nlohmann::json::parse(result.out);
}

}  // namespace vesko::testing
