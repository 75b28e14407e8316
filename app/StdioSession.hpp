#pragma once
// `vesko --stdio`: the application without a window. One bridge request (a
// JSON object) per input line goes through the real controller; every script
// that would be evaluated in the page is written to `out`, one JSON string per
// line. Returns when the input has ended and every routed request is answered.

#include <filesystem>
#include <istream>
#include <ostream>

namespace vesko {

int runStdioSession(std::istream& in, std::ostream& out, const std::filesystem::path& resourceFolder);

}  // namespace vesko
