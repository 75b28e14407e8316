#include "safari/AppleScriptRunner.hpp"

#include "platform/Bundle.hpp"
#include "platform/Log.hpp"
#include "platform/Process.hpp"
#include "platform/Text.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdlib>

namespace vesko::safari {
namespace {

bool isTrimmed(UChar32 c) {
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
    switch (u_charType(c)) {
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR: return true;
        default: return false;
    }
}

}  // namespace

std::filesystem::path scriptRunnerPath() {
    if (const char* overridden = std::getenv("VESKO_OSASCRIPT"); overridden && *overridden)
        return std::filesystem::path(overridden);
    return platform::bundle::executableFolder() / "vesko-osascript";
}

std::string trimWhitespace(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !isTrimmed(c)) break;
        start = next;
    }
    int32_t stop = length;
    while (stop > start) {
        int32_t previous = stop;
        UChar32 c;
        U8_PREV(s, start, previous, c);
        if (c < 0 || !isTrimmed(c)) break;
        stop = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(stop - start)));
}

ScriptOutcome runAppleScript(const std::filesystem::path& runner, const std::string& script,
                             std::chrono::milliseconds deadline) {
    auto run = platform::process::run(runner, {}, script, {}, deadline);
    if (!run.launched) {
        platform::log::write("Vesko AppleScript launch error: " + run.launchError);
        return {std::nullopt, std::move(run.launchError)};
    }
    if (run.timedOut) {
        std::string error = "The script runner did not finish in time and was stopped.";
        platform::log::write("Vesko AppleScript error: " + error);
        return {std::nullopt, std::move(error)};
    }
    if (run.exitStatus != 0) {
        std::string error = platform::text::isValidUTF8(run.standardError) ? std::move(run.standardError) : "unknown error";
        platform::log::write("Vesko AppleScript error: " + error);
        return {std::nullopt, std::move(error)};
    }
    if (!platform::text::isValidUTF8(run.standardOutput)) return {};
    return {trimWhitespace(run.standardOutput), std::nullopt};
}

ScriptOutcome runAppleScript(const std::string& script) {
    return runAppleScript(scriptRunnerPath(), script);
}

}  // namespace vesko::safari
